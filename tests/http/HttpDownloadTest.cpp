#include "http/HttpDownload.h"
#include "HttpTestFixture.h"
#include "LoopbackSocket.h"
#include "TinyProxy.h"
#include "http/FetchOutcome.h"
#include "support/RecordingLog.h"

#include <gmock/gmock.h>

#include <memory>
#include <string>

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

struct CreationCase {
    const char* proxy;
    bool direct;
    AccessKind kind;
    const char* proxyText;
};

const CreationCase kCreationCases[] = {
    {"", false, AccessKind::Preconfigured, ""},
    {"", true, AccessKind::Direct, ""},
    {nullptr, true, AccessKind::Direct, ""},
    {"proxy:8080", false, AccessKind::NamedProxy, "proxy:8080"},
    {"proxy:8080", true, AccessKind::NamedProxy, "proxy:8080"},
    // The rule takes the text as it stands; downloadUrl trims first.
    {" proxy ", true, AccessKind::NamedProxy, " proxy "},
};

class CreationRuleTest : public ::testing::TestWithParam<CreationCase> {};

TEST_P(CreationRuleTest, ANonEmptyProxyWinsThenTheFlagDecides) {
    std::unique_ptr<VantrelHTTP> client(createHttpClient(GetParam().proxy, GetParam().direct));
    auto* impl = dynamic_cast<VantrelHttpImpl*>(client.get());
    ASSERT_NE(impl, nullptr);
    EXPECT_EQ(impl->accessKind(), GetParam().kind);
    EXPECT_EQ(impl->proxyText(), GetParam().proxyText);
    EXPECT_EQ(impl->log, nullptr);
    EXPECT_NE(impl->internet, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Table, CreationRuleTest, ::testing::ValuesIn(kCreationCases));

class DownloadTest : public LiveServerTest {
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

    VantrelHttpImpl* download(const std::string& target, const char* proxy,
                              const char* username = nullptr, const char* password = nullptr) {
        m_client.reset(
            downloadUrl(target.c_str(), proxy, username, password, m_out, m_direct, &m_log));
        return dynamic_cast<VantrelHttpImpl*>(m_client.get());
    }
    static bool cameThroughTheProxy() {
        return server().requests().back().header("Via").find("tinyproxy") != std::string::npos;
    }
    static std::string deadAddress() {
        return "127.0.0.1:" + std::to_string(findFreeLoopbackPort());
    }

    static inline std::unique_ptr<TinyProxy> s_proxy;
    static inline std::string s_error;

    std::unique_ptr<VantrelHTTP> m_client;
    DataBuffer m_out;
    bool m_direct = false;
    RecordingLog m_log;
};

TEST_F(DownloadTest, ASuccessOnTheFirstTryKeepsTheFlagAndLogsNothing) {
    VantrelHttpImpl* client = download(url("/_/r?body=image&type=image/gif"), "");
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(bytesOf(m_out), "image");
    EXPECT_STREQ(client->getStatus(), "200");
    EXPECT_EQ(client->accessKind(), AccessKind::Preconfigured);
    EXPECT_EQ(client->log, nullptr);
    EXPECT_FALSE(m_direct);
    EXPECT_TRUE(m_log.lines().empty());
    EXPECT_EQ(server().requests().size(), 1u);
}

TEST_F(DownloadTest, AFailureWithAProxyIsNotRetried) {
    std::string target = url("/_/r?status=404");
    std::string proxy = "  " + s_proxy->address() + "\t";
    EXPECT_EQ(download(target, proxy.c_str(), "alice", "wonder"), nullptr);
    EXPECT_FALSE(m_direct);
    EXPECT_EQ(server().requests().size(), 1u);
    EXPECT_TRUE(cameThroughTheProxy());
    EXPECT_THAT(m_log.lines(),
                ElementsAre("error: Failed to download URL with proxy", "data: url=" + target,
                            "data: proxy=" + proxy, "data: username=alice"));
}

TEST_F(DownloadTest, AnUnreachableProxyIsNotRetriedEither) {
    std::string proxy = deadAddress();
    m_direct = true;
    EXPECT_EQ(download(url("/_/r?body=x"), proxy.c_str()), nullptr);
    EXPECT_TRUE(m_direct);
    EXPECT_TRUE(server().requests().empty());
    EXPECT_THAT(m_log.lines(),
                ElementsAre("error: Failed to download URL with proxy",
                            "data: url=" + url("/_/r?body=x"), "data: proxy=" + proxy));
}

TEST_F(DownloadTest, AWhitespaceProxyCountsAsNone) {
    std::string target = url("/_/r?drop=1");
    EXPECT_EQ(download(target, " \t\r\n "), nullptr);
    EXPECT_EQ(server().requests().size(), 2u);
    EXPECT_TRUE(m_direct);
    EXPECT_THAT(m_log.lines(),
                ElementsAre("error: Failed to download URL.", "data: url=" + target));
}

TEST_F(DownloadTest, APreconfiguredFailureFallsBackToDirectAccess) {
    m_environment.set("http_proxy", "http://" + deadAddress());
    VantrelHttpImpl* client = download(url("/_/r?body=direct"), "");
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->accessKind(), AccessKind::Direct);
    EXPECT_EQ(bytesOf(m_out), "direct");
    EXPECT_TRUE(m_direct);
    EXPECT_TRUE(m_log.lines().empty());
    // The flag carries over: the next download starts direct and succeeds
    // at once.
    VantrelHttpImpl* next = download(url("/_/r?body=again"), "");
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->accessKind(), AccessKind::Direct);
    EXPECT_TRUE(m_direct);
}

TEST_F(DownloadTest, ADirectFailureFallsBackToThePreconfiguredProxy) {
    m_environment.set("http_proxy", s_proxy->url());
    m_direct = true;
    m_out.append("stale", 5);
    VantrelHttpImpl* client = download(url("/_/r?drop=direct&body=through"), "");
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->accessKind(), AccessKind::Preconfigured);
    EXPECT_FALSE(m_direct);
    // What was in the buffer before never reaches the caller.
    EXPECT_EQ(bytesOf(m_out), "through");
    EXPECT_EQ(server().requests().size(), 2u);
}

TEST_F(DownloadTest, TwoFailedDownloadsLeaveTheFlagWhereItStarted) {
    std::string target = url("/_/r?drop=1");
    EXPECT_EQ(download(target, ""), nullptr);
    EXPECT_TRUE(m_direct);
    EXPECT_EQ(download(target, ""), nullptr);
    EXPECT_FALSE(m_direct);
    EXPECT_EQ(server().requests().size(), 4u);
}

TEST_F(DownloadTest, CredentialsAreSetAndLoggedOnlyWhenBothAreGiven) {
    std::string target = url("/_/r?status=404");
    EXPECT_EQ(download(target, "", "alice", nullptr), nullptr);
    EXPECT_THAT(m_log.lines(),
                ElementsAre("error: Failed to download URL.", "data: url=" + target));
    for (const RecordedRequest& request : server().requests()) {
        EXPECT_FALSE(request.hasHeader("Authorization"));
    }
    m_log.clear();
    server().clearRequests();
    EXPECT_EQ(download(target, "", nullptr, "wonder"), nullptr);
    EXPECT_THAT(m_log.lines(),
                ElementsAre("error: Failed to download URL.", "data: url=" + target));
    for (const RecordedRequest& request : server().requests()) {
        EXPECT_FALSE(request.hasHeader("Authorization"));
    }
}

TEST_F(DownloadTest, BothTriesSendTheCredentialsAndThePasswordIsNeverLogged) {
    std::string target = url("/_/r?drop=1");
    EXPECT_EQ(download(target, "", "alice", "wonder"), nullptr);
    EXPECT_THAT(m_log.lines(), ElementsAre("error: Failed to download URL.", "data: url=" + target,
                                           "data: username=alice"));
    for (const std::string& line : m_log.lines()) {
        EXPECT_THAT(line, Not(HasSubstr("wonder")));
    }
    ASSERT_EQ(server().requests().size(), 2u);
    EXPECT_EQ(server().requests()[1].header("Authorization"), "Basic YWxpY2U6d29uZGVy");
}

TEST_F(DownloadTest, ProtectedResourcesDownloadWithCredentials) {
    VantrelHttpImpl* client =
        download(url("/_/r?auth=alice:wonder&body=ok"), "", "alice", "wonder");
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(bytesOf(m_out), "ok");
}

TEST_F(DownloadTest, AnEmptyTwoHundredFailsForAFreshBuffer) {
    EXPECT_EQ(download(url("/_/r?body="), ""), nullptr);
    EXPECT_EQ(server().requests().size(), 1u);
}

// A server's answer would only come again under the other access kind:
// each missing picture costs one request, and the flag stays.
TEST_F(DownloadTest, AnAnsweredFailureIsNotRetriedAndSaysWhy) {
    struct Case {
        std::string query;
        std::string problem;
    };
    const Case cases[] = {
        {"status=404", "the server answered 404 Not Found"},
        {"status=500", "the server answered 500 Internal Server Error"},
        {"close_after=3&body=0123456789",
         "the connection to 127.0.0.1 closed before the whole answer arrived (3 of 10 bytes)"},
        {"length=chunked&close_after=3&body=0123456789",
         "the connection to 127.0.0.1 closed before the whole answer arrived"},
    };
    for (const Case& item : cases) {
        server().clearRequests();
        FetchOutcome outcome;
        const std::string target = url("/_/r?" + item.query);
        DownloadRequest request(target.c_str(), "", nullptr, nullptr, m_direct);
        request.outcome = &outcome;
        m_out.release();
        std::unique_ptr<VantrelHTTP> client(downloadUrl(request, m_out));
        EXPECT_EQ(client, nullptr) << item.query;
        EXPECT_EQ(server().requests().size(), 1u) << item.query;
        EXPECT_FALSE(m_direct) << item.query;
        EXPECT_TRUE(outcome.answered) << item.query;
        EXPECT_THAT(outcome.problem, testing::StartsWith(item.problem)) << item.query;
    }
}

TEST_F(DownloadTest, WithoutALogTheResultIsTheSame) {
    std::unique_ptr<VantrelHTTP> none(
        downloadUrl(url("/_/r?drop=1").c_str(), "", "a", "b", m_out, m_direct, nullptr));
    EXPECT_EQ(none, nullptr);
    EXPECT_TRUE(m_direct);
    std::unique_ptr<VantrelHTTP> some(
        downloadUrl(url("/_/r?body=x").c_str(), "", nullptr, nullptr, m_out, m_direct, nullptr));
    EXPECT_NE(some, nullptr);
}

} // namespace
