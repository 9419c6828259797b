#include "app/ActionSetting.h"

#include "app/VT_Registry.h"
#include "foundation/StringBuffer.h"

#include <cstring>

bool launchMailClient = true;

bool optionLaunchesMailClient(const char* option) {
    return option == nullptr || std::strcmp(option, kOptionSave) != 0;
}

const char* refreshActionSetting() {
    VT_Registry registry(nullptr);
    StringBuffer option;
    if (!registry.readString(kCompanyName, kProductName, kOptionValueName, option)) {
        option.clear();
    }
    launchMailClient = optionLaunchesMailClient(option.getString());
    return launchMailClient ? kActionLabelLaunch : kActionLabelSave;
}

void readDataDir(StringBuffer& out) {
    out.clear();
    VT_Registry registry(nullptr);
    if (!registry.readString(kCompanyName, kProductName, kDataDirValueName, out)) {
        out.clear();
    }
    out.trim();
}
