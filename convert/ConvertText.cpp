// The marker texts and small text helpers that every stage shares.

#include "ConvertText.h"

#include "foundation/StringBuffer.h"

bool isWebUrl(const char* url) {
    return beginsWithNoCase(url, "http:") || beginsWithNoCase(url, "https:");
}

bool isCssSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

void keepInsideStyleElement(std::string& css) {
    size_t hit = findNoCaseFrom(css, "</style", 0);
    if (hit == std::string::npos) {
        return;
    }
    std::string out;
    out.reserve(css.size() + 16);
    size_t cursor = 0;
    for (; hit != std::string::npos; hit = findNoCaseFrom(css, "</style", cursor)) {
        out.append(css, cursor, hit + 1 - cursor);
        out.push_back('\\');
        cursor = hit + 1;
    }
    out.append(css, cursor, std::string::npos);
    css.swap(out);
}

void keepInsideStyleElement(StringBuffer& css) {
    if (findNoCase(css.getString(), "</style") == nullptr) {
        return;
    }
    std::string text(css.getString(), static_cast<size_t>(css.getSize()));
    keepInsideStyleElement(text);
    css.clear();
    css.appendBytes(text.data(), static_cast<int>(text.size()));
}
