#include "app/ChromiumSession.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>

namespace {

enum Command : uint8_t {
    kSetTabWindow = 0,
    kSetTabIndexInWindow = 2,
    kTabNavigationPathPrunedFromBack = 5,
    kUpdateTabNavigation = 6,
    kSetSelectedNavigationIndex = 7,
    kTabNavigationPathPrunedFromFront = 11,
    kTabClosed = 16,
    kWindowClosed = 17,
    kTabNavigationPathPruned = 24,
};

// Bounds-checked little-endian reads over one block of bytes.
class ByteReader {
public:
    ByteReader(const char* data, size_t size) : m_data(data), m_size(size) {}

    size_t remaining() const { return m_size - m_offset; }

    std::optional<uint32_t> u32() {
        if (remaining() < 4) {
            return std::nullopt;
        }
        const auto* b = reinterpret_cast<const unsigned char*>(m_data + m_offset);
        m_offset += 4;
        return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
    }
    std::optional<int32_t> i32() {
        const auto value = u32();
        if (!value) {
            return std::nullopt;
        }
        return static_cast<int32_t>(*value);
    }
    std::optional<uint16_t> u16() {
        if (remaining() < 2) {
            return std::nullopt;
        }
        const auto* b = reinterpret_cast<const unsigned char*>(m_data + m_offset);
        m_offset += 2;
        return static_cast<uint16_t>(b[0] | (b[1] << 8));
    }
    // A pickled string: its 32-bit length, then its bytes.
    std::optional<std::string> pickledString() {
        const auto length = i32();
        if (!length || *length < 0 || static_cast<size_t>(*length) > remaining()) {
            return std::nullopt;
        }
        std::string text(m_data + m_offset, static_cast<size_t>(*length));
        m_offset += static_cast<size_t>(*length);
        return text;
    }
    const char* take(size_t count) {
        if (remaining() < count) {
            return nullptr;
        }
        const char* start = m_data + m_offset;
        m_offset += count;
        return start;
    }

private:
    const char* m_data;
    size_t m_size;
    size_t m_offset = 0;
};

struct Tab {
    int32_t window = -1;
    int32_t indexInWindow = 0;
    int32_t selected = -1;
    size_t firstSeen = 0;
    std::map<int32_t, std::string> navigations;
};

class SessionReplay {
public:
    void apply(uint8_t id, const char* payload, size_t size) {
        ByteReader reader(payload, size);
        switch (id) {
        case kSetTabWindow: {
            const auto window = reader.i32();
            const auto tab = reader.i32();
            if (window && tab) {
                tabFor(*tab).window = *window;
                noteWindow(*window);
            }
            break;
        }
        case kSetTabIndexInWindow:
            withTwoNumbers(reader,
                           [&](int32_t tab, int32_t index) { tabFor(tab).indexInWindow = index; });
            break;
        case kSetSelectedNavigationIndex:
            withTwoNumbers(reader,
                           [&](int32_t tab, int32_t index) { tabFor(tab).selected = index; });
            break;
        case kUpdateTabNavigation:
            updateNavigation(reader);
            break;
        case kTabNavigationPathPrunedFromBack:
            withTwoNumbers(reader, [&](int32_t tab, int32_t index) { pruneFrom(tab, index); });
            break;
        case kTabNavigationPathPrunedFromFront:
            withTwoNumbers(reader, [&](int32_t tab, int32_t count) { pruneRange(tab, 0, count); });
            break;
        case kTabNavigationPathPruned: {
            const auto tab = reader.i32();
            const auto index = reader.i32();
            const auto count = reader.i32();
            if (tab && index && count) {
                pruneRange(*tab, *index, *count);
            }
            break;
        }
        case kTabClosed:
            if (const auto tab = reader.i32()) {
                m_tabs.erase(*tab);
            }
            break;
        case kWindowClosed:
            if (const auto window = reader.i32()) {
                m_closedWindows.insert(*window);
            }
            break;
        default:
            break; // everything else says nothing about which pages are open
        }
    }

    std::vector<std::string> openUrls() const {
        std::vector<const Tab*> open;
        for (const auto& [id, tab] : m_tabs) {
            if (!tab.navigations.empty() && m_closedWindows.count(tab.window) == 0) {
                open.push_back(&tab);
            }
        }
        std::sort(open.begin(), open.end(), [this](const Tab* a, const Tab* b) {
            const size_t windowA = windowRank(a->window);
            const size_t windowB = windowRank(b->window);
            if (windowA != windowB) {
                return windowA < windowB;
            }
            if (a->indexInWindow != b->indexInWindow) {
                return a->indexInWindow < b->indexInWindow;
            }
            return a->firstSeen < b->firstSeen;
        });
        std::vector<std::string> urls;
        for (const Tab* tab : open) {
            const auto selected = tab->navigations.find(tab->selected);
            urls.push_back(selected != tab->navigations.end() ? selected->second
                                                              : tab->navigations.rbegin()->second);
        }
        return urls;
    }

private:
    template <typename Action> static void withTwoNumbers(ByteReader& reader, Action action) {
        const auto first = reader.i32();
        const auto second = reader.i32();
        if (first && second) {
            action(*first, *second);
        }
    }

    Tab& tabFor(int32_t id) {
        auto [entry, added] = m_tabs.try_emplace(id);
        if (added) {
            entry->second.firstSeen = m_nextSeen++;
        }
        return entry->second;
    }

    void noteWindow(int32_t window) {
        if (std::find(m_windowOrder.begin(), m_windowOrder.end(), window) == m_windowOrder.end()) {
            m_windowOrder.push_back(window);
        }
    }

    size_t windowRank(int32_t window) const {
        const auto found = std::find(m_windowOrder.begin(), m_windowOrder.end(), window);
        return static_cast<size_t>(found - m_windowOrder.begin()); // unknown windows last
    }

    // A pickle: its 32-bit payload size, then tab id, navigation index, URL, ...
    void updateNavigation(ByteReader& reader) {
        const auto payloadSize = reader.u32();
        if (!payloadSize || *payloadSize > reader.remaining()) {
            return;
        }
        ByteReader pickle(reader.take(*payloadSize), *payloadSize);
        const auto tab = pickle.i32();
        const auto index = pickle.i32();
        if (!tab || !index || *index < 0) {
            return;
        }
        auto url = pickle.pickledString();
        if (!url || url->empty()) {
            return;
        }
        tabFor(*tab).navigations[*index] = std::move(*url);
    }

    void pruneFrom(int32_t id, int32_t index) {
        const auto tab = m_tabs.find(id);
        if (tab != m_tabs.end()) {
            auto& navigations = tab->second.navigations;
            navigations.erase(navigations.lower_bound(index), navigations.end());
        }
    }

    // Removes count navigations from index on; the later ones move down.
    void pruneRange(int32_t id, int32_t index, int32_t count) {
        const auto tab = m_tabs.find(id);
        if (tab == m_tabs.end() || count <= 0 || index < 0) {
            return;
        }
        std::map<int32_t, std::string> kept;
        const int64_t end = static_cast<int64_t>(index) + count;
        for (auto& [position, url] : tab->second.navigations) {
            if (position < index) {
                kept.emplace(position, std::move(url));
            } else if (position >= end) {
                kept.emplace(static_cast<int32_t>(position - count), std::move(url));
            }
        }
        tab->second.navigations = std::move(kept);
        int32_t& selected = tab->second.selected;
        if (selected >= end) {
            selected -= count;
        } else if (selected >= index) {
            selected = index > 0 ? index - 1 : 0;
        }
    }

    std::map<int32_t, Tab> m_tabs;
    std::set<int32_t> m_closedWindows;
    std::vector<int32_t> m_windowOrder;
    size_t m_nextSeen = 0;
};

} // namespace

std::vector<std::string> chromiumSessionUrls(const std::string& bytes) {
    ByteReader file(bytes.data(), bytes.size());
    const char* magic = file.take(4);
    const auto version = file.i32();
    if (magic == nullptr || std::memcmp(magic, "SNSS", 4) != 0 || !version ||
        (*version != 1 && *version != 3)) {
        return {}; // version 2 is encrypted and others are unknown
    }
    SessionReplay replay;
    while (const auto size = file.u16()) {
        if (*size == 0) {
            break;
        }
        const char* command = file.take(*size);
        if (command == nullptr) {
            break; // the last command was cut short while it was written
        }
        replay.apply(static_cast<uint8_t>(command[0]), command + 1, *size - 1u);
    }
    return replay.openUrls();
}
