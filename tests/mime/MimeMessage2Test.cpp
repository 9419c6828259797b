#include "mime/MimeMessage2.h"
#include "mime/Uuid.h"

#include "foundation/StringBuffer.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

std::string text(const StringBuffer& sb) {
    return std::string(sb.getString(), static_cast<size_t>(sb.getSize()));
}

std::string header(const MimeMessage2& entity) {
    StringBuffer out;
    entity.renderHeader(out);
    return text(out);
}

std::string message(const MimeMessage2& entity) {
    StringBuffer out;
    entity.renderMessage(out);
    return text(out);
}

const char kExampleUuid[] = "0a1b2c3d-4e5f-6789-abcd-ef0123456789";
const char kExampleBoundary[] = "----=_NextPart_0a1_b2c3_4e5f6789.ef012345";

// A root as initMultipartRelated makes it, with the example boundary.
void makeExampleRoot(MimeMessage2& root) {
    root.initMultipartRelated();
    StringBuffer boundary;
    MimeMessage2::boundaryFromUuidText(kExampleUuid, boundary);
    boundary.append("_.REL");
    root.boundary.setSb(boundary);
    root.setTypeParam("text/html");
}

TEST(Uuid, LowerCaseVersion4Text) {
    StringBuffer uuid("old content");
    makeUuidText(uuid);
    EXPECT_TRUE(std::regex_match(
        uuid.getString(),
        std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
        << uuid.getString();
}

TEST(Boundary, CharacterPositionsOfTheUuid) {
    StringBuffer out("old");
    MimeMessage2::boundaryFromUuidText(kExampleUuid, out);
    EXPECT_EQ(text(out), kExampleBoundary);
    EXPECT_EQ(out.getSize(), 41);
}

TEST(Boundary, FreshBoundariesDiffer) {
    MimeMessage2 entity;
    StringBuffer first("x");
    StringBuffer second;
    entity.generateBoundary(first);
    entity.generateBoundary(second);
    EXPECT_FALSE(first.equalsSb(second));
    EXPECT_TRUE(std::regex_match(first.getString(),
                                 std::regex("----=_NextPart_[0-9a-f]{3}_[0-9a-f]{4}_[0-9a-f]{8}\\."
                                            "[0-9a-f]{8}")))
        << first.getString();
}

TEST(ContentType, InitMultipartRelated) {
    MimeMessage2 root;
    root.setHeaderField("X-Old", "1");
    root.initMultipartRelated();
    EXPECT_STREQ(root.getContentType(), "multipart/related");
    EXPECT_STREQ(root.getCharset(), "us-ascii");
    EXPECT_TRUE(std::regex_match(root.getBoundary(), std::regex("----=_NextPart_.{26}_\\.REL")))
        << root.getBoundary();
    EXPECT_EQ(header(root), std::string("content-type: multipart/related;\r\n\tboundary=\"") +
                                root.getBoundary() + "\"");
}

TEST(ContentType, CompositionExamples) {
    MimeMessage2 root;
    makeExampleRoot(root);
    EXPECT_EQ(header(root), std::string("content-type: multipart/related; type=\"text/html\";\r\n"
                                        "\tboundary=\"") +
                                kExampleBoundary + "_.REL\"");

    MimeMessage2 html;
    html.setContentType("text/html");
    html.setCharset("iso-8859-1");
    EXPECT_EQ(header(html), "content-type: text/html; charset=\"iso-8859-1\"");

    MimeMessage2 image;
    image.setContentType("image/gif");
    image.setNameParam("logo.gif");
    EXPECT_EQ(header(image), "content-type: image/gif;\r\n\tname=\"logo.gif\"");

    MimeMessage2 style;
    style.setContentType("text/css");
    style.setCharset("iso-8859-1");
    style.setNameParam("style.css");
    EXPECT_EQ(header(style),
              "content-type: text/css; charset=\"iso-8859-1\";\r\n\tname=\"style.css\"");
}

struct CompositionCase {
    const char* contentType;
    const char* charset;
    const char* name;
    std::string expected;
};

TEST(ContentType, CompositionTable) {
    const CompositionCase cases[] = {
        {"image/png", "utf-8", "", "content-type: image/png"},
        {"TEXT/plain", "", "", "content-type: TEXT/plain; charset=\"us-ascii\""},
        {"Message/rfc822", "utf-8", "", "content-type: Message/rfc822; charset=\"utf-8\""},
        {"texture/x", "utf-8", "", "content-type: texture/x; charset=\"utf-8\""},
        {"  image/gif ", " x ", " a b.gif ", "content-type: image/gif ;\r\n\tname=\"a b.gif\""},
        {"", "", "", ""},
        {"application/x", "", "n\"q", "content-type: application/x;\r\n\tname=\"n\"q\""},
    };
    for (const auto& c : cases) {
        MimeMessage2 part;
        part.setContentType(c.contentType);
        part.setCharset(c.charset);
        part.setNameParam(c.name);
        EXPECT_EQ(header(part), c.expected) << c.contentType;
    }
}

TEST(ContentType, CachedValuesAsStored) {
    MimeMessage2 part;
    part.setContentType(" text/html ");
    part.setCharset("  utf-8\t");
    part.setNameParam(nullptr);
    EXPECT_STREQ(part.getContentType(), " text/html ");
    EXPECT_STREQ(part.getCharset(), "utf-8");
    part.setCharset("");
    EXPECT_STREQ(part.getCharset(), "us-ascii");
    MimeMessage2 image;
    image.setContentType("image/gif");
    image.setCharset("iso-8859-1");
    EXPECT_STREQ(image.getCharset(), "iso-8859-1");
    EXPECT_EQ(header(image), "content-type: image/gif");
}

TEST(ContentType, ReComposingMovesTheFieldToTheEnd) {
    MimeMessage2 part;
    part.setContentType("image/gif");
    part.setTransferEncoding("base64");
    part.setContentType("image/jpeg");
    EXPECT_EQ(header(part), "content-transfer-encoding: base64\r\ncontent-type: image/jpeg");
    part.setTransferEncoding("base64");
    EXPECT_EQ(header(part), "content-type: image/jpeg\r\ncontent-transfer-encoding: base64");
}

TEST(TransferEncoding, SetsFieldKindAndCachedValue) {
    const std::pair<const char*, BodyEncoding> cases[] = {
        {"base64", BodyEncoding::Base64},
        {"BASE64", BodyEncoding::Base64},
        {"Quoted-Printable", BodyEncoding::QuotedPrintable},
        {"7bit", BodyEncoding::None},
        {"binary", BodyEncoding::None},
    };
    for (const auto& [name, kind] : cases) {
        MimeMessage2 part;
        part.setTransferEncoding(name);
        EXPECT_EQ(part.body.encodingKind, kind) << name;
        StringBuffer out("[");
        part.getTransferEncoding(out);
        EXPECT_EQ(text(out), std::string("[") + name);
        EXPECT_EQ(header(part), std::string("content-transfer-encoding: ") + name);
    }
}

TEST(TransferEncoding, OnlyTheExactNamesSetAnEncoding) {
    const std::pair<const char*, BodyEncoding> cases[] = {
        {"base64", BodyEncoding::Base64},
        {"bAsE64", BodyEncoding::Base64},
        {"QUOTED-PRINTABLE", BodyEncoding::QuotedPrintable},
        {" base64", BodyEncoding::None},
        {"base64 ", BodyEncoding::None},
        {"\tquoted-printable", BodyEncoding::None},
        {"quoted-printable\r\n", BodyEncoding::None},
        {"base64;", BodyEncoding::None},
        {"", BodyEncoding::None},
        {nullptr, BodyEncoding::None},
    };
    for (const auto& [name, kind] : cases) {
        const std::string shown = name != nullptr ? name : "(null)";
        EXPECT_EQ(encodingFromName(name), kind) << shown;
        MimeMessage2 part;
        part.setBodyBytes("abc", 3, "base64");
        part.setBodyBytes("abc", 3, name);
        const BodyEncoding kept = name != nullptr ? kind : BodyEncoding::Base64;
        EXPECT_EQ(part.body.encodingKind, kept) << shown;
        if (name != nullptr) {
            part.setTransferEncoding(name);
            EXPECT_EQ(part.body.encodingKind, kind) << shown;
        }
    }
}

TEST(TransferEncoding, CachedValueIsRefreshedFromTheField) {
    MimeMessage2 part;
    part.setTransferEncoding(" base64 ; x");
    EXPECT_STREQ(part.transferEncoding.getString(), "base64 ");
    part.setTransferEncoding("");
    EXPECT_EQ(part.transferEncoding.getSize(), 0);
    EXPECT_EQ(part.header.getFieldCount(), 0);
    EXPECT_EQ(part.body.encodingKind, BodyEncoding::None);
}

TEST(HeaderFields, BlankValueRemovesEveryField) {
    MimeMessage2 root;
    root.setHeaderField("Subject", "Hello");
    root.setHeaderField("Subject", "   ");
    EXPECT_EQ(header(root), "");
    root.setHeaderField(nullptr, "x");
    EXPECT_EQ(root.header.getFieldCount(), 0);
}

TEST(HeaderFields, NameInOtherCaseReplaces) {
    MimeMessage2 root;
    root.setHeaderField("subject", "one");
    root.setHeaderField("Date", "d");
    root.setHeaderField("  SUBJECT ", "  two  ");
    EXPECT_EQ(header(root), "Date: d\r\nSUBJECT: two");
}

TEST(HeaderFields, ContentIdIsCachedUpToTheSemicolon) {
    MimeMessage2 part;
    part.setHeaderField("Content-ID", "<a.gif>; x");
    EXPECT_STREQ(part.getContentId(), "<a.gif>");
    part.setHeaderField("content-id", "<b.gif>");
    EXPECT_STREQ(part.getContentId(), "<b.gif>");
    part.setHeaderField("Content-ID", "");
    EXPECT_STREQ(part.getContentId(), "");
}

TEST(HeaderFields, TransferEncodingFieldRefreshesTheCacheButNotTheKind) {
    MimeMessage2 part;
    part.setBodyBytes("abc", 3, "base64");
    part.setHeaderField("Content-Transfer-Encoding", "quoted-printable; y");
    EXPECT_STREQ(part.transferEncoding.getString(), "quoted-printable");
    EXPECT_EQ(part.body.encodingKind, BodyEncoding::Base64);
}

TEST(HeaderFields, GetHeaderFieldDecodesWords) {
    MimeMessage2 root;
    root.setHeaderField("Subject", "=?iso-8859-1?Q?Caf=E9?= and =?utf-8?B?w6k=?=");
    StringBuffer out("keep ");
    root.getHeaderField("subject", out);
    EXPECT_EQ(text(out), "keep Caf\xC3\xA9 and \xC3\xA9");
    StringBuffer none("x");
    root.getHeaderField("Missing", none);
    root.getHeaderField(nullptr, none);
    EXPECT_EQ(text(none), "x");
}

TEST(HeaderFields, GetHeaderFieldDecodesTheWholeOutput) {
    // The decoders run over the caller's buffer as it is after the value was
    // appended, so words that it held before are decoded as well.
    struct Case {
        const char* before;
        const char* value;
        const char* expected;
    };
    const Case cases[] = {
        {"=?utf-8?Q?a=C3=A9?= ", "=?utf-8?B?w6k=?=", "a\xC3\xA9 \xC3\xA9"},
        {"=?utf-8?B?w6k=?=|", "plain", "\xC3\xA9|plain"},
        {"=?utf-8?Q?x?=|", "plain", "x|plain"},
        {"plain|", "plain", "plain|plain"},
    };
    for (const Case& c : cases) {
        MimeMessage2 root;
        root.setHeaderField("Subject", c.value);
        StringBuffer out(c.before);
        root.getHeaderField("Subject", out);
        EXPECT_EQ(text(out), c.expected) << c.before << c.value;
    }
    // Without such a field nothing is appended and nothing decoded.
    MimeMessage2 empty;
    StringBuffer kept("=?utf-8?Q?x?=");
    empty.getHeaderField("Subject", kept);
    EXPECT_EQ(text(kept), "=?utf-8?Q?x?=");
}

TEST(HeaderFields, LineBreaksInValuesCannotInjectFields) {
    MimeMessage2 root;
    root.setHeaderField("Subject", "x\nBcc: someone@example.org");
    EXPECT_EQ(header(root), "Subject: x Bcc: someone@example.org");
}

TEST(Body, Kinds) {
    MimeMessage2 part;
    StringBuffer html("a=b");
    part.setBodyFromSb(html);
    EXPECT_EQ(part.body.encodingKind, BodyEncoding::None);
    part.setTransferEncoding("quoted-printable");
    StringBuffer out;
    part.renderBody(out);
    EXPECT_EQ(text(out), "a=3Db");

    part.setBodyBytes("abc", 3, nullptr);
    EXPECT_EQ(part.body.encodingKind, BodyEncoding::QuotedPrintable);
    part.setBodyBytes("abc", 3, "base64");
    out.clear();
    part.renderBody(out);
    EXPECT_EQ(text(out), "YWJj\r\n");

    part.setBodyBytes(nullptr, 3, "x-unknown");
    EXPECT_EQ(part.body.getSize(), 0);
    EXPECT_EQ(part.body.encodingKind, BodyEncoding::None);
}

TEST(Body, EmptyBufferKeepsTheKindAndRendersNothing) {
    MimeMessage2 part;
    part.setBodyBytes("abc", 3, "base64");
    StringBuffer empty;
    part.setBodyFromSb(empty);
    EXPECT_EQ(part.body.encodingKind, BodyEncoding::Base64);
    StringBuffer out;
    part.renderBody(out);
    EXPECT_EQ(out.getSize(), 0);
}

TEST(Body, TextIsAnOwnCopy) {
    MimeBody body;
    std::string source = "hello";
    body.setText(source.c_str());
    source[0] = 'j';
    StringBuffer out;
    body.renderEncoded(out);
    EXPECT_EQ(text(out), "hello");
    body.setText(nullptr);
    EXPECT_EQ(body.getSize(), 0);
}

TEST(Rendering, EntityWithoutParts) {
    MimeMessage2 part;
    part.setContentType("text/plain");
    StringBuffer body("hi\r\n");
    part.setBodyFromSb(body);
    EXPECT_EQ(message(part), "content-type: text/plain; charset=\"us-ascii\"\r\n\r\nhi\r\n");
}

TEST(Rendering, WholeMessageByteForByte) {
    MimeMessage2 root;
    makeExampleRoot(root);
    root.setHeaderField("MIME-Version", "1.0");
    root.setHeaderField("Subject", "Test");
    root.setHeaderField("Date", "Mon, 07 Dec 2026 10:57:36 +0100");

    MimeMessage2* html = new MimeMessage2();
    html->setContentType("text/html");
    html->setCharset("iso-8859-1");
    StringBuffer page("<p>Caf\xE9</p>");
    html->setBodyFromSb(page);
    html->setTransferEncoding("quoted-printable");
    html->setHeaderField("Content-Location", "http://example.org/");
    root.addPart(html);

    MimeMessage2* image = new MimeMessage2();
    image->setContentType("image/gif");
    image->setNameParam("logo.gif");
    image->setHeaderField("Content-ID", "<VANTREL-CID-1>");
    image->setBodyBytes("GIF", 3, "base64");
    image->setTransferEncoding("base64");
    root.addPart(image);

    MimeMessage2* bare = new MimeMessage2();
    StringBuffer raw("raw");
    bare->setBodyFromSb(raw);
    root.addPart(bare);

    const std::string delimiter = std::string("--") + kExampleBoundary + "_.REL";
    const std::string expected =
        std::string("content-type: multipart/related; type=\"text/html\";\r\n\tboundary=\"") +
        kExampleBoundary +
        "_.REL\"\r\n"
        "MIME-Version: 1.0\r\n"
        "Subject: Test\r\n"
        "Date: Mon, 07 Dec 2026 10:57:36 +0100\r\n"
        "\r\n"
        "This is a multi-part message in MIME format.\r\n"
        "\r\n" +
        delimiter +
        "\r\n"
        "content-type: text/html; charset=\"iso-8859-1\"\r\n"
        "content-transfer-encoding: quoted-printable\r\n"
        "Content-Location: http://example.org/\r\n"
        "\r\n"
        "<p>Caf=E9</p>\r\n" +
        delimiter +
        "\r\n"
        "content-type: image/gif;\r\n\tname=\"logo.gif\"\r\n"
        "Content-ID: <VANTREL-CID-1>\r\n"
        "content-transfer-encoding: base64\r\n"
        "\r\n"
        "R0lG\r\n"
        "\r\n" +
        delimiter +
        "\r\n"
        "\r\n"
        "raw\r\n" +
        delimiter + "--\r\n";
    EXPECT_EQ(message(root), expected);
    // Rendering does not change the tree.
    EXPECT_EQ(message(root), expected);
    EXPECT_EQ(root.renderedMessageSize(), static_cast<long long>(expected.size()));
    EXPECT_EQ(root.getPartCount(), 3);
    EXPECT_EQ(root.getPart(1), image);
    EXPECT_EQ(root.getPart(3), nullptr);
}

TEST(Rendering, NestedMultipartHasNoPreamble) {
    MimeMessage2 root;
    root.initMultipartRelated();
    MimeMessage2* inner = new MimeMessage2();
    inner->initMultipartRelated();
    MimeMessage2* leaf = new MimeMessage2();
    StringBuffer body("x");
    leaf->setBodyFromSb(body);
    inner->addPart(leaf);
    root.addPart(inner);
    const std::string rendered = message(root);
    size_t count = 0;
    for (size_t at = rendered.find("This is a multi-part"); at != std::string::npos;
         at = rendered.find("This is a multi-part", at + 1)) {
        ++count;
    }
    EXPECT_EQ(count, 1u);
    const std::string innerEnd = std::string("--") + inner->getBoundary() + "--\r\n";
    const std::string outerEnd = std::string("--") + root.getBoundary() + "--\r\n";
    EXPECT_NE(rendered.find(innerEnd + "\r\n" + outerEnd), std::string::npos);
    EXPECT_EQ(rendered.substr(rendered.size() - outerEnd.size()), outerEnd);
    EXPECT_EQ(root.renderedMessageSize(), static_cast<long long>(rendered.size()));
}

TEST(Rendering, OutputIsReservedOnceForLargeBodies) {
    MimeMessage2 root;
    root.initMultipartRelated();
    const std::string image(3 * 1000 * 1000, '\x5A');
    for (int i = 0; i < 3; ++i) {
        MimeMessage2* part = new MimeMessage2();
        part->setContentType("image/png");
        part->setBodyBytes(image.data(), static_cast<int>(image.size()), "base64");
        part->setTransferEncoding("base64");
        root.addPart(part);
    }
    MimeMessage2* html = new MimeMessage2();
    html->setContentType("text/html");
    StringBuffer page;
    for (int i = 0; i < 20000; ++i) {
        page.append("<p class=\"x\">Gr\xFC\xDF \r\n");
    }
    html->setBodyFromSb(page);
    html->setTransferEncoding("quoted-printable");
    root.addPart(html);

    StringBuffer out;
    root.renderMessage(out);
    EXPECT_EQ(static_cast<long long>(out.getSize()), root.renderedMessageSize());
    // One block for the whole message: the capacity is what the single
    // reservation asked for, not the result of repeated growth.
    EXPECT_EQ(out.getCapacity(), out.getSize() + 200 + 1);
}

TEST(Lifecycle, ClearEmptiesEverything) {
    MimeMessage2 root;
    root.initMultipartRelated();
    root.setCharset("utf-8");
    root.setHeaderField("Content-ID", "<x>");
    root.setTransferEncoding("base64");
    root.setBodyBytes("abc", 3, "base64");
    root.addPart(new MimeMessage2());
    root.clear();
    EXPECT_STREQ(root.getContentType(), "");
    EXPECT_STREQ(root.getCharset(), "");
    EXPECT_STREQ(root.getBoundary(), "");
    EXPECT_STREQ(root.getContentId(), "");
    EXPECT_EQ(root.transferEncoding.getSize(), 0);
    EXPECT_EQ(root.header.getFieldCount(), 0);
    EXPECT_EQ(root.body.getSize(), 0);
    EXPECT_EQ(root.body.encodingKind, BodyEncoding::None);
    EXPECT_EQ(root.getPartCount(), 0);
    EXPECT_EQ(message(root), "\r\n\r\n");
}

} // namespace
