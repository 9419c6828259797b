#include "convert/ResourceTyping.h"
#include "convert/DataUrl.h"
#include "convert/ReferencedIds.h"
#include "foundation/StringBuffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* sniff(const std::string& bytes) {
    return sniffImageType(reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<uint32_t>(bytes.size()));
}

struct SniffCase {
    std::string bytes;
    const char* expected; // null: no image
};

TEST(SniffImageType, RecognisesImagesByTheirFirstBytes) {
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    const SniffCase cases[] = {
        {"GIF89a\x01\x00", "image/gif"},
        {"GIF87a", "image/gif"},
        {std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10), "image/jpeg"},
        {png, "image/png"},
        {std::string("RIFF\x10\0\0\0WEBPVP8 ", 16), "image/webp"},
        {std::string("\0\0\0\x1c"
                     "ftypavif",
                     12),
         "image/avif"},
        {std::string("\0\0\0\x1c"
                     "ftypavis",
                     12),
         "image/avif"},
        {"<svg xmlns=\"http://www.w3.org/2000/svg\"/>", "image/svg+xml"},
        {" \r\n\t<svg/>", "image/svg+xml"},
        {"<?xml version=\"1.0\"?>\n<!-- drawn -->\n<svg/>", "image/svg+xml"},
    };
    for (const SniffCase& c : cases) {
        const char* found = sniff(c.bytes);
        ASSERT_NE(found, nullptr) << c.expected;
        EXPECT_STREQ(found, c.expected);
    }
}

TEST(SniffImageType, LeavesEverythingElseToTheExtension) {
    const std::string farSvg = "<?xml version=\"1.0\"?>" + std::string(1100, ' ') + "<svg/>";
    const SniffCase cases[] = {
        // An EXIF JPEG starts with FFD8 FFE1: the dump test does not take it.
        {std::string("\xFF\xD8\xFF\xE1\x00\x10"
                     "Exif",
                     10),
         nullptr},
        {"GIF", nullptr},
        {"", nullptr},
        {"<html><body>", nullptr},
        {"<?xml version=\"1.0\"?><html/>", nullptr},
        {farSvg, nullptr},
        {std::string("RIFF\x10\0\0\0WAVE", 12), nullptr},
        {std::string("\x89PNG\r\n", 6), nullptr},
        {"x<svg", nullptr},
    };
    for (const SniffCase& c : cases) {
        EXPECT_EQ(sniff(c.bytes), nullptr) << c.bytes.substr(0, 20);
    }
}

struct TypeCase {
    const char* url;
    const char* type;
    bool javaScript;
};

TEST(TypeByExtension, FollowsTheLastDot) {
    const TypeCase cases[] = {
        {"http://host/a.gif", "image/gif", false},
        {"http://host/A.GIF", "image/gif", false},
        {"http://host/s.css", "text/css", false},
        {"http://host/x.js", "application/octet-stream", true},
        {"http://host/page.htm", "text/html", false},
        {"http://host/pic.php?id=3", "text/html", false},
        {"http://host/a.png", "text/html", false},
        {"http://www.host.com/", "text/html", false},
        {"http://host/img", "application/octet-stream", false},
        {"file.xyz", "application/octet-stream", false},
        {"img/a.png", "application/octet-stream", false},
        {"noextension", "application/octet-stream", false},
        {"http://host/doc.pdf", "application/pdf", false},
        // The path alone counts: an EXIF JPEG must not become an HTML frame.
        {"http://host/photo.jpg?itok=pw.XT", "image/jpeg", false},
        {"http://host/x.gif#a.b", "image/gif", false},
        {"data:Image/WebP;base64,UklG", "image/webp", false},
        {"data:,plain", "text/plain", false},
    };
    for (const TypeCase& c : cases) {
        StringBuffer type;
        bool javaScript = !c.javaScript;
        typeByExtension(c.url, type, javaScript);
        EXPECT_STREQ(type.getString(), c.type) << c.url;
        EXPECT_EQ(javaScript, c.javaScript) << c.url;
    }
}

struct NameCase {
    const char* url;
    int index;
    const char* type;
    const char* name;
};

TEST(LooksBinary, ANulByteInTheFirstKilobyte) {
    struct Case {
        const char* what;
        std::string bytes;
        bool binary;
    };
    const Case cases[] = {
        {"a page", "<html><body>x</body></html>", false},
        {"nothing", "", false},
        {"a cursor", std::string("\x00\x00\x02\x00", 4), true},
        {"a NUL at byte 1023", std::string(1023, 'a') + '\0', true},
        {"a NUL at byte 1024", std::string(1024, 'a') + '\0', false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(looksBinary(reinterpret_cast<const unsigned char*>(c.bytes.data()),
                              static_cast<uint32_t>(c.bytes.size())),
                  c.binary)
            << c.what;
    }
    EXPECT_FALSE(looksBinary(nullptr, 10));
}

TEST(PartNameFor, TakesTheFileNameOfTheUrl) {
    const NameCase cases[] = {
        {"http://host/pic.php?id=3", 0, "image/gif", "vt0-pic.php"},
        {"http://host/img", 0, "image/gif", "vt0-img.gif"},
        {"http://host/photo", 4, "image/jpeg", "vt4-photo.jpeg"},
        {"http://host/drawing", 1, "image/png", "vt1-drawing"},
        {"http://host/data", 2, "application/octet-stream", "vt2-data"},
        {"http://host/a;b=c.gif", 7, "image/gif", "vt7-abc.gif"},
        {"http://host/q?x/y", 3, "text/html", "vt3-q"},
        {"http://host/photo.jpg?itok=a.b#c", 5, "image/jpeg", "vt5-photo.jpg"},
        {"data:image/svg+xml;base64,PHN2Zy8+", 6, "image/svg+xml", "vt6-data.svg"},
        {"local.gif", 12, "image/gif", "vt12-local.gif"},
        {"http://host/dir/", 5, "text/html", "vt5-"},
        // Only ";" and "=" are taken out of a name.
        {"http://host/say\"hi\".gif", 6, "image/gif", "vt6-say\"hi\".gif"},
        {"http://host/a,b c'd.gif", 8, "image/gif", "vt8-a,b c'd.gif"},
    };
    for (const NameCase& c : cases) {
        StringBuffer name("keep:");
        partNameFor(c.url, c.index, c.type, name);
        EXPECT_EQ(std::string(name.getString()), std::string("keep:") + c.name) << c.url;
    }
}

struct EncodingCase {
    const char* url;
    bool isImage;
    const char* type;
    const char* encoding;
    bool styleSheet;
    bool document;
};

TEST(ChooseEncoding, FirstMatchingRowWins) {
    const EncodingCase cases[] = {
        {"http://host/img", true, "image/gif", "base64", false, false},
        {"http://host/img", false, "text/html", "base64", false, false},
        {"http://host/x.JS", false, "application/octet-stream", "quoted-printable", false, false},
        {"http://host/s.css", false, "text/css", "quoted-printable", true, false},
        {"http://host/s.css", true, "image/gif", "quoted-printable", true, false},
        {"http://host/a.gif", true, "image/gif", "base64", false, false},
        {"http://host/frame.htm", false, "text/html", "quoted-printable", false, true},
        {"http://host/frame.HTML", true, "image/png", "base64", false, false},
        {"http://host/page.asp", false, "text/html", "quoted-printable", false, true},
        {"http://host/page.aspx?x=1", false, "text/html", "quoted-printable", false, true},
        {"http://host/pic.php?id=3", false, "text/html", "quoted-printable", false, true},
        {"http://www.host.com/", false, "text/html", "quoted-printable", false, true},
        {"doc.pdf", false, "application/pdf", "base64", false, false},
        {"a.png", false, "application/octet-stream", "base64", false, false},
        {"http://host/s.css?v=3.1", false, "text/css", "quoted-printable", true, false},
        {"data:text/html,<p>", false, "text/html", "base64", false, false},
    };
    for (const EncodingCase& c : cases) {
        const PartEncoding encoding = chooseEncoding(c.url, c.isImage, c.type);
        EXPECT_STREQ(encoding.transferEncoding, c.encoding) << c.url;
        EXPECT_EQ(encoding.styleSheet, c.styleSheet) << c.url;
        EXPECT_EQ(encoding.htmlDocument, c.document) << c.url;
    }
}

TEST(ReferencedIds, FindsEveryContentIdInOnePass) {
    const std::string a = "VANTREL-CID-0a1b2c3d-4e5f-6789-abcd-ef0123456789";
    const std::string b = "VANTREL-CID-11111111-2222-3333-4444-555555555555";
    const std::string c = "VANTREL-CID-99999999-2222-3333-4444-555555555555";
    const StringBuffer html(
        ("<img src=\"cid:" + a + "\"><td background=\"cid:" + b + "\">VANTREL-CID-short").c_str());
    const ReferencedIds referenced(html);
    EXPECT_TRUE(referenced.mentions(a.c_str()));
    EXPECT_TRUE(referenced.mentions(b.c_str()));
    EXPECT_FALSE(referenced.mentions(c.c_str()));
    // Texts of another form fall back to a plain search.
    EXPECT_TRUE(referenced.mentions("VANTREL-CID-short"));
    EXPECT_TRUE(referenced.mentions("background"));
    EXPECT_FALSE(referenced.mentions("vantrel-cid-short"));
}

TEST(ReferencedIds, AnIdCutShortByTheEndIsNotFound) {
    const std::string a = "VANTREL-CID-0a1b2c3d-4e5f-6789-abcd-ef0123456789";
    const StringBuffer html(("x" + a.substr(0, a.size() - 1)).c_str());
    EXPECT_FALSE(ReferencedIds(html).mentions(a.c_str()));
}

} // namespace

TEST(DataUrl, MediaTypeAndBytes) {
    const struct {
        const char* url;
        bool read;
        const char* type;
        std::string bytes;
    } cases[] = {
        {"data:image/gif;base64,R0lGODlh", true, "image/gif", "GIF89a"},
        {"DATA:Image/SVG+XML;charset=utf-8,%3Csvg%2F%3E", true, "image/svg+xml", "<svg/>"},
        {"data:;base64,AAEC", true, "text/plain", std::string("\0\1\2", 3)},
        {"data:,a%00b", true, "text/plain", std::string("a\0b", 3)},
        {"data:image/png;base64,iVBO%0ARw0=", true, "image/png", "\x89PNG\r"},
        {"data:image/png", false, "", ""},
        {"http://host/data:,x", false, "", ""},
    };
    for (const auto& c : cases) {
        DataUrl data;
        EXPECT_EQ(readDataUrl(c.url, data), c.read) << c.url;
        if (c.read) {
            EXPECT_EQ(data.mediaType, c.type) << c.url;
            EXPECT_EQ(data.bytes, c.bytes) << c.url;
        }
    }
}
