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

// Every catchable signal whose default action ends the process, SIGXFSZ aside:
// the faults (a crash, abort()) and the real-time signals as well.
const sigset_t& cleanupSignals() {
    static const sigset_t set = [] {
        sigset_t signals;
        sigemptyset(&signals);
        for (int s : {SIGHUP, SIGINT, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGUSR1, SIGUSR2,
                      SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSYS})
            sigaddset(&signals, s);
#ifdef SIGSTKFLT
        sigaddset(&signals, SIGSTKFLT);
#endif
        for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) sigaddset(&signals, s);
        return signals;
    }();
    return set;
}

// A fault raised by an instruction is raised again by it once the handler
// returns; every other signal by raise. Either way it then has its default action.
extern "C" void removePendingAndResignal(int signal) {
    if (pendingArmed) ::unlinkat(pendingFolder, pendingEntry, 0);
    std::signal(signal, SIG_DFL);
    std::raise(signal);  // delivered with the default action once the handler returns
}

}  // namespace

void installInterruptCleanup() {
    for (int s = 1; s <= SIGRTMAX; ++s) {
        if (sigismember(&cleanupSignals(), s) != 1) continue;
        struct sigaction previous {};
        if (sigaction(s, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
        struct sigaction cleanup {};
        cleanup.sa_handler = removePendingAndResignal;
        cleanup.sa_mask = cleanupSignals();
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

SignalHold::SignalHold() { sigprocmask(SIG_BLOCK, &cleanupSignals(), &saved); }

SignalHold::~SignalHold() { sigprocmask(SIG_SETMASK, &saved, nullptr); }
