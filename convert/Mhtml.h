#pragma once

#include "convert/MhtmlContext.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"

class DataBuffer;
class DiagnosticLog;
class MimeMessage2;

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
    bool convertFile(const char* path, const char* host, StringBuffer& out);

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

private:
    void deleteAllContexts();
};
