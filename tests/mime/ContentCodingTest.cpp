#include "mime/ContentCoding.h"

#include "foundation/StringBuffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

namespace {

std::string text(const StringBuffer& sb) {
    return std::string(sb.getString(), static_cast<size_t>(sb.getSize()));
}

std::string base64Lines(const std::string& input) {
    StringBuffer out;
    ContentCoding().encodeBase64Lines(input.data(), static_cast<int>(input.size()), out);
    return text(out);
}

std::string quotedPrintable(const std::string& input) {
    StringBuffer out;
    ContentCoding().encodeQuotedPrintable(input.data(), static_cast<int>(input.size()), out);
    return text(out);
}

// Takes a malloc'ed block as a string and frees it; "<null>" for null.
// The length is read through a pointer because the block's function fills
// it in while the arguments are evaluated.
std::string takeBlock(char* block, const int* lengthOut) {
    const int length = *lengthOut;
    if (block == nullptr) {
        return "<null>";
    }
    EXPECT_EQ(block[length], 0) << "blocks end in NUL";
    std::string result(block, static_cast<size_t>(length));
    std::free(block);
    return result;
}

std::string randomBytes(size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

TEST(ContentCoding, LineLengthIs72) {
    EXPECT_EQ(ContentCoding().getLineLength(), 72);
    EXPECT_EQ(ContentCoding().lineLength, 72);
}

struct Base64LinesCase {
    std::string input;
    std::string expected;
};

TEST(EncodeBase64Lines, Table) {
    const std::string line72(72, 'A');
    const Base64LinesCase cases[] = {
        {"", ""},
        {"abc", "YWJj\r\n"},
        {"a", "YQ==\r\n"},
        {"ab", "YWI=\r\n"},
        {std::string(54, '\0'), line72 + "\r\n\r\n"},
        {std::string(55, '\0'), line72 + "\r\nAA==\r\n"},
        {std::string(53, '\0'), std::string(68, 'A') + "AAA=\r\n"},
        {std::string(108, '\0'), line72 + "\r\n" + line72 + "\r\n\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(base64Lines(c.input), c.expected) << "input size " << c.input.size();
        EXPECT_EQ(ContentCoding::base64LinesSize(static_cast<long long>(c.input.size())),
                  static_cast<long long>(c.expected.size()));
    }
}

TEST(EncodeBase64Lines, NullInputWritesNothing) {
    StringBuffer out("x");
    ContentCoding().encodeBase64Lines(nullptr, 5, out);
    ContentCoding().encodeBase64Lines("abc", -1, out);
    EXPECT_EQ(text(out), "x");
}

TEST(EncodeBase64Lines, LargeInputMatchesUnwrappedEncodingAndSizes) {
    // Large enough to cross the encoder's internal staging blocks.
    const std::string input = randomBytes(54 * 300 + 17, 7);
    const std::string wrapped = base64Lines(input);
    EXPECT_EQ(static_cast<long long>(wrapped.size()),
              ContentCoding::base64LinesSize(static_cast<long long>(input.size())));
    int length = 0;
    const std::string flat = takeBlock(
        ContentCoding().encodeBase64(input.data(), static_cast<int>(input.size()), &length),
        &length);
    std::string joined;
    size_t position = 0;
    while (position < wrapped.size()) {
        const size_t lineEnd = wrapped.find("\r\n", position);
        ASSERT_NE(lineEnd, std::string::npos);
        EXPECT_LE(lineEnd - position, 72u);
        joined += wrapped.substr(position, lineEnd - position);
        position = lineEnd + 2;
    }
    EXPECT_EQ(joined, flat);
}

TEST(EncodeBase64Lines, AppendsToExistingContent) {
    StringBuffer out("head:");
    ContentCoding().encodeBase64Lines("abc", 3, out);
    EXPECT_EQ(text(out), "head:YWJj\r\n");
}

struct QuotedPrintableCase {
    const char* name;
    std::string input;
    std::string expected;
};

TEST(EncodeQuotedPrintable, Table) {
    const std::string letters80(80, 'x');
    const QuotedPrintableCase cases[] = {
        {"two full stops", "..a", "=2E.a"},
        {"From at line start", "From me", "=46rom me"},
        {"from lower case", "from me", "from me"},
        {"F not From", "Frog", "Frog"},
        {"From without blank at end", "From", "From"},
        {"From and blank only", "From ", "=46rom=20"},
        {"space before CR LF", "a \r\nb", "a=20\r\nb"},
        {"tab before CR LF", "a\t\r\nb", "a=09\r\nb"},
        {"space before bare LF", "a \nb", "a =0Ab"},
        {"80 letters", letters80, std::string(72, 'x') + "=\r\n" + std::string(8, 'x')},
        {"equals sign", "a=b", "a=3Db"},
        {"cafe", std::string("Caf\xE9 au lait \r\n.x"), "Caf=E9 au lait=20\r\n=2Ex"},
        {"dot after CR LF", "a\r\n.b", "a\r\n=2Eb"},
        {"From after CR LF", "a\r\nFrom x", "a\r\n=46rom x"},
        {"last byte blank", "a ", "a=20"},
        {"blank second to last", "a b", "a b"},
        {"blank then one byte", " x", " x"},
        {"lone CR", "a\rb", "a=0Db"},
        {"CR at end", "a\r", "a=0D"},
        {"DEL and high bytes", std::string("\x7F\x80\xFF"), "=7F=80=FF"},
        {"NUL byte", std::string("a\0b", 3), "a=00b"},
        {"CR LF kept", "a\r\nb\r\n", "a\r\nb\r\n"},
        {"only dot", ".", "=2E"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(quotedPrintable(c.input), c.expected) << c.name;
        EXPECT_EQ(
            ContentCoding().quotedPrintableSize(c.input.data(), static_cast<int>(c.input.size())),
            static_cast<long long>(c.expected.size()))
            << c.name;
    }
}

TEST(EncodeQuotedPrintable, LineEndRules) {
    // 71 letters and an "=": the escape ends at column 74, then a soft break.
    std::string input = std::string(71, 'a') + "=" + "b";
    EXPECT_EQ(quotedPrintable(input), std::string(71, 'a') + "=3D=\r\nb");
    // No soft break when a CR LF follows at column 72.
    input = std::string(72, 'a') + "\r\nb";
    EXPECT_EQ(quotedPrintable(input), std::string(72, 'a') + "\r\nb");
    // A soft break at the very end of the input.
    EXPECT_EQ(quotedPrintable(std::string(72, 'a')), std::string(72, 'a') + "=\r\n");
    // A "." right after a soft break is at column 0 again.
    EXPECT_EQ(quotedPrintable(std::string(72, 'a') + ".b"), std::string(72, 'a') + "=\r\n=2Eb");
}

TEST(EncodeQuotedPrintable, LinesNeverExceed75AndStagingIsSeamless) {
    const std::string input = randomBytes(10000, 11);
    const std::string encoded = quotedPrintable(input);
    EXPECT_EQ(static_cast<long long>(encoded.size()),
              ContentCoding().quotedPrintableSize(input.data(), static_cast<int>(input.size())));
    size_t position = 0;
    while (position < encoded.size()) {
        size_t lineEnd = encoded.find("\r\n", position);
        if (lineEnd == std::string::npos) {
            lineEnd = encoded.size();
        }
        EXPECT_LE(lineEnd - position, 75u);
        position = lineEnd + 2;
    }
    for (unsigned char c : encoded) {
        EXPECT_TRUE(c == '\r' || c == '\n' || c == '\t' || (c >= 32 && c < 127));
    }
}

TEST(EncodeQuotedPrintable, NullOrEmptyWritesNothing) {
    StringBuffer out("x");
    ContentCoding().encodeQuotedPrintable(nullptr, 3, out);
    ContentCoding().encodeQuotedPrintable("abc", 0, out);
    EXPECT_EQ(text(out), "x");
}

TEST(EncodeBase64, Table) {
    const std::pair<std::string, std::string> cases[] = {
        {"abc", "YWJj"},
        {"a", "YQ=="},
        {"ab", "YWI="},
        {"abcd", "YWJjZA=="},
        {std::string("\x00\xFF\xFE", 3), "AP/+"},
    };
    for (const auto& [input, expected] : cases) {
        int length = -1;
        EXPECT_EQ(takeBlock(ContentCoding().encodeBase64(input.data(),
                                                         static_cast<int>(input.size()), &length),
                            &length),
                  expected);
    }
}

TEST(EncodeBase64, NoLineBreaksHoweverLong) {
    const std::string input(540, 'a');
    int length = 0;
    const std::string encoded =
        takeBlock(ContentCoding().encodeBase64(input.data(), 540, &length), &length);
    EXPECT_EQ(encoded.size(), 720u);
    EXPECT_EQ(encoded.find('\r'), std::string::npos);
}

TEST(EncodeBase64, NullResults) {
    int length = 5;
    EXPECT_EQ(ContentCoding().encodeBase64("abc", 3, nullptr), nullptr);
    EXPECT_EQ(ContentCoding().encodeBase64("abc", 0, &length), nullptr);
    EXPECT_EQ(length, 0);
}

struct DecodeCase {
    const char* name;
    std::string input;
    std::string expected;
};

TEST(DecodeBase64, Table) {
    const DecodeCase cases[] = {
        {"plain", "YWJj", "abc"},
        {"padding stops", "YQ==", "a"},
        {"stops at first =", "YQ==YWJj", "a"},
        {"whitespace skipped", "YW\r\nJj\t Zg", "abcf"},
        {"foreign characters skipped", "Y-W#J!j*", "abc"},
        {"high bytes skipped", std::string("YW\xC3\xA9Jj"), "abc"},
        {"characters in table range but not base64 skipped", "Y[W]J^j", "abc"},
        {"NUL stops", std::string("YWJj\0YWJj", 9), "abc"},
        {"incomplete group", "YWJjZ", "abc"},
        {"binary", "AP8=", std::string("\x00\xFF", 2)},
    };
    for (const auto& c : cases) {
        int length = -1;
        char* block =
            ContentCoding().decodeBase64(c.input.data(), static_cast<int>(c.input.size()), &length);
        EXPECT_EQ(takeBlock(block, &length), c.expected) << c.name;
    }
}

TEST(DecodeBase64, CountLimitsTheInput) {
    int length = 0;
    EXPECT_EQ(takeBlock(ContentCoding().decodeBase64("YWJjYWJj", 4, &length), &length), "abc");
}

TEST(DecodeBase64, NullResults) {
    int length = 7;
    EXPECT_EQ(ContentCoding().decodeBase64("YWJj", 4, nullptr), nullptr);
    EXPECT_EQ(ContentCoding().decodeBase64("YWJj", 0, &length), nullptr);
    EXPECT_EQ(length, 0);
}

TEST(DecodeBase64, RoundTripsRandomBytes) {
    const std::string input = randomBytes(4099, 3);
    StringBuffer wrapped;
    ContentCoding().encodeBase64Lines(input.data(), static_cast<int>(input.size()), wrapped);
    int length = 0;
    EXPECT_EQ(
        takeBlock(ContentCoding().decodeBase64(wrapped.getString(), wrapped.getSize(), &length),
                  &length),
        input);
}

TEST(EncodeQ, Table) {
    const std::pair<std::string, std::string> cases[] = {
        {std::string("Caf\xE9 au lait"), "Caf=E9_au_lait"},
        {"a=b?c_d", "a=3Db=3Fc=5Fd"},
        {"@^`~<>", "@^`~<>"},
        {std::string("\t\r\n\x7F", 4), "=09=0D=0A=7F"},
    };
    for (const auto& [input, expected] : cases) {
        int length = -1;
        EXPECT_EQ(takeBlock(ContentCoding().encodeQ(input.data(), static_cast<int>(input.size()),
                                                    &length),
                            &length),
                  expected);
    }
    int length = 3;
    EXPECT_EQ(ContentCoding().encodeQ(nullptr, 3, &length), nullptr);
    EXPECT_EQ(ContentCoding().encodeQ("a", 0, &length), nullptr);
    EXPECT_EQ(length, 0);
}

TEST(EncodeQ, LongInputCrossesTheStagingArea) {
    const std::string input(1500, '\xAA');
    int length = 0;
    const std::string encoded = takeBlock(
        ContentCoding().encodeQ(input.data(), static_cast<int>(input.size()), &length), &length);
    EXPECT_EQ(encoded.size(), 4500u);
    EXPECT_EQ(encoded.substr(4497), "=AA");
}

TEST(DecodeQ, Table) {
    const DecodeCase cases[] = {
        {"lower-case hex not decoded", "a=3db", "a=3db"},
        {"upper-case hex decoded", "a=3Db", "a=b"},
        {"underscore is blank", "a_b", "a b"},
        {"equals near end", "ab=4", "ab=4"},
        {"equals at end", "ab=", "ab="},
        {"equals not hex", "=G1x", "=G1x"},
        {"dropped bytes", std::string("a b?c\t\x7F\x9F", 8), "abc"},
        {"high bytes kept", std::string("\xA0\xFF"), std::string("\xA0\xFF")},
        {"escaped high byte", "=E9", "\xE9"},
        {"escaped NUL", "a=00b", std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        int length = -1;
        char* block =
            ContentCoding().decodeQ(c.input.data(), static_cast<int>(c.input.size()), &length);
        EXPECT_EQ(takeBlock(block, &length), c.expected) << c.name;
    }
}

TEST(DecodeQ, CountZeroReadsToTheNul) {
    int length = 0;
    EXPECT_EQ(takeBlock(ContentCoding().decodeQ("a_b", 0, &length), &length), "a b");
    EXPECT_EQ(takeBlock(ContentCoding().decodeQ("a_b", -4, &length), &length), "a b");
    EXPECT_EQ(takeBlock(ContentCoding().decodeQ("a_bcd", 3, &length), &length), "a b");
    EXPECT_EQ(ContentCoding().decodeQ(nullptr, 3, &length), nullptr);
    EXPECT_EQ(ContentCoding().decodeQ("", 0, &length), nullptr);
}

} // namespace
