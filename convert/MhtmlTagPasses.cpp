// The tag passes that give every resource a content-id and rewrite its
// reference, the style sheets that are put into the HTML, and the fetching
// of resources from the web or from files.

#include "Mhtml.h"

#include "convert/MarkupScan.h"
#include "convert/StyleSheetScope.h"
#include "foundation/DataBuffer.h"
#include "foundation/DiagnosticLog.h"
#include "foundation/FileUrl.h"
#include "http/HttpDownload.h"
#include "http/VantrelHTTP.h"
#include "mime/HtmlTags.h"
#include "mime/ParseEngine.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr const char* kImageTagLog = "imageTags.log";
constexpr const char* kHeadEnd = "</head>";

bool isWebUrl(const char* url) {
    return beginsWithNoCase(url, "http:") || beginsWithNoCase(url, "https:");
}

bool isScriptSource(const StringBuffer& url) {
    return url.containsNoCase(".js") || url.containsNoCase(".htm") || url.containsNoCase(".vbs") ||
           url.containsNoCase(".asp");
}

bool isRolloverImage(const char* quoted, int length) {
    if (length <= 5) {
        return false;
    }
    const char* lastFive = quoted + length - 5;
    return beginsWithNoCase(lastFive, ".gif") || beginsWithNoCase(lastFive, ".jpg") ||
           beginsWithNoCase(lastFive, ".png");
}

// Characters that would let a value break out of the STYLE tag it is put in.
void keepInsideAttribute(StringBuffer& value) {
    value.removeChar('"');
    value.removeChar('<');
    value.removeChar('>');
}

// A style sheet is put into the HTML as the text of a STYLE element, which
// ends at the first "</style"; escaped as CSS allows, that text cannot end
// the element and bring markup (a script) into the page.
void keepInsideStyleElement(StringBuffer& css) {
    const char* text = css.getString();
    const char* hit = findNoCase(text, "</style");
    if (hit == nullptr) {
        return;
    }
    StringBuffer out(css.getSize() + 16);
    const char* cursor = text;
    for (; hit != nullptr; hit = findNoCase(cursor, "</style")) {
        appendGrowing(out, cursor, static_cast<int>(hit - cursor) + 1);
        out.append("\\/");
        cursor = hit + 2;
    }
    out.append(cursor);
    css.setSb(out);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Created empty at the start of an image pass and closed at its end.
std::unique_ptr<std::FILE, FileCloser> openImageTagLog(bool wanted) {
    return std::unique_ptr<std::FILE, FileCloser>(wanted ? std::fopen(kImageTagLog, "w") : nullptr);
}

} // namespace

void Mhtml::setAttribute(StringBuffer& tag, const char* name, const char* value) {
    replaceAttributeValue(tag, name, value);
}

DiagnosticLog* Mhtml::cleanTagLog() const {
    return m_verboseTags ? m_log : nullptr;
}

void Mhtml::runPass(StringBuffer& html, const char* prefix, const char* attribute,
                    TagCapture capture, void (Mhtml::*rewrite)(FoundTag&, StringBuffer&)) {
    const TagLoopSettings settings{prefix, attribute, capture, cleanTagLog()};
    runTagLoop(html, settings,
               [&](FoundTag& tag, StringBuffer& out) { (this->*rewrite)(tag, out); });
}

// --- script and input sources -------------------------------------------

void Mhtml::rewriteSources(StringBuffer& html, const char* prefix) {
    const bool isScript = beginsWithNoCase(prefix, "<script");
    const TagLoopSettings settings{prefix, "SRC", TagCapture::Quoted, cleanTagLog()};
    runTagLoop(html, settings,
               [&](FoundTag& tag, StringBuffer& out) { rewriteSourceTag(tag, out, isScript); });
}

void Mhtml::rewriteSourceTag(FoundTag& tag, StringBuffer& out, bool isScript) {
    if (tag.value.getSize() == 0) {
        out.appendSb(tag.found);
        return;
    }
    StringBuffer resolved;
    resolveReference(tag.value.equals("#") ? "" : tag.value.getString(), resolved);
    if (isScript && !isScriptSource(resolved)) {
        out.appendSb(tag.found);
        return;
    }
    StringBuffer reference("cid:");
    StringBuffer contentId;
    contentIdFor(resolved.getString(), contentId);
    reference.appendSb(contentId);
    setAttribute(tag.cleaned, "SRC", reference.getString());
    out.appendSb(tag.cleaned);
}

// --- frames ---------------------------------------------------------------

void Mhtml::rewriteFrames(StringBuffer& html, const char* prefix) {
    runPass(html, prefix, "SRC", TagCapture::Quoted, &Mhtml::rewriteFrameTag);
}

// A frame keeps an address (its absolute URL), which becomes the
// Content-Location of its part.
void Mhtml::rewriteFrameTag(FoundTag& tag, StringBuffer& out) {
    if (tag.value.getSize() == 0) {
        if (m_keepScripts) {
            out.appendSb(tag.found);
        }
        return;
    }
    StringBuffer resolved;
    resolveReference(tag.value.getString(), resolved);
    StringBuffer contentId;
    contentIdFor(resolved.getString(), contentId);
    setAttribute(tag.cleaned, "SRC", resolved.getString());
    out.appendSb(tag.cleaned);
}

// --- images -----------------------------------------------------------------

void Mhtml::rewriteImages(StringBuffer& html) {
    for (const char* prefix : {"<img", "<v:"}) {
        const auto imageTagLog = openImageTagLog(m_logImageTags);
        runPass(html, prefix, "SRC", TagCapture::QuotedStrict, &Mhtml::rewriteImageTag);
    }
}

void Mhtml::rewriteImageTag(FoundTag& tag, StringBuffer& out) {
    if (tag.value.getSize() == 0) {
        if (m_keepScripts) {
            out.appendSb(tag.found);
        }
        return;
    }
    StringBuffer resolved;
    resolveReference(tag.value.getString(), resolved);
    StringBuffer reference("cid:");
    StringBuffer contentId;
    contentIdFor(resolved.getString(), contentId);
    reference.appendSb(contentId);
    setAttribute(tag.cleaned, "SRC", reference.getString());
    out.appendSb(tag.cleaned);
}

// --- links: areas, anchors, embeds --------------------------------------

void Mhtml::rewriteLinks(StringBuffer& html) {
    for (const char* prefix : {"<area", "<a ", "<a\r", "<a\n", "<a\t"}) {
        runPass(html, prefix, "HREF", TagCapture::QuotedAtMost900, &Mhtml::rewriteHrefTag);
    }
    runPass(html, "<embed", "SRC", TagCapture::QuotedAtMost900, &Mhtml::rewriteSrcLinkTag);
}

void Mhtml::rewriteHrefTag(FoundTag& tag, StringBuffer& out) {
    rewriteLinkValue(tag, out, "HREF");
}

void Mhtml::rewriteSrcLinkTag(FoundTag& tag, StringBuffer& out) {
    rewriteLinkValue(tag, out, "SRC");
}

// Links are made absolute so that they still work from the mail; "#" and,
// with scripts off, "javascript:" links become the document's directory.
void Mhtml::rewriteLinkValue(FoundTag& tag, StringBuffer& out, const char* attribute) {
    StringBuffer value;
    value.setSb(tag.value);
    if (value.getSize() == 0) {
        out.appendSb(tag.found);
        return;
    }
    if (beginsWithNoCase(value.getString(), "javascript:")) {
        if (!scriptsOff()) {
            out.appendSb(tag.found);
            return;
        }
        value.setString("#");
    } else if (beginsWithNoCase(value.getString(), "mailto:")) {
        out.appendSb(tag.found);
        return;
    }
    if (value.equals("#")) {
        value.clear();
    }
    StringBuffer absolute;
    resolveUrl(value.getString(), absolute);
    setAttribute(tag.cleaned, attribute, absolute.getString());
    out.appendSb(tag.cleaned);
}

// --- images named in mouse-over scripts -----------------------------------

void Mhtml::rewriteRollovers(StringBuffer& html) {
    if (findNoCase(html.getString(), "<a") == nullptr) {
        return;
    }
    ParseEngine scanner;
    scanner.load(html.getString());
    const char* text = scanner.text.getString();
    StringBuffer out(scanner.text.getSize() + 1);
    for (;;) {
        const int before = scanner.pos;
        if (!scanner.seekTo("<a")) {
            break;
        }
        appendGrowing(out, text + before, scanner.pos + 2 - before);
        scanner.pos += 2;
        StringBuffer rest;
        scanner.captureUntilCharQuoted('>', rest);
        if (rest.containsNoCase("onmouseover")) {
            StringBuffer rebuilt(rest.getSize() + 64);
            rebuildRollover(rest, rebuilt);
            appendGrowing(out, rebuilt);
        } else {
            appendGrowing(out, rest);
        }
    }
    appendGrowing(out, text + scanner.pos, scanner.text.getSize() - scanner.pos);
    html.setSb(out);
}

// The rest of an anchor tag, rebuilt by its single-quoted strings: a string
// that names a GIF, JPEG or PNG image becomes its "cid:" reference.
void Mhtml::rebuildRollover(const StringBuffer& rest, StringBuffer& out) {
    const char* text = rest.getString();
    const char* open = std::strchr(text, '\'');
    if (open == nullptr) {
        out.appendSb(rest);
        return;
    }
    out.appendBytes(text, static_cast<int>(open - text) + 1);
    const char* cursor = open + 1;
    for (;;) {
        const char* close = std::strchr(cursor, '\'');
        if (close == nullptr) {
            break;
        }
        const int length = static_cast<int>(close - cursor) + 1;
        if (isRolloverImage(cursor, length)) {
            StringBuffer image;
            image.appendBytes(cursor, length - 1);
            StringBuffer resolved;
            resolveReference(image.getString(), resolved);
            StringBuffer contentId;
            contentIdFor(resolved.getString(), contentId);
            out.append("cid:");
            out.appendSb(contentId);
            out.appendChar('\'');
        } else {
            out.appendBytes(cursor, length);
        }
        cursor = close + 1;
        const char* nextOpen = std::strchr(cursor, '\'');
        if (nextOpen == nullptr) {
            break;
        }
        out.appendBytes(cursor, static_cast<int>(nextOpen - cursor) + 1);
        cursor = nextOpen + 1;
    }
    out.append(cursor);
}

// --- link tags: style sheets and other links -----------------------------

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
    const bool isStyleSheet = (type.equalsNoCase("text/css") || type.equalsNoCase("stylesheet")) &&
                              !relation.containsNoCase("alternate");
    if (isStyleSheet) {
        inlineStyleSheet(tag, cleaned, out);
        return;
    }
    StringBuffer href;
    getAttributeValue(cleaned.getString(), "HREF", href);
    if (href.getSize() == 0) {
        out.appendSb(tag.found);
        return;
    }
    StringBuffer absolute;
    resolveUrl(href.equals("#") ? "" : href.getString(), absolute);
    setAttribute(cleaned, "HREF", absolute.getString());
    out.appendSb(cleaned);
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
    StringBuffer url;
    if (m_local) {
        url.setSb(href);
    } else {
        resolveUrl(href.getString(), url);
    }
    StringBuffer media;
    getAttributeValue(cleaned.getString(), "MEDIA", media);
    StringBuffer block;
    if (fetchStyleSheet(url.getString(), block, media.getString())) {
        out.appendSb(block);
        return;
    }
    if (m_log != nullptr) {
        m_log->logError("Failed to download style sheet");
        m_log->logData("style_sheet_url", url.getString());
    }
    out.appendSb(tag.found);
}

// --- background attributes ------------------------------------------------

void Mhtml::rewriteBackgrounds(StringBuffer& html) {
    for (const char* prefix : {"<body", "<table", "<td"}) {
        runPass(html, prefix, "BACKGROUND", TagCapture::Quoted, &Mhtml::rewriteBackgroundTag);
    }
}

void Mhtml::rewriteBackgroundTag(FoundTag& tag, StringBuffer& out) {
    if (tag.value.getSize() == 0) {
        out.appendSb(tag.found);
        return;
    }
    StringBuffer resolved;
    resolveReference(tag.value.getString(), resolved);
    // A page named as a background is no picture: the tag stays as it is.
    if (isPageUrl(resolved.getString())) {
        out.appendSb(tag.found);
        return;
    }
    StringBuffer reference("cid:");
    StringBuffer contentId;
    contentIdFor(resolved.getString(), contentId);
    reference.appendSb(contentId);
    setAttribute(tag.cleaned, "BACKGROUND", reference.getString());
    out.appendSb(tag.cleaned);
}

// --- style sheets -----------------------------------------------------------

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

bool Mhtml::fetchStyleSheet(const char* url, StringBuffer& out, const char* media) {
    DataBuffer data;
    if (!fetchResource(url, data)) {
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
        StyleSheetScope scope(*this, url);
        extractStyleBlocks(css, blocks, false);
        replaceEvery(css, "<vantrel_style>", "");
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

// --- fetching -----------------------------------------------------------------

void Mhtml::refuseLocalRead(const char* url) {
    if (m_log != nullptr) {
        m_log->logError("Refused to read a local file for a page from the web");
        m_log->logData("url", url);
    }
}

bool Mhtml::fetchResource(const char* url, DataBuffer& data) {
    if (url == nullptr) {
        return false;
    }
    if (noteLinkedSheet(url)) {
        return false;
    }
    if (isWebUrl(url)) {
        // A download made ahead stands for downloadUrl's first try.
        if (!takePrefetched(url, data)) {
            VantrelHTTP* client = downloadUrl(url, m_proxy.getString(), m_httpLogin.getString(),
                                              m_httpPassword.getString(), data, m_directAccess,
                                              m_log, m_ignoreCertErrors);
            if (client == nullptr) {
                return false;
            }
            delete client;
        }
        if (m_log != nullptr) {
            m_log->logData("http_get", url);
        }
        return data.getSize() > 0;
    }
    // A page from the web must not put the user's own files into the mail.
    if (currentContext().m_fromWeb) {
        refuseLocalRead(url);
        return false;
    }
    StringBuffer path(url);
    stripFileUrlPrefixes(path);
    return data.loadFile(path.getString(), m_log);
}
