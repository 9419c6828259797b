// Every ParseEngine step on arbitrary text. The first byte says how many
// steps follow, each step is one byte (the operation and its character),
// the rest is the text. Whatever a capture appends is exactly the text it
// moved over, and no step ever moves past the end of the text.

#include "FuzzInput.h"
#include "mime/ParseEngine.h"

#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

namespace {

const char* const kMarkers[] = {"<style", "</script>", "-->", "<a",          ">",
                                "'",      "\"",        "",    "<!--#include"};
const char* const kSets[] = {"> \t=", ">", "\"'", "", "\r\n"};
const char kChars[] = {'>', '<', '"', '\'', '=', ' ', '\n', 0};

// The byte at pos is c, or pos is at the end.
bool stoppedAt(const ParseEngine& scanner, char c) {
    return scanner.atEnd() || scanner.current() == c;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const size_t steps = input.byte() % 32 + 1;
    std::vector<uint8_t> program;
    for (size_t i = 0; i < steps; ++i) {
        program.push_back(input.byte());
    }
    const std::string text = input.rest();

    ParseEngine scanner;
    scanner.load(text.c_str());
    const int length = static_cast<int>(std::strlen(text.c_str()));
    FUZZ_CHECK(scanner.pos == 0 && scanner.text.getSize() == length);

    for (const uint8_t step : program) {
        const int before = scanner.pos;
        const char c = kChars[(step >> 4) % sizeof kChars];
        const char* marker = kMarkers[(step >> 4) % (sizeof kMarkers / sizeof kMarkers[0])];
        const char* set = kSets[(step >> 4) % (sizeof kSets / sizeof kSets[0])];
        StringBuffer out("kept");
        bool captures = true;
        switch (step % 12) {
        case 0:
            scanner.skipWhitespace();
            captures = false;
            break;
        case 1:
            scanner.skipToChar(c);
            captures = false;
            FUZZ_CHECK(c == 0 ? scanner.atEnd() : stoppedAt(scanner, c));
            break;
        case 2:
            scanner.captureUntilAny(set, out);
            FUZZ_CHECK(*set == 0 || scanner.atEnd() ||
                       std::strchr(set, scanner.current()) != nullptr);
            break;
        case 3:
            scanner.captureUntilChar(c, out);
            FUZZ_CHECK(c == 0 ? scanner.atEnd() : stoppedAt(scanner, c));
            break;
        case 4:
            scanner.captureUntilCharQuoted(c != 0 ? c : '>', out);
            FUZZ_CHECK(stoppedAt(scanner, c != 0 ? c : '>'));
            break;
        case 5:
            scanner.captureUntilCharQuotedStrict(c != 0 ? c : '>', out);
            FUZZ_CHECK(stoppedAt(scanner, c != 0 ? c : '>'));
            break;
        case 6: {
            const bool found = scanner.seekTo(marker);
            captures = false;
            FUZZ_CHECK(found ? strncasecmp(scanner.text.getString() + scanner.pos, marker,
                                           std::strlen(marker)) == 0
                             : scanner.pos == before);
            break;
        }
        case 7: {
            const bool found = scanner.seekPast(marker);
            captures = false;
            FUZZ_CHECK(found || scanner.pos == before);
            break;
        }
        case 8: {
            const bool found = scanner.captureThrough(marker, out);
            FUZZ_CHECK(found || scanner.pos == before);
            if (found) {
                FUZZ_CHECK(out.getSize() >= 4 + static_cast<int>(std::strlen(marker)));
            }
            break;
        }
        case 9:
            scanner.pos = scanner.atEnd() ? scanner.pos : scanner.pos + 1;
            captures = false;
            break;
        case 10:
            scanner.pos = static_cast<int>(step % static_cast<size_t>(length + 1));
            captures = false;
            break;
        default:
            scanner.pos = 0;
            captures = false;
            break;
        }
        FUZZ_CHECK(scanner.pos >= 0 && scanner.pos <= scanner.text.getSize());
        FUZZ_CHECK(scanner.text.getSize() == length);
        if (captures) {
            // A capture never moves back and appends what it moved over.
            FUZZ_CHECK(scanner.pos >= before);
            const std::string moved(scanner.text.getString() + before,
                                    static_cast<size_t>(scanner.pos - before));
            FUZZ_CHECK(std::string(out.getString(), static_cast<size_t>(out.getSize())) ==
                       "kept" + moved);
        } else if (step % 12 < 10) {
            FUZZ_CHECK(scanner.pos >= before);
        }
    }
    return 0;
}
