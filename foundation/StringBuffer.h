#pragma once

#include "VantrelObject.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

class DiagnosticLog;
class ExtPtrArray;

// The system's one text type: growable 8-bit bytes, always followed by a NUL,
// with no knowledge of character sets.
//
// Contract:
// - Content may hold NUL bytes (put there by appendBytes, appendChar, appendSb
//   or the file loaders); operations that take or read a NUL-terminated text
//   see the content only up to its first NUL.
// - Sizes are signed 32-bit. An append that would take the buffer past the
//   capacity limit (2^31 - 1 bytes) throws std::length_error and leaves the
//   buffer as it was; nothing else throws.
// - Growth: when n more bytes and the terminator do not fit, the block grows
//   beyond the need by the growth increment, which then becomes half the new
//   capacity (at most 500000). A default buffer filled byte by byte holds
//   200, 400, 600, 900, 1350 ... bytes.
// - Copying is not an operation of the type: content is copied with setSb,
//   appendSb or setString.
class StringBuffer : public VantrelObject {
public:
    StringBuffer();
    explicit StringBuffer(int initialSize);
    explicit StringBuffer(const char* text);
    // UTF-16 text, converted to UTF-8 (unpaired surrogates become U+FFFD).
    explicit StringBuffer(const char16_t* wideText);
    ~StringBuffer() override;

    // Read access.
    const char* getString() const { return m_text; }
    int getSize() const { return m_length; }
    char lastChar() const;
    char charAt(int index) const;
    bool is7bit() const;
    bool equals(const char* text) const;
    bool equalsSb(const StringBuffer& other) const;
    bool equalsNoCase(const char* text) const;
    bool beginsWith(const char* text) const;
    bool contains(const char* text) const;
    bool containsNoCase(const char* text) const;

    // Appending and replacing the whole content.
    void append(const char* text);
    void appendBytes(const void* bytes, int count);
    void appendChar(char c);
    void appendSb(const StringBuffer& other);
    void appendInt(int value);
    void appendWide(const char16_t* wideText);
    void appendHexDump(const void* bytes, int count);
    void appendSystemMessage(int errorCode);
    void appendLastError();
    void prepend(const char* text);
    void setString(const char* text);
    void setSb(const StringBuffer& other);
    void clear();
    void reserve(int count);
    void shrinkToFit();
    // Hands the block (allocated with malloc, freed with free) to the caller.
    char* detachText(int* lengthOut);

    // Editing in place.
    void trim();
    void removeChar(char c);
    void replaceChar(char from, char to);
    bool replaceFirst(const char* find, const char* replacement);
    int replaceAll(const char* find, const char* replacement);
    void toLowerCase();
    void shorten(int count);
    void split(ExtPtrArray& parts, char delimiter) const;

    // File loading (defined with the file access code).
    bool appendFile(const char* path, DiagnosticLog* log);
    static StringBuffer* createFromFile(const char* pathOrUrl, DiagnosticLog* log);

    // Observers for tests and diagnostics.
    int getCapacity() const { return m_capacity; }
    int getGrowthIncrement() const { return m_increment; }

    // The largest capacity a buffer may reach; lowered only by tests so that
    // the overflow guard can be exercised without allocating 2 GiB.
    static int capacityLimit();
    static void setCapacityLimit(int limit);

private:
    enum class Growth { Append, AppendChar, AppendBytes, Fixed };

    void ensureRoom(int extra, Growth growth);
    void moveToBlock(int newCapacity);
    void updateIncrement();

    char* m_text;
    int m_capacity;
    int m_length;
    int m_increment;
};

// First occurrence of needle in haystack, folding only ASCII a-z to A-Z;
// null when either text is null or empty or there is no occurrence.
const char* findNoCase(const char* haystack, const char* needle);

// True when text begins with prefix, folding ASCII letters only; false when
// either is null.
bool beginsWithNoCase(const char* text, const char* prefix);

// The first position from from at which needle stands in text, folding ASCII
// letters only; npos when there is none or needle is empty. Unlike
// findNoCase it sees past NUL bytes.
size_t findNoCaseFrom(std::string_view text, std::string_view needle, size_t from);

// Appends the UTF-8 form of a NUL-terminated UTF-16 text (unpaired
// surrogates become U+FFFD). Shared by the wide constructor and appendWide.
void appendUtf16AsUtf8(StringBuffer& out, const char16_t* wideText);

// Writes the UTF-8 form of a code point up to U+10FFFF into bytes and
// returns its length (1 to 4). The caller keeps surrogates and larger
// values out.
int encodeUtf8(uint32_t codePoint, char bytes[4]);
