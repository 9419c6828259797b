// Typing of web font parts in the resource loop (MessageAssembly.cpp).

#include "FontTyping.h"

#include <cstring>
#include <string>

namespace {

constexpr const char* kEmbeddedOpenType = "application/vnd.ms-fontobject";

bool beginsWith(const unsigned char* bytes, uint32_t count, const char* signature) {
    const size_t length = std::strlen(signature);
    return count >= length && std::memcmp(bytes, signature, length) == 0;
}

// An embedded OpenType font: a version 0x00010000, 0x00020001 or 0x00020002
// at offset 8 and the magic number 0x504C at offset 34, both little-endian.
// The version's zero bytes keep text that happens to hold "LP" out.
bool isEmbeddedOpenType(const unsigned char* bytes, uint32_t count) {
    if (count < 36 || bytes[34] != 'L' || bytes[35] != 'P') {
        return false;
    }
    const unsigned char* version = bytes + 8;
    return std::memcmp(version, "\x00\x00\x01\x00", 4) == 0 ||
           std::memcmp(version, "\x01\x00\x02\x00", 4) == 0 ||
           std::memcmp(version, "\x02\x00\x02\x00", 4) == 0;
}

bool endsWithNoCase(const std::string& text, const char* end) {
    const size_t length = std::strlen(end);
    if (text.size() < length) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        char c = text[text.size() - length + i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + ('a' - 'A'));
        }
        if (c != end[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

const char* sniffFontType(const unsigned char* bytes, uint32_t count) {
    // A font's table directory follows its 4-byte signature; fewer than 12
    // bytes hold no font.
    if (bytes == nullptr || count < 12) {
        return nullptr;
    }
    if (beginsWith(bytes, count, "wOF2")) {
        return "font/woff2";
    }
    if (beginsWith(bytes, count, "wOFF")) {
        return "font/woff";
    }
    if (std::memcmp(bytes, "\x00\x01\x00\x00", 4) == 0 || beginsWith(bytes, count, "true")) {
        return "font/ttf";
    }
    if (beginsWith(bytes, count, "OTTO")) {
        return "font/otf";
    }
    if (isEmbeddedOpenType(bytes, count)) {
        return kEmbeddedOpenType;
    }
    return nullptr;
}

const char* fontTypeFor(const char* url, const unsigned char* bytes, uint32_t count) {
    if (const char* sniffed = sniffFontType(bytes, count)) {
        return sniffed;
    }
    if (url == nullptr) {
        return nullptr;
    }
    const std::string path(url, std::strcspn(url, "?#"));
    if (endsWithNoCase(path, ".woff2")) {
        return "font/woff2";
    }
    if (endsWithNoCase(path, ".woff")) {
        return "font/woff";
    }
    if (endsWithNoCase(path, ".ttf")) {
        return "font/ttf";
    }
    if (endsWithNoCase(path, ".otf")) {
        return "font/otf";
    }
    if (endsWithNoCase(path, ".eot")) {
        return kEmbeddedOpenType;
    }
    return nullptr;
}
