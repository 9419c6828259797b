#pragma once

#include "foundation/StringBuffer.h"

class DataBuffer;
class DiagnosticLog;

// The abstract HTTP client: credentials, an optional borrowed log, and the
// six requests. Clients come from the creation functions in HttpDownload.h
// and are deleted through the virtual destructor.
//
// Contract: fetch and fetchLogged empty the results of the last GET first
// (status, content type, charset), append the body to the output and need
// the status "200"; fetch also needs the output to hold storage. The POSTs
// do not examine the status. Only fetchLogged writes to the log.
class VantrelHTTP {
public:
    VantrelHTTP() = default;
    VantrelHTTP(const VantrelHTTP&) = delete;
    VantrelHTTP& operator=(const VantrelHTTP&) = delete;

    virtual ~VantrelHTTP() = default;
    virtual bool postForm(StringBuffer& url, StringBuffer& body, StringBuffer& response) = 0;
    virtual bool fetch(StringBuffer& url, DataBuffer& out) = 0;
    virtual bool fetchLogged(StringBuffer& url, DataBuffer& out) = 0;
    virtual const char* getCharset() = 0;
    virtual const char* getStatus() = 0;
    virtual bool postXml(StringBuffer& url, StringBuffer& body, StringBuffer& response,
                         StringBuffer& errors) = 0;

    void setUsername(const char* text);
    void setPassword(const char* text);
    bool fetchLogged(const char* url, DataBuffer& out);

    // Restores relaxed certificate checks (unknown CA, wrong host name,
    // expired dates, revocation); off unless the user asks for it.
    void setIgnoreCertErrors(bool ignore) { ignoreCertErrors = ignore; }

    StringBuffer username;
    StringBuffer password;
    DiagnosticLog* log = nullptr;
    bool ignoreCertErrors = false;
};
