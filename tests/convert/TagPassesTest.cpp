#include "PassTestSupport.h"

#include "convert/Mhtml.h"
#include "foundation/DataBuffer.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

struct PassCase {
    const char* name;
    std::string input;
    Mode mode;
    std::string expected;
    std::vector<std::string> resources;
};

using Pass = std::function<void(Mhtml&, StringBuffer&)>;

void expectPass(const std::vector<PassCase>& cases, const Pass& pass) {
    for (const PassCase& c : cases) {
        Mhtml converter;
        configure(converter, c.mode);
        StringBuffer html(c.input.c_str());
        pass(converter, html);
        EXPECT_EQ(numberContentIds(converter, html.getString()), c.expected) << c.name;
        EXPECT_EQ(resourceUrls(converter), c.resources) << c.name;
    }
}

const std::string kStyleOpen = "\n<STYLE TYPE=\"text/css\">\n<!--\n";
const std::string kStyleClose = "\n-->\n</STYLE>\n";

TEST(SetAttribute, WholeNameAndQuotedValue) {
    struct Case {
        const char* tag;
        const char* name;
        const char* value;
        const char* expected;
    };
    const Case cases[] = {
        {"<img src=\"a.gif\">", "SRC", "cid:x", "<img src=\"cid:x\">"},
        {"<img data-src=\"x\" src=\"y\">", "src", "z", "<img data-src=\"x\" src=\"z\">"},
        {"<img alt=\"src\" src=\"y\">", "src", "z", "<img alt=\"src\" src=\"z\">"},
        {"<img xsrc=\"a\" src=\"b\">", "src", "c", "<img xsrc=\"a\" src=\"c\">"},
        {"<img src='a'>", "src", "b", "<img src='b'>"},
        {"<IMG SRC=\"a\">", "src", "b", "<IMG SRC=\"b\">"},
        {"<img src=\"\">", "src", "b", "<img src=\"b\">"},
        {"<img src=\"a>", "src", "b", "<img src=\"a>"},
        {"<img width=\"1\">", "src", "b", "<img width=\"1\">"},
        {"<img src=a>", "src", "b", "<img src=a>"},
    };
    for (const Case& c : cases) {
        Mhtml converter;
        StringBuffer tag(c.tag);
        converter.setAttribute(tag, c.name, c.value);
        EXPECT_STREQ(tag.getString(), c.expected) << c.tag;
    }
}

TEST(RewriteImages, Table) {
    expectPass(
        {
            {"unquoted",
             "<img src=a.gif>",
             Mode::MailSafe,
             "<img src=\"cid:CID0\">",
             {"http://host/dir/a.gif"}},
            {"root and query",
             "<IMG SRC=/pics/b.jpg?x=1>",
             Mode::MailSafe,
             "<IMG SRC=\"cid:CID0\">",
             {"http://host/pics/b.jpg?x=1"}},
            {"character references are read",
             "<img src=\"i.php?w=300&amp;h=200&#38;s=x&#x26;t=y&copy=z\">",
             Mode::MailSafe,
             "<img src=\"cid:CID0\">",
             {"http://host/dir/i.php?w=300&h=200&s=x&t=y&copy=z"}},
            {"blanks around and breaks inside",
             "<img src=\" \tpic\n/a\r\n.png\t \">",
             Mode::MailSafe,
             "<img src=\"cid:CID0\">",
             {"http://host/dir/pic/a.png"}},
            {"a script address never becomes one a reader follows",
             "<img src=\"javascript:alert(1)\">",
             Mode::MailSafe,
             "<img src=\"cid:CID0\">",
             {"http://host/dir/javascript:alert(1)"}},
            {"data: is never fetched",
             "<img src=\"data:image/gif;base64,R0lG\">",
             Mode::MailSafe,
             "<img src=\"data:image/gif;base64,R0lG\">",
             {}},
            {"protocol-relative",
             "<img src=//cdn/x.png>",
             Mode::MailSafe,
             "<img src=\"cid:CID0\">",
             {"http://cdn/x.png"}},
            {"no src in mail-safe", "a<img name=x>b", Mode::MailSafe, "ab", {}},
            {"no src kept", "a<img name=x>b", Mode::KeepScripts, "a<img name=x>b", {}},
            {"single quotes and > in a value",
             "<Img Src='a.gif' Alt=\"x > y\">after",
             Mode::MailSafe,
             "<Img Src='cid:CID0' Alt=\"x > y\">after",
             {"http://host/dir/a.gif"}},
            {"tag across lines",
             "<img\nsrc=\"a.gif\"\nwidth=1>",
             Mode::MailSafe,
             "<img src=\"cid:CID0\" width=\"1\">",
             {"http://host/dir/a.gif"}},
            {"unclosed at the end",
             "x<img src=a.gif",
             Mode::MailSafe,
             "x<img src=\"cid:CID0\">",
             {"http://host/dir/a.gif"}},
            {"same image twice",
             "<img src=\"a.gif\"><img src=\"A.GIF\">",
             Mode::MailSafe,
             "<img src=\"cid:CID0\"><img src=\"cid:CID0\">",
             {"http://host/dir/a.gif"}},
            {"local mode",
             "<img src=img/a.gif>",
             Mode::Local,
             "<img src=\"cid:CID0\">",
             {"img/a.gif"}},
            {"lazy source before the real one",
             "<img data-src=\"lazy.gif\" src=\"real.gif\">",
             Mode::MailSafe,
             "<img data-src=\"lazy.gif\" src=\"cid:CID0\">",
             {"http://host/dir/real.gif"}},
            {"vml image after img",
             "<v:imagedata src=\"v.png\"><img src=i.gif>",
             Mode::MailSafe,
             "<v:imagedata src=\"cid:CID1\"><img src=\"cid:CID0\">",
             {"http://host/dir/i.gif", "http://host/dir/v.png"}},
            {"backslashes",
             "<img src=\"img\\a.gif\">",
             Mode::MailSafe,
             "<img src=\"cid:CID0\">",
             {"http://host/dir/img/a.gif"}},
            {"placeholders untouched",
             "<vantrel_style><img src=a.gif>",
             Mode::MailSafe,
             "<vantrel_style><img src=\"cid:CID0\">",
             {"http://host/dir/a.gif"}},
        },
        [](Mhtml& converter, StringBuffer& html) { converter.rewriteImages(html); });
}

TEST(RewriteImages, StrictQuoteRule) {
    // A quote right after a closing quote opens nothing, so the ">" behind
    // "y" ends the tag.
    Mhtml converter;
    configure(converter, Mode::MailSafe);
    StringBuffer html("<img src=\"a.gif\" alt=\"x\"\"y>z\">tail");
    converter.rewriteImages(html);
    const std::string result = numberContentIds(converter, html.getString());
    EXPECT_EQ(result.rfind("<img src=\"cid:CID0\"", 0), 0u) << result;
    EXPECT_EQ(result.substr(result.size() - 7), "z\">tail") << result;
}

TEST(RewriteImages, ImageTagLogIsCreatedEmpty) {
    TempDir dir;
    ScopedWorkingDirectory here(dir.path());
    dir.write("imageTags.log", "old text");
    Mhtml converter;
    configure(converter, Mode::MailSafe);
    converter.m_logImageTags = true;
    StringBuffer html("<img src=a.gif>");
    converter.rewriteImages(html);
    EXPECT_TRUE(std::filesystem::exists(dir.file("imageTags.log")));
    EXPECT_EQ(readWholeFile(dir.file("imageTags.log")), "");

    Mhtml quiet;
    TempDir other;
    ScopedWorkingDirectory there(other.path());
    configure(quiet, Mode::MailSafe);
    quiet.rewriteImages(html);
    EXPECT_FALSE(std::filesystem::exists(other.file("imageTags.log")));
}

TEST(RewriteFrames, AbsoluteAddressAndRegistration) {
    expectPass(
        {
            {"frame",
             "<frame src=left.htm>",
             Mode::MailSafe,
             "<frame src=\"http://host/dir/left.htm\">",
             {"http://host/dir/left.htm"}},
            {"a script address is no frame address",
             "<frame src=\"javascript:go()\">",
             Mode::MailSafe,
             "<frame src=\"http://host/dir/javascript:go()\">",
             {"http://host/dir/javascript:go()"}},
            {"frame without src, mail-safe", "<frame name=x>", Mode::MailSafe, "", {}},
            {"frame without src, kept", "<frame name=x>", Mode::KeepScripts, "<frame name=x>", {}},
            {"frameset is no frame",
             "<frameset rows=\"*\">",
             Mode::MailSafe,
             "<frameset rows=\"*\">",
             {}},
            {"local frame",
             "<FRAME SRC='sub/f.htm'>",
             Mode::Local,
             "<FRAME SRC='sub/f.htm'>",
             {"sub/f.htm"}},
        },
        [](Mhtml& converter, StringBuffer& html) { converter.rewriteFrames(html, "<frame "); });
    expectPass(
        {
            {"iframe",
             "<iframe src=a.htm></iframe>",
             Mode::KeepScripts,
             "<iframe src=\"http://host/dir/a.htm\"></iframe>",
             {"http://host/dir/a.htm"}},
        },
        [](Mhtml& converter, StringBuffer& html) { converter.rewriteFrames(html, "<iframe "); });
}

TEST(RewriteSources, ScriptsAndInputs) {
    expectPass(
        {
            {"script",
             "<script src=x.js></script>",
             Mode::KeepScripts,
             "<script src=\"cid:CID0\"></script>",
             {"http://host/dir/x.js"}},
            {"script of another kind",
             "<script src=x.txt></script>",
             Mode::KeepScripts,
             "<script src=x.txt></script>",
             {}},
            {"script page",
             "<SCRIPT SRC=\"/s.ASP?v=1\">",
             Mode::KeepScripts,
             "<SCRIPT SRC=\"cid:CID0\">",
             {"http://host/s.ASP?v=1"}},
            {"script hash", "<script src=\"#\">", Mode::KeepScripts, "<script src=\"#\">", {}},
            {"inline script",
             "<script>var a;</script>",
             Mode::KeepScripts,
             "<script>var a;</script>",
             {}},
        },
        [](Mhtml& converter, StringBuffer& html) { converter.rewriteSources(html, "<script"); });
    expectPass(
        {
            {"image input",
             "<input type=image src=go.gif>",
             Mode::MailSafe,
             "<input type=\"image\" src=\"cid:CID0\">",
             {"http://host/dir/go.gif"}},
            {"input hash",
             "<input src=#>",
             Mode::MailSafe,
             "<input src=\"cid:CID0\">",
             {"http://host/dir/"}},
            {"text input", "<input name=q>", Mode::MailSafe, "<input name=q>", {}},
        },
        [](Mhtml& converter, StringBuffer& html) { converter.rewriteSources(html, "<input"); });
}

TEST(RewriteLinks, Table) {
    expectPass(
        {
            {"in-page links stay", "<a href=#>", Mode::MailSafe, "<a href=#>", {}},
            {"table of contents",
             "<a href=\"#part-2\">",
             Mode::MailSafe,
             "<a href=\"#part-2\">",
             {}},
            {"other schemes stay", "<a href=tel:+4930>", Mode::MailSafe, "<a href=tel:+4930>", {}},
            {"vbscript: is a script too",
             "<a href=\"VBScript:x\">",
             Mode::MailSafe,
             "<a href=\"http://host/dir/\">",
             {}},
            {"ampersands written back",
             "<a href=\"s.php?a=1&amp;b=&quot;2&quot;\">",
             Mode::MailSafe,
             "<a href=\"http://host/dir/s.php?a=1&amp;b=&quot;2&quot;\">",
             {}},
            {"mailto", "<a href=mailto:x>", Mode::MailSafe, "<a href=mailto:x>", {}},
            {"javascript, scripts off",
             "<a href=javascript:go()>",
             Mode::MailSafe,
             "<a href=\"http://host/dir/\">",
             {}},
            {"javascript, noscript page",
             "<a href='JavaScript:go()'>",
             Mode::NoScripts,
             "<a href='http://host/dir/'>",
             {}},
            {"javascript, scripts on",
             "<a href=javascript:go()>",
             Mode::KeepScripts,
             "<a href=javascript:go()>",
             {}},
            {"relative",
             "<a href=\"page.htm\">x</a>",
             Mode::MailSafe,
             "<a href=\"http://host/dir/page.htm\">x</a>",
             {}},
            {"line feed",
             "<A\nHREF='x.htm'>",
             Mode::MailSafe,
             "<A HREF='http://host/dir/x.htm'>",
             {}},
            {"carriage return",
             "<a\rhref=x.htm>",
             Mode::KeepScripts,
             "<a href=\"http://host/dir/x.htm\">",
             {}},
            {"tab", "<a\thref=y>", Mode::MailSafe, "<a href=\"http://host/dir/y\">", {}},
            {"area",
             "<area shape=rect href=/m.htm>",
             Mode::MailSafe,
             "<area shape=\"rect\" href=\"http://host/m.htm\">",
             {}},
            {"embed",
             "<embed src=movie.swf>",
             Mode::MailSafe,
             "<embed src=\"http://host/dir/movie.swf\">",
             {}},
            {"no href", "<a name=top>", Mode::MailSafe, "<a name=top>", {}},
            {"abbr is no anchor", "<abbr title=x>", Mode::MailSafe, "<abbr title=x>", {}},
            {"local page links",
             "<a href=x.htm>",
             Mode::Local,
             "<a href=\"http://host/dir/x.htm\">",
             {}},
        },
        [](Mhtml& converter, StringBuffer& html) { converter.rewriteLinks(html); });
}

TEST(RewriteLinks, NineHundredByteRule) {
    Mhtml converter;
    configure(converter, Mode::MailSafe);
    const std::string filler(950, 'x');
    StringBuffer html(("<a href=x.htm title=\"broken>text " + filler + "\">more").c_str());
    converter.rewriteLinks(html);
    EXPECT_EQ(std::string(html.getString()),
              "<a href=\"http://host/dir/x.htm\" title=\"broken>\">text " + filler + "\">more");

    // Up to 900 bytes the quotes are honoured.
    const std::string head = "<a href=x.htm title=\"a>b";
    const std::string fits = head + std::string(900 - head.size() - 1, 'y') + "\"";
    ASSERT_EQ(fits.size(), 900u);
    StringBuffer kept((fits + ">after").c_str());
    converter.rewriteLinks(kept);
    EXPECT_EQ(std::string(kept.getString()),
              "<a href=\"http://host/dir/x.htm\"" + fits.substr(13) + ">after");
}

TEST(RewriteRollovers, ImagesInMouseOverScripts) {
    expectPass(
        {
            {"one image",
             "<a href=\"x\" onmouseover=\"swap('img/on.gif')\">",
             Mode::KeepScripts,
             "<a href=\"x\" onmouseover=\"swap('cid:CID0')\">",
             {"http://host/dir/img/on.gif"}},
            {"several strings",
             "<a onMouseOver=\"s('n1','b.jpg','c.txt','d.PNG')\">",
             Mode::KeepScripts,
             "<a onMouseOver=\"s('n1','cid:CID0','c.txt','cid:CID1')\">",
             {"http://host/dir/b.jpg", "http://host/dir/d.PNG"}},
            {"no mouse-over", "<a href='a.gif'>", Mode::KeepScripts, "<a href='a.gif'>", {}},
            {"area too",
             "<AREA onmouseover=\"x('a.gif')\">",
             Mode::KeepScripts,
             "<AREA onmouseover=\"x('cid:CID0')\">",
             {"http://host/dir/a.gif"}},
            {"five bytes are too few",
             "<a onmouseover=\"x('.gif')\">",
             Mode::KeepScripts,
             "<a onmouseover=\"x('.gif')\">",
             {}},
            {"local",
             "<a onmouseover=\"x('i/a.gif')\">t</a>",
             Mode::Local,
             "<a onmouseover=\"x('cid:CID0')\">t</a>",
             {"i/a.gif"}},
            {"unclosed at the end",
             "<a onmouseover=\"x('i.gif')",
             Mode::KeepScripts,
             "<a onmouseover=\"x('cid:CID0')",
             {"http://host/dir/i.gif"}},
        },
        [](Mhtml& converter, StringBuffer& html) { converter.rewriteRollovers(html); });
}

TEST(RewriteBackgrounds, BodyTableTd) {
    expectPass(
        {
            {"td",
             "<td background=bg.gif>",
             Mode::MailSafe,
             "<td background=\"cid:CID0\">",
             {"http://host/dir/bg.gif"}},
            {"page url keeps the tag",
             "<body background=page.htm bgcolor=red>",
             Mode::MailSafe,
             "<body background=page.htm bgcolor=red>",
             {}},
            {"no background", "<table border=1>", Mode::MailSafe, "<table border=1>", {}},
            {"pass order",
             "<td background=c.gif><table background='b.gif'><body background=\"a.gif\">",
             Mode::MailSafe,
             "<td background=\"cid:CID2\"><table background='cid:CID1'><body "
             "background=\"cid:CID0\">",
             {"http://host/dir/a.gif", "http://host/dir/b.gif", "http://host/dir/c.gif"}},
        },
        [](Mhtml& converter, StringBuffer& html) { converter.rewriteBackgrounds(html); });
}

// Style sheets read from files in a temporary working directory.
class StyleSheetTest : public ::testing::Test {
protected:
    StyleSheetTest() : m_here(m_dir.path()) {
        configure(m_converter, Mode::Local);
        m_converter.m_log = &m_log;
    }

    std::string rewriteLinkTags(const char* html) {
        StringBuffer text(html);
        m_converter.rewriteLinkTags(text);
        return numberContentIds(m_converter, text.getString());
    }

    TempDir m_dir;
    ScopedWorkingDirectory m_here;
    Mhtml m_converter;
    RecordingLog m_log;
};

TEST_F(StyleSheetTest, LinkTagsBecomeStyleBlocks) {
    m_dir.write("s.css", "body{color:red}");
    m_dir.write("p.css", "@page{}");
    const struct {
        const char* html;
        std::string expected;
    } cases[] = {
        {"a<link rel=stylesheet href=s.css>b",
         "a" + kStyleOpen + "body{color:red}" + kStyleClose + "b"},
        {"<LINK TYPE=\"TEXT/CSS\" HREF=\"s.css\">", kStyleOpen + "body{color:red}" + kStyleClose},
        {"<link rel=\\\"stylesheet\\\" href=\\\"s.css\\\">",
         kStyleOpen + "body{color:red}" + kStyleClose},
        {"<link rel=stylesheet href=p.css media=print>",
         "\n<STYLE TYPE=\"text/css\" MEDIA=\"print\">\n<!--\n@page{}" + kStyleClose},
        {"<link rel=\"alternate stylesheet\" type=\"text/css\" href=\"s.css\" title=\"x\">",
         "<link rel=\"alternate stylesheet\" type=\"text/css\" href=\"http://host/dir/s.css\" "
         "title=\"x\">"},
        {"<link rel=icon href=favicon.ico>",
         "<link rel=\"icon\" href=\"http://host/dir/favicon.ico\">"},
        {"<link rel=next href=#>", "<link rel=next href=#>"},
        {"<link rel=icon>", "<link rel=icon>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rewriteLinkTags(c.html), c.expected) << c.html;
    }
    EXPECT_TRUE(m_log.linesStartingWith("error: ").empty());
    EXPECT_EQ(m_converter.currentResources().getSize(), 0);
}

TEST_F(StyleSheetTest, MissingHrefAndFailedDownload) {
    EXPECT_EQ(rewriteLinkTags("<link rel=stylesheet title=x>"), "<link rel=stylesheet title=x>");
    const std::vector<std::string> missing{"error: Cannot find href in link tag",
                                           "data: link_tag=<link rel=\"stylesheet\" title=\"x\">"};
    EXPECT_EQ(m_log.lines(), missing);

    m_log.clear();
    EXPECT_EQ(rewriteLinkTags("<link rel=stylesheet href=gone.css>"),
              "<link rel=stylesheet href=gone.css>");
    const std::vector<std::string>& lines = m_log.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "error: Failed to download style sheet");
    EXPECT_EQ(lines.back(), "data: style_sheet_url=gone.css");
}

TEST_F(StyleSheetTest, SheetReferencesResolveAgainstTheSheet) {
    m_dir.write("css/site.css", "a{background-image:url(../img/bg.png)}\n"
                                "b{background-image:url('/abs/x.gif')}\n"
                                "c{background-image:url(http://cdn/y.gif)}");
    m_converter.m_local = false;
    EXPECT_EQ(rewriteLinkTags("<link rel=stylesheet href=\"file:css/site.css\">"),
              kStyleOpen +
                  "a{background-image:url(cid:CID0)}\nb{background-image:url(cid:CID1)}\n"
                  "c{background-image:url(cid:CID2)}" +
                  kStyleClose);
    EXPECT_EQ(resourceUrls(m_converter),
              (std::vector<std::string>{"css/../img/bg.png", "/abs/x.gif", "http://cdn/y.gif"}));
    // The document's own base, root and mode are back.
    EXPECT_STREQ(m_converter.currentBaseUrl().getString(), "http://host/dir");
    EXPECT_STREQ(m_converter.currentRootUrl().getString(), "http://host");
    EXPECT_FALSE(m_converter.m_local);
}

TEST_F(StyleSheetTest, FetchStyleSheetBlocksAndText) {
    m_dir.write("mixed.css", std::string("<style>p{background-image:url(p.gif)}</style>body{}") +
                                 std::string(1, '\0') + "ignored");
    StringBuffer out("X");
    ASSERT_TRUE(m_converter.fetchStyleSheet("mixed.css", out));
    EXPECT_EQ(numberContentIds(m_converter, out.getString()),
              "X<style>p{background-image:url(cid:CID0)}</style>" + kStyleOpen + "body{}" +
                  kStyleClose);
    EXPECT_EQ(resourceUrls(m_converter), std::vector<std::string>{"p.gif"});

    StringBuffer none;
    EXPECT_FALSE(m_converter.fetchStyleSheet("absent.css", none));
    EXPECT_EQ(none.getSize(), 0);
}

TEST_F(StyleSheetTest, SheetTextCannotEndItsStyleElement) {
    m_dir.write("evil.css", "a{}</STYLE><script>alert(1)</script>");
    StringBuffer out;
    ASSERT_TRUE(m_converter.fetchStyleSheet("evil.css", out, "x\"><script>"));
    EXPECT_EQ(std::string(out.getString()),
              "\n<STYLE TYPE=\"text/css\" MEDIA=\"xscript\">\n<!--\na{}<\\/STYLE><script>alert(1)"
              "</script>" +
                  kStyleClose);
}

TEST_F(StyleSheetTest, InsertStyleSheetsIntoTheHead) {
    m_dir.write("one.css", "a{background-image:url(bg.gif)}");
    m_dir.write("two.css", "b{}");
    m_converter.addStyleSheet("one.css");
    m_converter.addStyleSheet("missing.css");
    m_converter.addStyleSheet("two.css");
    StringBuffer html("<html><HEAD><title>t</title></HEAD>"
                      "<style>p{background-image:url(p.gif)}</style><body>");
    m_converter.insertStyleSheets(html);
    const std::string sheetOne = kStyleOpen + "a{background-image:url(cid:CID0)}" + kStyleClose;
    const std::string sheetTwo = kStyleOpen + "b{}" + kStyleClose;
    EXPECT_EQ(numberContentIds(m_converter, html.getString()),
              "<html><HEAD><title>t</title>" + sheetOne + "\n" + sheetTwo +
                  "\n</head>"
                  "<style>p{background-image:url(p.gif)}</style><body>");

    // The inserted blocks go behind placeholders but are not rewritten again;
    // the page's own style block is.
    ExtPtrArray styles;
    m_converter.extractStyles(html, styles);
    EXPECT_STREQ(html.getString(), "<html><HEAD><title>t</title>\n<vantrel_style>\n\n\n"
                                   "<vantrel_style>\n\n</head><vantrel_style><body>");
    EXPECT_EQ(resourceUrls(m_converter), (std::vector<std::string>{"bg.gif", "p.gif"}));
    m_converter.restoreStyles(html, styles);
    EXPECT_EQ(numberContentIds(m_converter, html.getString()),
              "<html><HEAD><title>t</title>" + sheetOne + "\n" + sheetTwo +
                  "\n</head>"
                  "<style>p{background-image:url(cid:CID1)}</style><body>");
}

TEST_F(StyleSheetTest, InsertStyleSheetsNeedsAHead) {
    m_dir.write("one.css", "a{}");
    m_converter.addStyleSheet("one.css");
    StringBuffer html("<html><Head></Head><body>");
    m_converter.insertStyleSheets(html);
    EXPECT_STREQ(html.getString(), "<html><Head></Head><body>");

    Mhtml empty;
    StringBuffer untouched("<head></HEAD>");
    empty.insertStyleSheets(untouched);
    EXPECT_STREQ(untouched.getString(), "<head></HEAD>");
}

TEST_F(StyleSheetTest, FetchResourceFromFiles) {
    m_dir.write("data.bin", std::string("a\0b", 3));
    const std::string absolute = m_dir.file("data.bin");
    for (const std::string& url : {std::string("data.bin"), "file://" + absolute,
                                   "FILE:" + absolute, "file:///" + absolute.substr(1)}) {
        DataBuffer data;
        ASSERT_TRUE(m_converter.fetchResource(url.c_str(), data)) << url;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.getData()), data.getSize()),
                  std::string("a\0b", 3))
            << url;
    }
    DataBuffer missing;
    EXPECT_FALSE(m_converter.fetchResource("nothing.bin", missing));
}

TEST_F(StyleSheetTest, AWebPageNeverReadsLocalFiles) {
    m_dir.write("secret.txt", "private");
    m_dir.write("s.css", "a{}");
    m_converter.currentContext().m_fromWeb = true;
    const std::string absolute = "file://" + m_dir.file("secret.txt");
    for (const std::string& url : {absolute, std::string("secret.txt"), std::string("ftp://host/x"),
                                   std::string("mailto:x")}) {
        m_log.clear();
        DataBuffer data;
        EXPECT_FALSE(m_converter.fetchResource(url.c_str(), data)) << url;
        EXPECT_EQ(data.getSize(), 0u);
        const std::vector<std::string> expected{
            "error: Refused to read a local file for a page from the web", "data: url=" + url};
        EXPECT_EQ(m_log.lines(), expected);
    }

    m_log.clear();
    EXPECT_EQ(rewriteLinkTags("<link rel=stylesheet href=s.css>"),
              "<link rel=stylesheet href=s.css>");
    const std::vector<std::string> expected{
        "error: Refused to read a local file for a page from the web", "data: url=s.css",
        "error: Failed to download style sheet", "data: style_sheet_url=s.css"};
    EXPECT_EQ(m_log.lines(), expected);

    // A local page keeps reading local files, whatever its base says.
    m_converter.currentContext().m_fromWeb = false;
    DataBuffer data;
    EXPECT_TRUE(m_converter.fetchResource(absolute.c_str(), data));
}

TEST(VerboseTags, TheCleanerLogsOnlyWhenAsked) {
    Mhtml converter;
    RecordingLog log;
    configure(converter, Mode::MailSafe);
    converter.m_log = &log;
    StringBuffer html("<img src=a.gif>");
    converter.rewriteImages(html);
    EXPECT_TRUE(log.lines().empty());
    converter.m_verboseTags = true;
    StringBuffer again("<img src=b.gif>");
    converter.rewriteImages(again);
    ASSERT_FALSE(log.lines().empty());
    EXPECT_EQ(log.lines().front(), "data: cleaning_tag=<img src=b.gif>");
}

} // namespace
