#include "http/GioProxyResolver.h"

#include <gio/gio.h>

#include <cstring>

namespace {

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// Frees the string list of one lookup.
class StringList {
public:
    explicit StringList(gchar** strings) : m_strings(strings) {}
    ~StringList() { g_strfreev(m_strings); }
    StringList(const StringList&) = delete;
    StringList& operator=(const StringList&) = delete;

    gchar** get() const { return m_strings; }

private:
    gchar** m_strings;
};

} // namespace

bool curlProxyFromGio(const std::string& answer, std::string& proxy) {
    const size_t separator = answer.find("://");
    if (separator == std::string::npos) {
        return false;
    }
    const std::string scheme = lowerAscii(answer.substr(0, separator));
    const std::string rest = answer.substr(separator + 3);
    if (scheme == "direct") {
        proxy.clear();
        return true;
    }
    if (rest.empty()) {
        return false;
    }
    // GIO's "socks" means any version; version 5 is asked for, and the proxy
    // resolves the names as it would for GIO's own connections.
    if (scheme == "socks" || scheme == "socks5") {
        proxy = "socks5h://" + rest;
    } else if (scheme == "http" || scheme == "https" || scheme == "socks4" || scheme == "socks4a") {
        proxy = scheme + "://" + rest;
    } else {
        return false;
    }
    return true;
}

GioProxyResolver::GioProxyResolver()
    : m_resolver(static_cast<GProxyResolver*>(g_object_ref(g_proxy_resolver_get_default()))) {}

GioProxyResolver::~GioProxyResolver() {
    g_object_unref(m_resolver);
}

bool GioProxyResolver::available() const {
    // The dummy resolver calls itself supported.
    return g_proxy_resolver_is_supported(m_resolver) &&
           std::strcmp(G_OBJECT_TYPE_NAME(m_resolver), "GDummyProxyResolver") != 0;
}

bool GioProxyResolver::lookup(const std::string& url, std::string& proxy) const {
    GError* error = nullptr;
    const StringList answers(g_proxy_resolver_lookup(m_resolver, url.c_str(), nullptr, &error));
    g_clear_error(&error);
    if (answers.get() == nullptr) {
        return false;
    }
    // libcurl takes one proxy: the first it can use, in GIO's order.
    for (gchar** answer = answers.get(); *answer != nullptr; ++answer) {
        if (curlProxyFromGio(*answer, proxy)) {
            return true;
        }
    }
    return false;
}
