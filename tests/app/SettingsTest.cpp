#include "app/ActionSetting.h"
#include "app/DesktopEntry.h"
#include "app/ToolbarButton.h"
#include "app/VT_Registry.h"

#include "RegistryTestSupport.h"
#include "app/ExtensionId.h"
#include "foundation/StringBuffer.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

void store(const char* name, const char* value) {
    ASSERT_TRUE(VT_Registry(nullptr).writeString(kCompanyName, kProductName, name, value));
}

std::string stored(const char* name) {
    StringBuffer out;
    if (!VT_Registry(nullptr).readString(kCompanyName, kProductName, name, out)) {
        return "(absent)";
    }
    return out.getString();
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { launchMailClient = true; }
    ScopedConfigHome m_home;
};

TEST_F(SettingsTest, ActionLabelFollowsTheOption) {
    struct Case {
        const char* option; // null: never stored
        const char* label;
        bool launch;
    };
    const std::vector<Case> cases = {
        {nullptr, kActionLabelLaunch, true},
        {"SaveEML", kActionLabelSave, false},
        {"saveeml", kActionLabelLaunch, true},
        {"SaveEML ", kActionLabelLaunch, true},
        {"LaunchOutlookExpress", kActionLabelLaunch, true},
        {"", kActionLabelLaunch, true},
    };
    for (const Case& test : cases) {
        if (test.option != nullptr) {
            store(kOptionValueName, test.option);
        }
        launchMailClient = !test.launch;
        EXPECT_STREQ(refreshActionSetting(), test.label) << (test.option ? test.option : "(none)");
        EXPECT_EQ(launchMailClient, test.launch);
    }
}

TEST_F(SettingsTest, UnwritableSettingsMeanTheLaunchAction) {
    TempDir scratch;
    setenv("XDG_CONFIG_HOME", scratch.write("file", "x").c_str(), 1);
    launchMailClient = false;
    EXPECT_STREQ(refreshActionSetting(), kActionLabelLaunch);
    EXPECT_TRUE(launchMailClient);
    StringBuffer dir("old");
    readDataDir(dir);
    EXPECT_STREQ(dir.getString(), "");
}

TEST_F(SettingsTest, DataDirIsClearedReadAndTrimmed) {
    StringBuffer dir("old text");
    readDataDir(dir);
    EXPECT_STREQ(dir.getString(), "");
    store(kDataDirValueName, "  /srv/mail \t");
    readDataDir(dir);
    EXPECT_STREQ(dir.getString(), "/srv/mail");
}

TEST_F(SettingsTest, OptionsDialogShowsTheStoredChoice) {
    OptionsChoice choice = readOptionsChoice();
    EXPECT_EQ(choice.dataDir, "");
    EXPECT_FALSE(choice.saveToFile);
    EXPECT_TRUE(launchMailClient);

    store(kOptionValueName, "SaveEML");
    store(kDataDirValueName, "/srv/mail");
    choice = readOptionsChoice();
    EXPECT_EQ(choice.dataDir, "/srv/mail");
    EXPECT_TRUE(choice.saveToFile);
    EXPECT_FALSE(launchMailClient);

    store(kOptionValueName, "Something else");
    EXPECT_FALSE(readOptionsChoice().saveToFile);
    EXPECT_TRUE(launchMailClient);
}

TEST_F(SettingsTest, OptionsDialogStoresTheTrimmedDirectoryAndTheAction) {
    storeOptionsChoice("   /home/u/mail   ", false);
    EXPECT_EQ(stored(kDataDirValueName), "/home/u/mail");
    EXPECT_EQ(stored(kOptionValueName), "SaveEML");
    EXPECT_FALSE(launchMailClient);

    storeOptionsChoice("", true);
    EXPECT_EQ(stored(kDataDirValueName), "");
    EXPECT_EQ(stored(kOptionValueName), "LaunchOutlookExpress");
    EXPECT_TRUE(launchMailClient);

    const std::string longDir = "/" + std::string(600, 'd');
    storeOptionsChoice(longDir.c_str(), true);
    EXPECT_EQ(stored(kDataDirValueName), longDir.substr(0, 499));
}

TEST_F(SettingsTest, CompletePageIsOnOnlyWhenStoredAsOne) {
    EXPECT_FALSE(readCompletePage());
    EXPECT_FALSE(readOptionsChoice().completePage);
    storeCompletePage(true);
    EXPECT_EQ(stored(kCompletePageValueName), "1");
    EXPECT_TRUE(readCompletePage());
    EXPECT_TRUE(readOptionsChoice().completePage);
    storeCompletePage(false);
    EXPECT_EQ(stored(kCompletePageValueName), "0");
    EXPECT_FALSE(readCompletePage());
    for (const char* other : {"", "true", "1 ", "01", "yes"}) {
        store(kCompletePageValueName, other);
        EXPECT_FALSE(readCompletePage()) << other;
    }
    // The other two settings stay as they were.
    storeOptionsChoice("/srv/mail", false);
    storeCompletePage(true);
    EXPECT_EQ(stored(kOptionValueName), "SaveEML");
    EXPECT_EQ(stored(kDataDirValueName), "/srv/mail");
}

// Pages from the list are fetched as the browser sees them unless the user
// turned that off: only "0" is off.
TEST_F(SettingsTest, BrowserCookiesAreOnUnlessStoredAsZero) {
    EXPECT_TRUE(readBrowserCookies());
    EXPECT_TRUE(readOptionsChoice().browserCookies);
    storeBrowserCookies(false);
    EXPECT_EQ(stored(kBrowserCookiesValueName), "0");
    EXPECT_FALSE(readBrowserCookies());
    EXPECT_FALSE(readOptionsChoice().browserCookies);
    for (const char* other : {"1", "", "no", "false"}) {
        store(kBrowserCookiesValueName, other);
        EXPECT_TRUE(readBrowserCookies()) << other;
    }
}

// --- the toolbar button ----------------------------------------------------------------

class ToolbarButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* data = std::getenv("XDG_DATA_HOME");
        m_savedData = data != nullptr ? data : "";
        m_hadData = data != nullptr;
        setenv("XDG_DATA_HOME", m_data.path().c_str(), 1);
        // The browsers' manifests go under the home folder.
        m_environment.set("HOME", m_homeFolder.path());
    }
    void TearDown() override {
        if (m_hadData) {
            setenv("XDG_DATA_HOME", m_savedData.c_str(), 1);
        } else {
            unsetenv("XDG_DATA_HOME");
        }
    }
    ScopedConfigHome m_home;
    TempDir m_data;
    TempDir m_homeFolder;
    ScopedEnvironment m_environment;
    std::string m_savedData;
    bool m_hadData = false;
};

int runQuietly(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ToolbarButtonTest, StoresTheSevenValuesAndInstallsTheHandler) {
    const ToolbarButtonReport report = registerToolbarButton();
    VT_Registry registry(nullptr);
    RegistryKeyPtr key = registry.openKeyPath(HKEY_LOCAL_MACHINE, kToolbarKeyPath, true);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->path(),
              "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Internet Explorer\\Extensions\\"
              "{6C1E52A9-8B3D-4F07-A1C4-39D5E7B20F68}");
    const std::string program = ownProgramPath();
    ASSERT_FALSE(program.empty());
    const std::vector<std::pair<const char*, std::string>> values = {
        {"Exec", program},
        {"Icon", program + ",103"},
        {"HotIcon", program + ",103"},
        {"MenuText", "Pagewing!"},
        {"ButtonText", "Pagewing!"},
        {"clsid", "{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}"},
        {"Default Visible", "YES"},
    };
    for (const auto& [name, value] : values) {
        std::unique_ptr<StringBuffer> stored = registry.queryValue(*key, name);
        ASSERT_NE(stored, nullptr) << name;
        EXPECT_EQ(stored->getString(), value) << name;
    }

    const std::string entry = readWholeFile(m_data.file("applications/pagewing.desktop"));
    EXPECT_NE(entry.find("Exec=\"" + program + "\" %u\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("MimeType=x-scheme-handler/pagewing;\n"), std::string::npos);
    const std::string mimeApps = readWholeFile(m_home.path() + "/mimeapps.list");
    EXPECT_NE(mimeApps.find("[Default Applications]\nx-scheme-handler/pagewing=pagewing.desktop\n"),
              std::string::npos)
        << mimeApps;

    // The browsers find the native host, and the user is told where.
    EXPECT_TRUE(report.schemeHandler);
    EXPECT_TRUE(report.manifests.failed.empty());
    ASSERT_EQ(report.manifests.written.size(), 3U);
    const std::string home = m_homeFolder.path();
    const std::vector<std::pair<std::string, std::string>> manifests = {
        {"/.mozilla/native-messaging-hosts/org.pagewing.host.json",
         "\"allowed_extensions\": [\n    \"pagewing@pagewing.org\"\n  ]"},
        {"/.config/chromium/NativeMessagingHosts/org.pagewing.host.json",
         "\"allowed_origins\": [\n    \"chrome-extension://" + std::string(kChromiumExtensionId) +
             "/\"\n  ]"},
        {"/.config/google-chrome/NativeMessagingHosts/org.pagewing.host.json",
         "\"allowed_origins\": [\n    \"chrome-extension://"},
    };
    for (size_t i = 0; i < manifests.size(); ++i) {
        EXPECT_EQ(report.manifests.written[i], home + manifests[i].first);
        const std::string text = readWholeFile(home + manifests[i].first);
        EXPECT_NE(text.find("\"name\": \"org.pagewing.host\""), std::string::npos) << text;
        EXPECT_NE(text.find("\"path\": \"" + program + "\""), std::string::npos) << text;
        EXPECT_NE(text.find("\"type\": \"stdio\""), std::string::npos) << text;
        EXPECT_NE(text.find(manifests[i].second), std::string::npos) << text;
    }
    EXPECT_EQ(report.extensionFolder, std::string(PAGEWING_SOURCE_DIR) + "/browser/extension");
    const std::string message = toolbarButtonMessage(report);
    EXPECT_NE(message.find(report.extensionFolder), std::string::npos) << message;
    EXPECT_NE(message.find(report.manifests.written[0]), std::string::npos) << message;

    // Pressing the button again rewrites the same values.
    const std::string settings = readWholeFile(m_home.settingsFile());
    registerToolbarButton();
    EXPECT_EQ(readWholeFile(m_home.settingsFile()), settings);
    EXPECT_EQ(readWholeFile(m_home.path() + "/mimeapps.list"), mimeApps);
}

TEST_F(ToolbarButtonTest, DesktopEntriesAreValid) {
    if (runQuietly("command -v desktop-file-validate") != 0) {
        GTEST_SKIP() << "desktop-file-validate is not installed (desktop-file-utils)";
    }
    for (const std::string program :
         {"/usr/bin/pagewing", "/opt/odd dir/$HOME/`x`/a\\b/100%/pagewing"}) {
        const std::string path = m_data.write("check.desktop", desktopEntryText(program));
        EXPECT_EQ(runQuietly("desktop-file-validate '" + path + "'"), 0)
            << desktopEntryText(program);
    }
    const std::string installed = std::string(PAGEWING_SOURCE_DIR) + "/app/pagewing.desktop";
    EXPECT_EQ(runQuietly("desktop-file-validate '" + installed + "'"), 0);
}

TEST(DesktopEntryTest, ExecArgumentsAreQuoted) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"/usr/bin/pagewing", "\"/usr/bin/pagewing\""},
        {"/a b/p", "\"/a b/p\""},
        {"/x\"y", "\"/x\\\"y\""},
        {"/$HOME/`id`", "\"/\\$HOME/\\`id\\`\""},
        {"/back\\slash", "\"/back\\\\slash\""},
        {"/100%", "\"/100%%\""},
    };
    for (const auto& [argument, quoted] : cases) {
        EXPECT_EQ(quoteExecArgument(argument), quoted) << argument;
    }
}

TEST(DesktopEntryTest, DefaultHandlerKeepsTheRestOfMimeappsList) {
    TempDir dir;
    const std::string list = dir.write(
        "mimeapps.list", "# mine\n[Default Applications]\ntext/html=firefox.desktop\n"
                         "[Added Associations]\nx-scheme-handler/pagewing=old.desktop;\n");
    ASSERT_TRUE(setDefaultHandler(list, "x-scheme-handler/pagewing", "pagewing.desktop"));
    const std::string text = readWholeFile(list);
    EXPECT_NE(text.find("# mine"), std::string::npos) << text;
    EXPECT_NE(text.find("text/html=firefox.desktop"), std::string::npos) << text;
    EXPECT_NE(text.find("x-scheme-handler/pagewing=pagewing.desktop\n"), std::string::npos) << text;
    EXPECT_NE(text.find("x-scheme-handler/pagewing=pagewing.desktop;old.desktop;"),
              std::string::npos)
        << text;

    const std::string broken = dir.write("broken.list", "[unterminated\n");
    EXPECT_FALSE(setDefaultHandler(broken, "x-scheme-handler/pagewing", "pagewing.desktop"));
    EXPECT_EQ(readWholeFile(broken), "[unterminated\n");
    EXPECT_TRUE(setDefaultHandler(dir.file("new/mimeapps.list"), "a/b", "c.desktop"));
}

} // namespace
