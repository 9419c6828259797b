// URL resolution, content-ids, and the one embedding step that every tag
// pass and both CSS passes call: a reference as found in a document becomes
// a resolved address, a content-id in the document's resource map, and the
// text written back in its place. The resource loop (MessageAssembly.cpp)
// later turns each entry of the resource map into a part.

#include "Mhtml.h"

#include "convert/ConvertText.h"
#include "foundation/StringPair.h"
#include "mime/CharacterReferences.h"
#include "mime/Uuid.h"

#include <cctype>
#include <cstring>
#include <unistd.h>

namespace {

// A URL scheme: a letter, then letters, digits, "+", "-" or "." up to ":".
size_t schemeLength(std::string_view reference) {
    if (reference.empty() || !std::isalpha(static_cast<unsigned char>(reference[0]))) {
        return 0;
    }
    for (size_t i = 1; i < reference.size(); ++i) {
        const auto c = static_cast<unsigned char>(reference[i]);
        if (c == ':') {
            return i;
        }
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') {
            return 0;
        }
    }
    return 0;
}

bool hasScheme(std::string_view reference) {
    return schemeLength(reference) > 0;
}

// An address that runs a script. It never becomes an address a reader
// could follow: as a resource it stays a path on the page's host, as the
// Parts resolve it, and as a link it is handled like "javascript:".
bool isScriptScheme(const char* reference) {
    return beginsWithNoCase(reference, "javascript:") || beginsWithNoCase(reference, "vbscript:");
}

// The schemes whose resources are fetched; a link to any other stays as written.
bool isFetchedScheme(const char* reference) {
    return isWebUrl(reference) || beginsWithNoCase(reference, "file:");
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

bool isAsciiWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// The address a browser takes from what is written: character references
// read in an attribute, ASCII white space around it removed, and tabs and
// line breaks inside it dropped.
std::string addressAsRead(std::string_view written, ReferenceSyntax syntax) {
    std::string decoded;
    if (syntax != ReferenceSyntax::Css && mayHoldCharacterReferences(written)) {
        decoded = decodeCharacterReferences(written, CharacterReferenceContext::AttributeValue);
        written = decoded;
    }
    size_t start = 0;
    size_t end = written.size();
    while (start < end && isAsciiWhiteSpace(written[start])) {
        ++start;
    }
    while (end > start && isAsciiWhiteSpace(written[end - 1])) {
        --end;
    }
    std::string address;
    address.reserve(end - start);
    for (size_t i = start; i < end; ++i) {
        if (written[i] != '\t' && written[i] != '\n' && written[i] != '\r') {
            address.push_back(written[i]);
        }
    }
    return address;
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

// The kinds that show a picture, which the complete mode sends as a part
// even when the page writes it as a data: address.
bool isPictureKind(ReferenceKind kind) {
    return kind == ReferenceKind::Resource || kind == ReferenceKind::Background;
}

} // namespace

bool Mhtml::embedReference(std::string_view written, ReferenceKind kind, ReferenceSyntax syntax,
                           EmbeddedReference& out) {
    std::string reference = addressAsRead(written, syntax);
    out.address.clear();
    out.contentId.clear();
    out.text.clear();
    if (beginsWithNoCase(reference.c_str(), "data:")) {
        return embedDataUrl(reference, kind, out);
    }
    // A fragment names a place in the document itself: a link to it keeps
    // working inside the message, and in CSS it names an element (a filter).
    const bool inPage = !reference.empty() && reference[0] == '#';
    if (inPage && (kind == ReferenceKind::Link || syntax != ReferenceSyntax::Attribute)) {
        return false;
    }
    // An empty url() names nothing that a browser would load.
    if (reference.empty() && syntax != ReferenceSyntax::Attribute && kind == ReferenceKind::Link) {
        return false;
    }
    std::string fragment;
    if (syntax != ReferenceSyntax::Attribute && m_completePage) {
        if (reference.empty()) {
            return false;
        }
        const size_t hash = reference.find('#');
        if (hash != std::string::npos) {
            fragment = reference.substr(hash);
            reference.erase(hash);
        }
    }
    if (kind == ReferenceKind::Link && !linkTarget(reference)) {
        return false;
    }
    if (reference == "#" && (kind == ReferenceKind::Link || kind == ReferenceKind::Script ||
                             kind == ReferenceKind::InputImage)) {
        reference.clear();
    }

    if (syntax != ReferenceSyntax::Attribute) {
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

    if (isFileKind(kind)) {
        contentIdFor(out.address.getString(), out.contentId);
        if (m_local) {
            // A local file that cannot be read keeps its reference as written
            // (in CSS, escaped where an unquoted url() could not hold it).
            StringBuffer asWritten;
            if (syntax == ReferenceSyntax::Attribute) {
                asWritten.appendBytes(written.data(), static_cast<int>(written.size()));
            } else {
                appendAddressText(std::string(written).c_str(), syntax, asWritten);
            }
            m_writtenReferences.emplace(out.contentId.getString(), asWritten.getString());
        }
    }
    if (kind == ReferenceKind::Frame || !isFileKind(kind)) {
        appendAddressText(out.address.getString(), syntax, out.text);
    } else {
        out.text.setString("cid:");
        out.text.appendSb(out.contentId);
        appendFragment(fragment, out.text);
    }
    return true;
}

// A data: address carries its picture already. Only the complete mode makes
// a part of it, since the most used web mail readers do not show data:
// pictures; everything else leaves it as written.
bool Mhtml::embedDataUrl(const std::string& reference, ReferenceKind kind, EmbeddedReference& out) {
    if (!m_completePage || !isPictureKind(kind)) {
        return false;
    }
    out.address.setString(reference.c_str());
    contentIdFor(out.address.getString(), out.contentId);
    out.text.setString("cid:");
    out.text.appendSb(out.contentId);
    return true;
}

// "javascript:" links lead nowhere once scripts are off, so they point at
// the document's directory; links to any other scheme than the fetched ones
// ("mailto:", "tel:") stay as written.
bool Mhtml::linkTarget(std::string& reference) const {
    if (isScriptScheme(reference.c_str())) {
        if (!scriptsOff()) {
            return false;
        }
        reference.assign(1, '#');
        return true;
    }
    return !hasScheme(reference) || isFetchedScheme(reference.c_str());
}

// An address written back is escaped for where it stands: in an attribute a
// "&" of its query must read back as itself, and in CSS the characters that
// would end an unquoted url() are percent-encoded.
void Mhtml::appendAddressText(const char* address, ReferenceSyntax syntax, StringBuffer& out) {
    static const char kHex[] = "0123456789ABCDEF";
    for (const char* p = address; *p != 0; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        const bool inCss = syntax != ReferenceSyntax::Attribute;
        if (inCss && (c <= ' ' || c == '"' || c == '\'' || c == '(' || c == ')' || c == '\\')) {
            out.appendChar('%');
            out.appendChar(kHex[c >> 4]);
            out.appendChar(kHex[c & 0x0F]);
        } else if (c == '&' && syntax != ReferenceSyntax::Css) {
            out.append("&amp;");
        } else if (c == '"' && syntax == ReferenceSyntax::Attribute) {
            out.append("&quot;");
        } else {
            out.appendChar(*p);
        }
    }
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
    if (hasScheme(ref) && !isScriptScheme(ref)) {
        resolved.append(ref);
    } else if (ref[0] == '/' && ref[1] == '/') {
        // The document's own scheme; a local document's is http.
        resolved.append(beginsWithNoCase(currentBaseUrl().getString(), "https:") ? "https:"
                                                                                 : "http:");
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
    if (m_inStyleSheetFile && !hasScheme(value) && value[0] != '/' && value[0] != '\\') {
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
    std::string folded = ContentIdIndex::mapKey(url);
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
    if (hasScheme(url) || url[0] == '/') {
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
