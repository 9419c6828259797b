#pragma once

#include <cstdint>
#include <string>

class StringBuffer;

// The decisions the resource loop makes about one fetched resource: what its
// first bytes say it is, its content type by extension, its part name and
// its transfer encoding. Each is a pure function of the URL and the bytes.

// The image type that the first bytes announce ("image/gif", "image/jpeg",
// "image/png", "image/webp", "image/avif", "image/svg+xml"), or null when
// they announce none. GIF and JPEG are told by the hexadecimal dump of the
// first four bytes, so a JPEG that starts with an EXIF marker is not one.
const char* sniffImageType(const unsigned char* bytes, uint32_t count);

// The address without its query and fragment: what the typing by extension
// and the part name read, so that "photo.jpg?itok=x" is a JPEG picture.
std::string addressPath(const char* url);

// The content type by the text after the last "." of the URL's path (the
// media type a data: address names), appended to type. isJavaScript is set when the table named a
// script type, which is then written as "application/octet-stream".
// guessed, when given, says whether the type is only the guess for an http
// address whose extension the table does not know ("text/html").
void typeByExtension(const char* url, StringBuffer& type, bool& isJavaScript,
                     bool* guessed = nullptr);

// True when the first 1024 bytes hold a NUL byte, which no HTML document
// does: the complete mode fetches cursors and other pictures by url() whose
// extensions the table does not know, and they must not be taken for pages.
bool looksBinary(const unsigned char* bytes, uint32_t count);

// "vt<index>-" and the file name of the URL, without ";" and "=", with
// ".gif" or ".jpeg" added to an image name that has no dot; appended to out.
void partNameFor(const char* url, int index, const char* type, StringBuffer& out);

// How a part is encoded, by the extension of its URL and what sniffing or
// typing found.
struct PartEncoding {
    const char* transferEncoding; // "base64" or "quoted-printable"
    bool styleSheet;              // the part gets the charset iso-8859-1
    bool htmlDocument;            // the bytes are a document to convert as a frame
};
PartEncoding chooseEncoding(const char* url, bool isImage, const char* type);
