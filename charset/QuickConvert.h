#pragma once

#include <cstdint>

class DataBuffer;

// The quick path from UTF-16 to the single-byte targets that have a built-in
// table: windows-1250..1258 and Mac Cyrillic (10007). One table search per
// unit, no conversion service; units the target lacks are dropped.
class QuickConvert {
public:
    virtual ~QuickConvert() = default;

    // The 256-entry table of a target (the character of every byte, U+0000
    // where there is none), or null when the target has none.
    static const uint16_t* tableFor(int codePage);

    // The byte for one unit: below U+0080 the unit itself; otherwise the first
    // byte from 0x80 up whose entry equals the unit. notFound is set, and the
    // result is 0, when no entry does.
    static unsigned char unicodeToByte(uint16_t unit, const uint16_t* table, bool& notFound);

    // Converts every complete unit of little-endian UTF-16 text (an odd last
    // byte is ignored) to the target, dropping the units it cannot hold.
    // False, with nothing appended, when the target has no table.
    static bool fromUtf16(int toCodePage, const void* data, int length, DataBuffer& out);
};
