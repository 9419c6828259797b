#pragma once

#include <cerrno>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Reads from a descriptor until count bytes arrived or the input ends; the
// number read, or -1 when a read fails (errno set). Interrupted reads are
// taken up again.
inline int64_t readFully(int descriptor, void* buffer, int64_t count) {
    auto* into = static_cast<unsigned char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(descriptor, into + done, static_cast<size_t>(count - done));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return done;
}

// Writes all count bytes to a descriptor; false (errno set) when fewer could
// be written.
inline bool writeFully(int descriptor, const void* buffer, int64_t count) {
    const auto* from = static_cast<const unsigned char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t put = ::write(descriptor, from + done, static_cast<size_t>(count - done));
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (put == 0) {
            errno = EIO;
            return false;
        }
        done += put;
    }
    return true;
}

// An open file descriptor, closed with the object. Shared by the file class
// and the loaders; every failure leaves errno set for the caller's message.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int descriptor) : m_descriptor(descriptor) {}
    ~FileHandle() { close(); }
    FileHandle(FileHandle&& other) noexcept : m_descriptor(other.m_descriptor) {
        other.m_descriptor = -1;
    }
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            close();
            m_descriptor = other.m_descriptor;
            other.m_descriptor = -1;
        }
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool isOpen() const { return m_descriptor >= 0; }
    int get() const { return m_descriptor; }

    // Closes the descriptor; false (errno set) when the close fails.
    bool close() {
        if (m_descriptor < 0) {
            return true;
        }
        const int descriptor = m_descriptor;
        m_descriptor = -1;
        return ::close(descriptor) == 0;
    }

    // An existing file, opened for reading. A directory is not a file:
    // opening one fails with EISDIR.
    static FileHandle openForReading(const char* path) {
        if (path == nullptr || *path == 0) {
            errno = ENOENT;
            return FileHandle();
        }
        // Non-blocking, so that a named pipe without a writer cannot hang the
        // open; reads block again as usual.
        FileHandle file(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!file.isOpen()) {
            return file;
        }
        struct stat info;
        if (::fstat(file.get(), &info) == 0 && S_ISDIR(info.st_mode)) {
            file.close();
            errno = EISDIR;
            return file;
        }
        const int flags = ::fcntl(file.get(), F_GETFL);
        if (flags >= 0) {
            ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK);
        }
        return file;
    }

    // The size of the open file, or -1. Sizes are signed 32-bit, so a file of
    // 2 GiB or more fails with EFBIG.
    int size() const {
        struct stat info;
        if (::fstat(m_descriptor, &info) != 0) {
            return -1;
        }
        if (info.st_size > INT_MAX) {
            errno = EFBIG;
            return -1;
        }
        return static_cast<int>(info.st_size);
    }

    // Reads until count bytes arrived or the file ends; the number read, or
    // -1 when a read fails (errno set).
    int64_t readFully(void* buffer, int count) const {
        return ::readFully(m_descriptor, buffer, count);
    }

    // Writes all count bytes; false (errno set) when fewer could be written.
    bool writeFully(const void* buffer, int64_t count) const {
        return ::writeFully(m_descriptor, buffer, count);
    }

private:
    int m_descriptor = -1;
};
