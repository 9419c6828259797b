// The lifetime of one conversion's prefetch (Prefetching.cpp), set up by
// buildMessage (MessageAssembly.cpp).

#include "PrefetchScope.h"

#include "Mhtml.h"
#include "ResourcePrefetch.h"

PrefetchScope::PrefetchScope(Mhtml& converter)
    : m_converter(converter), m_outer(converter.m_prefetch) {
    // One connection means one download at a time, as each is asked for.
    if (converter.m_maxConnections > 1) {
        m_prefetch = std::make_unique<ResourcePrefetch>(converter.m_maxConnections);
    }
    converter.m_prefetch = m_prefetch.get();
}

PrefetchScope::~PrefetchScope() {
    m_converter.m_prefetch = m_outer;
}
