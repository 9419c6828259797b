// cleanTag and the other tag functions on arbitrary text. The invariants
// checked hold for every input: a cleaned tag is empty or starts with "<",
// and an attribute value never keeps a backslash or surrounding blanks.

#include "foundation/StringBuffer.h"
#include "mime/HtmlTags.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const char* text = input.c_str();

    StringBuffer cleaned;
    cleanTag(text, cleaned, nullptr);
    check(cleaned.getSize() == 0 || cleaned.charAt(0) == '<');

    static const char* const kNames[] = {"src",     "HREF",       "background",
                                         "charset", "http-equiv", "file"};
    for (const char* name : kNames) {
        StringBuffer value;
        getAttributeValue(text, name, value);
        check(std::strchr(value.getString(), '\\') == nullptr);
        if (value.getSize() > 0) {
            check(!isBlank(value.charAt(0)) && !isBlank(value.lastChar()));
        }
        getAttributeValue(cleaned.getString(), name, value);
    }

    StringBuffer href;
    const bool found = findBaseHref(text, href);
    check(found == (href.getSize() > 0));

    StringBuffer charset("unchanged");
    findMetaCharset(text, charset);
    return 0;
}
