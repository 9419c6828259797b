#pragma once

#include <cstddef>

// Whether bytes that should be a page are one. A picture, an archive or a
// program handed over as "the page" would otherwise be converted into a
// message cut at its first NUL byte.

// What the bytes are when they are no page ("PNG image", "ZIP archive",
// "ELF executable", "binary data"), or null when they may be one: text
// without a NUL byte in its first kilobyte, or text that a byte-order mark
// declares as UTF-16 or UTF-32.
const char* nonPageKind(const unsigned char* bytes, size_t count);
