#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

class ExtPtrArray;
class StringBuffer;

// Plain-text scans over a document's HTML that the clean-up steps share.

// What to do with one block found by scanBlocks: the text from the "<" of
// its start marker through the end of its end marker. The callback appends
// whatever replaces the block to out.
using BlockHandler = std::function<void(const char* block, int length, StringBuffer& out)>;

// Rebuilds html: every stretch from startMarker through the next endMarker
// (both found without regard to ASCII case, the end searched from the start
// marker's first byte) is handed to onBlock. Where no end marker follows, the
// text from the start marker up to the next ">" stays as it is and the scan
// goes on from there; without a later ">" the rest stays. Runs in one pass:
// once the end marker is known to be absent behind some position, it is not
// searched for again.
void scanBlocks(StringBuffer& html, const char* startMarker, const char* endMarker,
                const BlockHandler& onBlock);

// Puts blocks (StringBuffer objects, in order) back in place of the first
// occurrences of placeholder, in one pass; placeholders beyond the last
// block stay. Text inside a restored block is never taken for a placeholder.
void restorePlaceholders(StringBuffer& html, const char* placeholder, const ExtPtrArray& blocks);

// replaceAll in one pass with the result's size known beforehand, so that a
// large text is copied once (the buffer's own growth is capped per step).
// Byte-wise and case-sensitive like replaceAll; returns the number replaced.
int replaceEvery(StringBuffer& text, const char* find, const char* replacement);

// Appends count bytes, growing out to at least twice its size when it is
// full, so that a pass whose output outgrows its input stays linear.
void appendGrowing(StringBuffer& out, const char* bytes, int count);
void appendGrowing(StringBuffer& out, const StringBuffer& text);

// Where a stretch that no tag pass looks into ends, when one begins at the
// "<" at lt: a comment, a style element, a script element; npos otherwise.
// An unclosed one runs to the end.
size_t endOfOpaqueStretch(std::string_view text, size_t lt);
