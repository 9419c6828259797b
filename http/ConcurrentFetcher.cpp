#include "http/ConcurrentFetcher.h"

#include "foundation/DataBuffer.h"
#include "http/CurlRequest.h"
#include "http/VantrelHttpImpl.h"

#include <algorithm>
#include <cctype>

namespace {

// The longest wait for the network in one round; the stall guard of a
// transfer is looked at this often.
constexpr int kPollMs = 100;

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// Transfers are counted per scheme, host and port, as browsers count them.
std::string hostKey(const UrlOrigin& origin) {
    return lowerAscii(origin.scheme) + "://" + lowerAscii(origin.host) + ":" +
           std::to_string(origin.port);
}

std::string sessionKey(const FetchSettings& settings) {
    const std::string kind = std::to_string(static_cast<int>(settings.kind));
    return settings.kind == AccessKind::NamedProxy ? kind + "\n" + settings.proxy : kind;
}

} // namespace

struct ConcurrentFetcher::Request {
    int ticket = 0;
    FetchSettings settings;
    const CurlSession* session = nullptr;
    std::string url;      // the URL of the next or running hop
    std::string answered; // what the running hop asked for, to resolve its Location against
    UrlOrigin first;      // where the first hop went: credentials go only there
    int redirects = 0;
    std::string host; // the running hop's per-host key; empty while none runs
    std::unique_ptr<CurlRequest> transfer;
    DataBuffer body;
    long httpVersion = 0; // of the last hop that got an answer
    bool done = false;
    FetchOutcome outcome;
};

void ConcurrentFetcher::MultiDeleter::operator()(CURLM* multi) const {
    curl_multi_cleanup(multi);
}

ConcurrentFetcher::ConcurrentFetcher(int maxTransfers, int maxPerHost)
    : m_maxTransfers(std::max(1, maxTransfers)), m_maxPerHost(std::max(1, maxPerHost)) {
    if (!ensureCurlReady()) {
        return;
    }
    m_multi.reset(curl_multi_init());
    if (m_multi) {
        curl_multi_setopt(m_multi.get(), CURLMOPT_PIPELINING,
                          static_cast<long>(CURLPIPE_MULTIPLEX));
        // Idle connections stay open for the transfers that follow.
        curl_multi_setopt(m_multi.get(), CURLMOPT_MAXCONNECTS,
                          static_cast<long>(2 * m_maxTransfers));
    }
}

ConcurrentFetcher::~ConcurrentFetcher() {
    for (auto& entry : m_requests) {
        detach(*entry.second);
    }
    m_requests.clear();
}

const CurlSession* ConcurrentFetcher::sessionFor(const FetchSettings& settings) {
    const std::string key = sessionKey(settings);
    auto found = m_sessions.find(key);
    if (found != m_sessions.end()) {
        return found->second.get();
    }
    std::unique_ptr<CurlSession> session = CurlSession::open(
        settings.kind, settings.kind == AccessKind::NamedProxy ? settings.proxy.c_str() : nullptr);
    if (!session) {
        return nullptr;
    }
    const CurlSession* opened = session.get();
    m_sessions.emplace(key, std::move(session));
    return opened;
}

int ConcurrentFetcher::add(const std::string& url, const FetchSettings& settings) {
    auto request = std::make_unique<Request>();
    request->ticket = m_nextTicket++;
    request->settings = settings;
    request->session = sessionFor(settings);
    request->url = url;
    const int ticket = request->ticket;
    m_requests.emplace(ticket, std::move(request));
    m_waiting.push_back(ticket);
    return ticket;
}

bool ConcurrentFetcher::finished(int ticket) const {
    auto found = m_requests.find(ticket);
    return found != m_requests.end() && found->second->done;
}

long ConcurrentFetcher::httpVersion(int ticket) const {
    auto found = m_requests.find(ticket);
    return found != m_requests.end() ? found->second->httpVersion : 0;
}

bool ConcurrentFetcher::take(int ticket, DataBuffer& out) {
    FetchOutcome outcome;
    return take(ticket, out, outcome);
}

bool ConcurrentFetcher::take(int ticket, DataBuffer& out, FetchOutcome& outcome) {
    auto found = m_requests.find(ticket);
    if (found == m_requests.end()) {
        outcome = FetchOutcome();
        outcome.problem = "the download was not started";
        return false;
    }
    Request& request = *found->second;
    while (!request.done && step()) {
    }
    if (!request.done) {
        fail(request, "the download could not be run", false);
    }
    outcome = request.outcome;
    if (outcome.succeeded) {
        out.takeData(request.body);
    }
    cancel(ticket);
    return outcome.succeeded;
}

void ConcurrentFetcher::cancel(int ticket) {
    auto found = m_requests.find(ticket);
    if (found == m_requests.end()) {
        return;
    }
    detach(*found->second);
    m_requests.erase(found);
    // A ticket still waiting is passed over when its turn comes.
}

void ConcurrentFetcher::run() {
    while (step()) {
    }
}

bool ConcurrentFetcher::step() {
    startWaiting();
    if (m_active == 0) {
        return false;
    }
    int running = 0;
    if (curl_multi_perform(m_multi.get(), &running) != CURLM_OK) {
        // The multi handle itself is broken: nothing running can end well.
        for (auto& entry : m_requests) {
            if (entry.second->transfer && !entry.second->done) {
                detach(*entry.second);
                fail(*entry.second, "the download could not be run", false);
            }
        }
        return true;
    }
    const int before = m_active;
    collectFinished();
    if (m_active != before) {
        // Slots came free: the next transfers go out before the caller
        // looks at what ended.
        startWaiting();
        curl_multi_perform(m_multi.get(), &running);
        return true;
    }
    curl_multi_poll(m_multi.get(), nullptr, 0, kPollMs, nullptr);
    return true;
}

void ConcurrentFetcher::startWaiting() {
    for (auto it = m_waiting.begin(); it != m_waiting.end() && m_active < m_maxTransfers;) {
        auto found = m_requests.find(*it);
        if (found == m_requests.end()) {
            it = m_waiting.erase(it);
            continue;
        }
        Request& request = *found->second;
        const SplitUrl split = splitUrl(request.url.data(), request.url.size());
        // A request that cannot be made fails at once without a slot.
        if (split.ok && split.webScheme && m_perHost[hostKey(split.origin)] >= m_maxPerHost) {
            ++it;
            continue;
        }
        it = m_waiting.erase(it);
        startHop(request);
    }
}

void ConcurrentFetcher::startHop(Request& request) {
    const SplitUrl split = splitUrl(request.url.data(), request.url.size());
    if (request.redirects == 0) {
        request.first = split.origin;
    }
    const TransferPlan plan = getHopPlan(
        split.origin, request.first, request.settings.username, request.settings.password,
        request.settings.ignoreCertErrors, request.settings.limits);
    DataBuffer& body = request.body;
    request.transfer = std::make_unique<CurlRequest>(
        [&body](const char* bytes, size_t count) {
            appendBody(body, bytes, count);
            return true;
        },
        request.settings.limits);
    if (!m_multi) {
        fail(request, "the download could not be set up", false);
        return;
    }
    const CurlRequest::Outcome prepared = request.transfer->prepare(request.session, split, plan);
    if (prepared.failed()) {
        fail(request, prepared.problem, false);
        return;
    }
    CURL* easy = request.transfer->easy();
    curl_easy_setopt(easy, CURLOPT_PRIVATE, static_cast<void*>(&request));
    // Over TLS the server may offer HTTP/2: later transfers wait for the
    // first connection's answer and share it rather than opening their own.
    curl_easy_setopt(easy, CURLOPT_PIPEWAIT, split.origin.scheme == "https" ? 1L : 0L);
    if (curl_multi_add_handle(m_multi.get(), easy) != CURLM_OK) {
        fail(request, "the download could not be set up", false);
        return;
    }
    request.answered = split.requestUrl;
    request.host = hostKey(split.origin);
    ++m_perHost[request.host];
    ++m_active;
    m_peakActive = std::max(m_peakActive, m_active);
}

void ConcurrentFetcher::detach(Request& request) {
    if (request.host.empty()) {
        return;
    }
    curl_multi_remove_handle(m_multi.get(), request.transfer->easy());
    if (--m_perHost[request.host] == 0) {
        m_perHost.erase(request.host);
    }
    --m_active;
    request.host.clear();
}

void ConcurrentFetcher::collectFinished() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi.get(), &left)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        // The message does not outlive the handle's removal.
        CURL* easy = message->easy_handle;
        const CURLcode code = message->data.result;
        char* owner = nullptr;
        if (curl_easy_getinfo(easy, CURLINFO_PRIVATE, &owner) != CURLE_OK || owner == nullptr) {
            curl_multi_remove_handle(m_multi.get(), easy);
            continue;
        }
        hopEnded(*reinterpret_cast<Request*>(owner), code);
    }
}

void ConcurrentFetcher::hopEnded(Request& request, CURLcode code) {
    detach(request);
    long version = CURL_HTTP_VERSION_NONE;
    if (curl_easy_getinfo(request.transfer->easy(), CURLINFO_HTTP_VERSION, &version) == CURLE_OK &&
        version != CURL_HTTP_VERSION_NONE) {
        request.httpVersion = version;
    }
    const CurlRequest::Outcome finished = request.transfer->finish(code);
    if (finished.failed()) {
        fail(request, finished.problem, finished.answered);
        return;
    }
    CURL* easy = request.transfer->easy();
    const long status = responseCode(easy);
    std::string next;
    if (redirectTarget(easy, status, request.answered, next)) {
        if (request.redirects >= VantrelHttpImpl::kMaxRedirects) {
            fail(request, "the server sent too many redirects", true);
            return;
        }
        // The redirect's own body is dropped; the storage stays.
        request.body.truncate(0);
        request.url = next;
        ++request.redirects;
        request.transfer.reset();
        // A request under way goes on before those not yet started.
        m_waiting.push_front(request.ticket);
        return;
    }
    FetchOutcome& outcome = request.outcome;
    outcome.answered = true;
    outcome.status = status;
    outcome.reason = request.transfer->reason();
    if (status != 200) {
        fail(request, describeStatus(status, outcome.reason), true);
    } else if (request.body.getData() == nullptr) {
        fail(request, "the server sent an empty answer", true);
    } else {
        complete(request, true);
    }
}

void ConcurrentFetcher::complete(Request& request, bool succeeded) {
    request.done = true;
    request.outcome.succeeded = succeeded;
    request.outcome.finalUrl = request.url;
    request.outcome.bytes = succeeded ? request.body.getSize() : 0;
    request.transfer.reset();
    if (!succeeded) {
        request.body.release();
    }
}

void ConcurrentFetcher::fail(Request& request, const std::string& problem, bool answered) {
    request.outcome.problem = problem;
    request.outcome.answered = answered;
    complete(request, false);
}
