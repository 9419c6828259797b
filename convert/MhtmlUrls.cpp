// Resolving references against the document, content-ids in the resource
// map, the page-URL test and the CSS background images of style text.

#include "Mhtml.h"

#include "convert/MarkupScan.h"
#include "foundation/StringPair.h"
#include "mime/Uuid.h"

#include <cstring>
#include <unistd.h>

namespace {

constexpr const char* kContentIdPrefix = "VANTREL-CID-";
constexpr const char* kBackgroundImage = "background-image";
constexpr const char* kHandledMarker = "ab8s9asdfsld";
constexpr int kMaxCssBackgrounds = 100;

bool isCssSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

const char* skipCssSpace(const char* p) {
    while (isCssSpace(*p)) {
        ++p;
    }
    return p;
}

// Absolute in the sense of the resolution rules: a scheme that names a
// place, or a drive or host behind ":".
bool isAbsoluteReference(const char* reference) {
    return beginsWithNoCase(reference, "http:") || beginsWithNoCase(reference, "https:") ||
           beginsWithNoCase(reference, "file:") || std::strstr(reference, ":/") != nullptr ||
           std::strstr(reference, ":\\") != nullptr;
}

// Cuts url right behind the first extension (any case) that a "?" follows.
void dropQueryBehind(StringBuffer& url, const char* extensionWithQuery) {
    const char* hit = findNoCase(url.getString(), extensionWithQuery);
    if (hit != nullptr) {
        const int keep = static_cast<int>(hit - url.getString()) + 4;
        url.shorten(url.getSize() - keep);
    }
}

// A url() value as an address: without surrounding white space and without
// one pair of matching quotes.
void cssAddress(const char* value, int length, StringBuffer& out) {
    const char* start = value;
    const char* end = value + length;
    while (start < end && isCssSpace(*start)) {
        ++start;
    }
    while (end > start && isCssSpace(end[-1])) {
        --end;
    }
    if (end - start >= 2 && (*start == '"' || *start == '\'') && end[-1] == *start) {
        ++start;
        --end;
    }
    out.appendBytes(start, static_cast<int>(end - start));
}

bool containsAnyNoCase(const char* text, const char* const* needles, int count) {
    for (int i = 0; i < count; ++i) {
        if (findNoCase(text, needles[i]) != nullptr) {
            return true;
        }
    }
    return false;
}

} // namespace

void Mhtml::resolveUrl(const char* reference, StringBuffer& out) {
    const char* ref = reference != nullptr ? reference : "";
    StringBuffer resolved;
    if (isAbsoluteReference(ref)) {
        resolved.append(ref);
    } else if (ref[0] == '/' && ref[1] == '/') {
        resolved.append("http:");
        resolved.append(ref);
    } else {
        const bool fromRoot = ref[0] == '/' && currentRootUrl().getSize() > 0;
        resolved.appendSb(fromRoot ? currentRootUrl() : currentBaseUrl());
        if (resolved.getSize() > 0) {
            if (resolved.lastChar() != '/') {
                resolved.appendChar('/');
            }
            if (ref[0] == '/') {
                ++ref;
            }
        }
        resolved.append(ref);
    }
    dropQueryBehind(resolved, ".gif?");
    dropQueryBehind(resolved, ".jpg?");
    out.appendSb(resolved);
}

void Mhtml::resolveReference(const char* reference, StringBuffer& out) {
    if (m_local) {
        out.setString(reference);
        return;
    }
    resolveUrl(reference, out);
}

void Mhtml::newContentId(StringBuffer& out) {
    StringBuffer uuid;
    makeUuidText(uuid);
    out.setString(kContentIdPrefix);
    out.appendSb(uuid);
}

void Mhtml::contentIdFor(const char* url, StringBuffer& out) {
    if (url == nullptr) {
        return;
    }
    MhtmlContext& context = currentContext();
    std::string folded = ContentIdIndex::foldAscii(url);
    const int known = m_contentIdIndex.find(&context, context.m_resources, folded);
    if (known >= 0) {
        out.setString(static_cast<StringPair*>(context.m_resources.elementAt(known))->getValue());
        return;
    }
    // A resource that another document of this conversion already named
    // keeps its content-id, so that it travels as one part.
    const std::string key = resourceKey(url, folded);
    StringBuffer contentId;
    if (const std::string* shared = m_contentIdIndex.sharedContentId(key)) {
        contentId.setString(shared->c_str());
    } else {
        newContentId(contentId);
        m_contentIdIndex.shareContentId(key, contentId.getString());
    }
    context.m_resources.appendObject(new StringPair(url, contentId.getString()));
    m_contentIdIndex.noteAppended(&context, context.m_resources, std::move(folded));
    out.setSb(contentId);
}

// Relative references (local mode) name different files from different
// directories, so the working directory is part of their identity.
std::string Mhtml::resourceKey(const char* url, const std::string& folded) const {
    if (isAbsoluteReference(url) || url[0] == '/') {
        return folded;
    }
    std::string key = folded;
    char directory[4096];
    key.push_back('\0');
    if (getcwd(directory, sizeof directory) != nullptr) {
        key.append(directory);
    }
    return key;
}

void Mhtml::forgetContentIds(const MhtmlContext* context) {
    m_contentIdIndex.forgetMap(context);
}

void Mhtml::forgetAllContentIds() {
    m_contentIdIndex.clear();
}

bool Mhtml::isPageUrl(const char* url) {
    static const char* const kPageExtensions[] = {".htm", ".asp", ".jsp", ".php"};
    if (url == nullptr || !containsAnyNoCase(url, kPageExtensions, 4)) {
        return false;
    }
    if (!beginsWithNoCase(url, "http")) {
        return true;
    }
    const char* firstSlash = std::strchr(url, '/');
    if (firstSlash == nullptr) {
        return true;
    }
    const size_t behind = static_cast<size_t>(firstSlash - url) + 2;
    if (behind > std::strlen(url)) {
        return true;
    }
    const char* path = std::strchr(url + behind, '/');
    if (path == nullptr) {
        return true;
    }
    return containsAnyNoCase(path, kPageExtensions, 4);
}

void Mhtml::resolveCssValue(const char* value, StringBuffer& out) {
    if (m_inStyleSheetFile && !isAbsoluteReference(value) && value[0] != '/' && value[0] != '\\') {
        out.setSb(m_styleSheetDirectory);
        out.append(value);
        return;
    }
    resolveReference(value, out);
}

void Mhtml::rewriteCssBackgrounds(StringBuffer& text) {
    if (m_completePage) {
        rewriteCssReferences(text);
        return;
    }
    const char* source = text.getString();
    const char* hit = findNoCase(source, kBackgroundImage);
    if (hit == nullptr) {
        replaceEvery(text, kHandledMarker, kBackgroundImage);
        return;
    }
    const int propertyLength = static_cast<int>(std::strlen(kBackgroundImage));
    StringBuffer out(static_cast<int>(std::strlen(source)) + 1);
    const char* cursor = source;
    for (int handled = 0; hit != nullptr && handled < kMaxCssBackgrounds; ++handled) {
        appendGrowing(out, cursor, static_cast<int>(hit - cursor));
        out.append(kHandledMarker);
        cursor = hit + propertyLength;
        const char* p = skipCssSpace(cursor);
        if (*p == ':') {
            p = skipCssSpace(p + 1);
            if (beginsWithNoCase(p, "url(")) {
                const char* value = p + 4;
                const char* close = std::strchr(value, ')');
                const int length = close != nullptr ? static_cast<int>(close - value) : 0;
                StringBuffer address;
                cssAddress(value, length, address);
                StringBuffer resolved;
                resolveCssValue(address.getString(), resolved);
                StringBuffer contentId;
                contentIdFor(resolved.getString(), contentId);
                appendGrowing(out, cursor, static_cast<int>(value - cursor));
                out.append("cid:");
                appendGrowing(out, contentId);
                cursor = value + length;
            }
        }
        hit = findNoCase(cursor, kBackgroundImage);
    }
    appendGrowing(out, cursor, static_cast<int>(std::strlen(cursor)));
    text.setSb(out);
    replaceEvery(text, kHandledMarker, kBackgroundImage);
}
