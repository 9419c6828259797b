#pragma once

// The abstract log through which operations report what went wrong, in a
// fixed order. A log is always borrowed; a null pointer means nothing is
// recorded. Texts passed in are valid only for the duration of the call.
class DiagnosticLog {
public:
    virtual void logError(const char* text) = 0;
    virtual void logInfo(const char* text) = 0;
    virtual void enterContext(const char* tag, bool flag) = 0;
    virtual void leaveContext() = 0;
    virtual void logData(const char* name, const char* value) = 0;
    virtual void logDataInt(const char* name, int value) = 0;

    virtual ~DiagnosticLog() = default;
};
