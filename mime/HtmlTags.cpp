#include "HtmlTags.h"

#include "ParseEngine.h"
#include "foundation/DiagnosticLog.h"
#include "foundation/StringBuffer.h"

#include <cstring>
#include <string>

namespace {

constexpr int kMaxValuedAttributes = 100;

bool isAttributeBoundary(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"' || c == '\'' || c == '<';
}

// The first occurrence of pattern (name + "=" + quote) that stands as a whole
// attribute name, so that "src" is not found inside "data-src".
size_t findWholeAttribute(std::string_view tag, const std::string& pattern) {
    for (size_t hit = findNoCaseFrom(tag, pattern, 0); hit != std::string_view::npos;
         hit = findNoCaseFrom(tag, pattern, hit + 1)) {
        if (hit == 0 || isAttributeBoundary(tag[hit - 1])) {
            return hit;
        }
    }
    return std::string_view::npos;
}

void removeLineBreaks(StringBuffer& out) {
    out.removeChar('\r');
    out.removeChar('\n');
}

void logCleanTagEnd(DiagnosticLog* log, const char* entry, const StringBuffer& out) {
    if (log != nullptr) {
        log->logData(entry, out.getString());
    }
}

// One attribute value at pos, after its "=": quoted values keep their quote
// kind, unquoted ones get double quotes and end at a blank, CR, LF or ">".
void copyAttributeValue(ParseEngine& scanner, StringBuffer& out) {
    scanner.skipWhitespace();
    if (scanner.current() == '\\') {
        ++scanner.pos;
    }
    char quote = '"';
    const char* valueEnd = " \r\n>";
    char quoteSet[2] = {0, 0};
    if (scanner.current() == '"' || scanner.current() == '\'') {
        quote = scanner.current();
        ++scanner.pos;
        quoteSet[0] = quote;
        valueEnd = quoteSet;
    }
    out.appendChar(quote);
    scanner.captureUntilAny(valueEnd, out);
    scanner.skipWhitespace();
    if (scanner.current() == '"' || scanner.current() == '\'') {
        ++scanner.pos;
    }
    if (out.lastChar() == '\\') {
        out.shorten(1);
    }
    out.appendChar(quote);
}

} // namespace

bool findBaseHref(const char* html, StringBuffer& out) {
    out.clear();
    const char* start = findNoCase(html, "<base ");
    if (start == nullptr) {
        return false;
    }
    const char* end = std::strchr(start, '>');
    if (end == nullptr) {
        return false;
    }
    StringBuffer tag;
    tag.appendBytes(start, static_cast<int>(end - start) + 1);
    getAttributeValue(tag.getString(), "href", out);
    return out.getSize() > 0;
}

bool findAttribute(std::string_view tag, const char* name, AttributeSpan& span) {
    if (name == nullptr || *name == 0) {
        return false;
    }
    for (const char quote : {'"', '\''}) {
        const std::string pattern = std::string(name) + "=" + quote;
        const size_t hit = findWholeAttribute(tag, pattern);
        if (hit == std::string_view::npos) {
            continue;
        }
        const size_t closing = tag.find(quote, hit + pattern.size());
        if (closing == std::string_view::npos) {
            return false;
        }
        span = {hit, hit + pattern.size(), closing};
        return true;
    }
    return false;
}

void getAttributeValue(const char* tag, const char* name, StringBuffer& out) {
    out.clear();
    AttributeSpan span;
    if (tag == nullptr || !findAttribute(tag, name, span)) {
        return;
    }
    out.appendBytes(tag + span.valueStart, static_cast<int>(span.valueEnd - span.valueStart));
    out.trim();
    out.replaceChar('\\', '/');
}

namespace {

// The charset of a content value such as "text/html; charset=x": the text
// behind "CHARSET=" up to a double quote, else a ';', else a blank.
void charsetFromContent(const StringBuffer& content, StringBuffer& out) {
    const char* rest = findNoCase(content.getString(), "CHARSET=") + std::strlen("CHARSET=");
    const char* end = std::strchr(rest, '"');
    if (end == nullptr) {
        end = std::strchr(rest, ';');
    }
    if (end == nullptr) {
        end = std::strchr(rest, ' ');
    }
    if (end == nullptr) {
        end = rest + std::strlen(rest);
    }
    out.clear();
    out.appendBytes(rest, static_cast<int>(end - rest));
}

// Decides one cleaned meta tag; true when it declares the charset.
bool charsetFromMetaTag(const char* cleaned, StringBuffer& out) {
    StringBuffer httpEquiv;
    getAttributeValue(cleaned, "HTTP-EQUIV", httpEquiv);
    if (httpEquiv.equalsNoCase("content-type")) {
        StringBuffer content;
        getAttributeValue(cleaned, "content", content);
        if (content.getSize() > 0) {
            if (content.containsNoCase("CHARSET=")) {
                charsetFromContent(content, out);
            } else {
                getAttributeValue(cleaned, "CHARSET", out);
            }
            return true;
        }
        return false;
    }
    if (httpEquiv.getSize() == 0) {
        // The HTML5 form, <meta charset="utf-8">.
        StringBuffer charset;
        getAttributeValue(cleaned, "CHARSET", charset);
        if (charset.getSize() > 0) {
            out.setSb(charset);
            return true;
        }
    }
    return false;
}

} // namespace

void findMetaCharset(const char* html, StringBuffer& out) {
    ParseEngine scanner;
    scanner.load(html);
    while (scanner.seekTo("<meta")) {
        StringBuffer tag;
        scanner.captureUntilCharQuoted('>', tag);
        tag.appendChar('>');
        StringBuffer cleaned;
        cleanTag(tag.getString(), cleaned, nullptr);
        if (charsetFromMetaTag(cleaned.getString(), out)) {
            return;
        }
        if (scanner.atEnd()) {
            return;
        }
    }
}

void cleanTag(const char* tag, StringBuffer& out, DiagnosticLog* log) {
    if (log != nullptr) {
        log->logData("cleaning_tag", tag != nullptr ? tag : "");
    }
    out.clear();
    ParseEngine scanner;
    scanner.load(tag);
    scanner.skipToChar('<');
    if (scanner.atEnd()) {
        logCleanTagEnd(log, "clean_tag_1", out);
        return;
    }
    out.appendChar('<');
    ++scanner.pos;
    scanner.skipWhitespace();
    scanner.captureUntilAny(" \t\r\n", out);
    scanner.skipWhitespace();
    if (scanner.current() == '>') {
        out.appendChar('>');
        logCleanTagEnd(log, "clean_tag_2", out);
        return;
    }
    int valuedAttributes = 0;
    for (;;) {
        StringBuffer piece(64);
        piece.appendChar(' ');
        while (scanner.current() == '"' || scanner.current() == '\'') {
            ++scanner.pos;
        }
        scanner.captureUntilAny(" \t\n\r>=", piece);
        scanner.skipWhitespace();
        const char c = scanner.current();
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            out.appendSb(piece);
            continue;
        }
        if (c == '>') {
            out.appendSb(piece);
            out.appendChar('>');
            logCleanTagEnd(log, "clean_tag_6", out);
            return;
        }
        if (c != '=') {
            out.trim();
            if (out.lastChar() != '>') {
                out.appendChar('>');
            }
            removeLineBreaks(out);
            logCleanTagEnd(log, "clean_tag_3", out);
            return;
        }
        out.appendSb(piece);
        out.appendChar('=');
        ++scanner.pos;
        copyAttributeValue(scanner, out);
        scanner.skipWhitespace();
        if (scanner.current() == '>') {
            out.appendChar('>');
            removeLineBreaks(out);
            logCleanTagEnd(log, "clean_tag_4", out);
            return;
        }
        if (++valuedAttributes > kMaxValuedAttributes) {
            removeLineBreaks(out);
            logCleanTagEnd(log, "clean_tag_5", out);
            return;
        }
    }
}
