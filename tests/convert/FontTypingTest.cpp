#include "convert/FontTyping.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// 36 bytes with the version at offset 8 and "LP" at offset 34, as an
// embedded OpenType font begins.
std::string eot(const char* version) {
    std::string bytes(36, 'x');
    bytes.replace(8, 4, version, 4);
    bytes.replace(34, 2, "LP");
    return bytes;
}

TEST(FontTyping, SignatureThenExtension) {
    const std::string table(8, '\0');
    struct Case {
        const char* url;
        std::string bytes;
        const char* expected; // null: no font
    };
    const Case cases[] = {
        {"http://h/f", "wOF2" + table, "font/woff2"},
        {"http://h/f.ttf", "wOFF" + table, "font/woff"},
        {"http://h/f", std::string("\x00\x01\x00\x00", 4) + table, "font/ttf"},
        {"http://h/f", "true" + table, "font/ttf"},
        {"http://h/f", "OTTO" + table, "font/otf"},
        {"http://h/f.woff2?v=1", "garbage bytes here", "font/woff2"},
        {"http://h/F.WOFF#x", "garbage bytes here", "font/woff"},
        {"fonts/f.ttf", "", "font/ttf"},
        {"fonts/f.otf", "", "font/otf"},
        {"http://h/f.eot", "garbage bytes here", "application/vnd.ms-fontobject"},
        {"http://h/f", eot("\x00\x00\x01\x00"), "application/vnd.ms-fontobject"},
        {"http://h/f", eot("\x02\x00\x02\x00"), "application/vnd.ms-fontobject"},
        {"http://h/f", eot("\x00\x00\x03\x00"), nullptr},               // no such version
        {"http://h/f.htm", eot("text"), nullptr},                       // "LP" in a text
        {"http://h/f", eot("\x00\x00\x01\x00").substr(0, 35), nullptr}, // cut short
        {"http://h/f.woff2.png", "\x89PNG\r\n\x1a\n", nullptr},
        {"http://h/wOF2", "wOF2", nullptr}, // too short for a font
        {"http://h/f.svg", "<svg xmlns='http://www.w3.org/2000/svg'/>", nullptr},
    };
    for (const Case& c : cases) {
        const char* type =
            fontTypeFor(c.url, reinterpret_cast<const unsigned char*>(c.bytes.data()),
                        static_cast<uint32_t>(c.bytes.size()));
        if (c.expected == nullptr) {
            EXPECT_EQ(type, nullptr) << c.url;
        } else {
            ASSERT_NE(type, nullptr) << c.url;
            EXPECT_STREQ(type, c.expected) << c.url;
        }
    }
    EXPECT_EQ(sniffFontType(nullptr, 20), nullptr);
    EXPECT_EQ(fontTypeFor(nullptr, nullptr, 0), nullptr);
}

} // namespace
