// A save that dies after the new contents are written but before they
// replace the settings file must leave the old file whole. The rename that
// would publish the new file is taken over here (this executable's symbol
// comes before the C library's) so that a child process can die exactly there.
#include "app/VT_Registry.h"

#include "RegistryTestSupport.h"
#include "foundation/StringBuffer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

volatile bool g_dieBeforeRename = false;
bool g_renameWasReached = false;

bool endsWith(const char* text, const char* suffix) {
    const size_t length = std::strlen(text);
    const size_t suffixLength = std::strlen(suffix);
    return length >= suffixLength && std::strcmp(text + length - suffixLength, suffix) == 0;
}

} // namespace

extern "C" int rename(const char* from, const char* to) {
    if (endsWith(to, "/registry.ini")) {
        g_renameWasReached = true;
        if (g_dieBeforeRename) {
            _exit(77);
        }
    }
    using RenameFunction = int (*)(const char*, const char*);
    static auto real = reinterpret_cast<RenameFunction>(dlsym(RTLD_NEXT, "rename"));
    return real(from, to);
}

namespace {

constexpr const char* kCompany = "Vantrel Software, Inc.";
constexpr const char* kProduct = "Pagewing";

TEST(RegistryCrashTest, DeathBetweenWriteAndRenameKeepsTheOldFile) {
    ScopedConfigHome home;
    ASSERT_TRUE(VT_Registry(nullptr).writeString(kCompany, kProduct, "DataDir", "/old"));
    ASSERT_TRUE(g_renameWasReached) << "the save no longer goes through rename";
    const std::string before = readWholeFile(home.settingsFile());

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        g_dieBeforeRename = true;
        VT_Registry(nullptr).writeString(kCompany, kProduct, "DataDir", "/new");
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 77) << "the child did not reach the rename";

    EXPECT_EQ(readWholeFile(home.settingsFile()), before);
    StringBuffer out;
    ASSERT_TRUE(VT_Registry(nullptr).readString(kCompany, kProduct, "DataDir", out));
    EXPECT_STREQ(out.getString(), "/old");

    // The lock died with the child, so the next save goes through.
    ASSERT_TRUE(VT_Registry(nullptr).writeString(kCompany, kProduct, "DataDir", "/next"));
    out.clear();
    ASSERT_TRUE(VT_Registry(nullptr).readString(kCompany, kProduct, "DataDir", out));
    EXPECT_STREQ(out.getString(), "/next");
}

} // namespace
