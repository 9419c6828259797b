#include "FileSys.h"

#include "DiagnosticLog.h"
#include "FileHandle.h"
#include "StringBuffer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kTempNameAttempts = 100;

void logSystemError(DiagnosticLog* log, int error) {
    StringBuffer text;
    text.appendSystemMessage(error);
    log->logError(text.getString());
}

void reportWriteFailure(DiagnosticLog* log, const char* path, int error, const char* message) {
    if (log == nullptr) {
        return;
    }
    log->logData("filename", path);
    logSystemError(log, error);
    log->logError(message);
}

// The file a write replaces: a symbolic link is written through, so that the
// link stays and its target gets the new content.
std::string replacedFile(const char* path) {
    struct stat info;
    if (::lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) {
        char* resolved = ::realpath(path, nullptr);
        if (resolved != nullptr) {
            std::string target(resolved);
            std::free(resolved);
            return target;
        }
    }
    return path;
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A new, empty file beside the target, created for writing only by us.
FileHandle createTemporaryBeside(const std::string& target, std::string& tempPath) {
    static unsigned counter = 0;
    const std::string directory = directoryOf(target);
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "/.pagewing-%x-%x-%x.tmp",
                      static_cast<unsigned>(::getpid()), ++counter,
                      static_cast<unsigned>(std::rand()));
        tempPath = directory + name;
        FileHandle file(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (file.isOpen() || errno != EEXIST) {
            return file;
        }
    }
    return FileHandle();
}

// Refuses what creating or truncating the file itself would refuse: a
// directory in its place, or an existing file we may not write.
bool mayReplace(const std::string& target, mode_t& mode, bool& exists) {
    struct stat info;
    exists = ::stat(target.c_str(), &info) == 0;
    if (!exists) {
        return true;
    }
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (::access(target.c_str(), W_OK) != 0) {
        return false;
    }
    mode = info.st_mode & 07777;
    return true;
}

// Writes the whole content; size 0 (or no data) writes nothing.
bool writeContent(const FileHandle& file, const void* data, int size) {
    if (data == nullptr || size == 0) {
        return true;
    }
    if (size < 0) {
        errno = EINVAL;
        return false;
    }
    return file.writeFully(data, size);
}

// A device or a pipe is not replaced, which a file renamed over it would
// do: the content goes into it.
bool isSpecialFile(const std::string& target) {
    struct stat info;
    return ::stat(target.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

bool writeIntoSpecialFile(const char* path, const std::string& target, const void* data, int size,
                          DiagnosticLog* log) {
    FileHandle file(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
    if (!file.isOpen()) {
        reportWriteFailure(log, path, errno, "Failed to open/create file for writing");
        return false;
    }
    if (!writeContent(file, data, size) || !file.close()) {
        reportWriteFailure(log, path, errno, "Failed to write complete file (1)");
        return false;
    }
    return true;
}

void syncDirectory(const std::string& target) {
    FileHandle directory(::open(directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.isOpen()) {
        ::fsync(directory.get());
    }
}

} // namespace

int FileSys::getFileSize(const char* path, DiagnosticLog* log) {
    const char* shown = path != nullptr ? path : "";
    FileHandle file = FileHandle::openForReading(path);
    if (!file.isOpen()) {
        const int error = errno;
        if (log != nullptr) {
            logSystemError(log, error);
            log->logData("filename", shown);
            log->logError("Failed to open file");
        }
        return -1;
    }
    const int size = file.size();
    if (size < 0) {
        const int error = errno;
        if (log != nullptr) {
            logSystemError(log, error);
            log->logData("filename", shown);
            log->logError("Failed to get file size");
        }
        return -1;
    }
    return size;
}

bool FileSys::fileExists(const char* path, StringBuffer& errorText) {
    FileHandle file = FileHandle::openForReading(path);
    if (!file.isOpen()) {
        errorText.appendSystemMessage(errno);
        return false;
    }
    return true;
}

bool FileSys::getTempFilename(const char* name, StringBuffer& out) {
    StringBuffer directory;
    getTempDirectory(directory);
    return getUniqueFilename(name, directory.getString(), out);
}

bool FileSys::getUniqueFilename(const char* name, const char* dir, StringBuffer& out) {
    // An empty directory means the working directory, not the root.
    StringBuffer base(dir);
    const char last = base.lastChar();
    if (base.getSize() > 0 && last != '/' && last != '\\') {
        base.appendChar('/');
    }
    StringBuffer fileName(name);
    if (!fileName.contains(".")) {
        fileName.append(".tmp");
    }
    const char* dot = std::strrchr(fileName.getString(), '.');
    const std::string stem(fileName.getString(), static_cast<size_t>(dot - fileName.getString()));
    const std::string extension(dot);

    out.setSb(base);
    out.appendSb(fileName);
    char threadId[16];
    std::snprintf(threadId, sizeof threadId, "%x", static_cast<unsigned>(::gettid()));
    StringBuffer ignoredError;
    for (int counter = 2; fileExists(out.getString(), ignoredError); ++counter) {
        ignoredError.clear();
        out.setSb(base);
        out.append(stem.c_str());
        out.append(threadId);
        out.appendChar('_');
        out.appendInt(counter);
        out.append(extension.c_str());
    }
    return true;
}

bool FileSys::writeFile(const char* path, const void* data, int size, DiagnosticLog* log) {
    if (path == nullptr || *path == 0) {
        return false;
    }
    // The old file is replaced only once the new content is safely on disk:
    // it is written to a temporary file beside it, flushed and renamed over.
    const std::string target = replacedFile(path);
    if (isSpecialFile(target)) {
        return writeIntoSpecialFile(path, target, data, size, log);
    }
    mode_t mode = 0;
    bool exists = false;
    std::string tempPath;
    FileHandle file;
    if (mayReplace(target, mode, exists)) {
        file = createTemporaryBeside(target, tempPath);
    }
    if (!file.isOpen()) {
        reportWriteFailure(log, path, errno, "Failed to open/create file for writing");
        return false;
    }
    if (exists) {
        ::fchmod(file.get(), mode);
    }

    bool written = writeContent(file, data, size);
    if (written) {
        written = ::fsync(file.get()) == 0;
    }
    if (!written || !file.close()) {
        const int error = errno;
        file.close();
        ::unlink(tempPath.c_str());
        reportWriteFailure(log, path, error, "Failed to write complete file (1)");
        return false;
    }
    if (::rename(tempPath.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(tempPath.c_str());
        reportWriteFailure(log, path, error, "Failed to open/create file for writing");
        return false;
    }
    syncDirectory(target);
    return true;
}

void FileSys::getTempDirectory(StringBuffer& out) {
    const char* fromEnvironment = std::getenv("TMPDIR");
    out.setString(fromEnvironment != nullptr && *fromEnvironment != 0 ? fromEnvironment : "/tmp");
    if (out.lastChar() != '/') {
        out.appendChar('/');
    }
}

void FileSys::getCurrentDirectory(StringBuffer& out) {
    out.clear();
    char* directory = ::getcwd(nullptr, 0);
    if (directory != nullptr) {
        out.append(directory);
        std::free(directory);
    }
}
