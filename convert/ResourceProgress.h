#pragma once

#include <cstdint>

// An optional second face of the converter's DiagnosticLog: a log that also
// implements this interface hears of the page and of every resource, fetched
// or not, so that a front end can show progress and say what is missing.
// The log messages themselves stay exactly what the conversion reports.
class ResourceProgress {
public:
    virtual ~ResourceProgress() = default;
    // The page itself is being fetched or read.
    virtual void pageStarted(const char* /*url*/) {}
    // This many more resources are about to be fetched.
    virtual void resourcesExpected(int /*count*/) {}
    virtual void resourceFetched(const char* url, uint32_t byteCount) = 0;
    // problem: why, in words ("the server answered 404 Not Found").
    virtual void resourceFailed(const char* /*url*/, const char* /*problem*/) {}
};
