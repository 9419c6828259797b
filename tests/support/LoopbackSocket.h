#pragma once

// Helpers for tests that need ports on 127.0.0.1.

// A port on 127.0.0.1 that nothing listens on at the moment of the call.
int findFreeLoopbackPort();

// True once something accepts connections on 127.0.0.1:port, polling for at
// most timeoutMs.
bool waitUntilListening(int port, int timeoutMs);

// A socket that listens on a free loopback port and never accepts or
// answers: connections complete in the kernel and then hear nothing, so
// that timeouts can be tested without a real network.
class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    int port() const { return m_port; }
    bool ok() const { return m_socket >= 0; }

private:
    int m_socket = -1;
    int m_port = 0;
};
