#pragma once

#include "convert/ResourceProgress.h"
#include "foundation/DiagnosticLog.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

// The log the command line gives the converter. It passes every call on to
// the readable log when one was asked for (--verbose), remembers the last
// errors of the conversion itself, outside the contexts of single
// resources, for the one-line failure report, and keeps one progress line
// up to date with the resources fetched and their bytes.
class ProgressLog : public DiagnosticLog, public ResourceProgress {
public:
    // inner may be null; a null progress stream draws no progress line.
    ProgressLog(DiagnosticLog* inner, std::FILE* progressStream);
    ProgressLog(const ProgressLog&) = delete;
    ProgressLog& operator=(const ProgressLog&) = delete;

    void logError(const char* text) override;
    void logInfo(const char* text) override;
    void enterContext(const char* tag, bool flag) override;
    void leaveContext() override;
    void logData(const char* name, const char* value) override;
    void logDataInt(const char* name, int value) override;

    void resourceFetched(const char* url, uint32_t byteCount) override;

    // Draws the final count and ends the progress line, when one was drawn.
    void finish();

    // What went wrong, from the last error and the one before it ("Failed
    // to open file (No such file or directory)"); empty when none was logged.
    std::string failureReason() const;

    int resourceCount() const { return m_resources; }
    uint64_t byteCount() const { return m_bytes; }

private:
    void draw(bool force);

    DiagnosticLog* m_inner;
    std::FILE* m_progress;
    int m_depth = 0;
    std::string m_lastError;
    std::string m_errorBefore;
    int m_resources = 0;
    uint64_t m_bytes = 0;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_lastDraw;
};
