#include "app/CreateEmailSteps.h"

#include "foundation/FileUrl.h"

#include <cstring>

namespace {

bool isUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

bool beginsWithDriveLetter(const char* text) {
    const char letter = text[0];
    const bool isLetter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
    return isLetter && (text[1] == ':' || text[1] == '|');
}

} // namespace

std::string limitToInputBuffer(const char* text) {
    return limitToBuffer(text, kInputBufferSize);
}

std::string limitToBuffer(const char* text, int bufferSize) {
    if (text == nullptr || bufferSize <= 1) {
        return {};
    }
    const auto limit = static_cast<size_t>(bufferSize - 1);
    size_t length = strnlen(text, limit + 1);
    if (length <= limit) {
        return std::string(text, length);
    }
    length = limit;
    // Step back over a character that the cut would split.
    size_t start = length;
    while (start > 0 && isUtf8Continuation(text[start])) {
        --start;
    }
    return std::string(text, start);
}

bool chooseEmailInput(const char* editText, const char* selectedItem, EmailInput& input) {
    input.text.setString(limitToInputBuffer(editText).c_str());
    input.trimmed.setSb(input.text);
    input.trimmed.trim();
    if (input.trimmed.getSize() == 0 && selectedItem != nullptr) {
        input.text.setString(limitToInputBuffer(selectedItem).c_str());
        input.trimmed.setSb(input.text);
        input.trimmed.trim();
    }
    return input.trimmed.getSize() > 0;
}

std::string emptyInputStatus(const EmailInput& input) {
    return std::string("[") + input.trimmed.getString() + "]";
}

bool takesUrlPath(const char* input) {
    return input != nullptr && beginsWithNoCase(input, "http");
}

std::string listEntryForUrl(const char* url) {
    if (url == nullptr) {
        return {};
    }
    if (!beginsWithNoCase(url, "file:///")) {
        return url;
    }
    // "file:///home/u/a.htm" names "/home/u/a.htm" here; only a drive
    // letter path ("file:///C:/a.htm") loses the slash in front of it.
    const char* path = url + 8;
    if (!beginsWithDriveLetter(path)) {
        path = url + 7;
    }
    return percentDecode(path);
}

std::string percentDecode(const char* text) {
    StringBuffer decoded(text);
    decodePercentEscapes(decoded);
    return decoded.getString();
}

std::string withDefaultExtension(const std::string& path, const char* extension) {
    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.rfind('.');
    if (nameStart >= path.size()) {
        return path; // a directory, not a file name
    }
    if (dot != std::string::npos && dot > nameStart && dot + 1 < path.size()) {
        return path;
    }
    if (dot != std::string::npos && dot > nameStart && dot + 1 == path.size()) {
        return path + extension; // "page." -> "page.eml"
    }
    return path + "." + extension;
}

std::string failedStatus(const std::string& reason) {
    std::string status = kStatusFailed;
    if (reason.empty()) {
        return status;
    }
    std::string sentence = reason;
    if (sentence[0] >= 'a' && sentence[0] <= 'z') {
        sentence[0] = static_cast<char>(sentence[0] - 'a' + 'A');
    }
    const char last = sentence.back();
    if (last != '.' && last != '!' && last != '?') {
        sentence += '.';
    }
    return status + " " + sentence;
}

std::string saveFileNameFor(const std::string& title) {
    constexpr int kMaxNameBytes = 100;
    std::string name;
    bool blank = false;
    for (const char c : title) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '/' || c == ' ' || c == '\\') {
            blank = true;
            continue;
        }
        if (blank && !name.empty()) {
            name += ' ';
        }
        blank = false;
        name += c;
    }
    // A leading dot would hide the file.
    const size_t visible = name.find_first_not_of('.');
    name = visible == std::string::npos ? std::string() : name.substr(visible);
    name = limitToBuffer(name.c_str(), kMaxNameBytes + 1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) {
        name.pop_back();
    }
    return (name.empty() ? std::string("message") : name) + ".eml";
}
