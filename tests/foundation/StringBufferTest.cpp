#include "foundation/StringBuffer.h"
#include "foundation/ExtPtrArray.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string content(const StringBuffer& sb) {
    return std::string(sb.getString(), static_cast<size_t>(sb.getSize()));
}

// Restores the capacity limit even when a test fails half-way.
struct CapacityLimitGuard {
    explicit CapacityLimitGuard(int limit) { StringBuffer::setCapacityLimit(limit); }
    ~CapacityLimitGuard() { StringBuffer::setCapacityLimit(INT_MAX); }
};

TEST(StringBufferConstruction, InitialCapacitiesAndIncrements) {
    StringBuffer byDefault;
    EXPECT_EQ(byDefault.getSize(), 0);
    EXPECT_EQ(byDefault.getCapacity(), 200);
    EXPECT_EQ(byDefault.getGrowthIncrement(), 200);
    EXPECT_STREQ(byDefault.getString(), "");

    StringBuffer sized(50);
    EXPECT_EQ(sized.getCapacity(), 50);
    EXPECT_EQ(sized.getGrowthIncrement(), 50);

    StringBuffer zeroSized(0);
    EXPECT_EQ(zeroSized.getCapacity(), 200);
    EXPECT_EQ(zeroSized.getGrowthIncrement(), 200);

    StringBuffer fromText("hello");
    EXPECT_EQ(fromText.getCapacity(), 6);
    EXPECT_EQ(fromText.getGrowthIncrement(), 200);
    EXPECT_EQ(content(fromText), "hello");

    StringBuffer fromNull(static_cast<const char*>(nullptr));
    EXPECT_EQ(fromNull.getCapacity(), 4);
    EXPECT_EQ(fromNull.getSize(), 0);

    StringBuffer fromNullWide(static_cast<const char16_t*>(nullptr));
    EXPECT_EQ(fromNullWide.getCapacity(), 4);
}

TEST(StringBufferConstruction, WideTextBecomesUtf8) {
    StringBuffer wide(u"Caf\u00e9 \u20ac \U0001F600");
    EXPECT_EQ(content(wide), "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
    EXPECT_EQ(wide.getCapacity(), wide.getSize() + 1);

    const char16_t lonely[] = {u'a', 0xD800, u'b', 0};
    StringBuffer replaced(lonely);
    EXPECT_EQ(content(replaced), "a\xEF\xBF\xBD"
                                 "b");
}

TEST(StringBufferGrowth, ByteByByteFollowsTheHalfCapacityRule) {
    StringBuffer sb;
    std::vector<int> capacities{sb.getCapacity()};
    for (int i = 0; i < 2000; ++i) {
        sb.appendChar('x');
        if (sb.getCapacity() != capacities.back()) {
            capacities.push_back(sb.getCapacity());
        }
    }
    const std::vector<int> expected{200, 400, 600, 900, 1350, 2025};
    EXPECT_EQ(capacities, expected);
}

TEST(StringBufferGrowth, TheTwoHundredthByteEnlargesOnce) {
    StringBuffer sb;
    for (int i = 0; i < 199; ++i) {
        sb.appendChar('a');
    }
    EXPECT_EQ(sb.getCapacity(), 200);
    sb.appendChar('a');
    EXPECT_EQ(sb.getCapacity(), 400);
    EXPECT_EQ(sb.getGrowthIncrement(), 200);
    sb.appendChar('a');
    EXPECT_EQ(sb.getCapacity(), 400);
}

TEST(StringBufferGrowth, EachAppendKindSizesTheNewBlockItsOwnWay) {
    struct Case {
        const char* name;
        void (*grow)(StringBuffer&);
        int expectedCapacity;
        int expectedIncrement;
    };
    // Each starts from a 10-byte buffer holding 8 bytes and adds 5.
    const Case cases[] = {
        {"append", [](StringBuffer& sb) { sb.append("12345"); }, 8 + 5 + 10 + 1, 12},
        {"appendBytes", [](StringBuffer& sb) { sb.appendBytes("12345", 5); }, 8 + 5 + 10, 11},
        {"prepend", [](StringBuffer& sb) { sb.prepend("12345"); }, 8 + 5 + 10 + 1, 10},
        {"reserve", [](StringBuffer& sb) { sb.reserve(5); }, 8 + 5 + 10 + 1, 10},
    };
    for (const Case& c : cases) {
        StringBuffer sb(10);
        sb.append("abcdefgh");
        ASSERT_EQ(sb.getCapacity(), 10) << c.name;
        c.grow(sb);
        EXPECT_EQ(sb.getCapacity(), c.expectedCapacity) << c.name;
        EXPECT_EQ(sb.getGrowthIncrement(), c.expectedIncrement) << c.name;
    }
}

TEST(StringBufferGrowth, IncrementNeverRisesAboveHalfAMillion) {
    StringBuffer sb;
    std::string chunk(100000, 'z');
    for (int i = 0; i < 40; ++i) {
        sb.appendBytes(chunk.data(), static_cast<int>(chunk.size()));
        EXPECT_LE(sb.getGrowthIncrement(), 500000);
    }
    EXPECT_EQ(sb.getGrowthIncrement(), 500000);
    EXPECT_EQ(sb.getSize(), 4000000);
}

TEST(StringBufferGrowth, SizedIncrementAboveTheCapStays) {
    StringBuffer sb(600000);
    std::string chunk(700000, 'q');
    sb.appendBytes(chunk.data(), static_cast<int>(chunk.size()));
    EXPECT_EQ(sb.getGrowthIncrement(), 600000);
    EXPECT_EQ(sb.getCapacity(), 700000 + 600000);
}

TEST(StringBufferGrowth, PassingTheCapacityLimitThrowsAndKeepsTheContent) {
    CapacityLimitGuard guard(1000);
    StringBuffer sb;
    std::string big(990, 'b');
    sb.appendBytes(big.data(), static_cast<int>(big.size()));
    EXPECT_LE(sb.getCapacity(), 1000);
    EXPECT_THROW(sb.append("0123456789"), std::length_error);
    EXPECT_EQ(sb.getSize(), 990);
    EXPECT_THROW(sb.prepend("0123456789"), std::length_error);
    EXPECT_EQ(sb.getSize(), 990);
}

TEST(StringBufferRead, Comparisons) {
    StringBuffer empty;
    StringBuffer text("Hello World");
    EXPECT_TRUE(empty.equals(nullptr));
    EXPECT_FALSE(text.equals(nullptr));
    EXPECT_TRUE(empty.equalsNoCase(nullptr));
    EXPECT_TRUE(text.equalsNoCase("hello world"));
    EXPECT_FALSE(text.equalsNoCase("hello worl"));
    EXPECT_TRUE(text.beginsWith(""));
    EXPECT_FALSE(text.beginsWith(nullptr));
    EXPECT_FALSE(text.beginsWith("hello"));
    EXPECT_TRUE(text.contains(""));
    EXPECT_FALSE(text.contains(nullptr));
    EXPECT_FALSE(text.containsNoCase(""));
    EXPECT_FALSE(text.containsNoCase(nullptr));
    EXPECT_FALSE(empty.containsNoCase("a"));
    EXPECT_TRUE(text.containsNoCase("WORLD"));
    StringBuffer same("Hello World");
    EXPECT_TRUE(text.equalsSb(same));
}

TEST(StringBufferRead, CharAccessAndSevenBit) {
    StringBuffer sb("ab");
    EXPECT_EQ(sb.charAt(-1), 0);
    EXPECT_EQ(sb.charAt(2), 0);
    EXPECT_EQ(sb.charAt(1), 'b');
    EXPECT_EQ(sb.lastChar(), 'b');
    StringBuffer empty;
    EXPECT_EQ(empty.lastChar(), 0);
    EXPECT_TRUE(empty.is7bit());
    EXPECT_TRUE(sb.is7bit());
    sb.appendChar(static_cast<char>(0x80));
    EXPECT_FALSE(sb.is7bit());
}

TEST(StringBufferEdit, Trim) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {" \t\r\n", ""},
        {"  a b  ", "a b"},
        {"\x0b"
         "x",
         "\x0b"
         "x"},
        {"\nline\r\n", "line"},
        {"keep", "keep"},
        {std::string("ab \0 cd", 7), "ab"},
    };
    for (const Case& c : cases) {
        StringBuffer sb;
        sb.appendBytes(c.input.data(), static_cast<int>(c.input.size()));
        sb.trim();
        EXPECT_EQ(content(sb), c.expected) << "input: " << c.input;
    }
}

TEST(StringBufferEdit, ReplaceAll) {
    struct Case {
        const char* text;
        const char* find;
        const char* replacement;
        int count;
        const char* expected;
    };
    const Case cases[] = {
        {"aaaa", "aa", "a", 2, "aa"},
        {"axbxc", "x", "", 2, "abc"},
        {"axbxc", "x", nullptr, 2, "abc"},
        {"abc", "", "z", 0, "abc"},
        {"abc", nullptr, "z", 0, "abc"},
        {"abc", "q", "z", 0, "abc"},
        {"<BODY><BODY>", "<BODY", "<body", 2, "<body><body>"},
        {"ab", "b", "bb", 1, "abb"},
    };
    for (const Case& c : cases) {
        StringBuffer sb(c.text);
        EXPECT_EQ(sb.replaceAll(c.find, c.replacement), c.count) << c.text;
        EXPECT_EQ(content(sb), c.expected) << c.text;
    }
}

TEST(StringBufferEdit, ReplaceAllKeepsBytesBehindAnEmbeddedNul) {
    StringBuffer sb;
    sb.appendBytes("x\0yx", 4);
    EXPECT_EQ(sb.replaceAll("x", "ab"), 2);
    EXPECT_EQ(content(sb), std::string("ab\0yab", 6));
}

TEST(StringBufferEdit, ReplaceFirst) {
    StringBuffer sb("one two one");
    EXPECT_TRUE(sb.replaceFirst("one", "1"));
    EXPECT_EQ(content(sb), "1 two one");
    EXPECT_FALSE(sb.replaceFirst("three", "3"));
    EXPECT_EQ(content(sb), "1 two one");
    EXPECT_FALSE(sb.replaceFirst("", "3"));
    EXPECT_TRUE(sb.replaceFirst("two ", nullptr));
    EXPECT_EQ(content(sb), "1 one");
}

TEST(StringBufferEdit, SetStringFromItsOwnContent) {
    StringBuffer sb("prefix-rest");
    sb.setString(sb.getString() + 7);
    EXPECT_EQ(content(sb), "rest");
    sb.setString(nullptr);
    EXPECT_EQ(sb.getSize(), 0);
    StringBuffer own("abc");
    own.append(own.getString());
    EXPECT_EQ(content(own), "abcabc");
}

TEST(StringBufferEdit, SmallEdits) {
    StringBuffer sb("Hello \xC4 World");
    sb.toLowerCase();
    EXPECT_EQ(content(sb), "hello \xC4 world");
    sb.removeChar('l');
    EXPECT_EQ(content(sb), "heo \xC4 word");
    sb.replaceChar('o', '0');
    EXPECT_EQ(content(sb), "he0 \xC4 w0rd");
    sb.shorten(3);
    EXPECT_EQ(content(sb), "he0 \xC4 w");
    sb.shorten(100);
    EXPECT_EQ(content(sb), "");
    sb.prepend("tail");
    sb.prepend("head-");
    EXPECT_EQ(content(sb), "head-tail");
    sb.appendInt(-42);
    sb.appendInt(0);
    EXPECT_EQ(content(sb), "head-tail-420");
}

TEST(StringBufferEdit, ShrinkToFit) {
    StringBuffer atFour(10);
    atFour.append("abcdef"); // capacity 10 = length + 4
    atFour.shrinkToFit();
    EXPECT_EQ(atFour.getCapacity(), 10);
    StringBuffer atFive(10);
    atFive.append("abcde"); // capacity 10 = length + 5
    atFive.shrinkToFit();
    EXPECT_EQ(atFive.getCapacity(), 6);
    EXPECT_EQ(content(atFive), "abcde");
}

TEST(StringBufferEdit, DetachTextHandsOverTheBlock) {
    StringBuffer sb(64);
    sb.append("owned");
    int length = -1;
    char* block = sb.detachText(&length);
    EXPECT_EQ(length, 5);
    EXPECT_STREQ(block, "owned");
    std::free(block);
    EXPECT_EQ(sb.getSize(), 0);
    EXPECT_EQ(sb.getCapacity(), 64);
    sb.append("again");
    EXPECT_EQ(content(sb), "again");
}

TEST(StringBufferSplit, PiecesIncludingEmptyOnes) {
    struct Case {
        const char* text;
        std::vector<std::string> pieces;
    };
    const Case cases[] = {
        {"a//b", {"a", "", "b"}},
        {"/a/", {"", "a", ""}},
        {"abc", {"abc"}},
        {"", {}},
    };
    for (const Case& c : cases) {
        StringBuffer sb(c.text);
        ExtPtrArray parts;
        sb.split(parts, '/');
        std::vector<std::string> got;
        for (int i = 0; i < parts.getSize(); ++i) {
            got.push_back(content(*static_cast<StringBuffer*>(parts.elementAt(i))));
        }
        parts.removeAllObjects();
        EXPECT_EQ(got, c.pieces) << c.text;
    }
}

TEST(StringBufferHexDump, SpacesAfterPairsAndLineFeedsAfterSixteen) {
    StringBuffer four;
    const unsigned char bytes[] = {0x01, 0xAB, 0x10, 0xFF};
    four.appendHexDump(bytes, 4);
    EXPECT_EQ(content(four), "01AB 10FF ");

    unsigned char sixteen[16];
    for (int i = 0; i < 16; ++i) {
        sixteen[i] = static_cast<unsigned char>(i);
    }
    StringBuffer line;
    line.appendHexDump(sixteen, 16);
    EXPECT_EQ(content(line), "0001 0203 0405 0607 0809 0A0B 0C0D 0E0F \n");

    StringBuffer odd;
    odd.appendHexDump(bytes, 3);
    odd.appendHexDump(bytes, 1);
    EXPECT_EQ(content(odd), "01AB 1001");
    odd.appendHexDump(nullptr, 3);
    odd.appendHexDump(bytes, 0);
    EXPECT_EQ(content(odd), "01AB 1001");
}

TEST(StringBufferSystemMessage, AppendsTrimmedText) {
    StringBuffer sb("  ");
    sb.appendSystemMessage(ENOENT);
    EXPECT_EQ(content(sb), "No such file or directory");
    errno = EACCES;
    StringBuffer last;
    last.appendLastError();
    EXPECT_EQ(content(last), "Permission denied");
}

TEST(FindNoCase, FoldsOnlyAsciiLetters) {
    const char* haystack = "abc<STYLE>x";
    EXPECT_EQ(findNoCase(haystack, "<style"), haystack + 3);
    EXPECT_EQ(findNoCase(haystack, ""), nullptr);
    EXPECT_EQ(findNoCase("", "a"), nullptr);
    EXPECT_EQ(findNoCase(nullptr, "a"), nullptr);
    EXPECT_EQ(findNoCase(haystack, nullptr), nullptr);
    EXPECT_EQ(findNoCase("\xE4", "\xC4"), nullptr);
    EXPECT_EQ(findNoCase("[", "{"), nullptr);
    EXPECT_EQ(findNoCase("abcab", "abcabx"), nullptr);
    const char* mixed = "xxAbx";
    EXPECT_EQ(findNoCase(mixed, "aB"), mixed + 2);
}

} // namespace
