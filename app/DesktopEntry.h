#pragma once

#include <string>

// The desktop entry through which the desktop starts the program for
// "pagewing:" URLs, and the user's choice of it as their handler.

inline constexpr const char* kDesktopEntryName = "pagewing.desktop";
inline constexpr const char* kSchemeHandlerType = "x-scheme-handler/pagewing";

// One Exec argument, quoted as desktop entries require ("%" doubled, the
// characters '"', '`', '$' and '\' escaped inside the quotes).
std::string quoteExecArgument(const std::string& argument);

// The entry for the program at programPath, as file text.
std::string desktopEntryText(const std::string& programPath);

// $HOME when it is an absolute path, else the user database's.
std::string homeDirectory();

// Replaces path with text in one step (mode for a new file), making the
// folders on the way (mode 0700).
bool saveText(const std::string& path, const std::string& text, int mode);

// $XDG_DATA_HOME/applications, else ~/.local/share/applications.
std::string userApplicationsDirectory();
// $XDG_CONFIG_HOME/mimeapps.list, else ~/.config/mimeapps.list.
std::string userMimeAppsList();

// Writes the entry into the user's applications folder; path names it.
bool installDesktopEntry(const std::string& programPath, std::string& path);

// Makes desktopId the default (and an added) handler of mimeType in the
// given mimeapps.list, keeping everything else the file says.
bool setDefaultHandler(const std::string& mimeAppsList, const char* mimeType,
                       const char* desktopId);
