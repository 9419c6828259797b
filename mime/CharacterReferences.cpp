#include "CharacterReferences.h"

#include "foundation/StringBuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// The longest name in the table, ";" included.
constexpr size_t kLongestName = 32;

// Numeric references to the C1 controls mean the characters windows-1252
// has there, as browsers read them; 0 keeps the control.
constexpr uint32_t kC1Replacements[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

bool isAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int digitValue(char c, bool hex) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (hex && c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (hex && c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

void appendCodePoint(uint32_t code, std::string& out) {
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        code = 0xFFFD;
    } else if (code >= 0x80 && code <= 0x9F && kC1Replacements[code - 0x80] != 0) {
        code = kC1Replacements[code - 0x80];
    }
    char bytes[4];
    out.append(bytes, static_cast<size_t>(encodeUtf8(code, bytes)));
}

// A numeric reference at text[amp] ("&#..."): appends its character and
// returns the length read, or 0 when no digit follows.
size_t readNumeric(std::string_view text, size_t amp, std::string& out) {
    size_t p = amp + 2;
    const bool hex = p < text.size() && (text[p] == 'x' || text[p] == 'X');
    p += hex ? 1 : 0;
    const size_t digitsStart = p;
    uint32_t code = 0;
    for (; p < text.size() && digitValue(text[p], hex) >= 0; ++p) {
        // Anything past the last code point reads as too large, however long.
        code = std::min<uint32_t>(
            code * (hex ? 16 : 10) + static_cast<uint32_t>(digitValue(text[p], hex)), 0x110000);
    }
    if (p == digitsStart) {
        return 0;
    }
    if (p < text.size() && text[p] == ';') {
        ++p;
    }
    appendCodePoint(code, out);
    return p - amp;
}

const NamedCharacterReference* findName(std::string_view name) {
    const NamedCharacterReference* begin = kNamedCharacterReferences;
    const NamedCharacterReference* end = begin + kNamedCharacterReferenceCount;
    const auto* hit = std::lower_bound(
        begin, end, name, [](const NamedCharacterReference& entry, std::string_view wanted) {
            return std::string_view(entry.name) < wanted;
        });
    return hit != end && std::string_view(hit->name) == name ? hit : nullptr;
}

// A named reference at text[amp]: the longest name of the table that the
// text holds there. Appends its characters and returns the length read, or 0
// when it stays as written.
size_t readNamed(std::string_view text, size_t amp, CharacterReferenceContext context,
                 std::string& out) {
    size_t run = 0;
    while (amp + 1 + run < text.size() && run < kLongestName && isAsciiAlnum(text[amp + 1 + run])) {
        ++run;
    }
    const std::string_view letters = text.substr(amp + 1, run);
    if (amp + 1 + run < text.size() && text[amp + 1 + run] == ';') {
        if (const auto* entry = findName(text.substr(amp + 1, run + 1))) {
            out += entry->characters;
            return run + 2;
        }
    }
    // Only the old names are known without ";" (and no name is one letter).
    for (size_t length = run; length >= 2; --length) {
        const auto* entry = findName(letters.substr(0, length));
        if (entry == nullptr) {
            continue;
        }
        const size_t after = amp + 1 + length;
        if (context == CharacterReferenceContext::AttributeValue && after < text.size() &&
            (text[after] == '=' || isAsciiAlnum(text[after]))) {
            return 0;
        }
        out += entry->characters;
        return length + 1;
    }
    return 0;
}

} // namespace

std::string decodeCharacterReferences(std::string_view text, CharacterReferenceContext context) {
    std::string out;
    out.reserve(text.size());
    size_t copied = 0;
    for (size_t amp = text.find('&'); amp != std::string_view::npos; amp = text.find('&', copied)) {
        out.append(text.substr(copied, amp - copied));
        std::string decoded;
        const bool numeric = amp + 1 < text.size() && text[amp + 1] == '#';
        const size_t length =
            numeric ? readNumeric(text, amp, decoded) : readNamed(text, amp, context, decoded);
        if (length == 0) {
            out.push_back('&');
            copied = amp + 1;
            continue;
        }
        out += decoded;
        copied = amp + length;
    }
    out.append(text.substr(copied));
    return out;
}
