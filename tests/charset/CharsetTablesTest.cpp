#include "charset/CharsetTables.h"
#include "charset/CharsetHelp.h"
#include "charset/IcuService.h"
#include "charset/QuickConvert.h"
#include "foundation/DataBuffer.h"

#include <gtest/gtest.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <map>
#include <set>
#include <string>
#include <utility>

using namespace charset_tables;

namespace {

std::string bytesOf(const DataBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.getData()), buffer.getSize());
}

// ICU's reading of one byte in a code page: the code point, or -1 when ICU
// gives more or less than one unit.
int icuReading(int codePage, unsigned char byte) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(icuConverterName(codePage), &status);
    if (U_FAILURE(status)) {
        return -1;
    }
    UChar units[4];
    const char input = static_cast<char>(byte);
    const int count = ucnv_toUChars(converter, units, 4, &input, 1, &status);
    ucnv_close(converter);
    return (U_FAILURE(status) || count != 1) ? -1 : units[0];
}

// ICU passes undefined positions through as C1 controls or reads them as
// U+FFFD; the published mappings leave them undefined.
bool icuHasNoCharacter(int reading) {
    return reading < 0 || (reading >= 0x80 && reading <= 0x9F) || reading == 0xFFFD;
}

using Exceptions = std::map<std::pair<int, int>, int>;

const Exceptions& byteTableExceptions() {
    static const Exceptions exceptions = {
        {{1252, 0x8E}, 0x0020},  {{1252, 0x8F}, 0x008F},  {{1254, 0x9E}, 0x009E},
        {{1254, 0x9F}, 0x0020},  {{1255, 0xCA}, 0x0020},  {{1255, 0xDF}, 0x0000},
        {{28597, 0xA1}, 0x02BD}, {{28597, 0xA2}, 0x02BC}, {{28597, 0xA4}, 0x0020},
        {{28597, 0xA5}, 0x0020}, {{28597, 0xAA}, 0x0020}, {{28598, 0xA1}, 0x0000},
        {{28598, 0xAF}, 0x203E}, {{28598, 0xFD}, 0x0020}, {{28598, 0xFE}, 0x0020},
    };
    return exceptions;
}

// Where ICU's table holds a character that the published mapping leaves
// undefined.
const std::set<std::pair<int, int>>& icuExtras() {
    static const std::set<std::pair<int, int>> extras = {{1253, 0xAA}};
    return extras;
}

bool isIsoPage(int codePage) {
    return codePage >= 28591 && codePage <= 28599;
}

TEST(CharsetTables, ByteToUtf16MatchesIcuExceptionsAside) {
    for (int table = 0; table < kByteTableCount; ++table) {
        const int codePage = kByteTablePages[table];
        ASSERT_EQ(byteTableIndex(codePage), table);
        for (int byte = 0x80; byte <= 0xFF; ++byte) {
            const int entry = kByteToUtf16[table][byte - 0x80];
            const auto key = std::make_pair(codePage, byte);
            const int reading = icuReading(codePage, static_cast<unsigned char>(byte));
            int expected = reading;
            if (byteTableExceptions().count(key) != 0) {
                expected = byteTableExceptions().at(key);
            } else if ((isIsoPage(codePage) && byte <= 0x9F) || icuHasNoCharacter(reading) ||
                       icuExtras().count(key) != 0) {
                expected = 0x0020;
            }
            EXPECT_EQ(entry, expected) << "code page " << codePage << " byte " << std::hex << byte;
        }
    }
}

TEST(CharsetTables, ByteToUtf8IsTheUtf8FormOfTheUtf16Entry) {
    for (int table = 0; table < kByteTableCount; ++table) {
        for (int i = 0; i < 128; ++i) {
            const UChar unit = kByteToUtf16[table][i];
            char expected[8] = {};
            int32_t length = 0;
            UErrorCode status = U_ZERO_ERROR;
            u_strToUTF8(expected, sizeof expected, &length, &unit, unit == 0 ? 0 : 1, &status);
            ASSERT_TRUE(U_SUCCESS(status));
            const Utf8Bytes& entry = kByteToUtf8[table][i];
            ASSERT_EQ(entry.length, length) << kByteTablePages[table] << " " << i;
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry.bytes), entry.length),
                      std::string(expected, static_cast<size_t>(length)));
        }
    }
}

TEST(CharsetTables, Utf16ToByteMatchesIcuExceptionsAside) {
    const Exceptions macCyrillic = {
        {{10007, 0xA2}, 0x00A2}, {{10007, 0xB6}, 0x2202}, {{10007, 0xFF}, 0x00A4}};
    for (int table = 0; table < kUnicodeTableCount; ++table) {
        const int codePage = kUnicodeTablePages[table];
        ASSERT_EQ(unicodeTableIndex(codePage), table);
        for (int byte = 0; byte <= 0xFF; ++byte) {
            const int entry = kUtf16ToByte[table][byte];
            const auto key = std::make_pair(codePage, byte);
            const int reading = icuReading(codePage, static_cast<unsigned char>(byte));
            int expected = reading;
            if (byte < 0x80) {
                expected = byte;
            } else if (macCyrillic.count(key) != 0) {
                expected = macCyrillic.at(key);
            } else if (icuHasNoCharacter(reading) || icuExtras().count(key) != 0) {
                expected = 0;
            }
            EXPECT_EQ(entry, expected) << "code page " << codePage << " byte " << std::hex << byte;
        }
    }
}

TEST(CharsetTables, MacArabicFollowsThePublishedMappingWithItsChanges) {
    // ICU has no Mac Arabic converter; these rows come from the published
    // mapping.
    const std::map<int, int> rows = {
        {0x80, 0x00C4}, {0x81, 0x00A0}, {0x93, 0x2026}, {0xA0, 0x0020},
        {0xA5, 0x0025}, {0xAC, 0x002C}, {0xB0, 0x0660}, {0xBF, 0x061F},
        {0xC0, 0x066D}, {0xC7, 0x0627}, {0xE4, 0x0644}, {0xFF, 0x06D2},
    };
    for (const auto& [byte, value] : rows) {
        EXPECT_EQ(kMacArabicToUtf16[byte - 0x80], value) << std::hex << byte;
    }
}

TEST(CharsetHelp, SingleByteToUtf8UsesTheTableForHighBytesOnly) {
    DataBuffer out;
    const std::string input = "A\xE9\x80\x9F z";
    ASSERT_TRUE(CharsetHelp::singleByteToUtf8(28591, input.data(), 6, out));
    EXPECT_EQ(bytesOf(out), "A\xC3\xA9  " + std::string(" z"));

    DataBuffer windows;
    ASSERT_TRUE(CharsetHelp::singleByteToUtf8(1252, "\x80\x81\x8E", 3, windows));
    EXPECT_EQ(bytesOf(windows), "\xE2\x82\xAC  ");

    // An entry of U+0000 has no bytes.
    DataBuffer hebrew;
    ASSERT_TRUE(CharsetHelp::singleByteToUtf8(28598,
                                              "a\xA1"
                                              "b",
                                              3, hebrew));
    EXPECT_EQ(bytesOf(hebrew), "ab");
}

TEST(CharsetHelp, SingleByteToUtf8AppendsAndHandlesLargeInput) {
    DataBuffer out;
    out.append("x", 1);
    std::string input(100000, '\xE9');
    input[50000] = 'a';
    ASSERT_TRUE(
        CharsetHelp::singleByteToUtf8(1252, input.data(), static_cast<int>(input.size()), out));
    ASSERT_EQ(out.getSize(), 1U + 99999U * 2U + 1U);
    EXPECT_EQ(out.getData()[0], 'x');
    EXPECT_EQ(out.getData()[1], 0xC3);
    EXPECT_EQ(out.getData()[1 + 50000 * 2], 'a');
}

TEST(CharsetHelp, SingleByteToUtf16GivesLittleEndianPairs) {
    DataBuffer out;
    ASSERT_TRUE(CharsetHelp::singleByteToUtf16(1251, "a\xC0\x88", 3, out));
    EXPECT_EQ(bytesOf(out), std::string("a\0\x10\x04\xAC\x20", 6));

    DataBuffer arabic;
    ASSERT_TRUE(CharsetHelp::macArabicToUtf16("\xC7\xA5", 2, arabic));
    EXPECT_EQ(bytesOf(arabic), std::string("\x27\x06\x25\0", 4));
}

TEST(CharsetHelp, CodePagesWithoutTablesAreRefused) {
    DataBuffer out;
    EXPECT_FALSE(CharsetHelp::singleByteToUtf8(10007, "\xE9", 1, out));
    EXPECT_FALSE(CharsetHelp::singleByteToUtf16(65001, "\xE9", 1, out));
    EXPECT_EQ(out.getSize(), 0U);
    EXPECT_TRUE(CharsetHelp::hasByteTable(1258));
    EXPECT_FALSE(CharsetHelp::hasByteTable(1259));
    EXPECT_FALSE(CharsetHelp::hasByteTable(28590));
}

struct UnitCase {
    int codePage;
    uint16_t unit;
    int byte; // -1: not found
};

TEST(QuickConvert, UnicodeToByteSearchesTheTableFromU0080Up) {
    const std::vector<UnitCase> cases = {
        {1252, 0x0041, 0x41},
        {1252, 0x20AC, 0x80},
        {1252, 0x00E9, 0xE9},
        {1252, 0x0080, -1},
        {1252, 0x4E2D, -1},
        // Positions below U+00FF that the target holds elsewhere, or not at all.
        {1251, 0x0410, 0xC0},
        {1251, 0x00E9, -1},
        {1251, 0x00A0, 0xA0},
        {1253, 0x00A3, 0xA3},
        {1253, 0x00B4, -1},
        {1253, 0x00C1, -1},
        {1253, 0x0391, 0xC1},
        {10007, 0x0410, 0x80},
        {10007, 0x00A2, 0xA2},
        {10007, 0x00A4, 0xFF},
        {10007, 0x00E9, -1},
        // Undefined positions (U+0000) never match.
        {1252, 0x0000, 0x00},
    };
    for (const UnitCase& c : cases) {
        bool notFound = false;
        const unsigned char byte =
            QuickConvert::unicodeToByte(c.unit, QuickConvert::tableFor(c.codePage), notFound);
        if (c.byte < 0) {
            EXPECT_TRUE(notFound) << c.codePage << " " << std::hex << c.unit;
            EXPECT_EQ(byte, 0);
        } else {
            EXPECT_FALSE(notFound) << c.codePage << " " << std::hex << c.unit;
            EXPECT_EQ(byte, c.byte) << c.codePage << " " << std::hex << c.unit;
        }
    }
}

TEST(QuickConvert, DropsUnitsTheTargetLacksAndAnOddLastByte) {
    // "Жa中é" + one odd byte
    const std::string utf16("\x16\x04\x61\x00\x2D\x4E\xE9\x00\x41", 9);
    DataBuffer out;
    ASSERT_TRUE(QuickConvert::fromUtf16(1251, utf16.data(), static_cast<int>(utf16.size()), out));
    EXPECT_EQ(bytesOf(out), "\xC6"
                            "a");
    DataBuffer none;
    EXPECT_FALSE(QuickConvert::fromUtf16(28591, utf16.data(), 8, none));
    EXPECT_EQ(QuickConvert::tableFor(28591), nullptr);
    EXPECT_EQ(QuickConvert::tableFor(1249), nullptr);
}

} // namespace
