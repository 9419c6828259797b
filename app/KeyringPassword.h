#pragma once

#include <string>
#include <vector>

// A password that a program keeps in the desktop's keyring (the Secret
// Service on the D-Bus session bus), found by its schema name (the
// "xdg:schema" attribute) and its "application" attribute. The schemas are
// tried in order; the first that holds an item wins. A locked item is
// unlocked, with the keyring's prompt when it shows one.
//
// The keyring may be missing, locked behind a prompt nobody answers, or
// slow to start, so the wait is bounded. Without a session bus the keyring
// is not asked at all: asking would launch a bus as a side effect.
//
// True with the password; false with the reason in words.
bool lookupKeyringPassword(const std::vector<std::string>& schemas, const std::string& application,
                           int timeoutMs, std::string& password, std::string& problem);
