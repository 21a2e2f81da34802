#include "container/ReplacedAccess.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "foundation/Error.h"
#include "foundation/Names.h"

namespace {

const char* const kAccessList = "system.posix_acl_access";

// The stored list: a 4-byte version, then entries of a 2-byte tag, 2-byte rights
// and a 4-byte id, little-endian; the owning group's entry has tag 4.
constexpr size_t kListHeader = 4;
constexpr size_t kListEntry = 8;
constexpr unsigned kGroupEntryTag = 4;

// Errors that say the file has no list, or its file system keeps none.
bool noList(int error) { return error == ENODATA || error == ENOTSUP || error == EOPNOTSUPP; }


[[noreturn]] void throwKept(const std::string& name, const char* what, int error) {
    throw Error("Error - " + baseName(name) + " was kept: its replacement could not be given " + what +
                systemReason(error) + ".");
}

// The access control list of the file open as a path; empty when it has none.
// Throws where it cannot be read, as the replacement could then give more access.
std::string accessListOf(int path, const std::string& name) {
    const std::string file = "/proc/self/fd/" + std::to_string(path);
    for (;;) {
        const ssize_t size = ::getxattr(file.c_str(), kAccessList, nullptr, 0);
        if (size < 0) {
            if (noList(errno)) return "";
            throwKept(name, "the access rights of the file it replaces", errno);
        }
        std::string list(static_cast<size_t>(size), '\0');
        const ssize_t got = ::getxattr(file.c_str(), kAccessList, list.data(), list.size());
        if (got >= 0) return list.substr(0, static_cast<size_t>(got));
        if (errno != ERANGE) throwKept(name, "the access rights of the file it replaces", errno);
    }
}

// The rights of the list's entry for the owning group, as the three group bits.
mode_t groupEntryBits(const std::string& list) {
    for (size_t at = kListHeader; at + kListEntry <= list.size(); at += kListEntry) {
        const auto byte = [&](size_t i) { return static_cast<unsigned>(static_cast<uint8_t>(list[at + i])); };
        if ((byte(0) | byte(1) << 8) == kGroupEntryTag) return static_cast<mode_t>((byte(2) & 7) << 3);
    }
    return 0;
}

}  // namespace

std::string giveAccessOf(int replacement, int replacedPath, const struct stat& replaced, const std::string& name) {
    const std::string list = accessListOf(replacedPath, name);
    // The group alone where the process may not give files away; what the
    // replacement got is checked below, with the first failure as its reason.
    int ownerError = 0;
    if (::fchown(replacement, replaced.st_uid, replaced.st_gid) != 0) {
        ownerError = errno;
        (void)::fchown(replacement, static_cast<uid_t>(-1), replaced.st_gid);
    }
    int rightsError = 0;
    int listError = 0;
    mode_t wanted = replaced.st_mode & 0777;
    if (list.empty() || ::fsetxattr(replacement, kAccessList, list.data(), list.size(), 0) != 0) {
        if (!list.empty()) listError = errno;
        // A list the replacement took from its folder's default would add rights.
        if (::fremovexattr(replacement, kAccessList) != 0 && !noList(errno))
            throwKept(name, "the access rights of the file it replaces", errno);
        if (!list.empty()) wanted = (wanted & 0707) | groupEntryBits(list);
        if (::fchmod(replacement, wanted) != 0) rightsError = errno;
    }
    struct stat given {};
    if (::fstat(replacement, &given) != 0) throwKept(name, "the access rights of the file it replaces", errno);
    if (given.st_uid != replaced.st_uid || (given.st_gid != replaced.st_gid && (given.st_mode & 070) != 0))
        throwKept(name, "the owner and group of the file it replaces", ownerError != 0 ? ownerError : EPERM);
    if ((given.st_mode & 07777) != wanted)
        throwKept(name, "the access rights of the file it replaces", rightsError != 0 ? rightsError : EPERM);
    if (listError == 0) return "";
    return "Warning: " + baseName(name) + " was replaced without its access control list, which could not be set" +
           systemReason(listError) + ": only its owner, its group and others keep their rights.";
}
