// How addresses are read, on arbitrary text: HTML character references in
// both contexts, data: addresses and local file paths. Text without a "&"
// comes back as it is, a decoded text never grows past what its references
// can stand for, and a data: address gives at most the bytes it writes.

#include "convert/DataUrl.h"
#include "foundation/FileUrl.h"
#include "foundation/StringBuffer.h"
#include "mime/CharacterReferences.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    for (const auto context :
         {CharacterReferenceContext::Text, CharacterReferenceContext::AttributeValue}) {
        const std::string decoded = decodeCharacterReferences(input, context);
        if (input.find('&') == std::string::npos) {
            check(decoded == input);
        }
        // "&nGt;" (5 bytes) is the largest growth: six bytes of UTF-8.
        check(decoded.size() <= input.size() * 2);
    }

    DataUrl dataUrl;
    if (readDataUrl(input, dataUrl)) {
        check(dataUrl.bytes.size() <= input.size());
        check(!dataUrl.mediaType.empty());
    }

    const std::string text = input.substr(0, input.find('\0'));
    StringBuffer path;
    localFilePath(text.c_str(), path);
    check(path.getSize() <= static_cast<int>(text.size()));
    return 0;
}
