#include "ContentCoding.h"

#include "IcuCharacterSplitter.h"

#include "charset/CharsetConvert.h"
#include "foundation/DataBuffer.h"
#include "foundation/DiagnosticLog.h"
#include "foundation/StringBuffer.h"

#include <array>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <strings.h>
#include <vector>

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr int kStagingSize = 2000;
constexpr int kBytesPerBase64Line = 54;

// Every 12-bit value as its two base64 characters, so that a group of three
// bytes takes two look-ups.
constexpr std::array<char, 8192> makeBase64Pairs() {
    std::array<char, 8192> pairs{};
    for (int value = 0; value < 4096; ++value) {
        pairs[static_cast<size_t>(value) * 2] = kBase64Alphabet[value >> 6];
        pairs[static_cast<size_t>(value) * 2 + 1] = kBase64Alphabet[value & 0x3F];
    }
    return pairs;
}
constexpr std::array<char, 8192> kBase64Pairs = makeBase64Pairs();

// The decoding table covers "+" (43) to "z" (122); 127 marks the characters
// of that range that are not in the alphabet.
constexpr int kDecodeFirst = 43;
constexpr int kDecodeLast = 122;
constexpr unsigned char kNotBase64 = 127;
constexpr std::array<unsigned char, kDecodeLast - kDecodeFirst + 1> makeDecodeTable() {
    std::array<unsigned char, kDecodeLast - kDecodeFirst + 1> table{};
    for (auto& entry : table) {
        entry = kNotBase64;
    }
    for (int i = 0; i < 64; ++i) {
        table[static_cast<size_t>(kBase64Alphabet[i] - kDecodeFirst)] =
            static_cast<unsigned char>(i);
    }
    return table;
}
constexpr auto kDecodeTable = makeDecodeTable();

const unsigned char* asBytes(const void* bytes) {
    return static_cast<const unsigned char*>(bytes);
}

char* allocateBlock(long long size) {
    char* block = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

// Writes 4 characters for a full group of three bytes.
inline char* putBase64Group(const unsigned char* in, char* out) {
    const uint32_t value = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
    std::memcpy(out, &kBase64Pairs[(value >> 12) * 2], 2);
    std::memcpy(out + 2, &kBase64Pairs[(value & 0xFFF) * 2], 2);
    return out + 4;
}

// The last one or two bytes, padded with "=".
inline char* putBase64Tail(const unsigned char* in, int remaining, char* out) {
    if (remaining == 1) {
        *out++ = kBase64Alphabet[in[0] >> 2];
        *out++ = kBase64Alphabet[(in[0] & 0x03) << 4];
        *out++ = '=';
        *out++ = '=';
    } else if (remaining == 2) {
        *out++ = kBase64Alphabet[in[0] >> 2];
        *out++ = kBase64Alphabet[((in[0] & 0x03) << 4) | (in[1] >> 4)];
        *out++ = kBase64Alphabet[(in[1] & 0x0F) << 2];
        *out++ = '=';
    }
    return out;
}

char* putBase64Run(const unsigned char* in, int count, char* out) {
    const int groups = count / 3;
    for (int g = 0; g < groups; ++g) {
        out = putBase64Group(in + g * 3, out);
    }
    return putBase64Tail(in + groups * 3, count - groups * 3, out);
}

// Quoted-printable byte classes.
constexpr bool isQpLiteral(unsigned char c) {
    return (c >= 33 && c <= 60) || (c >= 62 && c <= 126);
}

constexpr bool isQLiteral(unsigned char c) {
    return (c >= 33 && c <= 60) || c == 62 || (c >= 64 && c <= 94) || (c >= 96 && c <= 126);
}

constexpr bool isQDecodedLiteral(unsigned char c) {
    return isQLiteral(c) || c >= 160;
}

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Output of the quoted-printable and Q encoders: a fixed staging area that
// goes into the StringBuffer whenever it is full and once at the end.
class StagedWriter {
public:
    explicit StagedWriter(StringBuffer& out) : m_out(out) {}
    StagedWriter(const StagedWriter&) = delete;
    StagedWriter& operator=(const StagedWriter&) = delete;
    ~StagedWriter() { flush(); }

    void ensure(int count) {
        if (m_used + count > kStagingSize) {
            flush();
        }
    }
    void put(unsigned char c) { m_area[m_used++] = static_cast<char>(c); }
    void putHex(unsigned char c) {
        m_area[m_used++] = '=';
        m_area[m_used++] = kHexDigits[c >> 4];
        m_area[m_used++] = kHexDigits[c & 0x0F];
    }
    void putSoftBreak() {
        m_area[m_used++] = '=';
        m_area[m_used++] = '\r';
        m_area[m_used++] = '\n';
    }
    void flush() {
        // The output may outgrow the room reserved for it (escapes take
        // three bytes); it then doubles, so that appending the staging area
        // never turns into copying the whole output again and again.
        const int room = m_out.getCapacity() - m_out.getSize() - 1;
        if (room < m_used) {
            m_out.reserve(m_out.getSize() > m_used ? m_out.getSize() : m_used);
        }
        m_out.appendBytes(m_area, m_used);
        m_used = 0;
    }

private:
    StringBuffer& m_out;
    char m_area[kStagingSize];
    int m_used = 0;
};

// Counts what StagedWriter would write, for the exact size of a message.
class CountingWriter {
public:
    void ensure(int) {}
    void put(unsigned char) { ++m_count; }
    void putHex(unsigned char) { m_count += 3; }
    void putSoftBreak() { m_count += 3; }
    long long count() const { return m_count; }

private:
    long long m_count = 0;
};

bool beginsFromLine(const unsigned char* in, int index, int count) {
    return count - index >= 5 && std::memcmp(in + index + 1, "rom ", 4) == 0;
}

template <class Writer>
void writeQuotedPrintable(const unsigned char* in, int count, int lineLength, Writer& writer) {
    constexpr int kMostPerStep = 6; // an escaped byte and a soft line break
    int column = 0;
    int i = 0;
    while (i < count) {
        writer.ensure(kMostPerStep);
        const unsigned char c = in[i];
        if (column == 0 && (c == '.' || (c == 'F' && beginsFromLine(in, i, count)))) {
            // A line that starts with "." or "From " would be taken apart by
            // mail transports.
            writer.putHex(c);
            column = 3;
            ++i;
        } else if (isQpLiteral(c)) {
            writer.put(c);
            ++column;
            ++i;
        } else if (c == ' ' || c == '\t') {
            const bool last = i == count - 1;
            const bool beforeLineBreak = i + 2 < count && in[i + 1] == '\r' && in[i + 2] == '\n';
            if (last || beforeLineBreak) {
                writer.putHex(c);
                column += 3;
            } else {
                writer.put(c);
                ++column;
            }
            ++i;
        } else if (c == '\r' && i + 1 < count && in[i + 1] == '\n') {
            writer.put('\r');
            writer.put('\n');
            column = 0;
            i += 2;
        } else {
            writer.putHex(c);
            column += 3;
            ++i;
        }
        if (column >= lineLength) {
            const bool lineBreakFollows = count - i >= 2 && in[i] == '\r' && in[i + 1] == '\n';
            if (!lineBreakFollows) {
                writer.putSoftBreak();
                column = 0;
            }
        }
    }
}

bool containsNoCaseBounded(const unsigned char* bytes, int count, const char* needle) {
    const int needleLength = static_cast<int>(std::strlen(needle));
    for (int i = 0; i + needleLength <= count; ++i) {
        int k = 0;
        while (k < needleLength && std::toupper(bytes[i + k]) == std::toupper(needle[k])) {
            ++k;
        }
        if (k == needleLength) {
            return true;
        }
    }
    return false;
}

bool usesBWord(const char* charset) {
    static const char* const kBCharsets[] = {
        "shift_jis",   "shift-jis",    "iso-2022-jp", "euc-jp",       "euc-kr",
        "iso-2022-kr", "gb2312",       "euc-cn",      "cp-936",       "euc-tw",
        "big5",        "cp-950",       "cp-932",      "tis-620",      "windows-874",
        "iso-8859-9",  "windows-1254", "iso-8859-6",  "windows-1256", "cp-1256",
    };
    if (charset == nullptr) {
        return false;
    }
    for (const char* name : kBCharsets) {
        if (strcasecmp(charset, name) == 0) {
            return true;
        }
    }
    return false;
}

long long bPayloadLength(long long count) {
    return (count + 2) / 3 * 4;
}

long long qPayloadLength(const unsigned char* bytes, int count) {
    long long length = 0;
    for (int i = 0; i < count; ++i) {
        length += (isQLiteral(bytes[i]) || bytes[i] == ' ') ? 1 : 3;
    }
    return length;
}

// Characters on the last line of out so far.
int currentLineLength(const StringBuffer& out) {
    const char* text = out.getString();
    const int size = out.getSize();
    int start = size;
    while (start > 0 && text[start - 1] != '\n') {
        --start;
    }
    return size - start;
}

// One "=?charset?X?text?=" word found in a text.
struct EncodedWord {
    int charsetStart = 0;
    int charsetLength = 0;
    int textStart = 0;
    int textLength = 0;
    int end = 0; // just behind "?="
};

int findPair(const char* text, int from, int size, char first, char second) {
    for (int i = from; i + 1 < size; ++i) {
        if (text[i] == first && text[i + 1] == second) {
            return i;
        }
    }
    return -1;
}

bool isBlankOrBreak(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A complete word of the wanted kind starting at the "=?" at start.
bool parseEncodedWord(const char* text, int size, int start, char marker, EncodedWord& word) {
    int question = start + 2;
    while (question < size && text[question] != '?') {
        if (isBlankOrBreak(text[question])) {
            return false;
        }
        ++question;
    }
    if (question + 2 >= size ||
        std::toupper(static_cast<unsigned char>(text[question + 1])) != marker ||
        text[question + 2] != '?') {
        return false;
    }
    const int textStart = question + 3;
    const int close = findPair(text, textStart, size, '?', '=');
    if (close < 0) {
        return false;
    }
    word.charsetStart = start + 2;
    word.charsetLength = question - word.charsetStart;
    word.textStart = textStart;
    word.textLength = close - textStart;
    word.end = close + 2;
    return true;
}

// The folding white space between two adjacent encoded words (a line break
// and blanks) is not part of the text.
bool isFoldBetweenWords(const char* text, int length) {
    bool hasLineBreak = false;
    for (int i = 0; i < length; ++i) {
        if (!isBlankOrBreak(text[i])) {
            return false;
        }
        hasLineBreak = hasLineBreak || text[i] == '\n';
    }
    return hasLineBreak;
}

void appendConvertedToUtf8(const std::string& charset, const char* decoded, int length,
                           const char* failureMessage, DataBuffer& result, DiagnosticLog* log) {
    // A word whose text gives no bytes still goes through the charset steps,
    // so that an unknown charset is reported all the same.
    if (decoded == nullptr || length < 0) {
        length = 0;
    }
    if (strcasecmp(charset.c_str(), "utf-8") == 0) {
        if (length > 0) {
            result.append(decoded, static_cast<uint32_t>(length));
        }
        return;
    }
    CharsetConvert converter;
    if (!converter.setFromCharset(charset.c_str(), log) && log != nullptr) {
        log->logError(failureMessage);
    }
    converter.setToCharset("utf-8", log);
    DataBuffer converted;
    if (converter.convert(decoded, length, converted, log)) {
        if (converted.getSize() > 0) {
            result.append(converted.getData(), converted.getSize());
        }
    } else if (length > 0) {
        result.append(decoded, static_cast<uint32_t>(length));
    }
}

} // namespace

long long ContentCoding::base64LinesSize(long long count) {
    if (count <= 0) {
        return 0;
    }
    const long long fullGroups = count / 3;
    return bPayloadLength(count) + 2 * (fullGroups / 18) + 2;
}

void ContentCoding::encodeBase64Lines(const void* bytes, int count, StringBuffer& out) const {
    if (bytes == nullptr || count <= 0) {
        return;
    }
    const long long total = base64LinesSize(count);
    if (total < INT_MAX) {
        out.reserve(static_cast<int>(total));
    }
    // Whole lines are staged in blocks; one block is 256 lines.
    constexpr int kLinesPerBlock = 256;
    constexpr int kLineChars = 72 + 2;
    char block[kLinesPerBlock * kLineChars];
    const unsigned char* in = asBytes(bytes);
    int remaining = count;
    char* cursor = block;
    int linesInBlock = 0;
    while (remaining >= kBytesPerBase64Line) {
        for (int g = 0; g < kBytesPerBase64Line / 3; ++g) {
            cursor = putBase64Group(in + g * 3, cursor);
        }
        *cursor++ = '\r';
        *cursor++ = '\n';
        in += kBytesPerBase64Line;
        remaining -= kBytesPerBase64Line;
        if (++linesInBlock == kLinesPerBlock) {
            out.appendBytes(block, static_cast<int>(cursor - block));
            cursor = block;
            linesInBlock = 0;
        }
    }
    cursor = putBase64Run(in, remaining, cursor);
    *cursor++ = '\r';
    *cursor++ = '\n';
    out.appendBytes(block, static_cast<int>(cursor - block));
}

long long ContentCoding::quotedPrintableSize(const void* bytes, int count) const {
    if (bytes == nullptr || count <= 0) {
        return 0;
    }
    CountingWriter counter;
    writeQuotedPrintable(asBytes(bytes), count, lineLength, counter);
    return counter.count();
}

void ContentCoding::encodeQuotedPrintable(const void* bytes, int count, StringBuffer& out) const {
    if (bytes == nullptr || count <= 0) {
        return;
    }
    out.reserve(count);
    StagedWriter writer(out);
    writeQuotedPrintable(asBytes(bytes), count, lineLength, writer);
}

char* ContentCoding::encodeBase64(const void* bytes, int count, int* lengthOut) const {
    if (lengthOut != nullptr) {
        *lengthOut = 0;
    }
    if (lengthOut == nullptr || bytes == nullptr || count <= 0) {
        return nullptr;
    }
    char* block = allocateBlock(static_cast<long long>(count) * 5 / 3 + 4);
    char* end = putBase64Run(asBytes(bytes), count, block);
    *end = 0;
    *lengthOut = static_cast<int>(end - block);
    return block;
}

char* ContentCoding::decodeBase64(const char* text, int count, int* lengthOut) const {
    if (lengthOut == nullptr) {
        return nullptr;
    }
    *lengthOut = 0;
    if (text == nullptr || count <= 0) {
        return nullptr;
    }
    const long long capacity = static_cast<long long>(count) * 3 / 4 + 4;
    char* block = allocateBlock(capacity);
    uint32_t bits = 0;
    int bitCount = 0;
    int length = 0;
    for (int i = 0; i < count; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '=' || c == 0) {
            break;
        }
        if (c < kDecodeFirst || c > kDecodeLast) {
            continue; // whitespace and foreign characters
        }
        const unsigned char value = kDecodeTable[c - kDecodeFirst];
        if (value == kNotBase64) {
            continue;
        }
        bits = (bits << 6) | value;
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            block[length++] = static_cast<char>((bits >> bitCount) & 0xFF);
        }
    }
    // The byte in progress and the one after it are cleared, so the block
    // always ends in NUL.
    block[length] = 0;
    block[length + 1] = 0;
    *lengthOut = length;
    return block;
}

char* ContentCoding::encodeQ(const void* bytes, int count, int* lengthOut) const {
    if (lengthOut != nullptr) {
        *lengthOut = 0;
    }
    if (bytes == nullptr || count <= 0) {
        return nullptr;
    }
    const unsigned char* in = asBytes(bytes);
    StringBuffer encoded(3000);
    {
        StagedWriter writer(encoded);
        for (int i = 0; i < count; ++i) {
            writer.ensure(3);
            const unsigned char c = in[i];
            if (isQLiteral(c)) {
                writer.put(c);
            } else if (c == ' ') {
                writer.put('_');
            } else {
                writer.putHex(c);
            }
        }
    }
    int length = 0;
    char* block = encoded.detachText(&length);
    if (lengthOut != nullptr) {
        *lengthOut = length;
    }
    return block;
}

char* ContentCoding::decodeQ(const char* text, int count, int* lengthOut) const {
    if (lengthOut != nullptr) {
        *lengthOut = 0;
    }
    if (text == nullptr) {
        return nullptr;
    }
    const int size = count > 0 ? count : static_cast<int>(std::strlen(text));
    if (size == 0) {
        return nullptr;
    }
    char* block = allocateBlock(static_cast<long long>(size) + 1);
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    int length = 0;
    for (int i = 0; i < size; ++i) {
        const unsigned char c = in[i];
        if (c == '=') {
            const int high = i + 2 < size ? hexValue(in[i + 1]) : -1;
            const int low = i + 2 < size ? hexValue(in[i + 2]) : -1;
            if (high >= 0 && low >= 0) {
                block[length++] = static_cast<char>(high * 16 + low);
                i += 2;
            } else {
                block[length++] = '=';
            }
        } else if (c == '_') {
            block[length++] = ' ';
        } else if (isQDecodedLiteral(c)) {
            block[length++] = static_cast<char>(c);
        }
    }
    block[length] = 0;
    if (lengthOut != nullptr) {
        *lengthOut = length;
    }
    return block;
}

void ContentCoding::encodeWordB(const void* bytes, int count, const char* charset,
                                StringBuffer& out) const {
    if (bytes == nullptr || charset == nullptr || count <= 0) {
        return;
    }
    int length = 0;
    char* encoded = encodeBase64(bytes, count, &length);
    out.append("=?");
    out.append(charset);
    out.append("?B?");
    out.appendBytes(encoded, length);
    out.append("?=");
    std::free(encoded);
}

void ContentCoding::encodeWordQ(const void* bytes, int count, const char* charset,
                                StringBuffer& out) const {
    if (bytes == nullptr || charset == nullptr || count <= 0) {
        return;
    }
    int length = 0;
    char* encoded = encodeQ(bytes, count, &length);
    out.append("=?");
    out.append(charset);
    out.append("?Q?");
    out.appendBytes(encoded, length);
    out.append("?=");
    std::free(encoded);
}

void ContentCoding::encodeHeaderWord(const void* bytes, int count, const char* charset,
                                     StringBuffer& out) const {
    if (bytes == nullptr || count <= 0) {
        return;
    }
    const unsigned char* in = asBytes(bytes);
    const int probed = count < 100 ? count : 100;
    if (containsNoCaseBounded(in, probed, "?Q?") || containsNoCaseBounded(in, probed, "?B?")) {
        out.appendBytes(in, count);
        return;
    }
    if (charset == nullptr) {
        return;
    }
    // One budget for every word keeps the first beside the field name and
    // each further one within its own folded line.
    const int room = kMaxHeaderLine - kFieldNameRoom - currentLineLength(out);
    const int maxLength = room < kMaxEncodedWord ? room : kMaxEncodedWord;
    bool first = true;
    for (const std::string& word : encodeWords(in, count, charset, usesBWord(charset), maxLength)) {
        if (!first) {
            out.append("\r\n ");
        }
        first = false;
        out.appendBytes(word.data(), static_cast<int>(word.size()));
    }
}

bool ContentCoding::prefersBWords(const char* charset) {
    return usesBWord(charset);
}

std::vector<std::string> ContentCoding::encodeWords(const void* bytes, int count,
                                                    const char* charset, bool bWords,
                                                    int maxLength) const {
    if (bytes == nullptr || charset == nullptr || count <= 0) {
        return {};
    }
    const long long overhead = 7 + static_cast<long long>(std::strlen(charset));
    const auto fits = [&](const std::string& piece) {
        const unsigned char* data = reinterpret_cast<const unsigned char*>(piece.data());
        const int size = static_cast<int>(piece.size());
        const long long payload = bWords ? bPayloadLength(size) : qPayloadLength(data, size);
        return overhead + payload <= maxLength;
    };
    std::vector<std::string> words;
    const std::string whole(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count));
    // A text that fits one word keeps its bytes as they are; only a split
    // re-encodes the pieces of a stateful charset.
    const std::vector<std::string> pieces =
        fits(whole) ? std::vector<std::string>{whole}
                    : splitWholeCharacters(asBytes(bytes), count, charset, fits);
    for (const std::string& piece : pieces) {
        StringBuffer word;
        if (bWords) {
            encodeWordB(piece.data(), static_cast<int>(piece.size()), charset, word);
        } else {
            encodeWordQ(piece.data(), static_cast<int>(piece.size()), charset, word);
        }
        words.emplace_back(word.getString(), static_cast<size_t>(word.getSize()));
    }
    return words;
}

void ContentCoding::decodeWordsB(StringBuffer& text, DiagnosticLog* log) const {
    decodeWords(text, WordKind::B, log);
}

void ContentCoding::decodeWordsQ(StringBuffer& text, DiagnosticLog* log) const {
    decodeWords(text, WordKind::Q, log);
}

void ContentCoding::decodeWords(StringBuffer& text, WordKind kind, DiagnosticLog* log) const {
    const char* data = text.getString();
    const int size = text.getSize();
    const char marker = kind == WordKind::B ? 'B' : 'Q';
    const char* failureMessage =
        kind == WordKind::B ? "Invalid FROM Charset (8)" : "Invalid FROM Charset (7)";

    DataBuffer result;
    int copyFrom = 0;
    int lastWordEnd = -1;
    int searchFrom = 0;
    while (true) {
        const int start = findPair(data, searchFrom, size, '=', '?');
        if (start < 0) {
            break;
        }
        EncodedWord word;
        if (!parseEncodedWord(data, size, start, marker, word)) {
            searchFrom = start + 2;
            continue;
        }
        const int gapLength = start - copyFrom;
        if (gapLength > 0 &&
            !(copyFrom == lastWordEnd && isFoldBetweenWords(data + copyFrom, gapLength))) {
            result.append(data + copyFrom, static_cast<uint32_t>(gapLength));
        }
        if (word.textLength > 0) {
            int decodedLength = 0;
            char* decoded =
                kind == WordKind::B
                    ? decodeBase64(data + word.textStart, word.textLength, &decodedLength)
                    : decodeQ(data + word.textStart, word.textLength, &decodedLength);
            const std::string charset(data + word.charsetStart,
                                      static_cast<size_t>(word.charsetLength));
            appendConvertedToUtf8(charset, decoded, decodedLength, failureMessage, result, log);
            std::free(decoded);
        }
        copyFrom = searchFrom = lastWordEnd = word.end;
    }
    if (copyFrom == 0) {
        return; // no word at all: the text stays as it is
    }
    if (size > copyFrom) {
        result.append(data + copyFrom, static_cast<uint32_t>(size - copyFrom));
    }
    text.clear();
    if (result.getSize() > 0) {
        text.appendBytes(result.getData(), static_cast<int>(result.getSize()));
    }
}
