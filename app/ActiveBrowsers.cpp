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

bool ActiveBrowsers::looksLikeWebPage(const char* url) {
    return url != nullptr &&
           (findNoCase(url, ".htm") != nullptr || strncasecmp(url, "http", 4) == 0);
}

bool ActiveBrowsers::refresh() {
    const std::vector<SessionSource> sources = findSessionSources(BrowserHomes::fromEnvironment());
    std::vector<std::string> found;
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
        found.insert(found.end(), pageUrls.begin(), pageUrls.end());
    }
    if (!sources.empty() && unreadable == static_cast<int>(sources.size())) {
        return false;
    }
    urls.removeAllObjects();
    for (const std::string& url : found) {
        // A URL is text up to its first NUL, as every list entry is.
        if (looksLikeWebPage(url.c_str())) {
            urls.appendObject(new StringBuffer(url.c_str()));
        }
    }
    return true;
}
