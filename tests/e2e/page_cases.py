"""Small pages and the exact messages they must become.

Each Case gives the page (a local file read through the command line, or a
URL on the test server), the files around it, and the expected message: the
Subject, the page's HTML after conversion with its charset, and every part in
the order the message holds them. The expectations are worked out by hand
from the converter's documented rules, not taken from its output.

Placeholders, in page files and in expectations alike:
  %H%       the test server's "127.0.0.1:PORT"
  %B%       "http://127.0.0.1:PORT/<case name>", where the case's served
            files are
  %D%       the absolute path of a local case's folder
  %c:NAME%  a content-id: the same NAME is the same content-id, and NAMEs are
            matched with the real content-ids in order of first appearance
            (the page's HTML first, then each part's Content-ID and body)

Unless a case says otherwise, pages go through the command line with its
defaults (mail-safe, noscript unwrapped, marked as unsent); local pages are
given as "page.htm" from their own folder.
"""

from dataclasses import dataclass, field, replace
from typing import List, Optional


@dataclass
class Page:
    html: bytes
    charset: bytes = b"iso-8859-1"
    location: bytes = b""


@dataclass
class Part:
    cid: str
    name: bytes
    data: bytes
    type: bytes = b"image/gif"
    encoding: str = "base64"
    charset: Optional[bytes] = None
    location: bytes = b""


@dataclass
class Message:
    subject: Optional[bytes]
    parts: List[object]
    to: bytes = b""
    sender: bytes = b""
    unsent: bool = True

    def resolved(self, fill):
        parts = []
        for part in self.parts:
            if isinstance(part, Page):
                parts.append(replace(part, html=fill(part.html), location=fill(part.location)))
            else:
                parts.append(replace(part, name=fill(part.name), data=fill(part.data),
                                     location=fill(part.location)))
        return replace(self, subject=None if self.subject is None else fill(self.subject),
                       parts=parts)


@dataclass
class Case:
    name: str
    why: str
    expect: Message
    files: dict = field(default_factory=dict)    # local files, in the case's folder
    served: dict = field(default_factory=dict)   # files on the test server under /<name>/
    routes: dict = field(default_factory=dict)   # scripted responses (tests/http/test_server.py)
    page: str = "page.htm"
    args: List[str] = field(default_factory=list)
    driver: Optional[List[str]] = None  # run through convert_driver with these option words


DOCTYPE = b'<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.0 Transitional//EN">'


def meta(charset=b"iso-8859-1"):
    """What replaces the first "</title>"."""
    return b'</title><META http-equiv="Content-Type" content="text/html;charset=' + charset + b'">'


def cid(name):
    return b"cid:%c:" + name.encode() + b"%"


def q(text, charset=b"iso-8859-1"):
    """An encoded word in the Q form."""
    out = bytearray()
    for byte in text:
        if 33 <= byte <= 60 or byte == 62 or 64 <= byte <= 94 or 96 <= byte <= 126:
            out.append(byte)
        elif byte == 32:
            out += b"_"
        else:
            out += b"=%02X" % byte
    return b"=?" + charset + b"?Q?" + bytes(out) + b"?="


def gif(tag):
    return b"GIF89a\x01\x00\x01\x00\x80\x00\x00" + tag.encode() + b"\x00;"


def jpeg(tag):
    return b"\xff\xd8\xff\xe0\x00\x10JFIF\x00" + tag.encode() + b"\xff\xd9"


def exif(tag):
    return b"\xff\xd8\xff\xe1\x00\x18Exif\x00\x00" + tag.encode() + b"\xff\xd9"


def png(tag):
    return b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR" + tag.encode()


def image(cid_name, name, data, kind=b"image/gif"):
    return Part(cid_name, name, data, kind)


def frame(cid_name, name, html, location, charset=b"us-ascii"):
    return Part(cid_name, name, html, b"text/html", "quoted-printable", charset, location)


A_GIF = gif("a")
CASES = []


def case(name, why, expect, **options):
    CASES.append(Case(name, why, expect, **options))


# ------------------------------------------------------------------ clean-up

case("case_table",
     "only the listed upper-case forms are lowered; <IMAGE and <image become <img; "
     "mixed case stays; style attributes are not rewritten",
     Message(q(b"Case"), [
         Page(DOCTYPE + b"<title>Case" + meta() + b"\n<body BGCOLOR=white>\n<table><td>x</TD>"
              b"</TABLE>\n<img SRC=\"" + cid("a") + b"\">\n<img SRC=\"" + cid("a") + b"\">\n"
              b"<img src=\"" + cid("a") + b"\">\n<Img src=\"" + cid("a") + b"\">\n"
              b"<input TYPE=\"image\" SRC=\"" + cid("a") + b"\">\n"
              b"<v:IMAGEDATA SRC=\"" + cid("a") + b"\">\n"
              b"<P STYLE=\"background-image:url(a.gif)\">\n</BODY>"),
         image("a", b"vt0-a.gif", A_GIF)]),
     files={"page.htm": b"<TITLE>Case</TITLE>\n<BODY BGCOLOR=white>\n<TABLE><TD>x</TD></TABLE>\n"
                        b"<IMG SRC=a.gif>\n<IMAGE SRC=a.gif>\n<image src=a.gif>\n<Img src=a.gif>\n"
                        b"<INPUT TYPE=image SRC=a.gif>\n<V:IMAGEDATA SRC=a.gif>\n"
                        b"<P STYLE=\"BACKGROUND-IMAGE:url(a.gif)\">\n</BODY>",
            "a.gif": A_GIF})

case("case_table_keep",
     "keep-scripts: <FRAME lowers the start of <FRAMESET too; frames keep their relative "
     "address in local mode; mixed-case <Script>, <NoScript>, <Frame> stay",
     Message(q(b"K"), [
         Page(b"<title>K" + meta() + b"<noscript>n</noscript><script>s()</script>"
              b"<iframe SRC=\"f.htm\"></iframe><frameSET><frame SRC=\"g.htm\"></FRAMESET>"
              b"<link REL=\"icon\" HREF=\"localhost/i.ico\"><Script>t()</Script>"
              b"<NoScript>m</NoScript><Frame src=\"h.htm\">")]),
     files={"page.htm": b"<TITLE>K</TITLE><NOSCRIPT>n</NOSCRIPT><SCRIPT>s()</SCRIPT>"
                        b"<IFRAME SRC=f.htm></IFRAME><FRAMESET><FRAME SRC=g.htm></FRAMESET>"
                        b"<LINK REL=icon HREF=i.ico><Script>t()</Script><NoScript>m</NoScript>"
                        b"<Frame src=h.htm>"},
     args=["--keep-scripts"])

case("mixed_title",
     "<Title> stays mixed: the Subject still finds it, the META tag (case-sensitive "
     "</title>) is not inserted",
     Message(q(b"Mixed"), [Page(DOCTYPE + b"<Title>Mixed</Title><p>x</p>")]),
     files={"page.htm": b"<Title>Mixed</Title><p>x</p>"})

case("trim_cr",
     "mail-safe: every CR becomes a blank, then the text is trimmed",
     Message(q(b"Trim"), [Page(DOCTYPE + b"<title>Trim" + meta() + b" \n<p>a \nb</p>")]),
     files={"page.htm": b"\r\n \t<title>Trim</title>\r\n<p>a\r\nb</p>\r\n\r\n"})

case("trim_cr_keep",
     "keep-scripts: CR LF stays, only the ends are trimmed, no DOCTYPE",
     Message(q(b"Trim"), [Page(b"<title>Trim" + meta() + b"\r\n<p>a\r\nb</p>")]),
     files={"page.htm": b"\r\n \t<title>Trim</title>\r\n<p>a\r\nb</p>\r\n\r\n"},
     args=["--keep-scripts"])

case("doctype_upper", "a page with a DOCTYPE gets no second one",
     Message(q(b"D"), [Page(b"<!DOCTYPE html>\n<title>D" + meta())]),
     files={"page.htm": b"<!DOCTYPE html>\n<title>D</title>"})

case("doctype_lower", "a lower-case doctype counts as a DOCTYPE",
     Message(q(b"D"), [Page(b"<!doctype html><title>D" + meta())]),
     files={"page.htm": b"<!doctype html><title>D</title>"})

case("doctype_xml", "an XML declaration and white space may stand before the DOCTYPE",
     Message(q(b"X"), [Page(b'<?xml version="1.0"?>\n<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML '
                            b'1.0 Strict//EN" "x.dtd">\n<html><head><title>X' + meta() +
                            b"</head></html>")]),
     files={"page.htm": b'<?xml version="1.0"?>\n<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 '
                        b'Strict//EN" "x.dtd">\n<html><head><title>X</title></head></html>'})

case("doctype_xml_only", "an XML declaration without DOCTYPE gets the DOCTYPE in front of it",
     Message(q(b"X"), [Page(DOCTYPE + b'<?xml version="1.0"?><html><title>X' + meta() +
                            b"</html>")]),
     files={"page.htm": b'<?xml version="1.0"?><html><title>X</title></html>'})

case("doctype_after_blanks", "trimming comes before the DOCTYPE test",
     Message(q(b"W"), [Page(b"<!DOCTYPE html><title>W" + meta())]),
     files={"page.htm": b" \n<!DOCTYPE html><title>W</title>"})

case("styles",
     "style blocks keep their comment markers; background-image url() values, quoted "
     "and spaced, become cid: references; Background-Image is written in lower case; "
     "style attributes are not touched",
     Message(q(b"S"), [
         Page(DOCTYPE + b"<title>S" + meta() + b"<style><!-- body{background-image:url(" +
              cid("bg") + b")} --></style><STYLE type=\"text/css\">p{background-image : url(" +
              cid("p") + b")}</STYLE><div style=\"background-image:url(x.gif)\">d</div>"),
         image("bg", b"vt0-bg.gif", gif("bg")),
         image("p", b"vt1-p.gif", gif("p"))]),
     files={"page.htm": b"<title>S</title><style><!-- body{background-image:url(bg.gif)} -->"
                        b"</style><STYLE type=\"text/css\">p{Background-Image : url( 'p.gif' )}"
                        b"</STYLE><div style=\"background-image:url(x.gif)\">d</div>",
            "bg.gif": gif("bg"), "p.gif": gif("p"), "x.gif": gif("x")})

case("css_mentions_web",
     "mentions that are no url() are stepped over; url() and a url( without ')' give "
     "the base URL and '/'",
     Message(q(b"Css"), [
         Page(DOCTYPE + b"<title>Css" + meta() + b"<style>.no-background-image{color:red} "
              b"a{background-image:none} b{background-image:url(" + cid("b") + b")} "
              b"c{background-image:url(" + cid("e") + b")} d{background-image:url(" +
              cid("q") + b")} e{background-image:url(" + cid("e") + b"</style>",
              location=b"%B%/page.htm"),
         image("b", b"vt0-b.gif", gif("b")),
         image("e", b"vt1-.gif", gif("dir")),
         image("q", b"vt2-q.gif", gif("q"))]),
     served={"page.htm": b"<title>Css</title><style>.no-background-image{color:red} "
                         b"a{background-image:none} b{background-image:url(b.gif)} "
                         b"c{Background-Image:url()} d{background-image:url(\"q.gif\")} "
                         b"e{background-image:url(</style>",
             "b.gif": gif("b"), "index.html": gif("dir"), "q.gif": gif("q")},
     page="%B%/page.htm")

case("css_limit", "at most 100 background images per style text",
     Message(q(b"L"), [
         Page(DOCTYPE + b"<title>L" + meta() + b"<style>" +
              (b"p{background-image:url(" + cid("a") + b")}") * 100 +
              b"p{background-image:url(a.gif)}</style>"),
         image("a", b"vt0-a.gif", A_GIF)]),
     files={"page.htm": b"<title>L</title><style>" + b"p{background-image:url(a.gif)}" * 101 +
                        b"</style>", "a.gif": A_GIF})

case("scripts_mail_safe",
     "script blocks go with their content; an unclosed script tag stays up to its '>'",
     Message(q(b"J"), [Page(DOCTYPE + b"<title>J" + meta() +
                            b"<p>a</p><script language=js>if(a>b)c();")]),
     files={"page.htm": b"<title>J</title><SCRIPT SRC=x.js></SCRIPT><p>a</p>"
                        b"<script>var s=\"</p>\";</script><script language=js>if(a>b)c();",
            "x.js": b"var x;"})

case("scripts_keep",
     "keep-scripts: a .js source becomes a quoted-printable octet-stream part; other "
     "sources and inline scripts stay",
     Message(q(b"K"), [
         Page(b"<title>K" + meta() + b"<script SRC=\"" + cid("x") + b"\"></script>"
              b"<script src=\"y.txt\"></script><script>var a=1;</script>"),
         Part("x", b"vt0-x.js", b"var x = 1;\r\nvar y = 2;\r\n", b"application/octet-stream",
              "quoted-printable")]),
     files={"page.htm": b"<title>K</title><SCRIPT SRC=x.js></SCRIPT><script src=\"y.txt\">"
                        b"</script><script>var a=1;</script>",
            "x.js": b"var x = 1;\r\nvar y = 2;\r\n", "y.txt": b"y"},
     args=["--keep-scripts"])

COMMENTS = b"<title>C</title><!-- a --> text <!--> after <!---> more <!-- b > c <!-- d"
case("comments",
     "'<!-->' and '<!--->' are whole comments; an unclosed one stays up to its '>', "
     "the last one to the end",
     Message(q(b"C"), [Page(DOCTYPE + b"<title>C" + meta() +
                            b" text  after  more <!-- b > c <!-- d")]),
     files={"page.htm": COMMENTS})

case("comments_keep", "keep-scripts keeps comments",
     Message(q(b"C"), [Page(b"<title>C" + meta() + COMMENTS[16:])]),
     files={"page.htm": COMMENTS}, args=["--keep-scripts"])

case("iframes", "iframes go with their content; an unclosed one stays",
     Message(q(b"I"), [Page(DOCTYPE + b"<title>I" + meta() + b"||<iframe src=c.htm>")]),
     files={"page.htm": b"<title>I</title><iframe src=a.htm>inner</iframe>|"
                        b"<IFRAME SRC=b.htm>x</IFRAME>|<iframe src=c.htm>"})

case("iframe_keep",
     "keep-scripts: an iframe document is a page URL, so it becomes a frame part",
     Message(q(b"I"), [
         Page(b"<title>I" + meta() + b"<iframe src=\"f.htm\">inner</iframe>"),
         frame("f", b"vt0-f.htm", b"<title>F" + meta() + b"<p>frame</p>", b"f.htm")]),
     files={"page.htm": b"<title>I</title><iframe src=f.htm>inner</iframe>",
            "f.htm": b"<title>F</title><p>frame</p>"},
     args=["--keep-scripts"])

NOSCRIPT = (b"<title>N</title><noscript>A</noscript><NOSCRIPT>B</NOSCRIPT>"
            b"<noscript id=x>C</noscript><NoScript>D</NoScript>")
case("noscript", "only the four exact noscript tags are removed",
     Message(q(b"N"), [Page(DOCTYPE + b"<title>N" + meta() +
                            b"AB<noscript id=x>C<NoScript>D</NoScript>")]),
     files={"page.htm": NOSCRIPT})

case("noscript_keep", "keep-scripts (scripts over noscript) keeps noscript",
     Message(q(b"N"), [Page(b"<title>N" + meta() + b"<noscript>A</noscript><noscript>B"
                            b"</noscript><noscript id=x>C</noscript><NoScript>D</NoScript>")]),
     files={"page.htm": NOSCRIPT}, args=["--keep-scripts"])

case("noscript_turns_scripts_off",
     "scripts kept but a <noscript> page counts as one without scripts: scripts, "
     "noscript tags and handlers go; comments and iframes stay",
     Message(q(b"N"), [Page(b"<title>N" + meta() +
                            b"A<!-- c --><iframe src=\"z.htm\">i</iframe><p >p</p>")]),
     files={"page.htm": b"<title>N</title><noscript>A</noscript><script>x()</script>"
                        b"<!-- c --><iframe src=z.htm>i</iframe><p onclick=\"go()\">p</p>"},
     driver=["keep-scripts"])

HANDLERS = [
    b'<p onload="a()" onmouseout=\'b("x")\' onmouseover = "c()">1</p>',
    b'<p onselect=d() onmove onchange="e()">2</p>',
    b'<p onClick="f()" ondblclick="g()" onmousedown="h()" onmousemove="i()">3</p>',
    b'<p onresize="j()" onabort="k()" onblur="l()" ondragdrop="m()">4</p>',
    b'<p onerror="n()" onfocus="o()" onkeydown="p()" onkeypress="q()" onkeyup="r()">5</p>',
    b'<form onreset="s()" onsubmit="t()"><body onunload="u()">',
    b"Text mentions onFocus and ONCLICK here.",
]
case("event_handlers",
     "all 22 handlers go with quoted values; the blank before stays; an unquoted value "
     "stays; the names go from plain text too",
     Message(q(b"E"), [Page(DOCTYPE + b"<title>E" + meta() + b"\n<p   >1</p>\n<p =d()  >2</p>"
                            b"\n<p    >3</p>\n<p    >4</p>\n<p     >5</p>\n<form  ><body >\n"
                            b"Text mentions  and  here.")]),
     files={"page.htm": b"<title>E</title>\n" + b"\n".join(HANDLERS)})

case("event_handler_edges",
     "a handler name inside a URL goes; a single-quoted value holding an image takes its "
     "cid: with it, so that image is not referenced and gets no part; an unclosed value "
     "runs to the end",
     Message(q(b"H"), [
         Page(DOCTYPE + b"<title>H" + meta() + b"<img src=\"" + cid("a") + b"\" >"
              b"<a href=\"localhost/.htm\">x</a><p >y</p><p "),
         image("a", b"vt0-a.gif", A_GIF)]),
     files={"page.htm": b"<title>H</title><img src=a.gif onerror=\"this.src='b.gif'\">"
                        b"<a href=\"onerror.htm\">x</a><p onclick='<img src=c.gif>'>y</p>"
                        b"<p onkeyup=\"unclosed>z",
            "a.gif": A_GIF, "c.gif": gif("c"), "b.gif": gif("b")})

MISSING_SRC = (b'<title>M</title><img name=x><img src=""><IMG ALT="a>b"><frame name=f>'
               b"<v:shape id=s>t</v:shape>")
case("missing_src", "mail-safe drops image, frame and v: tags without SRC",
     Message(q(b"M"), [Page(DOCTYPE + b"<title>M" + meta() + b"t</v:shape>")]),
     files={"page.htm": MISSING_SRC})

case("missing_src_keep", "keep-scripts keeps tags without SRC as found",
     Message(q(b"M"), [Page(b"<title>M" + meta() + b'<img name=x><img src=""><img ALT="a>b">'
                            b"<frame name=f><v:shape id=s>t</v:shape>")]),
     files={"page.htm": MISSING_SRC}, args=["--keep-scripts"])

case("strict_quotes",
     "a quote right after a closing quote opens nothing in image tags, but does in "
     "input tags",
     Message(q(b"Q"), [
         Page(DOCTYPE + b"<title>Q" + meta() + b"<img src=\"" + cid("a") + b"\"  alt=\">\" x>|"
              b"<input src=\"" + cid("a") + b"\"  alt=\">\">\" x>|"),
         image("a", b"vt0-a.gif", A_GIF)]),
     files={"page.htm": b"<title>Q</title><img src=\"a.gif\"\" alt=\">\" x>|"
                        b"<input src=\"a.gif\"\" alt=\">\" x>|", "a.gif": A_GIF})

case("links_local",
     "links resolve against the host text; javascript: gives the base and '/'; in-page "
     "links, mailto:, empty and missing hrefs stay as found; ':/' further on is no scheme; "
     "<a + LF and <a + TAB are anchors",
     Message(q(b"L"), [Page(
         DOCTYPE + b"<title>L" + meta() + b'<a href=#>1</a><a href="localhost/">2</a>'
         b'<a href="MAILTO:x@y">3</a><a href="">4</a><A HREF="localhost/page.htm">5</A>'
         b'<area href="localhost/abs.htm"><a href="localhost/nl.htm">6</a>'
         b'<a href="localhost/tab.htm">7</a><embed src="localhost/m.swf"><a name=top>8</a>'
         b'<a href="localhost/go.php?u=http://x">9</a>')]),
     files={"page.htm": b'<title>L</title><a href=#>1</a><a href="javascript:go()">2</a>'
                        b'<a href="MAILTO:x@y">3</a><a href="">4</a><A HREF=page.htm>5</A>'
                        b"<area href=/abs.htm><a\nhref=nl.htm>6</a><a\thref=tab.htm>7</a>"
                        b'<embed src=m.swf><a name=top>8</a><a href="go.php?u=http://x">9</a>'})

case("links_keep",
     "keep-scripts: javascript: links stay; '#top' stays in the page; <a + CR is an anchor",
     Message(q(b"L"), [Page(b"<title>L" + meta() + b'<a href="javascript:go()" onclick="x()">j'
                            b'</a><a href=#top>t</a><a href="localhost/cr.htm">c</a>')]),
     files={"page.htm": b'<title>L</title><a href="javascript:go()" onclick="x()">j</a>'
                        b"<a href=#top>t</a><a\rhref=cr.htm>c</a>"},
     args=["--keep-scripts"])

LONG_900 = b'<a title="a>b' + b"y" * 873 + b'" href="x.htm">T</a>'
LONG_901 = b'<a title="a>b' + b"y" * 874 + b'" href="x.htm">T</a>'
case("link_900_bytes",
     "an anchor captured in 900 bytes is rewritten whole; at 901 bytes it is cut at its "
     "first '>' and left as found",
     Message(q(b"N"), [Page(DOCTYPE + b"<title>N" + meta() + b'<a title="a>b' + b"y" * 873 +
                            b'" href="localhost/x.htm">T</a>|' + LONG_901)]),
     files={"page.htm": b"<title>N</title>" + LONG_900 + b"|" + LONG_901})

case("rollovers",
     "keep-scripts: image names in single quotes of onmouseover tags become cid: "
     "references, any tag starting with <a",
     Message(q(b"R"), [
         Page(b"<title>R" + meta() + b'<a href="localhost/x.htm" onmouseover="document.i.src=\'' +
              cid("on") + b'\'" onMouseOut="document.i.src=\'' + cid("off") + b"';x('" +
              cid("png") + b"')\"><img name=\"i\" src=\"" + cid("off") + b"\"></a>"
              b"<abbr onmouseover=\"f('" + cid("j") + b"')\">t</abbr>"),
         image("off", b"vt0-off.gif", gif("off")),
         image("on", b"vt1-on.gif", gif("on")),
         image("png", b"vt2-a.png", png("a"), b"image/png"),
         image("j", b"vt3-b.jpg", jpeg("b"), b"image/jpeg")]),
     files={"page.htm": b"<title>R</title><a href=x.htm onmouseover=\"document.i.src='on.gif'\" "
                        b"onMouseOut=\"document.i.src='off.GIF';x('a.png')\"><img name=i "
                        b"src=\"off.gif\"></a><abbr onmouseover=\"f('b.jpg')\">t</abbr>",
            "off.gif": gif("off"), "on.gif": gif("on"), "a.png": png("a"), "b.jpg": jpeg("b")},
     args=["--keep-scripts"])

case("link_tags",
     "style sheets (by TYPE, else REL, any case) are inlined with their MEDIA; "
     "alternate and other links are made absolute; missing href or sheet leave the tag; "
     "inlined text loses handler names",
     Message(q(b"K"), [
         Page(DOCTYPE + b"<title>K" + meta() + b"<head>\n<STYLE TYPE=\"text/css\">\n<!--\n"
              b"body { background-image: url(" + cid("bg") + b") }\n. { color: red }\n-->\n"
              b"</STYLE>\n\n<STYLE TYPE=\"text/css\" MEDIA=\"print\">\n<!--\np { color: blue }\n"
              b"-->\n</STYLE>\n<link rel=\"alternate stylesheet\" type=\"text/css\" "
              b"href=\"localhost/alt.css\"><link rel=\"stylesheet\" type=\"text/plain\" "
              b"href=\"localhost/s.css\"><link rel=\"icon\" href=\"localhost/fav.ico\">"
              b"<link rel=stylesheet><link type=\"text/css\" href=\"missing.css\"></head>"),
         image("bg", b"vt0-bg.gif", gif("bg"))]),
     files={"page.htm": b'<title>K</title><head><LINK REL=stylesheet HREF=s.css>'
                        b'<link rel="STYLESHEET" media="print" href="p.css">'
                        b'<link rel="alternate stylesheet" type="text/css" href="alt.css">'
                        b'<link rel="stylesheet" type="text/plain" href="s.css">'
                        b'<link rel=icon href="fav.ico"><link rel=stylesheet>'
                        b'<link type="text/css" href="missing.css"></head>',
            "s.css": b"body { background-image: url(bg.gif) }\n.onload { color: red }",
            "p.css": b"p { color: blue }", "alt.css": b"a { color: green }",
            "bg.gif": gif("bg")})

case("link_tags_web",
     "a sheet's url() resolves against the sheet; a '#' link stays, '/' links resolve "
     "against the page's root",
     Message(q(b"W"), [
         Page(DOCTYPE + b"<title>W" + meta() + b"\n<STYLE TYPE=\"text/css\">\n<!--\n"
              b"div { background-image: url(" + cid("bg") + b") }\n-->\n</STYLE>\n"
              b"<link rel=next href=#><link rel=\"alternate\" "
              b"type=\"application/rss+xml\" href=\"http://%H%/feed.xml\">",
              location=b"%B%/page.htm"),
         image("bg", b"vt0-bg.gif", gif("bg"))]),
     served={"page.htm": b'<title>W</title><link rel=stylesheet href="css/s.css">'
                         b'<link rel=next href=#><link rel="alternate" '
                         b'type="application/rss+xml" href="/feed.xml">',
             "css/s.css": b"div { background-image: url(../img/bg.gif) }",
             "img/bg.gif": gif("bg")},
     page="%B%/page.htm")

case("backgrounds",
     "handlers go before backgrounds are rewritten; single quotes stay; a page URL "
     "background leaves the tag as found",
     Message(q(b"B"), [
         Page(DOCTYPE + b"<title>B" + meta() + b"<body BACKGROUND=\"" + cid("bg") + b"\">"
              b"<table background='" + cid("t") + b"' width=\"1\"><TR>"
              b"<td BACKGROUND=\"page.htm\">c</TD><td>d</td></TR></TABLE>"),
         image("bg", b"vt0-bg.gif", gif("bg")),
         image("t", b"vt1-t.gif", gif("t"))]),
     files={"page.htm": b"<title>B</title><BODY BACKGROUND=bg.gif onload=\"x()\">"
                        b"<TABLE background='t.gif' width=1><TR><TD BACKGROUND=\"page.htm\">c"
                        b"</TD><td>d</td></TR></TABLE>",
            "bg.gif": gif("bg"), "t.gif": gif("t")})

# ------------------------------------------------------------------ resolution

case("resolve_web",
     "query and fragment of the page URL; root, '//' (the page's scheme), '..' kept; "
     "queries are kept, so one picture under two queries is two parts; one content-id "
     "per URL",
     Message(q(b"R"), [
         Page(DOCTYPE + b"<title>R" + meta() + b"".join(
             b"<img src=\"" + cid(n) + b"\">" for n in ("a", "b", "c", "u", "d", "a2", "e")),
             location=b"%B%/dir/page.html?x=1"),
         image("a", b"vt0-a.gif", gif("a")),
         image("b", b"vt1-b.JPG", jpeg("b"), b"image/jpeg"),
         image("c", b"vt2-c.png", png("c"), b"image/png"),
         image("u", b"vt3-up.gif", gif("up")),
         image("d", b"vt4-d.jpeg", jpeg("d"), b"image/jpeg"),
         image("a2", b"vt5-a.gif", gif("a")),
         image("e", b"vt6-e.gif", gif("e"))]),
     served={"dir/page.html": b'<title>R</title><img src="a.gif?v=1"><img src="/resolve_web/'
                              b'b.JPG?x=2"><img src="//%H%/resolve_web/c.png?z">'
                              b'<img src="../up.gif"><img src="d.jpeg?k=1">'
                              b'<img src="http://%H%/resolve_web/dir/a.gif?other">'
                              b'<img src="e.gif?x.jpg?y">',
             "dir/a.gif": gif("a"), "b.JPG": jpeg("b"), "c.png": png("c"), "up.gif": gif("up"),
             "dir/d.jpeg": jpeg("d"), "dir/e.gif": gif("e")},
     page="%B%/dir/page.html?x=1#top")

SVG = b'  <svg xmlns="http://www.w3.org/2000/svg"/>'
XML_SVG = b'<?xml version="1.0"?>\n<svg xmlns="http://www.w3.org/2000/svg"/>'
WEBP = b"RIFF\x10\x00\x00\x00WEBPVP8 \x00\x00"
AVIF = b"\x00\x00\x00\x1cftypavif\x00\x00\x00\x00"
case("sniff_images",
     "GIF and JFIF by their bytes (names gain .gif/.jpeg when dotless), EXIF by its "
     "extension, and PNG, WEBP, AVIF and SVG by their bytes",
     Message(q(b"S"), [
         Page(DOCTYPE + b"<title>S" + meta() + b"".join(
             b"<img src=\"" + cid(str(i)) + b"\">" for i in range(9)),
             location=b"%B%/page.htm"),
         image("0", b"vt0-g.php", gif("g")),
         image("1", b"vt1-img.gif", gif("img")),
         image("2", b"vt2-exif.jpg", exif("x"), b"image/jpeg"),
         image("3", b"vt3-jpg0.jpeg", jpeg("0"), b"image/jpeg"),
         image("4", b"vt4-p.webp", WEBP, b"image/webp"),
         image("5", b"vt5-x.avif", AVIF, b"image/avif"),
         image("6", b"vt6-v.svg", SVG, b"image/svg+xml"),
         image("7", b"vt7-w.svg", XML_SVG, b"image/svg+xml"),
         image("8", b"vt8-pn", png("n"), b"image/png")]),
     served={"page.htm": b"<title>S</title><img src=g.php?id=3><img src=img><img src=exif.jpg>"
                         b"<img src=jpg0><img src=p.webp><img src=x.avif><img src=v.svg>"
                         b"<img src=w.svg><img src=pn>",
             "g.php": gif("g"), "img": gif("img"), "exif.jpg": exif("x"), "jpg0": jpeg("0"),
             "p.webp": WEBP, "x.avif": AVIF, "v.svg": SVG, "w.svg": XML_SVG, "pn": png("n")},
     page="%B%/page.htm")

case("sniff_text",
     ".css is quoted-printable iso-8859-1; .txt is base64 us-ascii; .asp, a URL ending "
     "in '/' are HTML frame documents; an unknown http type (the host's dot) that holds a "
     "NUL byte is no page: it travels as it was served",
     Message(q(b"T"), [
         Page(DOCTYPE + b"<title>T" + meta() + b"".join(
             b"<img src=\"" + cid(str(i)) + b"\">" for i in range(5)),
             location=b"%B%/page.htm"),
         Part("0", b"vt0-s.css", b"p { color: red }", b"text/css", "quoted-printable",
              b"iso-8859-1"),
         Part("1", b"vt1-t.txt", b"hello", b"text/plain"),
         frame("2", b"vt2-page.asp", DOCTYPE + b"<title>A" + meta() + b"<p>asp</p>",
               b"%B%/page.asp"),
         frame("3", b"vt3-", DOCTYPE + b"<p>dir</p>", b"%B%/dir/"),
         Part("4", b"vt4-exifnoext", exif("n"), b"application/octet-stream")]),
     served={"page.htm": b"<title>T</title><img src=s.css><img src=t.txt><img src=page.asp>"
                         b"<img src=dir/><img src=exifnoext>",
             "s.css": b"p { color: red }", "t.txt": b"hello",
             "page.asp": b"<title>A</title><p>asp</p>", "dir/index.html": b"<p>dir</p>",
             "exifnoext": exif("n")},
     page="%B%/page.htm")

case("part_names",
     "';' and '=' leave names; a '?' before the last '/' leaves an empty name",
     Message(q(b"N"), [
         Page(DOCTYPE + b"<title>N" + meta() + b"".join(
             b"<img src=\"" + cid(str(i)) + b"\">" for i in range(3)),
             location=b"%B%/page.htm"),
         image("0", b"vt0-abc.gif", gif("abc")),
         image("1", b"vt1-.gif", gif("q")),
         image("2", b"vt2-n.gifv1", gif("n"))]),
     served={"page.htm": b'<title>N</title><img src="a;b=c.gif"><img src="q/?x=1/2">'
                         b'<img src="n.gif;v=1?z">',
             "a;b=c.gif": gif("abc"), "q/index.html": gif("q"), "n.gif;v=1": gif("n")},
     page="%B%/page.htm")

# ------------------------------------------------------------------ charsets and headers

case("charset_meta", "the META charset names the part's charset and the Subject's",
     Message(b"=?windows-1252?Q?Caf=E9?=", [
         Page(DOCTYPE + b"<title>Caf\xe9" + meta(b"windows-1252") +
              b'<meta http-equiv="Content-Type" content="text/html; charset=windows-1252">',
              b"windows-1252")]),
     files={"page.htm": b'<title>Caf\xe9</title><meta http-equiv="Content-Type" '
                        b'content="text/html; charset=windows-1252">'})

case("charset_undeclared_utf8",
     "bytes that only UTF-8 explains make an undeclared page utf-8; other bytes stay "
     "iso-8859-1",
     Message(b"=?utf-8?Q?Caf=C3=A9?=", [
         Page(DOCTYPE + b"<title>Caf\xc3\xa9" + meta(b"utf-8") + b"<p>\xe2\x80\x94</p>",
              b"utf-8")]),
     files={"page.htm": b"<title>Caf\xc3\xa9</title><p>\xe2\x80\x94</p>"})

case("charset_undeclared_latin1", "a lone \\xe9 is no UTF-8: the page stays iso-8859-1",
     Message(q(b"Caf\xe9"), [Page(DOCTYPE + b"<title>Caf\xe9" + meta() + b"<p>\xc3</p>")]),
     files={"page.htm": b"<title>Caf\xe9</title><p>\xc3</p>"})

case("charset_html5", "<meta charset> counts; utf-8 and a 7-bit title leave the Subject plain",
     Message(b"Plain", [Page(DOCTYPE + b'<meta charset="UTF-8"><title>Plain' + meta(b"UTF-8"),
                             b"UTF-8")]),
     files={"page.htm": b'<meta charset="UTF-8"><title>Plain</title>'})

IN_COMMENT = (b'<!-- <meta http-equiv="Content-Type" content="text/html; charset=utf-8"> -->'
              b"<title>T</title>")
case("charset_in_comment", "mail-safe removes comments before the charset is looked for",
     Message(q(b"T"), [Page(DOCTYPE + b"<title>T" + meta())]),
     files={"page.htm": IN_COMMENT})

case("charset_in_comment_keep", "keep-scripts leaves the commented META to be found",
     Message(b"T", [Page(IN_COMMENT[:-8] + meta(b"utf-8"), b"utf-8")]),
     files={"page.htm": IN_COMMENT}, args=["--keep-scripts"])

case("charset_priority", "the charset ends at a double quote before it ends at ';'; the "
     "Subject of a charset nobody knows is in UTF-8",
     Message(b"=?utf-8?Q?P?=", [Page(DOCTYPE + b"<meta http-equiv=content-type content='text/html;"
                                     b" charset=x;y\"z'><title>P" + meta(b"x;y"), b"x;y")]),
     files={"page.htm": b"<meta http-equiv=content-type content='text/html; charset=x;y\"z'>"
                        b"<title>P</title>"})

case("charset_response", "the response's charset wins over the page's META",
     Message(b"=?UTF-8?Q?Caf=C3=A9?=", [
         Page(DOCTYPE + b'<meta http-equiv="Content-Type" content="text/html; '
              b'charset=iso-8859-2"><title>Caf\xc3\xa9' + meta(b"UTF-8"), b"UTF-8",
              b"%B%/page.htm")]),
     served={"page.htm": b'<meta http-equiv="Content-Type" content="text/html; '
                         b'charset=iso-8859-2"><title>Caf\xc3\xa9</title>'},
     routes={"page.htm": {"file": "page.htm", "type": "text/html; charset=UTF-8"}},
     page="%B%/page.htm")

case("charset_response_quoted", "a quoted us-ascii response charset leaves the Subject plain",
     Message(b"Q", [Page(DOCTYPE + b"<title>Q" + meta(b"us-ascii"), b"us-ascii",
                         b"%B%/page.htm")]),
     served={"page.htm": b"<title>Q</title>"},
     routes={"page.htm": {"file": "page.htm", "type": 'text/html; charset="us-ascii"'}},
     page="%B%/page.htm")

case("subject_no_title", "without a title the Subject is the host text",
     Message(q(b"localhost"), [Page(DOCTYPE + b"<p>x</p>")]),
     files={"page.htm": b"<p>x</p>"})

case("subject_empty_title", "an empty title gives the host text",
     Message(q(b"localhost"), [Page(DOCTYPE + b"<title>" + meta() + b"x")]),
     files={"page.htm": b"<title></title>x"})

case("subject_title_with_attribute", "<title lang=en> is not '<title>'",
     Message(q(b"localhost"), [Page(DOCTYPE + b"<title lang=en>X" + meta())]),
     files={"page.htm": b"<title lang=en>X</title>"})

case("subject_blanks", "the title is trimmed and its white space and controls collapsed",
     Message(b"=?iso-8859-1?Q?A_B_C?=", [Page(DOCTYPE + b"<title> A \t\x07B\x1b C " + meta())]),
     files={"page.htm": b"<title> A \t\x07B\x1b C </title>"})

case("subject_already_encoded", "a title that looks encoded is text, as a browser shows it",
     Message(b"=?iso-8859-1?Q?=3D=3Futf-8=3FQ=3Fx=3F=3D?=",
             [Page(DOCTYPE + b"<title>=?utf-8?Q?x?=" + meta())]),
     files={"page.htm": b"<title>=?utf-8?Q?x?=</title>"})

case("subject_blank_utf8", "a blank title counts as none: the Subject is the host text",
     Message(b"localhost", [Page(DOCTYPE + b"<meta charset=utf-8><title>   " + meta(b"utf-8"),
                                 b"utf-8")]),
     files={"page.htm": b"<meta charset=utf-8><title>   </title>"})

case("subject_option", "--subject wins over the title",
     Message(b"Chosen one", [Page(DOCTYPE + b"<meta charset=utf-8><title>T" + meta(b"utf-8"),
                                  b"utf-8")]),
     files={"page.htm": b"<meta charset=utf-8><title>T</title>"},
     args=["--subject", "Chosen one"])

case("subject_big5", "big5 takes the B form",
     Message(b"=?big5?B?QjU=?=", [Page(DOCTYPE + b'<meta http-equiv="Content-Type" '
                                       b'content="text/html; charset=big5"><title>B5' +
                                       meta(b"big5"), b"big5")]),
     files={"page.htm": b'<meta http-equiv="Content-Type" content="text/html; charset=big5">'
                        b"<title>B5</title>"})

case("subject_web_base", "a web page without title takes its base URL",
     Message(q(b"http://%H%/subject_web_base/dir"), [
         Page(DOCTYPE + b"<p>x</p>", location=b"%B%/dir/")]),
     served={"dir/index.html": b"<p>x</p>"}, page="%B%/dir/")

case("header_fields", "To and From after Subject; no X-Unsent on request",
     Message(q(b"H"), [Page(DOCTYPE + b"<title>H" + meta())], to=b"a@b.example",
             sender=b"c@d.example", unsent=False),
     files={"page.htm": b"<title>H</title>"},
     args=["--to", "a@b.example", "--from", "c@d.example", "--no-unsent"])

# ------------------------------------------------------------------ frames

case("frames_web",
     "frame documents follow their own resources; shared images keep one content-id and "
     "one part; a frame's part charset is its own META's, its META tag the page's",
     Message(b"F", [
         Page(DOCTYPE + b"<title>F" + meta(b"utf-8") + b'<frameset cols="50%,50%">'
              b'<frame src="%B%/left.htm"><frame SRC="%B%/sub/right.htm" name="r">'
              b"</frameset><noframes><img src=\"" + cid("g") + b"\"></noframes>",
              b"utf-8", b"%B%/index.htm"),
         image("g", b"vt0-logo.gif", gif("logo")),
         image("ll", b"vt1-l.gif", gif("l")),
         frame("left", b"vt0-left.htm", DOCTYPE + b"<html><title>Left" + meta(b"utf-8") +
               b'<meta http-equiv="Content-Type" content="text/html; charset=windows-1250">'
               b"<img src=\"" + cid("g") + b"\"><img src=\"" + cid("ll") + b"\"></html>",
               b"%B%/left.htm", b"windows-1250"),
         image("rr", b"vt0-r.gif", gif("r")),
         frame("right", b"vt1-right.htm", DOCTYPE + b"<title>Right" + meta(b"utf-8") +
               b"<img src=\"" + cid("rr") + b"\"><a href=\"http://%H%/top.htm\">t</a>"
               b"<img src=\"" + cid("g") + b"\">", b"%B%/sub/right.htm")]),
     served={"index.htm": b'<title>F</title><frameset cols="50%,50%"><frame src="left.htm">'
                          b'<FRAME SRC="sub/right.htm" name=r><frame name=empty></frameset>'
                          b"<noframes><img src=logo.gif></noframes>",
             "left.htm": b'<html><title>Left</title><meta http-equiv="Content-Type" '
                         b'content="text/html; charset=windows-1250"><img src="logo.gif">'
                         b"<img src=l.gif></html>",
             "sub/right.htm": b'<title>Right</title><img src="r.gif"><a href="/top.htm">t</a>'
                              b'<img src="/frames_web/logo.gif">',
             "logo.gif": gif("logo"), "l.gif": gif("l"), "sub/r.gif": gif("r")},
     routes={"index.htm": {"file": "index.htm", "type": "text/html; charset=utf-8"}},
     page="%B%/index.htm")

case("frames_local",
     "a local frame keeps its relative address, is read from its own directory and "
     "resolves links against it",
     Message(q(b"P"), [
         Page(DOCTYPE + b"<title>P" + meta() + b'<frameset><frame src="sub/f.htm"></frameset>'),
         image("i", b"vt0-i.gif", gif("i")),
         frame("f", b"vt0-f.htm", DOCTYPE + b"<title>F" + meta() + b"<img src=\"" + cid("i") +
               b"\"><a href=\"sub/x.htm\">x</a>", b"sub/f.htm")]),
     files={"page.htm": b'<title>P</title><frameset><frame src="sub/f.htm"></frameset>',
            "sub/f.htm": b"<title>F</title><img src=i.gif><a href=x.htm>x</a>",
            "sub/i.gif": gif("i")})

DEPTH_FILES = {"f%d.htm" % k: b"<frameset><frame src=f%d.htm></frameset>" % (k + 1)
               for k in range(13)}
case("frame_depth", "frames nest ten deep; the eleventh is fetched but gets no part",
     Message(q(b"http://%H%/frame_depth"), [
         Page(DOCTYPE + b'<frameset><frame src="%B%/f1.htm"></frameset>', location=b"%B%/f0.htm")
     ] + [frame("f%d" % k, b"vt0-f%d.htm" % k,
                DOCTYPE + b'<frameset><frame src="%%B%%/f%d.htm"></frameset>' % (k + 1),
                b"%%B%%/f%d.htm" % k) for k in range(10, 0, -1)]),
     served=DEPTH_FILES, page="%B%/f0.htm")

case("noscripts_carry_over",
     "keep-scripts with noscript pages scriptless: a frame with <noscript> turns scripts "
     "off for the rest of the page's resources, so the script part is dropped",
     Message(q(b"P"), [
         Page(b"<title>P" + meta() + b'<frameset><frame src="%B%/f.htm"></frameset>'
              b'<input type="image" src="' + cid("x") + b'">', location=b"%B%/page.htm"),
         frame("f", b"vt0-f.htm", b"n", b"%B%/f.htm")]),
     served={"page.htm": b'<title>P</title><frameset><frame src="f.htm"></frameset>'
                         b'<input type=image src="x.js">',
             "f.htm": b"<noscript>n</noscript>", "x.js": b"var x;"},
     page="%B%/page.htm", driver=["keep-scripts"])

case("script_input_keep", "the same script without the frame is a part",
     Message(q(b"P"), [
         Page(b"<title>P" + meta() + b'<input type="image" src="' + cid("x") + b'">',
              location=b"%B%/page.htm"),
         Part("x", b"vt0-x.js", b"var x;", b"application/octet-stream", "quoted-printable")]),
     served={"page.htm": b'<title>P</title><input type=image src="x.js">', "x.js": b"var x;"},
     page="%B%/page.htm", driver=["keep-scripts"])

case("script_input_mail_safe", "mail-safe fetches a script named by an input tag and drops it",
     Message(q(b"P"), [Page(DOCTYPE + b"<title>P" + meta() + b'<input type="image" src="' +
                            cid("x") + b'">')]),
     files={"page.htm": b'<title>P</title><input type=image src="x.js">', "x.js": b"var x;"})

case("script_query_keep",
     "keep-scripts: a script URL is typed by its path without the query",
     Message(q(b"Q"), [
         Page(b"<title>Q" + meta() + b'<script src="' + cid("j") + b'"></script>',
              location=b"%B%/page.htm"),
         Part("j", b"vt0-app.js", b"var a = 1;\n", b"application/octet-stream",
              "quoted-printable")]),
     served={"page.htm": b'<title>Q</title><script src="app.js?v=2"></script>',
             "app.js": b"var a = 1;\n"},
     page="%B%/page.htm", args=["--keep-scripts"])

# ------------------------------------------------------------------ entry operations

case("includes",
     "include directives: any case, nested, an unquoted value swallows '--', missing files "
     "and virtual= leave nothing, an unclosed one stays",
     Message(q(b"I"), [Page(DOCTYPE + b"<title>I" + meta() +
                            b'[<b>head</b>[sub]][][][][<!--#include file="x.inc"')]),
     files={"page.htm": b'<title>I</title>[<!--#INCLUDE FILE="head.inc"-->]'
                        b"[<!--#include file=plain.inc-->][<!--#include file=\"missing.inc\"-->]"
                        b'[<!--#include virtual="v.inc"-->][<!--#include file="x.inc"',
            "head.inc": b'<b>head</b><!--#include file="sub.inc" -->', "sub.inc": b"[sub]",
            "plain.inc": b"PLAIN", "v.inc": b"V", "x.inc": b"X"})

case("include_self", "a page that includes itself gets its text once more",
     Message(q(b"S"), [Page(DOCTYPE + b"<title>S" + meta() + b"(<title>S</title>())")]),
     files={"page.htm": b'<title>S</title>(<!--#include file="page.htm"-->)'})

case("include_depth", "directives nest 16 levels deep",
     Message(q(b"D"), [Page(DOCTYPE + b"<title>D" + meta() +
                            b"".join(b"%d," % k for k in range(1, 17)) + b".")]),
     files=dict({"page.htm": b'<title>D</title><!--#include file="i1.inc"-->.'},
                **{"i%d.inc" % k: b'%d,<!--#include file="i%d.inc"-->' % (k, k + 1)
                   for k in range(1, 20)}))

case("exclude_empty", "an empty exclude text matches every URL",
     Message(q(b"X"), [Page(DOCTYPE + b"<title>X" + meta() + b'<img src="' + cid("a") + b'">')]),
     files={"page.htm": b"<title>X</title><img src=a.gif>", "a.gif": A_GIF},
     args=["--exclude", ""])

case("exclude_case", "excludes match case-sensitively",
     Message(q(b"X"), [
         Page(DOCTYPE + b"<title>X" + meta() + b'<img src="' + cid("b") + b'"><img src="' +
              cid("s") + b'">'),
         image("b", b"vt0-banner.gif", gif("banner"))]),
     files={"page.htm": b"<title>X</title><img src=banner.gif><img src=skip.gif>",
            "banner.gif": gif("banner"), "skip.gif": gif("skip")},
     args=["--exclude", "Banner", "--exclude", "skip"])

case("local_file_guard_web",
     "a web page reads no file: URL and no ftp: URL; a mailto: image has a scheme; "
     "failed resources keep their addresses",
     Message(q(b"G"), [
         Page(DOCTYPE + b"<title>G" + meta() + b'<img src="file:secret.gif">'
              b'<img src="ftp://%H%/local_file_guard_web/a.gif"><img src="mailto:a@b">'
              b'<img src="%B%/missing.gif"><img src="' + cid("a") + b'">',
              location=b"%B%/page.htm"),
         image("a", b"vt4-a.gif", A_GIF)]),
     files={"secret.gif": gif("secret")},
     served={"page.htm": b'<title>G</title><img src="file:secret.gif">'
                         b'<img src="ftp://%H%/local_file_guard_web/a.gif">'
                         b'<img src="mailto:a@b"><img src="missing.gif"><img src="a.gif">',
             "a.gif": A_GIF},
     page="%B%/page.htm")

case("local_file_guard_local",
     "a local page with an http base href fetches from the web and still reads file: URLs",
     Message(q(b"G"), [
         Page(DOCTYPE + b'<base href="%B%/"><title>G' + meta() + b'<img src="' + cid("a") +
              b'"><img src="' + cid("s") + b'"><a href="%B%/x.htm">x</a><a href=#>y</a>'),
         image("a", b"vt0-a.gif", gif("web")),
         image("s", b"vt1-file:secret.gif", gif("secret"))]),
     files={"page.htm": b'<base href="%B%/"><title>G</title><img src="a.gif">'
                        b'<img src="file:secret.gif"><a href="/x.htm">x</a><a href=#>y</a>',
            "secret.gif": gif("secret"), "a.gif": gif("local")},
     served={"a.gif": gif("web")})

case("host_only", "a URL without path: base and root are the URL",
     Message(q(b"http://%H%"), [
         Page(DOCTYPE + b'<img src="' + cid("a") + b'">', location=b"http://%H%"),
         image("a", b"vt0-a.gif", A_GIF)]),
     served={"page.htm": b"<img src=host_only/a.gif>", "a.gif": A_GIF},
     routes={"/": {"file": "page.htm"}},
     page="http://%H%")

case("directory_url", "a last segment without a dot is a directory",
     Message(q(b"http://%H%/directory_url/dir"), [
         Page(DOCTYPE + b'<img src="' + cid("a") + b'">', location=b"%B%/dir"),
         image("a", b"vt0-a.gif", A_GIF)]),
     served={"page.htm": b"<img src=a.gif>", "dir/a.gif": A_GIF},
     routes={"dir": {"file": "page.htm"}},
     page="%B%/dir")

case("base_href_web", "a base href replaces the base; '/' still goes to the page's root",
     Message(q(b"http://%H%/base_href_web/other/"), [
         Page(DOCTYPE + b'<base href="%B%/other/"><img src="' + cid("a") + b'"><img src="' +
              cid("b") + b'"><a href=#>x</a>', location=b"%B%/p/page.htm"),
         image("a", b"vt0-a.gif", gif("a")),
         image("b", b"vt1-b.gif", gif("b"))]),
     served={"p/page.htm": b'<base href="%B%/other/"><img src=a.gif>'
                           b"<img src=/base_href_web/b.gif><a href=#>x</a>",
             "other/a.gif": gif("a"), "b.gif": gif("b")},
     page="%B%/p/page.htm")

case("base_href_local_relative",
     "a relative base href in a local page: images stay relative, links use it",
     Message(q(b"sub"), [
         Page(DOCTYPE + b'<base href="sub"><img src="' + cid("a") + b'"><a href="sub/x.htm">x</a>'),
         image("a", b"vt0-a.gif", A_GIF)]),
     files={"page.htm": b'<base href="sub"><img src="a.gif"><a href="x.htm">x</a>', "a.gif": A_GIF})

case("extra_style_sheet",
     "an extra style sheet goes before </HEAD> (any case) and is not rewritten twice",
     Message(q(b"O"), [
         Page(DOCTYPE + b"<title>O" + meta() + b"<HEAD>\n<STYLE TYPE=\"text/css\">\n<!--\n"
              b"body{background-image:url(" + cid("e") + b")}\n-->\n</STYLE>\n\n</head><style>"
              b"p{background-image:url(" + cid("p") + b")}</style>"),
         image("e", b"vt0-e.gif", gif("e")),
         image("p", b"vt1-p.gif", gif("p"))]),
     files={"page.htm": b"<title>O</title><HEAD></HEAD><style>p{background-image:url(p.gif)}"
                        b"</style>",
            "extra.css": b"body{background-image:url(e.gif)}",
            "e.gif": gif("e"), "p.gif": gif("p")},
     args=["--style-sheet", "extra.css"])

case("empty_page", "an empty 200 body is an empty page",
     Message(q(b"http://%H%/empty_page"), [Page(DOCTYPE, location=b"%B%/page.htm")]),
     routes={"page.htm": {"body": ""}}, page="%B%/page.htm")

case("leading_nul_page", "a body starting with NUL is taken from its first '<'",
     Message(q(b"Z"), [Page(DOCTYPE + b"<title>Z" + meta() + b"x", location=b"%B%/page.htm")]),
     routes={"page.htm": {"body": "\u0000\u0000junk<title>Z</title>x"}}, page="%B%/page.htm")

case("nul_in_local_page", "a page ends at its first NUL (past the first kilobyte, which "
     "tells a page from a binary file)",
     Message(q(b"N"), [Page(DOCTYPE + b"<title>N" + meta() + b"a" * 1100)]),
     files={"page.htm": b"<title>N</title>" + b"a" * 1100 + b"\x00b<img src=a.gif>",
            "a.gif": A_GIF})

# ------------------------------------------------------------------ finer edges

case("restore_after_comment",
     "a style block hidden in a comment loses its placeholder with the comment; blocks "
     "go back, in order, into the placeholders that remain",
     Message(q(b"R"), [Page(DOCTYPE + b"<title>R" + meta() + b"<style>A</style>")]),
     files={"page.htm": b"<title>R</title><!-- <style>A</style> --><style>B</style>"})

case("restore_after_script",
     "a style block inside a dropped script goes with it; the next placeholder takes the "
     "first block",
     Message(q(b"S"), [Page(DOCTYPE + b"<title>S" + meta() + b"<style>A</style>")]),
     files={"page.htm": b"<title>S</title><script>a=\"<style>A</style>\"</script>"
                        b"<style>B</style>"})

case("literal_placeholders",
     "placeholder texts written in the page are taken as placeholders",
     Message(q(b"P"), [Page(DOCTYPE + b"<title>P" + meta() +
                            b"xy<style>S</style>z<vantrel_style>")]),
     files={"page.htm": b"<title>P</title>x<vantrel_script>y<vantrel_style>z<style>S</style>"})

case("unclosed_last_tag", "a last tag without '>' gains one",
     Message(q(b"U"), [
         Page(DOCTYPE + b"<title>U" + meta() + b'<a href="localhost/x.htm">x</a><img src="' +
              cid("a") + b'">'),
         image("a", b"vt0-a.gif", A_GIF)]),
     files={"page.htm": b"<title>U</title><a href=x.htm>x</a><img src=a.gif", "a.gif": A_GIF})

case("frame_name_without_slash",
     "keep-scripts: a frame named without '/' has itself as base",
     Message(q(b"I"), [
         Page(b"<title>I" + meta() + b'<iframe src="f.htm"></iframe>'),
         image("i", b"vt0-i.gif", gif("i")),
         frame("f", b"vt0-f.htm", b'<a href="f.htm/x.htm">x</a><img src="' + cid("i") + b'">',
               b"f.htm")]),
     files={"page.htm": b"<title>I</title><iframe src=f.htm></iframe>",
            "f.htm": b"<a href=x.htm>x</a><img src=i.gif>", "i.gif": gif("i")},
     args=["--keep-scripts"])

case("frames_local_nested",
     "local frames two directories deep are read from their own directories and the "
     "page's own directory is back afterwards",
     Message(q(b"P"), [
         Page(DOCTYPE + b"<title>P" + meta() + b'<frameset><frame src="sub/f.htm"></frameset>'
              b'<img src="' + cid("t") + b'">'),
         image("g", b"vt0-g.gif", gif("g")),
         frame("gh", b"vt0-g.htm", DOCTYPE + b"<title>G" + meta() + b'<img src="' + cid("g") +
               b'"><a href="deeper/x.htm">x</a>', b"deeper/g.htm"),
         frame("f", b"vt0-f.htm", DOCTYPE + b'<frameset><frame src="deeper/g.htm"></frameset>',
               b"sub/f.htm"),
         image("t", b"vt1-top.gif", gif("top"))]),
     files={"page.htm": b'<title>P</title><frameset><frame src="sub/f.htm"></frameset>'
                        b"<img src=top.gif>",
            "sub/f.htm": b'<frameset><frame src="deeper/g.htm"></frameset>',
            "sub/deeper/g.htm": b"<title>G</title><img src=g.gif><a href=x.htm>x</a>",
            "sub/deeper/g.gif": gif("g"), "top.gif": gif("top")})

case("include_same_file", "a file is told by its normalised path, whatever the spelling",
     Message(q(b"A"), [Page(DOCTYPE + b"<title>A" + meta() + b"A")]),
     files={"page.htm": b'<title>A</title><!--#include file="a.inc"-->',
            "a.inc": b'A<!--#include file="./a.inc"--><!--#include file="sub/../a.inc"-->',
            "sub/x": b""})

case("include_relative_to_working_directory",
     "an included file's own directives name files relative to the page's directory",
     Message(q(b"W"), [Page(DOCTYPE + b"<title>W" + meta() + b"Atop-b")]),
     files={"page.htm": b'<title>W</title><!--#include file="inc/a.inc"-->',
            "inc/a.inc": b'A<!--#include file="b.inc"-->', "b.inc": b"top-b",
            "inc/b.inc": b"inc-b"})

case("dropped_script_counts_as_emitted",
     "a script part dropped while scripts are off is still emitted: a later frame with "
     "scripts on that names it gets no part for it",
     Message(q(b"P"), [
         Page(b"<title>P" + meta() + b"n<style>p{background-image:url(" + cid("x") + b")}"
              b'</style><frameset><frame src="%B%/f.htm"></frameset>', location=b"%B%/page.htm"),
         frame("f", b"vt1-f.htm", b'<script src="' + cid("x") + b'"></script>', b"%B%/f.htm")]),
     served={"page.htm": b"<title>P</title><noscript>n</noscript><style>p{background-image:"
                         b'url(x.js)}</style><frameset><frame src="f.htm"></frameset>',
             "f.htm": b'<script src="x.js"></script>', "x.js": b"var x;"},
     page="%B%/page.htm", driver=["keep-scripts"])

case("noscripts_back_on",
     "a frame without <noscript> turns scripts back on for the page's later resources",
     Message(q(b"P"), [
         Page(b"<title>P" + meta() + b'n<frameset><frame src="%B%/f.htm"></frameset>'
              b'<input type="image" src="' + cid("x") + b'">', location=b"%B%/page.htm"),
         frame("f", b"vt0-f.htm", b"<p>f</p>", b"%B%/f.htm"),
         Part("x", b"vt1-x.js", b"var x;", b"application/octet-stream", "quoted-printable")]),
     served={"page.htm": b'<title>P</title><noscript>n</noscript><frameset><frame src="f.htm">'
                         b'</frameset><input type=image src="x.js">',
             "f.htm": b"<p>f</p>", "x.js": b"var x;"},
     page="%B%/page.htm", driver=["keep-scripts"])

case("utf16_page", "a UTF-16 file is read as UTF-8 with its byte-order mark, which makes "
     "the page utf-8",
     Message(b"U", [Page(DOCTYPE + b"\xef\xbb\xbf<title>U" + meta(b"utf-8"), b"utf-8")]),
     files={"page.htm": b"\xff\xfe" + "<title>U</title>".encode("utf-16-le")})

case("bom_before_doctype", "a byte-order mark is neither white space nor an XML declaration; "
     "it makes an undeclared page utf-8",
     Message(b"B", [Page(DOCTYPE + b"\xef\xbb\xbf<!DOCTYPE html><title>B" + meta(b"utf-8"),
                         b"utf-8")]),
     files={"page.htm": b"\xef\xbb\xbf<!DOCTYPE html><title>B</title>"})

case("style_sheet_with_blocks",
     "a sheet's own style blocks come first; the sheet ends at a NUL; a local sheet in "
     "css/ resolves ../ against its own directory",
     Message(q(b"S"), [
         Page(DOCTYPE + b"<title>S" + meta() + b"<style>b{background-image:url(" + cid("x") +
              b")}</style>\n<STYLE TYPE=\"text/css\">\n<!--\na{}c{background-image:url(" +
              cid("y") + b")}\n-->\n</STYLE>\n"),
         image("x", b"vt0-x.gif", gif("x")),
         image("y", b"vt1-y.gif", gif("y"))]),
     files={"page.htm": b"<title>S</title><link rel=stylesheet href=css/s.css>",
            "css/s.css": b"a{}<style>b{background-image:url(../img/x.gif)}</style>"
                         b"c{background-image:url(../img/y.gif)}\x00junk",
            "img/x.gif": gif("x"), "img/y.gif": gif("y")})

case("style_sheet_absolute_urls_web",
     "a web sheet's '/' and '//' url() values and absolute ones",
     Message(q(b"A"), [
         Page(DOCTYPE + b"<title>A" + meta() + b"\n<STYLE TYPE=\"text/css\">\n<!--\n"
              b"a{background-image:url(" + cid("r") + b")} b{background-image:url(" + cid("h") +
              b")} c{background-image:url(" + cid("s") + b")}\n-->\n</STYLE>\n",
              location=b"%B%/page.htm"),
         image("r", b"vt0-r.gif", gif("r")),
         image("h", b"vt1-h.gif", gif("h")),
         image("s", b"vt2-s.gif", gif("s"))]),
     served={"page.htm": b"<title>A</title><link rel=stylesheet href=css/s.css>",
             "css/s.css": b"a{background-image:url(/style_sheet_absolute_urls_web/img/r.gif)} "
                          b"b{background-image:url(http://%H%/style_sheet_absolute_urls_web/img/"
                          b"h.gif)} c{background-image:url(//%H%/style_sheet_absolute_urls_web/"
                          b"img/s.gif)}",
             "img/r.gif": gif("r"), "img/h.gif": gif("h"), "img/s.gif": gif("s")},
     page="%B%/page.htm")

case("title_after_stray_end",
     "the META goes after the first </title>, the Subject is the text after <title>",
     Message(q(b"T"), [Page(DOCTYPE + b"x" + meta() + b"<title>T</title>")]),
     files={"page.htm": b"x</title><title>T</title>"})

case("subject_q_reserved_bytes", "'=', '?' and '_' are encoded in Q words",
     Message(b"=?iso-8859-1?Q?a=3Db=3Fc=5Fd?=", [Page(DOCTYPE + b"<title>a=b?c_d" + meta())]),
     files={"page.htm": b"<title>a=b?c_d</title>"})

case("subject_marker_late",
     "a long title becomes words of at most 75 characters, folded within lines of 78",
     Message(b"=?iso-8859-1?Q?" + b"x" * 52 + b"?=\r\n =?iso-8859-1?Q?" + b"x" * 49 +
             b"=3F?=\r\n =?iso-8859-1?Q?Q=3F?=",
             [Page(DOCTYPE + b"<title>" + b"x" * 101 + b"?Q?" + meta())]),
     files={"page.htm": b"<title>" + b"x" * 101 + b"?Q?</title>"})

case("subject_marker_b", "a ?b? in a title is text like any other",
     Message(b"=?iso-8859-1?Q?a=3Fb=3Fc?=", [Page(DOCTYPE + b"<title>a?b?c" + meta())]),
     files={"page.htm": b"<title>a?b?c</title>"})

case("subject_windows_1254", "windows-1254 takes the B form",
     Message(b"=?windows-1254?B?VA==?=", [Page(DOCTYPE + b"<meta charset=windows-1254><title>T" +
                                               meta(b"windows-1254"), b"windows-1254")]),
     files={"page.htm": b"<meta charset=windows-1254><title>T</title>"})

case("base_href_mixed_case_scheme",
     "only 'http' or 'HTTP' leave local mode: images stay local, links use the base",
     Message(q(b"M"), [
         Page(DOCTYPE + b'<base href="Http://%H%/x/"><title>M' + meta() + b'<img src="' +
              cid("a") + b'"><a href="Http://%H%/x/y.htm">y</a>'),
         image("a", b"vt0-a.gif", A_GIF)]),
     files={"page.htm": b'<base href="Http://%H%/x/"><title>M</title><img src=a.gif>'
                        b"<a href=y.htm>y</a>", "a.gif": A_GIF})

case("page_query_with_slashes",
     "the page URL is cut at '?' before its base is taken; HTTP: is absolute",
     Message(q(b"Q"), [
         Page(DOCTYPE + b"<title>Q" + meta() + b'<img src="' + cid("a") + b'"><img src="' +
              cid("b") + b'">', location=b"%B%/page.htm?r=/a/b"),
         image("a", b"vt0-a.gif", gif("a")),
         image("b", b"vt1-b.gif", gif("b"))]),
     served={"page.htm": b'<title>Q</title><img src=a.gif><img src="HTTP://%H%/'
                         b'page_query_with_slashes/b.gif">',
             "a.gif": gif("a"), "b.gif": gif("b")},
     page="%B%/page.htm?r=/a/b")

case("frameset_uses_every_resource",
     "in a frameset document every resource is used, referenced or not",
     Message(q(b"F"), [
         Page(DOCTYPE + b"<title>F" + meta() + b"<frameset></frameset><p >y</p>"),
         image("c", b"vt0-c.gif", gif("c"))]),
     files={"page.htm": b"<title>F</title><frameset></frameset><p onclick='<img src=c.gif>'>y"
                        b"</p>", "c.gif": gif("c")})

case("page_urls_are_used", "a page URL is used even when not referenced",
     Message(q(b"G"), [
         Page(DOCTYPE + b"<title>G" + meta() + b"<p >z</p>"),
         image("d", b"vt0-d.php", gif("d"))]),
     files={"page.htm": b"<title>G</title><p onclick='<img src=d.php>'>z</p>", "d.php": gif("d")})

case("attribute_forms",
     "spaces around '=', tags over lines, data-src before src, single quotes, "
     "backslashes, one content-id for two letter cases",
     Message(q(b"A"), [
         Page(DOCTYPE + b"<title>A" + meta() + b'<img SRC="' + cid("a") + b'"><img src="' +
              cid("a") + b'" alt="x"><img data-src="lazy.gif" src="' + cid("a") + b"\">"
              b"<img src='" + cid("b") + b"'><img src=\"" + cid("c") + b"\">"
              b"<a href='localhost/x.htm'>x</a><img src=\"" + cid("p") + b"\"><img src=\"" +
              cid("p") + b"\">"),
         image("a", b"vt0-a.gif", gif("a")),
         image("b", b"vt1-b.gif", gif("b")),
         image("c", b"vt2-c.gif", gif("c")),
         image("p", b"vt3-Pic.GIF", gif("pic"))]),
     files={"page.htm": b'<title>A</title><IMG SRC = "a.gif" ><img\nsrc="a.gif"\nalt="x">'
                        b'<img data-src="lazy.gif" src="a.gif"><img src=\'b.gif\'>'
                        b'<img src="sub\\c.gif"><a href=\'x.htm\'>x</a><img src=Pic.GIF>'
                        b"<img src=pic.gif>",
            "a.gif": gif("a"), "b.gif": gif("b"), "sub/c.gif": gif("c"), "Pic.GIF": gif("pic"),
            "lazy.gif": gif("lazy")})

case("rollover_boundaries",
     "keep-scripts: a 5-byte string is too short, the name must end the string",
     Message(q(b"R"), [
         Page(b"<title>R" + meta() + b'<a href="localhost/x.htm" onmouseover="f(\'.gif\');'
              b"g('n.GIFX');h('" + cid("j") + b"')\">x</a>"),
         image("j", b"vt0-ab.jpg", jpeg("ab"), b"image/jpeg")]),
     files={"page.htm": b"<title>R</title><a href=x.htm onmouseover=\"f('.gif');g('n.GIFX');"
                        b"h('ab.jpg')\">x</a>", "ab.jpg": jpeg("ab")},
     args=["--keep-scripts"])

case("script_sources_keep",
     "keep-scripts: .vbs and .HTM sources are parts ('#' is not); a local .vbs is base64 "
     "octet-stream, a .HTM source a frame document",
     Message(q(b"K"), [
         Page(b"<title>K" + meta() + b'<script src="' + cid("v") + b'"></script>'
              b'<script src="#"></script><script src="' + cid("i") + b'"></script>'),
         Part("v", b"vt0-a.vbs", b"x", b"application/octet-stream"),
         frame("i", b"vt1-inner.HTM", b"<p>in</p>", b"inner.HTM")]),
     files={"page.htm": b'<title>K</title><script src=a.vbs></script><script src="#"></script>'
                        b"<script src=inner.HTM></script>",
            "a.vbs": b"x", "inner.HTM": b"<p>in</p>"},
     args=["--keep-scripts"])

case("embed_area_input",
     "javascript: embeds and areas become the base and '/'; mailto: stays; an input "
     "without SRC stays",
     Message(q(b"E"), [Page(DOCTYPE + b"<title>E" + meta() + b'<embed src="localhost/">'
                            b'<area href="mailto:a@b"><area href="localhost/" shape="rect">'
                            b"<input type=text name=q>")]),
     files={"page.htm": b'<title>E</title><embed src="javascript:x()"><area href="mailto:a@b">'
                        b'<area href="javascript:y()" shape=rect><input type=text name=q>'})

case("quoted_printable_line_starts",
     "keep-scripts keeps CR LF: 'From ' and '.' at line starts and a blank before CR LF "
     "are encoded",
     Message(q(b"Q"), [Page(b"<title>Q" + meta() + b"\r\nFrom here\r\n.dot\r\ntrailing \r\nend")]),
     files={"page.htm": b"<title>Q</title>\r\nFrom here\r\n.dot\r\ntrailing \r\nend"},
     args=["--keep-scripts"])

GIF_54 = b"GIF89a" + b"x" * 48
case("base64_whole_lines", "54 bytes make one full line and an empty one",
     Message(q(b"6"), [
         Page(DOCTYPE + b"<title>6" + meta() + b'<img src="' + cid("a") + b'">'),
         image("a", b"vt0-a.gif", GIF_54)]),
     files={"page.htm": b"<title>6</title><img src=a.gif>", "a.gif": GIF_54})

case("html_resource_with_leading_nul",
     "an HTML resource starting with NUL is an empty frame document",
     Message(q(b"Z"), [
         Page(DOCTYPE + b"<title>Z" + meta() + b'<img src="' + cid("z") + b'">',
              location=b"%B%/page.htm"),
         frame("z", b"vt0-z.htm", DOCTYPE, b"%B%/z.htm")]),
     served={"page.htm": b"<title>Z</title><img src=z.htm>", "z.htm": b"\x00<p>x</p>"},
     page="%B%/page.htm")

case("excluded_frame", "an excluded frame is not fetched; an HTML5 META names a frame's charset",
     Message(q(b"http://%H%/excluded_frame"), [
         Page(DOCTYPE + b'<frameset><frame src="%B%/left.htm"><frame src="%B%/right.htm">'
              b"</frameset>", location=b"%B%/page.htm"),
         frame("l", b"vt0-left.htm", DOCTYPE + b'<meta charset="koi8-r"><p>L</p>',
               b"%B%/left.htm", b"koi8-r")]),
     served={"page.htm": b"<frameset><frame src=left.htm><frame src=right.htm></frameset>",
             "left.htm": b'<meta charset="koi8-r"><p>L</p>', "right.htm": b"<p>R</p>"},
     page="%B%/page.htm", args=["--exclude", "right"])

case("css_marker_text",
     "the marker text in a style block becomes background-image; URL( in capitals",
     Message(q(b"M"), [
         Page(DOCTYPE + b"<title>M" + meta() + b"<style>.background-image{} "
              b"p{background-image:URL(" + cid("x") + b")}</style>"),
         image("x", b"vt0-x.gif", gif("x"))]),
     files={"page.htm": b'<title>M</title><style>.ab8s9asdfsld{} p{background-image:URL( "x.gif" )}'
                        b"</style>", "x.gif": gif("x")})

case("pass_order",
     "resources are numbered in pass order: style blocks, images, inputs, linked sheets, "
     "backgrounds",
     Message(q(b"O"), [
         Page(DOCTYPE + b"<title>O" + meta() + b'<body background="' + cid("b") + b'">'
              b'<input type="image" src="' + cid("i") + b'"><img src="' + cid("m") + b'">'
              b"\n<STYLE TYPE=\"text/css\">\n<!--\nq{background-image:url(" + cid("l") +
              b")}\n-->\n</STYLE>\n<style>p{background-image:url(" + cid("st") + b")}</style>"),
         image("st", b"vt0-st.gif", gif("st")),
         image("m", b"vt1-m.gif", gif("m")),
         image("i", b"vt2-i.gif", gif("i")),
         image("l", b"vt3-l.gif", gif("l")),
         image("b", b"vt4-b.gif", gif("b"))]),
     files={"page.htm": b"<title>O</title><body background=b.gif><input type=image src=i.gif>"
                        b"<img src=m.gif><link rel=stylesheet href=s.css>"
                        b"<style>p{background-image:url(st.gif)}</style>",
            "s.css": b"q{background-image:url(l.gif)}",
            "st.gif": gif("st"), "m.gif": gif("m"), "i.gif": gif("i"), "l.gif": gif("l"),
            "b.gif": gif("b")})

# ------------------------------------------------------------------ across documents

case("shared_id_other_case",
     "a frame's URL that differs from the page's only in letter case shares its "
     "content-id, and that content-id gets one part",
     Message(q(b"C"), [
         Page(DOCTYPE + b"<title>C" + meta() + b'<frameset><frame src="%B%/f.htm"></frameset>'
              b'<img src="' + cid("x") + b'">', location=b"%B%/page.htm"),
         image("x", b"vt0-a.gif", gif("lower")),
         frame("f", b"vt0-f.htm", DOCTYPE + b'<img src="' + cid("x") + b'">', b"%B%/f.htm")]),
     served={"page.htm": b"<title>C</title><frameset><frame src=f.htm></frameset>"
                         b"<img src=A.gif>",
             "f.htm": b"<img src=a.gif>", "a.gif": gif("lower"), "A.gif": gif("upper")},
     page="%B%/page.htm")

case("page_frames_itself", "a page used as its own frame is converted once more, not twice",
     Message(q(b"http://%H%/page_frames_itself"), [
         Page(DOCTYPE + b'<frameset><frame src="%B%/p.htm"></frameset>', location=b"%B%/p.htm"),
         frame("p", b"vt0-p.htm", DOCTYPE + b'<frameset><frame src="%B%/p.htm"></frameset>',
               b"%B%/p.htm")]),
     served={"p.htm": b"<frameset><frame src=p.htm></frameset>"}, page="%B%/p.htm")

case("local_page_web_frame",
     "a web frame in a local page reads no local file; the page's own local images "
     "are read after it",
     Message(q(b"P"), [
         Page(DOCTYPE + b"<title>P" + meta() + b'<frameset><frame src="%B%/f.htm"></frameset>'
              b'<img src="' + cid("a") + b'">'),
         image("w", b"vt0-w.gif", gif("w")),
         frame("f", b"vt0-f.htm", DOCTYPE + b'<img src="' + cid("w") +
               b'"><img src="file:secret.gif">', b"%B%/f.htm"),
         image("a", b"vt1-a.gif", gif("a"))]),
     files={"page.htm": b'<title>P</title><frameset><frame src="%B%/f.htm"></frameset>'
                        b"<img src=a.gif>", "a.gif": gif("a"), "secret.gif": gif("secret")},
     served={"f.htm": b'<img src=w.gif><img src="file:secret.gif">', "w.gif": gif("w")})

case("iframe_not_page_url",
     "keep-scripts: an iframe whose URL is no page URL is not used; a .php one is a frame",
     Message(q(b"I"), [
         Page(b"<title>I" + meta() + b'<iframe src="%B%/widget"></iframe>'
              b'<iframe src="%B%/w.php?x=1"></iframe>', location=b"%B%/page.htm"),
         frame("w", b"vt1-w.php", b"<p>w</p>", b"%B%/w.php?x=1")]),
     served={"page.htm": b'<title>I</title><iframe src="widget"></iframe>'
                         b'<iframe src="w.php?x=1"></iframe>',
             "widget": b"<p>widget</p>", "w.php": b"<p>w</p>"},
     page="%B%/page.htm", args=["--keep-scripts"])

case("frame_charset_local_meta", "a frame's META tag carries the charset the page's META named",
     Message(b"P", [
         Page(DOCTYPE + b"<meta charset=utf-8><title>P" + meta(b"utf-8") +
              b'<frameset><frame src="f.htm"></frameset>', b"utf-8"),
         frame("f", b"vt0-f.htm", DOCTYPE + b"<title>F" + meta(b"utf-8"), b"f.htm")]),
     files={"page.htm": b'<meta charset=utf-8><title>P</title><frameset><frame src="f.htm">'
                        b"</frameset>", "f.htm": b"<title>F</title>"})

# ------------------------------------------------------------------ META charset search

case("meta_refresh_then_html5",
     "a meta with HTTP-EQUIV other than content-type is passed over even with a CHARSET",
     Message(b"M", [Page(DOCTYPE + b'<meta http-equiv="refresh" content="5" charset="koi8-r">'
                         b'<meta charset="utf-8"><title>M' + meta(b"utf-8"), b"utf-8")]),
     files={"page.htm": b'<meta http-equiv="refresh" content="5" charset="koi8-r">'
                        b'<meta charset="utf-8"><title>M</title>'})

case("meta_content_type_without_charset",
     "a content-type meta without charset ends the search with its own (empty) CHARSET",
     Message(q(b"M"), [Page(DOCTYPE + b'<meta http-equiv="Content-Type" content="text/html">'
                            b'<meta charset="utf-8"><title>M' + meta())]),
     files={"page.htm": b'<meta http-equiv="Content-Type" content="text/html">'
                        b'<meta charset="utf-8"><title>M</title>'})

case("meta_content_type_own_charset",
     "a content-type meta without charset in its content takes its CHARSET attribute",
     Message(q(b"M", b"koi8-r"), [Page(DOCTYPE + b'<meta http-equiv="Content-Type" '
                                       b'content="text/html" charset="koi8-r"><title>M' +
                                       meta(b"koi8-r"), b"koi8-r")]),
     files={"page.htm": b'<meta http-equiv="Content-Type" content="text/html" charset="koi8-r">'
                        b"<title>M</title>"})

case("meta_later_tag", "metas without charset are passed over; Shift_JIS takes the B form",
     Message(b"=?Shift_JIS?B?Uw==?=", [
         Page(DOCTYPE + b'<meta name=x content=y><meta http-equiv=content-type content="text/html;'
              b' CHARSET=Shift_JIS"><title>S' + meta(b"Shift_JIS"), b"Shift_JIS")]),
     files={"page.htm": b'<meta name=x content=y><meta http-equiv=content-type content="text/html;'
                        b' CHARSET=Shift_JIS"><title>S</title>'})

# ------------------------------------------------------------------ tag text oddities

case("unclosed_quote", "a quote that never closes: the tag ends at its first '>'",
     Message(q(b"U"), [
         Page(DOCTYPE + b"<title>U" + meta() + b'<img src="' + cid("a") + b'" alt="x>">y<p>z'),
         image("a", b"vt0-a.gif", A_GIF)]),
     files={"page.htm": b'<title>U</title><img src=a.gif alt="x>y<p>z', "a.gif": A_GIF})

ATTRIBUTES = b"".join(b" a%d=%d" % (k, k) for k in range(1, 102))
case("clean_tag_cut_off",
     "after 101 valued attributes a tag is cut off without its '>'",
     Message(q(b"C"), [
         Page(DOCTYPE + b"<title>C" + meta() + b'<img src="' + cid("a") + b'"' +
              b"".join(b' a%d="%d"' % (k, k) for k in range(1, 101)) + b"<p>after"),
         image("a", b"vt0-a.gif", A_GIF)]),
     files={"page.htm": b"<title>C</title><img src=a.gif" + ATTRIBUTES + b"><p>after",
            "a.gif": A_GIF})

case("unquoted_value_ends",
     "an unquoted value runs over a tab and keeps a trailing '/'; '\"/>' stays; files "
     "that cannot be read keep their references as written",
     Message(q(b"V"), [
         Page(DOCTYPE + b"<title>V" + meta() + b'<img src="a.gif\twidth=1"><img src="a.gif/">'
              b'<img src="' + cid("a") + b'" />'),
         image("a", b"vt2-a.gif", A_GIF)]),
     files={"page.htm": b'<title>V</title><img src=a.gif\twidth=1><img src=a.gif/>'
                        b'<img src="a.gif"/>', "a.gif": A_GIF})

case("blocks_hide_tags",
     "keep-scripts: tags inside style and script blocks are not rewritten",
     Message(q(b"B"), [Page(b"<title>B" + meta() + b"<style>/* <a href=x.htm> <img src=s.gif> */"
                            b"</style><script>document.write('<img src=a.gif><a href=y.htm>')"
                            b"</script>")]),
     files={"page.htm": b"<title>B</title><style>/* <a href=x.htm> <img src=s.gif> */</style>"
                        b"<script>document.write('<img src=a.gif><a href=y.htm>')</script>",
            "a.gif": A_GIF, "s.gif": gif("s")},
     args=["--keep-scripts"])

def style_block(text):
    return b'\n<STYLE TYPE="text/css">\n<!--\n' + text + b"\n-->\n</STYLE>\n"


case("two_extra_style_sheets",
     "extra sheets go in their order before </head>; one that cannot be read adds nothing",
     Message(q(b"localhost"), [
         Page(DOCTYPE + b"<head>" + style_block(b"a{}") + b"\n" + style_block(b"b{}") +
              b"\n</head><p>x</p>")]),
     files={"page.htm": b"<head></head><p>x</p>", "a.css": b"a{}", "b.css": b"b{}"},
     args=["--style-sheet", "a.css", "--style-sheet", "missing.css", "--style-sheet", "b.css"])

case("extra_style_sheet_without_head", "a page without </head> gets no extra sheet",
     Message(q(b"X"), [Page(DOCTYPE + b"<title>X" + meta() + b"<p>x</p>")]),
     files={"page.htm": b"<title>X</title><p>x</p>", "a.css": b"a{background-image:url(a.gif)}",
            "a.gif": A_GIF},
     args=["--style-sheet", "a.css"])

case("empty_resource", "an empty resource is a failed one",
     Message(q(b"E"), [
         Page(DOCTYPE + b"<title>E" + meta() + b'<img src="%B%/e.gif">',
              location=b"%B%/page.htm")]),
     served={"page.htm": b"<title>E</title><img src=e.gif>", "e.gif": b""},
     page="%B%/page.htm")

case("typing_rows_local",
     "sniffed images named .css or .js are quoted-printable, one named .htm is base64; a "
     "local file without a dot or with an unknown extension is base64 octet-stream; a "
     "local .asp is an octet-stream frame document; a .JS script is dropped",
     Message(q(b"T"), [
         Page(DOCTYPE + b"<title>T" + meta() + b"".join(
             b'<img src="' + cid(str(i)) + b'">' for i in range(7))),
         Part("0", b"vt0-pic.css", gif("css"), b"image/gif", "quoted-printable"),
         Part("1", b"vt1-pic.js", gif("js"), b"image/gif", "quoted-printable"),
         Part("2", b"vt2-pic.htm", gif("htm")),
         Part("3", b"vt3-noext", b"<p>n</p>", b"application/octet-stream"),
         Part("4", b"vt4-x.xyz", b"xyz", b"application/octet-stream"),
         Part("5", b"vt5-page.asp", DOCTYPE + b"<title>A" + meta() + b"<p>a</p>",
              b"application/octet-stream", "quoted-printable", location=b"page.asp")]),
     files={"page.htm": b"<title>T</title><img src=pic.css><img src=pic.js><img src=pic.htm>"
                        b"<img src=noext><img src=x.xyz><img src=page.asp><img src=UP.JS>",
            "pic.css": gif("css"), "pic.js": gif("js"), "pic.htm": gif("htm"),
            "noext": b"<p>n</p>", "x.xyz": b"xyz", "page.asp": b"<title>A</title><p>a</p>",
            "UP.JS": b"var u;"})

case("file_url_frames",
     "frames named by file: URLs, relative and absolute, are read, entered and resolved "
     "against; the second frame's image shares the first one's content-id",
     Message(q(b"P"), [
         Page(DOCTYPE + b"<title>P" + meta() + b'<frameset><frame src="file:sub/f.htm">'
              b'<frame src="file://%D%/sub/f.htm"></frameset>'),
         image("i", b"vt0-i.gif", gif("i")),
         frame("f", b"vt0-f.htm", DOCTYPE + b"<title>F" + meta() + b'<img src="' + cid("i") +
               b'"><a href="file:sub/x.htm">x</a>', b"file:sub/f.htm"),
         frame("g", b"vt1-f.htm", DOCTYPE + b"<title>F" + meta() + b'<img src="' + cid("i") +
               b'"><a href="file://%D%/sub/x.htm">x</a>', b"file://%D%/sub/f.htm")]),
     files={"page.htm": b'<title>P</title><frameset><frame src="file:sub/f.htm">'
                        b'<frame src="file://%D%/sub/f.htm"></frameset>',
            "sub/f.htm": b"<title>F</title><img src=i.gif><a href=x.htm>x</a>",
            "sub/i.gif": gif("i")})

case("subject_with_line_feed",
     "a 7-bit utf-8 title is the Subject unencoded, a line feed in it collapsed to a blank",
     Message(b"a b", [Page(DOCTYPE + b"<meta charset=utf-8><title>a\nb" + meta(b"utf-8"),
                            b"utf-8")]),
     files={"page.htm": b"<meta charset=utf-8><title>a\nb</title>"})

case("css_value_in_place",
     "a value is replaced where it stands, not inside an earlier URL; only the first "
     "url() of a property is handled",
     Message(q(b"V"), [
         Page(DOCTYPE + b"<title>V" + meta() + b"<style>p{x:url(ab.gif)} q{background-image:url(" +
              cid("b") + b"), url(c.gif)}</style>"),
         image("b", b"vt0-b.gif", gif("b"))]),
     files={"page.htm": b"<title>V</title><style>p{x:url(ab.gif)} q{background-image:url(b.gif),"
                        b" url(c.gif)}</style>",
            "ab.gif": gif("ab"), "b.gif": gif("b"), "c.gif": gif("c")})

case("local_page_web_sheet",
     "a web sheet in a local page resolves against its own URL and is fetched from the web; "
     "the page's local mode is back for the backgrounds after it",
     Message(q(b"L"), [
         Page(DOCTYPE + b"<title>L" + meta() + b'<body background="' + cid("b") + b'">' +
              style_block(b"p{background-image:url(" + cid("w") + b")}")),
         image("w", b"vt0-bg.gif", gif("web")),
         image("b", b"vt1-b.gif", gif("b"))]),
     files={"page.htm": b'<title>L</title><body background=b.gif>'
                        b'<link rel=stylesheet href="%B%/css/s.css">', "b.gif": gif("b")},
     served={"css/s.css": b"p{background-image:url(../img/bg.gif)}", "img/bg.gif": gif("web")})

QP_LINES = b"\r\n".join([b"a" * k + b".b" for k in range(60, 80)] +
                        [b"a" * k + b"From x" for k in range(60, 80)] +
                        [b"a" * k + b"=\xe9\t \r\n" for k in range(66, 74)])
case("quoted_printable_soft_breaks",
     "keep-scripts: '.' and 'From ' right after a soft break, escapes and blanks at the "
     "break, a blank before CR LF",
     Message(q(b"Q"), [Page(b"<title>Q" + meta() + b"\r\n" + QP_LINES.rstrip(b" \t\r\n"))]),
     files={"page.htm": b"<title>Q</title>\r\n" + QP_LINES},
     args=["--keep-scripts"])

case("base64_sizes", "base64 of 53, 55 and 108 bytes",
     Message(q(b"S"), [
         Page(DOCTYPE + b"<title>S" + meta() + b"".join(
             b'<img src="' + cid(n) + b'">' for n in ("a", "b", "c"))),
         image("a", b"vt0-a.gif", b"GIF89a" + bytes(range(47))),
         image("b", b"vt1-b.gif", b"GIF89a" + bytes(range(49))),
         image("c", b"vt2-c.gif", b"GIF89a" + bytes(range(200, 256)) + bytes(range(46)))]),
     files={"page.htm": b"<title>S</title><img src=a.gif><img src=b.gif><img src=c.gif>",
            "a.gif": b"GIF89a" + bytes(range(47)), "b.gif": b"GIF89a" + bytes(range(49)),
            "c.gif": b"GIF89a" + bytes(range(200, 256)) + bytes(range(46))})

case("redirected_page",
     "a page reached through a redirect keeps the asked-for URL as its base and "
     "Content-Location",
     Message(q(b"R"), [
         Page(DOCTYPE + b"<title>R" + meta() + b'<img src="' + cid("a") + b'">',
              location=b"%B%/start.htm"),
         image("a", b"vt0-a.gif", gif("asked"))]),
     served={"real/page.htm": b"<title>R</title><img src=a.gif>", "a.gif": gif("asked"),
             "real/a.gif": gif("real")},
     routes={"start.htm": {"redirect": "http://%H%/redirected_page/real/page.htm"}},
     page="%B%/start.htm")
