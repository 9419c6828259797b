#pragma once

#include <string>
#include <string_view>

// HTML character references ("&amp;", "&#38;", "&#x26;", "&eacute;") read as
// a browser reads them, with the characters they stand for in UTF-8.

// Where the text stands. In an attribute value a named reference without its
// ";" that a "=" or a letter or digit follows stays as written, so that
// "?a=1&copy=2" keeps its "&copy".
enum class CharacterReferenceContext { Text, AttributeValue };

std::string decodeCharacterReferences(std::string_view text, CharacterReferenceContext context);

// True when text holds a "&" at all (the common case of no reference is then
// left without copying).
inline bool mayHoldCharacterReferences(std::string_view text) {
    return text.find('&') != std::string_view::npos;
}

// One entry of the generated table (NamedCharacterReferences.cpp): the name
// behind the "&", with its ";" where the standard lists it so, and the
// characters in UTF-8. Sorted by name, byte-wise.
struct NamedCharacterReference {
    const char* name;
    const char* characters;
};
extern const NamedCharacterReference kNamedCharacterReferences[];
extern const int kNamedCharacterReferenceCount;
