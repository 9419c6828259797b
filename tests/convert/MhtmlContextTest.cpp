#include "convert/Mhtml.h"

#include "support/RecordingLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

std::string workingDirectory() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}

TEST(MhtmlOptions, InitialValues) {
    Mhtml converter;
    EXPECT_EQ(converter.m_log, nullptr);
    EXPECT_FALSE(converter.m_directAccess);
    EXPECT_TRUE(converter.m_scriptsOverNoscript);
    EXPECT_TRUE(converter.m_keepScripts);
    EXPECT_FALSE(converter.m_noScripts);
    EXPECT_FALSE(converter.m_forceNoScripts);
    EXPECT_FALSE(converter.m_markUnsent);
    EXPECT_FALSE(converter.m_local);
    EXPECT_FALSE(converter.m_ignoreCertErrors);
    EXPECT_EQ(converter.m_mailProgram, MailProgram::Other);
    EXPECT_EQ(converter.m_frameCount, 0);
    EXPECT_EQ(converter.m_contexts.getSize(), 0);
}

struct BaseRootCase {
    const char* url;
    const char* root;
    const char* base;
};

TEST(SetBaseAndRoot, DerivesRootAndBase) {
    const BaseRootCase cases[] = {
        {"http://host/dir/page.html?x=1", "http://host", "http://host/dir"},
        {"http://host/dir/page.html?x=1#top", "http://host", "http://host/dir"},
        {"http://host/dir", "http://host", "http://host/dir"},
        {"http://host", "http://host", "http://host"},
        {"http://host/", "http://host", "http://host"},
        {"HTTPS://Host:8443/a/b/c.htm", "HTTPS://Host:8443", "HTTPS://Host:8443/a/b"},
        {"http://host/a.b/page", "http://host", "http://host/a.b/page"},
        {"http://host/page.html#frag?q", "http://host", "http://host"},
        {"localhost", "localhost", "localhost"},
        {"", "", ""},
        {"dir/page.htm", "dir", "dir"},
        {"/abs/page.htm", "/abs/page.htm", "/abs"},
        {"file:///C:/pages/a.htm", "file://", "file:///C:/pages"},
    };
    for (const BaseRootCase& c : cases) {
        Mhtml converter;
        RecordingLog log;
        converter.m_log = &log;
        converter.resetContexts();
        converter.setBaseAndRoot(c.url);
        EXPECT_STREQ(converter.currentRootUrl().getString(), c.root) << c.url;
        EXPECT_STREQ(converter.currentBaseUrl().getString(), c.base) << c.url;
        const std::vector<std::string> expectedLog{std::string("data: root_url=") + c.root,
                                                   std::string("data: base_url=") + c.base};
        EXPECT_EQ(log.lines(), expectedLog) << c.url;
    }
}

TEST(SetBaseAndRoot, CopiesAtMost999Characters) {
    Mhtml converter;
    const std::string longUrl = "http://host/" + std::string(2000, 'a') + ".htm";
    converter.setBaseAndRoot(longUrl.c_str());
    // The 999 bytes end inside the last segment, which has no dot left and
    // is taken for a directory.
    EXPECT_EQ(converter.currentBaseUrl().getSize(), 999);
    EXPECT_EQ(converter.currentRootUrl().getSize(), 11);
}

TEST(ContextStack, RootIsMadeWhenEmptyAndPopRestores) {
    TempDir frameDir;
    const std::string before = workingDirectory();
    Mhtml converter;
    EXPECT_EQ(converter.currentBaseUrl().getSize(), 0);
    EXPECT_EQ(converter.m_contexts.getSize(), 1);
    converter.currentBaseUrl().setString("outer");
    converter.m_local = true;
    converter.pushContext();
    EXPECT_EQ(converter.m_contexts.getSize(), 2);
    EXPECT_EQ(converter.currentBaseUrl().getSize(), 0);
    converter.enterDocumentDirectory((frameDir.path() + "/frame.htm").c_str());
    EXPECT_EQ(std::filesystem::canonical(workingDirectory()),
              std::filesystem::canonical(frameDir.path()));
    converter.m_local = false;
    converter.popContext();
    EXPECT_EQ(workingDirectory(), before);
    EXPECT_TRUE(converter.m_local);
    EXPECT_STREQ(converter.currentBaseUrl().getString(), "outer");
    converter.resetContexts();
    EXPECT_EQ(converter.m_contexts.getSize(), 1);
    EXPECT_EQ(converter.currentBaseUrl().getSize(), 0);
}

TEST(EnterDocumentDirectory, FileUrlFormsAndFailures) {
    TempDir root;
    root.write("sub/page.htm", "x");
    const std::string before = workingDirectory();
    const std::string sub = std::filesystem::canonical(root.path() + "/sub").string();
    const std::string forms[] = {
        "file://" + root.path() + "/sub/page.htm",
        "FILE:" + root.path() + "/sub/page.htm",
        "file:/" + root.path().substr(1) + "/sub/page.htm",
        root.path() + "\\sub\\page.htm",
    };
    for (const std::string& location : forms) {
        Mhtml converter;
        RecordingLog log;
        converter.m_log = &log;
        converter.resetContexts();
        converter.pushContext();
        converter.enterDocumentDirectory(location.c_str());
        EXPECT_EQ(workingDirectory(), sub) << location;
        EXPECT_TRUE(log.lines().empty()) << location;
        converter.popContext();
        EXPECT_EQ(workingDirectory(), before);
    }

    Mhtml converter;
    RecordingLog log;
    converter.m_log = &log;
    converter.enterDocumentDirectory("http://host/dir/page.htm");
    converter.enterDocumentDirectory("page.htm");
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(workingDirectory(), before);
    const std::string missing = root.path() + "/nothere/page.htm";
    converter.enterDocumentDirectory(missing.c_str());
    const std::vector<std::string> expected{"error: Failed to change directory",
                                            "data: directory=" + root.path() + "/nothere"};
    EXPECT_EQ(log.lines(), expected);
    EXPECT_EQ(workingDirectory(), before);
}

} // namespace
