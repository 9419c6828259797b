#include "app/ActiveBrowsers.h"
#include "app/BrowserSessions.h"
#include "app/ChromiumSession.h"
#include "app/FirefoxProfiles.h"
#include "app/FirefoxSession.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <lz4.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string kSessions = std::string(PAGEWING_TEST_DATA_DIR) + "/app/sessions/";

// expected.txt: "# <fixture file>" followed by the URLs its tabs show.
std::map<std::string, std::vector<std::string>> expectedUrls() {
    std::map<std::string, std::vector<std::string>> expected;
    std::istringstream lines(readWholeFile(kSessions + "expected.txt"));
    std::string line;
    std::string current;
    while (std::getline(lines, line)) {
        if (line.rfind("# ", 0) == 0) {
            current = line.substr(2);
        } else if (!line.empty()) {
            expected[current].push_back(line);
        }
    }
    return expected;
}

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

// Builds SNSS files command by command.
class SnssWriter {
public:
    explicit SnssWriter(int32_t version = 3) {
        m_bytes = "SNSS";
        putInt(m_bytes, version);
    }
    SnssWriter& numbers(uint8_t id, std::vector<int32_t> values) {
        std::string payload;
        for (int32_t value : values) {
            putInt(payload, value);
        }
        return command(id, payload);
    }
    SnssWriter& navigation(int32_t tab, int32_t index, const std::string& url) {
        std::string pickle;
        putInt(pickle, tab);
        putInt(pickle, index);
        putInt(pickle, static_cast<int32_t>(url.size()));
        pickle += url;
        while (pickle.size() % 4 != 0) {
            pickle.push_back('\0');
        }
        std::string payload;
        putInt(payload, static_cast<int32_t>(pickle.size()));
        return command(6, payload + pickle);
    }
    SnssWriter& command(uint8_t id, const std::string& payload) {
        const auto size = static_cast<uint16_t>(payload.size() + 1);
        m_bytes.push_back(static_cast<char>(size & 0xff));
        m_bytes.push_back(static_cast<char>(size >> 8));
        m_bytes.push_back(static_cast<char>(id));
        m_bytes += payload;
        return *this;
    }
    const std::string& bytes() const { return m_bytes; }

private:
    static void putInt(std::string& out, int32_t value) {
        for (int shift = 0; shift < 32; shift += 8) {
            out.push_back(static_cast<char>((static_cast<uint32_t>(value) >> shift) & 0xff));
        }
    }
    std::string m_bytes;
};

using Urls = std::vector<std::string>;

// --- the files real browsers wrote -------------------------------------------------

TEST(SessionFixtureTest, FirefoxRecoveryFileGivesTheCurrentPageOfEveryTab) {
    const Urls urls = firefoxSessionFileUrls(readWholeFile(kSessions + "firefox-recovery.jsonlz4"));
    EXPECT_EQ(urls, expectedUrls()["firefox-recovery.jsonlz4"]);
}

TEST(SessionFixtureTest, ChromiumSessionFileGivesTheCurrentPageOfEveryTab) {
    const Urls urls = chromiumSessionUrls(readWholeFile(kSessions + "chromium-Session"));
    EXPECT_EQ(urls, expectedUrls()["chromium-Session"]);
}

TEST(SessionFixtureTest, EveryTruncatedFirefoxFileGivesNothing) {
    const std::string whole = readWholeFile(kSessions + "firefox-recovery.jsonlz4");
    ASSERT_FALSE(whole.empty());
    for (size_t length = 0; length < whole.size(); ++length) {
        EXPECT_TRUE(firefoxSessionFileUrls(whole.substr(0, length)).empty()) << length;
    }
}

TEST(SessionFixtureTest, EveryTruncatedChromiumFileGivesOnlyPagesItVisited) {
    const std::string whole = readWholeFile(kSessions + "chromium-Session");
    ASSERT_FALSE(whole.empty());
    std::set<std::string> visited;
    const Urls open = expectedUrls()["chromium-Session"];
    for (const std::string& url : open) {
        visited.insert(url);
        if (url.size() > 11 && url.compare(url.size() - 11, 11, "second.html") == 0) {
            visited.insert(url.substr(0, url.size() - 11) + "first.html");
        }
    }
    for (size_t length = 0; length < whole.size(); ++length) {
        for (const std::string& url : chromiumSessionUrls(whole.substr(0, length))) {
            EXPECT_EQ(visited.count(url), 1u) << "length " << length << ": " << url;
        }
    }
}

TEST(SessionFixtureTest, DamagedBytesNeverCrashEitherReader) {
    for (const char* name : {"firefox-recovery.jsonlz4", "chromium-Session"}) {
        const std::string whole = readWholeFile(kSessions + name);
        for (size_t position = 0; position < whole.size(); ++position) {
            for (unsigned char replacement : {0x00, 0xff, 0x7f}) {
                std::string damaged = whole;
                damaged[position] = static_cast<char>(replacement);
                firefoxSessionFileUrls(damaged);
                chromiumSessionUrls(damaged);
            }
        }
    }
}

// --- Firefox, made by hand -------------------------------------------------------------

TEST(FirefoxSessionTest, DocumentsAndTheirUrls) {
    struct Case {
        const char* json;
        Urls expected;
    };
    const std::vector<Case> cases = {
        {R"({"windows":[{"tabs":[{"entries":[{"url":"http://a/"},{"url":"http://b/"}],"index":1}]}]})",
         {"http://a/"}},
        {R"({"windows":[{"tabs":[{"entries":[{"url":"http://a/"},{"url":"http://b/"}]}]}]})",
         {"http://b/"}},
        {R"({"windows":[{"tabs":[{"entries":[{"url":"http://a/"}],"index":9}]}]})", {"http://a/"}},
        {R"({"windows":[{"tabs":[{"entries":[{"url":"http://a/"}],"index":-3}]}]})", {"http://a/"}},
        {R"({"windows":[{"tabs":[{"entries":[{"url":"http://a/"}],"index":"1"}]}]})",
         {"http://a/"}},
        {R"({"windows":[{"tabs":[{"entries":[]},{"entries":[{"url":"x:1"}]}]},{"tabs":[{"entries":[{"url":"x:2"}]}]}]})",
         {"x:1", "x:2"}},
        {R"({"windows":[{"tabs":[{"entries":[{"url":5}]},{"entries":[{"title":"t"}]},{"entries":[7]}]}]})",
         {}},
        {R"({"windows":[1,"x",{"tabs":{}},{"tabs":[null,[],{"entries":{}}]}]})", {}},
        {R"({"windows":{}})", {}},
        {R"([{"windows":[]}])", {}},
        {R"({"windows":[{"tabs":[{"entries":[{"url":"http://a/"}]}]}]} trailing)", {}},
        {R"({"windows":[{"tabs":[{"entries":[{"url":"http://a/"}]}]}])", {}},
        {"", {}},
        {"\xff\xfe{}", {}},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(firefoxSessionUrls(test.json), test.expected) << test.json;
        EXPECT_EQ(firefoxSessionFileUrls(mozLz4(test.json)), test.expected) << test.json;
    }
}

TEST(FirefoxSessionTest, DeeplyNestedDocumentIsHarmless) {
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    EXPECT_TRUE(firefoxSessionUrls(deep).empty());
    const std::string deepObject = R"({"windows":[{"tabs":[{"entries":)" + deep + "}]}]}";
    EXPECT_TRUE(firefoxSessionUrls(deepObject).empty());
}

TEST(FirefoxSessionTest, MalformedCompressedFiles) {
    const std::string good = mozLz4(R"({"windows":[]})");
    std::string wrongMagic = good;
    wrongMagic[0] = 'M';
    std::string sizeTooLarge = good;
    sizeTooLarge[8] = static_cast<char>(sizeTooLarge[8] + 1);
    std::string sizeTooSmall = good;
    sizeTooSmall[8] = static_cast<char>(sizeTooSmall[8] - 1);
    std::string hugeSize = good;
    hugeSize.replace(8, 4, "\xff\xff\xff\x7f", 4);
    const std::vector<std::string> malformed = {"",
                                                "mozLz40",
                                                std::string("mozLz40\0", 8),
                                                std::string("mozLz40\0\0\0\0\0", 12),
                                                wrongMagic,
                                                sizeTooLarge,
                                                sizeTooSmall,
                                                hugeSize,
                                                good.substr(0, good.size() - 1),
                                                good + "extra"};
    for (const std::string& bytes : malformed) {
        std::string decoded = "stale";
        EXPECT_FALSE(decodeMozLz4(bytes, decoded));
        EXPECT_TRUE(decoded.empty());
    }
    std::string decoded;
    EXPECT_TRUE(decodeMozLz4(good, decoded));
    EXPECT_EQ(decoded, R"({"windows":[]})");
}

TEST(FirefoxSessionTest, ProfilesIniNamesTheProfileFolders) {
    const std::string ini = "[General]\nStartWithLastProfile=1\n\n"
                            "[Profile1]\r\nName=work\r\nIsRelative=1\r\nPath=abc.work\r\n\n"
                            "[Install4F96D1932A9F858E]\nDefault=abc.work\nLocked=1\n\n"
                            "[Profile0]\nName=old\nIsRelative=0\nPath=/srv/profiles/old\n\n"
                            "[Profile2]\nName=nameless path\n\n"
                            "[Profile3]\n Path = spaced \nIsRelative=0\n"
                            "[Profile4\nPath=broken-section\n";
    const Urls expected = {"/home/u/.mozilla/firefox/abc.work", "/srv/profiles/old",
                           "/home/u/.mozilla/firefox/spaced"};
    EXPECT_EQ(firefoxProfileDirectories("/home/u/.mozilla/firefox", ini), expected);
    EXPECT_TRUE(firefoxProfileDirectories("/x", "").empty());
    EXPECT_TRUE(firefoxProfileDirectories("/x", "Path=/no/section\n").empty());
}

// --- Chromium, made by hand ------------------------------------------------------------

TEST(ChromiumSessionTest, ReplaysTabsWindowsAndNavigations) {
    SnssWriter file;
    file.numbers(0, {1, 10}) // tab 10 in window 1
        .numbers(0, {2, 20}) // tab 20 in window 2
        .numbers(0, {1, 11}) // tab 11 in window 1
        .numbers(2, {10, 1}) // tab 10 is second in its window
        .numbers(2, {11, 0}) // tab 11 is first
        .navigation(10, 0, "http://ten/0")
        .navigation(10, 1, "http://ten/1")
        .numbers(7, {10, 0}) // back to the first page
        .navigation(11, 0, "http://eleven/0")
        .navigation(20, 0, "http://twenty/0")
        .command(255, "marker") // unknown commands change nothing
        .navigation(12, 0, "http://closed/0")
        .numbers(16, {12, 0, 0, 0}); // tab 12 closed
    EXPECT_EQ(chromiumSessionUrls(file.bytes()),
              (Urls{"http://eleven/0", "http://ten/0", "http://twenty/0"}));

    file.numbers(17, {1, 0, 0, 0}); // window 1 closed
    EXPECT_EQ(chromiumSessionUrls(file.bytes()), (Urls{"http://twenty/0"}));
}

TEST(ChromiumSessionTest, PruningMovesTheSelectedNavigation) {
    SnssWriter file;
    file.navigation(1, 0, "a").navigation(1, 1, "b").navigation(1, 2, "c").numbers(7, {1, 2});
    EXPECT_EQ(chromiumSessionUrls(SnssWriter(file).bytes()), Urls{"c"});

    SnssWriter front = file;
    front.numbers(11, {1, 2}); // the first two are pruned: "c" is now index 0
    EXPECT_EQ(chromiumSessionUrls(front.bytes()), Urls{"c"});

    SnssWriter back = file;
    back.numbers(5, {1, 1}); // from index 1 on: only "a" stays
    EXPECT_EQ(chromiumSessionUrls(back.bytes()), Urls{"a"});

    SnssWriter middle = file;
    middle.numbers(24, {1, 0, 2}).numbers(7, {1, 0});
    EXPECT_EQ(chromiumSessionUrls(middle.bytes()), Urls{"c"});
}

TEST(ChromiumSessionTest, MalformedFiles) {
    const std::string good = SnssWriter().navigation(1, 0, "http://a/").bytes();
    std::string shortPickle = good;
    shortPickle[11] = static_cast<char>(0x7f); // pickle claims more than the command holds
    const std::vector<std::string> malformed = {
        "",
        "SNSS",
        "SNSS\x01\x00\x00",
        std::string("SNSX\x03\0\0\0", 8) + good.substr(8),
        SnssWriter(2).navigation(1, 0, "http://a/").bytes(), // encrypted form
        SnssWriter(4).navigation(1, 0, "http://a/").bytes(),
        shortPickle,
        SnssWriter().numbers(6, {8, 1, 0}).bytes(), // pickle without a URL
        SnssWriter().numbers(6, {12, 1, 0, 0x7fffffff}).bytes(),
        SnssWriter().numbers(6, {12, 1, -1, 1}).bytes(), // negative index
        SnssWriter().numbers(0, {1}).numbers(16, {}).numbers(7, {}).bytes(),
        std::string("SNSS\x03\0\0\0\0\0", 10) + good.substr(8)}; // a zero size ends the file
    for (const std::string& bytes : malformed) {
        EXPECT_TRUE(chromiumSessionUrls(bytes).empty());
    }
    EXPECT_EQ(chromiumSessionUrls(SnssWriter(1).navigation(1, 0, "http://a/").bytes()),
              Urls{"http://a/"});
    EXPECT_EQ(chromiumSessionUrls(good + "\x40"), Urls{"http://a/"}) << "a torn last command";
}

// --- the list of open pages -------------------------------------------------------------

class ActiveBrowsersTest : public ::testing::Test {
protected:
    void SetUp() override {
        saveVariable("HOME");
        saveVariable("XDG_CONFIG_HOME");
        setenv("HOME", m_home.path().c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
    }
    void TearDown() override {
        for (const auto& [name, value] : m_saved) {
            if (value.has_value()) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }
    void saveVariable(const std::string& name) {
        const char* value = std::getenv(name.c_str());
        m_saved[name] = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    }
    void installFirefox() {
        m_home.write(".mozilla/firefox/profiles.ini",
                     "[Profile0]\nName=default\nIsRelative=1\nPath=p.default\n");
        m_home.write(".mozilla/firefox/p.default/sessionstore-backups/recovery.jsonlz4",
                     readWholeFile(kSessions + "firefox-recovery.jsonlz4"));
    }
    std::string installChromium(bool running) {
        const std::string root = m_home.path() + "/.config/chromium";
        m_home.write(".config/chromium/Default/Sessions/Session_13300000000000000", "SNSS");
        m_home.write(".config/chromium/Default/Sessions/Session_13400000000000000",
                     readWholeFile(kSessions + "chromium-Session"));
        m_home.write(".config/chromium/Default/Sessions/Tabs_13400000000000000", "SNSS");
        if (running) {
            char host[256] = {};
            gethostname(host, sizeof host - 1);
            std::filesystem::create_symlink(std::string(host) + "-" + std::to_string(getpid()),
                                            root + "/SingletonLock");
        }
        return root;
    }
    static Urls listed(const ActiveBrowsers& browsers) {
        Urls urls;
        for (int i = 0; i < browsers.getCount(); ++i) {
            urls.emplace_back(browsers.getUrl(i));
        }
        return urls;
    }
    static Urls webPagesOf(const Urls& urls) {
        Urls kept;
        for (const std::string& url : urls) {
            if (url != "about:blank") {
                kept.push_back(url);
            }
        }
        return kept;
    }

    TempDir m_home;
    std::map<std::string, std::optional<std::string>> m_saved;
};

TEST_F(ActiveBrowsersTest, NoBrowserGivesAnEmptyListAndSuccess) {
    ActiveBrowsers browsers;
    EXPECT_TRUE(browsers.refresh());
    EXPECT_EQ(browsers.getCount(), 0);
    EXPECT_EQ(browsers.getUrl(0), nullptr);
}

TEST_F(ActiveBrowsersTest, ListsThePagesOfRunningBrowsersWithoutBlankTabs) {
    installFirefox();
    installChromium(true);
    ActiveBrowsers browsers;
    ASSERT_TRUE(browsers.refresh());
    Urls expected = webPagesOf(expectedUrls()["firefox-recovery.jsonlz4"]);
    const Urls chromium = webPagesOf(expectedUrls()["chromium-Session"]);
    expected.insert(expected.end(), chromium.begin(), chromium.end());
    EXPECT_EQ(listed(browsers), expected);
    EXPECT_EQ(browsers.getUrl(-1), nullptr);
    EXPECT_EQ(browsers.getUrl(browsers.getCount()), nullptr);

    // A second refresh replaces the list instead of adding to it.
    ASSERT_TRUE(browsers.refresh());
    EXPECT_EQ(listed(browsers), expected);
}

TEST_F(ActiveBrowsersTest, FirefoxUnderTheConfigHomeIsFoundToo) {
    const TempDir config;
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    config.write("mozilla/firefox/profiles.ini", "[Profile0]\nIsRelative=1\nPath=q\n");
    config.write("mozilla/firefox/q/sessionstore-backups/recovery.jsonlz4",
                 readWholeFile(kSessions + "firefox-recovery.jsonlz4"));
    ActiveBrowsers browsers;
    ASSERT_TRUE(browsers.refresh());
    EXPECT_EQ(listed(browsers), webPagesOf(expectedUrls()["firefox-recovery.jsonlz4"]));
}

TEST_F(ActiveBrowsersTest, ChromiumThatIsNotRunningIsNotListed) {
    const std::string root = installChromium(false);
    ActiveBrowsers browsers;
    ASSERT_TRUE(browsers.refresh());
    EXPECT_EQ(browsers.getCount(), 0);

    // A lock left behind by a process that is gone counts as not running.
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::filesystem::create_symlink(std::string(host) + "-999999999", root + "/SingletonLock");
    EXPECT_FALSE(chromiumIsRunning(root));
    ASSERT_TRUE(browsers.refresh());
    EXPECT_EQ(browsers.getCount(), 0);
}

TEST_F(ActiveBrowsersTest, DamagedSessionFilesGiveNoPagesButSucceed) {
    installFirefox();
    m_home.write(".mozilla/firefox/p.default/sessionstore-backups/recovery.jsonlz4", "mozLz40");
    ActiveBrowsers browsers;
    EXPECT_TRUE(browsers.refresh());
    EXPECT_EQ(browsers.getCount(), 0);
}

TEST_F(ActiveBrowsersTest, NewestChromiumSessionFileWins) {
    m_home.write("s/Session_99", "");
    m_home.write("s/Session_100", "");
    m_home.write("s/Session_x1", "");
    m_home.write("s/Session_", "");
    EXPECT_EQ(newestChromiumSessionFile(m_home.path() + "/s"), m_home.path() + "/s/Session_100");
    EXPECT_EQ(newestChromiumSessionFile(m_home.path() + "/missing"), "");
}

TEST(ActiveBrowsersFilterTest, KeepsWebPagesAndLocalHtmlOnly) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {"http://example.com/", true},
        {"HTTPS://EXAMPLE.COM/", true},
        {"file:///home/u/page.html", true},
        {"file:///home/u/PAGE.HTM", true},
        {"file:///home/u/folder/", false},
        {"about:blank", false},
        {"about:newtab", false},
        {"chrome://settings/", false},
        {"ftp://host/readme.htm", true},
        {"htt", false},
        {"", false},
        {nullptr, false},
    };
    for (const auto& [url, kept] : cases) {
        EXPECT_EQ(ActiveBrowsers::looksLikeWebPage(url), kept) << (url ? url : "(null)");
    }
}

} // namespace
