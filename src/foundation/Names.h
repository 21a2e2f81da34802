#pragma once
#include <string>

// The part of a name after its last backslash (a forward slash is not a separator).
std::string baseName(const std::string& path);
// baseName cut to 34 characters, for the progress line.
std::string displayName(const std::string& path);
// How messages name an input: the name as given, or "standard input" for the
// empty name that stands for it.
std::string inputName(const std::string& name);
