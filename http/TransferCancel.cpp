#include "http/TransferCancel.h"

#include <atomic>

namespace {

std::atomic<bool> g_cancelled{false};

} // namespace

void cancelTransfers() {
    g_cancelled.store(true);
}

void allowTransfers() {
    g_cancelled.store(false);
}

bool transfersCancelled() {
    return g_cancelled.load();
}
