#pragma once

#include "convert/Mhtml.h"

#include <string>
#include <vector>

// How a pass test configures the converter.
enum class Mode {
    KeepScripts, // the defaults: scripts, iframes, comments and handlers stay
    MailSafe,    // m_keepScripts false, as the desktop program asks
    NoScripts,   // scripts kept, but m_noScripts set (a page with noscript)
    Local,       // local file mode, scripts kept
    LocalMailSafe,
};

// Fresh root context with base "http://host/dir" and root "http://host"
// (or the given ones), and the options of the mode.
void configure(Mhtml& converter, Mode mode, const char* base = "http://host/dir",
               const char* root = "http://host");

// Content-ids are random: each "VANTREL-CID-" + 36 characters becomes
// "CID<n>", n its place in the current resource map ("CID?" when absent).
std::string numberContentIds(Mhtml& converter, const std::string& text);

// The names of the current resource map, in order.
std::vector<std::string> resourceUrls(Mhtml& converter);

// True when text is "VANTREL-CID-" and a lower-case 8-4-4-4-12 UUID.
bool isContentId(const std::string& text);
