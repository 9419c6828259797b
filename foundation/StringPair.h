#pragma once

#include "VantrelObject.h"

class StringBuffer;

// A name with a value; each side is an owned StringBuffer that exists only
// once it was given a non-empty text or was asked for.
class StringPair : public VantrelObject {
public:
    StringPair(const char* name, const char* value);
    ~StringPair() override;

    StringBuffer* getNameSb();
    StringBuffer* getValueSb();
    // The value's text, or "" when there is no value buffer.
    const char* getValue() const;
    // The name's text, or "" when there is no name buffer.
    const char* getName() const;

    bool hasNameBuffer() const { return m_name != nullptr; }
    bool hasValueBuffer() const { return m_value != nullptr; }

private:
    StringBuffer* m_name = nullptr;
    StringBuffer* m_value = nullptr;
};
