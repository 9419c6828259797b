#include "FileUrl.h"

#include "StringBuffer.h"

#include <cstring>

namespace {


bool beginsWithDriveLetter(const char* text) {
    const char letter = text[0];
    const bool isLetter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
    return isLetter && (text[1] == ':' || text[1] == '|');
}

} // namespace

bool stripFileUrlPrefix(StringBuffer& text, const char* prefix) {
    if (!beginsWithNoCase(text.getString(), prefix)) {
        return false;
    }
    size_t cut = std::strlen(prefix);
    if (cut > 0 && prefix[cut - 1] == '/' && !beginsWithDriveLetter(text.getString() + cut)) {
        --cut;
    }
    text.setString(text.getString() + cut);
    return true;
}

void stripFileUrlPrefixes(StringBuffer& text) {
    stripFileUrlPrefix(text, "file:///");
    stripFileUrlPrefix(text, "file://");
    stripFileUrlPrefix(text, "file:/");
    stripFileUrlPrefix(text, "file:");
}
