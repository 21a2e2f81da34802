#pragma once
#include <cstdint>
#include <map>
#include <string>

// Named check values for the "-debug" report; they accumulate over the whole run.
extern std::map<std::string, double> debugValues;

// Processor-time stage timers in microseconds. Totals are 64-bit so that long runs
// do not wrap; they accumulate over every file of the run.
extern std::map<std::string, int64_t> timerTotals;
extern std::map<std::string, int64_t> timerStarts;

void startTimer(const std::string& name);
void stopTimer(const std::string& name);

// Prints a failed-assertion text when debugMode is on; never changes a result.
void debugAssert(bool condition, const std::string& text);
