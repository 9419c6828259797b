#pragma once

#include "app/BrowserSessions.h"

#include <string>
#include <vector>

// The cookies of a browser profile as cookies.txt lines, whichever browser
// it belongs to.

// choice: "firefox", "chromium" or "chrome", then optionally ":" and a
// profile (a name or a folder), as --cookies-from-browser takes it. False
// with the reason in words.
bool readBrowserCookies(const std::string& choice, std::vector<std::string>& lines,
                        std::string& problem);

// The cookies of the profile that shows a page of the open-pages list.
bool readProfileCookies(const SessionSource& source, std::vector<std::string>& lines,
                        std::string& problem);
