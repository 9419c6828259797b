#include "convert/DraftStyles.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

void PrintTo(const DraftStyles::Piece& piece, std::ostream* out) {
    *out << "{media \"" << piece.media << "\", css \"" << piece.css << "\"}";
}

namespace {

using Context = CssReferences::Context;
using Piece = DraftStyles::Piece;

constexpr const char* kPng = "data:image/png;base64,iVBO";
constexpr const char* kGif = "data:image/gif;base64,R0lG";

std::string lookUp(std::string_view contentId) {
    static const std::map<std::string, std::string, std::less<>> parts = {{"a", kPng}, {"b", kGif}};
    const auto found = parts.find(contentId);
    return found == parts.end() ? std::string() : found->second;
}

struct InlineCase {
    const char* name;
    Context context;
    std::string css;
    std::string expected;
};

TEST(DraftStyles, CidUrlsBecomeDataUrlsInEveryForm) {
    const std::string png = kPng;
    const std::string gif = kGif;
    const std::vector<InlineCase> cases = {
        {"unquoted in a shorthand", Context::Sheet, "p{background:#fff url(cid:a) no-repeat}",
         "p{background:#fff url(" + png + ") no-repeat}"},
        {"double quotes", Context::Sheet, "p{background-image:url(\"cid:a\")}",
         "p{background-image:url(" + png + ")}"},
        {"single quotes, blanks, upper case", Context::Sheet, "p{background-image:URL( 'CID:a' )}",
         "p{background-image:URL(" + png + ")}"},
        {"several pictures and image-set", Context::Sheet,
         "p{background:url(cid:a),url(cid:b)}q{b:image-set(url(cid:a) 1x,url(cid:b) 2x)}",
         "p{background:url(" + png + "),url(" + gif + ")}q{b:image-set(url(" + png + ") 1x,url(" +
             gif + ") 2x)}"},
        {"a fragment is kept", Context::Sheet, "i{mask:url(cid:b#icon)}",
         "i{mask:url(" + gif + "#icon)}"},
        {"a font source", Context::Sheet,
         "@font-face{font-family:f;src:url(cid:a) format(\"woff2\")}",
         "@font-face{font-family:f;src:url(" + png + ") format(\"woff2\")}"},
        {"an imported sheet", Context::Sheet, "@import url(cid:b) screen;",
         "@import url(" + gif + ") screen;"},
        {"inside @media", Context::Sheet, "@media print{p{background:url(cid:a)}}",
         "@media print{p{background:url(" + png + ")}}"},
        {"a style attribute with character references", Context::Attribute,
         "background:url(&quot;cid:a&quot;) top", "background:url(" + png + ") top"},
        {"unknown ids and other addresses stay", Context::Sheet,
         "p{background:url(cid:zz)}q{background:url(http://h/cid:a.png)}",
         "p{background:url(cid:zz)}q{background:url(http://h/cid:a.png)}"},
        {"strings and comments stay", Context::Sheet,
         "/* url(cid:a) */p{content:\"url(cid:a)\";background:url(cid:b)}",
         "/* url(cid:a) */p{content:\"url(cid:a)\";background:url(" + gif + ")}"},
        {"a sheet without any", Context::Sheet, "p{color:red}", "p{color:red}"},
    };
    for (const InlineCase& c : cases) {
        EXPECT_EQ(DraftStyles::inlineContentIds(c.css, c.context, lookUp), c.expected) << c.name;
    }
}

struct SplitCase {
    const char* name;
    const char* css;
    std::vector<Piece> expected;
};

TEST(DraftStyles, TopLevelMediaBlocksAreCutOutInSourceOrder) {
    const std::vector<SplitCase> cases = {
        {"a sheet without any", "p{color:red}", {{"", "p{color:red}"}}},
        {"an empty sheet", "", {{"", ""}}},
        {"rules before and after keep their places",
         "a{x:1} @media (max-width:600px){a{x:2}} b{y:1}",
         {{"", "a{x:1} "}, {"(max-width:600px)", "a{x:2}"}, {"", " b{y:1}"}}},
        {"nested blocks and at-rules stay inside",
         "@media screen{@supports (display:grid){a{b:c}} @media print{d{e:f}}}",
         {{"screen", "@supports (display:grid){a{b:c}} @media print{d{e:f}}"}}},
        {"@media nested in another rule is not top-level",
         "@supports (x:y){@media print{a{b:c}}}",
         {{"", "@supports (x:y){@media print{a{b:c}}}"}}},
        {"strings and comments with @media and braces",
         "/* @media print { */a{content:\"@media x {\"}b{content:'}'}",
         {{"", "/* @media print { */a{content:\"@media x {\"}b{content:'}'}"}}},
        {"a brace in a string does not end the block",
         "@media print{a{content:\"}\"}}b{c:d}",
         {{"print", "a{content:\"}\"}"}, {"", "b{c:d}"}}},
        {"a url() with braces and @media",
         "a{b:url(/@media/{x}.png)}",
         {{"", "a{b:url(/@media/{x}.png)}"}}},
        {"the query without comments, blanks made one",
         "@MEDIA  screen and /* wide */\n (min-width: 40em) { a{b:c} }",
         {{"screen and (min-width: 40em)", " a{b:c} "}}},
        {"an unclosed block runs to the end", "@media print { a{b:c}", {{"print", " a{b:c}"}}},
        {"blank stretches between blocks are left out",
         "@media a{x{}}\n@media b{y{}}\n",
         {{"a", "x{}"}, {"b", "y{}"}}},
        {"so are comments and the markers of old pages",
         "<!--\n@media a{x{}} /* end */\n-->",
         {{"a", "x{}"}}},
        {"names that only begin with @media",
         "@media-x{a{}}@mediafoo{b{}}",
         {{"", "@media-x{a{}}@mediafoo{b{}}"}}},
        {"a statement without a block", "@media print;a{b:c}", {{"", "@media print;a{b:c}"}}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(DraftStyles::splitTopLevelMedia(c.css), c.expected) << c.name;
    }
}

struct MediaCase {
    const char* outer;
    const char* inner;
    bool combined;
    const char* expected;
};

TEST(DraftStyles, MediaOfAnElementAndItsBlockCombine) {
    const std::vector<MediaCase> cases = {
        {"", "print", true, "print"},
        {"all", "(max-width:600px)", true, "(max-width:600px)"},
        {"screen", "all", true, "screen"},
        {"screen", "(max-width:600px)", true, "screen and (max-width:600px)"},
        {"screen, print", "(max-width:600px)", true,
         "screen and (max-width:600px), print and (max-width:600px)"},
        {"screen and (min-width:1px)", "screen and (max-width:2px)", true,
         "screen and (min-width:1px) and (max-width:2px)"},
        {"only screen", "(x:1)", true, "screen and (x:1)"},
        {"screen", "(a:1) or (b:2)", true, "screen and ((a:1) or (b:2))"},
        {"screen", "print", true, "not all"},
        {"not print", "(x:1)", false, ""},
        {"screen", "not print", false, ""},
    };
    for (const MediaCase& c : cases) {
        std::string media;
        EXPECT_EQ(DraftStyles::combineMedia(c.outer, c.inner, media), c.combined)
            << c.outer << " / " << c.inner;
        if (c.combined) {
            EXPECT_EQ(media, c.expected) << c.outer << " / " << c.inner;
        }
    }
}

} // namespace
