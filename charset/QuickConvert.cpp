#include "QuickConvert.h"

#include "CharsetTables.h"
#include "foundation/DataBuffer.h"

namespace {

constexpr int kChunkSize = 16384;

} // namespace

const uint16_t* QuickConvert::tableFor(int codePage) {
    const int index = charset_tables::unicodeTableIndex(codePage);
    return index < 0 ? nullptr : charset_tables::kUtf16ToByte[index];
}

unsigned char QuickConvert::unicodeToByte(uint16_t unit, const uint16_t* table, bool& notFound) {
    if (unit < 0x80) {
        return static_cast<unsigned char>(unit);
    }
    // Every unit from U+0080 up is looked up: a target such as windows-1251
    // holds other characters at the positions 0x80 to 0xFE.
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        if (table[byte] == unit) {
            return static_cast<unsigned char>(byte);
        }
    }
    notFound = true;
    return 0;
}

bool QuickConvert::fromUtf16(int toCodePage, const void* data, int length, DataBuffer& out) {
    const uint16_t* table = tableFor(toCodePage);
    if (table == nullptr) {
        return false;
    }
    if (data == nullptr || length < 2) {
        return true;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    const int units = length / 2;
    out.ensureCapacity(out.getSize() + static_cast<uint32_t>(units));
    unsigned char chunk[kChunkSize];
    int used = 0;
    for (int i = 0; i < units; ++i) {
        const auto unit = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        bool notFound = false;
        const unsigned char byte = unicodeToByte(unit, table, notFound);
        if (notFound) {
            continue;
        }
        chunk[used++] = byte;
        if (used == kChunkSize) {
            out.append(chunk, static_cast<uint32_t>(used));
            used = 0;
        }
    }
    out.append(chunk, static_cast<uint32_t>(used));
    return true;
}
