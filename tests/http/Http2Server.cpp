#include "Http2Server.h"

#include "LoopbackSocket.h"
#include "TestCertificates.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <unistd.h>

namespace {

// Debian installs the server in /usr/sbin, which a user's PATH may lack.
std::vector<std::string> searchDirectories() {
    std::vector<std::string> directories;
    const char* path = std::getenv("PATH");
    std::stringstream entries(path != nullptr ? path : "");
    std::string entry;
    while (std::getline(entries, entry, ':')) {
        if (!entry.empty()) {
            directories.push_back(entry);
        }
    }
    directories.push_back("/usr/sbin");
    directories.push_back("/sbin");
    return directories;
}

// "[id=3] [  0.525] recv (stream_id=5) :path: /a.txt": one header of a
// request. False for every other line of the log.
bool parseHeaderLine(const std::string& line, int& connection, int& stream, std::string& name,
                     std::string& value) {
    if (std::sscanf(line.c_str(), "[id=%d]", &connection) != 1) {
        return false;
    }
    const std::string marker = "] recv (stream_id=";
    const size_t at = line.find(marker);
    if (at == std::string::npos) {
        return false;
    }
    const size_t numberAt = at + marker.size();
    const size_t close = line.find(") ", numberAt);
    if (close == std::string::npos) {
        return false;
    }
    stream = std::atoi(line.substr(numberAt, close - numberAt).c_str());
    const std::string field = line.substr(close + 2);
    // A pseudo-header's name begins with its own colon.
    const size_t separator = field.find(": ", 1);
    if (separator == std::string::npos) {
        return false;
    }
    name = field.substr(0, separator);
    value = field.substr(separator + 2);
    return true;
}

} // namespace

std::string Http2Request::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (key == name) {
            return value;
        }
    }
    return {};
}

Http2Server::~Http2Server() {
    stop();
}

std::string Http2Server::program() {
    for (const std::string& directory : searchDirectories()) {
        const std::string candidate = directory + "/nghttpd";
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

void Http2Server::addFile(const std::string& path, const std::string& bytes) {
    m_dir.write("htdocs/" + path, bytes);
}

bool Http2Server::start(std::string* error) {
    std::string reason;
    const TestCertificates* certificates = TestCertificates::get(&reason);
    const std::string server = program();
    if (server.empty()) {
        reason = "nghttpd is not installed";
    }
    // The directory must exist even when nothing is served.
    m_dir.write("htdocs/.keep", "");
    // A free port can be taken by someone else before the server binds it;
    // a few tries make that harmless.
    for (int attempt = 0; certificates != nullptr && !server.empty() && attempt < 5; ++attempt) {
        m_port = findFreeLoopbackPort();
        if (!m_process.start({server, "--verbose", "--address=127.0.0.1",
                              "--htdocs=" + m_dir.file("htdocs"), std::to_string(m_port),
                              certificates->serverKey, certificates->serverCert},
                             m_dir.file("stderr.txt"), m_dir.file("log.txt"))) {
            reason = "nghttpd could not be started";
            break;
        }
        if (waitUntilListening(m_port, 5000) && m_process.running()) {
            return true;
        }
        m_process.stop();
        reason = "nghttpd did not start: " + readWholeFile(m_dir.file("stderr.txt")) +
                 readWholeFile(m_dir.file("log.txt"));
    }
    if (error != nullptr) {
        *error = reason;
    }
    return false;
}

void Http2Server::stop() {
    m_process.stop();
}

std::string Http2Server::url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<Http2Request> Http2Server::requests() const {
    std::vector<Http2Request> requests;
    std::stringstream log(readWholeFile(m_dir.file("log.txt")));
    std::string line;
    while (std::getline(log, line)) {
        int connection = 0;
        int stream = 0;
        std::string name;
        std::string value;
        if (!parseHeaderLine(line, connection, stream, name, value)) {
            continue;
        }
        // The headers of one request are logged together, before its frame.
        if (requests.empty() || requests.back().connection != connection ||
            requests.back().stream != stream) {
            requests.push_back({connection, stream, {}});
        }
        requests.back().headers.emplace_back(name, value);
    }
    return requests;
}

int Http2Server::http2Connections() const {
    std::stringstream log(readWholeFile(m_dir.file("log.txt")));
    std::string line;
    int count = 0;
    while (std::getline(log, line)) {
        if (line == "The negotiated protocol: h2") {
            ++count;
        }
    }
    return count;
}
