#pragma once

// The common base of every heap object that is kept in an ExtPtrArray and
// deleted through it. It carries nothing but the virtual destructor.
class VantrelObject {
public:
    VantrelObject() = default;
    VantrelObject(const VantrelObject&) = delete;
    VantrelObject& operator=(const VantrelObject&) = delete;
    virtual ~VantrelObject() = default;
};
