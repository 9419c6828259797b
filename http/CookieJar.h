#pragma once

#include <curl/curl.h>

#include <string>
#include <vector>

// The cookies of one conversion. While a jar is in use on a thread, every
// transfer made there (the page, its resources, frames, sheets, the
// prefetch, every connection and access kind) sends the cookies that
// earlier answers set and those read from a file, and keeps those that its
// own answer sets, as a browser's session does. Nothing is written back.
class CookieJar {
public:
    CookieJar();
    ~CookieJar();
    CookieJar(const CookieJar&) = delete;
    CookieJar& operator=(const CookieJar&) = delete;

    // Adds the cookies of a Netscape cookies.txt file ("#HttpOnly_" lines
    // included). False with the reason in words when it cannot be read or
    // holds no cookie line.
    bool loadFile(const std::string& path, std::string& problem);

    // Adds cookies given as Netscape cookies.txt lines (seven fields
    // separated by tabs; "#HttpOnly_" in front of the domain for an
    // HttpOnly cookie), as the browser readers make them. Returns how many
    // were taken; other lines are passed over.
    int addLines(const std::vector<std::string>& lines);

    // Every cookie the jar holds, as cookies.txt lines (libcurl writes them:
    // a domain cookie's domain starts with a dot, 0 expires with the
    // session). Empty when there are none or they cannot be read.
    std::vector<std::string> lines() const;

    // Shares host names, TLS sessions and cookies; null when libcurl could
    // not make the share, and transfers then go without cookies.
    CURLSH* share() const { return m_share; }

private:
    CURLSH* m_share = nullptr;
};

// Puts a jar in use on this thread for as long as the scope lives, and the
// one before it back afterwards.
class CookieJarScope {
public:
    explicit CookieJarScope(CookieJar* jar);
    ~CookieJarScope();
    CookieJarScope(const CookieJarScope&) = delete;
    CookieJarScope& operator=(const CookieJarScope&) = delete;

    // The jar in use on this thread; null when none is.
    static CookieJar* current();

private:
    CookieJar* m_previous;
};
