#pragma once
#include <sys/stat.h>

#include <string>

// The folder an output is written into, held open as one descriptor from the
// moment its name is examined to the moment the output takes it, and the entry in
// that folder that the name leads to. Every step of the output (examining the
// entry, creating, renaming and removing the temporary file, syncing the folder)
// goes through that descriptor, so a folder that is moved or replaced meanwhile
// cannot leave a temporary file in one folder and the output in another.
class OutputFolder {
public:
    // Opens the folder of name. With followLinks, a symbolic link under the name
    // is followed to its target's folder and entry, a link to a link as well (a
    // dangling one gives the missing target). Every link met on the way, in the
    // folders as under the name, is followed only as the kernel follows links in
    // shared folders (see mayFollow). Throws Error, with the system's reason, when
    // a folder cannot be opened, an entry cannot be examined or a link may not be
    // followed.
    OutputFolder(const std::string& name, bool followLinks);
    // Removes a temporary file that is still pending, and closes the folder.
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // True when something, a dangling link included, stood under the name itself.
    bool nameExisted() const { return existed; }
    // What stands at the entry now: 0 with its status, or the system's error
    // (ENOENT: nothing).
    int examine(struct stat& status) const;
    // 0 when the process may write the file at the entry (root may write any
    // file), else the system's error: the right that replacing it needs as well.
    int writeRight() const;
    // Opens the entry as a path only (for its status and attributes), a link
    // itself and not its target; returns the descriptor, or -1 with errno.
    int openEntryPath() const;
    // Opens the entry for writing as it is, neither created nor truncated, and
    // returns the descriptor, or -1 with errno.
    int openEntry() const;

    // Creates the temporary file with the given permissions, under a short name of
    // its own, and returns its descriptor. Throws Error naming output when it
    // cannot be created.
    int createTemporary(mode_t mode, const std::string& output);
    // Renames the temporary file to the entry, replacing what stands there only
    // with replace (errno EEXIST otherwise). Returns 0, or the system's error with
    // the temporary file still pending.
    int takeName(bool replace, const std::string& output);
    // Removes a pending temporary file. Returns a note naming a temporary file that
    // could not be removed, with the system's reason; empty otherwise.
    std::string removeTemporary();
    // Has the folder's entries written to the disk. Returns 0, or the system's error;
    // a folder that cannot be synced at all (one that may be written but not
    // listed) gives 0.
    int sync() const;

    // The folder as messages name it, with its slash; empty for the current one.
    const std::string& shownFolder() const { return folderName; }

private:
    // Closes the folder also when the constructor throws.
    struct Descriptor {
        int fd = -1;
        Descriptor() = default;
        Descriptor(const Descriptor&) = delete;
        Descriptor& operator=(const Descriptor&) = delete;
        ~Descriptor();
        // Closes the descriptor held and holds opened instead.
        void reset(int opened);
    };

    void openFolder(int base, const std::string& path, const std::string& output, int& links);
    static int walk(int base, const std::string& path, Descriptor& folder, int& links);
    static int linkTarget(int folder, const std::string& name, const struct stat& link, int& links, std::string& target);
    static bool mayFollow(int folder, const struct stat& link);

    Descriptor dir;
    bool syncable = false;    // opened for reading, as fsync needs
    bool existed = false;
    std::string folderName;
    std::string entry;
    std::string temporary;    // the pending temporary file's entry; empty when none
};

// The message for an output whose name cannot be opened or examined.
[[noreturn]] void throwCannotOpenOutput(const std::string& name, int error);
