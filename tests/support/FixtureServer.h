#pragma once

#include "TestServer.h"

#include <string>

// The scripted test server (TestServer) serving a directory, started on
// 127.0.0.1 with a free port for the lifetime of the object.
class FixtureServer {
public:
    // root: directory of the served files; routes: a JSON routes file or "".
    FixtureServer(const std::string& root, const std::string& routes);
    FixtureServer(const FixtureServer&) = delete;
    FixtureServer& operator=(const FixtureServer&) = delete;

    bool running() const { return m_running; }
    int port() const { return m_server.port(); }
    // "http://127.0.0.1:<port>" + path
    std::string url(const std::string& path) const { return m_server.url(path); }

private:
    TestServer m_server;
    bool m_running = false;
};

// A port on 127.0.0.1 on which nothing listens.
int closedPort();
