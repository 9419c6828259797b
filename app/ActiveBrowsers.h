#pragma once

#include "app/BrowserSessions.h"
#include "foundation/ExtPtrArray.h"

#include <vector>

// The addresses of the web pages open in the user's browsers, read from the
// session files of the running Firefox, Chromium and Chrome.
//
// Contract: refresh() replaces the list and returns true when the sources
// could be read (no browser at all gives an empty list and true); when
// every session file found fails to read it returns false and leaves the
// list as it was. Only URLs that contain ".htm" or begin with "http" (any
// case) are kept. The object owns the StringBuffer entries of the list.
class ActiveBrowsers {
public:
    ActiveBrowsers() = default;
    virtual ~ActiveBrowsers();
    ActiveBrowsers(const ActiveBrowsers&) = delete;
    ActiveBrowsers& operator=(const ActiveBrowsers&) = delete;

    bool refresh();
    int getCount() const { return urls.getSize(); }
    // The text of URL i, or null when there is none.
    const char* getUrl(int i) const;
    // The browser and profile that show URL i; null when there is none.
    const SessionSource* getSource(int i) const;

    // True for a URL the list keeps: ".htm" anywhere or "http" in front.
    static bool looksLikeWebPage(const char* url);

    ExtPtrArray urls;

private:
    std::vector<SessionSource> m_sources; // one per entry of urls
};
