#include "charset/CharsetConvert.h"
#include "charset/IcuService.h"
#include "foundation/DataBuffer.h"
#include "support/RecordingLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string bytesOf(const DataBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.getData()), buffer.getSize());
}

// Converts with fresh setters; the output of a failed conversion is returned
// as well, since what was appended stays.
bool convertText(const char* from, const char* to, const std::string& input, std::string& output,
                 DiagnosticLog* log = nullptr) {
    CharsetConvert converter(nullptr);
    EXPECT_TRUE(converter.setFromCharset(from, nullptr)) << from;
    EXPECT_TRUE(converter.setToCharset(to, nullptr)) << to;
    DataBuffer out;
    const bool ok = converter.convert(input.data(), static_cast<int>(input.size()), out, log);
    output = bytesOf(out);
    return ok;
}

std::string converted(const char* from, const char* to, const std::string& input) {
    std::string output;
    EXPECT_TRUE(convertText(from, to, input, output)) << from << " -> " << to;
    return output;
}

// Makes the conversion library look missing for the lifetime of the object.
struct WithoutIcu {
    WithoutIcu() { IcuService::setUnavailableForTesting(true); }
    ~WithoutIcu() { IcuService::setUnavailableForTesting(false); }
};

TEST(CharsetConvertSetters, StartWithIso88591AndKeepTheOldCodePageOnFailure) {
    CharsetConvert converter;
    EXPECT_TRUE(converter.hasMultiLang());
    EXPECT_EQ(converter.getFromCodePage(), 28591);
    EXPECT_EQ(converter.getToCodePage(), 28591);

    RecordingLog log;
    EXPECT_FALSE(converter.setFromCharset(" Bogus ", &log));
    EXPECT_FALSE(converter.setToCharset("UTF8", &log));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "error: FROM Charset not recognized", "data: charset= Bogus ",
                               "error: TO Charset not recognized", "data: charset=UTF8"}));
    EXPECT_EQ(converter.getFromCodePage(), 28591);
    EXPECT_EQ(converter.getToCodePage(), 28591);

    EXPECT_TRUE(converter.setFromCharset("Windows-1251", &log));
    EXPECT_TRUE(converter.setToCharset("shift_jis", &log));
    EXPECT_EQ(converter.getFromCodePage(), 1251);
    EXPECT_EQ(converter.getToCodePage(), 932);
    EXPECT_FALSE(converter.setFromCharset("x-euc", nullptr));
    EXPECT_EQ(converter.getFromCodePage(), 1251);
}

TEST(CharsetConvertSetters, EmptyNamesMeanUtf8) {
    for (const char* name : {static_cast<const char*>(nullptr), "", " \t "}) {
        CharsetConvert converter;
        EXPECT_TRUE(converter.setFromCharset(name, nullptr));
        EXPECT_TRUE(converter.setToCharset(name, nullptr));
        EXPECT_EQ(converter.getFromCodePage(), 65001);
        EXPECT_EQ(converter.getToCodePage(), 65001);
    }
}

struct ConvertCase {
    const char* from;
    const char* to;
    std::string input;
    std::string output;
};

TEST(CharsetConvertConvert, TablePathsAndServicePaths) {
    const std::vector<ConvertCase> cases = {
        {"iso-8859-1", "utf-8", "caf\xE9", "caf\xC3\xA9"},
        {"iso-8859-1", "utf-8", "\x80\x9F", "  "},
        {"windows-1252", "utf-8", "\x80\x81\x8E", "\xE2\x82\xAC  "},
        {"windows-1252", "utf-8", "\x8F", "\xC2\x8F"},
        {"iso-8859-7", "utf-8", "\xA1\xA4\xE1", "\xCA\xBD \xCE\xB1"},
        {"utf-8", "utf-8", "\xEF\xBB\xBFx", "\xEF\xBB\xBFx"},
        {"utf-8", "iso-8859-1", "\xEF\xBB\xBF\xC3\xA9", "\xE9"},
        {"utf-8", "windows-1251", "\xEF\xBB\xBF\xD0\x96", "\xC6"},
        // Targets with a built-in table drop what they cannot hold.
        {"utf-8", "windows-1252", "a\xE4\xB8\xAD\xE2\x82\xAC", "a\x80"},
        {"iso-8859-5", "windows-1251", "\xB0", "\xC0"},
        {"koi8-r", "utf-8", "\xE1", "\xD0\x90"},
        {"utf-8", "koi8-r", "\xD0\x90", "\xE1"},
        {"shift_jis", "utf-8", "\x82\xA0", "\xE3\x81\x82"},
        {"utf-8", "euc-jp", "\xE3\x81\x82", "\xA4\xA2"},
        {"utf-8", "iso-2022-jp", "\xE3\x81\x82", "\x1B$B$\"\x1B(B"},
        {"x-mac-arabic", "utf-16", "\xC7", std::string("\x27\x06", 2)},
        {"x-mac-arabic", "utf-8", "\xC7\xA5", "\xD8\xA7%"},
        {"x-mac-arabic", "windows-1256", "\xC7", "\xC7"},
        {"utf-16", "utf-8", std::string("\xFF\xFE\xE9\x00", 4), "\xEF\xBB\xBF\xC3\xA9"},
        {"utf-16", "windows-1251", std::string("\x16\x04\x2D\x4E", 4), "\xC6"},
        {"gbk", "gbk", "\xFF\xFE", "\xFF\xFE"},
    };
    for (const ConvertCase& c : cases) {
        EXPECT_EQ(converted(c.from, c.to, c.input), c.output) << c.from << " -> " << c.to;
    }
}

TEST(CharsetConvertConvert, EmptyInputSucceedsWithNothingAppended) {
    CharsetConvert converter;
    converter.setFromCharset("x-user-defined", nullptr);
    converter.setToCharset("x-europa", nullptr);
    DataBuffer out;
    RecordingLog log;
    EXPECT_TRUE(converter.convert("", 0, out, &log));
    EXPECT_TRUE(converter.convert(nullptr, 5, out, &log));
    EXPECT_EQ(out.getSize(), 0U);
    EXPECT_TRUE(log.lines().empty());
}

TEST(CharsetConvertConvert, OutputIsAppendedNeverCleared) {
    CharsetConvert converter;
    converter.setToCharset("utf-8", nullptr);
    DataBuffer out;
    out.append("<", 1);
    ASSERT_TRUE(converter.convert("\xE9", 1, out, nullptr));
    ASSERT_TRUE(converter.convert("\xE8", 1, out, nullptr));
    EXPECT_EQ(bytesOf(out), "<\xC3\xA9\xC3\xA8");
}

TEST(CharsetConvertConvert, PagesIcuCannotConvertFail) {
    std::string output;
    RecordingLog log;
    // Reading a page the plain functions do not know fails without a message.
    EXPECT_FALSE(convertText("x-europa", "utf-8", "abc", output, &log));
    EXPECT_TRUE(output.empty());
    EXPECT_TRUE(log.lines().empty());

    EXPECT_FALSE(convertText("utf-8", "x-europa", "abc", output, &log));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "error: Failed to convert from Unicode to code page 29001"}));
}

TEST(CharsetConvertUnicode, ToUnicodeFromEachKindOfSource) {
    struct Case {
        const char* from;
        std::string input;
        std::string output;
    };
    const std::vector<Case> cases = {
        {"windows-1252", "a\x80", std::string("a\0\xAC\x20", 4)},
        {"utf-8", "\xEF\xBB\xBF\xC3\xA9", std::string("\xE9\0", 2)},
        {"utf-8", "\xEF\xBB\xBF", ""},
        {"utf-8", "a\xFF", std::string("a\0\xFD\xFF", 4)},
        {"utf-16", "\xFF\xFE", "\xFF\xFE"},
        {"koi8-r", "\xE1", std::string("\x10\x04", 2)},
        {"macintosh", "\x8E", std::string("\xE9\0", 2)},
    };
    for (const Case& c : cases) {
        CharsetConvert converter;
        ASSERT_TRUE(converter.setFromCharset(c.from, nullptr));
        DataBuffer out;
        EXPECT_TRUE(
            converter.toUnicode(c.input.data(), static_cast<int>(c.input.size()), out, nullptr))
            << c.from;
        EXPECT_EQ(bytesOf(out), c.output) << c.from;
    }
}

TEST(CharsetConvertUnicode, FromUnicodeKeepsTheByteOrderMarkForUtf8) {
    CharsetConvert converter;
    converter.setToCharset("utf-8", nullptr);
    DataBuffer out;
    const std::string input("\xFF\xFE\x41\x00\x00\xD8\x42\x00", 8);
    ASSERT_TRUE(converter.fromUnicode(input.data(), static_cast<int>(input.size()), out, nullptr));
    // The byte-order mark becomes EF BB BF; the lone surrogate U+FFFD.
    EXPECT_EQ(bytesOf(out), "\xEF\xBB\xBF"
                            "A\xEF\xBF\xBD"
                            "B");
}

TEST(CharsetConvertUnicode, FromUnicodeToOtherTargets) {
    struct Case {
        const char* to;
        std::string input;
        std::string output;
    };
    const std::vector<Case> cases = {
        // Cyrillic letters by the built-in table, the Chinese character dropped.
        {"windows-1251", std::string("\x16\x04\x2D\x4E\x10\x04", 6), "\xC6\xC0"},
        {"x-mac-cyrillic", std::string("\x10\x04\xA2\x00", 4), "\x80\xA2"},
        {"utf-16", std::string("\xFF\xFE\x41", 3), std::string("\xFF\xFE\x41", 3)},
        // Other targets drop a leading byte-order mark first.
        {"gb2312", std::string("\xFF\xFE\x2D\x4E", 4), "\xD6\xD0"},
        {"iso-8859-1", std::string("\xE9\x00\x2D\x4E", 4), "\xE9?"},
        {"iso-2022-jp", std::string("\x42\x30", 2), "\x1B$B$\"\x1B(B"},
    };
    for (const Case& c : cases) {
        CharsetConvert converter;
        ASSERT_TRUE(converter.setToCharset(c.to, nullptr));
        DataBuffer out;
        EXPECT_TRUE(
            converter.fromUnicode(c.input.data(), static_cast<int>(c.input.size()), out, nullptr))
            << c.to;
        EXPECT_EQ(bytesOf(out), c.output) << c.to;
    }
}

TEST(CharsetConvertWithoutService, TablesStillWorkAndTheRestFails) {
    WithoutIcu missing;
    RecordingLog creation;
    CharsetConvert converter(&creation);
    EXPECT_FALSE(converter.hasMultiLang());
    EXPECT_EQ(creation.lines(),
              (std::vector<std::string>{"error: Failed to create multi-language object."}));

    converter.setFromCharset("windows-1250", nullptr);
    converter.setToCharset("utf-8", nullptr);
    DataBuffer out;
    EXPECT_TRUE(converter.convert("\x8A", 1, out, nullptr));
    EXPECT_EQ(bytesOf(out), "\xC5\xA0");

    converter.setToCharset("windows-1251", nullptr);
    out.release();
    EXPECT_TRUE(converter.convert("\xE9", 1, out, nullptr)); // é is not in windows-1251
    EXPECT_EQ(out.getSize(), 0U);

    RecordingLog log;
    converter.setFromCharset("koi8-r", nullptr);
    converter.setToCharset("gbk", nullptr);
    EXPECT_FALSE(converter.convert("abc", 3, out, &log));
    EXPECT_FALSE(converter.toUnicode("abc", 3, out, &log));
    EXPECT_FALSE(converter.fromUnicode("a\0", 2, out, &log));
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>(3, "error: CharsetConvert: no multi-language object")));
}

} // namespace
