#pragma once
#include <sys/stat.h>

#include <string>

// Gives the replacement of a file, open as replacement, the access of the file it
// replaces (replaced, its status, open as a path at replacedPath): its owner and
// group, its permission bits (never a set-ID or sticky bit) and its access control
// list. Where that list cannot be set, the group gets the rights of the list's
// group entry, never those of its mask. Throws Error, naming the file under name
// as kept, where the replacement would be owned by someone else, or give anyone
// more access than the replaced file did, or its rights could not be set exactly.
// Returns the warning to give once the replacement is in place where the list could
// not be set, so that the users and groups it named lost their access; empty otherwise.
std::string giveAccessOf(int replacement, int replacedPath, const struct stat& replaced, const std::string& name);
