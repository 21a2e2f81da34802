#pragma once
#include <optional>
#include <string>
#include <vector>

// Sorting of the command-line arguments into file names and options, and the
// plan of files to process that follows from them.

enum class Direction { none, decompress, compress };

struct Arguments {
    // Why sorting stopped before the last argument, if it did.
    enum class Stop { none, quit, crash, invalid };
    Stop stop = Stop::none;
    Direction direction = Direction::none;  // set by the first file name
    bool seekable = true;
    bool high = false;
    // The option flags the arguments ask for; applyOptionFlags puts them into effect.
    bool stdinMode = false;
    bool stdoutMode = false;
    bool debugMode = false;
    bool overwriteMode = false;
    bool headerMode = true;
    std::vector<std::string> wavNames;        // command-line order
    std::vector<std::string> containerNames;  // command-line order
};

// Sorts the arguments (without the command name) from left to right. A name
// containing ".wav"/".WAV" is a WAV name, else one containing ".qo"/".QO" a
// container name, else it must equal an option. Stops at "-quit", "-crash" or
// the first argument that is none of these.
Arguments sortArguments(const std::vector<std::string>& args);

// True when any argument is "-cout" or "-cinout", also one after an argument that
// ends the sorting: standard output is then the restored WAV's, not the console's.
bool asksForStandardOutput(const std::vector<std::string>& args);

// Sets the program-wide option flags from the sorted arguments.
void applyOptionFlags(const Arguments& arguments);

// The output name derived from an input name when none was given: cut at the
// first lower-case ".wav" (".qo") and give the other extension; a name with
// only the upper-case form keeps all its characters and gets it appended.
std::string derivedOutputName(const std::string& inName, Direction direction);

struct Job {
    std::string inName;   // empty: standard input
    std::string outName;  // empty: standard output
};

struct RunPlan {
    Direction direction = Direction::none;
    std::vector<Job> jobs;
};

// The files to process, in order. Empty when the names break the count rules:
// more than one name of the output kind, or an output name beside several inputs.
// With no file name, "-cin" and "-cout" together decode standard input to
// standard output once.
std::optional<RunPlan> planRun(const Arguments& arguments);
