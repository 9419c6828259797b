#include "app/VT_Registry.h"

#include "foundation/DiagnosticLog.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"

#include <cerrno>
#include <glib.h>

namespace {

// The one key below a root that every system has.
bool isSoftwareKey(const std::string& path) {
    return g_ascii_strcasecmp(path.c_str(), "HKEY_LOCAL_MACHINE\\Software") == 0;
}

RegistryKeyPtr copyOf(const RegistryKey& key) {
    return std::make_unique<RegistryKey>(key.path(), key.access(), key.isPredefined());
}

// Splits a slash-separated key path; the pieces are freed with the object.
class KeyPathPieces {
public:
    explicit KeyPathPieces(const char* path) { StringBuffer(path).split(m_pieces, '/'); }
    ~KeyPathPieces() { m_pieces.removeAllObjects(); }
    KeyPathPieces(const KeyPathPieces&) = delete;
    KeyPathPieces& operator=(const KeyPathPieces&) = delete;

    int count() const { return m_pieces.getSize(); }
    const char* at(int index) const {
        return static_cast<const StringBuffer*>(m_pieces.elementAt(index))->getString();
    }

private:
    ExtPtrArray m_pieces;
};

} // namespace

VT_Registry::VT_Registry(DiagnosticLog* log) : VT_Registry(log, KeyFileStore::defaultPath()) {}

VT_Registry::VT_Registry(DiagnosticLog* log, std::string settingsPath)
    : m_log(log), m_store(std::move(settingsPath)) {}

int VT_Registry::openSubKey(const RegistryKey& parent, const char* name, uint32_t access,
                            RegistryKeyPtr& out) const {
    if (name == nullptr || *name == 0) {
        return EINVAL;
    }
    const std::string path = parent.path() + "\\" + name;
    std::string spelled;
    const int error = m_store.findGroup(path, spelled);
    if (error == ENOENT && isSoftwareKey(path)) {
        spelled = "HKEY_LOCAL_MACHINE\\Software";
    } else if (error != 0) {
        return error;
    }
    out = std::make_unique<RegistryKey>(spelled, access, false);
    return 0;
}

int VT_Registry::createSubKey(const RegistryKey& parent, const char* name, RegistryKeyPtr& out) {
    if (name == nullptr || *name == 0) {
        return EINVAL;
    }
    if ((parent.access() & KEY_CREATE_SUB_KEY) == 0) {
        return EACCES;
    }
    std::string spelled;
    if (const int error = m_store.addGroup(parent.path() + "\\" + name, spelled); error != 0) {
        return error;
    }
    out = std::make_unique<RegistryKey>(spelled, KEY_CREATED_ACCESS, false);
    return 0;
}

int VT_Registry::setValue(const RegistryKey& key, const char* name, const char* value) {
    if (name == nullptr) {
        return EINVAL;
    }
    if ((key.access() & KEY_SET_VALUE) == 0) {
        return EACCES;
    }
    return m_store.setValue(key.path(), name, value != nullptr ? value : "");
}

RegistryKeyPtr VT_Registry::openCompanyKey(const char* company) {
    RegistryKeyPtr software;
    if (openSubKey(HKEY_LOCAL_MACHINE, "Software", m_access, software) != 0) {
        if (m_log != nullptr) {
            m_log->logError("Failed to open HKEY_LOCAL_MACHINE/Software");
        }
        return nullptr;
    }
    RegistryKeyPtr companyKey;
    if (openSubKey(*software, company, m_access, companyKey) == 0) {
        return companyKey;
    }
    if (m_log != nullptr) {
        m_log->logError("Failed to open company key");
        m_log->logData("companyName", company != nullptr ? company : "");
    }
    return nullptr;
}

RegistryKeyPtr VT_Registry::createCompanyKey(const char* company) {
    if (RegistryKeyPtr existing = openCompanyKey(company)) {
        return existing;
    }
    RegistryKeyPtr software;
    if (openSubKey(HKEY_LOCAL_MACHINE, "Software", m_access, software) != 0) {
        return nullptr;
    }
    RegistryKeyPtr created;
    if (createSubKey(*software, company, created) != 0) {
        return nullptr;
    }
    return created;
}

RegistryKeyPtr VT_Registry::openProductKey(const char* company, const char* product) {
    RegistryKeyPtr companyKey = openCompanyKey(company);
    if (companyKey == nullptr) {
        companyKey = createCompanyKey(company);
    }
    if (companyKey == nullptr) {
        if (m_log != nullptr) {
            m_log->logError("Failed to open or create Vantrel company registry key");
        }
        return nullptr;
    }
    RegistryKeyPtr productKey;
    if (openSubKey(*companyKey, product, m_access, productKey) != 0 &&
        openSubKey(*companyKey, product, m_access, productKey) != 0 &&
        createSubKey(*companyKey, product, productKey) != 0) {
        productKey.reset();
        if (m_log != nullptr) {
            m_log->logError("Failed to open or create Vantrel product registry key");
            m_log->logData("product", product != nullptr ? product : "");
        }
    }
    return productKey;
}

std::unique_ptr<StringBuffer> VT_Registry::queryValue(const RegistryKey& key, const char* name) {
    std::string value;
    int error = EINVAL;
    if (name != nullptr) {
        error = (key.access() & KEY_QUERY_VALUE) == 0 ? EACCES
                                                      : m_store.readValue(key.path(), name, value);
    }
    // The stored form of a string value carries its terminating NUL, so a
    // value that exists always has a size above 0.
    if (error == 0) {
        return std::make_unique<StringBuffer>(value.c_str());
    }
    if (m_log != nullptr) {
        StringBuffer message;
        message.appendSystemMessage(error);
        m_log->logData("RegistryQueryError", message.getString());
        m_log->logData("ValueName", name != nullptr ? name : "");
    }
    return nullptr;
}

bool VT_Registry::readString(const char* company, const char* product, const char* name,
                             StringBuffer& out) {
    RegistryKeyPtr key = openProductKey(company, product);
    if (key == nullptr) {
        return false;
    }
    std::unique_ptr<StringBuffer> value = queryValue(*key, name);
    if (value == nullptr) {
        return false;
    }
    out.append(value->getString());
    return true;
}

bool VT_Registry::writeString(const char* company, const char* product, const char* name,
                              const char* value) {
    RegistryKeyPtr key = openProductKey(company, product);
    if (key == nullptr) {
        return false;
    }
    return setValue(*key, name, value) == 0;
}

RegistryKeyPtr VT_Registry::openKeyPath(const RegistryKey& root, const char* path, bool readOnly) {
    if (path == nullptr) {
        return nullptr;
    }
    KeyPathPieces pieces(path);
    if (pieces.count() == 0) {
        return nullptr;
    }
    RegistryKeyPtr current = copyOf(root);
    for (int i = 0; i < pieces.count(); ++i) {
        if (*pieces.at(i) == 0) {
            continue;
        }
        RegistryKeyPtr next;
        if (openSubKey(*current, pieces.at(i), readOnly ? KEY_READ : m_access, next) != 0) {
            return nullptr;
        }
        current = std::move(next);
    }
    return current;
}

RegistryKeyPtr VT_Registry::createKeyPath(const RegistryKey& root, const char* path) {
    DiagnosticLog* const savedLog = m_log;
    m_log = nullptr;
    RegistryKeyPtr existing = openKeyPath(root, path, false);
    m_log = savedLog;
    if (existing != nullptr) {
        return existing;
    }
    if (path == nullptr) {
        return nullptr;
    }
    KeyPathPieces pieces(path);
    if (pieces.count() == 0) {
        return nullptr;
    }
    RegistryKeyPtr current = copyOf(root);
    for (int i = 0; i < pieces.count(); ++i) {
        if (*pieces.at(i) == 0) {
            continue;
        }
        RegistryKeyPtr next;
        if (openSubKey(*current, pieces.at(i), m_access, next) != 0 &&
            createSubKey(*current, pieces.at(i), next) != 0) {
            return nullptr;
        }
        current = std::move(next);
    }
    return current;
}

bool VT_Registry::setStringByPath(const char* path, const char* name, const char* value) {
    if (path == nullptr || name == nullptr) {
        return false;
    }
    RegistryKeyPtr key = openKeyPath(HKEY_LOCAL_MACHINE, path, false);
    if (key == nullptr) {
        key = createKeyPath(HKEY_LOCAL_MACHINE, path);
    }
    if (key == nullptr) {
        return false;
    }
    setValue(*key, name, value);
    return true;
}
