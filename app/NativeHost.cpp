#include "app/NativeHost.h"

#include "app/CapturedPage.h"
#include "app/ChromiumCookies.h"
#include "app/ExtensionId.h"
#include "app/ToolbarButton.h"

#include "foundation/FileHandle.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <strings.h>
#include <unistd.h>

extern char** environ;

namespace {

using Json = nlohmann::json;

constexpr uint32_t kMaxMessage = uint32_t{64} << 20;

bool readMessage(std::string& text, std::string& problem) {
    uint32_t length = 0;
    const int64_t lengthBytes = readFully(STDIN_FILENO, &length, sizeof length);
    if (lengthBytes != sizeof length) {
        problem = lengthBytes <= 0 ? "no message came" : "the message's length was cut short";
        return false;
    }
    if (length > kMaxMessage) {
        problem = "the message is larger than 64 MiB";
        return false;
    }
    text.resize(length);
    const int64_t got = readFully(STDIN_FILENO, text.data(), length);
    if (got != length) {
        problem = "the message ended after " + std::to_string(std::max<int64_t>(got, 0)) + " of " +
                  std::to_string(length) + " bytes";
        return false;
    }
    return true;
}

void writeAnswer(const Json& answer) {
    const std::string text = answer.dump(-1, ' ', true, Json::error_handler_t::replace);
    const auto length = static_cast<uint32_t>(text.size());
    std::string framed(reinterpret_cast<const char*>(&length), sizeof length);
    framed += text;
    // The browser that reads the answer may have gone; nobody else to tell.
    static_cast<void>(
        writeFully(STDOUT_FILENO, framed.data(), static_cast<int64_t>(framed.size())));
}

int refuse(const std::string& problem) {
    writeAnswer({{"ok", false}, {"error", problem}});
    return 1;
}

// The browser names the extension that started the host; only ours may.
bool callerAllowed(const std::vector<std::string>& arguments) {
    const std::string origin = chromiumExtensionOrigin();
    for (const std::string& argument : arguments) {
        if ((!origin.empty() && argument == origin) || argument == kFirefoxExtensionId) {
            return true;
        }
    }
    return false;
}

bool isWebPageUrl(const std::string& url) {
    return ::strncasecmp(url.c_str(), "http://", 7) == 0 ||
           ::strncasecmp(url.c_str(), "https://", 8) == 0;
}

// A member of an object; null when it is not there.
const Json& member(const Json& object, const char* name) {
    static const Json kNothing;
    const auto found = object.find(name);
    return found != object.end() ? *found : kNothing;
}

// One cookie of the extension's cookies API as a cookies.txt line; "" for
// one that does not fit a line.
std::string cookieLine(const Json& cookie) {
    if (!cookie.is_object() || !member(cookie, "domain").is_string() ||
        !member(cookie, "name").is_string() || !member(cookie, "value").is_string() ||
        !member(cookie, "path").is_string()) {
        return {};
    }
    ChromiumCookie row;
    const std::string domain = member(cookie, "domain").get<std::string>();
    const bool hostOnly = member(cookie, "hostOnly") == true;
    const std::string bare = !domain.empty() && domain[0] == '.' ? domain.substr(1) : domain;
    row.hostKey = hostOnly ? bare : "." + bare;
    row.path = member(cookie, "path").get<std::string>();
    row.name = member(cookie, "name").get<std::string>();
    row.secure = member(cookie, "secure") == true;
    row.httpOnly = member(cookie, "httpOnly") == true;
    const Json& expiry = member(cookie, "expirationDate");
    if (expiry.is_number() && std::isfinite(expiry.get<double>()) && expiry.get<double>() >= 1 &&
        expiry.get<double>() < 1e11) {
        row.expiresUtc = chromiumTimeFromUnixSeconds(static_cast<int64_t>(expiry.get<double>()));
    }
    return bare.empty() ? std::string()
                        : chromiumCookieLine(row, member(cookie, "value").get<std::string>());
}

bool parsePage(const std::string& text, CapturedPage& page, std::string& problem) {
    Json message = Json::parse(text, nullptr, false);
    if (message.is_discarded() || !message.is_object()) {
        problem = "the message is not a JSON object";
        return false;
    }
    for (const char* field : {"url", "title", "charset", "html"}) {
        if (!message[field].is_string()) {
            problem = std::string("the message has no text \"") + field + "\"";
            return false;
        }
    }
    if (!message["cookies"].is_array()) {
        problem = "the message has no list \"cookies\"";
        return false;
    }
    page.url = message["url"].get<std::string>();
    if (!isWebPageUrl(page.url)) {
        problem = "only http and https pages can be converted, not " + page.url.substr(0, 80);
        return false;
    }
    page.title = message["title"].get<std::string>();
    page.charset = message["charset"].get<std::string>();
    page.html = message["html"].get<std::string>();
    for (const Json& cookie : message["cookies"]) {
        std::string line = cookieLine(cookie);
        if (!line.empty()) {
            page.cookieLines.push_back(std::move(line));
        }
    }
    return true;
}

// The desktop program, in a session of its own so that it outlives the
// browser's wait for this host, with nothing of the browser's pipes.
bool startDesktopProgram(const std::string& folder, std::string& problem) {
    const std::string program = ownProgramPath();
    if (program.empty()) {
        problem = "cannot find this program's own file";
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    for (const int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        posix_spawn_file_actions_addopen(&actions, descriptor, "/dev/null",
                                         descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    }
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::string programArgument = program;
    std::string pageArgument = kCapturedPageArgument;
    std::string folderArgument = folder;
    char* arguments[] = {programArgument.data(), pageArgument.data(), folderArgument.data(),
                         nullptr};
    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, program.c_str(), &actions, &attributes, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        problem = "cannot start " + program + ": " + std::strerror(spawned);
        return false;
    }
    return true;
}

} // namespace

std::string chromiumExtensionOrigin() {
    return std::string("chrome-extension://") + kChromiumExtensionId + "/";
}

bool looksLikeBrowserHostStart(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return false;
    }
    if (arguments[0].rfind("chrome-extension://", 0) == 0) {
        return true;
    }
    return arguments.size() == 2 && arguments[1] == kFirefoxExtensionId;
}

int runNativeHost(const std::vector<std::string>& arguments) {
    if (!callerAllowed(arguments)) {
        return refuse("this host answers only the Pagewing extension");
    }
    std::string text;
    std::string problem;
    CapturedPage page;
    if (!readMessage(text, problem) || !parsePage(text, page, problem)) {
        return refuse(problem);
    }
    std::string folder;
    if (!writeCapturedPage(page, folder, problem)) {
        return refuse(problem);
    }
    if (!startDesktopProgram(folder, problem)) {
        removeCapturedPage(folder);
        return refuse(problem);
    }
    writeAnswer({{"ok", true}});
    return 0;
}
