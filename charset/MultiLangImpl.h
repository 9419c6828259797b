#pragma once

#include "MultiLang.h"

#include <memory>

class IcuCharsetConverter;
class IcuService;

// The multi-language service over ICU. UTF-8, UTF-16 and ISO-8859-1 go
// through the plain code page functions; other pairs use a converter for
// the pair, cached for the next call. Inputs of 307,200 bytes or more, and
// pairs without a one-step converter, go through UTF-16 or UTF-8.
//
// Contract: as MultiLang. Small one-step conversions write into one static
// 150,000-byte block, so an object is used by one thread at a time, and two
// objects never convert at the same time.
class MultiLangImpl : public MultiLang {
public:
    explicit MultiLangImpl(std::unique_ptr<IcuService> service);
    ~MultiLangImpl() override;
    MultiLangImpl(const MultiLangImpl&) = delete;
    MultiLangImpl& operator=(const MultiLangImpl&) = delete;

    bool convertData(int fromCodePage, int toCodePage, const void* data, int length,
                     DataBuffer& out, DiagnosticLog* log) override;
    bool convertDataViaService(int fromCodePage, int toCodePage, const void* data, int length,
                               DataBuffer& out, DiagnosticLog* log) override;
    bool convertText(int fromCodePage, int toCodePage, StringBuffer& text,
                     DiagnosticLog* log) override;
    bool unicodeToCodePage(int toCodePage, const void* data, int length, DataBuffer& out,
                           DiagnosticLog* log) override;
    bool codePageToUnicode(int fromCodePage, const void* data, int length, DataBuffer& out,
                           DiagnosticLog* log) override;
    bool detectCodePage(const void* data, int length, int& codePage, DiagnosticLog* log) override;

    // The plain code page conversions, which need no service object. An
    // empty input succeeds at once; only platformFromUtf16 writes messages.
    static bool utf8ToUtf16(const void* data, int length, DataBuffer& out);
    static bool platformToUtf16(int codePage, const void* data, int length, DataBuffer& out);
    static bool utf16ToUtf8(const void* data, int length, DataBuffer& out);
    static bool platformFromUtf16(int codePage, const void* data, int length, DataBuffer& out,
                                  DiagnosticLog* log);

    // The cached converter and the pair it was last asked for.
    bool hasConverter() const { return m_converter != nullptr; }
    int converterFrom() const { return m_converterFrom; }
    int converterTo() const { return m_converterTo; }

    static constexpr int kOneStepLimit = 307200;
    static constexpr int kSharedBlockSize = 150000;

private:
    struct ServiceOutput;

    bool getConverter(int fromCodePage, int toCodePage, DiagnosticLog* log);
    std::unique_ptr<IcuCharsetConverter> createToUnicodeConverter(int fromCodePage,
                                                                  DiagnosticLog* log);
    std::unique_ptr<IcuCharsetConverter> createFromUnicodeConverter(int toCodePage,
                                                                    DiagnosticLog* log);
    bool convertWithService(int fromCodePage, int toCodePage, const unsigned char* data, int length,
                            ServiceOutput& result, DiagnosticLog* log);
    bool convertInOneStep(int fromCodePage, int toCodePage, const unsigned char* data, int length,
                          ServiceOutput& result, DiagnosticLog* log);
    bool convertInTwoSteps(int fromCodePage, int toCodePage, const unsigned char* data, int length,
                           ServiceOutput& result, DiagnosticLog* log);
    bool convertViaUtf8(int fromCodePage, int toCodePage, const void* data, int length,
                        DataBuffer& out, DiagnosticLog* log);
    bool convertViaPlatform(int fromCodePage, int toCodePage, const void* data, int length,
                            DataBuffer& out, DiagnosticLog* log);
    bool convertTextBytes(int fromCodePage, int toCodePage, const unsigned char* data, int length,
                          DataBuffer& out, DiagnosticLog* log);

    std::unique_ptr<IcuService> m_service;
    std::unique_ptr<IcuCharsetConverter> m_converter;
    int m_converterFrom = 28591;
    int m_converterTo = 28591;
};
