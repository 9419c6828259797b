#pragma once

#include "ScopedEnvironment.h"
#include "TestServer.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "http/VantrelHttpImpl.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

// A suite with one scripted HTTP server for all its tests, and no proxy
// from the environment, so that nothing leaves loopback.
class LiveServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = std::make_unique<TestServer>();
        std::string error;
        if (!s_server->start(&error)) {
            s_server.reset();
            s_startError = error;
        }
    }
    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override {
        m_environment.clearProxies();
        m_environment.unset("CURL_CA_BUNDLE");
        ASSERT_TRUE(s_server) << s_startError;
        s_server->clearRequests();
    }

    static TestServer& server() { return *s_server; }
    static std::string url(const std::string& path) { return s_server->url(path); }

    ScopedEnvironment m_environment;

private:
    static inline std::unique_ptr<TestServer> s_server;
    static inline std::string s_startError;
};

inline std::string bytesOf(const DataBuffer& buffer) {
    if (buffer.getData() == nullptr) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(buffer.getData()), buffer.getSize());
}

// Limits short enough for tests that wait on them.
inline HttpLimits quickLimits() {
    HttpLimits limits;
    limits.connectTimeoutMs = 1000;
    limits.stallTimeoutMs = 400;
    limits.maxBodyBytes = 100000;
    return limits;
}
