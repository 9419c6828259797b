#include "convert/CssReferences.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Context = CssReferences::Context;
using ImportAction = CssReferences::ImportAction;

// Every address becomes "[address]" (data: ones are left alone); imports
// come from a table, anything not in it is kept.
struct Recorder {
    std::vector<std::string> urls;
    std::vector<std::string> imports;
    std::map<std::string, std::pair<ImportAction, std::string>> sheets;

    CssReferences::Callbacks callbacks() {
        CssReferences::Callbacks callbacks;
        callbacks.url = [this](const std::string& address, std::string& replacement) {
            urls.push_back(address);
            if (address.rfind("data:", 0) == 0) {
                return false;
            }
            replacement = "[" + address + "]";
            return true;
        };
        callbacks.import = [this](const std::string& address, std::string& sheet) {
            imports.push_back(address);
            const auto found = sheets.find(address);
            if (found == sheets.end()) {
                return ImportAction::Keep;
            }
            sheet = found->second.second;
            return found->second.first;
        };
        callbacks.chooseFontSource = true;
        return callbacks;
    }
};

struct UrlCase {
    const char* name;
    const char* css;
    const char* expected;
    std::vector<std::string> addresses;
};

TEST(CssReferences, EveryUrlWhateverThePropertyOrRule) {
    const std::vector<UrlCase> cases = {
        {"background shorthand",
         "p{background:#fff url(a.png) no-repeat}",
         "p{background:#fff url([a.png]) no-repeat}",
         {"a.png"}},
        {"double quotes",
         "p{background-image:url(\"b.gif\")}",
         "p{background-image:url([b.gif])}",
         {"b.gif"}},
        {"single quotes and blanks",
         "li{list-style:url( 'c.gif' ) inside}",
         "li{list-style:url([c.gif]) inside}",
         {"c.gif"}},
        {"upper case token", "p{cursor:URL(d.cur),auto}", "p{cursor:URL([d.cur]),auto}", {"d.cur"}},
        {"several in one value",
         "p{background:url(a.png),url('b.png');border-image:url(e.png) 30 round}",
         "p{background:url([a.png]),url([b.png]);border-image:url([e.png]) 30 round}",
         {"a.png", "b.png", "e.png"}},
        {"content and mask",
         "p::before{content:url(i.svg#home)}q{mask:url(m.svg)}",
         "p::before{content:url([i.svg#home])}q{mask:url([m.svg])}",
         {"i.svg#home", "m.svg"}},
        {"data left alone",
         "p{background:url(data:image/gif;base64,R0l=)}",
         "p{background:url(data:image/gif;base64,R0l=)}",
         {"data:image/gif;base64,R0l="}},
        {"quoted value with a parenthesis",
         "p{background:url(\"a(1).png\")}",
         "p{background:url([a(1).png])}",
         {"a(1).png"}},
        {"comment untouched", "/* url(x.png) */p{}", "/* url(x.png) */p{}", {}},
        {"string untouched",
         "p::after{content:\"url(x.png)\"}",
         "p::after{content:\"url(x.png)\"}",
         {}},
        {"part of a longer name", "p{background:myurl(x.png)}", "p{background:myurl(x.png)}", {}},
        {"no closing parenthesis", "p{background:url(x.png", "p{background:url(x.png", {}},
        {"unclosed quote", "p{background:url(\"x.png)}", "p{background:url(\"x.png)}", {}},
        {"image-set urls",
         "p{background:image-set(url(a.png) 1x,url(b.png) 2x)}",
         "p{background:image-set(url([a.png]) 1x,url([b.png]) 2x)}",
         {"a.png", "b.png"}},
        {"html comment markers of a style block",
         "<style type=\"text/css\"><!--\nbody{background:url(bg.gif)}\n--></style>",
         "<style type=\"text/css\"><!--\nbody{background:url([bg.gif])}\n--></style>",
         {"bg.gif"}},
        {"escaped parenthesis",
         "p{background:url(a\\).png)}",
         "p{background:url([a).png])}",
         {"a).png"}},
        {"nothing", "p{color:red}", "p{color:red}", {}},
    };
    for (const UrlCase& c : cases) {
        Recorder recorder;
        EXPECT_EQ(CssReferences::rewrite(c.css, Context::Sheet, recorder.callbacks()), c.expected)
            << c.name;
        EXPECT_EQ(recorder.urls, c.addresses) << c.name;
    }
}

TEST(CssReferences, StyleAttributesMayQuoteWithCharacterReferences) {
    const std::vector<UrlCase> cases = {
        {"entity quotes",
         "background:url(&quot;a.png&quot;)",
         "background:url([a.png])",
         {"a.png"}},
        {"numeric entity", "background:url(&#39;b.png&#39;)", "background:url([b.png])", {"b.png"}},
        {"plain quotes",
         "background-image:url('c.png')",
         "background-image:url([c.png])",
         {"c.png"}},
        {"no rules in an attribute", "@import url(x.css);", "@import url([x.css]);", {"x.css"}},
    };
    for (const UrlCase& c : cases) {
        Recorder recorder;
        EXPECT_EQ(CssReferences::rewrite(c.css, Context::Attribute, recorder.callbacks()),
                  c.expected)
            << c.name;
        EXPECT_EQ(recorder.urls, c.addresses) << c.name;
        EXPECT_TRUE(recorder.imports.empty()) << c.name;
    }
}

TEST(CssReferences, UrlAddress) {
    struct Case {
        const char* value;
        Context context;
        const char* expected;
    };
    const Case cases[] = {
        {"a.png", Context::Sheet, "a.png"},
        {"  a.png\n", Context::Sheet, "a.png"},
        {"\"a.png\"", Context::Sheet, "a.png"},
        {" ' a b.png ' ", Context::Sheet, "a b.png"},
        {"\"a.png'", Context::Sheet, "\"a.png'"},
        {"&quot;a.png&quot;", Context::Sheet, "&quot;a.png&quot;"},
        {"&quot;a.png&quot;", Context::Attribute, "a.png"},
        {"&apos;a.png&apos;", Context::Attribute, "a.png"},
        {"&#34; a.png &#34;", Context::Attribute, "a.png"},
        {"", Context::Sheet, ""},
        // CSS escapes stand for the characters a reader takes.
        {"img/a\\(1\\).gif", Context::Sheet, "img/a(1).gif"},
        {"'a\\'b.png'", Context::Sheet, "a'b.png"},
        {"a\\20 b.png", Context::Sheet, "a b.png"},
        {"a\\000020b.png", Context::Sheet, "a b.png"},
        {"a\\e9 .png", Context::Sheet, "a\xC3\xA9.png"},
        {"a\\1F600x", Context::Sheet, "a\xF0\x9F\x98\x80x"},
        {"a\\0 b", Context::Sheet,
         "a\xEF\xBF\xBD"
         "b"},
        {"a\\D800 b", Context::Sheet,
         "a\xEF\xBF\xBD"
         "b"},
        {"\"a\\\nb\"", Context::Sheet, "ab"},
        {"a\\41\r\nb", Context::Sheet, "aAb"},
        {"a\\", Context::Sheet, "a\\"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CssReferences::urlAddress(c.value, c.context), c.expected) << c.value;
    }
}

struct ImportCase {
    const char* name;
    const char* css;
    std::map<std::string, std::pair<ImportAction, std::string>> sheets;
    const char* expected;
    std::vector<std::string> imports;
};

TEST(CssReferences, ImportsArePutInPlace) {
    const std::vector<ImportCase> cases = {
        {"url form",
         "@import url(a.css);\np{}",
         {{"a.css", {ImportAction::Inline, "A"}}},
         "A\np{}",
         {"a.css"}},
        {"string form",
         "@import 'a.css';p{}",
         {{"a.css", {ImportAction::Inline, "A"}}},
         "Ap{}",
         {"a.css"}},
        {"media list",
         "@import \"a.css\" screen and (min-width: 600px) ;",
         {{"a.css", {ImportAction::Inline, "A"}}},
         "@media screen and (min-width: 600px) {\nA\n}",
         {"a.css"}},
        {"url form with media",
         "@IMPORT url( 'p.css' ) print;",
         {{"p.css", {ImportAction::Inline, "P"}}},
         "@media print {\nP\n}",
         {"p.css"}},
        {"layer and supports",
         "@import url(l.css) layer(base) supports(display: grid) screen;",
         {{"l.css", {ImportAction::Inline, "L"}}},
         "@layer base {\n@supports (display: grid) {\n@media screen {\nL\n}\n}\n}",
         {"l.css"}},
        {"anonymous layer",
         "@import url(l.css) layer;",
         {{"l.css", {ImportAction::Inline, "L"}}},
         "@layer {\nL\n}",
         {"l.css"}},
        {"dropped",
         "@import url(a.css);p{}",
         {{"a.css", {ImportAction::Drop, ""}}},
         "p{}",
         {"a.css"}},
        {"kept when it cannot be fetched",
         "@import url(a.css) print;p{}",
         {},
         "@import url(a.css) print;p{}",
         {"a.css"}},
        {"end of a style element without a semicolon",
         "<style>@import url(a.css)</style>",
         {{"a.css", {ImportAction::Inline, "A"}}},
         "<style>A</style>",
         {"a.css"}},
        {"two in a row",
         "@import url(a.css);@import url(b.css) print;",
         {{"a.css", {ImportAction::Inline, "A"}}, {"b.css", {ImportAction::Inline, "B"}}},
         "A@media print {\nB\n}",
         {"a.css", "b.css"}},
        {"inside an html comment of a style block",
         "<!-- @import url(a.css); -->",
         {{"a.css", {ImportAction::Inline, "A"}}},
         "<!-- A -->",
         {"a.css"}},
        {"not an import", "@imports url(a.css);", {}, "@imports url([a.css]);", {}},
        {"in a comment", "/* @import url(a.css); */", {}, "/* @import url(a.css); */", {}},
        {"no address", "@import ;p{}", {}, "@import ;p{}", {}},
    };
    for (const ImportCase& c : cases) {
        Recorder recorder;
        recorder.sheets = c.sheets;
        EXPECT_EQ(CssReferences::rewrite(c.css, Context::Sheet, recorder.callbacks()), c.expected)
            << c.name;
        EXPECT_EQ(recorder.imports, c.imports) << c.name;
    }
}

TEST(CssReferences, FontPreference) {
    struct Case {
        const char* entry;
        int expected;
    };
    const Case cases[] = {
        {"url(f.woff2) format(\"woff2\")", 0},
        {"url(f.woff2)", 0},
        {"url('f.WOFF2?v=4.7.0')", 0},
        {"url(f.bin) format('woff2-variations')", 0},
        {"url(f.woff) format(\"woff\")", 1},
        {"url(f.woff#x)", 1},
        {"url(f.ttf) format(\"truetype\")", 2},
        {"url(f.otf)", 2},
        {"url(f.otf) format(opentype)", 2},
        {"url(f.eot?#iefix) format(\"embedded-opentype\")", 3},
        {"url(f.svg#font) format(\"svg\")", 3},
        {"url(f.woff2) format(\"svg\")", 3},
        {"local(\"Font\")", 3},
        {"url(f.ttc)", 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CssReferences::fontPreference(c.entry), c.expected) << c.entry;
    }
}

TEST(CssReferences, OneFontSourceIsKept) {
    const std::vector<UrlCase> cases = {
        {"woff2 before woff and ttf",
         "@font-face{font-family:A;src:url(a.ttf) format('truetype'),url(a.woff2) "
         "format('woff2'),url(a.woff) format('woff')}",
         "@font-face{font-family:A;src:url([a.woff2]) format('woff2')}",
         {"a.woff2"}},
        {"woff when there is no woff2",
         "@font-face { src: local('A'), url(\"a.ttf\"), url(\"a.woff\") ; font-weight: bold }",
         "@font-face { src: url([a.woff]) ; font-weight: bold }",
         {"a.woff"}},
        {"the first of truetype and opentype",
         "@font-face{src:url(a.otf),url(a.ttf)}",
         "@font-face{src:url([a.otf])}",
         {"a.otf"}},
        {"only the last src declaration counts",
         "@font-face {\n  font-family: I;\n  src: url(i.eot);\n  src: url(i.eot?#iefix) "
         "format('embedded-opentype'), url(i.woff2) format('woff2');\n}",
         "@font-face {\n  font-family: I;\n  src: url([i.woff2]) format('woff2');\n}",
         {"i.woff2"}},
        {"nothing ranked: the first address",
         "@font-face{src:url(a.eot) format('embedded-opentype'),url(a.svg#f) format('svg')}",
         "@font-face{src:url([a.eot]) format('embedded-opentype')}",
         {"a.eot"}},
        {"local only",
         "@font-face{src:local(A),local(B)}",
         "@font-face{src:local(A),local(B)}",
         {}},
        {"other url() in the rule",
         "@font-face{src:url(a.woff);x:url(b.png)}",
         "@font-face{src:url([a.woff]);x:url([b.png])}",
         {"a.woff", "b.png"}},
        {"data font stays as it is",
         "@font-face{src:url(data:font/woff2;base64,d09G) format('woff2'),url(a.ttf)}",
         "@font-face{src:url(data:font/woff2;base64,d09G) format('woff2')}",
         {"data:font/woff2;base64,d09G"}},
        {"comma inside a quoted address",
         "@font-face{src:url('a,b.woff'),url(c.woff2)}",
         "@font-face{src:url([c.woff2])}",
         {"c.woff2"}},
        {"inside a media block",
         "@media screen{@font-face{src:url(a.woff),url(a.woff2)}p{background:url(p.png)}}",
         "@media screen{@font-face{src:url([a.woff2])}p{background:url([p.png])}}",
         {"a.woff2", "p.png"}},
        {"unclosed rule",
         "@font-face{src:url(a.ttf),url(a.woff)",
         "@font-face{src:url([a.woff])",
         {"a.woff"}},
        {"no block",
         "@font-face;p{background:url(x.png)}",
         "@font-face;p{background:url([x.png])}",
         {"x.png"}},
    };
    for (const UrlCase& c : cases) {
        Recorder recorder;
        EXPECT_EQ(CssReferences::rewrite(c.css, Context::Sheet, recorder.callbacks()), c.expected)
            << c.name;
        EXPECT_EQ(recorder.urls, c.addresses) << c.name;
    }
}

TEST(CssReferences, WrapImported) {
    EXPECT_EQ(CssReferences::wrapImported("", "S"), "S");
    EXPECT_EQ(CssReferences::wrapImported("  ", "S"), "S");
    EXPECT_EQ(CssReferences::wrapImported(" print, screen ", "S"), "@media print, screen {\nS\n}");
    EXPECT_EQ(CssReferences::wrapImported("supports(selector(a>b))", "S"),
              "@supports (selector(a>b)) {\nS\n}");
    EXPECT_EQ(CssReferences::wrapImported("layers", "S"), "@media layers {\nS\n}");
}

TEST(CssReferences, BinaryAndLargeTextEndsEveryScan) {
    // NUL bytes and lone markers at the end never run a scan past the text.
    const std::string tails[] = {"url(",
                                 "url(\"",
                                 "@import",
                                 "@import url(",
                                 "@font-face{",
                                 "/*",
                                 "\"",
                                 "@font-face{src:url(",
                                 std::string("a\0b", 3)};
    for (const std::string& tail : tails) {
        Recorder recorder;
        const std::string css = "p{}" + tail;
        EXPECT_EQ(CssReferences::rewrite(css, Context::Sheet, recorder.callbacks()), css) << tail;
    }
    std::string many;
    for (int i = 0; i < 20000; ++i) {
        many += "p{background:url(a" + std::to_string(i % 10) + ".png)}";
    }
    Recorder recorder;
    const std::string out = CssReferences::rewrite(many, Context::Sheet, recorder.callbacks());
    EXPECT_EQ(recorder.urls.size(), 20000u);
    EXPECT_EQ(out.size(), many.size() + 2 * 20000);
}

} // namespace
