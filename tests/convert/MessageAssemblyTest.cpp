#include "MessageReader.h"

#include "convert/Mhtml.h"
#include "foundation/StringPair.h"
#include "mime/MimeMessage2.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string kGif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04"
                       "\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02"
                       "D\x01\x00;",
                       43);
const std::string kJpeg("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
                        "\xFF\xD9",
                        22);
const std::string kPng("\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR\x00\x00\x00\x01\x00\x00\x00\x01"
                       "\x08\x06\x00\x00\x00\x1f\x15\xc4\x89",
                       33);
const std::string kExifJpeg("\xFF\xD8\xFF\xE1\x00\x10"
                            "Exif\x00\x00",
                            12);

std::string workingDirectory() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}

// A converter set up as the desktop program sets it.
struct DialogConverter {
    Mhtml converter;
    RecordingLog log;
    StringBuffer out;

    DialogConverter() {
        converter.m_keepScripts = false;
        converter.m_scriptsOverNoscript = false;
        converter.m_markUnsent = true;
        converter.m_log = &log;
    }

    ReadMessage convert(const std::string& path) {
        out.clear();
        EXPECT_TRUE(converter.convertFile(path.c_str(), "localhost", out));
        return readMessage(std::string(out.getString(), static_cast<size_t>(out.getSize())));
    }
};

std::vector<std::string> typesOf(const ReadMessage& message) {
    std::vector<std::string> types;
    for (const MessagePart& part : message.parts) {
        types.push_back(part.field("content-type"));
    }
    return types;
}

TEST(BuildMessage, PageThenResourcesWithTheirTypesNamesAndEncodings) {
    TempDir dir;
    dir.write("a.gif", kGif);
    dir.write("b.jpg", kJpeg);
    dir.write("c.png", kPng);
    dir.write("d.jpg", kExifJpeg);
    dir.write("page.htm", "<html><head><title>Pictures</title></head>\n"
                          "<body><img src=a.gif><img src=\"b.jpg\"><img src='c.png'>"
                          "<img src=d.jpg><img src=A.GIF></body></html>");
    DialogConverter run;
    const ReadMessage message = run.convert(dir.file("page.htm"));
    ASSERT_TRUE(message.valid);
    ASSERT_EQ(message.parts.size(), 5u);

    const std::vector<std::string> expectedTypes{
        "text/html; charset=\"iso-8859-1\"",
        "image/gif;\r\n\tname=\"vt0-a.gif\"",
        "image/jpeg;\r\n\tname=\"vt1-b.jpg\"",
        "image/png;\r\n\tname=\"vt2-c.png\"",
        // EXIF is no JPEG marker the sniffing knows; the extension decides.
        "image/jpeg;\r\n\tname=\"vt3-d.jpg\"",
    };
    EXPECT_EQ(typesOf(message), expectedTypes);

    const MessagePart& page = message.parts[0];
    EXPECT_EQ(page.field("content-transfer-encoding"), "quoted-printable");
    EXPECT_EQ(page.field("Content-Location"), "");
    EXPECT_EQ(page.header.find("Content-ID"), std::string::npos);
    const std::string html = page.decoded();
    EXPECT_NE(html.find("<title>Pictures</title><META http-equiv=\"Content-Type\" "
                        "content=\"text/html;charset=iso-8859-1\">"),
              std::string::npos);

    const std::string bytes[] = {kGif, kJpeg, kPng, kExifJpeg};
    for (size_t i = 1; i < message.parts.size(); ++i) {
        const MessagePart& part = message.parts[i];
        // Content-type first, the transfer encoding set last.
        EXPECT_EQ(part.header.rfind("content-type: ", 0), 0u);
        EXPECT_NE(part.header.find("\r\nContent-ID: <VANTREL-CID-"), std::string::npos);
        EXPECT_GT(part.header.find("content-transfer-encoding: base64"),
                  part.header.find("Content-ID"));
        EXPECT_EQ(part.decoded(), bytes[i - 1]);
    }

    // Every reference finds exactly one part; A.GIF shares a.gif's part.
    const std::vector<std::string> ids = referencedContentIds(html);
    ASSERT_EQ(ids.size(), 5u);
    EXPECT_EQ(ids[0], ids[4]);
    for (const std::string& id : ids) {
        EXPECT_NE(message.partWithContentId(id), nullptr) << id;
    }
}

TEST(BuildMessage, RootFieldsInOrder) {
    TempDir dir;
    dir.write("page.htm", "<title>T</title>");
    DialogConverter run;
    run.converter.m_to.setString("someone@example.com");
    run.converter.m_from.setString("me@example.com");
    const ReadMessage message = run.convert(dir.file("page.htm"));
    const std::vector<std::string> names{"content-type", "MIME-Version", "Subject", "To",
                                         "From",         "X-Unsent",     "Date",    "Message-ID"};
    EXPECT_EQ(message.fieldNames(), names);
    EXPECT_EQ(message.field("content-type")
                  .rfind("multipart/related; type=\"text/html\";\r\n\t"
                         "boundary=\"----=_NextPart_",
                         0),
              0u);
    EXPECT_EQ(message.field("MIME-Version"), "1.0");
    EXPECT_EQ(message.field("X-Unsent"), "1");
    EXPECT_EQ(message.field("To"), "someone@example.com");
    EXPECT_EQ(message.field("Date").size(), 31u);
    const std::string id = message.field("Message-ID");
    EXPECT_EQ(id.size() > 40 ? id.substr(37, 1) + id.substr(id.size() - 1) : id, "@>") << id;
    const std::string text(run.out.getString(), static_cast<size_t>(run.out.getSize()));
    EXPECT_NE(text.find("\r\n\r\nThis is a multi-part message in MIME format.\r\n\r\n--"),
              std::string::npos);
}

TEST(BuildMessage, NoUnsentNoToNoFromWhenNotAsked) {
    TempDir dir;
    dir.write("page.htm", "<title>T</title>");
    DialogConverter run;
    run.converter.m_markUnsent = false;
    const ReadMessage message = run.convert(dir.file("page.htm"));
    const std::vector<std::string> names{"content-type", "MIME-Version", "Subject", "Date",
                                         "Message-ID"};
    EXPECT_EQ(message.fieldNames(), names);
}

struct SubjectCase {
    const char* page;
    const char* subjectOption;
    const char* subject;
    const char* htmlCharset;
};

TEST(BuildMessage, SubjectFollowsTheCharset) {
    const SubjectCase cases[] = {
        {"<title>Plain</title>", "", "=?iso-8859-1?Q?Plain?=", "iso-8859-1"},
        {"<meta charset=\"utf-8\"><title>Plain</title>", "", "Plain", "utf-8"},
        {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">"
         "<title>Caf\xc3\xa9</title>",
         "", "=?UTF-8?Q?Caf=C3=A9?=", "UTF-8"},
        // Read as browsers read such a page; not 7-bit, so not left raw.
        {"<meta charset=\"us-ascii\"><title>Caf\xe9</title>", "",
         "=?utf-8?Q?Caf=C3=A9?=", "us-ascii"},
        {"<meta charset=\"big5\"><title>Hi</title>", "", "=?big5?B?SGk=?=", "big5"},
        {"<p>no title</p>", "", "=?iso-8859-1?Q?localhost?=", "iso-8859-1"},
        {"<title></title>", "", "=?iso-8859-1?Q?localhost?=", "iso-8859-1"},
        {"<meta charset=\"utf-8\"><title>Page</title>", "Chosen", "Chosen", "utf-8"},
        // The title a browser shows: references decoded, controls collapsed.
        {"<title>\n  Caf\xe9\t&amp;\x07 more\x1b </title>", "",
         "=?iso-8859-1?Q?Caf=E9_&_more?=", "iso-8859-1"},
        {"<title>A &amp; B &#8212; C&eacute;</title>", "",
         "=?utf-8?Q?A_&_B_=E2=80=94_C=C3=A9?=", "iso-8859-1"},
        {"<meta charset=\"utf-8\"><title> a\r\nb&#10;</title>", "", "a b", "utf-8"},
        {"<meta charset=\"shift_jis\"><title>\x93\xfa</title>", "",
         "=?shift_jis?B?k/o=?=", "shift_jis"},
        {"<title> &#32;&#9; </title>", "", "=?iso-8859-1?Q?localhost?=", "iso-8859-1"},
        // What the user typed is UTF-8 whatever the page's charset.
        {"<title>Page</title>", "Chosen\r\nBcc: x@y", "Chosen Bcc: x@y", "iso-8859-1"},
        {"<title>Page</title>", "Gr\xc3\xbc\xc3\x9f", "=?utf-8?Q?Gr=C3=BC=C3=9F?=", "iso-8859-1"},
    };
    for (const SubjectCase& c : cases) {
        TempDir dir;
        dir.write("page.htm", c.page);
        DialogConverter run;
        run.converter.m_subject.setString(c.subjectOption);
        const ReadMessage message = run.convert(dir.file("page.htm"));
        EXPECT_EQ(message.field("Subject"), c.subject) << c.page;
        ASSERT_FALSE(message.parts.empty());
        EXPECT_EQ(message.parts[0].field("content-type"),
                  std::string("text/html; charset=\"") + c.htmlCharset + "\"")
            << c.page;
    }
}

TEST(BuildMessage, ResourceMessagesStandInTheirContexts) {
    TempDir dir;
    dir.write("a.gif", kGif);
    dir.write("x.js", "var x;");
    dir.write("skip.gif", kGif);
    dir.write("page.htm", "<frame src=\"f.gif\"><img src=skip.gif><img src=gone.gif>"
                          "<input type=image src=x.js><img src=a.gif>");
    DialogConverter run;
    run.converter.addExclude("skip");
    const ReadMessage message = run.convert(dir.file("page.htm"));
    ASSERT_EQ(message.parts.size(), 2u);

    std::vector<std::string> lines;
    bool inside = false;
    for (const std::string& line : run.log.lines()) {
        if (line == "enter: external_content") {
            inside = true;
        }
        if (inside && line.rfind("data: contentCID=", 0) != 0) {
            lines.push_back(line);
        }
        if (line == "leave") {
            inside = false;
        }
    }
    const std::string cwd = std::filesystem::canonical(dir.path()).string();
    const std::vector<std::string> expected{
        "enter: external_content",
        "data: contentLocation=f.gif",
        "info: Skipping content because it is not referenced in the HTML.",
        "leave",
        "enter: external_content",
        "data: contentLocation=skip.gif",
        "info: Skipping because explicitly excluded.",
        "leave",
        "enter: external_content",
        "data: contentLocation=gone.gif",
        "error: No such file or directory",
        "data: filename=gone.gif",
        "data: current_dir=" + cwd,
        "error: Failed to download or include external content.",
        "leave",
        "enter: external_content",
        "data: contentLocation=a.gif",
        "info: Successfully added content",
        "data: content_type=image/gif",
        "leave",
        "enter: external_content",
        "data: contentLocation=x.js",
        "info: Not including because this is a script.",
        "leave",
    };
    EXPECT_EQ(lines, expected);
}

TEST(BuildMessage, ScriptsKeptBecomeQuotedPrintableParts) {
    TempDir dir;
    dir.write("x.js", "var x = 1;\r\n");
    dir.write("page.htm", "<script src=\"x.js\"></script><p>hi</p>");
    DialogConverter run;
    run.converter.m_keepScripts = true;
    run.converter.m_scriptsOverNoscript = true;
    const ReadMessage message = run.convert(dir.file("page.htm"));
    ASSERT_EQ(message.parts.size(), 2u);
    const MessagePart& script = message.parts[1];
    EXPECT_EQ(script.field("content-type"), "application/octet-stream;\r\n\tname=\"vt0-x.js\"");
    EXPECT_EQ(script.field("content-transfer-encoding"), "quoted-printable");
    EXPECT_EQ(script.decoded(), "var x = 1;\r\n");
}

TEST(BuildMessage, StyleSheetPartsGetTheirCharset) {
    TempDir dir;
    dir.write("s.css", "p { color: red }");
    dir.write("page.htm", "<img src=\"s.css\">");
    DialogConverter run;
    const ReadMessage message = run.convert(dir.file("page.htm"));
    ASSERT_EQ(message.parts.size(), 2u);
    EXPECT_EQ(message.parts[1].field("content-type"),
              "text/css; charset=\"iso-8859-1\";\r\n\tname=\"vt0-s.css\"");
    EXPECT_EQ(message.parts[1].field("content-transfer-encoding"), "quoted-printable");
}

TEST(Frames, FramesetFramesComeAfterTheirOwnResources) {
    TempDir dir;
    dir.write("a.gif", kGif);
    dir.write("b.gif", kGif + "b");
    dir.write("page.htm", "<html><head><title>Set</title></head>"
                          "<frameset cols=\"50%,50%\"><frame src=\"left.htm\">"
                          "<frame src=\"sub/right.htm\"></frameset></html>");
    dir.write("left.htm", "<html><title>L</title><body><img src=\"a.gif\"></body></html>");
    dir.write("sub/right.htm", "<title>R</title><body><img src=\"../b.gif\"></body>");
    DialogConverter run;
    const std::string before = workingDirectory();
    const ReadMessage message = run.convert(dir.file("page.htm"));
    EXPECT_EQ(workingDirectory(), before);
    ASSERT_EQ(message.parts.size(), 5u);

    EXPECT_EQ(message.parts[1].field("content-type"), "image/gif;\r\n\tname=\"vt0-a.gif\"");
    EXPECT_EQ(message.parts[2].field("content-type"),
              "text/html; charset=\"us-ascii\";\r\n\tname=\"vt0-left.htm\"");
    EXPECT_EQ(message.parts[2].field("Content-Location"), "left.htm");
    EXPECT_EQ(message.parts[3].decoded(), kGif + "b");
    EXPECT_EQ(message.parts[4].field("Content-Location"), "sub/right.htm");
    EXPECT_EQ(message.parts[4].field("content-transfer-encoding"), "quoted-printable");

    const std::string page = message.parts[0].decoded();
    EXPECT_NE(page.find("<frame src=\"left.htm\">"), std::string::npos);
    EXPECT_NE(page.find("<frame src=\"sub/right.htm\">"), std::string::npos);
    for (size_t i : {2u, 4u}) {
        const std::string frame = message.parts[i].decoded();
        EXPECT_NE(frame.find("charset=iso-8859-1\">"), std::string::npos);
        for (const std::string& id : referencedContentIds(frame)) {
            EXPECT_NE(message.partWithContentId(id), nullptr);
        }
        EXPECT_EQ(referencedContentIds(frame).size(), 1u);
    }
}

TEST(Frames, AResourceSharedWithAFrameTravelsOnce) {
    TempDir dir;
    dir.write("a.gif", kGif);
    dir.write("page.htm", "<frameset><frame src=\"f.htm\"></frameset><img src=\"a.gif\">");
    dir.write("f.htm", "<img src=\"a.gif\"><img src=\"A.gif\">");
    DialogConverter run;
    const ReadMessage message = run.convert(dir.file("page.htm"));
    ASSERT_EQ(message.parts.size(), 3u);
    int gifParts = 0;
    for (const MessagePart& part : message.parts) {
        gifParts += part.field("content-type").rfind("image/gif", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(gifParts, 1);
    for (const MessagePart& part : message.parts) {
        if (part.field("content-type").rfind("text/html", 0) == 0) {
            for (const std::string& id : referencedContentIds(part.decoded())) {
                EXPECT_NE(message.partWithContentId(id), nullptr) << id;
            }
        }
    }
}

// The same relative address in documents of different directories names
// different files: each reference finds a part with its own file's bytes.
TEST(Frames, TheSameRelativeAddressInAnotherDirectoryIsAnotherPart) {
    TempDir dir;
    dir.write("img/a.gif", kGif + "page");
    dir.write("sub/img/a.gif", kGif + "frame");
    dir.write("page.htm", "<frameset><frame src=\"sub/f.htm\"><noframes>"
                          "<img src=\"img/a.gif\"></noframes></frameset>");
    dir.write("sub/f.htm", "<img src=\"img/a.gif\">");
    DialogConverter run;
    const ReadMessage message = run.convert(dir.file("page.htm"));
    ASSERT_EQ(message.parts.size(), 4u);
    const struct {
        size_t part;
        std::string image;
    } documents[] = {{0u, kGif + "page"}, {2u, kGif + "frame"}};
    for (const auto& document : documents) {
        const std::vector<std::string> ids =
            referencedContentIds(message.parts[document.part].decoded());
        ASSERT_EQ(ids.size(), 1u) << document.part;
        const MessagePart* image = message.partWithContentId(ids[0]);
        ASSERT_NE(image, nullptr) << document.part;
        EXPECT_EQ(image->decoded(), document.image);
    }
}

TEST(Frames, NestAtMostTenDeep) {
    TempDir dir;
    for (int i = 0; i <= 12; ++i) {
        dir.write("f" + std::to_string(i) + ".htm",
                  "<frameset><frame src=\"f" + std::to_string(i + 1) + ".htm\"></frameset>");
    }
    DialogConverter run;
    const ReadMessage message = run.convert(dir.file("f0.htm"));
    // The page and frames f1 to f10.
    EXPECT_EQ(message.parts.size(), 11u);
    EXPECT_EQ(std::count(run.log.lines().begin(), run.log.lines().end(),
                         "info: Skipping frame: nested too deeply"),
              1);
    EXPECT_EQ(message.parts.back().field("Content-Location"), "f1.htm");
}

TEST(Frames, AFrameReferencingItselfEndsAtTheDepthLimit) {
    TempDir dir;
    dir.write("page.htm", "<frameset><frame src=\"self.htm\"></frameset>");
    dir.write("self.htm", "<frameset><frame src=\"self.htm\"><frame src=\"two.htm\"></frameset>");
    dir.write("two.htm", "<frameset><frame src=\"self.htm\"></frameset>");
    DialogConverter run;
    const ReadMessage message = run.convert(dir.file("page.htm"));
    // self.htm and two.htm each travel once: a URL gets one part.
    EXPECT_EQ(message.parts.size(), 3u);
    EXPECT_TRUE(message.valid);
}

TEST(Frames, DumpFilesNumberTheFrames) {
    TempDir dir;
    dir.write("page.htm", "<frameset><frame src=\"a.htm\"><frame src=\"b.htm\"></frameset>");
    dir.write("a.htm", "<frameset><frame src=\"c.htm\"></frameset>");
    dir.write("b.htm", "<p>b</p>");
    dir.write("c.htm", "<p>c</p>");
    DialogConverter run;
    run.converter.m_dumpResult = true;
    run.converter.m_resultDumpFile.setString("result.html");
    run.converter.m_dumpSource = true;
    run.converter.m_sourceDumpFile.setString(dir.file("source.html").c_str());
    run.convert(dir.file("page.htm"));
    EXPECT_EQ(readWholeFile(dir.file("source.html")),
              "<frameset><frame src=\"a.htm\"><frame src=\"b.htm\"></frameset>");
    EXPECT_NE(readWholeFile(dir.file("result.html")).find("<frame src=\"b.htm\">"),
              std::string::npos);
    EXPECT_EQ(readWholeFile(dir.file("beforeFrame_1.html")),
              "<frameset><frame src=\"c.htm\"></frameset>");
    EXPECT_EQ(readWholeFile(dir.file("beforeFrame_2.html")), "<p>c</p>");
    EXPECT_EQ(readWholeFile(dir.file("beforeFrame_3.html")), "<p>b</p>");
    EXPECT_NE(readWholeFile(dir.file("afterFrame_1.html")).find("<frame src=\"c.htm\">"),
              std::string::npos);
    EXPECT_NE(readWholeFile(dir.file("afterFrame_2.html")).find("<p>c</p>"), std::string::npos);
    EXPECT_NE(readWholeFile(dir.file("afterFrame_3.html")).find("<p>b</p>"), std::string::npos);
}

TEST(Frames, AFrameOfABinaryFileIsEmpty) {
    TempDir dir;
    dir.write("page.htm", "<frameset><frame src=\"bin.htm\"></frameset>");
    dir.write("bin.htm", std::string("\0<p>after a NUL</p>", 19));
    DialogConverter run;
    const ReadMessage message = run.convert(dir.file("page.htm"));
    ASSERT_EQ(message.parts.size(), 2u);
    EXPECT_EQ(message.parts[1].field("Content-Location"), "bin.htm");
    EXPECT_EQ(message.parts[1].decoded(), "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 "
                                          "Transitional//EN\">");
}

TEST(ProcessDocument, AFrameHandsItsHtmlBack) {
    Mhtml converter;
    converter.resetContexts();
    converter.m_charset.setString("utf-8");
    StringBuffer html("  <title>F</title><p>text</p>  ");
    StringBuffer frameOut("old");
    MimeMessage2 root;
    root.initMultipartRelated();
    EXPECT_TRUE(converter.processDocument(html, frameOut, true, &root));
    EXPECT_STREQ(frameOut.getString(), "<title>F</title><META http-equiv=\"Content-Type\" "
                                       "content=\"text/html;charset=utf-8\"><p>text</p>");
    EXPECT_EQ(root.parts.getSize(), 0);
}

TEST(ProcessDocument, ThePageLeavesTheDocumentOutputAlone) {
    Mhtml converter;
    converter.resetContexts();
    StringBuffer html("<p>text</p>");
    StringBuffer out("kept");
    MimeMessage2 root;
    root.initMultipartRelated();
    EXPECT_TRUE(converter.processDocument(html, out, false, &root));
    EXPECT_STREQ(out.getString(), "kept");
    EXPECT_EQ(root.parts.getSize(), 1);
    EXPECT_STREQ(converter.m_charset.getString(), "iso-8859-1");
}

struct TitleCase {
    const char* html;
    const char* title;
};

TEST(PageTitle, TextBetweenTheTitleTags) {
    const TitleCase cases[] = {
        {"<TITLE>Upper</TITLE>", "Upper"},      {"<title> spaced \n out </title>", "spaced out"},
        {"<title>a &amp; b</title>", "a & b"},  {"<title>unclosed", "http://host/dir"},
        {"<title></title>", "http://host/dir"}, {"<title lang=en>x</title>", "http://host/dir"},
        {"no title", "http://host/dir"},
    };
    for (const TitleCase& c : cases) {
        Mhtml converter;
        converter.resetContexts();
        converter.setBaseAndRoot("http://host/dir/page.html");
        StringBuffer out("S:");
        converter.pageTitle(StringBuffer(c.html), out);
        EXPECT_EQ(std::string(out.getString()), std::string("S:") + c.title) << c.html;
    }
}

TEST(BuildMessage, BaseHrefTakesOverTheBaseUrl) {
    TempDir dir;
    dir.write("page.htm", "<base href=\"http://127.0.0.1:1/site/\"><a href=\"x.htm\">x</a>"
                          "<img src=\"pic.gif\">");
    DialogConverter run;
    const ReadMessage message = run.convert(dir.file("page.htm"));
    ASSERT_EQ(message.parts.size(), 1u);
    const std::string html = message.parts[0].decoded();
    EXPECT_NE(html.find("href=\"http://127.0.0.1:1/site/x.htm\""), std::string::npos);
    // No longer local: the image was asked for at the base, and failed.
    EXPECT_TRUE(run.log.has("data: contentLocation=http://127.0.0.1:1/site/pic.gif"));
    EXPECT_TRUE(run.log.has("error: Failed to download or include external content."));
}

} // namespace
