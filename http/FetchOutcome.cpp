#include "http/FetchOutcome.h"

namespace {

// The phrases of the statuses a page or a picture meets most, for answers
// that came without one.
const char* standardPhrase(long status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 407:
        return "Proxy Authentication Required";
    case 410:
        return "Gone";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return "";
    }
}

} // namespace

std::string describeStatus(long status, const std::string& reason) {
    std::string text = "the server answered " + std::to_string(status);
    const std::string phrase = reason.empty() ? standardPhrase(status) : reason;
    if (!phrase.empty()) {
        text += " " + phrase;
    }
    return text;
}
