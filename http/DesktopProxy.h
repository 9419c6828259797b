#pragma once

#include "http/CurlTransport.h"

#include <functional>
#include <map>
#include <optional>
#include <string>

// Where the preconfigured access sends a request. A proxy named in the
// environment (http_proxy, https_proxy or all_proxy, in either case) is this
// process's own choice, and libcurl reads it as it always has; otherwise the
// desktop's settings decide, as GIO reads them.

// The desktop's answers of one conversion, one per scheme, host and port: a
// page with a hundred pictures on two hosts asks twice, and a PAC file runs
// once per host instead of once per picture. The conversion owns it and puts
// it in use with a DesktopProxyScope, as it does its cookie jar; settings
// changed while a conversion runs apply to the next one.
class DesktopProxyCache {
public:
    // Answers for "SCHEME://HOST:PORT/" as GioProxyResolver::lookup does.
    using Lookup = std::function<bool(const std::string& url, std::string& proxy)>;

    // Asks GIO.
    DesktopProxyCache();
    explicit DesktopProxyCache(Lookup lookup);
    DesktopProxyCache(const DesktopProxyCache&) = delete;
    DesktopProxyCache& operator=(const DesktopProxyCache&) = delete;

    // libcurl's proxy for requests to origin, "" for direct; false when the
    // desktop has no answer.
    bool proxyFor(const UrlOrigin& origin, std::string& proxy);

private:
    Lookup m_lookup;
    std::map<std::string, std::optional<std::string>> m_answers;
};

// Puts a cache in use on this thread for as long as the scope lives, and the
// one before it back afterwards.
class DesktopProxyScope {
public:
    explicit DesktopProxyScope(DesktopProxyCache* cache);
    ~DesktopProxyScope();
    DesktopProxyScope(const DesktopProxyScope&) = delete;
    DesktopProxyScope& operator=(const DesktopProxyScope&) = delete;

    // The cache in use on this thread; null when none is.
    static DesktopProxyCache* current();

private:
    DesktopProxyCache* m_previous;
};

// The proxy of a preconfigured transfer to origin, "" for direct, from the
// cache in use on this thread or, without one, from a lookup of its own.
// False when libcurl's reading of the environment decides: the environment
// names a proxy, GIO has only its dummy resolver, or it had no answer.
bool desktopProxyFor(const UrlOrigin& origin, std::string& proxy);
