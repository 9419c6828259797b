#include "DateParser.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Mail readers expect the English names whatever locale the program runs in.
constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

} // namespace

void DateParser::formatCurrentDate(char* buffer, int size) const {
    formatDate(std::time(nullptr), buffer, size);
}

void DateParser::formatDate(std::time_t when, char* buffer, int size) const {
    if (buffer == nullptr || size <= 0) {
        return;
    }
    // localtime_r need not look at TZ again by itself.
    tzset();
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) {
        buffer[0] = 0;
        return;
    }
    // The bias is UTC minus local time in minutes; daylight saving time is
    // already part of tm_gmtoff.
    const long bias = -local.tm_gmtoff / 60;
    const long absoluteBias = std::labs(bias);
    const char sign = bias > 0 ? '-' : '+';
    const int day = local.tm_wday >= 0 && local.tm_wday < 7 ? local.tm_wday : 0;
    const int month = local.tm_mon >= 0 && local.tm_mon < 12 ? local.tm_mon : 0;
    std::snprintf(buffer, static_cast<size_t>(size), "%s, %02d %s %d %02d:%02d:%02d %c%02ld%02ld",
                  kDayNames[day], local.tm_mday, kMonthNames[month], local.tm_year + 1900,
                  local.tm_hour, local.tm_min, local.tm_sec, sign, absoluteBias / 60,
                  absoluteBias % 60);
}
