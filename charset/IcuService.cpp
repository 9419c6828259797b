#include "IcuService.h"

#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>

#include <algorithm>
#include <atomic>

namespace {

struct CodePageName {
    int codePage;
    const char* icuName;
};

// Code pages to ICU converters. Where ICU offers several converters for one
// name, the one that matches the platform's code page is named exactly.
// The Mac CJK pages use the converters of the encodings they are built on
// (their few Mac-only single bytes differ).
//
// Code pages of the name table that ICU cannot convert (they are left out,
// so creating a converter for them fails): 709 (ASMO 449+), 1361 (Johab),
// 10004 (Mac Arabic, read by the built-in table only), 10005 (Mac Hebrew),
// 10010 (Mac Romanian), 10021 (Mac Thai), 10079 (Mac Icelandic),
// 10082 (Mac Croatian), 20000 to 20005 (Taiwanese CNS, TCA, Eten, IBM 5550,
// TeleText, Wang), 20105 to 20108 (the IA5 variants), 20261 (T.61),
// 20269 (ISO 6937), 20423 (EBCDIC Greek), 20833 (EBCDIC Korean extended),
// 20880 (EBCDIC Cyrillic), 20905 (EBCDIC Turkish), 20924 (EBCDIC Latin-1
// with euro), 21027, 29001 (Europa) and 50000 (user-defined).
constexpr CodePageName kCodePageNames[] = {
    {37, "ibm-37_P100-1995"},
    {437, "ibm-437_P100-1995"},
    {500, "ibm-500_P100-1995"},
    {708, "ibm-1089_P100-1995"},
    {720, "ibm-720_P100-1997"},
    {737, "ibm-737_P100-1997"},
    {775, "ibm-775_P100-1996"},
    {850, "ibm-850_P100-1995"},
    {852, "ibm-852_P100-1995"},
    {855, "ibm-855_P100-1995"},
    {857, "ibm-857_P100-1995"},
    {858, "ibm-858_P100-1997"},
    {860, "ibm-860_P100-1995"},
    {861, "ibm-861_P100-1995"},
    {862, "ibm-862_P100-1995"},
    {863, "ibm-863_P100-1995"},
    {864, "ibm-864_X110-1999"},
    {865, "ibm-865_P100-1995"},
    {866, "ibm-866_P100-1995"},
    {869, "ibm-869_P100-1995"},
    {870, "ibm-870_P100-1995"},
    {874, "windows-874-2000"},
    {875, "ibm-875_P100-1995"},
    {932, "ibm-943_P15A-2003"},
    {936, "windows-936-2000"},
    {949, "windows-949-2000"},
    {950, "windows-950-2000"},
    {1026, "ibm-1026_P100-1995"},
    {1047, "ibm-1047_P100-1995"},
    {1140, "ibm-1140_P100-1997"},
    {1141, "ibm-1141_P100-1997"},
    {1142, "ibm-1142_P100-1997"},
    {1143, "ibm-1143_P100-1997"},
    {1144, "ibm-1144_P100-1997"},
    {1145, "ibm-1145_P100-1997"},
    {1146, "ibm-1146_P100-1997"},
    {1147, "ibm-1147_P100-1997"},
    {1148, "ibm-1148_P100-1997"},
    {1149, "ibm-1149_P100-1997"},
    {1200, "UTF-16LE"},
    {1201, "UTF-16BE"},
    {1250, "ibm-5346_P100-1998"},
    {1251, "ibm-5347_P100-1998"},
    {1252, "ibm-5348_P100-1997"},
    {1253, "ibm-5349_P100-1998"},
    {1254, "ibm-5350_P100-1998"},
    {1255, "ibm-9447_P100-2002"},
    {1256, "ibm-9448_X100-2005"},
    {1257, "ibm-9449_P100-2002"},
    {1258, "ibm-5354_P100-1998"},
    {10000, "macos-0_2-10.2"},
    {10001, "ibm-943_P15A-2003"},
    {10002, "windows-950-2000"},
    {10003, "ibm-970_P110_P110-2006_U2"},
    {10006, "macos-6_2-10.4"},
    {10007, "macos-7_3-10.2"},
    {10008, "ibm-1383_P110-1999"},
    {10017, "macos-7_3-10.2"},
    {10029, "macos-29-10.2"},
    {10081, "macos-35-10.2"},
    {20127, "US-ASCII"},
    {20273, "ibm-273_P100-1995"},
    {20277, "ibm-277_P100-1995"},
    {20278, "ibm-278_P100-1995"},
    {20280, "ibm-280_P100-1995"},
    {20284, "ibm-284_P100-1995"},
    {20285, "ibm-285_P100-1995"},
    {20290, "ibm-290_P100-1995"},
    {20297, "ibm-297_P100-1995"},
    {20420, "ibm-420_X120-1999"},
    {20424, "ibm-424_P100-1995"},
    {20838, "ibm-838_P100-1995"},
    {20866, "ibm-878_P100-1996"},
    {20871, "ibm-871_P100-1995"},
    {20936, "ibm-1383_P110-1999"},
    {20949, "ibm-970_P110_P110-2006_U2"},
    {21025, "ibm-1025_P100-1995"},
    {21866, "ibm-1168_P100-2002"},
    {28591, "ISO-8859-1"},
    {28592, "ibm-912_P100-1995"},
    {28593, "ibm-913_P100-2000"},
    {28594, "ibm-914_P100-1995"},
    {28595, "ibm-915_P100-1995"},
    {28596, "ibm-1089_P100-1995"},
    {28597, "ibm-9005_X110-2007"},
    {28598, "ibm-5012_P100-1999"},
    {28599, "ibm-920_P100-1995"},
    {28603, "ibm-921_P100-1995"},
    {28605, "ibm-923_P100-1998"},
    {38598, "ibm-5012_P100-1999"},
    {50220, "ISO_2022,locale=ja,version=0"},
    {50221, "ISO_2022,locale=ja,version=1"},
    {50222, "ISO_2022,locale=ja,version=2"},
    {50225, "ISO_2022,locale=ko,version=0"},
    {50227, "ISO_2022,locale=zh,version=0"},
    {50930, "ibm-930_P120-1999"},
    {50931, "ibm-939_P120-1999"},
    {50933, "ibm-933_P110-1995"},
    {50935, "ibm-935_P110-1999"},
    {50937, "ibm-937_P110-1999"},
    {50939, "ibm-939_P120-1999"},
    {51932, "euc-jp-2007"},
    {51936, "ibm-1383_P110-1999"},
    {51949, "ibm-970_P110_P110-2006_U2"},
    {51950, "euc-tw-2014"},
    {52936, "HZ"},
    {54936, "gb18030"},
    {57002, "ISCII,version=0"},
    {57003, "ISCII,version=1"},
    {57004, "ISCII,version=5"},
    {57005, "ISCII,version=6"},
    {57006, "ISCII,version=1"},
    {57007, "ISCII,version=4"},
    {57008, "ISCII,version=7"},
    {57009, "ISCII,version=8"},
    {57010, "ISCII,version=3"},
    {57011, "ISCII,version=2"},
    {65000, "UTF-7"},
    {65001, "UTF-8"},
};

std::atomic<bool> g_unavailableForTesting{false};

bool isUnicodeForm(int codePage) {
    return codePage == 1200 || codePage == 1201 || codePage == 65000 || codePage == 65001;
}

IcuResult resultOf(UErrorCode status) {
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        return IcuResult::Overflow;
    }
    return U_FAILURE(status) ? IcuResult::Failed : IcuResult::Ok;
}

} // namespace

const char* icuConverterName(int codePage) {
    const auto* end = std::end(kCodePageNames);
    const auto* hit = std::lower_bound(
        std::begin(kCodePageNames), end, codePage,
        [](const CodePageName& entry, int wanted) { return entry.codePage < wanted; });
    return (hit != end && hit->codePage == codePage) ? hit->icuName : nullptr;
}

IcuConverter::IcuConverter(int codePage) {
    const char* name = icuConverterName(codePage);
    if (name == nullptr) {
        return;
    }
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name, &status);
    if (U_FAILURE(status) || converter == nullptr) {
        return;
    }
    // No best fit: a character the target lacks becomes the substitute, which
    // is "?" as on the platform, except in the Unicode forms (U+FFFD).
    ucnv_setFallback(converter, false);
    if (!isUnicodeForm(codePage)) {
        UErrorCode ignored = U_ZERO_ERROR;
        ucnv_setSubstChars(converter, "?", 1, &ignored);
    }
    m_converter = converter;
}

IcuConverter::~IcuConverter() {
    if (m_converter != nullptr) {
        ucnv_close(m_converter);
    }
}

IcuCharsetConverter::IcuCharsetConverter(int fromCodePage, int toCodePage)
    : m_fromCodePage(fromCodePage), m_toCodePage(toCodePage), m_source(fromCodePage),
      m_target(toCodePage) {}

std::unique_ptr<IcuCharsetConverter> IcuCharsetConverter::create(int fromCodePage, int toCodePage) {
    std::unique_ptr<IcuCharsetConverter> converter(
        new IcuCharsetConverter(fromCodePage, toCodePage));
    if (!converter->m_source.isOpen() || !converter->m_target.isOpen()) {
        return nullptr;
    }
    return converter;
}

IcuResult IcuCharsetConverter::convert(const char* data, int length, char* out, int capacity,
                                       int& written) {
    written = 0;
    char* target = out;
    const char* source = data;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_convertEx(m_target.get(), m_source.get(), &target, out + capacity, &source, data + length,
                   nullptr, nullptr, nullptr, nullptr, true, true, &status);
    written = static_cast<int>(target - out);
    return resultOf(status);
}

IcuResult IcuCharsetConverter::toUnicode(const char* data, int length, char16_t* out, int capacity,
                                         int& written) {
    UErrorCode status = U_ZERO_ERROR;
    written = ucnv_toUChars(m_source.get(), out, capacity, data, length, &status);
    return resultOf(status);
}

IcuResult IcuCharsetConverter::fromUnicode(const char16_t* units, int count, char* out,
                                           int capacity, int& written) {
    UErrorCode status = U_ZERO_ERROR;
    written = ucnv_fromUChars(m_target.get(), out, capacity, units, count, &status);
    return resultOf(status);
}

int multiByteToWideChar(int codePage, const char* data, int length, char16_t* out, int capacity) {
    if (data == nullptr || length <= 0 || capacity < 0) {
        return 0;
    }
    IcuConverter converter(codePage);
    if (!converter.isOpen()) {
        return 0;
    }
    UErrorCode status = U_ZERO_ERROR;
    const int units = ucnv_toUChars(converter.get(), capacity > 0 ? out : nullptr, capacity, data,
                                    length, &status);
    if (capacity == 0 && status == U_BUFFER_OVERFLOW_ERROR) {
        return units;
    }
    return U_FAILURE(status) ? 0 : units;
}

int wideCharToMultiByte(int codePage, const char16_t* units, int count, char* out, int capacity) {
    if (units == nullptr || count <= 0 || capacity < 0) {
        return 0;
    }
    IcuConverter converter(codePage);
    if (!converter.isOpen()) {
        return 0;
    }
    UErrorCode status = U_ZERO_ERROR;
    const int bytes = ucnv_fromUChars(converter.get(), capacity > 0 ? out : nullptr, capacity,
                                      units, count, &status);
    if (capacity == 0 && status == U_BUFFER_OVERFLOW_ERROR) {
        return bytes;
    }
    return U_FAILURE(status) ? 0 : bytes;
}

std::unique_ptr<IcuService> IcuService::create() {
    if (g_unavailableForTesting.load()) {
        return nullptr;
    }
    // ICU is usable when its data is there: the UTF-8 converter and the
    // detector must open.
    IcuConverter probe(65001);
    if (!probe.isOpen()) {
        return nullptr;
    }
    UErrorCode status = U_ZERO_ERROR;
    UCharsetDetector* detector = ucsdet_open(&status);
    if (U_FAILURE(status) || detector == nullptr) {
        return nullptr;
    }
    std::unique_ptr<IcuService> service(new IcuService());
    service->m_detector = detector;
    return service;
}

IcuService::~IcuService() {
    if (m_detector != nullptr) {
        ucsdet_close(m_detector);
    }
}

int IcuService::detect(const char* data, int length, int maxMatches,
                       std::vector<DetectedCharset>& out) {
    UErrorCode status = U_ZERO_ERROR;
    ucsdet_setText(m_detector, data, length, &status);
    int32_t count = 0;
    const UCharsetMatch** matches = nullptr;
    if (U_SUCCESS(status)) {
        matches = ucsdet_detectAll(m_detector, &count, &status);
    }
    if (U_FAILURE(status)) {
        return status;
    }
    for (int32_t i = 0; i < count && i < maxMatches; ++i) {
        UErrorCode matchStatus = U_ZERO_ERROR;
        const char* name = ucsdet_getName(matches[i], &matchStatus);
        const int confidence = ucsdet_getConfidence(matches[i], &matchStatus);
        if (U_SUCCESS(matchStatus) && name != nullptr) {
            out.push_back(DetectedCharset{name, confidence});
        }
    }
    return status;
}

void IcuService::setUnavailableForTesting(bool unavailable) {
    g_unavailableForTesting.store(unavailable);
}
