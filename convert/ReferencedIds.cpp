// Which content-ids the rewritten document mentions, asked by the resource
// loop (MessageAssembly.cpp) after every pass has run.

#include "ReferencedIds.h"

#include "foundation/StringBuffer.h"

namespace {

bool hasStandardForm(std::string_view contentId) {
    return contentId.size() == ReferencedIds::kPrefix.size() + ReferencedIds::kUuidLength &&
           contentId.substr(0, ReferencedIds::kPrefix.size()) == ReferencedIds::kPrefix;
}

} // namespace

ReferencedIds::ReferencedIds(const StringBuffer& html) : m_html(html) {
    // Every content-id the converter makes is the prefix and 36 characters;
    // the prefix cannot overlap itself, so each hit is recorded once.
    // Like StringBuffer::contains, the text ends at its first NUL.
    const std::string_view text(html.getString());
    const size_t idLength = kPrefix.size() + kUuidLength;
    for (size_t at = text.find(kPrefix); at != std::string_view::npos;
         at = text.find(kPrefix, at + kPrefix.size())) {
        if (text.size() - at >= idLength) {
            m_found.insert(text.substr(at, idLength));
        }
    }
}

bool ReferencedIds::mentions(const char* contentId) const {
    const std::string_view id(contentId);
    if (hasStandardForm(id)) {
        return m_found.count(id) > 0;
    }
    return m_html.contains(contentId);
}
