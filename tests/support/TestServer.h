#pragma once

#include "ChildProcess.h"
#include "support/TempDir.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

// One request as the test server received it.
struct RecordedRequest {
    std::string method;
    std::string target; // path and query as sent
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    int clientPort = 0; // tells the connection the request came on
    int active = 0;     // requests not yet answered when it arrived, itself included

    // The first header of that name (any case); "" when there is none.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
};

struct TestServerOptions {
    std::string root;       // a directory served as files; empty: none
    std::string routesFile; // scripted routes (JSON); empty: none
    std::string certFile;   // both set: the server speaks HTTPS
    std::string keyFile;
    int delayMs = 0;            // added to every response
    int startTimeoutMs = 10000; // for its first line, the port
};

// The scripted HTTP(S) server of tests/http/test_server.py, run as a child
// process on 127.0.0.1 with a free port. See the script for the scripted
// responses ("/_/r?status=404&body=...", "/_/echo", "/_/chain/N", ...).
class TestServer {
public:
    explicit TestServer(TestServerOptions options = {});
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    // False (with the reason in error) when the server did not come up.
    bool start(std::string* error = nullptr);
    void stop();

    int port() const { return m_port; }
    bool tls() const { return !m_options.certFile.empty(); }
    // "http://127.0.0.1:<port>" (https for a TLS server).
    std::string origin() const;
    // origin() + path; the path begins with "/".
    std::string url(const std::string& path) const;

    // Every request received so far, in order of arrival.
    std::vector<RecordedRequest> requests() const;
    void clearRequests();

private:
    TestServerOptions m_options;
    TempDir m_dir;
    ChildProcess m_process;
    int m_port = 0;
};

// Percent-encodes everything but unreserved characters, for query values.
std::string urlEncode(const std::string& text);
