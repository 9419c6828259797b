#include "PassTestSupport.h"

#include "convert/Mhtml.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kDoctype = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">";

struct TextCase {
    const char* name;
    std::string input;
    Mode mode;
    std::string expected;
};

void expectStep(const std::vector<TextCase>& cases, void (Mhtml::*step)(StringBuffer&)) {
    for (const TextCase& c : cases) {
        Mhtml converter;
        configure(converter, c.mode);
        StringBuffer html;
        html.appendBytes(c.input.data(), static_cast<int>(c.input.size()));
        (converter.*step)(html);
        EXPECT_EQ(std::string(html.getString()), c.expected) << c.name;
    }
}

TEST(NormaliseTags, CarriageReturnsTrimAndCaseTable) {
    expectStep(
        {
            {"mail-safe turns CR into blanks", "  <BODY>\r\n<IMG SRC=a>\r\n  ", Mode::MailSafe,
             "<body> \n<img SRC=a>"},
            {"keep mode keeps inner CRs", "\r\n<BODY>\r\n<P>\r\n", Mode::KeepScripts,
             "<body>\r\n<P>"},
            {"mixed case stays", "<Img src=x><Body><TaBlE>", Mode::KeepScripts,
             "<Img src=x><Body><TaBlE>"},
            {"image becomes img", "<IMAGE src=y><image src=z><IMG>", Mode::KeepScripts,
             "<img src=y><img src=z><img>"},
            {"text ends at its first NUL", std::string("<BODY>a\0<IMG>", 13), Mode::MailSafe,
             "<body>a"},
        },
        &Mhtml::normaliseTags);
}

TEST(NormaliseTags, EveryRowOfTheTable) {
    const char* rows[][2] = {
        {"<BODY", "<body"},
        {"<FRAME", "<frame"},
        {"<TABLE", "<table"},
        {"<TD", "<td"},
        {"<IFRAME", "<iframe"},
        {"<NOSCRIPT", "<noscript"},
        {"<SCRIPT", "<script"},
        {"</IFRAME", "</iframe"},
        {"</NOSCRIPT", "</noscript"},
        {"</SCRIPT", "</script"},
        {"</TITLE", "</title"},
        {"<TITLE", "<title"},
        {"<INPUT", "<input"},
        {"<IMG", "<img"},
        {"<IMAGE", "<img"},
        {"<image", "<img"},
        {"<LINK", "<link"},
        {"BACKGROUND-IMAGE", "background-image"},
        {"<V:", "<v:"},
    };
    for (const auto& row : rows) {
        Mhtml converter;
        StringBuffer html((std::string("x") + row[0] + " y " + row[0] + "z").c_str());
        converter.normaliseTags(html);
        EXPECT_EQ(std::string(html.getString()), std::string("x") + row[1] + " y " + row[1] + "z")
            << row[0];
    }
}

TEST(DecideNoScripts, ForcedOrNoscriptWithoutPreference) {
    struct Case {
        bool force;
        bool scriptsOverNoscript;
        const char* html;
        bool expected;
    };
    const Case cases[] = {
        {false, true, "<noscript>x</noscript>", false},
        {false, false, "<noscript>x</noscript>", true},
        {false, false, "<NOSCRIPT>x</NOSCRIPT>", false}, // matched case-sensitively
        {false, false, "<noscript class=a>", false},
        {true, true, "plain", true},
        {false, false, "plain", false},
    };
    for (const Case& c : cases) {
        Mhtml converter;
        converter.m_forceNoScripts = c.force;
        converter.m_scriptsOverNoscript = c.scriptsOverNoscript;
        converter.m_noScripts = !c.expected;
        converter.decideNoScripts(StringBuffer(c.html));
        EXPECT_EQ(converter.m_noScripts, c.expected) << c.html;
    }
}

TEST(AddDoctype, OnlyDocumentsWithoutOne) {
    expectStep(
        {
            {"plain page", "<html><body>x", Mode::MailSafe, kDoctype + "<html><body>x"},
            {"empty page", "", Mode::MailSafe, kDoctype},
            {"own doctype", "<!DOCTYPE html><html>", Mode::MailSafe, "<!DOCTYPE html><html>"},
            {"lower-case doctype", "<!doctype html>", Mode::MailSafe, "<!doctype html>"},
            {"xml declaration first", "<?xml version=\"1.0\"?>\n<!DOCTYPE html PUBLIC \"x\">",
             Mode::MailSafe, "<?xml version=\"1.0\"?>\n<!DOCTYPE html PUBLIC \"x\">"},
            {"xml declaration alone", "<?xml version=\"1.0\"?><html>", Mode::MailSafe,
             kDoctype + "<?xml version=\"1.0\"?><html>"},
            {"comment first", "<!-- c --><!DOCTYPE html>", Mode::MailSafe,
             kDoctype + "<!-- c --><!DOCTYPE html>"},
        },
        &Mhtml::addDoctype);
}

TEST(ExtractStyles, BlocksBehindPlaceholdersWithBackgroundsRewritten) {
    Mhtml converter;
    configure(converter, Mode::MailSafe);
    StringBuffer html("a<style><!-- body{background-image:url(bg.gif)} --></style>b"
                      "<STYLE type=x>p{}</STYLE>c");
    ExtPtrArray styles;
    converter.extractStyles(html, styles);
    EXPECT_STREQ(html.getString(), "a<vantrel_style>b<vantrel_style>c");
    ASSERT_EQ(styles.getSize(), 2);
    EXPECT_EQ(
        numberContentIds(converter, static_cast<StringBuffer*>(styles.elementAt(0))->getString()),
        "<style><!-- body{background-image:url(cid:CID0)} --></style>");
    EXPECT_STREQ(static_cast<StringBuffer*>(styles.elementAt(1))->getString(),
                 "<STYLE type=x>p{}</STYLE>");
    EXPECT_EQ(resourceUrls(converter), std::vector<std::string>{"http://host/dir/bg.gif"});

    converter.restoreStyles(html, styles);
    EXPECT_EQ(styles.getSize(), 0);
    EXPECT_EQ(numberContentIds(converter, html.getString()),
              "a<style><!-- body{background-image:url(cid:CID0)} --></style>b"
              "<STYLE type=x>p{}</STYLE>c");
}

TEST(ExtractStyles, UnclosedBlocks) {
    const TextCase cases[] = {
        {"no end marker", "<style>a{} <b>rest", Mode::MailSafe, "<style>a{} <b>rest"},
        {"no end and no >", "x<style", Mode::MailSafe, "x<style"},
        {"closed then unclosed", "<style>a</style> x <style>b", Mode::MailSafe,
         "<vantrel_style> x <style>b"},
        {"unclosed twice", "<style>a<style>b", Mode::MailSafe, "<style>a<style>b"},
    };
    for (const TextCase& c : cases) {
        Mhtml converter;
        StringBuffer html(c.input.c_str());
        ExtPtrArray styles;
        converter.extractStyles(html, styles);
        EXPECT_EQ(std::string(html.getString()), c.expected) << c.name;
        styles.removeAllObjects();
    }
}

TEST(RestoreStyles, OnePassInOrder) {
    Mhtml converter;
    ExtPtrArray blocks;
    blocks.appendObject(new StringBuffer("<style>a<vantrel_style></style>"));
    blocks.appendObject(new StringBuffer("<style>2</style>"));
    StringBuffer html("<vantrel_style>|<vantrel_style>|<vantrel_style>");
    converter.restoreStyles(html, blocks);
    // A placeholder text inside a restored block is not taken for another.
    EXPECT_STREQ(html.getString(),
                 "<style>a<vantrel_style></style>|<style>2</style>|<vantrel_style>");
    EXPECT_EQ(blocks.getSize(), 0);
}

TEST(ExtractScripts, KeptOrDropped) {
    struct Case {
        const char* name;
        const char* input;
        Mode mode;
        const char* expectedHtml;
        int expectedBlocks;
    };
    const Case cases[] = {
        {"mail-safe drops", "a<script src=x.js></script>b", Mode::MailSafe, "ab", 0},
        {"keep keeps", "a<script src=x.js></script>b", Mode::KeepScripts, "a<vantrel_script>b", 1},
        {"noscript page drops", "a<SCRIPT>x</Script>b", Mode::NoScripts, "ab", 0},
        {"unclosed stays", "<script>var a = 1 > 0; more", Mode::MailSafe,
         "<script>var a = 1 > 0; more", 0},
        {"closed then unclosed", "<script>a</script><script>b", Mode::MailSafe, "<script>b", 0},
        {"several kept", "<script>1</script>-<script>2</script>", Mode::KeepScripts,
         "<vantrel_script>-<vantrel_script>", 2},
    };
    for (const Case& c : cases) {
        Mhtml converter;
        configure(converter, c.mode);
        StringBuffer html(c.input);
        ExtPtrArray scripts;
        converter.extractScripts(html, scripts);
        EXPECT_STREQ(html.getString(), c.expectedHtml) << c.name;
        EXPECT_EQ(scripts.getSize(), c.expectedBlocks) << c.name;
        converter.restoreScripts(html, scripts);
        if (c.expectedBlocks > 0) {
            EXPECT_STREQ(html.getString(), c.input) << c.name;
        }
        EXPECT_EQ(scripts.getSize(), 0);
    }
}

TEST(RestoreScripts, ScriptsOffRemovesEveryPlaceholder) {
    Mhtml converter;
    configure(converter, Mode::MailSafe);
    ExtPtrArray scripts;
    scripts.appendObject(new StringBuffer("<script>x</script>"));
    StringBuffer html("a<vantrel_script>b<vantrel_script>c");
    converter.restoreScripts(html, scripts);
    EXPECT_STREQ(html.getString(), "abc");
    EXPECT_EQ(scripts.getSize(), 0);
}

TEST(RemoveIframes, WithContentAndUnclosed) {
    expectStep(
        {
            {"with content", "<iframe src=a.htm>inner</iframe>after", Mode::MailSafe, "after"},
            {"any case", "x<IFRAME>y</IFrame>z", Mode::MailSafe, "xz"},
            {"unclosed", "<iframe src=x>rest <b>", Mode::MailSafe, "<iframe src=x>rest <b>"},
            {"unclosed without >", "a<iframe", Mode::MailSafe, "a<iframe"},
        },
        &Mhtml::removeIframes);
}

TEST(RemoveComments, WholeCommentsOnly) {
    expectStep(
        {
            {"closed and unclosed", "<!-- a --> text <!-- b", Mode::MailSafe, " text <!-- b"},
            {"shortest comment", "<!-->x", Mode::MailSafe, "x"},
            {"several", "a<!-- x -->b<!--y-->c", Mode::MailSafe, "abc"},
            {"unclosed with later >", "a<!-- b > c <!-- d", Mode::MailSafe, "a<!-- b > c <!-- d"},
            {"placeholders untouched", "<vantrel_style><!--x-->", Mode::MailSafe,
             "<vantrel_style>"},
        },
        &Mhtml::removeComments);
}

TEST(UnwrapNoscript, TheFourExactTags) {
    expectStep(
        {
            {"lower", "<noscript>Enable scripts</noscript>", Mode::MailSafe, "Enable scripts"},
            {"upper", "<NOSCRIPT>x</NOSCRIPT>", Mode::MailSafe, "x"},
            {"mixed stays", "<NoScript>x</NoScript>", Mode::MailSafe, "<NoScript>x</NoScript>"},
            {"attributes stay", "<noscript class=a>x</noscript>", Mode::MailSafe,
             "<noscript class=a>x"},
        },
        &Mhtml::unwrapNoscript);
}

TEST(RemoveEventHandlers, AssignmentsGoBlanksStay) {
    expectStep(
        {
            {"quoted", "<body onLoad=\"init()\" bgcolor=white>", Mode::MailSafe,
             "<body  bgcolor=white>"},
            {"unquoted value stays", "<p onClick=go()>", Mode::MailSafe, "<p =go()>"},
            {"two handlers", "<a ONMOUSEOVER='x' onmouseout = \"y\">", Mode::MailSafe, "<a  >"},
            {"plain text too", "Click onLoad here", Mode::MailSafe, "Click  here"},
            {"adjacent", "<img onerror=\"a\"onload='b'>", Mode::MailSafe, "<img >"},
            {"unclosed quote", "<p onclick=\"x>rest", Mode::MailSafe, "<p "},
            {"no handler", "<p class=a>", Mode::MailSafe, "<p class=a>"},
            {"quote across lines", "<p\nonkeyup\n=\n'a\nb'>", Mode::MailSafe, "<p\n>"},
        },
        &Mhtml::removeEventHandlers);
}

TEST(RemoveAttribute, FourSteps) {
    struct Case {
        const char* name;
        const char* html;
        const char* expected;
    };
    const Case cases[] = {
        {"onclick", "a onclick = 'x' b", "a  b"},
        {"onclick", "a ONCLICK b", "a  b"},
        {"onclick", "a onclick=", "a ="},
        {"onclick", "onclickonclick=\"x\"", ""},
        {"data", "<p data-x=\"1\">", "<p -x=\"1\">"},
    };
    for (const Case& c : cases) {
        Mhtml converter;
        StringBuffer html(c.html);
        converter.removeAttribute(c.name, html);
        EXPECT_STREQ(html.getString(), c.expected) << c.html;
    }
}

} // namespace
