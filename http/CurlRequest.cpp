#include "http/CurlRequest.h"

#include "http/TransferProblem.h"

#include <utility>

namespace {

const char kCannotSetUp[] = "the download could not be set up";

} // namespace

CurlRequest::CurlRequest(TransferState::Sink sink, const HttpLimits& limits)
    : m_state(std::move(sink), limits), m_limits(limits) {}

CurlRequest::Outcome CurlRequest::prepare(const CurlSession* session, const SplitUrl& split,
                                          const TransferPlan& plan) {
    if (session == nullptr) {
        return failure(RequestStep::Connect, curl_easy_strerror(CURLE_FAILED_INIT), kCannotSetUp);
    }
    if (!split.ok) {
        return failure(RequestStep::OpenRequest, split.error, "the address is not a valid URL");
    }
    if (!split.webScheme) {
        return failure(RequestStep::OpenRequest, curl_easy_strerror(CURLE_UNSUPPORTED_PROTOCOL),
                       "only http and https addresses can be fetched");
    }
    if (!m_easy) {
        return failure(RequestStep::OpenRequest, curl_easy_strerror(CURLE_FAILED_INIT),
                       kCannotSetUp);
    }
    m_post = plan.post;
    m_host = split.origin.host;
    m_port = split.origin.port;
    m_proxy = session->kind() == AccessKind::NamedProxy ? session->proxy() : std::string();
    CURLcode code =
        configureTransfer(m_easy.get(), *session, split.requestUrl, plan, m_headers, m_state);
    if (code != CURLE_OK) {
        return failure(RequestStep::OpenRequest, curl_easy_strerror(code), kCannotSetUp);
    }
    return {};
}

CurlRequest::Outcome CurlRequest::finish(CURLcode code) const {
    code = m_state.explain(code);
    // The answer to a POST is read as far as it came, as it always was;
    // only a download must be whole.
    if (m_post && m_state.headersComplete() && isCutShort(code)) {
        code = CURLE_OK;
    }
    if (code == CURLE_OK) {
        return {};
    }
    TransferFacts facts;
    facts.code = code;
    facts.host = m_host;
    facts.port = m_port;
    facts.proxy = m_proxy;
    facts.connected = m_state.connected();
    facts.connectTimeoutMs = m_limits.connectTimeoutMs;
    facts.stallTimeoutMs = m_limits.stallTimeoutMs;
    facts.bodyBytes = m_state.bodyBytes();
    curl_easy_getinfo(m_easy.get(), CURLINFO_OS_ERRNO, &facts.osErrno);
    curl_easy_getinfo(m_easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &facts.expected);
    Outcome outcome = failure(stepOfFailure(code, m_state.connected()), curl_easy_strerror(code),
                              describeTransferFailure(facts));
    // A server that took the connection and then stayed silent would stay
    // silent on the other way too: it counts as having answered.
    outcome.answered =
        m_state.answered() || (code == CURLE_OPERATION_TIMEDOUT && m_state.connected());
    return outcome;
}

CurlRequest::Outcome CurlRequest::run(const CurlSession* session, const SplitUrl& split,
                                      const TransferPlan& plan) {
    Outcome prepared = prepare(session, split, plan);
    if (prepared.failed()) {
        return prepared;
    }
    return finish(curl_easy_perform(m_easy.get()));
}
