#pragma once

#include "foundation/StringBuffer.h"

// What a reference found in a document is for. The kind decides how the
// reference is resolved and what is written back in its place.
enum class ReferenceKind {
    // A picture, font or other file that travels as a part of its own:
    // written as "cid:" and its content-id.
    Resource,
    // The picture of an image button (<input src>); "#" stands for no address.
    InputImage,
    // A script source: a Resource when its address names a script or a page,
    // else left as written.
    Script,
    // A background attribute: a Resource unless its address names a page,
    // which is no picture.
    Background,
    // A frame document: converted into a part of its own, but written as its
    // absolute address, which becomes the part's Content-Location.
    Frame,
    // A link: not fetched, made absolute so that it still works from the mail.
    Link,
    // A style sheet that is fetched and put into the page: only resolved.
    StyleSheet,
};

// Where the reference was written: an attribute value (character references
// are read), the address of a CSS url() or @import (which a style sheet read
// from a file resolves against its own directory), or a url() in a style
// attribute (both). What is written back is escaped for the same place.
enum class ReferenceSyntax { Attribute, Css, StyleAttribute };

// The result of the embedding step for one reference.
struct EmbeddedReference {
    // The address the reference resolves to: what is fetched.
    StringBuffer address;
    // The content-id of its part; empty for links and style sheets.
    StringBuffer contentId;
    // What is written in the document in place of the reference.
    StringBuffer text;
};
