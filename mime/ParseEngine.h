#pragma once

#include "foundation/StringBuffer.h"

// The cursor with which every scan of HTML and header text is done. It keeps
// its own copy of the text and a read position; captured text is appended
// to a caller's StringBuffer.
//
// Contract: text searches ignore ASCII letter case, single-byte tests are
// exact, and no step ever moves pos beyond the terminating NUL. Callers may
// read text.charAt(pos) and move pos themselves.
class ParseEngine {
public:
    ParseEngine() = default;
    ParseEngine(const ParseEngine&) = delete;
    ParseEngine& operator=(const ParseEngine&) = delete;

    void load(const char* source);

    void skipWhitespace();
    void skipToChar(char c);
    void captureUntilAny(const char* set, StringBuffer& out);
    void captureUntilChar(char c, StringBuffer& out);
    void captureUntilCharQuoted(char c, StringBuffer& out);
    void captureUntilCharQuotedStrict(char c, StringBuffer& out);
    bool seekTo(const char* marker);
    bool seekPast(const char* marker);
    bool captureThrough(const char* marker, StringBuffer& out);

    char current() const { return text.charAt(pos); }
    bool atEnd() const { return pos >= text.getSize(); }

    StringBuffer text;
    int pos = 0;

private:
    void captureQuoted(char c, StringBuffer& out, bool strict);
};

#include "mime/HtmlTags.h"
