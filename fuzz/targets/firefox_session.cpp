// The Firefox session readers on arbitrary bytes: as a compressed session
// file, as a session document, and as a profiles.ini. A document packed
// into a session file reads the same as the document itself.

#include "FuzzInput.h"
#include "app/FirefoxProfiles.h"
#include "app/FirefoxSession.h"

#include <lz4.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string packed(const std::string& json) {
    std::string block(static_cast<size_t>(LZ4_compressBound(static_cast<int>(json.size()))), '\0');
    const int size = LZ4_compress_default(json.data(), block.data(), static_cast<int>(json.size()),
                                          static_cast<int>(block.size()));
    FUZZ_CHECK(size > 0 || json.empty());
    block.resize(static_cast<size_t>(size > 0 ? size : 0));
    std::string file("mozLz40", 8);
    const auto length = static_cast<uint32_t>(json.size());
    for (int shift = 0; shift < 32; shift += 8) {
        file.push_back(static_cast<char>((length >> shift) & 0xff));
    }
    return file + block;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    std::string decoded;
    if (decodeMozLz4(bytes, decoded)) {
        const auto* header = reinterpret_cast<const unsigned char*>(bytes.data() + 8);
        const uint32_t announced = header[0] | (header[1] << 8) | (header[2] << 16) |
                                   (static_cast<uint32_t>(header[3]) << 24);
        FUZZ_CHECK(decoded.size() == announced);
    } else {
        FUZZ_CHECK(decoded.empty());
    }
    const std::vector<std::string> fromFile = firefoxSessionFileUrls(bytes);
    FUZZ_CHECK(fromFile == firefoxSessionUrls(decoded));

    const std::vector<std::string> urls = firefoxSessionUrls(bytes);
    for (const std::string& url : urls) {
        FUZZ_CHECK(!url.empty());
    }
    if (!bytes.empty()) {
        std::string again;
        FUZZ_CHECK(decodeMozLz4(packed(bytes), again) && again == bytes);
        FUZZ_CHECK(firefoxSessionFileUrls(packed(bytes)) == urls);
    }

    for (const std::string& directory :
         firefoxProfileDirectories("/home/user/.mozilla/firefox", bytes)) {
        FUZZ_CHECK(!directory.empty());
    }
    return 0;
}
