// Compress and decompress arbitrary samples behind a valid 16-bit WAV header.
// The first byte picks the channel count (1, 2 or 3), normal or high mode,
// seekable or not, and whether the samples are repeated to fill several blocks;
// the second the number of bytes, from the end, that follow the data chunk as a
// trailer; the rest are the sample bytes. Repeated samples start with three more
// bytes: the number of whole blocks (1 or 2) and, low byte first, the values
// beyond them (up to 65535); a block is 61440 values, so the file spans up to
// four blocks, however short the input. The restored file must equal the input,
// unless the compressor refused the input with an Error.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "container/Drivers.h"
#include "foundation/Error.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::prepareDriverRuns();
    return 0;
}

namespace {

std::string le(uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

std::string wavFile(int channels, const std::string& samples, const std::string& trailer) {
    const uint32_t rate = 44100;
    std::string fmt = "fmt " + le(16, 4) + le(1, 2) + le(channels, 2) + le(rate, 4) +
                      le(rate * 2 * channels, 4) + le(2 * channels, 2) + le(16, 2);
    std::string body = "WAVE" + fmt + "data" + le(static_cast<uint32_t>(samples.size()), 4) + samples + trailer;
    return "RIFF" + le(static_cast<uint32_t>(body.size()), 4) + body;
}

constexpr size_t kBlockValues = 61440;

// The sample bytes repeated, from the first, to fill the given number of values;
// silence when there are none.
std::string repeatToFill(const std::string& samples, size_t values) {
    std::string filled(2 * values, '\0');
    if (samples.empty()) return filled;
    for (size_t at = 0; at < filled.size(); at += samples.size())
        filled.replace(at, std::min(samples.size(), filled.size() - at), samples, 0, std::string::npos);
    return filled;
}

[[noreturn]] void failure(const char* what, const std::string& detail) {
    std::fprintf(stderr, "round trip failed: %s %s\n", what, detail.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int channels = 1 + data[0] % 3;
    const bool high = (data[0] & 4) != 0;
    const bool seekable = (data[0] & 8) != 0;
    const bool repeated = (data[0] & 16) != 0;
    if (repeated && size < 5) return 0;
    const size_t skip = repeated ? 5 : 2;
    std::string rest(reinterpret_cast<const char*>(data + skip), size - skip);
    const size_t trailerLength = std::min<size_t>(data[1] % 16, rest.size());
    const std::string trailer = rest.substr(rest.size() - trailerLength);
    rest.resize(rest.size() - trailerLength);
    rest.resize(rest.size() & ~size_t{1});  // whole samples only, so the file comes back exactly
    if (repeated) rest = repeatToFill(rest, (1 + data[2] % 2) * kBlockValues + (data[3] | (data[4] << 8)));

    const std::string wav = wavFile(channels, rest, trailer);
    const std::string in = fuzzsupport::scratchFile("input.wav", reinterpret_cast<const uint8_t*>(wav.data()), wav.size());
    const std::string container = fuzzsupport::scratchPath("packed.qo");
    const std::string back = fuzzsupport::scratchPath("restored.wav");
    try {
        RunFiles files;
        encodeFile(in, container, seekable, high, files);
    } catch (const Error&) {
        return 0;
    }
    try {
        RunFiles files;
        if (!decodeFile(container, back, files)) failure("checksum mismatch", "");
    } catch (const Error& e) {
        failure("decoder error:", e.message);
    }
    if (fuzzsupport::slurp(back) != wav) failure("restored file differs", "");
    return 0;
}
