#include "container/RunFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include "foundation/Error.h"
#include "foundation/Names.h"

RunFiles::RunFiles(const std::vector<std::string>& inputNames, bool readsStandardInput) {
    if (readsStandardInput) {
        if (const std::optional<FileIdentity> file = identityOfDescriptor(STDIN_FILENO)) inputs.insert(*file);
        return;
    }
    for (const std::string& name : inputNames)
        if (const std::optional<FileIdentity> file = identityOf(name)) inputs.insert(*file);
}

void RunFiles::refuseAsOutput(const std::string& shown, const FileIdentity& file) const {
    if (inputs.count(file) != 0) throw Error("Error - " + baseName(shown) + " is an input of this run, skipping.");
    if (written.count(file) != 0)
        throw Error("Error - " + baseName(shown) + " was already written in this run, skipping.");
}

void RunFiles::refuseAsReport(const std::string& shown, const FileIdentity& file) const {
    refuseAsOutput(shown, file);
    if (identityOfDescriptor(STDOUT_FILENO) == file)
        throw Error("Error - " + baseName(shown) + " is the standard output of this run, skipping.");
}

// Only a regular file counts: what is written to a pipe or a terminal cannot
// reach the bytes of an input.
void RunFiles::refuseStandardOutput() const {
    struct stat status {};
    if (::fstat(STDOUT_FILENO, &status) != 0 || !S_ISREG(status.st_mode)) return;
    if (inputs.count(identityOf(status)) != 0)
        throw Error("Error - standard output is an input of this run, skipping.");
}

void RunFiles::claimStandardInput(const std::string& inputName) {
    if (standardInputReadFor)
        throw Error("Error - standard input was already read for " + *standardInputReadFor +
                        "; it cannot be read again for " + inputName + ", skipping.",
                    Error::Subject::input);
    standardInputReadFor = inputName;
}
