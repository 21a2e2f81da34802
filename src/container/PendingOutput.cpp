#include "container/PendingOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "foundation/Error.h"
#include "foundation/Names.h"
#include "foundation/Options.h"

namespace {

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

// Gives the replacement of a file that file's owner and group, or the group alone
// where the process may not give files away. False when neither could be set: the
// replacement then stays the process's own, as a new file would.
bool keepOwner(int fd, const struct stat& replaced) {
    return ::fchown(fd, replaced.st_uid, replaced.st_gid) == 0 ||
           ::fchown(fd, static_cast<uid_t>(-1), replaced.st_gid) == 0;
}

}  // namespace

std::string withNote(const std::string& message, const std::string& note) {
    return note.empty() ? message : message.empty() ? note : message + "\n" + note;
}

std::string keptExistingNote(const std::string& name) {
    return "The existing file " + baseName(name) + " was kept unchanged.";
}

PendingOutput::PendingOutput(const std::string& name, Access access) : displayName(name) {
    if (name.empty()) {
        kind = Kind::console;
        file = std::make_unique<BinaryFile>(name, false);
        return;
    }
    place = std::make_unique<OutputFolder>(name, true);
    struct stat present {};
    const bool exists = place->examine(present) == 0;
    if (exists && S_ISDIR(present.st_mode)) throwIsDirectory(name);
    // Anything under the name, a dangling symlink included, refuses it.
    if (!overwriteMode && place->nameExisted()) throwOutputExists(name);
    if (exists && !S_ISREG(present.st_mode)) {
        openDirect(access, S_ISFIFO(present.st_mode) || S_ISSOCK(present.st_mode));
        return;
    }
    replaces = exists;
    // Renaming over a file needs only the folder's write right; replacing it must
    // need the file's own, as writing into it would.
    if (replaces)
        if (const int error = place->writeRight()) throwCannotOpenOutput(name, error);
    // The system gives a new file the permissions of any new file (0666 less the umask).
    const int fd = place->createTemporary(0666, name);
    if (replaces) {
        keepOwner(fd, present);
        // The permission bits carry over, never a set-ID or sticky bit.
        ::fchmod(fd, present.st_mode & 0777);
    }
    std::FILE* stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        const int error = errno;
        ::close(fd);
        throw Error(withNote("Cannot open output file " + baseName(name) + reason(error) + ".", place->removeTemporary()));
    }
    file = std::make_unique<BinaryFile>(stream, name);
}

// A FIFO or a socket is refused without being opened, as opening a FIFO for
// writing already ends the wait of its reader. What stands there is opened as it
// is, never created or truncated.
void PendingOutput::openDirect(Access access, bool fifoOrSocket) {
    kind = Kind::direct;
    if (access == Access::seeking && fifoOrSocket) throwNeedsSeek(displayName);
    const int fd = place->openEntry();
    if (fd < 0) throwCannotOpenOutput(displayName, errno);
    struct stat opened {};
    // A regular file put there since it was examined would be written over, not replaced.
    if (::fstat(fd, &opened) != 0 || S_ISREG(opened.st_mode)) {
        ::close(fd);
        throwCannotOpenOutput(displayName, EEXIST);
    }
    std::FILE* stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        const int error = errno;
        ::close(fd);
        throwCannotOpenOutput(displayName, error);
    }
    file = std::make_unique<BinaryFile>(stream, displayName);
    if (access == Access::seeking && file->tell() < 0) throwNeedsSeek(displayName);
}

PendingOutput::~PendingOutput() { removeTemporary(); }

void PendingOutput::removeTemporary() {
    file.reset();
    if (place) leftover = withNote(leftover, place->removeTemporary());
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
    if (const int error = place->sync()) {
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
    if (const int error = place->takeName(mayReplace, displayName)) {
        removeTemporary();
        if (error == EEXIST) {
            endedAs = Outcome::nameTaken;
            throwOutputExists(displayName);
        }
        throw Error("Error - cannot put the complete file in place as " + baseName(displayName) + reason(error) + ".");
    }
    file.reset();
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
    place->sync();  // the partial file stands either way; its note tells it is incomplete
    return endedAs = Outcome::partialKept;
}
