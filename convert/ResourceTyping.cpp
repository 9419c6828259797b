// The resource loop's decisions about one fetched resource (MessageAssembly.cpp):
// its type, its part name and its transfer encoding.

#include "ResourceTyping.h"

#include "convert/DataUrl.h"
#include "foundation/StringBuffer.h"
#include "mime/ContentTypes.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace {

bool bytesAt(const unsigned char* bytes, uint32_t count, uint32_t offset, const char* expected,
             uint32_t length) {
    return count >= offset + length && std::memcmp(bytes + offset, expected, length) == 0;
}

bool isBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool looksLikeSvg(const unsigned char* bytes, uint32_t count) {
    uint32_t start = 0;
    while (start < count && isBlank(bytes[start])) {
        ++start;
    }
    const auto* text = reinterpret_cast<const char*>(bytes);
    if (count - start >= 4 && std::memcmp(text + start, "<svg", 4) == 0) {
        return true;
    }
    if (count - start < 5 || std::memcmp(text + start, "<?xml", 5) != 0) {
        return false;
    }
    const uint32_t window = count < 1024 ? count : 1024;
    for (uint32_t i = start; i + 4 <= window; ++i) {
        if (std::memcmp(text + i, "<svg", 4) == 0) {
            return true;
        }
    }
    return false;
}

bool isDataAddress(const char* url) {
    return beginsWithNoCase(url, "data:");
}

// "data" and the extension its media type suggests ("image/svg+xml" gives
// "data.svg").
void appendDataPartName(const char* type, StringBuffer& name) {
    name.append("data");
    const char* slash = std::strchr(type, '/');
    if (slash == nullptr || slash[1] == 0) {
        return;
    }
    const std::string subtype(slash + 1, std::strcspn(slash + 1, "+;"));
    name.appendChar('.');
    name.append(subtype == "jpeg" ? "jpg" : subtype.c_str());
}

} // namespace

std::string addressPath(const char* url) {
    return std::string(url, std::strcspn(url, "?#"));
}

const char* sniffImageType(const unsigned char* bytes, uint32_t count) {
    if (bytes == nullptr || count < 4) {
        return nullptr;
    }
    StringBuffer dump;
    dump.appendHexDump(bytes, 4);
    if (dump.equals("4749 4638 ")) {
        return "image/gif";
    }
    if (dump.equals("FFD8 FFE0 ")) {
        return "image/jpeg";
    }
    if (bytesAt(bytes, count, 0, "\x89PNG\r\n\x1a\n", 8)) {
        return "image/png";
    }
    if (bytesAt(bytes, count, 0, "RIFF", 4) && bytesAt(bytes, count, 8, "WEBP", 4)) {
        return "image/webp";
    }
    if (bytesAt(bytes, count, 4, "ftypavif", 8) || bytesAt(bytes, count, 4, "ftypavis", 8)) {
        return "image/avif";
    }
    if (looksLikeSvg(bytes, count)) {
        return "image/svg+xml";
    }
    return nullptr;
}

void typeByExtension(const char* url, StringBuffer& type, bool& isJavaScript, bool* guessed) {
    isJavaScript = false;
    if (guessed != nullptr) {
        *guessed = false;
    }
    if (isDataAddress(url)) {
        type.append(dataUrlMediaType(url).c_str());
        return;
    }
    const std::string path = addressPath(url);
    const char* dot = std::strrchr(path.c_str(), '.');
    if (dot == nullptr) {
        type.append("application/octet-stream");
        return;
    }
    StringBuffer extension(dot + 1);
    extension.toLowerCase();
    if (extension.lastChar() == '/') {
        type.append("text/html");
        return;
    }
    StringBuffer found;
    lookupContentType(extension.getString(), found);
    if (found.equalsNoCase("application/x-javascript")) {
        isJavaScript = true;
        type.append("application/octet-stream");
    } else if (found.getSize() > 0) {
        type.appendSb(found);
    } else if (beginsWithNoCase(url, "http")) {
        type.append("text/html");
        if (guessed != nullptr) {
            *guessed = true;
        }
    } else {
        type.append("application/octet-stream");
    }
}

bool looksBinary(const unsigned char* bytes, uint32_t count) {
    constexpr uint32_t kLookedAt = 1024;
    return bytes != nullptr && std::memchr(bytes, 0, std::min(count, kLookedAt)) != nullptr;
}

void partNameFor(const char* url, int index, const char* type, StringBuffer& out) {
    StringBuffer name;
    name.append("vt");
    name.appendInt(index);
    name.appendChar('-');
    if (isDataAddress(url)) {
        appendDataPartName(type, name);
        out.appendSb(name);
        return;
    }
    const std::string path = addressPath(url);
    const char* slash = std::strrchr(path.c_str(), '/');
    name.append(slash != nullptr ? slash + 1 : path.c_str());
    name.removeChar(';');
    name.removeChar('=');
    if (std::strncmp(type, "image", 5) == 0 && std::strchr(name.getString(), '.') == nullptr) {
        if (std::strcmp(type, "image/gif") == 0) {
            name.append(".gif");
        } else if (std::strcmp(type, "image/jpeg") == 0) {
            name.append(".jpeg");
        }
    }
    out.appendSb(name);
}

PartEncoding chooseEncoding(const char* url, bool isImage, const char* type) {
    // What a data: address holds travels as it is, never as a document.
    if (isDataAddress(url)) {
        return {"base64", false, false};
    }
    const std::string path = addressPath(url);
    const char* dot = std::strrchr(path.c_str(), '.');
    if (dot == nullptr) {
        return {"base64", false, false};
    }
    if (strcasecmp(dot, ".js") == 0) {
        return {"quoted-printable", false, false};
    }
    if (strcasecmp(dot, ".css") == 0) {
        return {"quoted-printable", true, false};
    }
    if (isImage) {
        return {"base64", false, false};
    }
    if (strncasecmp(dot, ".ht", 3) == 0 || strncasecmp(dot, ".as", 3) == 0 ||
        strcasecmp(type, "text/html") == 0) {
        return {"quoted-printable", false, true};
    }
    return {"base64", false, false};
}
