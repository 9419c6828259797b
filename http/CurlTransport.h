#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class DataBuffer;

// The thin layer over libcurl that the HTTP client stands on: handles that
// free themselves, URL splitting, the access kinds, and the per-request
// option setup (timeouts, size cap, TLS and certificate rules) shared by
// every transfer the program makes.

// How a client reaches the web; fixed for the life of a client.
enum class AccessKind {
    Preconfigured, // the environment's proxy (http_proxy, ...), else the desktop's settings
    Direct,        // no proxy at all, whatever the environment says
    NamedProxy,    // the one proxy given by the caller
};

// Bounds that keep a transfer from hanging or eating the machine.
struct HttpLimits {
    long connectTimeoutMs = 30000;
    // A transfer that moves no byte for this long is aborted.
    long stallTimeoutMs = 60000;
    // A response body larger than this is aborted.
    uint64_t maxBodyBytes = 256ULL * 1024 * 1024;
};

// The step of a request that a failure belongs to.
enum class RequestStep { None, Connect, OpenRequest, Send };

// Initialises libcurl once for the process; false when that failed.
bool ensureCurlReady();

// Owns one easy handle.
class CurlEasy {
public:
    CurlEasy() : m_handle(curl_easy_init()) {}
    ~CurlEasy();
    CurlEasy(const CurlEasy&) = delete;
    CurlEasy& operator=(const CurlEasy&) = delete;

    CURL* get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    CURL* m_handle;
};

// Owns one header list.
class CurlHeaderList {
public:
    CurlHeaderList() = default;
    ~CurlHeaderList();
    CurlHeaderList(const CurlHeaderList&) = delete;
    CurlHeaderList& operator=(const CurlHeaderList&) = delete;

    // False when the line could not be added.
    bool add(const char* line);
    curl_slist* get() const { return m_list; }

private:
    curl_slist* m_list = nullptr;
};

// Owns one parsed URL.
class CurlUrl {
public:
    CurlUrl() : m_handle(curl_url()) {}
    explicit CurlUrl(CURLU* adopted) : m_handle(adopted) {}
    ~CurlUrl();
    CurlUrl(const CurlUrl&) = delete;
    CurlUrl& operator=(const CurlUrl&) = delete;

    CURLU* get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    // The named part, or "" when the URL has none.
    std::string part(CURLUPart which, unsigned flags = 0) const;

private:
    CURLU* m_handle;
};

// The root handle of one client: its access kind and a cache of host names
// and TLS sessions shared by the requests it makes.
class CurlSession {
public:
    // Null when libcurl cannot be set up.
    static std::unique_ptr<CurlSession> open(AccessKind kind, const char* proxy);
    ~CurlSession();
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;

    AccessKind kind() const { return m_kind; }
    const std::string& proxy() const { return m_proxy; }
    CURLSH* share() const { return m_share; }

private:
    CurlSession(AccessKind kind, std::string proxy, CURLSH* share);

    AccessKind m_kind;
    std::string m_proxy;
    CURLSH* m_share;
};

// The scheme, host and port that decide where credentials may go.
struct UrlOrigin {
    std::string scheme;
    std::string host;
    int port = 0;

    // Scheme and host compared without regard to ASCII case.
    bool sameAs(const UrlOrigin& other) const;
};

// A URL split into what a request needs.
struct SplitUrl {
    bool ok = false;
    std::string error;      // the reason when the URL cannot be split
    UrlOrigin origin;       // port 0 when the URL cannot be split
    std::string path;       // path and query
    std::string requestUrl; // what is sent: no user name, password or fragment
    bool webScheme = false; // http or https: the only schemes ever requested
};

// Splits a URL given as bytes with a length. Spaces and bytes above 0x7F are
// percent-encoded on the way, as browsers do.
SplitUrl splitUrl(const char* text, size_t length);

// Takes "user:password@" out of a web URL: true when it held a user name,
// which then comes back decoded in user and password and is gone from url.
bool takeUrlCredentials(std::string& url, std::string& user, std::string& password);

// Resolves a Location value against the URL that answered; false when the
// result is not a URL.
bool resolveLocation(const std::string& base, const std::string& location, std::string& resolved);

// What one transfer needs besides its URL.
struct TransferPlan {
    bool post = false;
    const char* extraHeader = nullptr; // one header line, e.g. "User-Agent: ..."
    const char* body = nullptr;        // the POST body
    size_t bodyLength = 0;
    const std::string* username = nullptr; // both set and non-empty: basic authentication
    const std::string* password = nullptr;
    bool ignoreCertErrors = false;
    HttpLimits limits;
};

// The mutable state of one running transfer, reached from curl's callbacks.
// The sink receives the body in pieces of at most kReadChunk bytes; it
// returns false to abort the transfer.
class TransferState {
public:
    using Sink = std::function<bool(const char* bytes, size_t count)>;

    TransferState(Sink sink, const HttpLimits& limits)
        : m_sink(std::move(sink)), m_limits(limits) {}

    // The curl code that tells the caller why the transfer ended: the stall
    // and size guards are reported as a timeout and an oversized file. A
    // body cut short (before its announced length, or a broken chunk) is a
    // failure: a shorter picture or page would pass for the whole one.
    CURLcode explain(CURLcode code) const;
    bool connected() const { return m_connected; }
    bool headersComplete() const { return m_headersComplete; }
    // A status line arrived: a server answered, whatever came after it.
    bool answered() const { return m_headerStatus > 0; }
    // The reason phrase of the last status line ("Not Found"); may be empty.
    const std::string& reason() const { return m_reason; }
    uint64_t bodyBytes() const { return m_bodyBytes; }

    static size_t onBody(char* bytes, size_t size, size_t count, void* self);
    static size_t onHeader(char* line, size_t size, size_t count, void* self);
    static int onProgress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                          curl_off_t ulNow);
    static int onConnected(void* self, char* primaryIp, char* localIp, int primaryPort,
                           int localPort);

private:
    using Clock = std::chrono::steady_clock;

    Sink m_sink;
    HttpLimits m_limits;
    uint64_t m_bodyBytes = 0;
    bool m_connected = false;
    int m_headerStatus = 0;
    std::string m_reason;
    bool m_headersComplete = false;
    bool m_stalled = false;
    bool m_tooLarge = false;
    bool m_sinkFailed = false;
    curl_off_t m_lastDown = 0;
    curl_off_t m_lastUp = 0;
    Clock::time_point m_lastActivity{};
};

// The body arrives in pieces of this size at most.
constexpr long kReadChunk = 8191;

// Sets every option of one transfer on an easy handle: URL, access kind,
// headers, credentials, body, timeouts, size cap, TLS and callbacks. The
// header list must outlive the transfer. CURLE_OK when every option took.
CURLcode configureTransfer(CURL* easy, const CurlSession& session, const std::string& url,
                           const TransferPlan& plan, CurlHeaderList& headers, TransferState& state);

// Fixed addresses for host names, each "HOST:PORT:ADDRESS" as curl takes
// them, for every transfer that starts from now on (the same list replaces
// the last one; an empty list ends them). Not thread-safe: set it before
// any transfer runs. False when the list could not be made.
bool setHostResolves(const std::vector<std::string>& entries);

// The one extra header line of every GET.
extern const char kBrowserAgentLine[];

// The request of one hop of a GET: the extra header line, the client's
// credentials only while the hop stays on the scheme, host and port first
// asked, the certificate rule and the limits. user and secret must outlive
// the plan.
TransferPlan getHopPlan(const UrlOrigin& hop, const UrlOrigin& first, const std::string& user,
                        const std::string& secret, bool ignoreCertErrors, const HttpLimits& limits);

// Whether a finished hop with this status code is a redirect that is
// followed (301, 302, 303, 307 or 308 with a non-empty Location that names
// an http or https URL), and where to: the Location resolved against the
// URL that answered.
bool redirectTarget(CURL* easy, long status, const std::string& answered, std::string& next);

// Appends a piece of a response body. The buffer's own growth is linear,
// which makes a large body quadratic to collect; room is made ahead in
// larger steps instead.
void appendBody(DataBuffer& out, const char* bytes, size_t count);

// Failures of reading an answer whose headers were complete: the body was
// cut short (before its announced length, or in a broken chunk).
bool isCutShort(CURLcode code);

// The step of the request that a failed transfer belongs to: resolving and
// connecting (and running out of connect time) are the connect step; what
// fails before anything is sent (a bad URL, an unsupported scheme, an option
// that does not take) is opening the request; everything later, TLS
// included, is sending the request and reading the answer.
RequestStep stepOfFailure(CURLcode code, bool connected);

// The response status code of the finished transfer; 0 when none arrived.
long responseCode(CURL* easy);

// The value of the first header of that name in the last response. False
// when there is none or when it does not fit the 8191-byte query buffer.
bool queryHeader(CURL* easy, const char* name, std::string& value);
