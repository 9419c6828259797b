#include "mime/ContentCoding.h"
#include "mime/HeaderFieldText.h"

#include "foundation/StringBuffer.h"
#include "support/RecordingLog.h"

#include <gtest/gtest.h>

#include <string>
#include <unicode/ucnv.h>
#include <utility>
#include <vector>

namespace {

std::string text(const StringBuffer& sb) {
    return std::string(sb.getString(), static_cast<size_t>(sb.getSize()));
}

std::string headerWord(const std::string& input, const char* charset) {
    StringBuffer out;
    ContentCoding().encodeHeaderWord(input.data(), static_cast<int>(input.size()), charset, out);
    return text(out);
}

std::vector<std::string> splitLines(const std::string& value) {
    std::vector<std::string> lines;
    size_t position = 0;
    while (true) {
        const size_t lineEnd = value.find("\r\n", position);
        lines.push_back(value.substr(position, lineEnd - position));
        if (lineEnd == std::string::npos) {
            return lines;
        }
        position = lineEnd + 2;
    }
}

std::string decodedQ(const std::string& input, DiagnosticLog* log = nullptr) {
    StringBuffer buffer;
    buffer.appendBytes(input.data(), static_cast<int>(input.size()));
    ContentCoding().decodeWordsQ(buffer, log);
    return text(buffer);
}

std::string decodedB(const std::string& input, DiagnosticLog* log = nullptr) {
    StringBuffer buffer;
    buffer.appendBytes(input.data(), static_cast<int>(input.size()));
    ContentCoding().decodeWordsB(buffer, log);
    return text(buffer);
}

// Converts UTF-8 into a charset through ICU, for test texts.
std::string fromUtf8(const std::string& utf8, const char* charset) {
    UErrorCode status = U_ZERO_ERROR;
    std::string out(utf8.size() * 4 + 16, '\0');
    const int32_t length =
        ucnv_convert(charset, "utf-8", out.data(), static_cast<int32_t>(out.size()), utf8.data(),
                     static_cast<int32_t>(utf8.size()), &status);
    EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
    out.resize(static_cast<size_t>(length));
    return out;
}

std::string toUtf8(const std::string& bytes, const char* charset) {
    UErrorCode status = U_ZERO_ERROR;
    std::string out(bytes.size() * 4 + 16, '\0');
    const int32_t length =
        ucnv_convert("utf-8", charset, out.data(), static_cast<int32_t>(out.size()), bytes.data(),
                     static_cast<int32_t>(bytes.size()), &status);
    EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
    out.resize(static_cast<size_t>(length));
    return out;
}

// The payload bytes of every word of a value made of several words.
std::vector<std::string> wordPayloads(const std::string& value, char kind) {
    std::vector<std::string> payloads;
    const ContentCoding coding;
    for (std::string line : splitLines(value)) {
        if (!line.empty() && line[0] == ' ') {
            line.erase(0, 1);
        }
        const size_t marker = line.find(std::string("?") + kind + "?");
        EXPECT_NE(marker, std::string::npos) << line;
        EXPECT_EQ(line.substr(0, 2), "=?");
        EXPECT_EQ(line.substr(line.size() - 2), "?=");
        const std::string payload = line.substr(marker + 3, line.size() - marker - 5);
        int length = 0;
        char* block =
            kind == 'B'
                ? coding.decodeBase64(payload.data(), static_cast<int>(payload.size()), &length)
                : coding.decodeQ(payload.data(), static_cast<int>(payload.size()), &length);
        payloads.emplace_back(block, static_cast<size_t>(length));
        std::free(block);
    }
    return payloads;
}

TEST(EncodeHeaderWord, SingleQWord) {
    EXPECT_EQ(headerWord("Caf\xE9 au lait", "iso-8859-1"), "=?iso-8859-1?Q?Caf=E9_au_lait?=");
}

TEST(EncodeHeaderWord, BCharsetsGiveBWords) {
    const char* bCharsets[] = {"shift_jis",    "Shift-JIS",   "iso-2022-jp",  "euc-jp",
                               "EUC-KR",       "iso-2022-kr", "gb2312",       "euc-cn",
                               "cp-936",       "euc-tw",      "BIG5",         "cp-950",
                               "cp-932",       "tis-620",     "windows-874",  "iso-8859-9",
                               "windows-1254", "iso-8859-6",  "windows-1256", "cp-1256"};
    for (const char* charset : bCharsets) {
        EXPECT_EQ(headerWord("abc", charset), std::string("=?") + charset + "?B?YWJj?=") << charset;
    }
    EXPECT_EQ(headerWord("abc", "utf-8"), "=?utf-8?Q?abc?=");
    EXPECT_EQ(headerWord("abc", "windows-1252"), "=?windows-1252?Q?abc?=");
}

TEST(EncodeHeaderWord, AlreadyEncodedTextIsAppendedUnchanged) {
    EXPECT_EQ(headerWord("=?utf-8?q?x?=", "big5"), "=?utf-8?q?x?=");
    EXPECT_EQ(headerWord("a ?b? c", "utf-8"), "a ?b? c");
    // The marker counts only within the first 100 bytes.
    const std::string late = std::string(98, 'a') + "?Q?";
    EXPECT_EQ(headerWord(late, "utf-8").substr(0, 9), "=?utf-8?Q");
}

TEST(EncodeHeaderWord, NothingForNoText) {
    EXPECT_EQ(headerWord("", "utf-8"), "");
    StringBuffer out;
    ContentCoding().encodeHeaderWord(nullptr, 4, "utf-8", out);
    EXPECT_EQ(out.getSize(), 0);
}

TEST(EncodeWords, MissingArgumentsWriteNothing) {
    StringBuffer out;
    const ContentCoding coding;
    coding.encodeWordB(nullptr, 3, "utf-8", out);
    coding.encodeWordB("abc", 3, nullptr, out);
    coding.encodeWordB("abc", 0, "utf-8", out);
    coding.encodeWordQ(nullptr, 3, "utf-8", out);
    coding.encodeWordQ("abc", 3, nullptr, out);
    coding.encodeWordQ("abc", 0, "utf-8", out);
    EXPECT_EQ(out.getSize(), 0);
    coding.encodeWordB("abc", 3, "x", out);
    coding.encodeWordQ("a?c", 3, "y", out);
    EXPECT_EQ(text(out), "=?x?B?YWJj?==?y?Q?a=3Fc?=");
}

TEST(EncodeWords, OneWordHoweverLong) {
    StringBuffer out;
    const std::string input(2000, 'a');
    ContentCoding().encodeWordQ(input.data(), 2000, "utf-8", out);
    EXPECT_EQ(out.getSize(), 2000 + 12);
    EXPECT_FALSE(out.contains("\r\n"));
}

TEST(EncodeHeaderWord, WordsStayWithinALineBesideTheFieldName) {
    // "Subject: " and a word of 69 characters make 78.
    const std::string input(69 - 12, 'a');
    const std::string word = headerWord(input, "utf-8");
    EXPECT_EQ(word.size(), 69u);
    EXPECT_EQ(word.find("\r\n"), std::string::npos);
    const std::vector<std::string> lines = splitLines(headerWord(input + "a", "utf-8"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_LE(lines[0].size(), 69u);
    EXPECT_EQ(lines[1], " =?utf-8?Q?a?=");
}

struct SplitCase {
    const char* charset;
    std::string utf8Text;
    char kind;
};

TEST(EncodeHeaderWord, LongTextsBecomeSeveralWordsOfWholeCharacters) {
    std::string japanese;
    std::string cafe;
    std::string korean;
    std::string chinese;
    for (int i = 0; i < 200; ++i) {
        japanese += "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E a"; // 日本語 a
        cafe += "Caf\xC3\xA9 ";
        korean += "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4 ";  // 한국어
        chinese += "\xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97 "; // 中文字
    }
    const SplitCase cases[] = {
        {"utf-8", japanese, 'Q'},    {"UTF-8", cafe, 'Q'},           {"shift_jis", japanese, 'B'},
        {"euc-jp", japanese, 'B'},   {"iso-2022-jp", japanese, 'B'}, {"euc-kr", korean, 'B'},
        {"big5", chinese, 'B'},      {"gb2312", chinese, 'B'},       {"iso-8859-1", cafe, 'Q'},
        {"windows-1254", cafe, 'B'},
    };
    for (const auto& c : cases) {
        const std::string input =
            std::string(c.charset).find("utf") == 0 || std::string(c.charset).find("UTF") == 0
                ? c.utf8Text
                : fromUtf8(c.utf8Text, c.charset);
        const std::string value = headerWord(input, c.charset);
        const std::vector<std::string> lines = splitLines(value);
        ASSERT_GT(lines.size(), 1u) << c.charset;
        std::string utf8Joined;
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_LE(lines[i].size(), (i == 0 ? 75u : 76u)) << c.charset << " line " << i;
            if (i > 0) {
                EXPECT_EQ(lines[i][0], ' ');
            }
        }
        for (const std::string& payload : wordPayloads(value, c.kind)) {
            // Every word decodes on its own: no character is split.
            const std::string piece = toUtf8(payload, c.charset);
            EXPECT_EQ(piece.find("\xEF\xBF\xBD"), std::string::npos) << c.charset;
            EXPECT_EQ(piece.find('\x1A'), std::string::npos) << c.charset;
            utf8Joined += piece;
        }
        EXPECT_EQ(utf8Joined, c.utf8Text) << c.charset;
    }
}

TEST(EncodeHeaderWord, StatefulWordsEachEndInTheInitialState) {
    std::string japanese;
    for (int i = 0; i < 300; ++i) {
        japanese += "\xE6\x97\xA5\xE6\x9C\xAC";
    }
    const std::string value = headerWord(fromUtf8(japanese, "iso-2022-jp"), "iso-2022-jp");
    for (const std::string& payload : wordPayloads(value, 'B')) {
        EXPECT_EQ(payload.substr(0, 3), "\x1B$B");
        EXPECT_EQ(payload.substr(payload.size() - 3), "\x1B(B");
    }
}

TEST(EncodeHeaderWord, MalformedMultiByteTextKeepsEveryByte) {
    // Lead bytes without trail bytes and stray trail bytes between valid
    // Shift_JIS characters.
    std::string input;
    for (int i = 0; i < 150; ++i) {
        input += "\x93\xFA\x96\x7B"; // two valid characters
        input += (i % 3 == 0) ? "\x81" : (i % 3 == 1 ? "\xFF" : "a");
    }
    input += "\x93"; // a lead byte at the very end
    const std::string value = headerWord(input, "shift_jis");
    std::string joined;
    for (const std::string& payload : wordPayloads(value, 'B')) {
        joined += payload;
    }
    EXPECT_EQ(joined, input);
}

TEST(EncodeHeaderWord, UnknownCharsetIsCutBetweenBytes) {
    const std::string input(1500, 'z');
    const std::string value = headerWord(input, "x-unknown");
    std::string joined;
    for (const std::string& payload : wordPayloads(value, 'Q')) {
        joined += payload;
    }
    EXPECT_EQ(joined, input);
}

struct FieldTextCase {
    const char* name;
    const char* input;
    const char* charset; // null: an address list
    const char* expected;
};

TEST(HeaderFieldText, ValuesAReaderCanTrust) {
    const FieldTextCase cases[] = {
        {"Subject", "Plain title", "utf-8", "Plain title"},
        {"Subject", "Plain title", "", "Plain title"},
        {"Subject", "Plain", "iso-8859-1", "=?iso-8859-1?Q?Plain?="},
        {"Subject", "Caf\xC3\xA9 au lait", "iso-8859-1", "=?iso-8859-1?Q?Caf=E9_au_lait?="},
        // A character the page's charset lacks: UTF-8 instead.
        {"Subject", "Caf\xC3\xA9 \xE2\x80\x94", "iso-8859-1", "=?utf-8?Q?Caf=C3=A9_=E2=80=94?="},
        {"Subject", "Caf\xC3\xA9", "us-ascii", "=?utf-8?Q?Caf=C3=A9?="},
        {"Subject", "Caf\xC3\xA9", "", "=?utf-8?Q?Caf=C3=A9?="},
        {"Subject", "Caf\xC3\xA9", "x-unknown", "=?utf-8?Q?Caf=C3=A9?="},
        {"Subject", "It\xE2\x80\x99s", "windows-1252", "=?windows-1252?Q?It=92s?="},
        {"Subject", "\xE6\x97\xA5", "shift_jis", "=?shift_jis?B?k/o=?="},
        {"Subject", "\xE6\x97\xA5", "utf-16", "=?utf-8?Q?=E6=97=A5?="},
        {"Subject",
         " a\tb\r\n\x07"
         "c\x1B \x7F ",
         "utf-8", "a b c"},
        {"Subject", "x\r\nBcc: someone@example.org", "utf-8", "x Bcc: someone@example.org"},
        {"Subject",
         "a\xFF"
         "b",
         "utf-8", "=?utf-8?Q?a=EF=BF=BDb?="},
        {"Subject", " \r\n ", "utf-8", ""},
        {"To", "someone@example.com", nullptr, "someone@example.com"},
        {"To", "J\xC3\xB6rg <j@example.org>", nullptr, "=?utf-8?B?SsO2cmc=?= <j@example.org>"},
        {"To", "\"J\xC3\xB6rg, M\xC3\xBCller\" <a@b>, plain name <p@q>,, bare@x", nullptr,
         "=?utf-8?B?SsO2cmcsIE3DvGxsZXI=?= <a@b>, plain name <p@q>, bare@x"},
        {"From", "\"Smith, J\" <j@x>", nullptr, "\"Smith, J\" <j@x>"},
        {"From", "J\xC3\xB6rg <j\xC3\xB6@x>", nullptr, "=?utf-8?B?SsO2cmc=?= <j\xC3\xB6@x>"},
        {"To", "a@b,\r\nBcc: c@d", nullptr, "a@b, Bcc: c@d"},
    };
    for (const FieldTextCase& c : cases) {
        const std::string value = c.charset != nullptr
                                      ? HeaderFieldText::unstructured(c.name, c.input, c.charset)
                                      : HeaderFieldText::addressList(c.name, c.input);
        EXPECT_EQ(value, c.expected) << c.input;
    }
}

TEST(HeaderFieldText, LongValuesAreFoldedWithinLinesOf78) {
    std::string umlauts;
    std::string words;
    std::string names;
    for (int i = 0; i < 40; ++i) {
        umlauts += "\xC3\xBC\xE2\x80\x94"; // a 2-byte and a 3-byte character
        words += "word" + std::to_string(i) + " ";
        names += "J\xC3\xB6rg M\xC3\xBCller " + std::to_string(i) + " <j" + std::to_string(i) +
                 "@example.org>, ";
    }
    const std::string plainWords = words.substr(0, words.size() - 1);
    const std::string plainNames = names.substr(0, names.size() - 2);
    const std::pair<std::string, std::string> cases[] = {
        {HeaderFieldText::unstructured("Subject", umlauts, "utf-8"), umlauts},
        {HeaderFieldText::unstructured("Subject", umlauts, "iso-8859-1"), umlauts},
        {HeaderFieldText::unstructured("Subject", words, "utf-8"), plainWords},
        {HeaderFieldText::unstructured("Subject", words, "iso-8859-1"), plainWords},
        {HeaderFieldText::addressList("To", names), plainNames},
    };
    for (const auto& [value, expected] : cases) {
        const std::vector<std::string> lines = splitLines(value);
        EXPECT_GT(lines.size(), 1u) << value;
        for (size_t i = 0; i < lines.size(); ++i) {
            // The first line stands behind "Subject: " (or the shorter "To: ").
            EXPECT_LE(lines[i].size() + (i == 0 ? 9 : 0), 78u) << value;
            if (i > 0) {
                EXPECT_EQ(lines[i][0], ' ') << value;
            }
        }
        // Every word decodes to whole characters, and unfolding gives the text.
        StringBuffer decoded;
        decoded.appendBytes(value.data(), static_cast<int>(value.size()));
        ContentCoding().decodeWordsQ(decoded);
        ContentCoding().decodeWordsB(decoded);
        std::string unfolded = text(decoded);
        for (size_t fold = unfolded.find("\r\n"); fold != std::string::npos;
             fold = unfolded.find("\r\n")) {
            unfolded.erase(fold, 2);
        }
        EXPECT_EQ(unfolded, expected);
    }
}

TEST(DecodeWords, QWordsInText) {
    EXPECT_EQ(decodedQ("Re: =?utf-8?Q?Caf=C3=A9_au_lait?= today"), "Re: Caf\xC3\xA9 au lait today");
    EXPECT_EQ(decodedQ("=?UTF-8?q?a?= =?utf-8?Q?b?="), "a b");
    EXPECT_EQ(decodedQ("x=?utf-8?Q?"
                       "?=y"),
              "xy");
    EXPECT_EQ(decodedQ("no words here"), "no words here");
}

TEST(DecodeWords, ConvertsOtherCharsetsToUtf8) {
    EXPECT_EQ(decodedQ("=?iso-8859-1?Q?Caf=E9?="), "Caf\xC3\xA9");
    EXPECT_EQ(decodedB("=?iso-8859-1?B?Q2Fm6Q==?="), "Caf\xC3\xA9");
}

TEST(DecodeWords, BWords) {
    EXPECT_EQ(decodedB("[=?utf-8?B?YWJj?=]"), "[abc]");
    EXPECT_EQ(decodedB("=?utf-8?b?YWJj?=\r\n =?utf-8?B?ZGVm?="), "abcdef");
    // A Q word is not touched by the B pass and the other way round.
    EXPECT_EQ(decodedB("=?utf-8?Q?a?="), "=?utf-8?Q?a?=");
    EXPECT_EQ(decodedQ("=?utf-8?B?YWJj?="), "=?utf-8?B?YWJj?=");
}

TEST(DecodeWords, FoldsBetweenAdjacentWordsAreDropped) {
    EXPECT_EQ(decodedQ("=?utf-8?Q?ab?=\r\n =?utf-8?Q?cd?="), "abcd");
    EXPECT_EQ(decodedQ("=?utf-8?Q?ab?= x\r\n =?utf-8?Q?cd?="), "ab x\r\n cd");
    EXPECT_EQ(decodedQ("a\r\n =?utf-8?Q?cd?="), "a\r\n cd");
}

TEST(DecodeWords, RoundTripOfASplitSubject) {
    std::string subject;
    for (int i = 0; i < 150; ++i) {
        subject += "Gr\xC3\xBC\xC3\x9F"
                   " ";
    }
    StringBuffer value;
    ContentCoding().encodeHeaderWord(subject.data(), static_cast<int>(subject.size()), "utf-8",
                                     value);
    ASSERT_TRUE(value.contains("\r\n "));
    ContentCoding().decodeWordsQ(value, nullptr);
    EXPECT_EQ(text(value), subject);
}

TEST(DecodeWords, IncompleteWordsStayUnchanged) {
    const std::string unchanged[] = {
        "=?",       "a =? b",  "=?utf-8?Q?abc", "=?utf-8?X?abc?=", "=?utf 8?Q?abc?=",
        "price =?", "=?utf-8", "=?utf-8?Q",
    };
    for (const std::string& input : unchanged) {
        EXPECT_EQ(decodedQ(input), input) << input;
        EXPECT_EQ(decodedB(input), input) << input;
    }
}

TEST(DecodeWords, ScanningGoesOnBehindAnIncompleteStart) {
    EXPECT_EQ(decodedQ("=? then =?utf-8?Q?ok?="), "=? then ok");
    EXPECT_EQ(decodedB("=?x =?utf-8?B?b2s=?= =?"), "=?x ok =?");
}

TEST(DecodeWords, UnknownCharsetLogsAndFallsBack) {
    RecordingLog log;
    EXPECT_EQ(decodedQ("=?x-bogus?Q?abc?=", &log), "abc");
    EXPECT_TRUE(log.has("error: Invalid FROM Charset (7)"));
    log.clear();
    EXPECT_EQ(decodedB("=?x-bogus?B?YWJj?=", &log), "abc");
    EXPECT_TRUE(log.has("error: Invalid FROM Charset (8)"));
    // Without a log nothing breaks.
    EXPECT_EQ(decodedB("=?x-bogus?B?YWJj?="), "abc");
}

TEST(DecodeWords, WordsThatDecodeToNothingStillNameTheirCharset) {
    using Lines = std::vector<std::string>;
    // The text is not empty, but none of its characters gives a byte: the
    // charset is still looked at, and an unknown one is reported.
    const Lines expectedQ = {"error: FROM Charset not recognized", "data: charset=x-bogus",
                             "error: Invalid FROM Charset (7)"};
    const Lines expectedB = {"error: FROM Charset not recognized", "data: charset=x-bogus",
                             "error: Invalid FROM Charset (8)"};
    struct Case {
        const char* input;
        bool bWord;
        const char* expected;
    };
    const Case cases[] = {
        {"[=?x-bogus?Q?\x01\x02?=]", false, "[]"},
        {"[=?x-bogus?B?====?=]", true, "[]"},
        {"[=?x-bogus?B?Y?=]", true, "[]"},
    };
    for (const Case& c : cases) {
        RecordingLog log;
        const std::string result = c.bWord ? decodedB(c.input, &log) : decodedQ(c.input, &log);
        EXPECT_EQ(result, c.expected) << c.input;
        EXPECT_EQ(log.lines(), c.bWord ? expectedB : expectedQ) << c.input;
    }
    // A word whose text is empty is only removed.
    RecordingLog log;
    EXPECT_EQ(decodedQ("[=?x-bogus?Q?"
                       "?=]",
                       &log),
              "[]");
    EXPECT_TRUE(log.lines().empty());
}

} // namespace
