// The decompressor on arbitrary containers of every generation, read once from
// a named file and once from standard input (which steps back through the
// push-back history instead of seeking). Only an Error may end a file, and the
// two reads must agree: the same restored bytes, or both fail.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

struct Restored {
    bool failed = false;
    std::string bytes;
};

Restored restore(const std::string& in, const std::string& out, bool fromStdin) {
    std::filesystem::remove(out);
    Restored r;
    stdinMode = fromStdin;
    try {
        decodeFile(in, out);
    } catch (const Error&) {
        r.failed = true;
    }
    stdinMode = false;
    if (!r.failed) r.bytes = fuzzsupport::slurp(out);
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
    if (fromFile.failed != fromStdin.failed || fromFile.bytes != fromStdin.bytes) {
        std::fprintf(stderr, "file and standard input disagree: %s / %s, %zu / %zu bytes\n",
                     fromFile.failed ? "failed" : "restored", fromStdin.failed ? "failed" : "restored",
                     fromFile.bytes.size(), fromStdin.bytes.size());
        std::abort();
    }
    return 0;
}
