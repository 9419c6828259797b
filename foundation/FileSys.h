#pragma once

class DiagnosticLog;
class StringBuffer;

// File access: sizes, existence, unique names, whole-file writes.
//
// Contract: sizes are signed 32-bit and -1 means failure; files of 2 GiB and
// more fail as if their size could not be obtained. Failures are reported
// through the result and, when a log is given, through fixed messages.
// writeFile never destroys the old file on a failed write: it writes a
// temporary file beside the target, flushes it and renames it over. A device
// or a pipe is written into instead, never replaced.
class FileSys {
public:
    virtual ~FileSys() = default;

    static int getFileSize(const char* path, DiagnosticLog* log);
    static bool fileExists(const char* path, StringBuffer& errorText);
    static bool getTempFilename(const char* name, StringBuffer& out);
    static bool getUniqueFilename(const char* name, const char* dir, StringBuffer& out);
    static bool writeFile(const char* path, const void* data, int size, DiagnosticLog* log);

    // $TMPDIR, else /tmp, always ending in "/".
    static void getTempDirectory(StringBuffer& out);
    // The working directory, or "" when it cannot be read.
    static void getCurrentDirectory(StringBuffer& out);
};
