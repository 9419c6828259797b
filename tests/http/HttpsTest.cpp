#include "HttpTestFixture.h"
#include "TestCertificates.h"
#include "http/HttpDownload.h"
#include "support/RecordingLog.h"

#include <gmock/gmock.h>

#include <memory>
#include <string>

namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

// Two HTTPS servers on ports other than 443: one with a certificate for
// 127.0.0.1, one with a certificate for another host name, both signed by
// the test CA; and a plain server for the crossings between the schemes.
class HttpsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        const TestCertificates* certificates = TestCertificates::get(&error);
        if (certificates == nullptr) {
            s_error = error;
            return;
        }
        s_secure = start({"", "", certificates->serverCert, certificates->serverKey});
        s_otherHost = start({"", "", certificates->otherHostCert, certificates->otherHostKey});
        s_plain = start({});
    }
    static void TearDownTestSuite() {
        s_secure.reset();
        s_otherHost.reset();
        s_plain.reset();
    }

    void SetUp() override {
        ASSERT_TRUE(s_secure && s_otherHost && s_plain) << s_error;
        m_environment.clearProxies();
        m_environment.unset("CURL_CA_BUNDLE");
        m_environment.unset("SSL_CERT_FILE");
        m_environment.unset("SSL_CERT_DIR");
        s_secure->clearRequests();
        s_otherHost->clearRequests();
        s_plain->clearRequests();
        m_client.log = &m_log;
        m_client.setLimits(quickLimits());
    }

    void trustTestCa() { m_environment.set("CURL_CA_BUNDLE", TestCertificates::get()->caFile); }

    bool fetchLogged(const std::string& target, DataBuffer& out) {
        StringBuffer address(target.c_str());
        return m_client.fetchLogged(address, out);
    }

    static std::unique_ptr<TestServer> start(TestServerOptions options) {
        auto server = std::make_unique<TestServer>(options);
        std::string error;
        if (!server->start(&error)) {
            s_error = error;
            return nullptr;
        }
        return server;
    }

    static inline std::unique_ptr<TestServer> s_secure;
    static inline std::unique_ptr<TestServer> s_otherHost;
    static inline std::unique_ptr<TestServer> s_plain;
    static inline std::string s_error;

    ScopedEnvironment m_environment;
    VantrelHttpImpl m_client{AccessKind::Direct};
    RecordingLog m_log;
};

TEST_F(HttpsTest, AnHttpsUrlOnAnyPortUsesTlsAndVerifiesTheCertificate) {
    trustTestCa();
    DataBuffer out;
    ASSERT_TRUE(fetchLogged(s_secure->url("/_/r?body=secret&type=text/html;charset=utf-8"), out))
        << ::testing::PrintToString(m_log.lines());
    EXPECT_EQ(bytesOf(out), "secret");
    EXPECT_STREQ(m_client.getCharset(), "utf-8");
    EXPECT_THAT(m_log.lines(), ElementsAre("int: http_port=" + std::to_string(s_secure->port())));
}

// The variables through which OpenSSL's own tools are told of another
// certificate store.
TEST_F(HttpsTest, TheStoreNamedByTheOpenSslVariablesIsTrusted) {
    m_environment.set("SSL_CERT_FILE", TestCertificates::get()->caFile);
    DataBuffer out;
    EXPECT_TRUE(fetchLogged(s_secure->url("/_/r?body=secret"), out))
        << ::testing::PrintToString(m_log.lines());
    EXPECT_EQ(bytesOf(out), "secret");
}

TEST_F(HttpsTest, AnUnknownAuthorityIsRefused) {
    DataBuffer out;
    EXPECT_FALSE(fetchLogged(s_secure->url("/_/r?body=secret"), out));
    EXPECT_THAT(m_log.lines(),
                ElementsAre(StartsWith("int: http_port="), "error: HttpSendRequest failed (1)",
                            StartsWith("error: ")));
    EXPECT_EQ(out.getSize(), 0u);
    EXPECT_TRUE(s_secure->requests().empty());
    // No server answered: another way to it might still verify.
    EXPECT_EQ(m_client.outcome.problem,
              "the certificate of 127.0.0.1 could not be verified (use --insecure to accept it)");
    EXPECT_FALSE(m_client.outcome.answered);
}

TEST_F(HttpsTest, AWrongHostNameIsRefused) {
    trustTestCa();
    DataBuffer out;
    EXPECT_FALSE(fetchLogged(s_otherHost->url("/_/r?body=secret"), out));
    EXPECT_THAT(m_log.lines(),
                ElementsAre(StartsWith("int: http_port="), "error: HttpSendRequest failed (1)",
                            "error: SSL peer certificate or SSH remote key was not OK"));
}

TEST_F(HttpsTest, IgnoringCertificateErrorsAcceptsAnUnknownAuthority) {
    m_client.setIgnoreCertErrors(true);
    DataBuffer out;
    EXPECT_TRUE(fetchLogged(s_secure->url("/_/r?body=secret"), out));
    EXPECT_EQ(bytesOf(out), "secret");
}

TEST_F(HttpsTest, IgnoringCertificateErrorsAcceptsAWrongHostName) {
    trustTestCa();
    m_client.setIgnoreCertErrors(true);
    DataBuffer out;
    EXPECT_TRUE(fetchLogged(s_otherHost->url("/_/r?body=other"), out));
    EXPECT_EQ(bytesOf(out), "other");
}

TEST_F(HttpsTest, AnHttpUrlNeverUsesTls) {
    trustTestCa();
    DataBuffer out;
    std::string plainToTlsPort = "http://127.0.0.1:" + std::to_string(s_secure->port()) + "/";
    EXPECT_FALSE(fetchLogged(plainToTlsPort, out));
    EXPECT_THAT(m_log.lines(),
                ElementsAre(StartsWith("int: http_port="), "error: HttpSendRequest failed (1)",
                            StartsWith("error: ")));
}

TEST_F(HttpsTest, AnHttpsUrlToAPlainServerFails) {
    DataBuffer out;
    std::string tlsToPlainPort = "https://127.0.0.1:" + std::to_string(s_plain->port()) + "/";
    EXPECT_FALSE(fetchLogged(tlsToPlainPort, out));
    EXPECT_THAT(m_log.lines()[1], "error: HttpSendRequest failed (1)");
}

TEST_F(HttpsTest, ARedirectToHttpsIsFollowedWithoutTheCredentials) {
    trustTestCa();
    m_client.setUsername("alice");
    m_client.setPassword("wonder");
    DataBuffer out;
    std::string target = s_plain->url("/_/r?redirect=" + urlEncode(s_secure->url("/_/echo")));
    ASSERT_TRUE(fetchLogged(target, out));
    EXPECT_EQ(bytesOf(out).rfind("GET /_/echo HTTP/1.1", 0), 0u);
    EXPECT_FALSE(s_secure->requests().back().hasHeader("Authorization"));
    EXPECT_TRUE(s_plain->requests().back().hasHeader("Authorization"));
}

TEST_F(HttpsTest, DownloadUrlPassesTheCertificateChoiceToItsClients) {
    DataBuffer refused;
    bool direct = false;
    VantrelHTTP* none = downloadUrl(s_secure->url("/_/r?body=x").c_str(), "", nullptr, nullptr,
                                    refused, direct, nullptr);
    EXPECT_EQ(none, nullptr);
    EXPECT_TRUE(direct) << "both access kinds were tried";

    DataBuffer accepted;
    std::unique_ptr<VantrelHTTP> client(downloadUrl(s_secure->url("/_/r?body=x").c_str(), "",
                                                    nullptr, nullptr, accepted, direct, nullptr,
                                                    true));
    ASSERT_TRUE(client);
    EXPECT_EQ(bytesOf(accepted), "x");
    EXPECT_TRUE(client->ignoreCertErrors);
}

} // namespace
