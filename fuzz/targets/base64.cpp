// Base64 both ways: decoding what either encoder wrote gives the input back,
// the line encoder writes exactly the size it announces in lines of 72
// characters, and decoding arbitrary text stays inside its block.

#include "FuzzInput.h"
#include "foundation/StringBuffer.h"
#include "mime/ContentCoding.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string decoded(const char* text, int count) {
    int length = -1;
    char* block = ContentCoding().decodeBase64(text, count, &length);
    FUZZ_CHECK(length >= 0);
    FUZZ_CHECK(length <= static_cast<long long>(count) * 3 / 4);
    std::string out;
    if (block != nullptr) {
        FUZZ_CHECK(block[length] == 0);
        out.assign(block, static_cast<size_t>(length));
        std::free(block);
    } else {
        FUZZ_CHECK(length == 0);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ContentCoding coding;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const int count = static_cast<int>(size);

    // Without line breaks.
    int length = -1;
    char* encoded = coding.encodeBase64(data, count, &length);
    if (count == 0) {
        FUZZ_CHECK(encoded == nullptr && length == 0);
    } else {
        FUZZ_CHECK(encoded != nullptr);
        FUZZ_CHECK(length == (count + 2) / 3 * 4);
        FUZZ_CHECK(static_cast<int>(std::strlen(encoded)) == length);
        FUZZ_CHECK(decoded(encoded, length) == bytes);
        std::free(encoded);
    }

    // In lines.
    StringBuffer lines("x");
    coding.encodeBase64Lines(data, count, lines);
    FUZZ_CHECK(lines.getSize() - 1 == ContentCoding::base64LinesSize(count));
    FUZZ_CHECK(decoded(lines.getString() + 1, lines.getSize() - 1) == bytes);
    if (count > 0) {
        const std::string text(lines.getString() + 1, static_cast<size_t>(lines.getSize() - 1));
        FUZZ_CHECK(text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0);
        size_t lineStart = 0;
        for (size_t end = text.find("\r\n"); end != std::string::npos;
             end = text.find("\r\n", lineStart)) {
            const size_t lineLength = end - lineStart;
            const bool last = end + 2 == text.size();
            FUZZ_CHECK(last ? lineLength <= 72 : lineLength == 72);
            lineStart = end + 2;
        }
        FUZZ_CHECK(text.find_first_not_of(
                       "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=\r\n") ==
                   std::string::npos);
    }

    // Arbitrary text.
    decoded(bytes.data(), count);
    return 0;
}
