// The concurrent downloads behind Prefetching.cpp, taken one by one by
// fetchResource (Fetching.cpp).

#include "ResourcePrefetch.h"

#include "foundation/DataBuffer.h"

ResourcePrefetch::ResourcePrefetch(int maxTransfers) : m_fetcher(maxTransfers) {}

void ResourcePrefetch::add(const char* url, const FetchSettings& settings) {
    if (url == nullptr || m_entries.count(url) > 0) {
        return;
    }
    const int ticket = m_fetcher.add(url, settings);
    m_entries.emplace(url, Entry{ticket, settings.kind, settings.proxy});
}

bool ResourcePrefetch::take(const char* url, const FetchSettings& settings, DataBuffer& data,
                            std::string& finalUrl) {
    if (url == nullptr) {
        return false;
    }
    auto found = m_entries.find(url);
    if (found == m_entries.end()) {
        return false;
    }
    const Entry entry = found->second;
    m_entries.erase(found);
    if (entry.kind != settings.kind || entry.proxy != settings.proxy) {
        m_fetcher.cancel(entry.ticket);
        return false;
    }
    return m_fetcher.take(entry.ticket, data, finalUrl);
}
