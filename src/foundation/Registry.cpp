#include "foundation/Registry.h"

#include <cstdio>
#include <ctime>

#include "foundation/Options.h"

std::map<std::string, double> debugValues;
std::map<std::string, int64_t> timerTotals;
std::map<std::string, int64_t> timerStarts;

namespace {
int64_t processMicroseconds() {
    return static_cast<int64_t>(std::clock()) * 1000000 / CLOCKS_PER_SEC;
}
}  // namespace

void startTimer(const std::string& name) {
    timerStarts[name] = processMicroseconds();
}

void stopTimer(const std::string& name) {
    const int64_t now = processMicroseconds();
    timerTotals[name] += now - timerStarts[name];
}

void debugAssert(bool condition, const std::string& text) {
    if (condition || !debugMode) return;
    // With -cout the decoded WAV goes to standard output; keep the text out of it.
    std::FILE* out = stdoutMode ? stderr : stdout;
    std::fprintf(out, "\nAssert Failed! - %s\n", text.c_str());
    std::fflush(out);
}
