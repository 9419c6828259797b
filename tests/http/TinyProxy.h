#pragma once

#include "ChildProcess.h"
#include "support/TempDir.h"

#include <string>

// Debian's tinyproxy, run by a test on a free loopback port with a
// generated configuration that admits only 127.0.0.1.
class TinyProxy {
public:
    TinyProxy() = default;
    ~TinyProxy();
    TinyProxy(const TinyProxy&) = delete;
    TinyProxy& operator=(const TinyProxy&) = delete;

    // False (with the reason in error) when the proxy did not come up.
    bool start(std::string* error = nullptr);
    void stop();

    int port() const { return m_port; }
    // "127.0.0.1:<port>", the form a proxy setting takes.
    std::string address() const;
    // "http://127.0.0.1:<port>", the form of http_proxy.
    std::string url() const;

private:
    TempDir m_dir;
    ChildProcess m_process;
    int m_port = 0;
};
