#include "container/PendingOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "foundation/Error.h"
#include "foundation/Names.h"
#include "foundation/Options.h"

namespace {

// The temporary file an interruption must remove, kept where a signal handler
// may read it: a fixed buffer and a flag.
char pendingPath[4096];
volatile std::sig_atomic_t pendingArmed = 0;

// Every catchable signal whose default action ends the process, SIGXFSZ aside.
constexpr int cleanupSignals[] = {SIGHUP, SIGINT,    SIGQUIT, SIGPIPE, SIGALRM, SIGTERM,
                                  SIGXCPU, SIGVTALRM, SIGPROF, SIGUSR1, SIGUSR2};

extern "C" void removePendingAndResignal(int signal) {
    if (pendingArmed) ::unlink(pendingPath);
    std::signal(signal, SIG_DFL);
    std::raise(signal);  // delivered with the default action once the handler returns
}

// Holds the cleanup signals back while the temporary file and the flag that
// names it change together.
class SignalHold {
public:
    SignalHold() {
        sigset_t held;
        sigemptyset(&held);
        for (int s : cleanupSignals) sigaddset(&held, s);
        sigprocmask(SIG_BLOCK, &held, &saved);
    }
    ~SignalHold() { sigprocmask(SIG_SETMASK, &saved, nullptr); }
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;

private:
    sigset_t saved;
};

void armRemoval(const std::string& path) {
    if (path.size() >= sizeof pendingPath) return;  // longer than any path the system creates
    std::memcpy(pendingPath, path.c_str(), path.size() + 1);
    pendingArmed = 1;
}

void disarmRemoval() { pendingArmed = 0; }

[[noreturn]] void throwOutputExists(const std::string& name) {
    throw Error("File " + baseName(name) + " already exists, skipping (-overwrite forces overwrite).");
}

[[noreturn]] void throwIsDirectory(const std::string& name) {
    throw Error("Error - " + baseName(name) + " is a directory, not a file.");
}

[[noreturn]] void throwNeedsSeek(const std::string& name) {
    throw Error("Error - " + baseName(name) + " cannot seek, and a container needs a file it can seek in.");
}

std::string reason(int error) { return std::string(" (") + std::strerror(error) + ")"; }

// Anything under the name, a dangling symlink included, refuses it.
void refuseExistingOutput(const std::string& name) {
    std::error_code ec;
    if (std::filesystem::symlink_status(name, ec).type() != std::filesystem::file_type::not_found)
        throwOutputExists(name);
}

// The name with every symlink followed, so that a link keeps pointing at the
// file that replaces its target. A dangling link gives the missing target.
std::string followLinks(const std::string& name) {
    namespace fs = std::filesystem;
    fs::path p = name;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (fs::symlink_status(p, ec).type() != fs::file_type::symlink) break;
        const fs::path link = fs::read_symlink(p, ec);
        if (ec) break;
        p = link.is_absolute() ? link : p.parent_path() / link;
    }
    return p.string();
}

// The folder part of a path, up to and with its last slash.
std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Six letters or digits, different in every process.
std::string randomSuffix() {
    static const char symbols[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 engine(std::random_device{}());
    std::string suffix(6, ' ');
    for (char& c : suffix) c = symbols[engine() % (sizeof symbols - 1)];
    return suffix;
}

// Gives the replacement of a file that file's owner and group, or the group alone
// where the process may not give files away. False when neither could be set: the
// replacement then stays the process's own, as a new file would.
bool keepOwner(int fd, const struct stat& replaced) {
    return ::fchown(fd, replaced.st_uid, replaced.st_gid) == 0 ||
           ::fchown(fd, static_cast<uid_t>(-1), replaced.st_gid) == 0;
}

// Moves from onto to unless something stands there (errno EEXIST then). File
// systems without the atomic rename take a hard link; those without hard links
// too get a check before the rename, the most they allow.
int renameWithoutReplacing(const std::string& from, const std::string& to, const std::string& shownName) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return -1;
    if (::link(from.c_str(), to.c_str()) == 0) {
        // The output stands complete under its name; a temporary name left over
        // is only a second name of the same file.
        if (::unlink(from.c_str()) != 0)
            std::fprintf(stderr, "Warning: the temporary file %s could not be removed (%s); it is a second name of %s.\n",
                         from.c_str(), std::strerror(errno), baseName(shownName).c_str());
        return 0;
    }
    if (errno != EPERM && errno != ENOSYS && errno != EOPNOTSUPP) return -1;
    struct stat present {};
    if (::lstat(to.c_str(), &present) == 0) {
        errno = EEXIST;
        return -1;
    }
    return std::rename(from.c_str(), to.c_str());
}

}  // namespace

std::string withNote(const std::string& message, const std::string& note) {
    return note.empty() ? message : message + "\n" + note;
}

std::string keptExistingNote(const std::string& name) {
    return "The existing file " + baseName(name) + " was kept unchanged.";
}

void installInterruptCleanup() {
    for (int s : cleanupSignals) {
        struct sigaction previous {};
        if (sigaction(s, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
        struct sigaction cleanup {};
        cleanup.sa_handler = removePendingAndResignal;
        sigemptyset(&cleanup.sa_mask);
        for (int other : cleanupSignals) sigaddset(&cleanup.sa_mask, other);
        sigaction(s, &cleanup, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

PendingOutput::PendingOutput(const std::string& name, Access access) : displayName(name) {
    if (name.empty()) {
        kind = Kind::console;
        file = std::make_unique<BinaryFile>(name, false);
        return;
    }
    target = followLinks(name);
    folder = folderOf(target);
    struct stat present {};
    const bool exists = ::stat(target.c_str(), &present) == 0;
    if (exists && S_ISDIR(present.st_mode)) throwIsDirectory(name);
    if (!overwriteMode) refuseExistingOutput(name);
    if (exists && !S_ISREG(present.st_mode)) {
        openDirect(access, S_ISFIFO(present.st_mode) || S_ISSOCK(present.st_mode));
        return;
    }
    replaces = exists;
    const int fd = createTemporary();
    if (replaces) {
        keepOwner(fd, present);
        // The permission bits carry over, never a set-ID or sticky bit.
        ::fchmod(fd, present.st_mode & 0777);
    }
    std::FILE* stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        const int error = errno;
        ::close(fd);
        removeTemporary();
        throwCannotCreateTemporary(error);
    }
    file = std::make_unique<BinaryFile>(stream, name);
}

// A FIFO or a socket is refused without being opened, as opening a FIFO for
// writing already ends the wait of its reader.
void PendingOutput::openDirect(Access access, bool fifoOrSocket) {
    kind = Kind::direct;
    if (access == Access::seeking && fifoOrSocket) throwNeedsSeek(displayName);
    file = std::make_unique<BinaryFile>(displayName, false);
    if (access == Access::seeking && file->tell() < 0) throwNeedsSeek(displayName);
}

// Creates the temporary file under a short name of its own in the target's
// folder, so it fits whatever the length of the output's name. The system gives
// it the permissions of any new file (0666 less the umask).
int PendingOutput::createTemporary() {
    const SignalHold hold;
    for (int attempt = 0;; ++attempt) {
        tempName = folder + ".qo-" + randomSuffix();
        const int fd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            armRemoval(tempName);
            return fd;
        }
        if (errno != EEXIST || attempt == 99) {
            tempName.clear();
            throwCannotCreateTemporary(errno);
        }
    }
}

void PendingOutput::throwCannotCreateTemporary(int error) const {
    const std::string where = folder.empty() ? std::string("the current folder")
                              : folder == "/" ? "folder /"
                                              : "folder " + folder.substr(0, folder.size() - 1);
    throw Error("Cannot create the temporary file for " + baseName(displayName) + " in " + where + reason(error) + ".");
}

PendingOutput::~PendingOutput() { removeTemporary(); }

void PendingOutput::removeTemporary() {
    file.reset();
    if (tempName.empty()) return;
    const SignalHold hold;
    ::unlink(tempName.c_str());
    disarmRemoval();
    tempName.clear();
}

int64_t PendingOutput::tell() const {
    const int32_t pos = file->tell();
    if (pos < 0) throwCannotSeek();
    return pos;
}

void PendingOutput::seek(int64_t pos) {
    if (!file->seek(static_cast<int32_t>(pos))) {
        // A full disk shows first as a failed seek, which flushes the buffer.
        file->flush();
        throwCannotSeek();
    }
}

void PendingOutput::throwCannotSeek() const {
    throw Error("Error - cannot seek in the output file " + baseName(displayName) + ".");
}

void PendingOutput::commit() {
    if (ended) return;
    ended = true;
    switch (kind) {
        case Kind::console: endedAs = Outcome::console; file->flush(); return;
        case Kind::direct: endedAs = Outcome::writtenThrough; file->close(); return;
        case Kind::staged: break;
    }
    putInPlace(overwriteMode);
    if (const int error = syncFolder()) {
        endedAs = Outcome::inPlace;
        throw Error("Error - " + baseName(displayName) + " is in place, but its folder could not be synced to disk" +
                    reason(error) + ".");
    }
}

// Any failure removes the temporary file, sets what the output ended as and
// throws; the stream is closed in every case.
void PendingOutput::putInPlace(bool mayReplace) {
    endedAs = failedOutcome();
    try {
        // Written to the disk before it takes the name: a crash after the rename
        // must not leave an empty file where the old one was.
        file->sync();
        file->close();
    } catch (const Error&) {
        removeTemporary();
        throw;
    }
    const SignalHold hold;
    if ((mayReplace ? std::rename(tempName.c_str(), target.c_str())
                    : renameWithoutReplacing(tempName, target, displayName)) != 0) {
        const int error = errno;
        removeTemporary();
        if (error == EEXIST) {
            endedAs = Outcome::nameTaken;
            throwOutputExists(displayName);
        }
        throw Error("Error - cannot put the complete file in place as " + baseName(displayName) + reason(error) + ".");
    }
    disarmRemoval();
    tempName.clear();
    file.reset();
}

// Makes the new name itself durable: the rename lives in the folder. Returns the
// system's error, 0 when synced. A folder that cannot be opened for reading (one
// that may be written but not listed) or cannot be synced at all is left as it is.
int PendingOutput::syncFolder() const {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error == EINVAL ? 0 : error;
}

PendingOutput::Outcome PendingOutput::abandon(bool keepPartial) {
    if (ended) return endedAs;
    ended = true;
    switch (kind) {
        case Kind::console: return endedAs = Outcome::console;
        case Kind::direct: file.reset(); return endedAs = Outcome::writtenThrough;
        case Kind::staged: break;
    }
    endedAs = failedOutcome();
    if (replaces || !keepPartial) {
        removeTemporary();
        return endedAs;
    }
    // Kept only where nothing stands under the name: a file never gets replaced here.
    try {
        putInPlace(false);
    } catch (const Error&) {
        return endedAs;
    }
    syncFolder();  // the partial file stands either way; its note tells it is incomplete
    return endedAs = Outcome::partialKept;
}
