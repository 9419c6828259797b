#include "PassTestSupport.h"

#include "foundation/StringPair.h"

#include <regex>

namespace {

constexpr const char* kPrefix = "VANTREL-CID-";
constexpr size_t kPrefixLength = 12;
constexpr size_t kUuidLength = 36;

} // namespace

void configure(Mhtml& converter, Mode mode, const char* base, const char* root) {
    converter.resetContexts();
    converter.currentBaseUrl().setString(base);
    converter.currentRootUrl().setString(root);
    converter.m_keepScripts = !(mode == Mode::MailSafe || mode == Mode::LocalMailSafe);
    converter.m_noScripts = mode == Mode::NoScripts;
    converter.m_local = mode == Mode::Local || mode == Mode::LocalMailSafe;
}

std::string numberContentIds(Mhtml& converter, const std::string& text) {
    const ExtPtrArray& resources = converter.currentResources();
    std::string out;
    size_t cursor = 0;
    for (size_t hit = text.find(kPrefix); hit != std::string::npos;
         hit = text.find(kPrefix, cursor)) {
        out.append(text, cursor, hit - cursor);
        const std::string id = text.substr(hit, kPrefixLength + kUuidLength);
        std::string label = "CID?";
        for (int i = 0; i < resources.getSize(); ++i) {
            if (id == static_cast<StringPair*>(resources.elementAt(i))->getValue()) {
                label = "CID" + std::to_string(i);
                break;
            }
        }
        out += label;
        cursor = hit + id.size();
    }
    out.append(text, cursor, std::string::npos);
    return out;
}

std::vector<std::string> resourceUrls(Mhtml& converter) {
    std::vector<std::string> urls;
    const ExtPtrArray& resources = converter.currentResources();
    for (int i = 0; i < resources.getSize(); ++i) {
        urls.emplace_back(static_cast<StringPair*>(resources.elementAt(i))->getName());
    }
    return urls;
}

bool isContentId(const std::string& text) {
    static const std::regex pattern(
        "VANTREL-CID-[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
    return std::regex_match(text, pattern);
}
