#pragma once

#include <functional>
#include <optional>
#include <string>

// The encryption of cookie values in Chromium's cookie database on Linux:
// "v10" or "v11", then AES-128-CBC with an IV of 16 spaces and PKCS#7
// padding. The key is PBKDF2-HMAC-SHA1 of a password with the salt
// "saltysalt", one round, 16 bytes. "v10" uses the fixed password
// "peanuts"; "v11" the password the browser keeps in the keyring, or the
// empty password when the browser found no keyring at the time. From
// database version 24 on, the plaintext starts with the SHA-256 of the
// cookie's host_key, which ties the value to its host.

// The 16-byte key for a password.
std::string chromiumCookieKey(const std::string& password);

// Decrypts one encrypted_value under key, whatever its "v1x" prefix says.
// False for a value that is too short, not whole blocks, badly padded, or
// whose host hash does not match.
bool decryptChromiumCookieValue(const std::string& encrypted, const std::string& key,
                                const std::string& hostKey, int databaseVersion,
                                std::string& value);

// Picks the key for each value of one database. The keyring is asked once,
// when the first "v11" value comes, through keyringPassword (true with the
// password, false with the reason).
class ChromiumCookieDecryptor {
public:
    using PasswordLookup = std::function<bool(std::string& password, std::string& problem)>;

    ChromiumCookieDecryptor(int databaseVersion, PasswordLookup keyringPassword);

    // False when the value is not "v10" or "v11" or no key opens it.
    bool decrypt(const std::string& encrypted, const std::string& hostKey, std::string& value);

    // Why the keyring gave no password; "" when it gave one or was not asked.
    const std::string& keyringProblem() const { return m_keyringProblem; }

private:
    const std::string& keyringKey();

    int m_databaseVersion;
    PasswordLookup m_keyringPassword;
    std::string m_fixedKey;
    std::string m_emptyPasswordKey;
    std::optional<std::string> m_keyringKey; // "" when the keyring gave none
    std::string m_keyringProblem;
};
