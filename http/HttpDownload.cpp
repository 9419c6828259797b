#include "http/HttpDownload.h"

#include "foundation/DataBuffer.h"
#include "foundation/DiagnosticLog.h"
#include "foundation/StringBuffer.h"
#include "http/VantrelHttpImpl.h"

#include <memory>
#include <new>

namespace {

// Lack of memory while a client is made gives null, as the callers expect.
VantrelHTTP* createClient(AccessKind kind, const char* proxy) {
    try {
        return new VantrelHttpImpl(kind, proxy);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void setCredentials(VantrelHTTP& client, const char* username, const char* password) {
    if (username != nullptr && password != nullptr) {
        client.setUsername(username);
        client.setPassword(password);
    }
}

void logUsername(DiagnosticLog* log, const char* username, const char* password) {
    // The password is never written to the log.
    if (username != nullptr && password != nullptr) {
        log->logData("username", username);
    }
}

} // namespace

VantrelHTTP* createHttpPreconfig() {
    return createClient(AccessKind::Preconfigured, nullptr);
}

VantrelHTTP* createHttpDirect() {
    return createClient(AccessKind::Direct, nullptr);
}

VantrelHTTP* createHttpProxy(const char* proxy) {
    return createClient(AccessKind::NamedProxy, proxy != nullptr ? proxy : "");
}

VantrelHTTP* createHttpClient(const char* proxy, bool direct) {
    if (proxy != nullptr && *proxy != 0) {
        return createHttpProxy(proxy);
    }
    return direct ? createHttpDirect() : createHttpPreconfig();
}

DownloadRequest::DownloadRequest(const char* url, const char* proxy, const char* username,
                                 const char* password, bool& directAccess)
    : url(url), proxy(proxy), username(username), password(password), directAccess(directAccess) {}

namespace {

using ClientPtr = std::unique_ptr<VantrelHTTP>;

// One quiet fetch on a fresh client; its outcome goes to the caller.
bool fetchOnce(VantrelHTTP& client, const DownloadRequest& request, StringBuffer& url,
               DataBuffer& out) {
    setCredentials(client, request.username, request.password);
    client.setIgnoreCertErrors(request.ignoreCertErrors);
    const bool fetched = client.fetch(url, out);
    if (request.outcome != nullptr) {
        const auto* impl = dynamic_cast<const VantrelHttpImpl*>(&client);
        *request.outcome = impl != nullptr ? impl->outcome : FetchOutcome();
        request.outcome->succeeded = fetched;
    }
    return fetched;
}

void logFinalFailure(const DownloadRequest& request, const char* url) {
    if (request.log != nullptr) {
        request.log->logError("Failed to download URL.");
        request.log->logData("url", url);
        logUsername(request.log, request.username, request.password);
    }
}

} // namespace

VantrelHTTP* downloadUrl(const DownloadRequest& request, DataBuffer& out) {
    StringBuffer trimmedProxy(request.proxy != nullptr ? request.proxy : "");
    trimmedProxy.trim();
    StringBuffer urlText(request.url != nullptr ? request.url : "");

    ClientPtr client(createHttpClient(trimmedProxy.getString(), request.directAccess));
    if (!client) {
        if (request.log != nullptr) {
            request.log->logError("Failed to create HTTP object");
        }
        return nullptr;
    }
    if (fetchOnce(*client, request, urlText, out)) {
        return client.release();
    }
    const auto* impl = dynamic_cast<const VantrelHttpImpl*>(client.get());
    const FetchOutcome firstTry = impl != nullptr ? impl->outcome : FetchOutcome();
    client.reset();
    return downloadAfterFirstTry(request, firstTry, out);
}

VantrelHTTP* downloadAfterFirstTry(const DownloadRequest& request, const FetchOutcome& firstTry,
                                   DataBuffer& out) {
    StringBuffer trimmedProxy(request.proxy != nullptr ? request.proxy : "");
    trimmedProxy.trim();
    StringBuffer urlText(request.url != nullptr ? request.url : "");
    if (request.outcome != nullptr) {
        *request.outcome = firstTry;
    }
    if (trimmedProxy.getSize() > 0) {
        if (request.log != nullptr) {
            request.log->logError("Failed to download URL with proxy");
            request.log->logData("url", urlText.getString());
            request.log->logData("proxy", request.proxy);
            logUsername(request.log, request.username, request.password);
        }
        return nullptr;
    }
    if (!firstTry.worthRetrying()) {
        // The server has answered; another way to it gets the same answer.
        logFinalFailure(request, urlText.getString());
        return nullptr;
    }
    // Without a proxy the other access kind gets one more try, and later
    // downloads start with it.
    request.directAccess = !request.directAccess;
    ClientPtr client(request.directAccess ? createHttpDirect() : createHttpPreconfig());
    if (!client) {
        if (request.log != nullptr) {
            request.log->logError("Failed to create HTTP object (2)");
        }
        return nullptr;
    }
    out.truncate(0);
    if (fetchOnce(*client, request, urlText, out)) {
        return client.release();
    }
    client.reset();
    logFinalFailure(request, urlText.getString());
    return nullptr;
}

VantrelHTTP* downloadUrl(const char* url, const char* proxy, const char* username,
                         const char* password, DataBuffer& out, bool& directAccess,
                         DiagnosticLog* log, bool ignoreCertErrors) {
    DownloadRequest request(url, proxy, username, password, directAccess);
    request.log = log;
    request.ignoreCertErrors = ignoreCertErrors;
    return downloadUrl(request, out);
}
