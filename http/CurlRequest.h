#pragma once

#include "http/CurlTransport.h"

#include <string>

// One request on its own easy handle (the connection and request handles of
// a request): set up, run to its end either alone or on a multi handle, and
// kept so that the response's headers can be read afterwards.
class CurlRequest {
public:
    struct Outcome {
        RequestStep failedStep = RequestStep::None;
        std::string systemText; // libcurl's text, for the diagnostic log
        std::string problem;    // the same failure in words, for people
        bool answered = false;  // a server's answer began before it ended

        bool failed() const { return failedStep != RequestStep::None; }
    };

    CurlRequest(TransferState::Sink sink, const HttpLimits& limits);
    CurlRequest(const CurlRequest&) = delete;
    CurlRequest& operator=(const CurlRequest&) = delete;

    // Sets every option of the transfer; a failure outcome when the request
    // cannot be made (no session, a URL that cannot be split or is not http
    // or https, an option that does not take).
    Outcome prepare(const CurlSession* session, const SplitUrl& split, const TransferPlan& plan);
    // What the transfer's end (curl's result for it) means for the request.
    Outcome finish(CURLcode code) const;
    // prepare, then the transfer on this thread until it ends.
    Outcome run(const CurlSession* session, const SplitUrl& split, const TransferPlan& plan);

    CURL* easy() const { return m_easy.get(); }
    // The reason phrase of the last answer's status line.
    const std::string& reason() const { return m_state.reason(); }

private:
    static Outcome failure(RequestStep step, std::string text, std::string problem) {
        return {step, std::move(text), std::move(problem), false};
    }

    CurlEasy m_easy;
    CurlHeaderList m_headers;
    TransferState m_state;
    HttpLimits m_limits;
    bool m_post = false;
    std::string m_host;
    int m_port = 0;
    std::string m_proxy;
};
