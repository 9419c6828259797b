#include "HttpTestFixture.h"
#include "LoopbackSocket.h"
#include "TestCertificates.h"
#include "TinyProxy.h"
#include "support/RecordingLog.h"

#include <gmock/gmock.h>

#include <memory>
#include <string>

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// A request that went through tinyproxy carries its Via header.
bool cameThroughProxy(const TestServer& server) {
    return !server.requests().empty() &&
           server.requests().back().header("Via").find("tinyproxy") != std::string::npos;
}

class ProxyTest : public LiveServerTest {
protected:
    static void SetUpTestSuite() {
        LiveServerTest::SetUpTestSuite();
        s_proxy = std::make_unique<TinyProxy>();
        if (!s_proxy->start(&s_error)) {
            s_proxy.reset();
        }
    }
    static void TearDownTestSuite() {
        s_proxy.reset();
        LiveServerTest::TearDownTestSuite();
    }
    void SetUp() override {
        LiveServerTest::SetUp();
        ASSERT_TRUE(s_proxy) << s_error;
    }

    static bool fetch(VantrelHTTP& client, const std::string& target, DataBuffer& out) {
        StringBuffer address(target.c_str());
        return client.fetch(address, out);
    }

    static inline std::unique_ptr<TinyProxy> s_proxy;
    static inline std::string s_error;
};

TEST_F(ProxyTest, TheNamedProxyCarriesTheRequest) {
    VantrelHttpImpl client(AccessKind::NamedProxy, s_proxy->address().c_str());
    DataBuffer out;
    ASSERT_TRUE(fetch(client, url("/_/r?body=via&type=text/html;charset=utf-8"), out));
    EXPECT_EQ(bytesOf(out), "via");
    EXPECT_STREQ(client.getCharset(), "utf-8");
    EXPECT_TRUE(cameThroughProxy(server()));
    EXPECT_EQ(server().requests().back().header("User-Agent"),
              "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; Q312461)");
}

TEST_F(ProxyTest, TheNamedProxyHasNoBypassList) {
    m_environment.set("no_proxy", "127.0.0.1,localhost");
    VantrelHttpImpl client(AccessKind::NamedProxy, s_proxy->address().c_str());
    DataBuffer out;
    ASSERT_TRUE(fetch(client, url("/_/echo"), out));
    EXPECT_TRUE(cameThroughProxy(server()));
}

TEST_F(ProxyTest, TheNamedProxyIsUsedForHttpsThroughATunnel) {
    std::string error;
    const TestCertificates* certificates = TestCertificates::get(&error);
    ASSERT_NE(certificates, nullptr) << error;
    TestServer secure({"", "", certificates->serverCert, certificates->serverKey});
    ASSERT_TRUE(secure.start(&error)) << error;
    m_environment.set("CURL_CA_BUNDLE", certificates->caFile);
    VantrelHttpImpl client(AccessKind::NamedProxy, s_proxy->url().c_str());
    DataBuffer out;
    ASSERT_TRUE(fetch(client, secure.url("/_/r?body=tunnelled"), out));
    EXPECT_EQ(bytesOf(out), "tunnelled");
    // Inside the tunnel the proxy cannot add its header.
    EXPECT_FALSE(secure.requests().back().hasHeader("Via"));
}

TEST_F(ProxyTest, AnUnreachableNamedProxyFailsAtTheConnectStep) {
    std::string dead = "127.0.0.1:" + std::to_string(findFreeLoopbackPort());
    VantrelHttpImpl client(AccessKind::NamedProxy, dead.c_str());
    RecordingLog log;
    client.log = &log;
    DataBuffer out;
    StringBuffer address(url("/_/echo").c_str());
    EXPECT_FALSE(client.fetchLogged(address, out));
    EXPECT_THAT(log.lines(),
                ElementsAre(StartsWith("int: http_port="), "error: InternetConnect failed",
                            "error: Couldn't connect to server"));
    EXPECT_TRUE(server().requests().empty());
}

TEST_F(ProxyTest, PreconfiguredAccessUsesHttpProxyFromTheEnvironment) {
    m_environment.set("http_proxy", s_proxy->url());
    VantrelHttpImpl client(AccessKind::Preconfigured);
    DataBuffer out;
    ASSERT_TRUE(fetch(client, url("/_/echo"), out));
    EXPECT_TRUE(cameThroughProxy(server()));
}

TEST_F(ProxyTest, PreconfiguredAccessHonoursNoProxy) {
    m_environment.set("http_proxy", s_proxy->url());
    m_environment.set("no_proxy", "127.0.0.1");
    VantrelHttpImpl client(AccessKind::Preconfigured);
    DataBuffer out;
    ASSERT_TRUE(fetch(client, url("/_/echo"), out));
    EXPECT_FALSE(cameThroughProxy(server()));
}

TEST_F(ProxyTest, DirectAccessIgnoresTheEnvironmentsProxy) {
    m_environment.set("http_proxy", s_proxy->url());
    m_environment.set("all_proxy", s_proxy->url());
    VantrelHttpImpl client(AccessKind::Direct);
    DataBuffer out;
    ASSERT_TRUE(fetch(client, url("/_/echo"), out));
    EXPECT_FALSE(cameThroughProxy(server()));
    EXPECT_THAT(bytesOf(out), ::testing::Not(HasSubstr("Via:")));
}

} // namespace
