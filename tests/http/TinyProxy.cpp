#include "TinyProxy.h"

#include "LoopbackSocket.h"

TinyProxy::~TinyProxy() {
    stop();
}

bool TinyProxy::start(std::string* error) {
    // A free port can be taken by someone else before the proxy binds it;
    // a few tries make that harmless.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = findFreeLoopbackPort();
        std::string config =
            m_dir.write("tinyproxy.conf", "Port " + std::to_string(m_port) +
                                              "\nListen 127.0.0.1\nTimeout 30\nMaxClients 50\n"
                                              "Allow 127.0.0.1\nLogLevel Error\nLogFile \"" +
                                              m_dir.file("tinyproxy.log") + "\"\n");
        if (!m_process.start({"tinyproxy", "-d", "-c", config}, m_dir.file("stderr.txt"))) {
            break;
        }
        if (waitUntilListening(m_port, 5000) && m_process.running()) {
            return true;
        }
        m_process.stop();
    }
    if (error != nullptr) {
        *error = "tinyproxy did not start: " + readWholeFile(m_dir.file("stderr.txt")) +
                 readWholeFile(m_dir.file("tinyproxy.log"));
    }
    return false;
}

void TinyProxy::stop() {
    m_process.stop();
}

std::string TinyProxy::address() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

std::string TinyProxy::url() const {
    return "http://" + address();
}
