#include "app/VT_Registry.h"

#include "RegistryTestSupport.h"
#include "foundation/StringBuffer.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kCompany = "Vantrel Software, Inc.";
constexpr const char* kProduct = "Pagewing";

class RegistryTest : public ::testing::Test {
protected:
    std::string read(const char* name) {
        VT_Registry registry(nullptr);
        StringBuffer out;
        EXPECT_TRUE(registry.readString(kCompany, kProduct, name, out)) << name;
        return out.getString();
    }

    ScopedConfigHome m_home;
};

TEST_F(RegistryTest, SettingsLiveInTheConfigHome) {
    VT_Registry registry(nullptr);
    EXPECT_EQ(registry.settingsPath(), m_home.settingsFile());
    EXPECT_EQ(registry.m_access, KEY_ALL_ACCESS);
    EXPECT_EQ(registry.m_log, nullptr);
}

TEST_F(RegistryTest, WriteOnAnEmptyStoreCreatesCompanyAndProductKeys) {
    RecordingLog log;
    VT_Registry registry(&log);
    ASSERT_TRUE(registry.writeString(kCompany, kProduct, "Option", "SaveEML"));

    // openProductKey tries the company key, then createCompanyKey tries it once more.
    const std::vector<std::string> expected = {
        "error: Failed to open company key", "data: companyName=Vantrel Software, Inc.",
        "error: Failed to open company key", "data: companyName=Vantrel Software, Inc."};
    EXPECT_EQ(log.lines(), expected);
    EXPECT_EQ(readWholeFile(m_home.settingsFile()),
              "[HKEY_LOCAL_MACHINE\\Software\\Vantrel Software, Inc.]\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Vantrel Software, Inc.\\Pagewing]\n"
              "Option=SaveEML\n");
    EXPECT_EQ(read("Option"), "SaveEML");

    log.clear();
    ASSERT_TRUE(registry.writeString(kCompany, kProduct, "DataDir", "/srv/mail"));
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(read("DataDir"), "/srv/mail");
    EXPECT_EQ(read("Option"), "SaveEML");
}

TEST_F(RegistryTest, SavedFileIsPrivateToTheUser) {
    VT_Registry registry(nullptr);
    ASSERT_TRUE(registry.writeString(kCompany, kProduct, "Option", "SaveEML"));
    struct stat info {};
    ASSERT_EQ(stat(m_home.settingsFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(RegistryTest, ReadStringAppendsToWhatTheBufferHolds) {
    VT_Registry registry(nullptr);
    ASSERT_TRUE(registry.writeString(kCompany, kProduct, "DataDir", "/home/u/mail"));
    StringBuffer out("dir=");
    ASSERT_TRUE(registry.readString(kCompany, kProduct, "DataDir", out));
    EXPECT_STREQ(out.getString(), "dir=/home/u/mail");
}

TEST_F(RegistryTest, EmptyValueReadsAsEmptyText) {
    VT_Registry registry(nullptr);
    ASSERT_TRUE(registry.writeString(kCompany, kProduct, "DataDir", ""));
    StringBuffer out;
    EXPECT_TRUE(registry.readString(kCompany, kProduct, "DataDir", out));
    EXPECT_EQ(out.getSize(), 0);
}

TEST_F(RegistryTest, MissingValueFailsWithTheQueryMessages) {
    VT_Registry(nullptr).writeString(kCompany, kProduct, "Option", "SaveEML");
    RecordingLog log;
    VT_Registry registry(&log);
    StringBuffer out("kept");
    EXPECT_FALSE(registry.readString(kCompany, kProduct, "DataDir", out));
    EXPECT_STREQ(out.getString(), "kept");
    const std::vector<std::string> expected = {"data: RegistryQueryError=No such file or directory",
                                               "data: ValueName=DataDir"};
    EXPECT_EQ(log.lines(), expected);
}

TEST_F(RegistryTest, ValuesKeepTheirBytes) {
    const std::vector<std::string> values = {
        "  leading and trailing  ", "back\\slash", "line\nbreak\tand tab", "caf\xc3\xa9",
        "not utf-8 \xff\xfe",       "=;#[]",       "\\s literally"};
    VT_Registry registry(nullptr);
    for (const std::string& value : values) {
        ASSERT_TRUE(registry.writeString(kCompany, kProduct, "DataDir", value.c_str()));
        EXPECT_EQ(read("DataDir"), value);
    }
}

TEST_F(RegistryTest, NamesMatchWithoutRegardToCase) {
    VT_Registry registry(nullptr);
    ASSERT_TRUE(registry.writeString(kCompany, kProduct, "Option", "SaveEML"));
    ASSERT_TRUE(registry.writeString("VANTREL SOFTWARE, INC.", "pagewing", "OPTION", "Other"));
    EXPECT_EQ(read("option"), "Other");
    const std::string file = readWholeFile(m_home.settingsFile());
    EXPECT_EQ(file.find("OPTION"), std::string::npos) << file;
    EXPECT_EQ(file.find("VANTREL"), std::string::npos) << file;
}

TEST_F(RegistryTest, NamesTheFileCannotHoldAreRefused) {
    VT_Registry registry(nullptr);
    for (const char* name : {"", "a=b", "#comment", " padded", "x[y]", "new\nline"}) {
        EXPECT_FALSE(registry.writeString(kCompany, kProduct, name, "v")) << name;
    }
    EXPECT_FALSE(registry.writeString(kCompany, kProduct, nullptr, "v"));
    EXPECT_EQ(registry.openProductKey(kCompany, "bad]name"), nullptr);
    StringBuffer out;
    EXPECT_FALSE(registry.readString(kCompany, kProduct, nullptr, out));
}

TEST_F(RegistryTest, CompanyKeyOpensOnlyWhenItExists) {
    RecordingLog log;
    VT_Registry registry(&log);
    EXPECT_EQ(registry.openCompanyKey(kCompany), nullptr);
    RegistryKeyPtr created = registry.createCompanyKey(kCompany);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->path(), "HKEY_LOCAL_MACHINE\\Software\\Vantrel Software, Inc.");
    EXPECT_EQ(created->access(), KEY_CREATED_ACCESS);
    RegistryKeyPtr opened = registry.openCompanyKey(kCompany);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->access(), KEY_ALL_ACCESS);
    EXPECT_FALSE(opened->isPredefined());
}

TEST_F(RegistryTest, KeyPathSkipsEmptyComponents) {
    VT_Registry registry(nullptr);
    ASSERT_TRUE(registry.writeString(kCompany, kProduct, "Option", "SaveEML"));
    RegistryKeyPtr key = registry.openKeyPath(HKEY_LOCAL_MACHINE,
                                              "//Software//Vantrel Software, Inc./Pagewing/", true);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->path(), "HKEY_LOCAL_MACHINE\\Software\\Vantrel Software, Inc.\\Pagewing");
    EXPECT_EQ(key->access(), KEY_READ);
    std::unique_ptr<StringBuffer> value = registry.queryValue(*key, "Option");
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value->getString(), "SaveEML");
}

TEST_F(RegistryTest, KeyPathEdgeCases) {
    VT_Registry registry(nullptr);
    EXPECT_EQ(registry.openKeyPath(HKEY_LOCAL_MACHINE, "", false), nullptr);
    EXPECT_EQ(registry.openKeyPath(HKEY_LOCAL_MACHINE, nullptr, false), nullptr);
    EXPECT_EQ(registry.openKeyPath(HKEY_LOCAL_MACHINE, "Software/Nobody", false), nullptr);
    RegistryKeyPtr root = registry.openKeyPath(HKEY_LOCAL_MACHINE, "/", false);
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(root->isPredefined());
    EXPECT_EQ(root->path(), "HKEY_LOCAL_MACHINE");
    EXPECT_NE(registry.openKeyPath(HKEY_LOCAL_MACHINE, "Software", true), nullptr);
    EXPECT_EQ(registry.openKeyPath(HKEY_CURRENT_USER, "Software", true), nullptr);
}

TEST_F(RegistryTest, CreateKeyPathOnAnExistingPathOnlyOpensIt) {
    RecordingLog log;
    VT_Registry registry(&log);
    RegistryKeyPtr created = registry.createKeyPath(HKEY_LOCAL_MACHINE, "Software/A/B/C");
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->path(), "HKEY_LOCAL_MACHINE\\Software\\A\\B\\C");
    const std::string before = readWholeFile(m_home.settingsFile());
    RegistryKeyPtr again = registry.createKeyPath(HKEY_LOCAL_MACHINE, "Software/a/b/c");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->path(), "HKEY_LOCAL_MACHINE\\Software\\A\\B\\C");
    EXPECT_EQ(again->access(), KEY_ALL_ACCESS);
    EXPECT_EQ(readWholeFile(m_home.settingsFile()), before);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(RegistryTest, ReadOnlyKeyRefusesWrites) {
    VT_Registry registry(nullptr);
    ASSERT_NE(registry.createKeyPath(HKEY_LOCAL_MACHINE, "Software/A"), nullptr);
    RegistryKeyPtr readOnly = registry.openKeyPath(HKEY_LOCAL_MACHINE, "Software/A", true);
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(registry.createKeyPath(*readOnly, "B"), nullptr);
}

TEST_F(RegistryTest, SetStringByPathCreatesThePathAndRewritesTheSameValues) {
    VT_Registry registry(nullptr);
    const char* path = "Software/Microsoft/Internet Explorer/Extensions/{X}";
    ASSERT_TRUE(registry.setStringByPath(path, "Default Visible", "YES"));
    ASSERT_TRUE(registry.setStringByPath(path, "MenuText", "Pagewing!"));
    const std::string first = readWholeFile(m_home.settingsFile());
    ASSERT_TRUE(registry.setStringByPath(path, "Default Visible", "YES"));
    ASSERT_TRUE(registry.setStringByPath(path, "MenuText", "Pagewing!"));
    EXPECT_EQ(readWholeFile(m_home.settingsFile()), first);
    RegistryKeyPtr key = registry.openKeyPath(HKEY_LOCAL_MACHINE, path, true);
    ASSERT_NE(key, nullptr);
    EXPECT_STREQ(registry.queryValue(*key, "Default Visible")->getString(), "YES");
    EXPECT_FALSE(registry.setStringByPath(nullptr, "x", "y"));
    EXPECT_FALSE(registry.setStringByPath(path, nullptr, "y"));
}

TEST_F(RegistryTest, CorruptFileReadsAsAbsentAndIsKeptAside) {
    const std::string garbage = "[unterminated group\nOption=SaveEML\n";
    TempDir scratch;
    std::filesystem::create_directories(m_home.path() + "/pagewing");
    {
        std::FILE* file = std::fopen(m_home.settingsFile().c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(garbage.data(), 1, garbage.size(), file);
        std::fclose(file);
    }
    VT_Registry registry(nullptr);
    EXPECT_EQ(registry.openKeyPath(HKEY_LOCAL_MACHINE, "Software", true) != nullptr, true);
    EXPECT_EQ(registry.openCompanyKey(kCompany), nullptr);
    EXPECT_EQ(readWholeFile(m_home.settingsFile()), garbage) << "a read never replaces the file";

    ASSERT_TRUE(registry.writeString(kCompany, kProduct, "DataDir", "/tmp"));
    EXPECT_EQ(readWholeFile(m_home.settingsFile() + ".corrupt"), garbage);
    EXPECT_EQ(read("DataDir"), "/tmp");
}

TEST_F(RegistryTest, UnwritableLocationMakesWritesFail) {
    // A file where the directory should be stops every write, even for root.
    TempDir scratch;
    const std::string blocker = scratch.write("not-a-directory", "x");
    setenv("XDG_CONFIG_HOME", blocker.c_str(), 1);
    VT_Registry registry(nullptr);
    EXPECT_FALSE(registry.writeString(kCompany, kProduct, "Option", "SaveEML"));
    StringBuffer out;
    EXPECT_FALSE(registry.readString(kCompany, kProduct, "Option", out));
    EXPECT_FALSE(registry.setStringByPath("Software/A", "x", "y"));
}

TEST_F(RegistryTest, UnreadableFileMakesTheSoftwareKeyFail) {
    std::filesystem::create_directories(m_home.settingsFile()); // a directory cannot be read
    RecordingLog log;
    VT_Registry registry(&log);
    StringBuffer out;
    EXPECT_FALSE(registry.readString(kCompany, kProduct, "Option", out));
    const std::vector<std::string> expected = {
        "error: Failed to open HKEY_LOCAL_MACHINE/Software",
        "error: Failed to open HKEY_LOCAL_MACHINE/Software",
        "error: Failed to open or create Vantrel company registry key"};
    EXPECT_EQ(log.lines(), expected);
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceKeepBothChanges) {
    VT_Registry(nullptr).writeString(kCompany, kProduct, "Option", "SaveEML");
    constexpr int kRounds = 40;
    std::vector<pid_t> children;
    for (const char* name : {"First", "Second"}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            VT_Registry registry(nullptr);
            bool allWritten = true;
            for (int round = 1; round <= kRounds; ++round) {
                allWritten &=
                    registry.writeString(kCompany, kProduct, name, std::to_string(round).c_str());
            }
            _exit(allWritten ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(read("First"), std::to_string(kRounds));
    EXPECT_EQ(read("Second"), std::to_string(kRounds));
    EXPECT_EQ(read("Option"), "SaveEML");
}

} // namespace
