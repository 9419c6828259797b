#include "http/CurlTransport.h"

#include "foundation/DataBuffer.h"
#include "http/CookieJar.h"
#include "http/DesktopProxy.h"
#include "http/TransferCancel.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

namespace {

// Spaces and bytes above 0x7F, common in hand-written pages, are encoded
// rather than refused.
constexpr unsigned kUrlFlags = CURLU_ALLOW_SPACE | CURLU_URLENCODE;

// A bare proxy host means port 80, the usual port of a web proxy.
constexpr long kDefaultProxyPort = 80;

const char kAgentName[] = "Vantrel HTTP";

bool equalsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<unsigned char>(x - 'A' + 'a');
        }
        if (y >= 'A' && y <= 'Z') {
            y = static_cast<unsigned char>(y - 'A' + 'a');
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

bool isWebScheme(const std::string& scheme) {
    return equalsNoCase(scheme, "http") || equalsNoCase(scheme, "https");
}

int portOf(const CurlUrl& url) {
    std::string text = url.part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    return text.empty() ? 0 : std::atoi(text.c_str());
}

// Collects option results so that a run of setopt calls reports its first
// failure.
class OptionSetter {
public:
    explicit OptionSetter(CURL* easy) : m_easy(easy) {}

    template <typename Value> void set(CURLoption option, Value value) {
        if (m_result == CURLE_OK) {
            m_result = curl_easy_setopt(m_easy, option, value);
        }
    }
    void fail(CURLcode code) {
        if (m_result == CURLE_OK) {
            m_result = code;
        }
    }
    CURLcode result() const { return m_result; }

private:
    CURL* m_easy;
    CURLcode m_result = CURLE_OK;
};

// The desktop's answer is whole: its own bypass list has been applied, and
// the environment's no_proxy would only confuse it.
void setPreconfiguredProxy(OptionSetter& options, const std::string& url) {
    const SplitUrl split = splitUrl(url.data(), url.size());
    std::string proxy;
    if (split.ok && desktopProxyFor(split.origin, proxy)) {
        options.set(CURLOPT_PROXY, proxy.c_str());
        options.set(CURLOPT_NOPROXY, "");
    }
    // Otherwise libcurl reads http_proxy, https_proxy and no_proxy itself.
}

void setAccessKind(OptionSetter& options, const CurlSession& session, const std::string& url) {
    switch (session.kind()) {
    case AccessKind::Preconfigured:
        setPreconfiguredProxy(options, url);
        break;
    case AccessKind::Direct:
        // An empty proxy switches the environment's proxy off.
        options.set(CURLOPT_PROXY, "");
        break;
    case AccessKind::NamedProxy:
        options.set(CURLOPT_PROXY, session.proxy().c_str());
        options.set(CURLOPT_PROXYPORT, kDefaultProxyPort);
        // No bypass list: an empty one also overrides no_proxy.
        options.set(CURLOPT_NOPROXY, "");
        break;
    }
}

void setHeaders(OptionSetter& options, const TransferPlan& plan, CurlHeaderList& headers) {
    options.set(CURLOPT_USERAGENT, kAgentName);
    if (plan.extraHeader != nullptr && !headers.add(plan.extraHeader)) {
        options.fail(CURLE_OUT_OF_MEMORY);
    }
    if (plan.post && !headers.add("Expect:")) {
        // Without this libcurl waits for a "100 Continue" on larger bodies.
        options.fail(CURLE_OUT_OF_MEMORY);
    }
    options.set(CURLOPT_HTTPHEADER, headers.get());
}

void setCredentials(OptionSetter& options, const TransferPlan& plan) {
    if (plan.username == nullptr || plan.password == nullptr || plan.username->empty() ||
        plan.password->empty()) {
        return;
    }
    options.set(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    options.set(CURLOPT_USERNAME, plan.username->c_str());
    options.set(CURLOPT_PASSWORD, plan.password->c_str());
}

void setBody(OptionSetter& options, const TransferPlan& plan) {
    if (!plan.post) {
        options.set(CURLOPT_HTTPGET, 1L);
        return;
    }
    options.set(CURLOPT_POST, 1L);
    options.set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(plan.bodyLength));
    options.set(CURLOPT_POSTFIELDS, plan.bodyLength > 0 ? plan.body : "");
}

void setTls(OptionSetter& options, const TransferPlan& plan) {
    // Another certificate store can be named the way curl's own tool and
    // OpenSSL's tools name one.
    const char* bundle = std::getenv("CURL_CA_BUNDLE");
    if (bundle != nullptr && *bundle != 0) {
        options.set(CURLOPT_CAINFO, bundle);
    } else {
        const char* directory = std::getenv("SSL_CERT_DIR");
        if (directory != nullptr && *directory != 0) {
            options.set(CURLOPT_CAPATH, directory);
        }
        const char* file = std::getenv("SSL_CERT_FILE");
        if (file != nullptr && *file != 0) {
            options.set(CURLOPT_CAINFO, file);
        }
    }
    if (plan.ignoreCertErrors) {
        options.set(CURLOPT_SSL_VERIFYPEER, 0L);
        options.set(CURLOPT_SSL_VERIFYHOST, 0L);
        options.set(CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NO_REVOKE));
    }
}

void setLimits(OptionSetter& options, const HttpLimits& limits) {
    options.set(CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
    options.set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBodyBytes));
}

// The host resolves of every transfer; it outlives them all.
std::unique_ptr<CurlHeaderList>& hostResolves() {
    static std::unique_ptr<CurlHeaderList> list;
    return list;
}

void applyHostResolves(OptionSetter& options) {
    const std::unique_ptr<CurlHeaderList>& list = hostResolves();
    if (list != nullptr) {
        options.set(CURLOPT_RESOLVE, list->get());
    }
}

void setCallbacks(OptionSetter& options, TransferState& state) {
    options.set(CURLOPT_WRITEFUNCTION, &TransferState::onBody);
    options.set(CURLOPT_WRITEDATA, static_cast<void*>(&state));
    options.set(CURLOPT_NOPROGRESS, 0L);
    options.set(CURLOPT_XFERINFOFUNCTION, &TransferState::onProgress);
    options.set(CURLOPT_XFERINFODATA, static_cast<void*>(&state));
    options.set(CURLOPT_PREREQFUNCTION, &TransferState::onConnected);
    options.set(CURLOPT_PREREQDATA, static_cast<void*>(&state));
    options.set(CURLOPT_HEADERFUNCTION, &TransferState::onHeader);
    options.set(CURLOPT_HEADERDATA, static_cast<void*>(&state));
    // A proxy's answer to CONNECT is not the answer to the request.
    options.set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
}

// The reason phrase of a status line: what follows the code, without the
// line break.
std::string reasonPhrase(const char* from, const char* end) {
    while (from < end && *from == ' ') {
        ++from;
    }
    while (end > from && (end[-1] == '\r' || end[-1] == '\n' || end[-1] == ' ')) {
        --end;
    }
    std::string phrase;
    for (; from < end; ++from) {
        // Nothing that could steer a terminal reaches a message.
        const auto c = static_cast<unsigned char>(*from);
        phrase += c < 0x20 || c == 0x7f ? ' ' : static_cast<char>(c);
    }
    return phrase;
}

} // namespace

bool setHostResolves(const std::vector<std::string>& entries) {
    std::unique_ptr<CurlHeaderList>& current = hostResolves();
    if (entries.empty()) {
        current.reset();
        return true;
    }
    auto list = std::make_unique<CurlHeaderList>();
    for (const std::string& entry : entries) {
        if (!list->add(entry.c_str())) {
            return false;
        }
    }
    current = std::move(list);
    return true;
}

const char kBrowserAgentLine[] =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; Q312461)";

bool ensureCurlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

CurlEasy::~CurlEasy() {
    if (m_handle != nullptr) {
        curl_easy_cleanup(m_handle);
    }
}

CurlHeaderList::~CurlHeaderList() {
    curl_slist_free_all(m_list);
}

bool CurlHeaderList::add(const char* line) {
    curl_slist* grown = curl_slist_append(m_list, line);
    if (grown == nullptr) {
        return false;
    }
    m_list = grown;
    return true;
}

CurlUrl::~CurlUrl() {
    if (m_handle != nullptr) {
        curl_url_cleanup(m_handle);
    }
}

std::string CurlUrl::part(CURLUPart which, unsigned flags) const {
    char* text = nullptr;
    if (m_handle == nullptr || curl_url_get(m_handle, which, &text, flags) != CURLUE_OK ||
        text == nullptr) {
        return {};
    }
    std::string result(text);
    curl_free(text);
    return result;
}

std::unique_ptr<CurlSession> CurlSession::open(AccessKind kind, const char* proxy) {
    if (!ensureCurlReady()) {
        return nullptr;
    }
    CURLSH* share = curl_share_init();
    if (share == nullptr) {
        return nullptr;
    }
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    try {
        return std::unique_ptr<CurlSession>(new CurlSession(kind, proxy ? proxy : "", share));
    } catch (...) {
        curl_share_cleanup(share);
        throw;
    }
}

CurlSession::CurlSession(AccessKind kind, std::string proxy, CURLSH* share)
    : m_kind(kind), m_proxy(std::move(proxy)), m_share(share) {}

CurlSession::~CurlSession() {
    curl_share_cleanup(m_share);
}

bool UrlOrigin::sameAs(const UrlOrigin& other) const {
    return port == other.port && equalsNoCase(scheme, other.scheme) &&
           equalsNoCase(host, other.host);
}

SplitUrl splitUrl(const char* text, size_t length) {
    SplitUrl split;
    std::string url(text != nullptr ? text : "", text != nullptr ? length : 0);
    if (url.find('\0') != std::string::npos) {
        split.error = curl_url_strerror(CURLUE_MALFORMED_INPUT);
        return split;
    }
    CurlUrl parsed;
    if (!parsed) {
        split.error = curl_url_strerror(CURLUE_OUT_OF_MEMORY);
        return split;
    }
    CURLUcode code = curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), kUrlFlags);
    if (code != CURLUE_OK) {
        split.error = curl_url_strerror(code);
        return split;
    }
    split.ok = true;
    split.origin.scheme = parsed.part(CURLUPART_SCHEME);
    split.origin.host = parsed.part(CURLUPART_HOST);
    split.origin.port = portOf(parsed);
    split.path = parsed.part(CURLUPART_PATH);
    std::string query = parsed.part(CURLUPART_QUERY);
    if (!query.empty()) {
        split.path += "?" + query;
    }
    split.webScheme = isWebScheme(split.origin.scheme);
    // Only the client's own credentials are ever sent.
    curl_url_set(parsed.get(), CURLUPART_USER, nullptr, 0);
    curl_url_set(parsed.get(), CURLUPART_PASSWORD, nullptr, 0);
    curl_url_set(parsed.get(), CURLUPART_FRAGMENT, nullptr, 0);
    split.requestUrl = parsed.part(CURLUPART_URL);
    return split;
}

bool takeUrlCredentials(std::string& url, std::string& user, std::string& password) {
    if (url.find('@') == std::string::npos || url.find('\0') != std::string::npos) {
        return false;
    }
    CurlUrl parsed;
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), kUrlFlags) != CURLUE_OK ||
        !isWebScheme(parsed.part(CURLUPART_SCHEME))) {
        return false;
    }
    std::string name = parsed.part(CURLUPART_USER, CURLU_URLDECODE);
    if (name.empty()) {
        return false;
    }
    user = name;
    password = parsed.part(CURLUPART_PASSWORD, CURLU_URLDECODE);
    curl_url_set(parsed.get(), CURLUPART_USER, nullptr, 0);
    curl_url_set(parsed.get(), CURLUPART_PASSWORD, nullptr, 0);
    url = parsed.part(CURLUPART_URL);
    return true;
}

bool resolveLocation(const std::string& base, const std::string& location, std::string& resolved) {
    if (location.find('\0') != std::string::npos) {
        return false;
    }
    CurlUrl url;
    if (!url || curl_url_set(url.get(), CURLUPART_URL, base.c_str(), kUrlFlags) != CURLUE_OK) {
        return false;
    }
    // Any scheme is accepted here so that the caller can see and refuse it.
    if (curl_url_set(url.get(), CURLUPART_URL, location.c_str(),
                     kUrlFlags | CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
        return false;
    }
    resolved = url.part(CURLUPART_URL);
    return !resolved.empty();
}

CURLcode TransferState::explain(CURLcode code) const {
    if (m_stalled) {
        return CURLE_OPERATION_TIMEDOUT;
    }
    if (m_tooLarge) {
        return CURLE_FILESIZE_EXCEEDED;
    }
    if (m_sinkFailed) {
        return CURLE_OUT_OF_MEMORY;
    }
    return code;
}

size_t TransferState::onHeader(char* line, size_t size, size_t count, void* self) {
    TransferState& state = *static_cast<TransferState*>(self);
    const size_t length = size * count;
    if (length >= 5 && std::memcmp(line, "HTTP/", 5) == 0) {
        // "HTTP/1.1 200 OK": a new header block begins.
        const char* end = line + length;
        const char* p = static_cast<const char*>(std::memchr(line, ' ', length));
        int code = 0;
        for (p = p != nullptr ? p + 1 : end; p < end && *p >= '0' && *p <= '9'; ++p) {
            code = code * 10 + (*p - '0');
            if (code > 999) {
                break;
            }
        }
        state.m_headerStatus = code;
        state.m_reason = reasonPhrase(p, end);
        state.m_headersComplete = false;
    } else if ((length == 2 && line[0] == '\r' && line[1] == '\n') ||
               (length == 1 && line[0] == '\n')) {
        // The blank line ends a block; an interim (1xx) answer is not the answer.
        state.m_headersComplete = state.m_headerStatus >= 200;
    }
    return length;
}

size_t TransferState::onBody(char* bytes, size_t size, size_t count, void* self) {
    TransferState& state = *static_cast<TransferState*>(self);
    size_t total = size * count;
    // The count never passes the cap, so the subtraction cannot wrap.
    if (total > state.m_limits.maxBodyBytes - state.m_bodyBytes) {
        state.m_tooLarge = true;
        return 0;
    }
    // Nothing may be thrown through libcurl.
    try {
        if (!state.m_sink(bytes, total)) {
            state.m_sinkFailed = true;
            return 0;
        }
    } catch (const std::length_error&) {
        state.m_tooLarge = true;
        return 0;
    } catch (...) {
        state.m_sinkFailed = true;
        return 0;
    }
    state.m_bodyBytes += total;
    return total;
}

int TransferState::onProgress(void* self, curl_off_t, curl_off_t dlNow, curl_off_t,
                              curl_off_t ulNow) {
    TransferState& state = *static_cast<TransferState*>(self);
    if (transfersCancelled()) {
        return 1;
    }
    if (!state.m_connected) {
        // Until the connection stands, the connect timeout is in charge.
        return 0;
    }
    Clock::time_point now = Clock::now();
    if (dlNow != state.m_lastDown || ulNow != state.m_lastUp) {
        state.m_lastDown = dlNow;
        state.m_lastUp = ulNow;
        state.m_lastActivity = now;
        return 0;
    }
    if (now - state.m_lastActivity > std::chrono::milliseconds(state.m_limits.stallTimeoutMs)) {
        state.m_stalled = true;
        return 1;
    }
    return 0;
}

int TransferState::onConnected(void* self, char*, char*, int, int) {
    TransferState& state = *static_cast<TransferState*>(self);
    state.m_connected = true;
    state.m_lastActivity = Clock::now();
    return CURL_PREREQFUNC_OK;
}

CURLcode configureTransfer(CURL* easy, const CurlSession& session, const std::string& url,
                           const TransferPlan& plan, CurlHeaderList& headers,
                           TransferState& state) {
    OptionSetter options(easy);
    options.set(CURLOPT_URL, url.c_str());
    options.set(CURLOPT_PROTOCOLS_STR, "http,https");
    options.set(CURLOPT_FOLLOWLOCATION, 0L);
    options.set(CURLOPT_NOSIGNAL, 1L);
    // The conversion's cookie jar, when one is in use, also holds what the
    // session would share; an empty file name turns the cookie engine on.
    const CookieJar* jar = CookieJarScope::current();
    if (jar != nullptr && jar->share() != nullptr) {
        options.set(CURLOPT_SHARE, jar->share());
        options.set(CURLOPT_COOKIEFILE, "");
    } else {
        options.set(CURLOPT_SHARE, session.share());
    }
    options.set(CURLOPT_BUFFERSIZE, kReadChunk);
    setAccessKind(options, session, url);
    setHeaders(options, plan, headers);
    setCredentials(options, plan);
    setBody(options, plan);
    setTls(options, plan);
    setLimits(options, plan.limits);
    applyHostResolves(options);
    setCallbacks(options, state);
    return options.result();
}

TransferPlan getHopPlan(const UrlOrigin& hop, const UrlOrigin& first, const std::string& user,
                        const std::string& secret, bool ignoreCertErrors,
                        const HttpLimits& limits) {
    TransferPlan plan;
    plan.extraHeader = kBrowserAgentLine;
    if (hop.sameAs(first)) {
        plan.username = &user;
        plan.password = &secret;
    }
    plan.ignoreCertErrors = ignoreCertErrors;
    plan.limits = limits;
    return plan;
}

bool redirectTarget(CURL* easy, long status, const std::string& answered, std::string& next) {
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) {
        return false;
    }
    std::string location;
    if (!queryHeader(easy, "Location", location) || location.empty()) {
        return false;
    }
    if (!resolveLocation(answered, location, next)) {
        return false;
    }
    SplitUrl target = splitUrl(next.data(), next.size());
    return target.ok && target.webScheme;
}

void appendBody(DataBuffer& out, const char* bytes, size_t count) {
    uint64_t needed = static_cast<uint64_t>(out.getSize()) + count;
    if (needed > out.getCapacity() && needed <= DataBuffer::kMaxSize) {
        uint64_t grown = std::max<uint64_t>(needed, out.getCapacity() + out.getCapacity() / 2);
        out.ensureCapacity(static_cast<uint32_t>(std::min<uint64_t>(grown, DataBuffer::kMaxSize)));
    }
    out.append(bytes, static_cast<uint32_t>(count));
}

bool isCutShort(CURLcode code) {
    switch (code) {
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return true;
    default:
        return false;
    }
}

RequestStep stepOfFailure(CURLcode code, bool connected) {
    switch (code) {
    case CURLE_OK:
        return RequestStep::None;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return RequestStep::Connect;
    case CURLE_OPERATION_TIMEDOUT:
        return connected ? RequestStep::Send : RequestStep::Connect;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_FAILED_INIT:
    case CURLE_URL_MALFORMAT:
    case CURLE_NOT_BUILT_IN:
    case CURLE_BAD_FUNCTION_ARGUMENT:
    case CURLE_UNKNOWN_OPTION:
        return RequestStep::OpenRequest;
    default:
        return RequestStep::Send;
    }
}

long responseCode(CURL* easy) {
    long code = 0;
    if (curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK) {
        return 0;
    }
    return code;
}

bool queryHeader(CURL* easy, const char* name, std::string& value) {
    // The header queries share the body's 8191-byte buffer, terminator
    // included, so a longer value is not read.
    constexpr size_t kQueryBuffer = 8191;
    curl_header* header = nullptr;
    if (curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK ||
        header == nullptr || header->value == nullptr) {
        return false;
    }
    size_t length = std::strlen(header->value);
    if (length + 1 > kQueryBuffer) {
        return false;
    }
    value.assign(header->value, length);
    return true;
}
