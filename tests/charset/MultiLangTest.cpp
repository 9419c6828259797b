#include "charset/CharsetNames.h"
#include "charset/IcuService.h"
#include "charset/MultiLangImpl.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "support/RecordingLog.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

std::string bytesOf(const DataBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.getData()), buffer.getSize());
}

std::unique_ptr<MultiLangImpl> createService() {
    MultiLang* service = createMultiLang(nullptr);
    return std::unique_ptr<MultiLangImpl>(dynamic_cast<MultiLangImpl*>(service));
}

std::string repeated(const std::string& piece, size_t times) {
    std::string text;
    text.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

class MultiLangTest : public ::testing::Test {
protected:
    void SetUp() override {
        service = createService();
        ASSERT_NE(service, nullptr);
    }

    bool convert(int from, int to, const std::string& input, std::string& output,
                 DiagnosticLog* log = nullptr) {
        DataBuffer out;
        const bool ok =
            service->convertData(from, to, input.data(), static_cast<int>(input.size()), out, log);
        output = bytesOf(out);
        return ok;
    }

    std::unique_ptr<MultiLangImpl> service;
};

TEST(MultiLangCreation, FailsOnlyWithoutIcu) {
    RecordingLog log;
    std::unique_ptr<MultiLang> service(createMultiLang(&log));
    EXPECT_NE(service, nullptr);
    EXPECT_TRUE(log.lines().empty());

    IcuService::setUnavailableForTesting(true);
    std::unique_ptr<MultiLang> missing(createMultiLang(&log));
    IcuService::setUnavailableForTesting(false);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(log.lines(), Lines{"error: Failed to create multi-language object."});
}

TEST_F(MultiLangTest, EqualCodePagesCopyTheInputEvenForUnknownPages) {
    std::string output;
    ASSERT_TRUE(convert(29001, 29001, std::string("\xFF\0x", 3), output));
    EXPECT_EQ(output, std::string("\xFF\0x", 3));

    DataBuffer out;
    ASSERT_TRUE(service->convertDataViaService(12345, 12345, "ab", 2, out, nullptr));
    EXPECT_EQ(bytesOf(out), "ab");

    StringBuffer text("unchanged");
    EXPECT_TRUE(service->convertText(777, 777, text, nullptr));
    EXPECT_STREQ(text.getString(), "unchanged");
}

TEST_F(MultiLangTest, ConvertsBetweenCodePages) {
    struct Case {
        int from;
        int to;
        std::string input;
        std::string output;
    };
    const std::vector<Case> cases = {
        {28591, 65001, "\xE9", "\xC3\xA9"},
        {65001, 28591, "\xC3\xA9", "\xE9"},
        {1252, 65001, "\x80", "\xE2\x82\xAC"},
        {65001, 1251, "\xD0\x96", "\xC6"},
        {20866, 1251, "\xE1", "\xC0"},
        {932, 51932, "\x82\xA0", "\xA4\xA2"},
        {65001, 1200, "A\xC3\xA9", std::string("A\0\xE9\0", 4)},
        {1200, 65001, std::string("\xFF\xFE\x41\0", 4),
         "\xEF\xBB\xBF"
         "A"},
        {950, 65001, "\xA4\xA4", "\xE4\xB8\xAD"},
        {54936, 65001, "\x81\x30\x81\x30", "\xC2\x80"},
        {65000, 65001, "+ZeVnLIqe-", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
    };
    for (const Case& c : cases) {
        std::string output;
        EXPECT_TRUE(convert(c.from, c.to, c.input, output)) << c.from << " -> " << c.to;
        EXPECT_EQ(output, c.output) << c.from << " -> " << c.to;
    }
}

TEST_F(MultiLangTest, TheLastPairIsCached) {
    std::string output;
    ASSERT_TRUE(convert(1252, 65001, "a", output));
    EXPECT_TRUE(service->hasConverter());
    EXPECT_EQ(service->converterFrom(), 1252);
    EXPECT_EQ(service->converterTo(), 65001);

    ASSERT_TRUE(convert(1252, 65001, "b", output));
    EXPECT_EQ(service->converterFrom(), 1252);

    // A pair ICU cannot convert replaces the cached one and leaves none.
    EXPECT_FALSE(convert(29001, 65001, "c", output));
    EXPECT_FALSE(service->hasConverter());
    EXPECT_EQ(service->converterFrom(), 29001);
    EXPECT_EQ(service->converterTo(), 65001);

    // Conversions to and from UTF-16 leave the cache alone.
    ASSERT_TRUE(convert(65001, 1200, "d", output));
    EXPECT_EQ(service->converterFrom(), 29001);
}

TEST_F(MultiLangTest, NoBreakSpaceBecomesASpaceForTheJapanesePage) {
    std::string output;
    ASSERT_TRUE(convert(65001, 932,
                        "a\xC2\xA0"
                        "b\xE3\x81\x82",
                        output));
    EXPECT_EQ(output, "a b\x82\xA0");

    DataBuffer out;
    ASSERT_TRUE(service->convertDataViaService(65001, 932, "\xC2\xA0", 2, out, nullptr));
    EXPECT_EQ(bytesOf(out), " ");
}

TEST_F(MultiLangTest, LargeInputsTakeThePlainRouteAndStayCorrect) {
    const std::string input = repeated("caf\xE9 ", 80000); // 400,000 bytes
    std::string output;
    ASSERT_TRUE(convert(28591, 65001, input, output));
    EXPECT_EQ(output, repeated("caf\xC3\xA9 ", 80000));

    std::string back;
    ASSERT_TRUE(convert(65001, 1252, output, back));
    EXPECT_EQ(back, input);
}

TEST_F(MultiLangTest, TwoStepsGrowTheBlockForLongerOutput) {
    // 307,200 bytes of UTF-8: two steps; the escape sequences of ISO-2022-JP
    // make the output larger than 3 bytes per UTF-16 unit.
    const std::string input = repeated("\xE3\x81\x82"
                                       "a",
                                       76800);
    DataBuffer out;
    ASSERT_TRUE(service->convertDataViaService(65001, 50220, input.data(),
                                               static_cast<int>(input.size()), out, nullptr));
    EXPECT_EQ(bytesOf(out), repeated("\x1B$B$\"\x1B(Ba", 76800));
}

TEST_F(MultiLangTest, UnicodeToCodePageHandlesTheByteOrderMarkByTarget) {
    const std::string withMark("\xFF\xFE\x2D\x4E", 4);
    DataBuffer utf8;
    ASSERT_TRUE(service->unicodeToCodePage(65001, withMark.data(), 4, utf8, nullptr));
    EXPECT_EQ(bytesOf(utf8), "\xEF\xBB\xBF\xE4\xB8\xAD");

    DataBuffer gbk;
    ASSERT_TRUE(service->unicodeToCodePage(936, withMark.data(), 4, gbk, nullptr));
    EXPECT_EQ(bytesOf(gbk), "\xD6\xD0");

    DataBuffer same;
    ASSERT_TRUE(service->unicodeToCodePage(1200, withMark.data(), 4, same, nullptr));
    EXPECT_EQ(bytesOf(same), withMark);

    DataBuffer latin1;
    ASSERT_TRUE(service->unicodeToCodePage(28591, "\xE9\0", 2, latin1, nullptr));
    EXPECT_EQ(bytesOf(latin1), "\xE9");
}

TEST_F(MultiLangTest, CodePageToUnicodeKeepsAByteOrderMark) {
    DataBuffer out;
    ASSERT_TRUE(service->codePageToUnicode(65001,
                                           "\xEF\xBB\xBF"
                                           "A",
                                           4, out, nullptr));
    EXPECT_EQ(bytesOf(out), std::string("\xFF\xFE\x41\0", 4));

    DataBuffer sjis;
    ASSERT_TRUE(service->codePageToUnicode(932, "\x82\xA0", 2, sjis, nullptr));
    EXPECT_EQ(bytesOf(sjis), std::string("\x42\x30", 2));

    DataBuffer empty;
    EXPECT_TRUE(service->codePageToUnicode(65001, "", 0, empty, nullptr));
    EXPECT_EQ(empty.getSize(), 0U);
}

TEST_F(MultiLangTest, ConvertTextReplacesTheTextInPlace) {
    StringBuffer text("caf\xE9");
    ASSERT_TRUE(service->convertText(28591, 65001, text, nullptr));
    EXPECT_STREQ(text.getString(), "caf\xC3\xA9");

    ASSERT_TRUE(service->convertText(65001, 1200, text, nullptr));
    EXPECT_EQ(std::string(text.getString(), static_cast<size_t>(text.getSize())),
              std::string("c\0a\0f\0\xE9\0", 8));

    ASSERT_TRUE(service->convertText(1200, 1252, text, nullptr));
    EXPECT_STREQ(text.getString(), "caf\xE9");
}

// The exact messages of the routes that fail.
struct FailureCase {
    const char* what;
    int from;
    int to;
    Lines lines;
};

TEST_F(MultiLangTest, FailuresReportTheirMessagesInOrder) {
    const std::vector<FailureCase> cases = {
        {"to an unknown page through UTF-8",
         20866,
         29001,
         {"error: Failed to convert from Unicode to code page 29001"}},
        {"from an unknown page through UTF-8",
         29001,
         20866,
         {"error: Failed to get converter for converting from 29001 to utf-8"}},
        {"from an unknown page to UTF-16",
         29001,
         1200,
         {"error: Failed to create Unicode charset converter", "int: fromCodePage=29001",
          "error: Failed to create Unicode coverter"}},
        {"from UTF-16 to an unknown page",
         1200,
         20269,
         {"error: Failed to create Unicode charset converter", "int: toCodePage=20269",
          "error: Failed to create Unicode coverter"}},
    };
    for (const FailureCase& c : cases) {
        RecordingLog log;
        std::string output;
        EXPECT_FALSE(convert(c.from, c.to, "abc", output, &log)) << c.what;
        EXPECT_EQ(log.lines(), c.lines) << c.what;
    }
}

TEST_F(MultiLangTest, ViaServiceWithoutConvertersNamesTheMissingSide) {
    RecordingLog first;
    DataBuffer out;
    EXPECT_FALSE(service->convertDataViaService(29001, 65001, "abc", 3, out, &first));
    EXPECT_EQ(first.lines(),
              (Lines{"error: Failed to create Unicode charset converter", "int: fromCodePage=29001",
                     "error: Failed to create Unicode coverter #1"}));

    RecordingLog second;
    EXPECT_FALSE(service->convertDataViaService(65001, 29001, "abc", 3, out, &second));
    EXPECT_EQ(second.lines(),
              (Lines{"error: Failed to create Unicode charset converter", "int: toCodePage=29001",
                     "error: Failed to create Unicode coverter #2"}));
    EXPECT_EQ(out.getSize(), 0U);
}

TEST_F(MultiLangTest, ConvertTextFailureLeavesTheTextAndSaysSo) {
    StringBuffer text("abc");
    RecordingLog log;
    EXPECT_FALSE(service->convertText(65001, 29001, text, &log));
    EXPECT_STREQ(text.getString(), "abc");
    EXPECT_EQ(log.lines(), (Lines{"error: Failed to convert from Unicode to code page 29001",
                                  "info: charset convert NOT successful"}));
}

TEST_F(MultiLangTest, DetectCodePageReportsEveryScoreAndPicksTheBest) {
    const std::string text =
        repeated("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE"
                 "\xE6\x96\x87\xE7\xAB\xA0\xE3\x81\xA7\xE3\x81\x99\xE3\x80\x82",
                 20);
    RecordingLog log;
    int codePage = 0;
    ASSERT_TRUE(
        service->detectCodePage(text.data(), static_cast<int>(text.size()), codePage, &log));
    EXPECT_EQ(codePage, 65001);

    const Lines& lines = log.lines();
    ASSERT_GE(lines.size(), 4U);
    ASSERT_EQ(lines.front().rfind("int: num_scores=", 0), 0U);
    const int count = std::stoi(lines.front().substr(16));
    ASSERT_EQ(lines.size(), static_cast<size_t>(2 * count + 2));
    int best = -1;
    int bestCodePage = 0;
    for (int i = 0; i < count; ++i) {
        const std::string& score = lines[static_cast<size_t>(1 + 2 * i)];
        const std::string& page = lines[static_cast<size_t>(2 + 2 * i)];
        ASSERT_EQ(score.rfind("int: score=", 0), 0U);
        ASSERT_EQ(page.rfind("int: code_page=", 0), 0U);
        const int value = std::stoi(score.substr(11));
        if (value > best) {
            best = value;
            bestCodePage = std::stoi(page.substr(15));
        }
    }
    EXPECT_EQ(lines.back(), "int: returning_codepage=" + std::to_string(bestCodePage));
    EXPECT_EQ(bestCodePage, codePage);
}

TEST_F(MultiLangTest, DetectCodePageOfNothingFailsWithTheDumps) {
    RecordingLog log;
    int codePage = 42;
    EXPECT_FALSE(service->detectCodePage("", 0, codePage, &log));
    EXPECT_EQ(codePage, 42);
    const Lines& lines = log.lines();
    ASSERT_EQ(lines.size(), 4U);
    EXPECT_EQ(lines[0].rfind("data: HRESULT=", 0), 0U);
    EXPECT_EQ(lines[0].size(), std::string("data: HRESULT=0000 0000 ").size());
    EXPECT_EQ(lines[1], "data: data=");
    EXPECT_EQ(lines[2], "int: dataLen=0");
    EXPECT_EQ(lines[3], "error: DetectInputCodepage failed");
}

TEST_F(MultiLangTest, DetectCodePageOfShiftJisText) {
    const std::string text = repeated("\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x95\xb6\x8f\xcd\x82\xc5"
                                      "\x82\xb7\x81\x42",
                                      20);
    int codePage = 0;
    ASSERT_TRUE(
        service->detectCodePage(text.data(), static_cast<int>(text.size()), codePage, nullptr));
    EXPECT_EQ(codePage, 932);
}

TEST(IcuCoverage, EveryCodePageOfTheNameTableExceptTheListedOnes) {
    const std::set<int> unsupported = {709,   1361,  10004, 10005, 10010, 10021, 10079,
                                       10082, 20000, 20001, 20002, 20003, 20004, 20005,
                                       20105, 20106, 20107, 20108, 20261, 20269, 20423,
                                       20833, 20880, 20905, 20924, 21027, 29001, 50000};
    int count = 0;
    const CharsetNameEntry* table = charsetNameTable(&count);
    std::set<int> codePages;
    for (int i = 0; i < count; ++i) {
        codePages.insert(table[i].codePage);
    }
    std::set<int> failing;
    for (int codePage : codePages) {
        if (IcuCharsetConverter::create(codePage, 65001) == nullptr) {
            failing.insert(codePage);
        } else {
            EXPECT_NE(icuConverterName(codePage), nullptr);
        }
    }
    EXPECT_EQ(failing, unsupported);
}

TEST(IcuCoverage, PlainFunctionsFollowTheWindowsContract) {
    char16_t units[8] = {};
    EXPECT_EQ(multiByteToWideChar(65001, "ab", 2, nullptr, 0), 2);
    EXPECT_EQ(multiByteToWideChar(65001, "ab", 2, units, 8), 2);
    EXPECT_EQ(units[0], u'a');
    // Too little room, an empty input or an unknown page: 0.
    EXPECT_EQ(multiByteToWideChar(65001, "abc", 3, units, 2), 0);
    EXPECT_EQ(multiByteToWideChar(65001, "", 0, nullptr, 0), 0);
    EXPECT_EQ(multiByteToWideChar(29001, "a", 1, nullptr, 0), 0);
    // Bad UTF-8 becomes U+FFFD.
    EXPECT_EQ(multiByteToWideChar(65001, "\xC3(", 2, units, 8), 2);
    EXPECT_EQ(units[0], 0xFFFD);

    char bytes[8] = {};
    const char16_t text[] = {u'\u00e9', u'\u4e2d'};
    EXPECT_EQ(wideCharToMultiByte(1252, text, 2, nullptr, 0), 2);
    EXPECT_EQ(wideCharToMultiByte(1252, text, 2, bytes, 8), 2);
    EXPECT_EQ(std::string(bytes, 2), "\xE9?");
}

TEST(IcuCoverage, FromUtf16SucceedsAtOnceOnlyForAnEmptyInput) {
    struct Case {
        const char* what;
        int length;
        bool ok;
        Lines lines;
    };
    const std::vector<Case> cases = {
        {"no bytes", 0, true, {}},
        {"one byte, no whole unit",
         1,
         false,
         {"error: Failed to convert from Unicode to code page 28591"}},
        {"one unit", 2, true, {}},
    };
    const char16_t text[] = {u'a', 0};
    for (const Case& c : cases) {
        RecordingLog log;
        DataBuffer out;
        EXPECT_EQ(MultiLangImpl::platformFromUtf16(28591, text, c.length, out, &log), c.ok)
            << c.what;
        EXPECT_EQ(log.lines(), c.lines) << c.what;
        DataBuffer utf8;
        EXPECT_EQ(MultiLangImpl::utf16ToUtf8(text, c.length, utf8), c.ok) << c.what;
    }
}

} // namespace
