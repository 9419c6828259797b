#pragma once

class StringBuffer;

// Rewrites the many spellings and aliases of a charset name, in place, into
// the smaller set of names that lookupCodePage knows.
void normalizeCharsetName(StringBuffer& name);

// The code page of a normalized charset name, or 0 when it is not known.
int lookupCodePage(const char* normalizedName);

// One key of the name table and its code page.
struct CharsetNameEntry {
    const char* key;
    int codePage;
};

// Every key of the name table, in table order (for tests and tools).
const CharsetNameEntry* charsetNameTable(int* count);
