#pragma once

#include <string>
#include <vector>

// The profiles that a Firefox profiles.ini lists, read as pure functions
// over its text, and the search for one profile folder on this machine.

struct FirefoxProfile {
    std::string name;       // "Name", may be empty
    std::string directory;  // "Path", below the base folder unless absolute
    bool isDefault = false; // "Default=1"
};

// Every [Profile...] section that has a "Path", in file order. baseDir has
// no trailing "/".
std::vector<FirefoxProfile> firefoxProfiles(const std::string& baseDir,
                                            const std::string& profilesIni);

// The profile folders of firefoxProfiles, in the same order.
std::vector<std::string> firefoxProfileDirectories(const std::string& baseDir,
                                                   const std::string& profilesIni);

// The folder of the profile that Firefox starts without being told one:
// the "Default" of the first [Install...] section, else the profile with
// "Default=1", else the only profile. "" when none of these is there.
std::string firefoxDefaultProfileDirectory(const std::string& baseDir,
                                           const std::string& profilesIni);

// Finds a profile folder: a path (one with a "/", or an existing folder
// that no profiles.ini names), a profile name from the profiles.ini of one
// of bases, or, when profile is empty, the default profile of the first
// base that has one. False with the reason in words when there is none.
bool findFirefoxProfile(const std::vector<std::string>& bases, const std::string& profile,
                        std::string& directory, std::string& problem);
