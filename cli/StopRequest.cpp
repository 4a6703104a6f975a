#include "cli/StopRequest.h"

#include <atomic>
#include <csignal>

#include "comm/KConsole.h"

namespace {

// Written by the signal handler: a lock-free atomic is all it may touch.
std::atomic<int> requested{0};
static_assert(std::atomic<int>::is_always_lock_free);

void Note(int signal) { requested.store(signal); }

} // namespace

namespace StopRequest {

void Catch() {
    requested.store(0);
    KConsole::OnInterrupt(Note);
}

bool Requested() { return requested.load() != 0; }

bool Terminated() { return requested.load() == SIGTERM; }

int ExitCode() {
    const int signal = requested.load();
    return signal == 0 ? 0 : 128 + signal;
}

const char* Word() { return Terminated() ? "terminated" : "interrupted"; }

} // namespace StopRequest
