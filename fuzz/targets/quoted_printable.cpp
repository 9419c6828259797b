// Quoted-printable bodies and Q words both ways: decoding what the encoders
// wrote gives the input back, the body encoder writes exactly the size it
// announces in 7-bit lines of at most 75 characters, and decoding arbitrary
// Q text stays inside its block.

#include "FuzzInput.h"
#include "foundation/StringBuffer.h"
#include "mime/ContentCoding.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Reads a body as RFC 2045 says: "=" CR LF is a soft line break, "=" and two
// upper-case hexadecimal digits are one byte, everything else stands for
// itself. Anything else behind "=" is a fault of the encoder.
std::string decodeQuotedPrintable(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out.push_back(text[i]);
            continue;
        }
        FUZZ_CHECK(i + 2 < text.size());
        if (text[i + 1] == '\r') {
            FUZZ_CHECK(text[i + 2] == '\n');
        } else {
            const int high = hexDigit(text[i + 1]);
            const int low = hexDigit(text[i + 2]);
            FUZZ_CHECK(high >= 0 && low >= 0);
            out.push_back(static_cast<char>(high * 16 + low));
        }
        i += 2;
    }
    return out;
}

void checkLines(const std::string& text) {
    size_t lineStart = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        FUZZ_CHECK(c < 128);
        FUZZ_CHECK(c != '\n' || (i > 0 && text[i - 1] == '\r'));
        FUZZ_CHECK(c != '\r' || (i + 1 < text.size() && text[i + 1] == '\n'));
        if (c == '\r') {
            FUZZ_CHECK(i - lineStart <= 75);
            // A blank never ends a line: it would be lost on the way.
            FUZZ_CHECK(i == lineStart || (text[i - 1] != ' ' && text[i - 1] != '\t'));
            lineStart = i + 2;
        }
    }
    FUZZ_CHECK(text.size() - lineStart <= 75);
    FUZZ_CHECK(text.empty() || (text.back() != ' ' && text.back() != '\t'));
    // Mail transports take a line starting with "." or "From " apart.
    for (size_t start = 0; start < text.size();) {
        FUZZ_CHECK(text[start] != '.' && text.compare(start, 5, "From ") != 0);
        const size_t end = text.find("\r\n", start);
        start = end == std::string::npos ? text.size() : end + 2;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ContentCoding coding;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const int count = static_cast<int>(size);

    StringBuffer body("x");
    coding.encodeQuotedPrintable(data, count, body);
    const std::string text(body.getString() + 1, static_cast<size_t>(body.getSize() - 1));
    FUZZ_CHECK(static_cast<long long>(text.size()) == coding.quotedPrintableSize(data, count));
    FUZZ_CHECK(decodeQuotedPrintable(text) == bytes);
    checkLines(text);

    int length = -1;
    char* word = coding.encodeQ(data, count, &length);
    if (count == 0) {
        FUZZ_CHECK(word == nullptr && length == 0);
    } else {
        FUZZ_CHECK(word != nullptr && static_cast<int>(std::strlen(word)) == length);
        // A Q word holds no blank, "?", "=" other than escapes, or "_" other than blanks.
        FUZZ_CHECK(std::strpbrk(word, " ?\t\r\n") == nullptr);
        int back = -1;
        char* decoded = coding.decodeQ(word, length, &back);
        FUZZ_CHECK(decoded != nullptr && std::string(decoded, static_cast<size_t>(back)) == bytes);
        std::free(decoded);
        std::free(word);
    }

    // Arbitrary Q text.
    int decodedLength = -1;
    char* decoded = coding.decodeQ(bytes.c_str(), count, &decodedLength);
    FUZZ_CHECK(decodedLength >= 0 && decodedLength <= count);
    if (decoded != nullptr) {
        FUZZ_CHECK(decoded[decodedLength] == 0);
    }
    std::free(decoded);
    return 0;
}
