#include "app/CommandLine.h"

#include "app/ProgressLog.h"
#include "app/TempMessageFile.h"
#include "app/Version.h"
#include "convert/Mhtml.h"
#include "foundation/FileSys.h"
#include "foundation/StreamLog.h"
#include "foundation/StringBuffer.h"
#include "http/CurlTransport.h"

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
#include <strings.h>
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
    "  -o FILE                write the message to FILE instead\n"
    "      --open             write it to the temporary directory as wpx.eml\n"
    "                         and open it with your mail client\n"
    "      --subject TEXT     the Subject (default: the page title)\n"
    "      --to ADDRESS       add a To field\n"
    "      --from ADDRESS     add a From field\n"
    "      --keep-scripts     keep scripts, iframes, comments and event handlers\n"
    "                         (default: mail-safe, with the noscript content shown)\n"
    "      --no-unsent        do not mark the message as unsent (X-Unsent)\n"
    "      --complete         also embed fonts, imported style sheets, every CSS\n"
    "                         url(), style attributes, responsive and lazy images\n"
    "      --style-sheet URL  put this style sheet into the page (repeatable)\n"
    "      --exclude TEXT     never fetch a resource whose URL contains TEXT\n"
    "                         (repeatable)\n"
    "      --proxy HOST[:PORT]  fetch everything through this HTTP proxy\n"
    "      --user NAME        log in to the web server as NAME; the password is\n"
    "                         taken from the environment variable PAGEWING_PASSWORD\n"
    "      --insecure         accept TLS certificates that cannot be verified\n"
    "      --connections N    downloads at once (default 16)\n"
    "  -v, --verbose          report every step and every failed resource on\n"
    "                         standard error\n"
    "  -q, --quiet            no progress line\n"
    "      --help             show this help and exit\n"
    "      --version          show the version and exit\n"
    "\n"
    "Text that begins with \"http\" is fetched as a URL; anything else is read as\n"
    "a local file. Exit status: 0 when the message was written, 1 when the\n"
    "conversion failed, 2 for a usage error. Without arguments, pagewing opens\n"
    "its window.\n";

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
    kOptHelp,
    kOptVersion,
    kOptComplete,
};

const option kLongOptions[] = {
    {"open", no_argument, nullptr, kOptOpen},
    {"subject", required_argument, nullptr, kOptSubject},
    {"to", required_argument, nullptr, kOptTo},
    {"from", required_argument, nullptr, kOptFrom},
    {"keep-scripts", no_argument, nullptr, kOptKeepScripts},
    {"no-unsent", no_argument, nullptr, kOptNoUnsent},
    {"complete", no_argument, nullptr, kOptComplete},
    {"style-sheet", required_argument, nullptr, kOptStyleSheet},
    {"exclude", required_argument, nullptr, kOptExclude},
    {"proxy", required_argument, nullptr, kOptProxy},
    {"user", required_argument, nullptr, kOptUser},
    {"insecure", no_argument, nullptr, kOptInsecure},
    {"connections", required_argument, nullptr, kOptConnections},
    {"verbose", no_argument, nullptr, 'v'},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, kOptHelp},
    {"version", no_argument, nullptr, kOptVersion},
    {"output", required_argument, nullptr, 'o'},
    {nullptr, 0, nullptr, 0},
};

struct Options {
    bool open = false;
    bool keepScripts = false;
    bool markUnsent = true;
    bool completePage = false;
    bool insecure = false;
    int verbose = 0; // 1: a line per resource; 2: also the diagnostic log
    bool quiet = false;
    bool help = false;
    bool version = false;
    std::string subject;
    std::string to;
    std::string from;
    std::string proxy;
    std::string user;
    bool haveUser = false;
    std::string output;
    bool haveOutput = false;
    int connections = -1;
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
        if (!parseCount(argument, options.connections)) {
            problem = std::string("--connections needs a whole number of at least 1, not '") +
                      argument + "'";
            return false;
        }
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
    case kOptHelp:
        options.help = true;
        break;
    case kOptVersion:
        options.version = true;
        break;
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
    while ((code = getopt_long(argc, argv, ":o:vq", kLongOptions, nullptr)) != -1) {
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
    if (options.help || options.version) {
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
    if (options.connections > 0) {
        converter.m_maxConnections = options.connections;
    }
}

bool convert(Mhtml& converter, const std::string& input, StringBuffer& message) {
    if (strncasecmp(input.c_str(), "http", 4) == 0) {
        return converter.convertUrl(input.c_str(), message);
    }
    return converter.convertFile(input.c_str(), "localhost", message);
}

bool writeAll(int fd, const char* data, size_t size, std::string& problem) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            problem = std::strerror(errno);
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
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
    const char* data = message.getString();
    const auto size = static_cast<size_t>(message.getSize());
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
    if (options.haveOutput) {
        ProgressLog reasons(nullptr, nullptr);
        if (!FileSys::writeFile(options.output.c_str(), data, static_cast<int>(size), &reasons)) {
            std::fprintf(stderr, "pagewing: cannot write %s: %s\n", options.output.c_str(),
                         reasons.failureReason().c_str());
            return kExitFailed;
        }
        return kExitWritten;
    }
    std::string problem;
    if (!writeAll(STDOUT_FILENO, data, size, problem)) {
        std::fprintf(stderr, "pagewing: cannot write the message to standard output: %s\n",
                     problem.c_str());
        return kExitFailed;
    }
    return kExitWritten;
}

// The input as it may be shown: a password in it stays secret.
std::string shownInput(const std::string& input) {
    std::string shown = input;
    std::string user;
    std::string password;
    takeUrlCredentials(shown, user, password);
    return shown;
}

void reportFailure(const Mhtml& converter, const ProgressLog& log, const std::string& input) {
    std::string reason = converter.pageProblem();
    if (reason.empty()) {
        reason = log.failureReason();
    }
    if (reason.empty()) {
        reason = "the page could not be converted";
    }
    std::fprintf(stderr, "pagewing: cannot convert %s: %s\n", shownInput(input).c_str(),
                 reason.c_str());
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

} // namespace

int runCommandLine(int argc, char** argv) {
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
    converter.m_log = &log;
    StringBuffer message;
    const bool converted = convert(converter, options.input, message);
    log.finish();
    if (!converted) {
        reportFailure(converter, log, options.input);
        return kExitFailed;
    }
    const int delivered = deliver(options, message);
    if (delivered != kExitWritten) {
        return delivered;
    }
    return reportMissing(log);
}
