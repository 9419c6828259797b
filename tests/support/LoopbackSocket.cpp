#include "LoopbackSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in loopbackAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Binds a fresh socket to a free loopback port; -1 on failure.
int bindLoopback(int& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address = loopbackAddress(0);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

int findFreeLoopbackPort() {
    int port = 0;
    int fd = bindLoopback(port);
    if (fd < 0) {
        return 0;
    }
    close(fd);
    return port;
}

bool waitUntilListening(int port, int timeoutMs) {
    for (int waited = 0; waited <= timeoutMs; waited += 20) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopbackAddress(port);
        bool connected =
            fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (fd >= 0) {
            close(fd);
        }
        if (connected) {
            return true;
        }
        usleep(20 * 1000);
    }
    return false;
}

SilentListener::SilentListener() {
    m_socket = bindLoopback(m_port);
    if (m_socket >= 0 && listen(m_socket, 16) != 0) {
        close(m_socket);
        m_socket = -1;
    }
}

SilentListener::~SilentListener() {
    if (m_socket >= 0) {
        close(m_socket);
    }
}
