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

ResourcePrefetch::Taken ResourcePrefetch::take(const char* url, const FetchSettings& settings,
                                               DataBuffer& data, FetchOutcome& outcome) {
    if (url == nullptr) {
        return Taken::NotTried;
    }
    auto found = m_entries.find(url);
    if (found == m_entries.end()) {
        return Taken::NotTried;
    }
    const Entry entry = found->second;
    m_entries.erase(found);
    if (entry.kind != settings.kind || entry.proxy != settings.proxy) {
        m_fetcher.cancel(entry.ticket);
        return Taken::NotTried;
    }
    return m_fetcher.take(entry.ticket, data, outcome) ? Taken::Succeeded : Taken::Failed;
}
