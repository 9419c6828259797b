#include "http/CookieJar.h"

#include "http/CurlTransport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

thread_local CookieJar* t_current = nullptr;

// A cookies.txt line: seven fields separated by tabs; "#HttpOnly_" marks a
// line that is not a comment.
bool isCookieLine(const char* line) {
    if (line[0] == '#' && std::strncmp(line, "#HttpOnly_", 10) != 0) {
        return false;
    }
    int tabs = 0;
    for (const char* p = line; *p != 0 && *p != '\n'; ++p) {
        tabs += *p == '\t' ? 1 : 0;
    }
    return tabs >= 6;
}

// Whether the file can be read and holds at least one cookie line; the
// cookie engine itself says nothing about a file it cannot use.
bool checkCookieFile(const std::string& path, std::string& problem) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) {
        problem = "cannot read the cookies in " + path + ": " + std::strerror(errno);
        return false;
    }
    char line[8192];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, file) != nullptr) {
        found = isCookieLine(line);
    }
    std::fclose(file);
    if (!found) {
        problem = "no cookies in " + path + " (it is not a Netscape cookies.txt file)";
    }
    return found;
}

} // namespace

CookieJar::CookieJar() {
    if (!ensureCurlReady()) {
        return;
    }
    m_share = curl_share_init();
    if (m_share != nullptr) {
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
}

CookieJar::~CookieJar() {
    if (m_share != nullptr) {
        curl_share_cleanup(m_share);
    }
}

bool CookieJar::loadFile(const std::string& path, std::string& problem) {
    if (!checkCookieFile(path, problem)) {
        return false;
    }
    CurlEasy loader;
    if (m_share == nullptr || !loader) {
        problem = "the cookies cannot be kept";
        return false;
    }
    // The file is read into the shared store once, not by every transfer.
    if (curl_easy_setopt(loader.get(), CURLOPT_SHARE, m_share) != CURLE_OK ||
        curl_easy_setopt(loader.get(), CURLOPT_COOKIEFILE, path.c_str()) != CURLE_OK ||
        curl_easy_setopt(loader.get(), CURLOPT_COOKIELIST, "RELOAD") != CURLE_OK) {
        problem = "cannot read the cookies in " + path;
        return false;
    }
    return true;
}

int CookieJar::addLines(const std::vector<std::string>& lines) {
    CurlEasy adder;
    if (m_share == nullptr || !adder ||
        curl_easy_setopt(adder.get(), CURLOPT_SHARE, m_share) != CURLE_OK ||
        curl_easy_setopt(adder.get(), CURLOPT_COOKIEFILE, "") != CURLE_OK) {
        return 0;
    }
    int added = 0;
    for (const std::string& line : lines) {
        if (line.find('\n') == std::string::npos && isCookieLine(line.c_str()) &&
            curl_easy_setopt(adder.get(), CURLOPT_COOKIELIST, line.c_str()) == CURLE_OK) {
            ++added;
        }
    }
    return added;
}

std::vector<std::string> CookieJar::lines() const {
    std::vector<std::string> lines;
    CurlEasy reader;
    curl_slist* list = nullptr;
    if (m_share == nullptr || !reader ||
        curl_easy_setopt(reader.get(), CURLOPT_SHARE, m_share) != CURLE_OK ||
        curl_easy_getinfo(reader.get(), CURLINFO_COOKIELIST, &list) != CURLE_OK) {
        return lines;
    }
    for (const curl_slist* item = list; item != nullptr; item = item->next) {
        lines.emplace_back(item->data);
    }
    curl_slist_free_all(list);
    return lines;
}

CookieJarScope::CookieJarScope(CookieJar* jar) : m_previous(t_current) {
    t_current = jar;
}

CookieJarScope::~CookieJarScope() {
    t_current = m_previous;
}

CookieJar* CookieJarScope::current() {
    return t_current;
}
