#include "convert/ThunderbirdDraft.h"

#include "foundation/StringBuffer.h"
#include "mime/MimeMessage2.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// "PNG" and "GIF" in base64.
const std::string kPng = "data:image/png;base64,UE5H";
const std::string kGif = "data:image/gif;base64,R0lG";

void addPart(MimeMessage2& root, const char* type, const char* contentId, const char* body) {
    auto part = std::make_unique<MimeMessage2>();
    part->setContentType(type);
    if (contentId != nullptr) {
        part->setHeaderField("Content-ID", contentId);
    }
    part->setBodyBytes(body, static_cast<int>(std::string(body).size()), "base64");
    root.addPart(part.release());
}

// The page's part, two pictures and a frame document that names "c".
void makeMessage(MimeMessage2& root) {
    root.initMultipartRelated();
    addPart(root, "text/html", nullptr, "");
    addPart(root, "image/png", "<pic-a>", "PNG");
    addPart(root, "image/gif", "<pic-b>", "GIF");
    addPart(root, "image/gif", "<pic-c>", "GIF");
    addPart(root, "text/html", "<frame>", "<img src=\"cid:pic-c\">");
}

std::vector<std::string> contentIds(const MimeMessage2& root) {
    std::vector<std::string> ids;
    for (int i = 0; i < root.getPartCount(); ++i) {
        const std::string id = root.getPart(i)->getContentId();
        if (!id.empty()) {
            ids.push_back(id);
        }
    }
    return ids;
}

struct DraftCase {
    const char* name;
    std::string html;
    std::string expected;
    std::vector<std::string> partsLeft;
};

TEST(ThunderbirdDraft, PicturesOfCssAndCellsTravelAsDataAndMediaBlocksAsElements) {
    const std::vector<std::string> all = {"<pic-a>", "<pic-b>", "<pic-c>", "<frame>"};
    const std::vector<DraftCase> cases = {
        {"a style element and a style attribute; the parts go",
         "<style>p{background:url(cid:pic-a)}</style><p style=\"background:url('cid:pic-b')\">",
         "<style>p{background:url(" + kPng + ")}</style><p style=\"background:url(" + kGif + ")\">",
         {"<pic-c>", "<frame>"}},
        {"an img keeps its part",
         "<style>p{background:url(cid:pic-a)}</style><img src=\"cid:pic-a\">",
         "<style>p{background:url(" + kPng + ")}</style><img src=\"cid:pic-a\">", all},
        {"a frame document keeps its part", "<p style=\"background:url(cid:pic-c)\">",
         "<p style=\"background:url(" + kGif + ")\">", all},
        {"cell and table backgrounds move into the style, in front of it",
         "<table background=\"cid:pic-a\"><tr><TD class=\"x\" BACKGROUND=\"cid:pic-b\" "
         "style=\"color:red\"><th background=\"http://h/t.png\">",
         "<table style=\"background-image:url(" + kPng +
             ")\"><tr><TD class=\"x\" style=\"background-image:url(" + kGif +
             ");color:red\"><th background=\"http://h/t.png\">",
         {"<pic-c>", "<frame>"}},
        {"body and img stay cid:", "<body background=\"cid:pic-a\"><img src=\"cid:pic-b\">",
         "<body background=\"cid:pic-a\"><img src=\"cid:pic-b\">", all},
        {"@media blocks become style elements in order",
         "<style type=\"text/css\">a{x:1}@media (max-width:600px){a{x:2}}b{y:1}</style>",
         "<style type=\"text/css\">a{x:1}</style><style media=\"(max-width:600px)\" "
         "type=\"text/css\">a{x:2}</style><style type=\"text/css\">b{y:1}</style>",
         all},
        {"a style element's own media narrows its blocks",
         "<style media=\"screen\">@media print, (x:1){a{b:c}}</style>",
         "<style media=\"screen and (x:1)\">a{b:c}</style>", all},
        {"an unquoted media attribute gives way",
         "<style media=screen>p{x:1}@media (x:1){a{b:c}}</style>",
         "<style media=screen>p{x:1}</style><style media=\"screen and (x:1)\">a{b:c}</style>", all},
        {"a not query stays a block", "<style media=\"not print\">@media (x:1){a{b:c}}</style>",
         "<style media=\"not print\">@media (x:1) {a{b:c}}</style>", all},
        {"text, comments and scripts stay",
         "<p>url(cid:pic-a) @media x{}</p><!-- <td background=\"cid:pic-a\"> --><script>"
         "s='<td background=\"cid:pic-a\">'</script>",
         "<p>url(cid:pic-a) @media x{}</p><!-- <td background=\"cid:pic-a\"> --><script>"
         "s='<td background=\"cid:pic-a\">'</script>",
         all},
    };
    for (const DraftCase& c : cases) {
        MimeMessage2 root;
        makeMessage(root);
        StringBuffer html(c.html.c_str());
        ThunderbirdDraft(root).adapt(html);
        EXPECT_EQ(std::string(html.getString()), c.expected) << c.name;
        EXPECT_EQ(contentIds(root), c.partsLeft) << c.name;
    }
}

} // namespace
