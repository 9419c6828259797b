// Encoded header words both ways. The word decoders take arbitrary text (a
// text without "=?" stays as it is); a text encoded as UTF-8 words, split
// or not, decodes to itself; encoding in other charsets never fails.

#include "FuzzInput.h"
#include "foundation/StringBuffer.h"
#include "mime/ContentCoding.h"

#include <cstring>
#include <string>
#include <strings.h>

namespace {

const char* const kCharsets[] = {"utf-8",      "iso-8859-1", "shift_jis", "iso-2022-jp",
                                 "euc-kr",     "big5",       "utf-7",     "windows-1254",
                                 "hz-gb-2312", "x-unknown",  "UTF-8",     "gb18030"};

std::string textOf(const StringBuffer& text) {
    return std::string(text.getString(), static_cast<size_t>(text.getSize()));
}

bool containsNoCase(const std::string& text, const char* needle) {
    const size_t length = std::strlen(needle);
    for (size_t i = 0; i + length <= text.size(); ++i) {
        if (strncasecmp(text.data() + i, needle, length) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t choice = input.byte();
    const std::string text = input.rest();
    const ContentCoding coding;

    // Decoding arbitrary text.
    for (const bool b : {false, true}) {
        StringBuffer words;
        words.appendBytes(text.data(), static_cast<int>(text.size()));
        if (b) {
            coding.decodeWordsB(words);
        } else {
            coding.decodeWordsQ(words);
        }
        if (text.find("=?") == std::string::npos) {
            FUZZ_CHECK(textOf(words) == text);
        }
    }

    // Encoding and decoding again, as UTF-8.
    const std::string probed = text.substr(0, 100);
    const bool looksEncoded = containsNoCase(probed, "?Q?") || containsNoCase(probed, "?B?");
    StringBuffer header;
    if ((choice & 1) != 0) {
        // Behind a field name, so that long texts are split.
        header.append("Subject: ");
    }
    const int fieldLength = header.getSize();
    coding.encodeHeaderWord(text.data(), static_cast<int>(text.size()), "utf-8", header);
    std::string encoded = textOf(header).substr(static_cast<size_t>(fieldLength));
    if (looksEncoded) {
        FUZZ_CHECK(encoded == text);
    } else if (!text.empty()) {
        FUZZ_CHECK(encoded.compare(0, 8, "=?utf-8?") == 0);
        StringBuffer back;
        back.appendBytes(encoded.data(), static_cast<int>(encoded.size()));
        coding.decodeWordsQ(back);
        FUZZ_CHECK(textOf(back) == text);
    }

    StringBuffer bWord;
    coding.encodeWordB(text.data(), static_cast<int>(text.size()), "utf-8", bWord);
    coding.decodeWordsB(bWord);
    FUZZ_CHECK(textOf(bWord) == text);

    // Other charsets: splitting must keep whole characters and end.
    const char* charset = kCharsets[(choice >> 1) % (sizeof kCharsets / sizeof kCharsets[0])];
    StringBuffer other("Subject: ");
    coding.encodeHeaderWord(text.data(), static_cast<int>(text.size()), charset, other);
    StringBuffer decodedOther(other.getString());
    coding.decodeWordsB(decodedOther);
    coding.decodeWordsQ(decodedOther);
    return 0;
}
