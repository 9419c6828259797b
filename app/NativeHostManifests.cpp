#include "app/NativeHostManifests.h"

#include "app/DesktopEntry.h"
#include "app/NativeHost.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>

namespace {

bool isFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

} // namespace

std::string hostManifestText(HostBrowser browser, const std::string& programPath) {
    nlohmann::ordered_json manifest = {
        {"name", kNativeHostName},
        {"description", "Pagewing: the page you see, as an e-mail"},
        {"path", programPath},
        {"type", "stdio"},
    };
    if (browser == HostBrowser::Firefox) {
        manifest["allowed_extensions"] = {kFirefoxExtensionId};
    } else {
        manifest["allowed_origins"] = {chromiumExtensionOrigin()};
    }
    return manifest.dump(2) + "\n";
}

std::string userHostManifestPath(HostBrowser browser, const std::string& home) {
    const std::string file = std::string("/") + kNativeHostName + ".json";
    switch (browser) {
    case HostBrowser::Firefox:
        return home + "/.mozilla/native-messaging-hosts" + file;
    case HostBrowser::Chromium:
        return home + "/.config/chromium/NativeMessagingHosts" + file;
    case HostBrowser::Chrome:
        break;
    }
    return home + "/.config/google-chrome/NativeMessagingHosts" + file;
}

HostManifestsReport installUserHostManifests(const std::string& programPath) {
    HostManifestsReport report;
    const std::string home = homeDirectory();
    for (const HostBrowser browser :
         {HostBrowser::Firefox, HostBrowser::Chromium, HostBrowser::Chrome}) {
        const std::string path = userHostManifestPath(browser, home);
        if (!programPath.empty() && saveText(path, hostManifestText(browser, programPath), 0644)) {
            report.written.push_back(path);
        } else {
            report.failed.push_back(path);
        }
    }
    return report;
}

std::string extensionFolder(const std::string& programPath) {
    const std::string installed = folderOf(folderOf(programPath)) + "/share/pagewing/extension";
    if (isFolder(installed)) {
        return installed;
    }
    const std::string source = PAGEWING_SOURCE_DIR "/browser/extension";
    return isFolder(source) ? source : std::string();
}
