#include "app/WrittenOutputs.h"

#include <sys/stat.h>

#include "foundation/Error.h"
#include "foundation/Names.h"

namespace {

// Anything under the name, a dangling symbolic link included.
bool standsThere(const std::string& name) {
    struct stat info {};
    return ::lstat(name.c_str(), &info) == 0;
}

}  // namespace

WrittenOutputs::Claim WrittenOutputs::claim(const std::string& name) const {
    if (name.empty()) return {};
    const std::optional<FileIdentity> file = identityOf(name);
    if (file && written.count(*file) != 0)
        throw Error("Error - " + baseName(name) + " was already written in this run, skipping.");
    return {name, standsThere(name)};
}

void WrittenOutputs::record(const Claim& claim, bool succeeded) {
    if (claim.name.empty() || (!succeeded && claim.existedBefore)) return;
    if (const std::optional<FileIdentity> file = identityOf(claim.name)) written.insert(*file);
}
