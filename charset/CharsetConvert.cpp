#include "CharsetConvert.h"

#include "CharsetHelp.h"
#include "CharsetNames.h"
#include "MultiLangImpl.h"
#include "QuickConvert.h"
#include "foundation/DataBuffer.h"
#include "foundation/DiagnosticLog.h"
#include "foundation/StringBuffer.h"

namespace {

constexpr int kUtf16 = 1200;
constexpr int kUtf8 = 65001;
constexpr int kMacArabic = 10004;

bool startsWithUtf8Mark(const unsigned char* bytes, int length) {
    return length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF;
}

// The code page of a charset name; an empty name means UTF-8. 0 when the
// name is not recognized.
int codePageOfName(const char* name) {
    StringBuffer text(name);
    text.trim();
    if (text.getSize() == 0) {
        text.setString("utf-8");
    } else {
        normalizeCharsetName(text);
    }
    return lookupCodePage(text.getString());
}

bool reportMissingService(DiagnosticLog* log) {
    if (log != nullptr) {
        log->logError("CharsetConvert: no multi-language object");
    }
    return false;
}

} // namespace

CharsetConvert::CharsetConvert(DiagnosticLog* log) {
    try {
        m_multiLang = createMultiLang(log);
    } catch (...) {
        m_multiLang = nullptr;
    }
}

CharsetConvert::~CharsetConvert() {
    delete m_multiLang;
}

bool CharsetConvert::setFromCharset(const char* name, DiagnosticLog* log) {
    const int codePage = codePageOfName(name);
    if (codePage != 0) {
        m_fromCodePage = codePage;
        return true;
    }
    if (log != nullptr) {
        log->logError("FROM Charset not recognized");
        log->logData("charset", name != nullptr ? name : "");
    }
    return false;
}

bool CharsetConvert::setToCharset(const char* name, DiagnosticLog* log) {
    const int codePage = codePageOfName(name);
    if (codePage != 0) {
        m_toCodePage = codePage;
        return true;
    }
    if (log != nullptr) {
        log->logError("TO Charset not recognized");
        log->logData("charset", name != nullptr ? name : "");
    }
    return false;
}

// The quick path: UTF-16 (the input itself, or the input turned into UTF-16
// first) to a target with a built-in table. False when it does not apply.
bool CharsetConvert::convertQuickly(const void* data, int length, bool inputIsUtf16,
                                    DataBuffer& out) {
    if (QuickConvert::tableFor(m_toCodePage) == nullptr) {
        return false;
    }
    if (inputIsUtf16 || m_fromCodePage == kUtf16) {
        return QuickConvert::fromUtf16(m_toCodePage, data, length, out);
    }
    // A failure here only means the quick path does not apply; the caller's
    // next step reports what goes wrong.
    DataBuffer utf16;
    if (!toUnicode(data, length, utf16, nullptr)) {
        return false;
    }
    return QuickConvert::fromUtf16(m_toCodePage, utf16.getData(), static_cast<int>(utf16.getSize()),
                                   out);
}

bool CharsetConvert::convert(const void* data, int length, DataBuffer& out, DiagnosticLog* log) {
    if (data == nullptr || length <= 0) {
        return true;
    }
    const int from = m_fromCodePage;
    const int to = m_toCodePage;
    if (from == to) {
        out.append(data, static_cast<uint32_t>(length));
        return true;
    }
    if (convertQuickly(data, length, false, out)) {
        return true;
    }
    if (to == kUtf8 && CharsetHelp::hasByteTable(from)) {
        return CharsetHelp::singleByteToUtf8(from, data, length, out);
    }

    int source = from;
    const auto* input = static_cast<const unsigned char*>(data);
    DataBuffer macArabicText;
    if (from == kMacArabic) {
        CharsetHelp::macArabicToUtf16(data, length, macArabicText);
        if (to == kUtf16) {
            out.append(macArabicText.getData(), macArabicText.getSize());
            return true;
        }
        source = kUtf16;
        input = macArabicText.getData();
        length = static_cast<int>(macArabicText.getSize());
    }
    if (source == kUtf8 && startsWithUtf8Mark(input, length)) {
        input += 3;
        length -= 3;
    }
    if (m_multiLang == nullptr) {
        return reportMissingService(log);
    }
    return m_multiLang->convertData(source, to, input, length, out, log);
}

bool CharsetConvert::toUnicode(const void* data, int length, DataBuffer& out, DiagnosticLog* log) {
    if (data == nullptr || length <= 0) {
        return true;
    }
    const int from = m_fromCodePage;
    if (CharsetHelp::hasByteTable(from)) {
        return CharsetHelp::singleByteToUtf16(from, data, length, out);
    }
    if (from == kUtf8) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        if (startsWithUtf8Mark(bytes, length)) {
            bytes += 3;
            length -= 3;
        }
        return MultiLangImpl::utf8ToUtf16(bytes, length, out);
    }
    if (from == kUtf16) {
        out.append(data, static_cast<uint32_t>(length));
        return true;
    }
    if (m_multiLang == nullptr) {
        return reportMissingService(log);
    }
    return m_multiLang->codePageToUnicode(from, data, length, out, log);
}

bool CharsetConvert::fromUnicode(const void* data, int length, DataBuffer& out,
                                 DiagnosticLog* log) {
    if (convertQuickly(data, length, true, out)) {
        return true;
    }
    if (data == nullptr || length <= 0) {
        return true;
    }
    if (m_toCodePage == kUtf16) {
        out.append(data, static_cast<uint32_t>(length));
        return true;
    }
    if (m_multiLang == nullptr) {
        return reportMissingService(log);
    }
    return m_multiLang->unicodeToCodePage(m_toCodePage, data, length, out, log);
}
