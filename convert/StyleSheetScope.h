#pragma once

#include "foundation/StringBuffer.h"

class Mhtml;

// While a fetched style sheet is rewritten, its relative url() values are
// resolved against the sheet itself; the document's base, root and mode come
// back when the scope ends. Scopes nest: a sheet imported by a sheet gets its
// own scope inside the one of the sheet that imports it.
class StyleSheetScope {
public:
    StyleSheetScope(Mhtml& converter, const char* url);
    ~StyleSheetScope();
    StyleSheetScope(const StyleSheetScope&) = delete;
    StyleSheetScope& operator=(const StyleSheetScope&) = delete;

private:
    void enterWebSheet(const char* url);
    void enterFileSheet(const char* url);

    Mhtml& m_converter;
    StringBuffer m_savedBase;
    StringBuffer m_savedRoot;
    StringBuffer m_savedDirectory;
    bool m_savedLocal;
    bool m_savedInFile;
};
