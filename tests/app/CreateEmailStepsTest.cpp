#include "app/CreateEmailSteps.h"
#include "app/DesktopPlacement.h"
#include "app/PagewingScheme.h"
#include "app/TempMessageFile.h"

#include "foundation/StringBuffer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct InputCase {
    const char* edit;
    const char* selected; // null: no selection
    bool hasInput;
    const char* text;    // what the converter is given
    const char* trimmed; // what decides
};

TEST(CreateEmailStepsTest, ChoosesTheInput) {
    const std::vector<InputCase> cases = {
        {"http://a/", "http://list/", true, "http://a/", "http://a/"},
        {"   ", "http://list/", true, "http://list/", "http://list/"},
        {"", "/home/u/page.html", true, "/home/u/page.html", "/home/u/page.html"},
        {"  http://a/ ", nullptr, true, "  http://a/ ", "http://a/"},
        {"\t\r\n", nullptr, false, "\t\r\n", ""},
        {"", nullptr, false, "", ""},
        {" ", "   ", false, "   ", ""},
        {nullptr, "x", true, "x", "x"},
    };
    for (const InputCase& test : cases) {
        EmailInput input;
        EXPECT_EQ(chooseEmailInput(test.edit, test.selected, input), test.hasInput)
            << (test.edit ? test.edit : "(null)");
        EXPECT_STREQ(input.text.getString(), test.text);
        EXPECT_STREQ(input.trimmed.getString(), test.trimmed);
    }
}

TEST(CreateEmailStepsTest, EmptyInputShowsBrackets) {
    EmailInput input;
    chooseEmailInput("  ", nullptr, input);
    EXPECT_EQ(emptyInputStatus(input), "[]");
}

TEST(CreateEmailStepsTest, InputIsCutTo1023BytesOnACharacterBoundary) {
    const std::string ascii(2000, 'a');
    EXPECT_EQ(limitToInputBuffer(ascii.c_str()).size(), 1023u);
    EXPECT_EQ(limitToInputBuffer(std::string(1023, 'b').c_str()).size(), 1023u);
    // 1022 ASCII bytes and a two-byte character: it no longer fits whole.
    const std::string split = std::string(1022, 'c') + "\xc3\xa9" + "tail";
    EXPECT_EQ(limitToInputBuffer(split.c_str()), std::string(1022, 'c'));
    const std::string fits = std::string(1021, 'c') + "\xc3\xa9" + "tail";
    EXPECT_EQ(limitToInputBuffer(fits.c_str()), std::string(1021, 'c') + "\xc3\xa9");
    EXPECT_EQ(limitToBuffer("abcdef", 4), "abc");
    EXPECT_EQ(limitToBuffer("abc", 1), "");
    EXPECT_EQ(limitToBuffer(nullptr, 10), "");

    EmailInput input;
    const std::string longUrl = "http://example.com/" + std::string(1500, 'p');
    ASSERT_TRUE(chooseEmailInput(longUrl.c_str(), nullptr, input));
    EXPECT_EQ(input.text.getSize(), 1023);
}

TEST(CreateEmailStepsTest, UrlPathOnlyForTextThatBeginsWithHttp) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {"http://a/", true},
        {"HTTPS://A/", true},
        {"HtTp", true},
        {" http://a/", false},
        {"C:\\pages\\a.htm", false},
        {"/home/u/a.html", false},
        {"htt", false},
        {"", false},
        {"file:///a.htm", false},
        {nullptr, false},
    };
    for (const auto& [input, url] : cases) {
        EXPECT_EQ(takesUrlPath(input), url) << (input ? input : "(null)");
    }
}

TEST(CreateEmailStepsTest, ListEntriesForOpenPages) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"http://example.com/a.html", "http://example.com/a.html"},
        {"file:///home/u/page.html", "/home/u/page.html"},
        {"FILE:///home/u/My%20Page.HTM", "/home/u/My Page.HTM"},
        {"file:///C:/pages/a.htm", "C:/pages/a.htm"},
        {"file:///C|/pages/a.htm", "C|/pages/a.htm"},
        {"file://server/share/a.htm", "file://server/share/a.htm"},
        {"https://a/%20b", "https://a/%20b"},
    };
    for (const auto& [url, entry] : cases) {
        EXPECT_EQ(listEntryForUrl(url), entry) << url;
        EXPECT_FALSE(takesUrlPath(listEntryForUrl(url).c_str()) &&
                     std::string(url).rfind("file:", 0) == 0);
    }
}

TEST(CreateEmailStepsTest, PercentDecoding) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"a%20b", "a b"},
        {"%41%62", "Ab"},
        {"100%", "100%"},
        {"%zz", "%zz"},
        {"%4", "%4"},
        {"a%00b", "a"},
        {"%e2%82%ac", "\xe2\x82\xac"},
        {"+", "+"},
        {"", ""},
    };
    for (const auto& [encoded, decoded] : cases) {
        EXPECT_EQ(percentDecode(encoded), decoded) << encoded;
    }
}

TEST(CreateEmailStepsTest, DefaultExtension) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"/home/u/message", "/home/u/message.eml"},
        {"/home/u/message.eml", "/home/u/message.eml"},
        {"/home/u/message.txt", "/home/u/message.txt"},
        {"/home/u/message.", "/home/u/message.eml"},
        {"/home/u.d/message", "/home/u.d/message.eml"},
        {"/home/u/.hidden", "/home/u/.hidden.eml"},
        {"name", "name.eml"},
        {"/home/u/", "/home/u/"},
    };
    for (const auto& [typed, saved] : cases) {
        EXPECT_EQ(withDefaultExtension(typed, "eml"), saved) << typed;
    }
}

TEST(CreateEmailStepsTest, StatusAfterAFailure) {
    EXPECT_EQ(failedStatus(""), "Failed.");
    EXPECT_EQ(failedStatus("the server answered 404 Not Found"),
              "Failed. The server answered 404 Not Found.");
    EXPECT_EQ(failedStatus("not an HTML page (PNG image)."),
              "Failed. Not an HTML page (PNG image).");
}

TEST(CreateEmailStepsTest, SaveNamesFromTitles) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Hello page", "Hello page.eml"},
        {"  a/b\\c \t\nd  ", "a b c d.eml"},
        {"..hidden", "hidden.eml"},
        {"...", "message.eml"},
        {"", "message.eml"},
        {"end.", "end.eml"},
        // 99 ASCII bytes, then a two-byte letter that would pass 100.
        {std::string(99, 'x') + "\xc3\xa9", std::string(99, 'x') + ".eml"},
        {"Caf\xc3\xa9 \xe2\x80\x94 menu", "Caf\xc3\xa9 \xe2\x80\x94 menu.eml"},
    };
    for (const auto& [title, name] : cases) {
        EXPECT_EQ(saveFileNameFor(title), name) << title;
    }
}

TEST(CreateEmailStepsTest, CentredOffsets) {
    EXPECT_EQ(centeredOffset(0, 1024, 500), 262);
    EXPECT_EQ(centeredOffset(100, 1025, 500), 362);
    EXPECT_EQ(centeredOffset(0, 400, 500), -50);
}

TEST(PagewingSchemeTest, DecodesTheUrlItCarries) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"pagewing:https%3A%2F%2Fexample.com%2Fa%3Fb%3D1%26c%3D2", "https://example.com/a?b=1&c=2"},
        {"PAGEWING:http%3A%2F%2Fx%2F", "http://x/"},
        {"pagewing:", ""},
        {"pagewing:%C3%A9t%C3%A9", "\xc3\xa9t\xc3\xa9"},
        {"pagewing:bad%FFbyte", "bad\xef\xbf\xbd"
                                "byte"},
        {"pagewing:cut%00here", "cut"},
    };
    for (const auto& [argument, url] : cases) {
        std::string decoded;
        EXPECT_TRUE(decodePagewingArgument(argument, decoded)) << argument;
        EXPECT_EQ(decoded, url) << argument;
    }
    std::string decoded = "stale";
    EXPECT_FALSE(decodePagewingArgument("http://example.com/", decoded));
    EXPECT_FALSE(decodePagewingArgument("pagewin", decoded));
    EXPECT_FALSE(decodePagewingArgument(nullptr, decoded));
    EXPECT_EQ(decoded, "");
}

// --- the temporary message file --------------------------------------------------------

std::string hexThreadId() {
    char text[32];
    std::snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(gettid()));
    return text;
}

TEST(TempMessageFileTest, NamesFollowTheUniqueSequence) {
    EXPECT_EQ(uniqueNameCandidate("wpx.eml", 1), "wpx.eml");
    EXPECT_EQ(uniqueNameCandidate("wpx.eml", 2), "wpx" + hexThreadId() + "_2.eml");
    EXPECT_EQ(uniqueNameCandidate("wpx.eml", 13), "wpx" + hexThreadId() + "_13.eml");
    EXPECT_EQ(uniqueNameCandidate("noext", 2), "noext" + hexThreadId() + "_2");
}

TEST(TempMessageFileTest, WritesAPrivateFileUnderTheFirstFreeName) {
    TempDir dir;
    StringBuffer message("Subject: x\r\n\r\nbody");
    std::string path;
    ASSERT_TRUE(writeExclusiveMessageFile(dir.path() + "/", "wpx.eml", message, path));
    EXPECT_EQ(path, dir.file("wpx.eml"));
    EXPECT_EQ(readWholeFile(path), "Subject: x\r\n\r\nbody");
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    std::string second;
    ASSERT_TRUE(writeExclusiveMessageFile(dir.path() + "/", "wpx.eml", message, second));
    EXPECT_EQ(second, dir.file("wpx" + hexThreadId() + "_2.eml"));
    EXPECT_EQ(readWholeFile(path), "Subject: x\r\n\r\nbody") << "the first file is untouched";
}

TEST(TempMessageFileTest, APlantedLinkIsNeverWrittenThrough) {
    TempDir dir;
    TempDir elsewhere;
    const std::string victim = elsewhere.write("victim", "precious");
    std::filesystem::create_symlink(victim, dir.file("wpx.eml"));
    std::filesystem::create_symlink(elsewhere.file("dangling"),
                                    dir.file("wpx" + hexThreadId() + "_2.eml"));
    StringBuffer message("message");
    std::string path;
    ASSERT_TRUE(writeExclusiveMessageFile(dir.path() + "/", "wpx.eml", message, path));
    EXPECT_EQ(path, dir.file("wpx" + hexThreadId() + "_3.eml"));
    EXPECT_EQ(readWholeFile(victim), "precious");
    EXPECT_FALSE(std::filesystem::exists(elsewhere.file("dangling")));
    EXPECT_EQ(readWholeFile(path), "message");
}

TEST(TempMessageFileTest, AMissingDirectoryFails) {
    TempDir dir;
    StringBuffer message("message");
    std::string path = "stale";
    EXPECT_FALSE(writeExclusiveMessageFile(dir.file("missing") + "/", "wpx.eml", message, path));
    EXPECT_EQ(path, "");
}

TEST(TempMessageFileTest, TemporaryDirectoryComesFromTmpdir) {
    TempDir dir;
    const char* saved = std::getenv("TMPDIR");
    const std::string savedValue = saved != nullptr ? saved : "";
    setenv("TMPDIR", dir.path().c_str(), 1);
    StringBuffer message("m");
    std::string path;
    const bool written = writeTemporaryMessageFile("wpx.eml", message, path);
    if (saved != nullptr) {
        setenv("TMPDIR", savedValue.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
    ASSERT_TRUE(written);
    EXPECT_EQ(path, dir.file("wpx.eml"));
}

} // namespace
