#pragma once

#include "foundation/DataBuffer.h"
#include "foundation/VantrelObject.h"

class StringBuffer;

// How a body's bytes are written out.
enum class BodyEncoding { None = 0, QuotedPrintable = 1, Base64 = 2 };

// "base64" and "quoted-printable" (in any letter case) name an encoding;
// every other name, blanks around it included, and null mean None.
BodyEncoding encodingFromName(const char* name);

// The content of one MIME entity: an own copy of the unencoded bytes and the
// way they are written.
class MimeBody : public VantrelObject {
public:
    MimeBody() = default;
    ~MimeBody() override = default;

    // A null text counts as empty; the kind becomes None.
    void setText(const char* text);
    // A null pointer counts as zero bytes; the kind changes only when an
    // encoding name is given.
    void setBytes(const void* bytes, int count, const char* encodingOrNull);
    // The kind becomes None, except that an empty buffer only empties the
    // content and keeps the kind.
    void setFromSb(const StringBuffer& text);

    // Appends the content, encoded by its kind.
    void renderEncoded(StringBuffer& out) const;
    // Exact number of bytes renderEncoded appends.
    long long renderedSize() const;

    int getSize() const { return static_cast<int>(content.getSize()); }
    BodyEncoding getEncodingKind() const { return encodingKind; }

    DataBuffer content;
    BodyEncoding encodingKind = BodyEncoding::None;

private:
    void replaceContent(const void* bytes, int count);
};
