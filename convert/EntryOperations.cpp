// The entry operations, where a conversion starts: convertUrl fetches the page,
// convertFile reads it and expands its includes; both then call buildMessage
// (MessageAssembly.cpp), which runs every other stage.

#include "Mhtml.h"

#include "convert/PageSniffing.h"
#include "convert/ResourceProgress.h"
#include "foundation/DataBuffer.h"
#include "foundation/DiagnosticLog.h"
#include "foundation/FileSys.h"
#include "foundation/FileUrl.h"
#include "http/CurlTransport.h"
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

// A body that starts with a NUL byte starts at its first "<".
void dropLeadingBinary(DataBuffer& body) {
    if (body.getSize() == 0 || body.getData()[0] != 0) {
        return;
    }
    const unsigned char* start = body.getData();
    const auto* angle = static_cast<const unsigned char*>(std::memchr(start, '<', body.getSize()));
    const uint32_t cut = angle != nullptr ? static_cast<uint32_t>(angle - start) : body.getSize();
    std::memmove(body.getData(), start + cut, body.getSize() - cut);
    body.truncate(body.getSize() - cut);
}

// The response's charset without the quotes that a server may put around
// it ("utf-8" in quotes is not a charset name any reader knows).
void appendResponseCharset(const char* charset, StringBuffer& out) {
    StringBuffer value(charset);
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

// The page's address as it is used and shown: without its fragment, and
// without a "user:password@", which becomes the login for the page's host.
void takePageUrl(Mhtml& converter, const char* url, StringBuffer& pageUrl) {
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
}

bool loadPage(Mhtml& converter, const char* url, StringBuffer& out, std::string& problem) {
    converter.resetContexts();
    StringBuffer pageUrl;
    takePageUrl(converter, url, pageUrl);
    if (auto* listener = dynamic_cast<ResourceProgress*>(converter.m_log)) {
        listener->pageStarted(pageUrl.getString());
    }

    converter.m_local = false;
    converter.m_pageUrl.setSb(pageUrl);
    converter.m_charset.clear();
    converter.setBaseAndRoot(pageUrl.getString());
    converter.setLoginOrigin(pageUrl.getString());
    converter.currentContext().m_fromWeb = true;

    DataBuffer body;
    ClientPtr client = fetchPage(converter, pageUrl, body, problem);
    if (client == nullptr) {
        return false;
    }
    dropLeadingBinary(body);
    if (const char* kind = nonPageKind(body.getData(), body.getSize())) {
        problem = std::string("not an HTML page (") + kind + ")";
        logError(converter.m_log, "Not an HTML page");
        return false;
    }
    appendResponseCharset(client->getCharset(), converter.m_charset);
    StringBuffer html;
    html.appendBytes(body.getData(), static_cast<int>(body.getSize()));
    body.release();
    client.reset();
    return converter.buildMessage(html, out);
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

} // namespace

bool Mhtml::convertUrl(const char* url, StringBuffer& out) {
    const int outSize = out.getSize();
    StringBuffer savedDirectory;
    FileSys::getCurrentDirectory(savedDirectory);
    try {
        m_pageProblem.clear();
        const bool loaded = loadPage(*this, url != nullptr ? url : "", out, m_pageProblem);
        setLoginOrigin(nullptr);
        return loaded;
    } catch (...) {
        // The desktop program must survive any page.
        logError(m_log, "Unexpected exception in MHTML convert URL");
        out.shorten(out.getSize() - outSize);
        if (savedDirectory.getSize() > 0) {
            [[maybe_unused]] const int ignored = chdir(savedDirectory.getString());
        }
        resetContexts();
        return false;
    }
}

bool Mhtml::convertFile(const char* path, const char* host, StringBuffer& out) {
    path = path != nullptr ? path : "";
    const int outSize = out.getSize();
    const DirectoryRestorer restorer;
    try {
        resetContexts();
        logData(m_log, "filename", path);
        m_local = true;
        m_pageProblem.clear();
        setLoginOrigin(nullptr);
        // Nothing of an earlier conversion with this object carries over.
        m_pageUrl.clear();
        m_charset.clear();

        StringBuffer copy(path);
        copy.trim();
        // A file: URL names its file percent-encoded, perhaps on the host
        // "localhost".
        if (beginsWithNoCase(copy.getString(), "file:")) {
            StringBuffer file;
            localFilePath(copy.getString(), file);
            copy.setSb(file);
        }
        copy.replaceChar('\\', '/');
        StringBuffer baseDirectory;
        const char* lastSlash = std::strrchr(copy.getString(), '/');
        if (lastSlash != nullptr) {
            baseDirectory.appendBytes(copy.getString(),
                                      static_cast<int>(lastSlash - copy.getString()));
        } else {
            baseDirectory.setString("./");
        }
        currentBaseUrl().setString(host);
        if (auto* listener = progress()) {
            listener->pageStarted(copy.getString());
        }
        if (const char* kind = nonPageFile(copy.getString())) {
            m_pageProblem = std::string("not an HTML page (") + kind + ")";
            logError(m_log, "Not an HTML page");
            return false;
        }

        std::unique_ptr<StringBuffer> html(StringBuffer::createFromFile(copy.getString(), m_log));
        if (html == nullptr) {
            return false;
        }
        for (const char* prefix : {"file:///", "file://", "file:/", "file:"}) {
            if (stripFileUrlPrefix(baseDirectory, prefix)) {
                break;
            }
        }
        if (chdir(baseDirectory.getString()) != 0) {
            logError(m_log, "Failed to set directory to base directory");
            logData(m_log, "base_dir", baseDirectory.getString());
        }
        expandIncludes(*html);
        return buildMessage(*html, out);
    } catch (...) {
        logError(m_log, "Unexpected exception in MHTML convert file");
        out.shorten(out.getSize() - outSize);
        resetContexts();
        return false;
    }
}

void Mhtml::expandIncludes(StringBuffer& html) {
    IncludeExpander expander(*this);
    expander.expand(html, 1);
}
