#include "mime/DateParser.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>

namespace {

// Sets TZ for the lifetime of the object and restores it afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        const char* old = std::getenv("TZ");
        m_hadOld = old != nullptr;
        if (m_hadOld) {
            m_old = old;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (m_hadOld) {
            setenv("TZ", m_old.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    bool m_hadOld = false;
    std::string m_old;
};

std::string formatted(std::time_t when) {
    char buffer[200];
    DateParser().formatDate(when, buffer, sizeof buffer);
    return buffer;
}

// 2026-07-15 12:00:00 UTC and 2026-01-15 12:00:00 UTC.
constexpr std::time_t kSummer = 1784116800;
constexpr std::time_t kWinter = 1768478400;

struct ZoneCase {
    const char* zone;
    std::time_t when;
    const char* expected;
};

TEST(DateParser, ZoneTable) {
    const ZoneCase cases[] = {
        {"Europe/Berlin", kSummer, "Wed, 15 Jul 2026 14:00:00 +0200"},
        {"Europe/Berlin", kWinter, "Thu, 15 Jan 2026 13:00:00 +0100"},
        {"Asia/Kolkata", kWinter, "Thu, 15 Jan 2026 17:30:00 +0530"},
        {"America/St_Johns", kWinter, "Thu, 15 Jan 2026 08:30:00 -0330"},
        {"America/St_Johns", kSummer, "Wed, 15 Jul 2026 09:30:00 -0230"},
        {"America/New_York", kWinter, "Thu, 15 Jan 2026 07:00:00 -0500"},
        {"UTC", kWinter, "Thu, 15 Jan 2026 12:00:00 +0000"},
        {"<-0030>+0:30", kWinter, "Thu, 15 Jan 2026 11:30:00 -0030"},
        {"<+0030>-0:30", kWinter, "Thu, 15 Jan 2026 12:30:00 +0030"},
    };
    for (const auto& c : cases) {
        ScopedTimeZone zone(c.zone);
        EXPECT_EQ(formatted(c.when), c.expected) << c.zone;
    }
}

TEST(DateParser, SmallNumbersHaveTwoDigits) {
    ScopedTimeZone zone("UTC");
    // 2026-03-07 01:02:03 UTC
    EXPECT_EQ(formatted(1772845323), "Sat, 07 Mar 2026 01:02:03 +0000");
}

TEST(DateParser, EnglishNamesWhateverTheLocale) {
    ScopedTimeZone zone("UTC");
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    // Any installed non-English locale will do; without one the test still
    // checks the names.
    const char* locales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "C.UTF-8"};
    for (const char* name : locales) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            break;
        }
    }
    EXPECT_EQ(formatted(kSummer), "Wed, 15 Jul 2026 12:00:00 +0000");
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(DateParser, CurrentDateHasTheFormOf31Characters) {
    char buffer[200];
    DateParser().formatCurrentDate(buffer, sizeof buffer);
    const std::string value = buffer;
    EXPECT_EQ(value.size(), 31u);
    EXPECT_TRUE(std::regex_match(
        value, std::regex("(Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-3][0-9] "
                          "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-9]{4} "
                          "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [+-][0-9]{4}")))
        << value;
}

TEST(DateParser, SmallBufferIsNeverOverrun) {
    char buffer[12];
    std::memset(buffer, 'x', sizeof buffer);
    DateParser().formatDate(kWinter, buffer, 10);
    EXPECT_EQ(std::string(buffer).size(), 9u);
    EXPECT_EQ(buffer[10], 'x');
    DateParser().formatCurrentDate(nullptr, 10);
    DateParser().formatCurrentDate(buffer, 0);
}

} // namespace
