#include "HttpTestFixture.h"
#include "support/RecordingLog.h"

#include <gmock/gmock.h>

#include <string>
#include <vector>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class RedirectTest : public LiveServerTest {
protected:
    bool fetch(const std::string& target, DataBuffer& out) {
        StringBuffer address(target.c_str());
        return m_client.fetch(address, out);
    }
    bool fetchLogged(const std::string& target, DataBuffer& out) {
        StringBuffer address(target.c_str());
        return m_client.fetchLogged(address, out);
    }
    std::string port() const { return std::to_string(server().port()); }

    VantrelHttpImpl m_client{AccessKind::Direct};
    RecordingLog m_log;
};

const int kFollowedCodes[] = {301, 302, 303, 307, 308};

class FollowedRedirectTest : public RedirectTest, public ::testing::WithParamInterface<int> {};

TEST_P(FollowedRedirectTest, IsFollowedWithTheRedirectBodyDropped) {
    DataBuffer out;
    out.append("earlier", 7);
    std::string code = std::to_string(GetParam());
    ASSERT_TRUE(fetch(url("/_/chain/1?code=" + code), out));
    EXPECT_STREQ(m_client.getStatus(), "200");
    std::string body = bytesOf(out);
    EXPECT_EQ(body.rfind("GET /_/chain/0?code=" + code + " HTTP/1.1", 0), 0u) << body;
    EXPECT_THAT(body, Not(HasSubstr("redirect body")));
    EXPECT_THAT(body, Not(HasSubstr("earlier")));
}

INSTANTIATE_TEST_SUITE_P(Table, FollowedRedirectTest, ::testing::ValuesIn(kFollowedCodes));

TEST_F(RedirectTest, OtherRedirectionStatusesAreNotFollowed) {
    for (const char* code : {"300", "304", "305", "306"}) {
        DataBuffer out;
        EXPECT_FALSE(fetch(url(std::string("/_/r?status=") + code + "&redirect=/_/echo"), out));
        EXPECT_STREQ(m_client.getStatus(), code);
    }
    EXPECT_EQ(server().requests().size(), 4u);
}

struct LocationForm {
    const char* name;
    const char* query;
};

const LocationForm kLocationForms[] = {
    {"absolute", ""},
    {"relative", "?relative=1"},
    {"scheme-relative", "?scheme_relative=1"},
};

class LocationFormTest : public RedirectTest, public ::testing::WithParamInterface<LocationForm> {};

TEST_P(LocationFormTest, ResolvesTheLocationAgainstTheUrlThatAnswered) {
    DataBuffer out;
    ASSERT_TRUE(fetch(url(std::string("/_/chain/3") + GetParam().query), out)) << GetParam().name;
    std::vector<RecordedRequest> requests = server().requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[3].target, std::string("/_/chain/0") + GetParam().query);
}

INSTANTIATE_TEST_SUITE_P(Table, LocationFormTest, ::testing::ValuesIn(kLocationForms));

TEST_F(RedirectTest, AnAbsolutePathLocationIsResolvedToo) {
    DataBuffer out;
    ASSERT_TRUE(fetch(url("/_/r?redirect=/_/r%3Fbody%3Dlanded"), out));
    EXPECT_EQ(bytesOf(out), "landed");
}

TEST_F(RedirectTest, TenRedirectsAreFollowedAndTheEleventhFails) {
    DataBuffer ten;
    EXPECT_TRUE(fetch(url("/_/chain/10"), ten));
    EXPECT_EQ(server().requests().size(), 11u);
    server().clearRequests();
    DataBuffer eleven;
    EXPECT_FALSE(fetch(url("/_/chain/11"), eleven));
    EXPECT_STREQ(m_client.getStatus(), "302");
    EXPECT_EQ(server().requests().size(), 11u);
}

TEST_F(RedirectTest, ALoopEndsAsAFailureWithTheRedirectStatus) {
    m_client.log = &m_log;
    DataBuffer out;
    EXPECT_FALSE(fetchLogged(url("/_/loop?code=307"), out));
    EXPECT_STREQ(m_client.getStatus(), "307");
    EXPECT_EQ(server().requests().size(), 11u);
    // Each hop is the same logged operation; a status is no message.
    EXPECT_EQ(m_log.lines().size(), 11u);
    EXPECT_TRUE(m_log.linesStartingWith("error: ").empty());
}

TEST_F(RedirectTest, FetchLoggedLogsThePortOfEveryHop) {
    TestServer other;
    ASSERT_TRUE(other.start());
    m_client.log = &m_log;
    DataBuffer out;
    ASSERT_TRUE(fetchLogged(url("/_/chain/1?origin=" + urlEncode(other.origin())), out));
    EXPECT_THAT(m_log.lines(),
                ::testing::ElementsAre("int: http_port=" + port(),
                                       "int: http_port=" + std::to_string(other.port())));
}

TEST_F(RedirectTest, OnlyHttpAndHttpsTargetsAreFollowed) {
    for (const char* target : {"ftp://127.0.0.1/file", "file:///etc/passwd", "mailto:a@b"}) {
        DataBuffer out;
        EXPECT_FALSE(fetch(url("/_/r?redirect=" + urlEncode(target)), out)) << target;
        EXPECT_STREQ(m_client.getStatus(), "302");
    }
}

TEST_F(RedirectTest, AMissingOrEmptyLocationEndsInFailure) {
    DataBuffer out;
    EXPECT_FALSE(fetch(url("/_/r?status=302&body=nowhere"), out));
    EXPECT_STREQ(m_client.getStatus(), "302");
    EXPECT_FALSE(fetch(url("/_/r?status=301&header=Location:"), out));
    EXPECT_STREQ(m_client.getStatus(), "301");
    EXPECT_EQ(server().requests().size(), 2u);
}

TEST_F(RedirectTest, TheFinalResponseGivesStatusAndCharset) {
    DataBuffer out;
    ASSERT_TRUE(fetch(url("/_/r?type=text/plain;charset=big5&redirect=" +
                          urlEncode("/_/r?body=x&type=text/html;charset=utf-8")),
                      out));
    EXPECT_STREQ(m_client.getCharset(), "utf-8");
}

TEST_F(RedirectTest, AFailingTargetLeavesAnEmptyOutput) {
    m_client.log = &m_log;
    DataBuffer out;
    EXPECT_FALSE(
        fetchLogged(url("/_/r?body=redirect-body&redirect=" + urlEncode("/_/r?drop=1")), out));
    EXPECT_EQ(out.getSize(), 0u);
    EXPECT_STREQ(m_client.getStatus(), "");
    EXPECT_THAT(m_log.lines(),
                ::testing::ElementsAre("int: http_port=" + port(), "int: http_port=" + port(),
                                       "error: HttpSendRequest failed (1)",
                                       ::testing::StartsWith("error: ")));
}

TEST_F(RedirectTest, A302IsFollowedWithTheSameCredentials) {
    m_client.setUsername("alice");
    m_client.setPassword("wonder");
    DataBuffer out;
    ASSERT_TRUE(
        fetch(url("/_/r?redirect=" + urlEncode("/_/r?auth=alice:wonder&body=private")), out));
    EXPECT_EQ(bytesOf(out), "private");
    std::vector<RecordedRequest> requests = server().requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].header("Authorization"), "Basic YWxpY2U6d29uZGVy");
    EXPECT_EQ(requests[1].header("Authorization"), "Basic YWxpY2U6d29uZGVy");
}

TEST_F(RedirectTest, CredentialsAreNotSentToAnotherPort) {
    TestServer other;
    ASSERT_TRUE(other.start());
    m_client.setUsername("alice");
    m_client.setPassword("wonder");
    DataBuffer out;
    // There and back: the first server gets them again, the other never.
    std::string back = url("/_/echo");
    ASSERT_TRUE(fetch(
        url("/_/r?redirect=" + urlEncode(other.url("/_/r?redirect=" + urlEncode(back)))), out));
    ASSERT_EQ(other.requests().size(), 1u);
    EXPECT_FALSE(other.requests()[0].hasHeader("Authorization"));
    std::vector<RecordedRequest> requests = server().requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].header("Authorization"), "Basic YWxpY2U6d29uZGVy");
}

TEST_F(RedirectTest, CredentialsAreNotSentToAnotherHost) {
    m_client.setUsername("alice");
    m_client.setPassword("wonder");
    DataBuffer out;
    // "localhost" names the same machine but not the same host.
    ASSERT_TRUE(
        fetch(url("/_/r?redirect=" + urlEncode("http://localhost:" + port() + "/_/echo")), out));
    std::vector<RecordedRequest> requests = server().requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[0].hasHeader("Authorization"));
    EXPECT_FALSE(requests[1].hasHeader("Authorization"));
}

} // namespace
