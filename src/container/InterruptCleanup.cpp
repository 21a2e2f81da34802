#include "container/InterruptCleanup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace {

// The temporary file an interruption must remove, kept where a signal handler
// may read it: a descriptor, a fixed buffer and a flag.
int pendingFolder = -1;
char pendingEntry[256];
volatile std::sig_atomic_t pendingArmed = 0;

// Every catchable signal whose default action ends the process, SIGXFSZ aside.
constexpr int cleanupSignals[] = {SIGHUP, SIGINT,    SIGQUIT, SIGPIPE, SIGALRM, SIGTERM,
                                  SIGXCPU, SIGVTALRM, SIGPROF, SIGUSR1, SIGUSR2};

extern "C" void removePendingAndResignal(int signal) {
    if (pendingArmed) ::unlinkat(pendingFolder, pendingEntry, 0);
    std::signal(signal, SIG_DFL);
    std::raise(signal);  // delivered with the default action once the handler returns
}

}  // namespace

void installInterruptCleanup() {
    for (int s : cleanupSignals) {
        struct sigaction previous {};
        if (sigaction(s, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
        struct sigaction cleanup {};
        cleanup.sa_handler = removePendingAndResignal;
        sigemptyset(&cleanup.sa_mask);
        for (int other : cleanupSignals) sigaddset(&cleanup.sa_mask, other);
        sigaction(s, &cleanup, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

void armRemoval(int folder, const std::string& entry) {
    if (entry.size() >= sizeof pendingEntry) return;  // longer than any name a folder holds
    std::memcpy(pendingEntry, entry.c_str(), entry.size() + 1);
    pendingFolder = folder;
    pendingArmed = 1;
}

void disarmRemoval() { pendingArmed = 0; }

SignalHold::SignalHold() {
    sigset_t held;
    sigemptyset(&held);
    for (int s : cleanupSignals) sigaddset(&held, s);
    sigprocmask(SIG_BLOCK, &held, &saved);
}

SignalHold::~SignalHold() { sigprocmask(SIG_SETMASK, &saved, nullptr); }
