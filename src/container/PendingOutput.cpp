#include "container/PendingOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "foundation/Error.h"
#include "foundation/Names.h"
#include "foundation/Options.h"

namespace {

// The temporary file an interruption must remove, kept where a signal handler
// may read it: a fixed buffer and a flag.
char pendingPath[4096];
volatile std::sig_atomic_t pendingArmed = 0;

constexpr int cleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

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

// Moves from onto to unless something stands there (errno EEXIST then). File
// systems without the atomic rename take a hard link; those without hard links
// too get a check before the rename, the most they allow.
int renameWithoutReplacing(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return -1;
    if (::link(from, to) == 0) return ::unlink(from);
    if (errno != EPERM && errno != ENOSYS && errno != EOPNOTSUPP) return -1;
    struct stat present {};
    if (::lstat(to, &present) == 0) {
        errno = EEXIST;
        return -1;
    }
    return std::rename(from, to);
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
}

PendingOutput::PendingOutput(const std::string& name) : displayName(name) {
    if (name.empty()) {
        kind = Kind::console;
        file = std::make_unique<BinaryFile>(name, false);
        return;
    }
    target = followLinks(name);
    struct stat present {};
    const bool exists = ::stat(target.c_str(), &present) == 0;
    if (exists && S_ISDIR(present.st_mode)) throwIsDirectory(name);
    if (!overwriteMode) refuseExistingOutput(name);
    if (exists && !S_ISREG(present.st_mode)) {
        kind = Kind::direct;
        file = std::make_unique<BinaryFile>(name, false);
        return;
    }
    replaces = exists;

    int fd = -1;
    {
        const SignalHold hold;
        const std::string stem = target + "." + std::to_string(::getpid());
        for (int attempt = 0; fd < 0; ++attempt) {
            // A name left by a process of another PID namespace is skipped, never reused.
            tempName = stem + (attempt == 0 ? "" : "." + std::to_string(attempt)) + ".tmp";
            fd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && (errno != EEXIST || attempt == 99)) {
                const int error = errno;
                tempName.clear();
                throwCannotCreate(name, error);
            }
        }
        armRemoval(tempName);
    }
    // The replacement keeps the permissions of the file it replaces.
    if (replaces) ::fchmod(fd, present.st_mode & 07777);
    std::FILE* stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        const int error = errno;
        ::close(fd);
        removeTemporary();
        throwCannotCreate(name, error);
    }
    file = std::make_unique<BinaryFile>(stream, name);
}

PendingOutput::~PendingOutput() {
    if (!tempName.empty()) removeTemporary();
}

void PendingOutput::removeTemporary() {
    file.reset();
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
    // A full disk shows first as a failed seek, which flushes the buffer.
    if (!file->seek(static_cast<int32_t>(pos))) {
        if (std::ferror(file->file)) file->throwWriteFailed();
        throwCannotSeek();
    }
}

void PendingOutput::throwCannotSeek() const {
    throw Error("Error - cannot seek in the output file " + baseName(displayName) + ".");
}

void PendingOutput::commit() {
    if (finished) return;
    finished = true;
    switch (kind) {
        case Kind::console: file->flush(); return;
        case Kind::direct: file->close(); return;
        case Kind::staged: putInPlace(overwriteMode); return;
    }
}

void PendingOutput::putInPlace(bool mayReplace) {
    try {
        file->flush();
        // Written to the disk before it takes the name: a crash after the rename
        // must not leave an empty file where the old one was.
        if (::fsync(::fileno(file->file)) != 0) file->throwWriteFailed();
        file->close();
    } catch (const Error&) {
        removeTemporary();
        throw;
    }
    const SignalHold hold;
    if ((mayReplace ? std::rename(tempName.c_str(), target.c_str())
                    : renameWithoutReplacing(tempName.c_str(), target.c_str())) != 0) {
        const int error = errno;
        removeTemporary();
        if (error == EEXIST) throwOutputExists(displayName);
        throwCannotCreate(displayName, error);
    }
    disarmRemoval();
    tempName.clear();
}

PendingOutput::Outcome PendingOutput::abandon(bool keepPartial) {
    finished = true;
    switch (kind) {
        case Kind::console: return Outcome::console;
        case Kind::direct: file.reset(); return Outcome::writtenThrough;
        case Kind::staged: break;
    }
    if (replaces || !keepPartial || tempName.empty()) {
        if (!tempName.empty()) removeTemporary();
        return replaces ? Outcome::existingKept : Outcome::nothingLeft;
    }
    // Kept only where nothing stands under the name: a file never gets replaced here.
    try {
        putInPlace(false);
    } catch (const Error&) {
        return Outcome::nothingLeft;
    }
    return Outcome::partialKept;
}
