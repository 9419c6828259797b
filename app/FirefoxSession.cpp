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

std::string trimmed(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t\r");
    if (start == std::string::npos) {
        return {};
    }
    const size_t end = text.find_last_not_of(" \t\r");
    return text.substr(start, end - start + 1);
}

} // namespace

bool decodeMozLz4(const std::string& bytes, std::string& decoded) {
    decoded.clear();
    if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMozLz4Magic, 8) != 0) {
        return false;
    }
    const auto* sizeBytes = reinterpret_cast<const unsigned char*>(bytes.data() + 8);
    const uint32_t size = sizeBytes[0] | (sizeBytes[1] << 8) | (sizeBytes[2] << 16) |
                          (static_cast<uint32_t>(sizeBytes[3]) << 24);
    const size_t blockSize = bytes.size() - kHeaderSize;
    if (size > kMaxDecodedSize || size > blockSize * kMaxLz4Ratio + 16 ||
        blockSize > static_cast<size_t>(INT32_MAX)) {
        return false;
    }
    decoded.resize(size);
    const int produced = LZ4_decompress_safe(bytes.data() + kHeaderSize, decoded.data(),
                                             static_cast<int>(blockSize), static_cast<int>(size));
    if (produced < 0 || static_cast<uint32_t>(produced) != size) {
        decoded.clear();
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

std::vector<std::string> firefoxProfileDirectories(const std::string& baseDir,
                                                   const std::string& profilesIni) {
    struct Section {
        std::string path;
        bool relative = true;
    };
    std::vector<Section> sections;
    bool inProfile = false;
    size_t lineStart = 0;
    while (lineStart < profilesIni.size()) {
        size_t lineEnd = profilesIni.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = profilesIni.size();
        }
        const std::string line = trimmed(profilesIni.substr(lineStart, lineEnd - lineStart));
        lineStart = lineEnd + 1;
        if (!line.empty() && line.front() == '[') {
            inProfile = line.rfind("[Profile", 0) == 0 && line.back() == ']';
            if (inProfile) {
                sections.emplace_back();
            }
            continue;
        }
        const size_t equals = line.find('=');
        if (!inProfile || equals == std::string::npos) {
            continue;
        }
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value = trimmed(line.substr(equals + 1));
        if (key == "Path") {
            sections.back().path = value;
        } else if (key == "IsRelative") {
            sections.back().relative = value != "0";
        }
    }
    std::vector<std::string> directories;
    for (const Section& section : sections) {
        if (section.path.empty()) {
            continue;
        }
        if (section.relative || section.path.front() != '/') {
            directories.push_back(baseDir + "/" + section.path);
        } else {
            directories.push_back(section.path);
        }
    }
    return directories;
}
