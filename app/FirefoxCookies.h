#pragma once

#include <string>
#include <vector>

// Reads the cookies of a Firefox profile as Netscape cookies.txt lines.
// profile: a profile name from profiles.ini, or a path to a profile folder; empty means the
// default profile (profiles.ini under ~/.mozilla/firefox or ~/.config/mozilla/firefox; the
// Install*/Default= or the Default=1 profile).
bool readFirefoxCookies(const std::string& profile, std::vector<std::string>& lines,
                        std::string& problem);

// The same for a profile folder: the persistent cookies of cookies.sqlite
// (with those still in its write-ahead log while Firefox runs) and the
// session cookies of the newer of sessionstore-backups/recovery.jsonlz4 and
// sessionstore.jsonlz4, only those of the default container. False with
// the reason in words when the database cannot be read; a session file
// that cannot be read only leaves the session cookies out.
bool readFirefoxProfileCookies(const std::string& directory, std::vector<std::string>& lines,
                               std::string& problem);

// The session cookies of a session document (its top-level "cookies"), as
// cookies.txt lines with expiry 0. A document that does not parse gives
// none.
std::vector<std::string> firefoxSessionCookies(const std::string& json);

// decodeMozLz4 followed by firefoxSessionCookies; false with the reason in
// words when the bytes are not a session file.
bool firefoxSessionFileCookies(const std::string& bytes, std::vector<std::string>& lines,
                               std::string& problem);
