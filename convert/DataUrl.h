#pragma once

#include <string>
#include <string_view>

// A data: address as a browser reads it: "data:" [media type] [";base64"]
// "," data, the data percent-decoded and then, with ";base64", decoded from
// base64. The complete mode sends such pictures as parts of their own.
struct DataUrl {
    // Lower case, without parameters; "text/plain" when none is named.
    std::string mediaType;
    std::string bytes;
};

// False when url is no data: address or has no ",".
bool readDataUrl(std::string_view url, DataUrl& out);

// The media type alone, without decoding the data.
std::string dataUrlMediaType(std::string_view url);
