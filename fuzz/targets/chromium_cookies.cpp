// Cookie values from a Chromium database on arbitrary bytes: decryption
// ends and stays inside the value, and a line is either empty or one line
// of seven fields that ends with the value.

#include "FuzzInput.h"
#include "app/ChromiumCookieCipher.h"
#include "app/ChromiumCookies.h"

#include <algorithm>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const int version = input.pick(2) == 0 ? 23 : 24;
    ChromiumCookie cookie;
    const uint8_t flags = input.byte();
    cookie.secure = (flags & 1) != 0;
    cookie.httpOnly = (flags & 2) != 0;
    for (int i = 0; i < 8; ++i) {
        cookie.expiresUtc =
            static_cast<int64_t>(static_cast<uint64_t>(cookie.expiresUtc) << 8 | input.byte());
    }
    cookie.hostKey = input.text();
    cookie.path = input.text();
    cookie.name = input.text();
    const std::string encrypted = input.rest();

    ChromiumCookieDecryptor decryptor(version, [](std::string& password, std::string&) {
        password = "fuzz";
        return true;
    });
    std::string value;
    if (decryptor.decrypt(encrypted, cookie.hostKey, value)) {
        FUZZ_CHECK(value.size() < encrypted.size());
    } else {
        FUZZ_CHECK(value.empty());
        value = encrypted; // as a plain value
    }
    const std::string line = chromiumCookieLine(cookie, value);
    if (!line.empty()) {
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(std::count(line.begin(), line.end(), '\t') == 6);
        FUZZ_CHECK(line.size() >= value.size() &&
                   line.compare(line.size() - value.size(), value.size(), value) == 0);
    }
    return 0;
}
