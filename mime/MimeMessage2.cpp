#include "MimeMessage2.h"

#include "ContentCoding.h"
#include "ParseEngine.h"
#include "Uuid.h"

#include <climits>
#include <cstring>
#include <strings.h>

namespace {

constexpr char kPreamble[] = "This is a multi-part message in MIME format.\r\n\r\n";
constexpr char kRelatedSuffix[] = "_.REL";

void setTrimmed(StringBuffer& target, const char* text) {
    target.setString(text);
    target.trim();
}

// Reserving once keeps a message with large bodies from being copied again
// and again while the output grows.
void reserveFor(StringBuffer& out, long long size) {
    if (size > 0 && size < INT_MAX - static_cast<long long>(out.getSize()) - 1) {
        out.reserve(static_cast<int>(size));
    }
}

} // namespace

MimeMessage2::~MimeMessage2() {
    parts.removeAllObjects();
}

void MimeMessage2::clear() {
    contentType.clear();
    charset.clear();
    nameParam.clear();
    typeParam.clear();
    boundary.clear();
    contentId.clear();
    transferEncoding.clear();
    header.removeAllFields();
    body.setText("");
    parts.removeAllObjects();
}

void MimeMessage2::initMultipartRelated() {
    clear();
    StringBuffer newBoundary;
    generateBoundary(newBoundary);
    newBoundary.append(kRelatedSuffix);
    contentType.setString("multipart/related");
    boundary.setSb(newBoundary);
    updateContentTypeField();
}

void MimeMessage2::generateBoundary(StringBuffer& out) const {
    StringBuffer uuid;
    makeUuidText(uuid);
    boundaryFromUuidText(uuid.getString(), out);
}

void MimeMessage2::boundaryFromUuidText(const char* uuidText, StringBuffer& out) {
    out.clear();
    if (uuidText == nullptr || std::strlen(uuidText) < 36) {
        return;
    }
    out.append("----=_NextPart_");
    out.appendBytes(uuidText, 3);
    out.appendChar('_');
    out.appendBytes(uuidText + 3, 4);
    out.appendChar('_');
    out.appendBytes(uuidText + 9, 4);
    out.appendBytes(uuidText + 14, 4);
    out.appendChar('.');
    out.appendBytes(uuidText + 24, 8);
}

void MimeMessage2::setContentType(const char* text) {
    contentType.setString(text);
    updateContentTypeField();
}

void MimeMessage2::setCharset(const char* text) {
    setTrimmed(charset, text);
    updateContentTypeField();
}

void MimeMessage2::setNameParam(const char* text) {
    setTrimmed(nameParam, text);
    updateContentTypeField();
}

void MimeMessage2::setTypeParam(const char* text) {
    setTrimmed(typeParam, text);
    updateContentTypeField();
}

void MimeMessage2::updateContentTypeField() {
    if (charset.getSize() == 0) {
        charset.setString("us-ascii");
    }
    StringBuffer value;
    value.setSb(contentType);
    if (beginsWithNoCase(contentType.getString(), "text") ||
        beginsWithNoCase(contentType.getString(), "message")) {
        value.append("; charset=\"");
        value.appendSb(charset);
        value.append("\";");
    } else {
        value.append(";");
    }
    if (typeParam.getSize() > 0) {
        value.append(" type=\"");
        value.appendSb(typeParam);
        value.append("\";");
    }
    if (boundary.getSize() > 0) {
        value.append("\r\n\tboundary=\"");
        value.appendSb(boundary);
        value.append("\";");
    }
    if (nameParam.getSize() > 0) {
        value.append("\r\n\tname=\"");
        value.appendSb(nameParam);
        value.append("\";");
    }
    value.trim();
    if (value.lastChar() == ';') {
        value.shorten(1);
        value.trim();
    }
    header.replaceField("content-type", value.getString());
}

void MimeMessage2::setTransferEncoding(const char* name) {
    transferEncoding.setString(name);
    header.replaceField("content-transfer-encoding", name);
    body.encodingKind = encodingFromName(name);
    refreshCachedField("content-transfer-encoding", transferEncoding);
}

void MimeMessage2::getTransferEncoding(StringBuffer& out) const {
    out.appendSb(transferEncoding);
}

void MimeMessage2::refreshCachedField(const char* lowerCaseName, StringBuffer& cached) const {
    cached.clear();
    StringBuffer scratch;
    getHeaderField(lowerCaseName, scratch);
    scratch.trim();
    ParseEngine scanner;
    scanner.load(scratch.getString());
    scanner.captureUntilChar(';', cached);
}

void MimeMessage2::setHeaderField(const char* name, const char* value) {
    if (name == nullptr) {
        return;
    }
    StringBuffer trimmedName(name);
    trimmedName.trim();
    StringBuffer trimmedValue(value);
    trimmedValue.trim();
    if (trimmedValue.getSize() > 0) {
        header.replaceField(trimmedName.getString(), trimmedValue.getString());
    } else {
        header.removeField(trimmedName.getString());
    }
    if (trimmedName.equalsNoCase("content-id")) {
        refreshCachedField("content-id", contentId);
    } else if (trimmedName.equalsNoCase("content-transfer-encoding")) {
        refreshCachedField("content-transfer-encoding", transferEncoding);
    }
}

void MimeMessage2::getHeaderField(const char* name, StringBuffer& out) const {
    if (name == nullptr) {
        return;
    }
    const int sizeBefore = out.getSize();
    header.getFieldValue(name, out);
    if (out.getSize() == sizeBefore) {
        return; // no such field: out stays as it was
    }
    // The decoders run over the whole of out, what it held before included.
    const ContentCoding coding;
    if (out.containsNoCase("?B?")) {
        coding.decodeWordsB(out, nullptr);
    }
    if (out.containsNoCase("?Q?")) {
        coding.decodeWordsQ(out, nullptr);
    }
}

void MimeMessage2::setBodyFromSb(const StringBuffer& text) {
    body.setFromSb(text);
}

void MimeMessage2::setBodyBytes(const void* bytes, int count, const char* encodingOrNull) {
    body.setBytes(bytes, count, encodingOrNull);
}

void MimeMessage2::addPart(MimeMessage2* part) {
    if (part != nullptr && part != this) {
        parts.appendObject(part);
    }
}

MimeMessage2* MimeMessage2::getPart(int index) const {
    return static_cast<MimeMessage2*>(parts.elementAt(index));
}

void MimeMessage2::renderMessage(StringBuffer& out) const {
    reserveFor(out, renderedMessageSize());
    renderHeader(out);
    out.appendBytes("\r\n\r\n", 4);
    if (parts.getSize() > 0) {
        out.append(kPreamble);
    }
    renderBodyUnreserved(out);
}

void MimeMessage2::renderHeader(StringBuffer& out) const {
    header.renderFields(out);
}

void MimeMessage2::renderBody(StringBuffer& out) const {
    reserveFor(out, renderedBodySize());
    renderBodyUnreserved(out);
}

void MimeMessage2::renderBodyUnreserved(StringBuffer& out) const {
    if (parts.getSize() == 0) {
        body.renderEncoded(out);
        return;
    }
    for (int i = 0; i < parts.getSize(); ++i) {
        const MimeMessage2* part = getPart(i);
        if (part == nullptr) {
            continue;
        }
        out.appendBytes("--", 2);
        out.appendSb(boundary);
        out.appendBytes("\r\n", 2);
        part->renderHeader(out);
        out.appendBytes("\r\n\r\n", 4);
        part->renderBodyUnreserved(out);
        out.appendBytes("\r\n", 2);
    }
    out.appendBytes("--", 2);
    out.appendSb(boundary);
    out.appendBytes("--\r\n", 4);
}

long long MimeMessage2::renderedMessageSize() const {
    long long size = header.renderedSize() + 4 + renderedBodySize();
    if (parts.getSize() > 0) {
        size += static_cast<long long>(sizeof kPreamble) - 1;
    }
    return size;
}

long long MimeMessage2::renderedBodySize() const {
    if (parts.getSize() == 0) {
        return body.renderedSize();
    }
    const long long delimiter = 2 + static_cast<long long>(boundary.getSize());
    long long size = 0;
    for (int i = 0; i < parts.getSize(); ++i) {
        const MimeMessage2* part = getPart(i);
        if (part != nullptr) {
            // A part without fields takes back the line break of its
            // delimiter line.
            const long long headerSize =
                part->header.getFieldCount() > 0 ? part->header.renderedSize() : -2;
            size += delimiter + 2 + headerSize + 4 + part->renderedBodySize() + 2;
        }
    }
    return size + delimiter + 4;
}
