#include "app/BrowserSessions.h"

#include "app/FirefoxProfiles.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kMaxProfilesIniSize = 1024 * 1024;

std::string environmentOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string(value) : fallback;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::vector<std::string> directoryEntries(const std::string& path) {
    std::vector<std::string> names;
    DIR* directory = ::opendir(path.c_str());
    if (directory == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

// "Session_13345678901234567": newer files have larger numbers.
bool isNewerSessionName(const std::string& candidate, const std::string& best) {
    if (best.empty()) {
        return true;
    }
    if (candidate.size() != best.size()) {
        return candidate.size() > best.size();
    }
    return candidate > best;
}

bool isSessionFileName(const std::string& name) {
    const std::string prefix = "Session_";
    return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           std::all_of(name.begin() + static_cast<long>(prefix.size()), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

void addFirefoxSources(const std::string& base, std::vector<SessionSource>& sources) {
    std::string ini;
    if (!readSessionFile(base + "/profiles.ini", kMaxProfilesIniSize, ini)) {
        return;
    }
    for (const std::string& profile : firefoxProfileDirectories(base, ini)) {
        const std::string recovery = profile + "/sessionstore-backups/recovery.jsonlz4";
        if (isRegularFile(recovery)) {
            sources.push_back({SessionSource::Kind::Firefox, recovery, profile});
        }
    }
}

void addChromiumSources(const std::string& root, std::vector<SessionSource>& sources) {
    if (!isDirectory(root) || !chromiumIsRunning(root)) {
        return;
    }
    for (const std::string& name : directoryEntries(root)) {
        const std::string profile = root + "/" + name;
        if (!isDirectory(profile)) {
            continue;
        }
        std::string session = newestChromiumSessionFile(profile + "/Sessions");
        if (session.empty() && isRegularFile(profile + "/Current Session")) {
            session = profile + "/Current Session"; // the older single-file form
        }
        if (!session.empty()) {
            sources.push_back({SessionSource::Kind::Chromium, session, profile});
        }
    }
}

} // namespace

BrowserHomes BrowserHomes::fromEnvironment() {
    const std::string home = environmentOr("HOME", "/");
    const std::string config = environmentOr("XDG_CONFIG_HOME", home + "/.config");
    BrowserHomes homes;
    homes.firefoxBases = {home + "/.mozilla/firefox", config + "/mozilla/firefox"};
    homes.chromiumRoots = {config + "/chromium", config + "/google-chrome"};
    return homes;
}

std::vector<SessionSource> findSessionSources(const BrowserHomes& homes) {
    std::vector<SessionSource> sources;
    for (const std::string& base : homes.firefoxBases) {
        addFirefoxSources(base, sources);
    }
    for (const std::string& root : homes.chromiumRoots) {
        addChromiumSources(root, sources);
    }
    // A folder reached by two of the roots is read once.
    std::vector<SessionSource> unique;
    for (SessionSource& source : sources) {
        const bool seen = std::any_of(unique.begin(), unique.end(), [&](const SessionSource& s) {
            return s.path == source.path;
        });
        if (!seen) {
            unique.push_back(std::move(source));
        }
    }
    return unique;
}

std::string newestChromiumSessionFile(const std::string& sessionsDir) {
    std::string best;
    for (const std::string& name : directoryEntries(sessionsDir)) {
        if (isSessionFileName(name) && isNewerSessionName(name, best) &&
            isRegularFile(sessionsDir + "/" + name)) {
            best = name;
        }
    }
    return best.empty() ? std::string() : sessionsDir + "/" + best;
}

bool chromiumIsRunning(const std::string& userDataDir) {
    // The lock is a symbolic link to "<host>-<pid>" while the browser runs.
    char target[512];
    const ssize_t length =
        ::readlink((userDataDir + "/SingletonLock").c_str(), target, sizeof target - 1);
    if (length <= 0) {
        return false;
    }
    const std::string owner(target, static_cast<size_t>(length));
    const size_t dash = owner.rfind('-');
    if (dash == std::string::npos) {
        return false;
    }
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || owner.substr(0, dash) != host) {
        return true; // another machine's process cannot be checked from here
    }
    char* end = nullptr;
    const long pid = std::strtol(owner.c_str() + dash + 1, &end, 10);
    if (end == owner.c_str() + dash + 1 || *end != 0 || pid <= 0) {
        return false;
    }
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool readSessionFile(const std::string& path, size_t maxSize, std::string& bytes) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    char chunk[65536];
    while (ok) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            ok = count == 0;
            break;
        }
        if (bytes.size() + static_cast<size_t>(count) > maxSize) {
            ok = false;
            break;
        }
        bytes.append(chunk, static_cast<size_t>(count));
    }
    ::close(fd);
    if (!ok) {
        bytes.clear();
    }
    return ok;
}
