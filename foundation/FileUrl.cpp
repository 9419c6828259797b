#include "FileUrl.h"

#include "StringBuffer.h"

#include <cstring>

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

bool beginsWithDriveLetter(const char* text) {
    const char letter = text[0];
    const bool isLetter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
    return isLetter && (text[1] == ':' || text[1] == '|');
}

} // namespace

bool stripFileUrlPrefix(StringBuffer& text, const char* prefix) {
    if (!beginsWithNoCase(text.getString(), prefix)) {
        return false;
    }
    size_t cut = std::strlen(prefix);
    if (cut > 0 && prefix[cut - 1] == '/' && !beginsWithDriveLetter(text.getString() + cut)) {
        --cut;
    }
    text.setString(text.getString() + cut);
    return true;
}

void stripFileUrl(StringBuffer& text) {
    if (beginsWithNoCase(text.getString(), "file://localhost/")) {
        const StringBuffer path(text.getString() + std::strlen("file://localhost"));
        text.setSb(path);
        return;
    }
    stripFileUrlPrefixes(text);
}

void localFilePath(const char* reference, StringBuffer& path) {
    path.setString(reference);
    stripFileUrl(path);
    decodePercentEscapes(path);
}

void decodePercentEscapes(StringBuffer& text) {
    const char* source = text.getString();
    if (std::strchr(source, '%') == nullptr) {
        return;
    }
    StringBuffer decoded(text.getSize() + 1);
    for (int i = 0; i < text.getSize(); ++i) {
        const int high = i + 2 < text.getSize() ? hexDigit(source[i + 1]) : -1;
        const int low = high >= 0 ? hexDigit(source[i + 2]) : -1;
        if (source[i] == '%' && low >= 0) {
            decoded.appendChar(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            decoded.appendChar(source[i]);
        }
    }
    // Every byte, a decoded NUL included.
    text.clear();
    text.appendSb(decoded);
}

void stripFileUrlPrefixes(StringBuffer& text) {
    stripFileUrlPrefix(text, "file:///");
    stripFileUrlPrefix(text, "file://");
    stripFileUrlPrefix(text, "file:/");
    stripFileUrlPrefix(text, "file:");
}
