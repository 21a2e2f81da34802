#include "app/FileIdentity.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

std::optional<FileIdentity> identityFrom(int status, const struct stat& info) {
    if (status != 0) return std::nullopt;
    return FileIdentity{info.st_dev, info.st_ino};
}

}  // namespace

std::optional<FileIdentity> identityOf(const std::string& name) {
    struct stat info {};
    return identityFrom(::stat(name.c_str(), &info), info);
}

std::optional<FileIdentity> standardInputIdentity() {
    struct stat info {};
    return identityFrom(::fstat(STDIN_FILENO, &info), info);
}
