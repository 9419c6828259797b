#include "StringPair.h"

#include "StringBuffer.h"

namespace {

constexpr int kNameSize = 50;
constexpr int kValueSize = 100;

} // namespace

StringPair::StringPair(const char* name, const char* value) {
    if (name != nullptr && *name != 0) {
        m_name = new StringBuffer(name);
    }
    if (value != nullptr && *value != 0) {
        m_value = new StringBuffer(value);
    }
}

StringPair::~StringPair() {
    delete m_name;
    delete m_value;
}

StringBuffer* StringPair::getNameSb() {
    if (m_name == nullptr) {
        m_name = new StringBuffer(kNameSize);
    }
    return m_name;
}

StringBuffer* StringPair::getValueSb() {
    if (m_value == nullptr) {
        m_value = new StringBuffer(kValueSize);
    }
    return m_value;
}

const char* StringPair::getValue() const {
    return m_value != nullptr ? m_value->getString() : "";
}

const char* StringPair::getName() const {
    return m_name != nullptr ? m_name->getString() : "";
}
