#pragma once

#include <string>
#include <sys/types.h>

// The scripted test server of the HTTP tests (tests/http/test_server.py),
// started on 127.0.0.1 with a free port for the lifetime of the object.
class FixtureServer {
public:
    // root: directory of the served files; routes: a JSON routes file or "".
    FixtureServer(const std::string& root, const std::string& routes);
    ~FixtureServer();
    FixtureServer(const FixtureServer&) = delete;
    FixtureServer& operator=(const FixtureServer&) = delete;

    bool running() const { return m_port > 0; }
    int port() const { return m_port; }
    // "http://127.0.0.1:<port>" + path
    std::string url(const std::string& path) const;

private:
    pid_t m_pid = -1;
    int m_port = 0;
};

// A port on 127.0.0.1 on which nothing listens.
int closedPort();
