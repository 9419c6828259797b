#include "MhtmlContext.h"

MhtmlContext::~MhtmlContext() {
    m_resources.removeAllObjects();
}
