#pragma once

class StringBuffer;

// Where the program keeps its two settings, and the process-wide Create
// Email action that they decide.
inline constexpr const char* kCompanyName = "Vantrel Software, Inc.";
inline constexpr const char* kProductName = "Pagewing";
inline constexpr const char* kOptionValueName = "Option";
inline constexpr const char* kDataDirValueName = "DataDir";
inline constexpr const char* kOptionLaunch = "LaunchOutlookExpress";
inline constexpr const char* kOptionSave = "SaveEML";

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
