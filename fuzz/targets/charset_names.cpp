// Charset names: normalization of arbitrary text and the code page lookup.
// A normalized name is trimmed lower case without "_", a code page comes
// from the name table or from the "windows-" rule, and the charset setters
// agree with the two steps.

#include "FuzzInput.h"
#include "charset/CharsetConvert.h"
#include "charset/CharsetNames.h"
#include "foundation/StringBuffer.h"

#include <cstring>
#include <set>
#include <string>

namespace {

const std::set<int>& tableCodePages() {
    static const std::set<int> codePages = [] {
        std::set<int> all;
        int count = 0;
        const CharsetNameEntry* table = charsetNameTable(&count);
        for (int i = 0; i < count; ++i) {
            all.insert(table[i].codePage);
        }
        return all;
    }();
    return codePages;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const std::string name = input.text();

    StringBuffer normalized(name.c_str());
    normalizeCharsetName(normalized);
    const std::string result(normalized.getString(), static_cast<size_t>(normalized.getSize()));
    for (const char c : result) {
        FUZZ_CHECK(!(c >= 'A' && c <= 'Z') && c != '_');
    }
    if (!result.empty()) {
        FUZZ_CHECK(!isBlank(result.front()) && !isBlank(result.back()));
    }

    const int codePage = lookupCodePage(normalized.getString());
    FUZZ_CHECK(codePage >= 0);
    if (codePage != 0 && tableCodePages().count(codePage) == 0) {
        FUZZ_CHECK(result.compare(0, 8, "windows-") == 0);
    }
    if (result.empty()) {
        FUZZ_CHECK(codePage == 0);
    }

    // The setters: an empty name means UTF-8, a failed one keeps the code page.
    CharsetConvert converter;
    StringBuffer trimmed(name.c_str());
    trimmed.trim();
    const int expected = trimmed.getSize() == 0 ? 65001 : codePage;
    const bool set = converter.setFromCharset(name.c_str(), nullptr);
    FUZZ_CHECK(set == (expected != 0));
    FUZZ_CHECK(converter.getFromCodePage() == (set ? expected : 28591));
    const bool setTo = converter.setToCharset(name.c_str(), nullptr);
    FUZZ_CHECK(setTo == set && converter.getToCodePage() == converter.getFromCodePage());
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every key of the table finds its own row, unless normalization
    // rewrites it first.
    int count = 0;
    const CharsetNameEntry* table = charsetNameTable(&count);
    for (int i = 0; i < count; ++i) {
        FUZZ_CHECK(lookupCodePage(table[i].key) == table[i].codePage);
    }
    return 0;
}
