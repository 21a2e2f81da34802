#pragma once
#include <cstdint>
#include <string>

#include "container/RunFiles.h"

// The console progress bar of both drivers: a carriage return, the label and a bar
// of 24 characters; nothing with -cout.
void showProgress(int64_t done, int64_t total, const std::string& label);

// The "-debug" report in the working directory: every check value and every stage
// timer total of the run so far. It is written as an output of the run, which
// replaces an earlier report of its name, and nothing else: never through a link,
// into a FIFO or device, or over a file of the run. Throws Error, saying that the
// report was not written, where it cannot be.
void writeDebugReport(const std::string& fileName, RunFiles& files);
