#pragma once

#include <functional>
#include <string>

typedef struct _GKeyFile GKeyFile;

// The settings file behind the registry keys: one GKeyFile group per key,
// named by the key's whole path with backslashes, one string per value.
//
// Contract: every operation returns 0 or an errno value. Group and value
// names are matched without regard to ASCII case, as registry names are,
// and keep the spelling they were created with. A file that does not exist
// or cannot be parsed reads as empty. Writes load, change and save the file
// while holding an exclusive flock on "<file>.lock", so two processes never
// lose each other's changes; a save is atomic and durable (mode 0600), and
// an unparsable file is kept aside as "<file>.corrupt" before it is replaced.
class KeyFileStore {
public:
    explicit KeyFileStore(std::string path);

    // $XDG_CONFIG_HOME/pagewing/registry.ini, else ~/.config/...; the
    // environment is read on every call.
    static std::string defaultPath();

    const std::string& path() const { return m_path; }

    int findGroup(const std::string& group, std::string& spelled) const;
    int readValue(const std::string& group, const std::string& name, std::string& value) const;

    // Makes the group when it does not exist; spelled receives its name as stored.
    int addGroup(const std::string& group, std::string& spelled);
    int setValue(const std::string& group, const std::string& name, const std::string& value);

    // Names that the file format can hold without changing their meaning.
    static bool isValidGroupName(const std::string& name);
    static bool isValidValueName(const std::string& name);

private:
    int load(GKeyFile* file, bool& corrupt) const;
    int modify(const std::function<int(GKeyFile*)>& change);
    int save(GKeyFile* file);

    std::string m_path;
};
