#pragma once

#include "convert/ContentIdIndex.h"
#include "convert/CssReferences.h"
#include "convert/EmbeddedReference.h"
#include "convert/MailProgram.h"
#include "convert/MhtmlContext.h"
#include "convert/TagAttributeEdits.h"
#include "convert/TagLoop.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

class DataBuffer;
class DiagnosticLog;
class MimeMessage2;
class ReferencedIds;
class ResourcePrefetch;
class ResourceProgress;
class CookieJar;
struct FetchOutcome;

// The page converter: one object turns one page (a URL or a local HTML file)
// into the complete text of an .eml message in MHTML form.
//
// Options are plain public fields that the caller sets after construction;
// the rest is working state of one conversion. Lists own their elements.
// The converter is single-threaded and synchronous.
class Mhtml {
public:
    Mhtml();
    Mhtml(const Mhtml&) = delete;
    Mhtml& operator=(const Mhtml&) = delete;
    virtual ~Mhtml();

    // Entry operations: on success out holds the whole message text.
    bool convertUrl(const char* url, StringBuffer& out);
    // A page the caller already has, converted as convertUrl converts what it
    // fetched when url is an http(s) address (charset: the declared one, null
    // or empty when undeclared); else as convertFile converts a file in the
    // folder that url names (a folder, a file or a file: URL; none: the
    // working directory).
    bool convertDocument(const char* bytes, int size, const char* url, const char* charset,
                         StringBuffer& out);
    bool convertFile(const char* path, const char* host, StringBuffer& out);
    // Server-side include directives of local files, expanded in place.
    void expandIncludes(StringBuffer& html);

    // Message assembly: the root entity, the page's HTML part, one part per
    // resource, frames converted recursively, the header fields.
    bool buildMessage(StringBuffer& html, StringBuffer& out);
    bool processDocument(StringBuffer& html, StringBuffer& documentOut, bool isFrame,
                         MimeMessage2* root);
    // The title as a browser shows it, in UTF-8; the base URL when there is
    // none.
    void pageTitle(const StringBuffer& html, StringBuffer& out);

    // HTML clean-up, each step in place on the document's HTML.
    void normaliseTags(StringBuffer& html);
    void decideNoScripts(const StringBuffer& html);
    void addDoctype(StringBuffer& html);
    void extractStyles(StringBuffer& html, ExtPtrArray& styles);
    void restoreStyles(StringBuffer& html, ExtPtrArray& styles);
    void extractScripts(StringBuffer& html, ExtPtrArray& scripts);
    void restoreScripts(StringBuffer& html, ExtPtrArray& scripts);
    void removeIframes(StringBuffer& html);
    void removeComments(StringBuffer& html);
    void unwrapNoscript(StringBuffer& html);
    void removeEventHandlers(StringBuffer& html);
    void removeAttribute(const char* name, StringBuffer& html);
    // Mail-safe output: scripts are not kept.
    bool mailSafe() const { return !m_keepScripts; }
    // Scripts are off in mail-safe output and in documents with m_noScripts.
    bool scriptsOff() const { return !m_keepScripts || m_noScripts; }

    // The one embedding step: a reference as found in the document (an
    // attribute value, or a url() address without its quotes) is resolved,
    // gets its content-id in the current document's resource map when it
    // travels as a part, and out.text is what takes its place. False when the
    // reference stays as written.
    bool embedReference(std::string_view written, ReferenceKind kind, ReferenceSyntax syntax,
                        EmbeddedReference& out);

    // URL resolution and content-ids: the steps of the embedding step.
    void resolveUrl(const char* reference, StringBuffer& out);
    void resolveReference(const char* reference, StringBuffer& out);
    void contentIdFor(const char* url, StringBuffer& out);
    void newContentId(StringBuffer& out);
    static bool isPageUrl(const char* url);
    void rewriteCssBackgrounds(StringBuffer& text);

    // Tag passes and style sheets.
    void setAttribute(StringBuffer& tag, const char* name, const char* value);
    // finalUrl, when given, is set to where the bytes came from: the address
    // behind the redirects of a web resource, else url itself.
    bool fetchResource(const char* url, DataBuffer& data, StringBuffer* finalUrl = nullptr);
    // A non-empty media (the link tag's MEDIA) is kept on the STYLE block.
    bool fetchStyleSheet(const char* url, StringBuffer& out, const char* media = nullptr);
    void insertStyleSheets(StringBuffer& html);
    void rewriteSources(StringBuffer& html, const char* prefix); // "<script" or "<input"
    void rewriteFrames(StringBuffer& html, const char* prefix);  // "<frame " or "<iframe "
    void rewriteImages(StringBuffer& html);                      // "<img", then "<v:"
    void rewriteLinks(StringBuffer& html); // area, the four anchor forms, then embed
    void rewriteRollovers(StringBuffer& html);
    void rewriteLinkTags(StringBuffer& html);
    void rewriteBackgrounds(StringBuffer& html); // body, table, td
    // The default mode's srcset candidates get their absolute addresses.
    void makeSrcsetsAbsolute(StringBuffer& html);

    // Complete mode (m_completePage): what today's pages show beyond the
    // passes above. Each runs only when processDocument asks for it.
    // Every url() of a style text, its @import rules and @font-face sources.
    void rewriteCssReferences(StringBuffer& css);
    // Before the image pass: lazy images get their real address as SRC.
    void promoteLazyImages(StringBuffer& html);
    // After the tag passes: srcset, picture sources, video posters, style
    // attributes, meta refresh.
    void rewriteResponsiveImages(StringBuffer& html);
    void rewritePosters(StringBuffer& html);
    void rewriteStyleAttributes(StringBuffer& html);
    void removeMetaRefresh(StringBuffer& html);
    void completeDocumentTags(StringBuffer& html);

    // Base and root URLs and the document context stack.
    void setBaseAndRoot(const char* url);
    void resetContexts();
    void pushContext();
    void popContext();
    MhtmlContext& currentContext();
    ExtPtrArray& currentResources();
    StringBuffer& currentBaseUrl();
    StringBuffer& currentRootUrl();
    void enterDocumentDirectory(const char* location);

    // Convenience for callers that fill the two option lists.
    void addStyleSheet(const char* url);
    void addExclude(const char* text);

    // Options and state, in the order the object holds them.
    DiagnosticLog* m_log = nullptr;
    bool m_directAccess = false;
    StringBuffer m_proxy;
    bool m_dumpSource = false;
    StringBuffer m_sourceDumpFile;
    bool m_dumpResult = false;
    StringBuffer m_resultDumpFile;
    bool m_logImageTags = false;
    bool m_verboseTags = false;
    bool m_markUnsent = false;
    StringBuffer m_subject;
    StringBuffer m_to;
    StringBuffer m_from;
    ExtPtrArray m_styleSheets;
    ExtPtrArray m_excludes;
    bool m_scriptsOverNoscript = true;
    bool m_keepScripts = true;
    bool m_noScripts = false;
    bool m_forceNoScripts = false;
    int m_frameCount = 0;
    StringBuffer m_pageUrl;
    StringBuffer m_httpLogin;
    StringBuffer m_httpPassword;
    bool m_local = false;
    StringBuffer m_charset;
    ExtPtrArray m_emitted;
    ExtPtrArray m_contexts;

    // Certificate checks are on unless the user asks for the relaxed ones.
    bool m_ignoreCertErrors = false;
    // Downloads at once; 1 fetches one resource at a time.
    int m_maxConnections = 16;
    // Also embeds fonts, imported style sheets, every CSS url(), style
    // attributes, responsive and lazy images. Off: the message is exactly
    // what the passes above alone make.
    bool m_completePage = false;

    // The program that opens the message as a draft. Thunderbird gets the
    // page's part in the forms its compose window keeps (ThunderbirdDraft);
    // any other program, the message as every reader gets it.
    MailProgram m_mailProgram = MailProgram::Other;

    // A Netscape cookies.txt whose cookies every request of a conversion
    // sends (with those that the answers set); empty for none.
    StringBuffer m_cookieFile;
    // Cookies in the lines of such a file, as the browser readers give them.
    std::vector<std::string> m_cookieLines;

    // Why the page itself could not be converted, in words ("the server
    // answered 404 Not Found", "not an HTML page (PNG image)"); empty when
    // the conversion succeeded or the reason is only in the log.
    const std::string& pageProblem() const { return m_pageProblem; }
    // The Subject of the last message made, as text (UTF-8): what the user
    // typed, else the page's title; a name for the message's file.
    const std::string& messageTitle() const { return m_messageTitle; }
    // The login (m_httpLogin, m_httpPassword) goes only to the scheme, host
    // and port of this page, never to a host that a picture or a sheet comes
    // from; null or a local page: to none.
    void setLoginOrigin(const char* pageUrl);

private:
    void deleteAllContexts();

    // Clean-up and tag passes
    friend class StyleSheetScope;
    void extractStyleBlocks(StringBuffer& html, ExtPtrArray& styles, bool spareInserted);
    bool insideInsertedStyleSheet(int position) const;
    void recordInsertedStyleSheet(int at, int length);
    void forgetInsertedStyleSheets();
    void resolveCssValue(const char* value, StringBuffer& out);
    std::string resourceKey(const char* url, const std::string& folded) const;
    void forgetContentIds(const MhtmlContext* context);
    void forgetAllContentIds();
    void refuseLocalRead(const char* url);
    bool fetchWebResource(const char* url, DataBuffer& data, FetchOutcome& outcome);
    bool reportFetch(const char* url, const DataBuffer& data, const char* problem);
    bool refusedAsNoPage(const unsigned char* bytes, size_t count);
    bool sendsLoginTo(const char* url) const;
    bool openCookies(CookieJar& jar);
    ResourceProgress* progress() const;
    DiagnosticLog* cleanTagLog() const;
    // onlyWith: when given, tags whose text lacks it are kept as found.
    void runPass(StringBuffer& html, const char* prefix, const char* attribute, TagCapture capture,
                 void (Mhtml::*rewrite)(FoundTag&, StringBuffer&), const char* onlyWith = nullptr);
    bool embedAttribute(FoundTag& tag, const char* attribute, ReferenceKind kind,
                        StringBuffer& out);
    bool linkTarget(std::string& reference) const;
    bool embedDataUrl(const std::string& reference, ReferenceKind kind, EmbeddedReference& out);
    static void appendAddressText(const char* address, ReferenceSyntax syntax, StringBuffer& out);
    bool keepEmptyTag(const FoundTag& tag, StringBuffer& out) const;
    void rewriteScriptTag(FoundTag& tag, StringBuffer& out);
    void rewriteInputTag(FoundTag& tag, StringBuffer& out);
    void rewriteFrameTag(FoundTag& tag, StringBuffer& out);
    void rewriteImageTag(FoundTag& tag, StringBuffer& out);
    void rewriteHrefTag(FoundTag& tag, StringBuffer& out);
    void rewriteSrcLinkTag(FoundTag& tag, StringBuffer& out);
    void rewriteLinkValue(FoundTag& tag, StringBuffer& out, const char* attribute);
    void rewriteLinkElement(FoundTag& tag, StringBuffer& out);
    void inlineStyleSheet(FoundTag& tag, const StringBuffer& cleaned, StringBuffer& out);
    static bool isPreloadedStyleSheet(const StringBuffer& cleaned, const StringBuffer& relation);
    bool firstInlining(const StringBuffer& address);
    void rewriteBackgroundTag(FoundTag& tag, StringBuffer& out);
    void rewriteSrcsetAddresses(FoundTag& tag, StringBuffer& out);
    void rebuildRollover(const StringBuffer& rest, StringBuffer& out);

    ContentIdIndex m_contentIdIndex;
    // Where insertStyleSheets put its blocks into the HTML, so that the
    // following extraction takes them out without rewriting them again.
    std::vector<std::pair<int, int>> m_insertedStyleSpans;
    const StringBuffer* m_insertedStylesHtml = nullptr;
    int m_insertedStylesSize = -1;
    // While a style sheet read from a file is rewritten: its directory, put
    // in front of its relative url() values.
    bool m_inStyleSheetFile = false;
    StringBuffer m_styleSheetDirectory;

    // Complete mode
    void embedBackgroundImages(StringBuffer& text);
    CssReferences::Callbacks cssCallbacks(ReferenceSyntax syntax);
    void rewriteStyleAttribute(std::string_view raw, const RawTag& tag, size_t offset,
                               const CssReferences::Callbacks& callbacks, std::string& out);
    static bool addLazyBackground(std::string_view value, char attributeQuote, std::string& style);
    bool cssUrlReplacement(const std::string& address, ReferenceSyntax syntax,
                           std::string& replacement);
    CssReferences::ImportAction keepImportAddress(const EmbeddedReference& imported,
                                                  std::string& sheet);
    CssReferences::ImportAction importStyleSheet(const std::string& address, std::string& sheet);
    bool excluded(const char* url) const;
    void rewriteSrcsetTag(FoundTag& tag, StringBuffer& out);
    // Folded URLs of the sheets being imported, outermost first.
    std::vector<std::string> m_importing;

    // Message assembly
    void addResourceParts(const StringBuffer& html, MimeMessage2* root);
    void announceResources(const ReferencedIds& referenced, bool inFrameset);
    void addResourcePart(const char* url, const char* contentId, int index,
                         const ReferencedIds& referenced, bool inFrameset, MimeMessage2* root);
    void convertFrame(const char* url, StringBuffer& document, MimeMessage2& part,
                      MimeMessage2* root);
    enum class ResourceSkip { None, Emitted, Unreferenced, Excluded };
    ResourceSkip resourceSkip(const char* url, const char* contentId,
                              const ReferencedIds& referenced, bool inFrameset) const;
    bool alreadyEmitted(const char* url, const char* contentId) const;
    void markEmitted(const char* url, const char* contentId);
    void forgetEmitted();
    void writeFailedAddresses(StringBuffer& html) const;
    // The resources that could not be fetched, by content-id: each reference
    // to one is written back as its address, so that a mail reader can still
    // load it.
    std::unordered_map<std::string, std::string> m_failedAddresses;
    // How a local page wrote each reference, by content-id (the first form).
    std::unordered_map<std::string, std::string> m_writtenReferences;
    std::string m_messageTitle;
    std::string m_pageProblem;
    // "scheme://host:port" of the page, in lower case; empty: the login goes nowhere.
    std::string m_loginOrigin;
    void writeDump(const char* path, const StringBuffer& text);

    // Downloads ahead of the resource loop and the link pass (none when one
    // connection is allowed or no conversion runs).
    friend class PrefetchScope;
    void prefetchResources(const ReferencedIds& referenced, bool inFrameset);
    void prefetchLinkedStyleSheets(const StringBuffer& html);
    bool noteLinkedSheet(const char* url);
    // Whether a download made ahead stood for the first try, and how it went.
    enum class Prefetched { NotTried, Succeeded, Failed };
    Prefetched takePrefetched(const char* url, DataBuffer& data, FetchOutcome& outcome);
    ResourcePrefetch* m_prefetch = nullptr;
    // While the link pass runs silently to learn its style sheets: where it
    // notes the URLs it would fetch.
    std::vector<std::string>* m_linkedSheetUrls = nullptr;

    // Mirrors m_emitted for lookups, by resource (a relative address together
    // with the directory it is read from), plus the content-ids whose parts
    // exist, so that a content-id shared between documents gets one part.
    std::unordered_set<std::string> m_emittedUrls;
    std::unordered_set<std::string> m_emittedContentIds;
    // Frame documents being converted around the current document.
    int m_frameDepth = 0;
};
