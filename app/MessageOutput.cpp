#include "app/MessageOutput.h"

#include "app/ProgressLog.h"
#include "foundation/FileSys.h"
#include "foundation/StringBuffer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FreeDeleter {
    void operator()(char* text) const { std::free(text); }
};

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The message file is made beside the file it replaces, so that folder
// must take new files.
bool folderUsable(const std::string& folder, std::string& problem) {
    struct stat info;
    if (stat(folder.c_str(), &info) != 0) {
        problem = errno == ENOENT ? "the folder " + folder + " does not exist"
                                  : folder + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        problem = folder + " is not a folder";
        return false;
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        problem = "the folder " + folder + " cannot be written in (" + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

// The file a write through a link goes to, as FileSys::writeFile finds it.
std::string linkTarget(const std::string& path) {
    const std::unique_ptr<char, FreeDeleter> resolved(realpath(path.c_str(), nullptr));
    return resolved != nullptr ? std::string(resolved.get()) : path;
}

} // namespace

bool outputPathUsable(const std::string& path, std::string& problem) {
    if (path == "-") {
        return true;
    }
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            problem = std::strerror(errno);
            return false;
        }
        return folderUsable(folderOf(path), problem);
    }
    if (S_ISDIR(info.st_mode)) {
        problem = "it is a folder";
        return false;
    }
    if (access(path.c_str(), W_OK) != 0) {
        problem = std::strerror(errno);
        return false;
    }
    // A device or a pipe is written into; a file is replaced.
    return !S_ISREG(info.st_mode) || folderUsable(folderOf(linkTarget(path)), problem);
}

bool writeMessageFile(const std::string& path, const StringBuffer& message, std::string& problem) {
    ProgressLog reasons(nullptr, nullptr);
    if (!FileSys::writeFile(path.c_str(), message.getString(), message.getSize(), &reasons)) {
        problem = reasons.failureReason();
        return false;
    }
    return true;
}

bool writeStandardOutput(const StringBuffer& message, std::string& problem) {
    const char* data = message.getString();
    auto size = static_cast<size_t>(message.getSize());
    while (size > 0) {
        const ssize_t written = write(STDOUT_FILENO, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            problem = std::strerror(errno);
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool closeStandardOutput(std::string& problem) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    const int flushError = errno;
    // A standard output closed by the caller (>&-) that got nothing is fine.
    if (std::fclose(stdout) != 0 && errno != EBADF) {
        problem = std::strerror(errno);
        return false;
    }
    if (!flushed) {
        problem = flushError != 0 ? std::strerror(flushError) : "a write failed";
        return false;
    }
    return true;
}
