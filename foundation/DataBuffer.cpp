#include "DataBuffer.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {

// Fixed steps alone would copy a body that arrives in small pieces once per
// 20000 bytes, quadratic in its size; a block never grows by less than half
// of what it already holds.
uint64_t withProportionalGrowth(uint32_t size, uint64_t stepped) {
    const uint64_t proportional = static_cast<uint64_t>(size) + size / 2;
    return stepped > proportional ? stepped : proportional;
}

} // namespace

DataBuffer::~DataBuffer() {
    std::free(m_data);
}

void DataBuffer::moveToBlock(uint32_t newCapacity) {
    auto* block = static_cast<unsigned char*>(std::malloc(newCapacity > 0 ? newCapacity : 1));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    if (m_size > 0) {
        std::memcpy(block, m_data, m_size);
    }
    std::free(m_data);
    m_data = block;
    m_capacity = newCapacity;
}

void DataBuffer::ensureCapacity(uint32_t count) {
    if (m_capacity < count) {
        if (count > kMaxSize) {
            throw std::length_error("DataBuffer: size limit exceeded");
        }
        moveToBlock(count);
    }
}

void DataBuffer::appendByte(unsigned char byte) {
    if (m_size + 1U > m_capacity) {
        if (m_size + 1U > kMaxSize) {
            throw std::length_error("DataBuffer: size limit exceeded");
        }
        uint64_t newCapacity =
            withProportionalGrowth(m_size, static_cast<uint64_t>(m_size) + kGrowthStep);
        if (newCapacity > kMaxSize) {
            newCapacity = kMaxSize;
        }
        moveToBlock(static_cast<uint32_t>(newCapacity));
    }
    m_data[m_size++] = byte;
}

void DataBuffer::append(const void* bytes, uint32_t count) {
    if (bytes == nullptr || count == 0) {
        return;
    }
    const uint64_t needed = static_cast<uint64_t>(m_size) + count;
    if (needed > kMaxSize) {
        throw std::length_error("DataBuffer: size limit exceeded");
    }
    if (needed > m_capacity) {
        const auto* source = static_cast<const unsigned char*>(bytes);
        if (m_data != nullptr && source >= m_data && source < m_data + m_capacity) {
            // The bytes lie inside this buffer, which growth would free.
            DataBuffer copy;
            copy.append(bytes, count);
            append(copy.m_data, count);
            return;
        }
        uint64_t newCapacity = withProportionalGrowth(
            m_size, count >= kGrowthStep ? needed : m_size + static_cast<uint64_t>(kGrowthStep));
        if (newCapacity > kMaxSize) {
            newCapacity = kMaxSize;
        }
        moveToBlock(static_cast<uint32_t>(newCapacity));
    }
    std::memmove(m_data + m_size, bytes, count);
    m_size += count;
}

void DataBuffer::adoptData(void* block, uint32_t count) {
    std::free(m_data);
    m_data = static_cast<unsigned char*>(block);
    m_size = count;
    m_capacity = count;
}

void DataBuffer::takeData(DataBuffer& other) {
    if (&other == this) {
        return;
    }
    std::free(m_data);
    m_data = other.m_data;
    m_size = other.m_size;
    m_capacity = other.m_capacity;
    other.m_data = nullptr;
    other.m_size = 0;
    other.m_capacity = 0;
}

void DataBuffer::truncate(uint32_t count) {
    if (count < m_size) {
        m_size = count;
    }
}

void DataBuffer::release() {
    std::free(m_data);
    m_data = nullptr;
    m_size = 0;
    m_capacity = 0;
}
