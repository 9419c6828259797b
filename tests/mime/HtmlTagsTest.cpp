#include "mime/HtmlTags.h"

#include "foundation/StringBuffer.h"
#include "support/RecordingLog.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string text(const StringBuffer& sb) {
    return std::string(sb.getString(), static_cast<size_t>(sb.getSize()));
}

struct TagCase {
    const char* input;
    const char* expected;
    const char* ending; // the clean_tag_N entry that the function logs
};

TEST(CleanTag, NormalForms) {
    const TagCase cases[] = {
        {"<IMG SRC=a.gif WIDTH=10>", R"(<IMG SRC="a.gif" WIDTH="10">)", "clean_tag_4"},
        {"<a href='x.htm'>", "<a href='x.htm'>", "clean_tag_4"},
        {"<input disabled name=q>", R"(<input disabled name="q">)", "clean_tag_4"},
        {R"(<A HREF = "b.htm" >)", R"(<A HREF="b.htm">)", "clean_tag_4"},
        {R"(<img src=\"a.gif\">)", R"(<img src="a.gif">)", "clean_tag_4"},
        {"<td nowrap />", "<td>", "clean_tag_3"},
        {"<br />", "<br />", "clean_tag_6"},
        {"<br>", "<br>", "clean_tag_3"},
        {"<p >", "<p>", "clean_tag_2"},
        {"<td nowrap>", "<td nowrap>", "clean_tag_6"},
        {"  <  IMG\tsrc=a.gif>", R"(<IMG src="a.gif">)", "clean_tag_4"},
        {"<img src=a\tb.gif>", "<img src=\"a\tb.gif\">", "clean_tag_4"},
        {"<img\r\nsrc=\"a\r\nb\">", R"(<img src="ab">)", "clean_tag_4"},
        {"<img alt=\"x\ny\" hidden>", "<img alt=\"x\ny\" hidden>", "clean_tag_6"},
        {R"(<img src="a.gif" width=1)", R"(<img src="a.gif" width="1">)", "clean_tag_3"},
        {"<img src=a.gif 7>", R"(<img src="a.gif" 7>)", "clean_tag_6"},
        {"<img src=a.gif a 7>", R"(<img src="a.gif">)", "clean_tag_3"},
        {"<a href=\"x>", "<a href=\"x>\">", "clean_tag_3"},
        {"<\"img\" ''src='a'>", "<\"img\" src='a'>", "clean_tag_4"},
    };
    for (const TagCase& c : cases) {
        StringBuffer out("stale");
        RecordingLog log;
        cleanTag(c.input, out, &log);
        EXPECT_EQ(text(out), c.expected) << c.input;
        ASSERT_EQ(log.lines().size(), 2U) << c.input;
        EXPECT_EQ(log.lines()[0], std::string("data: cleaning_tag=") + c.input);
        EXPECT_EQ(log.lines()[1], std::string("data: ") + c.ending + "=" + c.expected) << c.input;
    }
}

TEST(CleanTag, MalformedInputs) {
    const TagCase cases[] = {
        {"no tag here", "", "clean_tag_1"},
        {"", "", "clean_tag_1"},
        {"<", "<>", "clean_tag_3"},
        {"<img src=", R"(<img src="">)", "clean_tag_3"},
        {"<img =x>", R"(<img ="x">)", "clean_tag_4"},
        {"<img src='unclosed>", "<img src='unclosed>'>", "clean_tag_3"},
    };
    for (const TagCase& c : cases) {
        StringBuffer out;
        RecordingLog log;
        cleanTag(c.input, out, &log);
        EXPECT_EQ(text(out), c.expected) << c.input;
        EXPECT_EQ(log.lines().back(), std::string("data: ") + c.ending + "=" + c.expected)
            << c.input;
    }
    StringBuffer out;
    cleanTag(nullptr, out, nullptr);
    EXPECT_EQ(out.getSize(), 0);
}

TEST(CleanTag, StopsAfterTheHundredAndFirstValuedAttribute) {
    std::string tag = "<img";
    for (int i = 0; i < 150; ++i) {
        tag += " a" + std::to_string(i) + "=" + std::to_string(i);
    }
    tag += ">";
    StringBuffer out;
    RecordingLog log;
    cleanTag(tag.c_str(), out, &log);
    const std::string result = text(out);
    EXPECT_NE(result.find("a100=\"100\""), std::string::npos);
    EXPECT_EQ(result.find("a101="), std::string::npos);
    EXPECT_NE(result.back(), '>');
    EXPECT_EQ(log.lines().back().rfind("data: clean_tag_5=", 0), 0U);

    std::string exactly = "<img";
    for (int i = 0; i < 101; ++i) {
        exactly += " b=1";
    }
    exactly += ">";
    cleanTag(exactly.c_str(), out, nullptr);
    EXPECT_EQ(out.lastChar(), '>');
}

struct AttributeCase {
    const char* tag;
    const char* name;
    const char* expected;
};

TEST(GetAttributeValue, QuotedValuesOnly) {
    const AttributeCase cases[] = {
        {R"(<a HREF="a\b.htm">)", "href", "a/b.htm"},
        {R"(<a href="x>)", "href", ""},
        {"<a href='single'>", "HREF", "single"},
        {R"(<a href=" padded ">)", "href", "padded"},
        {"<a href=unquoted>", "href", ""},
        {R"(<a href="">)", "href", ""},
        // Double quotes are looked for first, wherever they stand.
        {R"(<a x='1' href='s' x2="d" href="d">)", "href", "d"},
        // Only whole attribute names count.
        {R"(<img data-src="lazy.gif" src="real.gif">)", "src", "real.gif"},
        {R"(<a xhref="no">)", "href", ""},
        {R"(<img alt="x"src="y">)", "src", "y"},
        {R"(src="first" src="second")", "src", "first"},
        {R"(<img	src="tab">)", "src", "tab"},
        {"<img\nsrc=\"lf\">", "src", "lf"},
        {R"(<img src = "spaced">)", "src", ""},
    };
    for (const AttributeCase& c : cases) {
        StringBuffer out("stale");
        getAttributeValue(c.tag, c.name, out);
        EXPECT_EQ(text(out), c.expected) << c.tag;
    }
}

TEST(FindBaseHref, NeedsATagAndAValue) {
    const AttributeCase cases[] = {
        {R"(<html><BASE HREF="http://host/dir/"><body>)", "", "http://host/dir/"},
        {R"(<base target="_top"><body>)", "", ""},
        {R"(<base href="x")", "", ""},
        {R"(<basefont href="x">)", "", ""},
        {"<p>no base</p>", "", ""},
    };
    for (const AttributeCase& c : cases) {
        StringBuffer out("stale");
        EXPECT_EQ(findBaseHref(c.tag, out), *c.expected != 0) << c.tag;
        EXPECT_EQ(text(out), c.expected) << c.tag;
    }
}

struct MetaCase {
    const char* html;
    const char* expected; // "<unchanged>" when out keeps its old text
};

TEST(FindMetaCharset, DeclaringTagsInDocumentOrder) {
    const MetaCase cases[] = {
        {R"(<meta HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=windows-1251">)",
         "windows-1251"},
        {R"(<META http-equiv=content-type content="text/html;CHARSET=utf-8;x=y">)", "utf-8"},
        {R"(<meta http-equiv="content-type" content='text/html; charset=x;y"z'>)", "x;y"},
        {R"(<meta http-equiv="content-type" content="text/html; charset=a b">)", "a"},
        {R"(<meta http-equiv="content-type" content="text/html" charset="koi8-r">)", "koi8-r"},
        {R"(<meta http-equiv="content-type" content="text/html">)", ""},
        {R"(<meta name="x" content="y"><meta charset="utf-8">)", "utf-8"},
        {R"(<meta charset=UTF-8><meta http-equiv="Content-Type" content="text/html; charset=big5">)",
         "UTF-8"},
        {R"(<meta http-equiv="refresh" content="5" charset="no"><meta charset="iso-8859-2">)",
         "iso-8859-2"},
        {R"(<meta http-equiv="content-type" content=""><meta charset="latin2">)", "latin2"},
        {R"(<p>no meta</p>)", "<unchanged>"},
        {R"(<meta name="a" content="b">)", "<unchanged>"},
        {R"(<meta charset="">)", "<unchanged>"},
        {R"(<meta content="a>b" http-equiv="content-type" charset="q">)", "q"},
        {"<meta", "<unchanged>"},
    };
    for (const MetaCase& c : cases) {
        StringBuffer out("<unchanged>");
        findMetaCharset(c.html, out);
        EXPECT_EQ(text(out), c.expected) << c.html;
    }
}

} // namespace
