// data: addresses, read for the complete mode's parts (Fetching.cpp,
// MessageAssembly.cpp).

#include "DataUrl.h"

#include "foundation/FileUrl.h"
#include "foundation/StringBuffer.h"
#include "mime/ContentCoding.h"

#include <cstdlib>
#include <memory>

namespace {

constexpr std::string_view kScheme = "data:";

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + ('a' - 'A'));
        }
    }
    return out;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

bool isDataUrl(std::string_view url) {
    return url.size() >= kScheme.size() && lowered(url.substr(0, kScheme.size())) == kScheme;
}

std::string mediaTypeOf(std::string_view header) {
    const std::string type = lowered(trimmed(header.substr(0, header.find(';'))));
    return type.empty() || type.find('/') == std::string::npos ? "text/plain" : type;
}

bool namesBase64(std::string_view header) {
    const size_t semicolon = header.rfind(';');
    return semicolon != std::string_view::npos &&
           lowered(trimmed(header.substr(semicolon + 1))) == "base64";
}

struct FreeDeleter {
    void operator()(char* bytes) const { std::free(bytes); }
};

} // namespace

bool readDataUrl(std::string_view url, DataUrl& out) {
    if (!isDataUrl(url)) {
        return false;
    }
    const size_t comma = url.find(',');
    if (comma == std::string_view::npos) {
        return false;
    }
    const std::string_view header = url.substr(kScheme.size(), comma - kScheme.size());
    out.mediaType = mediaTypeOf(header);
    StringBuffer data;
    data.appendBytes(url.data() + comma + 1, static_cast<int>(url.size() - comma - 1));
    decodePercentEscapes(data);
    if (!namesBase64(header)) {
        out.bytes.assign(data.getString(), static_cast<size_t>(data.getSize()));
        return true;
    }
    int length = 0;
    const std::unique_ptr<char, FreeDeleter> decoded(
        ContentCoding().decodeBase64(data.getString(), data.getSize(), &length));
    out.bytes.assign(decoded != nullptr ? decoded.get() : "", decoded != nullptr ? length : 0);
    return true;
}

std::string dataUrlMediaType(std::string_view url) {
    if (!isDataUrl(url)) {
        return {};
    }
    const size_t comma = url.find(',');
    return mediaTypeOf(url.substr(
        kScheme.size(), (comma == std::string_view::npos ? url.size() : comma) - kScheme.size()));
}
