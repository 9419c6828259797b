#include "MimeHeader.h"

#include "MimeField.h"

#include "foundation/StringBuffer.h"

namespace {

bool isBlankText(const char* text) {
    for (const char* c = text; *c != 0; ++c) {
        if (*c != ' ' && *c != '\t' && *c != '\r' && *c != '\n') {
            return false;
        }
    }
    return true;
}

unsigned char foldAscii(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

// A null name counts as the empty one.
bool sameName(const MimeField& field, const char* name) {
    const unsigned char* a = reinterpret_cast<const unsigned char*>(field.getName());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(name != nullptr ? name : "");
    while (*a != 0 && foldAscii(*a) == foldAscii(*b)) {
        ++a;
        ++b;
    }
    return foldAscii(*a) == foldAscii(*b);
}

} // namespace

MimeHeader::~MimeHeader() {
    m_fields.removeAllObjects();
}

void MimeHeader::replaceField(const char* name, const char* value) {
    removeField(name);
    if (value == nullptr || isBlankText(value)) {
        return;
    }
    MimeField* field = new MimeField();
    field->setField(name, value);
    m_fields.appendObject(field);
}

void MimeHeader::removeField(const char* name) {
    for (int i = m_fields.getSize() - 1; i >= 0; --i) {
        const MimeField* field = static_cast<const MimeField*>(m_fields.elementAt(i));
        if (field != nullptr && sameName(*field, name)) {
            delete m_fields.removeAt(i);
        }
    }
}

const MimeField* MimeHeader::findField(const char* name) const {
    for (int i = 0; i < m_fields.getSize(); ++i) {
        const MimeField* field = static_cast<const MimeField*>(m_fields.elementAt(i));
        if (field != nullptr && sameName(*field, name)) {
            return field;
        }
    }
    return nullptr;
}

void MimeHeader::getFieldValue(const char* name, StringBuffer& out) const {
    const MimeField* field = findField(name);
    if (field != nullptr) {
        field->appendValue(out);
    }
}

void MimeHeader::renderFields(StringBuffer& out) const {
    for (int i = 0; i < m_fields.getSize(); ++i) {
        const MimeField* field = fieldAt(i);
        if (field != nullptr) {
            out.appendBytes(field->getLine(), field->getLineSize());
            out.appendBytes("\r\n", 2);
        }
    }
    while (out.lastChar() == '\n') {
        out.shorten(2);
    }
}

void MimeHeader::removeAllFields() {
    m_fields.removeAllObjects();
}

const MimeField* MimeHeader::fieldAt(int index) const {
    return static_cast<const MimeField*>(m_fields.elementAt(index));
}

long long MimeHeader::renderedSize() const {
    long long size = 0;
    for (int i = 0; i < m_fields.getSize(); ++i) {
        const MimeField* field = fieldAt(i);
        if (field != nullptr) {
            size += field->getLineSize() + 2;
        }
    }
    return size > 0 ? size - 2 : 0;
}
