#include "MarkupScan.h"

#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"

#include <cstring>

namespace {

char foldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

int distance(const char* from, const char* to) {
    return static_cast<int>(to - from);
}

} // namespace

bool beginsWithNoCase(const char* text, const char* prefix) {
    if (text == nullptr || prefix == nullptr) {
        return false;
    }
    for (; *prefix != 0; ++text, ++prefix) {
        if (*text == 0 || foldAscii(*text) != foldAscii(*prefix)) {
            return false;
        }
    }
    return true;
}

void scanBlocks(StringBuffer& html, const char* startMarker, const char* endMarker,
                const BlockHandler& onBlock) {
    const char* text = html.getString();
    const char* first = findNoCase(text, startMarker);
    if (first == nullptr) {
        return;
    }
    const int endLength = static_cast<int>(std::strlen(endMarker));
    StringBuffer out(static_cast<int>(std::strlen(text)) + 1);
    const char* cursor = text;
    bool endMarkerAbsent = false;
    for (const char* start = first; start != nullptr; start = findNoCase(cursor, startMarker)) {
        out.appendBytes(cursor, distance(cursor, start));
        const char* end = endMarkerAbsent ? nullptr : findNoCase(start, endMarker);
        if (end != nullptr) {
            const char* after = end + endLength;
            onBlock(start, distance(start, after), out);
            cursor = after;
            continue;
        }
        endMarkerAbsent = true;
        const char* close = std::strchr(start, '>');
        if (close == nullptr) {
            cursor = start;
            break;
        }
        out.appendBytes(start, distance(start, close));
        cursor = close;
    }
    out.append(cursor);
    html.setSb(out);
}

void restorePlaceholders(StringBuffer& html, const char* placeholder, const ExtPtrArray& blocks) {
    const char* text = html.getString();
    const char* hit = std::strstr(text, placeholder);
    if (hit == nullptr || blocks.getSize() == 0) {
        return;
    }
    const int placeholderLength = static_cast<int>(std::strlen(placeholder));
    StringBuffer out(static_cast<int>(std::strlen(text)) + 1);
    const char* cursor = text;
    for (int index = 0; index < blocks.getSize() && hit != nullptr; ++index) {
        out.appendBytes(cursor, distance(cursor, hit));
        out.appendSb(*static_cast<const StringBuffer*>(blocks.elementAt(index)));
        cursor = hit + placeholderLength;
        hit = std::strstr(cursor, placeholder);
    }
    out.append(cursor);
    html.setSb(out);
}
