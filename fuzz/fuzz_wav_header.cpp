// The WAV reader on arbitrary bytes: the header, the first block of samples and
// the bytes after them. Only an Error may end a file.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "container/Wav.h"
#include "foundation/Error.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::silenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzsupport::scratchFile("input.wav", data, size);
    try {
        WavReader reader(path);
        const int32_t count = std::clamp<int32_t>(reader.dataSize / 2, 0, 61440);
        std::vector<int16_t> block;
        Crc32 crc;
        reader.readWavSamples(count, block, crc);
        reader.readRemainingBytes();
    } catch (const Error&) {
    }
    return 0;
}
