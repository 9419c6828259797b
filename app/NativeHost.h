#pragma once

#include <string>
#include <vector>

// The browser extension's counterpart. A browser starts the program with
// its own arguments (Chromium the extension's origin, Firefox the manifest's
// path and the extension's id) and writes one message to its standard
// input: a 4-byte length in native byte order, then that much UTF-8 JSON
// ({"url", "title", "charset", "html", "cookies"}). The host writes the page
// into a private folder, starts the desktop program on it detached from the
// browser, answers {"ok":true} at once, and ends; anything it refuses is
// answered {"ok":false,"error":"..."}. Nothing in the message is ever run.
// Returns the exit status.
int runNativeHost(const std::vector<std::string>& arguments);

// Whether the arguments are those a browser starts a native host with.
bool looksLikeBrowserHostStart(const std::vector<std::string>& arguments);

// The extensions that may talk to the host.
inline constexpr const char* kFirefoxExtensionId = "pagewing@pagewing.org";
std::string chromiumExtensionOrigin();

// The desktop program's argument for a page the host handed over.
inline constexpr const char* kCapturedPageArgument = "--captured-page";
