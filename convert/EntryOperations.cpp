// The entry operations, where a conversion starts: convertUrl fetches the page,
// convertFile reads it and expands its includes, convertDocument takes a page
// the caller already has; all then call buildMessage (MessageAssembly.cpp),
// which runs every other stage.

#include "Mhtml.h"

#include "convert/ConvertText.h"
#include "convert/PageSniffing.h"
#include "convert/ResourceProgress.h"
#include "foundation/DataBuffer.h"
#include "foundation/DiagnosticLog.h"
#include "foundation/FileSys.h"
#include "foundation/FileUrl.h"
#include "http/CookieJar.h"
#include "http/CurlTransport.h"
#include "http/DesktopProxy.h"
#include "http/HttpDownload.h"
#include "http/VantrelHTTP.h"
#include "http/VantrelHttpImpl.h"
#include "mime/HtmlTags.h"
#include "mime/ParseEngine.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kMaxUrlCopy = 999;
// Include directives nest at most this deep; the page's own are level 1.
constexpr int kMaxIncludeDepth = 16;

void logError(DiagnosticLog* log, const char* text) {
    if (log != nullptr) {
        log->logError(text);
    }
}

void logData(DiagnosticLog* log, const char* name, const char* value) {
    if (log != nullptr) {
        log->logData(name, value);
    }
}

// Puts the working directory of before the call back on every way out.
class DirectoryRestorer {
public:
    DirectoryRestorer() { FileSys::getCurrentDirectory(m_saved); }
    DirectoryRestorer(const DirectoryRestorer&) = delete;
    DirectoryRestorer& operator=(const DirectoryRestorer&) = delete;
    ~DirectoryRestorer() {
        if (m_saved.getSize() > 0) {
            [[maybe_unused]] const int ignored = chdir(m_saved.getString());
        }
    }

private:
    StringBuffer m_saved;
};

using ClientPtr = std::unique_ptr<VantrelHTTP>;

ClientPtr openClient(Mhtml& converter, const StringBuffer& proxy) {
    ClientPtr client(createHttpClient(proxy.getString(), converter.m_directAccess));
    if (client == nullptr) {
        return nullptr;
    }
    client->log = converter.m_log;
    if (converter.m_httpLogin.getSize() > 0 && converter.m_httpPassword.getSize() > 0) {
        client->setUsername(converter.m_httpLogin.getString());
        client->setPassword(converter.m_httpPassword.getString());
    }
    client->setIgnoreCertErrors(converter.m_ignoreCertErrors);
    return client;
}

bool hasStatus200(VantrelHTTP& client) {
    return std::strcmp(client.getStatus(), "200") == 0;
}

// The server answered, but with another status than 200.
bool answeredOtherStatus(VantrelHTTP& client) {
    const char* status = client.getStatus();
    return status[0] != 0 && std::strcmp(status, "200") != 0;
}

// The page's bytes as its HTML: a body that starts with a NUL byte starts at
// its first "<".
void appendPageText(const void* bytes, size_t size, StringBuffer& html) {
    const auto* start = static_cast<const char*>(bytes);
    if (size > 0 && start[0] == 0) {
        const auto* angle = static_cast<const char*>(std::memchr(start, '<', size));
        const size_t cut = angle != nullptr ? static_cast<size_t>(angle - start) : size;
        start += cut;
        size -= cut;
    }
    html.appendBytes(start, static_cast<int>(size));
}

// The response's charset without the quotes that a server may put around
// it ("utf-8" in quotes is not a charset name any reader knows).
void appendResponseCharset(const char* charset, StringBuffer& out) {
    StringBuffer value(charset != nullptr ? charset : "");
    value.trim();
    const char first = value.charAt(0);
    if (value.getSize() >= 2 && (first == '"' || first == '\'') && value.lastChar() == first) {
        value.shorten(1);
        value.setString(value.getString() + 1);
        value.trim();
    }
    out.appendSb(value);
}

// What became of the client's last GET, in words.
std::string problemOf(VantrelHTTP& client) {
    const auto* impl = dynamic_cast<const VantrelHttpImpl*>(&client);
    if (impl == nullptr || impl->outcome.problem.empty()) {
        return "the page could not be loaded";
    }
    return impl->outcome.problem;
}

// Another access kind can only help when no server answered.
bool worthRetrying(VantrelHTTP& client) {
    const auto* impl = dynamic_cast<const VantrelHttpImpl*>(&client);
    return impl == nullptr || impl->outcome.worthRetrying();
}

void logOtherStatus(Mhtml& converter, VantrelHTTP& client) {
    logError(converter.m_log, "Failed to load Web page - status is not 200");
    logData(converter.m_log, "httpStatus", client.getStatus());
}

// An answer with another status than 200 speaks for itself.
void logLastFailure(Mhtml& converter, VantrelHTTP& client) {
    if (!answeredOtherStatus(client)) {
        logError(converter.m_log, "Failed to load Web page (2)");
    }
}

// The page's own download, tried once more under the other access kind
// when no proxy is set and no server answered. Null on failure, with the
// reason in problem.
ClientPtr fetchPage(Mhtml& converter, const StringBuffer& pageUrl, DataBuffer& body,
                    std::string& problem) {
    const StringBuffer& proxy = converter.m_proxy;
    ClientPtr client = openClient(converter, proxy);
    if (client == nullptr) {
        return nullptr;
    }
    if (client->fetchLogged(pageUrl.getString(), body) && hasStatus200(*client)) {
        return client;
    }
    problem = problemOf(*client);
    if (proxy.getSize() > 0) {
        if (answeredOtherStatus(*client)) {
            logOtherStatus(converter, *client);
        } else {
            logError(converter.m_log, "Failed to load Web page");
        }
        return nullptr;
    }
    if (!worthRetrying(*client)) {
        // The server's answer would only come again: this is the last try.
        logLastFailure(converter, *client);
        return nullptr;
    }
    client.reset();
    converter.m_directAccess = !converter.m_directAccess;
    client = openClient(converter, proxy);
    if (client == nullptr) {
        return nullptr;
    }
    body.release();
    if (client->fetchLogged(pageUrl.getString(), body) && hasStatus200(*client)) {
        problem.clear();
        return client;
    }
    problem = problemOf(*client);
    logLastFailure(converter, *client);
    return nullptr;
}

// A web page's conversion starts from its address without the fragment,
// which is also its base and root. A "user:password@" in it becomes the
// login for the page's own host and leaves the address, so that it is
// shown and sent nowhere else.
void startWebPage(Mhtml& converter, const char* url, StringBuffer& pageUrl) {
    converter.resetContexts();
    std::string address(url, strnlen(url, kMaxUrlCopy));
    std::string user;
    std::string password;
    if (takeUrlCredentials(address, user, password)) {
        converter.m_httpLogin.setString(user.c_str());
        converter.m_httpPassword.setString(password.c_str());
    }
    logData(converter.m_log, "url", address.c_str());

    pageUrl.setString(address.c_str());
    const char* fragment = std::strchr(pageUrl.getString(), '#');
    if (fragment != nullptr) {
        pageUrl.shorten(pageUrl.getSize() - static_cast<int>(fragment - pageUrl.getString()));
    }
    if (auto* listener = dynamic_cast<ResourceProgress*>(converter.m_log)) {
        listener->pageStarted(pageUrl.getString());
    }

    converter.m_local = false;
    converter.m_pageUrl.setSb(pageUrl);
    converter.m_charset.clear();
    converter.setBaseAndRoot(pageUrl.getString());
    converter.setLoginOrigin(pageUrl.getString());
    converter.currentContext().m_fromWeb = true;
}

// What the page's text is when it is no page ("not an HTML page (PNG
// image)"); empty for a page.
std::string nonPageProblem(Mhtml& converter, const StringBuffer& html) {
    const char* kind =
        nonPageKind(reinterpret_cast<const unsigned char*>(html.getString()), html.getSize());
    if (kind == nullptr) {
        return {};
    }
    logError(converter.m_log, "Not an HTML page");
    return std::string("not an HTML page (") + kind + ")";
}

bool loadPage(Mhtml& converter, const char* url, StringBuffer& out, std::string& problem) {
    StringBuffer pageUrl;
    startWebPage(converter, url, pageUrl);

    DataBuffer body;
    ClientPtr client = fetchPage(converter, pageUrl, body, problem);
    if (client == nullptr) {
        return false;
    }
    appendResponseCharset(client->getCharset(), converter.m_charset);
    StringBuffer html;
    appendPageText(body.getData(), body.getSize(), html);
    body.release();
    client.reset();
    problem = nonPageProblem(converter, html);
    return problem.empty() && converter.buildMessage(html, out);
}

// The kind of a local file that is no page, or null; its first kilobyte tells.
const char* nonPageFile(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return nullptr;
    }
    unsigned char head[1024];
    const size_t count = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    return nonPageKind(head, count);
}

// The path an included file is known by, so that a file being included is
// recognised whichever way a directive names it.
std::string includeKey(const char* name) {
    StringBuffer path(name);
    stripFileUrlPrefix(path, "file:///");
    path.replaceChar('|', ':');
    char resolved[PATH_MAX];
    if (realpath(path.getString(), resolved) != nullptr) {
        return resolved;
    }
    return path.getString();
}

// Server-side include directives, expanded recursively: at most
// kMaxIncludeDepth levels, and never a file inside itself.
class IncludeExpander {
public:
    explicit IncludeExpander(Mhtml& converter) : m_converter(converter) {}

    void expand(StringBuffer& html, int level) {
        if (!html.containsNoCase("<!--#include")) {
            return;
        }
        html.replaceAll("<!--#INCLUDE", "<!--#include");

        ParseEngine scanner;
        scanner.load(html.getString());
        StringBuffer result;
        result.reserve(html.getSize());
        // Once no "-->" follows some position, none follows a later one.
        bool endMarkerLeft = true;
        int copiedUpTo = 0;
        while (scanner.seekTo("<!--#include")) {
            result.appendBytes(scanner.text.getString() + copiedUpTo, scanner.pos - copiedUpTo);
            StringBuffer directive;
            if (endMarkerLeft && scanner.captureThrough("-->", directive)) {
                includeFile(directive, level, result);
            } else {
                endMarkerLeft = false;
                scanner.captureUntilChar('>', result);
            }
            copiedUpTo = scanner.pos;
        }
        result.appendBytes(scanner.text.getString() + copiedUpTo,
                           scanner.text.getSize() - copiedUpTo);
        html.clear();
        html.appendSb(result);
    }

private:
    void includeFile(const StringBuffer& directive, int level, StringBuffer& result) {
        DiagnosticLog* log = m_converter.m_log;
        logData(log, "ssinclude", directive.getString());
        StringBuffer cleaned;
        cleanTag(directive.getString(), cleaned, m_converter.m_verboseTags ? log : nullptr);
        StringBuffer fileName;
        getAttributeValue(cleaned.getString(), "file", fileName);
        logData(log, "filename", fileName.getString());

        if (level > kMaxIncludeDepth) {
            return;
        }
        const std::string key = includeKey(fileName.getString());
        for (const std::string& open : m_beingIncluded) {
            if (open == key) {
                return;
            }
        }
        std::unique_ptr<StringBuffer> included(
            StringBuffer::createFromFile(fileName.getString(), log));
        if (included == nullptr) {
            return;
        }
        m_beingIncluded.push_back(key);
        expand(*included, level + 1);
        m_beingIncluded.pop_back();
        result.appendSb(*included);
    }

    Mhtml& m_converter;
    std::vector<std::string> m_beingIncluded;
};

// A local page's conversion starts with nothing of an earlier one; its
// base is the host it is shown as.
void startLocalPage(Mhtml& converter, const char* host) {
    converter.resetContexts();
    converter.setLoginOrigin(nullptr);
    converter.m_local = true;
    converter.m_pageUrl.clear();
    converter.m_charset.clear();
    converter.currentBaseUrl().setString(host);
}

// A path or a file: URL (percent-encoded, perhaps on the host "localhost")
// as the path of a file, with forward slashes.
void localPath(const char* given, StringBuffer& path) {
    path.setString(given);
    path.trim();
    if (beginsWithNoCase(path.getString(), "file:")) {
        StringBuffer file;
        localFilePath(path.getString(), file);
        path.setSb(file);
    }
    path.replaceChar('\\', '/');
}

// The folder of a file's path; "./" when the path names none.
void folderOf(const StringBuffer& path, StringBuffer& folder) {
    const char* lastSlash = std::strrchr(path.getString(), '/');
    if (lastSlash == path.getString()) {
        folder.setString("/");
    } else if (lastSlash != nullptr) {
        folder.appendBytes(path.getString(), static_cast<int>(lastSlash - path.getString()));
    } else {
        folder.setString("./");
    }
}

// Relative references of a local page are read from its folder, which
// becomes the working directory.
void enterPageFolder(DiagnosticLog* log, StringBuffer& folder) {
    for (const char* prefix : {"file:///", "file://", "file:/", "file:"}) {
        if (stripFileUrlPrefix(folder, prefix)) {
            break;
        }
    }
    if (chdir(folder.getString()) != 0) {
        logError(log, "Failed to set directory to base directory");
        logData(log, "base_dir", folder.getString());
    }
}

// The folder that a document's local base names: a folder itself, else
// the folder of the file it names; none means the working directory.
void baseFolder(const char* base, StringBuffer& folder) {
    StringBuffer path;
    localPath(base, path);
    struct stat info;
    if (path.getSize() > 0 && stat(path.getString(), &info) == 0 && S_ISDIR(info.st_mode)) {
        folder.setSb(path);
    } else {
        folderOf(path, folder);
    }
}

// Nothing of a conversion that threw stays behind.
bool abandonConversion(Mhtml& converter, StringBuffer& out, int outSize, const char* text) {
    logError(converter.m_log, text);
    out.shorten(out.getSize() - outSize);
    converter.resetContexts();
    return false;
}

// What every request of one conversion shares, in use on this thread while
// the conversion runs: its cookies and its answers about the desktop's proxy.
struct ConversionSession {
    CookieJar cookies;
    CookieJarScope usingCookies{&cookies};
    DesktopProxyCache proxies;
    DesktopProxyScope usingProxies{&proxies};
};

} // namespace

bool Mhtml::convertUrl(const char* url, StringBuffer& out) {
    const int outSize = out.getSize();
    StringBuffer savedDirectory;
    FileSys::getCurrentDirectory(savedDirectory);
    m_pageProblem.clear();
    ConversionSession session;
    try {
        if (!openCookies(session.cookies)) {
            return false;
        }
        const bool loaded = loadPage(*this, url != nullptr ? url : "", out, m_pageProblem);
        setLoginOrigin(nullptr);
        return loaded;
    } catch (...) {
        // The desktop program must survive any page.
        if (savedDirectory.getSize() > 0) {
            [[maybe_unused]] const int ignored = chdir(savedDirectory.getString());
        }
        return abandonConversion(*this, out, outSize, "Unexpected exception in MHTML convert URL");
    }
}

bool Mhtml::convertFile(const char* path, const char* host, StringBuffer& out) {
    path = path != nullptr ? path : "";
    const int outSize = out.getSize();
    const DirectoryRestorer restorer;
    ConversionSession session;
    try {
        startLocalPage(*this, host);
        m_pageProblem.clear();
        if (!openCookies(session.cookies)) {
            return false;
        }
        logData(m_log, "filename", path);
        StringBuffer file;
        localPath(path, file);
        StringBuffer folder;
        folderOf(file, folder);
        if (ResourceProgress* listener = progress()) {
            listener->pageStarted(file.getString());
        }
        if (const char* kind = nonPageFile(file.getString())) {
            m_pageProblem = std::string("not an HTML page (") + kind + ")";
            logError(m_log, "Not an HTML page");
            return false;
        }
        std::unique_ptr<StringBuffer> html(StringBuffer::createFromFile(file.getString(), m_log));
        if (html == nullptr) {
            return false;
        }
        enterPageFolder(m_log, folder);
        expandIncludes(*html);
        return buildMessage(*html, out);
    } catch (...) {
        return abandonConversion(*this, out, outSize, "Unexpected exception in MHTML convert file");
    }
}

// The cookies the user gave go into the conversion's jar; a file that
// cannot be read fails the conversion, as the user asked for it.
bool Mhtml::openCookies(CookieJar& jar) {
    jar.addLines(m_cookieLines);
    if (m_cookieFile.getSize() == 0) {
        return true;
    }
    if (jar.loadFile(m_cookieFile.getString(), m_pageProblem)) {
        return true;
    }
    logError(m_log, "Failed to read cookies");
    return false;
}

void Mhtml::expandIncludes(StringBuffer& html) {
    IncludeExpander expander(*this);
    expander.expand(html, 1);
}

bool Mhtml::convertDocument(const char* bytes, int size, const char* url, const char* charset,
                            StringBuffer& out) {
    url = url != nullptr ? url : "";
    const size_t length = bytes != nullptr && size > 0 ? static_cast<size_t>(size) : 0;
    const int outSize = out.getSize();
    const DirectoryRestorer restorer;
    ConversionSession session;
    try {
        StringBuffer html;
        m_pageProblem.clear();
        if (!openCookies(session.cookies)) {
            return false;
        }
        if (isWebUrl(url)) {
            StringBuffer pageUrl;
            startWebPage(*this, url, pageUrl);
            appendResponseCharset(charset, m_charset);
            appendPageText(bytes, length, html);
            m_pageProblem = nonPageProblem(*this, html);
            const bool converted = m_pageProblem.empty() && buildMessage(html, out);
            setLoginOrigin(nullptr);
            return converted;
        }
        startLocalPage(*this, "localhost");
        logData(m_log, "url", url);
        appendResponseCharset(charset, m_charset);
        appendPageText(bytes, length, html);
        m_pageProblem = nonPageProblem(*this, html);
        if (!m_pageProblem.empty()) {
            return false;
        }
        StringBuffer folder;
        baseFolder(url, folder);
        enterPageFolder(m_log, folder);
        expandIncludes(html);
        return buildMessage(html, out);
    } catch (...) {
        return abandonConversion(*this, out, outSize,
                                 "Unexpected exception in MHTML convert document");
    }
}
