// Writes generation-02 and -03 containers of WAV files, for the seeds of the fuzz
// targets that read whole containers. The program never writes these generations;
// the tests' own writer of them makes containers that restore with a matching
// checksum, so the fuzzers start from old containers that get past the first checks.
//
//   old_container_seeds OUTDIR FILE.wav ...
//
// Each mono or stereo file with its format chunk first gives OUTDIR/<name>_gen02.qo,
// <name>_gen03.qo and the same without seek table, <name>_gen02_noseek.qo and
// <name>_gen03_noseek.qo. Other files are passed over with a note.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "OldContainerWriter.h"
#include "TestSupport.h"

namespace {

// True when the bytes are a RIFF/WAVE file whose format chunk comes first and that
// has a data chunk, as the writer's splitter expects.
bool splittable(const oldcontainer::Bytes& wav) {
    if (wav.size() < 20 || std::memcmp(wav.data(), "RIFF", 4) != 0 || std::memcmp(&wav[12], "fmt ", 4) != 0)
        return false;
    for (size_t pos = 12; pos + 8 <= wav.size();) {
        if (std::memcmp(&wav[pos], "data", 4) == 0) return true;
        const uint32_t size = wav[pos + 4] | (wav[pos + 5] << 8) | (wav[pos + 6] << 16) | (uint32_t{wav[pos + 7]} << 24);
        pos += 8 + uint64_t{size} + (size & 1);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: old_container_seeds OUTDIR FILE.wav ...\n");
        return 2;
    }
    const std::filesystem::path out = argv[1];
    for (int a = 2; a < argc; ++a) {
        const std::filesystem::path wav = argv[a];
        const oldcontainer::Bytes bytes = testsupport::readFileBytes(wav.string());
        if (!splittable(bytes)) {
            std::fprintf(stderr, "%s: no format chunk first or no data chunk, passed over\n", argv[a]);
            continue;
        }
        const oldcontainer::WavParts parts = oldcontainer::splitWav(bytes);
        if (parts.restHeader.size() < 24 || (parts.channels() != 1 && parts.channels() != 2)) {
            std::fprintf(stderr, "%s: not mono or stereo, passed over\n", argv[a]);
            continue;
        }
        for (const int version : {2, 3})
            for (const bool seekable : {true, false}) {
                const std::string name = wav.stem().string() + "_gen0" + std::to_string(version) +
                                         (seekable ? "" : "_noseek") + ".qo";
                testsupport::writeFileBytes((out / name).string(),
                                            oldcontainer::writeOldContainer(parts, {version, seekable, 0, std::nullopt}));
            }
    }
    return 0;
}
