// The settings store over an arbitrary settings file. Reads with read-only
// rights never change the file; with full rights (inputs of odd length) a
// value written into the hostile file reads back as written. The file lives
// in a temporary directory that the process makes once.

#include "FuzzInput.h"
#include "app/ActionSetting.h"
#include "app/KeyFileStore.h"
#include "app/VT_Registry.h"
#include "foundation/StreamLog.h"
#include "foundation/StringBuffer.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string g_directory;
std::string g_file;
std::FILE* g_sink = nullptr;

void removeDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(g_directory, ignored);
}

void setUp() {
    if (!g_directory.empty()) {
        return;
    }
    char pattern[] = "/tmp/pagewing-fuzz-settings-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    g_directory = pattern;
    g_file = g_directory + "/registry.ini";
    g_sink = std::fopen("/dev/null", "w");
    std::atexit(removeDirectory);
}

std::string fileText() {
    std::ifstream in(g_file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    setUp();
    std::error_code ignored;
    std::filesystem::remove(g_file + ".corrupt", ignored);
    const std::string content(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(g_file, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        FUZZ_CHECK(out.good());
    }

    StreamLog log(g_sink);
    {
        VT_Registry registry(&log, g_file);
        registry.m_access = KEY_READ;
        for (const char* name : {kOptionValueName, kDataDirValueName, "", "Missing"}) {
            StringBuffer value("kept");
            if (!registry.readString(kCompanyName, kProductName, name, value)) {
                FUZZ_CHECK(value.equals("kept"));
            }
        }
        RegistryKeyPtr key =
            registry.openKeyPath(HKEY_LOCAL_MACHINE, "Software\\Vantrel Software, Inc.", true);
        if (key != nullptr) {
            registry.queryValue(*key, "Option");
        }
        KeyFileStore store(g_file);
        std::string spelled;
        std::string value;
        store.findGroup("HKEY_LOCAL_MACHINE\\Software", spelled);
        store.readValue("HKEY_LOCAL_MACHINE\\Software\\Vantrel Software, Inc.\\Pagewing", "DataDir",
                        value);
        FUZZ_CHECK(fileText() == content);
    }
    FUZZ_CHECK(log.depth() == 0);

    if (size % 2 == 1) {
        VT_Registry registry(nullptr, g_file);
        const char* written = "dir with \\ and\nline break ";
        if (registry.writeString(kCompanyName, kProductName, kDataDirValueName, written)) {
            StringBuffer back;
            FUZZ_CHECK(registry.readString(kCompanyName, kProductName, kDataDirValueName, back));
            FUZZ_CHECK(back.equals(written));
        }
    }
    return 0;
}
