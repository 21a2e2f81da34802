#pragma once
#include <set>
#include <string>
#include <vector>

#include "app/FileIdentity.h"

// The files one run reads, taken before its first input is processed. An output
// that leads to one of them would destroy an input: a container named like
// TAKE.WAV.qo counts as a WAV name, so restoring it by name compresses over it,
// and an output name may be a link to its own input.
class RunInputs {
public:
    // With readsStandardInput, standard input is the only input whatever the names.
    RunInputs(const std::vector<std::string>& names, bool readsStandardInput);

    // Throws Error when the named output is the same file as one of the inputs.
    void refuseAsOutput(const std::string& output) const;

private:
    std::set<FileIdentity> inputs;
};
