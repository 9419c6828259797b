#pragma once

#include "DiagnosticLog.h"

#include <cstdio>

// A DiagnosticLog that writes every call as readable text to a stream, one
// line per call, indented by the depth of the open contexts:
//
//   external_content {
//     contentLocation = http://host/a.gif
//     error: Failed to download or include external content.
//   }
//
// Long values are cut (their full length is shown) and control bytes are
// written as escapes, so a page dumped into a value never floods a terminal.
class StreamLog : public DiagnosticLog {
public:
    explicit StreamLog(std::FILE* stream, int maxValueBytes = 400);

    void logError(const char* text) override;
    void logInfo(const char* text) override;
    void enterContext(const char* tag, bool flag) override;
    void leaveContext() override;
    void logData(const char* name, const char* value) override;
    void logDataInt(const char* name, int value) override;

    int depth() const { return m_depth; }

private:
    void writeIndent();
    void writeText(const char* text);

    std::FILE* m_stream;
    int m_maxValueBytes;
    int m_depth = 0;
};
