// The complete mode: what today's pages show beyond image sources,
// background-image properties and linked style sheets. Every CSS url() (in
// style blocks, style sheets, imported sheets and style attributes), the
// sheets that @import brings in, one source per web font, one candidate per
// srcset, lazy images, video posters; a meta refresh is removed. Each step
// registers what it embeds in the resource map, so that the resource loop
// makes the parts by its usual rules.

#include "Mhtml.h"

#include "convert/ContentIdIndex.h"
#include "convert/CssReferences.h"
#include "convert/MarkupScan.h"
#include "convert/SrcsetChoice.h"
#include "convert/StyleSheetScope.h"
#include "convert/TagAttributeEdits.h"
#include "foundation/DataBuffer.h"
#include "foundation/DiagnosticLog.h"
#include "mime/HtmlTags.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Browsers give up on deeper chains of imports long before; a sheet that
// imports itself is stopped by the chain test.
constexpr size_t kMaxImportDepth = 8;
constexpr const char* kLazySources[] = {"data-src", "data-original", "data-lazy-src"};
constexpr size_t kNone = std::string_view::npos;

std::string_view viewOf(const StringBuffer& text) {
    return {text.getString(), static_cast<size_t>(text.getSize())};
}

void assign(StringBuffer& text, const std::string& value) {
    text.clear();
    appendGrowing(text, value.data(), static_cast<int>(value.size()));
}

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

size_t findNoCaseFrom(std::string_view text, std::string_view needle, size_t from) {
    for (size_t i = from; i + needle.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < needle.size()) {
            char c = text[i + k];
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c + ('a' - 'A'));
            }
            if (c != needle[k]) {
                break;
            }
            ++k;
        }
        if (k == needle.size()) {
            return i;
        }
    }
    return kNone;
}

// data: addresses carry their picture already; a bare fragment names
// something in the document itself.
bool leftAlone(const std::string& address) {
    return address.empty() || address[0] == '#' || beginsWithNoCase(address.c_str(), "data:");
}

// A fragment travels behind the content-id; characters that would end the
// url() value or the attribute around it are percent-encoded.
void appendFragment(std::string_view fragment, std::string& out) {
    static const char kHex[] = "0123456789ABCDEF";
    for (const char c : fragment) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= ' ' || c == '"' || c == '\'' || c == '(' || c == ')' || c == '\\' || c == '<' ||
            c == '>' || u >= 0x7F) {
            out.push_back('%');
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 0x0F]);
        } else {
            out.push_back(c);
        }
    }
}

// The text of a STYLE element ends at the first "</style"; an imported
// sheet is escaped as CSS allows so that it cannot end it.
void keepInsideStyleElement(std::string& css) {
    size_t hit = findNoCaseFrom(css, "</style", 0);
    if (hit == kNone) {
        return;
    }
    std::string out;
    out.reserve(css.size() + 16);
    size_t cursor = 0;
    for (; hit != kNone; hit = findNoCaseFrom(css, "</style", cursor)) {
        out.append(css, cursor, hit + 1 - cursor);
        out.push_back('\\');
        cursor = hit + 1;
    }
    out.append(css, cursor, std::string::npos);
    css.swap(out);
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

bool hasQuote(const StringBuffer& value) {
    return std::strpbrk(value.getString(), "\"'") != nullptr;
}

// Where a stretch that no tag pass looks into ends, when one begins at lt:
// a comment, a style element, a script element; kNone otherwise. An
// unclosed one runs to the end.
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

// data-src and its kin become SRC, data-srcset becomes SRCSET, and an image
// with a srcset but no SRC (or a lazy image with a data: placeholder) gets
// the kept candidate as SRC. True when the cleaned tag changed.
bool promoteLazyAttributes(StringBuffer& tag, bool isImage) {
    bool changed = false;
    if (isImage) {
        for (const char* name : kLazySources) {
            StringBuffer value;
            getAttributeValue(tag.getString(), name, value);
            if (value.getSize() == 0 || hasQuote(value)) {
                continue;
            }
            AttributeSpan source;
            if (findTagAttribute(viewOf(tag), "src", source)) {
                replaceAttributeValue(tag, "src", value.getString());
                removeTagAttribute(tag, name);
            } else {
                removeBareTagAttributes(tag, "src");
                renameTagAttribute(tag, name, "src");
            }
            changed = true;
            break;
        }
    }
    StringBuffer lazySet;
    getAttributeValue(tag.getString(), "data-srcset", lazySet);
    if (lazySet.getSize() > 0 && !hasQuote(lazySet)) {
        AttributeSpan set;
        if (findTagAttribute(viewOf(tag), "srcset", set)) {
            replaceAttributeValue(tag, "srcset", lazySet.getString());
            removeTagAttribute(tag, "data-srcset");
        } else {
            removeBareTagAttributes(tag, "srcset");
            renameTagAttribute(tag, "data-srcset", "srcset");
        }
        changed = true;
    }
    if (!isImage) {
        return changed;
    }
    // A lazy image's placeholder (often a data: picture, which the image
    // pass would take for a relative address) gives way to the srcset's
    // candidate, as the loader's script would have it.
    StringBuffer source;
    getAttributeValue(tag.getString(), "src", source);
    if (source.getSize() > 0 && !(changed && beginsWithNoCase(source.getString(), "data:"))) {
        return changed;
    }
    StringBuffer srcset;
    getAttributeValue(tag.getString(), "srcset", srcset);
    const std::string chosen = SrcsetChoice::chosenUrl(viewOf(srcset));
    if (chosen.empty() || chosen.find_first_of("\"'") != std::string::npos) {
        return changed;
    }
    AttributeSpan empty;
    if (findTagAttribute(viewOf(tag), "src", empty)) {
        replaceAttributeValue(tag, "src", chosen.c_str());
    } else {
        removeBareTagAttributes(tag, "src");
        insertTagAttribute(tag, "src", chosen.c_str());
    }
    return true;
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

} // namespace

// --- style text -----------------------------------------------------------------

void Mhtml::rewriteCssReferences(StringBuffer& css) {
    CssReferences::Callbacks callbacks;
    callbacks.url = [this](const std::string& address, std::string& replacement) {
        return cssUrlReplacement(address, replacement);
    };
    callbacks.import = [this](const std::string& address, std::string& sheet) {
        return importStyleSheet(address, sheet);
    };
    assign(css, CssReferences::rewrite(viewOf(css), CssReferences::Context::Sheet, callbacks));
}

bool Mhtml::cssUrlReplacement(const std::string& address, std::string& replacement) {
    if (leftAlone(address)) {
        return false;
    }
    const size_t hash = address.find('#');
    const std::string reference = address.substr(0, hash);
    StringBuffer resolved;
    resolveCssValue(reference.c_str(), resolved);
    StringBuffer contentId;
    contentIdFor(resolved.getString(), contentId);
    replacement = "cid:";
    replacement += contentId.getString();
    if (hash != std::string::npos) {
        appendFragment(std::string_view(address).substr(hash), replacement);
    }
    return true;
}

// What the user excluded is not fetched, whether as a part or as a sheet.
bool Mhtml::excluded(const char* url) const {
    for (int i = 0; i < m_excludes.getSize(); ++i) {
        const auto* exclude = static_cast<const StringBuffer*>(m_excludes.elementAt(i));
        if (exclude != nullptr && std::strstr(url, exclude->getString()) != nullptr) {
            return true;
        }
    }
    return false;
}

CssReferences::ImportAction Mhtml::importStyleSheet(const std::string& address,
                                                    std::string& sheet) {
    const std::string reference = address.substr(0, address.find('#'));
    if (leftAlone(reference)) {
        return CssReferences::ImportAction::Keep;
    }
    StringBuffer resolved;
    resolveCssValue(reference.c_str(), resolved);
    if (excluded(resolved.getString())) {
        if (m_log != nullptr) {
            m_log->logInfo("Skipping because explicitly excluded.");
            m_log->logData("style_sheet_url", resolved.getString());
        }
        return CssReferences::ImportAction::Keep;
    }
    const std::string folded = importKey(resolved.getString());
    const bool tooDeep = m_importing.size() >= kMaxImportDepth;
    if (tooDeep || std::find(m_importing.begin(), m_importing.end(), folded) != m_importing.end()) {
        if (m_log != nullptr) {
            m_log->logInfo(tooDeep ? "Skipping style sheet: imported too deeply"
                                   : "Skipping style sheet: already being imported");
            m_log->logData("style_sheet_url", resolved.getString());
        }
        return CssReferences::ImportAction::Drop;
    }
    DataBuffer data;
    if (!fetchResource(resolved.getString(), data)) {
        if (m_log != nullptr) {
            m_log->logError("Failed to download style sheet");
            m_log->logData("style_sheet_url", resolved.getString());
        }
        return CssReferences::ImportAction::Keep;
    }
    StringBuffer css;
    assign(css, sheetText(data));
    {
        const ImportChainEntry entry(m_importing, folded);
        const StyleSheetScope scope(*this, resolved.getString());
        rewriteCssReferences(css);
    }
    sheet.assign(css.getString(), static_cast<size_t>(css.getSize()));
    keepInsideStyleElement(sheet);
    return CssReferences::ImportAction::Inline;
}

void Mhtml::rewriteStyleAttributes(StringBuffer& html) {
    const std::string_view text = viewOf(html);
    if (findNoCaseFrom(text, "url(", 0) == kNone) {
        return;
    }
    CssReferences::Callbacks callbacks;
    callbacks.url = [this](const std::string& address, std::string& replacement) {
        return cssUrlReplacement(address, replacement);
    };
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
        const std::string_view style = text.substr(tag.styleStart, tag.styleEnd - tag.styleStart);
        if (tag.hasStyle && findNoCaseFrom(style, "url(", 0) != kNone) {
            out.append(text.substr(lt, tag.styleStart - lt));
            out.append(CssReferences::rewrite(style, CssReferences::Context::Attribute, callbacks));
            out.append(text.substr(tag.styleEnd, tag.end + 1 - tag.styleEnd));
        } else {
            out.append(text.substr(lt, tag.end + 1 - lt));
        }
        pos = tag.end + 1;
    }
    out.append(text.substr(pos));
    assign(html, out);
}

// --- images -------------------------------------------------------------------------

void Mhtml::promoteLazyImages(StringBuffer& html) {
    if (!html.containsNoCase("data-") && !html.containsNoCase("srcset")) {
        return;
    }
    const TagLoopSettings settings{"<img", nullptr, TagCapture::QuotedStrict, nullptr};
    runTagLoop(html, settings, [](FoundTag& tag, StringBuffer& out) {
        StringBuffer cleaned;
        cleaned.setSb(tag.cleaned);
        out.appendSb(promoteLazyAttributes(cleaned, true) ? cleaned : tag.found);
    });
}

void Mhtml::rewriteResponsiveImages(StringBuffer& html) {
    if (!html.containsNoCase("srcset")) {
        return;
    }
    runPass(html, "<img", "SRCSET", TagCapture::QuotedStrict, &Mhtml::rewriteSrcsetTag);
    if (!html.containsNoCase("<picture")) {
        return;
    }
    scanBlocks(
        html, "<picture", "</picture>", [this](const char* block, int length, StringBuffer& out) {
            StringBuffer picture(length + 1);
            picture.appendBytes(block, length);
            const TagLoopSettings lazy{"<source", nullptr, TagCapture::Quoted, nullptr};
            runTagLoop(picture, lazy, [](FoundTag& tag, StringBuffer& sourceOut) {
                StringBuffer cleaned;
                cleaned.setSb(tag.cleaned);
                sourceOut.appendSb(promoteLazyAttributes(cleaned, false) ? cleaned : tag.found);
            });
            runPass(picture, "<source", "SRCSET", TagCapture::Quoted, &Mhtml::rewriteSrcsetTag);
            appendGrowing(out, picture);
        });
}

// The srcset keeps one candidate, embedded; sizes no longer has anything to
// choose from.
void Mhtml::rewriteSrcsetTag(FoundTag& tag, StringBuffer& out) {
    const std::string url = SrcsetChoice::chosenUrl(viewOf(tag.value));
    if (url.empty()) {
        out.appendSb(tag.found);
        return;
    }
    StringBuffer reference;
    if (beginsWithNoCase(url.c_str(), "data:")) {
        reference.setString(url.c_str());
    } else {
        StringBuffer resolved;
        resolveReference(url.c_str(), resolved);
        StringBuffer contentId;
        contentIdFor(resolved.getString(), contentId);
        reference.setString("cid:");
        reference.appendSb(contentId);
    }
    StringBuffer cleaned;
    cleaned.setSb(tag.cleaned);
    setAttribute(cleaned, "SRCSET", reference.getString());
    removeTagAttribute(cleaned, "sizes");
    out.appendSb(cleaned);
}

void Mhtml::rewritePosters(StringBuffer& html) {
    const TagLoopSettings settings{"<video", "POSTER", TagCapture::Quoted, cleanTagLog()};
    runTagLoop(html, settings, [this](FoundTag& tag, StringBuffer& out) {
        if (tag.value.getSize() == 0 || beginsWithNoCase(tag.value.getString(), "data:")) {
            out.appendSb(tag.found);
            return;
        }
        StringBuffer resolved;
        resolveReference(tag.value.getString(), resolved);
        StringBuffer contentId;
        contentIdFor(resolved.getString(), contentId);
        StringBuffer reference("cid:");
        reference.appendSb(contentId);
        setAttribute(tag.cleaned, "POSTER", reference.getString());
        out.appendSb(tag.cleaned);
    });
}

// A refresh would take the reader away from the message to the page.
void Mhtml::removeMetaRefresh(StringBuffer& html) {
    const TagLoopSettings settings{"<meta", "HTTP-EQUIV", TagCapture::Quoted, cleanTagLog()};
    runTagLoop(html, settings, [](FoundTag& tag, StringBuffer& out) {
        if (!tag.value.equalsNoCase("refresh")) {
            out.appendSb(tag.found);
        }
    });
}

void Mhtml::completeDocumentTags(StringBuffer& html) {
    rewriteResponsiveImages(html);
    rewritePosters(html);
    rewriteStyleAttributes(html);
    removeMetaRefresh(html);
}
