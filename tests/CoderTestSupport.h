#pragma once
// Scratch files for the coder tests: code into a temporary file through the program's
// own BinaryFile, then inspect or decode its bytes.
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "entropy/BinaryFile.h"

namespace codertest {

class ScratchFile {
public:
    ScratchFile() {
        static std::atomic<int> serial{0};
        path = (std::filesystem::temp_directory_path() /
                ("qo_coder_" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + ".bin"))
                   .string();
        std::filesystem::remove(path);
    }
    ~ScratchFile() { std::filesystem::remove(path); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Runs fill on an output stream over the file and returns the bytes written.
    std::vector<uint8_t> written(const std::function<void(BinaryFile&)>& fill) {
        std::filesystem::remove(path);
        {
            BinaryFile out(path, false);
            fill(out);
            out.flush();
        }
        return testsupport::readFileBytes(path);
    }
    // Stores bytes and opens them for reading.
    BinaryFile& input(const std::vector<uint8_t>& bytes) {
        testsupport::writeFileBytes(path, bytes);
        in = std::make_unique<BinaryFile>(path, true);
        return *in;
    }

    std::string path;

private:
    std::unique_ptr<BinaryFile> in;
};

using testsupport::errorOf;

}  // namespace codertest
