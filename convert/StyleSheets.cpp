// Style sheets put into the page: the link tags that name one (a tag pass
// that runs after the links, with the sheets fetched ahead by the prefetch)
// and the sheets the caller adds, which insertStyleSheets puts into the head
// before the clean-up takes the style blocks out. Each sheet's CSS
// references are rewritten (CssUrls.cpp) against the sheet's own address.

#include "Mhtml.h"

#include "convert/ContentIdIndex.h"
#include "convert/ConvertText.h"
#include "convert/MarkupScan.h"
#include "convert/StyleSheetScope.h"
#include "foundation/DataBuffer.h"
#include "foundation/DiagnosticLog.h"
#include "mime/HtmlTags.h"

#include <cstring>

namespace {

constexpr const char* kHeadEnd = "</head>";

// Characters that would let a value break out of the STYLE tag it is put in.
void keepInsideAttribute(StringBuffer& value) {
    value.removeChar('"');
    value.removeChar('<');
    value.removeChar('>');
}

} // namespace

// --- link tags ----------------------------------------------------------------

void Mhtml::rewriteLinkTags(StringBuffer& html) {
    prefetchLinkedStyleSheets(html);
    runPass(html, "<link", nullptr, TagCapture::Quoted, &Mhtml::rewriteLinkElement);
}

void Mhtml::rewriteLinkElement(FoundTag& tag, StringBuffer& out) {
    StringBuffer cleaned;
    cleaned.setSb(tag.cleaned);
    replaceEvery(cleaned, "\"\\\"", "\"");
    replaceEvery(cleaned, "\\\"\"", "\"");
    StringBuffer type;
    getAttributeValue(cleaned.getString(), "TYPE", type);
    if (type.getSize() == 0) {
        getAttributeValue(cleaned.getString(), "REL", type);
    }
    StringBuffer relation;
    getAttributeValue(cleaned.getString(), "REL", relation);
    // Browsers apply an alternate style sheet only when the user picks it.
    const bool isStyleSheet = ((type.equalsNoCase("text/css") || type.equalsNoCase("stylesheet")) &&
                               !relation.containsNoCase("alternate")) ||
                              (m_completePage && isPreloadedStyleSheet(cleaned, relation));
    if (isStyleSheet) {
        inlineStyleSheet(tag, cleaned, out);
        return;
    }
    FoundTag link;
    link.found.setSb(tag.found);
    link.cleaned.setSb(cleaned);
    getAttributeValue(cleaned.getString(), "HREF", link.value);
    if (link.value.getSize() == 0) {
        out.appendSb(tag.found);
        return;
    }
    embedAttribute(link, "HREF", ReferenceKind::Link, out);
}

// The pattern of pages that load their sheets late: a preload that its own
// load handler turns into a style sheet ("this.rel='stylesheet'"). The
// handler runs in the browser; with scripts gone, the converter does its work.
bool Mhtml::isPreloadedStyleSheet(const StringBuffer& cleaned, const StringBuffer& relation) {
    if (!relation.containsNoCase("preload")) {
        return false;
    }
    StringBuffer as;
    getAttributeValue(cleaned.getString(), "AS", as);
    StringBuffer onload;
    getAttributeValue(cleaned.getString(), "ONLOAD", onload);
    return as.equalsNoCase("style") && onload.containsNoCase("stylesheet");
}

bool Mhtml::firstInlining(const StringBuffer& address) {
    return currentContext()
        .m_inlinedSheets.insert(ContentIdIndex::foldAscii(address.getString()))
        .second;
}

void Mhtml::inlineStyleSheet(FoundTag& tag, const StringBuffer& cleaned, StringBuffer& out) {
    StringBuffer href;
    getAttributeValue(cleaned.getString(), "HREF", href);
    if (href.getSize() == 0) {
        if (m_log != nullptr) {
            m_log->logError("Cannot find href in link tag");
            m_log->logData("link_tag", cleaned.getString());
        }
        out.appendSb(tag.found);
        return;
    }
    EmbeddedReference sheet;
    if (!embedReference(href.getString(), ReferenceKind::StyleSheet, ReferenceSyntax::Attribute,
                        sheet)) {
        out.appendSb(tag.found);
        return;
    }
    // A sheet that a page preloads and links again applies once, where it
    // first stands: it is not fetched twice.
    // (The prefetch's silent run of this pass only learns the addresses.)
    if (m_completePage && m_linkedSheetUrls == nullptr && !firstInlining(sheet.address)) {
        return;
    }
    StringBuffer media;
    getAttributeValue(cleaned.getString(), "MEDIA", media);
    StringBuffer block;
    if (fetchStyleSheet(sheet.address.getString(), block, media.getString())) {
        out.appendSb(block);
        return;
    }
    if (m_log != nullptr) {
        m_log->logError("Failed to download style sheet");
        m_log->logData("style_sheet_url", sheet.address.getString());
    }
    // The link stays, with the sheet's address, which a mail reader may
    // still load.
    if (m_local || href.equals(sheet.address.getString())) {
        out.appendSb(tag.found);
        return;
    }
    StringBuffer link;
    link.setSb(cleaned);
    StringBuffer address;
    appendAddressText(sheet.address.getString(), ReferenceSyntax::Attribute, address);
    setAttribute(link, "HREF", address.getString());
    out.appendSb(link);
}

// --- sheets the caller adds -----------------------------------------------------

void Mhtml::insertStyleSheets(StringBuffer& html) {
    forgetInsertedStyleSheets();
    if (m_styleSheets.getSize() == 0) {
        return;
    }
    html.replaceFirst("</HEAD>", kHeadEnd);
    for (int i = 0; i < m_styleSheets.getSize(); ++i) {
        const auto* url = static_cast<const StringBuffer*>(m_styleSheets.elementAt(i));
        StringBuffer block;
        if (!fetchStyleSheet(url->getString(), block)) {
            continue;
        }
        const int blockLength = block.getSize();
        block.append("\n");
        block.append(kHeadEnd);
        const char* headEnd = std::strstr(html.getString(), kHeadEnd);
        if (headEnd == nullptr) {
            continue;
        }
        const int at = static_cast<int>(headEnd - html.getString());
        html.replaceFirst(kHeadEnd, block.getString());
        recordInsertedStyleSheet(at, blockLength);
    }
    m_insertedStylesHtml = &html;
    m_insertedStylesSize = html.getSize();
}

void Mhtml::recordInsertedStyleSheet(int at, int length) {
    for (auto& span : m_insertedStyleSpans) {
        if (span.first >= at) {
            span.first += length + 1;
            span.second += length + 1;
        } else if (span.second > at) {
            span.second += length + 1;
        }
    }
    m_insertedStyleSpans.emplace_back(at, at + length);
}

bool Mhtml::insideInsertedStyleSheet(int position) const {
    for (const auto& span : m_insertedStyleSpans) {
        if (position >= span.first && position < span.second) {
            return true;
        }
    }
    return false;
}

void Mhtml::forgetInsertedStyleSheets() {
    m_insertedStyleSpans.clear();
    m_insertedStylesHtml = nullptr;
    m_insertedStylesSize = -1;
}

// --- one sheet as a STYLE block ---------------------------------------------------

bool Mhtml::fetchStyleSheet(const char* url, StringBuffer& out, const char* media) {
    DataBuffer data;
    StringBuffer finalUrl;
    if (!fetchResource(url, data, &finalUrl)) {
        return false;
    }
    // The bytes as text end at their first NUL.
    const char* bytes = reinterpret_cast<const char*>(data.getData());
    StringBuffer css(static_cast<int>(data.getSize()) + 1);
    if (bytes != nullptr) {
        css.appendBytes(bytes, static_cast<int>(strnlen(bytes, data.getSize())));
    }
    ExtPtrArray blocks;
    {
        // A sheet reached through a redirect names its pictures relative to
        // where it came from.
        StyleSheetScope scope(*this, finalUrl.getString());
        extractStyleBlocks(css, blocks, false);
        replaceEvery(css, kStylePlaceholder, "");
        rewriteCssBackgrounds(css);
    }
    keepInsideStyleElement(css);
    for (int i = 0; i < blocks.getSize(); ++i) {
        out.appendSb(*static_cast<const StringBuffer*>(blocks.elementAt(i)));
    }
    blocks.removeAllObjects();
    out.append("\n<STYLE TYPE=\"text/css\"");
    StringBuffer mediaValue(media);
    keepInsideAttribute(mediaValue);
    if (mediaValue.getSize() > 0) {
        out.append(" MEDIA=\"");
        out.appendSb(mediaValue);
        out.append("\"");
    }
    out.append(">\n<!--\n");
    out.appendSb(css);
    out.append("\n-->\n</STYLE>\n");
    return true;
}
