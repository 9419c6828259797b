#pragma once

#include <string>
#include <vector>

// The files through which a browser finds the native host: one JSON
// manifest per browser, naming the program and the extension that may start
// it.

inline constexpr const char* kNativeHostName = "org.pagewing.host";

enum class HostBrowser { Firefox, Chromium, Chrome };

// The manifest for the program at programPath, as file text: Firefox's
// names the extension by its id, Chromium's and Chrome's by its origin.
std::string hostManifestText(HostBrowser browser, const std::string& programPath);

// Where the browser looks for the user's own manifests, under home.
std::string userHostManifestPath(HostBrowser browser, const std::string& home);

struct HostManifestsReport {
    std::vector<std::string> written;
    std::vector<std::string> failed;
};

// Writes the user's manifests for all three browsers.
HostManifestsReport installUserHostManifests(const std::string& programPath);

// The extension's files as installed beside the program, or in the source
// tree the program was built from; "" when neither is there.
std::string extensionFolder(const std::string& programPath);
