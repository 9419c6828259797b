// A signal during a conversion kills the browser, and the conversion then
// fails at once. The program must still end by the signal (a script tells an
// interrupt from a failure by it) and only after its folders are gone. The
// child here fails the moment its browser dies, as the conversion does, while
// a folder of many files keeps the cleanup busy.
#include "app/InterruptCleanup.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kFiles = 3000;

void fillFolder(const std::string& folder) {
    std::filesystem::create_directory(folder);
    for (int i = 0; i < kFiles; ++i) {
        std::ofstream(folder + "/" + std::to_string(i)) << "cookie";
    }
}

// Runs in the child: a stand-in browser in a group of its own, registered as
// the conversion registers it; when it dies, fail as a conversion would.
[[noreturn]] void convertUntilTheBrowserDies(const std::string& folder, int readyWrite) {
    installInterruptCleanup();
    fillFolder(folder);
    registerTempFolder(folder);
    const pid_t browser = fork();
    if (browser == 0) {
        ::setpgid(0, 0);
        ::pause();
        ::_exit(0);
    }
    ::setpgid(browser, browser);
    registerProcessGroup(browser);
    [[maybe_unused]] const ssize_t ignored = ::write(readyWrite, "r", 1);
    int status = 0;
    ::waitpid(browser, &status, 0);
    std::exit(1);
}

TEST(InterruptCleanupTest, ASignalEndsTheProgramAfterTheCleanupEvenWhenItFailsFirst) {
    TempDir scratch;
    const std::string folder = scratch.file("pagewing-profile");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        convertUntilTheBrowserDies(folder, ready[1]);
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the child did not start its browser";
    ::close(ready[0]);

    ASSERT_EQ(::kill(child, SIGINT), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT)
        << "ended with status " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    EXPECT_FALSE(std::filesystem::exists(folder));
}

} // namespace
