// One document's context: its resource map and base addresses (Mhtml.cpp).

#include "MhtmlContext.h"

MhtmlContext::~MhtmlContext() {
    m_resources.removeAllObjects();
}
