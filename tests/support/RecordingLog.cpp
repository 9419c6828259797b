#include "RecordingLog.h"

#include <algorithm>

namespace {

std::string orEmpty(const char* text) {
    return text != nullptr ? std::string(text) : std::string("(null)");
}

} // namespace

void RecordingLog::logError(const char* text) {
    m_lines.push_back("error: " + orEmpty(text));
}

void RecordingLog::logInfo(const char* text) {
    m_lines.push_back("info: " + orEmpty(text));
}

void RecordingLog::enterContext(const char* tag, bool /*flag*/) {
    m_lines.push_back("enter: " + orEmpty(tag));
}

void RecordingLog::leaveContext() {
    m_lines.emplace_back("leave");
}

void RecordingLog::logData(const char* name, const char* value) {
    m_lines.push_back("data: " + orEmpty(name) + "=" + orEmpty(value));
}

void RecordingLog::logDataInt(const char* name, int value) {
    m_lines.push_back("int: " + orEmpty(name) + "=" + std::to_string(value));
}

std::vector<std::string> RecordingLog::linesStartingWith(const std::string& prefix) const {
    std::vector<std::string> selected;
    for (const std::string& line : m_lines) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            selected.push_back(line);
        }
    }
    return selected;
}

bool RecordingLog::has(const std::string& line) const {
    return std::find(m_lines.begin(), m_lines.end(), line) != m_lines.end();
}
