// The scans of the complete mode on arbitrary text: the CSS references, the
// srcset choice and the raw tag reader. The invariants hold for every input:
// a rewrite that replaces nothing gives the text back (only @font-face
// source lists are shortened on their own), every address handed out comes
// from the text, a chosen candidate exists, and tag positions stay inside it.

#include "convert/CssReferences.h"
#include "convert/SrcsetChoice.h"
#include "convert/TagAttributeEdits.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool mentionsFontFace(const std::string& text) {
    std::string lowered = text;
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + ('a' - 'A'));
        }
    }
    return lowered.find("font-face") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    CssReferences::Callbacks untouched;
    untouched.url = [&](const std::string& address, std::string&) {
        // An escape read as its character grows by half at the most ("\\0"
        // is U+FFFD, three bytes).
        check(address.size() <= input.size() + input.size() / 2);
        return false;
    };
    untouched.import = [&](const std::string& address, std::string&) {
        check(address.size() <= input.size());
        return CssReferences::ImportAction::Keep;
    };
    for (const auto context : {CssReferences::Context::Sheet, CssReferences::Context::Attribute}) {
        const std::string out = CssReferences::rewrite(input, context, untouched);
        if (context == CssReferences::Context::Attribute || !mentionsFontFace(input)) {
            check(out == input);
        } else {
            check(out.size() <= input.size());
        }
    }

    CssReferences::Callbacks replacing;
    replacing.url = [](const std::string&, std::string& replacement) {
        replacement = "cid:x";
        return true;
    };
    replacing.import = [](const std::string&, std::string& sheet) {
        sheet = "s{}";
        return CssReferences::ImportAction::Inline;
    };
    CssReferences::rewrite(input, CssReferences::Context::Sheet, replacing);

    const auto candidates = SrcsetChoice::parse(input);
    const int chosen = SrcsetChoice::choose(candidates);
    check(chosen >= -1 && chosen < static_cast<int>(candidates.size()));
    check(candidates.empty() == (chosen < 0));

    for (size_t lt = input.find('<'); lt != std::string::npos; lt = input.find('<', lt + 1)) {
        const RawTag tag = readRawTag(input, lt);
        check(tag.end == std::string_view::npos || (tag.end > lt && tag.end < input.size()));
        if (tag.style.present) {
            check(tag.style.start <= tag.style.end && tag.style.end <= input.size());
        }
        if (lt > 64) {
            break; // one pass over the first tags is enough per input
        }
    }
    return 0;
}
