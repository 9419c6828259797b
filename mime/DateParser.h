#pragma once

#include <ctime>

// The value of a message's Date field: local time as RFC 822 writes it,
// with a numeric zone, e.g. "Mon, 07 Dec 2026 10:57:36 +0100".
class DateParser {
public:
    // Writes the current local time. The text is 31 characters and a NUL;
    // a smaller buffer receives as much of it as fits, NUL-terminated.
    void formatCurrentDate(char* buffer, int size) const;
    // The same for a given moment.
    void formatDate(std::time_t when, char* buffer, int size) const;
};
