#include "container/OutputFolder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <random>
#include <utility>

#include "container/InterruptCleanup.h"
#include "foundation/Diagnostics.h"
#include "foundation/Error.h"
#include "foundation/Names.h"

namespace {

// Links followed from one name before it counts as a loop, as the kernel counts.
constexpr int kMaxLinks = 40;


// The folder part of a path, up to and with its last slash.
std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The part after the last slash; a path that ends in a slash names its folder.
std::string entryOf(const std::string& path) {
    const std::string entry = path.substr(path.rfind('/') + 1);
    return entry.empty() ? "." : entry;
}

// Six letters or digits, different in every process.
std::string randomSuffix() {
    static const char symbols[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 engine(std::random_device{}());
    std::string suffix(6, ' ');
    for (char& c : suffix) c = symbols[engine() % (sizeof symbols - 1)];
    return suffix;
}

[[noreturn]] void throwCannotCreateTemporary(const std::string& output, const std::string& folder, int error) {
    const std::string where = folder.empty() ? std::string("the current folder")
                              : folder == "/" ? "folder /"
                                              : "folder " + folder.substr(0, folder.size() - 1);
    throw Error("Cannot create the temporary file for " + baseName(output) + " in " + where + systemReason(error) + ".");
}

}  // namespace

void throwCannotOpenOutput(const std::string& name, int error) {
    throw Error("Cannot open output file " + baseName(name) + systemReason(error) + ".");
}

OutputFolder::OutputFolder(const std::string& name, bool followLinks)
    : folderName(folderOf(name)), entry(entryOf(name)) {
    int links = 0;
    openFolder(AT_FDCWD, folderName, name, links);
    for (bool first = true;; first = false) {
        struct stat status {};
        const int error = examine(status);
        if (error == ENOENT) return;
        if (error != 0) throwCannotOpenOutput(name, error);
        if (first) existed = true;
        if (!followLinks || !S_ISLNK(status.st_mode)) return;
        std::string target;
        if (const int refused = linkTarget(dir.fd, entry, status, links, target)) throwCannotOpenOutput(name, refused);
        // A relative target is relative to the link's folder.
        const std::string targetFolder = folderOf(target);
        folderName = target.front() == '/' ? targetFolder : folderName + targetFolder;
        entry = entryOf(target);
        openFolder(dir.fd, targetFolder, name, links);
    }
}

OutputFolder::Descriptor::~Descriptor() {
    if (fd >= 0) ::close(fd);
}

void OutputFolder::Descriptor::reset(int opened) {
    if (fd >= 0) ::close(fd);
    fd = opened;
}

OutputFolder::~OutputFolder() { removeTemporary(); }

// Opens the folder at path, relative to base, as walk finds it, in place of the
// folder held so far. A folder that may not be read (one that may be written but
// not listed) is held without reading rights.
void OutputFolder::openFolder(int base, const std::string& path, const std::string& output, int& links) {
    Descriptor found;
    if (const int error = walk(base, path, found, links)) throwCannotCreateTemporary(output, folderName, error);
    // "." of the folder found is that folder, whatever its path leads to by now.
    const int readable = ::openat(found.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    syncable = readable >= 0;
    if (readable < 0 && errno != EACCES) throwCannotCreateTemporary(output, folderName, errno);
    dir.reset(syncable ? readable : std::exchange(found.fd, -1));
}

// Opens the folder at path, relative to base, as a path only, one component at
// a time and none of them followed by the kernel: a symbolic link among them is
// followed only where linkTarget allows it, whatever the kernel's own setting
// for links is. Each component is opened with O_NOFOLLOW, so a link put in its
// place at any moment is met as a link and checked, never followed unchecked.
// ".." is the parent of the folder reached so far, as the kernel takes it.
// Returns 0, or the system's error.
int OutputFolder::walk(int base, const std::string& path, Descriptor& folder, int& links) {
    // The kernel refuses such a path whole.
    if (path.size() >= PATH_MAX) return ENAMETOOLONG;
    std::string rest = path;
    folder.reset(::openat(base, !rest.empty() && rest.front() == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    while (folder.fd >= 0) {
        const size_t begin = rest.find_first_not_of('/');
        if (begin == std::string::npos) break;
        const size_t end = rest.find('/', begin);
        const std::string component = rest.substr(begin, end - begin);
        rest = end == std::string::npos ? std::string() : rest.substr(end);
        if (component == ".") continue;
        const int opened = ::openat(folder.fd, component.c_str(), O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC);
        if (opened >= 0) {
            folder.reset(opened);
            continue;
        }
        if (errno != ENOTDIR) return errno;
        struct stat status {};
        if (::fstatat(folder.fd, component.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return errno;
        if (!S_ISLNK(status.st_mode)) return ENOTDIR;
        std::string target;
        if (const int error = linkTarget(folder.fd, component, status, links, target)) return error;
        // An absolute target starts again at the root.
        if (target.front() == '/') folder.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        rest = target + "/" + rest;
    }
    return folder.fd >= 0 ? 0 : errno;
}

// The target of the symbolic link name in folder, whose status is link, where
// it may be followed as the links-th link of the output's name: 0, or the
// system's error (ELOOP past the kernel's count, EACCES where mayFollow refuses).
int OutputFolder::linkTarget(int folder, const std::string& name, const struct stat& link, int& links,
                             std::string& target) {
    if (++links > kMaxLinks) return ELOOP;
    if (!mayFollow(folder, link)) return EACCES;
    // Where the rule can refuse a link, the folder is sticky: until it is read,
    // the link that passed can be replaced only by its owner, the folder's owner
    // or root.
    char read[PATH_MAX];
    const ssize_t length = ::readlinkat(folder, name.c_str(), read, sizeof read);
    if (length < 0) return errno;
    if (length == 0 || static_cast<size_t>(length) == sizeof read) return ENAMETOOLONG;
    target.assign(read, static_cast<size_t>(length));
    return 0;
}

// The kernel's rule for links in shared folders (fs.protected_symlinks), applied
// whatever that setting is, as the links are followed here and not by the kernel:
// in a sticky folder that others may write, a link is followed only when it
// belongs to the process's user or to the folder's owner. Without it, anyone could
// plant a link in /tmp that makes a run replace a file of the user it runs as.
bool OutputFolder::mayFollow(int folder, const struct stat& link) {
    struct stat shared {};
    if (::fstat(folder, &shared) != 0) return false;
    if ((shared.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH)) return true;
    return link.st_uid == ::geteuid() || link.st_uid == shared.st_uid;
}

int OutputFolder::examine(struct stat& status) const {
    return ::fstatat(dir.fd, entry.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

int OutputFolder::writeRight() const {
    return ::faccessat(dir.fd, entry.c_str(), W_OK, AT_EACCESS) == 0 ? 0 : errno;
}

int OutputFolder::openEntryPath() const {
    return ::openat(dir.fd, entry.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
}

int OutputFolder::openEntry() const {
    return ::openat(dir.fd, entry.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
}

int OutputFolder::createTemporary(mode_t mode, const std::string& output) {
    const SignalHold hold;
    for (int attempt = 0;; ++attempt) {
        temporary = ".qo-" + randomSuffix();
        const int file = ::openat(dir.fd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (file >= 0) {
            armRemoval(dir.fd, temporary);
            return file;
        }
        if (errno != EEXIST || attempt == 99) {
            const int error = errno;
            temporary.clear();
            throwCannotCreateTemporary(output, folderName, error);
        }
    }
}

// Without replace: renameat2 refuses a name that is taken. File systems without
// it take a hard link; those without hard links too get a check before the
// rename, the most they allow.
int OutputFolder::takeName(bool replace, const std::string& output) {
    const SignalHold hold;
    const char* from = temporary.c_str();
    const char* to = entry.c_str();
    int result = replace ? ::renameat(dir.fd, from, dir.fd, to) : ::renameat2(dir.fd, from, dir.fd, to, RENAME_NOREPLACE);
    if (result != 0 && !replace && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
        result = ::linkat(dir.fd, from, dir.fd, to, 0);
        if (result == 0) {
            // The output stands complete under its name; a temporary name left over
            // is only a second name of the same file.
            if (::unlinkat(dir.fd, from, 0) != 0)
                printWarning("Warning: the temporary file " + folderName + temporary + " could not be removed" +
                             systemReason(errno) + "; it is a second name of " + baseName(output) + ".");
        } else if (errno == EPERM || errno == ENOSYS || errno == EOPNOTSUPP) {
            struct stat present {};
            if (examine(present) != ENOENT) {
                errno = EEXIST;
            } else {
                result = ::renameat(dir.fd, from, dir.fd, to);
            }
        }
    }
    if (result != 0) return errno;
    disarmRemoval();
    temporary.clear();
    return 0;
}

std::string OutputFolder::removeTemporary() {
    if (temporary.empty()) return "";
    const SignalHold hold;
    const int error = ::unlinkat(dir.fd, temporary.c_str(), 0) == 0 ? 0 : errno;
    disarmRemoval();
    const std::string left = folderName + temporary;
    temporary.clear();
    if (error == 0 || error == ENOENT) return "";
    return "The temporary file " + left + " could not be removed" + systemReason(error) + ".";
}

int OutputFolder::sync() const {
    if (!syncable) return 0;
    const int error = ::fsync(dir.fd) == 0 ? 0 : errno;
    return error == EINVAL ? 0 : error;
}
