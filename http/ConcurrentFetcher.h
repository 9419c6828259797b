#pragma once

#include "http/CurlTransport.h"
#include "http/FetchOutcome.h"

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

class DataBuffer;

// What the quiet GET of a client is made with: the client's access kind,
// its credentials (as the client holds them, trimmed), its certificate rule
// and its limits.
struct FetchSettings {
    AccessKind kind = AccessKind::Preconfigured;
    std::string proxy; // the named-proxy kind only
    std::string username;
    std::string password;
    bool ignoreCertErrors = false;
    HttpLimits limits;
};

// Runs many quiet GETs at once on the calling thread, over one libcurl multi
// handle: at most maxPerHost transfers to one scheme, host and port and
// maxTransfers in all; the rest wait in the order they were added.
// Connections are kept open and used again, TLS sessions and host names are
// shared between the transfers of one access kind, and HTTP/2 is used where
// the server offers it.
//
// Each GET is the request of VantrelHttpImpl::fetch (same header line,
// credentials, access kind, limits, redirect and certificate rules) and
// succeeds as that does: status 200 and a body that holds storage. Nothing
// is logged.
//
// Transfers move only while the caller waits in take() or run().
class ConcurrentFetcher {
public:
    static constexpr int kDefaultMaxTransfers = 16;
    static constexpr int kDefaultMaxPerHost = 6;

    explicit ConcurrentFetcher(int maxTransfers = kDefaultMaxTransfers,
                               int maxPerHost = kDefaultMaxPerHost);
    ~ConcurrentFetcher();
    ConcurrentFetcher(const ConcurrentFetcher&) = delete;
    ConcurrentFetcher& operator=(const ConcurrentFetcher&) = delete;

    // Queues the GET of url and returns its ticket.
    int add(const std::string& url, const FetchSettings& settings);
    // Runs the transfers until the ticket's GET has ended, then hands over
    // its result: true when it succeeded, with the body in out (which must
    // be empty); false for a failed GET or an unknown ticket. The ticket is
    // used up.
    bool take(int ticket, DataBuffer& out);
    // The same, with what became of the GET (the address the body finally
    // came from, the status, the failure in words) in outcome.
    bool take(int ticket, DataBuffer& out, FetchOutcome& outcome);
    // Forgets the ticket's GET, stopping its transfer when it runs.
    void cancel(int ticket);
    // Runs until every GET added so far has ended.
    void run();

    bool finished(int ticket) const;
    // The HTTP version the ticket's GET was last answered in, as curl names
    // it (CURL_HTTP_VERSION_1_1, CURL_HTTP_VERSION_2_0, ...): what the server
    // agreed to, which no request rule depends on. 0 while no answer came,
    // and for an unknown or used-up ticket.
    long httpVersion(int ticket) const;
    // Transfers in progress at the moment, and the most there were at once.
    int active() const { return m_active; }
    int peakActive() const { return m_peakActive; }

private:
    struct Request;
    struct MultiDeleter {
        void operator()(CURLM* multi) const;
    };

    const CurlSession* sessionFor(const FetchSettings& settings);
    void startWaiting();
    void startHop(Request& request);
    void detach(Request& request);
    void collectFinished();
    void hopEnded(Request& request, CURLcode code);
    void complete(Request& request, bool succeeded);
    void fail(Request& request, const std::string& problem, bool answered);
    // One round: move every transfer that can, then wait for the network
    // at most a short while. False when nothing is left that could move.
    bool step();

    int m_maxTransfers;
    int m_maxPerHost;
    int m_nextTicket = 0;
    int m_active = 0;
    int m_peakActive = 0;
    // Declared first so that they outlive the transfers that use them.
    std::map<std::string, std::unique_ptr<CurlSession>> m_sessions;
    std::unique_ptr<CURLM, MultiDeleter> m_multi;
    std::map<int, std::unique_ptr<Request>> m_requests;
    std::deque<int> m_waiting;
    std::unordered_map<std::string, int> m_perHost;
};
