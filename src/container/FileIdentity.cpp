#include "container/FileIdentity.h"

#include <sys/stat.h>

std::optional<FileIdentity> identityOf(const std::string& name) {
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) return std::nullopt;
    return identityOf(info);
}

std::optional<FileIdentity> identityOfDescriptor(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return std::nullopt;
    return identityOf(info);
}
