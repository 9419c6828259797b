#include "FixtureServer.h"
#include "MessageReader.h"

#include "convert/Mhtml.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

std::string workingDirectory() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}

std::string textOf(const StringBuffer& buffer) {
    return std::string(buffer.getString(), static_cast<size_t>(buffer.getSize()));
}

std::string expanded(const std::string& html, DiagnosticLog* log = nullptr) {
    Mhtml converter;
    converter.m_log = log;
    StringBuffer text(html.c_str());
    converter.expandIncludes(text);
    return textOf(text);
}

struct IncludeCase {
    const char* html;
    const char* expected;
};

TEST(ExpandIncludes, ReplacesDirectivesByTheNamedFiles) {
    TempDir dir;
    dir.write("head.inc", "H");
    dir.write("outer.inc", "[<!--#include file=\"inner.inc\" -->]");
    dir.write("inner.inc", "I");
    dir.write("sub/deep.inc", "D");
    const ScopedWorkingDirectory inside(dir.path());
    const IncludeCase cases[] = {
        {"a<!--#include file=\"head.inc\" -->b", "aHb"},
        {"<!--#INCLUDE FILE=\"head.inc\"-->", "H"},
        {"<!--#Include file='head.inc' -->", "H"},
        {"<!--#include file=head.inc -->", "H"},
        {"<!--#include file=\"outer.inc\" -->", "[I]"},
        {"<!--#include file=\"sub/deep.inc\" -->x", "Dx"},
        {"a<!--#include file=\"missing.inc\" -->b", "ab"},
        {"a<!--#include virtual=\"head.inc\" -->b", "ab"},
        {"a<!--#include file=\"head.inc\" >b", "a<!--#include file=\"head.inc\" >b"},
        {"a<!--#include file=\"head.inc\"", "a<!--#include file=\"head.inc\""},
        // The end is searched from the start of the directive, so an
        // unclosed one reaches the end of the next.
        {"<!--#include file=\"head.inc\" --> <!--#include file=\"head.inc\" >"
         " <!--#include file=\"head.inc\" -->",
         "H H"},
        {"no directive", "no directive"},
    };
    for (const IncludeCase& c : cases) {
        EXPECT_EQ(expanded(c.html), c.expected) << c.html;
    }
}

TEST(ExpandIncludes, ADirectiveWithoutEndIsNotSearchedAgain) {
    TempDir dir;
    dir.write("head.inc", "H");
    const ScopedWorkingDirectory inside(dir.path());
    std::string html = "<!--#include file=\"head.inc\" -->";
    for (int i = 0; i < 20000; ++i) {
        html += "<!--#include x";
    }
    const std::string result = expanded(html);
    EXPECT_EQ(result, "H" + html.substr(html.find("-->") + 3));
}

TEST(ExpandIncludes, LogsEachDirectiveAndItsFile) {
    TempDir dir;
    dir.write("head.inc", "H");
    const ScopedWorkingDirectory inside(dir.path());
    RecordingLog log;
    expanded("<!--#include file=\"head.inc\" -->", &log);
    const std::vector<std::string> expected{
        "data: ssinclude=<!--#include file=\"head.inc\" -->",
        "data: filename=head.inc",
    };
    EXPECT_EQ(log.lines(), expected);
}

TEST(ExpandIncludes, AFileIsNeverIncludedInsideItself) {
    TempDir dir;
    dir.write("self.inc", "x<!--#include file=\"self.inc\" -->y");
    dir.write("a.inc", "A1<!--#include file=\"b.inc\" -->A2");
    dir.write("b.inc", "B1<!--#include file=\"./a.inc\" -->B2");
    dir.write("page.htm", "P<!--#include file=\"page.htm\" -->Q");
    const ScopedWorkingDirectory inside(dir.path());
    EXPECT_EQ(expanded("<!--#include file=\"self.inc\" -->"), "xy");
    EXPECT_EQ(expanded("<!--#include file=\"a.inc\" -->"), "A1B1B2A2");
    // The page is not being included: it comes once more, without its
    // own directive inside.
    EXPECT_EQ(expanded("P<!--#include file=\"page.htm\" -->Q"), "PPQQ");
    // The same file twice side by side is fine.
    EXPECT_EQ(expanded("<!--#include file=\"b.inc\" --><!--#include file=\"b.inc\" -->"),
              "B1A1A2B2B1A1A2B2");
}

TEST(ExpandIncludes, NestAtMostSixteenLevels) {
    TempDir dir;
    std::string expected;
    for (int level = 1; level <= 20; ++level) {
        dir.write("d" + std::to_string(level) + ".inc",
                  std::to_string(level) + "<!--#include file=\"d" + std::to_string(level + 1) +
                      ".inc\" -->");
        if (level <= 16) {
            expected += std::to_string(level);
        }
    }
    const ScopedWorkingDirectory inside(dir.path());
    EXPECT_EQ(expanded("<!--#include file=\"d1.inc\" -->"), expected);
}

struct DialogRun {
    Mhtml converter;
    RecordingLog log;
    StringBuffer out;

    DialogRun() {
        converter.m_keepScripts = false;
        converter.m_scriptsOverNoscript = false;
        converter.m_markUnsent = true;
        converter.m_log = &log;
    }
};

TEST(ConvertFile, AMissingFileFailsAndLeavesTheOutput) {
    TempDir dir;
    DialogRun run;
    run.out.setString("kept");
    const std::string path = dir.file("missing.htm");
    const std::string before = workingDirectory();
    EXPECT_FALSE(run.converter.convertFile(path.c_str(), "localhost", run.out));
    EXPECT_STREQ(run.out.getString(), "kept");
    EXPECT_EQ(workingDirectory(), before);
    const std::vector<std::string> expected{
        "data: filename=" + path,
        "error: No such file or directory",
        "data: filename=" + path,
        "error: Failed to open file",
    };
    EXPECT_EQ(run.log.lines(), expected);
}

TEST(ConvertFile, BackslashesNameDirectoriesAndTheDirectoryComesBack) {
    TempDir dir;
    dir.write("pages/a.gif", "GIF89a-pixel");
    dir.write("pages/head.inc", "<title>Included title</title>");
    dir.write("pages/a.htm", "<!--#include file=\"head.inc\" --><img src=\"a.gif\">"
                             "<a href=\"other.htm\">o</a>");
    const ScopedWorkingDirectory inside(dir.path());
    DialogRun run;
    ASSERT_TRUE(run.converter.convertFile("  pages\\a.htm ", "localhost", run.out));
    EXPECT_EQ(workingDirectory(), std::filesystem::canonical(dir.path()).string());
    const ReadMessage message = readMessage(textOf(run.out));
    ASSERT_EQ(message.parts.size(), 2u);
    EXPECT_EQ(message.field("Subject"), "=?iso-8859-1?Q?Included_title?=");
    EXPECT_EQ(message.parts[1].decoded(), "GIF89a-pixel");
    // A local page has no address; its links resolve against the host text.
    EXPECT_EQ(message.parts[0].field("Content-Location"), "");
    EXPECT_NE(message.parts[0].decoded().find("href=\"localhost/other.htm\""), std::string::npos);
}

TEST(ConvertFile, FileUrlsAndBareNames) {
    TempDir dir;
    dir.write("a.gif", "GIF89a-pixel");
    dir.write("page.htm", "<img src=\"a.gif\">");
    dir.write("caf\xC3\xA9 1.htm", "<img src=\"a.gif\">");
    const std::string canonical = std::filesystem::canonical(dir.path()).string();
    for (const std::string& path :
         {"file://" + canonical + "/page.htm", "FILE://" + canonical + "/page.htm",
          "file://localhost" + canonical + "/page.htm",
          "file://" + canonical + "/caf%C3%A9%201.htm", std::string("page.htm"),
          std::string("./page.htm")}) {
        const ScopedWorkingDirectory inside(dir.path());
        DialogRun run;
        ASSERT_TRUE(run.converter.convertFile(path.c_str(), "localhost", run.out)) << path;
        EXPECT_EQ(readMessage(textOf(run.out)).parts.size(), 2u) << path;
        EXPECT_FALSE(run.log.has("error: Failed to set directory to base directory")) << path;
    }
}

TEST(ConvertFile, AnUnreachableBaseDirectoryIsReportedAndTheConversionGoesOn) {
    TempDir dir;
    // The loader reads "|" as ":" (an old drive-letter form); the base
    // directory keeps the "|" and names nothing.
    dir.write("dir:x/page.htm", "<title>x</title>");
    const ScopedWorkingDirectory inside(dir.path());
    DialogRun run;
    ASSERT_TRUE(run.converter.convertFile("dir|x/page.htm", "localhost", run.out));
    EXPECT_EQ(readMessage(textOf(run.out)).parts.size(), 1u);
    const std::vector<std::string> expected{"error: Failed to set directory to base directory",
                                            "data: base_dir=dir|x"};
    const std::vector<std::string>& lines = run.log.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 3), expected);
}

TEST(ConvertFile, ASecondConversionStartsAfresh) {
    TempDir dir;
    dir.write("utf.htm", "<meta charset=\"utf-8\"><title>U</title>");
    dir.write("plain.htm", "<title>P</title>");
    DialogRun run;
    ASSERT_TRUE(run.converter.convertFile(dir.file("utf.htm").c_str(), "localhost", run.out));
    run.out.clear();
    ASSERT_TRUE(run.converter.convertFile(dir.file("plain.htm").c_str(), "localhost", run.out));
    const ReadMessage message = readMessage(textOf(run.out));
    ASSERT_EQ(message.parts.size(), 1u);
    EXPECT_EQ(message.parts[0].field("content-type"), "text/html; charset=\"iso-8859-1\"");
}

// Lowers the largest size a text may reach, so that a conversion runs out of
// room without needing gigabytes.
class CapacityLimit {
public:
    explicit CapacityLimit(int limit) { StringBuffer::setCapacityLimit(limit); }
    ~CapacityLimit() { StringBuffer::setCapacityLimit(0); }
    CapacityLimit(const CapacityLimit&) = delete;
    CapacityLimit& operator=(const CapacityLimit&) = delete;
};

// Every byte above 127 triples in quoted-printable: the page fits, its
// message does not.
const std::string kBulkyPage = "<title>big</title>" + std::string(60000, '\xe9');
constexpr int kRoomForThePageOnly = 150000;

TEST(ConvertFile, AnExceptionFailsTheConversionAndRestoresEverything) {
    TempDir dir;
    dir.write("sub/page.htm", kBulkyPage);
    DialogRun run;
    run.out.setString("kept");
    const std::string before = workingDirectory();
    {
        const CapacityLimit limit(kRoomForThePageOnly);
        EXPECT_FALSE(
            run.converter.convertFile(dir.file("sub/page.htm").c_str(), "localhost", run.out));
    }
    EXPECT_STREQ(run.out.getString(), "kept");
    EXPECT_EQ(workingDirectory(), before);
    EXPECT_EQ(run.log.linesStartingWith("error: ").back(),
              "error: Unexpected exception in MHTML convert file");
}

// The environment's proxy settings, changed for one test.
class ProxyEnvironment {
public:
    explicit ProxyEnvironment(const std::string& proxy) {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "no_proxy", "NO_PROXY"}) {
            const char* value = std::getenv(name);
            m_saved.emplace_back(name, value != nullptr ? std::optional<std::string>(value)
                                                        : std::nullopt);
            unsetenv(name);
        }
        setenv("http_proxy", proxy.c_str(), 1);
    }
    ~ProxyEnvironment() {
        for (const auto& [name, value] : m_saved) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }
    ProxyEnvironment(const ProxyEnvironment&) = delete;
    ProxyEnvironment& operator=(const ProxyEnvironment&) = delete;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

class ConvertUrl : public ::testing::Test {
protected:
    void SetUp() override {
        m_site.write("a.gif", "GIF89a-pixel");
        m_site.write("b.png", std::string("\x89PNG\r\n\x1a\n-picture", 17));
        m_site.write("page.html", "<html><head><title>Web page</title></head><body>"
                                  "<img src=\"a.gif\"><img src=\"/b.png\">"
                                  "<img src=\"file:///etc/hostname\"></body></html>");
        m_site.write("utf.html", "<title>Caf\xc3\xa9</title>");
        m_site.write("routes.json", R"({
            "/utf.html": {"file": "/utf.html", "type": "text/html; Charset=\"UTF-8\""},
            "/nul.html": {"body": "\u0000\u0001junk<title>After</title>", "type": "text/html"},
            "/empty.html": {"body": "", "type": "text/html"}
        })");
        m_server.emplace(m_site.path(), m_site.file("routes.json"));
        ASSERT_TRUE(m_server->running());
        // Everything goes straight to 127.0.0.1, whatever the machine's
        // proxy settings say.
        m_run.converter.m_directAccess = true;
    }

    ReadMessage converted(const std::string& url) {
        m_run.out.clear();
        EXPECT_TRUE(m_run.converter.convertUrl(url.c_str(), m_run.out)) << url;
        return readMessage(textOf(m_run.out));
    }

    TempDir m_site;
    std::optional<FixtureServer> m_server;
    DialogRun m_run;
};

TEST_F(ConvertUrl, FetchesThePageAndItsResources) {
    const ReadMessage message = converted(m_server->url("/dir/../page.html#top"));
    ASSERT_TRUE(message.valid);
    ASSERT_EQ(message.parts.size(), 3u);
    EXPECT_EQ(message.parts[0].field("Content-Location"), m_server->url("/dir/../page.html"));
    EXPECT_EQ(message.field("Subject"), "=?iso-8859-1?Q?Web_page?=");
    EXPECT_EQ(message.parts[1].decoded(), "GIF89a-pixel");
    EXPECT_EQ(message.parts[2].field("content-type"), "image/png;\r\n\tname=\"vt1-b.png\"");
    EXPECT_EQ(message.parts[2].field("content-transfer-encoding"), "base64");
    // A page from the web never reads a local file.
    EXPECT_TRUE(m_run.log.has("error: Refused to read a local file for a page from the web"));
    EXPECT_TRUE(m_run.log.has("data: url=" + m_server->url("/dir/../page.html#top")));
}

TEST_F(ConvertUrl, TheResponseCharsetWins) {
    const ReadMessage message = converted(m_server->url("/utf.html"));
    ASSERT_EQ(message.parts.size(), 1u);
    EXPECT_EQ(message.parts[0].field("content-type"), "text/html; charset=\"UTF-8\"");
    EXPECT_EQ(message.field("Subject"), "=?UTF-8?Q?Caf=C3=A9?=");
    EXPECT_NE(message.parts[0].decoded().find("content=\"text/html;charset=UTF-8\">"),
              std::string::npos);
}

TEST_F(ConvertUrl, ABodyStartingWithNulStartsAtItsFirstTag) {
    const ReadMessage message = converted(m_server->url("/nul.html"));
    ASSERT_EQ(message.parts.size(), 1u);
    EXPECT_EQ(message.field("Subject"), "=?iso-8859-1?Q?After?=");
    EXPECT_EQ(message.parts[0].decoded().find("junk"), std::string::npos);
}

TEST_F(ConvertUrl, AnEmptyPageIsStillAPage) {
    const ReadMessage message = converted(m_server->url("/empty.html"));
    ASSERT_EQ(message.parts.size(), 1u);
    EXPECT_EQ(message.field("Subject"), "=?iso-8859-1?Q?" + m_server->url("") + "?=");
}

// The server has answered: the other access kind is not tried, and the
// reason is there for the front end.
TEST_F(ConvertUrl, AMissingPageFailsQuietlyAfterOneTry) {
    m_run.out.setString("kept");
    const bool directBefore = m_run.converter.m_directAccess;
    EXPECT_FALSE(m_run.converter.convertUrl(m_server->url("/missing.html").c_str(), m_run.out));
    EXPECT_STREQ(m_run.out.getString(), "kept");
    EXPECT_EQ(m_run.converter.m_directAccess, directBefore);
    EXPECT_TRUE(m_run.log.linesStartingWith("error: ").empty());
    EXPECT_EQ(m_run.converter.pageProblem(), "the server answered 404 Not Found");
}

TEST_F(ConvertUrl, ARefusedConnectionFailsWithTheSecondMessage) {
    const std::string url = "http://127.0.0.1:" + std::to_string(closedPort()) + "/page.html";
    EXPECT_FALSE(m_run.converter.convertUrl(url.c_str(), m_run.out));
    const std::vector<std::string> errors = m_run.log.linesStartingWith("error: ");
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back(), "error: Failed to load Web page (2)");
}

TEST_F(ConvertUrl, WithAProxyThereIsNoSecondTry) {
    m_run.converter.m_proxy.setString(("127.0.0.1:" + std::to_string(closedPort())).c_str());
    EXPECT_FALSE(m_run.converter.convertUrl(m_server->url("/page.html").c_str(), m_run.out));
    EXPECT_EQ(m_run.log.linesStartingWith("error: ").back(), "error: Failed to load Web page");
    EXPECT_TRUE(m_run.converter.m_directAccess);
}

// The page's own fetch takes the proxy text as it stands: blanks are a
// proxy, so there is no second try with the other access kind.
TEST_F(ConvertUrl, AProxyOfBlanksIsStillAProxy) {
    m_run.converter.m_proxy.setString("  ");
    m_run.out.setString("kept");
    EXPECT_FALSE(m_run.converter.convertUrl(m_server->url("/page.html").c_str(), m_run.out));
    EXPECT_STREQ(m_run.out.getString(), "kept");
    EXPECT_EQ(m_run.log.linesStartingWith("error: ").back(), "error: Failed to load Web page");
    EXPECT_TRUE(m_run.converter.m_directAccess);
}

TEST_F(ConvertUrl, WithAProxyAnotherStatusIsReported) {
    // The test server answers a proxied request for a file it lacks with 404.
    m_run.converter.m_proxy.setString(("127.0.0.1:" + std::to_string(m_server->port())).c_str());
    EXPECT_FALSE(m_run.converter.convertUrl("http://127.0.0.1:1/not-here.html", m_run.out));
    const std::vector<std::string>& lines = m_run.log.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "error: Failed to load Web page - status is not 200");
    EXPECT_EQ(lines.back(), "data: httpStatus=404");
}

TEST_F(ConvertUrl, AnExceptionFailsTheConversion) {
    m_site.write("bulky.html", kBulkyPage);
    m_run.out.setString("kept");
    {
        const CapacityLimit limit(kRoomForThePageOnly);
        EXPECT_FALSE(m_run.converter.convertUrl(m_server->url("/bulky.html").c_str(), m_run.out));
    }
    EXPECT_STREQ(m_run.out.getString(), "kept");
    EXPECT_EQ(m_run.log.linesStartingWith("error: ").back(),
              "error: Unexpected exception in MHTML convert URL");
    // The converter is usable again afterwards.
    converted(m_server->url("/page.html"));
}

TEST_F(ConvertUrl, TheSecondTryIsRememberedForTheNextConversion) {
    const ProxyEnvironment brokenProxy("http://127.0.0.1:" + std::to_string(closedPort()));
    m_run.converter.m_directAccess = false;
    converted(m_server->url("/page.html"));
    EXPECT_TRUE(m_run.converter.m_directAccess);
    m_run.log.clear();
    converted(m_server->url("/page.html"));
    EXPECT_TRUE(m_run.converter.m_directAccess);
    // Direct from the start: the page came at the first try.
    EXPECT_FALSE(m_run.log.has("error: Failed to load Web page (2)"));
}

} // namespace
