#include "charset/CharsetNames.h"
#include "foundation/StringBuffer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string normalized(const char* name) {
    StringBuffer text(name);
    normalizeCharsetName(text);
    return text.getString();
}

int codePageOf(const char* name) {
    StringBuffer text(name);
    normalizeCharsetName(text);
    return lookupCodePage(text.getString());
}

struct NameCase {
    const char* name;
    const char* normalized;
};

TEST(NormalizeCharsetName, RewritesInTheOrderOfItsSteps) {
    const std::vector<NameCase> cases = {
        {"ISO_8859-1", "iso-8859-1"},
        {"  Latin1 \t", "iso-8859-1"},
        {"CP819", "iso-8859-1"},
        {"iso8859-2", "iso-8859-2"},
        {"x-cp1250", "windows-1250"},
        {"X-CP20949", "windows-20949"},
        {"x-euc-jp", "euc-jp"},
        {"x-euc", "euc"},
        {"ISO-IR-127", "iso-8859-6"},
        {"arabic", "iso-8859-6"},
        {"cp1256", "windows-1256"},
        {"latin4", "iso-8859-4"},
        {"latin2", "iso-8859-2"},
        {"chinese", "gb2312"},
        {"iso-ir-58", "gb2312"},
        {"CN-Big5", "big5"},
        {"csBig5", "big5"},
        {"cyrillic", "iso-8859-5"},
        {"koi8r", "koi8-r"},
        {"koi", "koi8-r"},
        {"koi8", "koi8-r"},
        {"koi8-ru", "koi8-u"},
        {"greek", "iso-8859-7"},
        {"hebrew", "iso-8859-8"},
        {"iso-ir-138", "iso-8859-8"},
        {"MS_Kanji", "shift-jis"},
        {"x-sjis", "shift-jis"},
        {"korean", "euc-kr"},
        {"unicode-1-1-utf-7", "utf-7"},
        {"x-unicode-2-0-utf-8", "utf-8"},
        {"utf-8;", "utf-8"},
        {"iso-10646-ucs-2", "unicode"},
        {"ucs-4le", "ucs-4"},
        {"csASCII", "us-ascii"},
        {"ANSI_X3.4-1968", "ansi-x3.4-1968"},
        {"iso646-us", "us-ascii"},
        {"iso-ir-100", "iso-8859-1"},
        {"cp367", "windows-1252"},
        {"iso-ir-6", "windows-1252"},
        {"vietnamese", "windows-1258"},
        {"x-cp1258", "windows-1258"},
        {"thai", "windows-874"},
        {"cp874", "windows-874"},
        // "replace first" works anywhere in the name, and only once.
        {"my-iso8859-iso8859", "my-iso-8859-iso8859"},
        // Each step sees what the earlier ones left: step 36 makes
        // "iso-8859-1" of the first "cp819", step 40 catches the second.
        {"cp819cp819", "iso-8859-1windows-1252"},
        {"Windows_1252", "windows-1252"},
        {"", ""},
        {" \t\r\n ", ""},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(normalized(c.name), c.normalized) << "name: '" << c.name << "'";
    }
}

struct LookupCase {
    const char* name;
    int codePage;
};

TEST(LookupCodePage, ResolvesNamesAfterNormalization) {
    const std::vector<LookupCase> cases = {
        {"ISO_8859-1", 28591},
        {"  Latin1  ", 28591},
        {"CP819", 28591},
        {"UTF8", 0},
        {"x-unicode-2-0-utf-8", 65001},
        {"utf-8;", 65001},
        {"Windows-1252", 1252},
        {"windows-20936", 20936},
        {"windows-936", 936},
        {"windows-1252x", 1252},
        {"windows-", 0},
        {"windows-x1", 0},
        {"x-cp20949", 20949},
        {"ascii", 20127},
        {"us", 20127},
        {"ANSI_X3.4-1968", 20127},
        {"cp367", 1252},
        {"iso-ir-6", 1252},
        {"gb18030", 54936},
        {"gb18030-2000", 54936},
        {"gbk", 936},
        {"big5-hkscs", 950},
        {"x-euc", 0},
        {"ucs-4", 0},
        {"utf-16", 1200},
        {"UTF-16BE", 1201},
        {"unicodeFFFE", 1201},
        {"ucs-2", 1200},
        {"iso-8859-8 visual", 28598},
        {"ISO-8859-8-I", 38598},
        {"iso-646.irv:1991", 20127},
        {"asmo-449+", 709},
        {"ebcdic-latin9--euro", 20924},
        {"shift_jis", 932},
        {"x-mac-cyrillic", 10007},
        {"koi8-ru", 21866},
        {"euc-kr", 51949},
        {"korean", 51949},
        {"x-user-defined", 50000},
        {"no-such-charset", 0},
    };
    for (const LookupCase& c : cases) {
        EXPECT_EQ(codePageOf(c.name), c.codePage) << "name: '" << c.name << "'";
    }
}

TEST(LookupCodePage, EmptyAndNullNamesAreNotRecognized) {
    EXPECT_EQ(lookupCodePage(""), 0);
    EXPECT_EQ(lookupCodePage(nullptr), 0);
}

TEST(LookupCodePage, WindowsRuleReadsDigitsUpToTheFirstOther) {
    EXPECT_EQ(lookupCodePage("windows-65001"), 65001);
    EXPECT_EQ(lookupCodePage("windows-1251;q"), 1251);
    EXPECT_EQ(lookupCodePage("windows-00437"), 437);
    // Too large for a code page: not recognized rather than overflowing.
    EXPECT_EQ(lookupCodePage("windows-99999999999"), 0);
    // The rule asks for the prefix at the start only.
    EXPECT_EQ(lookupCodePage("x-windows-1252"), 0);
}

TEST(CharsetNameTable, HoldsEveryKeyOnceForEachCodePage) {
    int count = 0;
    const CharsetNameEntry* table = charsetNameTable(&count);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(count, 412);

    std::set<std::string> keys;
    std::set<int> codePages;
    for (int i = 0; i < count; ++i) {
        const std::string key = table[i].key;
        EXPECT_TRUE(keys.insert(key).second) << "duplicate key " << key;
        codePages.insert(table[i].codePage);
        for (char c : key) {
            EXPECT_FALSE(std::isupper(static_cast<unsigned char>(c))) << key;
            EXPECT_NE(c, '_') << key;
        }
        // Every key is found as it is listed.
        EXPECT_EQ(lookupCodePage(key.c_str()), table[i].codePage) << key;
    }
    EXPECT_EQ(codePages.size(), 147U);
}

TEST(CharsetNameTable, SampleRowsHoldTheirKeys) {
    const std::map<int, std::vector<const char*>> rows = {
        {37,
         {"cp037", "csibm037", "ebcdic-cp-ca", "ebcdic-cp-nl", "ebcdic-cp-us", "ebcdic-cp-wt",
          "ibm037"}},
        {932,
         {"shift-jis", "csshiftjis", "cswindows31j", "ms-kanji", "sjis", "x-ms-cp932", "x-sjis"}},
        {949,
         {"csksc56011987", "iso-ir-149", "korean", "ks-c-5601", "ks-c5601", "ksc5601", "ksc-5601",
          "ks-c-5601-1987", "ks-c-5601-1989"}},
        {20127,
         {"us-ascii", "ansi-x3.4-1968", "ansi-x3.4-1986", "ascii", "cp367", "csascii", "ibm367",
          "iso-ir-6", "iso646-us", "iso-646.irv:1991", "us"}},
        {28598,
         {"iso-8859-8", "csisolatinhebrew", "hebrew", "iso-8859-8 visual", "iso-ir-138",
          "iso-8859-8:1988", "logical", "visual"}},
        {51932, {"euc-jp", "cseucpkdfmtjapanese", "iso-2022-jpeuc", "x-euc", "x-euc-jp"}},
        {65000,
         {"utf-7", "csunicode11utf7", "unicode-1-1-utf-7", "unicode-2-0-utf-7",
          "x-unicode-1-1-utf-7", "x-unicode-2-0-utf-7"}},
    };
    int count = 0;
    const CharsetNameEntry* table = charsetNameTable(&count);
    std::map<int, std::set<std::string>> byCodePage;
    for (int i = 0; i < count; ++i) {
        byCodePage[table[i].codePage].insert(table[i].key);
    }
    for (const auto& [codePage, keys] : rows) {
        const std::set<std::string> expected(keys.begin(), keys.end());
        EXPECT_EQ(byCodePage[codePage], expected) << "code page " << codePage;
    }
}

TEST(CharsetNameTable, RewrittenKeysResolveThroughTheNameTheyBecome) {
    // Normalization rewrites these keys before the lookup, so the row of the
    // name they are rewritten to applies.
    EXPECT_EQ(codePageOf("csascii"), 20127);
    EXPECT_EQ(codePageOf("cp1256"), 1256);
    EXPECT_EQ(codePageOf("x-cp50227"), 50227);
    EXPECT_EQ(codePageOf("x-euc-cn"), 51936);
    EXPECT_EQ(codePageOf("ibm367"), 20127);
}

} // namespace
