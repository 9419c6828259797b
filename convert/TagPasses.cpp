// The tag passes, run by processDocument after the clean-up: each finds the
// tags that carry one kind of reference and hands the reference to the
// embedding step (ReferenceEmbedding.cpp). The link tags and the style
// sheets they bring in follow in StyleSheets.cpp; the complete mode's
// passes in CompletePasses.cpp; the resource loop then makes the parts.

#include "Mhtml.h"

#include "convert/ConvertText.h"
#include "convert/MarkupScan.h"
#include "convert/SrcsetChoice.h"
#include "mime/ParseEngine.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr const char* kImageTagLog = "imageTags.log";

bool isRolloverImage(const char* quoted, int length) {
    if (length <= 5) {
        return false;
    }
    const char* lastFive = quoted + length - 5;
    return beginsWithNoCase(lastFive, ".gif") || beginsWithNoCase(lastFive, ".jpg") ||
           beginsWithNoCase(lastFive, ".png");
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Created empty at the start of an image pass and closed at its end.
std::unique_ptr<std::FILE, FileCloser> openImageTagLog(bool wanted) {
    return std::unique_ptr<std::FILE, FileCloser>(wanted ? std::fopen(kImageTagLog, "w") : nullptr);
}

} // namespace

void Mhtml::setAttribute(StringBuffer& tag, const char* name, const char* value) {
    replaceAttributeValue(tag, name, value);
}

DiagnosticLog* Mhtml::cleanTagLog() const {
    return m_verboseTags ? m_log : nullptr;
}

void Mhtml::runPass(StringBuffer& html, const char* prefix, const char* attribute,
                    TagCapture capture, void (Mhtml::*rewrite)(FoundTag&, StringBuffer&),
                    const char* onlyWith) {
    const TagLoopSettings settings{prefix, attribute, capture, cleanTagLog(), {onlyWith, nullptr}};
    runTagLoop(html, settings,
               [&](FoundTag& tag, StringBuffer& out) { (this->*rewrite)(tag, out); });
}

// An image or frame without an address is dropped from mail-safe output.
bool Mhtml::keepEmptyTag(const FoundTag& tag, StringBuffer& out) const {
    if (tag.value.getSize() > 0) {
        return false;
    }
    if (m_keepScripts) {
        out.appendSb(tag.found);
    }
    return true;
}

// --- script and input sources -------------------------------------------

void Mhtml::rewriteSources(StringBuffer& html, const char* prefix) {
    const bool isScript = beginsWithNoCase(prefix, "<script");
    runPass(html, prefix, "SRC", TagCapture::Quoted,
            isScript ? &Mhtml::rewriteScriptTag : &Mhtml::rewriteInputTag);
}

void Mhtml::rewriteScriptTag(FoundTag& tag, StringBuffer& out) {
    if (tag.value.getSize() == 0) {
        out.appendSb(tag.found);
        return;
    }
    embedAttribute(tag, "SRC", ReferenceKind::Script, out);
}

void Mhtml::rewriteInputTag(FoundTag& tag, StringBuffer& out) {
    if (tag.value.getSize() == 0) {
        out.appendSb(tag.found);
        return;
    }
    embedAttribute(tag, "SRC", ReferenceKind::InputImage, out);
}

// --- frames ---------------------------------------------------------------

void Mhtml::rewriteFrames(StringBuffer& html, const char* prefix) {
    runPass(html, prefix, "SRC", TagCapture::Quoted, &Mhtml::rewriteFrameTag);
}

void Mhtml::rewriteFrameTag(FoundTag& tag, StringBuffer& out) {
    if (!keepEmptyTag(tag, out)) {
        embedAttribute(tag, "SRC", ReferenceKind::Frame, out);
    }
}

// --- images -----------------------------------------------------------------

void Mhtml::rewriteImages(StringBuffer& html) {
    for (const char* prefix : {"<img", "<v:"}) {
        const auto imageTagLog = openImageTagLog(m_logImageTags);
        runPass(html, prefix, "SRC", TagCapture::QuotedStrict, &Mhtml::rewriteImageTag);
    }
}

void Mhtml::rewriteImageTag(FoundTag& tag, StringBuffer& out) {
    if (!keepEmptyTag(tag, out)) {
        embedAttribute(tag, "SRC", ReferenceKind::Resource, out);
    }
}

// --- links: areas, anchors, embeds --------------------------------------

void Mhtml::rewriteLinks(StringBuffer& html) {
    for (const char* prefix : {"<area", "<a ", "<a\r", "<a\n", "<a\t"}) {
        runPass(html, prefix, "HREF", TagCapture::QuotedAtMost900, &Mhtml::rewriteHrefTag);
    }
    runPass(html, "<embed", "SRC", TagCapture::QuotedAtMost900, &Mhtml::rewriteSrcLinkTag);
}

void Mhtml::rewriteHrefTag(FoundTag& tag, StringBuffer& out) {
    rewriteLinkValue(tag, out, "HREF");
}

void Mhtml::rewriteSrcLinkTag(FoundTag& tag, StringBuffer& out) {
    rewriteLinkValue(tag, out, "SRC");
}

void Mhtml::rewriteLinkValue(FoundTag& tag, StringBuffer& out, const char* attribute) {
    if (tag.value.getSize() == 0) {
        out.appendSb(tag.found);
        return;
    }
    embedAttribute(tag, attribute, ReferenceKind::Link, out);
}

// --- images named in mouse-over scripts -----------------------------------

void Mhtml::rewriteRollovers(StringBuffer& html) {
    if (findNoCase(html.getString(), "<a") == nullptr) {
        return;
    }
    ParseEngine scanner;
    scanner.load(html.getString());
    const char* text = scanner.text.getString();
    StringBuffer out(scanner.text.getSize() + 1);
    for (;;) {
        const int before = scanner.pos;
        if (!scanner.seekTo("<a")) {
            break;
        }
        appendGrowing(out, text + before, scanner.pos + 2 - before);
        scanner.pos += 2;
        StringBuffer rest;
        scanner.captureUntilCharQuoted('>', rest);
        if (rest.containsNoCase("onmouseover")) {
            StringBuffer rebuilt(rest.getSize() + 64);
            rebuildRollover(rest, rebuilt);
            appendGrowing(out, rebuilt);
        } else {
            appendGrowing(out, rest);
        }
    }
    appendGrowing(out, text + scanner.pos, scanner.text.getSize() - scanner.pos);
    html.setSb(out);
}

// The rest of an anchor tag, rebuilt by its single-quoted strings: a string
// that names a GIF, JPEG or PNG image becomes its "cid:" reference.
void Mhtml::rebuildRollover(const StringBuffer& rest, StringBuffer& out) {
    const char* text = rest.getString();
    const char* open = std::strchr(text, '\'');
    if (open == nullptr) {
        out.appendSb(rest);
        return;
    }
    out.appendBytes(text, static_cast<int>(open - text) + 1);
    const char* cursor = open + 1;
    for (;;) {
        const char* close = std::strchr(cursor, '\'');
        if (close == nullptr) {
            break;
        }
        const int length = static_cast<int>(close - cursor) + 1;
        EmbeddedReference embedded;
        if (isRolloverImage(cursor, length) &&
            embedReference(std::string_view(cursor, static_cast<size_t>(length) - 1),
                           ReferenceKind::Resource, ReferenceSyntax::Attribute, embedded)) {
            out.appendSb(embedded.text);
            out.appendChar('\'');
        } else {
            out.appendBytes(cursor, length);
        }
        cursor = close + 1;
        const char* nextOpen = std::strchr(cursor, '\'');
        if (nextOpen == nullptr) {
            break;
        }
        out.appendBytes(cursor, static_cast<int>(nextOpen - cursor) + 1);
        cursor = nextOpen + 1;
    }
    out.append(cursor);
}

// --- srcset addresses -------------------------------------------------------

// The default mode embeds no srcset candidate, but a reader that prefers the
// srcset to the src must still find the pictures: each candidate's address
// is made absolute, its descriptors kept.
void Mhtml::makeSrcsetsAbsolute(StringBuffer& html) {
    // A local page's references stay relative, as its image sources do.
    if (m_local || !html.containsNoCase("srcset")) {
        return;
    }
    for (const char* prefix : {"<img", "<source"}) {
        runPass(html, prefix, "SRCSET", TagCapture::QuotedStrict, &Mhtml::rewriteSrcsetAddresses,
                "srcset");
    }
}

void Mhtml::rewriteSrcsetAddresses(FoundTag& tag, StringBuffer& out) {
    if (tag.value.getSize() == 0) {
        out.appendSb(tag.found);
        return;
    }
    const std::string_view srcset(tag.value.getString(), static_cast<size_t>(tag.value.getSize()));
    std::string rewritten;
    for (const SrcsetChoice::Span& candidate : SrcsetChoice::split(srcset)) {
        if (!rewritten.empty()) {
            rewritten += ", ";
        }
        const std::string_view address = srcset.substr(candidate.urlStart, candidate.urlLength);
        EmbeddedReference absolute;
        if (embedReference(address, ReferenceKind::Link, ReferenceSyntax::Attribute, absolute)) {
            rewritten.append(absolute.text.getString(),
                             static_cast<size_t>(absolute.text.getSize()));
        } else {
            rewritten += address;
        }
        rewritten += srcset.substr(candidate.urlStart + candidate.urlLength, candidate.restLength);
    }
    setAttribute(tag.cleaned, "SRCSET", rewritten.c_str());
    out.appendSb(tag.cleaned);
}

// --- background attributes ------------------------------------------------

void Mhtml::rewriteBackgrounds(StringBuffer& html) {
    for (const char* prefix : {"<body", "<table", "<td"}) {
        runPass(html, prefix, "BACKGROUND", TagCapture::Quoted, &Mhtml::rewriteBackgroundTag);
    }
}

void Mhtml::rewriteBackgroundTag(FoundTag& tag, StringBuffer& out) {
    if (tag.value.getSize() == 0) {
        out.appendSb(tag.found);
        return;
    }
    embedAttribute(tag, "BACKGROUND", ReferenceKind::Background, out);
}
