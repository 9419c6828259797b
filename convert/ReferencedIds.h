#pragma once

#include "convert/ConvertText.h"

#include <string>
#include <string_view>
#include <unordered_set>

class StringBuffer;

// The content-ids that a rewritten document mentions, found in one pass, so
// that the resource loop can ask for each of its entries without searching
// the whole document again. The document must stay unchanged while the
// object is asked.
class ReferencedIds {
public:
    explicit ReferencedIds(const StringBuffer& html);

    // True when the document contains contentId (case-sensitive).
    bool mentions(const char* contentId) const;

    static constexpr std::string_view kPrefix = kContentIdPrefix;
    static constexpr size_t kUuidLength = 36;

private:
    const StringBuffer& m_html;
    std::unordered_set<std::string_view> m_found;
};
