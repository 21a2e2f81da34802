#pragma once
#include <sys/stat.h>
#include <sys/types.h>

#include <compare>
#include <optional>
#include <string>

// A file as the system tells files apart: its device and inode. Names with the
// same identity are one file, whatever links, "." or ".." lead there.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    auto operator<=>(const FileIdentity&) const = default;
};

// The identity of a file from its status.
inline FileIdentity identityOf(const struct stat& status) { return {status.st_dev, status.st_ino}; }
// The identity of the file a name leads to, symbolic links followed; none when
// nothing stands there.
std::optional<FileIdentity> identityOf(const std::string& name);
// The identity of the file open as descriptor fd; none when it cannot be told.
std::optional<FileIdentity> identityOfDescriptor(int fd);
