#pragma once

#include <string>
#include <unordered_map>

class ExtPtrArray;

// Finds resource-map entries by URL without regard to ASCII case in constant
// time, and remembers the content-id that any document of the conversion
// gave a resource, so that one resource travels as one part.
//
// A map is indexed lazily: entries appended to it by other code are picked up
// on the next lookup, and a map that shrank or changed is indexed afresh.
class ContentIdIndex {
public:
    // The index in resources of the first entry whose name, folded, equals
    // foldedUrl (see foldAscii); -1 when there is none.
    int find(const void* owner, const ExtPtrArray& resources, const std::string& foldedUrl);
    // The entry just appended to resources is named foldedUrl.
    void noteAppended(const void* owner, const ExtPtrArray& resources, std::string foldedUrl);

    // The content-id shared for a resource key; null when none was given yet.
    const std::string* sharedContentId(const std::string& key) const;
    void shareContentId(const std::string& key, const std::string& contentId);

    // Forgets the index of one map (its owner is going away).
    void forgetMap(const void* owner);
    // Forgets everything: a new conversion begins.
    void clear();

    static std::string foldAscii(const char* text);
    // How a URL is looked up: without regard to ASCII case, but a data: URL
    // as written, since its base64 text is not the same in another case.
    static std::string mapKey(const char* url);

private:
    struct MapIndex {
        std::unordered_map<std::string, int> byUrl;
        int indexed = 0;
    };

    static void catchUp(MapIndex& index, const ExtPtrArray& resources);
    static bool stillMatches(const ExtPtrArray& resources, int position, const std::string& key);

    std::unordered_map<const void*, MapIndex> m_maps;
    std::unordered_map<std::string, std::string> m_shared;
};
