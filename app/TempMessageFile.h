#pragma once

#include <string>

class StringBuffer;

// The message file that the mail client is given, in the shared temporary
// directory. The file is created exclusively (O_CREAT | O_EXCL |
// O_NOFOLLOW, mode 0600): a name that is taken, by a file or by a link that
// someone planted, is never written through; the next unique name is tried.

// Candidate number n for a name: n = 1 is the name itself, n >= 2 is the
// stem, the thread id in lower-case hexadecimal, "_", n and the extension
// ("wpx.eml", "wpx1a2b_2.eml", "wpx1a2b_3.eml", ...).
std::string uniqueNameCandidate(const char* name, int counter);

// Creates the first free candidate in directory (which ends in "/") and
// writes all of text to it. True when a file was created; path then names
// it (also when the write itself fell short). False when no file could be
// created, with path empty.
bool writeExclusiveMessageFile(const std::string& directory, const char* name,
                               const StringBuffer& text, std::string& path);

// The same in the temporary directory ($TMPDIR, else /tmp).
bool writeTemporaryMessageFile(const char* name, const StringBuffer& text, std::string& path);
