#include "ProgressLog.h"

namespace {

// Often enough to look alive, rarely enough not to slow down a page with
// thousands of small images.
constexpr std::chrono::milliseconds kRedrawInterval(100);

} // namespace

ProgressLog::ProgressLog(DiagnosticLog* inner, std::FILE* progressStream)
    : m_inner(inner), m_progress(progressStream) {}

void ProgressLog::logError(const char* text) {
    if (m_depth == 0 && text != nullptr && text[0] != 0) {
        m_errorBefore = m_lastError;
        m_lastError = text;
    }
    if (m_inner != nullptr) {
        m_inner->logError(text);
    }
}

void ProgressLog::logInfo(const char* text) {
    if (m_inner != nullptr) {
        m_inner->logInfo(text);
    }
}

void ProgressLog::enterContext(const char* tag, bool flag) {
    ++m_depth;
    if (m_inner != nullptr) {
        m_inner->enterContext(tag, flag);
    }
}

void ProgressLog::leaveContext() {
    if (m_depth > 0) {
        --m_depth;
    }
    if (m_inner != nullptr) {
        m_inner->leaveContext();
    }
}

void ProgressLog::logData(const char* name, const char* value) {
    if (m_inner != nullptr) {
        m_inner->logData(name, value);
    }
}

void ProgressLog::logDataInt(const char* name, int value) {
    if (m_inner != nullptr) {
        m_inner->logDataInt(name, value);
    }
}

void ProgressLog::resourceFetched(const char* /*url*/, uint32_t byteCount) {
    ++m_resources;
    m_bytes += byteCount;
    draw(false);
}

void ProgressLog::finish() {
    if (m_drawn) {
        draw(true);
        std::fputc('\n', m_progress);
        std::fflush(m_progress);
        m_drawn = false;
    }
}

std::string ProgressLog::failureReason() const {
    if (m_lastError.empty()) {
        return std::string();
    }
    if (m_errorBefore.empty() || m_errorBefore == m_lastError) {
        return m_lastError;
    }
    return m_lastError + " (" + m_errorBefore + ")";
}

void ProgressLog::draw(bool force) {
    if (m_progress == nullptr) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!force && m_drawn && now - m_lastDraw < kRedrawInterval) {
        return;
    }
    m_lastDraw = now;
    m_drawn = true;
    // "\033[K" clears what a longer earlier line left behind.
    std::fprintf(m_progress, "\r%d resource%s fetched, %llu bytes\033[K", m_resources,
                 m_resources == 1 ? "" : "s", static_cast<unsigned long long>(m_bytes));
    std::fflush(m_progress);
}
