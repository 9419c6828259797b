#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

// A headless Chromium (or Chrome) started for one task and spoken to over
// its DevTools pipe: the browser reads commands on its file descriptor 3
// and writes answers and events on 4, each message one JSON text ended by a
// NUL byte, so that no WebSocket is needed and no port is opened. The
// browser runs in a process group of its own, which goes away with the
// object, also when the program is interrupted.
class ChromiumPipe {
public:
    using Deadline = std::chrono::steady_clock::time_point;

    ChromiumPipe() = default;
    ~ChromiumPipe();
    ChromiumPipe(const ChromiumPipe&) = delete;
    ChromiumPipe& operator=(const ChromiumPipe&) = delete;

    // Starts program with arguments (the pipe switch is added here) and
    // this program's environment, in which the browser's temporary files go
    // to temporaryFolder. False with the reason in words.
    bool start(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& temporaryFolder, std::string& problem);

    // Sends one message; false when the browser is gone.
    bool send(const std::string& message);

    // The next whole message. False (problem set) when none came before the
    // deadline or the browser closed its end.
    bool receive(std::string& message, Deadline deadline, std::string& problem);

    // Ends the browser and every process it started, and waits for it.
    void stop();

    // False once the browser closed its end of the pipe.
    bool open() const { return m_fromBrowser >= 0; }

private:
    bool takeWhole(std::string& message);

    pid_t m_pid = -1;
    int m_toBrowser = -1;
    int m_fromBrowser = -1;
    std::string m_received;
};

// The browser to run: the program PAGEWING_CHROMIUM names when it is set,
// else the first of chromium, chromium-browser and google-chrome found on
// PATH. False (problem set) when there is none.
bool findChromium(std::string& program, std::string& problem);
