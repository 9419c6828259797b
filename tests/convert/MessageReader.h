#pragma once

#include <string>
#include <vector>

// Reads back the messages the converter writes, for the tests: the root's
// header, and each part's header lines and body, decoded.
struct MessagePart {
    std::string header; // lines joined by CR LF, no final line break
    std::string body;   // as written
    // The value of the first field of that name (any case), folds kept.
    std::string field(const std::string& name) const;
    // The body with its transfer encoding undone.
    std::string decoded() const;
};

struct ReadMessage {
    bool valid = false;
    std::string header;
    std::string boundary;
    std::vector<MessagePart> parts;
    // Field names of the root's header, in order.
    std::vector<std::string> fieldNames() const;
    std::string field(const std::string& name) const;
    // The part whose Content-ID is "<" + contentId + ">"; null when none.
    const MessagePart* partWithContentId(const std::string& contentId) const;
};

ReadMessage readMessage(const std::string& text);

std::string decodeQuotedPrintable(const std::string& text);
std::string decodeBase64Text(const std::string& text);

// Every content-id that the text names as "cid:" + content-id.
std::vector<std::string> referencedContentIds(const std::string& html);
