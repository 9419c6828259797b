#pragma once

#include <string>
#include <vector>

class DiagnosticLog;
class StringBuffer;

// The 7-bit forms a message carries: base64 and quoted-printable bodies and
// the B and Q encoded words of header values, both ways.
//
// Functions that return a new block return a NUL-terminated block allocated
// with malloc, which the caller releases with free(); its length (without
// the NUL) comes back through the int* out-parameter.
class ContentCoding {
public:
    ContentCoding() = default;

    int getLineLength() const { return lineLength; }

    // Base64 in lines of 72 characters, always ending with CR LF.
    void encodeBase64Lines(const void* bytes, int count, StringBuffer& out) const;
    // Quoted-printable; lines of at most 75 characters; no final line break.
    void encodeQuotedPrintable(const void* bytes, int count, StringBuffer& out) const;

    // Exact number of characters the two body encoders append.
    static long long base64LinesSize(long long count);
    long long quotedPrintableSize(const void* bytes, int count) const;

    char* encodeBase64(const void* bytes, int count, int* lengthOut) const;
    // Skips whitespace and every character outside the base64 alphabet;
    // stops at the first "=" or NUL.
    char* decodeBase64(const char* text, int count, int* lengthOut) const;
    char* encodeQ(const void* bytes, int count, int* lengthOut) const;
    // A count of 0 or less reads up to the NUL.
    char* decodeQ(const char* text, int count, int* lengthOut) const;

    // Encoded words, or the text unchanged when it already holds one. Every
    // word has at most 75 characters and holds whole characters of the
    // charset; the words are joined by CR LF and a blank, and the first is
    // short enough to follow a field name ("Subject: ") on a line of 78.
    void encodeHeaderWord(const void* bytes, int count, const char* charset,
                          StringBuffer& out) const;
    void encodeWordB(const void* bytes, int count, const char* charset, StringBuffer& out) const;
    void encodeWordQ(const void* bytes, int count, const char* charset, StringBuffer& out) const;

    // The text as encoded words of at most maxLength characters each (and
    // at least one character of the charset each), cut only between whole
    // characters of the charset. B words when bWords, else Q words.
    std::vector<std::string> encodeWords(const void* bytes, int count, const char* charset,
                                         bool bWords, int maxLength) const;
    // The charsets whose text is written in B words rather than Q words.
    static bool prefersBWords(const char* charset);

    // Replace the encoded words of the text by their text, converted to
    // UTF-8. An "=?" that does not start a complete word stays as it is.
    void decodeWordsB(StringBuffer& text, DiagnosticLog* log = nullptr) const;
    void decodeWordsQ(StringBuffer& text, DiagnosticLog* log = nullptr) const;

    // The longest header line a reader is promised, the room left in front
    // of an encoded word for its field name ("Subject: "), and the longest
    // encoded word.
    static constexpr int kMaxHeaderLine = 78;
    static constexpr int kFieldNameRoom = 9;
    static constexpr int kMaxEncodedWord = 75;

    const int lineLength = 72;

private:
    enum class WordKind { B, Q };

    void decodeWords(StringBuffer& text, WordKind kind, DiagnosticLog* log) const;
};
