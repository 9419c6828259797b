// The scans that the clean-up steps and tag passes share, on arbitrary
// HTML: the common tag loop under each capture rule, block extraction and
// restoration, replacement of every occurrence, and the attribute rewrite.

#include "FuzzInput.h"
#include "convert/MarkupScan.h"
#include "convert/TagLoop.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "mime/HtmlTags.h"

#include <cstring>
#include <string>

namespace {

const char* const kPrefixes[] = {"<img", "<a ",     "<frame ", "<iframe ", "<link",  "<body",
                                 "<td",  "<script", "<input",  "<v:",      "<embed", "<area"};
const char* const kAttributes[] = {"SRC", "HREF", "BACKGROUND", "rel", "lowsrc", nullptr};
const char* const kBlocks[][2] = {{"<style", "</style>"},
                                  {"<script", "</script>"},
                                  {"<!--", "-->"},
                                  {"<iframe", "</iframe>"},
                                  {"<noscript", "</noscript>"}};
const char* const kFinds[] = {"<vantrel_style>", "<", "\"", "ab", "\r\n"};
const char* const kReplacements[] = {"", "&lt;", "''", "abab", "\n"};
constexpr char kPlaceholder[] = "\x01placeholder\x01";

std::string textOf(const StringBuffer& text) {
    return std::string(text.getString(), static_cast<size_t>(text.getSize()));
}

std::string replacedEverywhere(const std::string& text, const std::string& find,
                               const std::string& replacement) {
    std::string out;
    size_t from = 0;
    for (size_t hit = text.find(find); hit != std::string::npos; hit = text.find(find, from)) {
        out.append(text, from, hit - from);
        out.append(replacement);
        from = hit + find.size();
    }
    out.append(text, from, std::string::npos);
    return out;
}

void checkTagLoop(const std::string& html, const char* prefix, const char* attribute,
                  TagCapture capture) {
    // Handing every tag back as found gives the text back, with one ">"
    // more when it ends inside a tag.
    StringBuffer unchanged(html.c_str());
    const std::string before = textOf(unchanged);
    TagLoopSettings settings;
    settings.prefix = prefix;
    settings.attribute = attribute;
    settings.capture = capture;
    int tags = 0;
    runTagLoop(unchanged, settings, [&](FoundTag& tag, StringBuffer& out) {
        ++tags;
        FUZZ_CHECK(tag.found.getSize() > 0 && tag.found.lastChar() == '>');
        FUZZ_CHECK(tag.cleaned.getSize() == 0 || tag.cleaned.charAt(0) == '<');
        FUZZ_CHECK(std::strchr(tag.value.getString(), '\\') == nullptr);
        out.appendSb(tag.found);
    });
    const std::string after = textOf(unchanged);
    FUZZ_CHECK(after == before || after == before + ">");

    // Rewriting the attribute of every cleaned tag: what is read back is
    // what was written.
    StringBuffer rewritten(html.c_str());
    runTagLoop(rewritten, settings, [&](FoundTag& tag, StringBuffer& out) {
        if (attribute != nullptr) {
            StringBuffer probe;
            const StringBuffer original(tag.cleaned.getString());
            replaceAttributeValue(tag.cleaned, attribute, "cid:part1.x@y");
            if (!tag.cleaned.equalsSb(original)) {
                getAttributeValue(tag.cleaned.getString(), attribute, probe);
                FUZZ_CHECK(probe.equals("cid:part1.x@y"));
            }
        }
        out.appendSb(tag.cleaned);
    });
}

void checkBlocks(const std::string& html, const char* start, const char* end) {
    StringBuffer same(html.c_str());
    const std::string before = textOf(same);
    scanBlocks(same, start, end, [](const char* block, int length, StringBuffer& out) {
        FUZZ_CHECK(length > 0 && block[0] == '<');
        out.appendBytes(block, length);
    });
    FUZZ_CHECK(textOf(same) == before);

    // Taking the blocks out behind placeholders and putting them back gives
    // the text back when it holds no placeholder of its own.
    if (before.find('\x01') != std::string::npos) {
        return;
    }
    StringBuffer extracted(html.c_str());
    ExtPtrArray blocks;
    scanBlocks(extracted, start, end, [&](const char* block, int length, StringBuffer& out) {
        auto* kept = new StringBuffer();
        kept->appendBytes(block, length);
        blocks.appendObject(kept);
        out.append(kPlaceholder);
    });
    restorePlaceholders(extracted, kPlaceholder, blocks);
    blocks.removeAllObjects();
    FUZZ_CHECK(textOf(extracted) == before);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t choice = input.byte();
    const std::string html = input.rest();
    const std::string text(html.c_str());

    const char* prefix = kPrefixes[choice % (sizeof kPrefixes / sizeof kPrefixes[0])];
    const char* attribute =
        kAttributes[(choice >> 4) % (sizeof kAttributes / sizeof kAttributes[0])];
    for (const TagCapture capture :
         {TagCapture::Quoted, TagCapture::QuotedStrict, TagCapture::QuotedAtMost900}) {
        checkTagLoop(html, prefix, attribute, capture);
    }

    const auto& block = kBlocks[choice % (sizeof kBlocks / sizeof kBlocks[0])];
    checkBlocks(html, block[0], block[1]);

    const size_t pair = (choice >> 3) % (sizeof kFinds / sizeof kFinds[0]);
    StringBuffer replaced(html.c_str());
    const int count = replaceEvery(replaced, kFinds[pair], kReplacements[pair]);
    FUZZ_CHECK(textOf(replaced) == replacedEverywhere(text, kFinds[pair], kReplacements[pair]));
    FUZZ_CHECK(count >= 0);

    FUZZ_CHECK(beginsWithNoCase(text.c_str(), "") && !beginsWithNoCase(nullptr, "<"));
    return 0;
}
