// Block scans and placeholders of the clean-up (Cleanup.cpp), and the
// linear-time appends that every pass uses to build its output.

#include "MarkupScan.h"

#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

constexpr size_t kNone = std::string_view::npos;

int distance(const char* from, const char* to) {
    return static_cast<int>(to - from);
}

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

} // namespace

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
    int64_t restoredSize = static_cast<int64_t>(std::strlen(text)) + 1;
    for (int index = 0; index < blocks.getSize(); ++index) {
        restoredSize += static_cast<const StringBuffer*>(blocks.elementAt(index))->getSize();
    }
    StringBuffer out(static_cast<int>(std::min<int64_t>(restoredSize, INT_MAX)));
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

int replaceEvery(StringBuffer& text, const char* find, const char* replacement) {
    if (find == nullptr || *find == 0) {
        return 0;
    }
    const size_t findLength = std::strlen(find);
    const char* start = text.getString();
    const char* end = start + text.getSize();
    int count = 0;
    for (const char* hit = static_cast<const char*>(
             memmem(start, static_cast<size_t>(end - start), find, findLength));
         hit != nullptr;
         hit = static_cast<const char*>(memmem(
             hit + findLength, static_cast<size_t>(end - hit) - findLength, find, findLength))) {
        ++count;
    }
    if (count == 0) {
        return 0;
    }
    const int replacementLength =
        replacement != nullptr ? static_cast<int>(std::strlen(replacement)) : 0;
    const int64_t resultSize =
        static_cast<int64_t>(text.getSize()) +
        static_cast<int64_t>(count) * (replacementLength - static_cast<int64_t>(findLength));
    StringBuffer out(static_cast<int>(std::min<int64_t>(resultSize + 1, INT_MAX)));
    const char* cursor = start;
    for (int i = 0; i < count; ++i) {
        const char* hit = static_cast<const char*>(
            memmem(cursor, static_cast<size_t>(end - cursor), find, findLength));
        out.appendBytes(cursor, static_cast<int>(hit - cursor));
        out.appendBytes(replacement, replacementLength);
        cursor = hit + findLength;
    }
    out.appendBytes(cursor, static_cast<int>(end - cursor));
    text.clear();
    text.appendBytes(out.getString(), out.getSize());
    return count;
}

void appendGrowing(StringBuffer& out, const char* bytes, int count) {
    if (count <= 0) {
        return;
    }
    if (out.getCapacity() - out.getSize() <= count) {
        out.reserve(std::max(count, out.getSize()) + 1);
    }
    out.appendBytes(bytes, count);
}

void appendGrowing(StringBuffer& out, const StringBuffer& text) {
    appendGrowing(out, text.getString(), text.getSize());
}

size_t endOfOpaqueStretch(std::string_view text, size_t lt) {
    if (text.compare(lt, 4, "<!--") == 0) {
        const size_t end = text.find("-->", lt + 4);
        return end == kNone ? text.size() : end + 3;
    }
    for (const std::string_view element : {std::string_view("style"), std::string_view("script")}) {
        const size_t nameEnd = lt + 1 + element.size();
        if (nameEnd > text.size() ||
            findNoCaseFrom(text.substr(0, nameEnd), element, lt + 1) == kNone ||
            (nameEnd < text.size() &&
             (isAsciiLetter(text[nameEnd]) || text[nameEnd] == '-' || text[nameEnd] == '_'))) {
            continue;
        }
        const std::string closing = "</" + std::string(element);
        const size_t close = findNoCaseFrom(text, closing, nameEnd);
        if (close == kNone) {
            return text.size();
        }
        const size_t gt = text.find('>', close);
        return gt == kNone ? text.size() : gt + 1;
    }
    return kNone;
}
