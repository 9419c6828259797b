#pragma once

#include <memory>

class Mhtml;
class ResourcePrefetch;

// Gives a converter that may download more than one resource at once its
// prefetch for the length of one conversion; downloads not taken by then
// are stopped when the conversion ends, however it ends.
class PrefetchScope {
public:
    explicit PrefetchScope(Mhtml& converter);
    ~PrefetchScope();
    PrefetchScope(const PrefetchScope&) = delete;
    PrefetchScope& operator=(const PrefetchScope&) = delete;

private:
    Mhtml& m_converter;
    std::unique_ptr<ResourcePrefetch> m_prefetch;
    ResourcePrefetch* m_outer;
};
