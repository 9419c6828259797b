#include "foundation/DataBuffer.h"
#include "foundation/FileSys.h"
#include "foundation/FileUrl.h"
#include "foundation/StringBuffer.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

std::string content(const StringBuffer& text) {
    return std::string(text.getString(), static_cast<size_t>(text.getSize()));
}

std::string systemText(int error) {
    StringBuffer text;
    text.appendSystemMessage(error);
    return text.getString();
}

std::string threadId() {
    char id[16];
    std::snprintf(id, sizeof id, "%x", static_cast<unsigned>(gettid()));
    return id;
}

std::vector<std::string> namesIn(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Sets or unsets an environment variable for the lifetime of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : m_name(name) {
        const char* old = std::getenv(name);
        if (old != nullptr) {
            m_saved = old;
        }
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        if (m_saved) {
            setenv(m_name.c_str(), m_saved->c_str(), 1);
        } else {
            unsetenv(m_name.c_str());
        }
    }

private:
    std::string m_name;
    std::optional<std::string> m_saved;
};

// A sparse file of exactly 2 GiB: too large for signed 32-bit sizes.
std::string makeHugeFile(const TempDir& dir) {
    const std::string path = dir.file("huge.bin");
    const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(descriptor, 0);
    EXPECT_EQ(ftruncate(descriptor, 0x80000000LL), 0);
    close(descriptor);
    return path;
}

TEST(FileSysSize, ExistingMissingAndDirectory) {
    TempDir dir;
    const std::string file = dir.write("a.txt", "12345");
    EXPECT_EQ(FileSys::getFileSize(file.c_str(), nullptr), 5);

    RecordingLog log;
    const std::string missing = dir.file("missing.txt");
    EXPECT_EQ(FileSys::getFileSize(missing.c_str(), &log), -1);
    EXPECT_EQ(log.lines(), (Lines{"error: " + systemText(ENOENT), "data: filename=" + missing,
                                  "error: Failed to open file"}));

    log.clear();
    EXPECT_EQ(FileSys::getFileSize(dir.path().c_str(), &log), -1);
    EXPECT_EQ(log.lines(), (Lines{"error: " + systemText(EISDIR), "data: filename=" + dir.path(),
                                  "error: Failed to open file"}));
}

TEST(FileSysSize, TwoGibibytesAndMoreFail) {
    TempDir dir;
    const std::string huge = makeHugeFile(dir);
    RecordingLog log;
    EXPECT_EQ(FileSys::getFileSize(huge.c_str(), &log), -1);
    EXPECT_EQ(log.lines(), (Lines{"error: " + systemText(EFBIG), "data: filename=" + huge,
                                  "error: Failed to get file size"}));

    log.clear();
    EXPECT_EQ(StringBuffer::createFromFile(huge.c_str(), &log), nullptr);
    EXPECT_EQ(log.lines(), (Lines{"error: " + systemText(EFBIG), "data: filename=" + huge,
                                  "error: Failed to get file size"}));

    log.clear();
    DataBuffer data;
    EXPECT_FALSE(data.loadFile(huge.c_str(), &log));
    EXPECT_EQ(log.lines(), (Lines{"error: " + systemText(EFBIG)}));
    EXPECT_EQ(data.getData(), nullptr);
}

TEST(FileSysExists, ReportsTheSystemTextWhenMissing) {
    TempDir dir;
    const std::string file = dir.write("here.txt", "x");
    StringBuffer errorText("before: ");
    EXPECT_TRUE(FileSys::fileExists(file.c_str(), errorText));
    EXPECT_STREQ(errorText.getString(), "before: ");
    EXPECT_FALSE(FileSys::fileExists(dir.file("gone").c_str(), errorText));
    EXPECT_EQ(content(errorText), "before: " + systemText(ENOENT));
}

TEST(FileSysUniqueName, CountsUpWithTheThreadId) {
    TempDir dir;
    StringBuffer out;
    ASSERT_TRUE(FileSys::getUniqueFilename("wpx.eml", dir.path().c_str(), out));
    EXPECT_EQ(content(out), dir.path() + "/wpx.eml");

    dir.write("wpx.eml", "");
    ASSERT_TRUE(FileSys::getUniqueFilename("wpx.eml", dir.path().c_str(), out));
    EXPECT_EQ(content(out), dir.path() + "/wpx" + threadId() + "_2.eml");

    dir.write("wpx" + threadId() + "_2.eml", "");
    ASSERT_TRUE(FileSys::getUniqueFilename("wpx.eml", (dir.path() + "/").c_str(), out));
    EXPECT_EQ(content(out), dir.path() + "/wpx" + threadId() + "_3.eml");
}

TEST(FileSysUniqueName, NameWithoutDotGetsTmpAndTheLastDotSplits) {
    TempDir dir;
    StringBuffer out;
    ASSERT_TRUE(FileSys::getUniqueFilename("report", dir.path().c_str(), out));
    EXPECT_EQ(content(out), dir.path() + "/report.tmp");
    dir.write("report.tmp", "");
    ASSERT_TRUE(FileSys::getUniqueFilename("report", dir.path().c_str(), out));
    EXPECT_EQ(content(out), dir.path() + "/report" + threadId() + "_2.tmp");

    dir.write("a.b.c", "");
    ASSERT_TRUE(FileSys::getUniqueFilename("a.b.c", dir.path().c_str(), out));
    EXPECT_EQ(content(out), dir.path() + "/a.b" + threadId() + "_2.c");
}

TEST(FileSysUniqueName, BackslashEndsADirectoryAndEmptyMeansWorkingDirectory) {
    StringBuffer out;
    ASSERT_TRUE(FileSys::getUniqueFilename("x.txt", "C:\\pages\\", out));
    EXPECT_STREQ(out.getString(), "C:\\pages\\x.txt");

    TempDir dir;
    ScopedWorkingDirectory inside(dir.path());
    ASSERT_TRUE(FileSys::getUniqueFilename("x.txt", "", out));
    EXPECT_STREQ(out.getString(), "x.txt");
}

TEST(FileSysTempName, UsesTmpdirOrElseTmp) {
    TempDir dir;
    StringBuffer out;
    {
        ScopedEnvironment tmpdir("TMPDIR", dir.path().c_str());
        ASSERT_TRUE(FileSys::getTempFilename("wpx.eml", out));
        EXPECT_EQ(content(out), dir.path() + "/wpx.eml");
        FileSys::getTempDirectory(out);
        EXPECT_EQ(content(out), dir.path() + "/");
    }
    {
        ScopedEnvironment tmpdir("TMPDIR", (dir.path() + "/").c_str());
        FileSys::getTempDirectory(out);
        EXPECT_EQ(content(out), dir.path() + "/");
    }
    {
        ScopedEnvironment tmpdir("TMPDIR", nullptr);
        FileSys::getTempDirectory(out);
        EXPECT_STREQ(out.getString(), "/tmp/");
    }
    {
        ScopedEnvironment tmpdir("TMPDIR", "");
        FileSys::getTempDirectory(out);
        EXPECT_STREQ(out.getString(), "/tmp/");
    }
}

TEST(FileSysCurrentDirectory, IsTheWorkingDirectory) {
    TempDir dir;
    ScopedWorkingDirectory inside(dir.path());
    StringBuffer out("old");
    FileSys::getCurrentDirectory(out);
    EXPECT_EQ(fs::path(out.getString()), fs::canonical(dir.path()));
}

TEST(FileSysWrite, CreatesReplacesAndWritesEmptyFiles) {
    TempDir dir;
    const std::string path = dir.file("out.eml");
    EXPECT_FALSE(FileSys::writeFile(nullptr, "x", 1, nullptr));
    EXPECT_FALSE(FileSys::writeFile("", "x", 1, nullptr));

    ASSERT_TRUE(FileSys::writeFile(path.c_str(), "first version", 13, nullptr));
    EXPECT_EQ(readWholeFile(path), "first version");
    ASSERT_TRUE(FileSys::writeFile(path.c_str(), "second", 6, nullptr));
    EXPECT_EQ(readWholeFile(path), "second");

    ASSERT_TRUE(FileSys::writeFile(path.c_str(), "ignored", 0, nullptr));
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0U);
    ASSERT_TRUE(FileSys::writeFile(dir.file("null.bin").c_str(), nullptr, 10, nullptr));
    EXPECT_EQ(fs::file_size(dir.file("null.bin")), 0U);

    const std::string binary("a\0b\xFF", 4);
    ASSERT_TRUE(FileSys::writeFile(path.c_str(), binary.data(), 4, nullptr));
    EXPECT_EQ(readWholeFile(path), binary);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"null.bin", "out.eml"}));
}

TEST(FileSysWrite, KeepsTheModeAndWritesThroughALink) {
    TempDir dir;
    const std::string target = dir.write("real.txt", "old");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    const std::string link = dir.file("link.txt");
    fs::create_symlink(target, link);

    ASSERT_TRUE(FileSys::writeFile(link.c_str(), "new", 3, nullptr));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readWholeFile(target), "new");
    struct stat info;
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640U);
}

TEST(FileSysWrite, FailingToCreateReportsInOrder) {
    TempDir dir;
    RecordingLog log;
    const std::string inMissingDir = dir.file("no/such/dir/x.eml");
    EXPECT_FALSE(FileSys::writeFile(inMissingDir.c_str(), "x", 1, &log));
    EXPECT_EQ(log.lines(), (Lines{"data: filename=" + inMissingDir, "error: " + systemText(ENOENT),
                                  "error: Failed to open/create file for writing"}));

    log.clear();
    const std::string directory = dir.file("sub");
    fs::create_directory(directory);
    EXPECT_FALSE(FileSys::writeFile(directory.c_str(), "x", 1, &log));
    EXPECT_EQ(log.lines(), (Lines{"data: filename=" + directory, "error: " + systemText(EISDIR),
                                  "error: Failed to open/create file for writing"}));
    EXPECT_TRUE(fs::is_empty(directory));
}

TEST(FileSysWrite, RefusesAnExistingFileItMayNotWrite) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root may write every file";
    }
    TempDir dir;
    const std::string path = dir.write("locked.txt", "keep");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    RecordingLog log;
    EXPECT_FALSE(FileSys::writeFile(path.c_str(), "new", 3, &log));
    EXPECT_EQ(readWholeFile(path), "keep");
    EXPECT_TRUE(log.has("error: Failed to open/create file for writing"));
}

TEST(FileSysWrite, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir.write("out.eml", "the old message");
    const std::string big(100000, 'x');

    // A file size limit makes the write fail part-way.
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    RecordingLog log;
    const bool written =
        FileSys::writeFile(path.c_str(), big.data(), static_cast<int>(big.size()), &log);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(log.lines(), (Lines{"data: filename=" + path, "error: " + systemText(EFBIG),
                                  "error: Failed to write complete file (1)"}));
    EXPECT_EQ(readWholeFile(path), "the old message");
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"out.eml"}));
}

TEST(FileSysWrite, WritesIntoADeviceWithoutReplacingIt) {
    // A temporary file renamed over a device would take its place.
    struct Case {
        const char* device;
        bool written;
    };
    for (const Case& test : {Case{"/dev/zero", true}, Case{"/dev/full", false}}) {
        SCOPED_TRACE(test.device);
        RecordingLog log;
        EXPECT_EQ(FileSys::writeFile(test.device, "message", 7, &log), test.written);
        EXPECT_EQ(log.has("error: Failed to write complete file (1)"), !test.written);
        EXPECT_TRUE(fs::is_character_file(test.device));
    }
}

TEST(AppendFile, AppendsEveryByteBehindTheContent) {
    TempDir dir;
    const std::string bytes("line\0two\r\n", 10);
    const std::string path = dir.write("data.bin", bytes);
    StringBuffer text("head:");
    ASSERT_TRUE(text.appendFile(path.c_str(), nullptr));
    EXPECT_EQ(content(text), "head:" + bytes);
    EXPECT_EQ(text.getString()[text.getSize()], 0);
}

TEST(AppendFile, EmptyFileLeavesTheBufferUnchanged) {
    TempDir dir;
    const std::string path = dir.write("empty.txt", "");
    StringBuffer text("keep");
    const int capacity = text.getCapacity();
    ASSERT_TRUE(text.appendFile(path.c_str(), nullptr));
    EXPECT_STREQ(text.getString(), "keep");
    EXPECT_EQ(text.getCapacity(), capacity);
}

TEST(AppendFile, MissingNameAndMissingFile) {
    StringBuffer text("keep");
    RecordingLog log;
    EXPECT_FALSE(text.appendFile(nullptr, &log));
    EXPECT_FALSE(text.appendFile("", &log));
    EXPECT_EQ(log.lines(), (Lines{"error: filename is missing", "error: filename is missing"}));

    log.clear();
    TempDir dir;
    const std::string missing = dir.file("nope.htm");
    EXPECT_FALSE(text.appendFile(missing.c_str(), &log));
    EXPECT_EQ(log.lines(), (Lines{"error: " + systemText(ENOENT), "data: filename=" + missing,
                                  "error: Failed to open file"}));
    EXPECT_STREQ(text.getString(), "keep");
}

TEST(AppendFile, AShortReadKeepsTheContent) {
    // Files under /sys report a size of a page but hold a few bytes.
    const char* path = "/sys/devices/system/cpu/online";
    struct stat info;
    if (stat(path, &info) != 0 || info.st_size <= 64) {
        GTEST_SKIP() << "no file whose size is larger than its content";
    }
    const std::string real = readWholeFile(path);
    StringBuffer text("keep");
    RecordingLog log;
    EXPECT_FALSE(text.appendFile(path, &log));
    EXPECT_STREQ(text.getString(), "keep");
    EXPECT_EQ(log.lines(), (Lines{"data: filesize=" + std::to_string(info.st_size),
                                  "data: bytes_received=" + std::to_string(real.size()),
                                  "data: filename=" + std::string(path),
                                  "error: Failed to read the entire file"}));
}

struct Utf16Case {
    const char* what;
    std::string file;
    std::string text;
};

TEST(AppendFile, Utf16FilesBecomeUtf8) {
    const std::vector<Utf16Case> cases = {
        {"plain",
         std::string("\xFF\xFE"
                     "A\0\xE9\0\x2D\x4E",
                     8),
         "\xEF\xBB\xBF"
         "A\xC3\xA9\xE4\xB8\xAD"},
        {"odd last byte",
         std::string("\xFF\xFE"
                     "A\0B",
                     5),
         "\xEF\xBB\xBF"
         "A"},
        {"lone surrogate",
         std::string("\xFF\xFE\x00\xD8"
                     "B\0",
                     6),
         "\xEF\xBB\xBF\xEF\xBF\xBD"
         "B"},
        {"pair", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), "\xEF\xBB\xBF\xF0\x9F\x98\x80"},
        {"only the mark", std::string("\xFF\xFE", 2), "\xEF\xBB\xBF"},
        {"big-endian mark is not converted", std::string("\xFE\xFF\0A", 4),
         std::string("\xFE\xFF\0A", 4)},
    };
    for (const Utf16Case& c : cases) {
        TempDir dir;
        const std::string path = dir.write("u.txt", c.file);
        StringBuffer text;
        ASSERT_TRUE(text.appendFile(path.c_str(), nullptr)) << c.what;
        EXPECT_EQ(content(text), c.text) << c.what;
    }
}

TEST(AppendFile, ConvertedTextIsAppendedToTheClearedBuffer) {
    // 200 CJK characters: 402 bytes of UTF-16 with the mark, 603 of UTF-8.
    std::string file("\xFF\xFE", 2);
    std::string expected("\xEF\xBB\xBF");
    for (int i = 0; i < 200; ++i) {
        file.append("\x2D\x4E", 2);
        expected.append("\xE4\xB8\xAD");
    }
    TempDir dir;
    const std::string path = dir.write("u.txt", file);
    std::unique_ptr<StringBuffer> text(StringBuffer::createFromFile(path.c_str(), nullptr));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(content(*text), expected);
    // The buffer of 402 + 200 bytes is cleared and the 603 bytes appended
    // like appendBytes appends them: 603 + 602 bytes, and the increment is
    // half of that.
    EXPECT_EQ(text->getCapacity(), 603 + 602);
    EXPECT_EQ(text->getGrowthIncrement(), (603 + 602) / 2);

    // Text that fits keeps the block.
    const std::string small = dir.write("s.txt", std::string("\xFF\xFE"
                                                             "A\0",
                                                             4));
    std::unique_ptr<StringBuffer> fits(StringBuffer::createFromFile(small.c_str(), nullptr));
    ASSERT_NE(fits, nullptr);
    EXPECT_EQ(content(*fits), "\xEF\xBB\xBF"
                              "A");
    EXPECT_EQ(fits->getCapacity(), 4 + 200);

    // A UTF-8 form too large for a text buffer leaves the UTF-16 bytes.
    StringBuffer::setCapacityLimit(500);
    std::unique_ptr<StringBuffer> kept(StringBuffer::createFromFile(path.c_str(), nullptr));
    StringBuffer::setCapacityLimit(0);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(content(*kept), file);
}

TEST(CreateFromFile, ReadsTheFileIntoANewBuffer) {
    TempDir dir;
    const std::string path = dir.write("page.htm", "<html>hi</html>");
    std::unique_ptr<StringBuffer> text(StringBuffer::createFromFile(path.c_str(), nullptr));
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text->getString(), "<html>hi</html>");
    EXPECT_EQ(text->getCapacity(), 15 + 200);
}

TEST(CreateFromFile, FileUrlsAndDriveLetters) {
    TempDir dir;
    dir.write("C:/pages/a.htm", "drive");
    dir.write("b%20c.htm", "escaped");
    const std::string absolute = dir.write("abs.htm", "absolute");
    ScopedWorkingDirectory inside(dir.path());

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"file:///C|/pages/a.htm", "drive"}, {"FILE:///C:/pages/a.htm", "drive"},
        {"C|/pages/a.htm", "drive"},         {"b%20c.htm", "escaped"},
        {"file://" + absolute, "absolute"},  {absolute, "absolute"},
    };
    for (const auto& [name, expected] : cases) {
        std::unique_ptr<StringBuffer> text(StringBuffer::createFromFile(name.c_str(), nullptr));
        ASSERT_NE(text, nullptr) << name;
        EXPECT_STREQ(text->getString(), expected.c_str()) << name;
    }
}

TEST(CreateFromFile, ANamedPipeDoesNotBlock) {
    TempDir dir;
    const std::string pipe = dir.file("pipe");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::unique_ptr<StringBuffer> text(StringBuffer::createFromFile(pipe.c_str(), nullptr));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->getSize(), 0);
    DataBuffer data;
    EXPECT_TRUE(data.loadFile(pipe.c_str(), nullptr));
    EXPECT_EQ(data.getSize(), 0U);
}

TEST(CreateFromFile, MissingFileAndOverlongPath) {
    TempDir dir;
    const std::string missing = dir.file("missing.htm");
    RecordingLog log;
    EXPECT_EQ(StringBuffer::createFromFile(missing.c_str(), &log), nullptr);
    EXPECT_EQ(log.lines(), (Lines{"error: " + systemText(ENOENT), "data: filename=" + missing,
                                  "error: Failed to open file"}));

    log.clear();
    const std::string longPath = dir.path() + "/" + std::string(1000, 'a');
    EXPECT_EQ(StringBuffer::createFromFile(longPath.c_str(), &log), nullptr);
    EXPECT_EQ(log.lines(), (Lines{"error: " + systemText(ENAMETOOLONG),
                                  "data: filename=" + longPath, "error: Failed to open file"}));

    // 999 bytes are still a path.
    std::string name999;
    while (name999.size() + 2 + 5 <= 999) {
        name999 += "d/";
    }
    name999 += "x.htm";
    ASSERT_LE(name999.size(), 999U);
    log.clear();
    EXPECT_EQ(StringBuffer::createFromFile(name999.c_str(), &log), nullptr);
    EXPECT_EQ(log.lines(), (Lines{"error: " + systemText(ENOENT), "data: filename=" + name999,
                                  "error: Failed to open file"}));
}

TEST(LoadFile, ReadsExactlyTheFile) {
    TempDir dir;
    const std::string bytes("\x89PNG\0\x01", 6);
    const std::string path = dir.write("image.png", bytes);
    DataBuffer data;
    data.append("old", 3);
    ASSERT_TRUE(data.loadFile(path.c_str(), nullptr));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.getData()), data.getSize()), bytes);
    EXPECT_EQ(data.getCapacity(), 6U);
}

TEST(LoadFile, EmptyFileGivesAnEmptyBuffer) {
    TempDir dir;
    const std::string path = dir.write("empty.bin", "");
    DataBuffer data;
    data.append("old", 3);
    ASSERT_TRUE(data.loadFile(path.c_str(), nullptr));
    EXPECT_EQ(data.getSize(), 0U);
    EXPECT_EQ(data.getData(), nullptr);
}

TEST(LoadFile, FailuresReportTheWorkingDirectory) {
    DataBuffer data;
    data.append("old", 3);
    RecordingLog log;
    EXPECT_FALSE(data.loadFile(nullptr, &log));
    EXPECT_EQ(data.getData(), nullptr);
    EXPECT_EQ(log.lines(),
              (Lines{"error: Cannot load binary data file, filename is NULL or empty"}));

    TempDir dir;
    ScopedWorkingDirectory inside(dir.path());
    StringBuffer cwd;
    FileSys::getCurrentDirectory(cwd);
    log.clear();
    EXPECT_FALSE(data.loadFile("missing.gif", &log));
    EXPECT_EQ(log.lines(), (Lines{"error: " + systemText(ENOENT), "data: filename=missing.gif",
                                  "data: current_dir=" + std::string(cwd.getString())}));
}

TEST(LoadFile, AShortReadIsAFailure) {
    const char* path = "/sys/devices/system/cpu/online";
    struct stat info;
    if (stat(path, &info) != 0 || info.st_size <= 64) {
        GTEST_SKIP() << "no file whose size is larger than its content";
    }
    DataBuffer data;
    RecordingLog log;
    EXPECT_FALSE(data.loadFile(path, &log));
    EXPECT_EQ(log.lines(), (Lines{"error: Failed to read the entire file"}));
    EXPECT_EQ(data.getSize(), 0U);
}

} // namespace

TEST(LocalFilePath, FileUrlsAndPercentEscapesNameTheFile) {
    const struct {
        const char* reference;
        const char* path;
    } cases[] = {
        {"a%20b.png", "a b.png"},
        {"caf%C3%A9.html", "caf\xC3\xA9.html"},
        {"file:///home/x/caf%C3%A9.html", "/home/x/caf\xC3\xA9.html"},
        {"file://localhost/home/x/p.html", "/home/x/p.html"},
        {"FILE://LocalHost/p%2Ehtml", "/p.html"},
        {"100%.png", "100%.png"},
        {"%zz%4", "%zz%4"},
        {"cut%00here", "cut"},
    };
    for (const auto& c : cases) {
        StringBuffer path;
        localFilePath(c.reference, path);
        EXPECT_STREQ(path.getString(), c.path) << c.reference;
    }
}
