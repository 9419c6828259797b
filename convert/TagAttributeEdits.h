#pragma once

#include <cstddef>
#include <string_view>

class StringBuffer;

#include "mime/HtmlTags.h"

// Edits of one attribute in a tag, found by findAttribute (mime/HtmlTags.h).

// Removes the attribute with the white space in front of it; true when there
// was one.
bool removeTagAttribute(StringBuffer& tag, const char* name);

// Removes every attribute of that name written without a value ("<img src
// alt=x>"), with the white space in front of it, so that a value given to
// the name later is the only one; true when there was one.
bool removeBareTagAttributes(StringBuffer& tag, const char* name);

// Gives the attribute another name, its value unchanged; true when there was one.
bool renameTagAttribute(StringBuffer& tag, const char* name, const char* newName);

// Puts name="value" behind the tag name ("<img" + ' src="a.gif"' + ...).
void insertTagAttribute(StringBuffer& tag, const char* name, const char* value);

// A start tag as written in the page, at the "<" at position lt of text:
// where its closing ">" stands (npos when the text ends first; a ">" inside
// a quoted value does not count), and where the values of its first style
// attribute, its first data-bg attribute (a lazy loader's background
// picture) and its first media attribute stand (quoted with either quote, or unquoted), as a
// browser takes them. Positions are in text.
struct RawValue {
    bool present = false;
    char quote = 0; // 0 when unquoted
    size_t start = 0;
    size_t end = 0;
};
struct RawTag {
    size_t end = std::string_view::npos;
    RawValue style;
    RawValue lazyBackground;
    RawValue media;
};
RawTag readRawTag(std::string_view text, size_t lt);
