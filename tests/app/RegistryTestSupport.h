#pragma once

#include "support/TempDir.h"

#include <cstdlib>
#include <string>

// Points XDG_CONFIG_HOME at a fresh directory for the lifetime of the
// object, so that the settings store never touches the user's own file.
class ScopedConfigHome {
public:
    ScopedConfigHome() {
        const char* saved = std::getenv("XDG_CONFIG_HOME");
        m_hadSaved = saved != nullptr;
        if (m_hadSaved) {
            m_saved = saved;
        }
        setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1);
    }
    ~ScopedConfigHome() {
        if (m_hadSaved) {
            setenv("XDG_CONFIG_HOME", m_saved.c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
    }
    ScopedConfigHome(const ScopedConfigHome&) = delete;
    ScopedConfigHome& operator=(const ScopedConfigHome&) = delete;

    const std::string& path() const { return m_dir.path(); }
    std::string settingsFile() const { return m_dir.path() + "/pagewing/registry.ini"; }

private:
    TempDir m_dir;
    std::string m_saved;
    bool m_hadSaved = false;
};
