#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "container/FileIdentity.h"
#include "container/OutputFolder.h"
#include "container/RunFiles.h"
#include "entropy/BinaryFile.h"

// The output of one file, container or WAV, and the one owner of its stream:
// only this class ends the stream, when the output is committed or abandoned.
// It is also the one place that decides what may happen to a file under the
// output's name. A named output is written under a short temporary name in the
// same folder and put in place only when complete, so an output that fails or is
// interrupted never destroys the file that stood under its name. Whether it may
// replace a file is decided when it is put in place, from what stands there then:
// only a complete output with overwriteMode does, and never a file that the
// process may not write; otherwise a file there, also one that appeared while the
// output was written, is kept.
//
// What stands under the name decides how it is written:
// - nothing, or a regular file (also behind symlinks, which stay): a temporary
//   file beside the regular file's place, renamed over it when complete;
// - something that is no regular file (a FIFO, a device): written through;
// - a directory: refused before any work;
// - an empty name: standard output, written through.
// The -debug report (Use::report) replaces an earlier report of its name whatever
// overwriteMode says, but nothing else: a link, FIFO or device under its name is
// refused, never followed or written through.
// Every step goes through one descriptor of the output's folder (OutputFolder).
class PendingOutput {
public:
    // What the writer does with the output: a container patches its header, so
    // it needs an output that can seek.
    enum class Access { inOrder, seeking };
    // Whose output it is: a file the run makes from an input, or the -debug report.
    enum class Use { output, report };

    // Throws Error when the output cannot be opened: it is one of the run's files
    // (an input, standard input or output among them, or an output written
    // already), exists (without overwriteMode), is a directory, cannot seek where
    // seeking is needed, or the system refuses to create it. What the output puts
    // in place is recorded in files.
    PendingOutput(const std::string& name, RunFiles& files, Access access = Access::inOrder, Use use = Use::output);
    // Removes a temporary file that was neither put in place nor kept.
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // The stream, while the output is pending.
    BinaryFile& stream() { return *file; }
    // True until the output is committed or abandoned, also by a commit that failed.
    bool pending() const { return !ended; }
    // Position in the output; throws Error when the output cannot tell or seek.
    int64_t tell() const;
    void seek(int64_t pos);
    // True when the output is a file of its own, which can be sought and patched.
    bool staged() const { return kind == Kind::staged; }

    // What became of an output once it has ended.
    enum class Outcome {
        placed,          // the output stands under its name, its folder synced
        console,         // standard output: what was written stays written
        writtenThrough,  // a FIFO or device: what was written stays written
        existingKept,    // the file under the name is unchanged; nothing else remains
        partialKept,     // no file stood under the name: what was written is there now
        nothingLeft,     // no file stands under the name
        nameTaken,       // a complete output found its name taken and kept that file; nothing else remains
        inPlace,         // the output is in place, but its folder could not be synced
    };

    // Puts the output in place: flushes, syncs and closes it, renames it to its
    // name and syncs its folder. A complete output that finds a file under its
    // name replaces it with overwriteMode, and fails as nameTaken without it. One
    // that is not complete (a restore whose samples failed their checksum) only
    // takes a free name: it returns existingKept where a file stands there. Any
    // failure is an Error, after which the output has ended as abandon() then reports.
    Outcome commit(bool complete = true);
    // Ends a failed output. keepPartial asks to keep what was written where no
    // file stands under the name; a file is never replaced here. An output that
    // has already ended (a commit that failed) stays as it is.
    Outcome abandon(bool keepPartial);

    const std::string& name() const { return displayName; }
    // A note naming a temporary file that could not be removed; empty when none was left.
    const std::string& leftoverNote() const { return leftover; }

private:
    enum class Kind { console, direct, staged };
    void openDirect(Access access, bool fifoOrSocket);
    bool putInPlace(bool mayReplace);
    void prepareReplacement();
    void removeTemporary();
    Outcome failedOutcome() const;
    [[noreturn]] void throwCannotSeek() const;

    std::string displayName;  // the name the user gave
    RunFiles& runFiles;
    Use use;
    FileIdentity made;        // the file this output writes, once opened
    std::unique_ptr<OutputFolder> place;  // where a named output is put; none for standard output
    std::string leftover;
    // The warning to give when the replacement takes the name: the replaced file's
    // access control list could not be carried over.
    std::string narrowedAccess;
    Kind kind = Kind::staged;
    // The regular file that stood under the name when the output was opened,
    // whose access the temporary file has.
    std::optional<FileIdentity> replaced;
    bool ended = false;       // committed or abandoned: the stream is closed or released
    Outcome endedAs = Outcome::nothingLeft;  // what a failed end left
    std::unique_ptr<BinaryFile> file;
};

// The note for an output whose existing file was kept.
std::string keptExistingNote(const std::string& name);
