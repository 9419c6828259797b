#pragma once

#include <string>
#include <vector>

// Where the running browsers of this user keep the tabs they show.
struct SessionSource {
    enum class Kind { Firefox, Chromium };
    Kind kind;
    std::string path;
    // The profile folder the session belongs to: where its cookies are.
    std::string profile;
};

// The places to look, from the environment (HOME, XDG_CONFIG_HOME) read
// at the time of the call.
struct BrowserHomes {
    std::vector<std::string> firefoxBases;  // folders holding profiles.ini
    std::vector<std::string> chromiumRoots; // user data folders
    static BrowserHomes fromEnvironment();
};

// The session files of running browsers, in a fixed order: Firefox
// profiles (profiles.ini order), then Chromium and Chrome profiles (name
// order). Firefox's recovery file exists only while it runs (or after it
// crashed); a Chromium user data folder counts only while its
// SingletonLock names a live process.
std::vector<SessionSource> findSessionSources(const BrowserHomes& homes);

// The newest "Session_<time>" file in a Chromium "Sessions" folder, or "".
std::string newestChromiumSessionFile(const std::string& sessionsDir);

// True while the browser that owns this user data folder runs.
bool chromiumIsRunning(const std::string& userDataDir);

// Reads a whole file of at most maxSize bytes; false when it cannot be read.
bool readSessionFile(const std::string& path, size_t maxSize, std::string& bytes);
