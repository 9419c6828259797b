#pragma once

#include <cstdint>

// An optional second face of the converter's DiagnosticLog: a log that also
// implements this interface hears of every resource that was fetched, with
// its size, so that a front end can show progress. The log messages
// themselves stay exactly what the conversion reports.
class ResourceProgress {
public:
    virtual ~ResourceProgress() = default;
    virtual void resourceFetched(const char* url, uint32_t byteCount) = 0;
};
