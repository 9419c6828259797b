#pragma once

#include <cstdint>

// The content type of a web font part: "font/woff2", "font/woff", "font/ttf"
// or "font/otf". The first bytes decide ("wOF2", "wOFF", a TrueType version
// 0x00010000 or "true", "OTTO"); without a known signature, the extension of
// the URL's path (".woff2", ".woff", ".ttf", ".otf", any case, the query and
// fragment not counted). Null when neither names a font.
const char* fontTypeFor(const char* url, const unsigned char* bytes, uint32_t count);

// The signature test alone.
const char* sniffFontType(const unsigned char* bytes, uint32_t count);
