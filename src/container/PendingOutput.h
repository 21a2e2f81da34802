#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "entropy/BinaryFile.h"

// The output of one file, container or WAV. A named output is written under a
// temporary name beside it and put in place only when complete, so an output
// that fails or is interrupted never destroys the file that stood under its
// name. Without overwriteMode it never replaces a file, not even one that
// appeared while the output was being written.
//
// What stands under the name decides how it is written:
// - nothing, or a regular file (also behind symlinks, which stay): a temporary
//   file beside the regular file's place, renamed over it when complete;
// - something that is no regular file (a FIFO, a device): written through;
// - a directory: refused before any work;
// - an empty name: standard output, written through.
class PendingOutput {
public:
    // Throws Error when the output cannot be opened: it exists (without
    // overwriteMode), is a directory, or the system refuses to create it.
    explicit PendingOutput(const std::string& name);
    // Removes a temporary file that was neither put in place nor kept.
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    BinaryFile& stream() { return *file; }
    // Position in the output; throws Error when the output cannot tell or seek.
    int64_t tell() const;
    void seek(int64_t pos);
    // True when the output is a file of its own, which can be sought and patched.
    bool staged() const { return kind == Kind::staged; }

    // Puts the complete output in place: flushes, syncs and closes it (any
    // failure is an Error) and renames it to its name.
    void commit();

    // What became of an output whose file failed.
    enum class Outcome {
        console,         // standard output: what was written stays written
        writtenThrough,  // a FIFO or device: what was written stays written
        existingKept,    // the file under the name is unchanged; nothing else remains
        partialKept,     // no file stood under the name: what was written is there now
        nothingLeft,     // no file stood under the name, and none does now
    };
    // Ends a failed output. keepPartial asks to keep what was written where no
    // file stood under the name; an existing file is never replaced.
    Outcome abandon(bool keepPartial);

    const std::string& name() const { return displayName; }
    // True when a regular file stands under the name, which a commit replaces.
    bool replacesFile() const { return replaces; }

private:
    enum class Kind { console, direct, staged };
    void putInPlace(bool mayReplace);
    void removeTemporary();
    [[noreturn]] void throwCannotSeek() const;

    std::string displayName;  // the name the user gave
    std::string target;       // where the file is put: the name with symlinks followed
    std::string tempName;
    Kind kind = Kind::staged;
    bool replaces = false;    // a regular file stands at the target
    bool finished = false;
    std::unique_ptr<BinaryFile> file;
};

// A failed file's message followed, on a line of its own, by a note on what became
// of its output; the message alone when the note is empty.
std::string withNote(const std::string& message, const std::string& note);
// The note for an output whose existing file was kept.
std::string keptExistingNote(const std::string& name);

// Makes SIGINT, SIGTERM, SIGHUP and SIGPIPE remove the pending temporary file
// before the signal ends the process as it would have; signals the caller
// ignores stay ignored.
void installInterruptCleanup();
