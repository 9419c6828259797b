#include "app/ActionSetting.h"

#include "app/CreateEmailSteps.h"
#include "app/VT_Registry.h"
#include "foundation/StringBuffer.h"

#include <cstring>

bool launchMailClient = true;

namespace {

// A yes/no setting, stored as "1" or "0"; false when it is not stored.
bool readFlag(const char* name, StringBuffer& value) {
    VT_Registry registry(nullptr);
    return registry.readString(kCompanyName, kProductName, name, value);
}

void storeFlag(const char* name, bool on) {
    VT_Registry registry(nullptr);
    registry.writeString(kCompanyName, kProductName, name, on ? "1" : "0");
}

} // namespace

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

OptionsChoice readOptionsChoice() {
    VT_Registry registry(nullptr);
    StringBuffer option;
    StringBuffer dataDir;
    if (!registry.readString(kCompanyName, kProductName, kOptionValueName, option)) {
        option.clear();
    }
    if (!registry.readString(kCompanyName, kProductName, kDataDirValueName, dataDir)) {
        dataDir.clear();
    }
    OptionsChoice choice;
    choice.dataDir = dataDir.getString();
    choice.saveToFile = option.getSize() > 0 &&
                        std::strcmp(option.getString(), kOptionLaunch) != 0 &&
                        std::strcmp(option.getString(), kOptionSave) == 0;
    launchMailClient = !choice.saveToFile;
    choice.completePage = readCompletePage();
    choice.browserCookies = readBrowserCookies();
    choice.runPageScripts = readRunPageScripts();
    return choice;
}

void storeOptionsChoice(const char* dataDirText, bool launch) {
    StringBuffer dataDir;
    // As much as the edit box's block holds, never half a character.
    dataDir.setString(limitToBuffer(dataDirText, kDataDirBufferSize).c_str());
    dataDir.trim();
    VT_Registry registry(nullptr);
    registry.writeString(kCompanyName, kProductName, kDataDirValueName, dataDir.getString());
    registry.writeString(kCompanyName, kProductName, kOptionValueName,
                         launch ? kOptionLaunch : kOptionSave);
    launchMailClient = launch;
}

bool completePageSetting(const char* value) {
    return value != nullptr && std::strcmp(value, "1") == 0;
}

bool readCompletePage() {
    StringBuffer value;
    return readFlag(kCompletePageValueName, value) && completePageSetting(value.getString());
}

void storeCompletePage(bool on) {
    storeFlag(kCompletePageValueName, on);
}

bool browserCookiesSetting(const char* value) {
    return value == nullptr || std::strcmp(value, "0") != 0;
}

bool readBrowserCookies() {
    StringBuffer value;
    return !readFlag(kBrowserCookiesValueName, value) || browserCookiesSetting(value.getString());
}

void storeBrowserCookies(bool on) {
    storeFlag(kBrowserCookiesValueName, on);
}

bool readRunPageScripts() {
    StringBuffer value;
    return readFlag(kRunPageScriptsValueName, value) && completePageSetting(value.getString());
}

void storeRunPageScripts(bool on) {
    storeFlag(kRunPageScriptsValueName, on);
}
