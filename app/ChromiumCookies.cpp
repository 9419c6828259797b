#include "app/ChromiumCookies.h"

#include "app/BrowserSessions.h"
#include "app/ChromiumCookieCipher.h"
#include "app/KeyringPassword.h"
#include "app/PrivateTempDir.h"

#include <sqlite3.h>

#include <cctype>
#include <map>
#include <memory>
#include <sys/stat.h>

namespace {

// Seconds from 1601-01-01 (the browser's epoch) to 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600;
// A commit of the browser holds the database for a moment only.
constexpr int kBusyTimeoutMs = 1000;
// Long enough for a person to answer the keyring's unlock prompt.
constexpr int kKeyringTimeoutMs = 10000;

struct Browser {
    std::string root;        // the default user data folder
    std::string keyringName; // the "application" of its keyring item
    std::string displayName;
};

bool browserFor(const std::string& application, Browser& browser, std::string& problem) {
    const BrowserHomes homes = BrowserHomes::fromEnvironment();
    if (application.empty() || application == "chromium") {
        browser = {homes.chromiumRoots[0], "chromium", "Chromium"};
        return true;
    }
    if (application == "chrome") {
        browser = {homes.chromiumRoots[1], "chrome", "Chrome"};
        return true;
    }
    problem = "unknown browser \"" + application + "\": chromium or chrome";
    return false;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The database of a profile folder, "" when it has none. Where both places
// hold one, the newer file is the one in use.
std::string cookieDatabaseIn(const std::string& folder) {
    std::string best;
    struct timespec bestTime {};
    for (const std::string& candidate : {folder + "/Cookies", folder + "/Network/Cookies"}) {
        struct stat info {};
        if (::stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            continue;
        }
        const bool newer =
            info.st_mtim.tv_sec > bestTime.tv_sec ||
            (info.st_mtim.tv_sec == bestTime.tv_sec && info.st_mtim.tv_nsec > bestTime.tv_nsec);
        if (best.empty() || newer) {
            best = candidate;
            bestTime = info.st_mtim;
        }
    }
    return best;
}

// --- SQLite ---------------------------------------------------------------------------

struct DatabaseClose {
    void operator()(sqlite3* database) const { sqlite3_close_v2(database); }
};
struct StatementFinalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using DatabasePtr = std::unique_ptr<sqlite3, DatabaseClose>;
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalize>;

struct CookieRow {
    ChromiumCookie cookie;
    std::string value;
    std::string encryptedValue;
    bool partitioned = false;
};

struct DatabaseContent {
    int version = 0;
    std::vector<CookieRow> rows;
};

// The outcome of one attempt: the SQLite result code and its words.
struct ReadFailure {
    int code = SQLITE_OK;
    std::string message;
};

bool failWith(sqlite3* database, int code, ReadFailure& failure) {
    failure.code = code;
    failure.message = database != nullptr ? sqlite3_errmsg(database) : sqlite3_errstr(code);
    return false;
}

// A URI for the file whatever characters its name has; mode "ro" or "rw".
std::string fileUri(const std::string& path, const char* mode) {
    static const char* const hex = "0123456789ABCDEF";
    std::string uri = "file:";
    for (const unsigned char c : path) {
        if (std::isalnum(c) != 0 || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            uri.push_back(static_cast<char>(c));
        } else {
            uri += {'%', hex[c >> 4], hex[c & 15]};
        }
    }
    return uri + "?mode=" + mode;
}

std::string columnText(sqlite3_stmt* statement, int column) {
    const auto* text = static_cast<const char*>(sqlite3_column_blob(statement, column));
    const int size = sqlite3_column_bytes(statement, column);
    return text != nullptr && size > 0 ? std::string(text, static_cast<size_t>(size))
                                       : std::string();
}

int metaVersion(sqlite3* database) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(database, "SELECT value FROM meta WHERE key = 'version'", -1, &raw,
                           nullptr) != SQLITE_OK) {
        return 0;
    }
    const StatementPtr statement(raw);
    return sqlite3_step(raw) == SQLITE_ROW ? sqlite3_column_int(raw, 0) : 0;
}

// Columns by name: the table gained and renamed columns over the years.
class CookieColumns {
public:
    explicit CookieColumns(sqlite3_stmt* statement) {
        for (int column = 0; column < sqlite3_column_count(statement); ++column) {
            m_index[sqlite3_column_name(statement, column)] = column;
        }
    }
    // The first of the names that the table has, -1 when none.
    int find(std::initializer_list<const char*> names) const {
        for (const char* name : names) {
            const auto found = m_index.find(name);
            if (found != m_index.end()) {
                return found->second;
            }
        }
        return -1;
    }

private:
    std::map<std::string, int> m_index;
};

bool readRows(sqlite3* database, DatabaseContent& content, ReadFailure& failure) {
    sqlite3_stmt* raw = nullptr;
    const int prepared = sqlite3_prepare_v2(database, "SELECT * FROM cookies", -1, &raw, nullptr);
    if (prepared != SQLITE_OK) {
        return failWith(database, prepared, failure);
    }
    const StatementPtr statement(raw);
    const CookieColumns columns(raw);
    const int host = columns.find({"host_key"});
    const int name = columns.find({"name"});
    const int value = columns.find({"value"});
    const int encrypted = columns.find({"encrypted_value"});
    const int path = columns.find({"path"});
    const int expires = columns.find({"expires_utc"});
    const int secure = columns.find({"is_secure", "secure"});
    const int httpOnly = columns.find({"is_httponly", "httponly"});
    const int topFrameSite = columns.find({"top_frame_site_key"});
    if (host < 0 || name < 0 || value < 0 || path < 0 || expires < 0 || secure < 0 ||
        httpOnly < 0) {
        failure = {SQLITE_ERROR, "the cookies table lacks columns this reader needs"};
        return false;
    }
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(raw)) == SQLITE_ROW) {
        CookieRow row;
        row.cookie.hostKey = columnText(raw, host);
        row.cookie.name = columnText(raw, name);
        row.cookie.path = columnText(raw, path);
        row.cookie.expiresUtc = sqlite3_column_int64(raw, expires);
        row.cookie.secure = sqlite3_column_int(raw, secure) != 0;
        row.cookie.httpOnly = sqlite3_column_int(raw, httpOnly) != 0;
        row.value = columnText(raw, value);
        row.encryptedValue = encrypted >= 0 ? columnText(raw, encrypted) : std::string();
        row.partitioned = topFrameSite >= 0 && !columnText(raw, topFrameSite).empty();
        content.rows.push_back(std::move(row));
    }
    if (step != SQLITE_DONE) {
        return failWith(database, step, failure);
    }
    return true;
}

bool readDatabaseFile(const std::string& uri, int flags, DatabaseContent& content,
                      ReadFailure& failure) {
    content = {};
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(uri.c_str(), &raw, flags | SQLITE_OPEN_URI, nullptr);
    const DatabasePtr database(raw);
    if (opened != SQLITE_OK) {
        return failWith(raw, opened, failure);
    }
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    if (!readRows(raw, content, failure)) {
        return false;
    }
    content.version = metaVersion(raw);
    return true;
}

// Failures that a private copy of the files can get past: the browser
// holds a lock, or a journal must be rolled back, which read-only cannot.
bool copyMayHelp(int code) {
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PROTOCOL:
        return true;
    default:
        return false;
    }
}

// --- a private copy --------------------------------------------------------------------

// The copy lives in a folder of our own, which also goes when the program
// is interrupted: it holds the user's (encrypted) cookies.
bool readPrivateCopy(const std::string& path, DatabaseContent& content, ReadFailure& failure) {
    const PrivateTempDir folder;
    if (!folder.ok()) {
        failure = {SQLITE_CANTOPEN, "no private temporary folder for a copy"};
        return false;
    }
    const std::string copy = folder.path() + "/Cookies";
    for (const char* suffix : {"", "-journal", "-wal"}) {
        std::string copied;
        std::string problem;
        bool missing = false;
        // A journal that is not there is no failure.
        if (!folder.copyIn(path + suffix, std::string("Cookies") + suffix, copied, problem,
                           &missing) &&
            !missing) {
            failure = {SQLITE_CANTOPEN, "it could not be copied"};
            return false;
        }
    }
    // Read-write, so that SQLite can roll a journal back into the copy.
    return readDatabaseFile(fileUri(copy, "rw"), SQLITE_OPEN_READWRITE, content, failure);
}

bool readDatabase(const std::string& path, DatabaseContent& content, std::string& problem) {
    ReadFailure failure;
    if (readDatabaseFile(fileUri(path, "ro"), SQLITE_OPEN_READONLY, content, failure)) {
        return true;
    }
    if (copyMayHelp(failure.code)) {
        ReadFailure copyFailure;
        if (readPrivateCopy(path, content, copyFailure)) {
            return true;
        }
        if (!copyMayHelp(copyFailure.code)) {
            failure = copyFailure; // the copy tells more: damage, not the lock
        }
    }
    if ((failure.code & 0xff) == SQLITE_BUSY || (failure.code & 0xff) == SQLITE_LOCKED) {
        problem = "the cookie database " + path + " is locked by another program";
    } else {
        problem = "cannot read the cookie database " + path + ": " + failure.message;
    }
    return false;
}

// --- lines ---------------------------------------------------------------------------------

bool fitsOneField(const std::string& text) {
    return text.find_first_of(std::string("\t\r\n\0", 4)) == std::string::npos;
}

std::string countOf(size_t count, const char* one) {
    return std::to_string(count) + " " + one + (count == 1 ? "" : "s");
}

std::string keyringNote(const ChromiumCookieDecryptor& decryptor) {
    return decryptor.keyringProblem().empty() ? "" : " (" + decryptor.keyringProblem() + ")";
}

} // namespace

bool findChromiumCookieDatabase(const std::string& application, const std::string& profile,
                                std::string& databasePath, std::string& problem) {
    databasePath.clear();
    Browser browser;
    if (!browserFor(application, browser, problem)) {
        return false;
    }
    std::string folder = profile.empty()                          ? browser.root + "/Default"
                         : profile.find('/') != std::string::npos ? profile
                                                                  : browser.root + "/" + profile;
    if (!isDirectory(folder)) {
        problem = "no " + browser.displayName + " profile at " + folder;
        return false;
    }
    databasePath = cookieDatabaseIn(folder);
    if (databasePath.empty() && isDirectory(folder + "/Default")) {
        databasePath = cookieDatabaseIn(folder + "/Default"); // a user data folder
    }
    if (databasePath.empty()) {
        problem = "the " + browser.displayName + " profile " + folder +
                  " has no cookie database (Cookies or Network/Cookies)";
        return false;
    }
    return true;
}

std::string chromiumCookieLine(const ChromiumCookie& cookie, const std::string& value) {
    if (cookie.hostKey.empty() || cookie.hostKey[0] == '#' || cookie.name.empty() ||
        cookie.path.empty() || !fitsOneField(cookie.hostKey) || !fitsOneField(cookie.path) ||
        !fitsOneField(cookie.name) || !fitsOneField(value)) {
        return {};
    }
    int64_t expiry = 0;
    if (cookie.expiresUtc != 0) {
        expiry = cookie.expiresUtc / 1000000 - kEpochDifference;
        if (expiry <= 0) {
            return {}; // 0 would make it a session cookie
        }
    }
    std::string line = cookie.httpOnly ? "#HttpOnly_" : "";
    line += cookie.hostKey;
    line += cookie.hostKey[0] == '.' ? "\tTRUE\t" : "\tFALSE\t";
    line += cookie.path;
    line += cookie.secure ? "\tTRUE\t" : "\tFALSE\t";
    line += std::to_string(expiry) + "\t" + cookie.name + "\t" + value;
    return line;
}

int64_t chromiumTimeFromUnixSeconds(int64_t seconds) {
    return (seconds + kEpochDifference) * 1000000;
}

bool readChromiumCookies(const std::string& application, const std::string& profile,
                         std::vector<std::string>& lines, std::string& problem) {
    lines.clear();
    problem.clear();
    Browser browser;
    std::string path;
    if (!browserFor(application, browser, problem) ||
        !findChromiumCookieDatabase(application, profile, path, problem)) {
        return false;
    }
    DatabaseContent content;
    if (!readDatabase(path, content, problem)) {
        return false;
    }
    const std::string keyringName = browser.keyringName;
    ChromiumCookieDecryptor decryptor(
        content.version, [keyringName](std::string& password, std::string& why) {
            return lookupKeyringPassword(
                {"chrome_libsecret_os_crypt_password_v2", "chrome_libsecret_os_crypt_password"},
                keyringName, kKeyringTimeoutMs, password, why);
        });
    size_t undecryptable = 0;
    size_t unwritable = 0;
    for (const CookieRow& row : content.rows) {
        if (row.partitioned) {
            continue;
        }
        std::string value = row.value;
        if (!row.encryptedValue.empty() &&
            !decryptor.decrypt(row.encryptedValue, row.cookie.hostKey, value)) {
            ++undecryptable;
            continue;
        }
        std::string line = chromiumCookieLine(row.cookie, value);
        if (line.empty()) {
            ++unwritable;
            continue;
        }
        lines.push_back(std::move(line));
    }
    if (lines.empty() && undecryptable > 0) {
        problem = "none of the " + countOf(undecryptable, "cookie") + " in " + path +
                  " could be decrypted" + keyringNote(decryptor);
        return false;
    }
    if (undecryptable > 0 || unwritable > 0) {
        problem = "left out ";
        if (undecryptable > 0) {
            problem += countOf(undecryptable, "cookie") + " that could not be decrypted" +
                       keyringNote(decryptor);
        }
        if (unwritable > 0) {
            problem += std::string(undecryptable > 0 ? " and " : "") +
                       countOf(unwritable, "cookie") + " that a cookies.txt line cannot hold";
        }
    }
    return true;
}
