#include "http/VantrelHttpImpl.h"

#include "foundation/DataBuffer.h"
#include "foundation/DiagnosticLog.h"

#include <algorithm>
#include <cstdio>

namespace {

const char kBrowserAgentLine[] =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; Q312461)";
const char kFormTypeLine[] = "Content-Type: application/x-www-form-urlencoded";
const char kXmlTypeLine[] = "Content-Type: text/xml";

HttpLimits& sharedDefaultLimits() {
    static HttpLimits limits;
    return limits;
}

bool isFollowedRedirect(const StringBuffer& status) {
    return status.equals("301") || status.equals("302") || status.equals("303") ||
           status.equals("307") || status.equals("308");
}

const char* loggedMessage(RequestStep step) {
    switch (step) {
    case RequestStep::Connect:
        return "InternetConnect failed";
    case RequestStep::OpenRequest:
        return "HttpOpenRequest failed";
    default:
        return "HttpSendRequest failed (1)";
    }
}

const char* errorsMessage(RequestStep step) {
    switch (step) {
    case RequestStep::Connect:
        return "Failed to make Internet connection";
    case RequestStep::OpenRequest:
        return "Failed to open HTTP request";
    default:
        return "Failed to send HTTP request";
    }
}

// The buffer's own growth is linear, which makes a large body quadratic to
// collect; room is made ahead in larger steps instead.
void appendGrowing(DataBuffer& out, const char* bytes, size_t count) {
    uint64_t needed = static_cast<uint64_t>(out.getSize()) + count;
    if (needed > out.getCapacity() && needed <= DataBuffer::kMaxSize) {
        uint64_t grown = std::max<uint64_t>(needed, out.getCapacity() + out.getCapacity() / 2);
        out.ensureCapacity(static_cast<uint32_t>(std::min<uint64_t>(grown, DataBuffer::kMaxSize)));
    }
    out.append(bytes, static_cast<uint32_t>(count));
}

} // namespace

// One request on its own handle (the connection and request handles of the
// steps): runs it and keeps the handle so that the response's headers can
// be read afterwards.
class CurlRequest {
public:
    struct Outcome {
        RequestStep failedStep = RequestStep::None;
        std::string systemText;
    };

    CurlRequest(TransferState::Sink sink, const HttpLimits& limits)
        : m_state(std::move(sink), limits) {}

    Outcome run(const CurlSession* session, const SplitUrl& split, const TransferSpec& spec) {
        if (session == nullptr) {
            return failure(RequestStep::Connect, curl_easy_strerror(CURLE_FAILED_INIT));
        }
        if (!split.ok) {
            return failure(RequestStep::OpenRequest, split.error);
        }
        if (!split.webScheme) {
            return failure(RequestStep::OpenRequest,
                           curl_easy_strerror(CURLE_UNSUPPORTED_PROTOCOL));
        }
        if (!m_easy) {
            return failure(RequestStep::OpenRequest, curl_easy_strerror(CURLE_FAILED_INIT));
        }
        CURLcode code =
            configureTransfer(m_easy.get(), *session, split.requestUrl, spec, m_headers, m_state);
        if (code != CURLE_OK) {
            return failure(RequestStep::OpenRequest, curl_easy_strerror(code));
        }
        code = performTransfer(m_easy.get(), m_state);
        if (code != CURLE_OK) {
            return failure(stepOfFailure(code, m_state.connected()), curl_easy_strerror(code));
        }
        return {};
    }

    CURL* easy() const { return m_easy.get(); }

private:
    static Outcome failure(RequestStep step, std::string text) { return {step, std::move(text)}; }

    CurlEasy m_easy;
    CurlHeaderList m_headers;
    TransferState m_state;
};

VantrelHttpImpl::VantrelHttpImpl(AccessKind kind, const char* proxy)
    : internet(CurlSession::open(kind, kind == AccessKind::NamedProxy ? proxy : nullptr)),
      m_kind(kind), m_proxy(kind == AccessKind::NamedProxy && proxy != nullptr ? proxy : ""),
      m_limits(defaultLimits()) {}

VantrelHttpImpl::~VantrelHttpImpl() = default;

HttpLimits VantrelHttpImpl::defaultLimits() {
    return sharedDefaultLimits();
}

void VantrelHttpImpl::setDefaultLimits(const HttpLimits& limits) {
    sharedDefaultLimits() = limits;
}

bool VantrelHttpImpl::fetch(StringBuffer& url, DataBuffer& out) {
    return get(url, out, GetKind::Quiet);
}

bool VantrelHttpImpl::fetchLogged(StringBuffer& url, DataBuffer& out) {
    return get(url, out, GetKind::Logged);
}

const char* VantrelHttpImpl::getCharset() {
    return charset.getString();
}

const char* VantrelHttpImpl::getStatus() {
    return status.getString();
}

bool VantrelHttpImpl::postForm(StringBuffer& url, StringBuffer& body, StringBuffer& response) {
    return post(url, body, response, kFormTypeLine, nullptr);
}

bool VantrelHttpImpl::postXml(StringBuffer& url, StringBuffer& body, StringBuffer& response,
                              StringBuffer& errors) {
    return post(url, body, response, kXmlTypeLine, &errors);
}

bool VantrelHttpImpl::get(StringBuffer& url, DataBuffer& out, GetKind kind) {
    std::string current(url.getString(), static_cast<size_t>(url.getSize()));
    UrlOrigin first;
    for (int redirects = 0;; ++redirects) {
        clearResults();
        SplitUrl split = splitUrl(current.data(), current.size());
        if (kind == GetKind::Logged && log != nullptr) {
            log->logDataInt("http_port", split.origin.port);
        }
        if (redirects == 0) {
            first = split.origin;
        }
        std::string user = username.getString();
        std::string secret = password.getString();
        TransferSpec spec;
        spec.extraHeader = kBrowserAgentLine;
        if (credentialsFor(split.origin, first)) {
            spec.username = &user;
            spec.password = &secret;
        }
        spec.ignoreCertErrors = ignoreCertErrors;
        spec.limits = m_limits;

        CurlRequest request(
            [&out](const char* bytes, size_t count) {
                appendGrowing(out, bytes, count);
                return true;
            },
            m_limits);
        CurlRequest::Outcome outcome = request.run(internet.get(), split, spec);
        if (outcome.failedStep != RequestStep::None) {
            reportFailure(kind, outcome.failedStep, outcome.systemText.c_str());
            return false;
        }
        readStatus(request.easy());
        std::string next;
        if (redirects < kMaxRedirects && nextLocation(request.easy(), split.requestUrl, next)) {
            // The redirect's own body is dropped; the storage stays.
            out.truncate(0);
            current = next;
            continue;
        }
        readContentType(request.easy());
        return status.equals("200") && (kind == GetKind::Logged || out.getData() != nullptr);
    }
}

bool VantrelHttpImpl::post(StringBuffer& url, StringBuffer& body, StringBuffer& response,
                           const char* contentTypeLine, StringBuffer* errors) {
    SplitUrl split = splitUrl(url.getString(), static_cast<size_t>(url.getSize()));
    std::string user = username.getString();
    std::string secret = password.getString();
    TransferSpec spec;
    spec.post = true;
    spec.extraHeader = contentTypeLine;
    spec.body = body.getString();
    spec.bodyLength = static_cast<size_t>(body.getSize());
    spec.username = &user;
    spec.password = &secret;
    spec.ignoreCertErrors = ignoreCertErrors;
    spec.limits = m_limits;

    CurlRequest request(
        [&response](const char* bytes, size_t count) {
            response.appendBytes(bytes, static_cast<int>(count));
            return true;
        },
        m_limits);
    CurlRequest::Outcome outcome = request.run(internet.get(), split, spec);
    if (outcome.failedStep == RequestStep::None) {
        return true;
    }
    if (errors != nullptr) {
        errors->append(errorsMessage(outcome.failedStep));
    }
    return false;
}

void VantrelHttpImpl::clearResults() {
    charset.clear();
    contentType.clear();
    status.clear();
}

bool VantrelHttpImpl::credentialsFor(const UrlOrigin& target, const UrlOrigin& first) const {
    return target.sameAs(first);
}

void VantrelHttpImpl::readStatus(CURL* easy) {
    long code = responseCode(easy);
    if (code <= 0) {
        return;
    }
    char text[24];
    std::snprintf(text, sizeof text, "%ld", code);
    status.setString(text);
}

bool VantrelHttpImpl::nextLocation(CURL* easy, const std::string& answered,
                                   std::string& next) const {
    if (!isFollowedRedirect(status)) {
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

void VantrelHttpImpl::readContentType(CURL* easy) {
    std::string value;
    if (!queryHeader(easy, "Content-Type", value)) {
        return;
    }
    contentType.setString(value.c_str());
    const char* found = findNoCase(contentType.getString(), "charset=");
    if (found == nullptr) {
        return;
    }
    const char* start = found + 8;
    const char* end = start;
    while (*end != 0 && *end != ';') {
        ++end;
    }
    charset.clear();
    charset.appendBytes(start, static_cast<int>(end - start));
}

void VantrelHttpImpl::reportFailure(GetKind kind, RequestStep step, const char* systemText) const {
    if (kind != GetKind::Logged || log == nullptr) {
        return;
    }
    log->logError(loggedMessage(step));
    log->logError(systemText);
}
