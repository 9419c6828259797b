#include "app/ChromiumPipe.h"

#include "app/InterruptCleanup.h"
#include "http/TransferCancel.h"

#include "foundation/FileHandle.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kBrowserReads = 3;
constexpr int kBrowserWrites = 4;
// Far enough above 4 that the ends the browser gets can be put in place
// without overwriting one another.
constexpr int kLowestOwnDescriptor = 10;
constexpr size_t kMaxMessage = size_t{512} << 20;
constexpr auto kExitWait = std::chrono::seconds(3);

constexpr const char* kChromiumVariable = "PAGEWING_CHROMIUM";
constexpr const char* kChromiumNames[] = {"chromium", "chromium-browser", "google-chrome"};

void closeDescriptor(int& descriptor) {
    if (descriptor >= 0) {
        ::close(descriptor);
        descriptor = -1;
    }
}

// A pipe whose two ends stand above the descriptors the browser is given.
bool makePipe(int ends[2]) {
    int low[2];
    if (::pipe2(low, O_CLOEXEC) != 0) {
        return false;
    }
    ends[0] = ::fcntl(low[0], F_DUPFD_CLOEXEC, kLowestOwnDescriptor);
    ends[1] = ::fcntl(low[1], F_DUPFD_CLOEXEC, kLowestOwnDescriptor);
    ::close(low[0]);
    ::close(low[1]);
    if (ends[0] < 0 || ends[1] < 0) {
        closeDescriptor(ends[0]);
        closeDescriptor(ends[1]);
        return false;
    }
    return true;
}

// Writing to a browser that went away must fail with EPIPE, not end this
// program with SIGPIPE; the signal is held back and taken for this thread
// only.
class SigpipeHeld {
public:
    SigpipeHeld() {
        sigset_t pipeOnly;
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        sigpending(&m_pendingBefore);
        pthread_sigmask(SIG_BLOCK, &pipeOnly, &m_before);
    }
    ~SigpipeHeld() {
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) != 0 && sigismember(&m_pendingBefore, SIGPIPE) == 0) {
            sigset_t pipeOnly;
            sigemptyset(&pipeOnly);
            sigaddset(&pipeOnly, SIGPIPE);
            const timespec now{};
            sigtimedwait(&pipeOnly, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &m_before, nullptr);
    }
    SigpipeHeld(const SigpipeHeld&) = delete;
    SigpipeHeld& operator=(const SigpipeHeld&) = delete;

private:
    sigset_t m_before{};
    sigset_t m_pendingBefore{};
};

bool isProgram(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::string onPath(const char* name) {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        end = end == std::string::npos ? folders.size() : end;
        const std::string folder = end > start ? folders.substr(start, end - start) : ".";
        const std::string candidate = folder + "/" + name;
        if (isProgram(candidate)) {
            return candidate;
        }
        start = end + 1;
    }
    return {};
}

// Whether the process has ended, leaving it to be reaped.
bool hasEnded(pid_t process) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(process), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == process;
}

// A browser that is ended leaves its temporary files behind; they go where
// the caller removes them.
std::vector<std::string> environmentWithTemporaryFolder(const std::string& folder) {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::strncmp(*variable, "TMPDIR=", 7) != 0) {
            variables.emplace_back(*variable);
        }
    }
    variables.push_back("TMPDIR=" + folder);
    return variables;
}

class SpawnSetup {
public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};
};

} // namespace

ChromiumPipe::~ChromiumPipe() {
    stop();
}

bool ChromiumPipe::start(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& temporaryFolder, std::string& problem) {
    int toBrowser[2];
    int fromBrowser[2];
    if (!makePipe(toBrowser)) {
        problem = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    if (!makePipe(fromBrowser)) {
        problem = std::string("cannot make a pipe: ") + std::strerror(errno);
        ::close(toBrowser[0]);
        ::close(toBrowser[1]);
        return false;
    }
    SpawnSetup setup;
    posix_spawn_file_actions_adddup2(&setup.actions, toBrowser[0], kBrowserReads);
    posix_spawn_file_actions_adddup2(&setup.actions, fromBrowser[1], kBrowserWrites);
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // What the browser prints is its own business; this program's output is
    // the message.
    posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&setup.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setpgroup(&setup.attributes, 0);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    words.emplace_back("--remote-debugging-pipe");
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> variables = environmentWithTemporaryFolder(temporaryFolder);
    std::vector<char*> envp;
    for (std::string& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    const int spawned = posix_spawn(&m_pid, program.c_str(), &setup.actions, &setup.attributes,
                                    argv.data(), envp.data());
    ::close(toBrowser[0]);
    ::close(fromBrowser[1]);
    m_toBrowser = toBrowser[1];
    m_fromBrowser = fromBrowser[0];
    if (spawned != 0) {
        m_pid = -1;
        problem = "cannot start " + program + ": " + std::strerror(spawned);
        stop();
        return false;
    }
    registerProcessGroup(m_pid);
    return true;
}

bool ChromiumPipe::send(const std::string& message) {
    if (m_toBrowser < 0) {
        return false;
    }
    const SigpipeHeld held;
    std::string whole = message;
    whole.push_back('\0');
    return writeFully(m_toBrowser, whole.data(), static_cast<int64_t>(whole.size()));
}

bool ChromiumPipe::takeWhole(std::string& message) {
    const size_t end = m_received.find('\0');
    if (end == std::string::npos) {
        return false;
    }
    message.assign(m_received, 0, end);
    m_received.erase(0, end + 1);
    return true;
}

bool ChromiumPipe::receive(std::string& message, Deadline deadline, std::string& problem) {
    char chunk[65536];
    while (!takeWhole(message)) {
        const auto now = std::chrono::steady_clock::now();
        if (m_fromBrowser < 0 || now >= deadline) {
            problem =
                m_fromBrowser < 0 ? "the browser ended" : "the browser did not answer in time";
            return false;
        }
        pollfd ready{m_fromBrowser, POLLIN, 0};
        // In slices, so that the user's Stop is seen within a fifth of a second.
        const auto left = std::min(std::chrono::ceil<std::chrono::milliseconds>(deadline - now),
                                   std::chrono::milliseconds(200));
        const int polled =
            ::poll(&ready, 1, static_cast<int>(std::min<int64_t>(left.count(), INT_MAX)));
        if (polled < 0 && errno != EINTR) {
            problem = std::string("cannot wait for the browser: ") + std::strerror(errno);
            return false;
        }
        if (polled <= 0) {
            continue;
        }
        const ssize_t got = ::read(m_fromBrowser, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            closeDescriptor(m_fromBrowser);
            continue;
        }
        if (m_received.size() + static_cast<size_t>(got) > kMaxMessage) {
            problem = "the browser sent a message larger than this program reads";
            return false;
        }
        m_received.append(chunk, static_cast<size_t>(got));
    }
    return true;
}

void ChromiumPipe::stop() {
    // A browser whose pipe closes ends by itself; one that does not, in
    // time, is ended with its helpers. The first process is reaped last, so
    // that its group cannot be another's while the group is ended.
    closeDescriptor(m_toBrowser);
    if (m_pid > 0) {
        // After the user's Stop nobody waits for a tidy exit.
        const auto deadline = std::chrono::steady_clock::now() +
                              (transfersCancelled() ? std::chrono::seconds(0) : kExitWait);
        while (!hasEnded(m_pid) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(-m_pid, SIGKILL);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        unregisterProcessGroup(m_pid);
        m_pid = -1;
    }
    closeDescriptor(m_fromBrowser);
    m_received.clear();
}

bool findChromium(std::string& program, std::string& problem) {
    const char* named = std::getenv(kChromiumVariable);
    if (named != nullptr && named[0] != 0) {
        const std::string given = named;
        program = given.find('/') == std::string::npos ? onPath(named) : given;
        if (!program.empty() && isProgram(program)) {
            return true;
        }
        problem = std::string(kChromiumVariable) + " names " + given + ", which is not a program";
        return false;
    }
    for (const char* name : kChromiumNames) {
        program = onPath(name);
        if (!program.empty()) {
            return true;
        }
    }
    problem = "--render needs Chromium, and none was found (install it with "
              "\"sudo apt install chromium\", or name the program in PAGEWING_CHROMIUM)";
    return false;
}
