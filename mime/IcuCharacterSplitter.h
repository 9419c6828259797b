#pragma once

#include <functional>
#include <string>
#include <vector>

// Cuts a text in a given charset into consecutive pieces that each hold only
// whole characters, every piece as long as `fits` allows (a piece always
// holds at least one character). UTF-8 and single-byte charsets are walked
// directly; other multi-byte charsets are walked through ICU. For stateful
// charsets (ISO-2022 and the like) every piece is re-encoded on its own so
// that it starts and ends in the initial state. An unknown charset is cut
// between any two bytes.
std::vector<std::string> splitWholeCharacters(const unsigned char* bytes, int count,
                                              const char* charset,
                                              const std::function<bool(const std::string&)>& fits);
