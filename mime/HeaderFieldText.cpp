#include "HeaderFieldText.h"

#include "ContentCoding.h"

#include "charset/CharsetConvert.h"
#include "foundation/DataBuffer.h"

#include <cstdint>
#include <strings.h>
#include <vector>

namespace {

constexpr int kMaxLine = ContentCoding::kMaxHeaderLine;

bool is7bit(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

bool equalsNoCase(std::string_view text, std::string_view name) {
    return text.size() == name.size() && strncasecmp(text.data(), name.data(), text.size()) == 0;
}

bool isUtf8Name(std::string_view charset) {
    return equalsNoCase(charset, "utf-8") || equalsNoCase(charset, "utf8");
}

// Length of the well-formed UTF-8 sequence at i, or 0.
size_t utf8SequenceLength(std::string_view bytes, size_t i) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || i + length > bytes.size()) {
        return 0;
    }
    uint32_t code = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        const auto trail = static_cast<unsigned char>(bytes[i + k]);
        if ((trail & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (trail & 0x3F);
    }
    const uint32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return length;
}

std::vector<std::string> splitAtBlanks(std::string_view text) {
    std::vector<std::string> words;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        if (end > start) {
            words.emplace_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return words;
}

// Joins tokens with single blanks, turning a blank into a fold (CR LF
// blank) wherever the line would otherwise grow beyond 78 characters.
class FoldedLine {
public:
    explicit FoldedLine(std::string_view fieldName) : m_column(fieldName.size() + 2) {}

    void add(const std::string& token) {
        if (m_text.empty()) {
            m_text = token;
            m_column += token.size();
        } else if (m_column + 1 + token.size() > kMaxLine) {
            m_text += "\r\n ";
            m_text += token;
            m_column = 1 + token.size();
        } else {
            m_text += ' ';
            m_text += token;
            m_column += 1 + token.size();
        }
    }
    void addAll(const std::vector<std::string>& tokens) {
        for (const std::string& token : tokens) {
            add(token);
        }
    }
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
    size_t m_column;
};

// Encoded words as long as the first may be beside the field name.
std::vector<std::string> encodedWords(std::string_view fieldName, std::string_view bytes,
                                      const std::string& charset, bool bWords) {
    const int room = kMaxLine - static_cast<int>(fieldName.size()) - 2;
    const int maxLength =
        room < ContentCoding::kMaxEncodedWord ? room : ContentCoding::kMaxEncodedWord;
    return ContentCoding().encodeWords(bytes.data(), static_cast<int>(bytes.size()),
                                       charset.c_str(), bWords, maxLength);
}

std::string asString(const DataBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.getData()), buffer.getSize());
}

bool convertBetween(const char* from, const char* to, std::string_view text, std::string& out) {
    CharsetConvert converter;
    if (!converter.setFromCharset(from, nullptr) || !converter.setToCharset(to, nullptr)) {
        return false;
    }
    DataBuffer converted;
    if (!converter.convert(text.data(), static_cast<int>(text.size()), converted, nullptr)) {
        return false;
    }
    out = asString(converted);
    return true;
}

// The UTF-8 text in the charset, when every character of it is there: the
// text must come back unchanged. UTF-16 and UTF-7 words would not read as
// text a mail reader knows, so they never count.
bool textInCharset(std::string_view utf8, const std::string& charset, std::string& out) {
    if (charset.empty()) {
        return false;
    }
    if (isUtf8Name(charset)) {
        out = std::string(utf8);
        return true;
    }
    CharsetConvert probe;
    if (!probe.setToCharset(charset.c_str(), nullptr)) {
        return false;
    }
    const int codePage = probe.getToCodePage();
    if (codePage == 1200 || codePage == 1201 || codePage == 12000 || codePage == 12001 ||
        codePage == 65000) {
        return false;
    }
    std::string encoded;
    std::string back;
    if (!convertBetween("utf-8", charset.c_str(), utf8, encoded) || encoded.empty() ||
        encoded.find('\0') != std::string::npos ||
        !convertBetween(charset.c_str(), "utf-8", encoded, back) || back != utf8) {
        return false;
    }
    out = std::move(encoded);
    return true;
}

// The parts of one address: the display name as written (may be empty) and
// the rest from its "<" on; without a "<" the whole address is the rest.
struct AddressParts {
    std::string display;
    std::string rest;
};

// Walks a text keeping track of quoted strings (with their backslash
// escapes), comments and angle brackets, and tells whether a position
// stands outside all of them.
class AddressScanner {
public:
    explicit AddressScanner(std::string_view text) : m_text(text) {}

    // Calls visit(i) for every position outside quotes, comments and brackets.
    template <class Visit> void walk(Visit visit) const {
        bool quoted = false;
        int comments = 0;
        int brackets = 0;
        for (size_t i = 0; i < m_text.size(); ++i) {
            const char c = m_text[i];
            if ((quoted || comments > 0) && c == '\\') {
                ++i;
            } else if (quoted) {
                quoted = c != '"';
            } else if (c == '(') {
                ++comments;
            } else if (comments > 0) {
                comments -= c == ')' ? 1 : 0;
            } else if (c == '"') {
                quoted = true;
            } else if (c == '<') {
                if (brackets++ == 0 && !visit(i)) {
                    return;
                }
            } else if (c == '>') {
                brackets -= brackets > 0 ? 1 : 0;
            } else if (brackets == 0 && !visit(i)) {
                return;
            }
        }
    }

private:
    std::string_view m_text;
};

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

std::vector<std::string_view> splitAddresses(std::string_view list) {
    std::vector<std::string_view> addresses;
    size_t start = 0;
    AddressScanner(list).walk([&](size_t i) {
        if (list[i] == ',') {
            addresses.push_back(trimmed(list.substr(start, i - start)));
            start = i + 1;
        }
        return true;
    });
    addresses.push_back(trimmed(list.substr(start)));
    return addresses;
}

AddressParts splitAddress(std::string_view address) {
    size_t bracket = std::string_view::npos;
    AddressScanner(address).walk([&](size_t i) {
        if (address[i] == '<') {
            bracket = i;
            return false;
        }
        return true;
    });
    if (bracket == std::string_view::npos) {
        return {std::string(), std::string(address)};
    }
    return {std::string(trimmed(address.substr(0, bracket))), std::string(address.substr(bracket))};
}

// The text of a display name: a name that is one quoted string loses its
// quotes and backslash escapes.
std::string displayText(const std::string& display) {
    if (display.size() < 2 || display.front() != '"' || display.back() != '"') {
        return display;
    }
    std::string text;
    for (size_t i = 1; i + 1 < display.size(); ++i) {
        if (display[i] == '\\' && i + 2 < display.size()) {
            ++i;
        } else if (display[i] == '"') {
            return display; // more than one quoted string
        }
        text += display[i];
    }
    return text;
}

std::vector<std::string> addressTokens(std::string_view fieldName, std::string_view address) {
    const AddressParts parts = splitAddress(address);
    std::vector<std::string> tokens;
    if (!parts.display.empty()) {
        const std::string text = displayText(parts.display);
        if (!is7bit(text)) {
            tokens = encodedWords(fieldName, text, "utf-8", true);
        } else if (parts.display.find('"') != std::string::npos) {
            tokens.push_back(parts.display);
        } else {
            tokens = splitAtBlanks(parts.display);
        }
    }
    if (!parts.rest.empty()) {
        tokens.push_back(parts.rest);
    }
    return tokens;
}

} // namespace

std::string HeaderFieldText::collapseControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool blankPending = false;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) {
            blankPending = !out.empty();
            continue;
        }
        if (blankPending) {
            out += ' ';
            blankPending = false;
        }
        out += c;
    }
    return out;
}

std::string HeaderFieldText::wellFormedUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            out += bytes[i++];
            continue;
        }
        const size_t length = utf8SequenceLength(bytes, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::string HeaderFieldText::unstructured(std::string_view fieldName, std::string_view utf8,
                                          std::string_view charset) {
    const std::string text = collapseControls(wellFormedUtf8(utf8));
    FoldedLine line(fieldName);
    if (is7bit(text) &&
        (charset.empty() || equalsNoCase(charset, "us-ascii") || isUtf8Name(charset))) {
        line.addAll(splitAtBlanks(text));
        return line.text();
    }
    std::string wordCharset(charset);
    std::string bytes;
    if (!textInCharset(text, wordCharset, bytes)) {
        wordCharset = "utf-8";
        bytes = text;
    }
    line.addAll(encodedWords(fieldName, bytes, wordCharset,
                             ContentCoding::prefersBWords(wordCharset.c_str())));
    return line.text();
}

std::string HeaderFieldText::addressList(std::string_view fieldName, std::string_view utf8) {
    const std::string text = collapseControls(wellFormedUtf8(utf8));
    std::vector<std::vector<std::string>> addresses;
    for (const std::string_view address : splitAddresses(text)) {
        std::vector<std::string> tokens = addressTokens(fieldName, address);
        if (!tokens.empty()) {
            addresses.push_back(std::move(tokens));
        }
    }
    FoldedLine line(fieldName);
    for (size_t i = 0; i < addresses.size(); ++i) {
        if (i + 1 < addresses.size()) {
            addresses[i].back() += ',';
        }
        line.addAll(addresses[i]);
    }
    return line.text();
}
