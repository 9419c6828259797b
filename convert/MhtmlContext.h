#pragma once

#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"

#include <string>
#include <unordered_set>

// The document being converted, the page itself or a frame: its resource
// map (URL -> content-id, in order of first reference), the URLs its
// references resolve against, and what to restore when it is popped.
class MhtmlContext : public VantrelObject {
public:
    MhtmlContext() = default;
    ~MhtmlContext() override;

    ExtPtrArray m_resources; // StringPair: name = URL, value = content-id
    StringBuffer m_baseUrl;
    StringBuffer m_rootUrl;
    StringBuffer m_savedDirectory;
    bool m_savedLocal = false;
    // True when the document's own bytes came over http(s); such a document
    // never makes the converter read a local file.
    bool m_fromWeb = false;
    // The complete mode's style sheets put into the document, by folded
    // address, so that a sheet linked twice is fetched once.
    std::unordered_set<std::string> m_inlinedSheets;
};
