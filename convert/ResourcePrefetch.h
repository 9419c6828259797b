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
// its messages, and retries one that got no answer under the other kind.
class ResourcePrefetch {
public:
    // maxTransfers: downloads at once in all (at most six to one host).
    explicit ResourcePrefetch(int maxTransfers);
    ResourcePrefetch(const ResourcePrefetch&) = delete;
    ResourcePrefetch& operator=(const ResourcePrefetch&) = delete;

    // Starts the download of url, unless one is already waiting to be taken.
    void add(const char* url, const FetchSettings& settings);
    // Whether url was downloaded under the access kind of settings, and
    // how that went: on success its body is in data (which must be empty);
    // either way outcome tells what became of it. The download is used up.
    enum class Taken { NotTried, Succeeded, Failed };
    Taken take(const char* url, const FetchSettings& settings, DataBuffer& data,
               FetchOutcome& outcome);
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
