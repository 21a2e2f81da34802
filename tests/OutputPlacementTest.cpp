// Where an output may go, through the "qo" binary: the folder it is put in, names
// that cannot be examined, links in shared folders, the rights a replacement
// needs and the access it keeps, standard output and the -debug report. No run
// may damage a file or hand it to someone else through any of them.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "OutputSafety.h"

namespace {

using namespace outputtests;

// True where strace can run a program here: it then fails chosen system calls of qo.
bool straceWorks() { return std::system("strace -o /dev/null true >/dev/null 2>&1") == 0; }

// The start of a launcher that runs qo under strace; the leak check of a
// sanitizer build cannot work in a traced process.
const std::string underStrace = "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 strace -f -qq -o /dev/null";

class OutputPlacement : public OutputSafety {
protected:
    // The temporary files in folder (the scratch folder when empty).
    std::vector<std::string> temporaries(const std::string& folder = "") const {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir / folder))
            if (isTemporary(entry.path().filename())) found.push_back(entry.path().filename());
        return found;
    }
};

// The output's folder moved away and another made under its name while the
// output is written: the output is put in place in the folder it was begun in,
// wherever that is now, and nothing is left in either.
TEST_F(OutputPlacement, MovedFolderTakesItsOutputAlong) {
    const Bytes wav = stereoWav(kLong);
    put("long.wav", wav);
    std::filesystem::create_directory(dir / "o");
    const pid_t pid = start({"long.wav", "o/x.qo"}, "run");
    ASSERT_NE(awaitTemporary(1 << 20, "o"), "") << "no temporary file grew";
    std::filesystem::rename(dir / "o", dir / "o.moved");
    std::filesystem::create_directory(dir / "o");
    EXPECT_EQ(finish(pid), 0) << slurp("run.err");
    EXPECT_TRUE(std::filesystem::is_empty(dir / "o"));
    EXPECT_TRUE(temporaries("o.moved").empty());
    ASSERT_EQ(run("o.moved/x.qo back.wav").status, 0);
    EXPECT_TRUE(bytes("back.wav") == wav);
}

// A temporary file that cannot be removed after a failure (the removal fails
// here) is named in the message with the system's reason.
TEST_F(OutputPlacement, TemporaryFileThatCannotBeRemovedIsNamed) {
    if (!straceWorks()) GTEST_SKIP() << "strace is not installed or cannot trace here; test skipped";
    const Bytes wav = stereoWav(kTwoSegments);
    compress("c", wav);
    std::filesystem::create_directory(dir / "o");
    for (const char* args : {"c.wav o/x.qo", "c.qo o/x.wav"}) {
        SCOPED_TRACE(args);
        launcher = "ulimit -f 1024; " + underStrace + " -e trace=unlink,unlinkat -e inject=unlink,unlinkat:error=EPERM";
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, "(File too large).\n")) << r.err;
        const std::vector<std::string> left = temporaries("o");
        ASSERT_EQ(left.size(), 1u);
        EXPECT_TRUE(contains(r.err, "\nThe temporary file o/" + left.front() +
                                        " could not be removed (Operation not permitted).\n"))
            << r.err;
        std::filesystem::remove(dir / "o" / left.front());
    }
}

// A name that cannot be examined is refused with the system's reason before any
// work, with or without -overwrite, and is never said to exist.
TEST_F(OutputPlacement, NamesThatCannotBeExaminedGiveTheSystemsReason) {
    const Bytes wav = stereoWav(5000);
    const Bytes container = compress("c", wav);
    // A container whose own name is as long as a name may be: its WAV name is longer.
    const std::string longest = std::string(252, 'n') + ".qo";
    put(longest, container);
    // Over PATH_MAX, through a folder that exists.
    std::filesystem::create_directory(dir / "d");
    std::string deep = "d/";
    while (deep.size() <= 4096) deep += "../d/";
    const auto refused = [&](const std::string& args, const char* reason) {
        for (const char* flags : {"", "-overwrite "}) {
            SCOPED_TRACE(flags + args.substr(0, 80));
            const RunResult r = run(flags + args);
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(contains(r.err, std::string(reason) + ".\n")) << r.err;
            EXPECT_FALSE(contains(r.err, "already exists")) << r.err;
            EXPECT_FALSE(contains(r.out, "Encoding") || contains(r.out, "Decoding")) << "work was done first";
        }
    };
    for (const std::string& args : {"c.wav " + std::string(253, 'n') + ".qo", "c.qo " + std::string(252, 'n') + ".wav",
                                    longest, "c.wav " + deep + "x.qo", "c.qo " + deep + "x.wav"})
        refused(args, "(File name too long)");
    EXPECT_TRUE(std::filesystem::is_empty(dir / "d"));

    // A folder another user may not search: its names cannot be examined either.
    std::filesystem::create_directory(dir / "locked");
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_all);
    std::filesystem::permissions(dir, std::filesystem::perms::all);
    std::string why;
    if (!runAsNobody(why)) GTEST_SKIP() << "the cases as another user: " << why << "; skipped";
    for (const char* args : {"c.wav locked/x.qo", "c.qo locked/x.wav"}) refused(args, "(Permission denied)");
    EXPECT_TRUE(std::filesystem::is_empty(dir / "locked"));
}

// A symbolic link in an output's name, under the name itself or as one of its
// folders, in a sticky folder that others may write, is followed only where it
// belongs to the user qo runs as or to the folder's owner, as the kernel's
// protection for such folders would have it, whatever that setting is here;
// otherwise the input fails with Permission denied, the link's target is
// untouched and nothing is made beside it. Elsewhere links are followed as before.
TEST_F(OutputPlacement, LinksInSharedFoldersAreFollowedOnlyAsTheKernelWould) {
    if (::geteuid() != 0) GTEST_SKIP() << "not root: links of other users cannot be made; test skipped";
    const Bytes container = compress("c", stereoWav(5000));
    constexpr uid_t kNobody = 65534;
    const struct {
        mode_t folderMode;
        uid_t folderOwner;
        uid_t linkOwner;
        bool followed;
    } cases[] = {
        {01777, 0, kNobody, false},       // planted by another user in a shared folder
        {01777, 0, 0, true},              // the process's own link
        {01777, kNobody, kNobody, true},  // the folder owner's link
        {00777, 0, kNobody, true},        // not sticky
        {01775, 0, kNobody, true},        // sticky, but only its owner and group may write it
    };
    // The link stands in s, the folder of those modes and owners: under the
    // output's own name, to a file beside it, or as the output's folder, to a
    // folder beside s.
    const struct {
        const char* output;
        const char* link;
        const char* target;
        const char* victim;
        const char* refusal;
    } placements[] = {
        {"s/victim.qo", "s/victim.qo", "victim.target", "s/victim.target",
         "Cannot open output file s/victim.qo (Permission denied)."},
        {"s/sub/victim.qo", "s/sub", "../t", "t/victim.qo",
         "Cannot create the temporary file for s/sub/victim.qo in folder s/sub (Permission denied)."},
    };
    const auto entries = [this] {
        std::vector<std::string> names;
        for (const char* folder : {"s", "t"})
            for (const auto& entry : std::filesystem::directory_iterator(dir / folder))
                names.push_back(std::string(folder) + "/" + entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const Bytes secret = {'s', 'e', 'c', 'r', 'e', 't'};
    for (const auto& p : placements) {
        for (const auto& c : cases) {
            char mode[8];
            std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(c.folderMode));
            SCOPED_TRACE(std::string(p.link) + " in a " + mode + " folder of " +
                         std::to_string(c.folderOwner) + ", link of " + std::to_string(c.linkOwner));
            for (const char* folder : {"s", "t"}) {
                std::filesystem::remove_all(dir / folder);
                std::filesystem::create_directory(dir / folder);
            }
            put(p.victim, secret);
            ASSERT_EQ(::chmod((dir / p.victim).c_str(), 0600), 0);
            std::filesystem::create_symlink(p.target, dir / p.link);
            ASSERT_EQ(::lchown((dir / p.link).c_str(), c.linkOwner, c.linkOwner), 0);
            ASSERT_EQ(::chown((dir / "s").c_str(), c.folderOwner, c.folderOwner), 0);
            ASSERT_EQ(::chmod((dir / "s").c_str(), c.folderMode), 0);
            const std::vector<std::string> before = entries();
            const RunResult r = run(std::string("-overwrite c.wav ") + p.output);
            EXPECT_EQ(r.status, c.followed ? 0 : 1) << r.err;
            EXPECT_TRUE(bytes(p.victim) == (c.followed ? container : secret));
            EXPECT_TRUE(std::filesystem::is_symlink(dir / p.link));
            if (!c.followed) {
                EXPECT_EQ(r.err, std::string("\n") + p.refusal + "\n(while compressing c.wav)\n");
            }
            EXPECT_EQ(entries(), before);
        }
    }
}

// The links of an output's folder are followed one at a time from the folder
// that holds each, as the kernel follows them: a chain, a target with "..",
// one after it in the name, up to the kernel's 40 links for the whole name, the
// last under the name itself included. A loop, or one link more, fails with the
// system's reason; a planted link fails anywhere in a chain.
TEST_F(OutputPlacement, LinksInAnOutputsFolderAreFollowedAsTheKernelFollowsThem) {
    if (::geteuid() != 0) GTEST_SKIP() << "not root: links of other users cannot be made; test skipped";
    const Bytes container = compress("c", stereoWav(5000));
    // Links in s, a shared folder: name and target, planted by nobody where marked.
    struct Link {
        std::string name;
        std::string target;
        bool planted = false;
    };
    const auto chain = [](int length, const std::string& end) {
        std::vector<Link> links;
        for (int i = 0; i < length; ++i)
            links.push_back({"l" + std::to_string(i), i + 1 < length ? "l" + std::to_string(i + 1) : end});
        return links;
    };
    // 40 links leading back to s, where the name's own link is the 41st.
    std::vector<Link> endsInALink = chain(40, ".");
    endsInALink.push_back({"last.qo", "../t/victim.qo"});
    const std::vector<Link> plantedInAChain = {{"a", "b"}, {"b", "../t", true}};
    const struct {
        const char* what;
        std::vector<Link> links;
        const char* output;
        const char* error;  // the message's first line; empty: followed
    } cases[] = {
        {"a chain", {{"a", "b"}, {"b", "./../t/"}}, "s/a/victim.qo", ""},
        {"an absolute target", {{"a", (dir / "t").string()}}, "s/a/victim.qo", ""},
        {"\"..\" after a link, from where it led", {{"a", "../t/deeper"}}, "s/a/../victim.qo", ""},
        {"40 links", chain(40, "../t"), "s/l0/victim.qo", ""},
        {"41 links", chain(41, "../t"), "s/l0/victim.qo",
         "Cannot create the temporary file for s/l0/victim.qo in folder s/l0 (Too many levels of symbolic links)."},
        {"41 links, the last under the name", endsInALink, "s/l0/last.qo",
         "Cannot open output file s/l0/last.qo (Too many levels of symbolic links)."},
        {"a loop", {{"a", "b"}, {"b", "a"}}, "s/a/victim.qo",
         "Cannot create the temporary file for s/a/victim.qo in folder s/a (Too many levels of symbolic links)."},
        {"a link planted in a chain", plantedInAChain, "s/a/victim.qo",
         "Cannot create the temporary file for s/a/victim.qo in folder s/a (Permission denied)."},
    };
    const Bytes secret = {'s', 'e', 'c', 'r', 'e', 't'};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* folder : {"s", "t", "t/deeper"}) {
            std::filesystem::remove_all(dir / folder);
            std::filesystem::create_directory(dir / folder);
        }
        put("t/victim.qo", secret);
        for (const Link& link : c.links) {
            std::filesystem::create_symlink(link.target, dir / "s" / link.name);
            if (link.planted) {
                ASSERT_EQ(::lchown((dir / "s" / link.name).c_str(), 65534, 65534), 0);
            }
        }
        ASSERT_EQ(::chmod((dir / "s").c_str(), 01777), 0);
        const RunResult r = run(std::string("-overwrite c.wav ") + c.output);
        const bool followed = *c.error == '\0';
        EXPECT_EQ(r.status, followed ? 0 : 1) << r.err;
        EXPECT_TRUE(bytes("t/victim.qo") == (followed ? container : secret));
        if (!followed) {
            EXPECT_EQ(r.err, std::string("\n") + c.error + "\n(while compressing c.wav)\n");
        }
        EXPECT_TRUE(temporaries("s").empty() && temporaries("t").empty() && std::filesystem::is_empty(dir / "t/deeper"));
    }
}

// A replacement needs the right that writing into the file would need: a file
// qo may not write (another user's, or its own without the write bit) is kept,
// and the input fails with Permission denied, though the folder may be written.
// Root keeps its rights, as with any write.
TEST_F(OutputPlacement, ReplacementNeedsTheRightToWriteTheFile) {
    const Bytes wav = stereoWav(5000);
    const Bytes container = compress("c", wav);
    std::filesystem::create_directory(dir / "open");
    const struct {
        const char* output;
        uid_t owner;
        mode_t mode;
        bool asNobody;
        bool replaced;
    } cases[] = {
        {"open/x.wav", 0, 0644, true, false},      // root's file
        {"open/x.qo", 0, 0644, true, false},
        {"open/x.wav", 65534, 0444, true, false},  // nobody's own, read-only
        {"open/x.qo", 65534, 0444, true, false},
        {"open/x.wav", 65534, 0644, true, true},   // nobody's own, writable
        {"open/x.wav", 65534, 0444, false, true},  // root replaces anything
    };
    std::string why;
    if (!runAsNobody(why)) GTEST_SKIP() << why << "; test skipped";
    std::filesystem::permissions(dir, std::filesystem::perms::all);
    std::filesystem::permissions(dir / "open", std::filesystem::perms::all);
    const Bytes old = {'o', 'l', 'd'};
    for (const auto& c : cases) {
        const bool restoring = contains(c.output, ".wav");
        const std::string args = std::string("-overwrite ") + (restoring ? "c.qo " : "c.wav ") + c.output;
        SCOPED_TRACE(args + " over mode " + std::to_string(c.mode) + " of " + std::to_string(c.owner) +
                     (c.asNobody ? " as nobody" : " as root"));
        put(c.output, old);
        ASSERT_EQ(::chown((dir / c.output).c_str(), c.owner, c.owner), 0);
        ASSERT_EQ(::chmod((dir / c.output).c_str(), c.mode), 0);
        if (c.asNobody) runAsNobody(why);
        else launcher = "timeout 60";
        const RunResult r = run(args);
        EXPECT_EQ(r.status, c.replaced ? 0 : 1) << r.err;
        EXPECT_TRUE(bytes(c.output) == (c.replaced ? (restoring ? wav : container) : old));
        if (!c.replaced) {
            EXPECT_EQ(r.err, std::string("\nCannot open output file ") + c.output + " (Permission denied).\n(while " +
                                 (restoring ? "restoring c.qo" : "compressing c.wav") + ")\n");
        }
        std::filesystem::remove(dir / c.output);
        EXPECT_TRUE(std::filesystem::is_empty(dir / "open"));
    }
}

// A replacement never gives anyone more access than the replaced file did: its
// access control list comes along; where that list cannot be set, the group gets
// the rights of the list's group entry, never those of its mask; a list the folder
// would give new files is not added. An owner or mode change that fails and would
// leave the file wider, or another user's, ends the input and keeps the file.
TEST_F(OutputPlacement, ReplacementNeverGivesMoreAccess) {
    if (::geteuid() != 0) GTEST_SKIP() << "not root: files of other users cannot be made; test skipped";
    if (std::system("command -v setfacl >/dev/null && command -v getfacl >/dev/null") != 0)
        GTEST_SKIP() << "setfacl and getfacl (Debian: acl) are not installed; test skipped";
    if (!straceWorks()) GTEST_SKIP() << "strace is not installed or cannot trace here; test skipped";
    const Bytes wav = stereoWav(5000);
    compress("c", wav);
    std::filesystem::permissions(dir, std::filesystem::perms::all);
    const std::string shared = "setfacl -m u:1002:rw,g::-,m::rw f.wav";
    const std::string sharedList = "user::rw-\nuser:1002:rw-\ngroup::---\nmask::rw-\nother::---\n";
    const std::string plainList = "user::rw-\ngroup::---\nother::---\n";
    const auto injecting = [](const char* call) {
        // 32-bit x86 names the owner change fchown32.
        const std::string calls = std::string("'/^") + call + "(32)?$";
        return underStrace + " -e trace=" + calls + "' -e inject=" + calls + ":error=EPERM' ";
    };
    std::string why;
    if (!runAsNobody(why)) GTEST_SKIP() << why << "; test skipped";
    const std::string asNobody = launcher;
    const struct {
        const char* what;
        std::string setUp;     // shell commands in the scratch folder, as root
        std::string launcher;  // before timeout and qo
        bool replaced;
        std::string list;      // getfacl of f.wav afterwards, comments left out
        const char* error;     // the end of the message when not replaced
        bool listDropped = false;  // replaced without the list it could not be given, with a warning
    } cases[] = {
        {"an access control list", "chmod 600 f.wav && " + shared, "", true, sharedList, ""},
        {"a list that cannot be set", "chmod 600 f.wav && " + shared, injecting("fsetxattr"), true, plainList, "", true},
        {"a folder with a default list", "chmod 600 f.wav && setfacl -d -m u:1002:rwx .", "", true, plainList, ""},
        {"a failed mode change that leaves the mode", "chmod 600 f.wav", injecting("fchmod"), true, plainList, ""},
        {"a failed mode change that widens", "chmod 400 f.wav", injecting("fchmod"), false, "user::r--\ngroup::---\nother::---\n",
         "its replacement could not be given the access rights of the file it replaces (Operation not permitted).\n"},
        {"a failed owner change", "chown 1000:1000 f.wav && chmod 644 f.wav", injecting("fchown"), false,
         "user::rw-\ngroup::r--\nother::r--\n",
         "its replacement could not be given the owner and group of the file it replaces (Operation not permitted).\n"},
        {"another user's file in a group qo may write", "chown 0:65534 f.wav && chmod 664 f.wav", asNobody, false,
         "user::rw-\ngroup::rw-\nother::r--\n",
         "its replacement could not be given the owner and group of the file it replaces (Operation not permitted).\n"},
    };
    const Bytes old = {'o', 'l', 'd'};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::system(("cd '" + dir.string() + "' && setfacl -b -k .").c_str());
        put("f.wav", old);
        ASSERT_EQ(std::system(("cd '" + dir.string() + "' && " + c.setUp).c_str()), 0);
        struct stat before {};
        ASSERT_EQ(::stat((dir / "f.wav").c_str(), &before), 0);
        launcher = c.launcher + " timeout 60";
        const RunResult r = run("-overwrite c.qo f.wav");
        launcher = "timeout 60";
        EXPECT_EQ(r.status, c.replaced ? 0 : 1) << r.err;
        EXPECT_TRUE(bytes("f.wav") == (c.replaced ? wav : old));
        if (!c.replaced) {
            EXPECT_TRUE(contains(r.err, std::string("\nError - f.wav was kept: ") + c.error)) << r.err;
        }
        EXPECT_EQ(r.err == "Warning: f.wav was replaced without its access control list, which could not be set "
                           "(Operation not permitted): only its owner, its group and others keep their rights.\n"
                           "(while restoring c.qo)\n",
                  c.listDropped)
            << r.err;
        struct stat after {};
        ASSERT_EQ(::stat((dir / "f.wav").c_str(), &after), 0);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
        std::system(("cd '" + dir.string() + "' && getfacl -pn f.wav | grep -v '^#' | grep . > list.txt").c_str());
        EXPECT_EQ(slurp("list.txt"), c.list);
        std::filesystem::remove(dir / "list.txt");
        EXPECT_TRUE(temporaries().empty());
    }
}

// Standard output that is the same file as an input of the run fails each input
// it would carry with "is an input of this run" before a byte is written: the
// container keeps its size, instead of growing by the WAV restored from it (or,
// read from standard input, growing as it is read). On a small file system of
// its own, so a regression cannot fill a disk.
TEST_F(OutputPlacement, StandardOutputThatIsAnInputIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "not root: no small file system can be mounted; test skipped";
    const Bytes wav = stereoWav(20000);
    const Bytes container = compress("c", wav);
    std::filesystem::create_directory(dir / "small");
    if (::mount("tmpfs", (dir / "small").c_str(), "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "a tmpfs cannot be mounted here; test skipped";
    const struct Unmount {
        std::filesystem::path at;
        ~Unmount() { ::umount(at.c_str()); }
    } unmount{dir / "small"};
    put("small/a.qo", container);
    std::filesystem::create_hard_link(dir / "small/a.qo", dir / "small/link.qo");
    put("small/other.qo", container);
    // Standard output appended to, as ">>" does, so that the shell keeps the file's bytes.
    const auto appending = [this](const std::string& args, const std::string& in, const std::string& out) {
        const std::string command = "cd '" + (dir / "small").string() + "' && timeout 60 '" QO_BINARY "' " + args +
                                    " <" + (in.empty() ? "/dev/null" : in) + " >>" + out + " 2>../err.txt";
        const int raw = std::system(command.c_str());
        RunResult r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.err = slurp("err.txt");
        return r;
    };
    const struct {
        const char* args;
        const char* in;
        const char* out;
        std::string err;
    } cases[] = {
        {"-cout a.qo", "", "a.qo", "\nError - standard output is an input of this run, skipping.\n(while restoring a.qo)\n"},
        {"-cinout", "a.qo", "a.qo",
         "\nError - standard output is an input of this run, skipping.\n(while restoring standard input)\n"},
        {"-cout other.qo a.qo", "", "link.qo",
         "\nError - standard output is an input of this run, skipping.\n(while restoring other.qo)\n"
         "\nError - standard output is an input of this run, skipping.\n(while restoring a.qo)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = appending(c.args, c.in, c.out);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.err);
        EXPECT_TRUE(bytes("small/a.qo") == container);
    }
    // Standard output that is no input is written as before.
    const RunResult written = appending("-cout a.qo", "", "out.wav");
    EXPECT_EQ(written.status, 0) << written.err;
    EXPECT_TRUE(bytes("small/out.wav") == wav);
}

// The -debug report is an output like the others: it replaces an earlier report,
// and nothing else. A link, FIFO, device or folder under its name, an input of
// the run or its standard output is refused without a hang; a report that cannot
// be written is said, with its name and the reason, and the run ends with status
// 1, while the input's own output stands complete.
TEST_F(OutputPlacement, DebugReportIsWrittenLikeAnOutput) {
    const Bytes wav = stereoWav(5000);
    const Bytes container = compress("a", wav);
    put("take.wav", wav);
    const auto symlink = [this](const char* to, const char* name) { std::filesystem::create_symlink(to, dir / name); };
    struct Case {
        const char* what;
        std::function<void()> setUp;
        const char* args;
        const char* stdoutFile;  // empty: captured
        std::string error;       // the message's first line
    };
    const Case cases[] = {
        {"a link to an input", [&] { symlink("a.wav", "debugenc.txt"); }, "-debug a.wav x.qo", "",
         "Error - debugenc.txt is a symbolic link, and a report replaces only a regular file."},
        {"a hard link to an input", [&] { std::filesystem::create_hard_link(dir / "a.qo", dir / "debugdec.txt"); },
         "-debug a.qo x.wav", "", "Error - debugdec.txt is an input of this run, skipping."},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo((dir / "debugenc.txt").c_str(), 0600), 0); }, "-debug a.wav x.qo", "",
         "Error - debugenc.txt is a FIFO, and a report replaces only a regular file."},
        {"a link to a full device", [&] { symlink("/dev/full", "debugenc.txt"); }, "-debug a.wav x.qo", "",
         "Error - debugenc.txt is a symbolic link, and a report replaces only a regular file."},
        {"a folder", [&] { std::filesystem::create_directory(dir / "debugenc.txt"); }, "-debug a.wav x.qo", "",
         "Error - debugenc.txt is a directory, not a file."},
        {"standard output", [] {}, "-debug -cout a.qo", "debugdec.txt",
         "Error - debugdec.txt is the standard output of this run, skipping."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.setUp();
        launcher = "timeout 20";
        const RunResult r = run(c.args, "", c.stdoutFile);
        EXPECT_EQ(r.status, 1) << r.err;
        const bool restoring = contains(c.args, "a.qo");
        EXPECT_EQ(r.err, "\n" + c.error + "\nThe -debug report " + (restoring ? "debugdec.txt" : "debugenc.txt") +
                             " was not written.\n(while " + (restoring ? "restoring a.qo" : "compressing a.wav") + ")\n");
        EXPECT_TRUE(bytes("a.wav") == wav);
        EXPECT_TRUE(bytes("a.qo") == container);
        if (*c.stdoutFile == '\0') {
            EXPECT_TRUE(bytes(restoring ? "x.wav" : "x.qo") == (restoring ? wav : container)) << "the output is not complete";
        } else {
            EXPECT_TRUE(bytes(c.stdoutFile) == wav);
        }
        EXPECT_TRUE(temporaries().empty());
        for (const char* name : {"debugenc.txt", "debugdec.txt", "x.wav", "x.qo"}) std::filesystem::remove_all(dir / name);
    }

    // An earlier report is replaced, with -overwrite or without.
    put("debugenc.txt", {'o', 'l', 'd'});
    for (const char* args : {"-debug take.wav", "-debug -overwrite take.wav"}) {
        SCOPED_TRACE(args);
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(slurp("debugenc.txt").rfind("Debug information ...\n\n", 0), 0u);
    }

    // A folder that may not be written, as another user.
    std::string why;
    if (!runAsNobody(why)) GTEST_SKIP() << "the case of a folder qo may not write: " << why << "; skipped";
    std::filesystem::remove(dir / "debugenc.txt");
    std::filesystem::create_directory(dir / "out");
    std::filesystem::permissions(dir / "out", std::filesystem::perms::all);
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                          std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                          std::filesystem::perms::others_exec);
    const RunResult r = run("-debug take.wav out/t.qo");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\nCannot create the temporary file for debugenc.txt in the current folder (Permission denied).\n"
                     "The -debug report debugenc.txt was not written.\n(while compressing take.wav)\n");
    EXPECT_TRUE(exists("out/t.qo"));
}

}  // namespace
