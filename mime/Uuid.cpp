#include "Uuid.h"

#include "foundation/StringBuffer.h"

#include <uuid/uuid.h>

void makeUuidText(StringBuffer& out) {
    uuid_t uuid;
    uuid_generate_random(uuid);
    char text[37];
    uuid_unparse_lower(uuid, text);
    out.setString(text);
}
