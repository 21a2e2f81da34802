#include "app/Arguments.h"

#include <algorithm>

#include "foundation/Options.h"

namespace {

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// Applies an exact option; false when the argument is no option.
bool applyOption(const std::string& arg, Arguments& a) {
    if (arg == "-quit") a.stop = Arguments::Stop::quit;
    else if (arg == "-crash") a.stop = Arguments::Stop::crash;
    else if (arg == "-noseek") a.seekable = false;
    else if (arg == "-overwrite") a.overwriteMode = true;
    else if (arg == "-high") a.high = true;
    else if (arg == "-cin") a.stdinMode = true;
    else if (arg == "-cout") a.stdoutMode = true;
    else if (arg == "-cinout") a.stdinMode = a.stdoutMode = true;
    else if (arg == "-nohead") a.headerMode = false;
    else if (arg == "-debug") a.debugMode = true;
    else return false;
    return true;
}

std::string replaceExtension(const std::string& name, const char* from, const char* to) {
    const size_t at = name.find(from);
    return (at == std::string::npos ? name : name.substr(0, at)) + to;
}

std::optional<RunPlan> planFiles(Direction direction, const std::vector<std::string>& inputs,
                                 const std::vector<std::string>& outputs) {
    if (outputs.size() > 1 || (inputs.size() > 1 && !outputs.empty())) return std::nullopt;
    RunPlan plan{direction, {}};
    for (const std::string& in : inputs)
        plan.jobs.push_back({in, outputs.empty() ? derivedOutputName(in, direction) : outputs.front()});
    return plan;
}

}  // namespace

Arguments sortArguments(const std::vector<std::string>& args) {
    Arguments a;
    for (const std::string& arg : args) {
        if (contains(arg, ".wav") || contains(arg, ".WAV")) {
            a.wavNames.push_back(arg);
            if (a.direction == Direction::none) a.direction = Direction::compress;
        } else if (contains(arg, ".qo") || contains(arg, ".QO")) {
            a.containerNames.push_back(arg);
            if (a.direction == Direction::none) a.direction = Direction::decompress;
        } else if (!applyOption(arg, a)) {
            a.stop = Arguments::Stop::invalid;
        }
        if (a.stop != Arguments::Stop::none) break;
    }
    return a;
}

bool asksForStandardOutput(const std::vector<std::string>& args) {
    return std::any_of(args.begin(), args.end(), [](const std::string& arg) { return arg == "-cout" || arg == "-cinout"; });
}

void applyOptionFlags(const Arguments& a) {
    stdinMode = a.stdinMode;
    stdoutMode = a.stdoutMode;
    debugMode = a.debugMode;
    overwriteMode = a.overwriteMode;
    headerMode = a.headerMode;
}

std::string derivedOutputName(const std::string& inName, Direction direction) {
    return direction == Direction::compress ? replaceExtension(inName, ".wav", ".qo")
                                            : replaceExtension(inName, ".qo", ".wav");
}

std::optional<RunPlan> planRun(const Arguments& a) {
    switch (a.direction) {
        case Direction::compress: return planFiles(a.direction, a.wavNames, a.containerNames);
        case Direction::decompress: return planFiles(a.direction, a.containerNames, a.wavNames);
        case Direction::none: break;
    }
    RunPlan plan{Direction::none, {}};
    if (a.stdinMode && a.stdoutMode) plan = {Direction::decompress, {Job{"", ""}}};
    return plan;
}
