// The decompressor on arbitrary containers of every generation, read once from
// a named file and once from standard input (which steps back through the
// push-back history instead of seeking). Only an Error may end a file, and the
// two reads must agree: both fail or both finish, with the same checksum
// outcome, and the same file, or none, left under the output name.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "container/Drivers.h"
#include "foundation/Error.h"
#include "foundation/Options.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::prepareDriverRuns();
    return 0;
}

namespace {

// A few header bytes can describe millions of almost silent samples, whose
// decoding would take most of the time: counts above this are folded below it,
// so that an input decodes in milliseconds.
constexpr uint32_t kMaxSamples = 1u << 10;

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

void capSampleCount(std::vector<uint8_t>& c) {
    if (c.size() < 16 || c[0] != 'Q' || c[1] != 'O') return;
    // The count follows the fixed 24-byte format chunk in generation 02, the stored header elsewhere.
    const uint64_t at = c[3] == '2' ? 36 : 16 + uint64_t{le32(c, 12)};
    if (at + 4 > c.size()) return;
    const uint32_t count = le32(c, at);
    if (count <= kMaxSamples || count >= 0x80000000u) return;  // negative counts stay: they are refused
    const uint32_t capped = count % kMaxSamples;
    for (int i = 0; i < 4; ++i) c[at + i] = static_cast<uint8_t>(capped >> (8 * i));
}

// What one restore did: how it ended and what it left under the output name.
struct Restored {
    bool failed = false;
    bool intact = false;  // the samples matched the stored checksum
    bool left = false;    // a file stands under the output name
    std::string bytes;    // that file's bytes

    bool operator==(const Restored&) const = default;
    std::string summary() const {
        return std::string(failed ? "failed" : intact ? "restored" : "checksum mismatch") + ", " +
               (left ? std::to_string(bytes.size()) + " bytes left" : "no output");
    }
};

Restored restore(const std::string& in, const std::string& out, bool fromStdin) {
    std::filesystem::remove(out);
    Restored r;
    stdinMode = fromStdin;
    try {
        RunFiles files;
        r.intact = decodeFile(in, out, files);
    } catch (const Error&) {
        r.failed = true;
    }
    stdinMode = false;
    r.left = std::filesystem::exists(out);
    if (r.left) r.bytes = fuzzsupport::slurp(out);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> container(data, data + size);
    capSampleCount(container);
    const std::string in = fuzzsupport::scratchFile("input.qo", container.data(), container.size());
    const std::string out = fuzzsupport::scratchPath("output.wav");
    const Restored fromFile = restore(in, out, false);

    if (std::freopen(in.c_str(), "rb", stdin) == nullptr) std::abort();
    const Restored fromStdin = restore(in, out, true);
    if (!(fromFile == fromStdin)) {
        std::fprintf(stderr, "file and standard input disagree: %s / %s\n", fromFile.summary().c_str(),
                     fromStdin.summary().c_str());
        std::abort();
    }
    return 0;
}
