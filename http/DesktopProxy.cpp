#include "http/DesktopProxy.h"

#include "http/GioProxyResolver.h"

#include <cstdlib>
#include <utility>

namespace {

thread_local DesktopProxyCache* t_current = nullptr;

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// libcurl takes only the lower-case http_proxy; the upper-case one counts
// too, so that it keeps being ignored rather than reaching GIO, which reads
// it.
bool environmentNamesProxy() {
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != 0) {
            return true;
        }
    }
    return false;
}

bool askGio(const std::string& url, std::string& proxy) {
    const GioProxyResolver resolver;
    return resolver.available() && resolver.lookup(url, proxy);
}

} // namespace

DesktopProxyCache::DesktopProxyCache() : m_lookup(askGio) {}

DesktopProxyCache::DesktopProxyCache(Lookup lookup) : m_lookup(std::move(lookup)) {}

bool DesktopProxyCache::proxyFor(const UrlOrigin& origin, std::string& proxy) {
    const std::string url = lowerAscii(origin.scheme) + "://" + lowerAscii(origin.host) + ":" +
                            std::to_string(origin.port) + "/";
    auto known = m_answers.find(url);
    if (known == m_answers.end()) {
        std::string answer;
        std::optional<std::string> entry;
        if (m_lookup(url, answer)) {
            entry = std::move(answer);
        }
        known = m_answers.emplace(url, std::move(entry)).first;
    }
    if (!known->second) {
        return false;
    }
    proxy = *known->second;
    return true;
}

DesktopProxyScope::DesktopProxyScope(DesktopProxyCache* cache) : m_previous(t_current) {
    t_current = cache;
}

DesktopProxyScope::~DesktopProxyScope() {
    t_current = m_previous;
}

DesktopProxyCache* DesktopProxyScope::current() {
    return t_current;
}

bool desktopProxyFor(const UrlOrigin& origin, std::string& proxy) {
    if (environmentNamesProxy()) {
        return false;
    }
    if (DesktopProxyCache* cache = DesktopProxyScope::current()) {
        return cache->proxyFor(origin, proxy);
    }
    DesktopProxyCache once;
    return once.proxyFor(origin, proxy);
}
