#include "CharsetHelp.h"

#include "CharsetTables.h"
#include "foundation/DataBuffer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace {

// Output is gathered in a chunk on the stack and appended in pieces, after
// making room for the whole result once.
constexpr int kChunkSize = 16384;

// Makes room for `extra` more bytes at once; a result too large for a buffer
// is left to the append, which refuses it.
void reserveFor(DataBuffer& out, uint64_t extra) {
    const uint64_t wanted = std::min<uint64_t>(out.getSize() + extra, DataBuffer::kMaxSize);
    out.ensureCapacity(static_cast<uint32_t>(wanted));
}

void appendUtf16(const uint16_t* high, const unsigned char* bytes, int length, DataBuffer& out) {
    reserveFor(out, static_cast<uint64_t>(length) * 2);
    unsigned char chunk[kChunkSize];
    int used = 0;
    for (int i = 0; i < length; ++i) {
        const unsigned char byte = bytes[i];
        const uint16_t unit = byte < 0x80 ? byte : high[byte - 0x80];
        chunk[used++] = static_cast<unsigned char>(unit & 0xFF);
        chunk[used++] = static_cast<unsigned char>(unit >> 8);
        if (used == kChunkSize) {
            out.append(chunk, static_cast<uint32_t>(used));
            used = 0;
        }
    }
    out.append(chunk, static_cast<uint32_t>(used));
}

// Appends, growing the block by half its size when it is full.
void appendGrowing(DataBuffer& out, const unsigned char* bytes, int count) {
    const uint64_t needed = static_cast<uint64_t>(out.getSize()) + static_cast<uint64_t>(count);
    if (needed > out.getCapacity()) {
        const uint64_t grown = out.getCapacity() + out.getCapacity() / 2;
        reserveFor(out, std::max(needed, grown) - out.getSize());
    }
    out.append(bytes, static_cast<uint32_t>(count));
}

// The UTF-8 table of one code page widened to all 256 bytes: the bytes of
// each entry packed in memory order, and their count.
struct Utf8Lookup {
    uint32_t packed[256];
    uint8_t length[256];
};

const std::array<Utf8Lookup, charset_tables::kByteTableCount>& utf8Lookups() {
    static const auto lookups = [] {
        std::array<Utf8Lookup, charset_tables::kByteTableCount> all{};
        for (int table = 0; table < charset_tables::kByteTableCount; ++table) {
            Utf8Lookup& lookup = all[static_cast<size_t>(table)];
            for (int byte = 0; byte < 256; ++byte) {
                unsigned char entry[4] = {static_cast<unsigned char>(byte), 0, 0, 0};
                uint8_t length = 1;
                if (byte >= 0x80) {
                    const charset_tables::Utf8Bytes& high =
                        charset_tables::kByteToUtf8[table][byte - 0x80];
                    std::memcpy(entry, high.bytes, 3);
                    entry[3] = 0;
                    length = high.length;
                }
                std::memcpy(&lookup.packed[byte], entry, 4);
                lookup.length[byte] = length;
            }
        }
        return all;
    }();
    return lookups;
}

} // namespace

bool CharsetHelp::hasByteTable(int codePage) {
    return charset_tables::byteTableIndex(codePage) >= 0;
}

bool CharsetHelp::singleByteToUtf8(int codePage, const void* data, int length, DataBuffer& out) {
    const int table = charset_tables::byteTableIndex(codePage);
    if (table < 0) {
        return false;
    }
    if (data == nullptr || length <= 0) {
        return true;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    const Utf8Lookup& lookup = utf8Lookups()[static_cast<size_t>(table)];

    // Room for one output byte per input byte at first; the few longer
    // characters grow the block geometrically, so copies stay rare.
    reserveFor(out, static_cast<uint64_t>(length) + static_cast<uint64_t>(length) / 8);

    // Every byte stores 4 bytes and moves on by its length, without a branch
    // on the byte. The chunk has room for that store behind its limit.
    unsigned char chunk[kChunkSize + 4];
    int used = 0;
    for (int i = 0; i < length; ++i) {
        const unsigned char byte = bytes[i];
        std::memcpy(chunk + used, &lookup.packed[byte], 4);
        used += lookup.length[byte];
        if (used >= kChunkSize) {
            appendGrowing(out, chunk, used);
            used = 0;
        }
    }
    appendGrowing(out, chunk, used);
    return true;
}

bool CharsetHelp::singleByteToUtf16(int codePage, const void* data, int length, DataBuffer& out) {
    const int table = charset_tables::byteTableIndex(codePage);
    if (table < 0) {
        return false;
    }
    if (data != nullptr && length > 0) {
        appendUtf16(charset_tables::kByteToUtf16[table], static_cast<const unsigned char*>(data),
                    length, out);
    }
    return true;
}

bool CharsetHelp::macArabicToUtf16(const void* data, int length, DataBuffer& out) {
    if (data != nullptr && length > 0) {
        appendUtf16(charset_tables::kMacArabicToUtf16, static_cast<const unsigned char*>(data),
                    length, out);
    }
    return true;
}
