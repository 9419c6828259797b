#include "app/PrivateTempDir.h"

#include "app/InterruptCleanup.h"

#include "foundation/FileHandle.h"
#include "foundation/FileSys.h"
#include "foundation/StringBuffer.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

PrivateTempDir::PrivateTempDir() {
    StringBuffer directory;
    FileSys::getTempDirectory(directory);
    std::string pattern = std::string(directory.getString()) + "pagewing-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        m_problem = "cannot make a temporary folder in " + std::string(directory.getString()) +
                    ": " + std::strerror(errno);
        return;
    }
    m_path = pattern;
    registerTempFolder(m_path);
}

PrivateTempDir::~PrivateTempDir() {
    if (!m_path.empty()) {
        unregisterTempFolder(m_path);
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
}

bool PrivateTempDir::copyIn(const std::string& source, const std::string& name, std::string& copy,
                            std::string& problem, bool* missing) const {
    copy.clear();
    if (missing != nullptr) {
        *missing = false;
    }
    const FileHandle from = FileHandle::openForReading(source.c_str());
    if (!from.isOpen()) {
        if (missing != nullptr) {
            *missing = errno == ENOENT;
        }
        problem = "cannot read " + source + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(from.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        problem = source + " is not a file";
        return false;
    }
    const std::string target = m_path + "/" + name;
    FileHandle to(
        ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!to.isOpen()) {
        problem = "cannot copy " + source + ": " + std::strerror(errno);
        return false;
    }
    char chunk[65536];
    for (;;) {
        const int64_t count = from.readFully(chunk, sizeof chunk);
        if (count < 0) {
            problem = "cannot read " + source + ": " + std::strerror(errno);
            return false;
        }
        if (!to.writeFully(chunk, count)) {
            problem = "cannot copy " + source + ": " + std::strerror(errno);
            return false;
        }
        if (count < static_cast<int64_t>(sizeof chunk)) {
            break;
        }
    }
    if (!to.close()) {
        problem = "cannot copy " + source + ": " + std::strerror(errno);
        return false;
    }
    copy = target;
    return true;
}
