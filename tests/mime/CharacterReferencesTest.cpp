#include "mime/CharacterReferences.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ReferenceCase {
    const char* text;
    const char* inText;      // read as text content
    const char* inAttribute; // read as an attribute value
};

TEST(CharacterReferences, AsTheHtmlStandardReadsThem) {
    const ReferenceCase cases[] = {
        {"load.php?lang=en&amp;modules=site", "load.php?lang=en&modules=site",
         "load.php?lang=en&modules=site"},
        {"a&#38;b&#x26;c&#X26;d&#38e&#x26g", "a&b&c&d&e&g", "a&b&c&d&e&g"},
        {"&AMP;&amp", "&&", "&&"},
        // A name without ";" that "=" or a letter or digit follows stays in
        // an attribute, so that query strings keep their parameters.
        {"?a=1&copy=2&not3",
         "?a=1\xC2\xA9=2\xC2\xAC"
         "3",
         "?a=1&copy=2&not3"},
        {"&copy;=2", "\xC2\xA9=2", "\xC2\xA9=2"},
        {"&ampx &amp-", "&x &-", "&ampx &-"},
        // The longest name of the table wins.
        {"&notin; &notit;", "\xE2\x88\x89 \xC2\xACit;", "\xE2\x88\x89 &notit;"},
        {"&NotNestedGreaterGreater;", "\xE2\xAA\xA2\xCC\xB8", "\xE2\xAA\xA2\xCC\xB8"},
        // Numbers: NUL, surrogates and what lies beyond Unicode are U+FFFD;
        // the C1 controls are read as windows-1252.
        {"&#0;&#xD800;&#x110000;&#99999999999999;",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"&#128;&#x9D;&#233", "\xE2\x82\xAC\xC2\x9D\xC3\xA9", "\xE2\x82\xAC\xC2\x9D\xC3\xA9"},
        // What is no reference stays as written.
        {"&#; &#x; &; &unknown; & &", "&#; &#x; &; &unknown; & &", "&#; &#x; &; &unknown; & &"},
        {"no references", "no references", "no references"},
    };
    for (const ReferenceCase& c : cases) {
        EXPECT_EQ(decodeCharacterReferences(c.text, CharacterReferenceContext::Text), c.inText)
            << c.text;
        EXPECT_EQ(decodeCharacterReferences(c.text, CharacterReferenceContext::AttributeValue),
                  c.inAttribute)
            << c.text;
    }
}

TEST(CharacterReferences, TheTableIsSortedForItsSearch) {
    ASSERT_GT(kNamedCharacterReferenceCount, 2000);
    for (int i = 1; i < kNamedCharacterReferenceCount; ++i) {
        EXPECT_LT(std::string(kNamedCharacterReferences[i - 1].name),
                  std::string(kNamedCharacterReferences[i].name));
    }
}

} // namespace
