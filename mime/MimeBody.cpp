#include "MimeBody.h"

#include "ContentCoding.h"

#include "foundation/StringBuffer.h"

#include <cstring>

BodyEncoding encodingFromName(const char* name) {
    if (name == nullptr) {
        return BodyEncoding::None;
    }
    const StringBuffer given(name);
    if (given.equalsNoCase("base64")) {
        return BodyEncoding::Base64;
    }
    if (given.equalsNoCase("quoted-printable")) {
        return BodyEncoding::QuotedPrintable;
    }
    return BodyEncoding::None;
}

void MimeBody::replaceContent(const void* bytes, int count) {
    content.truncate(0);
    if (bytes != nullptr && count > 0) {
        content.append(bytes, static_cast<uint32_t>(count));
    }
}

void MimeBody::setText(const char* text) {
    replaceContent(text, text != nullptr ? static_cast<int>(std::strlen(text)) : 0);
    encodingKind = BodyEncoding::None;
}

void MimeBody::setBytes(const void* bytes, int count, const char* encodingOrNull) {
    replaceContent(bytes, count);
    if (encodingOrNull != nullptr) {
        encodingKind = encodingFromName(encodingOrNull);
    }
}

void MimeBody::setFromSb(const StringBuffer& text) {
    if (text.getSize() == 0) {
        content.truncate(0);
        return;
    }
    replaceContent(text.getString(), text.getSize());
    encodingKind = BodyEncoding::None;
}

void MimeBody::renderEncoded(StringBuffer& out) const {
    const int size = getSize();
    if (size == 0) {
        return;
    }
    const ContentCoding coding;
    switch (encodingKind) {
    case BodyEncoding::QuotedPrintable:
        coding.encodeQuotedPrintable(content.getData(), size, out);
        break;
    case BodyEncoding::Base64:
        coding.encodeBase64Lines(content.getData(), size, out);
        break;
    case BodyEncoding::None:
        out.appendBytes(content.getData(), size);
        break;
    }
}

long long MimeBody::renderedSize() const {
    const int size = getSize();
    const ContentCoding coding;
    switch (encodingKind) {
    case BodyEncoding::QuotedPrintable:
        return coding.quotedPrintableSize(content.getData(), size);
    case BodyEncoding::Base64:
        return ContentCoding::base64LinesSize(size);
    case BodyEncoding::None:
        break;
    }
    return size;
}
