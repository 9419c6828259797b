#pragma once

#include "foundation/DiagnosticLog.h"

#include <string>
#include <vector>

// Records every log call as one line, in order, so that a test can compare
// the exact sequence of messages an operation writes:
//   "error: <text>", "info: <text>", "enter: <tag>", "leave",
//   "data: <name>=<value>", "int: <name>=<value>".
class RecordingLog : public DiagnosticLog {
public:
    void logError(const char* text) override;
    void logInfo(const char* text) override;
    void enterContext(const char* tag, bool flag) override;
    void leaveContext() override;
    void logData(const char* name, const char* value) override;
    void logDataInt(const char* name, int value) override;

    const std::vector<std::string>& lines() const { return m_lines; }
    // Only the lines that begin with the given prefix ("error: " and so on).
    std::vector<std::string> linesStartingWith(const std::string& prefix) const;
    bool has(const std::string& line) const;
    void clear() { m_lines.clear(); }

private:
    std::vector<std::string> m_lines;
};
