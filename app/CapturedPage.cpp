#include "app/CapturedPage.h"

#include "foundation/FileHandle.h"
#include "foundation/FileSys.h"
#include "foundation/StringBuffer.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Json = nlohmann::json;

constexpr const char* kDocumentName = "page.html";
constexpr const char* kDetailsName = "page.json";
constexpr int64_t kMaxFileSize = int64_t{256} << 20;

bool writePrivateFile(const std::string& path, const std::string& bytes, std::string& problem) {
    FileHandle file(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.isOpen() || !file.writeFully(bytes.data(), static_cast<int64_t>(bytes.size())) ||
        !file.close()) {
        problem = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool readPrivateFile(const std::string& path, std::string& bytes, std::string& problem) {
    const FileHandle file = FileHandle::openForReading(path.c_str());
    struct stat info {};
    if (!file.isOpen() || ::fstat(file.get(), &info) != 0) {
        problem = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    // Another user's file in this place was not written by this program.
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || info.st_size > kMaxFileSize) {
        problem = path + " is not a page this program handed over";
        return false;
    }
    bytes.resize(static_cast<size_t>(info.st_size));
    if (file.readFully(bytes.data(), static_cast<int>(info.st_size)) != info.st_size) {
        problem = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

bool writeCapturedPage(const CapturedPage& page, std::string& folder, std::string& problem) {
    StringBuffer directory;
    FileSys::getTempDirectory(directory);
    std::string pattern = std::string(directory.getString()) + "pagewing-page-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        problem = "cannot make a folder in " + std::string(directory.getString()) + ": " +
                  std::strerror(errno);
        return false;
    }
    folder = pattern;
    const Json details = {{"url", page.url},
                          {"title", page.title},
                          {"charset", page.charset},
                          {"cookies", page.cookieLines}};
    if (!writePrivateFile(folder + "/" + kDocumentName, page.html, problem) ||
        !writePrivateFile(folder + "/" + kDetailsName,
                          details.dump(-1, ' ', false, Json::error_handler_t::replace), problem)) {
        removeCapturedPage(folder);
        return false;
    }
    return true;
}

bool readCapturedPage(const std::string& folder, CapturedPage& page, std::string& problem) {
    std::string text;
    if (!readPrivateFile(folder + "/" + kDetailsName, text, problem) ||
        !readPrivateFile(folder + "/" + kDocumentName, page.html, problem)) {
        return false;
    }
    Json details = Json::parse(text, nullptr, false);
    if (!details.is_object() || !details["url"].is_string() || !details["cookies"].is_array()) {
        problem = folder + " holds no page this program handed over";
        return false;
    }
    page.url = details["url"].get<std::string>();
    page.title = details.value("title", std::string());
    page.charset = details.value("charset", std::string());
    page.cookieLines.clear();
    for (const Json& line : details["cookies"]) {
        if (line.is_string()) {
            page.cookieLines.push_back(line.get<std::string>());
        }
    }
    return true;
}

void removeCapturedPage(const std::string& folder) {
    ::unlink((folder + "/" + kDocumentName).c_str());
    ::unlink((folder + "/" + kDetailsName).c_str());
    ::rmdir(folder.c_str());
}
