#include "app/CommandLine.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "app/Arguments.h"
#include "app/Usage.h"
#include "container/Drivers.h"
#include "container/RunFiles.h"
#include "foundation/Arith.h"
#include "foundation/Diagnostics.h"
#include "foundation/Error.h"
#include "foundation/Names.h"
#include "foundation/Options.h"

namespace {

constexpr int statusDone = 0;
constexpr int statusFailed = 1;
constexpr int statusInvalid = 255;

void printQuitNumbers(std::FILE* console) {
    for (int i = 0; i < 20; ++i) {
        std::fprintf(console, "%d\n", i);
        std::fflush(console);
    }
}

int rejectArguments(std::FILE* console) {
    std::fputs("Error - invalid command-line arguments\n\n", console);
    printUsage(console);
    return statusInvalid;
}

void printLineEnd(std::FILE* stream) {
    std::fputs("\n", stream);
    std::fflush(stream);
}

bool runFile(Direction direction, const Job& job, const Arguments& arguments, RunFiles& files) {
    if (direction == Direction::compress) {
        encodeFile(job.inName, job.outName, arguments.seekable, arguments.high, files);
        return true;
    }
    return decodeFile(job.inName, job.outName, files);
}

// Prints a failure framed by line ends on standard error, with the line that
// names its input where the message does not.
void reportFailure(const Error& error) {
    printLineEnd(stderr);
    std::fputs(aboutInput(error.message, error.subject).c_str(), stderr);
    printLineEnd(stderr);
}

// Runs one file; an Error ends only this file. True when the file was done
// without an error and its checksum matched.
bool runGuarded(Direction direction, const Job& job, const Arguments& arguments, RunFiles& files) {
    const InputInHand inHand(direction == Direction::compress, inputName(stdinMode ? std::string() : job.inName));
    try {
        if (stdinMode) files.claimStandardInput(job.inName);
        return runFile(direction, job, arguments, files);
    } catch (const Error& error) {
        reportFailure(error);
    }
    return false;
}

int runArguments(const std::vector<std::string>& args) {
    // With -cout standard output carries the restored WAV, so every console text goes
    // to standard error, also when the arguments are refused before -cout is reached.
    std::FILE* console = asksForStandardOutput(args) ? stderr : stdout;
    const Arguments arguments = sortArguments(args);
    switch (arguments.stop) {
        case Arguments::Stop::quit:
        case Arguments::Stop::crash: printQuitNumbers(console); return statusDone;
        case Arguments::Stop::invalid: return rejectArguments(console);
        case Arguments::Stop::none: break;
    }
    applyOptionFlags(arguments);
    if (!stdoutMode) printBanner(stdout);
    const std::optional<RunPlan> plan = planRun(arguments);
    if (!plan) return rejectArguments(console);
    std::vector<std::string> inputNames;
    for (const Job& job : plan->jobs) inputNames.push_back(job.inName);
    RunFiles files(inputNames, stdinMode);
    bool allDone = true;
    for (const Job& job : plan->jobs) allDone = runGuarded(plan->direction, job, arguments, files) && allDone;
    return allDone ? statusDone : statusFailed;
}

}  // namespace

int runCommandLine(int argc, char** argv) {
    initPow2Table();
    if (argc <= 1) {
        printUsage(stdout);
        return statusDone;
    }
    try {
        return runArguments(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& failure) {
        // Anything but an Error (exhausted memory, a failed bounds check) stops the whole run.
        std::fprintf(stderr, "\nError - run stopped by an unexpected failure: %s\n", failure.what());
        return statusFailed;
    }
}
