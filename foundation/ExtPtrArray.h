#pragma once

#include "VantrelObject.h"

// The system's one list type: a growable array of pointers to VantrelObject.
// Contract: the destructor frees only the table and never deletes an
// element; a holder that owns its elements calls removeAllObjects().
// removeAt and popLast hand ownership of the removed element to the caller.
// Growth: 5 slots on the first append, then doubling (5, 10, 20, 40 ...)
// until each step adds 100000 slots.
class ExtPtrArray {
public:
    ExtPtrArray() = default;
    ExtPtrArray(const ExtPtrArray&) = delete;
    ExtPtrArray& operator=(const ExtPtrArray&) = delete;
    virtual ~ExtPtrArray();

    int getSize() const { return m_count; }
    VantrelObject* elementAt(int index) const;
    void appendObject(VantrelObject* object);
    VantrelObject* removeAt(int index);
    VantrelObject* popLast();
    void removeAllObjects();

    int getCapacity() const { return m_capacity; }
    int getGrowthIncrement() const { return m_increment; }

private:
    int m_increment = 5;
    int m_capacity = 0;
    int m_count = 0;
    VantrelObject** m_table = nullptr;
};
