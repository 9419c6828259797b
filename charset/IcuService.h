#pragma once

#include <memory>
#include <string>
#include <vector>

struct UConverter;
struct UCharsetDetector;

// The thin layer over ICU: converter names for code pages, converter
// handles, the plain code page functions and the charset detector.

// The ICU converter name for a code page, or null when ICU cannot convert it.
const char* icuConverterName(int codePage);

// One open ICU converter for a code page, closed with the object. Characters
// that a target cannot hold become "?" (or U+FFFD for the Unicode forms);
// best-fit fallbacks are switched off.
class IcuConverter {
public:
    explicit IcuConverter(int codePage);
    ~IcuConverter();
    IcuConverter(const IcuConverter&) = delete;
    IcuConverter& operator=(const IcuConverter&) = delete;

    bool isOpen() const { return m_converter != nullptr; }
    UConverter* get() const { return m_converter; }

private:
    UConverter* m_converter = nullptr;
};

// The outcome of one block conversion. On Overflow, `needed` (when not 0)
// is the size the output would take.
enum class IcuResult { Ok, Overflow, Failed };

// A converter for one pair of code pages: both sides open, or none.
class IcuCharsetConverter {
public:
    // Null when ICU has no converter for one of the two code pages.
    static std::unique_ptr<IcuCharsetConverter> create(int fromCodePage, int toCodePage);

    // Source bytes to target bytes in one pass.
    IcuResult convert(const char* data, int length, char* out, int capacity, int& written);
    // Source bytes to UTF-16 units.
    IcuResult toUnicode(const char* data, int length, char16_t* out, int capacity, int& written);
    // UTF-16 units to target bytes.
    IcuResult fromUnicode(const char16_t* units, int count, char* out, int capacity, int& written);

    int fromCodePage() const { return m_fromCodePage; }
    int toCodePage() const { return m_toCodePage; }

private:
    IcuCharsetConverter(int fromCodePage, int toCodePage);

    int m_fromCodePage;
    int m_toCodePage;
    IcuConverter m_source;
    IcuConverter m_target;
};

// The plain code page functions. With no output (capacity 0) they give the
// number of units or bytes the result needs; otherwise they convert. 0 means
// failure (an unknown code page, an empty input, or too little room). Bad
// input becomes U+FFFD (or "?" in a code page that has no U+FFFD).
int multiByteToWideChar(int codePage, const char* data, int length, char16_t* out, int capacity);
int wideCharToMultiByte(int codePage, const char16_t* units, int count, char* out, int capacity);

// One guess of the charset detector.
struct DetectedCharset {
    std::string name;
    int confidence;
};

// The service itself: made only when ICU can be used.
class IcuService {
public:
    static std::unique_ptr<IcuService> create();
    ~IcuService();
    IcuService(const IcuService&) = delete;
    IcuService& operator=(const IcuService&) = delete;

    // Guesses the charset of the bytes, best first as ICU orders them, at
    // most maxMatches of them. Returns ICU's status code (0 or a warning, a
    // negative value, is success).
    int detect(const char* data, int length, int maxMatches, std::vector<DetectedCharset>& out);

    // Lets tests check the behaviour of a system without ICU.
    static void setUnavailableForTesting(bool unavailable);

private:
    IcuService() = default;

    UCharsetDetector* m_detector = nullptr;
};
