#include "container/PendingOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "container/ReplacedAccess.h"
#include "foundation/Diagnostics.h"
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

[[noreturn]] void throwNotRegular(const std::string& name, mode_t mode) {
    const char* kind = S_ISLNK(mode)    ? "a symbolic link"
                       : S_ISFIFO(mode) ? "a FIFO"
                       : S_ISSOCK(mode) ? "a socket"
                                        : "a device";
    throw Error("Error - " + baseName(name) + " is " + kind + ", and a report replaces only a regular file.");
}


// Gives the temporary file open as fd the access of the file at the output's
// entry, whose status is replaced; returns the warning to give once it replaces that file.
std::string giveAccessOf(int fd, const OutputFolder& place, const struct stat& replaced, const std::string& name) {
    const int path = place.openEntryPath();
    if (path < 0) throwCannotOpenOutput(name, errno);
    try {
        std::string warning = giveAccessOf(fd, path, replaced, name);
        ::close(path);
        return warning;
    } catch (const Error&) {
        ::close(path);
        throw;
    }
}

}  // namespace

std::string keptExistingNote(const std::string& name) {
    return "The existing file " + baseName(name) + " was kept unchanged.";
}

PendingOutput::PendingOutput(const std::string& name, RunFiles& files, Access access, Use use)
    : displayName(name), runFiles(files), use(use) {
    if (name.empty()) {
        kind = Kind::console;
        files.refuseStandardOutput();
        file = std::make_unique<BinaryFile>(name, false);
        return;
    }
    const bool report = use == Use::report;
    place = std::make_unique<OutputFolder>(name, !report);
    struct stat present {};
    const bool exists = place->examine(present) == 0;
    if (exists && report) files.refuseAsReport(name, identityOf(present));
    if (exists && !report) files.refuseAsOutput(name, identityOf(present));
    if (exists && S_ISDIR(present.st_mode)) throwIsDirectory(name);
    if (exists && report && !S_ISREG(present.st_mode)) throwNotRegular(name, present.st_mode);
    // Anything under the name, a dangling symlink included, refuses it.
    if (!overwriteMode && !report && place->nameExisted()) throwOutputExists(name);
    if (exists && !S_ISREG(present.st_mode)) {
        openDirect(access, S_ISFIFO(present.st_mode) || S_ISSOCK(present.st_mode));
        return;
    }
    // Renaming over a file needs only the folder's write right; replacing it must
    // need the file's own, as writing into it would.
    if (exists) {
        if (const int error = place->writeRight()) throwCannotOpenOutput(name, error);
        replaced = identityOf(present);
    }
    // A new file gets the permissions of any new file (0666 less the umask, or the
    // folder's default list); a replacement starts as the process's private file
    // until it has the access of the file it replaces.
    const int fd = place->createTemporary(exists ? 0600 : 0666, name);
    std::FILE* stream = nullptr;
    try {
        if (const std::optional<FileIdentity> opened = identityOfDescriptor(fd)) made = *opened;
        if (exists) narrowedAccess = giveAccessOf(fd, *place, present, name);
        stream = ::fdopen(fd, "wb");
        if (stream == nullptr) throwCannotOpenOutput(name, errno);
    } catch (const Error& failure) {
        ::close(fd);
        throw failure.noted(place->removeTemporary());
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
    made = identityOf(opened);
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

PendingOutput::Outcome PendingOutput::commit(bool complete) {
    if (ended) return endedAs;
    ended = true;
    switch (kind) {
        case Kind::console: endedAs = Outcome::console; file->flush(); return endedAs;
        case Kind::direct:
            endedAs = Outcome::writtenThrough;
            file->close();
            runFiles.recordOutput(made);
            return endedAs;
        case Kind::staged: break;
    }
    const bool mayReplace = use == Use::report || (complete && overwriteMode);
    if (!putInPlace(mayReplace)) {
        if (!complete) return endedAs = Outcome::existingKept;
        endedAs = Outcome::nameTaken;
        throwOutputExists(displayName);
    }
    if (mayReplace && !narrowedAccess.empty()) printWarning(narrowedAccess);
    if (const int error = place->sync()) {
        endedAs = Outcome::inPlace;
        throw Error("Error - " + baseName(displayName) + " is in place, but its folder could not be synced to disk" +
                    systemReason(error) + ".");
    }
    return endedAs = Outcome::placed;
}

// Puts the temporary file under the name; false, with the temporary file removed,
// where a file stands there that may not be replaced. Any other failure removes
// the temporary file, sets what the output ended as and throws; the stream is
// closed in every case.
bool PendingOutput::putInPlace(bool mayReplace) {
    try {
        if (mayReplace) prepareReplacement();
        // Written to the disk before it takes the name: a crash after the rename
        // must not leave an empty file where the old one was.
        file->sync();
        file->close();
    } catch (const Error&) {
        removeTemporary();
        endedAs = failedOutcome();
        throw;
    }
    if (const int error = place->takeName(mayReplace, displayName)) {
        removeTemporary();
        endedAs = failedOutcome();
        if (error == EEXIST) return false;
        throw Error("Error - cannot put the complete file in place as " + baseName(displayName) + systemReason(error) + ".");
    }
    file.reset();
    if (use == Use::output) runFiles.recordOutput(made);
    return true;
}

// What stands under the name now decides: a regular file other than the one the
// output was opened over (one that appeared, or took its place) needs the same
// right as that one did, and gives the replacement its own access.
void PendingOutput::prepareReplacement() {
    struct stat present {};
    if (place->examine(present) != 0 || !S_ISREG(present.st_mode)) {
        narrowedAccess.clear();  // nothing is replaced
        return;
    }
    if (identityOf(present) == replaced) return;
    if (const int error = place->writeRight())
        throw Error("Error - cannot put the complete file in place as " + baseName(displayName) + systemReason(error) + ".");
    narrowedAccess = giveAccessOf(::fileno(file->file), *place, present, displayName);
}

PendingOutput::Outcome PendingOutput::failedOutcome() const {
    struct stat present {};
    return place->examine(present) == 0 ? Outcome::existingKept : Outcome::nothingLeft;
}

PendingOutput::Outcome PendingOutput::abandon(bool keepPartial) {
    if (ended) return endedAs;
    ended = true;
    switch (kind) {
        case Kind::console: return endedAs = Outcome::console;
        case Kind::direct: file.reset(); return endedAs = Outcome::writtenThrough;
        case Kind::staged: break;
    }
    if (!keepPartial) {
        removeTemporary();
        return endedAs = failedOutcome();
    }
    // Kept only where nothing stands under the name: a file never gets replaced here.
    try {
        if (!putInPlace(false)) return endedAs;
    } catch (const Error&) {
        return endedAs;
    }
    place->sync();  // the partial file stands either way; its note tells it is incomplete
    return endedAs = Outcome::partialKept;
}
