// The decompressor on arbitrary containers of every generation, read once from
// a named file and once from standard input (which steps back through the
// push-back history instead of seeking). Only an Error may end a file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "FuzzSupport.h"
#include "container/Drivers.h"
#include "foundation/Error.h"
#include "foundation/Options.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::prepareDriverRuns();
    return 0;
}

namespace {
void decodeGuarded(const std::string& in, const std::string& out) {
    try {
        decodeFile(in, out);
    } catch (const Error&) {
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = fuzzsupport::scratchFile("input.qo", data, size);
    const std::string out = fuzzsupport::scratchPath("output.wav");
    stdinMode = false;
    decodeGuarded(in, out);

    if (std::freopen(in.c_str(), "rb", stdin) == nullptr) std::abort();
    stdinMode = true;
    decodeGuarded(in, out);
    stdinMode = false;
    return 0;
}
