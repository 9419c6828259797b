#include "convert/ThunderbirdDraft.h"

#include "convert/DraftStyles.h"
#include "convert/MarkupScan.h"
#include "convert/TagAttributeEdits.h"
#include "foundation/StringBuffer.h"
#include "mime/ContentCoding.h"
#include "mime/MimeMessage2.h"

#include <cctype>
#include <cstdlib>
#include <memory>

namespace {

constexpr size_t kNone = std::string_view::npos;
constexpr std::string_view kCid = "cid:";

std::string_view textOf(const StringBuffer& buffer) {
    return {buffer.getString(), static_cast<size_t>(buffer.getSize())};
}

bool hasNameAt(std::string_view text, size_t pos, std::string_view name) {
    const size_t end = pos + name.size();
    return end <= text.size() && findNoCaseFrom(text.substr(0, end), name, pos) == pos &&
           (end == text.size() || std::isalnum(static_cast<unsigned char>(text[end])) == 0);
}

// The tags whose background attribute Thunderbird's compose window loses.
bool losesBackground(std::string_view tag) {
    return hasNameAt(tag, 1, "td") || hasNameAt(tag, 1, "th") || hasNameAt(tag, 1, "table");
}

std::string contentIdOf(const MimeMessage2& part) {
    std::string_view id(part.getContentId());
    if (id.size() >= 2 && id.front() == '<' && id.back() == '>') {
        id = id.substr(1, id.size() - 2);
    }
    return std::string(id);
}

std::string base64Of(const DataBuffer& bytes) {
    int length = 0;
    char* encoded =
        ContentCoding().encodeBase64(bytes.getData(), static_cast<int>(bytes.getSize()), &length);
    const std::string text = encoded == nullptr ? std::string() : std::string(encoded, length);
    std::free(encoded);
    return text;
}

// A media query as the value of a double-quoted attribute.
std::string attributeText(std::string_view value) {
    std::string out;
    for (const char c : value) {
        out += c == '&' ? "&amp;" : c == '"' ? "&quot;" : std::string(1, c);
    }
    return out;
}

// The element's own media attribute, quoted or not, gives way to the
// combined one (a second attribute would be ignored).
std::string withMedia(std::string_view openTag, const std::string& media) {
    const RawValue own = readRawTag(openTag, 0).media;
    if (!own.present) {
        StringBuffer tag(std::string(openTag).c_str());
        insertTagAttribute(tag, "media", attributeText(media).c_str());
        return std::string(textOf(tag));
    }
    const size_t quotes = own.quote != 0 ? 1 : 0;
    return std::string(openTag.substr(0, own.start - quotes)) + "\"" + attributeText(media) + "\"" +
           std::string(openTag.substr(own.end + quotes));
}

std::string mediaOf(std::string_view openTag) {
    const RawValue own = readRawTag(openTag, 0).media;
    return own.present ? std::string(openTag.substr(own.start, own.end - own.start))
                       : std::string();
}

} // namespace

ThunderbirdDraft::ThunderbirdDraft(MimeMessage2& root) : m_root(root) {
    for (int i = 0; i < root.getPartCount(); ++i) {
        MimeMessage2* part = root.getPart(i);
        const std::string id = part == nullptr ? std::string() : contentIdOf(*part);
        if (!id.empty()) {
            m_parts.emplace(id, part);
        }
    }
}

void ThunderbirdDraft::adapt(StringBuffer& html) {
    const std::string_view text = textOf(html);
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    size_t pos = 0;
    for (size_t lt = text.find('<'); lt != kNone; lt = text.find('<', pos)) {
        out.append(text.substr(pos, lt - pos));
        const size_t opaqueEnd = endOfOpaqueStretch(text, lt);
        if (opaqueEnd != kNone) {
            const std::string_view stretch = text.substr(lt, opaqueEnd - lt);
            if (hasNameAt(text, lt + 1, "style")) {
                adaptStyleElement(stretch, out);
            } else {
                out.append(stretch);
            }
            pos = opaqueEnd;
            continue;
        }
        const bool startTag =
            lt + 1 < text.size() && std::isalpha(static_cast<unsigned char>(text[lt + 1])) != 0;
        const RawTag tag = startTag ? readRawTag(text, lt) : RawTag{};
        if (tag.end == kNone) {
            out.push_back('<');
            pos = lt + 1;
            continue;
        }
        adaptTag(text.substr(lt, tag.end + 1 - lt), out);
        pos = tag.end + 1;
    }
    out.append(text.substr(pos));
    dropInlinedParts(out);
    html.clear();
    appendGrowing(html, out.data(), static_cast<int>(out.size()));
}

std::string ThunderbirdDraft::dataUrlFor(std::string_view contentId) {
    const std::string id(contentId);
    const auto part = m_parts.find(id);
    if (part == m_parts.end()) {
        return {};
    }
    m_inlined.insert(id);
    auto cached = m_dataUrls.find(id);
    if (cached == m_dataUrls.end()) {
        const char* type = part->second->getContentType();
        const std::string mediaType =
            type != nullptr && *type != 0 ? type : "application/octet-stream";
        cached = m_dataUrls
                     .emplace(id, "data:" + mediaType + ";base64," +
                                      base64Of(part->second->body.content))
                     .first;
    }
    return cached->second;
}

// The element's rules stay in one element unless it holds @media blocks;
// then each stretch gets an element of its own with the same attributes.
void ThunderbirdDraft::adaptStyleElement(std::string_view element, std::string& out) {
    const size_t openEnd = readRawTag(element, 0).end;
    const size_t close = openEnd == kNone ? kNone : findNoCaseFrom(element, "</style", openEnd);
    if (close == kNone) {
        out.append(element);
        return;
    }
    const std::string_view openTag = element.substr(0, openEnd + 1);
    const std::string_view closeTag = element.substr(close);
    const std::string css = DraftStyles::inlineContentIds(
        element.substr(openEnd + 1, close - openEnd - 1), CssReferences::Context::Sheet,
        [this](std::string_view id) { return dataUrlFor(id); });
    const std::vector<DraftStyles::Piece> pieces = DraftStyles::splitTopLevelMedia(css);
    const std::string outerMedia = mediaOf(openTag);
    for (const DraftStyles::Piece& piece : pieces) {
        std::string media;
        if (piece.media.empty()) {
            out.append(openTag).append(piece.css);
        } else if (DraftStyles::combineMedia(outerMedia, piece.media, media)) {
            out.append(withMedia(openTag, media)).append(piece.css);
        } else {
            out.append(openTag).append("@media " + piece.media + " {" + piece.css + "}");
        }
        out.append(closeTag);
    }
}

void ThunderbirdDraft::adaptTag(std::string_view tag, std::string& out) {
    if (findNoCaseFrom(tag, kCid, 0) == kNone) {
        out.append(tag);
        return;
    }
    StringBuffer adapted(adaptStyleAttribute(tag).c_str());
    if (losesBackground(tag)) {
        moveBackgroundIntoStyle(adapted);
    }
    out.append(textOf(adapted));
}

// The style attribute keeps its quotes; an unquoted value gets double
// quotes when the new one could no longer stand without.
std::string ThunderbirdDraft::adaptStyleAttribute(std::string_view tag) {
    const RawTag raw = readRawTag(tag, 0);
    if (!raw.style.present) {
        return std::string(tag);
    }
    const std::string_view value = tag.substr(raw.style.start, raw.style.end - raw.style.start);
    const std::string rewritten =
        DraftStyles::inlineContentIds(value, CssReferences::Context::Attribute,
                                      [this](std::string_view id) { return dataUrlFor(id); });
    const bool addQuotes =
        raw.style.quote == 0 && rewritten.find_first_of(" \t\r\n\f>") != std::string::npos;
    const std::string quote = addQuotes ? "\"" : "";
    return std::string(tag.substr(0, raw.style.start)) + quote + rewritten + quote +
           std::string(tag.substr(raw.style.end));
}

// In front of the element's own style, which wins over it as the style
// wins over the attribute in a browser.
void ThunderbirdDraft::moveBackgroundIntoStyle(StringBuffer& tag) {
    AttributeSpan span;
    if (!findAttribute(textOf(tag), "background", span)) {
        return;
    }
    const std::string_view value =
        textOf(tag).substr(span.valueStart, span.valueEnd - span.valueStart);
    if (value.size() <= kCid.size() || findNoCaseFrom(value, kCid, 0) != 0) {
        return;
    }
    const std::string data = dataUrlFor(value.substr(kCid.size()));
    if (data.empty()) {
        return;
    }
    removeTagAttribute(tag, "background");
    const std::string declaration = "background-image:url(" + data + ")";
    if (!findAttribute(textOf(tag), "style", span)) {
        insertTagAttribute(tag, "style", declaration.c_str());
        return;
    }
    const std::string_view text = textOf(tag);
    const std::string rebuilt = std::string(text.substr(0, span.valueStart)) + declaration + ";" +
                                std::string(text.substr(span.valueStart));
    tag.setString(rebuilt.c_str());
}

void ThunderbirdDraft::dropInlinedParts(std::string_view html) {
    for (int i = m_root.getPartCount() - 1; i >= 0; --i) {
        const MimeMessage2* part = m_root.getPart(i);
        const std::string id = part == nullptr ? std::string() : contentIdOf(*part);
        if (m_inlined.count(id) == 0 || html.find(id) != kNone || namedByAnotherPart(id)) {
            continue;
        }
        m_parts.erase(id);
        std::unique_ptr<VantrelObject> dropped(m_root.parts.removeAt(i));
    }
}

// A frame document or a sheet of the message may still name the part.
bool ThunderbirdDraft::namedByAnotherPart(const std::string& contentId) const {
    for (int i = 0; i < m_root.getPartCount(); ++i) {
        const MimeMessage2* part = m_root.getPart(i);
        const std::string_view type = part == nullptr ? "" : part->getContentType();
        if (part == nullptr || findNoCaseFrom(type, "text/", 0) != 0) {
            continue;
        }
        const auto* bytes = reinterpret_cast<const char*>(part->body.content.getData());
        const std::string_view body(bytes == nullptr ? "" : bytes, part->body.content.getSize());
        if (body.find(contentId) != kNone) {
            return true;
        }
    }
    return false;
}
