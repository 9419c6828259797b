#include "app/InterruptCleanup.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

struct Registry {
    std::mutex lock;
    std::vector<std::string> folders;
    std::vector<pid_t> groups;
};

Registry& registry() {
    static Registry* const instance = new Registry; // outlives every static destructor
    return *instance;
}

int g_wakeWrite = -1;

void onSignal(int signal) {
    const unsigned char number = static_cast<unsigned char>(signal);
    if (g_wakeWrite >= 0) {
        [[maybe_unused]] const ssize_t ignored = ::write(g_wakeWrite, &number, 1);
    }
}

// The lock stays held until the signal has ended the program: killing the
// browser makes the main thread fail its conversion at once, and without
// the lock it could exit with that failure's status before the signal's.
void cleanUpAndEnd(int signal) {
    Registry& state = registry();
    state.lock.lock();
    for (const pid_t group : state.groups) {
        ::kill(-group, SIGKILL);
    }
    for (const std::string& folder : state.folders) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::signal(signal, SIG_DFL);
    ::raise(signal);
    ::_exit(128 + signal);
}

// Run at exit: waits while a signal's cleanup is under way, so that the
// program ends as the signal would have.
void waitForCleanup() {
    const std::lock_guard<std::mutex> guard(registry().lock);
}

void watch(int wakeRead) {
    unsigned char number = 0;
    while (true) {
        const ssize_t got = ::read(wakeRead, &number, 1);
        if (got == 1) {
            cleanUpAndEnd(number);
        }
        if (got == 0) {
            return;
        }
    }
}

template <typename T> void removeOne(std::vector<T>& items, const T& item) {
    const auto found = std::find(items.begin(), items.end(), item);
    if (found != items.end()) {
        items.erase(found);
    }
}

} // namespace

void installInterruptCleanup() {
    int wake[2];
    if (g_wakeWrite >= 0 || ::pipe2(wake, O_CLOEXEC) != 0) {
        return;
    }
    g_wakeWrite = wake[1];
    std::thread(watch, wake[0]).detach();
    std::atexit(waitForCleanup);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) {
        struct sigaction before {};
        // A signal the caller's parent chose to ignore stays ignored.
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            ::sigaction(signal, &action, nullptr);
        }
    }
}

void registerTempFolder(const std::string& path) {
    Registry& state = registry();
    const std::lock_guard<std::mutex> guard(state.lock);
    state.folders.push_back(path);
}

void unregisterTempFolder(const std::string& path) {
    Registry& state = registry();
    const std::lock_guard<std::mutex> guard(state.lock);
    removeOne(state.folders, path);
}

void registerProcessGroup(pid_t group) {
    Registry& state = registry();
    const std::lock_guard<std::mutex> guard(state.lock);
    state.groups.push_back(group);
}

void unregisterProcessGroup(pid_t group) {
    Registry& state = registry();
    const std::lock_guard<std::mutex> guard(state.lock);
    removeOne(state.groups, group);
}
