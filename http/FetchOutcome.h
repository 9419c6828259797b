#pragma once

#include <cstdint>
#include <string>

// What became of one GET, for the caller's next decision and for the
// person who reads why a page or a picture is missing.
//
// Contract: `answered` is set as soon as a server's answer began (a status
// line arrived), whatever happened after it, and for a server that took the
// connection and then sent nothing for the stall time; then trying again under
// another access kind cannot help, because the server has spoken. Without
// an answer the failure lies on the way there (name lookup, connection,
// proxy, TLS) and another way may succeed. `problem` is one line in words,
// empty on success, and never holds a password.
struct FetchOutcome {
    bool succeeded = false;
    bool answered = false;
    long status = 0;    // of the last answer; 0 when none came
    std::string reason; // the reason phrase of that answer, when it had one
    std::string problem;
    uint64_t bytes = 0;
    std::string finalUrl; // where the body came from, behind the redirects

    bool worthRetrying() const { return !succeeded && !answered; }
};

// "the server answered 404 Not Found"; a standard phrase stands in where
// the answer had none (HTTP/2 sends none).
std::string describeStatus(long status, const std::string& reason);
