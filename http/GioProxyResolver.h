#pragma once

#include <string>

typedef struct _GProxyResolver GProxyResolver;

// GIO's proxy resolver: the desktop's proxy settings (GNOME's or KDE's, a
// PAC file, the environment) as glib-networking reads them. A lookup can
// block for as long as a PAC file runs, so it belongs on the thread that
// makes the transfers.
class GioProxyResolver {
public:
    // Holds GIO's default resolver.
    GioProxyResolver();
    ~GioProxyResolver();
    GioProxyResolver(const GioProxyResolver&) = delete;
    GioProxyResolver& operator=(const GioProxyResolver&) = delete;

    // False when GIO has only its dummy resolver (glib-networking is not
    // installed), which says "direct" whatever the settings are.
    bool available() const;

    // The proxy for a URL as libcurl names it, "" for a direct connection.
    // False when GIO had no answer or named no proxy that libcurl can use.
    bool lookup(const std::string& url, std::string& proxy) const;

private:
    GProxyResolver* m_resolver;
};

// One of GIO's answers ("direct://", "http://HOST:PORT", "socks://HOST:PORT",
// ...) as libcurl's proxy: "" for direct, SOCKS with the names resolved by
// the proxy. False for a kind of proxy that libcurl has no use for.
bool curlProxyFromGio(const std::string& answer, std::string& proxy);
