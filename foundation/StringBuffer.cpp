#include "StringBuffer.h"

#include "ExtPtrArray.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {

constexpr int kDefaultCapacity = 200;
constexpr int kNullTextCapacity = 4;
constexpr int kIncrementCap = 500000;

int g_capacityLimit = INT_MAX;

char* allocateBlock(int size) {
    char* block = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

bool isTrimSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

unsigned char foldAscii(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

bool equalsFolded(const char* a, const char* b) {
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    while (*x != 0 && foldAscii(*x) == foldAscii(*y)) {
        ++x;
        ++y;
    }
    return foldAscii(*x) == foldAscii(*y);
}

// Binary-safe search of a NUL-terminated pattern inside content that may
// itself hold NUL bytes.
const char* findBytes(const char* from, const char* end, const char* pattern,
                      size_t patternLength) {
    if (from >= end) {
        return nullptr;
    }
    const void* hit = memmem(from, static_cast<size_t>(end - from), pattern, patternLength);
    return static_cast<const char*>(hit);
}

} // namespace

int encodeUtf8(uint32_t codePoint, char bytes[4]) {
    int count = 0;
    if (codePoint < 0x80) {
        bytes[count++] = static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        bytes[count++] = static_cast<char>(0xC0 | (codePoint >> 6));
        bytes[count++] = static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        bytes[count++] = static_cast<char>(0xE0 | (codePoint >> 12));
        bytes[count++] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        bytes[count++] = static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        bytes[count++] = static_cast<char>(0xF0 | (codePoint >> 18));
        bytes[count++] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        bytes[count++] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        bytes[count++] = static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    return count;
}

void appendUtf16AsUtf8(StringBuffer& out, const char16_t* wideText) {
    if (wideText == nullptr) {
        return;
    }
    for (const char16_t* unit = wideText; *unit != 0; ++unit) {
        uint32_t value = *unit;
        if (value >= 0xD800 && value <= 0xDBFF && unit[1] >= 0xDC00 && unit[1] <= 0xDFFF) {
            value = 0x10000 + ((value - 0xD800) << 10) + (static_cast<uint32_t>(unit[1]) - 0xDC00);
            ++unit;
        } else if (value >= 0xD800 && value <= 0xDFFF) {
            value = 0xFFFD;
        }
        char bytes[4];
        out.appendBytes(bytes, encodeUtf8(value, bytes));
    }
}

bool beginsWithNoCase(const char* text, const char* prefix) {
    if (text == nullptr || prefix == nullptr) {
        return false;
    }
    for (; *prefix != 0; ++text, ++prefix) {
        if (*text == 0 || foldAscii(static_cast<unsigned char>(*text)) !=
                              foldAscii(static_cast<unsigned char>(*prefix))) {
            return false;
        }
    }
    return true;
}

size_t findNoCaseFrom(std::string_view text, std::string_view needle, size_t from) {
    if (needle.empty() || text.size() < needle.size()) {
        return std::string_view::npos;
    }
    for (size_t i = from; i + needle.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < needle.size() && foldAscii(static_cast<unsigned char>(text[i + k])) ==
                                        foldAscii(static_cast<unsigned char>(needle[k]))) {
            ++k;
        }
        if (k == needle.size()) {
            return i;
        }
    }
    return std::string_view::npos;
}

const char* findNoCase(const char* haystack, const char* needle) {
    if (haystack == nullptr || needle == nullptr || *haystack == 0 || *needle == 0) {
        return nullptr;
    }
    const unsigned char first = foldAscii(static_cast<unsigned char>(*needle));
    const char* rest = needle + 1;
    for (const char* p = haystack; *p != 0; ++p) {
        if (foldAscii(static_cast<unsigned char>(*p)) != first) {
            continue;
        }
        const unsigned char* h = reinterpret_cast<const unsigned char*>(p + 1);
        const unsigned char* n = reinterpret_cast<const unsigned char*>(rest);
        while (*n != 0 && *h != 0 && foldAscii(*h) == foldAscii(*n)) {
            ++h;
            ++n;
        }
        if (*n == 0) {
            return p;
        }
        if (*h == 0) {
            return nullptr; // the rest of the haystack is shorter than the needle
        }
    }
    return nullptr;
}

int StringBuffer::capacityLimit() {
    return g_capacityLimit;
}

void StringBuffer::setCapacityLimit(int limit) {
    g_capacityLimit = limit > 0 ? limit : INT_MAX;
}

StringBuffer::StringBuffer()
    : m_text(allocateBlock(kDefaultCapacity)), m_capacity(kDefaultCapacity), m_length(0),
      m_increment(kDefaultCapacity) {
    m_text[0] = 0;
}

StringBuffer::StringBuffer(int initialSize)
    : m_text(nullptr), m_capacity(initialSize > 0 ? initialSize : kDefaultCapacity), m_length(0),
      m_increment(initialSize > 0 ? initialSize : kDefaultCapacity) {
    m_text = allocateBlock(m_capacity);
    m_text[0] = 0;
}

StringBuffer::StringBuffer(const char* text)
    : m_text(nullptr), m_capacity(kNullTextCapacity), m_length(0), m_increment(kDefaultCapacity) {
    if (text == nullptr) {
        m_text = allocateBlock(m_capacity);
        m_text[0] = 0;
        return;
    }
    const size_t length = std::strlen(text);
    if (length >= static_cast<size_t>(g_capacityLimit)) {
        throw std::length_error("StringBuffer: text too long");
    }
    m_length = static_cast<int>(length);
    m_capacity = m_length + 1;
    m_text = allocateBlock(m_capacity);
    std::memcpy(m_text, text, length + 1);
}

StringBuffer::StringBuffer(const char16_t* wideText)
    : m_text(allocateBlock(kNullTextCapacity)), m_capacity(kNullTextCapacity), m_length(0),
      m_increment(kDefaultCapacity) {
    m_text[0] = 0;
    if (wideText == nullptr) {
        return;
    }
    StringBuffer converted;
    appendUtf16AsUtf8(converted, wideText);
    moveToBlock(converted.m_length + 1);
    std::memcpy(m_text, converted.m_text, static_cast<size_t>(converted.m_length) + 1);
    m_length = converted.m_length;
}

StringBuffer::~StringBuffer() {
    std::free(m_text);
    m_text = nullptr;
    m_capacity = 0;
    m_length = 0;
    m_increment = 0;
}

void StringBuffer::moveToBlock(int newCapacity) {
    char* block = allocateBlock(newCapacity);
    std::memcpy(block, m_text, static_cast<size_t>(m_length) + 1);
    std::free(m_text);
    m_text = block;
    m_capacity = newCapacity;
}

void StringBuffer::updateIncrement() {
    if (m_increment < kIncrementCap) {
        int half = m_capacity / 2;
        if (half > kIncrementCap) {
            half = kIncrementCap;
        }
        m_increment = half > 0 ? half : 1;
    }
}

void StringBuffer::ensureRoom(int extra, Growth growth) {
    const int64_t need = static_cast<int64_t>(m_length) + extra;
    if (need < m_capacity) {
        return;
    }
    if (need + 1 > g_capacityLimit) {
        throw std::length_error("StringBuffer: size limit exceeded");
    }
    int64_t newCapacity = need + m_increment;
    if (growth == Growth::Append || growth == Growth::Fixed) {
        newCapacity += 1;
    }
    if (newCapacity <= need) {
        newCapacity = need + 1;
    }
    if (newCapacity > g_capacityLimit) {
        newCapacity = g_capacityLimit;
    }
    moveToBlock(static_cast<int>(newCapacity));
    if (growth != Growth::Fixed) {
        updateIncrement();
    }
}

char StringBuffer::lastChar() const {
    return m_length > 0 ? m_text[m_length - 1] : 0;
}

char StringBuffer::charAt(int index) const {
    return (index < 0 || index >= m_length) ? 0 : m_text[index];
}

bool StringBuffer::is7bit() const {
    for (int i = 0; i < m_length; ++i) {
        if ((static_cast<unsigned char>(m_text[i]) & 0x80) != 0) {
            return false;
        }
    }
    return true;
}

bool StringBuffer::equals(const char* text) const {
    if (text == nullptr) {
        return m_length == 0;
    }
    return std::strcmp(m_text, text) == 0;
}

bool StringBuffer::equalsSb(const StringBuffer& other) const {
    return std::strcmp(m_text, other.m_text) == 0;
}

bool StringBuffer::equalsNoCase(const char* text) const {
    if (text == nullptr) {
        return m_length == 0;
    }
    return equalsFolded(m_text, text);
}

bool StringBuffer::beginsWith(const char* text) const {
    if (text == nullptr) {
        return false;
    }
    return std::strncmp(m_text, text, std::strlen(text)) == 0;
}

bool StringBuffer::contains(const char* text) const {
    if (text == nullptr) {
        return false;
    }
    return std::strstr(m_text, text) != nullptr;
}

bool StringBuffer::containsNoCase(const char* text) const {
    return findNoCase(m_text, text) != nullptr;
}

void StringBuffer::append(const char* text) {
    if (text == nullptr || *text == 0) {
        return;
    }
    const size_t length = std::strlen(text);
    if (length >= static_cast<size_t>(INT_MAX)) {
        throw std::length_error("StringBuffer: text too long");
    }
    const int count = static_cast<int>(length);
    if (text >= m_text && text < m_text + m_capacity) {
        // The text lies inside this buffer, which growth would free.
        StringBuffer copy(text);
        append(copy.m_text);
        return;
    }
    ensureRoom(count, Growth::Append);
    std::memcpy(m_text + m_length, text, length);
    m_length += count;
    m_text[m_length] = 0;
}

void StringBuffer::appendBytes(const void* bytes, int count) {
    if (bytes == nullptr || count <= 0) {
        return;
    }
    const char* source = static_cast<const char*>(bytes);
    if (source >= m_text && source < m_text + m_capacity) {
        StringBuffer copy(count);
        copy.appendBytes(source, count);
        appendBytes(copy.m_text, count);
        return;
    }
    ensureRoom(count, Growth::AppendBytes);
    std::memcpy(m_text + m_length, source, static_cast<size_t>(count));
    m_length += count;
    m_text[m_length] = 0;
}

void StringBuffer::appendChar(char c) {
    ensureRoom(1, Growth::AppendChar);
    m_text[m_length++] = c;
    m_text[m_length] = 0;
}

void StringBuffer::appendSb(const StringBuffer& other) {
    appendBytes(other.m_text, other.m_length);
}

void StringBuffer::appendInt(int value) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%d", value);
    append(digits);
}

void StringBuffer::appendWide(const char16_t* wideText) {
    appendUtf16AsUtf8(*this, wideText);
}

void StringBuffer::appendHexDump(const void* bytes, int count) {
    if (bytes == nullptr || count <= 0) {
        return;
    }
    static const char kDigits[] = "0123456789ABCDEF";
    const unsigned char* data = static_cast<const unsigned char*>(bytes);
    for (int i = 0; i < count; ++i) {
        appendChar(kDigits[data[i] >> 4]);
        appendChar(kDigits[data[i] & 0x0F]);
        const int done = i + 1;
        if (done % 2 == 0) {
            appendChar(' ');
        }
        if (done % 16 == 0) {
            appendChar('\n');
        }
    }
}

void StringBuffer::appendSystemMessage(int errorCode) {
    char scratch[512];
    const char* message = strerror_r(errorCode, scratch, sizeof scratch);
    if (message == nullptr || *message == 0) {
        return;
    }
    append(message);
    trim();
}

void StringBuffer::appendLastError() {
    appendSystemMessage(errno);
}

void StringBuffer::prepend(const char* text) {
    if (text == nullptr || *text == 0) {
        return;
    }
    StringBuffer front(text); // the text may lie inside this buffer
    ensureRoom(front.m_length, Growth::Fixed);
    std::memmove(m_text + front.m_length, m_text, static_cast<size_t>(m_length) + 1);
    std::memcpy(m_text, front.m_text, static_cast<size_t>(front.m_length));
    m_length += front.m_length;
}

void StringBuffer::setString(const char* text) {
    if (text == nullptr) {
        clear();
        return;
    }
    StringBuffer copy(text);
    clear();
    append(copy.m_text);
}

void StringBuffer::setSb(const StringBuffer& other) {
    if (&other == this) {
        m_length = static_cast<int>(std::strlen(m_text));
        return;
    }
    clear();
    append(other.m_text);
}

void StringBuffer::clear() {
    m_length = 0;
    m_text[0] = 0;
}

void StringBuffer::reserve(int count) {
    if (count <= 0) {
        return;
    }
    ensureRoom(count, Growth::Fixed);
}

void StringBuffer::shrinkToFit() {
    if (m_capacity > m_length + 4) {
        moveToBlock(m_length + 1);
    }
}

char* StringBuffer::detachText(int* lengthOut) {
    if (lengthOut != nullptr) {
        *lengthOut = m_length;
    }
    char* detached = m_text;
    const int newCapacity = m_increment > 0 ? m_increment : kDefaultCapacity;
    m_text = allocateBlock(newCapacity);
    m_text[0] = 0;
    m_capacity = newCapacity;
    m_length = 0;
    return detached;
}

void StringBuffer::trim() {
    if (m_length == 0) {
        return;
    }
    size_t length = std::strlen(m_text);
    size_t start = 0;
    while (start < length && isTrimSpace(static_cast<unsigned char>(m_text[start]))) {
        ++start;
    }
    if (start > 0) {
        std::memmove(m_text, m_text + start, length - start + 1);
        length -= start;
    }
    while (length > 0 && isTrimSpace(static_cast<unsigned char>(m_text[length - 1]))) {
        --length;
    }
    m_text[length] = 0;
    m_length = static_cast<int>(length);
}

void StringBuffer::removeChar(char c) {
    int kept = 0;
    for (int i = 0; i < m_length; ++i) {
        if (m_text[i] != c) {
            m_text[kept++] = m_text[i];
        }
    }
    m_length = kept;
    m_text[m_length] = 0;
}

void StringBuffer::replaceChar(char from, char to) {
    for (int i = 0; i < m_length; ++i) {
        if (m_text[i] == from) {
            m_text[i] = to;
        }
    }
}

bool StringBuffer::replaceFirst(const char* find, const char* replacement) {
    if (find == nullptr || *find == 0) {
        return false;
    }
    const size_t findLength = std::strlen(find);
    const char* hit = findBytes(m_text, m_text + m_length, find, findLength);
    if (hit == nullptr) {
        return false;
    }
    const int at = static_cast<int>(hit - m_text);
    const int restStart = at + static_cast<int>(findLength);
    StringBuffer rest(m_length - restStart + 1);
    rest.appendBytes(m_text + restStart, m_length - restStart);
    StringBuffer inserted(replacement); // the replacement may lie inside this buffer
    m_length = at;
    m_text[m_length] = 0;
    appendBytes(inserted.m_text, inserted.m_length);
    appendBytes(rest.m_text, rest.m_length);
    return true;
}

int StringBuffer::replaceAll(const char* find, const char* replacement) {
    if (find == nullptr || *find == 0) {
        return 0;
    }
    const size_t findLength = std::strlen(find);
    const char* end = m_text + m_length;
    const char* hit = findBytes(m_text, end, find, findLength);
    if (hit == nullptr) {
        return 0;
    }
    StringBuffer inserted(replacement);
    char* oldText = m_text;
    const int oldLength = m_length;
    const int oldCapacity = m_capacity;
    const int newCapacity = m_increment > 0 ? m_increment : kDefaultCapacity;
    m_text = allocateBlock(newCapacity);
    m_text[0] = 0;
    m_capacity = newCapacity;
    m_length = 0;
    int count = 0;
    const char* from = oldText;
    end = oldText + oldLength;
    try {
        while (hit != nullptr) {
            appendBytes(from, static_cast<int>(hit - from));
            appendBytes(inserted.m_text, inserted.m_length);
            ++count;
            from = hit + findLength;
            hit = findBytes(from, end, find, findLength);
        }
        appendBytes(from, static_cast<int>(end - from));
    } catch (...) {
        std::free(m_text);
        m_text = oldText;
        m_length = oldLength;
        m_capacity = oldCapacity;
        throw;
    }
    std::free(oldText);
    return count;
}

void StringBuffer::toLowerCase() {
    for (int i = 0; i < m_length; ++i) {
        if (m_text[i] >= 'A' && m_text[i] <= 'Z') {
            m_text[i] = static_cast<char>(m_text[i] + ('a' - 'A'));
        }
    }
}

void StringBuffer::shorten(int count) {
    if (count <= 0) {
        return;
    }
    m_length = count >= m_length ? 0 : m_length - count;
    m_text[m_length] = 0;
}

void StringBuffer::split(ExtPtrArray& parts, char delimiter) const {
    if (m_length == 0) {
        return;
    }
    StringBuffer* piece = new StringBuffer();
    for (const char* p = m_text; *p != 0; ++p) {
        if (*p == delimiter) {
            parts.appendObject(piece);
            piece = new StringBuffer();
        } else {
            piece->appendChar(*p);
        }
    }
    parts.appendObject(piece);
}
