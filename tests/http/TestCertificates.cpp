#include "TestCertificates.h"

#include <cstdlib>
#include <memory>

namespace {

bool run(const std::string& command, const std::string& errorFile, std::string& error) {
    std::string full = command + " >/dev/null 2>>'" + errorFile + "'";
    if (std::system(full.c_str()) != 0) {
        error = "openssl failed: " + command + "\n" + readWholeFile(errorFile);
        return false;
    }
    return true;
}

} // namespace

const TestCertificates* TestCertificates::get(std::string* error) {
    static std::unique_ptr<TestCertificates> made;
    static std::string failure;
    if (!made && failure.empty()) {
        std::unique_ptr<TestCertificates> fresh(new TestCertificates());
        if (fresh->make(failure)) {
            made = std::move(fresh);
        }
    }
    if (!made && error != nullptr) {
        *error = failure;
    }
    return made.get();
}

bool TestCertificates::make(std::string& error) {
    const std::string dir = m_dir.path();
    const std::string errors = m_dir.file("openssl-errors.txt");
    m_dir.write("ca.cnf", "[req]\ndistinguished_name=dn\nprompt=no\n[dn]\nCN=Pagewing Test CA\n"
                          "[ca]\nbasicConstraints=critical,CA:TRUE\n"
                          "keyUsage=critical,keyCertSign,cRLSign\n"
                          "subjectKeyIdentifier=hash\n");
    m_dir.write("server.ext", "basicConstraints=CA:FALSE\n"
                              "keyUsage=critical,digitalSignature,keyEncipherment\n"
                              "extendedKeyUsage=serverAuth\n"
                              "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    m_dir.write("other.ext", "basicConstraints=CA:FALSE\n"
                             "keyUsage=critical,digitalSignature,keyEncipherment\n"
                             "extendedKeyUsage=serverAuth\n"
                             "subjectAltName=DNS:other-host.invalid\n");
    const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    caFile = dir + "/ca.pem";
    serverCert = dir + "/server.pem";
    serverKey = dir + "/server.key";
    otherHostCert = dir + "/other.pem";
    otherHostKey = dir + "/other.key";
    auto sign = [&](const std::string& name, const std::string& cn) {
        return run("openssl req -new " + ec + " -subj '/CN=" + cn + "' -keyout '" + dir + "/" +
                       name + ".key' -out '" + dir + "/" + name + ".csr'",
                   errors, error) &&
               run("openssl x509 -req -in '" + dir + "/" + name + ".csr' -CA '" + caFile +
                       "' -CAkey '" + dir + "/ca.key' -CAcreateserial -days 2 -sha256 -extfile '" +
                       dir + "/" + name + ".ext' -out '" + dir + "/" + name + ".pem'",
                   errors, error);
    };
    return run("openssl req -x509 " + ec + " -days 2 -sha256 -config '" + dir +
                   "/ca.cnf' -extensions ca -keyout '" + dir + "/ca.key' -out '" + caFile + "'",
               errors, error) &&
           sign("server", "127.0.0.1") && sign("other", "other-host.invalid");
}
