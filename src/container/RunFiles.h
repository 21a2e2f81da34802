#pragma once
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "container/FileIdentity.h"

// The files of one run that its outputs must leave alone, told apart by device
// and inode: the inputs it reads, taken before its first input is processed, and
// the outputs it has put in place. An output that leads to an input would destroy
// it (a container named like TAKE.WAV.qo counts as a WAV name, so restoring it by
// name compresses over it, and an output name may be a link to its own input);
// output names derived from inputs can coincide, as they are cut at the first
// ".wav" or ".qo" of the whole path, and a later input must not replace the
// output of an earlier one.
class RunFiles {
public:
    // A run that has no inputs among the files it writes.
    RunFiles() = default;
    // With readsStandardInput, standard input is the only input whatever the names.
    RunFiles(const std::vector<std::string>& inputNames, bool readsStandardInput);

    // Throws Error when the file under the output name shown is one of the run's
    // inputs or an output it has put in place.
    void refuseAsOutput(const std::string& shown, const FileIdentity& file) const;
    // Throws Error when standard output is a file that is one of the run's inputs.
    void refuseStandardOutput() const;
    // Throws Error when the file under the report's name shown is one an output
    // may not take, or the file open as standard output.
    void refuseAsReport(const std::string& shown, const FileIdentity& file) const;
    // Standard input is read once, by the first input that gets to it: throws Error
    // for a later input, which would find it spent, and whose format message would
    // blame a stream that was never given to it.
    void claimStandardInput(const std::string& inputName);
    // Counts a file as an output this run has put in place.
    void recordOutput(const FileIdentity& file) { written.insert(file); }

private:
    std::set<FileIdentity> inputs;
    std::set<FileIdentity> written;
    std::optional<std::string> standardInputReadFor;  // the input that read it
};
