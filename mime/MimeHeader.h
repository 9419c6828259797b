#pragma once

#include "foundation/ExtPtrArray.h"

class MimeField;
class StringBuffer;

// The ordered header fields of one MIME entity. Names are compared without
// regard to ASCII case and keep the case in which they were given; every
// change of a field moves it to the end, so the output order is the order
// of the last change of each name.
class MimeHeader {
public:
    MimeHeader() = default;
    MimeHeader(const MimeHeader&) = delete;
    MimeHeader& operator=(const MimeHeader&) = delete;
    ~MimeHeader();

    // Removes every field of that name, then appends a new one unless the
    // value is null, empty or blank.
    void replaceField(const char* name, const char* value);
    void removeField(const char* name);
    // Appends the value of the first field of that name; nothing when there
    // is none.
    void getFieldValue(const char* name, StringBuffer& out) const;
    // Appends every line with CR LF, then takes the line break(s) at the end
    // of out away again, so the block ends without one.
    void renderFields(StringBuffer& out) const;
    void removeAllFields();

    int getFieldCount() const { return m_fields.getSize(); }
    // Null when index is out of range.
    const MimeField* fieldAt(int index) const;
    // Bytes renderFields appends (exact unless there are no fields and out
    // ended with a line break, which renderFields then removes).
    long long renderedSize() const;

private:
    const MimeField* findField(const char* name) const;

    ExtPtrArray m_fields;
};
