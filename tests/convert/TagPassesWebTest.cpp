#include "FixtureServer.h"
#include "PassTestSupport.h"

#include "convert/Mhtml.h"
#include "foundation/DataBuffer.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

const std::string kStyleOpen = "\n<STYLE TYPE=\"text/css\">\n<!--\n";
const std::string kStyleClose = "\n-->\n</STYLE>\n";

// Style sheets and resources served from a temporary site on 127.0.0.1.
class WebPassTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_site.write("css/site.css", "a{background-image:url(../img/bg.png)}\n"
                                     "b{background-image:url(/top.gif)}");
        m_site.write("img/bg.png", "PNG");
        m_site.write("empty.css", "");
        m_server = std::make_unique<FixtureServer>(m_site.path(), "");
        ASSERT_TRUE(m_server->running());
        configure(m_converter, Mode::MailSafe, "http://page.example/dir", "http://page.example");
        m_converter.currentContext().m_fromWeb = true;
        m_converter.m_log = &m_log;
    }

    std::string url(const std::string& path) const { return m_server->url(path); }

    TempDir m_site;
    std::unique_ptr<FixtureServer> m_server;
    Mhtml m_converter;
    RecordingLog m_log;
};

TEST_F(WebPassTest, FetchResourceOverHttp) {
    DataBuffer data;
    const std::string image = url("/img/bg.png");
    ASSERT_TRUE(m_converter.fetchResource(image.c_str(), data));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.getData()), data.getSize()), "PNG");
    EXPECT_EQ(m_log.lines().back(), "data: http_get=" + image);

    // An empty body is no resource.
    DataBuffer empty;
    EXPECT_FALSE(m_converter.fetchResource(url("/empty.css").c_str(), empty));
    DataBuffer missing;
    EXPECT_FALSE(m_converter.fetchResource(url("/nothing.gif").c_str(), missing));
}

TEST_F(WebPassTest, SheetReferencesResolveAgainstTheSheetUrl) {
    StringBuffer html(("<link rel=stylesheet href=\"" + url("/css/site.css") + "\">").c_str());
    m_converter.rewriteLinkTags(html);
    EXPECT_EQ(numberContentIds(m_converter, html.getString()),
              kStyleOpen + "a{background-image:url(cid:CID0)}\nb{background-image:url(cid:CID1)}" +
                  kStyleClose);
    EXPECT_EQ(resourceUrls(m_converter),
              (std::vector<std::string>{url("/css/../img/bg.png"), url("/top.gif")}));
    EXPECT_STREQ(m_converter.currentBaseUrl().getString(), "http://page.example/dir");
    EXPECT_STREQ(m_converter.currentRootUrl().getString(), "http://page.example");
    EXPECT_FALSE(m_converter.m_local);
    // The sheet's own base and root are not reported as the document's.
    for (const std::string& line : m_log.lines()) {
        EXPECT_EQ(line.find("data: base_url="), std::string::npos) << line;
        EXPECT_EQ(line.find("data: root_url="), std::string::npos) << line;
    }
}

TEST_F(WebPassTest, ASheetBehindARedirectResolvesAgainstWhereItCameFrom) {
    for (const int connections : {1, 16}) {
        m_converter.m_maxConnections = connections;
        configure(m_converter, Mode::MailSafe, "http://page.example/dir", "http://page.example");
        StringBuffer html(
            ("<link rel=stylesheet href=\"" + url("/_/r?redirect=/css/site.css") + "\">").c_str());
        m_converter.rewriteLinkTags(html);
        EXPECT_EQ(resourceUrls(m_converter),
                  (std::vector<std::string>{url("/css/../img/bg.png"), url("/top.gif")}))
            << connections << " connections";
    }
}

TEST_F(WebPassTest, LocalDocumentWithAWebSheet) {
    m_converter.currentContext().m_fromWeb = false;
    m_converter.m_local = true;
    StringBuffer out;
    ASSERT_TRUE(m_converter.fetchStyleSheet(url("/css/site.css").c_str(), out));
    EXPECT_EQ(resourceUrls(m_converter),
              (std::vector<std::string>{url("/css/../img/bg.png"), url("/top.gif")}));
    EXPECT_TRUE(m_converter.m_local);
}

TEST_F(WebPassTest, FailedSheetLeavesTheLinkTag) {
    const std::string sheet = url("/gone.css");
    const std::string tag = "<link type=text/css href=\"" + sheet + "\">";
    StringBuffer html(tag.c_str());
    m_converter.rewriteLinkTags(html);
    EXPECT_EQ(std::string(html.getString()), tag);
    const std::vector<std::string>& lines = m_log.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "error: Failed to download style sheet");
    EXPECT_EQ(lines.back(), "data: style_sheet_url=" + sheet);
}

} // namespace
