#pragma once
#include <string>

// Compresses one WAV file into a container. Failures leave by Error.
void encodeFile(const std::string& inName, const std::string& outName, bool seekable, bool high);

// Restores one WAV file from a container. Failures leave by Error; returns
// false when the decoded samples do not match the stored checksum.
bool decodeFile(const std::string& inName, const std::string& outName);
