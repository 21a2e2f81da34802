// The residual decoders fed raw coded streams: ModelSmooth04 over RangeCoder and
// ModelSmooth03/ModelSmooth02 over BitstreamFast. The first bytes pick the
// generation, the channel count (1, 2 or 3), the number of blocks and their
// length; the rest is the coded stream. Only an Error may end the stream.
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "entropy/BinaryFile.h"
#include "entropy/SegmentDecoder.h"
#include "foundation/Arith.h"
#include "foundation/Error.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    initPow2Table();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const int version = 4 - data[0] % 3;
    const int32_t channels = 1 + (data[0] >> 2) % 3;
    const int blocks = 1 + data[1] % 4;
    int32_t count = 1 + static_cast<int32_t>(data[2] | (data[3] << 8)) % (version == 4 ? 61440 : 73728);
    if (channels == 2) count += count & 1;  // the models take whole stereo pairs
    const std::string path = fuzzsupport::scratchFile("stream.bin", data + 4, size - 4);
    try {
        BinaryFile file(path, true);
        SegmentDecoder segment(file, version, channels);
        std::vector<int16_t> out;
        for (int b = 0; b < blocks; ++b) segment.model().decodeResiduals(out, count);
    } catch (const Error&) {
    }
    return 0;
}
