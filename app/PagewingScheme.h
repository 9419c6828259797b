#pragma once

#include <string>

// The "pagewing:" URL scheme through which a browser hands a page to the
// program: "pagewing:" followed by the page's percent-encoded URL.

inline constexpr const char* kPagewingScheme = "pagewing:";

// The bookmarklet that sends the current page of any browser to the program.
inline constexpr const char* kBookmarklet =
    "javascript:location.href='pagewing:'+encodeURIComponent(location.href)";

// True when argument begins with "pagewing:" (any case); url then holds the
// decoded page URL (made valid UTF-8, cut at a decoded NUL).
bool decodePagewingArgument(const char* argument, std::string& url);
