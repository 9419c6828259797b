#pragma once

// The input of a fuzz target taken apart, and the check that every target
// uses: a failed invariant names itself and aborts, so that libFuzzer (and
// the replay runner) report it as a crash.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// Takes the input apart from the front: small choices first, the rest as
// the text under test.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_used >= m_size; }

    // One byte, or 0 when the input is used up.
    uint8_t byte() { return m_used < m_size ? m_data[m_used++] : 0; }

    // A number in [0, count), from one byte.
    size_t pick(size_t count) { return count == 0 ? 0 : byte() % count; }

    // Up to the next NUL (or the end) as a text of its own.
    std::string text() {
        std::string out;
        while (m_used < m_size && m_data[m_used] != 0) {
            out.push_back(static_cast<char>(m_data[m_used++]));
        }
        if (m_used < m_size) {
            ++m_used;
        }
        return out;
    }

    // Whatever is left.
    std::string rest() {
        std::string out(reinterpret_cast<const char*>(m_data + m_used), m_size - m_used);
        m_used = m_size;
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_used = 0;
};
