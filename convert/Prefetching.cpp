// Downloading a document's web resources all at once before the resource
// loop and the link pass ask for them one by one. The loop and the pass
// stay in charge: they take each download as they come to it, and fetch
// anything that was not prefetched, or whose prefetch failed, themselves.

#include "Mhtml.h"

#include "convert/ConvertText.h"
#include "convert/ReferencedIds.h"
#include "convert/ResourcePrefetch.h"
#include "foundation/StringPair.h"
#include "http/VantrelHttpImpl.h"

#include <cstring>

namespace {

std::string trimmed(const StringBuffer& text) {
    StringBuffer copy(text.getString());
    copy.trim();
    return copy.getString();
}

// The request that downloadUrl's first try would make now: the client of
// the trimmed proxy or of the direct-access flag, with the credentials set
// on it as the client trims them when they may go to the URL's host.
FetchSettings firstTrySettings(const Mhtml& converter, bool withLogin) {
    FetchSettings settings;
    settings.proxy = trimmed(converter.m_proxy);
    if (!settings.proxy.empty()) {
        settings.kind = AccessKind::NamedProxy;
    } else {
        settings.kind = converter.m_directAccess ? AccessKind::Direct : AccessKind::Preconfigured;
    }
    if (withLogin) {
        settings.username = trimmed(converter.m_httpLogin);
        settings.password = trimmed(converter.m_httpPassword);
    }
    settings.ignoreCertErrors = converter.m_ignoreCertErrors;
    settings.limits = VantrelHttpImpl::defaultLimits();
    return settings;
}

} // namespace

void Mhtml::prefetchResources(const ReferencedIds& referenced, bool inFrameset) {
    if (m_prefetch == nullptr) {
        return;
    }
    const ExtPtrArray& resources = currentResources();
    for (int i = 0; i < resources.getSize(); ++i) {
        const auto* entry = static_cast<const StringPair*>(resources.elementAt(i));
        if (entry == nullptr) {
            continue;
        }
        const char* url = entry->getName();
        const char* contentId = entry->getValue();
        // The resource loop's own decisions.
        if (isWebUrl(url) &&
            resourceSkip(url, contentId, referenced, inFrameset) == ResourceSkip::None) {
            m_prefetch->add(url, firstTrySettings(*this, sendsLoginTo(url)));
        }
    }
}

void Mhtml::prefetchLinkedStyleSheets(const StringBuffer& html) {
    if (m_prefetch == nullptr || findNoCase(html.getString(), "<link") == nullptr) {
        return;
    }
    // A silent run of the link pass on a copy tells which style sheets the
    // real pass will fetch: every decision stays the pass's own.
    std::vector<std::string> urls;
    StringBuffer copy;
    copy.setSb(html);
    DiagnosticLog* const log = m_log;
    m_log = nullptr;
    m_linkedSheetUrls = &urls;
    runPass(copy, "<link", nullptr, TagCapture::Quoted, &Mhtml::rewriteLinkElement);
    m_linkedSheetUrls = nullptr;
    m_log = log;

    for (const std::string& url : urls) {
        if (isWebUrl(url.c_str())) {
            m_prefetch->add(url.c_str(), firstTrySettings(*this, sendsLoginTo(url.c_str())));
        }
    }
}

bool Mhtml::noteLinkedSheet(const char* url) {
    if (m_linkedSheetUrls == nullptr) {
        return false;
    }
    m_linkedSheetUrls->emplace_back(url);
    return true;
}

Mhtml::Prefetched Mhtml::takePrefetched(const char* url, DataBuffer& data, FetchOutcome& outcome) {
    if (m_prefetch == nullptr) {
        return Prefetched::NotTried;
    }
    switch (m_prefetch->take(url, firstTrySettings(*this, sendsLoginTo(url)), data, outcome)) {
    case ResourcePrefetch::Taken::Succeeded:
        return Prefetched::Succeeded;
    case ResourcePrefetch::Taken::Failed:
        return Prefetched::Failed;
    default:
        return Prefetched::NotTried;
    }
}
