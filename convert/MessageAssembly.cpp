// Message assembly: buildMessage runs processDocument, which runs the stages
// from the clean-up to the complete mode's passes, then the resource loop
// turns each entry of the resource map into a part (fetched by Fetching.cpp,
// frames converted recursively); last come the root's header fields.

#include "Mhtml.h"

#include "charset/CharsetConvert.h"
#include "convert/ConvertText.h"
#include "convert/FontTyping.h"
#include "convert/MarkupScan.h"
#include "convert/PrefetchScope.h"
#include "convert/ReferencedIds.h"
#include "convert/ResourceProgress.h"
#include "convert/ResourceTyping.h"
#include "convert/ThunderbirdDraft.h"
#include "foundation/DataBuffer.h"
#include "foundation/DiagnosticLog.h"
#include "foundation/FileSys.h"
#include "foundation/StringPair.h"
#include "mime/CharacterReferences.h"
#include "mime/DateParser.h"
#include "mime/HeaderFieldText.h"
#include "mime/HtmlTags.h"
#include "mime/MimeMessage2.h"
#include "mime/ParseEngine.h"
#include "mime/Uuid.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

// Browsers stop nesting frames at this depth; deeper documents are skipped.
constexpr int kMaxFrameDepth = 10;

// The style and script blocks of one document, deleted on every way out.
struct OwnedBlocks {
    ExtPtrArray list;
    OwnedBlocks() = default;
    OwnedBlocks(const OwnedBlocks&) = delete;
    OwnedBlocks& operator=(const OwnedBlocks&) = delete;
    ~OwnedBlocks() { list.removeAllObjects(); }
};

// Every resource message stands inside its own log context.
class ResourceContext {
public:
    ResourceContext(DiagnosticLog* log, const char* url, const char* contentId) : m_log(log) {
        if (m_log != nullptr) {
            m_log->enterContext("external_content", true);
            m_log->logData("contentLocation", url);
            m_log->logData("contentCID", contentId);
        }
    }
    ResourceContext(const ResourceContext&) = delete;
    ResourceContext& operator=(const ResourceContext&) = delete;
    ~ResourceContext() {
        if (m_log != nullptr) {
            m_log->leaveContext();
        }
    }

    void info(const char* text) const {
        if (m_log != nullptr) {
            m_log->logInfo(text);
        }
    }
    void error(const char* text) const {
        if (m_log != nullptr) {
            m_log->logError(text);
        }
    }
    void data(const char* name, const char* value) const {
        if (m_log != nullptr) {
            m_log->logData(name, value);
        }
    }

private:
    DiagnosticLog* m_log;
};

// Tells, for positions asked in increasing order, whether each stands
// inside a style element.
class StyleElementCursor {
public:
    explicit StyleElementCursor(std::string_view text) : m_text(text) { findFrom(0); }

    bool inside(size_t position) {
        while (m_start != std::string_view::npos && position >= m_end) {
            findFrom(m_end);
        }
        return m_start != std::string_view::npos && position > m_start;
    }

private:
    void findFrom(size_t from) {
        m_start = findNoCaseFrom(m_text, "<style", from);
        const size_t close = m_start == std::string_view::npos
                                 ? std::string_view::npos
                                 : findNoCaseFrom(m_text, "</style", m_start);
        m_end = close == std::string_view::npos ? m_text.size() : close;
    }

    std::string_view m_text;
    size_t m_start = 0;
    size_t m_end = 0;
};

std::string frameDumpName(const char* pattern, int number) {
    char name[64];
    std::snprintf(name, sizeof name, pattern, number);
    return name;
}

// Bytes that only UTF-8 explains: a byte-order mark, or non-ASCII bytes that
// all form whole UTF-8 sequences (no other charset a page uses writes them
// so, and browsers read such an undeclared page as UTF-8).
bool readsAsUtf8(const StringBuffer& html) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(html.getString());
    const auto size = static_cast<size_t>(html.getSize());
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return true;
    }
    bool nonAscii = false;
    for (size_t i = 0; i < size;) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        nonAscii = true;
        const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || lead > 0xF4 || lead == 0xC0 || lead == 0xC1 || i + length > size) {
            return false;
        }
        uint32_t code = lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (bytes[i + k] & 0x3F);
        }
        const uint32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return nonAscii;
}

// The page's part, with the charset of the HTTP response, else of the
// page's meta tag, else utf-8 for bytes that only UTF-8 explains, else
// iso-8859-1; the decision is kept in charset.
std::unique_ptr<MimeMessage2> createPagePart(const StringBuffer& html, StringBuffer& charset) {
    auto part = std::make_unique<MimeMessage2>();
    part->setContentType("text/html");
    if (charset.getSize() > 0) {
        part->setCharset(charset.getString());
        return part;
    }
    part->setCharset("iso-8859-1");
    StringBuffer declared;
    findMetaCharset(html.getString(), declared);
    if (declared.getSize() > 0) {
        part->setCharset(declared.getString());
        charset.setSb(declared);
    } else if (readsAsUtf8(html)) {
        part->setCharset("utf-8");
        charset.setString("utf-8");
    } else {
        charset.setString("iso-8859-1");
    }
    return part;
}

void insertCharsetMeta(StringBuffer& html, const StringBuffer& charset) {
    StringBuffer meta("</title><META http-equiv=\"Content-Type\" content=\"text/html;charset=");
    meta.appendSb(charset);
    meta.append("\">");
    html.replaceFirst("</title>", meta.getString());
}

std::string_view textOf(const StringBuffer& buffer) {
    return {buffer.getString(), static_cast<size_t>(buffer.getSize())};
}

void setAddressesIfGiven(MimeMessage2& root, const char* name, const StringBuffer& value) {
    if (value.getSize() > 0) {
        root.setHeaderField(name, HeaderFieldText::addressList(name, textOf(value)).c_str());
    }
}

// The title's bytes in the page's charset as UTF-8. Browsers read a page
// labelled us-ascii (or not labelled) as windows-1252.
std::string titleAsUtf8(const StringBuffer& title, const StringBuffer& charset) {
    const bool latin = charset.getSize() == 0 || charset.equalsNoCase("us-ascii");
    CharsetConvert converter;
    DataBuffer converted;
    if (!converter.setFromCharset(latin ? "windows-1252" : charset.getString(), nullptr) ||
        !converter.setToCharset("utf-8", nullptr) ||
        !converter.convert(title.getString(), title.getSize(), converted, nullptr)) {
        return HeaderFieldText::wellFormedUtf8(textOf(title));
    }
    return HeaderFieldText::wellFormedUtf8(
        std::string_view(reinterpret_cast<const char*>(converted.getData()), converted.getSize()));
}

// The host part of a Message-ID: this host's name when it is a dot-atom of
// letters, digits and hyphens, else a name that can never be anyone's.
std::string messageIdDomain() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return "pagewing.invalid";
    }
    const std::string_view host(name);
    bool valid = !host.empty() && host.front() != '.' && host.back() != '.' &&
                 host.find("..") == std::string_view::npos;
    for (const char c : host) {
        const auto byte = static_cast<unsigned char>(c);
        valid = valid && (std::isalnum(byte) != 0 || c == '-' || c == '.') && byte < 0x80;
    }
    return valid ? std::string(host) : std::string("pagewing.invalid");
}

} // namespace

bool Mhtml::buildMessage(StringBuffer& html, StringBuffer& out) {
    StringBuffer href;
    if (findBaseHref(html.getString(), href) && href.getSize() > 0) {
        currentBaseUrl().setSb(href);
        if (std::strncmp(href.getString(), "http", 4) == 0 ||
            std::strncmp(href.getString(), "HTTP", 4) == 0) {
            m_local = false;
        }
    }
    forgetEmitted();
    m_frameCount = 0;
    m_frameDepth = 0;
    if (m_dumpSource) {
        writeDump(m_sourceDumpFile.getString(), html);
    }

    auto root = std::make_unique<MimeMessage2>();
    root->initMultipartRelated();
    bool result = false;
    {
        const PrefetchScope prefetching(*this);
        result = processDocument(html, out, false, root.get());
    }
    forgetEmitted();

    root->setTypeParam("text/html");
    root->setHeaderField("MIME-Version", "1.0");
    // What the user typed is UTF-8; the title is written in the page's
    // charset where it fits.
    std::string subject;
    if (m_subject.getSize() > 0) {
        subject = HeaderFieldText::unstructured("Subject", textOf(m_subject), "utf-8");
        m_messageTitle = textOf(m_subject);
    } else {
        StringBuffer title;
        pageTitle(html, title);
        subject = HeaderFieldText::unstructured("Subject", textOf(title), textOf(m_charset));
        m_messageTitle = textOf(title);
    }
    root->setHeaderField("Subject", subject.c_str());
    setAddressesIfGiven(*root, "To", m_to);
    setAddressesIfGiven(*root, "From", m_from);
    if (m_markUnsent) {
        root->setHeaderField("X-Unsent", "1");
    }
    char date[200];
    DateParser().formatCurrentDate(date, sizeof date);
    root->setHeaderField("Date", date);
    StringBuffer uuid;
    makeUuidText(uuid);
    const std::string messageId = "<" + std::string(textOf(uuid)) + "@" + messageIdDomain() + ">";
    root->setHeaderField("Message-ID", messageId.c_str());

    root->renderMessage(out);
    resetContexts();
    return result;
}

bool Mhtml::processDocument(StringBuffer& html, StringBuffer& documentOut, bool isFrame,
                            MimeMessage2* root) {
    normaliseTags(html);
    decideNoScripts(html);
    if (mailSafe()) {
        addDoctype(html);
    }
    insertStyleSheets(html);
    OwnedBlocks styles;
    OwnedBlocks scripts;
    extractStyles(html, styles.list);
    if (!scriptsOff()) {
        rewriteSources(html, "<script");
    }
    extractScripts(html, scripts.list);
    if (mailSafe()) {
        removeIframes(html);
        removeComments(html);
    }
    if (scriptsOff()) {
        unwrapNoscript(html);
    }

    std::unique_ptr<MimeMessage2> pagePart;
    if (!isFrame) {
        pagePart = createPagePart(html, m_charset);
    }
    insertCharsetMeta(html, m_charset);

    rewriteFrames(html, "<frame ");
    if (m_keepScripts) {
        rewriteFrames(html, "<iframe ");
    }
    if (m_completePage) {
        promoteLazyImages(html);
    }
    rewriteImages(html);
    rewriteSources(html, "<input");
    rewriteLinks(html);
    if (!scriptsOff()) {
        rewriteRollovers(html);
    }
    rewriteLinkTags(html);
    if (scriptsOff()) {
        removeEventHandlers(html);
    }
    rewriteBackgrounds(html);
    if (m_completePage) {
        completeDocumentTags(html);
    } else {
        makeSrcsetsAbsolute(html);
        rewriteStyleAttributes(html);
    }
    restoreScripts(html, scripts.list);
    restoreStyles(html, styles.list);

    // The page's part comes first; its text is known once the resource loop
    // has said which resources failed.
    MimeMessage2* page = pagePart.get();
    if (!isFrame && root != nullptr) {
        root->addPart(pagePart.release());
    }
    addResourceParts(html, root);
    writeFailedAddresses(html);
    if (isFrame) {
        documentOut.clear();
        documentOut.appendSb(html);
        return true;
    }
    if (m_mailProgram == MailProgram::Thunderbird && root != nullptr) {
        ThunderbirdDraft(*root).adapt(html);
    }
    if (m_dumpResult) {
        writeDump(m_resultDumpFile.getString(), html);
    }
    page->setBodyFromSb(html);
    page->setTransferEncoding("quoted-printable");
    page->setHeaderField("Content-Location", m_pageUrl.getString());
    return true;
}

void Mhtml::pageTitle(const StringBuffer& html, StringBuffer& out) {
    ParseEngine scanner;
    scanner.load(html.getString());
    StringBuffer title;
    if (scanner.seekPast("<title>") && scanner.captureThrough("</title>", title)) {
        title.shorten(8);
    }
    // The title as a browser shows it: references decoded, white space and
    // control characters collapsed.
    std::string shown;
    if (title.getSize() > 0) {
        shown = titleAsUtf8(title, m_charset);
        if (mayHoldCharacterReferences(shown)) {
            shown = decodeCharacterReferences(shown, CharacterReferenceContext::Text);
        }
        shown = HeaderFieldText::collapseControls(shown);
    }
    if (shown.empty()) {
        out.appendSb(currentBaseUrl());
    } else {
        out.appendBytes(shown.data(), static_cast<int>(shown.size()));
    }
}

void Mhtml::addResourceParts(const StringBuffer& html, MimeMessage2* root) {
    const ReferencedIds referenced(html);
    const bool inFrameset = html.containsNoCase("<frameset");
    prefetchResources(referenced, inFrameset);
    announceResources(referenced, inFrameset);
    // The context object outlives the frames converted below: they push and
    // pop contexts of their own above it.
    ExtPtrArray& resources = currentResources();
    for (int i = 0; i < resources.getSize(); ++i) {
        auto* entry = static_cast<StringPair*>(resources.elementAt(i));
        if (entry == nullptr) {
            continue;
        }
        const StringBuffer url(entry->getName());
        const StringBuffer contentId(entry->getValue());
        addResourcePart(url.getString(), contentId.getString(), i, referenced, inFrameset, root);
    }
}

// The front end learns how many resources this document's loop will fetch.
void Mhtml::announceResources(const ReferencedIds& referenced, bool inFrameset) {
    ResourceProgress* listener = progress();
    if (listener == nullptr) {
        return;
    }
    const ExtPtrArray& resources = currentResources();
    int count = 0;
    for (int i = 0; i < resources.getSize(); ++i) {
        const auto* entry = static_cast<const StringPair*>(resources.elementAt(i));
        if (entry != nullptr && resourceSkip(entry->getName(), entry->getValue(), referenced,
                                             inFrameset) == ResourceSkip::None) {
            ++count;
        }
    }
    listener->resourcesExpected(count);
}

void Mhtml::addResourcePart(const char* url, const char* contentId, int index,
                            const ReferencedIds& referenced, bool inFrameset, MimeMessage2* root) {
    const ResourceSkip skip = resourceSkip(url, contentId, referenced, inFrameset);
    if (skip == ResourceSkip::Emitted) {
        return;
    }
    const ResourceContext context(m_log, url, contentId);
    if (skip == ResourceSkip::Unreferenced) {
        context.info("Skipping content because it is not referenced in the HTML.");
        return;
    }
    if (skip == ResourceSkip::Excluded) {
        context.info("Skipping because explicitly excluded.");
        return;
    }
    DataBuffer data;
    if (!fetchResource(url, data)) {
        context.error("Failed to download or include external content.");
        m_failedAddresses.emplace(contentId, url);
        return;
    }
    markEmitted(url, contentId);

    auto part = std::make_unique<MimeMessage2>();
    const char* sniffed = sniffImageType(data.getData(), data.getSize());
    const char* font = m_completePage && sniffed == nullptr
                           ? fontTypeFor(url, data.getData(), data.getSize())
                           : nullptr;
    StringBuffer type;
    bool dropAsScript = false;
    if (sniffed != nullptr) {
        type.append(sniffed);
    } else if (font != nullptr) {
        type.append(font);
    } else {
        bool isJavaScript = false;
        bool guessed = false;
        typeByExtension(url, type, isJavaScript, &guessed);
        // No page holds a NUL byte: a picture at an address without a known
        // extension (an Exif JPEG at "/photos/77?w=120") must not be taken
        // for a frame and destroyed by its conversion.
        if ((guessed || m_completePage) && type.equals("text/html") &&
            looksBinary(data.getData(), data.getSize())) {
            type.setString("application/octet-stream");
        }
        if (isJavaScript && scriptsOff()) {
            context.info("Not including because this is a script.");
            dropAsScript = true;
        }
    }
    part->setContentType(type.getString());

    StringBuffer name;
    partNameFor(url, index, type.getString(), name);
    part->setNameParam(name.getString());

    // A font travels in base64 like a picture.
    const PartEncoding encoding =
        chooseEncoding(url, sniffed != nullptr || font != nullptr, type.getString());
    StringBuffer document;
    if (encoding.styleSheet) {
        part->setCharset("iso-8859-1");
    }
    if (encoding.htmlDocument) {
        document.appendBytes(data.getData(), static_cast<int>(data.getSize()));
        StringBuffer charset;
        findMetaCharset(document.getString(), charset);
        part->setCharset(charset.getString());
    }
    part->setTransferEncoding(encoding.transferEncoding);
    StringBuffer transferEncoding;
    part->getTransferEncoding(transferEncoding);

    StringBuffer headerId;
    if (contentId[0] != '<') {
        headerId.appendChar('<');
    }
    headerId.append(contentId);
    if (contentId[0] != '<') {
        headerId.appendChar('>');
    }
    part->setHeaderField("Content-ID", headerId.getString());

    if (document.getSize() > 0) {
        if (m_frameDepth >= kMaxFrameDepth) {
            context.info("Skipping frame: nested too deeply");
            return;
        }
        convertFrame(url, document, *part, root);
    } else {
        part->setBodyBytes(data.getData(), static_cast<int>(data.getSize()),
                           transferEncoding.getString());
    }
    part->setTransferEncoding(transferEncoding.getString());

    if (dropAsScript) {
        return;
    }
    context.info("Successfully added content");
    context.data("content_type", type.getString());
    if (root != nullptr) {
        root->addPart(part.release());
    }
}

void Mhtml::convertFrame(const char* url, StringBuffer& document, MimeMessage2& part,
                         MimeMessage2* root) {
    part.setHeaderField("Content-Location", url);
    m_frameCount += 1;
    if (m_dumpResult) {
        writeDump(frameDumpName("beforeFrame_%d.html", m_frameCount).c_str(), document);
    }
    pushContext();
    enterDocumentDirectory(url);
    setBaseAndRoot(url);
    m_local = !beginsWithNoCase(url, "http");
    currentContext().m_fromWeb = isWebUrl(url);

    const int started = m_frameCount;
    StringBuffer frameOut;
    ++m_frameDepth;
    processDocument(document, frameOut, true, root);
    --m_frameDepth;
    part.setBodyFromSb(frameOut);

    const int reached = m_frameCount;
    m_frameCount = started;
    popContext();
    if (m_dumpResult) {
        writeDump(frameDumpName("afterFrame_%d.html", started).c_str(), frameOut);
    }
    m_frameCount = std::max(started, reached);
}

// An entry gets no part when a part for it exists already, when the
// document no longer mentions it (outside framesets; a page may be a frame
// document), or when the user excluded it.
Mhtml::ResourceSkip Mhtml::resourceSkip(const char* url, const char* contentId,
                                        const ReferencedIds& referenced, bool inFrameset) const {
    if (alreadyEmitted(url, contentId)) {
        return ResourceSkip::Emitted;
    }
    if (!referenced.mentions(contentId) && !inFrameset && !isPageUrl(url)) {
        return ResourceSkip::Unreferenced;
    }
    return excluded(url) ? ResourceSkip::Excluded : ResourceSkip::None;
}

// A relative address read from another directory names another file, whose
// part the document's own content-id must find.
bool Mhtml::alreadyEmitted(const char* url, const char* contentId) const {
    return m_emittedUrls.count(resourceKey(url, url)) > 0 ||
           m_emittedContentIds.count(contentId) > 0;
}

void Mhtml::markEmitted(const char* url, const char* contentId) {
    m_emitted.appendObject(new StringBuffer(url));
    m_emittedUrls.insert(resourceKey(url, url));
    m_emittedContentIds.insert(contentId);
}

void Mhtml::forgetEmitted() {
    m_failedAddresses.clear();
    m_writtenReferences.clear();
    m_emitted.removeAllObjects();
    m_emittedUrls.clear();
    m_emittedContentIds.clear();
}

// In one pass over the document: "cid:" and the content-id of a failed
// resource become its address, escaped for CSS inside a style element and
// for an attribute (or the CSS of a style attribute) elsewhere.
void Mhtml::writeFailedAddresses(StringBuffer& html) const {
    if (m_failedAddresses.empty()) {
        return;
    }
    const std::string_view text(html.getString(), static_cast<size_t>(html.getSize()));
    const std::string cidPrefix = std::string("cid:") + kContentIdPrefix;
    const size_t idLength = std::strlen(kContentIdPrefix) + ReferencedIds::kUuidLength;
    StringBuffer out(html.getSize() + 1);
    size_t copied = 0;
    StyleElementCursor styles(text);
    for (size_t hit = text.find(cidPrefix); hit != std::string_view::npos;
         hit = text.find(cidPrefix, hit + 1)) {
        const auto failed = m_failedAddresses.find(std::string(text.substr(hit + 4, idLength)));
        if (failed == m_failedAddresses.end()) {
            continue;
        }
        const bool inStyleElement = styles.inside(hit);
        appendGrowing(out, text.data() + copied, static_cast<int>(hit - copied));
        const auto written = m_writtenReferences.find(failed->first);
        if (written != m_writtenReferences.end()) {
            appendGrowing(out, written->second.data(), static_cast<int>(written->second.size()));
        } else {
            appendAddressText(
                failed->second.c_str(),
                inStyleElement ? ReferenceSyntax::Css : ReferenceSyntax::StyleAttribute, out);
        }
        copied = hit + 4 + idLength;
    }
    appendGrowing(out, text.data() + copied, static_cast<int>(text.size() - copied));
    html.setSb(out);
}

void Mhtml::writeDump(const char* path, const StringBuffer& text) {
    FileSys::writeFile(path, text.getString(), text.getSize(), m_log);
}
