#include "app/PageRenderer.h"

#include "app/ChromiumCookies.h"
#include "app/ChromiumPipe.h"
#include "app/DevToolsConnection.h"
#include "app/PrivateTempDir.h"
#include "http/FetchOutcome.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;
using std::chrono::milliseconds;
using std::chrono::seconds;

// A browser starting on a busy machine takes a few seconds; this bounds it.
constexpr seconds kStartTime{60};
// The network counts as quiet when nothing was asked or answered this long.
constexpr milliseconds kQuietTime{500};
constexpr milliseconds kScrollQuietTime{300};
// A request still open after this long is taken for one that never ends
// (long polling, a hanging beacon); it stops holding the page back, or such
// a page would always be taken only when the timeout runs out.
constexpr seconds kEndlessRequestTime{10};
constexpr int kMaxScrollSteps = 60;
constexpr seconds kMaxScrollTime{15};
constexpr seconds kCaptureTime{30};

// The doctype as written, the document without its noscript elements
// (their text is what a reader without scripts sees, and the scripts ran),
// where the page ended up, and what kind of document it is.
constexpr const char* kCaptureScript = R"JS((() => {
  const d = document.doctype;
  let text = "";
  if (d) {
    text = "<!DOCTYPE " + d.name;
    if (d.publicId) text += ' PUBLIC "' + d.publicId + '"';
    if (d.systemId) text += (d.publicId ? "" : " SYSTEM") + ' "' + d.systemId + '"';
    text += ">\n";
  }
  const root = document.documentElement.cloneNode(true);
  for (const n of root.querySelectorAll("noscript")) n.remove();
  return {html: text + root.outerHTML, url: location.href, type: document.contentType};
})())JS";

constexpr const char* kScrollScript = R"JS((() => {
  const before = window.scrollY;
  window.scrollBy(0, Math.max(window.innerHeight - 40, 100));
  return window.scrollY > before;
})())JS";

std::vector<std::string> browserArguments(const RenderRequest& request,
                                          const std::string& profile) {
    std::vector<std::string> arguments{
        "--headless", "--user-data-dir=" + profile, "--no-first-run", "--no-default-browser-check",
        "--disable-gpu", "--disable-extensions", "--disable-background-networking",
        "--disable-component-update", "--disable-sync", "--disable-default-apps",
        "--disable-domain-reliability", "--no-pings", "--mute-audio", "--hide-scrollbars",
        "--password-store=basic", "--window-size=1280,1024",
        // Nothing but the page: no translation, no suggestions, no lookups.
        "--disable-features=Translate,OptimizationHints,MediaRouter,AutofillServerCommunication"};
    // The browser's sandbox refuses to start for the superuser.
    if (::geteuid() == 0) {
        arguments.emplace_back("--no-sandbox");
    }
    if (!request.proxy.empty()) {
        arguments.push_back("--proxy-server=" + request.proxy);
    }
    if (request.insecure) {
        arguments.emplace_back("--ignore-certificate-errors");
    }
    std::string rules;
    for (const std::string& entry : request.resolves) {
        // HOST:PORT:ADDRESS; the browser maps the host on every port.
        const size_t colon = entry.find(':');
        const size_t second = entry.find(':', colon + 1);
        if (colon != std::string::npos && second != std::string::npos) {
            rules += (rules.empty() ? "MAP " : ", MAP ") + entry.substr(0, colon) + " " +
                     entry.substr(second + 1);
        }
    }
    if (!rules.empty()) {
        arguments.push_back("--host-resolver-rules=" + rules);
    }
    return arguments;
}

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

// A cookies.txt line as the browser takes it; null for a line that is not
// a cookie. A host-only cookie is given by the address it belongs to.
Json cookieParameter(const std::string& line) {
    constexpr const char* kHttpOnly = "#HttpOnly_";
    const bool httpOnly = line.rfind(kHttpOnly, 0) == 0;
    if (line.empty() || (line[0] == '#' && !httpOnly)) {
        return nullptr;
    }
    std::vector<std::string> fields = splitTabs(httpOnly ? line.substr(10) : line);
    if (fields.size() != 7 || fields[0].empty() || fields[5].empty()) {
        return nullptr;
    }
    const std::string& domain = fields[0];
    const bool secure = fields[3] == "TRUE";
    Json cookie = {{"name", fields[5]},
                   {"value", fields[6]},
                   {"path", fields[2]},
                   {"secure", secure},
                   {"httpOnly", httpOnly}};
    if (domain[0] == '.') {
        cookie["domain"] = domain;
    } else {
        cookie["url"] = (secure ? "https://" : "http://") + domain + fields[2];
    }
    const long long expiry = std::strtoll(fields[4].c_str(), nullptr, 10);
    if (expiry > 0) {
        cookie["expires"] = static_cast<double>(expiry);
    }
    return cookie;
}

std::string cookieLine(const Json& cookie) {
    ChromiumCookie row;
    row.hostKey = cookie.value("domain", std::string());
    row.path = cookie.value("path", std::string());
    row.name = cookie.value("name", std::string());
    row.secure = cookie.value("secure", false);
    row.httpOnly = cookie.value("httpOnly", false);
    const double expires = cookie.value("expires", -1.0);
    if (!cookie.value("session", false) && expires > 0) {
        row.expiresUtc = chromiumTimeFromUnixSeconds(static_cast<int64_t>(expires));
    }
    return chromiumCookieLine(row, cookie.value("value", std::string()));
}

// The browser refuses a whole list for one cookie it cannot take; then
// each is given on its own and those it refuses are left out.
void giveCookies(DevToolsConnection& browser, const std::vector<std::string>& lines,
                 Deadline deadline) {
    Json cookies = Json::array();
    for (const std::string& line : lines) {
        Json cookie = cookieParameter(line);
        if (!cookie.is_null()) {
            cookies.push_back(std::move(cookie));
        }
    }
    Json result;
    std::string problem;
    if (cookies.empty() ||
        browser.call("Storage.setCookies", {{"cookies", cookies}}, result, deadline, problem)) {
        return;
    }
    for (const Json& cookie : cookies) {
        browser.call("Storage.setCookies", {{"cookies", Json::array({cookie})}}, result, deadline,
                     problem);
    }
}

// What the page's network and load events tell.
class PageActivity {
public:
    void take(const Json& event, DevToolsConnection& browser, const std::string& session) {
        const std::string method = event.value("method", std::string());
        const Json& params = event.contains("params") ? event["params"] : kNoParams;
        if (method == "Page.loadEventFired") {
            m_loaded = true;
        } else if (method == "Network.requestWillBeSent") {
            // A stream that never ends would keep the page from falling quiet.
            const std::string type = params.value("type", std::string());
            if (type != "EventSource" && type != "WebSocket") {
                m_pending.emplace(params.value("requestId", std::string()), Clock::now());
            }
        } else if (method == "Network.loadingFinished" || method == "Network.loadingFailed") {
            m_pending.erase(params.value("requestId", std::string()));
        } else if (method == "Network.responseReceived") {
            noteDocumentResponse(params);
        } else if (method == "Page.javascriptDialogOpening") {
            // Nobody is there to answer an alert; it would stop the page.
            browser.post("Page.handleJavaScriptDialog", {{"accept", false}}, session);
        } else {
            return;
        }
        m_lastChange = Clock::now();
    }

    void expectDocument(const std::string& loaderId) { m_loaderId = loaderId; }
    // Something happened that the page needs time to answer (a scroll).
    void touch() { m_lastChange = Clock::now(); }
    bool loaded() const { return m_loaded; }
    long status() const { return m_status; }
    const std::string& statusText() const { return m_statusText; }

    // When the network will count as quiet if nothing happens before.
    Deadline quietAt(milliseconds quiet) const {
        Deadline at = m_lastChange + quiet;
        for (const auto& [request, since] : m_pending) {
            at = std::max(at, since + kEndlessRequestTime);
        }
        return at;
    }

private:
    void noteDocumentResponse(const Json& params) {
        if (m_loaderId.empty() || params.value("requestId", std::string()) != m_loaderId) {
            return;
        }
        const Json& response = params.contains("response") ? params["response"] : kNoParams;
        m_status = static_cast<long>(response.value("status", 0.0));
        m_statusText = response.value("statusText", std::string());
    }

    inline static const Json kNoParams = Json::object();
    std::map<std::string, Deadline> m_pending; // by request id, since when
    Deadline m_lastChange = Clock::now();
    bool m_loaded = false;
    std::string m_loaderId;
    long m_status = 0;
    std::string m_statusText;
};

// One page of a browser started for it.
class RenderSession {
public:
    RenderSession(ChromiumPipe& pipe) : m_browser(pipe) {}

    bool open(const RenderRequest& request, std::string& problem);
    bool load(const std::string& url, const RenderRequest& request, std::string& problem);
    void scrollThrough();
    bool capture(RenderedPage& page, std::string& problem);
    void collectCookies(RenderedPage& page);
    void close() { m_browser.post("Browser.close", Json::object()); }

private:
    bool settle(bool needLoad, milliseconds quiet, Deadline deadline, std::string& problem);
    bool evaluate(const char* script, Json& value, Deadline deadline, std::string& problem);

    DevToolsConnection m_browser;
    std::string m_session;
    PageActivity m_activity;
};

bool RenderSession::open(const RenderRequest& request, std::string& problem) {
    const Deadline deadline = Clock::now() + kStartTime;
    Json result;
    if (!m_browser.call("Target.createTarget", {{"url", "about:blank"}}, result, deadline,
                        problem)) {
        problem = "the browser did not start: " + problem;
        return false;
    }
    const std::string target = result.value("targetId", std::string());
    if (!m_browser.call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}}, result,
                        deadline, problem)) {
        return false;
    }
    m_session = result.value("sessionId", std::string());
    giveCookies(m_browser, request.cookieLines, deadline);
    return m_browser.call("Page.enable", Json::object(), result, deadline, problem, m_session) &&
           m_browser.call("Network.enable", Json::object(), result, deadline, problem, m_session);
}

// Waits until the page has loaded (when asked) and nothing was asked or
// answered for the quiet time. Reaching the deadline is no failure: the
// page is then taken as it stands.
bool RenderSession::settle(bool needLoad, milliseconds quiet, Deadline deadline,
                           std::string& problem) {
    while (true) {
        const Deadline now = Clock::now();
        const bool ready = !needLoad || m_activity.loaded();
        if (ready && m_activity.quietAt(quiet) <= now) {
            return true;
        }
        if (now >= deadline) {
            return true;
        }
        const Deadline wake = ready ? std::min(deadline, m_activity.quietAt(quiet)) : deadline;
        Json event;
        if (m_browser.nextEvent(event, wake, problem)) {
            m_activity.take(event, m_browser, m_session);
        } else if (!problem.empty()) {
            return false;
        }
    }
}

bool RenderSession::load(const std::string& url, const RenderRequest& request,
                         std::string& problem) {
    const Deadline deadline = Clock::now() + seconds(std::max(1, request.timeoutSeconds));
    Json result;
    if (!m_browser.call("Page.navigate", {{"url", url}}, result, deadline, problem, m_session)) {
        return false;
    }
    const std::string error = result.value("errorText", std::string());
    if (!error.empty()) {
        problem = "the browser could not load the page (" + error + ")";
        return false;
    }
    m_activity.expectDocument(result.value("loaderId", std::string()));
    if (!settle(true, kQuietTime, deadline, problem)) {
        return false;
    }
    if (m_activity.status() >= 400) {
        problem = describeStatus(m_activity.status(), m_activity.statusText());
        return false;
    }
    return true;
}

bool RenderSession::evaluate(const char* script, Json& value, Deadline deadline,
                             std::string& problem) {
    Json result;
    if (!m_browser.call("Runtime.evaluate", {{"expression", script}, {"returnByValue", true}},
                        result, deadline, problem, m_session)) {
        return false;
    }
    if (result.contains("exceptionDetails")) {
        problem = "the page's document could not be read";
        return false;
    }
    value = result.contains("result") ? result["result"].value("value", Json()) : Json();
    return true;
}

// Step by step to the end of the page, each step given the time for what
// came into view to load, then back to the top.
void RenderSession::scrollThrough() {
    const Deadline deadline = Clock::now() + kMaxScrollTime;
    std::string problem;
    Json moved;
    for (int step = 0; step < kMaxScrollSteps && Clock::now() < deadline; ++step) {
        const bool scrolled = evaluate(kScrollScript, moved, deadline, problem);
        m_activity.touch();
        if (!scrolled || !moved.is_boolean() || !moved.get<bool>() ||
            !settle(false, kScrollQuietTime, deadline, problem)) {
            break;
        }
    }
    evaluate("window.scrollTo(0, 0)", moved, deadline, problem);
}

bool RenderSession::capture(RenderedPage& page, std::string& problem) {
    Json value;
    if (!evaluate(kCaptureScript, value, Clock::now() + kCaptureTime, problem)) {
        return false;
    }
    if (!value.is_object() || !value["html"].is_string()) {
        problem = "the page's document could not be read";
        return false;
    }
    const std::string type = value.value("type", std::string());
    if (type != "text/html" && type != "application/xhtml+xml") {
        problem = "not an HTML page (" + type + ")";
        return false;
    }
    page.html = value["html"].get<std::string>();
    page.url = value.value("url", std::string());
    return true;
}

void RenderSession::collectCookies(RenderedPage& page) {
    Json result;
    std::string problem;
    if (!m_browser.call("Storage.getCookies", Json::object(), result, Clock::now() + kCaptureTime,
                        problem) ||
        !result["cookies"].is_array()) {
        return;
    }
    for (const Json& cookie : result["cookies"]) {
        std::string line = cookie.is_object() ? cookieLine(cookie) : std::string();
        if (!line.empty()) {
            page.cookieLines.push_back(std::move(line));
        }
    }
}

// The login goes in the address of the page alone: the browser answers the
// page's own server with it and no other.
std::string addressWithLogin(const RenderRequest& request) {
    const size_t hostStart = request.url.find("://");
    if (request.login.empty() || hostStart == std::string::npos ||
        request.url.rfind("http", 0) != 0) {
        return request.url;
    }
    auto escaped = [](const std::string& text) {
        static const char* const kHex = "0123456789ABCDEF";
        std::string out;
        for (const unsigned char c : text) {
            if (std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~') {
                out.push_back(static_cast<char>(c));
            } else {
                out += {'%', kHex[c >> 4], kHex[c & 15]};
            }
        }
        return out;
    };
    return request.url.substr(0, hostStart + 3) + escaped(request.login) + ":" +
           escaped(request.password) + "@" + request.url.substr(hostStart + 3);
}

} // namespace

bool renderPage(const RenderRequest& request, RenderedPage& page, std::string& problem) {
    page = RenderedPage();
    std::string program;
    if (!findChromium(program, problem)) {
        return false;
    }
    // The profile and the browser's temporary files, in one private folder.
    const PrivateTempDir folder;
    if (!folder.ok()) {
        problem = folder.problem();
        return false;
    }
    const std::string profile = folder.path() + "/profile";
    const std::string temporary = folder.path() + "/tmp";
    if (::mkdir(profile.c_str(), 0700) != 0 || ::mkdir(temporary.c_str(), 0700) != 0) {
        problem = "cannot make a browser profile in " + folder.path();
        return false;
    }
    ChromiumPipe pipe;
    if (!pipe.start(program, browserArguments(request, profile), temporary, problem)) {
        return false;
    }
    RenderSession session(pipe);
    if (!session.open(request, problem) ||
        !session.load(addressWithLogin(request), request, problem)) {
        return false;
    }
    session.scrollThrough();
    if (!session.capture(page, problem)) {
        return false;
    }
    session.collectCookies(page);
    session.close();
    return true;
}
