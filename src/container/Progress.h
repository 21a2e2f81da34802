#pragma once
#include <cstdint>
#include <string>

// The console progress bar of both drivers: a carriage return, the label and a bar
// of 24 characters; nothing with -cout.
void showProgress(int64_t done, int64_t total, const std::string& label);

// The "-debug" report in the working directory: every check value and every stage
// timer total of the run so far. A file that cannot be opened is skipped silently.
void writeDebugReport(const std::string& fileName);
