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

VantrelHTTP* downloadUrl(const char* url, const char* proxy, const char* username,
                         const char* password, DataBuffer& out, bool& directAccess,
                         DiagnosticLog* log, bool ignoreCertErrors) {
    StringBuffer trimmedProxy(proxy != nullptr ? proxy : "");
    trimmedProxy.trim();
    StringBuffer urlText(url != nullptr ? url : "");

    std::unique_ptr<VantrelHTTP> client(createHttpClient(trimmedProxy.getString(), directAccess));
    if (!client) {
        if (log != nullptr) {
            log->logError("Failed to create HTTP object");
        }
        return nullptr;
    }
    setCredentials(*client, username, password);
    client->setIgnoreCertErrors(ignoreCertErrors);
    if (client->fetch(urlText, out)) {
        return client.release();
    }

    if (trimmedProxy.getSize() > 0) {
        client.reset();
        if (log != nullptr) {
            log->logError("Failed to download URL with proxy");
            log->logData("url", urlText.getString());
            log->logData("proxy", proxy);
            logUsername(log, username, password);
        }
        return nullptr;
    }

    // Without a proxy the other access kind gets one more try, and later
    // downloads start with it.
    directAccess = !directAccess;
    client.reset();
    client.reset(directAccess ? createHttpDirect() : createHttpPreconfig());
    if (!client) {
        if (log != nullptr) {
            log->logError("Failed to create HTTP object (2)");
        }
        return nullptr;
    }
    setCredentials(*client, username, password);
    client->setIgnoreCertErrors(ignoreCertErrors);
    out.truncate(0);
    if (client->fetch(urlText, out)) {
        return client.release();
    }
    client.reset();
    if (log != nullptr) {
        log->logError("Failed to download URL.");
        log->logData("url", urlText.getString());
        logUsername(log, username, password);
    }
    return nullptr;
}
