#include "PassTestSupport.h"

#include "convert/Mhtml.h"
#include "foundation/StringPair.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ResolveCase {
    const char* reference;
    const char* expected;
};

TEST(ResolveUrl, AgainstBaseAndRoot) {
    const ResolveCase cases[] = {
        {"a.gif", "http://host/dir/a.gif"},
        {"/pics/b.jpg?x=1", "http://host/pics/b.jpg?x=1"},
        {"//otherhost/c.png", "http://otherhost/c.png"},
        {"../img/a.gif", "http://host/dir/../img/a.gif"},
        {"", "http://host/dir/"},
        {"#", "http://host/dir/#"},
        {"HTTP://x/y", "HTTP://x/y"},
        {"https://x", "https://x"},
        {"File:///c/x", "File:///c/x"},
        {"ftp://x/y", "ftp://x/y"},
        {"c:\\x", "c:\\x"},
        // A scheme makes an address absolute; ":/" further on does not.
        {"mailto:x", "mailto:x"},
        {"a+b-c.d:x", "a+b-c.d:x"},
        {"1a:x", "http://host/dir/1a:x"},
        {"/api/res/x/https://cdn.example/y.jpg", "http://host/api/res/x/https://cdn.example/y.jpg"},
        {"img/x:/y.png", "http://host/dir/img/x:/y.png"},
        // Queries select the picture on today's image servers: they stay.
        {"a.GIF?x=1&y", "http://host/dir/a.GIF?x=1&y"},
        {"photo.jpg?itok=pwXT", "http://host/dir/photo.jpg?itok=pwXT"},
        {"http://h/a.JPG?q=.gif", "http://h/a.JPG?q=.gif"},
    };
    for (const ResolveCase& c : cases) {
        Mhtml converter;
        configure(converter, Mode::MailSafe);
        StringBuffer out;
        converter.resolveUrl(c.reference, out);
        EXPECT_STREQ(out.getString(), c.expected) << c.reference;
    }
}

TEST(ResolveUrl, OtherBases) {
    struct Case {
        const char* base;
        const char* root;
        const char* reference;
        const char* expected;
    };
    const Case cases[] = {
        {"http://host/dir/", "http://host", "a", "http://host/dir/a"},
        {"", "", "a", "a"},
        {"", "", "/a", "/a"},
        {"", "http://r", "/a", "http://r/a"},
        {"http://b", "", "/a", "http://b/a"},
        {"localhost", "", "x.htm", "localhost/x.htm"},
        {"http://host", "http://host", "", "http://host/"},
        // An address without a scheme takes the document's own.
        {"https://host/dir", "https://host", "//cdn/x.png", "https://cdn/x.png"},
        {"localhost", "", "//cdn/x.png", "http://cdn/x.png"},
    };
    for (const Case& c : cases) {
        Mhtml converter;
        configure(converter, Mode::MailSafe, c.base, c.root);
        StringBuffer out;
        converter.resolveUrl(c.reference, out);
        EXPECT_STREQ(out.getString(), c.expected) << c.base << " + " << c.reference;
    }
}

TEST(ResolveUrl, AppendsToTheOutput) {
    Mhtml converter;
    configure(converter, Mode::MailSafe);
    StringBuffer out("X");
    converter.resolveUrl("a.gif", out);
    EXPECT_STREQ(out.getString(), "Xhttp://host/dir/a.gif");
}

TEST(ResolveReference, LocalModeKeepsTheReference) {
    Mhtml converter;
    configure(converter, Mode::Local);
    StringBuffer out("old");
    converter.resolveReference("img/a.gif?x=1", out);
    EXPECT_STREQ(out.getString(), "img/a.gif?x=1");
    converter.m_local = false;
    StringBuffer web;
    converter.resolveReference("a.gif", web);
    EXPECT_STREQ(web.getString(), "http://host/dir/a.gif");
}

TEST(ContentIds, NewIdsHaveTheirForm) {
    Mhtml converter;
    StringBuffer first;
    StringBuffer second("old");
    converter.newContentId(first);
    converter.newContentId(second);
    EXPECT_TRUE(isContentId(first.getString())) << first.getString();
    EXPECT_TRUE(isContentId(second.getString())) << second.getString();
    EXPECT_STRNE(first.getString(), second.getString());
}

TEST(ContentIds, OneIdPerUrlWhateverItsCase) {
    Mhtml converter;
    configure(converter, Mode::MailSafe);
    StringBuffer a;
    StringBuffer b;
    StringBuffer c;
    converter.contentIdFor("http://host/dir/a.gif", a);
    converter.contentIdFor("http://host/dir/b.gif", b);
    converter.contentIdFor("HTTP://HOST/DIR/A.GIF", c);
    EXPECT_TRUE(isContentId(a.getString()));
    EXPECT_STREQ(a.getString(), c.getString());
    EXPECT_STRNE(a.getString(), b.getString());
    EXPECT_EQ(resourceUrls(converter),
              (std::vector<std::string>{"http://host/dir/a.gif", "http://host/dir/b.gif"}));

    StringBuffer untouched("keep");
    converter.contentIdFor(nullptr, untouched);
    EXPECT_STREQ(untouched.getString(), "keep");
    EXPECT_EQ(converter.currentResources().getSize(), 2);
}

TEST(ContentIds, EntriesAddedByOthersAreFound) {
    Mhtml converter;
    configure(converter, Mode::MailSafe);
    StringBuffer first;
    converter.contentIdFor("x.gif", first);
    converter.currentResources().appendObject(new StringPair("http://h/y.gif", "given-id"));
    StringBuffer out;
    converter.contentIdFor("HTTP://h/Y.gif", out);
    EXPECT_STREQ(out.getString(), "given-id");
    EXPECT_EQ(converter.currentResources().getSize(), 2);
}

TEST(ContentIds, SharedBetweenDocumentsOfOneConversion) {
    Mhtml converter;
    configure(converter, Mode::MailSafe);
    StringBuffer page;
    converter.contentIdFor("http://host/a.gif", page);
    converter.pushContext();
    StringBuffer frame;
    converter.contentIdFor("http://HOST/a.gif", frame);
    EXPECT_STREQ(frame.getString(), page.getString());
    // The frame's own map names the resource too, so that its loop sees it.
    EXPECT_EQ(resourceUrls(converter), std::vector<std::string>{"http://HOST/a.gif"});
    StringBuffer other;
    converter.contentIdFor("http://host/b.gif", other);
    converter.popContext();
    EXPECT_EQ(resourceUrls(converter), std::vector<std::string>{"http://host/a.gif"});

    // A new conversion starts afresh.
    converter.resetContexts();
    StringBuffer fresh;
    converter.contentIdFor("http://host/a.gif", fresh);
    EXPECT_STRNE(fresh.getString(), page.getString());
}

TEST(ContentIds, RelativeUrlsFromOtherDirectoriesAreOtherFiles) {
    TempDir root;
    root.write("sub/x", "");
    Mhtml converter;
    StringBuffer outer;
    StringBuffer inner;
    StringBuffer again;
    {
        ScopedWorkingDirectory here(root.path());
        configure(converter, Mode::Local);
        converter.contentIdFor("img/a.gif", outer);
        converter.pushContext();
        ScopedWorkingDirectory sub(root.path() + "/sub");
        converter.contentIdFor("img/a.gif", inner);
        converter.popContext();
        converter.pushContext();
        converter.contentIdFor("img/a.gif", again);
        converter.popContext();
    }
    EXPECT_STRNE(outer.getString(), inner.getString());
    EXPECT_STREQ(outer.getString(), again.getString());
}

TEST(ContentIds, PoppedContextLeavesNoStaleIndex) {
    Mhtml converter;
    configure(converter, Mode::MailSafe);
    for (int round = 0; round < 20; ++round) {
        converter.pushContext();
        StringBuffer id;
        converter.contentIdFor(("http://h/" + std::to_string(round) + ".gif").c_str(), id);
        EXPECT_EQ(converter.currentResources().getSize(), 1);
        converter.popContext();
    }
    EXPECT_EQ(converter.currentResources().getSize(), 0);
}

TEST(IsPageUrl, PagesAndFiles) {
    struct Case {
        const char* url;
        bool expected;
    };
    const Case cases[] = {
        {"http://host/dir/page.php", true},
        {"page.htm", true},
        {"http://host/img/a.gif", false},
        {"http://www.host.htm/a.gif", false},
        {"http://host.php", true},
        {"HTTP://host/x.ASP", true},
        {"http://host/x.jspx", true},
        {"http://host/a.html?img=b.gif", true},
        {"http://host/a.gif?page=b.php", true},
        {"file:///a.gif", false},
        {"x.asp.gif", true},
        {"http.php", true},
        {"http:/", false},
        {"", false},
    };
    for (const Case& c : cases) {
        Mhtml converter;
        EXPECT_EQ(converter.isPageUrl(c.url), c.expected) << c.url;
    }
    Mhtml converter;
    EXPECT_FALSE(converter.isPageUrl(nullptr));
}

struct CssCase {
    const char* name;
    std::string input;
    Mode mode;
    std::string expected;
    std::vector<std::string> resources;
};

TEST(RewriteCssBackgrounds, Table) {
    const std::vector<CssCase> cases = {
        {"plain",
         "body{background-image:url(bg.gif)}",
         Mode::MailSafe,
         "body{background-image:url(cid:CID0)}",
         {"http://host/dir/bg.gif"}},
        {"twice the same",
         "a{background-image: url(x.gif)} b{background-image :url(x.gif)}",
         Mode::MailSafe,
         "a{background-image: url(cid:CID0)} b{background-image :url(cid:CID0)}",
         {"http://host/dir/x.gif"}},
        {"shorthand made absolute, not embedded",
         "p{background: url(x.gif)}",
         Mode::MailSafe,
         "p{background: url(http://host/dir/x.gif)}",
         {}},
        {"a quoted address may hold a parenthesis",
         "x{background-image:url(\"a(1).gif\")}",
         Mode::MailSafe,
         "x{background-image:url(cid:CID0)}",
         {"http://host/dir/a(1).gif"}},
        {"mixed case and quotes",
         "Background-Image: URL( 'a.gif' )",
         Mode::MailSafe,
         "background-image: URL(cid:CID0)",
         {"http://host/dir/a.gif"}},
        {"double quotes",
         "x{background-image:url(\"b.gif\")}",
         Mode::MailSafe,
         "x{background-image:url(cid:CID0)}",
         {"http://host/dir/b.gif"}},
        {"unmatched quote kept",
         "x{background-image:url(\"b.gif')}",
         Mode::MailSafe,
         "x{background-image:url(cid:CID0)}",
         {"http://host/dir/\"b.gif'"}},
        {"class name stepped over",
         ".no-background-image{} x{background-image:url(y.gif)}",
         Mode::MailSafe,
         ".no-background-image{} x{background-image:url(cid:CID0)}",
         {"http://host/dir/y.gif"}},
        {"none then url",
         "a{background-image:none} p{background-image:url(z.gif)}",
         Mode::MailSafe,
         "a{background-image:none} p{background-image:url(cid:CID0)}",
         {"http://host/dir/z.gif"}},
        {"empty value",
         "a{background-image:url()}",
         Mode::MailSafe,
         "a{background-image:url(cid:CID0)}",
         {"http://host/dir/"}},
        {"no closing parenthesis",
         "a{background-image:url(a.gif",
         Mode::MailSafe,
         "a{background-image:url(cid:CID0a.gif",
         {"http://host/dir/"}},
        {"replaced where it stands",
         "a{x:url(http://h/a.gif)} b{background-image:url(a.gif)}",
         Mode::MailSafe,
         "a{x:url(http://h/a.gif)} b{background-image:url(cid:CID0)}",
         {"http://host/dir/a.gif"}},
        {"local mode",
         "a{background-image:url(img/a.gif)}",
         Mode::Local,
         "a{background-image:url(cid:CID0)}",
         {"img/a.gif"}},
        {"upper case property",
         "a{BACKGROUND-IMAGE:url(/r.gif)}",
         Mode::MailSafe,
         "a{background-image:url(cid:CID0)}",
         {"http://host/r.gif"}},
        {"marker text", "ab8s9asdfsld", Mode::MailSafe, "background-image", {}},
        {"nothing", "p{color:red}", Mode::MailSafe, "p{color:red}", {}},
    };
    for (const CssCase& c : cases) {
        Mhtml converter;
        configure(converter, c.mode);
        StringBuffer text(c.input.c_str());
        converter.rewriteCssBackgrounds(text);
        EXPECT_EQ(numberContentIds(converter, text.getString()), c.expected) << c.name;
        EXPECT_EQ(resourceUrls(converter), c.resources) << c.name;
    }
}

TEST(RewriteCssBackgrounds, AtMostOneHundredProperties) {
    std::string css;
    for (int i = 0; i <= 100; ++i) {
        css += "a{Background-Image:url(i" + std::to_string(i) + ".gif)}";
    }
    Mhtml converter;
    configure(converter, Mode::MailSafe);
    StringBuffer text(css.c_str());
    converter.rewriteCssBackgrounds(text);
    EXPECT_EQ(converter.currentResources().getSize(), 100);
    const std::string result = text.getString();
    // The property beyond the limit is not embedded, but no relative
    // address stays in a message.
    EXPECT_NE(result.find("a{Background-Image:url(http://host/dir/i100.gif)}"), std::string::npos);
    EXPECT_EQ(result.find("url(i99.gif)"), std::string::npos);
}

} // namespace
