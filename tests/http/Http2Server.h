#pragma once

#include "ChildProcess.h"
#include "support/TempDir.h"

#include <string>
#include <utility>
#include <vector>

// One request as the HTTP/2 server logged it.
struct Http2Request {
    int connection = 0; // the server's number for the connection it came on
    int stream = 0;
    // In the order sent, the pseudo-headers (":method", ":path", ...) included.
    std::vector<std::pair<std::string, std::string>> headers;

    // The first header of that name; "" when there is none.
    std::string header(const std::string& name) const;
};

// Debian's nghttpd, a server that speaks nothing but HTTP/2, run by a test
// on a free loopback port over TLS with the test CA's certificate for
// 127.0.0.1. It serves the files put in its directory (a directory asked
// for without its trailing slash is redirected there with 301; a missing
// file is a 404), and its verbose log tells the connection and stream that
// each request came on.
class Http2Server {
public:
    Http2Server() = default;
    ~Http2Server();
    Http2Server(const Http2Server&) = delete;
    Http2Server& operator=(const Http2Server&) = delete;

    // The server program's path; "" when it is not installed.
    static std::string program();

    // Puts a file to serve at path (relative, "/" separated).
    void addFile(const std::string& path, const std::string& bytes);

    // False (with the reason in error) when the server did not come up.
    bool start(std::string* error = nullptr);
    void stop();

    int port() const { return m_port; }
    // "https://127.0.0.1:<port>" + path; the path begins with "/".
    std::string url(const std::string& path) const;

    // Every request logged so far, in order of arrival.
    std::vector<Http2Request> requests() const;
    // How many connections agreed on HTTP/2 in the TLS handshake.
    int http2Connections() const;

private:
    TempDir m_dir;
    ChildProcess m_process;
    int m_port = 0;
};
