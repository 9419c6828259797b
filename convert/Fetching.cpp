// Fetching one resource, from the web or from a file: the resource loop
// (MessageAssembly.cpp), the style sheets (StyleSheets.cpp) and the imports
// of the complete mode ask here. A web download made ahead by the prefetch
// (Prefetching.cpp) is taken first; anything else is downloaded now.

#include "Mhtml.h"

#include "convert/ConvertText.h"
#include "convert/DataUrl.h"
#include "foundation/DataBuffer.h"
#include "foundation/DiagnosticLog.h"
#include "foundation/FileUrl.h"
#include "http/HttpDownload.h"
#include "http/VantrelHTTP.h"
#include "http/VantrelHttpImpl.h"

#include <cstring>
#include <memory>

void Mhtml::refuseLocalRead(const char* url) {
    if (m_log != nullptr) {
        m_log->logError("Refused to read a local file for a page from the web");
        m_log->logData("url", url);
    }
}

bool Mhtml::fetchResource(const char* url, DataBuffer& data, StringBuffer* finalUrl) {
    if (url == nullptr) {
        return false;
    }
    StringBuffer ignored;
    StringBuffer& from = finalUrl != nullptr ? *finalUrl : ignored;
    from.setString(url);
    if (noteLinkedSheet(url)) {
        return false;
    }
    DataUrl dataUrl;
    if (readDataUrl(url, dataUrl)) {
        data.append(dataUrl.bytes.data(), static_cast<uint32_t>(dataUrl.bytes.size()));
        return data.getSize() > 0;
    }
    if (isWebUrl(url)) {
        // A download made ahead stands for downloadUrl's first try.
        if (!takePrefetched(url, data, from)) {
            const std::unique_ptr<VantrelHTTP> client(downloadUrl(
                url, m_proxy.getString(), m_httpLogin.getString(), m_httpPassword.getString(), data,
                m_directAccess, m_log, m_ignoreCertErrors));
            if (client == nullptr) {
                return false;
            }
            const auto* impl = dynamic_cast<const VantrelHttpImpl*>(client.get());
            if (impl != nullptr && impl->finalUrl.getSize() > 0) {
                from.setSb(impl->finalUrl);
            }
        }
        if (m_log != nullptr) {
            m_log->logData("http_get", url);
        }
        return data.getSize() > 0;
    }
    // A page from the web must not put the user's own files into the mail.
    if (currentContext().m_fromWeb) {
        refuseLocalRead(url);
        return false;
    }
    StringBuffer path;
    localFilePath(url, path);
    return data.loadFile(path.getString(), m_log);
}

// What the user excluded is not fetched, whether as a part or as a sheet.
bool Mhtml::excluded(const char* url) const {
    for (int i = 0; i < m_excludes.getSize(); ++i) {
        const auto* exclude = static_cast<const StringBuffer*>(m_excludes.elementAt(i));
        if (exclude != nullptr && std::strstr(url, exclude->getString()) != nullptr) {
            return true;
        }
    }
    return false;
}
