#include "http/VantrelHttpImpl.h"

#include "foundation/DataBuffer.h"
#include "foundation/DiagnosticLog.h"
#include "http/CurlRequest.h"

#include <cstdio>

namespace {

const char kFormTypeLine[] = "Content-Type: application/x-www-form-urlencoded";
const char kXmlTypeLine[] = "Content-Type: text/xml";

HttpLimits& sharedDefaultLimits() {
    static HttpLimits limits;
    return limits;
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

} // namespace

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
    outcome = FetchOutcome();
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
        TransferPlan plan =
            getHopPlan(split.origin, first, user, secret, ignoreCertErrors, m_limits);

        CurlRequest request(
            [&out](const char* bytes, size_t count) {
                appendBody(out, bytes, count);
                return true;
            },
            m_limits);
        CurlRequest::Outcome result = request.run(internet.get(), split, plan);
        if (result.failed()) {
            outcome.answered = result.answered;
            outcome.problem = result.problem;
            reportFailure(kind, result.failedStep, result.systemText.c_str());
            return false;
        }
        outcome.answered = true;
        readStatus(request.easy());
        const long code = responseCode(request.easy());
        std::string next;
        if (redirectTarget(request.easy(), code, split.requestUrl, next)) {
            if (redirects < kMaxRedirects) {
                // The redirect's own body is dropped; the storage stays.
                out.truncate(0);
                current = next;
                continue;
            }
            outcome.problem = "the server sent too many redirects";
        }
        readContentType(request.easy());
        finalUrl.setString(current.c_str());
        return concludeGet(kind, out, code, request.reason(), current);
    }
}

bool VantrelHttpImpl::concludeGet(GetKind kind, const DataBuffer& out, long code,
                                  const std::string& reason, const std::string& from) {
    outcome.status = code;
    outcome.reason = reason;
    outcome.finalUrl = from;
    outcome.bytes = out.getSize();
    const bool hasBody = kind == GetKind::Logged || out.getData() != nullptr;
    outcome.succeeded = outcome.problem.empty() && status.equals("200") && hasBody;
    if (outcome.succeeded || !outcome.problem.empty()) {
        return outcome.succeeded;
    }
    outcome.problem =
        code != 200 ? describeStatus(code, reason) : "the server sent an empty answer";
    return false;
}

bool VantrelHttpImpl::post(StringBuffer& url, StringBuffer& body, StringBuffer& response,
                           const char* contentTypeLine, StringBuffer* errors) {
    SplitUrl split = splitUrl(url.getString(), static_cast<size_t>(url.getSize()));
    std::string user = username.getString();
    std::string secret = password.getString();
    TransferPlan plan;
    plan.post = true;
    plan.extraHeader = contentTypeLine;
    plan.body = body.getString();
    plan.bodyLength = static_cast<size_t>(body.getSize());
    plan.username = &user;
    plan.password = &secret;
    plan.ignoreCertErrors = ignoreCertErrors;
    plan.limits = m_limits;

    CurlRequest request(
        [&response](const char* bytes, size_t count) {
            response.appendBytes(bytes, static_cast<int>(count));
            return true;
        },
        m_limits);
    CurlRequest::Outcome outcome = request.run(internet.get(), split, plan);
    if (outcome.failedStep == RequestStep::None) {
        return true;
    }
    if (errors != nullptr) {
        errors->append(errorsMessage(outcome.failedStep));
    }
    return false;
}

void VantrelHttpImpl::clearResults() {
    finalUrl.clear();
    charset.clear();
    contentType.clear();
    status.clear();
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
