#pragma once

class DataBuffer;
class DiagnosticLog;
class VantrelHTTP;
struct FetchOutcome;

// Creation functions, one per access kind; the caller owns the client.
VantrelHTTP* createHttpPreconfig();
VantrelHTTP* createHttpDirect();
VantrelHTTP* createHttpProxy(const char* proxy);
// A non-empty proxy wins; otherwise direct when the flag is set, else the
// preconfigured (environment) settings.
VantrelHTTP* createHttpClient(const char* proxy, bool direct);

// One download: what to fetch, how, and where to report. The texts and the
// flag are borrowed for the call.
struct DownloadRequest {
    DownloadRequest(const char* url, const char* proxy, const char* username, const char* password,
                    bool& directAccess);

    const char* url;
    const char* proxy;
    const char* username; // both null or both given: see setCredentials
    const char* password;
    bool& directAccess;
    DiagnosticLog* log = nullptr;
    bool ignoreCertErrors = false;
    FetchOutcome* outcome = nullptr; // receives what became of the last try
};

// Fetches one URL with the quiet fetch, retrying once under the other access
// kind when no proxy is set and no server answered the first try (the flag
// is then flipped and stays flipped): a server's answer, 404 or 500, would
// only come again. On success the body is in out and the caller owns the
// returned client; on failure the result is null. The password is never
// logged.
VantrelHTTP* downloadUrl(const DownloadRequest& request, DataBuffer& out);
VantrelHTTP* downloadUrl(const char* url, const char* proxy, const char* username,
                         const char* password, DataBuffer& out, bool& directAccess,
                         DiagnosticLog* log, bool ignoreCertErrors = false);
// What downloadUrl does after its first try failed, for a first try made
// elsewhere (ahead of time, under the same access kind): the report, and the
// retry when it can help.
VantrelHTTP* downloadAfterFirstTry(const DownloadRequest& request, const FetchOutcome& firstTry,
                                   DataBuffer& out);
