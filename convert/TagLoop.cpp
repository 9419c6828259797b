// The loop every tag pass runs (TagPasses.cpp, StyleSheets.cpp,
// CompletePasses.cpp): find, clean and read each tag, let the pass replace it.

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

bool holdsAny(const StringBuffer& text, const char* const (&needles)[2]) {
    if (needles[0] == nullptr) {
        return true;
    }
    for (const char* needle : needles) {
        if (needle != nullptr && text.containsNoCase(needle)) {
            return true;
        }
    }
    return false;
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
        if (!holdsAny(tag.found, settings.onlyWith)) {
            appendGrowing(out, tag.found);
            continue;
        }
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
    const char* text = tag.getString();
    AttributeSpan span;
    if (!findAttribute(std::string_view(text, static_cast<size_t>(tag.getSize())), name, span)) {
        return;
    }
    StringBuffer rebuilt(tag.getSize() + 1);
    rebuilt.appendBytes(text, static_cast<int>(span.valueStart));
    rebuilt.append(value);
    rebuilt.appendBytes(text + span.valueEnd, tag.getSize() - static_cast<int>(span.valueEnd));
    tag.setSb(rebuilt);
}
