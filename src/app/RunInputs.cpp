#include "app/RunInputs.h"

#include "foundation/Error.h"
#include "foundation/Names.h"

RunInputs::RunInputs(const std::vector<std::string>& names, bool readsStandardInput) {
    if (readsStandardInput) {
        if (const std::optional<FileIdentity> file = standardInputIdentity()) inputs.insert(*file);
        return;
    }
    for (const std::string& name : names)
        if (const std::optional<FileIdentity> file = identityOf(name)) inputs.insert(*file);
}

void RunInputs::refuseAsOutput(const std::string& output) const {
    if (output.empty()) return;
    const std::optional<FileIdentity> file = identityOf(output);
    if (file && inputs.count(*file) != 0)
        throw Error("Error - " + baseName(output) + " is an input of this run, skipping.");
}
