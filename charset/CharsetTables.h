#pragma once

#include <cstdint>

// The built-in tables of the single-byte code pages. The data is generated
// (CharsetTables.cpp, by tools/gen_charset_tables.py); the lookups are here.
namespace charset_tables {

// The UTF-8 form of one table entry: 0 to 3 bytes, unused bytes are 0.
struct Utf8Bytes {
    uint8_t length;
    uint8_t bytes[3];
};

constexpr int kByteTableCount = 18;
constexpr int kUnicodeTableCount = 10;

// ISO-8859-1..9 (28591..28599), then windows-1250..1258.
extern const int kByteTablePages[kByteTableCount];
// Bytes 0x80..0xFF to UTF-16.
extern const uint16_t kByteToUtf16[kByteTableCount][128];
// Bytes 0x80..0xFF to UTF-8, the same characters as kByteToUtf16.
extern const Utf8Bytes kByteToUtf8[kByteTableCount][128];

// windows-1250..1258, then Mac Cyrillic (10007).
extern const int kUnicodeTablePages[kUnicodeTableCount];
// The character of every byte 0x00..0xFF; U+0000 where the page has none.
extern const uint16_t kUtf16ToByte[kUnicodeTableCount][256];

// Mac Arabic (10004) bytes 0x80..0xFF to UTF-16.
extern const uint16_t kMacArabicToUtf16[128];

// Index into the byte tables, or -1 when the code page has none.
constexpr int byteTableIndex(int codePage) {
    if (codePage >= 28591 && codePage <= 28599) {
        return codePage - 28591;
    }
    if (codePage >= 1250 && codePage <= 1258) {
        return 9 + codePage - 1250;
    }
    return -1;
}

// Index into the UTF-16-to-byte tables, or -1 when the code page has none.
constexpr int unicodeTableIndex(int codePage) {
    if (codePage >= 1250 && codePage <= 1258) {
        return codePage - 1250;
    }
    return codePage == 10007 ? 9 : -1;
}

} // namespace charset_tables
