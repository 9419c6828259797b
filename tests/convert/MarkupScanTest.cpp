#include "convert/MarkupScan.h"
#include "foundation/StringBuffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ReplaceEvery, SameResultAsReplaceAll) {
    struct Case {
        std::string text;
        const char* find;
        const char* replacement;
    };
    const Case cases[] = {
        {"<IMG a><IMG b>", "<IMG", "<img"},
        {"aaaa", "aa", "b"},
        {"xyz", "q", "longer"},
        {"<IMAGE", "<IMAGE", "<img"},
        {"ab8s9asdfsldab8s9asdfsld", "ab8s9asdfsld", "background-image"},
        {"<noscript>x</noscript>", "<noscript>", ""},
        {std::string("a\0<X\0<X", 7), "<X", "<yy"},
        {"", "a", "b"},
    };
    for (const Case& c : cases) {
        StringBuffer expected;
        expected.appendBytes(c.text.data(), static_cast<int>(c.text.size()));
        const int expectedCount = expected.replaceAll(c.find, c.replacement);
        StringBuffer actual;
        actual.appendBytes(c.text.data(), static_cast<int>(c.text.size()));
        EXPECT_EQ(replaceEvery(actual, c.find, c.replacement), expectedCount) << c.text;
        EXPECT_EQ(std::string(actual.getString(), actual.getSize()),
                  std::string(expected.getString(), expected.getSize()))
            << c.text;
    }
}

TEST(AppendGrowing, DoublesWhenFull) {
    StringBuffer out(16);
    const std::string piece(1000, 'p');
    for (int i = 0; i < 100; ++i) {
        appendGrowing(out, piece.data(), static_cast<int>(piece.size()));
    }
    EXPECT_EQ(out.getSize(), 100000);
    EXPECT_EQ(std::string(out.getString(), 1000), piece);
    EXPECT_LE(out.getCapacity(), 4 * 100000);
}

} // namespace
