#include "http/CurlRequest.h"

#include <utility>

CurlRequest::CurlRequest(TransferState::Sink sink, const HttpLimits& limits)
    : m_state(std::move(sink), limits) {}

CurlRequest::Outcome CurlRequest::prepare(const CurlSession* session, const SplitUrl& split,
                                          const TransferPlan& plan) {
    if (session == nullptr) {
        return failure(RequestStep::Connect, curl_easy_strerror(CURLE_FAILED_INIT));
    }
    if (!split.ok) {
        return failure(RequestStep::OpenRequest, split.error);
    }
    if (!split.webScheme) {
        return failure(RequestStep::OpenRequest, curl_easy_strerror(CURLE_UNSUPPORTED_PROTOCOL));
    }
    if (!m_easy) {
        return failure(RequestStep::OpenRequest, curl_easy_strerror(CURLE_FAILED_INIT));
    }
    CURLcode code =
        configureTransfer(m_easy.get(), *session, split.requestUrl, plan, m_headers, m_state);
    if (code != CURLE_OK) {
        return failure(RequestStep::OpenRequest, curl_easy_strerror(code));
    }
    return {};
}

CurlRequest::Outcome CurlRequest::finish(CURLcode code) const {
    code = m_state.explain(code);
    if (code != CURLE_OK) {
        return failure(stepOfFailure(code, m_state.connected()), curl_easy_strerror(code));
    }
    return {};
}

CurlRequest::Outcome CurlRequest::run(const CurlSession* session, const SplitUrl& split,
                                      const TransferPlan& plan) {
    Outcome prepared = prepare(session, split, plan);
    if (prepared.failed()) {
        return prepared;
    }
    return finish(curl_easy_perform(m_easy.get()));
}
