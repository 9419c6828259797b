#include "app/FirefoxCookies.h"

#include "app/BrowserSessions.h"
#include "app/FirefoxProfiles.h"
#include "app/FirefoxSession.h"
#include "app/PrivateTempDir.h"

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <tuple>

namespace {

constexpr size_t kMaxSessionFileSize = 256u * 1024u * 1024u;
// Newer versions count the expiry in milliseconds; a count of seconds this
// large would lie thousands of years ahead.
constexpr int64_t kMillisecondExpiry = 100'000'000'000;

struct Cookie {
    std::string host;
    std::string path;
    std::string name;
    std::string value;
    bool secure = false;
    bool httpOnly = false;
    int64_t expiry = 0; // seconds since 1970; 0 for a session cookie
};

struct SqliteClose {
    void operator()(sqlite3* database) const { sqlite3_close(database); }
};
struct SqliteFinalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using SqliteDatabase = std::unique_ptr<sqlite3, SqliteClose>;
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteFinalize>;

bool hasLineBreakOrTab(const std::string& text) {
    return text.find_first_of("\t\r\n") != std::string::npos;
}

// "" for a cookie that the line format cannot carry.
std::string cookiesTxtLine(const Cookie& cookie) {
    for (const std::string* field : {&cookie.host, &cookie.path, &cookie.name, &cookie.value}) {
        if (hasLineBreakOrTab(*field)) {
            return {};
        }
    }
    if (cookie.host.empty() || cookie.path.empty()) {
        return {};
    }
    const char* yes = "TRUE";
    const char* no = "FALSE";
    return (cookie.httpOnly ? "#HttpOnly_" : "") + cookie.host + "\t" +
           (cookie.host.front() == '.' ? yes : no) + "\t" + cookie.path + "\t" +
           (cookie.secure ? yes : no) + "\t" + std::to_string(cookie.expiry) + "\t" + cookie.name +
           "\t" + cookie.value;
}

std::string columnText(sqlite3_stmt* statement, int column) {
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text != nullptr ? reinterpret_cast<const char*>(text) : std::string();
}

bool isRegularFile(const std::string& path, int64_t* modifiedNs = nullptr) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    if (modifiedNs != nullptr) {
        *modifiedNs =
            static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    }
    return true;
}

// Copies the database beside its write-ahead log, so that the cookies that
// a running Firefox has not yet moved into the database come along; the
// log first, so that the database copy is at least as new as it.
bool copyDatabase(const std::string& directory, const PrivateTempDir& temp, std::string& copy,
                  std::string& problem) {
    const std::string database = directory + "/cookies.sqlite";
    if (!isRegularFile(database)) {
        problem = "no cookies.sqlite in the Firefox profile " + directory;
        return false;
    }
    if (!temp.ok()) {
        problem = temp.problem();
        return false;
    }
    std::string walCopy;
    std::string walProblem;
    bool missing = false;
    // No log, or one that went away meanwhile: it is all in the database.
    if (!temp.copyIn(database + "-wal", "cookies.sqlite-wal", walCopy, walProblem, &missing) &&
        !missing) {
        problem = walProblem;
        return false;
    }
    return temp.copyIn(database, "cookies.sqlite", copy, problem);
}

bool readDatabaseCookies(const std::string& path, int64_t now, std::vector<Cookie>& cookies,
                         std::string& problem) {
    sqlite3* opened = nullptr;
    // Read-write, as the copy's log can only be read with its index rebuilt.
    const int openResult = sqlite3_open_v2(path.c_str(), &opened, SQLITE_OPEN_READWRITE, nullptr);
    const SqliteDatabase database(opened);
    sqlite3_stmt* prepared = nullptr;
    const char* query = "SELECT host, path, isSecure, expiry, name, value, isHttpOnly "
                        "FROM moz_cookies WHERE originAttributes = ''";
    if (openResult != SQLITE_OK ||
        sqlite3_prepare_v2(database.get(), query, -1, &prepared, nullptr) != SQLITE_OK) {
        problem = database ? sqlite3_errmsg(database.get()) : "out of memory";
        return false;
    }
    const SqliteStatement statement(prepared);
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement.get())) == SQLITE_ROW) {
        Cookie cookie;
        cookie.host = columnText(statement.get(), 0);
        cookie.path = columnText(statement.get(), 1);
        cookie.secure = sqlite3_column_int(statement.get(), 2) != 0;
        cookie.expiry = sqlite3_column_int64(statement.get(), 3);
        cookie.name = columnText(statement.get(), 4);
        cookie.value = columnText(statement.get(), 5);
        cookie.httpOnly = sqlite3_column_int(statement.get(), 6) != 0;
        if (cookie.expiry >= kMillisecondExpiry) {
            cookie.expiry /= 1000;
        }
        // An expired cookie waits in the table until Firefox purges it.
        if (cookie.expiry > now) {
            cookies.push_back(std::move(cookie));
        }
    }
    if (result != SQLITE_DONE) {
        problem = sqlite3_errmsg(database.get());
        return false;
    }
    return true;
}

// Members such as userContextId or partitionKey set to anything but their
// empty value put the cookie in another container or partition.
bool isDefaultContainer(const nlohmann::json& cookie) {
    const auto attributes = cookie.find("originAttributes");
    if (attributes == cookie.end() || attributes->is_null()) {
        return true;
    }
    if (attributes->is_string()) {
        return attributes->get<std::string>().empty();
    }
    if (!attributes->is_object()) {
        return false;
    }
    return std::all_of(attributes->begin(), attributes->end(), [](const nlohmann::json& value) {
        return value.is_null() || (value.is_string() && value.get<std::string>().empty()) ||
               (value.is_boolean() && !value.get<bool>()) ||
               (value.is_number_integer() && value.get<int64_t>() == 0) ||
               (value.is_number_unsigned() && value.get<uint64_t>() == 0);
    });
}

std::string stringMember(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

bool flagMember(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_boolean() && found->get<bool>();
}

std::vector<Cookie> sessionCookies(const std::string& json) {
    std::vector<Cookie> cookies;
    const nlohmann::json document = nlohmann::json::parse(json, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        return cookies;
    }
    const auto list = document.find("cookies");
    if (list == document.end() || !list->is_array()) {
        return cookies;
    }
    for (const nlohmann::json& entry : *list) {
        if (!entry.is_object() || !isDefaultContainer(entry)) {
            continue;
        }
        Cookie cookie;
        cookie.host = stringMember(entry, "host");
        cookie.path = stringMember(entry, "path");
        cookie.name = stringMember(entry, "name");
        cookie.value = stringMember(entry, "value");
        cookie.secure = flagMember(entry, "secure");
        cookie.httpOnly = flagMember(entry, "httponly");
        cookies.push_back(std::move(cookie));
    }
    return cookies;
}

// The session file that Firefox wrote last: the recovery file while it
// runs or after a crash, the other after a clean exit. "" when neither is.
std::string newestSessionFile(const std::string& directory) {
    std::string newest;
    int64_t newestTime = 0;
    for (const char* name : {"/sessionstore-backups/recovery.jsonlz4", "/sessionstore.jsonlz4"}) {
        int64_t modified = 0;
        if (isRegularFile(directory + name, &modified) &&
            (newest.empty() || modified > newestTime)) {
            newest = directory + name;
            newestTime = modified;
        }
    }
    return newest;
}

std::vector<std::string> linesOf(const std::vector<Cookie>& cookies) {
    std::vector<std::string> lines;
    for (const Cookie& cookie : cookies) {
        std::string line = cookiesTxtLine(cookie);
        if (!line.empty()) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

// The session cookies live only in the session file; where the database
// has the same cookie, its newer copy stays. A session file that cannot
// be read adds none.
void addSessionCookies(const std::string& directory, std::vector<Cookie>& cookies) {
    std::string bytes;
    std::string json;
    const std::string sessionFile = newestSessionFile(directory);
    if (sessionFile.empty() || !readSessionFile(sessionFile, kMaxSessionFileSize, bytes) ||
        !decodeMozLz4(bytes, json)) {
        return;
    }
    std::set<std::tuple<std::string, std::string, std::string>> kept;
    for (const Cookie& cookie : cookies) {
        kept.emplace(cookie.host, cookie.path, cookie.name);
    }
    for (Cookie& cookie : sessionCookies(json)) {
        if (kept.emplace(cookie.host, cookie.path, cookie.name).second) {
            cookies.push_back(std::move(cookie));
        }
    }
}

} // namespace

bool readFirefoxCookies(const std::string& profile, std::vector<std::string>& lines,
                        std::string& problem) {
    lines.clear();
    problem.clear();
    std::string directory;
    if (!findFirefoxProfile(BrowserHomes::fromEnvironment().firefoxBases, profile, directory,
                            problem)) {
        return false;
    }
    return readFirefoxProfileCookies(directory, lines, problem);
}

bool readFirefoxProfileCookies(const std::string& directory, std::vector<std::string>& lines,
                               std::string& problem) {
    lines.clear();
    problem.clear();
    std::vector<Cookie> cookies;
    {
        const PrivateTempDir temp;
        std::string copy;
        std::string why;
        if (!copyDatabase(directory, temp, copy, problem)) {
            return false;
        }
        if (!readDatabaseCookies(copy, static_cast<int64_t>(std::time(nullptr)), cookies, why)) {
            problem = "cannot read the cookies of the Firefox profile " + directory + ": " + why;
            return false;
        }
    }
    addSessionCookies(directory, cookies);
    lines = linesOf(cookies);
    return true;
}

std::vector<std::string> firefoxSessionCookies(const std::string& json) {
    return linesOf(sessionCookies(json));
}

bool firefoxSessionFileCookies(const std::string& bytes, std::vector<std::string>& lines,
                               std::string& problem) {
    lines.clear();
    problem.clear();
    std::string json;
    std::string why;
    if (!decodeMozLz4(bytes, json, why)) {
        problem = "not a Firefox session file: " + why;
        return false;
    }
    lines = firefoxSessionCookies(json);
    return true;
}
