#pragma once

#include <string>

class StringBuffer;

// Where the command line's message goes: a file, written whole or not at
// all, or standard output ("-"). Every write and every close is checked, so
// that a full disk or a closed pipe is a failure, never a short message.

// Whether a message can go to path, asked before any download: an existing
// file that may be written, or a new one in an existing folder that may be
// written in. False (problem set) otherwise.
bool outputPathUsable(const std::string& path, std::string& problem);

bool writeMessageFile(const std::string& path, const StringBuffer& message, std::string& problem);
bool writeStandardOutput(const StringBuffer& message, std::string& problem);

// Flushes and closes standard output; false (problem set) when anything
// written to it was lost. Nothing may be written to it afterwards.
bool closeStandardOutput(std::string& problem);
