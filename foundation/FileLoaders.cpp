#include "DataBuffer.h"
#include "DiagnosticLog.h"
#include "FileHandle.h"
#include "FileSys.h"
#include "StringBuffer.h"
#include "charset/CharsetConvert.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <strings.h>

namespace {

constexpr int kMaxPathLength = 999;

void logSystemError(DiagnosticLog* log, int error) {
    StringBuffer text;
    text.appendSystemMessage(error);
    log->logError(text.getString());
}

// The system text, the file name and a closing message: the report of most
// failures of the loaders.
void reportFailure(DiagnosticLog* log, int error, const char* path, const char* message) {
    if (log == nullptr) {
        return;
    }
    logSystemError(log, error);
    log->logData("filename", path);
    log->logError(message);
}

void reportWithDirectory(DiagnosticLog* log, int error, const char* path) {
    if (log == nullptr) {
        return;
    }
    logSystemError(log, error);
    log->logData("filename", path);
    StringBuffer directory;
    FileSys::getCurrentDirectory(directory);
    log->logData("current_dir", directory.getString());
}

bool beginsWithUtf16Mark(const StringBuffer& text) {
    return text.getSize() >= 2 && static_cast<unsigned char>(text.charAt(0)) == 0xFF &&
           static_cast<unsigned char>(text.charAt(1)) == 0xFE;
}

// A text that starts with a UTF-16 little-endian byte-order mark becomes
// UTF-8 (the mark becomes EF BB BF); when that fails the bytes stay.
void convertUtf16Text(StringBuffer& text) {
    CharsetConvert converter(nullptr);
    converter.setToCharset("utf-8", nullptr);
    DataBuffer converted;
    try {
        if (!converter.fromUnicode(text.getString(), text.getSize(), converted, nullptr)) {
            return;
        }
        // A result too large for a text buffer leaves the UTF-16 bytes in
        // place; anything else replaces them in the same block, which grows
        // as appending makes it grow.
        if (converted.getSize() + 1ULL >
            static_cast<unsigned long long>(StringBuffer::capacityLimit())) {
            return;
        }
        text.clear();
        text.appendBytes(converted.getData(), static_cast<int>(converted.getSize()));
    } catch (const std::exception&) {
        // The UTF-16 bytes stay.
    }
}

bool isDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The path of a file name or "file:" URL. "file:///C|/dir" and
// "file:///C:/dir" name the drive path "C:/dir"; any other "file:///" URL
// keeps its leading "/", which on this system starts an absolute path.
void pathFromFileUrl(const char* pathOrUrl, StringBuffer& path) {
    path.setString(pathOrUrl);
    if (path.getSize() >= 8 && strncasecmp(path.getString(), "file:///", 8) == 0) {
        const char* rest = path.getString() + 7;
        const bool namesDrive = isDriveLetter(rest[1]) && (rest[2] == ':' || rest[2] == '|') &&
                                (rest[3] == '/' || rest[3] == '\\' || rest[3] == 0);
        StringBuffer kept(namesDrive ? rest + 1 : rest);
        path.setSb(kept);
    }
    path.replaceChar('|', ':');
}

} // namespace

bool StringBuffer::appendFile(const char* path, DiagnosticLog* log) {
    if (path == nullptr || *path == 0) {
        if (log != nullptr) {
            log->logError("filename is missing");
        }
        return false;
    }
    FileHandle file = FileHandle::openForReading(path);
    if (!file.isOpen()) {
        reportFailure(log, errno, path, "Failed to open file");
        return false;
    }
    const int size = file.size();
    if (size == 0) {
        return true;
    }
    if (size < 0) {
        reportFailure(log, errno, path, "Failed to get file size");
        return false;
    }

    // The bytes are read aside first, so that a failed read leaves the
    // content as it was.
    std::unique_ptr<char[]> block;
    try {
        reserve(size + 1);
        block.reset(new char[static_cast<size_t>(size)]);
    } catch (const std::exception&) {
        reportFailure(log, EFBIG, path, "Failed to read data from file");
        return false;
    }
    const int64_t received = file.readFully(block.get(), size);
    if (received < 0) {
        reportFailure(log, errno, path, "Failed to read data from file");
        return false;
    }
    if (received < size) {
        if (log != nullptr) {
            StringBuffer number;
            number.appendInt(size);
            log->logData("filesize", number.getString());
            number.clear();
            number.appendInt(static_cast<int>(received));
            log->logData("bytes_received", number.getString());
            log->logData("filename", path);
            log->logError("Failed to read the entire file");
        }
        return false;
    }
    appendBytes(block.get(), size);
    block.reset();

    if (beginsWithUtf16Mark(*this)) {
        convertUtf16Text(*this);
    }
    return true;
}

StringBuffer* StringBuffer::createFromFile(const char* pathOrUrl, DiagnosticLog* log) {
    const char* given = pathOrUrl != nullptr ? pathOrUrl : "";
    if (std::strlen(given) > static_cast<size_t>(kMaxPathLength)) {
        reportFailure(log, ENAMETOOLONG, given, "Failed to open file");
        return nullptr;
    }
    StringBuffer path;
    pathFromFileUrl(given, path);
    const int size = FileSys::getFileSize(path.getString(), log);
    if (size < 0) {
        return nullptr;
    }
    auto text = std::make_unique<StringBuffer>(size < INT32_MAX - 200 ? size + 200 : size);
    if (!text->appendFile(path.getString(), log)) {
        return nullptr;
    }
    return text.release();
}

bool DataBuffer::loadFile(const char* path, DiagnosticLog* log) {
    release();
    if (path == nullptr || *path == 0) {
        if (log != nullptr) {
            log->logError("Cannot load binary data file, filename is NULL or empty");
        }
        return false;
    }
    FileHandle file = FileHandle::openForReading(path);
    if (!file.isOpen()) {
        reportWithDirectory(log, errno, path);
        return false;
    }
    const int size = file.size();
    if (size < 0) {
        const int error = errno;
        if (log != nullptr) {
            logSystemError(log, error);
        }
        return false;
    }
    if (size == 0) {
        return true;
    }
    void* block = std::malloc(static_cast<size_t>(size));
    if (block == nullptr) {
        if (log != nullptr) {
            logSystemError(log, ENOMEM);
        }
        return false;
    }
    adoptData(block, static_cast<uint32_t>(size));
    const int64_t received = file.readFully(m_data, size);
    if (received < 0) {
        reportWithDirectory(log, errno, path);
    }
    if (received < size) {
        if (log != nullptr) {
            log->logError("Failed to read the entire file");
        }
        // What arrived is not the file: the buffer is left empty.
        release();
        return false;
    }
    return true;
}
