#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

class MimeMessage2;
class StringBuffer;

// The page's part made for Thunderbird, which opens the message as a draft
// and sends what its compose window keeps of it. That window shows
// <img src="cid:"> and <body background="cid:"> but loses the pictures of
// CSS url(cid:) and of table and cell backgrounds, and drops every rule
// inside an @media block; data: pictures and style elements with a media
// attribute survive. So:
// - every CSS url() naming a part by cid: (style elements, style
//   attributes) becomes the part's data: address;
// - a td, th or table background="cid:" becomes that data: address as the
//   element's background-image, in front of its own style;
// - every top-level @media block of a style element becomes a style element
//   of its own with the query as its media attribute, in source order;
// - a part that nothing names any more leaves the message, where it would
//   show as an attachment.
class ThunderbirdDraft {
public:
    explicit ThunderbirdDraft(MimeMessage2& root);

    // html: the page's text; the root's parts are the ones cid: names.
    void adapt(StringBuffer& html);

private:
    std::string dataUrlFor(std::string_view contentId);
    void adaptStyleElement(std::string_view element, std::string& out);
    void adaptTag(std::string_view tag, std::string& out);
    std::string adaptStyleAttribute(std::string_view tag);
    void moveBackgroundIntoStyle(StringBuffer& tag);
    void dropInlinedParts(std::string_view html);
    bool namedByAnotherPart(const std::string& contentId) const;

    MimeMessage2& m_root;
    // The root's parts by content-id (without angle brackets).
    std::unordered_map<std::string, MimeMessage2*> m_parts;
    std::unordered_map<std::string, std::string> m_dataUrls;
    // The parts written as data: somewhere; those named nowhere else go.
    std::unordered_set<std::string> m_inlined;
};
