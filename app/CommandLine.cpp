#include "app/CommandLine.h"

#include "app/BrowserCookies.h"
#include "app/DefaultMailProgram.h"
#include "app/MessageOutput.h"
#include "app/PageSource.h"
#include "app/PagewingScheme.h"
#include "app/ProgressLog.h"
#include "app/RenderedConversion.h"
#include "app/TempMessageFile.h"
#include "app/Version.h"
#include "convert/Mhtml.h"
#include "foundation/StreamLog.h"
#include "foundation/StringBuffer.h"
#include "http/CurlTransport.h"
#include "http/VantrelHttpImpl.h"

#include <gio/gio.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kExitWritten = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// The message was written, but without some of the page's resources.
constexpr int kExitIncomplete = 3;

constexpr const char* kVersionText = "pagewing " PAGEWING_VERSION "\n";
constexpr const char* kPasswordVariable = "PAGEWING_PASSWORD";

constexpr const char* kUsageText =
    "Usage: pagewing [options] URL-OR-FILE\n"
    "Turns a web page or a local HTML file into a ready-to-send HTML e-mail\n"
    "(an MHTML message) and writes it to standard output.\n"
    "\n"
    "URL-OR-FILE is an http or https URL, a host name with an optional port\n"
    "and path (www.example.org/page, fetched over http), a local HTML file\n"
    "(what exists on disk is always read as a file), or - for the page on\n"
    "standard input.\n"
    "\n"
    "  -o, --output FILE      write the message to FILE instead (- is standard\n"
    "                         output); FILE is replaced only by a whole message\n"
    "      --open             write it to the temporary directory as wpx.eml\n"
    "                         and open it with your mail client\n"
    "      --mail-program NAME  make the message for the mail program that will open\n"
    "                         it as a draft: thunderbird (also icedove, betterbird)\n"
    "                         gets CSS pictures as data: addresses and @media rules\n"
    "                         as style elements of their own, since its compose\n"
    "                         window loses them otherwise; none makes it for any\n"
    "                         reader (default: none, with --open the program that\n"
    "                         opens .eml files)\n"
    "      --base URL         with -: the address the page's relative references\n"
    "                         resolve against (default: the current directory)\n"
    "      --subject TEXT     the Subject (default: the page title)\n"
    "      --to ADDRESS       add a To field\n"
    "      --from ADDRESS     add a From field\n"
    "      --keep-scripts     keep scripts, iframes, comments and event handlers\n"
    "                         (default: mail-safe, with the noscript content shown)\n"
    "      --no-unsent        do not mark the message as unsent (X-Unsent)\n"
    "      --complete         also embed fonts, imported style sheets, every CSS\n"
    "                         url(), style attributes, responsive and lazy images\n"
    "      --render           run the page's scripts in headless Chromium first and\n"
    "                         convert the page as it then stands (Chromium is found\n"
    "                         on PATH or named in PAGEWING_CHROMIUM)\n"
    "      --style-sheet URL  put this style sheet into the page (repeatable)\n"
    "      --exclude TEXT     never fetch a resource whose URL contains TEXT\n"
    "                         (repeatable)\n"
    "      --proxy HOST[:PORT]  fetch everything through this HTTP proxy\n"
    "      --user NAME        log in to the web server as NAME; the password is\n"
    "                         taken from the environment variable PAGEWING_PASSWORD\n"
    "      --insecure         accept TLS certificates that cannot be verified\n"
    "      --cookies FILE     send the cookies of FILE, a Netscape cookies.txt\n"
    "                         (as curl -c and wget --save-cookies write it);\n"
    "                         cookies that the page's answers set are always sent\n"
    "                         with the requests that follow\n"
    "      --cookies-from-browser BROWSER[:PROFILE]  send the cookies of a browser\n"
    "                         profile (firefox, chromium, chrome; PROFILE is a\n"
    "                         profile name or folder, default: the default one);\n"
    "                         a browser writes new cookies to disk up to 30 s\n"
    "                         after it got them\n"
    "      --connections N    downloads at once (default 16)\n"
    "      --timeout SECONDS  give up a connection not made within SECONDS, and a\n"
    "                         download that receives nothing for SECONDS\n"
    "                         (default: 30 to connect, 60 without a byte)\n"
    "      --resolve HOST:PORT:ADDRESS  connect to ADDRESS for HOST on PORT\n"
    "                         (repeatable)\n"
    "  -v, --verbose          list every resource on standard error, with its\n"
    "                         size or why it could not be embedded; twice (-vv)\n"
    "                         also the converter's diagnostic log\n"
    "  -q, --quiet            no progress line\n"
    "  -h, --help             show this help and exit\n"
    "  -V, --version          show the version and exit\n"
    "      --bookmarklet      show the bookmarklet that sends a browser's page\n"
    "                         to pagewing, and exit\n"
    "\n"
    "Without arguments, pagewing opens its window.\n"
    "\n"
    "Exit status:\n"
    "  0  the message was written and holds every resource\n"
    "  1  the conversion failed; no message was written\n"
    "  2  a usage error\n"
    "  3  the message was written, but some resources could not be embedded\n"
    "     (one line on standard error says how many; -v lists them)\n";

enum LongOnly {
    kOptOpen = 256,
    kOptSubject,
    kOptTo,
    kOptFrom,
    kOptKeepScripts,
    kOptNoUnsent,
    kOptStyleSheet,
    kOptExclude,
    kOptProxy,
    kOptUser,
    kOptInsecure,
    kOptConnections,
    kOptComplete,
    kOptBase,
    kOptTimeout,
    kOptResolve,
    kOptBookmarklet,
    kOptCookies,
    kOptCookiesFromBrowser,
    kOptRender,
    kOptMailProgram,
};

const option kLongOptions[] = {
    {"open", no_argument, nullptr, kOptOpen},
    {"mail-program", required_argument, nullptr, kOptMailProgram},
    {"subject", required_argument, nullptr, kOptSubject},
    {"to", required_argument, nullptr, kOptTo},
    {"from", required_argument, nullptr, kOptFrom},
    {"keep-scripts", no_argument, nullptr, kOptKeepScripts},
    {"no-unsent", no_argument, nullptr, kOptNoUnsent},
    {"complete", no_argument, nullptr, kOptComplete},
    {"render", no_argument, nullptr, kOptRender},
    {"style-sheet", required_argument, nullptr, kOptStyleSheet},
    {"exclude", required_argument, nullptr, kOptExclude},
    {"proxy", required_argument, nullptr, kOptProxy},
    {"user", required_argument, nullptr, kOptUser},
    {"insecure", no_argument, nullptr, kOptInsecure},
    {"connections", required_argument, nullptr, kOptConnections},
    {"base", required_argument, nullptr, kOptBase},
    {"timeout", required_argument, nullptr, kOptTimeout},
    {"resolve", required_argument, nullptr, kOptResolve},
    {"verbose", no_argument, nullptr, 'v'},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"bookmarklet", no_argument, nullptr, kOptBookmarklet},
    {"cookies", required_argument, nullptr, kOptCookies},
    {"cookies-from-browser", required_argument, nullptr, kOptCookiesFromBrowser},
    {"output", required_argument, nullptr, 'o'},
    {nullptr, 0, nullptr, 0},
};

struct Options {
    bool open = false;
    bool keepScripts = false;
    bool markUnsent = true;
    bool completePage = false;
    bool render = false;
    bool insecure = false;
    int verbose = 0; // 1: a line per resource; 2: also the diagnostic log
    bool quiet = false;
    bool help = false;
    bool version = false;
    bool bookmarklet = false;
    std::string subject;
    std::string to;
    std::string from;
    std::string proxy;
    std::string user;
    bool haveUser = false;
    std::string output;
    bool haveOutput = false;
    int connections = -1;
    int timeoutSeconds = -1;
    std::string base;
    bool haveBase = false;
    std::vector<std::string> resolves;
    std::string cookies;
    std::string cookiesFromBrowser;
    std::string mailProgram; // empty: not given
    std::vector<std::string> styleSheets;
    std::vector<std::string> excludes;
    std::string input;
};

int usageError(const std::string& problem) {
    std::fprintf(stderr, "pagewing: %s\nTry 'pagewing --help' for more information.\n",
                 problem.c_str());
    return kExitUsage;
}

bool parseCount(const char* text, int& out) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != 0 || value < 1 || value > INT_MAX) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

// "HOST:PORT:ADDRESS", the host in its ASCII form so that it matches the
// URLs fetched.
bool parseResolve(const char* text, std::string& entry, std::string& problem) {
    const std::string given(text);
    const size_t colon = given.find(':');
    const size_t second = colon == std::string::npos ? colon : given.find(':', colon + 1);
    int port = 0;
    if (colon == 0 || second == std::string::npos || second + 1 == given.size() ||
        !parseCount(given.substr(colon + 1, second - colon - 1).c_str(), port)) {
        problem = "--resolve needs HOST:PORT:ADDRESS, not '" + given + "'";
        return false;
    }
    std::string host;
    if (!asciiHostName(given.substr(0, colon), host, problem)) {
        problem = "--resolve: " + problem;
        return false;
    }
    entry = host + given.substr(colon);
    return true;
}

bool applyCount(const char* name, const char* argument, int& out, std::string& problem) {
    if (!parseCount(argument, out)) {
        problem = std::string(name) + " needs a whole number of at least 1, not '" + argument + "'";
        return false;
    }
    return true;
}

// A name that is neither a mail program the message is made for nor "none"
// is a mistake, not another program.
bool applyMailProgram(const char* argument, Options& options, std::string& problem) {
    const std::string name(argument);
    if (name != "none" && mailProgramNamed(name) != MailProgram::Thunderbird) {
        problem = "--mail-program knows thunderbird (also icedove, betterbird) and none, not '" +
                  name + "'";
        return false;
    }
    options.mailProgram = name;
    return true;
}

bool applyOption(int code, const char* argument, Options& options, std::string& problem) {
    switch (code) {
    case kOptOpen:
        options.open = true;
        break;
    case kOptSubject:
        options.subject = argument;
        break;
    case kOptTo:
        options.to = argument;
        break;
    case kOptFrom:
        options.from = argument;
        break;
    case kOptKeepScripts:
        options.keepScripts = true;
        break;
    case kOptNoUnsent:
        options.markUnsent = false;
        break;
    case kOptComplete:
        options.completePage = true;
        break;
    case kOptRender:
        options.render = true;
        break;
    case kOptStyleSheet:
        options.styleSheets.emplace_back(argument);
        break;
    case kOptExclude:
        options.excludes.emplace_back(argument);
        break;
    case kOptProxy:
        options.proxy = argument;
        break;
    case kOptUser:
        options.user = argument;
        options.haveUser = true;
        break;
    case kOptInsecure:
        options.insecure = true;
        break;
    case kOptConnections:
        return applyCount("--connections", argument, options.connections, problem);
    case kOptTimeout:
        return applyCount("--timeout", argument, options.timeoutSeconds, problem);
    case kOptResolve:
        options.resolves.emplace_back();
        return parseResolve(argument, options.resolves.back(), problem);
    case kOptBase:
        options.base = argument;
        options.haveBase = true;
        break;
    case 'v':
        ++options.verbose;
        break;
    case 'q':
        options.quiet = true;
        break;
    case 'o':
        options.output = argument;
        options.haveOutput = true;
        break;
    case 'h':
        options.help = true;
        break;
    case 'V':
        options.version = true;
        break;
    case kOptBookmarklet:
        options.bookmarklet = true;
        break;
    case kOptCookies:
        options.cookies = argument;
        break;
    case kOptCookiesFromBrowser:
        options.cookiesFromBrowser = argument;
        break;
    case kOptMailProgram:
        return applyMailProgram(argument, options, problem);
    default:
        problem = "unknown option";
        return false;
    }
    return true;
}

// Returns kExitWritten when the options are usable; otherwise the usage
// error has been reported and its exit status is returned.
int parseOptions(int argc, char** argv, Options& options) {
    optind = 0; // a fresh scan, also when called more than once
    opterr = 0;
    int code = 0;
    while ((code = getopt_long(argc, argv, ":o:vqhV", kLongOptions, nullptr)) != -1) {
        const char* given = optind > 0 && optind <= argc ? argv[optind - 1] : "";
        if (code == ':') {
            return usageError(std::string("option ") + given + " needs a value");
        }
        if (code == '?') {
            if (optopt > 0 && optopt < 256) {
                return usageError(std::string("unknown option -") + static_cast<char>(optopt));
            }
            return usageError(std::string("unknown option ") + given);
        }
        std::string problem;
        if (!applyOption(code, optarg, options, problem)) {
            return usageError(problem);
        }
    }
    if (options.help || options.version || options.bookmarklet) {
        return kExitWritten;
    }
    if (optind >= argc) {
        return usageError("no URL or file given");
    }
    if (argc - optind > 1) {
        return usageError(std::string("only one URL or file can be converted at a time; '") +
                          argv[optind + 1] + "' is one too many");
    }
    options.input = argv[optind];
    if (options.open && options.haveOutput) {
        return usageError("--open and -o cannot be used together");
    }
    if (options.haveOutput && options.output.empty()) {
        return usageError("-o needs a file name");
    }
    if (options.render && options.input == "-") {
        return usageError("--render needs a URL or a file, not standard input");
    }
    if (options.haveBase && options.input != "-") {
        return usageError("--base goes with the page on standard input (-)");
    }
    if (options.haveUser) {
        const char* password = std::getenv(kPasswordVariable);
        if (password == nullptr || password[0] == 0) {
            return usageError(std::string("--user needs the password in the environment "
                                          "variable ") +
                              kPasswordVariable);
        }
    }
    return kExitWritten;
}

// The message is made for the program named, else for the one that opens
// it: with --open the desktop's, otherwise nobody knows.
MailProgram mailProgramFor(const Options& options) {
    if (!options.mailProgram.empty()) {
        return mailProgramNamed(options.mailProgram);
    }
    return options.open ? findDefaultMailProgram().kind : MailProgram::Other;
}

void configure(Mhtml& converter, const Options& options) {
    // The desktop program's three settings: mail-safe output in which a page
    // with noscript counts as one without scripts, marked as unsent.
    converter.m_keepScripts = options.keepScripts;
    converter.m_scriptsOverNoscript = options.keepScripts;
    converter.m_markUnsent = options.markUnsent;
    converter.m_completePage = options.completePage;
    converter.m_subject.setString(options.subject.c_str());
    converter.m_to.setString(options.to.c_str());
    converter.m_from.setString(options.from.c_str());
    for (const std::string& url : options.styleSheets) {
        converter.addStyleSheet(url.c_str());
    }
    for (const std::string& text : options.excludes) {
        converter.addExclude(text.c_str());
    }
    converter.m_proxy.setString(options.proxy.c_str());
    converter.m_proxy.trim();
    if (options.haveUser) {
        converter.m_httpLogin.setString(options.user.c_str());
        converter.m_httpPassword.setString(std::getenv(kPasswordVariable));
    }
    converter.m_ignoreCertErrors = options.insecure;
    converter.m_cookieFile.setString(options.cookies.c_str());
    if (options.connections > 0) {
        converter.m_maxConnections = options.connections;
    }
    converter.m_mailProgram = mailProgramFor(options);
}

// Every transfer of the conversion starts from these.
bool configureTransfers(const Options& options) {
    if (options.timeoutSeconds > 0) {
        HttpLimits limits = VantrelHttpImpl::defaultLimits();
        limits.connectTimeoutMs = static_cast<long>(options.timeoutSeconds) * 1000;
        limits.stallTimeoutMs = limits.connectTimeoutMs;
        VantrelHttpImpl::setDefaultLimits(limits);
    }
    return setHostResolves(options.resolves);
}

bool convert(Mhtml& converter, const Options& options, const PageSource& source,
             StringBuffer& message, std::string& problem) {
    if (options.render && source.kind != PageSource::Kind::StandardInput) {
        RenderSettings settings;
        settings.resolves = options.resolves;
        if (options.timeoutSeconds > 0) {
            settings.timeoutSeconds = options.timeoutSeconds;
        }
        return convertRenderedPage(converter, source.address, settings, message, problem);
    }
    switch (source.kind) {
    case PageSource::Kind::Url:
        return converter.convertUrl(source.address.c_str(), message);
    case PageSource::Kind::File:
        return converter.convertFile(source.address.c_str(), "localhost", message);
    case PageSource::Kind::StandardInput:
        break;
    }
    std::string bytes;
    if (!readStandardInput(bytes, problem)) {
        problem = "cannot read standard input: " + problem;
        return false;
    }
    std::string base = options.base;
    if (!asciiHostUrl(options.base, base, problem)) {
        return false;
    }
    return converter.convertDocument(bytes.data(), static_cast<int>(bytes.size()), base.c_str(),
                                     nullptr, message);
}

// The page as the user is told about it: the URL fetched, or the file.
std::string shownSource(const PageSource& source) {
    if (source.kind == PageSource::Kind::StandardInput) {
        return "standard input";
    }
    // A password in the address stays secret.
    std::string shown = source.address;
    std::string user;
    std::string password;
    takeUrlCredentials(shown, user, password);
    return shown;
}

struct GObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct GFreeDeleter {
    void operator()(gpointer block) const { g_free(block); }
};
struct GErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};

// The user's handler for the message, as the desktop program opens it;
// xdg-open when GIO knows none.
bool launchMailClient(const std::string& path, std::string& problem) {
    const std::unique_ptr<GFile, GObjectDeleter> file(g_file_new_for_path(path.c_str()));
    const std::unique_ptr<char, GFreeDeleter> uri(g_file_get_uri(file.get()));
    GError* rawError = nullptr;
    if (g_app_info_launch_default_for_uri(uri.get(), nullptr, &rawError)) {
        return true;
    }
    const std::unique_ptr<GError, GErrorDeleter> error(rawError);
    problem = error != nullptr ? error->message : "no mail client is known";

    pid_t child = 0;
    char program[] = "xdg-open";
    std::string pathArgument = path;
    char* arguments[] = {program, pathArgument.data(), nullptr};
    if (posix_spawnp(&child, program, nullptr, nullptr, arguments, environ) != 0) {
        return false;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int deliver(const Options& options, const StringBuffer& message) {
    if (options.open) {
        std::string path;
        if (!writeTemporaryMessageFile("wpx.eml", message, path)) {
            std::fprintf(stderr, "pagewing: cannot create a message file in the temporary "
                                 "directory\n");
            return kExitFailed;
        }
        std::printf("%s\n", path.c_str());
        std::fflush(stdout);
        std::string problem;
        if (!launchMailClient(path, problem)) {
            std::fprintf(stderr,
                         "pagewing: wrote %s but could not open it with a mail client: %s\n",
                         path.c_str(), problem.c_str());
        }
        return kExitWritten;
    }
    std::string problem;
    if (options.haveOutput && options.output != "-") {
        if (!writeMessageFile(options.output, message, problem)) {
            std::fprintf(stderr, "pagewing: cannot write %s: %s\n", options.output.c_str(),
                         problem.c_str());
            return kExitFailed;
        }
        return kExitWritten;
    }
    if (!writeStandardOutput(message, problem)) {
        std::fprintf(stderr, "pagewing: cannot write the message to standard output: %s\n",
                     problem.c_str());
        return kExitFailed;
    }
    return kExitWritten;
}

// One line even without -v when the message lacks something.
int reportMissing(const ProgressLog& log) {
    const int failed = log.failedCount();
    if (failed == 0) {
        return kExitWritten;
    }
    const int total = failed + log.resourceCount();
    std::fprintf(stderr,
                 "pagewing: %d of %d resource%s could not be embedded (run with -v to list "
                 "them)\n",
                 failed, total, total == 1 ? "" : "s");
    return kExitIncomplete;
}

// What can fail before anything is fetched fails first: the output path,
// the page's address, the transfers' settings.
int prepare(const Options& options, PageSource& source, std::vector<std::string>& cookies) {
    std::string problem;
    if (options.haveOutput && !outputPathUsable(options.output, problem)) {
        std::fprintf(stderr, "pagewing: cannot write %s: %s\n", options.output.c_str(),
                     problem.c_str());
        return kExitFailed;
    }
    if (!choosePageSource(options.input, source, problem)) {
        std::fprintf(stderr, "pagewing: cannot convert %s: %s\n", options.input.c_str(),
                     problem.c_str());
        return kExitFailed;
    }
    if (!configureTransfers(options)) {
        std::fprintf(stderr, "pagewing: cannot set up the downloads\n");
        return kExitFailed;
    }
    // Cookies the user asked for by name must be there.
    if (!options.cookiesFromBrowser.empty() &&
        !readBrowserCookies(options.cookiesFromBrowser, cookies, problem)) {
        std::fprintf(stderr, "pagewing: cannot read the cookies of %s: %s\n",
                     options.cookiesFromBrowser.c_str(), problem.c_str());
        return kExitFailed;
    }
    return kExitWritten;
}

int run(const Options& options) {
    PageSource source;
    std::vector<std::string> cookies;
    const int prepared = prepare(options, source, cookies);
    if (prepared != kExitWritten) {
        return prepared;
    }
    std::unique_ptr<StreamLog> diagnostic;
    if (options.verbose > 1) {
        diagnostic = std::make_unique<StreamLog>(stderr);
    }
    const bool showProgress = !options.quiet && options.verbose == 0 && isatty(STDERR_FILENO) == 1;
    ProgressLog log(diagnostic.get(), showProgress ? stderr : nullptr);
    if (options.verbose > 0) {
        log.setReportStream(stderr);
    }

    Mhtml converter;
    configure(converter, options);
    converter.m_cookieLines = cookies;
    converter.m_log = &log;
    StringBuffer message;
    std::string problem;
    const bool converted = convert(converter, options, source, message, problem);
    log.finish();
    if (!converted) {
        std::fprintf(stderr, "pagewing: cannot convert %s: %s\n", shownSource(source).c_str(),
                     problem.empty() ? conversionFailureReason(converter, log,
                                                               source.kind == PageSource::Kind::Url)
                                           .c_str()
                                     : problem.c_str());
        return kExitFailed;
    }
    const int delivered = deliver(options, message);
    return delivered != kExitWritten ? delivered : reportMissing(log);
}

int runParsed(int argc, char** argv) {
    Options options;
    const int parsed = parseOptions(argc, argv, options);
    if (parsed != kExitWritten) {
        return parsed;
    }
    if (options.help) {
        std::fputs(kUsageText, stdout);
        return kExitWritten;
    }
    if (options.version) {
        std::fputs(kVersionText, stdout);
        return kExitWritten;
    }
    if (options.bookmarklet) {
        std::printf("%s\n", kBookmarklet);
        return kExitWritten;
    }
    return run(options);
}

} // namespace

int runCommandLine(int argc, char** argv) {
    const int status = runParsed(argc, argv);
    std::string problem;
    if (!closeStandardOutput(problem)) {
        std::fprintf(stderr, "pagewing: cannot write to standard output: %s\n", problem.c_str());
        return status == kExitWritten ? kExitFailed : status;
    }
    return status;
}
