#include "app/FirefoxProfiles.h"

#include "app/BrowserSessions.h"

#include <sys/stat.h>
#include <utility>

namespace {

constexpr size_t kMaxProfilesIniSize = 1024 * 1024;

struct IniSection {
    std::string title; // between the brackets
    std::vector<std::pair<std::string, std::string>> entries;

    std::string value(const std::string& key) const {
        for (const auto& [name, text] : entries) {
            if (name == key) {
                return text;
            }
        }
        return {};
    }
};

std::string trimmed(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t\r");
    if (start == std::string::npos) {
        return {};
    }
    const size_t end = text.find_last_not_of(" \t\r");
    return text.substr(start, end - start + 1);
}

// Lines before the first section, and those of a malformed section
// header, belong to no section.
std::vector<IniSection> iniSections(const std::string& text) {
    std::vector<IniSection> sections;
    bool inSection = false;
    size_t lineStart = 0;
    while (lineStart < text.size()) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = text.size();
        }
        const std::string line = trimmed(text.substr(lineStart, lineEnd - lineStart));
        lineStart = lineEnd + 1;
        if (!line.empty() && line.front() == '[') {
            inSection = line.back() == ']';
            if (inSection) {
                sections.push_back({line.substr(1, line.size() - 2), {}});
            }
            continue;
        }
        const size_t equals = line.find('=');
        if (inSection && equals != std::string::npos) {
            sections.back().entries.emplace_back(trimmed(line.substr(0, equals)),
                                                 trimmed(line.substr(equals + 1)));
        }
    }
    return sections;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// A relative profile's Path is joined to the base even when it begins
// with "/", as profiles.ini readers have always done.
std::string underBase(const std::string& baseDir, const std::string& path, bool relative) {
    return relative || path.front() != '/' ? baseDir + "/" + path : path;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string listed(const std::vector<std::string>& bases) {
    std::string text;
    for (const std::string& base : bases) {
        text += (text.empty() ? "" : " or ") + base;
    }
    return text;
}

} // namespace

std::vector<FirefoxProfile> firefoxProfiles(const std::string& baseDir,
                                            const std::string& profilesIni) {
    std::vector<FirefoxProfile> profiles;
    for (const IniSection& section : iniSections(profilesIni)) {
        const std::string path = section.value("Path");
        if (!startsWith(section.title, "Profile") || path.empty()) {
            continue;
        }
        profiles.push_back({section.value("Name"),
                            underBase(baseDir, path, section.value("IsRelative") != "0"),
                            section.value("Default") == "1"});
    }
    return profiles;
}

std::vector<std::string> firefoxProfileDirectories(const std::string& baseDir,
                                                   const std::string& profilesIni) {
    std::vector<std::string> directories;
    for (FirefoxProfile& profile : firefoxProfiles(baseDir, profilesIni)) {
        directories.push_back(std::move(profile.directory));
    }
    return directories;
}

std::string firefoxDefaultProfileDirectory(const std::string& baseDir,
                                           const std::string& profilesIni) {
    // Since installs got profiles of their own, the install's choice wins
    // over the older "Default=1".
    for (const IniSection& section : iniSections(profilesIni)) {
        const std::string path = section.value("Default");
        if (startsWith(section.title, "Install") && !path.empty()) {
            // Written as the profile's Path: absolute when it begins with "/".
            return underBase(baseDir, path, false);
        }
    }
    const std::vector<FirefoxProfile> profiles = firefoxProfiles(baseDir, profilesIni);
    for (const FirefoxProfile& profile : profiles) {
        if (profile.isDefault) {
            return profile.directory;
        }
    }
    return profiles.size() == 1 ? profiles.front().directory : std::string();
}

bool findFirefoxProfile(const std::vector<std::string>& bases, const std::string& profile,
                        std::string& directory, std::string& problem) {
    directory.clear();
    const bool isPath = profile.find('/') != std::string::npos;
    for (const std::string& base : isPath ? std::vector<std::string>() : bases) {
        std::string ini;
        if (!readSessionFile(base + "/profiles.ini", kMaxProfilesIniSize, ini)) {
            continue;
        }
        if (profile.empty()) {
            directory = firefoxDefaultProfileDirectory(base, ini);
        }
        for (const FirefoxProfile& candidate : firefoxProfiles(base, ini)) {
            if (!profile.empty() && directory.empty() && candidate.name == profile) {
                directory = candidate.directory;
            }
        }
        if (!directory.empty()) {
            break;
        }
    }
    if (directory.empty() && !profile.empty() && isDirectory(profile)) {
        directory = profile;
    }
    if (directory.empty()) {
        problem = profile.empty() ? "no default Firefox profile in " + listed(bases)
                  : isPath        ? "no Firefox profile folder " + profile
                                  : "no Firefox profile named " + profile + " in " + listed(bases);
        return false;
    }
    if (!isDirectory(directory)) {
        problem = "the Firefox profile folder " + directory + " does not exist";
        directory.clear();
        return false;
    }
    return true;
}
