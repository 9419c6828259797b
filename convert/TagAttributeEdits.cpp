// Attribute edits of the complete mode's lazy-image pass (CompletePasses.cpp),
// and the raw tag reader of its style-attribute pass.

#include "TagAttributeEdits.h"

#include "foundation/StringBuffer.h"

#include <cstring>
#include <string>

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool sameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

void replaceSpan(StringBuffer& tag, size_t start, size_t end, std::string_view with) {
    std::string rebuilt(tag.getString(), static_cast<size_t>(tag.getSize()));
    rebuilt.replace(start, end - start, with);
    tag.clear();
    tag.appendBytes(rebuilt.data(), static_cast<int>(rebuilt.size()));
}

} // namespace

bool removeBareTagAttributes(StringBuffer& tag, const char* name) {
    const std::string_view text(tag.getString(), static_cast<size_t>(tag.getSize()));
    const size_t length = std::strlen(name);
    std::string kept;
    size_t copied = 0;
    char quote = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            quote = c == quote ? 0 : quote;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
            continue;
        }
        if (length == 0 || i == 0 || !isSpace(text[i - 1]) ||
            !sameNoCase(text.substr(i, length), name)) {
            continue;
        }
        size_t after = i + length;
        while (after < text.size() && isSpace(text[after])) {
            ++after;
        }
        const bool bare = i + length == text.size() || isSpace(text[i + length]) ||
                          text[i + length] == '>' || text[i + length] == '/';
        if (!bare || (after < text.size() && text[after] == '=')) {
            continue;
        }
        size_t start = i;
        while (start > copied && isSpace(text[start - 1])) {
            --start;
        }
        kept.append(text.substr(copied, start - copied));
        copied = i + length;
        i = copied - 1;
    }
    if (copied == 0) {
        return false;
    }
    kept.append(text.substr(copied));
    tag.clear();
    tag.appendBytes(kept.data(), static_cast<int>(kept.size()));
    return true;
}

bool removeTagAttribute(StringBuffer& tag, const char* name) {
    const std::string_view text(tag.getString(), static_cast<size_t>(tag.getSize()));
    AttributeSpan span;
    if (!findAttribute(text, name, span)) {
        return false;
    }
    size_t start = span.nameStart;
    while (start > 0 && isSpace(text[start - 1])) {
        --start;
    }
    replaceSpan(tag, start, span.valueEnd + 1, "");
    return true;
}

bool renameTagAttribute(StringBuffer& tag, const char* name, const char* newName) {
    const std::string_view text(tag.getString(), static_cast<size_t>(tag.getSize()));
    AttributeSpan span;
    if (!findAttribute(text, name, span)) {
        return false;
    }
    replaceSpan(tag, span.nameStart, span.nameStart + std::strlen(name), newName);
    return true;
}

void insertTagAttribute(StringBuffer& tag, const char* name, const char* value) {
    const std::string_view text(tag.getString(), static_cast<size_t>(tag.getSize()));
    size_t at = text.find('<');
    at = at == std::string_view::npos ? 0 : at + 1;
    while (at < text.size() && !isSpace(text[at]) && text[at] != '>' && text[at] != '/') {
        ++at;
    }
    std::string attribute = std::string(" ") + name + "=\"" + value + "\"";
    replaceSpan(tag, at, at, attribute);
}

RawTag readRawTag(std::string_view text, size_t lt) {
    RawTag tag;
    size_t i = lt + 1;
    while (i < text.size() && !isSpace(text[i]) && text[i] != '>') {
        ++i;
    }
    while (i < text.size()) {
        const char c = text[i];
        if (c == '>') {
            tag.end = i;
            return tag;
        }
        if (isSpace(c) || c == '/') {
            ++i;
            continue;
        }
        const size_t nameStart = i;
        while (i < text.size() && !isSpace(text[i]) && text[i] != '=' && text[i] != '>' &&
               (text[i] != '/' || i == nameStart)) {
            ++i;
        }
        const std::string_view name = text.substr(nameStart, i - nameStart);
        size_t p = i;
        while (p < text.size() && isSpace(text[p])) {
            ++p;
        }
        if (p >= text.size() || text[p] != '=') {
            continue; // an attribute without a value
        }
        ++p;
        while (p < text.size() && isSpace(text[p])) {
            ++p;
        }
        size_t start = p;
        size_t end = p;
        const char quote = p < text.size() && (text[p] == '"' || text[p] == '\'') ? text[p] : 0;
        if (quote != 0) {
            start = p + 1;
            const size_t closing = text.find(text[p], start);
            if (closing == std::string_view::npos) {
                return tag; // the text ends inside the value
            }
            end = closing;
            i = closing + 1;
        } else {
            while (end < text.size() && !isSpace(text[end]) && text[end] != '>') {
                ++end;
            }
            i = end;
        }
        RawValue* wanted = sameNoCase(name, "style")     ? &tag.style
                           : sameNoCase(name, "data-bg") ? &tag.lazyBackground
                           : sameNoCase(name, "media")   ? &tag.media
                                                         : nullptr;
        if (wanted != nullptr && !wanted->present) {
            *wanted = {true, quote, start, end};
        }
    }
    return tag;
}
