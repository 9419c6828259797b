#include "CharsetHelp.h"

#include "CharsetTables.h"
#include "foundation/DataBuffer.h"

#include <algorithm>
#include <cstdint>

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
    const charset_tables::Utf8Bytes* high = charset_tables::kByteToUtf8[table];

    uint64_t total = 0;
    for (int i = 0; i < length; ++i) {
        total += bytes[i] < 0x80 ? 1 : high[bytes[i] - 0x80].length;
    }
    reserveFor(out, total);

    // Room for one entry of 3 bytes behind the chunk's limit.
    unsigned char chunk[kChunkSize + 3];
    int used = 0;
    for (int i = 0; i < length; ++i) {
        const unsigned char byte = bytes[i];
        if (byte < 0x80) {
            chunk[used++] = byte;
        } else {
            const charset_tables::Utf8Bytes& entry = high[byte - 0x80];
            chunk[used] = entry.bytes[0];
            chunk[used + 1] = entry.bytes[1];
            chunk[used + 2] = entry.bytes[2];
            used += entry.length;
        }
        if (used >= kChunkSize) {
            out.append(chunk, static_cast<uint32_t>(used));
            used = 0;
        }
    }
    out.append(chunk, static_cast<uint32_t>(used));
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
