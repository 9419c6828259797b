#pragma once

#include <string>
#include <vector>

// Readers for the session files of Firefox, as pure functions over bytes:
// a truncated or hostile file gives no URL, never a crash.

// Decodes a "mozLz40\0" file: the magic, the decoded size as a 32-bit
// little-endian number, then one LZ4 block. False when the bytes are not
// such a file or the block does not decode to exactly that size.
bool decodeMozLz4(const std::string& bytes, std::string& decoded);
// The same, with what is wrong in words ("not a mozLz40 file", ...).
bool decodeMozLz4(const std::string& bytes, std::string& decoded, std::string& problem);

// The URL of the current entry (entries[index - 1]) of every tab of every
// window of a session document, in window and tab order. Tabs without a
// usable entry are left out; a document that does not parse gives none.
std::vector<std::string> firefoxSessionUrls(const std::string& json);

// decodeMozLz4 followed by firefoxSessionUrls.
std::vector<std::string> firefoxSessionFileUrls(const std::string& bytes);
