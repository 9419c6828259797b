#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A child process started for a test, with its standard output readable
// line by line; stopped (SIGTERM, then SIGKILL) when the object goes away.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (searched on PATH) with the arguments; standard error
    // goes to errorFile when one is given, and standard output to
    // outputFile when one is given (a child that writes more than a pipe
    // holds while the test is busy would block), which leaves no lines to
    // read. False when it could not start.
    bool start(const std::vector<std::string>& argv, const std::string& errorFile = "",
               const std::string& outputFile = "");
    // The next line of the child's output without its line end; false when
    // none came within the time or the output ended.
    bool readLine(std::string& line, int timeoutMs);
    bool running();
    void stop();
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_output = -1;
    std::string m_pending;
};
