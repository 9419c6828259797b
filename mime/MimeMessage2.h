#pragma once

#include "MimeBody.h"
#include "MimeHeader.h"

#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "foundation/VantrelObject.h"

// One MIME entity: the whole message or one of its parts. It keeps the
// Content-Type parameters in fields of its own and re-composes the whole
// Content-Type field whenever one of them changes; every change of a field
// moves it to the end of the header.
//
// Ownership: a part handed to addPart belongs to this entity; clear() and
// the destructor delete the parts recursively.
class MimeMessage2 : public VantrelObject {
public:
    MimeMessage2() = default;
    ~MimeMessage2() override;

    // Empties every cached value, field, the body and the parts.
    void clear();
    // clear(), then multipart/related with a fresh boundary ending "_.REL".
    void initMultipartRelated();
    // Replaces out's content with a fresh boundary made from a new UUID.
    void generateBoundary(StringBuffer& out) const;
    // The boundary text for a given 36-character UUID text.
    static void boundaryFromUuidText(const char* uuidText, StringBuffer& out);

    // The Content-Type group; each re-composes the Content-Type field.
    void setContentType(const char* text);
    void setCharset(const char* text);
    void setNameParam(const char* text);
    void setTypeParam(const char* text);

    // Sets the field, the body kind and the cached value together.
    void setTransferEncoding(const char* name);
    void getTransferEncoding(StringBuffer& out) const;

    // A blank value removes the field; a null name does nothing.
    void setHeaderField(const char* name, const char* value);
    // Appends the first such field's value, then decodes the encoded words
    // of out (also those it held before); nothing when there is no field.
    void getHeaderField(const char* name, StringBuffer& out) const;

    void setBodyFromSb(const StringBuffer& text);
    void setBodyBytes(const void* bytes, int count, const char* encodingOrNull);

    // The parent owns the part from now on.
    void addPart(MimeMessage2* part);

    // The whole entity: header, empty line, preamble (multipart only), body.
    void renderMessage(StringBuffer& out) const;
    void renderHeader(StringBuffer& out) const;
    void renderBody(StringBuffer& out) const;
    // Exact number of bytes renderMessage appends to a buffer that does not
    // end with a line break (an upper bound otherwise).
    long long renderedMessageSize() const;

    const char* getContentType() const { return contentType.getString(); }
    const char* getCharset() const { return charset.getString(); }
    const char* getNameParam() const { return nameParam.getString(); }
    const char* getTypeParam() const { return typeParam.getString(); }
    const char* getBoundary() const { return boundary.getString(); }
    const char* getContentId() const { return contentId.getString(); }
    int getPartCount() const { return parts.getSize(); }
    // Null when index is out of range.
    MimeMessage2* getPart(int index) const;

    MimeHeader header;
    MimeBody body;
    ExtPtrArray parts;
    StringBuffer contentType;
    StringBuffer charset;
    StringBuffer nameParam;
    StringBuffer typeParam;
    StringBuffer boundary;
    StringBuffer contentId;
    StringBuffer transferEncoding;

private:
    void updateContentTypeField();
    void refreshCachedField(const char* lowerCaseName, StringBuffer& cached) const;
    void renderBodyUnreserved(StringBuffer& out) const;
    long long renderedBodySize() const;
};
