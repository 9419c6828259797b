// The complete mode's own passes, run by processDocument around the tag
// passes when m_completePage is set: lazy images get their real address
// before the image pass; after the tag passes, one candidate per srcset,
// video posters, the url() values of style attributes, and a meta refresh
// is removed. The CSS of style blocks and sheets is in CssUrls.cpp.

#include "Mhtml.h"

#include "convert/ConvertText.h"
#include "convert/CssReferences.h"
#include "convert/MarkupScan.h"
#include "convert/SrcsetChoice.h"
#include "convert/TagAttributeEdits.h"
#include "mime/HtmlTags.h"

#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr const char* kLazySources[] = {"data-src", "data-original", "data-lazy-src"};
constexpr size_t kNone = std::string_view::npos;

std::string_view viewOf(const StringBuffer& text) {
    return {text.getString(), static_cast<size_t>(text.getSize())};
}

bool hasQuote(const StringBuffer& value) {
    return std::strpbrk(value.getString(), "\"'") != nullptr;
}

// data-src and its kin become SRC, data-srcset becomes SRCSET, and an image
// with a srcset but no SRC (or a lazy image with a data: placeholder) gets
// the kept candidate as SRC. True when the cleaned tag changed.
bool promoteLazyAttributes(StringBuffer& tag, bool isImage) {
    bool changed = false;
    if (isImage) {
        for (const char* name : kLazySources) {
            StringBuffer value;
            getAttributeValue(tag.getString(), name, value);
            if (value.getSize() == 0 || hasQuote(value)) {
                continue;
            }
            AttributeSpan source;
            if (findAttribute(viewOf(tag), "src", source)) {
                replaceAttributeValue(tag, "src", value.getString());
                removeTagAttribute(tag, name);
            } else {
                removeBareTagAttributes(tag, "src");
                renameTagAttribute(tag, name, "src");
            }
            changed = true;
            break;
        }
    }
    StringBuffer lazySet;
    getAttributeValue(tag.getString(), "data-srcset", lazySet);
    if (lazySet.getSize() > 0 && !hasQuote(lazySet)) {
        AttributeSpan set;
        if (findAttribute(viewOf(tag), "srcset", set)) {
            replaceAttributeValue(tag, "srcset", lazySet.getString());
            removeTagAttribute(tag, "data-srcset");
        } else {
            removeBareTagAttributes(tag, "srcset");
            renameTagAttribute(tag, "data-srcset", "srcset");
        }
        changed = true;
    }
    if (!isImage) {
        return changed;
    }
    // A lazy image's placeholder (often a data: picture, which the image
    // pass would take for a relative address) gives way to the srcset's
    // candidate, as the loader's script would have it.
    StringBuffer source;
    getAttributeValue(tag.getString(), "src", source);
    if (source.getSize() > 0 && !(changed && beginsWithNoCase(source.getString(), "data:"))) {
        return changed;
    }
    StringBuffer srcset;
    getAttributeValue(tag.getString(), "srcset", srcset);
    const std::string chosen = SrcsetChoice::chosenUrl(viewOf(srcset));
    if (chosen.empty() || chosen.find_first_of("\"'") != std::string::npos) {
        return changed;
    }
    AttributeSpan empty;
    if (findAttribute(viewOf(tag), "src", empty)) {
        replaceAttributeValue(tag, "src", chosen.c_str());
    } else {
        removeBareTagAttributes(tag, "src");
        insertTagAttribute(tag, "src", chosen.c_str());
    }
    return true;
}

} // namespace

// --- images -------------------------------------------------------------------------

void Mhtml::promoteLazyImages(StringBuffer& html) {
    if (!html.containsNoCase("data-") && !html.containsNoCase("srcset")) {
        return;
    }
    const TagLoopSettings settings{
        "<img", nullptr, TagCapture::QuotedStrict, nullptr, {"data-", "srcset"}};
    runTagLoop(html, settings, [](FoundTag& tag, StringBuffer& out) {
        StringBuffer cleaned;
        cleaned.setSb(tag.cleaned);
        out.appendSb(promoteLazyAttributes(cleaned, true) ? cleaned : tag.found);
    });
}

void Mhtml::rewriteResponsiveImages(StringBuffer& html) {
    if (!html.containsNoCase("srcset")) {
        return;
    }
    runPass(html, "<img", "SRCSET", TagCapture::QuotedStrict, &Mhtml::rewriteSrcsetTag, "srcset");
    if (!html.containsNoCase("<picture")) {
        return;
    }
    scanBlocks(
        html, "<picture", "</picture>", [this](const char* block, int length, StringBuffer& out) {
            StringBuffer picture(length + 1);
            picture.appendBytes(block, length);
            const TagLoopSettings lazy{
                "<source", nullptr, TagCapture::Quoted, nullptr, {"data-", "srcset"}};
            runTagLoop(picture, lazy, [](FoundTag& tag, StringBuffer& sourceOut) {
                StringBuffer cleaned;
                cleaned.setSb(tag.cleaned);
                sourceOut.appendSb(promoteLazyAttributes(cleaned, false) ? cleaned : tag.found);
            });
            runPass(picture, "<source", "SRCSET", TagCapture::Quoted, &Mhtml::rewriteSrcsetTag,
                    "srcset");
            appendGrowing(out, picture);
        });
}

// The srcset keeps one candidate, embedded; sizes no longer has anything to
// choose from.
void Mhtml::rewriteSrcsetTag(FoundTag& tag, StringBuffer& out) {
    const std::string url = SrcsetChoice::chosenUrl(viewOf(tag.value));
    if (url.empty()) {
        out.appendSb(tag.found);
        return;
    }
    EmbeddedReference embedded;
    if (!embedReference(url, ReferenceKind::Resource, ReferenceSyntax::Attribute, embedded)) {
        embedded.text.setString(url.c_str());
    }
    StringBuffer cleaned;
    cleaned.setSb(tag.cleaned);
    setAttribute(cleaned, "SRCSET", embedded.text.getString());
    removeTagAttribute(cleaned, "sizes");
    out.appendSb(cleaned);
}

void Mhtml::rewritePosters(StringBuffer& html) {
    const TagLoopSettings settings{
        "<video", "POSTER", TagCapture::Quoted, cleanTagLog(), {"poster", nullptr}};
    runTagLoop(html, settings, [this](FoundTag& tag, StringBuffer& out) {
        if (tag.value.getSize() == 0) {
            out.appendSb(tag.found);
            return;
        }
        embedAttribute(tag, "POSTER", ReferenceKind::Resource, out);
    });
}

// A refresh would take the reader away from the message to the page.
void Mhtml::removeMetaRefresh(StringBuffer& html) {
    const TagLoopSettings settings{
        "<meta", "HTTP-EQUIV", TagCapture::Quoted, cleanTagLog(), {"refresh", nullptr}};
    runTagLoop(html, settings, [](FoundTag& tag, StringBuffer& out) {
        if (!tag.value.equalsNoCase("refresh")) {
            out.appendSb(tag.found);
        }
    });
}

void Mhtml::completeDocumentTags(StringBuffer& html) {
    rewriteResponsiveImages(html);
    rewritePosters(html);
    rewriteStyleAttributes(html);
    removeMetaRefresh(html);
}
