#pragma once

class DataBuffer;
class DiagnosticLog;
class VantrelHTTP;

// Creation functions, one per access kind; the caller owns the client.
VantrelHTTP* createHttpPreconfig();
VantrelHTTP* createHttpDirect();
VantrelHTTP* createHttpProxy(const char* proxy);
// A non-empty proxy wins; otherwise direct when the flag is set, else the
// preconfigured (environment) settings.
VantrelHTTP* createHttpClient(const char* proxy, bool direct);

// Fetches one URL with the quiet fetch, retrying once under the other access
// kind when no proxy is set (the flag is flipped and stays flipped). On
// success the body is in out and the caller owns the returned client; on
// failure the result is null. The password is never logged.
VantrelHTTP* downloadUrl(const char* url, const char* proxy, const char* username,
                         const char* password, DataBuffer& out, bool& directAccess,
                         DiagnosticLog* log, bool ignoreCertErrors = false);
