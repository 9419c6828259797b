#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the cookies of a Chromium (or Chrome) profile as Netscape cookies.txt lines.
// profile: a profile folder name ("Default", "Profile 1") under the user data folder, or a path
// to a user data folder or a profile folder; empty means "Default" of the default user data folder
// (~/.config/chromium, or ~/.config/google-chrome for application "chrome").
// application: "chromium" (also when empty) or "chrome"; it also names the
// browser's password in the keyring.
//
// The database is only read, never written, and may be in use by the
// running browser (which writes new cookies up to 30 s after they were
// set). False with one line in problem when no cookie could be read: no
// such profile, no database, a damaged or locked one, or no value could be
// decrypted. Single cookies that cannot be decrypted or written on one
// line are left out; the result is then true, and problem says how many.
// A profile without cookies gives true and no lines.
// Partitioned cookies (kept for one top-level site only) are left out too:
// a cookies.txt line cannot say where they apply.
bool readChromiumCookies(const std::string& application, const std::string& profile,
                         std::vector<std::string>& lines, std::string& problem);

// The cookie database of a profile as above; false with the reason.
bool findChromiumCookieDatabase(const std::string& application, const std::string& profile,
                                std::string& databasePath, std::string& problem);

// One row of the database, its value aside.
struct ChromiumCookie {
    std::string hostKey; // ".example.org" for the domain and its subdomains
    std::string path;
    std::string name;
    int64_t expiresUtc = 0; // microseconds since 1601-01-01; 0 for a session cookie
    bool secure = false;
    bool httpOnly = false;
};

// The cookies.txt line (seven fields separated by tabs, "#HttpOnly_" in
// front of the domain of an HttpOnly cookie, the expiry in seconds since
// 1970, 0 for a session cookie); "" when a field would break the line or
// the cookie expired before 1970.
std::string chromiumCookieLine(const ChromiumCookie& cookie, const std::string& value);

// Seconds since 1970 as the microseconds since 1601 of expiresUtc.
int64_t chromiumTimeFromUnixSeconds(int64_t seconds);
