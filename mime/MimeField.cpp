#include "MimeField.h"

#include <cstring>

namespace {

bool isFoldBlank(char c) {
    return c == ' ' || c == '\t';
}

// Every CR or LF that does not belong to a "CR LF blank" fold becomes a
// blank; a name has no folds at all.
void neutraliseLineBreaks(StringBuffer& text, bool keepFolds) {
    const int size = text.getSize();
    const char* data = text.getString();
    bool needed = false;
    for (int i = 0; i < size && !needed; ++i) {
        needed = data[i] == '\r' || data[i] == '\n';
    }
    if (!needed) {
        return;
    }
    StringBuffer cleaned(size + 1);
    for (int i = 0; i < size; ++i) {
        const char c = data[i];
        if (keepFolds && c == '\r' && i + 2 < size && data[i + 1] == '\n' &&
            isFoldBlank(data[i + 2])) {
            cleaned.appendBytes("\r\n", 2);
            ++i;
        } else if (c == '\r' || c == '\n') {
            cleaned.appendChar(' ');
        } else {
            cleaned.appendChar(c);
        }
    }
    text.clear();
    text.appendSb(cleaned);
}

} // namespace

void MimeField::setField(const char* name, const char* value) {
    m_name.setString(name);
    neutraliseLineBreaks(m_name, false);
    m_name.trim();

    m_line.setSb(m_name);
    m_line.append(": ");
    StringBuffer cleanValue(value);
    neutraliseLineBreaks(cleanValue, true);
    m_line.appendSb(cleanValue);
    m_line.trim();

    m_name.shrinkToFit();
    m_line.shrinkToFit();
}

void MimeField::appendValue(StringBuffer& out) const {
    const char* line = m_line.getString();
    const char* colon = std::strchr(line, ':');
    if (colon == nullptr) {
        return;
    }
    const char* value = colon + 1;
    while (*value == ' ' || *value == '\t') {
        ++value;
    }
    out.append(value);
}
