#include "MultiLangImpl.h"

#include "CharsetNames.h"
#include "IcuService.h"
#include "foundation/DataBuffer.h"
#include "foundation/DiagnosticLog.h"
#include "foundation/StringBuffer.h"

#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr int kMaxDetectedCharsets = 100;
// ICU reports when the room sized up front is too small (an ISO-2022 target
// can write an escape sequence around every character); the conversion is
// then repeated into a larger block, a bounded number of times.
constexpr int kMaxGrowthAttempts = 8;

// Small one-step conversions write here, so that they allocate nothing.
unsigned char s_sharedOutput[MultiLangImpl::kSharedBlockSize];

struct Input {
    const unsigned char* bytes;
    int length;
};

Input inputOf(const void* data, int length) {
    if (data == nullptr || length <= 0) {
        return Input{nullptr, 0};
    }
    return Input{static_cast<const unsigned char*>(data), length};
}

void logError(DiagnosticLog* log, const char* text) {
    if (log != nullptr) {
        log->logError(text);
    }
}

void logDataInt(DiagnosticLog* log, const char* name, int value) {
    if (log != nullptr) {
        log->logDataInt(name, value);
    }
}

void logErrorWithNumber(DiagnosticLog* log, const char* text, int number, const char* tail) {
    if (log == nullptr) {
        return;
    }
    StringBuffer message(text);
    message.appendInt(number);
    message.append(tail);
    log->logError(message.getString());
}

// UTF-16 little-endian byte pairs into units; an odd last byte is ignored.
std::vector<char16_t> unitsFromBytes(const unsigned char* bytes, int length) {
    const int count = length / 2;
    std::vector<char16_t> units(static_cast<size_t>(count));
    if constexpr (std::endian::native == std::endian::little) {
        if (count > 0) {
            std::memcpy(units.data(), bytes, static_cast<size_t>(count) * 2);
        }
    } else {
        for (int i = 0; i < count; ++i) {
            units[static_cast<size_t>(i)] =
                static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        }
    }
    return units;
}

void appendUnits(DataBuffer& out, const char16_t* units, int count) {
    if (count <= 0) {
        return;
    }
    if constexpr (std::endian::native == std::endian::little) {
        out.append(units, static_cast<uint32_t>(count) * 2);
    } else {
        std::vector<unsigned char> bytes(static_cast<size_t>(count) * 2);
        for (int i = 0; i < count; ++i) {
            bytes[static_cast<size_t>(2 * i)] = static_cast<unsigned char>(units[i] & 0xFF);
            bytes[static_cast<size_t>(2 * i + 1)] = static_cast<unsigned char>(units[i] >> 8);
        }
        out.append(bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
}

// The room for an output of `perInput` items per input item, at least 1.
size_t roomFor(int length, int perInput) {
    const size_t room = static_cast<size_t>(length) * static_cast<size_t>(perInput);
    return room > 0 ? room : 1;
}

// The next, larger room after an overflow: what ICU said it needs, else
// twice as much.
size_t grownRoom(size_t room, int needed) {
    if (needed > 0 && static_cast<size_t>(needed) > room) {
        return static_cast<size_t>(needed);
    }
    return room * 2;
}

bool fitsInt(size_t room) {
    return room <= static_cast<size_t>(INT32_MAX);
}

// Runs a conversion into a block of `room` items, growing the block while
// ICU reports an overflow. The block holds the output on success.
template <typename Item, typename Convert>
bool convertGrowing(std::vector<Item>& block, size_t room, int& written, Convert convert) {
    for (int attempt = 0; attempt < kMaxGrowthAttempts && fitsInt(room); ++attempt) {
        block.resize(room);
        const IcuResult result = convert(block.data(), static_cast<int>(room), written);
        if (result == IcuResult::Ok) {
            return true;
        }
        if (result == IcuResult::Failed) {
            return false;
        }
        room = grownRoom(room, written);
    }
    return false;
}

bool isByteOrderMark(const unsigned char* bytes, int length) {
    return length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
}

// UTF-8 to the Japanese code page: the no-break space becomes a plain space,
// which the target can hold.
std::vector<unsigned char> withPlainSpaces(const unsigned char* bytes, int length) {
    std::vector<unsigned char> copy;
    copy.reserve(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) {
        if (bytes[i] == 0xC2 && i + 1 < length && bytes[i + 1] == 0xA0) {
            copy.push_back(0x20);
            ++i;
        } else {
            copy.push_back(bytes[i]);
        }
    }
    return copy;
}

const char* asChars(const unsigned char* bytes) {
    return reinterpret_cast<const char*>(bytes);
}

} // namespace

// The converted bytes of convertWithService: in the shared block or in a
// block of their own.
struct MultiLangImpl::ServiceOutput {
    const unsigned char* bytes = nullptr;
    int count = 0;
    std::vector<unsigned char> owned;

    void appendTo(DataBuffer& out) const {
        if (count > 0) {
            out.append(bytes, static_cast<uint32_t>(count));
        }
    }
};

MultiLang* createMultiLang(DiagnosticLog* log) {
    std::unique_ptr<IcuService> service = IcuService::create();
    if (service == nullptr) {
        logError(log, "Failed to create multi-language object.");
        return nullptr;
    }
    return new MultiLangImpl(std::move(service));
}

MultiLangImpl::MultiLangImpl(std::unique_ptr<IcuService> service) : m_service(std::move(service)) {}

MultiLangImpl::~MultiLangImpl() = default;

bool MultiLangImpl::utf8ToUtf16(const void* data, int length, DataBuffer& out) {
    return platformToUtf16(65001, data, length, out);
}

bool MultiLangImpl::platformToUtf16(int codePage, const void* data, int length, DataBuffer& out) {
    const Input input = inputOf(data, length);
    if (input.length == 0) {
        return true;
    }
    const char* bytes = asChars(input.bytes);
    const int needed = multiByteToWideChar(codePage, bytes, input.length, nullptr, 0);
    if (needed == 0) {
        return false;
    }
    std::vector<char16_t> units(static_cast<size_t>(needed));
    const int written = multiByteToWideChar(codePage, bytes, input.length, units.data(), needed);
    if (written == 0) {
        return false;
    }
    appendUnits(out, units.data(), written);
    return true;
}

bool MultiLangImpl::utf16ToUtf8(const void* data, int length, DataBuffer& out) {
    return platformFromUtf16(65001, data, length, out, nullptr);
}

bool MultiLangImpl::platformFromUtf16(int codePage, const void* data, int length, DataBuffer& out,
                                      DiagnosticLog* log) {
    const Input input = inputOf(data, length);
    if (input.length == 0) {
        return true;
    }
    // A single byte holds no UTF-16 unit: the platform counts nothing and that
    // is a failure, not an empty success.
    const std::vector<char16_t> units = unitsFromBytes(input.bytes, input.length);
    const int count = static_cast<int>(units.size());
    const int needed =
        count == 0 ? 0 : wideCharToMultiByte(codePage, units.data(), count, nullptr, 0);
    if (needed == 0) {
        logErrorWithNumber(log, "Failed to convert from Unicode to code page ", codePage, "");
        return false;
    }
    std::vector<char> bytes(static_cast<size_t>(needed));
    const int written = wideCharToMultiByte(codePage, units.data(), count, bytes.data(), needed);
    if (written == 0) {
        logErrorWithNumber(log, "Failed to convert from Unicode (ucs-2) to code page ", codePage,
                           "");
        return false;
    }
    out.append(bytes.data(), static_cast<uint32_t>(written));
    return true;
}

bool MultiLangImpl::getConverter(int fromCodePage, int toCodePage, DiagnosticLog* log) {
    if (m_converter != nullptr && m_converterFrom == fromCodePage && m_converterTo == toCodePage) {
        return true;
    }
    m_converter.reset();
    m_converter = IcuCharsetConverter::create(fromCodePage, toCodePage);
    m_converterFrom = fromCodePage;
    m_converterTo = toCodePage;
    if (m_converter == nullptr) {
        logError(log, "Failed to create charset converter");
        logDataInt(log, "fromCodePage", fromCodePage);
        logDataInt(log, "toCodePage", toCodePage);
        return false;
    }
    return true;
}

std::unique_ptr<IcuCharsetConverter> MultiLangImpl::createToUnicodeConverter(int fromCodePage,
                                                                             DiagnosticLog* log) {
    std::unique_ptr<IcuCharsetConverter> converter =
        IcuCharsetConverter::create(fromCodePage, 1200);
    if (converter == nullptr) {
        logError(log, "Failed to create Unicode charset converter");
        logDataInt(log, "fromCodePage", fromCodePage);
    }
    return converter;
}

std::unique_ptr<IcuCharsetConverter> MultiLangImpl::createFromUnicodeConverter(int toCodePage,
                                                                               DiagnosticLog* log) {
    std::unique_ptr<IcuCharsetConverter> converter = IcuCharsetConverter::create(1200, toCodePage);
    if (converter == nullptr) {
        logError(log, "Failed to create Unicode charset converter");
        logDataInt(log, "toCodePage", toCodePage);
    }
    return converter;
}

bool MultiLangImpl::convertWithService(int fromCodePage, int toCodePage, const unsigned char* data,
                                       int length, ServiceOutput& result, DiagnosticLog* log) {
    std::vector<unsigned char> spaced;
    if (fromCodePage == 65001 && toCodePage == 932) {
        spaced = withPlainSpaces(data, length);
        data = spaced.data();
        length = static_cast<int>(spaced.size());
    }
    if (getConverter(fromCodePage, toCodePage, nullptr) && length < kOneStepLimit) {
        return convertInOneStep(fromCodePage, toCodePage, data, length, result, log);
    }
    return convertInTwoSteps(fromCodePage, toCodePage, data, length, result, log);
}

bool MultiLangImpl::convertInOneStep(int fromCodePage, int toCodePage, const unsigned char* data,
                                     int length, ServiceOutput& result, DiagnosticLog* log) {
    const size_t room = roomFor(length, 3);
    int written = 0;
    IcuResult outcome = IcuResult::Overflow;
    if (room < static_cast<size_t>(kSharedBlockSize)) {
        outcome =
            m_converter->convert(asChars(data), length, reinterpret_cast<char*>(s_sharedOutput),
                                 kSharedBlockSize, written);
        if (outcome == IcuResult::Ok) {
            result.bytes = s_sharedOutput;
            result.count = written;
            return true;
        }
    }
    if (outcome == IcuResult::Overflow) {
        const size_t firstRoom = room < static_cast<size_t>(kSharedBlockSize)
                                     ? static_cast<size_t>(kSharedBlockSize) * 2
                                     : room;
        const bool converted = convertGrowing(
            result.owned, firstRoom, written, [&](unsigned char* block, int size, int& count) {
                return m_converter->convert(asChars(data), length, reinterpret_cast<char*>(block),
                                            size, count);
            });
        if (converted) {
            result.bytes = result.owned.data();
            result.count = written;
            return true;
        }
    }
    logError(log, "1-Step charset conversion failed");
    logDataInt(log, "fromCodePage", fromCodePage);
    logDataInt(log, "toCodePage", toCodePage);
    return false;
}

bool MultiLangImpl::convertInTwoSteps(int fromCodePage, int toCodePage, const unsigned char* data,
                                      int length, ServiceOutput& result, DiagnosticLog* log) {
    std::unique_ptr<IcuCharsetConverter> first;
    if (fromCodePage != 65001) {
        first = createToUnicodeConverter(fromCodePage, log);
        if (first == nullptr) {
            logError(log, "Failed to create Unicode coverter #1");
            return false;
        }
    }
    std::unique_ptr<IcuCharsetConverter> second = createFromUnicodeConverter(toCodePage, log);
    if (second == nullptr) {
        logError(log, "Failed to create Unicode coverter #2");
        return false;
    }

    std::vector<char16_t> units;
    int unitCount = 0;
    if (first != nullptr) {
        const bool converted = convertGrowing(
            units, roomFor(length, 2), unitCount, [&](char16_t* block, int size, int& count) {
                return first->toUnicode(asChars(data), length, block, size, count);
            });
        if (!converted) {
            logError(log, "Failed to convert to Unicode (1st step in 2-step conversion)");
            logDataInt(log, "fromCodePage", fromCodePage);
            return false;
        }
    } else {
        DataBuffer utf16;
        if (!utf8ToUtf16(data, length, utf16)) {
            logError(log, "Failed to convert utf-8 to Unicode ");
            logDataInt(log, "fromCodePage", fromCodePage);
            return false;
        }
        units = unitsFromBytes(utf16.getData(), static_cast<int>(utf16.getSize()));
        unitCount = static_cast<int>(units.size());
    }

    int written = 0;
    const bool converted =
        convertGrowing(result.owned, roomFor(unitCount, 3), written,
                       [&](unsigned char* block, int size, int& count) {
                           return second->fromUnicode(units.data(), unitCount,
                                                      reinterpret_cast<char*>(block), size, count);
                       });
    if (!converted) {
        logError(log, "Failed to convert from Unicode (2nd step in 2-step conversion)");
        logDataInt(log, "toCodePage", toCodePage);
        return false;
    }
    result.bytes = result.owned.data();
    result.count = written;
    return true;
}

bool MultiLangImpl::convertViaPlatform(int fromCodePage, int toCodePage, const void* data,
                                       int length, DataBuffer& out, DiagnosticLog* log) {
    DataBuffer utf16;
    if (!platformToUtf16(fromCodePage, data, length, utf16)) {
        return false;
    }
    return platformFromUtf16(toCodePage, utf16.getData(), static_cast<int>(utf16.getSize()), out,
                             log);
}

bool MultiLangImpl::convertViaUtf8(int fromCodePage, int toCodePage, const void* data, int length,
                                   DataBuffer& out, DiagnosticLog* log) {
    DataBuffer utf8;
    if (!convertData(fromCodePage, 65001, data, length, utf8, log)) {
        logErrorWithNumber(log, "Failed to get converter for converting from ", fromCodePage,
                           " to utf-8");
        return false;
    }
    return convertData(65001, toCodePage, utf8.getData(), static_cast<int>(utf8.getSize()), out,
                       log);
}

bool MultiLangImpl::convertData(int fromCodePage, int toCodePage, const void* data, int length,
                                DataBuffer& out, DiagnosticLog* log) {
    const Input input = inputOf(data, length);
    try {
        if (fromCodePage == toCodePage) {
            out.append(input.bytes, static_cast<uint32_t>(input.length));
            return true;
        }
        if (toCodePage == 1200) {
            return codePageToUnicode(fromCodePage, input.bytes, input.length, out, log);
        }
        if (fromCodePage == 1200) {
            return unicodeToCodePage(toCodePage, input.bytes, input.length, out, log);
        }
        const bool haveConverter = getConverter(fromCodePage, toCodePage, nullptr);
        if (!haveConverter && fromCodePage != 65001 && toCodePage != 65001) {
            return convertViaUtf8(fromCodePage, toCodePage, input.bytes, input.length, out, log);
        }
        if (!haveConverter || input.length >= kOneStepLimit) {
            return convertViaPlatform(fromCodePage, toCodePage, input.bytes, input.length, out,
                                      log);
        }
        ServiceOutput result;
        if (!convertWithService(fromCodePage, toCodePage, input.bytes, input.length, result, log)) {
            return false;
        }
        result.appendTo(out);
        return true;
    } catch (...) {
        logError(log, "Character conversion failed (2)");
        return false;
    }
}

bool MultiLangImpl::convertDataViaService(int fromCodePage, int toCodePage, const void* data,
                                          int length, DataBuffer& out, DiagnosticLog* log) {
    const Input input = inputOf(data, length);
    try {
        if (fromCodePage == toCodePage) {
            out.append(input.bytes, static_cast<uint32_t>(input.length));
            return true;
        }
        getConverter(fromCodePage, toCodePage, nullptr);
        ServiceOutput result;
        if (!convertWithService(fromCodePage, toCodePage, input.bytes, input.length, result, log)) {
            return false;
        }
        out.ensureCapacity(out.getSize() + static_cast<uint32_t>(result.count));
        result.appendTo(out);
        return true;
    } catch (...) {
        logError(log, "Character conversion failed (22)");
        return false;
    }
}

bool MultiLangImpl::convertTextBytes(int fromCodePage, int toCodePage, const unsigned char* data,
                                     int length, DataBuffer& out, DiagnosticLog* log) {
    try {
        if (!getConverter(fromCodePage, toCodePage, nullptr) || length >= kOneStepLimit) {
            return convertViaPlatform(fromCodePage, toCodePage, data, length, out, log);
        }
        ServiceOutput result;
        if (!convertWithService(fromCodePage, toCodePage, data, length, result, log)) {
            return false;
        }
        result.appendTo(out);
        return true;
    } catch (...) {
        logError(log, "Character conversion failed (1)");
        return false;
    }
}

bool MultiLangImpl::convertText(int fromCodePage, int toCodePage, StringBuffer& text,
                                DiagnosticLog* log) {
    if (fromCodePage == toCodePage) {
        return true;
    }
    const auto* data = reinterpret_cast<const unsigned char*>(text.getString());
    const int length = text.getSize();
    DataBuffer converted;
    bool ok = false;
    if (fromCodePage == 1200 || toCodePage == 1200) {
        ok = fromCodePage == 1200 ? unicodeToCodePage(toCodePage, data, length, converted, log)
                                  : codePageToUnicode(fromCodePage, data, length, converted, log);
        if (!ok) {
            return false;
        }
    } else {
        ok = convertTextBytes(fromCodePage, toCodePage, data, length, converted, log);
        if (!ok) {
            if (log != nullptr) {
                log->logInfo("charset convert NOT successful");
            }
            return false;
        }
    }
    try {
        text.clear();
        text.appendBytes(converted.getData(), static_cast<int>(converted.getSize()));
    } catch (...) {
        logError(log, "Character conversion failed (1)");
        return false;
    }
    return true;
}

bool MultiLangImpl::unicodeToCodePage(int toCodePage, const void* data, int length, DataBuffer& out,
                                      DiagnosticLog* log) {
    Input input = inputOf(data, length);
    try {
        if (toCodePage == 1200) {
            out.append(input.bytes, static_cast<uint32_t>(input.length));
            return true;
        }
        if (toCodePage == 65001) {
            return utf16ToUtf8(input.bytes, input.length, out);
        }
        if (toCodePage == 28591) {
            return platformFromUtf16(28591, input.bytes, input.length, out, log);
        }
        if (isByteOrderMark(input.bytes, input.length)) {
            input.bytes += 2;
            input.length -= 2;
        }
        std::unique_ptr<IcuCharsetConverter> converter =
            createFromUnicodeConverter(toCodePage, log);
        if (converter == nullptr) {
            logError(log, "Failed to create Unicode coverter");
            return false;
        }
        const std::vector<char16_t> units = unitsFromBytes(input.bytes, input.length);
        std::vector<unsigned char> block;
        int written = 0;
        const bool converted = convertGrowing(block, roomFor(input.length, 2), written,
                                              [&](unsigned char* room, int size, int& count) {
                                                  return converter->fromUnicode(
                                                      units.data(), static_cast<int>(units.size()),
                                                      reinterpret_cast<char*>(room), size, count);
                                              });
        if (!converted) {
            logError(log, "Failed to convert from Unicode");
            logDataInt(log, "toCodePage", toCodePage);
            return false;
        }
        out.append(block.data(), static_cast<uint32_t>(written));
        return true;
    } catch (...) {
        logError(log, "Character conversion from Unicode failed");
        return false;
    }
}

bool MultiLangImpl::codePageToUnicode(int fromCodePage, const void* data, int length,
                                      DataBuffer& out, DiagnosticLog* log) {
    const Input input = inputOf(data, length);
    try {
        if (fromCodePage == 1200) {
            out.append(input.bytes, static_cast<uint32_t>(input.length));
            return true;
        }
        if (fromCodePage == 65001) {
            return utf8ToUtf16(input.bytes, input.length, out);
        }
        if (fromCodePage == 28591) {
            return platformToUtf16(28591, input.bytes, input.length, out);
        }
        std::unique_ptr<IcuCharsetConverter> converter =
            createToUnicodeConverter(fromCodePage, log);
        if (converter == nullptr) {
            logError(log, "Failed to create Unicode coverter");
            return false;
        }
        std::vector<char16_t> units;
        int written = 0;
        const bool converted = convertGrowing(
            units, roomFor(input.length, 2), written, [&](char16_t* room, int size, int& count) {
                return converter->toUnicode(asChars(input.bytes), input.length, room, size, count);
            });
        if (!converted) {
            logError(log, "Failed to convert to Unicode");
            logDataInt(log, "fromCodePage", fromCodePage);
            return false;
        }
        appendUnits(out, units.data(), written);
        return true;
    } catch (...) {
        logError(log, "Character conversion to Unicode failed");
        return false;
    }
}

bool MultiLangImpl::detectCodePage(const void* data, int length, int& codePage,
                                   DiagnosticLog* log) {
    if (m_service == nullptr) {
        return false;
    }
    const Input input = inputOf(data, length);
    std::vector<DetectedCharset> guesses;
    const int status =
        m_service->detect(asChars(input.bytes), input.length, kMaxDetectedCharsets, guesses);
    if (status > 0) {
        if (log != nullptr) {
            StringBuffer statusDump;
            statusDump.appendHexDump(&status, 4);
            log->logData("HRESULT", statusDump.getString());
            StringBuffer dataDump;
            dataDump.appendHexDump(input.bytes, input.length);
            log->logData("data", dataDump.getString());
            log->logDataInt("dataLen", length);
        }
        logError(log, "DetectInputCodepage failed");
        return false;
    }

    // A guess counts only when its name is one of the platform's code pages.
    std::vector<std::pair<int, int>> scores; // confidence, code page
    for (const DetectedCharset& guess : guesses) {
        StringBuffer name(guess.name.c_str());
        normalizeCharsetName(name);
        const int guessed = lookupCodePage(name.getString());
        if (guessed != 0) {
            scores.emplace_back(guess.confidence, guessed);
        }
    }
    if (scores.empty()) {
        logError(log, "Number of detected code pages is zero");
        return false;
    }

    logDataInt(log, "num_scores", static_cast<int>(scores.size()));
    size_t best = 0;
    for (size_t i = 0; i < scores.size(); ++i) {
        logDataInt(log, "score", scores[i].first);
        logDataInt(log, "code_page", scores[i].second);
        if (scores[i].first > scores[best].first) {
            best = i;
        }
    }
    logDataInt(log, "returning_codepage", scores[best].second);
    codePage = scores[best].second;
    return true;
}
