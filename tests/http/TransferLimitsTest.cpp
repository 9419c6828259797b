#include "HttpTestFixture.h"
#include "LoopbackSocket.h"
#include "support/RecordingLog.h"

#include <gmock/gmock.h>

#include <chrono>
#include <string>

namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;
using Clock = std::chrono::steady_clock;

class TransferLimitsTest : public LiveServerTest {
protected:
    void SetUp() override {
        LiveServerTest::SetUp();
        m_client.setLimits(quickLimits());
        m_client.log = &m_log;
    }

    bool fetchLogged(const std::string& target, DataBuffer& out) {
        StringBuffer address(target.c_str());
        return m_client.fetchLogged(address, out);
    }

    VantrelHttpImpl m_client{AccessKind::Direct};
    RecordingLog m_log;
};

TEST(HttpLimits, DefaultsKeepClientsFromHangingOrEatingTheMachine) {
    HttpLimits limits;
    EXPECT_EQ(limits.connectTimeoutMs, 30000);
    EXPECT_EQ(limits.stallTimeoutMs, 60000);
    EXPECT_EQ(limits.maxBodyBytes, 268435456u);
    VantrelHttpImpl client(AccessKind::Direct);
    EXPECT_EQ(client.limits().stallTimeoutMs, 60000);
}

TEST(HttpLimits, NewClientsStartWithTheDefaultLimits) {
    HttpLimits saved = VantrelHttpImpl::defaultLimits();
    VantrelHttpImpl::setDefaultLimits(quickLimits());
    VantrelHttpImpl client(AccessKind::Direct);
    VantrelHttpImpl::setDefaultLimits(saved);
    EXPECT_EQ(client.limits().stallTimeoutMs, quickLimits().stallTimeoutMs);
    EXPECT_EQ(VantrelHttpImpl::defaultLimits().stallTimeoutMs, 60000);
}

TEST_F(TransferLimitsTest, ABodyThatStopsMovingIsAborted) {
    DataBuffer out;
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(fetchLogged(url("/_/r?body_size=5000&stall_after=100&stall_ms=20000"), out));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_THAT(m_log.lines(),
                ElementsAre(StartsWith("int: http_port="), "error: HttpSendRequest failed (1)",
                            "error: Timeout was reached"));
}

TEST_F(TransferLimitsTest, AnAnswerThatNeverComesIsAborted) {
    DataBuffer out;
    EXPECT_FALSE(fetchLogged(url("/_/r?body=late&delay_ms=20000"), out));
    EXPECT_THAT(m_log.lines(),
                ElementsAre(StartsWith("int: http_port="), "error: HttpSendRequest failed (1)",
                            "error: Timeout was reached"));
}

TEST_F(TransferLimitsTest, ASlowButMovingBodyIsNotAborted) {
    DataBuffer out;
    // 8 pieces 100 ms apart: 0.8 s in all, twice the 400 ms stall limit.
    EXPECT_TRUE(fetchLogged(url("/_/r?body_size=8&trickle_ms=100"), out));
    EXPECT_EQ(out.getSize(), 8u);
}

TEST_F(TransferLimitsTest, AServerThatAcceptsAndSaysNothingIsAborted) {
    SilentListener silent;
    ASSERT_TRUE(silent.ok());
    DataBuffer out;
    EXPECT_FALSE(fetchLogged("http://127.0.0.1:" + std::to_string(silent.port()) + "/", out));
    EXPECT_THAT(m_log.lines(),
                ElementsAre(StartsWith("int: http_port="), "error: HttpSendRequest failed (1)",
                            "error: Timeout was reached"));
}

TEST_F(TransferLimitsTest, AHandshakeThatNeverEndsRunsOutOfConnectTime) {
    SilentListener silent;
    ASSERT_TRUE(silent.ok());
    DataBuffer out;
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(fetchLogged("https://127.0.0.1:" + std::to_string(silent.port()) + "/", out));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_THAT(m_log.lines(),
                ElementsAre(StartsWith("int: http_port="), "error: InternetConnect failed",
                            "error: Timeout was reached"));
}

struct SizeCase {
    const char* framing;
    int bodySize;
    bool fits;
};

const SizeCase kSizeCases[] = {
    {"", 100000, true},         {"", 100001, false},         {"chunked", 100000, true},
    {"chunked", 100001, false}, {"none", 100000, true},      {"none", 100001, false},
    {"", 2000000, false},       {"chunked", 2000000, false},
};

class BodyCapTest : public TransferLimitsTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(BodyCapTest, ABodyLargerThanTheCapIsAborted) {
    const SizeCase& c = GetParam();
    std::string query = "/_/r?body_size=" + std::to_string(c.bodySize);
    if (*c.framing != 0) {
        query += std::string("&length=") + c.framing;
    }
    DataBuffer out;
    EXPECT_EQ(fetchLogged(url(query), out), c.fits);
    if (c.fits) {
        EXPECT_EQ(out.getSize(), static_cast<uint32_t>(c.bodySize));
    } else {
        EXPECT_LE(out.getSize(), 100000u);
        EXPECT_THAT(m_log.lines(),
                    ElementsAre(StartsWith("int: http_port="), "error: HttpSendRequest failed (1)",
                                "error: Maximum file size exceeded"));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, BodyCapTest, ::testing::ValuesIn(kSizeCases));

TEST_F(TransferLimitsTest, TheCapCountsEachResponseOfARedirectChainOnItsOwn) {
    DataBuffer out;
    std::string target = "/_/r?body_size=90000&redirect=" + urlEncode("/_/r?body_size=90000");
    EXPECT_TRUE(fetchLogged(url(target), out));
    EXPECT_EQ(out.getSize(), 90000u);
}

TEST_F(TransferLimitsTest, ThePostResponseIsCappedToo) {
    StringBuffer address(url("/_/r?body_size=200000").c_str());
    StringBuffer body("x");
    StringBuffer response;
    StringBuffer errors;
    EXPECT_FALSE(m_client.postXml(address, body, response, errors));
    EXPECT_STREQ(errors.getString(), "Failed to send HTTP request");
}

} // namespace
