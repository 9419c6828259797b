// The Firefox session cookie readers on arbitrary bytes: as a compressed
// session file and as a session document. Every line they give has the
// seven fields of a cookies.txt line.

#include "FuzzInput.h"
#include "app/FirefoxCookies.h"
#include "app/FirefoxSession.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

void checkLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        FUZZ_CHECK(std::count(line.begin(), line.end(), '\t') == 6);
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(line.front() != '#' || line.rfind("#HttpOnly_", 0) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    std::vector<std::string> lines = {"stale"};
    std::string problem;
    std::string decoded;
    if (firefoxSessionFileCookies(bytes, lines, problem)) {
        FUZZ_CHECK(problem.empty() && decodeMozLz4(bytes, decoded));
        FUZZ_CHECK(lines == firefoxSessionCookies(decoded));
        checkLines(lines);
    } else {
        FUZZ_CHECK(lines.empty() && !problem.empty());
    }

    checkLines(firefoxSessionCookies(bytes));
    return 0;
}
