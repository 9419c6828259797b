#pragma once

#include <string>
#include <string_view>

// The values of the header fields a person reads (Subject, To, From), made
// so that a mail reader shows them as meant: no control characters, text
// that is not 7-bit in encoded words, and the value folded so that no line
// of the field, its name and ": " included, is longer than 78 characters
// where the text allows it.
class HeaderFieldText {
public:
    // ASCII white space and control characters (0x00-0x1F, 0x7F) become
    // single blanks; the result is trimmed.
    static std::string collapseControls(std::string_view text);
    // The bytes as UTF-8: a byte that does not belong to a well-formed
    // sequence becomes U+FFFD.
    static std::string wellFormedUtf8(std::string_view bytes);

    // An unstructured value (Subject) of UTF-8 text, control characters
    // collapsed. Plain and folded at its blanks when the text is 7-bit and
    // the charset is empty, us-ascii or utf-8; otherwise encoded words in
    // the charset when every character fits in it, else in UTF-8.
    static std::string unstructured(std::string_view fieldName, std::string_view utf8,
                                    std::string_view charset);

    // A comma-separated list of addresses in UTF-8, control characters
    // collapsed. A display name that is not 7-bit (quoted or not) becomes
    // UTF-8 B words; the address itself, and every address without a
    // display name, is kept as written.
    static std::string addressList(std::string_view fieldName, std::string_view utf8);
};
