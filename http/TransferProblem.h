#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <string>

// What is known about a transfer that failed, for telling a person why.
struct TransferFacts {
    CURLcode code = CURLE_OK;
    std::string host;
    int port = 0;
    std::string proxy; // the proxy given by the user; empty for the other access kinds
    bool connected = false;
    long connectTimeoutMs = 0;
    long stallTimeoutMs = 0;
    long osErrno = 0;         // the system's error number of the last failed call, 0 when none
    uint64_t bodyBytes = 0;   // what arrived of the body
    curl_off_t expected = -1; // the length the answer announced; -1 when it announced none
};

// One line in words: "could not connect to 127.0.0.1 port 1: connection
// refused", "the certificate of example.org could not be verified (use
// --insecure to accept it)". Never curl's own numbers or texts, which
// name its internals rather than what happened.
std::string describeTransferFailure(const TransferFacts& facts);
