#include "http/TransferProblem.h"

#include <cctype>
#include <cstring>

namespace {

std::string seconds(long milliseconds) {
    const long whole = (milliseconds + 999) / 1000;
    return std::to_string(whole) + " s";
}

// "Connection refused" reads as part of a sentence in lower case.
std::string systemText(long osErrno) {
    if (osErrno == 0) {
        return {};
    }
    std::string text = std::strerror(static_cast<int>(osErrno));
    if (!text.empty() && !(text.size() > 1 && std::isupper(static_cast<unsigned char>(text[1])))) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    }
    return text;
}

std::string connectFailure(const TransferFacts& facts) {
    if (!facts.proxy.empty()) {
        return "the proxy " + facts.proxy + " did not answer";
    }
    std::string text = "could not connect to " + facts.host + " port " + std::to_string(facts.port);
    if (facts.code == CURLE_OPERATION_TIMEDOUT) {
        return text + ": no answer within " + seconds(facts.connectTimeoutMs);
    }
    const std::string why = systemText(facts.osErrno);
    return why.empty() ? text : text + ": " + why;
}

std::string earlyEnd(const TransferFacts& facts) {
    std::string text =
        "the connection to " + facts.host + " closed before the whole answer arrived";
    if (facts.expected >= 0) {
        text += " (" + std::to_string(facts.bodyBytes) + " of " + std::to_string(facts.expected) +
                " bytes)";
    }
    return text;
}

std::string tlsFailure(const TransferFacts& facts) {
    switch (facts.code) {
    case CURLE_PEER_FAILED_VERIFICATION:
        return "the certificate of " + facts.host +
               " could not be verified (use --insecure to accept it)";
    case CURLE_SSL_CACERT_BADFILE:
        return "the certificates to verify " + facts.host + " with could not be read";
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CONNECT_ERROR:
    default:
        return "could not set up a secure connection to " + facts.host;
    }
}

} // namespace

std::string describeTransferFailure(const TransferFacts& facts) {
    switch (facts.code) {
    case CURLE_OK:
        return {};
    case CURLE_COULDNT_RESOLVE_HOST:
        return "could not find the host " + facts.host;
    case CURLE_COULDNT_RESOLVE_PROXY:
        return "could not find the proxy " + (facts.proxy.empty() ? facts.host : facts.proxy);
    case CURLE_COULDNT_CONNECT:
        return connectFailure(facts);
    case CURLE_OPERATION_TIMEDOUT:
        if (!facts.connected) {
            return connectFailure(facts);
        }
        return "no answer from " + facts.host + " for " + seconds(facts.stallTimeoutMs);
    case CURLE_UNSUPPORTED_PROTOCOL:
        return "only http and https addresses can be fetched";
    case CURLE_URL_MALFORMAT:
        return "the address is not a valid URL";
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CONNECT_ERROR:
        return tlsFailure(facts);
    case CURLE_GOT_NOTHING:
        return "the server " + facts.host + " closed the connection without answering";
    case CURLE_PARTIAL_FILE:
        return earlyEnd(facts);
    case CURLE_RECV_ERROR:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return "the connection to " + facts.host + " broke off";
    case CURLE_SEND_ERROR:
        return "the request could not be sent to " + facts.host;
    case CURLE_FILESIZE_EXCEEDED:
        return "the answer of " + facts.host + " is too large";
    case CURLE_BAD_CONTENT_ENCODING:
        return "the answer of " + facts.host + " could not be unpacked";
    case CURLE_OUT_OF_MEMORY:
        return "there was not enough memory for the answer";
    case CURLE_WEIRD_SERVER_REPLY:
        return "the server " + facts.host + " did not answer in HTTP";
    case CURLE_LOGIN_DENIED:
        return "the server " + facts.host + " refused the login";
    case CURLE_FAILED_INIT:
        return "the download could not be set up";
    default:
        return "the download from " + facts.host + " failed";
    }
}
