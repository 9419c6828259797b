#include "MessageReader.h"

#include <cctype>
#include <strings.h>

namespace {

std::string fieldIn(const std::string& header, const std::string& name) {
    size_t lineStart = 0;
    while (lineStart < header.size()) {
        size_t lineEnd = header.find("\r\n", lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = header.size();
        }
        // Folded lines (starting with a blank or tab) belong to the field before.
        while (lineEnd + 2 < header.size() &&
               (header[lineEnd + 2] == '\t' || header[lineEnd + 2] == ' ')) {
            const size_t next = header.find("\r\n", lineEnd + 2);
            lineEnd = next == std::string::npos ? header.size() : next;
        }
        const std::string line = header.substr(lineStart, lineEnd - lineStart);
        const size_t colon = line.find(':');
        if (colon != std::string::npos && colon == name.size() &&
            strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
            size_t valueStart = colon + 1;
            while (valueStart < line.size() && line[valueStart] == ' ') {
                ++valueStart;
            }
            return line.substr(valueStart);
        }
        lineStart = lineEnd + 2;
    }
    return std::string();
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

std::string MessagePart::field(const std::string& name) const {
    return fieldIn(header, name);
}

std::string MessagePart::decoded() const {
    const std::string encoding = field("content-transfer-encoding");
    if (strcasecmp(encoding.c_str(), "base64") == 0) {
        return decodeBase64Text(body);
    }
    if (strcasecmp(encoding.c_str(), "quoted-printable") == 0) {
        return decodeQuotedPrintable(body);
    }
    return body;
}

std::vector<std::string> ReadMessage::fieldNames() const {
    std::vector<std::string> names;
    size_t lineStart = 0;
    while (lineStart < header.size()) {
        size_t lineEnd = header.find("\r\n", lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = header.size();
        }
        if (header[lineStart] != '\t' && header[lineStart] != ' ') {
            const size_t colon = header.find(':', lineStart);
            if (colon != std::string::npos && colon < lineEnd) {
                names.push_back(header.substr(lineStart, colon - lineStart));
            }
        }
        lineStart = lineEnd + 2;
    }
    return names;
}

std::string ReadMessage::field(const std::string& name) const {
    return fieldIn(header, name);
}

const MessagePart* ReadMessage::partWithContentId(const std::string& contentId) const {
    for (const MessagePart& part : parts) {
        if (part.field("Content-ID") == "<" + contentId + ">") {
            return &part;
        }
    }
    return nullptr;
}

ReadMessage readMessage(const std::string& text) {
    ReadMessage message;
    const size_t headerEnd = text.find("\r\n\r\n");
    if (headerEnd == std::string::npos) {
        return message;
    }
    message.header = text.substr(0, headerEnd);
    const std::string type = message.field("content-type");
    const size_t boundaryAt = type.find("boundary=\"");
    if (boundaryAt == std::string::npos) {
        return message;
    }
    const size_t boundaryStart = boundaryAt + 10;
    message.boundary = type.substr(boundaryStart, type.find('"', boundaryStart) - boundaryStart);
    const std::string delimiter = "--" + message.boundary;
    size_t at = text.find(delimiter + "\r\n", headerEnd);
    while (at != std::string::npos) {
        const size_t partStart = at + delimiter.size() + 2;
        const size_t partHeaderEnd = text.find("\r\n\r\n", partStart);
        const size_t next = text.find("\r\n" + delimiter, partStart);
        if (partHeaderEnd == std::string::npos || next == std::string::npos ||
            partHeaderEnd > next) {
            return message;
        }
        MessagePart part;
        part.header = text.substr(partStart, partHeaderEnd - partStart);
        part.body = text.substr(partHeaderEnd + 4, next - partHeaderEnd - 4);
        message.parts.push_back(part);
        const size_t delimiterAt = next + 2;
        if (text.compare(delimiterAt, delimiter.size() + 4, delimiter + "--\r\n") == 0) {
            message.valid = delimiterAt + delimiter.size() + 4 == text.size();
            return message;
        }
        at = delimiterAt;
    }
    return message;
}

std::string decodeQuotedPrintable(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
            continue;
        }
        if (text.compare(i + 1, 2, "\r\n") == 0) {
            i += 2;
            continue;
        }
        const int high = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) {
            out += '=';
            continue;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string decodeBase64Text(const std::string& text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (const char c : text) {
        if (c == '=') {
            break;
        }
        const size_t value = alphabet.find(c);
        if (value == std::string::npos) {
            continue;
        }
        bits = (bits << 6) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

std::vector<std::string> referencedContentIds(const std::string& html) {
    std::vector<std::string> ids;
    for (size_t at = html.find("cid:"); at != std::string::npos; at = html.find("cid:", at + 4)) {
        size_t end = at + 4;
        while (end < html.size() &&
               (std::isalnum(static_cast<unsigned char>(html[end])) || html[end] == '-')) {
            ++end;
        }
        ids.push_back(html.substr(at + 4, end - at - 4));
    }
    return ids;
}
