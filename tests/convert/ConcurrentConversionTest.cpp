// Conversions with many downloads at once must give the very message and
// log of one download at a time: every fixture site is converted both ways
// and compared, content-ids, the boundary, the Date and the Message-ID aside.

#include "LoopbackSocket.h"
#include "MessageReader.h"
#include "ScopedEnvironment.h"
#include "TestServer.h"

#include "convert/Mhtml.h"
#include "http/VantrelHttpImpl.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Copies a fixture tree, writing the server's host where "@HOST@" stands.
void copySite(const fs::path& source, const fs::path& target, const std::string& host) {
    for (const auto& entry : fs::recursive_directory_iterator(source)) {
        const fs::path relative = fs::relative(entry.path(), source);
        if (entry.is_directory()) {
            fs::create_directories(target / relative);
            continue;
        }
        std::string data = readWholeFile(entry.path().string());
        const std::string extension = entry.path().extension().string();
        if (extension == ".html" || extension == ".htm" || extension == ".css") {
            for (size_t at = data.find("@HOST@"); at != std::string::npos;
                 at = data.find("@HOST@", at + host.size())) {
                data.replace(at, 6, host);
            }
        }
        fs::create_directories((target / relative).parent_path());
        std::ofstream(target / relative, std::ios::binary) << data;
    }
}

// Gives each random text (content-ids, the boundary) a fixed stand-in of the
// same length, numbered by first appearance, so that two conversions of one
// page compare equal exactly when they differ in nothing else. A content-id
// in quoted-printable text may be broken by soft line breaks ("=" CR LF);
// it is matched across them and the breaks stay where they are.
class Normaliser {
public:
    void learnContentIds(const std::string& text) {
        static const std::regex contentId("VANTREL-CID-[0-9a-f-]{36}");
        for (auto it = std::sregex_iterator(text.begin(), text.end(), contentId);
             it != std::sregex_iterator(); ++it) {
            learn(it->str(), "VANTREL-CID-");
        }
    }
    void learnBoundary(const std::string& message) {
        static const std::regex boundary("boundary=\"([^\"]+)\"");
        std::smatch found;
        if (std::regex_search(message, found, boundary)) {
            learn(found[1].str(), "BOUNDARY-");
        }
    }
    std::string apply(std::string text) const {
        for (const auto& [from, to] : m_standIns) {
            replaceAcrossSoftBreaks(text, from, to);
        }
        return text;
    }

private:
    void learn(const std::string& text, const std::string& prefix) {
        if (m_standIns.count(text) > 0) {
            return;
        }
        std::string standIn = prefix + std::to_string(m_standIns.size());
        standIn.append(text.size() - std::min(text.size(), standIn.size()), '#');
        m_standIns.emplace(text, standIn);
    }

    static void replaceAcrossSoftBreaks(std::string& text, const std::string& from,
                                        const std::string& to) {
        for (size_t start = 0; start < text.size(); ++start) {
            if (text[start] != from[0]) {
                continue;
            }
            std::vector<size_t> places;
            size_t at = start;
            for (size_t i = 0; i < from.size() && at < text.size();) {
                if (i > 0 && text.compare(at, 3, "=\r\n") == 0) {
                    at += 3;
                    continue;
                }
                if (text[at] != from[i]) {
                    break;
                }
                places.push_back(at);
                ++at;
                ++i;
            }
            if (places.size() == from.size()) {
                for (size_t i = 0; i < places.size(); ++i) {
                    text[places[i]] = to[i];
                }
            }
        }
    }

    std::map<std::string, std::string> m_standIns;
};

struct Conversion {
    bool converted = false;
    std::string message;
    std::vector<std::string> log;
    bool directAccessAfter = false;
};

// Options set on the converter before a conversion.
using Preparation = std::function<void(Mhtml&)>;

Conversion convert(const std::string& input, int connections, const Preparation& setup) {
    Mhtml converter;
    RecordingLog log;
    // As the desktop program sets it; loopback only.
    converter.m_keepScripts = false;
    converter.m_scriptsOverNoscript = false;
    converter.m_markUnsent = true;
    converter.m_directAccess = true;
    converter.m_log = &log;
    if (setup) {
        setup(converter);
    }
    converter.m_maxConnections = connections;
    StringBuffer out;
    Conversion result;
    result.converted = input.rfind("http", 0) == 0
                           ? converter.convertUrl(input.c_str(), out)
                           : converter.convertFile(input.c_str(), "localhost", out);
    std::string message(out.getString(), static_cast<size_t>(out.getSize()));

    Normaliser normaliser;
    for (const std::string& line : log.lines()) {
        normaliser.learnContentIds(line);
    }
    normaliser.learnContentIds(message);
    for (const MessagePart& part : readMessage(message).parts) {
        normaliser.learnContentIds(part.field("Content-ID"));
    }
    normaliser.learnBoundary(message);
    static const std::regex date("\r\nDate: [^\r]*\r\nMessage-ID: [^\r]*\r\n");
    result.message = std::regex_replace(normaliser.apply(message), date,
                                        "\r\nDate: (now)\r\nMessage-ID: (new)\r\n");
    for (const std::string& line : log.lines()) {
        result.log.push_back(normaliser.apply(line));
    }
    result.directAccessAfter = converter.m_directAccess;
    return result;
}

void expectSame(const Conversion& one, const Conversion& many) {
    EXPECT_EQ(many.converted, one.converted);
    EXPECT_EQ(many.message, one.message);
    EXPECT_EQ(many.log, one.log);
    EXPECT_EQ(many.directAccessAfter, one.directAccessAfter);
}

std::string gif(int number) {
    return "GIF89a-" + std::to_string(number) + std::string(40 + number * 37, 'x');
}

// Every page the end-to-end and converter tests serve, on one server, plus
// pages for redirects, failures, shared resources and many images.
class BothWaysTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_savedLimits = VantrelHttpImpl::defaultLimits();
        HttpLimits limits;
        limits.connectTimeoutMs = 2000;
        limits.stallTimeoutMs = 500;
        limits.maxBodyBytes = 100000;
        VantrelHttpImpl::setDefaultLimits(limits);

        s_root = std::make_unique<TempDir>();
        s_files = std::make_unique<TempDir>();
        const fs::path site = fs::path(PAGEWING_TEST_DATA_DIR) / "e2e" / "site";
        std::string routes = readWholeFile((site / "routes.json").string());
        routes.erase(routes.rfind('}'));
        routes += R"(,
            "/utf.html": {"file": "/utf.html", "type": "text/html; Charset=\"UTF-8\""},
            "/nul.html": {"body": "\u0000\u0001junk<title>After</title>", "type": "text/html"},
            "/empty.html": {"body": "", "type": "text/html"},
            "/fail/moved.gif": {"status": "301", "redirect": "/img/left.gif"},
            "/fail/seeother.gif": {"status": "303", "redirect": "../img/right.gif"},
            "/fail/loop.gif": {"status": "302", "redirect": "/fail/loop.gif"},
            "/fail/ftp.gif": {"status": "302", "redirect": "ftp://127.0.0.1/x.gif"},
            "/fail/big.gif": {"body_size": "200000"},
            "/fail/stall.gif": {"body_size": "5000", "stall_after": "10", "stall_ms": "3000"},
            "/fail/cut.gif": {"body": "GIF89a-cut-short", "close_after": "5"},
            "/fail/empty.gif": {"body": ""},
            "/fail/redirected-empty.gif": {"status": "302", "body": "redirect body",
                                           "redirect": "/fail/empty.gif"},
            "/fail/chunked.gif": {"body": "GIF89a-chunked", "length": "chunked"},
            "/fail/error.gif": {"status": "500", "body": "GIF89a-but-an-error"},
            "/private/img/a.gif": {"body": "GIF89a-private", "auth": "reader:s3cret"}
        })";
        const std::string routesFile = s_files->write("routes.json", routes);
        TestServerOptions options;
        options.root = s_root->path();
        options.routesFile = routesFile;
        s_server = std::make_unique<TestServer>(options);
        std::string error;
        if (!s_server->start(&error)) {
            s_error = error;
            s_server.reset();
            return;
        }
        const std::string host = "127.0.0.1:" + std::to_string(s_server->port());
        // Files are read when asked for, so they can follow now that the
        // port, which some pages name, is known.
        copySite(site, s_root->path(), host);
        writeExtraPages(host);
        s_local = std::make_unique<TempDir>();
        copySite(fs::path(PAGEWING_TEST_DATA_DIR) / "e2e" / "local", s_local->path(), "");
        s_local->write("web.htm", "<html><head><title>Web images</title></head><body>"
                                  "<img src=\"http://" +
                                      host + "/img/left.gif\"><img src=\"http://" + host +
                                      "/img/right.gif\"><img src=\"dot.gif\"><img src=\"http://" +
                                      host + "/many/g1.gif\"></body></html>");
    }

    static void writeExtraPages(const std::string& host) {
        const TempDir& root = *s_root;
        // The converter entry tests' site.
        root.write("a.gif", "GIF89a-pixel");
        root.write("b.png", std::string("\x89PNG\r\n\x1a\n-picture", 17));
        root.write("page.html", "<html><head><title>Web page</title></head><body>"
                                "<img src=\"a.gif\"><img src=\"/b.png\">"
                                "<img src=\"file:///etc/hostname\"></body></html>");
        root.write("utf.html", "<title>Caf\xc3\xa9</title>");
        // The web pass tests' style sheets, linked in every way the pass
        // tells apart.
        root.write("web/css/site.css", "a{background-image:url(../img/bg.png)}\n"
                                       "b{background-image:url(/top.gif)}\n"
                                       "i{background-image:url(/many/g2.gif)}");
        root.write("web/img/bg.png", "PNG");
        root.write("web/empty.css", "");
        root.write("web/sheets.html",
                   "<html><head><title>Sheets</title>"
                   "<link rel=stylesheet href=\"css/site.css\">"
                   "<link rel=\"stylesheet\" href=\"empty.css\">"
                   "<link type=\"text/css\" href=\"missing.css\" media=\"print\">"
                   "<link rel=\"alternate stylesheet\" href=\"css/site.css\">"
                   "<LINK REL=STYLESHEET HREF=\"/web/css/site.css\">"
                   "<link rel=stylesheet>"
                   "<link rel=icon href=\"favicon.ico\">"
                   "<link rel=stylesheet href=\"http://127.0.0.1:1/refused.css\">"
                   "<link rel=stylesheet href=\"/fail/moved.gif\">"
                   "</head><body><i>x</i><img src=\"/web/img/bg.png\"></body></html>");
        // Redirects and failures of every kind.
        root.write("fail/page.html",
                   "<html><head><title>Failures</title></head><body>"
                   "<img src=\"moved.gif\"><img src=\"seeother.gif\"><img src=\"loop.gif\">"
                   "<img src=\"ftp.gif\"><img src=\"big.gif\"><img src=\"stall.gif\">"
                   "<img src=\"cut.gif\"><img src=\"empty.gif\"><img src=\"chunked.gif\">"
                   "<img src=\"redirected-empty.gif\"><img src=\"error.gif\">"
                   "<img src=\"missing.gif\"><img src=\"http://127.0.0.1:1/refused.gif\">"
                   "<img src=\"/IMG/LEFT.GIF\"><img src=\"/img/left.gif\">"
                   "<img src=\"MOVED.gif\"><input type=image src=\"/img/right.gif\">"
                   "<script src=\"/site/js/app.js\"></script><script src=\"/js/app.js\"></script>"
                   "<table background=\"/img/banner.gif\"><tr><td background=\"/x.html\">"
                   "</td></tr></table><a href=\"/x.gif\" onmouseover=\"s('/img/logo.png')\">a</a>"
                   "</body></html>");
        root.write("fail/quick.html",
                   "<html><head><title>Quick failures</title></head><body>"
                   "<img src=\"moved.gif\"><img src=\"loop.gif\"><img src=\"missing.gif\">"
                   "<img src=\"/img/banner.gif\"><img src=\"http://127.0.0.1:1/refused.gif\">"
                   "<img src=\"/img/left.gif\"></body></html>");
        root.write("private/page.html", "<html><head><title>Private</title></head><body>"
                                        "<img src=\"img/a.gif\"><img src=\"/img/left.gif\">"
                                        "</body></html>");
        // A page and its frames share resources; frames nest.
        root.write("shared.html", "<html><head><title>Shared</title></head><body>"
                                  "<iframe src=\"left.html\"></iframe>"
                                  "<img src=\"img/left.gif\"><img src=\"img/banner.gif\">"
                                  "<iframe src=\"nested.html\"></iframe>"
                                  "<img src=\"img/right.gif\"></body></html>");
        root.write("nested.html", "<html><head><title>Nested</title>"
                                  "<link rel=stylesheet href=\"web/css/site.css\"></head>"
                                  "<frameset><frame src=\"http://" +
                                      host +
                                      "/right.html\"><frame src=\"left.html\">"
                                      "<frame src=\"fail/quick.html\"></frameset></html>");
        // Many images, more than the per-host limit many times over.
        std::string many = "<html><head><title>Many</title></head><body>";
        for (int i = 0; i < 40; ++i) {
            root.write("many/g" + std::to_string(i) + ".gif", gif(i));
            many += "<img src=\"g" + std::to_string(i) + ".gif\">";
        }
        root.write("many/page.html", many + "</body></html>");
    }

    static void TearDownTestSuite() {
        s_server.reset();
        s_root.reset();
        s_files.reset();
        s_local.reset();
        VantrelHttpImpl::setDefaultLimits(s_savedLimits);
    }

    void SetUp() override {
        ASSERT_TRUE(s_server) << s_error;
        m_environment.clearProxies();
        s_server->clearRequests();
    }

    static std::string url(const std::string& path) { return s_server->url(path); }

    // Converts with one connection, two, and the default, and compares.
    static void checkBothWays(const std::string& input, const Preparation& setup = {}) {
        const Conversion one = convert(input, 1, setup);
        if (one.converted) {
            EXPECT_EQ(one.message.rfind("content-type: multipart/related;", 0), 0u) << input;
        }
        for (int connections : {2, 16}) {
            SCOPED_TRACE(input + " with " + std::to_string(connections) + " connections");
            expectSame(one, convert(input, connections, setup));
        }
    }

    static inline std::unique_ptr<TempDir> s_root;
    static inline std::unique_ptr<TempDir> s_files;
    static inline std::unique_ptr<TempDir> s_local;
    static inline std::unique_ptr<TestServer> s_server;
    static inline std::string s_error;
    static inline HttpLimits s_savedLimits;
    ScopedEnvironment m_environment;
};

void keepScripts(Mhtml& converter) {
    converter.m_keepScripts = true;
    converter.m_scriptsOverNoscript = true;
}

TEST_F(BothWaysTest, TheEndToEndSite) {
    for (const char* page :
         {"/index.html#part", "/frames.html", "/base.html", "/utf8-header.html", "/utf8-meta.html",
          "/utf8-ascii.html", "/latin1.html", "/ascii.html", "/left.html", "/right.html",
          "/private.html", "/css/site.css", "/img/banner.gif"}) {
        checkBothWays(url(page));
        checkBothWays(url(page), keepScripts);
    }
}

TEST_F(BothWaysTest, TheEndToEndSiteWithTheCommandLinesOptions) {
    checkBothWays(url("/private.html"), [](Mhtml& converter) {
        converter.m_httpLogin.setString(" reader ");
        converter.m_httpPassword.setString("s3cret");
    });
    checkBothWays(url("/index.html"), [](Mhtml& converter) { converter.addExclude("banner"); });
    checkBothWays(url("/index.html"), [](Mhtml& converter) { converter.addExclude(""); });
    checkBothWays(url("/frames.html"), [](Mhtml& converter) { converter.addExclude("left"); });
    checkBothWays(url("/utf8-ascii.html"), [](Mhtml& converter) {
        converter.addStyleSheet(url("/css/site.css").c_str());
        converter.addStyleSheet(url("/missing.css").c_str());
        converter.addStyleSheet(url("/web/css/site.css").c_str());
    });
    checkBothWays(url("/index.html"), [](Mhtml& converter) {
        converter.m_subject.setString("Chosen");
        converter.m_markUnsent = false;
    });
}

TEST_F(BothWaysTest, TheConverterTestsSites) {
    for (const char* page : {"/dir/../page.html#top", "/utf.html", "/nul.html", "/empty.html",
                             "/missing.html", "/web/sheets.html"}) {
        checkBothWays(url(page));
        checkBothWays(url(page), keepScripts);
    }
}

TEST_F(BothWaysTest, RedirectsAndFailures) {
    checkBothWays(url("/fail/page.html"));
    checkBothWays(url("/fail/page.html"), keepScripts);
}

TEST_F(BothWaysTest, CredentialsGoWithEveryResource) {
    const Preparation login = [](Mhtml& converter) {
        converter.m_httpLogin.setString("reader");
        converter.m_httpPassword.setString(" s3cret\t");
    };
    checkBothWays(url("/private/page.html"), login);
    checkBothWays(url("/private/page.html"));
    const Conversion many = convert(url("/private/page.html"), 16, login);
    EXPECT_THAT(many.message, HasSubstr("vt0-a.gif"));
}

TEST_F(BothWaysTest, FramesThatShareAndNest) {
    checkBothWays(url("/shared.html"), keepScripts);
    checkBothWays(url("/nested.html"));
    checkBothWays(url("/nested.html"), keepScripts);
}

TEST_F(BothWaysTest, ManyImages) {
    checkBothWays(url("/many/page.html"));
}

TEST_F(BothWaysTest, LocalPages) {
    checkBothWays(s_local->file("page.htm"));
    checkBothWays("file://" + s_local->file("page.htm"), keepScripts);
    checkBothWays(s_local->file("web.htm"));
}

TEST_F(BothWaysTest, AccessKindThatChangesDuringTheConversion) {
    // The environment's proxy is broken: each download's first try fails
    // until one succeeds without it, and later ones start without it.
    m_environment.set("http_proxy", "http://127.0.0.1:" + std::to_string(findFreeLoopbackPort()));
    const Preparation preconfigured = [](Mhtml& converter) { converter.m_directAccess = false; };
    checkBothWays(s_local->file("web.htm"), preconfigured);
    const Conversion one = convert(s_local->file("web.htm"), 1, preconfigured);
    EXPECT_TRUE(one.directAccessAfter);
    checkBothWays(url("/many/page.html"), preconfigured);
    checkBothWays(url("/index.html"), preconfigured);
}

TEST_F(BothWaysTest, AResourceTakenAfterTheAccessKindChangedComesTheNewWay) {
    // The environment's proxy has a site of its own: what a resource holds
    // tells which way it came.
    TempDir proxyRoot;
    proxyRoot.write("img/right.gif", "GIF89a-right-through-the-proxy");
    proxyRoot.write("img/left.gif", "GIF89a-left-through-the-proxy");
    TestServerOptions options;
    options.root = proxyRoot.path();
    TestServer proxy(options);
    std::string error;
    ASSERT_TRUE(proxy.start(&error)) << error;
    m_environment.set("http_proxy", proxy.origin());
    s_root->write("flip.html", "<html><head><title>Flip</title></head><body>"
                               "<img src=\"http://127.0.0.1:1/img/right.gif\">"
                               "<img src=\"/img/left.gif\"><img src=\"/img/banner.gif\">"
                               "</body></html>");
    // Direct at first: the unreachable host fails, the proxy gets it, and
    // later downloads start through the proxy. One the proxy answers with
    // 404 has failed: direct access would not be tried for it.
    checkBothWays(url("/flip.html"));
    const Conversion many = convert(url("/flip.html"), 16, {});
    EXPECT_FALSE(many.directAccessAfter);
    const ReadMessage message = readMessage(many.message);
    ASSERT_EQ(message.parts.size(), 3u);
    EXPECT_EQ(message.parts[1].decoded(), "GIF89a-right-through-the-proxy");
    EXPECT_EQ(message.parts[2].decoded(), "GIF89a-left-through-the-proxy");
}

TEST_F(BothWaysTest, ANamedProxy) {
    TestServerOptions options;
    options.root = s_root->path();
    TestServer proxy(options);
    std::string error;
    ASSERT_TRUE(proxy.start(&error)) << error;
    const std::string address = "127.0.0.1:" + std::to_string(proxy.port());
    const Preparation viaProxy = [address](Mhtml& converter) {
        converter.m_proxy.setString((" " + address + " ").c_str());
    };
    // The proxy serves the site for any host, the unreachable one too.
    checkBothWays("http://127.0.0.1:1/index.html", viaProxy);
    checkBothWays("http://127.0.0.1:1/many/page.html", viaProxy);
    checkBothWays(url("/index.html"), [](Mhtml& converter) {
        converter.m_proxy.setString(
            ("127.0.0.1:" + std::to_string(findFreeLoopbackPort())).c_str());
    });
}

// --- what happens on the wire --------------------------------------------

int peakActive(const std::vector<RecordedRequest>& requests) {
    int peak = 0;
    for (const RecordedRequest& request : requests) {
        peak = std::max(peak, request.active);
    }
    return peak;
}

std::multiset<std::string> targets(const std::vector<RecordedRequest>& requests) {
    std::multiset<std::string> found;
    for (const RecordedRequest& request : requests) {
        found.insert(request.target);
    }
    return found;
}

class OnTheWireTest : public BothWaysTest {
protected:
    static void SetUpTestSuite() {
        BothWaysTest::SetUpTestSuite();
        if (!s_server) {
            return;
        }
        // The same site, slow to answer, so that requests overlap.
        TestServerOptions options;
        options.root = s_root->path();
        options.delayMs = 100;
        s_slow = std::make_unique<TestServer>(options);
        if (!s_slow->start(&s_error)) {
            s_slow.reset();
        }
    }
    static void TearDownTestSuite() {
        s_slow.reset();
        BothWaysTest::TearDownTestSuite();
    }
    void SetUp() override {
        BothWaysTest::SetUp();
        ASSERT_TRUE(s_slow) << s_error;
        s_slow->clearRequests();
    }

    static inline std::unique_ptr<TestServer> s_slow;
};

TEST_F(OnTheWireTest, SixDownloadsRunAtOnceAndEachResourceIsFetchedOnce) {
    const std::string page = s_slow->url("/many/page.html");
    const Conversion many = convert(page, 16, {});
    ASSERT_TRUE(many.converted);
    const std::vector<RecordedRequest> concurrent = s_slow->requests();
    EXPECT_EQ(peakActive(concurrent), 6);
    ASSERT_EQ(concurrent.size(), 41u);
    s_slow->clearRequests();

    const Conversion one = convert(page, 1, {});
    const std::vector<RecordedRequest> sequential = s_slow->requests();
    EXPECT_EQ(peakActive(sequential), 1);
    EXPECT_EQ(targets(concurrent), targets(sequential));
    expectSame(one, many);
}

TEST_F(OnTheWireTest, OneConnectionFetchesOneResourceAtATimeOnItsOwnConnection) {
    convert(s_slow->url("/many/page.html"), 1, {});
    const std::vector<RecordedRequest> requests = s_slow->requests();
    ASSERT_EQ(requests.size(), 41u);
    std::set<int> ports;
    for (const RecordedRequest& request : requests) {
        EXPECT_EQ(request.active, 1);
        ports.insert(request.clientPort);
    }
    EXPECT_EQ(ports.size(), requests.size());
}

TEST_F(OnTheWireTest, ConnectionsAreUsedAgain) {
    convert(s_slow->url("/many/page.html"), 16, {});
    std::set<int> ports;
    for (const RecordedRequest& request : s_slow->requests()) {
        ports.insert(request.clientPort);
    }
    // The page's own connection, and at most six for its resources.
    EXPECT_LE(ports.size(), 7u);
}

TEST_F(OnTheWireTest, StyleSheetsOfLinkTagsComeAtOnce) {
    const Conversion many = convert(s_slow->url("/web/sheets.html"), 16, {});
    ASSERT_TRUE(many.converted);
    int sheetsAtOnce = 0;
    for (const RecordedRequest& request : s_slow->requests()) {
        if (request.target.find(".css") != std::string::npos) {
            sheetsAtOnce = std::max(sheetsAtOnce, request.active);
        }
    }
    EXPECT_GE(sheetsAtOnce, 3);
}

TEST_F(OnTheWireTest, AMissingPictureIsAskedForOnceWithItsMessages) {
    const std::string refused = "http://127.0.0.1:1/refused.gif";
    const std::string missing = s_slow->url("/fail/missing.gif");
    for (int connections : {1, 16}) {
        s_slow->clearRequests();
        const Conversion conversion = convert(s_slow->url("/fail/page.html"), connections, {});
        const std::vector<std::string>& log = conversion.log;
        auto at = std::find(log.begin(), log.end(), "data: contentLocation=" + missing);
        ASSERT_NE(at, log.end());
        ASSERT_GE(log.end() - at, 6);
        EXPECT_THAT(std::vector<std::string>(at + 1, at + 6),
                    ElementsAre(HasSubstr("data: contentCID="), "error: Failed to download URL.",
                                "data: url=" + missing, "data: username=",
                                "error: Failed to download or include external content."));
        // The server answered 404: neither the loop nor the other access
        // kind asks again, whether the prefetch made the one request or not.
        const auto asked = targets(s_slow->requests());
        EXPECT_EQ(asked.count("/fail/missing.gif"), 1u);
    }
}

} // namespace
