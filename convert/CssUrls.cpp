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

} // namespace

// --- the default mode: background-image --------------------------------------------

void Mhtml::rewriteCssBackgrounds(StringBuffer& text) {
    if (m_completePage) {
        rewriteCssReferences(text);
        return;
    }
    const char* source = text.getString();
    const char* hit = findNoCase(source, kBackgroundImage);
    if (hit == nullptr) {
        replaceEvery(text, kCssHandledMarker, kBackgroundImage);
        return;
    }
    const int propertyLength = static_cast<int>(std::strlen(kBackgroundImage));
    StringBuffer out(static_cast<int>(std::strlen(source)) + 1);
    const char* cursor = source;
    for (int handled = 0; hit != nullptr && handled < kMaxCssBackgrounds; ++handled) {
        appendGrowing(out, cursor, static_cast<int>(hit - cursor));
        out.append(kCssHandledMarker);
        cursor = hit + propertyLength;
        const char* p = skipCssSpace(cursor);
        if (*p == ':') {
            p = skipCssSpace(p + 1);
            if (beginsWithNoCase(p, "url(")) {
                // The value runs to the first ")"; an empty one is embedded
                // where it stands, as the base address.
                const char* value = p + 4;
                const char* close = std::strchr(value, ')');
                const size_t length = close != nullptr ? static_cast<size_t>(close - value) : 0;
                const std::string address = CssReferences::urlAddress(
                    std::string_view(value, length), CssReferences::Context::Sheet);
                EmbeddedReference embedded;
                embedReference(address, ReferenceKind::Resource, ReferenceSyntax::Css, embedded);
                appendGrowing(out, cursor, static_cast<int>(value - cursor));
                appendGrowing(out, embedded.text);
                cursor = value + length;
            }
        }
        hit = findNoCase(cursor, kBackgroundImage);
    }
    appendGrowing(out, cursor, static_cast<int>(std::strlen(cursor)));
    text.setSb(out);
    replaceEvery(text, kCssHandledMarker, kBackgroundImage);
}

// --- the complete mode: every url(), imports, fonts ---------------------------------

CssReferences::Callbacks Mhtml::cssCallbacks(bool withImports) {
    CssReferences::Callbacks callbacks;
    callbacks.url = [this](const std::string& address, std::string& replacement) {
        EmbeddedReference embedded;
        if (!embedReference(address, ReferenceKind::Resource, ReferenceSyntax::Css, embedded)) {
            return false;
        }
        replacement.assign(embedded.text.getString(), static_cast<size_t>(embedded.text.getSize()));
        return true;
    };
    if (withImports) {
        callbacks.import = [this](const std::string& address, std::string& sheet) {
            return importStyleSheet(address, sheet);
        };
    }
    return callbacks;
}

void Mhtml::rewriteCssReferences(StringBuffer& css) {
    const std::string rewritten =
        CssReferences::rewrite(std::string_view(css.getString(), static_cast<size_t>(css.getSize())),
                               CssReferences::Context::Sheet, cssCallbacks(true));
    css.clear();
    appendGrowing(css, rewritten.data(), static_cast<int>(rewritten.size()));
}

CssReferences::ImportAction Mhtml::importStyleSheet(const std::string& address,
                                                    std::string& sheet) {
    EmbeddedReference imported;
    if (!embedReference(address, ReferenceKind::StyleSheet, ReferenceSyntax::Css, imported)) {
        return CssReferences::ImportAction::Keep;
    }
    const char* url = imported.address.getString();
    if (excluded(url)) {
        if (m_log != nullptr) {
            m_log->logInfo("Skipping because explicitly excluded.");
            m_log->logData("style_sheet_url", url);
        }
        return CssReferences::ImportAction::Keep;
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
    if (!fetchResource(url, data)) {
        if (m_log != nullptr) {
            m_log->logError("Failed to download style sheet");
            m_log->logData("style_sheet_url", url);
        }
        return CssReferences::ImportAction::Keep;
    }
    StringBuffer css;
    const std::string text = sheetText(data);
    appendGrowing(css, text.data(), static_cast<int>(text.size()));
    {
        const ImportChainEntry entry(m_importing, folded);
        const StyleSheetScope scope(*this, url);
        rewriteCssReferences(css);
    }
    sheet.assign(css.getString(), static_cast<size_t>(css.getSize()));
    keepInsideStyleElement(sheet);
    return CssReferences::ImportAction::Inline;
}
