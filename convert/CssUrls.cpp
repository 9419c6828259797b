// The CSS references of style text: style blocks (taken out by the
// clean-up), style sheets put into the page (StyleSheets.cpp) and, in the
// complete mode, imported sheets and style attributes (CompletePasses.cpp).
// The default mode embeds the pictures of background-image properties; the
// complete mode every url(), the sheets @import brings in and one source per
// web font. Each reference goes through the embedding step.

#include "Mhtml.h"

#include "convert/ContentIdIndex.h"
#include "convert/ConvertText.h"
#include "convert/CssReferences.h"
#include "convert/MarkupScan.h"
#include "convert/StyleSheetScope.h"
#include "convert/TagAttributeEdits.h"
#include "foundation/DataBuffer.h"
#include "foundation/DiagnosticLog.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kBackgroundImage = "background-image";
constexpr int kMaxCssBackgrounds = 100;
// Browsers give up on deeper chains of imports long before; a sheet that
// imports itself is stopped by the chain test.
constexpr size_t kMaxImportDepth = 8;
constexpr size_t kNone = std::string_view::npos;

const char* skipCssSpace(const char* p) {
    while (isCssSpace(*p)) {
        ++p;
    }
    return p;
}

// A fetched sheet as text: up to its first NUL, without a byte-order mark,
// which in the middle of a style block would spoil the rule behind it.
std::string sheetText(const DataBuffer& data) {
    const auto* bytes = reinterpret_cast<const char*>(data.getData());
    if (bytes == nullptr) {
        return {};
    }
    std::string text(bytes, strnlen(bytes, data.getSize()));
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text.erase(0, 3);
    }
    return text;
}

// A sheet's name in the chain of imports: folded, with "." and ".."
// segments of its path taken out, so that "css/sub/../a.css" is "css/a.css".
std::string importKey(const char* url) {
    const std::string folded = ContentIdIndex::foldAscii(url);
    const size_t scheme = folded.find("://");
    size_t pathStart = 0;
    if (scheme != std::string::npos) {
        const size_t slash = folded.find('/', scheme + 3);
        pathStart = slash == std::string::npos ? folded.size() : slash;
    }
    const size_t queryStart = std::min(folded.find_first_of("?#", pathStart), folded.size());
    std::vector<std::string> segments;
    size_t start = pathStart;
    while (start <= queryStart) {
        size_t end = folded.find('/', start);
        if (end == std::string::npos || end > queryStart) {
            end = queryStart;
        }
        const std::string segment = folded.substr(start, end - start);
        if (segment == "..") {
            if (!segments.empty() && segments.back() != ".." && !segments.back().empty()) {
                segments.pop_back();
            } else if (segments.empty() || segments.back() == "..") {
                segments.push_back(segment);
            }
        } else if (segment != ".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string key = folded.substr(0, pathStart);
    for (size_t k = 0; k < segments.size(); ++k) {
        if (k > 0) {
            key.push_back('/');
        }
        key += segments[k];
    }
    key += folded.substr(queryStart);
    return key;
}

// Restores the chain of sheets being imported on every way out.
class ImportChainEntry {
public:
    ImportChainEntry(std::vector<std::string>& chain, std::string url) : m_chain(chain) {
        m_chain.push_back(std::move(url));
    }
    ~ImportChainEntry() { m_chain.pop_back(); }
    ImportChainEntry(const ImportChainEntry&) = delete;
    ImportChainEntry& operator=(const ImportChainEntry&) = delete;

private:
    std::vector<std::string>& m_chain;
};

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

} // namespace

// --- the default mode: background-image --------------------------------------------

void Mhtml::rewriteCssBackgrounds(StringBuffer& text) {
    if (m_completePage) {
        rewriteCssReferences(text);
        return;
    }
    embedBackgroundImages(text);
    // Every other url() is written as its absolute address: a relative one
    // means nothing inside a message.
    rewriteCssReferences(text);
}

void Mhtml::embedBackgroundImages(StringBuffer& text) {
    const char* source = text.getString();
    const char* hit = findNoCase(source, kBackgroundImage);
    if (hit == nullptr) {
        replaceEvery(text, kCssHandledMarker, kBackgroundImage);
        return;
    }
    const int propertyLength = static_cast<int>(std::strlen(kBackgroundImage));
    const std::string_view all(source, std::strlen(source));
    StringBuffer out(static_cast<int>(all.size()) + 1);
    const char* cursor = source;
    for (int handled = 0; hit != nullptr && handled < kMaxCssBackgrounds; ++handled) {
        appendGrowing(out, cursor, static_cast<int>(hit - cursor));
        out.append(kCssHandledMarker);
        cursor = hit + propertyLength;
        const char* p = skipCssSpace(cursor);
        if (*p == ':') {
            p = skipCssSpace(p + 1);
            if (beginsWithNoCase(p, "url(")) {
                // The value is read as CSS reads a url() ("a).png" in quotes is
                // one address); a broken one runs to the first ")", and one
                // without a ")" is empty and is embedded where it stands, as
                // the base address.
                const char* value = p + 4;
                size_t length = CssReferences::urlValueLength(all, static_cast<size_t>(p - source));
                if (length == 0) {
                    const char* close = std::strchr(value, ')');
                    length = close != nullptr ? static_cast<size_t>(close - value) : 0;
                }
                const std::string address = CssReferences::urlAddress(
                    std::string_view(value, length), CssReferences::Context::Sheet);
                EmbeddedReference embedded;
                appendGrowing(out, cursor, static_cast<int>(value - cursor));
                if (embedReference(address, ReferenceKind::Resource, ReferenceSyntax::Css,
                                   embedded)) {
                    appendGrowing(out, embedded.text);
                } else {
                    appendGrowing(out, value, static_cast<int>(length));
                }
                cursor = value + length;
            }
        }
        hit = findNoCase(cursor, kBackgroundImage);
    }
    appendGrowing(out, cursor, static_cast<int>(std::strlen(cursor)));
    text.setSb(out);
    replaceEvery(text, kCssHandledMarker, kBackgroundImage);
}

// --- every url(): embedded in the complete mode, made absolute in the default one ---

CssReferences::Callbacks Mhtml::cssCallbacks(ReferenceSyntax syntax) {
    CssReferences::Callbacks callbacks;
    callbacks.url = [this, syntax](const std::string& address, std::string& replacement) {
        return cssUrlReplacement(address, syntax, replacement);
    };
    if (syntax == ReferenceSyntax::Css) {
        callbacks.import = [this](const std::string& address, std::string& sheet) {
            return importStyleSheet(address, sheet);
        };
    }
    callbacks.chooseFontSource = m_completePage;
    return callbacks;
}

bool Mhtml::cssUrlReplacement(const std::string& address, ReferenceSyntax syntax,
                              std::string& replacement) {
    // The default mode's background pass has embedded this one already.
    if (beginsWithNoCase(address.c_str(), "cid:")) {
        return false;
    }
    EmbeddedReference embedded;
    const ReferenceKind kind = m_completePage ? ReferenceKind::Resource : ReferenceKind::Link;
    if (!embedReference(address, kind, syntax, embedded)) {
        return false;
    }
    replacement.assign(embedded.text.getString(), static_cast<size_t>(embedded.text.getSize()));
    return true;
}

void Mhtml::rewriteCssReferences(StringBuffer& css) {
    const std::string rewritten = CssReferences::rewrite(
        std::string_view(css.getString(), static_cast<size_t>(css.getSize())),
        CssReferences::Context::Sheet, cssCallbacks(ReferenceSyntax::Css));
    css.clear();
    appendGrowing(css, rewritten.data(), static_cast<int>(rewritten.size()));
}

// A sheet that is not put into the page keeps its rule, with its absolute
// address.
CssReferences::ImportAction Mhtml::keepImportAddress(const EmbeddedReference& imported,
                                                     std::string& sheet) {
    StringBuffer text;
    appendAddressText(imported.address.getString(), ReferenceSyntax::Css, text);
    sheet.assign(text.getString(), static_cast<size_t>(text.getSize()));
    return CssReferences::ImportAction::Rewrite;
}

CssReferences::ImportAction Mhtml::importStyleSheet(const std::string& address,
                                                    std::string& sheet) {
    EmbeddedReference imported;
    if (!embedReference(address, ReferenceKind::StyleSheet, ReferenceSyntax::Css, imported)) {
        return CssReferences::ImportAction::Keep;
    }
    const char* url = imported.address.getString();
    if (!m_completePage) {
        return keepImportAddress(imported, sheet);
    }
    if (excluded(url)) {
        if (m_log != nullptr) {
            m_log->logInfo("Skipping because explicitly excluded.");
            m_log->logData("style_sheet_url", url);
        }
        return keepImportAddress(imported, sheet);
    }
    const std::string folded = importKey(url);
    const bool tooDeep = m_importing.size() >= kMaxImportDepth;
    if (tooDeep || std::find(m_importing.begin(), m_importing.end(), folded) != m_importing.end()) {
        if (m_log != nullptr) {
            m_log->logInfo(tooDeep ? "Skipping style sheet: imported too deeply"
                                   : "Skipping style sheet: already being imported");
            m_log->logData("style_sheet_url", url);
        }
        return CssReferences::ImportAction::Drop;
    }
    DataBuffer data;
    StringBuffer finalUrl;
    if (!fetchResource(url, data, &finalUrl)) {
        if (m_log != nullptr) {
            m_log->logError("Failed to download style sheet");
            m_log->logData("style_sheet_url", url);
        }
        return keepImportAddress(imported, sheet);
    }
    StringBuffer css;
    const std::string text = sheetText(data);
    appendGrowing(css, text.data(), static_cast<int>(text.size()));
    {
        const ImportChainEntry entry(m_importing, folded);
        const StyleSheetScope scope(*this, finalUrl.getString());
        rewriteCssReferences(css);
    }
    sheet.assign(css.getString(), static_cast<size_t>(css.getSize()));
    keepInsideStyleElement(sheet);
    return CssReferences::ImportAction::Inline;
}

// --- style attributes ----------------------------------------------------------------

void Mhtml::rewriteStyleAttributes(StringBuffer& html) {
    const std::string_view text(html.getString(), static_cast<size_t>(html.getSize()));
    const bool lazyBackgrounds = m_completePage && findNoCaseFrom(text, "data-bg", 0) != kNone;
    if (!lazyBackgrounds && findNoCaseFrom(text, "url(", 0) == kNone) {
        return;
    }
    const CssReferences::Callbacks callbacks = cssCallbacks(ReferenceSyntax::StyleAttribute);
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t lt = text.find('<', pos);
        if (lt == kNone) {
            break;
        }
        out.append(text.substr(pos, lt - pos));
        pos = lt;
        const size_t opaqueEnd = endOfOpaqueStretch(text, lt);
        if (opaqueEnd != kNone) {
            out.append(text.substr(lt, opaqueEnd - lt));
            pos = opaqueEnd;
            continue;
        }
        if (lt + 1 >= text.size() || !isAsciiLetter(text[lt + 1])) {
            out.push_back('<');
            pos = lt + 1;
            continue;
        }
        const RawTag tag = readRawTag(text, lt);
        if (tag.end == kNone) {
            break;
        }
        rewriteStyleAttribute(text.substr(lt, tag.end + 1 - lt), tag, lt, callbacks, out);
        pos = tag.end + 1;
    }
    out.append(text.substr(pos));
    html.clear();
    appendGrowing(html, out.data(), static_cast<int>(out.size()));
}

// One start tag (raw, with positions of tag relative to the document at
// offset): its style attribute with every url() rewritten, and in the complete
// mode a lazy loader's data-bg picture as its background image.
void Mhtml::rewriteStyleAttribute(std::string_view raw, const RawTag& tag, size_t offset,
                                  const CssReferences::Callbacks& callbacks, std::string& out) {
    std::string style;
    if (tag.style.present) {
        style = raw.substr(tag.style.start - offset, tag.style.end - tag.style.start);
    }
    // The style attribute keeps its quotes; a new one gets double quotes.
    const char attributeQuote = tag.style.present && tag.style.quote != 0 ? tag.style.quote : '"';
    const bool lazy =
        m_completePage && tag.lazyBackground.present &&
        addLazyBackground(raw.substr(tag.lazyBackground.start - offset,
                                     tag.lazyBackground.end - tag.lazyBackground.start),
                          attributeQuote, style);
    if (!lazy && findNoCaseFrom(style, "url(", 0) == kNone) {
        out.append(raw);
        return;
    }
    const std::string rewritten =
        CssReferences::rewrite(style, CssReferences::Context::Attribute, callbacks);
    if (!tag.style.present) {
        // Behind the tag name and its attributes, before "/>" or ">".
        const size_t close = raw.size() - 1 - (raw.size() >= 2 && raw[raw.size() - 2] == '/');
        out.append(raw.substr(0, close));
        out += std::string(" style=\"") + rewritten + "\"";
        out.append(raw.substr(close));
        return;
    }
    const size_t valueStart = tag.style.start - offset;
    const size_t valueEnd = tag.style.end - offset;
    // An unquoted value stays so while it can.
    const bool addQuotes =
        tag.style.quote == 0 && rewritten.find_first_of(" \t\r\n\f>") != std::string::npos;
    out.append(raw.substr(0, valueStart));
    out += addQuotes ? "\"" : "";
    out += rewritten;
    out += addQuotes ? "\"" : "";
    out.append(raw.substr(valueEnd));
}

// data-bg holds a picture's address (or a whole url() value) that the lazy
// loader's script would have made the element's background image. False when
// it cannot stand inside the style attribute's quotes.
bool Mhtml::addLazyBackground(std::string_view value, char attributeQuote, std::string& style) {
    const std::string_view trimmed = value.substr(0, value.find_last_not_of(" \t\r\n\f") + 1);
    if (trimmed.empty() || trimmed.find(attributeQuote) != std::string_view::npos) {
        return false;
    }
    const char cssQuote = attributeQuote == '"' ? '\'' : '"';
    std::string image;
    if (findNoCaseFrom(trimmed, "url(", 0) != kNone) {
        image = trimmed;
    } else if (trimmed.find(cssQuote) == std::string_view::npos) {
        image = std::string("url(") + cssQuote + std::string(trimmed) + cssQuote + ")";
    } else {
        return false;
    }
    const size_t last = style.find_last_not_of(" \t\r\n\f");
    if (last != std::string::npos && style[last] != ';') {
        style += ';';
    }
    style += "background-image:" + image;
    return true;
}
