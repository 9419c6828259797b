#include "app/FirefoxSession.h"

#include <lz4.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr char kMozLz4Magic[8] = {'m', 'o', 'z', 'L', 'z', '4', '0', '\0'};
constexpr size_t kHeaderSize = sizeof kMozLz4Magic + 4;
// A session of many thousand tabs stays far below this.
constexpr uint32_t kMaxDecodedSize = 256u * 1024u * 1024u;
// An LZ4 block cannot expand by more than this factor.
constexpr uint64_t kMaxLz4Ratio = 255;

// The URL of the tab's current entry, or "" when the tab has none.
std::string currentEntryUrl(const nlohmann::json& tab) {
    if (!tab.is_object()) {
        return {};
    }
    const auto entries = tab.find("entries");
    if (entries == tab.end() || !entries->is_array() || entries->empty()) {
        return {};
    }
    // "index" counts from 1; a missing one means the newest entry, and one
    // outside the list is brought back into it.
    const auto count = static_cast<int64_t>(entries->size());
    int64_t index = count;
    const auto found = tab.find("index");
    if (found != tab.end() && found->is_number_integer()) {
        index = found->get<int64_t>();
    } else if (found != tab.end() && found->is_number_unsigned()) {
        index = static_cast<int64_t>(std::min<uint64_t>(found->get<uint64_t>(), count));
    }
    index = std::clamp<int64_t>(index, 1, count);
    const nlohmann::json& entry = (*entries)[static_cast<size_t>(index - 1)];
    if (!entry.is_object()) {
        return {};
    }
    const auto url = entry.find("url");
    if (url == entry.end() || !url->is_string()) {
        return {};
    }
    return url->get<std::string>();
}

} // namespace

bool decodeMozLz4(const std::string& bytes, std::string& decoded) {
    std::string problem;
    return decodeMozLz4(bytes, decoded, problem);
}

bool decodeMozLz4(const std::string& bytes, std::string& decoded, std::string& problem) {
    decoded.clear();
    if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMozLz4Magic, 8) != 0) {
        problem = "not a mozLz40 file";
        return false;
    }
    const auto* sizeBytes = reinterpret_cast<const unsigned char*>(bytes.data() + 8);
    const uint32_t size = sizeBytes[0] | (sizeBytes[1] << 8) | (sizeBytes[2] << 16) |
                          (static_cast<uint32_t>(sizeBytes[3]) << 24);
    const size_t blockSize = bytes.size() - kHeaderSize;
    if (size > kMaxDecodedSize || size > blockSize * kMaxLz4Ratio + 16 ||
        blockSize > static_cast<size_t>(INT32_MAX)) {
        problem = "its header announces " + std::to_string(size) + " bytes, more than its " +
                  std::to_string(blockSize) + " bytes can hold";
        return false;
    }
    decoded.resize(size);
    const int produced = LZ4_decompress_safe(bytes.data() + kHeaderSize, decoded.data(),
                                             static_cast<int>(blockSize), static_cast<int>(size));
    if (produced < 0 || static_cast<uint32_t>(produced) != size) {
        decoded.clear();
        problem = "its LZ4 block is damaged or does not make the " + std::to_string(size) +
                  " bytes its header announces";
        return false;
    }
    return true;
}

std::vector<std::string> firefoxSessionUrls(const std::string& json) {
    std::vector<std::string> urls;
    const nlohmann::json document = nlohmann::json::parse(json, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        return urls;
    }
    const auto windows = document.find("windows");
    if (windows == document.end() || !windows->is_array()) {
        return urls;
    }
    for (const nlohmann::json& window : *windows) {
        if (!window.is_object()) {
            continue;
        }
        const auto tabs = window.find("tabs");
        if (tabs == window.end() || !tabs->is_array()) {
            continue;
        }
        for (const nlohmann::json& tab : *tabs) {
            std::string url = currentEntryUrl(tab);
            if (!url.empty()) {
                urls.push_back(std::move(url));
            }
        }
    }
    return urls;
}

std::vector<std::string> firefoxSessionFileUrls(const std::string& bytes) {
    std::string json;
    if (!decodeMozLz4(bytes, json)) {
        return {};
    }
    return firefoxSessionUrls(json);
}
