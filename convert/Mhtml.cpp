// The converter object: its options and lists, the stack of document
// contexts, and each document's base and root address, which every other
// stage reads.

#include "Mhtml.h"

#include "convert/ConvertText.h"
#include "foundation/DiagnosticLog.h"
#include "foundation/FileUrl.h"

#include <cstring>
#include <unistd.h>

namespace {

constexpr int kMaxUrlCopy = 999;

void copyAtMost(const char* text, int limit, StringBuffer& out) {
    out.clear();
    if (text == nullptr) {
        return;
    }
    const size_t length = strnlen(text, static_cast<size_t>(limit));
    out.appendBytes(text, static_cast<int>(length));
}

void cutAtFirst(StringBuffer& text, char c) {
    const char* hit = std::strchr(text.getString(), c);
    if (hit != nullptr) {
        text.shorten(text.getSize() - static_cast<int>(hit - text.getString()));
    }
}

// A last segment without a dot is taken for a directory.
void appendSlashForDirectory(StringBuffer& url) {
    if (url.getSize() == 0 || url.lastChar() == '/') {
        return;
    }
    const char* lastSlash = std::strrchr(url.getString(), '/');
    if (lastSlash != nullptr && std::strchr(lastSlash + 1, '.') == nullptr) {
        url.appendChar('/');
    }
}

// The first "/" that is not part of a "//" pair; -1 when there is none.
int firstSingleSlash(const StringBuffer& url) {
    const char* text = url.getString();
    for (int i = 0; i < url.getSize(); ++i) {
        if (text[i] != '/') {
            continue;
        }
        if (text[i + 1] == '/') {
            ++i;
            continue;
        }
        return i;
    }
    return -1;
}

int lastSlashBehindScheme(const StringBuffer& url) {
    int from = 0;
    if (beginsWithNoCase(url.getString(), "http://")) {
        from = 7;
    } else if (beginsWithNoCase(url.getString(), "https://")) {
        from = 8;
    }
    for (int i = url.getSize() - 1; i >= from; --i) {
        if (url.charAt(i) == '/') {
            return i;
        }
    }
    return -1;
}

void readWorkingDirectory(StringBuffer& out) {
    out.clear();
    char buffer[4096];
    if (getcwd(buffer, sizeof buffer) != nullptr) {
        out.append(buffer);
    }
}

} // namespace

Mhtml::Mhtml() = default;

Mhtml::~Mhtml() {
    m_styleSheets.removeAllObjects();
    m_excludes.removeAllObjects();
    m_emitted.removeAllObjects();
    deleteAllContexts();
}

void Mhtml::deleteAllContexts() {
    m_contexts.removeAllObjects();
}

void Mhtml::addStyleSheet(const char* url) {
    m_styleSheets.appendObject(new StringBuffer(url));
}

void Mhtml::addExclude(const char* text) {
    m_excludes.appendObject(new StringBuffer(text));
}

void Mhtml::setBaseAndRoot(const char* url) {
    StringBuffer copy;
    copyAtMost(url, kMaxUrlCopy, copy);
    cutAtFirst(copy, '?');
    cutAtFirst(copy, '#');
    appendSlashForDirectory(copy);

    StringBuffer& root = currentRootUrl();
    const int slash = firstSingleSlash(copy);
    root.clear();
    if (slash > 0) {
        root.appendBytes(copy.getString(), slash);
    } else {
        root.setSb(copy);
    }
    if (m_log != nullptr) {
        m_log->logData("root_url", root.getString());
    }

    StringBuffer& base = currentBaseUrl();
    const int lastSlash = lastSlashBehindScheme(copy);
    base.clear();
    if (lastSlash >= 0) {
        base.appendBytes(copy.getString(), lastSlash);
    } else {
        base.setSb(copy);
    }
    if (m_log != nullptr) {
        m_log->logData("base_url", base.getString());
    }
}

void Mhtml::resetContexts() {
    deleteAllContexts();
    forgetAllContentIds();
    auto* root = new MhtmlContext();
    readWorkingDirectory(root->m_savedDirectory);
    m_contexts.appendObject(root);
}

void Mhtml::pushContext() {
    auto* context = new MhtmlContext();
    readWorkingDirectory(context->m_savedDirectory);
    context->m_savedLocal = m_local;
    m_contexts.appendObject(context);
}

void Mhtml::popContext() {
    auto* context = static_cast<MhtmlContext*>(m_contexts.popLast());
    if (context == nullptr) {
        return;
    }
    if (context->m_savedDirectory.getSize() > 0) {
        [[maybe_unused]] const int ignored = chdir(context->m_savedDirectory.getString());
    }
    m_local = context->m_savedLocal;
    forgetContentIds(context);
    delete context;
}

MhtmlContext& Mhtml::currentContext() {
    if (m_contexts.getSize() == 0) {
        resetContexts();
    }
    return *static_cast<MhtmlContext*>(m_contexts.elementAt(m_contexts.getSize() - 1));
}

ExtPtrArray& Mhtml::currentResources() {
    return currentContext().m_resources;
}

StringBuffer& Mhtml::currentBaseUrl() {
    return currentContext().m_baseUrl;
}

StringBuffer& Mhtml::currentRootUrl() {
    return currentContext().m_rootUrl;
}

void Mhtml::enterDocumentDirectory(const char* location) {
    if (location == nullptr || isWebUrl(location)) {
        return;
    }
    StringBuffer path;
    localFilePath(location, path);
    path.replaceChar('\\', '/');
    const char* lastSlash = std::strrchr(path.getString(), '/');
    if (lastSlash == nullptr) {
        return;
    }
    // A document at the top of the file system lives in "/", not in "".
    const int cut =
        lastSlash == path.getString() ? 1 : static_cast<int>(lastSlash - path.getString());
    path.shorten(path.getSize() - cut);
    if (chdir(path.getString()) != 0 && m_log != nullptr) {
        m_log->logError("Failed to change directory");
        m_log->logData("directory", path.getString());
    }
}
