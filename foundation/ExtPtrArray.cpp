#include "ExtPtrArray.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {

constexpr int kFirstTableSlots = 5;
constexpr int kIncrementCap = 100000;

} // namespace

ExtPtrArray::~ExtPtrArray() {
    std::free(m_table);
}

VantrelObject* ExtPtrArray::elementAt(int index) const {
    if (index < 0 || index >= m_count) {
        return nullptr;
    }
    return m_table[index];
}

void ExtPtrArray::appendObject(VantrelObject* object) {
    if (m_table == nullptr) {
        m_table =
            static_cast<VantrelObject**>(std::calloc(kFirstTableSlots, sizeof(VantrelObject*)));
        if (m_table == nullptr) {
            throw std::bad_alloc();
        }
        m_capacity = kFirstTableSlots;
    }
    if (m_count == m_capacity) {
        long long newCapacity = static_cast<long long>(m_capacity) + m_increment;
        if (newCapacity < m_count + 2LL) {
            newCapacity = m_count + 2LL;
        }
        if (newCapacity > 0x7fffffffLL / static_cast<long long>(sizeof(VantrelObject*))) {
            throw std::length_error("ExtPtrArray: too many elements");
        }
        auto* table = static_cast<VantrelObject**>(
            std::calloc(static_cast<size_t>(newCapacity), sizeof(VantrelObject*)));
        if (table == nullptr) {
            throw std::bad_alloc();
        }
        std::memcpy(table, m_table, static_cast<size_t>(m_count) * sizeof(VantrelObject*));
        std::free(m_table);
        m_table = table;
        m_capacity = static_cast<int>(newCapacity);
        if (m_increment < kIncrementCap) {
            m_increment = m_capacity < kIncrementCap ? m_capacity : kIncrementCap;
        }
    }
    m_table[m_count++] = object;
}

VantrelObject* ExtPtrArray::removeAt(int index) {
    if (index < 0 || index >= m_count) {
        return nullptr;
    }
    VantrelObject* removed = m_table[index];
    std::memmove(m_table + index, m_table + index + 1,
                 static_cast<size_t>(m_count - index - 1) * sizeof(VantrelObject*));
    --m_count;
    m_table[m_count] = nullptr;
    return removed;
}

VantrelObject* ExtPtrArray::popLast() {
    return removeAt(m_count - 1);
}

void ExtPtrArray::removeAllObjects() {
    for (int i = 0; i < m_count; ++i) {
        delete m_table[i];
        m_table[i] = nullptr;
    }
    m_count = 0;
}
