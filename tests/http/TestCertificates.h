#pragma once

#include "support/TempDir.h"

#include <string>

// Throw-away certificates made with the openssl tool: a test certificate
// authority, a server certificate it signed for 127.0.0.1 and localhost,
// and one it signed for another host name only. Made once per process.
class TestCertificates {
public:
    // Null (with the reason in error) when openssl failed.
    static const TestCertificates* get(std::string* error = nullptr);

    std::string caFile;
    std::string serverCert;
    std::string serverKey;
    std::string otherHostCert;
    std::string otherHostKey;

private:
    TestCertificates() = default;
    bool make(std::string& error);

    TempDir m_dir;
};
