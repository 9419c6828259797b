#include "TestServer.h"

#include <fstream>
#include <nlohmann/json.hpp>

#ifndef PAGEWING_TEST_SERVER_SCRIPT
#error "PAGEWING_TEST_SERVER_SCRIPT must name tests/http/test_server.py"
#endif

namespace {

bool equalsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// The log holds Latin-1 text in JSON strings; each character is one byte.
std::string toBytes(const std::string& utf8) {
    std::string bytes;
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80 || i + 1 >= utf8.size()) {
            bytes.push_back(static_cast<char>(c));
        } else {
            unsigned char next = static_cast<unsigned char>(utf8[++i]);
            bytes.push_back(static_cast<char>(((c & 0x1F) << 6) | (next & 0x3F)));
        }
    }
    return bytes;
}

} // namespace

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (equalsNoCase(key, name)) {
            return value;
        }
    }
    return {};
}

bool RecordedRequest::hasHeader(const std::string& name) const {
    for (const auto& entry : headers) {
        if (equalsNoCase(entry.first, name)) {
            return true;
        }
    }
    return false;
}

TestServer::TestServer(TestServerOptions options) : m_options(std::move(options)) {}

TestServer::~TestServer() {
    stop();
}

bool TestServer::start(std::string* error) {
    std::vector<std::string> argv = {PAGEWING_PYTHON, PAGEWING_TEST_SERVER_SCRIPT, "--port", "0",
                                     "--log",         m_dir.file("requests.jsonl")};
    if (!m_options.root.empty()) {
        argv.insert(argv.end(), {"--root", m_options.root});
    }
    if (!m_options.routesFile.empty()) {
        argv.insert(argv.end(), {"--routes", m_options.routesFile});
    }
    if (!m_options.certFile.empty()) {
        argv.insert(argv.end(), {"--cert", m_options.certFile, "--key", m_options.keyFile});
    }
    if (m_options.delayMs > 0) {
        argv.insert(argv.end(), {"--delay-ms", std::to_string(m_options.delayMs)});
    }
    std::string errorFile = m_dir.file("stderr.txt");
    std::string line;
    if (!m_process.start(argv, errorFile) || !m_process.readLine(line, m_options.startTimeoutMs) ||
        line.rfind("PORT ", 0) != 0) {
        if (error != nullptr) {
            *error = "test server did not start: " + readWholeFile(errorFile);
        }
        m_process.stop();
        return false;
    }
    m_port = std::stoi(line.substr(5));
    return true;
}

void TestServer::stop() {
    m_process.stop();
}

std::string TestServer::origin() const {
    return std::string(tls() ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port);
}

std::string TestServer::url(const std::string& path) const {
    return origin() + path;
}

std::vector<RecordedRequest> TestServer::requests() const {
    std::vector<RecordedRequest> found;
    std::ifstream log(m_dir.file("requests.jsonl"));
    std::string line;
    while (std::getline(log, line)) {
        nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
        if (entry.is_discarded()) {
            continue;
        }
        RecordedRequest request;
        request.method = entry.value("method", "");
        request.target = toBytes(entry.value("target", ""));
        for (const auto& pair : entry["headers"]) {
            request.headers.emplace_back(toBytes(pair[0].get<std::string>()),
                                         toBytes(pair[1].get<std::string>()));
        }
        request.body = toBytes(entry.value("body", ""));
        request.clientPort = entry.value("client_port", 0);
        request.active = entry.value("active", 0);
        found.push_back(std::move(request));
    }
    return found;
}

void TestServer::clearRequests() {
    std::ofstream(m_dir.file("requests.jsonl"), std::ios::trunc);
}

std::string urlEncode(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            encoded.push_back(static_cast<char>(c));
        } else {
            encoded.push_back('%');
            encoded.push_back(hex[c >> 4]);
            encoded.push_back(hex[c & 15]);
        }
    }
    return encoded;
}
