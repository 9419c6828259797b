#include "FixtureServer.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kStartTimeoutMs = 15000;

// Reads the first line the server prints ("PORT <n>"), waiting at most the
// start timeout.
int readPortLine(int fd) {
    std::string line;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return 0;
        }
        pollfd waiting{fd, POLLIN, 0};
        if (poll(&waiting, 1, static_cast<int>(left)) <= 0) {
            return 0;
        }
        char chunk[64];
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got <= 0) {
            return 0;
        }
        line.append(chunk, static_cast<size_t>(got));
    }
    int port = 0;
    return std::sscanf(line.c_str(), "PORT %d", &port) == 1 ? port : 0;
}

} // namespace

FixtureServer::FixtureServer(const std::string& root, const std::string& routes) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);

    const std::string script = std::string(PAGEWING_SOURCE_DIR) + "/tests/http/test_server.py";
    std::vector<std::string> words{PAGEWING_PYTHON, script, "--port", "0", "--root", root};
    if (!routes.empty()) {
        words.push_back("--routes");
        words.push_back(routes);
    }
    std::vector<char*> arguments;
    for (std::string& word : words) {
        arguments.push_back(word.data());
    }
    arguments.push_back(nullptr);
    const int spawned =
        posix_spawn(&m_pid, PAGEWING_PYTHON, &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (spawned != 0) {
        m_pid = -1;
        close(pipeEnds[0]);
        return;
    }
    m_port = readPortLine(pipeEnds[0]);
    close(pipeEnds[0]);
}

FixtureServer::~FixtureServer() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

std::string FixtureServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

int closedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return 1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    int port = 1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    // Bound but never listening: a connection is refused.
    close(fd);
    return port;
}
