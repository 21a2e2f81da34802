#pragma once
#include <csignal>
#include <string>

// Removal of the pending temporary file when a signal ends the process.

// Makes every catchable signal whose default action ends the process (HUP, INT,
// QUIT, ILL, TRAP, ABRT, BUS, FPE, SEGV, USR1, USR2, PIPE, ALRM, TERM, STKFLT,
// XCPU, VTALRM, PROF, IO, PWR, SYS and the real-time signals) remove the pending
// temporary file before the signal ends the process as it would have, so a crash
// leaves none either; signals the caller ignores stay ignored. SIGXFSZ is
// ignored, so a write past the file-size limit fails like any write instead of
// ending the run.
void installInterruptCleanup();

// Names the temporary file a signal removes: entry, in the folder open as folder,
// which stays open until disarmRemoval. Call both under a SignalHold, together
// with the creation or removal of that file.
void armRemoval(int folder, const std::string& entry);
void disarmRemoval();

// Holds the cleanup signals back while the temporary file and the record that
// names it change together.
class SignalHold {
public:
    SignalHold();
    ~SignalHold();
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;

private:
    sigset_t saved;
};
