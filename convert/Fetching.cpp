// Fetching one resource, from the web or from a file: the resource loop
// (MessageAssembly.cpp), the style sheets (StyleSheets.cpp) and the imports
// of the complete mode ask here. A web download made ahead by the prefetch
// (Prefetching.cpp) is taken first; anything else is downloaded now.

#include "Mhtml.h"

#include "convert/ConvertText.h"
#include "convert/DataUrl.h"
#include "convert/ResourceProgress.h"
#include "foundation/DataBuffer.h"
#include "foundation/DiagnosticLog.h"
#include "foundation/FileUrl.h"
#include "http/CurlTransport.h"
#include "http/FetchOutcome.h"
#include "http/HttpDownload.h"
#include "http/VantrelHTTP.h"
#include "http/VantrelHttpImpl.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

namespace {

// "scheme://host:port" in lower case, with the port the scheme implies
// when none is written; empty for what is no URL.
std::string originKey(const char* url) {
    const SplitUrl split = splitUrl(url, std::strlen(url));
    if (!split.ok || !split.webScheme) {
        return {};
    }
    std::string key =
        split.origin.scheme + "://" + split.origin.host + ":" + std::to_string(split.origin.port);
    for (char& c : key) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return key;
}

} // namespace

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
        return reportFetch(url, data, data.getSize() > 0 ? "" : "the data: address holds nothing");
    }
    if (isWebUrl(url)) {
        FetchOutcome outcome;
        if (!fetchWebResource(url, data, outcome)) {
            return reportFetch(url, data, outcome.problem.c_str());
        }
        if (!outcome.finalUrl.empty()) {
            from.setString(outcome.finalUrl.c_str());
        }
        if (m_log != nullptr) {
            m_log->logData("http_get", url);
        }
        return reportFetch(url, data, data.getSize() > 0 ? "" : "the server sent an empty answer");
    }
    // A page from the web must not put the user's own files into the mail.
    if (currentContext().m_fromWeb) {
        refuseLocalRead(url);
        return reportFetch(url, data, "a page from the web may not read local files");
    }
    StringBuffer path;
    localFilePath(url, path);
    errno = 0;
    if (!data.loadFile(path.getString(), m_log)) {
        const std::string problem = std::string("could not read the file ") + path.getString() +
                                    (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
        return reportFetch(url, data, problem.c_str());
    }
    return reportFetch(url, data, "");
}

bool Mhtml::fetchWebResource(const char* url, DataBuffer& data, FetchOutcome& outcome) {
    const bool withLogin = sendsLoginTo(url);
    DownloadRequest request(url, m_proxy.getString(), withLogin ? m_httpLogin.getString() : nullptr,
                            withLogin ? m_httpPassword.getString() : nullptr, m_directAccess);
    request.log = m_log;
    request.ignoreCertErrors = m_ignoreCertErrors;
    request.outcome = &outcome;
    // A download made ahead stands for downloadUrl's first try: one that a
    // server answered with 404 is not asked for again.
    std::unique_ptr<VantrelHTTP> client;
    switch (takePrefetched(url, data, outcome)) {
    case Prefetched::Succeeded:
        return true;
    case Prefetched::Failed:
        client.reset(downloadAfterFirstTry(request, FetchOutcome(outcome), data));
        break;
    case Prefetched::NotTried:
        client.reset(downloadUrl(request, data));
        break;
    }
    return client != nullptr;
}

// One resource reached its end: the front end hears of it, fetched or not.
// problem is empty for a resource that arrived. Returns whether it did.
bool Mhtml::reportFetch(const char* url, const DataBuffer& data, const char* problem) {
    const bool fetched = problem[0] == 0;
    if (ResourceProgress* listener = progress()) {
        if (fetched) {
            listener->resourceFetched(url, data.getSize());
        } else {
            listener->resourceFailed(url, problem);
        }
    }
    return fetched;
}

ResourceProgress* Mhtml::progress() const {
    return dynamic_cast<ResourceProgress*>(m_log);
}

bool Mhtml::sendsLoginTo(const char* url) const {
    if (m_loginOrigin.empty() || url == nullptr) {
        return false;
    }
    return originKey(url) == m_loginOrigin;
}

void Mhtml::setLoginOrigin(const char* pageUrl) {
    m_loginOrigin = pageUrl != nullptr && isWebUrl(pageUrl) ? originKey(pageUrl) : std::string();
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
