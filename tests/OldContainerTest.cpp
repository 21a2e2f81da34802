// Containers of generations 03 and 02 through the "qo" binary. Nothing here writes
// these generations, so the tests make them with their own writer from real audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "OldContainerWriter.h"
#include "ProgramRun.h"
#include "TestSupport.h"

namespace {

using namespace oldcontainer;
using testsupport::readFileBytes;
using testsupport::writeFileBytes;

// A LIST chunk before the data, and after it an odd-sized chunk with its pad byte and a stray byte.
const Bytes kListChunk = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
const Bytes kTrailer = {'J', 'U', 'N', 'K', 3, 0, 0, 0, 'a', 'b', 'c', 0, 'x'};

// The first `values` sample values of a recording in tests/data, repeated as often as needed.
std::vector<int16_t> repeatedRecording(const std::string& name, size_t values) {
    const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::dataPath(name));
    std::vector<int16_t> samples;
    while (samples.size() < values && !pcm.samples.empty())
        samples.insert(samples.end(), pcm.samples.begin(),
                       pcm.samples.begin() + static_cast<std::ptrdiff_t>(
                                                 std::min(pcm.samples.size(), values - samples.size())));
    return samples;
}

// What a generation-02 container restores: the RIFF header as stored, the 24 bytes of the
// format chunk it keeps, a data chunk and the samples; no other chunk and no trailer.
Bytes generation02Wav(const Bytes& source) {
    const WavParts parts = splitWav(source);
    Bytes wav(source.begin(), source.begin() + 12);
    wav.insert(wav.end(), parts.restHeader.begin(), parts.restHeader.begin() + 24);
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    putLe(wav, static_cast<uint32_t>(2 * parts.samples.size()), 4);
    for (int16_t s : parts.samples) putLe(wav, static_cast<uint16_t>(s), 2);
    return wav;
}

// The WAV file without its trailer: what a container read from standard input restores.
Bytes withoutTrailer(const Bytes& source) {
    return Bytes(source.begin(), source.end() - static_cast<std::ptrdiff_t>(splitWav(source).trailer.size()));
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct RoundTripCase {
    std::string name;
    int version;
    std::string recording;
    int channels;
    size_t values;
    bool seekable;
    uint8_t extraFlags;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

// 16 blocks of 73728 values form a coding segment; 17 blocks and a little more cross a
// key block and end on a short block.
constexpr size_t kPastKeyBlock = 17 * 73728 + 1000;

const RoundTripCase kRoundTrips[] = {
    {"g03_stereo_seekable", 3, "real_bass_st.wav", 2, kPastKeyBlock, true, 0},
    {"g03_stereo_oddcount_noseek", 3, "real_bass_st.wav", 2, kPastKeyBlock + 1, false, 0},
    {"g03_mono_seekable_highbit", 3, "real_tabla_mono.wav", 1, kPastKeyBlock, true, 0x02},
    {"g03_mono_noseek_ignoredbits", 3, "real_tabla_mono.wav", 1, kPastKeyBlock + 1, false, 0xFC},
    {"g03_stereo_empty", 3, "real_bass_st.wav", 2, 0, true, 0},
    {"g03_stereo_odd_single_value", 3, "real_bass_st.wav", 2, 1, true, 0},
    {"g02_stereo_seekable", 2, "real_bass_st.wav", 2, kPastKeyBlock, true, 0},
    {"g02_stereo_oddcount_noseek", 2, "real_bass_st.wav", 2, kPastKeyBlock + 1, false, 0x02},
    {"g02_mono_seekable", 2, "real_tabla_mono.wav", 1, kPastKeyBlock + 1, true, 0},
    {"g02_mono_noseek", 2, "real_tabla_mono.wav", 1, 5000, false, 0},
};

class OldContainerRoundTrip : public ProgramRun, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(OldContainerRoundTrip, RestoresTheWavFromAFileAndFromStandardInput) {
    const RoundTripCase& c = GetParam();
    const Bytes source = makeWav(c.channels, repeatedRecording(c.recording, c.values), kListChunk, kTrailer);
    writeFileBytes((dir / "old.qo").string(),
                   writeOldContainer(splitWav(source), {c.version, c.seekable, c.extraFlags, std::nullopt}));

    const Bytes fromFile = c.version == 3 ? source : generation02Wav(source);
    const RunResult named = run("old.qo named.wav");
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(named.err, "");
    EXPECT_TRUE(contains(named.out, "\rFinished old.qo - time taken: "));
    EXPECT_TRUE(readFileBytes((dir / "named.wav").string()) == fromFile) << "restored file differs";

    const RunResult piped = run("-cinout", "old.qo", "piped.wav");
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.err, "");
    EXPECT_TRUE(readFileBytes((dir / "piped.wav").string()) == withoutTrailer(fromFile))
        << "file restored from standard input differs";
}

INSTANTIATE_TEST_SUITE_P(Containers, OldContainerRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return info.param.name; });

}  // namespace
