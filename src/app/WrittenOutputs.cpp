#include "app/WrittenOutputs.h"

#include <sys/stat.h>

#include <filesystem>

#include "foundation/Error.h"
#include "foundation/Names.h"

namespace {

bool standsThere(const std::string& name) {
    struct stat info {};
    return ::lstat(name.c_str(), &info) == 0;
}

std::string identity(const std::string& name) {
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::weakly_canonical(std::filesystem::absolute(name, ec), ec);
    return ec ? name : full.string();
}

}  // namespace

void WrittenOutputs::check(const std::string& name) const {
    if (!name.empty() && written.count(identity(name)) != 0)
        throw Error("Error - " + baseName(name) + " was already written in this run, skipping.");
}

void WrittenOutputs::before(const std::string& name) { existedBefore = !name.empty() && standsThere(name); }

void WrittenOutputs::after(const std::string& name, bool succeeded) {
    if (!name.empty() && standsThere(name) && (succeeded || !existedBefore)) written.insert(identity(name));
}
