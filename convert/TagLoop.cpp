#include "TagLoop.h"

#include "convert/MarkupScan.h"
#include "mime/HtmlTags.h"
#include "mime/ParseEngine.h"

#include <cstring>
#include <string>

namespace {

constexpr int kLongestQuotedLinkTag = 900;

void captureTag(ParseEngine& scanner, TagCapture capture, StringBuffer& out) {
    const int start = scanner.pos;
    if (capture == TagCapture::QuotedStrict) {
        scanner.captureUntilCharQuotedStrict('>', out);
        return;
    }
    scanner.captureUntilCharQuoted('>', out);
    if (capture == TagCapture::QuotedAtMost900 && out.getSize() > kLongestQuotedLinkTag) {
        scanner.pos = start;
        out.clear();
        scanner.captureUntilChar('>', out);
    }
}

bool isAttributeBoundary(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"' || c == '\'' || c == '<';
}

const char* findWholeAttribute(const char* tag, const std::string& pattern) {
    for (const char* hit = findNoCase(tag, pattern.c_str()); hit != nullptr;
         hit = findNoCase(hit + 1, pattern.c_str())) {
        if (hit == tag || isAttributeBoundary(hit[-1])) {
            return hit;
        }
    }
    return nullptr;
}

} // namespace

void runTagLoop(StringBuffer& html, const TagLoopSettings& settings, const TagHandler& handler) {
    if (findNoCase(html.getString(), settings.prefix) == nullptr) {
        return;
    }
    ParseEngine scanner;
    scanner.load(html.getString());
    StringBuffer out(scanner.text.getSize() + 1);
    const char* text = scanner.text.getString();
    for (;;) {
        const int before = scanner.pos;
        if (!scanner.seekTo(settings.prefix)) {
            break;
        }
        appendGrowing(out, text + before, scanner.pos - before);
        FoundTag tag;
        captureTag(scanner, settings.capture, tag.found);
        if (scanner.current() == '>') {
            ++scanner.pos;
        }
        tag.found.appendChar('>');
        cleanTag(tag.found.getString(), tag.cleaned, settings.cleanLog);
        if (settings.attribute != nullptr) {
            getAttributeValue(tag.cleaned.getString(), settings.attribute, tag.value);
        }
        StringBuffer replacement(tag.found.getSize() + 64);
        handler(tag, replacement);
        appendGrowing(out, replacement);
    }
    appendGrowing(out, text + scanner.pos, scanner.text.getSize() - scanner.pos);
    html.setSb(out);
}

void replaceAttributeValue(StringBuffer& tag, const char* name, const char* value) {
    if (name == nullptr || *name == 0) {
        return;
    }
    const char* text = tag.getString();
    const char* hit = findWholeAttribute(text, std::string(name) + "=\"");
    if (hit == nullptr) {
        hit = findWholeAttribute(text, std::string(name) + "='");
    }
    if (hit == nullptr) {
        return;
    }
    const char* openingQuote = hit + std::strlen(name) + 1;
    const char* closingQuote = std::strchr(openingQuote + 1, *openingQuote);
    if (closingQuote == nullptr) {
        return;
    }
    StringBuffer rebuilt(tag.getSize() + 1);
    rebuilt.appendBytes(text, static_cast<int>(openingQuote + 1 - text));
    rebuilt.append(value);
    rebuilt.append(closingQuote);
    tag.setSb(rebuilt);
}
