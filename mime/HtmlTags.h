#pragma once

#include <cstddef>
#include <string_view>

class DiagnosticLog;
class StringBuffer;

// The HTML tag functions that the page converter builds on; all scans go
// through ParseEngine.

// True when a base tag with a non-empty href was found; out holds the href.
bool findBaseHref(const char* html, StringBuffer& out);

// Where an attribute stands in a tag: its whole name (at the start of the tag
// text or right after a blank, tab, CR, LF, quote or "<", any case), "=" and
// a double quote, else "=" and a single quote (looked for only when no
// double-quoted one is written); the value runs to the next quote of that
// kind. False when there is no such attribute or its value is not closed.
// Every reader and editor of attribute values finds them here.
struct AttributeSpan {
    size_t nameStart = 0;
    size_t valueStart = 0; // behind the opening quote
    size_t valueEnd = 0;   // at the closing quote
};
bool findAttribute(std::string_view tag, const char* name, AttributeSpan& span);

// The value of the first attribute written as the name, "=" and a quoted
// value (double quotes looked for before single quotes), trimmed, with every
// backslash turned into a slash; empty when there is none. The name counts
// only as a whole attribute name: at the start of the tag text or right
// after a blank, tab, CR, LF, quote or "<".
void getAttributeValue(const char* tag, const char* name, StringBuffer& out);

// The charset that the first declaring meta tag names (http-equiv
// content-type with a CHARSET= in its content, or an HTML5 charset
// attribute); out is left unchanged when there is none.
void findMetaCharset(const char* html, StringBuffer& out);

// Rewrites one start tag so that every attribute value stands in quotes.
void cleanTag(const char* tag, StringBuffer& out, DiagnosticLog* log);
