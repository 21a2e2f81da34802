#pragma once
#include <string>

#include "container/RunFiles.h"

// Compresses one WAV file into a container, one of the run's files. Failures
// leave by Error.
void encodeFile(const std::string& inName, const std::string& outName, bool seekable, bool high, RunFiles& files);

// Restores one WAV file from a container, one of the run's files. Failures leave
// by Error; returns false when the decoded samples do not match the stored checksum.
bool decodeFile(const std::string& inName, const std::string& outName, RunFiles& files);
