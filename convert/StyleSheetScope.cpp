// While a fetched sheet's references are rewritten (StyleSheets.cpp,
// CssUrls.cpp), they resolve against the sheet's own address.

#include "StyleSheetScope.h"

#include "Mhtml.h"
#include "convert/ConvertText.h"
#include "foundation/FileUrl.h"

#include <cstring>

StyleSheetScope::StyleSheetScope(Mhtml& converter, const char* url)
    : m_converter(converter), m_savedLocal(converter.m_local),
      m_savedInFile(converter.m_inStyleSheetFile) {
    m_savedBase.setSb(converter.currentBaseUrl());
    m_savedRoot.setSb(converter.currentRootUrl());
    m_savedDirectory.setSb(converter.m_styleSheetDirectory);
    if (isWebUrl(url)) {
        enterWebSheet(url);
    } else {
        enterFileSheet(url);
    }
}

StyleSheetScope::~StyleSheetScope() {
    m_converter.currentBaseUrl().setSb(m_savedBase);
    m_converter.currentRootUrl().setSb(m_savedRoot);
    m_converter.m_local = m_savedLocal;
    m_converter.m_inStyleSheetFile = m_savedInFile;
    m_converter.m_styleSheetDirectory.setSb(m_savedDirectory);
}

void StyleSheetScope::enterWebSheet(const char* url) {
    // The sheet's own base and root are working state, not news for the log.
    DiagnosticLog* log = m_converter.m_log;
    m_converter.m_log = nullptr;
    m_converter.setBaseAndRoot(url);
    m_converter.m_log = log;
    m_converter.m_local = false;
    m_converter.m_inStyleSheetFile = false;
}

void StyleSheetScope::enterFileSheet(const char* url) {
    StringBuffer path(url);
    stripFileUrl(path);
    const char* lastSlash = std::strrchr(path.getString(), '/');
    const int directoryLength =
        lastSlash != nullptr ? static_cast<int>(lastSlash - path.getString()) + 1 : 0;
    m_converter.m_styleSheetDirectory.clear();
    m_converter.m_styleSheetDirectory.appendBytes(path.getString(), directoryLength);
    m_converter.m_local = true;
    m_converter.m_inStyleSheetFile = true;
}
