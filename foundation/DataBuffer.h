#pragma once

#include <cstdint>

class DiagnosticLog;

// A growable block of raw bytes with no terminator (downloaded bodies,
// images, converted text).
//
// Contract: data() is null until something is stored. Growth is in steps of
// at least 20000 bytes and at least half the bytes held, so that bodies
// arriving in small pieces are copied rarely. Sizes never pass 2^31 - 1 bytes: an append that would
// throws std::length_error and leaves the buffer as it was.
class DataBuffer {
public:
    DataBuffer() = default;
    DataBuffer(const DataBuffer&) = delete;
    DataBuffer& operator=(const DataBuffer&) = delete;
    virtual ~DataBuffer();

    const unsigned char* getData() const { return m_data; }
    unsigned char* getData() { return m_data; }
    uint32_t getSize() const { return m_size; }
    uint32_t getCapacity() const { return m_capacity; }

    void ensureCapacity(uint32_t count);
    void appendByte(unsigned char byte);
    void append(const void* bytes, uint32_t count);
    // Takes a block allocated with malloc; the buffer frees it later.
    void adoptData(void* block, uint32_t count);
    void takeData(DataBuffer& other);
    // Sets the number of bytes held to count (at most the current size); the
    // storage stays.
    void truncate(uint32_t count);
    // Frees the block: data null, size and capacity 0.
    void release();

    // Defined with the file access code.
    bool loadFile(const char* path, DiagnosticLog* log);

    static constexpr uint32_t kGrowthStep = 20000;
    static constexpr uint32_t kMaxSize = 0x7fffffffU;

private:
    void moveToBlock(uint32_t newCapacity);

    unsigned char* m_data = nullptr;
    uint32_t m_size = 0;
    uint32_t m_capacity = 0;
};
