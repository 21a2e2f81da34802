#pragma once
// Helpers shared by the fuzz targets: a scratch folder of this process for the
// files the program reads and writes, and a quiet standard output.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "foundation/Arith.h"
#include "foundation/Options.h"

namespace fuzzsupport {

// A folder of this process under $QO_FUZZ_SCRATCH (default: the temp folder),
// created on first use.
inline const std::filesystem::path& scratchDir() {
    static const std::filesystem::path dir = [] {
        const char* base = std::getenv("QO_FUZZ_SCRATCH");
        std::filesystem::path d = base != nullptr ? std::filesystem::path(base) : std::filesystem::temp_directory_path();
        d /= "qo-fuzz-" + std::to_string(::getpid());
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

inline std::string scratchPath(const std::string& name) { return (scratchDir() / name).string(); }

// Writes bytes to a scratch file and returns its path.
inline std::string scratchFile(const std::string& name, const uint8_t* data, size_t size) {
    const std::string path = scratchPath(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The program's console text (progress, notes) would drown the fuzzer's own
// report, which goes to standard error.
inline void silenceStandardOutput() {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}

// Set-up of the targets that run the drivers on scratch files: quiet console,
// the powers-of-two table main would fill, and outputs that may be replaced.
inline void prepareDriverRuns() {
    silenceStandardOutput();
    initPow2Table();
    overwriteMode = true;
}

}  // namespace fuzzsupport
