#pragma once

class StringBuffer;

// One row of the built-in table: the content type of files with the
// extension (written without the dot).
struct ContentTypeRow {
    const char* contentType;
    const char* extension;
};

constexpr int kContentTypeRowCount = 191;

// The table in lookup order, followed by a row of two empty texts.
extern const ContentTypeRow kContentTypeTable[kContentTypeRowCount + 1];

// Appends the content type of the first row whose extension matches: the
// first byte exactly, the whole key without regard to ASCII case. Nothing
// when no row matches. The converter lower-cases the extension first.
void lookupContentType(const char* extension, StringBuffer& out);
