#include "FixtureServer.h"
#include "PassTestSupport.h"

#include "convert/Mhtml.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string kStyleOpen = "\n<STYLE TYPE=\"text/css\">\n<!--\n";
const std::string kStyleClose = "\n-->\n</STYLE>\n";

struct PassCase {
    const char* name;
    std::string input;
    Mode mode;
    std::string expected;
    std::vector<std::string> resources;
};

using Pass = std::function<void(Mhtml&, StringBuffer&)>;

void runCases(const std::vector<PassCase>& cases, const Pass& pass) {
    for (const PassCase& c : cases) {
        Mhtml converter;
        configure(converter, c.mode);
        converter.m_completePage = true;
        StringBuffer text(c.input.c_str());
        pass(converter, text);
        EXPECT_EQ(numberContentIds(converter, text.getString()), c.expected) << c.name;
        EXPECT_EQ(resourceUrls(converter), c.resources) << c.name;
    }
}

TEST(CompleteCss, EveryUrlIsResolvedRegisteredAndReplaced) {
    runCases(
        {
            {"shorthand, quoted and unquoted",
             "a{background:url(a.png) no-repeat}b{background:url(\"b.gif\")}"
             "c{list-style:url( 'c.gif' )}",
             Mode::MailSafe,
             "a{background:url(cid:CID0) no-repeat}b{background:url(cid:CID1)}"
             "c{list-style:url(cid:CID2)}",
             {"http://host/dir/a.png", "http://host/dir/b.gif", "http://host/dir/c.gif"}},
            {"one content-id per address",
             "a{background-image:url(x.gif)}b{cursor:url(X.GIF),auto}",
             Mode::MailSafe,
             "a{background-image:url(cid:CID0)}b{cursor:url(cid:CID0),auto}",
             {"http://host/dir/x.gif"}},
            {"fragment stays behind the content-id",
             "a{mask:url(icons.svg#home)}b{content:url(\"icons.svg#x y\")}",
             Mode::MailSafe,
             "a{mask:url(cid:CID0#home)}b{content:url(cid:CID0#x%20y)}",
             {"http://host/dir/icons.svg"}},
            {"data: pictures become parts; bare fragments are left alone",
             "a{background:url(data:image/png;base64,iVBO)}b{filter:url(#blur)}c{x:url()}",
             Mode::MailSafe,
             "a{background:url(cid:CID0)}b{filter:url(#blur)}c{x:url()}",
             {"data:image/png;base64,iVBO"}},
            {"data: addresses differing in case are two pictures",
             "a{background:url(data:,Ab)}b{background:url(data:,aB)}",
             Mode::MailSafe,
             "a{background:url(cid:CID0)}b{background:url(cid:CID1)}",
             {"data:,Ab", "data:,aB"}},
            {"root-relative and absolute",
             "a{border-image:url(/r.png) 30}b{background:url(//cdn/c.png)}",
             Mode::MailSafe,
             "a{border-image:url(cid:CID0) 30}b{background:url(cid:CID1)}",
             {"http://host/r.png", "http://cdn/c.png"}},
            {"local mode keeps the reference",
             "a{background:url(img/a.png)}",
             Mode::Local,
             "a{background:url(cid:CID0)}",
             {"img/a.png"}},
            {"font sources",
             "@font-face{font-family:F;src:url(f.ttf) format('truetype'),url(f.woff2) "
             "format('woff2'),url(f.woff) format('woff')}",
             Mode::MailSafe,
             "@font-face{font-family:F;src:url(cid:CID0) format('woff2')}",
             {"http://host/dir/f.woff2"}},
            {"the marker text of the background pass is not touched",
             "ab8s9asdfsld{background-image:url(a.gif)}",
             Mode::MailSafe,
             "ab8s9asdfsld{background-image:url(cid:CID0)}",
             {"http://host/dir/a.gif"}},
        },
        [](Mhtml& converter, StringBuffer& text) { converter.rewriteCssBackgrounds(text); });
}

TEST(CompleteCss, OffLeavesTheBackgroundPassAlone) {
    Mhtml converter;
    configure(converter, Mode::MailSafe);
    StringBuffer text("a{background:url(a.png)}b{background-image:url(b.gif)}@import url(c.css);"
                      "c{x:url()}");
    converter.rewriteCssBackgrounds(text);
    // What it does not embed is written as its absolute address.
    EXPECT_EQ(numberContentIds(converter, text.getString()),
              "a{background:url(http://host/dir/a.png)}b{background-image:url(cid:CID0)}"
              "@import url(http://host/dir/c.css);c{x:url()}");
    EXPECT_EQ(resourceUrls(converter), std::vector<std::string>{"http://host/dir/b.gif"});
}

// Style sheets read from files in a temporary working directory.
class CompleteSheetTest : public ::testing::Test {
protected:
    CompleteSheetTest() : m_here(m_dir.path()) {
        configure(m_converter, Mode::Local);
        m_converter.m_completePage = true;
        m_converter.m_log = &m_log;
    }

    std::string rewrite(const char* css) {
        StringBuffer text(css);
        m_converter.rewriteCssBackgrounds(text);
        return numberContentIds(m_converter, text.getString());
    }

    TempDir m_dir;
    ScopedWorkingDirectory m_here;
    Mhtml m_converter;
    RecordingLog m_log;
};

TEST_F(CompleteSheetTest, ImportsTwoLevelsDeepWithMedia) {
    m_dir.write("css/one.css", "@import 'sub/two.css' screen;\na{background:url(../img/a.png)}");
    m_dir.write("css/sub/two.css", "b{background:url(b.png)}");
    EXPECT_EQ(rewrite("<style>@import url(css/one.css) print;</style>"),
              "<style>@media print {\n@media screen {\nb{background:url(cid:CID0)}\n}\n"
              "a{background:url(cid:CID1)}\n}</style>");
    EXPECT_EQ(resourceUrls(m_converter),
              (std::vector<std::string>{"css/sub/b.png", "css/../img/a.png"}));
    EXPECT_TRUE(m_log.linesStartingWith("error: ").empty());
    // The document's own mode is back.
    EXPECT_TRUE(m_converter.m_local);
}

TEST_F(CompleteSheetTest, LinkedSheetImportsResolveAgainstTheSheet) {
    m_dir.write("css/site.css", "@import url(\"parts/base.css\");\nbody{color:red}");
    m_dir.write("css/parts/base.css", "p{background:url(../../img/p.png)}");
    StringBuffer html("<link rel=stylesheet href=css/site.css>");
    m_converter.rewriteLinkTags(html);
    EXPECT_EQ(numberContentIds(m_converter, html.getString()),
              kStyleOpen + "p{background:url(cid:CID0)}\nbody{color:red}" + kStyleClose);
    EXPECT_EQ(resourceUrls(m_converter), std::vector<std::string>{"css/parts/../../img/p.png"});
}

TEST_F(CompleteSheetTest, APreloadThatBecomesASheetIsPutInOnce) {
    m_dir.write("late.css", "p{color:red}");
    StringBuffer html("<link rel=preload as=style href=late.css "
                      "onload=\"this.onload=null;this.rel='stylesheet'\">"
                      "<link rel=preload as=image href=hero.png>"
                      "<noscript><link rel=stylesheet href=late.css></noscript>");
    m_converter.rewriteLinkTags(html);
    EXPECT_EQ(std::string(html.getString()),
              kStyleOpen + "p{color:red}" + kStyleClose +
                  "<link rel=\"preload\" as=\"image\" href=\"http://host/dir/hero.png\"><noscript>"
                  "</noscript>");
}

TEST_F(CompleteSheetTest, ASheetBeingImportedIsNotImportedAgain) {
    m_dir.write("css/a.css", "@import url(sub/b.css);a{}");
    m_dir.write("css/sub/b.css", "@import url(../a.css);@import url(b.css);b{}");
    EXPECT_EQ(rewrite("@import url(css/a.css);"), "b{}a{}");
    EXPECT_EQ(m_log.linesStartingWith("info: "),
              (std::vector<std::string>{"info: Skipping style sheet: already being imported",
                                        "info: Skipping style sheet: already being imported"}));
}

TEST_F(CompleteSheetTest, ImportsNestAtMostEightLevels) {
    for (int level = 1; level <= 10; ++level) {
        m_dir.write("s" + std::to_string(level) + ".css",
                    "@import url(s" + std::to_string(level + 1) + ".css);L" +
                        std::to_string(level) + "{}");
    }
    EXPECT_EQ(rewrite("@import url(s1.css);"), "L8{}L7{}L6{}L5{}L4{}L3{}L2{}L1{}");
    EXPECT_TRUE(m_log.has("info: Skipping style sheet: imported too deeply"));
    EXPECT_TRUE(m_log.has("data: style_sheet_url=s9.css"));
}

TEST_F(CompleteSheetTest, AnImportThatCannotBeFetchedStays) {
    EXPECT_EQ(rewrite("@import url(gone.css) print;p{background:url(p.png)}"),
              "@import url(gone.css) print;p{background:url(cid:CID0)}");
    EXPECT_EQ(m_log.linesStartingWith("error: ").back(), "error: Failed to download style sheet");
    EXPECT_TRUE(m_log.has("data: style_sheet_url=gone.css"));
}

TEST_F(CompleteSheetTest, AnExcludedImportIsNotFetched) {
    m_dir.write("ads/banner.css", "ad{}");
    m_converter.addExclude("ads/");
    EXPECT_EQ(rewrite("@import url(ads/banner.css);p{}"), "@import url(ads/banner.css);p{}");
    const std::vector<std::string> expected{"info: Skipping because explicitly excluded.",
                                            "data: style_sheet_url=ads/banner.css"};
    EXPECT_EQ(m_log.lines(), expected);
}

TEST_F(CompleteSheetTest, ImportedTextCannotEndItsStyleElement) {
    m_dir.write("evil.css", "\xEF\xBB\xBF"
                            "a{}</style><script>alert(1)</script>");
    EXPECT_EQ(rewrite("<style>@import 'evil.css';</style>"),
              "<style>a{}<\\/style><script>alert(1)</script></style>");
}

// Style sheets and images served from a temporary site on 127.0.0.1.
class CompleteWebTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_site.write("css/main.css", "@import url(theme/dark.css) (prefers-color-scheme: dark);\n"
                                     "@font-face{src:url(../fonts/f.woff) format('woff'),"
                                     "url(/fonts/f.woff2) format('woff2')}");
        m_site.write("css/theme/dark.css", "body{background:url(../../img/night.png)}");
        m_server = std::make_unique<FixtureServer>(m_site.path(), "");
        ASSERT_TRUE(m_server->running());
        configure(m_converter, Mode::MailSafe, "http://page.example/dir", "http://page.example");
        m_converter.currentContext().m_fromWeb = true;
        m_converter.m_completePage = true;
        m_converter.m_directAccess = true;
        m_converter.m_log = &m_log;
    }

    std::string url(const std::string& path) const { return m_server->url(path); }

    TempDir m_site;
    std::unique_ptr<FixtureServer> m_server;
    Mhtml m_converter;
    RecordingLog m_log;
};

TEST_F(CompleteWebTest, ImportedSheetsResolveAgainstTheirOwnUrl) {
    StringBuffer html(("<link rel=stylesheet href=\"" + url("/css/main.css") + "\">").c_str());
    m_converter.rewriteLinkTags(html);
    EXPECT_EQ(numberContentIds(m_converter, html.getString()),
              kStyleOpen +
                  "@media (prefers-color-scheme: dark) {\nbody{background:url(cid:CID0)}\n}\n"
                  "@font-face{src:url(cid:CID1) format('woff2')}" +
                  kStyleClose);
    EXPECT_EQ(
        resourceUrls(m_converter),
        (std::vector<std::string>{url("/css/theme/../../img/night.png"), url("/fonts/f.woff2")}));
    EXPECT_STREQ(m_converter.currentBaseUrl().getString(), "http://page.example/dir");
    EXPECT_STREQ(m_converter.currentRootUrl().getString(), "http://page.example");
    EXPECT_FALSE(m_converter.m_local);
}

TEST_F(CompleteWebTest, AWebPageImportsNoLocalFile) {
    m_site.write("x.css", "secret{}");
    const std::string css = "@import url(file://" + m_site.file("x.css") + ");";
    StringBuffer text(css.c_str());
    m_converter.rewriteCssBackgrounds(text);
    EXPECT_STREQ(text.getString(), css.c_str());
    EXPECT_TRUE(m_log.has("error: Refused to read a local file for a page from the web"));
}

TEST(CompleteImages, LazyImagesGetTheirRealAddress) {
    runCases(
        {
            {"data-src without src",
             "<img data-src=\"a.jpg\" alt=x>",
             Mode::MailSafe,
             "<img src=\"a.jpg\" alt=\"x\">",
             {}},
            {"data-src over a placeholder",
             "<img src=\"data:image/gif;base64,R0lG\" class=lazy data-src='b.jpg'>",
             Mode::MailSafe,
             "<img src=\"b.jpg\" class=\"lazy\">",
             {}},
            {"data-original",
             "<IMG data-original=c.jpg>",
             Mode::MailSafe,
             "<IMG src=\"c.jpg\">",
             {}},
            {"data-lazy-src",
             "<img data-lazy-src=\"d.jpg\" src=\"\">",
             Mode::MailSafe,
             "<img src=\"d.jpg\">",
             {}},
            {"the first lazy attribute wins",
             "<img data-original=o.jpg data-src=s.jpg>",
             Mode::MailSafe,
             "<img data-original=\"o.jpg\" src=\"s.jpg\">",
             {}},
            {"data-srcset becomes srcset, its candidate the src",
             "<img data-srcset=\"s.jpg 1x, l.jpg 2x\">",
             Mode::MailSafe,
             "<img src=\"l.jpg\" srcset=\"s.jpg 1x, l.jpg 2x\">",
             {}},
            {"a data: placeholder gives way to the lazy srcset",
             "<img src=\"data:image/gif;base64,R0lG\" data-srcset=\"a.png 1x, b.png 2x\">",
             Mode::MailSafe,
             "<img src=\"b.png\" srcset=\"a.png 1x, b.png 2x\">",
             {}},
            {"a data: picture without lazy attributes stays",
             "<img src=\"data:image/gif;base64,R0lG\" srcset=\"b.png 2x\">",
             Mode::MailSafe,
             "<img src=\"data:image/gif;base64,R0lG\" srcset=\"b.png 2x\">",
             {}},
            {"data-srcset over srcset",
             "<img src=a.jpg srcset=x.jpg data-srcset=\"y.jpg\">",
             Mode::MailSafe,
             "<img src=\"a.jpg\" srcset=\"y.jpg\">",
             {}},
            {"a src without a value gives way to data-src",
             "<img src data-src=\"a.jpg\" alt=x>",
             Mode::MailSafe,
             "<img src=\"a.jpg\" alt=\"x\">",
             {}},
            {"a srcset without a value gives way to data-srcset",
             "<img srcset data-srcset=\"b.jpg 1x\" src=\"a.jpg\">",
             Mode::MailSafe,
             "<img srcset=\"b.jpg 1x\" src=\"a.jpg\">",
             {}},
            {"a src without a value gives way to the srcset's candidate",
             "<img src srcset=\"s.jpg 1x, l.jpg 2x\">",
             Mode::MailSafe,
             "<img src=\"l.jpg\" srcset=\"s.jpg 1x, l.jpg 2x\">",
             {}},
            {"plain images stay as found",
             "<img src=a.jpg data-id=7>",
             Mode::MailSafe,
             "<img src=a.jpg data-id=7>",
             {}},
        },
        [](Mhtml& converter, StringBuffer& html) { converter.promoteLazyImages(html); });
}

TEST(CompleteImages, SrcsetKeepsOneEmbeddedCandidate) {
    runCases(
        {
            {"x descriptors",
             "<img src=\"cid:X\" srcset=\"a.png 1x, b.png 2x, c.png 3x\" sizes=\"50vw\" alt=\"\">",
             Mode::MailSafe,
             "<img src=\"cid:X\" srcset=\"cid:CID0\" alt=\"\">",
             {"http://host/dir/b.png"}},
            {"w descriptors",
             "<img srcset='s.png 480w, m.png 1600w, l.png 2400w' sizes=100vw>",
             Mode::MailSafe,
             "<img srcset='cid:CID0'>",
             {"http://host/dir/m.png"}},
            {"no descriptors",
             "<img srcset=\"one.png, two.png\">",
             Mode::MailSafe,
             "<img srcset=\"cid:CID0\">",
             {"http://host/dir/one.png"}},
            {"picture with two sources",
             "<picture><source media=\"(min-width: 800px)\" srcset=\"wide.png 1x, wide2.png "
             "2x\"><source srcset=\"narrow.png\" type=\"image/png\"><img "
             "src=\"cid:X\"></picture>",
             Mode::MailSafe,
             "<picture><source media=\"(min-width: 800px)\" srcset=\"cid:CID0\"><source "
             "srcset=\"cid:CID1\" type=\"image/png\"><img src=\"cid:X\"></picture>",
             {"http://host/dir/wide2.png", "http://host/dir/narrow.png"}},
            {"lazy source inside picture",
             "<picture><source data-srcset=\"l.webp\" type=\"image/webp\"></picture>",
             Mode::MailSafe,
             "<picture><source srcset=\"cid:CID0\" type=\"image/webp\"></picture>",
             {"http://host/dir/l.webp"}},
            {"source outside picture stays",
             "<video><source srcset=\"v.png\"></video>",
             Mode::MailSafe,
             "<video><source srcset=\"v.png\"></video>",
             {}},
            {"data candidate",
             "<img srcset=\"data:image/gif;base64,R0lG 1x\">",
             Mode::MailSafe,
             "<img srcset=\"cid:CID0\">",
             {"data:image/gif;base64,R0lG"}},
            {"local mode",
             "<img srcset=\"img/a.png 2x\">",
             Mode::Local,
             "<img srcset=\"cid:CID0\">",
             {"img/a.png"}},
        },
        [](Mhtml& converter, StringBuffer& html) { converter.rewriteResponsiveImages(html); });
}

TEST(CompletePage, PostersStyleAttributesAndRefresh) {
    runCases(
        {
            {"poster",
             "<video poster=p.jpg controls></video>",
             Mode::MailSafe,
             "<video poster=\"cid:CID0\" controls></video>",
             {"http://host/dir/p.jpg"}},
            {"style attributes of any tag",
             "<div style=\"background:url('a.png') no-repeat\">x</div><span "
             "STYLE='background-image: url(b.gif)'></span><td "
             "style=background:url(c.gif)>",
             Mode::MailSafe,
             "<div style=\"background:url(cid:CID0) no-repeat\">x</div><span "
             "STYLE='background-image: url(cid:CID1)'></span><td style=background:url(cid:CID2)>",
             {"http://host/dir/a.png", "http://host/dir/b.gif", "http://host/dir/c.gif"}},
            {"character reference quotes",
             "<p style=\"background:url(&quot;q.png&quot;)\" title=\"url(t.png)\">",
             Mode::MailSafe,
             "<p style=\"background:url(cid:CID0)\" title=\"url(t.png)\">",
             {"http://host/dir/q.png"}},
            {"a lazy loader's background becomes the background image",
             "<div data-bg=\"hero.jpg?w=1&amp;h=2\" class=x><section style='color:red' "
             "data-bg=\"url(b.png)\"></section><p style=x:y data-bg=c.png />",
             Mode::MailSafe,
             "<div data-bg=\"hero.jpg?w=1&amp;h=2\" class=x "
             "style=\"background-image:url(cid:CID0)\">"
             "<section style='color:red;background-image:url(cid:CID1)' data-bg=\"url(b.png)\">"
             "</section><p style=x:y;background-image:url(cid:CID2) data-bg=c.png />",
             {"http://host/dir/hero.jpg?w=1&h=2", "http://host/dir/b.png",
              "http://host/dir/c.png"}},
            {"not inside style elements and comments",
             "<style>p{x:url(s.png)}</style><!-- <p style=\"x:url(c.png)\"> -->",
             Mode::MailSafe,
             "<style>p{x:url(s.png)}</style><!-- <p style=\"x:url(c.png)\"> -->",
             {}},
            {"refresh removed",
             "<head><meta http-equiv=\"Refresh\" content=\"0; url=http://x/\"><meta "
             "http-equiv=\"Content-Type\" content=\"text/html\"></head>",
             Mode::MailSafe,
             "<head><meta http-equiv=\"Content-Type\" content=\"text/html\"></head>",
             {}},
            {"text that only looks like markup",
             "a < b > c <3 url(x.png)",
             Mode::MailSafe,
             "a < b > c <3 url(x.png)",
             {}},
            {"unclosed tag at the end",
             "<p>x</p><div style=\"x:url(a.png)",
             Mode::MailSafe,
             "<p>x</p><div style=\"x:url(a.png)",
             {}},
        },
        [](Mhtml& converter, StringBuffer& html) { converter.completeDocumentTags(html); });
}

} // namespace
