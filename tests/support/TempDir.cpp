#include "TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/pwtest-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

std::string TempDir::file(const std::string& name) const {
    return m_path + "/" + name;
}

std::string TempDir::write(const std::string& name, const std::string& bytes) const {
    const std::string target = file(name);
    fs::create_directories(fs::path(target).parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return target;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

ScopedWorkingDirectory::ScopedWorkingDirectory(const std::string& directory) {
    char buffer[4096];
    if (getcwd(buffer, sizeof buffer) != nullptr) {
        m_saved = buffer;
    }
    if (chdir(directory.c_str()) != 0) {
        throw std::runtime_error("chdir failed: " + directory);
    }
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
    if (!m_saved.empty()) {
        [[maybe_unused]] int ignored = chdir(m_saved.c_str());
    }
}
