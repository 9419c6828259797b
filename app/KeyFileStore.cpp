#include "app/KeyFileStore.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

struct KeyFileDeleter {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileDeleter>;

struct GFreeDeleter {
    void operator()(void* block) const { g_free(block); }
};
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

struct StrvDeleter {
    void operator()(gchar** list) const { g_strfreev(list); }
};
using StrvPtr = std::unique_ptr<gchar*, StrvDeleter>;

// Holds an exclusive flock for as long as the object lives.
class LockFile {
public:
    explicit LockFile(const std::string& path) {
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd < 0) {
            m_error = errno;
            return;
        }
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                m_error = errno;
                return;
            }
        }
    }
    ~LockFile() {
        if (m_fd >= 0) {
            ::close(m_fd); // closing releases the lock
        }
    }
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    int error() const { return m_error; }

private:
    int m_fd = -1;
    int m_error = 0;
};

int errnoFromFileError(const GError* error) {
    if (error == nullptr || error->domain != G_FILE_ERROR) {
        return EIO;
    }
    switch (error->code) {
    case G_FILE_ERROR_EXIST:
        return EEXIST;
    case G_FILE_ERROR_ISDIR:
        return EISDIR;
    case G_FILE_ERROR_ACCES:
        return EACCES;
    case G_FILE_ERROR_NAMETOOLONG:
        return ENAMETOOLONG;
    case G_FILE_ERROR_NOENT:
        return ENOENT;
    case G_FILE_ERROR_NOTDIR:
        return ENOTDIR;
    case G_FILE_ERROR_ROFS:
        return EROFS;
    case G_FILE_ERROR_NOSPC:
        return ENOSPC;
    case G_FILE_ERROR_PERM:
        return EPERM;
    case G_FILE_ERROR_LOOP:
        return ELOOP;
    default:
        return EIO;
    }
}

// The reverse of the escaping that g_key_file_set_string applies; unlike
// g_key_file_get_string it accepts bytes that are not UTF-8, such as a
// directory name in another encoding.
std::string unescapeValue(const char* raw) {
    std::string value;
    for (const char* p = raw; *p != 0; ++p) {
        if (*p != '\\' || p[1] == 0) {
            value.push_back(*p);
            continue;
        }
        ++p;
        switch (*p) {
        case 's':
            value.push_back(' ');
            break;
        case 'n':
            value.push_back('\n');
            break;
        case 't':
            value.push_back('\t');
            break;
        case 'r':
            value.push_back('\r');
            break;
        case '\\':
            value.push_back('\\');
            break;
        default:
            value.push_back('\\');
            value.push_back(*p);
            break;
        }
    }
    return value;
}

std::string findGroupIn(GKeyFile* file, const std::string& group) {
    StrvPtr groups(g_key_file_get_groups(file, nullptr));
    for (gchar** name = groups.get(); name != nullptr && *name != nullptr; ++name) {
        if (g_ascii_strcasecmp(*name, group.c_str()) == 0) {
            return *name;
        }
    }
    return {};
}

std::string findKeyIn(GKeyFile* file, const std::string& group, const std::string& key) {
    StrvPtr keys(g_key_file_get_keys(file, group.c_str(), nullptr, nullptr));
    for (gchar** name = keys.get(); name != nullptr && *name != nullptr; ++name) {
        if (g_ascii_strcasecmp(*name, key.c_str()) == 0) {
            return *name;
        }
    }
    return {};
}

bool hasOnlyPrintableText(const std::string& name) {
    if (name.empty() || !g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr)) {
        return false;
    }
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7f || c == '[' || c == ']') {
            return false;
        }
    }
    return true;
}

std::string configHome() {
    const char* configured = std::getenv("XDG_CONFIG_HOME");
    if (configured != nullptr && configured[0] == '/') {
        return configured;
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == 0) {
        const passwd* entry = getpwuid(getuid());
        home = entry != nullptr ? entry->pw_dir : "/";
    }
    return std::string(home) + "/.config";
}

} // namespace

KeyFileStore::KeyFileStore(std::string path) : m_path(std::move(path)) {}

std::string KeyFileStore::defaultPath() {
    return configHome() + "/pagewing/registry.ini";
}

bool KeyFileStore::isValidGroupName(const std::string& name) {
    return hasOnlyPrintableText(name);
}

bool KeyFileStore::isValidValueName(const std::string& name) {
    // A name that began with "#" would come back as a comment, one with "="
    // would split differently, and outer blanks would be lost.
    return hasOnlyPrintableText(name) && name.find('=') == std::string::npos &&
           name.front() != '#' && name.front() != ' ' && name.back() != ' ';
}

int KeyFileStore::load(GKeyFile* file, bool& corrupt) const {
    corrupt = false;
    gchar* raw = nullptr;
    gsize length = 0;
    GError* error = nullptr;
    if (!g_file_get_contents(m_path.c_str(), &raw, &length, &error)) {
        const int code = errnoFromFileError(error);
        g_error_free(error);
        return code == ENOENT ? 0 : code;
    }
    GCharPtr contents(raw);
    if (!g_key_file_load_from_data(file, contents.get(), length, G_KEY_FILE_KEEP_COMMENTS,
                                   nullptr)) {
        corrupt = true;
    }
    return 0;
}

int KeyFileStore::findGroup(const std::string& group, std::string& spelled) const {
    KeyFilePtr file(g_key_file_new());
    bool corrupt = false;
    if (const int error = load(file.get(), corrupt); error != 0) {
        return error;
    }
    spelled = corrupt ? std::string() : findGroupIn(file.get(), group);
    return spelled.empty() ? ENOENT : 0;
}

int KeyFileStore::readValue(const std::string& group, const std::string& name,
                            std::string& value) const {
    KeyFilePtr file(g_key_file_new());
    bool corrupt = false;
    if (const int error = load(file.get(), corrupt); error != 0) {
        return error;
    }
    const std::string spelledGroup = corrupt ? std::string() : findGroupIn(file.get(), group);
    if (spelledGroup.empty()) {
        return ENOENT;
    }
    const std::string spelledKey = findKeyIn(file.get(), spelledGroup, name);
    if (spelledKey.empty()) {
        return ENOENT;
    }
    GCharPtr raw(
        g_key_file_get_value(file.get(), spelledGroup.c_str(), spelledKey.c_str(), nullptr));
    if (raw == nullptr) {
        return ENOENT;
    }
    value = unescapeValue(raw.get());
    return 0;
}

int KeyFileStore::addGroup(const std::string& group, std::string& spelled) {
    if (!isValidGroupName(group)) {
        return EINVAL;
    }
    return modify([&](GKeyFile* file) {
        spelled = findGroupIn(file, group);
        if (!spelled.empty()) {
            return 0;
        }
        // GKeyFile has no call that adds an empty group; a key set and
        // removed again leaves the group behind.
        g_key_file_set_value(file, group.c_str(), "placeholder", "");
        g_key_file_remove_key(file, group.c_str(), "placeholder", nullptr);
        spelled = group;
        return 0;
    });
}

int KeyFileStore::setValue(const std::string& group, const std::string& name,
                           const std::string& value) {
    if (!isValidGroupName(group) || !isValidValueName(name) ||
        value.find('\0') != std::string::npos) {
        return EINVAL;
    }
    return modify([&](GKeyFile* file) {
        std::string spelledGroup = findGroupIn(file, group);
        if (spelledGroup.empty()) {
            spelledGroup = group; // a key that every system has, never stored yet
        }
        std::string spelledKey = findKeyIn(file, spelledGroup, name);
        if (spelledKey.empty()) {
            spelledKey = name;
        }
        g_key_file_set_string(file, spelledGroup.c_str(), spelledKey.c_str(), value.c_str());
        return 0;
    });
}

int KeyFileStore::modify(const std::function<int(GKeyFile*)>& change) {
    GCharPtr directory(g_path_get_dirname(m_path.c_str()));
    if (g_mkdir_with_parents(directory.get(), 0700) != 0) {
        return errno;
    }
    LockFile lock(m_path + ".lock");
    if (lock.error() != 0) {
        return lock.error();
    }
    KeyFilePtr file(g_key_file_new());
    bool corrupt = false;
    if (const int error = load(file.get(), corrupt); error != 0) {
        return error;
    }
    if (corrupt) {
        // Keep what cannot be read so that a user can still recover it.
        const std::string aside = m_path + ".corrupt";
        if (std::rename(m_path.c_str(), aside.c_str()) != 0) {
            return errno;
        }
        file.reset(g_key_file_new());
    }
    if (const int error = change(file.get()); error != 0) {
        return error;
    }
    return save(file.get());
}

int KeyFileStore::save(GKeyFile* file) {
    gsize length = 0;
    GCharPtr data(g_key_file_to_data(file, &length, nullptr));
    GError* error = nullptr;
    const auto flags = static_cast<GFileSetContentsFlags>(G_FILE_SET_CONTENTS_CONSISTENT |
                                                          G_FILE_SET_CONTENTS_DURABLE);
    if (!g_file_set_contents_full(m_path.c_str(), data.get(), static_cast<gssize>(length), flags,
                                  0600, &error)) {
        const int code = errnoFromFileError(error);
        g_error_free(error);
        return code;
    }
    return 0;
}
