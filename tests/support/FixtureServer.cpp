#include "FixtureServer.h"

#include "LoopbackSocket.h"

#include <cstdio>

namespace {

// A loaded machine may take a while to start Python.
constexpr int kStartTimeoutMs = 15000;

TestServerOptions servingDirectory(const std::string& root, const std::string& routes) {
    TestServerOptions options;
    options.root = root;
    options.routesFile = routes;
    options.startTimeoutMs = kStartTimeoutMs;
    return options;
}

} // namespace

FixtureServer::FixtureServer(const std::string& root, const std::string& routes)
    : m_server(servingDirectory(root, routes)) {
    std::string error;
    m_running = m_server.start(&error);
    if (!m_running) {
        std::fprintf(stderr, "%s\n", error.c_str());
    }
}

int closedPort() {
    // Bound for a moment and never listened on: a connection is refused.
    const int port = findFreeLoopbackPort();
    return port > 0 ? port : 1;
}
