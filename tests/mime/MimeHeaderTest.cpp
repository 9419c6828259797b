#include "mime/MimeHeader.h"
#include "mime/MimeField.h"

#include "foundation/StringBuffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string text(const StringBuffer& sb) {
    return std::string(sb.getString(), static_cast<size_t>(sb.getSize()));
}

std::string rendered(const MimeHeader& header, const char* before = "") {
    StringBuffer out(before);
    header.renderFields(out);
    return text(out);
}

struct FieldCase {
    const char* name;
    std::string fieldName;
    std::string value;
    std::string line;
    std::string storedName;
};

TEST(MimeField, SetFieldTable) {
    const FieldCase cases[] = {
        {"plain", "Subject", "Hello", "Subject: Hello", "Subject"},
        {"line trimmed at its ends only", "  X-Name\t", "  value \r\n", "X-Name:   value",
         "X-Name"},
        {"empty value", "A", "", "A:", "A"},
        {"fold kept", "content-type", "image/gif;\r\n\tname=\"a.gif\"",
         "content-type: image/gif;\r\n\tname=\"a.gif\"", "content-type"},
        {"fold with blank kept", "X", "a\r\n b", "X: a\r\n b", "X"},
        {"bare LF becomes blank", "Subject", "x\nBcc: someone", "Subject: x Bcc: someone",
         "Subject"},
        {"bare CR becomes blank", "Subject", "x\rBcc: someone", "Subject: x Bcc: someone",
         "Subject"},
        {"CR LF without blank", "Subject", "x\r\nBcc: y", "Subject: x  Bcc: y", "Subject"},
        {"LF CR", "Subject", "a\n\r b", "Subject: a   b", "Subject"},
        {"CR LF at end", "Subject", "a\r\n", "Subject: a", "Subject"},
        {"double break then fold", "X", "a\r\n\r\n\tb", "X: a  \r\n\tb", "X"},
        {"break in name", "Sub\nject", "v", "Sub ject: v", "Sub ject"},
    };
    for (const auto& c : cases) {
        MimeField field;
        field.setField(c.fieldName.c_str(), c.value.c_str());
        EXPECT_EQ(field.getLine(), c.line) << c.name;
        EXPECT_EQ(field.getName(), c.storedName) << c.name;
        EXPECT_EQ(field.getLineSize(), static_cast<int>(c.line.size())) << c.name;
    }
}

TEST(MimeField, NullTextsCountAsEmpty) {
    MimeField field;
    field.setField(nullptr, nullptr);
    EXPECT_STREQ(field.getLine(), ":");
    EXPECT_STREQ(field.getName(), "");
}

TEST(MimeField, AppendValue) {
    const std::pair<std::string, std::string> cases[] = {
        {"value", "value"},
        {" \t \tvalue", "value"},
        {"a: b", "a: b"},
        {"", ""},
    };
    for (const auto& [value, expected] : cases) {
        MimeField field;
        field.setField("Name", value.c_str());
        StringBuffer out("[");
        field.appendValue(out);
        EXPECT_EQ(text(out), "[" + expected) << value;
    }
}

TEST(MimeHeader, ReplaceFieldMovesItToTheEndAndTakesTheNewCase) {
    MimeHeader header;
    header.replaceField("subject", "one");
    header.replaceField("To", "a@b");
    header.replaceField("Subject", "two");
    EXPECT_EQ(rendered(header), "To: a@b\r\nSubject: two");
    EXPECT_EQ(header.getFieldCount(), 2);
}

TEST(MimeHeader, BlankValuesOnlyRemove) {
    const char* blanks[] = {nullptr, "", "   ", " \t\r\n"};
    for (const char* blank : blanks) {
        MimeHeader header;
        header.replaceField("Subject", "x");
        header.replaceField("A", "1");
        header.replaceField("SUBJECT", blank);
        EXPECT_EQ(rendered(header), "A: 1");
    }
}

TEST(MimeHeader, RemoveFieldKeepsTheOrderOfTheOthers) {
    MimeHeader header;
    header.replaceField("A", "1");
    header.replaceField("B", "2");
    header.replaceField("C", "3");
    header.removeField("b");
    EXPECT_EQ(rendered(header), "A: 1\r\nC: 3");
    header.removeField("missing");
    header.removeField(nullptr);
    EXPECT_EQ(header.getFieldCount(), 2);
}

TEST(MimeHeader, GetFieldValue) {
    MimeHeader header;
    header.replaceField("Content-ID", "\t <a.gif>");
    StringBuffer out("x");
    header.getFieldValue("content-id", out);
    EXPECT_EQ(text(out), "x<a.gif>");
    header.getFieldValue("Other", out);
    EXPECT_EQ(text(out), "x<a.gif>");
}

TEST(MimeHeader, RenderFields) {
    MimeHeader header;
    header.replaceField("A", "1");
    header.replaceField("B", "2");
    EXPECT_EQ(rendered(header), "A: 1\r\nB: 2");
    EXPECT_EQ(header.renderedSize(), 10);
    EXPECT_EQ(rendered(header, "pre\r\n"), "pre\r\nA: 1\r\nB: 2");
}

TEST(MimeHeader, NoFieldsRemoveTheLineBreakBefore) {
    MimeHeader header;
    EXPECT_EQ(rendered(header, "--b\r\n"), "--b");
    EXPECT_EQ(rendered(header, "x\r\n\r\n"), "x");
    EXPECT_EQ(rendered(header, "x"), "x");
    EXPECT_EQ(header.renderedSize(), 0);
}

TEST(MimeHeader, RemoveAllFields) {
    MimeHeader header;
    header.replaceField("A", "1");
    header.replaceField("B", "2");
    header.removeAllFields();
    EXPECT_EQ(header.getFieldCount(), 0);
    EXPECT_EQ(header.fieldAt(0), nullptr);
}

} // namespace
