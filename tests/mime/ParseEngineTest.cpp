#include "mime/ParseEngine.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string text(const StringBuffer& sb) {
    return std::string(sb.getString(), static_cast<size_t>(sb.getSize()));
}

TEST(ParseEngineSteps, LoadSkipAndCapture) {
    ParseEngine scanner;
    scanner.load("  \t\r\nname=value;rest");
    scanner.skipWhitespace();
    EXPECT_EQ(scanner.pos, 5);
    StringBuffer out;
    scanner.captureUntilAny("=;", out);
    EXPECT_EQ(text(out), "name");
    EXPECT_EQ(scanner.current(), '=');
    scanner.skipToChar(';');
    EXPECT_EQ(scanner.current(), ';');
    out.clear();
    scanner.captureUntilChar('#', out);
    EXPECT_EQ(text(out), ";rest");
    EXPECT_TRUE(scanner.atEnd());
    EXPECT_EQ(scanner.current(), 0);
    scanner.skipWhitespace();
    scanner.skipToChar('x');
    EXPECT_EQ(scanner.pos, scanner.text.getSize());

    scanner.load(nullptr);
    EXPECT_EQ(scanner.pos, 0);
    EXPECT_EQ(scanner.text.getSize(), 0);
    out.clear();
    scanner.load("abc");
    scanner.captureUntilAny("", out);
    scanner.captureUntilAny(nullptr, out);
    EXPECT_EQ(scanner.pos, 0);
    EXPECT_EQ(out.getSize(), 0);
}

TEST(ParseEngineSteps, SeekAndCaptureThroughIgnoreCase) {
    ParseEngine scanner;
    scanner.load("<p>one</STYLE>two</style>");
    EXPECT_FALSE(scanner.seekTo("<script"));
    EXPECT_EQ(scanner.pos, 0);
    StringBuffer out;
    EXPECT_TRUE(scanner.captureThrough("</style>", out));
    EXPECT_EQ(text(out), "<p>one</STYLE>");
    EXPECT_EQ(scanner.pos, 14);
    EXPECT_TRUE(scanner.seekTo("</STYLE"));
    EXPECT_EQ(scanner.pos, 17);
    EXPECT_TRUE(scanner.seekPast("</style>"));
    EXPECT_TRUE(scanner.atEnd());
    EXPECT_FALSE(scanner.captureThrough("x", out));
    EXPECT_FALSE(scanner.seekTo(""));
}

struct QuotedCase {
    const char* input;
    const char* expected;
    int expectedPos;
};

TEST(ParseEngineQuoted, CaptureUntilCharQuoted) {
    const QuotedCase cases[] = {
        {R"(a="x>y" b>)", R"(a="x>y" b)", 9},
        {R"(a="x>y)", R"(a="x)", 4},
        {R"(a='it"s>' b>)", R"(a='it"s>' b)", 11},
        {R"(a="x"">b)", R"(a="x"")", 6},
        {"no end", "no end", 6},
        {">", "", 0},
    };
    for (const QuotedCase& c : cases) {
        ParseEngine scanner;
        scanner.load(c.input);
        StringBuffer out;
        scanner.captureUntilCharQuoted('>', out);
        EXPECT_EQ(text(out), c.expected) << c.input;
        EXPECT_EQ(scanner.pos, c.expectedPos) << c.input;
    }
}

TEST(ParseEngineQuoted, StrictRuleDoesNotReopenAfterAClosingQuote) {
    const QuotedCase cases[] = {
        // A quote right after a closing quote is ordinary in the strict form.
        {R"(src="a.gif"" alt=x>rest)", R"(src="a.gif"" alt=x)", 18},
        {R"(src="a"'"b>c)", R"(src="a"'"b)", 10},
        // After a non-quote byte quotes open sections again.
        {R"(a="x" b="y>z">)", R"(a="x" b="y>z")", 13},
        {R"(a="x>y)", R"(a="x)", 4},
    };
    for (const QuotedCase& c : cases) {
        ParseEngine scanner;
        scanner.load(c.input);
        StringBuffer out;
        scanner.captureUntilCharQuotedStrict('>', out);
        EXPECT_EQ(text(out), c.expected) << c.input;
        EXPECT_EQ(scanner.pos, c.expectedPos) << c.input;
    }
}

} // namespace
