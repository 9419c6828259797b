#pragma once

#include <cstdint>

// The content type of a web font part: "font/woff2", "font/woff", "font/ttf"
// or "font/otf", and "application/vnd.ms-fontobject" for the embedded
// OpenType fonts of old pages, which would otherwise be typed as HTML by
// their unknown extension. The first bytes decide ("wOF2", "wOFF", a
// TrueType version 0x00010000 or "true", "OTTO", "LP" at offset 34); without
// a known signature, the extension of the URL's path (".woff2", ".woff",
// ".ttf", ".otf", ".eot", any case, the query and fragment not counted).
// Null when neither names a font.
const char* fontTypeFor(const char* url, const unsigned char* bytes, uint32_t count);

// The signature test alone.
const char* sniffFontType(const unsigned char* bytes, uint32_t count);
