#include "app/CreateEmail.h"
#include "app/ActionSetting.h"
#include "app/CreateEmailSteps.h"
#include "app/VT_Registry.h"

#include "RegistryTestSupport.h"
#include "foundation/StringBuffer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Stands in for the dialog's widgets only; the conversion and the files are real.
class RecordingView : public CreateEmailView {
public:
    std::string edit;
    bool hasSelection = false;
    std::string selection;
    bool confirmSave = true;
    std::string saveName;
    bool mailProgram = true;
    bool saveInstead = false;
    MailProgram opening = MailProgram::Other;

    std::vector<std::string> statuses;
    std::vector<std::string> opened;
    std::vector<std::string> saveFolders;
    std::vector<std::string> proposedNames;
    std::vector<std::string> offers;
    std::vector<int> endings;

    std::string editText() override { return edit; }
    bool selectedItemText(std::string& text) override {
        text = selection;
        return hasSelection;
    }
    void showStatus(const char* text) override { statuses.emplace_back(text); }
    bool askSaveFileName(const char* startFolder, const char* proposedName,
                         std::string& path) override {
        saveFolders.emplace_back(startFolder);
        proposedNames.emplace_back(proposedName);
        path = saveName;
        return confirmSave;
    }
    bool openWithMailClient(const char* path) override {
        opened.emplace_back(path);
        return mailProgram;
    }
    MailProgram openingMailProgram() override { return opening; }
    bool offerSaveInstead(const char* path) override {
        offers.emplace_back(path);
        return saveInstead;
    }
    void endDialog(int result) override { endings.push_back(result); }
};

class CreateEmailTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        m_hadTmp = tmp != nullptr;
        m_savedTmp = m_hadTmp ? tmp : "";
        setenv("TMPDIR", m_temp.path().c_str(), 1);
        m_page =
            m_site.write("page one.html", "<html><head><title>Hello page</title></head><body>"
                                          "<p>Text</p><script>alert(1)</script></body></html>");
        launchMailClient = true;
    }
    void TearDown() override {
        if (m_hadTmp) {
            setenv("TMPDIR", m_savedTmp.c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
        launchMailClient = true;
    }

    ScopedConfigHome m_home;
    TempDir m_temp;
    TempDir m_site;
    std::string m_page;
    std::string m_savedTmp;
    bool m_hadTmp = false;
};

void expectMailSafeMessage(const std::string& message) {
    EXPECT_NE(message.find("MIME-Version: 1.0\r\n"), std::string::npos) << message;
    EXPECT_NE(message.find("Subject: =?iso-8859-1?Q?Hello_page?=\r\n"), std::string::npos)
        << message;
    EXPECT_NE(message.find("X-Unsent: 1\r\n"), std::string::npos) << message;
    EXPECT_NE(message.find("multipart/related"), std::string::npos) << message;
    EXPECT_EQ(message.find("alert(1)"), std::string::npos) << "scripts are removed";
}

TEST_F(CreateEmailTest, EmptyInputShowsBracketsAndKeepsTheDialogOpen) {
    RecordingView view;
    view.edit = "   ";
    runCreateEmail(view);
    EXPECT_EQ(view.statuses, std::vector<std::string>{"[]"});
    EXPECT_TRUE(view.endings.empty());
    EXPECT_TRUE(view.opened.empty());
}

TEST_F(CreateEmailTest, LocalPageIsWrittenToTheTemporaryFileAndOpened) {
    RecordingView view;
    view.edit = m_page;
    runCreateEmail(view);
    const std::vector<std::string> expected = {kStatusWorking, kStatusDone};
    EXPECT_EQ(view.statuses, expected);
    ASSERT_EQ(view.opened.size(), 1u);
    EXPECT_EQ(view.opened[0], m_temp.file("wpx.eml"));
    expectMailSafeMessage(readWholeFile(view.opened[0]));
    EXPECT_EQ(view.endings, std::vector<int>{1});
}

TEST_F(CreateEmailTest, ATakenTemporaryNameGivesTheUniqueVariant) {
    m_temp.write("wpx.eml", "someone else's");
    RecordingView view;
    view.edit = m_page;
    runCreateEmail(view);
    char threadId[32];
    std::snprintf(threadId, sizeof threadId, "%x", static_cast<unsigned>(gettid()));
    ASSERT_EQ(view.opened.size(), 1u);
    EXPECT_EQ(view.opened[0], m_temp.file(std::string("wpx") + threadId + "_2.eml"));
    EXPECT_EQ(readWholeFile(m_temp.file("wpx.eml")), "someone else's");
}

TEST_F(CreateEmailTest, AnUnwritableTemporaryFileIsStillOpened) {
    const std::string missing = m_temp.file("gone");
    setenv("TMPDIR", missing.c_str(), 1);
    RecordingView view;
    view.edit = m_page;
    runCreateEmail(view);
    const std::vector<std::string> expected = {kStatusWorking, kStatusDone};
    EXPECT_EQ(view.statuses, expected);
    EXPECT_EQ(view.opened, std::vector<std::string>{missing + "/wpx.eml"});
    EXPECT_EQ(view.endings, std::vector<int>{1});
}

TEST_F(CreateEmailTest, BlankEditBoxUsesTheSelectedListItem) {
    RecordingView view;
    view.edit = "  ";
    view.hasSelection = true;
    view.selection = m_page;
    runCreateEmail(view);
    ASSERT_EQ(view.opened.size(), 1u);
    expectMailSafeMessage(readWholeFile(view.opened[0]));
}

TEST_F(CreateEmailTest, FailedConversionsKeepTheDialogOpenAndSayWhy) {
    // Leading blanks before "http" take the file path, which finds no file.
    const std::string missing = m_site.file("missing.html");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"  http://127.0.0.1:9/page.html",
         "Failed. Failed to open file (No such file or directory)."},
        {missing, "Failed. Failed to open file (No such file or directory)."},
        {"http://127.0.0.1:9/page.html",
         "Failed. Could not connect to 127.0.0.1 port 9: connection refused."},
    };
    for (const auto& [input, status] : cases) {
        RecordingView view;
        view.edit = input;
        runCreateEmail(view);
        const std::vector<std::string> expected = {kStatusWorking, status};
        EXPECT_EQ(view.statuses, expected) << input;
        EXPECT_TRUE(view.endings.empty());
        EXPECT_TRUE(view.opened.empty());
        EXPECT_TRUE(std::filesystem::is_empty(m_temp.path()));
    }
}

TEST_F(CreateEmailTest, WithoutAMailProgramTheUserIsToldAndMaySave) {
    for (const bool saveInstead : {false, true}) {
        RecordingView view;
        view.edit = m_page;
        view.mailProgram = false;
        view.saveInstead = saveInstead;
        view.saveName = m_site.file("kept.eml");
        runCreateEmail(view);
        ASSERT_EQ(view.offers, view.opened) << "the box names the file written";
        EXPECT_EQ(std::filesystem::exists(view.saveName), saveInstead);
        EXPECT_EQ(view.proposedNames, saveInstead ? std::vector<std::string>{"Hello page.eml"}
                                                  : std::vector<std::string>{});
        EXPECT_EQ(view.endings, std::vector<int>{1});
    }
}

TEST_F(CreateEmailTest, SaveActionWritesTheChosenFile) {
    VT_Registry registry(nullptr);
    ASSERT_TRUE(registry.writeString(kCompanyName, kProductName, "Option", "SaveEML"));
    ASSERT_TRUE(registry.writeString(kCompanyName, kProductName, "DataDir", "  /srv/mail  "));
    refreshActionSetting();
    ASSERT_FALSE(launchMailClient);

    RecordingView view;
    view.edit = m_page;
    view.saveName = m_site.file("saved.eml");
    runCreateEmail(view);
    EXPECT_EQ(view.saveFolders, std::vector<std::string>{"/srv/mail"});
    EXPECT_EQ(view.proposedNames, std::vector<std::string>{"Hello page.eml"});
    expectMailSafeMessage(readWholeFile(view.saveName));
    EXPECT_TRUE(view.opened.empty());
    EXPECT_EQ(view.endings, std::vector<int>{1});
    EXPECT_EQ(view.statuses, std::vector<std::string>{kStatusWorking});
}

TEST_F(CreateEmailTest, CancelledSaveWritesNothingAndEnds) {
    launchMailClient = false;
    RecordingView view;
    view.edit = m_page;
    view.confirmSave = false;
    view.saveName = m_site.file("never.eml");
    runCreateEmail(view);
    EXPECT_FALSE(std::filesystem::exists(view.saveName));
    EXPECT_EQ(view.saveFolders, std::vector<std::string>{""});
    EXPECT_EQ(view.endings, std::vector<int>{1});
}

TEST_F(CreateEmailTest, TheCompletePageSettingDecidesWhatIsEmbedded) {
    m_site.write("s.css", "p{background:url(dot.png)}");
    m_site.write("dot.png", std::string("\x89PNG\r\n\x1a\n", 8) + "rest");
    const std::string page = m_site.write(
        "styled.html", "<html><head><title>Styled</title><style>@import url(s.css);</style>"
                       "</head><body><p>x</p></body></html>");
    struct Case {
        const char* stored; // null: never stored
        bool embedded;
    };
    const Case cases[] = {{nullptr, false}, {"1", true}, {"0", false}, {"yes", false}};
    for (const Case& c : cases) {
        if (c.stored != nullptr) {
            ASSERT_TRUE(VT_Registry(nullptr).writeString(kCompanyName, kProductName, "CompletePage",
                                                         c.stored));
        }
        StringBuffer message;
        ASSERT_TRUE(convertEmailInput(page.c_str(), message));
        const std::string text = message.getString();
        EXPECT_EQ(text.find("image/png") != std::string::npos, c.embedded)
            << (c.stored ? c.stored : "(absent)");
        EXPECT_EQ(text.find("@import") == std::string::npos, c.embedded)
            << (c.stored ? c.stored : "(absent)");
    }
}

// Thunderbird drops the rules of @media blocks from a draft, so a message
// it opens has them as style elements of their own; a saved message, or one
// another program opens, is made for every reader.
TEST_F(CreateEmailTest, TheMessageIsMadeForTheProgramThatOpensIt) {
    const std::string page = m_site.write(
        "media.html", "<html><head><title>Media</title><style>p{color:red}"
                      "@media print{p{color:black}}</style></head><body></body></html>");
    struct Case {
        MailProgram opening;
        bool launch;
        bool madeForThunderbird;
    };
    const Case cases[] = {{MailProgram::Thunderbird, true, true},
                          {MailProgram::Other, true, false},
                          {MailProgram::Thunderbird, false, false}};
    for (const Case& c : cases) {
        launchMailClient = c.launch;
        RecordingView view;
        view.edit = page;
        view.opening = c.opening;
        view.saveName = m_site.file("media.eml");
        runCreateEmail(view);
        // The page's part as text: soft line breaks and "=3D" undone.
        std::string text = readWholeFile(c.launch ? view.opened.at(0) : view.saveName);
        for (const auto& [encoded, decoded] : {std::pair<std::string, std::string>{"=\r\n", ""},
                                               std::pair<std::string, std::string>{"=3D", "="}}) {
            for (size_t at = text.find(encoded); at != std::string::npos;
                 at = text.find(encoded, at)) {
                text.replace(at, encoded.size(), decoded);
            }
        }
        EXPECT_EQ(text.find("@media print{p{color:black}}") == std::string::npos,
                  c.madeForThunderbird)
            << text;
        EXPECT_EQ(text.find("<style media=\"print\">p{color:black}</style>") != std::string::npos,
                  c.madeForThunderbird)
            << text;
    }
}

TEST_F(CreateEmailTest, FileUrlInputTakesTheFilePath) {
    StringBuffer message;
    const std::string url = "file://" + m_page;
    ASSERT_TRUE(convertEmailInput(url.c_str(), message));
    expectMailSafeMessage(message.getString());
}

} // namespace
