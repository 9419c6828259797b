#pragma once

#include "convert/ResourceProgress.h"
#include "foundation/DiagnosticLog.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

// The log the command line gives the converter. It passes every call on to
// the diagnostic log when one was asked for (-vv), remembers the last
// errors of the conversion itself, outside the contexts of single
// resources, for the one-line failure report, counts the resources that
// arrived and those that did not, writes one line per resource to the
// report stream (-v), and keeps one progress line up to date.
class Mhtml;

class ProgressLog : public DiagnosticLog, public ResourceProgress {
public:
    // inner may be null; a null progress stream draws no progress line.
    ProgressLog(DiagnosticLog* inner, std::FILE* progressStream);
    ProgressLog(const ProgressLog&) = delete;
    ProgressLog& operator=(const ProgressLog&) = delete;

    // Where the line of each resource goes; null (the default) for none.
    void setReportStream(std::FILE* stream) { m_report = stream; }

    void logError(const char* text) override;
    void logInfo(const char* text) override;
    void enterContext(const char* tag, bool flag) override;
    void leaveContext() override;
    void logData(const char* name, const char* value) override;
    void logDataInt(const char* name, int value) override;

    void pageStarted(const char* url) override;
    void resourcesExpected(int count) override;
    void resourceFetched(const char* url, uint32_t byteCount) override;
    void resourceFailed(const char* url, const char* problem) override;

    // Draws the final count and ends the progress line, when one was drawn.
    void finish();

    // What went wrong, from the last error and the one before it ("Failed
    // to open file (No such file or directory)"); empty when none was logged.
    std::string failureReason() const;

    int resourceCount() const { return m_resources; }
    int failedCount() const { return m_failed; }
    uint64_t byteCount() const { return m_bytes; }

private:
    void draw(bool force);
    void report(const char* format, const char* url, const char* detail);

    DiagnosticLog* m_inner;
    std::FILE* m_progress;
    std::FILE* m_report = nullptr;
    int m_depth = 0;
    std::string m_lastError;
    std::string m_errorBefore;
    std::string m_page;
    int m_resources = 0;
    int m_failed = 0;
    int m_expected = 0;
    uint64_t m_bytes = 0;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_lastDraw;
};

// Why a conversion that failed failed, in words for the user: the page's
// own problem ("the server answered 404 Not Found"), else what the log
// caught last, else a general line for a fetched page or a file.
std::string conversionFailureReason(const Mhtml& converter, const ProgressLog& log, bool fetched);
