#include "app/FirefoxCookies.h"
#include "app/FirefoxProfiles.h"

#include "ChildProcess.h"
#include "TestServer.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <lz4.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <set>
#include <signal.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

std::string mozLz4(const std::string& json) {
    std::string block(static_cast<size_t>(LZ4_compressBound(static_cast<int>(json.size()))), '\0');
    const int size = LZ4_compress_default(json.data(), block.data(), static_cast<int>(json.size()),
                                          static_cast<int>(block.size()));
    block.resize(static_cast<size_t>(size));
    const auto length = static_cast<uint32_t>(json.size());
    std::string file("mozLz40", 8);
    for (int shift = 0; shift < 32; shift += 8) {
        file.push_back(static_cast<char>((length >> shift) & 0xff));
    }
    return file + block;
}

// A cookies.sqlite with Firefox's columns; expiry as given (seconds or
// milliseconds).
void writeCookieDatabase(const std::string& path, const std::vector<std::string>& rows) {
    sqlite3* database = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &database), SQLITE_OK);
    std::string script =
        "PRAGMA synchronous = OFF; CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, "
        "originAttributes TEXT NOT NULL DEFAULT '', name TEXT, value TEXT, "
        "host TEXT, path TEXT, expiry INTEGER, isSecure INTEGER, "
        "isHttpOnly INTEGER);";
    for (const std::string& row : rows) {
        script += "INSERT INTO moz_cookies (originAttributes, name, value, host, path, expiry, "
                  "isSecure, isHttpOnly) VALUES (" +
                  row + ");";
    }
    EXPECT_EQ(sqlite3_exec(database, script.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(database);
    sqlite3_close(database);
}

const int64_t kInAYear = static_cast<int64_t>(std::time(nullptr)) + 365 * 86400;

// What every profile of the table holds in its database.
std::vector<std::string> databaseRows() {
    const std::string seconds = std::to_string(kInAYear);
    const std::string milliseconds = std::to_string(kInAYear * 1000);
    return {"'', 'ms', '1', '.example.org', '/', " + milliseconds + ", 1, 0",
            "'', 'sec', '2', 'example.org', '/app', " + seconds + ", 0, 1",
            "'', 'gone', '3', 'example.org', '/', 1000000000000, 0, 0",
            "'^userContextId=2', 'work', '4', 'example.org', '/', " + seconds + ", 0, 0",
            "'^partitionKey=%28https%2Cother.test%29', 'third', '5', 'example.org', '/', " +
                seconds + ", 0, 0"};
}

Lines databaseLines() {
    const std::string expiry = std::to_string(kInAYear);
    return {".example.org\tTRUE\t/\tTRUE\t" + expiry + "\tms\t1",
            "#HttpOnly_example.org\tFALSE\t/app\tFALSE\t" + expiry + "\tsec\t2"};
}

const std::string kSessionJson =
    R"({"windows":[],"cookies":[)"
    R"({"host":"example.org","value":"s1","path":"/","name":"sid","secure":true,"httponly":true,)"
    R"("originAttributes":{"firstPartyDomain":"","privateBrowsingId":0,"userContextId":0}},)"
    R"({"host":"example.org","value":"s2","path":"/","name":"boxed",)"
    R"("originAttributes":{"userContextId":1}},)"
    R"({"host":".example.org","value":"stale","path":"/","name":"ms"}]})";

const std::string kSessionLine = "#HttpOnly_example.org\tFALSE\t/\tTRUE\t0\tsid\ts1";

TEST(FirefoxCookiesTest, ProfileFoldersReadOrSayWhyNot) {
    std::string wrongMagic = mozLz4(kSessionJson);
    wrongMagic[0] = 'M';
    std::string wrongSize = mozLz4(kSessionJson);
    wrongSize[8] = static_cast<char>(wrongSize[8] + 1);

    struct Row {
        const char* what;
        std::string recovery; // "" for none
        bool truncateDatabase;
        bool ok;
        Lines lines;
        std::string problem;
    };
    // The copies of the database go here, and never stay.
    const TempDir temporary;
    ScopedEnvironment environment;
    environment.set("TMPDIR", temporary.path());
    Lines withSession = databaseLines();
    withSession.push_back(kSessionLine);
    const std::vector<Row> rows = {
        {"database only", "", false, true, databaseLines(), ""},
        {"database and session file", mozLz4(kSessionJson), false, true, withSession, ""},
        {"session file with a wrong magic", wrongMagic, false, true, databaseLines(), ""},
        {"session file with a wrong size", wrongSize, false, true, databaseLines(), ""},
        {"truncated database", mozLz4(kSessionJson), true, false, {}, "cannot read the cookies"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const TempDir profile;
        writeCookieDatabase(profile.file("cookies.sqlite"), databaseRows());
        if (row.truncateDatabase) {
            // The table's page is cut off.
            const std::string database = profile.file("cookies.sqlite");
            std::filesystem::resize_file(database, std::filesystem::file_size(database) / 2);
        }
        if (!row.recovery.empty()) {
            profile.write("sessionstore-backups/recovery.jsonlz4", row.recovery);
        }
        Lines lines = {"stale"};
        std::string problem;
        EXPECT_EQ(readFirefoxCookies(profile.path(), lines, problem), row.ok) << problem;
        EXPECT_EQ(lines, row.lines);
        EXPECT_NE(problem.find(row.problem), std::string::npos) << problem;
        EXPECT_EQ(row.ok, problem.empty()) << problem;
        for (const auto& entry : std::filesystem::directory_iterator(temporary.path())) {
            EXPECT_EQ(entry.path().filename().string().rfind("pagewing-", 0), std::string::npos);
        }
    }
}

TEST(FirefoxCookiesTest, SessionFilesThatAreNotOneSayWhy) {
    std::string wrongMagic = mozLz4(kSessionJson);
    wrongMagic.replace(0, 8, "mozLz41", 8);
    std::string wrongSize = mozLz4(kSessionJson);
    wrongSize[8] = static_cast<char>(wrongSize[8] - 1);
    const std::vector<std::pair<std::string, std::string>> rows = {
        {wrongMagic, "not a mozLz40 file"},
        {wrongSize, "does not make the"},
        {mozLz4(kSessionJson).substr(0, 20), "does not make the"},
        {"", "not a mozLz40 file"},
    };
    for (const auto& [bytes, problem] : rows) {
        Lines lines = {"stale"};
        std::string why;
        EXPECT_FALSE(firefoxSessionFileCookies(bytes, lines, why));
        EXPECT_TRUE(lines.empty());
        EXPECT_NE(why.find(problem), std::string::npos) << why;
    }
    Lines lines;
    std::string why;
    EXPECT_TRUE(firefoxSessionFileCookies(mozLz4(kSessionJson), lines, why));
    EXPECT_EQ(lines, Lines({kSessionLine, ".example.org\tTRUE\t/\tFALSE\t0\tms\tstale"}));
}

TEST(FirefoxCookiesTest, ProfilesAreFoundByNameOrAsTheDefault) {
    const TempDir home;
    ScopedEnvironment environment;
    environment.set("HOME", home.path());
    environment.set("XDG_CONFIG_HOME", home.path() + "/.config");
    const std::string base = home.path() + "/.config/mozilla/firefox";
    for (const char* folder : {"a.first", "b.chosen", "c.old"}) {
        std::filesystem::create_directories(base + "/" + folder);
        writeCookieDatabase(base + "/" + folder + "/cookies.sqlite",
                            {"'', 'in', '" + std::string(folder) + "', 'example.org', '/', " +
                             std::to_string(kInAYear) + ", 0, 0"});
    }
    home.write(".config/mozilla/firefox/profiles.ini",
               "[Profile0]\nName=first\nIsRelative=1\nPath=a.first\n\n"
               "[Profile1]\nName=old\nIsRelative=1\nPath=c.old\nDefault=1\n\n"
               "[Profile2]\nName=chosen\nIsRelative=1\nPath=b.chosen\n\n"
               "[Install4F96D1932A9F858E]\nDefault=b.chosen\nLocked=1\n");
    const std::vector<std::pair<std::string, std::string>> found = {
        {"", "b.chosen"}, {"first", "a.first"}, {"old", "c.old"}, {base + "/c.old", "c.old"}};
    for (const auto& [profile, value] : found) {
        Lines lines;
        std::string problem;
        EXPECT_TRUE(readFirefoxCookies(profile, lines, problem)) << profile << ": " << problem;
        EXPECT_EQ(lines, Lines({"example.org\tFALSE\t/\tFALSE\t" + std::to_string(kInAYear) +
                                "\tin\t" + value}))
            << profile;
    }
    const std::vector<std::pair<std::string, std::string>> missing = {
        {"nobody", "no Firefox profile named nobody"},
        {home.path() + "/no/such/profile", "no Firefox profile folder"},
        {home.path(), "no cookies.sqlite"}};
    for (const auto& [profile, problem] : missing) {
        Lines lines = {"stale"};
        std::string why;
        EXPECT_FALSE(readFirefoxCookies(profile, lines, why));
        EXPECT_TRUE(lines.empty());
        EXPECT_NE(why.find(problem), std::string::npos) << why;
    }
}

TEST(FirefoxCookiesTest, TheDefaultProfileIsTheInstallsThenTheMarkedThenTheOnlyOne) {
    const std::string two = "[Profile0]\nPath=a\n[Profile1]\nPath=/abs/b\nIsRelative=0\n";
    const std::vector<std::pair<std::string, std::string>> rows = {
        {two + "[Install1]\nDefault=a\n[Profile2]\nPath=c\nDefault=1\n", "/base/a"},
        {"[Install1]\nDefault=/abs/b\n" + two, "/abs/b"},
        {two + "Default=1\n", "/abs/b"},
        {"[Profile0]\nPath=only\n", "/base/only"},
        {two, ""},
        {"", ""},
    };
    for (const auto& [ini, directory] : rows) {
        EXPECT_EQ(firefoxDefaultProfileDirectory("/base", ini), directory) << ini;
    }
}

// --- The real browser ------------------------------------------------------------------

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string rest = path != nullptr ? path : "";
    while (!rest.empty()) {
        const size_t colon = rest.find(':');
        const std::string dir = rest.substr(0, colon);
        if (::access((dir + "/" + program).c_str(), X_OK) == 0) {
            return true;
        }
        rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
    }
    return false;
}

// First-run pages, updates, telemetry and every address but loopback off;
// the session file written every second.
const char* const kUserJs = R"(user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("startup.homepage_welcome_url", "");
user_pref("startup.homepage_welcome_url.additional", "");
user_pref("app.update.enabled", false);
user_pref("app.update.auto", false);
user_pref("app.normandy.enabled", false);
user_pref("extensions.update.enabled", false);
user_pref("extensions.getAddons.cache.enabled", false);
user_pref("extensions.systemAddon.update.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.healthreport.uploadEnabled", false);
user_pref("toolkit.telemetry.enabled", false);
user_pref("toolkit.telemetry.unified", false);
user_pref("toolkit.telemetry.archive.enabled", false);
user_pref("toolkit.telemetry.server", "");
user_pref("browser.safebrowsing.malware.enabled", false);
user_pref("browser.safebrowsing.phishing.enabled", false);
user_pref("browser.safebrowsing.downloads.enabled", false);
user_pref("browser.safebrowsing.provider.mozilla.updateURL", "");
user_pref("browser.newtabpage.enabled", false);
user_pref("browser.newtabpage.activity-stream.feeds.topsites", false);
user_pref("browser.newtabpage.activity-stream.feeds.section.topstories", false);
user_pref("browser.topsites.contile.enabled", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("network.dns.disablePrefetch", true);
user_pref("network.prefetch-next", false);
user_pref("network.http.speculative-parallel-limit", 0);
user_pref("network.trr.mode", 5);
user_pref("services.settings.server", "http://127.0.0.1:9/");
user_pref("network.proxy.type", 1);
user_pref("network.proxy.http", "127.0.0.1");
user_pref("network.proxy.http_port", 9);
user_pref("network.proxy.ssl", "127.0.0.1");
user_pref("network.proxy.ssl_port", 9);
user_pref("network.proxy.socks", "127.0.0.1");
user_pref("network.proxy.socks_port", 9);
user_pref("network.proxy.no_proxies_on", "127.0.0.1");
user_pref("network.proxy.allow_hijacking_localhost", false);
user_pref("browser.sessionstore.interval", 1000);
)";

class RunningFirefox {
public:
    RunningFirefox() {
        m_environment.clearProxies();
        m_environment.set("HOME", m_home.path());
        m_environment.set("XDG_CONFIG_HOME", m_home.path() + "/.config");
        m_environment.set("MOZ_CRASHREPORTER_DISABLE", "1");
        m_profile.write("user.js", kUserJs);
    }
    ~RunningFirefox() { stop(); }
    RunningFirefox(const RunningFirefox&) = delete;
    RunningFirefox& operator=(const RunningFirefox&) = delete;

    bool start(const std::string& url) {
        return m_process.start(
            {"firefox-esr", "--headless", "--no-remote", "-profile", m_profile.path(), url},
            m_home.file("firefox.err"), m_home.file("firefox.out"));
    }
    // SIGTERM lets it finish writing; the bounded wait covers a busy machine.
    void stop() {
        if (m_process.pid() > 0 && m_process.running()) {
            ::kill(m_process.pid(), SIGTERM);
            for (int i = 0; i < 150 && m_process.running(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        m_process.stop();
    }
    bool running() { return m_process.running(); }
    const std::string& profile() const { return m_profile.path(); }

private:
    ScopedEnvironment m_environment;
    TempDir m_home;
    TempDir m_profile;
    ChildProcess m_process;
};

std::set<std::string> withoutExpiry(const Lines& lines, int64_t& expiry) {
    std::set<std::string> cookies;
    for (const std::string& line : lines) {
        // The fifth field is the expiry.
        size_t start = 0;
        for (int field = 0; field < 4; ++field) {
            start = line.find('\t', start) + 1;
        }
        const size_t end = line.find('\t', start);
        const int64_t value = std::stoll(line.substr(start, end - start));
        if (value != 0) {
            expiry = value;
        }
        cookies.insert(line.substr(0, start) + (value != 0 ? "E" : "0") + line.substr(end));
    }
    return cookies;
}

TEST(FirefoxCookiesTest, ReadsTheCookiesOfARunningAndOfAStoppedFirefox) {
    if (!onPath("firefox-esr")) {
        GTEST_SKIP() << "firefox-esr is not installed";
    }
    TestServer server;
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    const std::string url =
        server.url("/_/r?type=text/html&body=cookies&header=" +
                   urlEncode("Set-Cookie: keep=1; Max-Age=86400; Path=/") +
                   "&header=" + urlEncode("Set-Cookie: sess=2; Path=/") +
                   "&header=" + urlEncode("Set-Cookie: hidden=3; Max-Age=86400; Path=/; HttpOnly"));
    const std::set<std::string> persistent = {"127.0.0.1\tFALSE\t/\tFALSE\tE\tkeep\t1",
                                              "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\tE\thidden\t3"};
    std::set<std::string> all = persistent;
    all.insert("127.0.0.1\tFALSE\t/\tFALSE\t0\tsess\t2");

    RunningFirefox firefox;
    ASSERT_TRUE(firefox.start(url));
    Lines lines;
    std::string problem;
    int64_t expiry = 0;
    // The cookies reach the write-ahead log at once and the session file
    // within its interval; a cold start on a busy machine takes a while.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    while (std::chrono::steady_clock::now() < deadline && firefox.running()) {
        if (readFirefoxCookies(firefox.profile(), lines, problem) &&
            withoutExpiry(lines, expiry) == all) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(firefox.running());
    EXPECT_EQ(withoutExpiry(lines, expiry), all) << problem;
    const int64_t inADay = static_cast<int64_t>(std::time(nullptr)) + 86400;
    EXPECT_GT(expiry, inADay - 3600);
    EXPECT_LE(expiry, inADay);

    // Stopped, Firefox leaves the log and the recovery file behind: the
    // session cookie is still there to read.
    firefox.stop();
    ASSERT_FALSE(firefox.running());
    EXPECT_TRUE(readFirefoxCookies(firefox.profile(), lines, problem)) << problem;
    EXPECT_EQ(withoutExpiry(lines, expiry), all);
}

} // namespace
