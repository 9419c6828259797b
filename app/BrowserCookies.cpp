#include "app/BrowserCookies.h"

#include "app/ChromiumCookies.h"
#include "app/FirefoxCookies.h"

bool readBrowserCookies(const std::string& choice, std::vector<std::string>& lines,
                        std::string& problem) {
    const size_t colon = choice.find(':');
    const std::string browser = choice.substr(0, colon);
    const std::string profile = colon == std::string::npos ? "" : choice.substr(colon + 1);
    if (browser == "firefox" || browser == "firefox-esr") {
        return readFirefoxCookies(profile, lines, problem);
    }
    if (browser == "chromium") {
        return readChromiumCookies("chromium", profile, lines, problem);
    }
    if (browser == "chrome" || browser == "google-chrome") {
        return readChromiumCookies("chrome", profile, lines, problem);
    }
    problem = "unknown browser '" + browser + "' (known: firefox, chromium, chrome)";
    return false;
}

bool readProfileCookies(const SessionSource& source, std::vector<std::string>& lines,
                        std::string& problem) {
    if (source.kind == SessionSource::Kind::Firefox) {
        return readFirefoxCookies(source.profile, lines, problem);
    }
    // A Chromium profile folder names its browser by the user data folder
    // it is in.
    const bool chrome = source.profile.find("/google-chrome/") != std::string::npos;
    return readChromiumCookies(chrome ? "chrome" : "chromium", source.profile, lines, problem);
}
