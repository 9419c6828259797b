#pragma once

#include "foundation/StringBuffer.h"
#include "foundation/VantrelObject.h"

// One header field, kept as its finished output line ("Name: value") next
// to its name, so that rendering is a plain copy.
class MimeField : public VantrelObject {
public:
    MimeField() = default;
    ~MimeField() override = default;

    // Builds the line from the trimmed name, ": " and the value, then trims
    // the whole line. A CR or LF that is not part of a fold (CR LF followed
    // by a blank or a tab) becomes a blank, so that a value can never end
    // the header early or smuggle in a field of its own.
    void setField(const char* name, const char* value);

    const char* getLine() const { return m_line.getString(); }
    const char* getName() const { return m_name.getString(); }
    int getLineSize() const { return m_line.getSize(); }

    // Appends the text after the first colon, without the blanks and tabs
    // that directly follow it; nothing when the line has no colon.
    void appendValue(StringBuffer& out) const;

private:
    StringBuffer m_line;
    StringBuffer m_name;
};
