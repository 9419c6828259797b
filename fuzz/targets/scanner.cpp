// Every ParseEngine step on arbitrary text, driven by the first bytes of the
// input; the scanner must never move past the end of its text.

#include "mime/ParseEngine.h"

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
    if (size < 2) {
        return 0;
    }
    const size_t steps = data[0] % 16 + 1;
    const char target = static_cast<char>(data[1]);
    const std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
    ParseEngine scanner;
    scanner.load(rest.c_str());
    StringBuffer out;
    static const char* const kMarkers[] = {"<style", "</script>", "-->", "<a", ">", "'", "\""};
    for (size_t i = 0; i < steps * 4; ++i) {
        const int before = scanner.pos;
        const size_t operation = (static_cast<unsigned char>(target) + i) % 11;
        switch (operation) {
        case 0: scanner.skipWhitespace(); break;
        case 1: scanner.skipToChar(target); break;
        case 2: scanner.captureUntilAny("> \t=", out); break;
        case 3: scanner.captureUntilChar(target, out); break;
        case 4: scanner.captureUntilCharQuoted('>', out); break;
        case 5: scanner.captureUntilCharQuotedStrict('>', out); break;
        case 6: scanner.seekTo(kMarkers[i % 7]); break;
        case 7: scanner.seekPast(kMarkers[i % 7]); break;
        case 8: scanner.captureThrough(kMarkers[i % 7], out); break;
        case 9: scanner.pos = scanner.atEnd() ? scanner.pos : scanner.pos + 1; break;
        default: scanner.pos = 0; break;
        }
        check(scanner.pos >= 0 && scanner.pos <= scanner.text.getSize());
        check(scanner.pos >= before || operation == 10);
    }
    check(out.getSize() <= static_cast<int>(rest.size()) * static_cast<int>(steps * 4));
    return 0;
}
