#pragma once
// Files for bit-coder tests: a writer's output collected as bytes, and a reader over
// given bytes, both through BinaryFile on temporary files.
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "entropy/BinaryFile.h"
#include "entropy/BitstreamFast.h"

namespace bitstreamtest {

inline std::string freshTempPath() {
    static int serial = 0;
    const auto path = std::filesystem::temp_directory_path() /
                      ("qo_bits_" + std::to_string(getpid()) + "_" + std::to_string(serial++) + ".bin");
    std::filesystem::remove(path);
    return path.string();
}

// Runs body on a writing BitstreamFast and returns every byte it wrote.
inline std::vector<uint8_t> writeStream(const std::function<void(BitstreamFast&)>& body) {
    const std::string path = freshTempPath();
    {
        BinaryFile file(path, false);
        BitstreamFast coder(&file, false);
        body(coder);
        file.flush();
    }
    std::vector<uint8_t> bytes = testsupport::readFileBytes(path);
    std::filesystem::remove(path);
    return bytes;
}

// A reading BitstreamFast over the given bytes.
class StreamReader {
public:
    explicit StreamReader(const std::vector<uint8_t>& bytes) : path(freshTempPath()) {
        testsupport::writeFileBytes(path, bytes);
        file = std::make_unique<BinaryFile>(path, true);
        coder = std::make_unique<BitstreamFast>(file.get(), true);
    }
    ~StreamReader() {
        coder.reset();
        file.reset();
        std::filesystem::remove(path);
    }
    BitstreamFast& bits() { return *coder; }

private:
    std::string path;
    std::unique_ptr<BinaryFile> file;
    std::unique_ptr<BitstreamFast> coder;
};

inline std::vector<uint8_t> hexBytes(std::initializer_list<int> values) {
    return std::vector<uint8_t>(values.begin(), values.end());
}

}  // namespace bitstreamtest
