#include "HttpTestFixture.h"
#include "LoopbackSocket.h"
#include "support/RecordingLog.h"

#include <gmock/gmock.h>

#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

const char kBrowserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; Q312461)";

class ClientTest : public LiveServerTest {
protected:
    bool fetch(const std::string& target, DataBuffer& out) {
        StringBuffer address(target.c_str());
        return m_client.fetch(address, out);
    }
    bool fetchLogged(const std::string& target, DataBuffer& out) {
        StringBuffer address(target.c_str());
        return m_client.fetchLogged(address, out);
    }

    VantrelHttpImpl m_client{AccessKind::Direct};
    RecordingLog m_log;
};

TEST_F(ClientTest, FetchesTheBodyWithStatusAndCharset) {
    DataBuffer out;
    ASSERT_TRUE(fetch(url("/_/r?body=hello&type=text/html;%20charset=UTF-8"), out));
    EXPECT_EQ(bytesOf(out), "hello");
    EXPECT_STREQ(m_client.getStatus(), "200");
    EXPECT_STREQ(m_client.getCharset(), "UTF-8");
    EXPECT_STREQ(m_client.contentType.getString(), "text/html; charset=UTF-8");
}

TEST_F(ClientTest, AppendsTheBodyToWhatTheOutputHeld) {
    DataBuffer out;
    out.append("kept:", 5);
    ASSERT_TRUE(fetch(url("/_/r?body=new"), out));
    EXPECT_EQ(bytesOf(out), "kept:new");
}

TEST_F(ClientTest, GetSendsTheBrowserAgentLineAndAcceptsAnything) {
    DataBuffer out;
    ASSERT_TRUE(fetch(url("/_/echo"), out));
    std::vector<RecordedRequest> requests = server().requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].header("User-Agent"), kBrowserAgent);
    EXPECT_EQ(requests[0].header("Accept"), "*/*");
    EXPECT_FALSE(requests[0].hasHeader("Authorization"));
    // One User-Agent line only.
    EXPECT_EQ(bytesOf(out).find("User-Agent"), bytesOf(out).rfind("User-Agent"));
}

TEST_F(ClientTest, LargeBodiesArriveByteForByte) {
    DataBuffer out;
    ASSERT_TRUE(fetch(url("/_/r?body_size=3000000"), out));
    ASSERT_EQ(out.getSize(), 3000000u);
    std::string body = bytesOf(out);
    const std::string pattern = "abcdefghijklmnopqrstuvwxyz0123456789\n";
    EXPECT_EQ(body.substr(0, pattern.size()), pattern);
    size_t lastStart = (body.size() - 1) / pattern.size() * pattern.size();
    EXPECT_EQ(body.substr(lastStart), pattern.substr(0, body.size() - lastStart));
}

const int kFailingStatuses[] = {404, 500, 201, 204, 304, 401, 403, 503};

class FailingStatusTest : public ClientTest, public ::testing::WithParamInterface<int> {};

TEST_P(FailingStatusTest, AnyStatusButTwoHundredFailsAndIsTold) {
    std::string target = url("/_/r?status=" + std::to_string(GetParam()) + "&body=page");
    DataBuffer out;
    m_client.log = &m_log;
    EXPECT_FALSE(fetchLogged(target, out));
    EXPECT_EQ(m_client.getStatus(), std::to_string(GetParam()));
    // No message for a status: only the port.
    EXPECT_EQ(m_log.linesStartingWith("error: ").size(), 0u);
    DataBuffer quiet;
    EXPECT_FALSE(fetch(target, quiet));
    EXPECT_EQ(m_client.getStatus(), std::to_string(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Table, FailingStatusTest, ::testing::ValuesIn(kFailingStatuses));

TEST_F(ClientTest, FetchNeedsStorageButFetchLoggedTakesAnEmptyBody) {
    DataBuffer fresh;
    EXPECT_FALSE(fetch(url("/_/r?body="), fresh));
    EXPECT_STREQ(m_client.getStatus(), "200");
    DataBuffer freshLogged;
    EXPECT_TRUE(fetchLogged(url("/_/r?body="), freshLogged));
    EXPECT_EQ(freshLogged.getSize(), 0u);
}

TEST_F(ClientTest, FetchOfAnEmptyBodySucceedsWhenTheOutputHoldsStorage) {
    DataBuffer used;
    used.append("x", 1);
    used.truncate(0);
    EXPECT_TRUE(fetch(url("/_/r?body="), used));
}

struct CharsetCase {
    const char* contentType;
    const char* charset;
};

const CharsetCase kCharsetCases[] = {
    {"text/html; charset=UTF-8", "UTF-8"},
    {"text/html; Charset=windows-1251", "windows-1251"},
    {"text/html; CHARSET=iso-8859-1", "iso-8859-1"},
    {"text/html; charset=\"utf-8\"", "\"utf-8\""},
    {"text/html; charset='koi8-r'", "'koi8-r'"},
    {"text/plain; charset=utf-8; format=flowed", "utf-8"},
    {"text/html; charset= big5 ;x=y", " big5 "},
    {"text/html;charset=shift_jis", "shift_jis"},
    {"text/html", ""},
    {"text/html; charset=", ""},
};

class CharsetTest : public ClientTest, public ::testing::WithParamInterface<CharsetCase> {};

TEST_P(CharsetTest, TakesTheParameterUpToTheSemicolon) {
    DataBuffer out;
    ASSERT_TRUE(fetch(url("/_/r?body=x&type=" + urlEncode(GetParam().contentType)), out));
    EXPECT_STREQ(m_client.contentType.getString(), GetParam().contentType);
    EXPECT_STREQ(m_client.getCharset(), GetParam().charset);
}

INSTANTIATE_TEST_SUITE_P(Table, CharsetTest, ::testing::ValuesIn(kCharsetCases));

TEST_F(ClientTest, NoContentTypeGivesNoCharset) {
    DataBuffer out;
    ASSERT_TRUE(fetch(url("/_/r?body=x"), out));
    EXPECT_STREQ(m_client.contentType.getString(), "");
    EXPECT_STREQ(m_client.getCharset(), "");
}

TEST_F(ClientTest, AContentTypeTooLongForTheQueryBufferIsNotRead) {
    std::string longType = "text/html; charset=utf-8; x=" + std::string(8200, 'a');
    DataBuffer out;
    ASSERT_TRUE(fetch(url("/_/r?body=x&type=" + longType), out));
    EXPECT_STREQ(m_client.contentType.getString(), "");
    EXPECT_STREQ(m_client.getCharset(), "");
}

TEST_F(ClientTest, ResultsAreEmptiedAtTheStartOfEveryGet) {
    EXPECT_STREQ(m_client.getStatus(), "");
    EXPECT_STREQ(m_client.getCharset(), "");
    DataBuffer out;
    ASSERT_TRUE(fetch(url("/_/r?body=x&type=text/html;charset=utf-8"), out));
    DataBuffer again;
    EXPECT_FALSE(fetch("http://127.0.0.1:" + std::to_string(findFreeLoopbackPort()) + "/", again));
    EXPECT_STREQ(m_client.getStatus(), "");
    EXPECT_STREQ(m_client.getCharset(), "");
    EXPECT_STREQ(m_client.contentType.getString(), "");
}

TEST_F(ClientTest, ResultsStayReadableAfterAFailedGet) {
    DataBuffer out;
    EXPECT_FALSE(fetch(url("/_/r?status=404&type=text/html;charset=big5"), out));
    EXPECT_STREQ(m_client.getStatus(), "404");
    EXPECT_STREQ(m_client.getCharset(), "big5");
}

TEST_F(ClientTest, FetchLoggedLogsThePortFirst) {
    m_client.log = &m_log;
    DataBuffer out;
    ASSERT_TRUE(fetchLogged(url("/_/r?body=x"), out));
    EXPECT_THAT(m_log.lines(), ElementsAre("int: http_port=" + std::to_string(server().port())));
}

TEST_F(ClientTest, TheTextFormOfFetchLoggedFetchesToo) {
    m_client.log = &m_log;
    DataBuffer out;
    VantrelHTTP& client = m_client;
    ASSERT_TRUE(client.fetchLogged(url("/_/r?body=text%20form").c_str(), out));
    EXPECT_EQ(bytesOf(out), "text form");
    EXPECT_EQ(m_log.lines().size(), 1u);
}

TEST_F(ClientTest, QuietFetchNeverLogs) {
    m_client.log = &m_log;
    DataBuffer out;
    EXPECT_FALSE(fetch("not a url", out));
    EXPECT_FALSE(fetch("http://127.0.0.1:" + std::to_string(findFreeLoopbackPort()) + "/", out));
    EXPECT_TRUE(fetch(url("/_/r?body=x"), out));
    EXPECT_TRUE(m_log.lines().empty());
}

const char* const kUnsplittableUrls[] = {"", "not a url", "http://", "http://h:99999/",
                                         "mailto:someone@example.com"};

class UnsplittableFetchTest : public ClientTest,
                              public ::testing::WithParamInterface<const char*> {};

TEST_P(UnsplittableFetchTest, LogsPortZeroThenTheOpenRequestFailure) {
    m_client.log = &m_log;
    DataBuffer out;
    EXPECT_FALSE(fetchLogged(GetParam(), out));
    ASSERT_EQ(m_log.lines().size(), 3u);
    EXPECT_EQ(m_log.lines()[0], "int: http_port=0");
    EXPECT_EQ(m_log.lines()[1], "error: HttpOpenRequest failed");
    EXPECT_THAT(m_log.lines()[2], Not(::testing::Eq("error: ")));
    EXPECT_STREQ(m_client.getStatus(), "");
}

INSTANTIATE_TEST_SUITE_P(Table, UnsplittableFetchTest, ::testing::ValuesIn(kUnsplittableUrls));

TEST_F(ClientTest, OnlyHttpAndHttpsAreRequested) {
    m_client.log = &m_log;
    DataBuffer out;
    EXPECT_FALSE(fetchLogged("ftp://127.0.0.1:" + std::to_string(server().port()) + "/x", out));
    EXPECT_THAT(m_log.lines(),
                ElementsAre("int: http_port=" + std::to_string(server().port()),
                            "error: HttpOpenRequest failed", "error: Unsupported protocol"));
    EXPECT_TRUE(server().requests().empty());
}

TEST_F(ClientTest, ARefusedConnectionFailsAtTheConnectStep) {
    int port = findFreeLoopbackPort();
    m_client.log = &m_log;
    DataBuffer out;
    EXPECT_FALSE(fetchLogged("http://127.0.0.1:" + std::to_string(port) + "/", out));
    EXPECT_THAT(m_log.lines(),
                ElementsAre("int: http_port=" + std::to_string(port),
                            "error: InternetConnect failed", "error: Couldn't connect to server"));
}

TEST_F(ClientTest, AConnectionClosedWithoutAnswerFailsAtTheSendStep) {
    m_client.log = &m_log;
    DataBuffer out;
    EXPECT_FALSE(fetchLogged(url("/_/r?drop=1"), out));
    EXPECT_THAT(m_log.lines(), ElementsAre(::testing::StartsWith("int: http_port="),
                                           "error: HttpSendRequest failed (1)",
                                           "error: Server returned nothing (no headers, no data)"));
    EXPECT_STREQ(m_client.getStatus(), "");
}

// A body that ends before its announced length, or in a broken chunk, is a
// failed download: a shorter picture or page must not pass for the whole.
struct CutShortCase {
    const char* query;
    const char* problem;
};

const CutShortCase kCutShortCases[] = {
    {"body_size=30000&close_after=1000",
     "the connection to 127.0.0.1 closed before the whole answer arrived (1000 of 30000 bytes)"},
    {"body_size=30000&close_after=1000&length=chunked",
     "the connection to 127.0.0.1 closed before the whole answer arrived"},
    {"body_size=30000&close_after=0",
     "the connection to 127.0.0.1 closed before the whole answer arrived (0 of 30000 bytes)"},
};

class CutShortTest : public ClientTest, public ::testing::WithParamInterface<CutShortCase> {};

TEST_P(CutShortTest, ABodyCutShortIsAFailedDownload) {
    const std::string target =
        url(std::string("/_/r?type=text/html;charset=utf-8&") + GetParam().query);
    DataBuffer out;
    EXPECT_FALSE(fetchLogged(target, out));
    EXPECT_EQ(m_client.outcome.problem, GetParam().problem);
    EXPECT_TRUE(m_client.outcome.answered);
    DataBuffer quiet;
    EXPECT_FALSE(fetch(target, quiet));
}

INSTANTIATE_TEST_SUITE_P(Table, CutShortTest, ::testing::ValuesIn(kCutShortCases));

struct CredentialCase {
    const char* username;
    const char* password;
    const char* authorization; // "" when none is sent
};

const CredentialCase kCredentialCases[] = {
    {"user", "secret", "Basic dXNlcjpzZWNyZXQ="},
    {"  user\t", "\r\nsecret \n", "Basic dXNlcjpzZWNyZXQ="},
    {"user", "", ""},
    {"", "secret", ""},
    {"   ", "secret", ""},
    {"", "", ""},
};

class CredentialTest : public ClientTest, public ::testing::WithParamInterface<CredentialCase> {};

TEST_P(CredentialTest, SendsBasicAuthenticationOnlyWithBothTrimmedTexts) {
    m_client.setUsername(GetParam().username);
    m_client.setPassword(GetParam().password);
    DataBuffer out;
    ASSERT_TRUE(fetch(url("/_/echo"), out));
    std::vector<RecordedRequest> requests = server().requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("Authorization"), GetParam().authorization);
}

INSTANTIATE_TEST_SUITE_P(Table, CredentialTest, ::testing::ValuesIn(kCredentialCases));

TEST_F(ClientTest, AProtectedPageNeedsTheRightCredentials) {
    std::string target = url("/_/r?auth=alice:wonder&body=inside");
    DataBuffer without;
    EXPECT_FALSE(fetch(target, without));
    EXPECT_STREQ(m_client.getStatus(), "401");
    m_client.setUsername("alice");
    m_client.setPassword("wonder");
    DataBuffer with;
    EXPECT_TRUE(fetch(target, with));
    EXPECT_EQ(bytesOf(with), "inside");
}

TEST_F(ClientTest, SpacesInTheUrlAreSentEncoded) {
    DataBuffer out;
    ASSERT_TRUE(fetch(url("/_/echo?name=a b"), out));
    EXPECT_THAT(bytesOf(out), HasSubstr("GET /_/echo?name=a+b HTTP/1.1"));
    EXPECT_FALSE(fetch(url("/no such/file.gif"), out));
    EXPECT_EQ(server().requests().back().target, "/no%20such/file.gif");
}

class PostTest : public ClientTest {
protected:
    StringBuffer m_address;
    StringBuffer m_body;
    StringBuffer m_response;
    StringBuffer m_errors;
};

TEST_F(PostTest, PostFormSendsItsContentTypeAndTheDefaultAgent) {
    m_address.setString(url("/_/echo").c_str());
    m_body.setString("a=1&b=two");
    ASSERT_TRUE(m_client.postForm(m_address, m_body, m_response));
    std::vector<RecordedRequest> requests = server().requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[0].header("User-Agent"), "Vantrel HTTP");
    EXPECT_FALSE(requests[0].hasHeader("Expect"));
    EXPECT_EQ(requests[0].body, "a=1&b=two");
    EXPECT_THAT(m_response.getString(), HasSubstr("POST /_/echo HTTP/1.1"));
}

TEST_F(PostTest, PostXmlSendsItsContentTypeAndAppendsTheResponse) {
    m_address.setString(url("/_/r?body=%3Cok/%3E&status=500").c_str());
    m_body.setString("<request/>");
    m_response.setString("before:");
    ASSERT_TRUE(m_client.postXml(m_address, m_body, m_response, m_errors));
    EXPECT_STREQ(m_response.getString(), "before:<ok/>");
    EXPECT_STREQ(m_errors.getString(), "");
    EXPECT_EQ(server().requests().at(0).header("Content-Type"), "text/xml");
    EXPECT_EQ(server().requests().at(0).body, "<request/>");
}

TEST_F(PostTest, PostsLeaveTheResultsOfTheLastGetAlone) {
    DataBuffer out;
    ASSERT_TRUE(fetch(url("/_/r?body=x&type=text/html;charset=utf-8"), out));
    m_address.setString(url("/_/r?status=404&type=text/plain;charset=big5").c_str());
    EXPECT_TRUE(m_client.postForm(m_address, m_body, m_response));
    EXPECT_STREQ(m_client.getStatus(), "200");
    EXPECT_STREQ(m_client.getCharset(), "utf-8");
}

TEST_F(PostTest, PostsSendCredentialsAndAreNotRedirected) {
    m_client.setUsername("u");
    m_client.setPassword("p");
    m_address.setString(url("/_/r?redirect=/_/echo&body=moved").c_str());
    ASSERT_TRUE(m_client.postForm(m_address, m_body, m_response));
    EXPECT_STREQ(m_response.getString(), "moved");
    ASSERT_EQ(server().requests().size(), 1u);
    EXPECT_EQ(server().requests()[0].header("Authorization"), "Basic dTpw");
}

TEST_F(PostTest, PostXmlAppendsOneMessagePerFailure) {
    m_client.log = &m_log;
    m_errors.setString("earlier.");
    m_address.setString("not a url");
    EXPECT_FALSE(m_client.postXml(m_address, m_body, m_response, m_errors));
    m_address.setString(
        ("http://127.0.0.1:" + std::to_string(findFreeLoopbackPort()) + "/").c_str());
    EXPECT_FALSE(m_client.postXml(m_address, m_body, m_response, m_errors));
    m_address.setString(url("/_/r?drop=1").c_str());
    EXPECT_FALSE(m_client.postXml(m_address, m_body, m_response, m_errors));
    EXPECT_STREQ(m_errors.getString(), "earlier.Failed to open HTTP request"
                                       "Failed to make Internet connection"
                                       "Failed to send HTTP request");
    EXPECT_TRUE(m_log.lines().empty());
}

TEST_F(PostTest, APostWhoseAnswerIsCutShortKeepsWhatArrived) {
    m_address.setString(url("/_/r?body_size=30000&close_after=1000").c_str());
    ASSERT_TRUE(m_client.postXml(m_address, m_body, m_response, m_errors));
    EXPECT_EQ(m_response.getSize(), 1000);
    EXPECT_STREQ(m_errors.getString(), "");
}

TEST_F(PostTest, PostFormFailsQuietly) {
    m_client.log = &m_log;
    m_address.setString(url("/_/r?drop=1").c_str());
    EXPECT_FALSE(m_client.postForm(m_address, m_body, m_response));
    EXPECT_TRUE(m_log.lines().empty());
}

} // namespace
