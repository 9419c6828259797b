#include "app/RenderedConversion.h"

#include "app/PageRenderer.h"
#include "convert/Mhtml.h"
#include "foundation/StringBuffer.h"
#include "http/CookieJar.h"
#include "http/CurlTransport.h"

#include <climits>
#include <cstdlib>
#include <memory>
#include <strings.h>

namespace {

bool isWebAddress(const std::string& address) {
    return ::strncasecmp(address.c_str(), "http://", 7) == 0 ||
           ::strncasecmp(address.c_str(), "https://", 8) == 0;
}

// The file's absolute path as a file: URL, every byte outside the
// unreserved set and "/" escaped.
bool fileUrl(const std::string& path, std::string& url, std::string& absolute) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                           &std::free);
    if (real == nullptr) {
        return false;
    }
    absolute = real.get();
    static const char* const kHex = "0123456789ABCDEF";
    url = "file://";
    for (const unsigned char c : absolute) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '/' || c == '-' || c == '.' || c == '_' ||
                           c == '~';
        if (plain) {
            url.push_back(static_cast<char>(c));
        } else {
            url += {'%', kHex[c >> 4], kHex[c & 15]};
        }
    }
    return true;
}

// The cookies of the converter's file and lines, as one list of lines.
bool converterCookies(const Mhtml& converter, std::vector<std::string>& lines,
                      std::string& problem) {
    CookieJar jar;
    if (converter.m_cookieFile.getSize() > 0 &&
        !jar.loadFile(converter.m_cookieFile.getString(), problem)) {
        return false;
    }
    jar.addLines(converter.m_cookieLines);
    lines = jar.lines();
    return true;
}

RenderRequest requestFor(const Mhtml& converter, const RenderSettings& settings) {
    RenderRequest request;
    request.proxy = converter.m_proxy.getString();
    request.insecure = converter.m_ignoreCertErrors;
    request.login = converter.m_httpLogin.getString();
    request.password = converter.m_httpPassword.getString();
    request.resolves = settings.resolves;
    request.timeoutSeconds = settings.timeoutSeconds;
    return request;
}

} // namespace

bool convertRenderedPage(Mhtml& converter, const std::string& address,
                         const RenderSettings& settings, StringBuffer& out, std::string& problem) {
    RenderRequest request = requestFor(converter, settings);
    std::string localPath;
    if (isWebAddress(address)) {
        request.url = address;
    } else if (!fileUrl(address, request.url, localPath)) {
        problem = "cannot read " + address;
        return false;
    }
    if (!converterCookies(converter, request.cookieLines, problem)) {
        return false;
    }
    RenderedPage page;
    if (!renderPage(request, page, problem)) {
        return false;
    }
    if (page.html.size() > static_cast<size_t>(INT_MAX)) {
        problem = "the page is too large to convert";
        return false;
    }
    converter.m_cookieLines = page.cookieLines;
    std::string base = page.url;
    std::string user;
    std::string password;
    takeUrlCredentials(base, user, password);
    if (!isWebAddress(base)) {
        // A file's own folder holds what it names; a page that ended
        // nowhere keeps the address it was asked for.
        base = localPath.empty() ? address : localPath;
    }
    return converter.convertDocument(page.html.data(), static_cast<int>(page.html.size()),
                                     base.c_str(), "utf-8", out);
}
