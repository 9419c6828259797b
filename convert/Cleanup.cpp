// The first stage of processDocument: the clean-up steps that make a
// document safe to show in a mail reader and keep style and script text away
// from the tag passes (TagPasses.cpp), which follow. processDocument decides
// which steps a document gets.

#include "Mhtml.h"

#include "convert/ConvertText.h"
#include "convert/MarkupScan.h"
#include "foundation/StringPair.h"

#include <cstring>

namespace {

constexpr const char* kDoctype = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">";

// Later steps match some names case-sensitively; these are the forms they
// expect. "<IMAGE" and "<image" are renamed to the element mail readers know.
constexpr const char* kTagCases[][2] = {
    {"<BODY", "<body"},       {"<FRAME", "<frame"},     {"<TABLE", "<table"},
    {"<TD", "<td"},           {"<IFRAME", "<iframe"},   {"<NOSCRIPT", "<noscript"},
    {"<SCRIPT", "<script"},   {"</IFRAME", "</iframe"}, {"</NOSCRIPT", "</noscript"},
    {"</SCRIPT", "</script"}, {"</TITLE", "</title"},   {"<TITLE", "<title"},
    {"<INPUT", "<input"},     {"<IMG", "<img"},         {"<IMAGE", "<img"},
    {"<image", "<img"},       {"<LINK", "<link"},       {"BACKGROUND-IMAGE", "background-image"},
    {"<V:", "<v:"},
};

constexpr const char* kEventHandlers[] = {
    "onLoad",  "onMouseOut", "onMouseOver", "onSelect",    "onMove",    "onChange",
    "onClick", "onDblClick", "onMouseDown", "onMouseMove", "onResize",  "onAbort",
    "onBlur",  "onDragDrop", "onError",     "onFocus",     "onKeyDown", "onKeyPress",
    "onKeyUp", "onReset",    "onSubmit",    "onUnload",
};

constexpr const char* kNoscriptTags[] = {"<NOSCRIPT>", "<noscript>", "</NOSCRIPT>", "</noscript>"};

bool isScanSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

const char* skipScanSpace(const char* p) {
    while (isScanSpace(*p)) {
        ++p;
    }
    return p;
}

// Where the scan goes on behind an event-handler name: behind its whole
// quoted assignment, or right behind the name when no quoted value follows.
const char* endOfHandler(const char* afterName) {
    const char* p = skipScanSpace(afterName);
    if (*p != '=') {
        return afterName;
    }
    p = skipScanSpace(p + 1);
    if (*p != '"' && *p != '\'') {
        return afterName;
    }
    const char* closing = std::strchr(p + 1, *p);
    return closing != nullptr ? closing + 1 : p + std::strlen(p);
}

// An XML declaration and white space may stand before the document type.
const char* skipXmlDeclaration(const char* text) {
    const char* p = skipScanSpace(text);
    if (std::strncmp(p, "<?xml", 5) == 0) {
        const char* end = std::strstr(p, "?>");
        if (end != nullptr) {
            p = skipScanSpace(end + 2);
        }
    }
    return p;
}

} // namespace

void Mhtml::normaliseTags(StringBuffer& html) {
    if (mailSafe()) {
        html.replaceChar('\r', ' ');
    }
    html.trim();
    for (const auto& tagCase : kTagCases) {
        replaceEvery(html, tagCase[0], tagCase[1]);
    }
}

void Mhtml::decideNoScripts(const StringBuffer& html) {
    m_noScripts = m_forceNoScripts || (!m_scriptsOverNoscript && html.contains("<noscript>"));
}

// A document that declares its type keeps it alone: a second declaration in
// front would switch the mail reader into quirks mode.
void Mhtml::addDoctype(StringBuffer& html) {
    if (beginsWithNoCase(skipXmlDeclaration(html.getString()), "<!DOCTYPE")) {
        return;
    }
    html.prepend(kDoctype);
}

void Mhtml::extractStyles(StringBuffer& html, ExtPtrArray& styles) {
    extractStyleBlocks(html, styles, true);
}

void Mhtml::extractStyleBlocks(StringBuffer& html, ExtPtrArray& styles, bool spareInserted) {
    const bool spansApply =
        spareInserted && m_insertedStylesHtml == &html && m_insertedStylesSize == html.getSize();
    const char* text = html.getString();
    scanBlocks(html, "<style", "</style>", [&](const char* block, int length, StringBuffer& out) {
        auto* saved = new StringBuffer(length + 1);
        saved->appendBytes(block, length);
        if (!(spansApply && insideInsertedStyleSheet(static_cast<int>(block - text)))) {
            rewriteCssBackgrounds(*saved);
        }
        styles.appendObject(saved);
        out.append(kStylePlaceholder);
    });
    if (spareInserted) {
        forgetInsertedStyleSheets();
    }
}

void Mhtml::restoreStyles(StringBuffer& html, ExtPtrArray& styles) {
    restorePlaceholders(html, kStylePlaceholder, styles);
    styles.removeAllObjects();
}

void Mhtml::extractScripts(StringBuffer& html, ExtPtrArray& scripts) {
    const bool keep = !scriptsOff();
    scanBlocks(html, "<script", "</script>", [&](const char* block, int length, StringBuffer& out) {
        if (!keep) {
            return;
        }
        auto* saved = new StringBuffer(length + 1);
        saved->appendBytes(block, length);
        scripts.appendObject(saved);
        out.append(kScriptPlaceholder);
    });
}

void Mhtml::restoreScripts(StringBuffer& html, ExtPtrArray& scripts) {
    if (scriptsOff()) {
        replaceEvery(html, kScriptPlaceholder, "");
    } else {
        restorePlaceholders(html, kScriptPlaceholder, scripts);
    }
    scripts.removeAllObjects();
}

void Mhtml::removeIframes(StringBuffer& html) {
    scanBlocks(html, "<iframe", "</iframe>", [](const char*, int, StringBuffer&) {});
}

void Mhtml::removeComments(StringBuffer& html) {
    scanBlocks(html, "<!--", "-->", [](const char*, int, StringBuffer&) {});
}

void Mhtml::unwrapNoscript(StringBuffer& html) {
    for (const char* tag : kNoscriptTags) {
        replaceEvery(html, tag, "");
    }
}

void Mhtml::removeEventHandlers(StringBuffer& html) {
    for (const char* name : kEventHandlers) {
        if (html.containsNoCase(name)) {
            removeAttribute(name, html);
        }
    }
}

void Mhtml::removeAttribute(const char* name, StringBuffer& html) {
    if (name == nullptr || *name == 0) {
        return;
    }
    const char* text = html.getString();
    const char* hit = findNoCase(text, name);
    if (hit == nullptr) {
        return;
    }
    const size_t nameLength = std::strlen(name);
    StringBuffer out(static_cast<int>(std::strlen(text)) + 1);
    const char* cursor = text;
    for (; hit != nullptr; hit = findNoCase(cursor, name)) {
        out.appendBytes(cursor, static_cast<int>(hit - cursor));
        cursor = endOfHandler(hit + nameLength);
    }
    out.append(cursor);
    html.setSb(out);
}
