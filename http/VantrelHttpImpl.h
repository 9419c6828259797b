#pragma once

#include "foundation/StringBuffer.h"
#include "http/CurlTransport.h"
#include "http/FetchOutcome.h"
#include "http/VantrelHTTP.h"

#include <memory>
#include <string>

// The HTTP client over libcurl. Each request makes its own connection; the
// root handle (access kind, shared host-name and TLS session cache) lives as
// long as the client. Redirects (301, 302, 303, 307, 308) are followed here,
// at most kMaxRedirects of them, to http and https only, with the
// credentials sent again only to the scheme, host and port first asked.
class VantrelHttpImpl : public VantrelHTTP {
public:
    // proxy is used by the named-proxy kind only, as given.
    explicit VantrelHttpImpl(AccessKind kind, const char* proxy = nullptr);
    ~VantrelHttpImpl() override;

    bool postForm(StringBuffer& url, StringBuffer& body, StringBuffer& response) override;
    bool fetch(StringBuffer& url, DataBuffer& out) override;
    bool fetchLogged(StringBuffer& url, DataBuffer& out) override;
    const char* getCharset() override;
    const char* getStatus() override;
    bool postXml(StringBuffer& url, StringBuffer& body, StringBuffer& response,
                 StringBuffer& errors) override;
    using VantrelHTTP::fetchLogged;

    AccessKind accessKind() const { return m_kind; }
    const std::string& proxyText() const { return m_proxy; }

    // The limits of this client's requests; tests shorten them.
    const HttpLimits& limits() const { return m_limits; }
    void setLimits(const HttpLimits& limits) { m_limits = limits; }
    // The limits that new clients start with (for tests that go through the
    // creation functions). Not thread-safe: set them before creating clients.
    static HttpLimits defaultLimits();
    static void setDefaultLimits(const HttpLimits& limits);

    static constexpr int kMaxRedirects = 10;

    // The root handle; null when libcurl could not be set up, and every
    // request then fails at the connect step.
    std::unique_ptr<CurlSession> internet;
    // The results of the last GET; finalUrl is where its body came from,
    // behind the redirects.
    StringBuffer finalUrl;
    StringBuffer contentType;
    StringBuffer status;
    StringBuffer charset;
    // What became of the last GET, in words.
    FetchOutcome outcome;

private:
    enum class GetKind { Quiet, Logged };

    bool get(StringBuffer& url, DataBuffer& out, GetKind kind);
    bool post(StringBuffer& url, StringBuffer& body, StringBuffer& response,
              const char* contentTypeLine, StringBuffer* errors);
    bool concludeGet(GetKind kind, const DataBuffer& out, long code, const std::string& reason,
                     const std::string& from);
    void clearResults();
    void readStatus(CURL* easy);
    void readContentType(CURL* easy);
    void reportFailure(GetKind kind, RequestStep step, const char* systemText) const;

    AccessKind m_kind;
    std::string m_proxy;
    HttpLimits m_limits;
};
