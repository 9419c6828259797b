#include "MessageReader.h"

#include "convert/Mhtml.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Whole conversions of a local page, with the complete mode on and off.
class CompleteConversionTest : public ::testing::Test {
protected:
    CompleteConversionTest() {
        m_dir.write("fonts/f.woff2", m_woff2);
        m_dir.write("fonts/f.woff", "wOFF" + std::string(20, '\x02'));
        m_dir.write("fonts/f.ttf", std::string("\x00\x01\x00\x00", 4) + std::string(20, 'x'));
        m_dir.write("img/a.gif", m_gifA);
        m_dir.write("img/b.gif", m_gifB);
        m_dir.write("css/all.css", "@font-face{font-family:F;src:url(../fonts/f.ttf),"
                                   "url(../fonts/f.woff2) format('woff2'),url(../fonts/f.woff)}\n"
                                   "body{background:url(../img/a.gif)}");
        m_dir.write("page.htm",
                    "<html><head><title>Complete</title><meta http-equiv=refresh content=1>"
                    "<style>@import url(css/all.css);</style></head><body>"
                    "<p style=\"background:url(img/b.gif)\">x</p>"
                    "<img data-src=img/a.gif><img src=img/a.gif srcset=\"img/b.gif 2x\" "
                    "sizes=10vw></body></html>");
    }

    ReadMessage convert(bool complete) {
        Mhtml converter;
        converter.m_keepScripts = false;
        converter.m_scriptsOverNoscript = false;
        converter.m_markUnsent = true;
        converter.m_completePage = complete;
        StringBuffer out;
        EXPECT_TRUE(converter.convertFile(m_dir.file("page.htm").c_str(), "localhost", out));
        return readMessage(std::string(out.getString(), static_cast<size_t>(out.getSize())));
    }

    const std::string m_woff2 = "wOF2" + std::string(20, '\x01');
    const std::string m_gifA = "GIF89a" + std::string(10, '\x03');
    const std::string m_gifB = "GIF89a" + std::string(10, '\x04');
    TempDir m_dir;
};

TEST_F(CompleteConversionTest, EveryReferenceFindsOnePartAndFontsAreOne) {
    const ReadMessage message = convert(true);
    ASSERT_TRUE(message.valid);
    const std::string html = message.parts[0].decoded();
    EXPECT_EQ(html.find("refresh"), std::string::npos) << html;
    EXPECT_EQ(html.find("@import"), std::string::npos) << html;
    EXPECT_EQ(html.find("sizes="), std::string::npos) << html;

    std::vector<std::string> types;
    std::vector<std::string> bodies;
    for (size_t i = 1; i < message.parts.size(); ++i) {
        types.push_back(message.parts[i].field("content-type"));
        bodies.push_back(message.parts[i].decoded());
    }
    // In the order of first reference: the imported sheet's font and
    // background (named from the sheet's directory, so a part of its own),
    // the image, the srcset candidate (also the style attribute's).
    EXPECT_EQ(types, (std::vector<std::string>{"font/woff2;\r\n\tname=\"vt0-f.woff2\"",
                                               "image/gif;\r\n\tname=\"vt1-a.gif\"",
                                               "image/gif;\r\n\tname=\"vt2-a.gif\"",
                                               "image/gif;\r\n\tname=\"vt3-b.gif\""}));
    EXPECT_EQ(bodies, (std::vector<std::string>{m_woff2, m_gifA, m_gifA, m_gifB}));
    EXPECT_EQ(message.parts[1].field("content-transfer-encoding"), "base64");
    EXPECT_NE(html.find("<p style=\"background:url(cid:"), std::string::npos) << html;
    for (const std::string& id : referencedContentIds(html)) {
        EXPECT_NE(message.partWithContentId(id), nullptr) << id;
    }
}

TEST_F(CompleteConversionTest, OffLeavesEveryNewReferenceAsItWas) {
    const ReadMessage message = convert(false);
    ASSERT_TRUE(message.valid);
    const std::string html = message.parts[0].decoded();
    for (const char* kept :
         {"@import url(css/all.css);", "<meta http-equiv=refresh content=1>",
          "style=\"background:url(img/b.gif)\"", "srcset=\"img/b.gif 2x\"", "sizes=\"10vw\""}) {
        EXPECT_NE(html.find(kept), std::string::npos) << kept << "\n" << html;
    }
    ASSERT_EQ(message.parts.size(), 2u);
    EXPECT_EQ(message.parts[1].field("content-type"), "image/gif;\r\n\tname=\"vt0-a.gif\"");
}

} // namespace
