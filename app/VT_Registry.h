#pragma once

#include "app/KeyFileStore.h"

#include <cstdint>
#include <memory>
#include <string>

class DiagnosticLog;
class StringBuffer;

// Access rights with which keys are opened, as registry keys know them.
inline constexpr uint32_t KEY_QUERY_VALUE = 0x0001;
inline constexpr uint32_t KEY_SET_VALUE = 0x0002;
inline constexpr uint32_t KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr uint32_t KEY_READ = 0x20019;
inline constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;
// The rights of a key that the store creates.
inline constexpr uint32_t KEY_CREATED_ACCESS = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

// An open key: its whole path ("HKEY_LOCAL_MACHINE\Software\...") and the
// rights it was opened with. Predefined roots exist always and are never
// closed; every other key is closed when its owner lets it go.
class RegistryKey {
public:
    RegistryKey(std::string path, uint32_t access, bool predefined)
        : m_path(std::move(path)), m_access(access), m_predefined(predefined) {}
    virtual ~RegistryKey() = default;

    const std::string& path() const { return m_path; }
    uint32_t access() const { return m_access; }
    bool isPredefined() const { return m_predefined; }

private:
    std::string m_path;
    uint32_t m_access;
    bool m_predefined;
};

using RegistryKeyPtr = std::unique_ptr<RegistryKey>;

inline const RegistryKey HKEY_CLASSES_ROOT{"HKEY_CLASSES_ROOT", KEY_ALL_ACCESS, true};
inline const RegistryKey HKEY_CURRENT_USER{"HKEY_CURRENT_USER", KEY_ALL_ACCESS, true};
inline const RegistryKey HKEY_LOCAL_MACHINE{"HKEY_LOCAL_MACHINE", KEY_ALL_ACCESS, true};
inline const RegistryKey HKEY_USERS{"HKEY_USERS", KEY_ALL_ACCESS, true};
inline const RegistryKey HKEY_CURRENT_CONFIG{"HKEY_CURRENT_CONFIG", KEY_ALL_ACCESS, true};

// The settings store: string values under keys below HKEY_LOCAL_MACHINE,
// kept in the user's settings file (KeyFileStore::defaultPath()).
//
// Contract: failures are results (null or false) and, when a log is given,
// fixed messages in a fixed order. Keys returned belong to the caller.
// readString appends to its output and never clears it. A value stored
// empty reads as an empty text. "HKEY_LOCAL_MACHINE\Software" exists
// whenever the settings file can be read (a missing file is an empty one).
class VT_Registry {
public:
    explicit VT_Registry(DiagnosticLog* log);
    // A store over another settings file (tests, other users of the format).
    VT_Registry(DiagnosticLog* log, std::string settingsPath);
    virtual ~VT_Registry() = default;
    VT_Registry(const VT_Registry&) = delete;
    VT_Registry& operator=(const VT_Registry&) = delete;

    bool readString(const char* company, const char* product, const char* name, StringBuffer& out);
    bool writeString(const char* company, const char* product, const char* name, const char* value);

    RegistryKeyPtr openCompanyKey(const char* company);
    RegistryKeyPtr createCompanyKey(const char* company);
    RegistryKeyPtr openProductKey(const char* company, const char* product);
    std::unique_ptr<StringBuffer> queryValue(const RegistryKey& key, const char* name);

    RegistryKeyPtr openKeyPath(const RegistryKey& root, const char* path, bool readOnly);
    RegistryKeyPtr createKeyPath(const RegistryKey& root, const char* path);
    bool setStringByPath(const char* path, const char* name, const char* value);

    const std::string& settingsPath() const { return m_store.path(); }

    // Fields in the order the store holds them.
    uint32_t m_access = KEY_ALL_ACCESS;
    DiagnosticLog* m_log = nullptr;

private:
    // The platform's key operations over the settings file: 0 or an errno value.
    int openSubKey(const RegistryKey& parent, const char* name, uint32_t access,
                   RegistryKeyPtr& out) const;
    int createSubKey(const RegistryKey& parent, const char* name, RegistryKeyPtr& out);
    int setValue(const RegistryKey& key, const char* name, const char* value);

    KeyFileStore m_store;
};
