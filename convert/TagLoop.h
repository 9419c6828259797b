#pragma once

#include "foundation/StringBuffer.h"

#include <functional>

class DiagnosticLog;

// One tag found by the common tag loop.
struct FoundTag {
    // The tag as found, from the "<" of its prefix through its ">"; a tag
    // that the text ends inside gains a ">".
    StringBuffer found;
    // The found tag in the normal form of cleanTag.
    StringBuffer cleaned;
    // The loop's attribute as read from the cleaned tag; empty when missing.
    StringBuffer value;
};

// How the tag text is taken up to its closing ">".
enum class TagCapture {
    // The next ">" outside quotes (else the first ">").
    Quoted,
    // As Quoted, with the strict rule for a quote right after a closing one.
    QuotedStrict,
    // As Quoted, but a tag text longer than 900 bytes is taken again up to
    // the first ">" whatever the quotes (links with broken quoting).
    QuotedAtMost900,
};

struct TagLoopSettings {
    const char* prefix = nullptr;    // found without regard to ASCII case
    const char* attribute = nullptr; // read with getAttributeValue
    TagCapture capture = TagCapture::Quoted;
    DiagnosticLog* cleanLog = nullptr; // handed to cleanTag
    // When set, a tag whose text holds none of these (ASCII case aside) is
    // kept as found without being cleaned or handed over: for passes that
    // change only tags with certain attributes, on pages full of other tags.
    const char* onlyWith[2] = {nullptr, nullptr};
};

// Appends to out what stands in the new HTML in place of the tag.
using TagHandler = std::function<void(FoundTag& tag, StringBuffer& out)>;

// The loop that every attribute-rewriting pass shares: the text between the
// tags is copied, each tag that begins with the prefix is found, cleaned and
// its attribute read, and the handler decides what replaces it. The scan
// never passes the end of the text, so every pass ends.
void runTagLoop(StringBuffer& html, const TagLoopSettings& settings, const TagHandler& handler);

// Replaces the value of an attribute in a cleaned tag, found by findAttribute
// (mime/HtmlTags.h); without such an attribute the tag stays as it is.
void replaceAttributeValue(StringBuffer& tag, const char* name, const char* value);
