#pragma once

#include <string>

class StringBuffer;

// Where the program keeps its two settings, and the process-wide Create
// Email action that they decide.
inline constexpr const char* kCompanyName = "Vantrel Software, Inc.";
inline constexpr const char* kProductName = "Pagewing";
inline constexpr const char* kOptionValueName = "Option";
inline constexpr const char* kDataDirValueName = "DataDir";
inline constexpr const char* kOptionLaunch = "LaunchOutlookExpress";
inline constexpr const char* kOptionSave = "SaveEML";
// Whether Create Email embeds a complete page: "1" on, "0" (or absent) off.
inline constexpr const char* kCompletePageValueName = "CompletePage";
// Whether a page picked from the list of open pages is fetched with its
// browser's cookies: "0" off, anything else (or absent) on.
inline constexpr const char* kBrowserCookiesValueName = "UseBrowserCookies";
// Whether Create Email runs the page's scripts in a browser before it
// converts the page: "1" on, "0" (or absent) off.
inline constexpr const char* kRunPageScriptsValueName = "RunPageScripts";

inline constexpr const char* kActionLabelLaunch = "Create Email Action: Launch Outlook Express";
inline constexpr const char* kActionLabelSave = "Create Email Action: Save Email to File";

// The Create Email action: true = write to a temporary file and open it
// with the mail client; false = ask for a file name and save it there.
extern bool launchMailClient;

// True unless the stored "Option" is exactly "SaveEML".
bool optionLaunchesMailClient(const char* option);

// Reads "Option", sets launchMailClient from it and returns the status
// line text that says which action runs. An unreadable setting means launch.
const char* refreshActionSetting();

// Clears out, reads "DataDir" into it and trims it ("" when absent).
void readDataDir(StringBuffer& out);

// What the Options dialog shows when it opens: the stored directory and
// whether the save action is chosen. Sets launchMailClient to match.
struct OptionsChoice {
    std::string dataDir;
    bool saveToFile = false;
    bool completePage = false;
    bool browserCookies = true;
    bool runPageScripts = false;
};
OptionsChoice readOptionsChoice();

// The edit box text is read into a block of this many bytes, NUL included.
inline constexpr int kDataDirBufferSize = 500;

// Stores the Options dialog's choice: the directory text (at most 499
// bytes, trimmed) and the action; sets launchMailClient. Failures to store
// are not reported.
void storeOptionsChoice(const char* dataDirText, bool launch);

// True when "CompletePage" is stored as "1"; anything else, or nothing, is off.
bool completePageSetting(const char* value);
bool readCompletePage();
// Stores "CompletePage" as "1" or "0". Failures to store are not reported.
void storeCompletePage(bool on);

// True unless "UseBrowserCookies" is stored as "0".
bool browserCookiesSetting(const char* value);
bool readBrowserCookies();
// Stores "UseBrowserCookies" as "1" or "0". Failures to store are not reported.
void storeBrowserCookies(bool on);

// True when "RunPageScripts" is stored as "1".
bool readRunPageScripts();
// Stores "RunPageScripts" as "1" or "0". Failures to store are not reported.
void storeRunPageScripts(bool on);
