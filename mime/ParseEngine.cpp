#include "ParseEngine.h"

#include <cstring>

namespace {

bool isScanSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isQuote(char c) {
    return c == '"' || c == '\'';
}

} // namespace

void ParseEngine::load(const char* source) {
    text.setString(source);
    pos = 0;
}

void ParseEngine::skipWhitespace() {
    while (!atEnd() && isScanSpace(text.charAt(pos))) {
        ++pos;
    }
}

void ParseEngine::skipToChar(char c) {
    const char* start = text.getString() + pos;
    const char* hit = c != 0 ? std::strchr(start, c) : nullptr;
    pos = hit != nullptr ? static_cast<int>(hit - text.getString()) : text.getSize();
}

void ParseEngine::captureUntilAny(const char* set, StringBuffer& out) {
    if (set == nullptr || *set == 0) {
        return;
    }
    const char* start = text.getString() + pos;
    const size_t span = std::strcspn(start, set);
    out.appendBytes(start, static_cast<int>(span));
    pos += static_cast<int>(span);
}

void ParseEngine::captureUntilChar(char c, StringBuffer& out) {
    const int start = pos;
    skipToChar(c);
    out.appendBytes(text.getString() + start, pos - start);
}

void ParseEngine::captureQuoted(char c, StringBuffer& out, bool strict) {
    const char* data = text.getString();
    const int size = text.getSize();
    char openQuote = 0;
    bool afterClosingQuote = false;
    for (int i = pos; i < size; ++i) {
        const char byte = data[i];
        if (openQuote != 0) {
            if (byte == openQuote) {
                openQuote = 0;
                afterClosingQuote = strict;
            }
            continue;
        }
        if (isQuote(byte)) {
            if (!afterClosingQuote) {
                openQuote = byte;
            }
            continue;
        }
        afterClosingQuote = false;
        if (byte == c) {
            out.appendBytes(data + pos, i - pos);
            pos = i;
            return;
        }
    }
    // Unbalanced quotes: fall back to the first c whatever the quotes.
    captureUntilChar(c, out);
}

void ParseEngine::captureUntilCharQuoted(char c, StringBuffer& out) {
    captureQuoted(c, out, false);
}

void ParseEngine::captureUntilCharQuotedStrict(char c, StringBuffer& out) {
    captureQuoted(c, out, true);
}

bool ParseEngine::seekTo(const char* marker) {
    const char* hit = findNoCase(text.getString() + pos, marker);
    if (hit == nullptr) {
        return false;
    }
    pos = static_cast<int>(hit - text.getString());
    return true;
}

bool ParseEngine::seekPast(const char* marker) {
    if (!seekTo(marker)) {
        return false;
    }
    pos += static_cast<int>(std::strlen(marker));
    return true;
}

bool ParseEngine::captureThrough(const char* marker, StringBuffer& out) {
    const char* hit = findNoCase(text.getString() + pos, marker);
    if (hit == nullptr) {
        return false;
    }
    const int end =
        static_cast<int>(hit - text.getString()) + static_cast<int>(std::strlen(marker));
    out.appendBytes(text.getString() + pos, end - pos);
    pos = end;
    return true;
}
