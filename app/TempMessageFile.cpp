#include "app/TempMessageFile.h"

#include "foundation/FileHandle.h"
#include "foundation/FileSys.h"
#include "foundation/StringBuffer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Enough for every name a real temporary directory can hold; the bound
// keeps a directory full of planted names from looping for ever.
constexpr int kMaxCandidates = 100000;

} // namespace

std::string uniqueNameCandidate(const char* name, int counter) {
    const std::string whole = name != nullptr ? name : "";
    if (counter <= 1) {
        return whole;
    }
    const size_t dot = whole.rfind('.');
    const std::string stem = dot == std::string::npos ? whole : whole.substr(0, dot);
    const std::string extension = dot == std::string::npos ? std::string() : whole.substr(dot);
    char middle[48];
    std::snprintf(middle, sizeof middle, "%lx_%d", static_cast<unsigned long>(gettid()), counter);
    return stem + middle + extension;
}

bool writeExclusiveMessageFile(const std::string& directory, const char* name,
                               const StringBuffer& text, std::string& path) {
    path.clear();
    for (int counter = 1; counter <= kMaxCandidates; ++counter) {
        const std::string candidate = directory + uniqueNameCandidate(name, counter);
        const FileHandle file(
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!file.isOpen()) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        // The file is there to name even when the write falls short.
        static_cast<void>(file.writeFully(text.getString(), text.getSize()));
        path = candidate;
        return true;
    }
    return false;
}

bool writeTemporaryMessageFile(const char* name, const StringBuffer& text, std::string& path) {
    StringBuffer directory;
    FileSys::getTempDirectory(directory);
    return writeExclusiveMessageFile(directory.getString(), name, text, path);
}
