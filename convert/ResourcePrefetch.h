#pragma once

#include "http/ConcurrentFetcher.h"

#include <string>
#include <unordered_map>

class DataBuffer;

// The web resources of one conversion, downloaded all at once ahead of the
// converter's one-by-one requests for them. Each download is the quiet
// fetch of the client that the converter would create for it; one that
// failed, or that was made under another access kind than the one now in
// force, is not handed out, so that the converter downloads it itself with
// its retry and its messages.
class ResourcePrefetch {
public:
    // maxTransfers: downloads at once in all (at most six to one host).
    explicit ResourcePrefetch(int maxTransfers);
    ResourcePrefetch(const ResourcePrefetch&) = delete;
    ResourcePrefetch& operator=(const ResourcePrefetch&) = delete;

    // Starts the download of url, unless one is already waiting to be taken.
    void add(const char* url, const FetchSettings& settings);
    // True when url was downloaded under the access kind of settings and
    // that download succeeded: its body is then in data (which must be
    // empty). The download is used up either way.
    // finalUrl: where the body came from, behind the redirects.
    bool take(const char* url, const FetchSettings& settings, DataBuffer& data,
              std::string& finalUrl);
    // Downloads added and not yet taken.
    int pending() const { return static_cast<int>(m_entries.size()); }

private:
    struct Entry {
        int ticket;
        AccessKind kind;
        std::string proxy;
    };

    ConcurrentFetcher m_fetcher;
    std::unordered_map<std::string, Entry> m_entries;
};
