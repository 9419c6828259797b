// The cookies that a real Chromium keeps, read while it runs.

#include "app/ChromiumCookieCipher.h"
#include "app/ChromiumCookies.h"
#include "app/KeyringPassword.h"

#include "ChildProcess.h"
#include "TestServer.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using ::testing::ElementsAre;
using Lines = std::vector<std::string>;

const char* const kChromium = "/usr/bin/chromium";

// The page sets a persistent, a session and an HttpOnly cookie. The browser
// writes its cookies 30 s after they change, or at once when 512 changes
// wait: the filler cookie, set over and over, brings that moment forward.
std::string cookieRoutes() {
    std::string headers = "\"Set-Cookie: keep=kv1; Max-Age=3600; Path=/\","
                          "\"Set-Cookie: sess=sv2; Path=/\","
                          "\"Set-Cookie: hid=hv3; Max-Age=3600; HttpOnly; Path=/\"";
    for (int i = 0; i < 300; ++i) {
        headers += ",\"Set-Cookie: filler=" + std::to_string(i) + "; Max-Age=600; Path=/filler\"";
    }
    return "{\"/cookies\": {\"type\": \"text/html\", \"body\": \"<p>cookies</p>\", \"header\": [" +
           headers + "]}}";
}

// Every host_key and encrypted_value, straight from the file.
std::vector<std::pair<std::string, std::string>> storedValues(const std::string& userData) {
    std::vector<std::pair<std::string, std::string>> values;
    std::string database;
    std::string problem;
    if (!findChromiumCookieDatabase("chromium", userData, database, problem)) {
        ADD_FAILURE() << problem;
        return values;
    }
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(("file:" + database + "?mode=ro").c_str(), &raw,
                        SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(raw, "SELECT host_key, encrypted_value FROM cookies", -1, &statement,
                               nullptr) == SQLITE_OK) {
            while (sqlite3_step(statement) == SQLITE_ROW) {
                const auto* host = sqlite3_column_text(statement, 0);
                const auto* value = sqlite3_column_blob(statement, 1);
                values.emplace_back(
                    reinterpret_cast<const char*>(host),
                    std::string(static_cast<const char*>(value),
                                static_cast<size_t>(sqlite3_column_bytes(statement, 1))));
            }
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(raw);
    EXPECT_FALSE(values.empty());
    return values;
}

// A line's fields: domain, subdomains, path, secure, expiry, name, value.
std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t tab = line.find('\t', start);
        parts.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) {
            return parts;
        }
        start = tab + 1;
    }
}

// A D-Bus session of its own with a keyring in it, unlocked with a
// password, where nothing is started on demand (no prompts, no helpers left
// behind). Stopped in reverse order when it goes away.
class KeyringSession {
public:
    // The bus and the keyring; withKeyring false: the bus alone.
    bool start(const TempDir& home, ScopedEnvironment& environment, std::string& error,
               bool withKeyring = true) {
        const std::string config = home.write(
            "bus.conf", "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                        "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/"
                        "busconfig.dtd\">\n<busconfig><type>session</type><listen>unix:dir=" +
                            home.path() +
                            "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                            "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow "
                            "eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        std::string address;
        if (!m_bus.start(
                {"dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"},
                home.file("bus.log")) ||
            !m_bus.readLine(address, 10000) || address.empty()) {
            error = "the bus did not start: " + readWholeFile(home.file("bus.log"));
            return false;
        }
        environment.set("DBUS_SESSION_BUS_ADDRESS", address);
        if (!withKeyring) {
            return true;
        }
        // The password comes on standard input; exec keeps the daemon the
        // child that stop() ends.
        const std::string password = home.write("keyring-password", "pw");
        if (!m_keyring.start({"/bin/sh", "-c",
                              "exec gnome-keyring-daemon --foreground --unlock "
                              "--components=secrets < \"$0\"",
                              password},
                             home.file("keyring.log"), home.file("keyring.out"))) {
            error = "gnome-keyring-daemon did not start";
            return false;
        }
        return waitForSecretService(home, error);
    }

private:
    // The keyring answers once it owns its name on the bus.
    bool waitForSecretService(const TempDir& home, std::string& error) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline && m_keyring.running()) {
            ChildProcess probe;
            std::string line;
            probe.start({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                         "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                         "string:org.freedesktop.secrets"});
            while (probe.readLine(line, 5000)) {
                if (line.find("boolean true") != std::string::npos) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        error = "the keyring did not come up: " + readWholeFile(home.file("keyring.log"));
        return false;
    }

    ChildProcess m_bus;
    ChildProcess m_keyring;
};

bool keyringProgramsMissing() {
    for (const char* program : {"/usr/bin/dbus-daemon", "/usr/bin/dbus-send",
                                "/usr/bin/gnome-keyring-daemon", "/usr/bin/secret-tool"}) {
        if (access(program, X_OK) != 0) {
            return true;
        }
    }
    return false;
}

// The keyring's three answers: a password, no such item, nobody there.
TEST(KeyringPasswordTest, FindsThePasswordOrSaysWhyNot) {
    if (keyringProgramsMissing()) {
        GTEST_SKIP() << "no D-Bus or gnome-keyring";
    }
    const std::vector<std::string> schemas = {"pagewing_test_v2", "pagewing_test"};
    struct Case {
        bool keyring;
        const char* schema; // where the item is stored; null: nowhere
        bool found;
        const char* problem;
    };
    const Case cases[] = {
        {true, "pagewing_test_v2", true, ""},
        {true, "pagewing_test", true, ""},
        {true, "pagewing_test_v3", false, "the keyring holds no password for tester"},
        {true, nullptr, false, "the keyring holds no password for tester"},
        {false, nullptr, false, "the keyring did not answer ("},
    };
    for (const Case& c : cases) {
        TempDir home;
        ScopedEnvironment environment;
        environment.set("HOME", home.path());
        environment.unset("XDG_DATA_HOME");
        environment.unset("XDG_RUNTIME_DIR");
        KeyringSession session;
        std::string error;
        ASSERT_TRUE(session.start(home, environment, error, c.keyring)) << error;
        if (c.schema != nullptr) {
            ChildProcess store;
            ASSERT_TRUE(store.start({"/bin/sh", "-c",
                                     std::string("printf c2VjcmV0 | secret-tool store --label=t "
                                                 "xdg:schema ") +
                                         c.schema + " application tester"}));
            std::string ignored;
            store.readLine(ignored, 10000); // ends when it exits
        }
        std::string password;
        std::string problem;
        EXPECT_EQ(lookupKeyringPassword(schemas, "tester", 10000, password, problem), c.found)
            << problem;
        EXPECT_EQ(password, c.found ? "c2VjcmV0" : "");
        EXPECT_THAT(problem, ::testing::StartsWith(c.problem));
    }
}

class ChromiumCookiesBrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (access(kChromium, X_OK) != 0) {
            GTEST_SKIP() << "no " << kChromium;
        }
        m_environment.clearProxies();
        m_environment.set("HOME", m_home.path());
        m_environment.unset("XDG_CONFIG_HOME");
        m_environment.unset("XDG_DATA_HOME");
        m_environment.unset("XDG_RUNTIME_DIR");
        m_environment.unset("DBUS_SESSION_BUS_ADDRESS");
        TestServerOptions options;
        options.routesFile = m_home.write("routes.json", cookieRoutes());
        m_server = std::make_unique<TestServer>(options);
        std::string error;
        ASSERT_TRUE(m_server->start(&error)) << error;
    }

    bool startChromium(const std::string& passwordStore) {
        return m_chromium.start({kChromium, "--headless=new", "--no-sandbox", "--disable-gpu",
                                 "--no-first-run", "--no-default-browser-check",
                                 "--disable-background-networking", "--disable-component-update",
                                 "--disable-sync", "--disable-extensions",
                                 "--user-data-dir=" + userData(),
                                 "--password-store=" + passwordStore, m_server->url("/cookies")},
                                m_home.file("chromium.log"), m_home.file("chromium.out"));
    }

    // Polls until the three cookies are on disk, for at most 45 s (the
    // browser's own interval is 30 s).
    Lines waitForCookies(std::string& problem) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(45);
        Lines cookies;
        while (std::chrono::steady_clock::now() < deadline && m_chromium.running()) {
            Lines lines;
            problem.clear();
            readChromiumCookies("chromium", userData(), lines, problem);
            cookies.clear();
            for (const std::string& line : lines) {
                if (fields(line).size() == 7 && fields(line)[5] != "filler") {
                    cookies.push_back(line);
                }
            }
            if (cookies.size() == 3) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        std::sort(cookies.begin(), cookies.end());
        return cookies;
    }

    // What a person sees: names, values, hosts, HttpOnly, and expiry times
    // an hour from now for the persistent ones.
    void expectTheThreeCookies(const Lines& cookies, const std::string& problem) {
        ASSERT_EQ(cookies.size(), 3u) << problem << "\n"
                                      << readWholeFile(m_home.file("chromium.log"));
        EXPECT_TRUE(m_chromium.running()) << "the cookies must be readable while it runs";
        const auto now = static_cast<long long>(std::time(nullptr));
        std::vector<std::string> masked;
        for (const std::string& line : cookies) {
            std::vector<std::string> parts = fields(line);
            if (parts[4] != "0") {
                const long long expiry = std::stoll(parts[4]);
                EXPECT_GT(expiry, now + 3000) << line;
                EXPECT_LE(expiry, now + 3600) << line;
                parts[4] = "HOUR";
            }
            std::string joined = parts[0];
            for (size_t i = 1; i < parts.size(); ++i) {
                joined += "|" + parts[i];
            }
            masked.push_back(joined);
        }
        EXPECT_THAT(masked, ElementsAre("#HttpOnly_127.0.0.1|FALSE|/|FALSE|HOUR|hid|hv3",
                                        "127.0.0.1|FALSE|/|FALSE|0|sess|sv2",
                                        "127.0.0.1|FALSE|/|FALSE|HOUR|keep|kv1"));
    }

    std::string userData() const { return m_home.file("user-data"); }

    TempDir m_home;
    ScopedEnvironment m_environment;
    std::unique_ptr<TestServer> m_server;
    ChildProcess m_chromium;
};

TEST_F(ChromiumCookiesBrowserTest, ReadsTheCookiesOfARunningBrowser) {
    ASSERT_TRUE(startChromium("basic"));
    std::string problem;
    const Lines cookies = waitForCookies(problem);
    expectTheThreeCookies(cookies, problem);
    for (const auto& [host, encrypted] : storedValues(userData())) {
        EXPECT_EQ(encrypted.substr(0, 3), "v10") << host;
    }
}

TEST_F(ChromiumCookiesBrowserTest, ReadsCookiesEncryptedWithThePasswordInTheKeyring) {
    if (keyringProgramsMissing()) {
        GTEST_SKIP() << "no D-Bus or gnome-keyring";
    }
    KeyringSession keyring;
    std::string error;
    ASSERT_TRUE(keyring.start(m_home, m_environment, error)) << error;
    ASSERT_TRUE(startChromium("gnome-libsecret"));
    std::string problem;
    const Lines cookies = waitForCookies(problem);
    expectTheThreeCookies(cookies, problem);
    // Encrypted with the keyring's password, not the empty one of a
    // browser that found no keyring.
    const std::string emptyPasswordKey = chromiumCookieKey("");
    for (const auto& [host, encrypted] : storedValues(userData())) {
        EXPECT_EQ(encrypted.substr(0, 3), "v11") << host;
        std::string value;
        EXPECT_FALSE(decryptChromiumCookieValue(encrypted, emptyPasswordKey, host, 24, value));
    }
    m_chromium.stop(); // before the keyring and its bus go away
}

} // namespace
