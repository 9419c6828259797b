#pragma once

#include <string>
#include <vector>

// What the page is loaded with.
struct RenderRequest {
    std::string url; // an http(s) or file URL
    // Netscape cookies.txt lines, given to the browser before it loads.
    std::vector<std::string> cookieLines;
    std::string proxy; // HOST[:PORT]; empty: the desktop's settings
    bool insecure = false;
    // A login, given only to the page's own scheme, host and port.
    std::string login;
    std::string password;
    std::vector<std::string> resolves; // HOST:PORT:ADDRESS
    // How long the page may take to load and fall quiet; the document is
    // taken as it stands then.
    int timeoutSeconds = 30;
};

// The document after the page's scripts ran.
struct RenderedPage {
    std::string html; // UTF-8, its doctype in front, without noscript elements
    std::string url;  // where the page ended up, after redirects
    // Every cookie the browser held afterwards (those the page's answers
    // and scripts set included), as cookies.txt lines.
    std::vector<std::string> cookieLines;
};

// Loads the page in headless Chromium with a fresh profile of its own
// (removed afterwards), waits for its load event and then until the network
// is quiet, scrolls through it in steps so that pictures that load on
// sight load, and takes the document as it then stands. False with the
// reason in words ("--render needs Chromium ...", "the server answered 404
// Not Found", "not an HTML page (image/png)").
bool renderPage(const RenderRequest& request, RenderedPage& page, std::string& problem);
