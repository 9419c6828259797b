#include "ProgressLog.h"

#include "convert/Mhtml.h"

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

void ProgressLog::pageStarted(const char* url) {
    m_page = url != nullptr ? url : "";
    report("page %s%s\n", m_page.c_str(), "");
    draw(true);
}

void ProgressLog::resourcesExpected(int count) {
    m_expected += count > 0 ? count : 0;
    draw(false);
}

void ProgressLog::resourceFetched(const char* url, uint32_t byteCount) {
    ++m_resources;
    m_bytes += byteCount;
    const std::string size = std::to_string(byteCount) + (byteCount == 1 ? " byte" : " bytes");
    report("  %s: %s\n", url, size.c_str());
    draw(false);
}

void ProgressLog::resourceFailed(const char* url, const char* problem) {
    ++m_failed;
    report("  %s: not embedded: %s\n", url, problem);
    draw(false);
}

void ProgressLog::report(const char* format, const char* url, const char* detail) {
    if (m_report == nullptr) {
        return;
    }
    std::fprintf(m_report, format, url != nullptr ? url : "", detail != nullptr ? detail : "");
    std::fflush(m_report);
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
    const int done = m_resources + m_failed;
    if (done == 0 && m_expected == 0) {
        // Nothing but the page is under way yet.
        std::fprintf(m_progress, "\rfetching %s\033[K", m_page.c_str());
        std::fflush(m_progress);
        return;
    }
    const int toCome = m_expected > done ? m_expected - done : 0;
    // "\033[K" clears what a longer earlier line left behind.
    std::fprintf(m_progress, "\r%d resource%s fetched, %llu bytes", m_resources,
                 m_resources == 1 ? "" : "s", static_cast<unsigned long long>(m_bytes));
    if (toCome > 0) {
        std::fprintf(m_progress, ", %d to come", toCome);
    }
    if (m_failed > 0) {
        std::fprintf(m_progress, ", %d failed", m_failed);
    }
    std::fputs("\033[K", m_progress);
    std::fflush(m_progress);
}

std::string conversionFailureReason(const Mhtml& converter, const ProgressLog& log, bool fetched) {
    if (!converter.pageProblem().empty()) {
        return converter.pageProblem();
    }
    std::string reason = log.failureReason();
    if (!reason.empty()) {
        return reason;
    }
    return fetched ? "the page could not be loaded (the server did not answer with status 200)"
                   : "the page could not be converted";
}
