#pragma once

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

    // One encoded word, or the text unchanged when it already holds one. A
    // word that would make its header line longer than 998 characters is
    // written as several words of at most 75 characters instead, joined by
    // CR LF and a blank, never splitting a character of the charset.
    void encodeHeaderWord(const void* bytes, int count, const char* charset,
                          StringBuffer& out) const;
    void encodeWordB(const void* bytes, int count, const char* charset, StringBuffer& out) const;
    void encodeWordQ(const void* bytes, int count, const char* charset, StringBuffer& out) const;

    // Replace the encoded words of the text by their text, converted to
    // UTF-8. An "=?" that does not start a complete word stays as it is.
    void decodeWordsB(StringBuffer& text, DiagnosticLog* log = nullptr) const;
    void decodeWordsQ(StringBuffer& text, DiagnosticLog* log = nullptr) const;

    // The longest header line RFC 5322 allows, and the room left in front of
    // an encoded word for its field name ("Subject: ").
    static constexpr int kMaxHeaderLine = 998;
    static constexpr int kFieldNameRoom = 9;
    static constexpr int kMaxEncodedWord = 75;

    const int lineLength = 72;

private:
    enum class WordKind { B, Q };

    void encodeWordSplit(const unsigned char* bytes, int count, const char* charset, WordKind kind,
                         StringBuffer& out) const;
    void decodeWords(StringBuffer& text, WordKind kind, DiagnosticLog* log) const;
};
