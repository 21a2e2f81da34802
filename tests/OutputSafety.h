#pragma once
// The fixture of the tests of what becomes of outputs, through the "qo" binary:
// real stereo audio of any length, compressed in a scratch folder, and a watch
// for the temporary file of a running output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ProgramRun.h"
#include "TestSupport.h"

namespace outputtests {

using Bytes = std::vector<uint8_t>;
using testsupport::readFileBytes;
using testsupport::writeFileBytes;

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The name qo gives an output while it is written.
inline bool isTemporary(const std::string& name) { return name.rfind(".qo-", 0) == 0; }

inline uint32_t le32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

// Real stereo audio repeated to the given number of values, with a chunk after
// the samples, as recorders write them.
inline Bytes stereoWav(size_t values, int16_t sign = 1) {
    const testsupport::Pcm pcm = testsupport::loadPcm16(testsupport::dataPath("real_bass_st.wav"));
    std::vector<int16_t> samples;
    while (samples.size() < values)
        for (int16_t s : pcm.samples) samples.push_back(static_cast<int16_t>(sign * s));
    samples.resize(values);
    Bytes wav = testsupport::canonicalWav(2, samples);
    const Bytes trailer = {'J', 'U', 'N', 'K', 6, 0, 0, 0, 't', 'a', 'g', 's', '!', '!'};
    wav.insert(wav.end(), trailer.begin(), trailer.end());
    const uint32_t riff = static_cast<uint32_t>(wav.size() - 8);
    for (int i = 0; i < 4; ++i) wav[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    return wav;
}

// Over 21 blocks of 61440 values: two coding segments.
constexpr size_t kTwoSegments = 21u * 61440u;
// Over a minute of stereo: long enough to be interrupted part-way.
constexpr size_t kLong = 90u * 61440u;

class OutputSafety : public ProgramRun {
protected:
    void SetUp() override {
        ProgramRun::SetUp();
        launcher = "timeout 120";
    }

    Bytes bytes(const std::string& name) const { return readFileBytes((dir / name).string()); }
    void put(const std::string& name, const Bytes& content) const { writeFileBytes((dir / name).string(), content); }

    // Compresses content as name.wav into name.qo and returns the container.
    Bytes compress(const std::string& name, const Bytes& content, const std::string& flags = "") {
        put(name + ".wav", content);
        const RunResult r = run("-overwrite " + flags + " " + name + ".wav " + name + ".qo");
        EXPECT_EQ(r.status, 0) << r.err;
        return bytes(name + ".qo");
    }

    // The name of the temporary file of a running output in folder (the scratch
    // folder when empty), once it holds at least minSize bytes.
    std::string awaitTemporary(uintmax_t minSize, const std::string& folder = "") const {
        for (int i = 0; i < 20000; ++i) {
            for (const auto& entry : std::filesystem::directory_iterator(dir / folder)) {
                std::error_code ec;
                if (isTemporary(entry.path().filename()) && std::filesystem::file_size(entry.path(), ec) >= minSize)
                    return entry.path().filename();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return "";
    }

    // Runs qo as the unprivileged user nobody from now on where this process is
    // root; false, with the reason, where that cannot be done here.
    bool runAsNobody(std::string& why) {
        if (::geteuid() != 0) {
            why = "not root: qo cannot be run as another user";
            return false;
        }
        if (std::system("command -v setpriv >/dev/null") != 0) {
            why = "setpriv is not installed to run qo as another user";
            return false;
        }
        // The scratch folder must be reachable by that user: a checkout under a
        // private folder (mktemp -d makes them 0700) is not.
        const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        if (std::system((asNobody + "test -x '" + dir.string() + "'").c_str()) != 0) {
            why = "the scratch folder is not reachable by another user here";
            return false;
        }
        launcher = asNobody + "timeout 60";
        return true;
    }
};

}  // namespace outputtests
