#include "app/CommandLine.h"

#include <cctype>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Arguments.h"
#include "app/Usage.h"
#include "container/Drivers.h"
#include "container/RunFiles.h"
#include "foundation/Arith.h"
#include "foundation/Error.h"
#include "foundation/Names.h"
#include "foundation/Options.h"

namespace {

constexpr int statusDone = 0;
constexpr int statusFailed = 1;
constexpr int statusInvalid = 255;

void printQuitNumbers() {
    for (int i = 0; i < 20; ++i) {
        std::printf("%d\n", i);
        std::fflush(stdout);
    }
}

int rejectArguments() {
    std::fputs("Error - invalid command-line arguments\n\n", stdout);
    printUsage();
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

bool isSpaceAt(const std::string& text, size_t at) {
    return std::isspace(static_cast<unsigned char>(text[at])) != 0;
}

bool endsNameAt(const std::string& text, size_t at) { return at >= text.size() || isSpaceAt(text, at); }

// Whether the text names the file by itself: at the start or after white space,
// and followed by its end, white space, or a punctuation mark that ends it. A
// name inside a longer one (x.qo in xx.qo.wav) does not count.
bool namesFile(const std::string& text, const std::string& name) {
    if (name.empty()) return false;
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        const size_t end = at + name.size();
        const bool starts = at == 0 || isSpaceAt(text, at - 1);
        const bool ends = endsNameAt(text, end) ||
                          (std::string_view(".,;:!?)").find(text[end]) != std::string_view::npos &&
                           endsNameAt(text, end + 1));
        if (starts && ends) return true;
    }
    return false;
}

// Prints a failure framed by line ends on standard error. Where its message does
// not name the input it ended, a line after it does, so that a batch run without
// progress lines (-cout, several runs side by side) still tells which input failed.
void reportFailure(const Error& error, Direction direction, const Job& job) {
    const std::string input = stdinMode ? std::string() : job.inName;
    std::string text = error.message;
    if (!namesFile(text, inputName(input)) && !namesFile(text, baseName(input)))
        text += std::string(direction == Direction::compress ? "\n(while compressing " : "\n(while restoring ") +
                inputName(input) + ")";
    printLineEnd(stderr);
    std::fputs(text.c_str(), stderr);
    printLineEnd(stderr);
}

// Runs one file; an Error ends only this file. True when the file was done
// without an error and its checksum matched.
bool runGuarded(Direction direction, const Job& job, const Arguments& arguments, RunFiles& files) {
    try {
        return runFile(direction, job, arguments, files);
    } catch (const Error& error) {
        reportFailure(error, direction, job);
    }
    return false;
}

int runArguments(const std::vector<std::string>& args) {
    const Arguments arguments = sortArguments(args);
    switch (arguments.stop) {
        case Arguments::Stop::quit:
        case Arguments::Stop::crash: printQuitNumbers(); return statusDone;
        case Arguments::Stop::invalid: return rejectArguments();
        case Arguments::Stop::none: break;
    }
    applyOptionFlags(arguments);
    if (!stdoutMode) printBanner();
    const std::optional<RunPlan> plan = planRun(arguments);
    if (!plan) return rejectArguments();
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
        printUsage();
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
