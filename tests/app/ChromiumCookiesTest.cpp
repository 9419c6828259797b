#include "app/ChromiumCookies.h"
#include "app/ChromiumCookieCipher.h"

#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using ::testing::HasSubstr;
using ::testing::UnorderedElementsAreArray;
using Lines = std::vector<std::string>;

// --- the scheme, written out again with OpenSSL's general calls -------------------------

std::string keyFor(const std::string& password) {
    const std::string salt = "saltysalt";
    unsigned char key[16];
    EXPECT_EQ(PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                                reinterpret_cast<const unsigned char*>(salt.data()),
                                static_cast<int>(salt.size()), 1, EVP_sha1(), sizeof key, key),
              1);
    return std::string(reinterpret_cast<const char*>(key), sizeof key);
}

std::string sha256(const std::string& text) {
    unsigned char digest[32];
    unsigned int size = 0;
    EXPECT_EQ(EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr), 1);
    return std::string(reinterpret_cast<const char*>(digest), size);
}

// AES-128-CBC with the IV of spaces; without padding the plaintext must be
// whole blocks already.
std::string aesEncrypt(const std::string& key, const std::string& plain, bool pad) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                            EVP_CIPHER_CTX_free);
    const std::string iv(16, ' ');
    EVP_EncryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr,
                       reinterpret_cast<const unsigned char*>(key.data()),
                       reinterpret_cast<const unsigned char*>(iv.data()));
    EVP_CIPHER_CTX_set_padding(context.get(), pad ? 1 : 0);
    std::string out(plain.size() + 32, '\0');
    auto* target = reinterpret_cast<unsigned char*>(out.data());
    int written = 0;
    int last = 0;
    EVP_EncryptUpdate(context.get(), target, &written,
                      reinterpret_cast<const unsigned char*>(plain.data()),
                      static_cast<int>(plain.size()));
    EXPECT_EQ(EVP_EncryptFinal_ex(context.get(), target + written, &last), 1);
    out.resize(static_cast<size_t>(written + last));
    return out;
}

// An encrypted_value as the browser writes it.
std::string encryptedValue(const std::string& prefix, const std::string& password,
                           const std::string& host, const std::string& value, int version = 24) {
    const std::string plain = (version >= 24 ? sha256(host) : "") + value;
    return prefix + aesEncrypt(keyFor(password), plain, true);
}

// --- decryption ---------------------------------------------------------------------------

TEST(ChromiumCookieCipherTest, KeyIsTheDocumentedDerivation) {
    EXPECT_EQ(chromiumCookieKey("peanuts"), keyFor("peanuts"));
    EXPECT_EQ(chromiumCookieKey(""), keyFor(""));
}

TEST(ChromiumCookieCipherTest, DecryptsWhatTheSchemeMakesAndRefusesTheRest) {
    const std::string host = ".example.org";
    const std::string peanuts = keyFor("peanuts");
    // The last byte says 17 bytes of padding: more than a block.
    const std::string badPadding =
        "v10" + aesEncrypt(peanuts, sha256(host) + std::string(15, 'x') + "\x11", false);
    const std::string blocks = encryptedValue("v10", "peanuts", host, "sixteen bytes!!!");
    struct Case {
        const char* what;
        std::string encrypted;
        int version;
        bool ok;
        std::string value;
    };
    const Case cases[] = {
        {"version 24 with the host hash", encryptedValue("v10", "peanuts", host, "kv1"), 24, true,
         "kv1"},
        {"version 23 without it", encryptedValue("v10", "peanuts", host, "kv1", 23), 23, true,
         "kv1"},
        {"an empty value", encryptedValue("v10", "peanuts", host, ""), 24, true, ""},
        {"a value of whole blocks", blocks, 24, true, "sixteen bytes!!!"},
        {"binary bytes", encryptedValue("v10", "peanuts", host, std::string("a\0\xff", 3)), 24,
         true, std::string("a\0\xff", 3)},
        {"the hash of another host", encryptedValue("v10", "peanuts", "example.org", "kv1"), 24,
         false, ""},
        {"version 24 shorter than a hash", encryptedValue("v10", "peanuts", host, "abc", 23), 24,
         false, ""},
        {"another password", encryptedValue("v10", "walnuts", host, "kv1"), 24, false, ""},
        {"wrong padding", badPadding, 24, false, ""},
        {"a block cut short", blocks.substr(0, blocks.size() - 1), 24, false, ""},
        {"a block too many", blocks + std::string(16, 'x'), 24, false, ""},
        {"only the prefix", "v10", 24, false, ""},
        {"shorter than the prefix", "v1", 24, false, ""},
        {"nothing", "", 24, false, ""},
    };
    for (const Case& c : cases) {
        std::string value = "untouched";
        EXPECT_EQ(decryptChromiumCookieValue(c.encrypted, peanuts, host, c.version, value), c.ok)
            << c.what;
        EXPECT_EQ(value, c.ok ? c.value : "untouched") << c.what;
    }
}

TEST(ChromiumCookieCipherTest, PicksTheKeyByPrefixAndAsksTheKeyringOnce) {
    const std::string host = "127.0.0.1";
    struct Case {
        const char* what;
        bool keyringAnswers;
        std::string encrypted;
        bool ok;
    };
    const Case cases[] = {
        {"v10 with the fixed password", true, encryptedValue("v10", "peanuts", host, "v"), true},
        {"v11 with the keyring's", true, encryptedValue("v11", "c2VjcmV0", host, "v"), true},
        {"v11 with the empty password", true, encryptedValue("v11", "", host, "v"), true},
        {"v11 without a keyring", false, encryptedValue("v11", "", host, "v"), true},
        {"v11 with the keyring's, which is gone", false,
         encryptedValue("v11", "c2VjcmV0", host, "v"), false},
        {"v11 with the fixed password", true, encryptedValue("v11", "peanuts", host, "v"), false},
        {"v10 with the keyring's", true, encryptedValue("v10", "c2VjcmV0", host, "v"), false},
        {"an unknown prefix", true, encryptedValue("v12", "peanuts", host, "v"), false},
    };
    for (const Case& c : cases) {
        int asked = 0;
        ChromiumCookieDecryptor decryptor(24, [&](std::string& password, std::string& problem) {
            ++asked;
            password = "c2VjcmV0";
            problem = "the keyring is away";
            return c.keyringAnswers;
        });
        for (int round = 0; round < 2; ++round) {
            std::string value;
            EXPECT_EQ(decryptor.decrypt(c.encrypted, host, value), c.ok) << c.what;
            EXPECT_EQ(value, c.ok ? "v" : "") << c.what;
        }
        const bool v11 = c.encrypted.compare(0, 3, "v11") == 0;
        EXPECT_EQ(asked, v11 ? 1 : 0) << c.what;
        EXPECT_EQ(decryptor.keyringProblem(), v11 && !c.keyringAnswers ? "the keyring is away" : "")
            << c.what;
    }
}

// --- lines ------------------------------------------------------------------------------

TEST(ChromiumCookieLineTest, WritesCookiesTxtFieldsOrNothing) {
    const int64_t in2023 = (1700000000 + 11644473600) * 1000000 + 999999;
    struct Case {
        ChromiumCookie cookie;
        std::string value;
        std::string line;
    };
    const Case cases[] = {
        {{".example.org", "/", "sid", in2023, true, false},
         "abc",
         ".example.org\tTRUE\t/\tTRUE\t1700000000\tsid\tabc"},
        {{"example.org", "/app", "sid", 0, false, false},
         "abc",
         "example.org\tFALSE\t/app\tFALSE\t0\tsid\tabc"},
        {{"127.0.0.1", "/", "hid", in2023, false, true},
         "h v=3",
         "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t1700000000\thid\th v=3"},
        {{"example.org", "/", "empty", 0, false, false},
         "",
         "example.org\tFALSE\t/\tFALSE\t0\tempty\t"},
        {{"example.org", "/", "tab", 0, false, false}, "a\tb", ""},
        {{"example.org", "/", "line", 0, false, false}, "a\nb", ""},
        {{"example.org", "/", "nul", 0, false, false}, std::string("a\0b", 3), ""},
        {{"example.org", "/", "new\rline", 0, false, false}, "v", ""},
        {{"example.org", "/", "", 0, false, false}, "v", ""},
        {{"", "/", "n", 0, false, false}, "v", ""},
        {{"example.org", "", "n", 0, false, false}, "v", ""},
        {{"#comment", "/", "n", 0, false, false}, "v", ""},
        {{"example.org", "/", "old", 11644473600LL * 1000000, false, false}, "v", ""},
        {{"example.org", "/", "negative", -5, false, false}, "v", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(chromiumCookieLine(c.cookie, c.value), c.line) << c.cookie.name;
    }
}

// --- whole profiles -----------------------------------------------------------------------

struct Row {
    Row(std::string host, std::string name, std::string value, std::string encrypted,
        int64_t expires = 0, bool httpOnly = false, std::string topFrameSite = "")
        : host(std::move(host)), name(std::move(name)), value(std::move(value)),
          encrypted(std::move(encrypted)), expires(expires), httpOnly(httpOnly),
          topFrameSite(std::move(topFrameSite)) {}

    std::string host;
    std::string name;
    std::string value;
    std::string encrypted;
    int64_t expires = 0;
    bool httpOnly = false;
    std::string topFrameSite;
};

// A cookie database with the columns the browser writes today.
void writeDatabase(const std::string& path, const std::vector<Row>& rows, int version = 24) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    sqlite3* database = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &database), SQLITE_OK);
    const std::string schema =
        "PRAGMA synchronous=OFF; BEGIN;"
        "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR);"
        "INSERT INTO meta VALUES('version', '" +
        std::to_string(version) +
        "');"
        "CREATE TABLE cookies(creation_utc INTEGER NOT NULL, host_key TEXT NOT NULL,"
        " top_frame_site_key TEXT NOT NULL, name TEXT NOT NULL, value TEXT NOT NULL,"
        " encrypted_value BLOB NOT NULL, path TEXT NOT NULL, expires_utc INTEGER NOT NULL,"
        " is_secure INTEGER NOT NULL, is_httponly INTEGER NOT NULL);";
    ASSERT_EQ(sqlite3_exec(database, schema.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_stmt* insert = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(database,
                                 "INSERT INTO cookies VALUES(0, ?, ?, ?, ?, ?, '/', ?, 0, ?)", -1,
                                 &insert, nullptr),
              SQLITE_OK);
    for (const Row& row : rows) {
        sqlite3_bind_text(insert, 1, row.host.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, row.topFrameSite.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, row.name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 4, row.value.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_blob(insert, 5, row.encrypted.data(), static_cast<int>(row.encrypted.size()),
                          SQLITE_TRANSIENT);
        sqlite3_bind_int64(insert, 6, row.expires);
        sqlite3_bind_int(insert, 7, row.httpOnly ? 1 : 0);
        EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    EXPECT_EQ(sqlite3_exec(database, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(database);
}

const int64_t kIn2023 = (1700000000 + 11644473600) * 1000000;

std::vector<Row> sampleRows() {
    return {
        {"127.0.0.1", "keep", "", encryptedValue("v10", "peanuts", "127.0.0.1", "kv1"), kIn2023},
        {".example.org", "hid", "", encryptedValue("v10", "peanuts", ".example.org", "hv3"), 0,
         true},
        {"example.org", "plain", "pv", "", 0},
        {"example.org", "part", "", encryptedValue("v10", "peanuts", "example.org", "x"), 0, false,
         "https://other.example"},
    };
}

const Lines kSampleLines = {
    "127.0.0.1\tFALSE\t/\tFALSE\t1700000000\tkeep\tkv1",
    "#HttpOnly_.example.org\tTRUE\t/\tFALSE\t0\thid\thv3",
    "example.org\tFALSE\t/\tFALSE\t0\tplain\tpv",
};

// The environment of one test: its own configuration folder, no keyring.
class ChromiumProfileTest : public ::testing::Test {
protected:
    ChromiumProfileTest() {
        m_environment.set("XDG_CONFIG_HOME", m_home.file("config"));
        m_environment.set("HOME", m_home.path());
        m_environment.set("TMPDIR", m_home.file("tmp"));
        m_environment.unset("DBUS_SESSION_BUS_ADDRESS");
        m_environment.unset("XDG_RUNTIME_DIR");
        std::filesystem::create_directories(m_home.file("tmp"));
    }

    std::string config(const std::string& name) const { return m_home.file("config/" + name); }

    bool temporaryFolderIsEmpty() const { return std::filesystem::is_empty(m_home.file("tmp")); }

    TempDir m_home;
    ScopedEnvironment m_environment;
};

TEST_F(ChromiumProfileTest, FindsTheProfileByNameOrPathAndReadsItsCookies) {
    struct Case {
        const char* application;
        std::string database; // relative to the configuration folder
        std::string profile;  // "@" stands for the configuration folder
    };
    const Case cases[] = {
        {"chromium", "chromium/Default/Cookies", ""},
        {"", "chromium/Default/Cookies", "Default"},
        {"chrome", "google-chrome/Default/Cookies", ""},
        {"chrome", "google-chrome/Profile 1/Network/Cookies", "Profile 1"},
        {"chromium", "other data?#%/Default/Cookies", "@/other data?#%"},
        {"chromium", "other data?#%/Profile 2/Cookies", "@/other data?#%/Profile 2"},
    };
    for (const Case& c : cases) {
        const std::string database = config(c.database);
        writeDatabase(database, sampleRows());
        const std::string before = readWholeFile(database);
        std::string profile = c.profile;
        if (profile.rfind("@", 0) == 0) {
            profile = m_home.file("config") + profile.substr(1);
        }
        Lines lines;
        std::string problem;
        EXPECT_TRUE(readChromiumCookies(c.application, profile, lines, problem)) << problem;
        EXPECT_EQ(problem, "") << c.database;
        EXPECT_THAT(lines, UnorderedElementsAreArray(kSampleLines)) << c.database;
        EXPECT_EQ(readWholeFile(database), before) << c.database;
        std::filesystem::remove(database);
    }
    EXPECT_TRUE(temporaryFolderIsEmpty());
}

TEST_F(ChromiumProfileTest, PrefersTheNewerOfTheTwoDatabases) {
    writeDatabase(config("chromium/Default/Network/Cookies"), {{"old.example", "n", "v", "", 0}});
    writeDatabase(config("chromium/Default/Cookies"), {{"new.example", "n", "v", "", 0}});
    std::filesystem::last_write_time(config("chromium/Default/Network/Cookies"),
                                     std::filesystem::file_time_type::clock::now() -
                                         std::chrono::hours(1));
    Lines lines;
    std::string problem;
    EXPECT_TRUE(readChromiumCookies("chromium", "", lines, problem)) << problem;
    EXPECT_EQ(lines, Lines{"new.example\tFALSE\t/\tFALSE\t0\tn\tv"});
}

TEST_F(ChromiumProfileTest, LeavesOutWhatItCannotDecryptAndSaysSo) {
    std::vector<Row> rows = sampleRows();
    rows.push_back(
        {"example.org", "walnut", "", encryptedValue("v10", "walnuts", "example.org", "w")});
    rows.push_back({"example.org", "tab", "a\tb", ""});
    writeDatabase(config("chromium/Default/Cookies"), rows);
    Lines lines;
    std::string problem;
    EXPECT_TRUE(readChromiumCookies("chromium", "", lines, problem));
    EXPECT_THAT(lines, UnorderedElementsAreArray(kSampleLines));
    EXPECT_EQ(problem, "left out 1 cookie that could not be decrypted and 1 cookie that a "
                       "cookies.txt line cannot hold");

    // Nothing decrypts: the keyring's password is needed and there is no bus.
    writeDatabase(config("chromium/Profile 3/Cookies"),
                  {{"a.example", "n", "", encryptedValue("v11", "c2VjcmV0", "a.example", "v")},
                   {"b.example", "n", "", encryptedValue("v11", "c2VjcmV0", "b.example", "v")}});
    EXPECT_FALSE(readChromiumCookies("chromium", "Profile 3", lines, problem));
    EXPECT_TRUE(lines.empty());
    EXPECT_THAT(problem, HasSubstr("none of the 2 cookies in "));
    EXPECT_THAT(problem, HasSubstr("could be decrypted (there is no D-Bus session bus"));
}

TEST_F(ChromiumProfileTest, SaysInOneLineWhyNothingCouldBeRead) {
    writeDatabase(config("chromium/Default/Cookies"), sampleRows());
    std::vector<Row> many;
    for (int i = 0; i < 400; ++i) {
        many.push_back({"example.org", "n" + std::to_string(i), std::string(100, 'v'), "", 0});
    }
    writeDatabase(config("chromium/Whole/Cookies"), many);
    const std::string whole = readWholeFile(config("chromium/Whole/Cookies"));
    m_home.write("config/chromium/Truncated/Cookies", whole.substr(0, whole.size() / 2));
    m_home.write("config/chromium/Garbage/Cookies", std::string(4096, 'g'));
    m_home.write("config/chromium/Empty/Cookies", "");
    std::filesystem::create_directories(config("chromium/Nothing"));
    std::filesystem::create_directories(config("chromium/Other"));
    sqlite3* other = nullptr;
    sqlite3_open(config("chromium/Other/Cookies").c_str(), &other);
    sqlite3_exec(other, "CREATE TABLE other(x)", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    struct Case {
        const char* application;
        const char* profile;
        const char* problem;
    };
    const Case cases[] = {
        {"chromium", "Missing", "no Chromium profile at "},
        {"chrome", "", "no Chrome profile at "},
        {"chromium", "Nothing", "has no cookie database (Cookies or Network/Cookies)"},
        {"chromium", "Truncated", "database disk image is malformed"},
        {"chromium", "Garbage", "file is not a database"},
        {"chromium", "Empty", "no such table: cookies"},
        {"chromium", "Other", "no such table: cookies"},
        {"firefox", "", "unknown browser \"firefox\": chromium or chrome"},
    };
    for (const Case& c : cases) {
        Lines lines = {"stale"};
        std::string problem;
        EXPECT_FALSE(readChromiumCookies(c.application, c.profile, lines, problem)) << c.profile;
        EXPECT_THAT(problem, HasSubstr(c.problem)) << c.profile;
        EXPECT_EQ(problem.find('\n'), std::string::npos) << c.profile;
        EXPECT_TRUE(lines.empty()) << c.profile;
    }
    EXPECT_EQ(readWholeFile(config("chromium/Truncated/Cookies")),
              whole.substr(0, whole.size() / 2));
    EXPECT_TRUE(temporaryFolderIsEmpty());
}

TEST_F(ChromiumProfileTest, ReadsADatabaseThatAnotherProgramHoldsLocked) {
    const std::string database = config("chromium/Default/Cookies");
    writeDatabase(database, sampleRows());
    // An exclusive lock kept after a write, as a browser that holds its
    // database for itself does.
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(database.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "PRAGMA locking_mode=EXCLUSIVE; UPDATE meta SET value = value;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const std::string before = readWholeFile(database);
    Lines lines;
    std::string problem;
    EXPECT_TRUE(readChromiumCookies("chromium", "", lines, problem)) << problem;
    EXPECT_THAT(lines, UnorderedElementsAreArray(kSampleLines));
    EXPECT_EQ(readWholeFile(database), before);
    EXPECT_TRUE(temporaryFolderIsEmpty());
    sqlite3_close(holder);
}

} // namespace
