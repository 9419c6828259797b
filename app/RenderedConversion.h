#pragma once

#include <string>
#include <vector>

class Mhtml;
class StringBuffer;

struct RenderSettings {
    std::vector<std::string> resolves; // HOST:PORT:ADDRESS, as the downloads use them
    int timeoutSeconds = 30;
};

// Converts the page at address (an http(s) URL, or a local file) after its
// scripts ran in a browser. The converter's cookies, proxy, login and
// certificate choice go to the browser; the document as it then stands is
// converted as a fetched page is, with the page's final address as its
// base; its resources are then downloaded as always, with every cookie the
// browser held. False with the reason in words.
bool convertRenderedPage(Mhtml& converter, const std::string& address,
                         const RenderSettings& settings, StringBuffer& out, std::string& problem);
