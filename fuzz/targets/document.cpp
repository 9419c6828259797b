// The whole conversion of one local document on arbitrary HTML: include
// expansion, every clean-up step, every tag pass and the message assembly.
// The page is a file in a temporary directory that the process makes once
// and that holds nothing else (but the image tag log, when asked for), so
// references find no files beside it; web
// references go to a proxy on a closed loopback port, and where the process
// may have a network namespace of its own it takes one, so that no input can
// reach the network. The first byte sets the converter's options.

#include "FuzzInput.h"
#include "convert/Mhtml.h"
#include "foundation/FileSys.h"
#include "foundation/StreamLog.h"
#include "foundation/StringBuffer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <sched.h>
#include <string>
#include <unistd.h>

namespace {

std::string g_directory;
std::string g_page;
std::FILE* g_sink = nullptr;

void removeDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(g_directory, ignored);
}

void setUp() {
    if (!g_directory.empty()) {
        return;
    }
    // Without the rights for a namespace the closed proxy port still holds.
    [[maybe_unused]] const int isolated = unshare(CLONE_NEWNET);
    char pattern[] = "/tmp/pagewing-fuzz-document-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    g_directory = pattern;
    g_page = g_directory + "/page.html";
    g_sink = std::fopen("/dev/null", "w");
    std::atexit(removeDirectory);
}

// The names in the temporary directory: the page, and the image tag log
// when it was asked for.
bool holdsOnlyThePage() {
    DIR* directory = opendir(g_directory.c_str());
    if (directory == nullptr) {
        return false;
    }
    bool onlyPage = true;
    while (const dirent* entry = readdir(directory)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 &&
            std::strcmp(name, "page.html") != 0 && std::strcmp(name, "imageTags.log") != 0) {
            onlyPage = false;
        }
    }
    closedir(directory);
    return onlyPage;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    setUp();
    FuzzInput input(data, size);
    const uint8_t options = input.byte();
    const std::string html = input.rest();

    std::FILE* page = std::fopen(g_page.c_str(), "wb");
    FUZZ_CHECK(page != nullptr);
    FUZZ_CHECK(std::fwrite(html.data(), 1, html.size(), page) == html.size());
    FUZZ_CHECK(std::fclose(page) == 0);

    StringBuffer before;
    FileSys::getCurrentDirectory(before);

    StreamLog log(g_sink);
    Mhtml converter;
    converter.m_proxy.setString("127.0.0.1:1");
    converter.m_keepScripts = (options & 0x01) != 0;
    converter.m_scriptsOverNoscript = (options & 0x02) != 0;
    converter.m_forceNoScripts = (options & 0x04) != 0;
    if ((options & 0x08) != 0) {
        // The page itself, read again as a style sheet.
        converter.addStyleSheet("page.html");
    }
    if ((options & 0x10) != 0) {
        converter.addExclude("ads");
    }
    if ((options & 0x20) != 0) {
        converter.m_log = &log;
        converter.m_verboseTags = true;
        converter.m_logImageTags = true;
    }
    converter.m_maxConnections = (options & 0x40) != 0 ? 1 : 16;
    converter.m_markUnsent = (options & 0x80) != 0;

    StringBuffer message;
    const bool converted = converter.convertFile(g_page.c_str(), "localhost", message);
    FUZZ_CHECK(!converted || message.getSize() > 0);
    FUZZ_CHECK(log.depth() == 0);

    StringBuffer after;
    FileSys::getCurrentDirectory(after);
    FUZZ_CHECK(after.equalsSb(before));
    FUZZ_CHECK(holdsOnlyThePage());
    return 0;
}
