#include "StreamLog.h"

#include <cstring>

StreamLog::StreamLog(std::FILE* stream, int maxValueBytes)
    : m_stream(stream), m_maxValueBytes(maxValueBytes > 0 ? maxValueBytes : 400) {}

void StreamLog::writeIndent() {
    for (int i = 0; i < m_depth; ++i) {
        std::fputs("  ", m_stream);
    }
}

void StreamLog::writeText(const char* text) {
    if (text == nullptr) {
        std::fputs("(null)", m_stream);
        return;
    }
    const size_t length = std::strlen(text);
    const size_t shown = length > static_cast<size_t>(m_maxValueBytes) ? m_maxValueBytes : length;
    for (size_t i = 0; i < shown; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            std::fputs("\\n", m_stream);
        } else if (c == '\r') {
            std::fputs("\\r", m_stream);
        } else if (c == '\t') {
            std::fputs("\\t", m_stream);
        } else if (c < 0x20 || c == 0x7f) {
            std::fprintf(m_stream, "\\x%02X", c);
        } else {
            std::fputc(c, m_stream);
        }
    }
    if (shown < length) {
        std::fprintf(m_stream, "... (%zu bytes)", length);
    }
}

void StreamLog::logError(const char* text) {
    writeIndent();
    std::fputs("error: ", m_stream);
    writeText(text);
    std::fputc('\n', m_stream);
    std::fflush(m_stream);
}

void StreamLog::logInfo(const char* text) {
    writeIndent();
    std::fputs("info: ", m_stream);
    writeText(text);
    std::fputc('\n', m_stream);
    std::fflush(m_stream);
}

void StreamLog::enterContext(const char* tag, bool /*flag*/) {
    writeIndent();
    writeText(tag);
    std::fputs(" {\n", m_stream);
    ++m_depth;
}

void StreamLog::leaveContext() {
    if (m_depth > 0) {
        --m_depth;
    }
    writeIndent();
    std::fputs("}\n", m_stream);
    std::fflush(m_stream);
}

void StreamLog::logData(const char* name, const char* value) {
    writeIndent();
    writeText(name);
    std::fputs(" = ", m_stream);
    writeText(value);
    std::fputc('\n', m_stream);
}

void StreamLog::logDataInt(const char* name, int value) {
    writeIndent();
    writeText(name);
    std::fprintf(m_stream, " = %d\n", value);
}
