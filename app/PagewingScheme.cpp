#include "app/PagewingScheme.h"

#include "app/CreateEmailSteps.h"

#include <cstring>
#include <glib.h>
#include <strings.h>

bool decodePagewingArgument(const char* argument, std::string& url) {
    url.clear();
    const size_t prefixLength = std::strlen(kPagewingScheme);
    if (argument == nullptr || strncasecmp(argument, kPagewingScheme, prefixLength) != 0) {
        return false;
    }
    const std::string decoded = percentDecode(argument + prefixLength);
    // The text goes into an edit box, which holds UTF-8 only.
    gchar* valid = g_utf8_make_valid(decoded.c_str(), static_cast<gssize>(decoded.size()));
    url = valid;
    g_free(valid);
    return true;
}
