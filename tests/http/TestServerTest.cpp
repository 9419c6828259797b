#include "HttpTestFixture.h"

#include <gmock/gmock.h>

#include <chrono>
#include <string>

namespace {

using ::testing::HasSubstr;

// The server's own features that later suites build on: a directory of
// files, a routes file and a delay for every response.
class FixtureSiteTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_environment.clearProxies();
        m_dir.write("site/index.html", "<html>home</html>");
        m_dir.write("site/img/a.gif", "GIF89a");
        m_dir.write("site/style.css", "body{}");
        m_dir.write("secret.txt", "outside");
        m_dir.write("routes.json", R"({
            "/moved.html": {"redirect": "/index.html", "status": 301},
            "/page.php": {"type": "text/html; Charset=\"koi8-r\"", "body": "php"},
            "/img/a.gif": {"status": 500}
        })");
    }

    bool fetch(VantrelHttpImpl& client, const std::string& target, DataBuffer& out) {
        StringBuffer address(target.c_str());
        return client.fetch(address, out);
    }

    ScopedEnvironment m_environment;
    TempDir m_dir;
    VantrelHttpImpl m_client{AccessKind::Direct};
};

TEST_F(FixtureSiteTest, ServesFilesWithTheirTypes) {
    TestServer server({m_dir.file("site"), "", "", "", 0});
    ASSERT_TRUE(server.start());
    DataBuffer page;
    ASSERT_TRUE(fetch(m_client, server.url("/"), page));
    EXPECT_EQ(bytesOf(page), "<html>home</html>");
    EXPECT_STREQ(m_client.contentType.getString(), "text/html");
    DataBuffer image;
    ASSERT_TRUE(fetch(m_client, server.url("/img/a.gif"), image));
    EXPECT_EQ(bytesOf(image), "GIF89a");
    EXPECT_STREQ(m_client.contentType.getString(), "image/gif");
    DataBuffer missing;
    EXPECT_FALSE(fetch(m_client, server.url("/nothing.png"), missing));
    EXPECT_STREQ(m_client.getStatus(), "404");
}

TEST_F(FixtureSiteTest, NeverServesFilesOutsideTheRoot) {
    TestServer server({m_dir.file("site"), "", "", "", 0});
    ASSERT_TRUE(server.start());
    DataBuffer out;
    EXPECT_FALSE(fetch(m_client, server.url("/%2e%2e/secret.txt"), out));
    EXPECT_STREQ(m_client.getStatus(), "404");
}

TEST_F(FixtureSiteTest, RoutesOverrideTheFiles) {
    TestServer server({m_dir.file("site"), m_dir.file("routes.json"), "", "", 0});
    ASSERT_TRUE(server.start());
    DataBuffer moved;
    ASSERT_TRUE(fetch(m_client, server.url("/moved.html"), moved));
    EXPECT_EQ(bytesOf(moved), "<html>home</html>");
    DataBuffer php;
    ASSERT_TRUE(fetch(m_client, server.url("/page.php"), php));
    EXPECT_STREQ(m_client.getCharset(), "\"koi8-r\"");
    DataBuffer broken;
    EXPECT_FALSE(fetch(m_client, server.url("/img/a.gif"), broken));
    EXPECT_STREQ(m_client.getStatus(), "500");
    EXPECT_EQ(server.requests().size(), 4u);
}

TEST_F(FixtureSiteTest, DelaysEveryResponse) {
    TestServer server({m_dir.file("site"), "", "", "", 300});
    ASSERT_TRUE(server.start());
    auto start = std::chrono::steady_clock::now();
    DataBuffer out;
    ASSERT_TRUE(fetch(m_client, server.url("/style.css"), out));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
}

TEST_F(FixtureSiteTest, RecordsRequestsWithHeadersAndBodies) {
    TestServer server;
    ASSERT_TRUE(server.start());
    StringBuffer address(server.url("/_/echo?x=%C3%A9").c_str());
    StringBuffer body("caf\xe9");
    StringBuffer response;
    ASSERT_TRUE(m_client.postForm(address, body, response));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].target, "/_/echo?x=%C3%A9");
    EXPECT_EQ(server.requests()[0].body, "caf\xe9");
    EXPECT_THAT(response.getString(), HasSubstr("caf\xe9"));
    server.clearRequests();
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(FixtureSiteTest, StopsAndFreesItsPort) {
    TestServer server;
    ASSERT_TRUE(server.start());
    std::string target = server.url("/_/echo");
    server.stop();
    DataBuffer out;
    EXPECT_FALSE(fetch(m_client, target, out));
}

} // namespace
