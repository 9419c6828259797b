// URL resolution, content-ids, and the one embedding step that every tag
// pass and both CSS passes call: a reference as found in a document becomes
// a resolved address, a content-id in the document's resource map, and the
// text written back in its place. The resource loop (MessageAssembly.cpp)
// later turns each entry of the resource map into a part.

#include "Mhtml.h"

#include "convert/ConvertText.h"
#include "foundation/StringPair.h"
#include "mime/Uuid.h"

#include <cstring>
#include <unistd.h>

namespace {

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

bool containsAnyNoCase(const char* text, const char* const* needles, int count) {
    for (int i = 0; i < count; ++i) {
        if (findNoCase(text, needles[i]) != nullptr) {
            return true;
        }
    }
    return false;
}

bool isScriptSource(const StringBuffer& url) {
    return url.containsNoCase(".js") || url.containsNoCase(".htm") || url.containsNoCase(".vbs") ||
           url.containsNoCase(".asp");
}

// A fragment travels behind the content-id; characters that would end the
// url() value or the attribute around it are percent-encoded.
void appendFragment(std::string_view fragment, StringBuffer& out) {
    static const char kHex[] = "0123456789ABCDEF";
    for (const char c : fragment) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= ' ' || c == '"' || c == '\'' || c == '(' || c == ')' || c == '\\' || c == '<' ||
            c == '>' || u >= 0x7F) {
            out.appendChar('%');
            out.appendChar(kHex[u >> 4]);
            out.appendChar(kHex[u & 0x0F]);
        } else {
            out.appendChar(c);
        }
    }
}

bool isFileKind(ReferenceKind kind) {
    return kind != ReferenceKind::Link && kind != ReferenceKind::StyleSheet;
}

} // namespace

bool Mhtml::embedReference(std::string_view written, ReferenceKind kind, ReferenceSyntax syntax,
                           EmbeddedReference& out) {
    std::string reference(written);
    std::string_view fragment;
    if (m_completePage) {
        // data: addresses carry their picture already; in a style text a bare
        // fragment names something in the document itself, and the fragment
        // of an address stays with its part.
        if (beginsWithNoCase(reference.c_str(), "data:")) {
            return false;
        }
        if (syntax == ReferenceSyntax::Css) {
            if (reference.empty() || reference[0] == '#') {
                return false;
            }
            const size_t hash = written.find('#');
            if (hash != std::string_view::npos) {
                fragment = written.substr(hash);
                reference.erase(hash);
            }
        }
    }
    if (kind == ReferenceKind::Link && !linkTarget(reference)) {
        return false;
    }
    if (reference == "#" && (kind == ReferenceKind::Link || kind == ReferenceKind::Script ||
                             kind == ReferenceKind::InputImage)) {
        reference.clear();
    }

    out.address.clear();
    if (syntax == ReferenceSyntax::Css) {
        resolveCssValue(reference.c_str(), out.address);
    } else if (kind == ReferenceKind::Link) {
        resolveUrl(reference.c_str(), out.address);
    } else {
        resolveReference(reference.c_str(), out.address);
    }
    if ((kind == ReferenceKind::Script && !isScriptSource(out.address)) ||
        (kind == ReferenceKind::Background && isPageUrl(out.address.getString()))) {
        return false;
    }

    out.contentId.clear();
    if (isFileKind(kind)) {
        contentIdFor(out.address.getString(), out.contentId);
    }
    if (kind == ReferenceKind::Frame || !isFileKind(kind)) {
        out.text.setSb(out.address);
    } else {
        out.text.setString("cid:");
        out.text.appendSb(out.contentId);
        appendFragment(fragment, out.text);
    }
    return true;
}

// "javascript:" links lead nowhere once scripts are off, so they point at
// the document's directory; "mailto:" links stay as written.
bool Mhtml::linkTarget(std::string& reference) const {
    if (beginsWithNoCase(reference.c_str(), "javascript:")) {
        if (!scriptsOff()) {
            return false;
        }
        reference.assign(1, '#');
        return true;
    }
    return !beginsWithNoCase(reference.c_str(), "mailto:");
}

bool Mhtml::embedAttribute(FoundTag& tag, const char* attribute, ReferenceKind kind,
                           StringBuffer& out) {
    EmbeddedReference embedded;
    if (!embedReference(tag.value.getString(), kind, ReferenceSyntax::Attribute, embedded)) {
        out.appendSb(tag.found);
        return false;
    }
    setAttribute(tag.cleaned, attribute, embedded.text.getString());
    out.appendSb(tag.cleaned);
    return true;
}

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

// A style sheet read from a file names its pictures relative to itself.
void Mhtml::resolveCssValue(const char* value, StringBuffer& out) {
    if (m_inStyleSheetFile && !isAbsoluteReference(value) && value[0] != '/' && value[0] != '\\') {
        out.setSb(m_styleSheetDirectory);
        out.append(value);
        return;
    }
    resolveReference(value, out);
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
