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

void registerToolbarButton() {
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

    std::string entryPath;
    if (!modulePath.empty() && installDesktopEntry(modulePath, entryPath)) {
        setDefaultHandler(userMimeAppsList(), kSchemeHandlerType, kDesktopEntryName);
    }
}
