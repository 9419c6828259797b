#pragma once

class DataBuffer;

// Table conversions from the built-in single-byte code pages (ISO-8859-1..9,
// windows-1250..1258, Mac Arabic) to UTF-8 and UTF-16. They never use the
// conversion service and always succeed: ASCII bytes pass unchanged, every
// other byte becomes its table entry. UTF-16 output is little-endian pairs.
class CharsetHelp {
public:
    virtual ~CharsetHelp() = default;

    // True when the code page has byte tables (28591..28599, 1250..1258).
    static bool hasByteTable(int codePage);

    // The code page must have byte tables; any other code page leaves `out`
    // unchanged and returns false.
    static bool singleByteToUtf8(int codePage, const void* data, int length, DataBuffer& out);
    static bool singleByteToUtf16(int codePage, const void* data, int length, DataBuffer& out);
    static bool macArabicToUtf16(const void* data, int length, DataBuffer& out);
};
