#include "app/ChromiumCookieCipher.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <memory>
#include <utility>

namespace {

constexpr size_t kPrefixSize = 3;
constexpr size_t kBlockSize = 16;
constexpr size_t kKeySize = 16;
constexpr size_t kHostHashSize = 32;
constexpr int kFirstVersionWithHostHash = 24;
// Far above what a browser stores for one cookie; keeps sizes within int.
constexpr size_t kMaxCipherSize = 1 << 20;

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContextPtr = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

const unsigned char* bytesOf(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

bool aesCbcDecrypt(const std::string& key, const unsigned char* data, size_t size,
                   std::string& plain) {
    const CipherContextPtr context(EVP_CIPHER_CTX_new());
    const std::string iv(kBlockSize, ' ');
    if (!context || key.size() != kKeySize ||
        EVP_DecryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, bytesOf(key), bytesOf(iv)) !=
            1) {
        return false;
    }
    std::string out(size + kBlockSize, '\0');
    auto* target = reinterpret_cast<unsigned char*>(out.data());
    int written = 0;
    int last = 0;
    if (EVP_DecryptUpdate(context.get(), target, &written, data, static_cast<int>(size)) != 1 ||
        EVP_DecryptFinal_ex(context.get(), target + written, &last) != 1) {
        return false; // the padding is wrong: another key, or damage
    }
    out.resize(static_cast<size_t>(written + last));
    plain = std::move(out);
    return true;
}

std::string sha256(const std::string& text) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    unsigned int size = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr) != 1) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(digest), size);
}

} // namespace

std::string chromiumCookieKey(const std::string& password) {
    static const std::string salt = "saltysalt";
    std::string key(kKeySize, '\0');
    if (PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), bytesOf(salt),
                               static_cast<int>(salt.size()), 1, static_cast<int>(key.size()),
                               reinterpret_cast<unsigned char*>(key.data())) != 1) {
        return {};
    }
    return key;
}

bool decryptChromiumCookieValue(const std::string& encrypted, const std::string& key,
                                const std::string& hostKey, int databaseVersion,
                                std::string& value) {
    const size_t cipherSize = encrypted.size() < kPrefixSize ? 0 : encrypted.size() - kPrefixSize;
    if (cipherSize == 0 || cipherSize % kBlockSize != 0 || cipherSize > kMaxCipherSize) {
        return false;
    }
    std::string plain;
    if (!aesCbcDecrypt(key, bytesOf(encrypted) + kPrefixSize, cipherSize, plain)) {
        return false;
    }
    if (databaseVersion >= kFirstVersionWithHostHash) {
        if (plain.size() < kHostHashSize || plain.compare(0, kHostHashSize, sha256(hostKey)) != 0) {
            return false;
        }
        plain.erase(0, kHostHashSize);
    }
    value = std::move(plain);
    return true;
}

ChromiumCookieDecryptor::ChromiumCookieDecryptor(int databaseVersion,
                                                 PasswordLookup keyringPassword)
    : m_databaseVersion(databaseVersion), m_keyringPassword(std::move(keyringPassword)),
      m_fixedKey(chromiumCookieKey("peanuts")), m_emptyPasswordKey(chromiumCookieKey("")) {}

bool ChromiumCookieDecryptor::decrypt(const std::string& encrypted, const std::string& hostKey,
                                      std::string& value) {
    const std::string prefix = encrypted.substr(0, kPrefixSize);
    if (prefix == "v10") {
        return decryptChromiumCookieValue(encrypted, m_fixedKey, hostKey, m_databaseVersion, value);
    }
    if (prefix != "v11") {
        return false;
    }
    const std::string& fromKeyring = keyringKey();
    if (!fromKeyring.empty() &&
        decryptChromiumCookieValue(encrypted, fromKeyring, hostKey, m_databaseVersion, value)) {
        return true;
    }
    // The browser writes "v11" with the empty password when it found no
    // keyring, and keeps using that key afterwards.
    return decryptChromiumCookieValue(encrypted, m_emptyPasswordKey, hostKey, m_databaseVersion,
                                      value);
}

const std::string& ChromiumCookieDecryptor::keyringKey() {
    if (!m_keyringKey) {
        std::string password;
        if (m_keyringPassword && m_keyringPassword(password, m_keyringProblem)) {
            m_keyringKey = chromiumCookieKey(password);
            m_keyringProblem.clear();
        } else {
            m_keyringKey = std::string();
            if (m_keyringProblem.empty()) {
                m_keyringProblem = "no keyring was asked";
            }
        }
    }
    return *m_keyringKey;
}
