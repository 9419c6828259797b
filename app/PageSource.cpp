#include "app/PageSource.h"

#include <idn2.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A bare name with one of these endings ("page.html") is a file name, not a
// host name.
constexpr const char* kFileEndings[] = {"htm",   "html", "shtml", "xhtml", "xht", "mht",
                                        "mhtml", "eml",  "txt",   "xml",   "svg", "php",
                                        "asp",   "aspx", "jsp",   "css",   "js"};

constexpr size_t kReadChunk = 65536;
constexpr size_t kMaxPortDigits = 5;

struct IdnFree {
    void operator()(char* text) const { idn2_free(text); }
};

bool hasScheme(const std::string& text, const char* scheme) {
    return strncasecmp(text.c_str(), scheme, std::strlen(scheme)) == 0;
}

bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

bool allDigits(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (!isAsciiDigit(c)) {
            return false;
        }
    }
    return true;
}

bool isAscii(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

// Letters, digits and hyphens, and any byte of a name in another script.
bool validLabel(const std::string& label) {
    if (label.empty() || label.front() == '-' || label.back() == '-') {
        return false;
    }
    for (const char c : label) {
        const auto byte = static_cast<unsigned char>(c);
        const bool letter = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z');
        if (!letter && !isAsciiDigit(c) && c != '-' && byte < 0x80) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> labelsOf(const std::string& host) {
    std::vector<std::string> labels;
    size_t start = 0;
    for (size_t dot = host.find('.'); dot != std::string::npos; dot = host.find('.', start)) {
        labels.push_back(host.substr(start, dot - start));
        start = dot + 1;
    }
    labels.push_back(host.substr(start));
    return labels;
}

bool isFileEnding(const std::string& label) {
    for (const char* ending : kFileEndings) {
        if (strcasecmp(label.c_str(), ending) == 0) {
            return true;
        }
    }
    return false;
}

bool existsOnDisk(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// A dotted name (or "localhost", or any name with a port), with an optional
// port and path, as an address is typed without its scheme.
bool looksLikeHostName(const std::string& argument) {
    const size_t end = argument.find_first_of("/?#");
    const std::string authority = argument.substr(0, end);
    if (end != std::string::npos && existsOnDisk(authority)) {
        return false; // a path in a local folder
    }
    std::string host = authority;
    bool port = false;
    const size_t colon = authority.rfind(':');
    if (colon != std::string::npos) {
        const std::string digits = authority.substr(colon + 1);
        if (!allDigits(digits) || digits.size() > kMaxPortDigits) {
            return false;
        }
        host = authority.substr(0, colon);
        port = true;
    }
    const std::vector<std::string> labels = labelsOf(host);
    for (const std::string& label : labels) {
        if (!validLabel(label)) {
            return false;
        }
    }
    if (strcasecmp(host.c_str(), "localhost") == 0) {
        return true;
    }
    if (labels.size() < 2) {
        return port;
    }
    bool numeric = true;
    for (const std::string& label : labels) {
        numeric = numeric && allDigits(label);
    }
    if (numeric) {
        return labels.size() == 4;
    }
    if (allDigits(labels.back())) {
        return false;
    }
    return end != std::string::npos || port || !isFileEnding(labels.back());
}

} // namespace

bool choosePageSource(const std::string& argument, PageSource& source, std::string& problem) {
    source.address = argument;
    if (argument == "-") {
        source.kind = PageSource::Kind::StandardInput;
        return true;
    }
    // What is on disk is read, whatever its name looks like.
    if (existsOnDisk(argument)) {
        source.kind = PageSource::Kind::File;
        return true;
    }
    if (hasScheme(argument, "http:") || hasScheme(argument, "https:")) {
        source.kind = PageSource::Kind::Url;
        return asciiHostUrl(argument, source.address, problem);
    }
    if (looksLikeHostName(argument)) {
        source.kind = PageSource::Kind::Url;
        return asciiHostUrl("http://" + argument, source.address, problem);
    }
    source.kind = PageSource::Kind::File;
    return true;
}

bool asciiHostName(const std::string& host, std::string& ascii, std::string& problem) {
    if (isAscii(host)) {
        ascii = host;
        return true;
    }
    char* raw = nullptr;
    const int code = idn2_to_ascii_8z(host.c_str(), &raw, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
    const std::unique_ptr<char, IdnFree> converted(raw);
    if (code != IDN2_OK || converted == nullptr) {
        problem =
            "'" + host + "' is no valid international host name (" + idn2_strerror(code) + ")";
        return false;
    }
    ascii = converted.get();
    return true;
}

bool asciiHostUrl(const std::string& url, std::string& ascii, std::string& problem) {
    const size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) {
        ascii = url;
        return true;
    }
    const size_t start = schemeEnd + 3;
    const size_t end = std::min(url.find_first_of("/?#", start), url.size());
    const std::string authority = url.substr(start, end - start);
    const size_t at = authority.rfind('@');
    const size_t hostStart = at == std::string::npos ? 0 : at + 1;
    size_t hostEnd = authority.size();
    if (authority.compare(hostStart, 1, "[") != 0) {
        hostEnd = std::min(authority.find(':', hostStart), authority.size());
    }
    std::string host;
    if (!asciiHostName(authority.substr(hostStart, hostEnd - hostStart), host, problem)) {
        return false;
    }
    ascii = url.substr(0, start + hostStart) + host + url.substr(start + hostEnd);
    return true;
}

bool readStandardInput(std::string& bytes, std::string& problem) {
    std::string chunk(kReadChunk, '\0');
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, chunk.data(), chunk.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            problem = std::strerror(errno);
            return false;
        }
        if (got == 0) {
            return true;
        }
        if (bytes.size() + static_cast<size_t>(got) > static_cast<size_t>(INT_MAX)) {
            problem = "the page is larger than 2 GiB";
            return false;
        }
        bytes.append(chunk.data(), static_cast<size_t>(got));
    }
}
