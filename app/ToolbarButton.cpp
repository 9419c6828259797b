#include "app/ToolbarButton.h"

#include "app/DesktopEntry.h"
#include "app/VT_Registry.h"

#include <climits>
#include <unistd.h>

std::string ownProgramPath() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof path) {
        return {};
    }
    return std::string(path, static_cast<size_t>(length));
}

ToolbarButtonReport registerToolbarButton() {
    VT_Registry registry(nullptr);
    registry.createKeyPath(HKEY_LOCAL_MACHINE, kToolbarKeyPath);
    const std::string modulePath = ownProgramPath();
    const std::string iconText = modulePath + ",103";
    registry.setStringByPath(kToolbarKeyPath, "Exec", modulePath.c_str());
    registry.setStringByPath(kToolbarKeyPath, "Icon", iconText.c_str());
    registry.setStringByPath(kToolbarKeyPath, "HotIcon", iconText.c_str());
    registry.setStringByPath(kToolbarKeyPath, "MenuText", "Pagewing!");
    registry.setStringByPath(kToolbarKeyPath, "ButtonText", "Pagewing!");
    registry.setStringByPath(kToolbarKeyPath, "clsid", kToolbarButtonClsid);
    registry.setStringByPath(kToolbarKeyPath, "Default Visible", "YES");

    ToolbarButtonReport report;
    std::string entryPath;
    report.schemeHandler =
        !modulePath.empty() && installDesktopEntry(modulePath, entryPath) &&
        setDefaultHandler(userMimeAppsList(), kSchemeHandlerType, kDesktopEntryName);
    report.manifests = installUserHostManifests(modulePath);
    report.extensionFolder = extensionFolder(modulePath);
    return report;
}

std::string toolbarButtonMessage(const ToolbarButtonReport& report) {
    std::string text = report.schemeHandler
                           ? "Pagewing now opens \"pagewing:\" links (the bookmarklet's).\n\n"
                           : "Pagewing could not be made the handler of \"pagewing:\" links.\n\n";
    if (!report.manifests.written.empty()) {
        text += "The browsers can now start Pagewing from its extension; written:\n";
        for (const std::string& path : report.manifests.written) {
            text += "    " + path + "\n";
        }
    }
    for (const std::string& path : report.manifests.failed) {
        text += "Could not write " + path + "\n";
    }
    const std::string folder = report.extensionFolder.empty()
                                   ? "the folder \"extension\" of Pagewing's files"
                                   : report.extensionFolder;
    text += "\nTo add the button \"Email this page\" to a browser:\n"
            "  Chromium or Chrome: open chrome://extensions, turn on Developer mode, choose "
            "\"Load unpacked\" and pick " +
            folder +
            ".\n"
            "  Firefox: open about:debugging#/runtime/this-firefox, choose \"Load Temporary "
            "Add-on\" and pick manifest.json in " +
            folder + " (Firefox keeps it until it quits).";
    return text;
}
