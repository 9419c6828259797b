#pragma once

class DataBuffer;
class DiagnosticLog;
class MultiLang;

// Converts blocks of bytes between two charsets, named by their charset
// names. The common single-byte code pages are converted by built-in tables;
// everything else goes through the multi-language service (ICU).
//
// Contract: output is appended to the DataBuffer and never cleared; what was
// appended before a failure stays. A failed setter keeps the previous code
// page (initially 28591). UTF-16 always means UTF-16 little-endian.
class CharsetConvert {
public:
    explicit CharsetConvert(DiagnosticLog* log = nullptr);
    CharsetConvert(const CharsetConvert&) = delete;
    CharsetConvert& operator=(const CharsetConvert&) = delete;
    virtual ~CharsetConvert();

    bool setFromCharset(const char* name, DiagnosticLog* log);
    bool setToCharset(const char* name, DiagnosticLog* log);

    bool convert(const void* data, int length, DataBuffer& out, DiagnosticLog* log);
    bool toUnicode(const void* data, int length, DataBuffer& out, DiagnosticLog* log);
    bool fromUnicode(const void* data, int length, DataBuffer& out, DiagnosticLog* log);

    int getFromCodePage() const { return m_fromCodePage; }
    int getToCodePage() const { return m_toCodePage; }
    bool hasMultiLang() const { return m_multiLang != nullptr; }

private:
    bool convertQuickly(const void* data, int length, bool inputIsUtf16, DataBuffer& out);

    MultiLang* m_multiLang = nullptr;
    int m_fromCodePage = 28591;
    int m_toCodePage = 28591;
};
