#include "convert/TagAttributeEdits.h"
#include "foundation/StringBuffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TagAttributeEdits, RemoveRenameInsert) {
    struct Case {
        const char* name;
        const char* tag;
        int edit; // 0 remove "sizes", 1 rename "data-src" to "src", 2 insert src="x.png"
        const char* expected;
        bool changed;
    };
    const Case cases[] = {
        {"remove", "<img src=\"a\" sizes=\"100vw\" alt=\"b\">", 0, "<img src=\"a\" alt=\"b\">",
         true},
        {"remove single quoted", "<img sizes='1' src=\"a\">", 0, "<img src=\"a\">", true},
        {"remove whole name only", "<img data-sizes=\"1\">", 0, "<img data-sizes=\"1\">", false},
        {"remove any case", "<img SIZES=\"1\">", 0, "<img>", true},
        {"rename", "<img data-src=\"a.png\" alt=\"\">", 1, "<img src=\"a.png\" alt=\"\">", true},
        {"rename missing", "<img alt=\"data-src\">", 1, "<img alt=\"data-src\">", false},
        {"insert", "<img alt=\"b\">", 2, "<img src=\"x.png\" alt=\"b\">", true},
        {"insert into a bare tag", "<img>", 2, "<img src=\"x.png\">", true},
        {"insert before a slash", "<img/>", 2, "<img src=\"x.png\"/>", true},
    };
    for (const Case& c : cases) {
        StringBuffer tag(c.tag);
        bool changed = true;
        if (c.edit == 0) {
            changed = removeTagAttribute(tag, "sizes");
        } else if (c.edit == 1) {
            changed = renameTagAttribute(tag, "data-src", "src");
        } else {
            insertTagAttribute(tag, "src", "x.png");
        }
        EXPECT_STREQ(tag.getString(), c.expected) << c.name;
        EXPECT_EQ(changed, c.changed) << c.name;
    }
}

TEST(TagAttributeEdits, RemoveBareAttributes) {
    struct Case {
        const char* name;
        const char* tag;
        const char* expected;
        bool changed;
    };
    const Case cases[] = {
        {"before others", "<img src data-src=\"a\">", "<img data-src=\"a\">", true},
        {"last, any case", "<img alt=\"x\" SRC>", "<img alt=\"x\">", true},
        {"before a slash", "<img alt=\"x\" src/>", "<img alt=\"x\"/>", true},
        {"every one", "<img src src alt=\"\">", "<img alt=\"\">", true},
        {"with a value stays", "<img src=\"a\" src = 'b'>", "<img src=\"a\" src = 'b'>", false},
        {"inside a value stays", "<img alt=\"a src b\" title='src'>",
         "<img alt=\"a src b\" title='src'>", false},
        {"a longer name stays", "<img srcx data-src=\"a\">", "<img srcx data-src=\"a\">", false},
    };
    for (const Case& c : cases) {
        StringBuffer tag(c.tag);
        EXPECT_EQ(removeBareTagAttributes(tag, "src"), c.changed) << c.name;
        EXPECT_STREQ(tag.getString(), c.expected) << c.name;
    }
}

TEST(TagAttributeEdits, RawTagEndAndStyle) {
    struct Case {
        const char* text;
        long end;          // -1: none
        const char* style; // null: no style attribute
    };
    const Case cases[] = {
        {"<div style=\"background:url(a.png)\">x", 34, "background:url(a.png)"},
        {"<div style='a:b' style=\"c:d\">", 28, "a:b"},
        {"<div title=\"a>b\" style = x:y>", 28, "x:y"},
        {"<div STYLE=\"\">", 13, ""},
        {"<div data-style=\"a\" hidden>", 26, nullptr},
        {"<p>", 2, nullptr},
        {"<div style=\"open", -1, nullptr},
        {"<div style=x", -1, "x"},
        {"<br/>", 4, nullptr},
        {"<a href=b/ style=c>", 18, "c"},
    };
    for (const Case& c : cases) {
        const std::string text = c.text;
        const RawTag tag = readRawTag(text, 0);
        if (c.end < 0) {
            EXPECT_EQ(tag.end, std::string_view::npos) << c.text;
        } else {
            EXPECT_EQ(tag.end, static_cast<size_t>(c.end)) << c.text;
        }
        EXPECT_EQ(tag.style.present, c.style != nullptr) << c.text;
        if (c.style != nullptr && tag.style.present) {
            EXPECT_EQ(text.substr(tag.style.start, tag.style.end - tag.style.start), c.style)
                << c.text;
        }
    }
}

} // namespace
