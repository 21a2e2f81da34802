#include "app/CommandLine.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "app/Arguments.h"
#include "app/RunInputs.h"
#include "app/Usage.h"
#include "app/WrittenOutputs.h"
#include "container/Drivers.h"
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

bool runFile(Direction direction, const Job& job, const Arguments& arguments) {
    if (direction == Direction::compress) {
        encodeFile(job.inName, job.outName, arguments.seekable, arguments.high);
        return true;
    }
    return decodeFile(job.inName, job.outName);
}

// Prints a failure framed by line ends on standard error, with the line that
// names its input where the message does not.
void reportFailure(const Error& error) {
    printLineEnd(stderr);
    std::fputs(aboutInput(error.message, error.subject).c_str(), stderr);
    printLineEnd(stderr);
}

// The files one run may not write: its inputs and the outputs it has written.
// Standard input is read once, by the first input that gets to it.
struct RunFiles {
    RunInputs inputs;
    WrittenOutputs written;
    std::optional<std::string> standardInputReadFor;
};

// An input of a run that reads standard input again would find it spent, and a
// message about its format would blame a stream that was never given to it.
void takeStandardInput(const Job& job, RunFiles& files) {
    if (!stdinMode) return;
    if (files.standardInputReadFor)
        throw Error("Error - standard input was already read for " + *files.standardInputReadFor +
                        "; it cannot be read again for " + job.inName + ", skipping.",
                    Error::Subject::input);
    files.standardInputReadFor = job.inName;
}

// Runs one file; an Error ends only this file. True when the file was done
// without an error and its checksum matched.
bool runGuarded(Direction direction, const Job& job, const Arguments& arguments, RunFiles& files) {
    const std::string output = direction == Direction::decompress && stdoutMode ? std::string() : job.outName;
    const InputInHand inHand(direction == Direction::compress, inputName(stdinMode ? std::string() : job.inName));
    std::optional<WrittenOutputs::Claim> claim;
    bool done = false;
    try {
        files.inputs.refuseAsOutput(output);
        claim = files.written.claim(output);
        takeStandardInput(job, files);
        done = runFile(direction, job, arguments);
    } catch (const Error& error) {
        reportFailure(error);
    }
    if (claim) files.written.record(*claim, done);
    return done;
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
    RunFiles files{RunInputs(inputNames, stdinMode), WrittenOutputs(), std::nullopt};
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
