#pragma once
#include <string>

// The part of a name after its last backslash (a forward slash is not a separator).
std::string baseName(const std::string& path);
// baseName cut to 34 characters, for the progress line.
std::string displayName(const std::string& path);
