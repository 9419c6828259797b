// The Chromium session reader on arbitrary bytes: it ends, stays inside the
// bytes it is given, and names no tab without a URL.

#include "FuzzInput.h"
#include "app/ChromiumSession.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> urls = chromiumSessionUrls(bytes);
    for (const std::string& url : urls) {
        FUZZ_CHECK(!url.empty());
    }
    return 0;
}
