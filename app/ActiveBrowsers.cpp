#include "app/ActiveBrowsers.h"

#include "app/BrowserSessions.h"
#include "app/ChromiumSession.h"
#include "app/FirefoxSession.h"
#include "foundation/StringBuffer.h"

#include <strings.h>

namespace {

// Session files of real browsers stay far below this even with thousands of tabs.
constexpr size_t kMaxSessionFileSize = 128u * 1024u * 1024u;

} // namespace

ActiveBrowsers::~ActiveBrowsers() {
    urls.removeAllObjects();
}

const char* ActiveBrowsers::getUrl(int i) const {
    const auto* url = static_cast<const StringBuffer*>(urls.elementAt(i));
    return url != nullptr ? url->getString() : nullptr;
}

const SessionSource* ActiveBrowsers::getSource(int i) const {
    return i >= 0 && i < static_cast<int>(m_sources.size()) ? &m_sources[static_cast<size_t>(i)]
                                                            : nullptr;
}

bool ActiveBrowsers::looksLikeWebPage(const char* url) {
    return url != nullptr &&
           (findNoCase(url, ".htm") != nullptr || strncasecmp(url, "http", 4) == 0);
}

bool ActiveBrowsers::refresh() {
    const std::vector<SessionSource> sources = findSessionSources(BrowserHomes::fromEnvironment());
    std::vector<std::pair<std::string, const SessionSource*>> found;
    int unreadable = 0;
    for (const SessionSource& source : sources) {
        std::string bytes;
        if (!readSessionFile(source.path, kMaxSessionFileSize, bytes)) {
            ++unreadable;
            continue;
        }
        const std::vector<std::string> pageUrls = source.kind == SessionSource::Kind::Firefox
                                                      ? firefoxSessionFileUrls(bytes)
                                                      : chromiumSessionUrls(bytes);
        for (const std::string& url : pageUrls) {
            found.emplace_back(url, &source);
        }
    }
    if (!sources.empty() && unreadable == static_cast<int>(sources.size())) {
        return false;
    }
    urls.removeAllObjects();
    m_sources.clear();
    for (const auto& [url, source] : found) {
        // A URL is text up to its first NUL, as every list entry is.
        if (looksLikeWebPage(url.c_str())) {
            urls.appendObject(new StringBuffer(url.c_str()));
            m_sources.push_back(*source);
        }
    }
    return true;
}
