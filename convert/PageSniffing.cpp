#include "convert/PageSniffing.h"

#include <cstring>

namespace {

constexpr size_t kLookedAt = 1024;

struct Signature {
    size_t offset;
    const char* bytes;
    size_t length;
    const char* kind;
    // Signatures that also begin ordinary words count only together with a
    // NUL byte, which no text holds.
    bool withNul = false;
};

// Signatures that no text begins with.
const Signature kSignatures[] = {
    {0, "\x89PNG\r\n\x1a\n", 8, "PNG image"},
    {0, "GIF87a", 6, "GIF image"},
    {0, "GIF89a", 6, "GIF image"},
    {0, "\xff\xd8\xff", 3, "JPEG image"},
    {8, "WEBP", 4, "WebP image"},
    {4, "ftypavif", 8, "AVIF image"},
    {0, "\x00\x00\x01\x00", 4, "icon"},
    {0, "%PDF-", 5, "PDF document"},
    {0, "PK\x03\x04", 4, "ZIP archive"},
    {0, "\x1f\x8b", 2, "gzip archive"},
    {0, "BZh", 3, "bzip2 archive", true},
    {0,
     "\xfd"
     "7zXZ\x00",
     6, "xz archive"},
    {0, "7z\xbc\xaf\x27\x1c", 6, "7-Zip archive"},
    {0, "Rar!\x1a\x07", 6, "RAR archive"},
    {0, "\x28\xb5\x2f\xfd", 4, "zstd archive"},
    {257, "ustar", 5, "tar archive"},
    {0,
     "\x7f"
     "ELF",
     4, "ELF executable"},
    {0, "MZ", 2, "Windows executable", true},
    {0, "\xca\xfe\xba\xbe", 4, "Java class or Mach-O executable"},
    {0, "\xcf\xfa\xed\xfe", 4, "Mach-O executable"},
    {0,
     "\x00"
     "asm",
     4, "WebAssembly module"},
    {0, "OggS", 4, "Ogg media", true},
    {0, "ID3", 3, "MP3 audio", true},
    {4, "ftyp", 4, "MP4 media", true},
    {0, "\x1a\x45\xdf\xa3", 4, "Matroska or WebM media"},
    {0, "wOFF", 4, "WOFF font"},
    {0, "wOF2", 4, "WOFF2 font"},
};

bool startsWith(const unsigned char* bytes, size_t count, size_t offset, const char* expected,
                size_t length) {
    return count >= offset + length && std::memcmp(bytes + offset, expected, length) == 0;
}

bool holdsNul(const unsigned char* bytes, size_t count) {
    return std::memchr(bytes, 0, count < kLookedAt ? count : kLookedAt) != nullptr;
}

// UTF-16 and UTF-32 hold NUL bytes in every ASCII character.
bool declaresWideText(const unsigned char* bytes, size_t count) {
    return startsWith(bytes, count, 0, "\xff\xfe", 2) ||
           startsWith(bytes, count, 0, "\xfe\xff", 2) ||
           startsWith(bytes, count, 0, "\x00\x00\xfe\xff", 4);
}

} // namespace

const char* nonPageKind(const unsigned char* bytes, size_t count) {
    if (bytes == nullptr || count == 0 || declaresWideText(bytes, count)) {
        return nullptr;
    }
    for (const Signature& signature : kSignatures) {
        if (startsWith(bytes, count, signature.offset, signature.bytes, signature.length)) {
            if (!signature.withNul || holdsNul(bytes, count)) {
                return signature.kind;
            }
        }
    }
    if (holdsNul(bytes, count)) {
        return "binary data";
    }
    return nullptr;
}
