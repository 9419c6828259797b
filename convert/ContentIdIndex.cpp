// Part of the embedding step (ReferenceEmbedding.cpp): finds a URL's entry in
// the resource map and shares content-ids between the documents of one conversion.

#include "ContentIdIndex.h"

#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "foundation/StringPair.h"

namespace {

const char* entryName(const ExtPtrArray& resources, int position) {
    return static_cast<const StringPair*>(resources.elementAt(position))->getName();
}

} // namespace

std::string ContentIdIndex::foldAscii(const char* text) {
    std::string folded(text != nullptr ? text : "");
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + ('a' - 'A'));
        }
    }
    return folded;
}

std::string ContentIdIndex::mapKey(const char* url) {
    if (url != nullptr && beginsWithNoCase(url, "data:")) {
        return url;
    }
    return foldAscii(url);
}

void ContentIdIndex::catchUp(MapIndex& index, const ExtPtrArray& resources) {
    if (resources.getSize() < index.indexed) {
        index.byUrl.clear();
        index.indexed = 0;
    }
    for (; index.indexed < resources.getSize(); ++index.indexed) {
        // emplace keeps the earlier entry when a URL stands twice.
        index.byUrl.emplace(mapKey(entryName(resources, index.indexed)), index.indexed);
    }
}

bool ContentIdIndex::stillMatches(const ExtPtrArray& resources, int position,
                                  const std::string& key) {
    return position < resources.getSize() && mapKey(entryName(resources, position)) == key;
}

int ContentIdIndex::find(const void* owner, const ExtPtrArray& resources, const std::string& key) {
    MapIndex& index = m_maps[owner];
    catchUp(index, resources);
    auto hit = index.byUrl.find(key);
    if (hit != index.byUrl.end() && stillMatches(resources, hit->second, key)) {
        return hit->second;
    }
    if (hit == index.byUrl.end()) {
        return -1;
    }
    // The entry was changed behind the index's back: index the map afresh.
    index = MapIndex();
    catchUp(index, resources);
    hit = index.byUrl.find(key);
    return hit != index.byUrl.end() ? hit->second : -1;
}

void ContentIdIndex::noteAppended(const void* owner, const ExtPtrArray& resources,
                                  std::string foldedUrl) {
    MapIndex& index = m_maps[owner];
    if (index.indexed + 1 != resources.getSize()) {
        catchUp(index, resources);
        return;
    }
    index.byUrl.emplace(std::move(foldedUrl), index.indexed);
    ++index.indexed;
}

const std::string* ContentIdIndex::sharedContentId(const std::string& key) const {
    const auto hit = m_shared.find(key);
    return hit != m_shared.end() ? &hit->second : nullptr;
}

void ContentIdIndex::shareContentId(const std::string& key, const std::string& contentId) {
    m_shared.emplace(key, contentId);
}

void ContentIdIndex::forgetMap(const void* owner) {
    m_maps.erase(owner);
}

void ContentIdIndex::clear() {
    m_maps.clear();
    m_shared.clear();
}
