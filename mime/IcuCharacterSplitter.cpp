#include "IcuCharacterSplitter.h"

#include <unicode/ucnv.h>
#include <unicode/utf16.h>

#include <cstring>
#include <memory>
#include <strings.h>

namespace {

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterHandle = std::unique_ptr<UConverter, ConverterCloser>;

bool isUtf8Name(const char* charset) {
    return strcasecmp(charset, "utf-8") == 0 || strcasecmp(charset, "utf8") == 0;
}

bool isStateful(UConverter* converter) {
    switch (ucnv_getType(converter)) {
    case UCNV_ISO_2022:
    case UCNV_HZ:
    case UCNV_EBCDIC_STATEFUL:
    case UCNV_UTF7:
    case UCNV_IMAP_MAILBOX:
    case UCNV_SCSU:
    case UCNV_BOCU1:
        return true;
    default:
        return false;
    }
}

// Greedy packing of character units (byte ranges of the original text).
std::vector<std::string> packUnits(const unsigned char* bytes, const std::vector<int>& unitEnds,
                                   const std::function<bool(const std::string&)>& fits) {
    std::vector<std::string> pieces;
    std::string piece;
    int unitStart = 0;
    for (int unitEnd : unitEnds) {
        std::string candidate = piece;
        candidate.append(reinterpret_cast<const char*>(bytes) + unitStart,
                         static_cast<size_t>(unitEnd - unitStart));
        if (!piece.empty() && !fits(candidate)) {
            pieces.push_back(piece);
            piece.assign(reinterpret_cast<const char*>(bytes) + unitStart,
                         static_cast<size_t>(unitEnd - unitStart));
        } else {
            piece = std::move(candidate);
        }
        unitStart = unitEnd;
    }
    if (!piece.empty()) {
        pieces.push_back(piece);
    }
    return pieces;
}

std::vector<int> byteUnits(int count) {
    std::vector<int> ends;
    ends.reserve(static_cast<size_t>(count));
    for (int i = 1; i <= count; ++i) {
        ends.push_back(i);
    }
    return ends;
}

std::vector<int> utf8Units(const unsigned char* bytes, int count) {
    std::vector<int> ends;
    for (int i = 1; i < count; ++i) {
        if ((bytes[i] & 0xC0) != 0x80) {
            ends.push_back(i);
        }
    }
    ends.push_back(count);
    return ends;
}

// Character ends as ICU reads them; a byte ICU cannot take is a unit of its own.
std::vector<int> icuUnits(UConverter* converter, const unsigned char* bytes, int count) {
    std::vector<int> ends;
    const char* begin = reinterpret_cast<const char*>(bytes);
    const char* source = begin;
    const char* limit = begin + count;
    ucnv_reset(converter);
    while (source < limit) {
        const char* before = source;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_getNextUChar(converter, &source, limit, &status);
        if (U_FAILURE(status) && status != U_TRUNCATED_CHAR_FOUND) {
            ucnv_reset(converter);
        }
        if (status == U_TRUNCATED_CHAR_FOUND || source > limit) {
            source = limit;
        } else if (source <= before) {
            source = before + 1;
        }
        ends.push_back(static_cast<int>(source - begin));
    }
    return ends;
}

std::string encodeAlone(UConverter* converter, const UChar* text, int length) {
    ucnv_reset(converter);
    UErrorCode status = U_ZERO_ERROR;
    const int needed = ucnv_fromUChars(converter, nullptr, 0, text, length, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
        return std::string();
    }
    std::string bytes(static_cast<size_t>(needed) + 1, '\0');
    status = U_ZERO_ERROR;
    ucnv_reset(converter);
    ucnv_fromUChars(converter, bytes.data(), needed + 1, text, length, &status);
    bytes.resize(static_cast<size_t>(needed));
    return bytes;
}

// Stateful charsets: decode once, then re-encode each run of characters on
// its own, so that every piece carries its own shift sequences.
std::vector<std::string> splitStateful(UConverter* converter, const unsigned char* bytes, int count,
                                       const std::function<bool(const std::string&)>& fits) {
    UErrorCode status = U_ZERO_ERROR;
    ucnv_reset(converter);
    const int wideLength =
        ucnv_toUChars(converter, nullptr, 0, reinterpret_cast<const char*>(bytes), count, &status);
    std::vector<UChar> wide(static_cast<size_t>(wideLength) + 1);
    status = U_ZERO_ERROR;
    ucnv_reset(converter);
    ucnv_toUChars(converter, wide.data(), wideLength + 1, reinterpret_cast<const char*>(bytes),
                  count, &status);
    if (U_FAILURE(status)) {
        return packUnits(bytes, byteUnits(count), fits);
    }

    std::vector<std::string> pieces;
    int pieceStart = 0;
    int pieceEnd = 0;
    std::string piece;
    while (pieceEnd < wideLength) {
        int next = pieceEnd;
        U16_FWD_1(wide.data(), next, wideLength);
        std::string candidate = encodeAlone(converter, wide.data() + pieceStart, next - pieceStart);
        if (pieceEnd > pieceStart && !fits(candidate)) {
            pieces.push_back(piece);
            pieceStart = pieceEnd;
            continue;
        }
        piece = std::move(candidate);
        pieceEnd = next;
    }
    if (pieceEnd > pieceStart) {
        pieces.push_back(piece);
    }
    return pieces;
}

} // namespace

std::vector<std::string> splitWholeCharacters(const unsigned char* bytes, int count,
                                              const char* charset,
                                              const std::function<bool(const std::string&)>& fits) {
    if (bytes == nullptr || count <= 0) {
        return {};
    }
    if (charset == nullptr) {
        return packUnits(bytes, byteUnits(count), fits);
    }
    if (isUtf8Name(charset)) {
        return packUnits(bytes, utf8Units(bytes, count), fits);
    }
    UErrorCode status = U_ZERO_ERROR;
    ConverterHandle converter(ucnv_open(charset, &status));
    if (U_FAILURE(status) || !converter) {
        return packUnits(bytes, byteUnits(count), fits);
    }
    if (ucnv_getMaxCharSize(converter.get()) == 1) {
        return packUnits(bytes, byteUnits(count), fits);
    }
    if (isStateful(converter.get())) {
        return splitStateful(converter.get(), bytes, count, fits);
    }
    return packUnits(bytes, icuUnits(converter.get(), bytes, count), fits);
}
