#include "FileUrl.h"

#include "StringBuffer.h"

#include <cstring>

namespace {

bool beginsWithNoCase(const char* text, const char* prefix) {
    for (; *prefix != 0; ++text, ++prefix) {
        char a = *text;
        char b = *prefix;
        if (a >= 'A' && a <= 'Z') {
            a = static_cast<char>(a + ('a' - 'A'));
        }
        if (b >= 'A' && b <= 'Z') {
            b = static_cast<char>(b + ('a' - 'A'));
        }
        if (a != b) {
            return false;
        }
    }
    return true;
}

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
