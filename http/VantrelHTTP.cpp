#include "http/VantrelHTTP.h"

#include "foundation/DataBuffer.h"

void VantrelHTTP::setUsername(const char* text) {
    username.setString(text);
    username.trim();
}

void VantrelHTTP::setPassword(const char* text) {
    password.setString(text);
    password.trim();
}

bool VantrelHTTP::fetchLogged(const char* url, DataBuffer& out) {
    StringBuffer copy(url != nullptr ? url : "");
    return fetchLogged(copy, out);
}
