#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "container/ContainerFormat.h"
#include "container/Wav.h"
#include "foundation/Error.h"
#include "foundation/Options.h"

namespace {

namespace fs = std::filesystem;

std::string le32(uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

std::string le16(uint32_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }

// A chunk with its pad byte after an odd body.
std::string chunk(const std::string& id, const std::string& body) {
    return id + le32(static_cast<uint32_t>(body.size())) + body + (body.size() % 2 ? std::string(1, '\0') : "");
}

std::string pcmFormat(int channels, int bits) {
    const int frame = channels * bits / 8;
    return chunk("fmt ", le16(1) + le16(channels) + le32(44100) + le32(44100 * frame) + le16(frame) + le16(bits));
}

std::string riff(const std::string& chunks) { return "RIFF" + le32(static_cast<uint32_t>(4 + chunks.size())) + "WAVE" + chunks; }

std::vector<uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

struct Rebuilt {
    std::string notes;  // what the reader printed
    int channels = 0, bits = 0;
    size_t restHeaderSize = 0;
    int32_t dataSize = 0;
    std::vector<int16_t> samples;
    uint32_t crc = 0;
    std::vector<uint8_t> bytes;  // the file written back
};

class WavFiles : public ::testing::Test {
protected:
    void SetUp() override {
        overwriteMode = false;
        dir = fs::temp_directory_path() / ("qo_wav_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string scratch(const std::string& name) { return (dir / name).string(); }

    std::string fixture(const std::string& name, const std::string& content) {
        const std::string path = scratch(name);
        testsupport::writeFileBytes(path, bytesOf(content));
        return path;
    }

    // Splits a WAV file into header, samples (in blocks, as the compressor reads
    // them) and trailer, and writes them back through WavWriter.
    Rebuilt rebuild(const std::string& path) {
        Rebuilt r;
        const std::string out = scratch("rebuilt_" + fs::path(path).filename().string());
        ::testing::internal::CaptureStdout();
        {
            WavReader reader(path);
            r.notes = ::testing::internal::GetCapturedStdout();
            r.channels = fmtChannels(reader.restHeader);
            r.bits = fmtBitsPerSample(reader.restHeader);
            r.restHeaderSize = reader.restHeader.size();
            r.dataSize = reader.dataSize;
            const int32_t n = reader.dataSize / 2;
            RunFiles files;
            WavWriter writer(out, files);
            writer.writeWavHeader(reader.riffHeader, reader.restHeader, n);
            Crc32 crc;
            std::vector<int16_t> block;
            for (int32_t done = 0; done < n; done += 61440) {
                reader.readWavSamples(std::min(61440, n - done), block, crc);
                writer.writeWavSamples(block);
                r.samples.insert(r.samples.end(), block.begin(), block.end());
            }
            writer.writeRawBytes(reader.readRemainingBytes());
            writer.finish();
            r.crc = crc.value();
        }
        r.bytes = testsupport::readFileBytes(out);
        fs::remove(out);
        return r;
    }

    void expectExactRebuild(const std::string& path) {
        const Rebuilt r = rebuild(path);
        const std::vector<uint8_t> original = testsupport::readFileBytes(path);
        EXPECT_EQ(r.bytes, original) << path;
        const testsupport::Pcm pcm = testsupport::loadPcm16(path);
        EXPECT_EQ(r.samples, pcm.samples) << path;
        const std::vector<uint8_t> sampleBytes = testsupport::littleEndianBytes(pcm.samples);
        EXPECT_EQ(r.crc, testsupport::bitwiseCrcRegister(sampleBytes.data(), sampleBytes.size())) << path;
    }

    template <typename Body>
    void expectError(Body body, const std::string& message, const std::string& what) {
        try {
            body();
            ADD_FAILURE() << what << ": no Error";
        } catch (const Error& e) {
            EXPECT_EQ(e.message, message) << what;
        }
    }

    fs::path dir;
};

TEST_F(WavFiles, EveryTestDataFileRebuildsByteForByte) {
    int files = 0;
    for (const auto& entry : fs::directory_iterator(QO_TEST_DATA_DIR))
        if (entry.path().extension() == ".wav") {
            expectExactRebuild(entry.path().string());
            ++files;
        }
    EXPECT_GE(files, 15);
}

TEST_F(WavFiles, EveryCorpusFileRebuildsByteForByte) {
    QO_REQUIRE_CORPUS();
    for (const auto& entry : fs::directory_iterator(QO_CORPUS_DIR))
        if (entry.path().extension() == ".wav") expectExactRebuild(entry.path().string());
}

// Format values, stored header length and the notes printed, for the
// structures the compressor meets; 8-, 24- and 32-bit files are recognisable.
TEST_F(WavFiles, HeaderFieldsAndNotes) {
    const struct {
        const char* file;
        int channels, bits;
        size_t restHeader;
        int32_t dataSize;
        const char* notes;
    } cases[] = {
        {"edge_empty_data_st.wav", 2, 16, 24, 0, ""},
        {"edge_one_sample_mono.wav", 1, 16, 24, 2, ""},
        {"small_edge_3ch_16bit.wav", 3, 16, 24, 1800, ""},
        {"small_edge_odd_frames_st.wav", 2, 16, 24, 1204, ""},
        {"small_edge_fmt18_mono.wav", 1, 16, 26, 600, "Warning: irregular format block size: 18\n"},
        // An odd-sized format chunk is followed by its pad byte, which belongs to it.
        {"small_edge_fmt17_pad_mono.wav", 1, 16, 26, 600, "Warning: irregular format block size: 17\n"},
        {"small_edge_extensible_st.wav", 2, 16, 48, 1200, "Warning: irregular format block size: 40\n"},
        {"small_edge_list_trailing_st.wav", 2, 16, 24 + 8 + 54, 1200, "Encountered non-data block: LIST, size: 54\n"},
        {"small_reject_pcm8_mono.wav", 1, 8, 24, 300, ""},
        {"small_reject_pcm24_st.wav", 2, 24, 24, 1800, ""},
        {"small_reject_float32_mono.wav", 1, 32, 24, 1200, ""},
    };
    for (const auto& c : cases) {
        const Rebuilt r = rebuild(testsupport::dataPath(c.file));
        EXPECT_EQ(r.channels, c.channels) << c.file;
        EXPECT_EQ(r.bits, c.bits) << c.file;
        EXPECT_EQ(r.restHeaderSize, c.restHeader) << c.file;
        EXPECT_EQ(r.dataSize, c.dataSize) << c.file;
        EXPECT_EQ(r.notes, c.notes) << c.file;
    }
    // The bytes after the data chunk are the trailer, carried unchanged.
    const std::vector<uint8_t> list = testsupport::readFileBytes(testsupport::dataPath("small_edge_list_trailing_st.wav"));
    EXPECT_EQ(list.size(), 12u + 86 + 8 + 1200 + 116);
}

TEST_F(WavFiles, ChunksBeforeTheData) {
    const std::string samples = le16(0x1234) + le16(0xFFFF) + le16(0x8000);
    // An odd-sized chunk keeps its pad byte; only "data" in lower case ends the header.
    const std::string list = chunk("LIST", std::string(25, 'x'));
    const std::string capitals = chunk("DATA", "abcd");
    const std::string path = fixture("chunks.wav", riff(pcmFormat(1, 16) + list + capitals + chunk("data", samples)));

    const Rebuilt r = rebuild(path);
    EXPECT_EQ(r.notes, "Encountered non-data block: LIST, size: 25\nEncountered non-data block: DATA, size: 4\n");
    EXPECT_EQ(r.restHeaderSize, 24u + 34 + 12);
    EXPECT_EQ(r.samples, (std::vector<int16_t>{0x1234, -1, INT16_MIN}));
    EXPECT_EQ(r.bytes, testsupport::readFileBytes(path));
}

// The values' bytes go out low byte first whatever the host's byte order.
TEST_F(WavFiles, SamplesAreWrittenLowByteFirst) {
    const std::string path = scratch("written.wav");
    {
        RunFiles files;
        WavWriter writer(path, files);
        writer.writeWavSamples({0x1234, -2, INT16_MIN, 0x007F});
        writer.finish();
    }
    EXPECT_EQ(testsupport::readFileBytes(path), (std::vector<uint8_t>{0x34, 0x12, 0xFE, 0xFF, 0x00, 0x80, 0x7F, 0x00}));
}

TEST_F(WavFiles, OddDataSizeStartsTheTrailerWithItsLastByte) {
    const std::string data = le16(7) + le16(8) + "z";
    const std::string after = chunk("JUNK", "tail");
    const std::string path = fixture("odd.wav", riff(pcmFormat(1, 16) + "data" + le32(5) + data + std::string(1, '\0') + after));
    {
        WavReader reader(path);
        EXPECT_EQ(reader.dataSize, 5);
        Crc32 crc;
        std::vector<int16_t> block;
        reader.readWavSamples(2, block, crc);
        EXPECT_EQ(block, (std::vector<int16_t>{7, 8}));
        EXPECT_EQ(reader.readRemainingBytes(), std::string("z\0", 2) + after);
    }
    // The rebuilt header states the even size of the whole samples.
    const Rebuilt r = rebuild(path);
    const std::string written(r.bytes.begin(), r.bytes.end());
    EXPECT_EQ(written.substr(36, 8), "data" + le32(4));
}

TEST_F(WavFiles, SampleReadsKeepTheChecksumAndRefuseADataChunkCutShort) {
    const std::string path = fixture("short.wav", riff(pcmFormat(2, 16) + "data" + le32(400) + le16(5) + le16(6) + le16(7)));
    WavReader reader(path);
    Crc32 crc;
    std::vector<int16_t> block(3, 99);
    reader.readWavSamples(0, block, crc);
    EXPECT_TRUE(block.empty());
    EXPECT_EQ(crc.value(), 0xFFFFFFFFu);

    reader.readWavSamples(2, block, crc);
    EXPECT_EQ(block, (std::vector<int16_t>{5, 6}));
    const uint8_t bytes[] = {5, 0, 6, 0};
    EXPECT_EQ(crc.value(), testsupport::bitwiseCrcRegister(bytes, 4));

    // The file ends 394 bytes before its data chunk says: never archive invented zeros.
    try {
        reader.readWavSamples(198, block, crc);
        ADD_FAILURE() << "a data chunk cut short was read as complete";
    } catch (const Error& e) {
        EXPECT_EQ(e.message, "Error - unexpected end of file.");
    }
}

TEST_F(WavFiles, DamagedHeadersEndWithAnError) {
    const std::string fmt = pcmFormat(1, 16);
    const std::string data = chunk("data", le16(1));
    const std::string header = "Error: invalid .wav header for file - ";
    const std::string endOfFile = "Error - unexpected end of file.";
    const struct {
        const char* what;
        std::string content;
        std::string message;  // empty: the header message with the file's name
    } cases[] = {
        {"not RIFF", "RIFX" + riff(fmt + data).substr(4), ""},
        {"not WAVE", riff(fmt + data).replace(8, 4, "AVI "), ""},
        {"format chunk not first", riff(chunk("LIST", "abcd") + fmt + data), ""},
        {"negative format size", riff("fmt " + le32(0xFFFFFFF0u) + fmt.substr(8) + data), ""},
        {"negative chunk size", riff(fmt + "LIST" + le32(0x80000000u) + "abcd" + data), ""},
        {"shorter than a header", riff(fmt).substr(0, 30), endOfFile},
        {"no data chunk", riff(fmt), endOfFile},
        {"cut inside a chunk", riff(fmt + "LIST" + le32(100) + "abc"), endOfFile},
        {"chunk larger than the file", riff(fmt + "LIST" + le32(0x7FFFFFF1u) + data), endOfFile},
        {"format larger than the file", riff("fmt " + le32(0x7FFFFFF0u) + fmt.substr(8) + data), endOfFile},
    };
    for (const auto& c : cases) {
        const std::string path = fixture("damaged.wav", c.content);
        ::testing::internal::CaptureStdout();
        expectError([&] { WavReader reader(path); }, c.message.empty() ? header + path : c.message, c.what);
        ::testing::internal::GetCapturedStdout();
    }
}

#if !defined(__SANITIZE_ADDRESS__)
// Exits 0 when the reader ends with the end-of-file Error under a 512 MiB address-space limit.
[[noreturn]] void readUnderMemoryLimit(const std::string& path) {
    const rlimit limit{512u << 20, 512u << 20};
    setrlimit(RLIMIT_AS, &limit);
    try {
        ::testing::internal::CaptureStdout();
        WavReader reader(path);
    } catch (const Error& e) {
        std::exit(e.message == "Error - unexpected end of file." ? 0 : 2);
    }
    std::exit(3);
}
#endif

// A size field near 2^31 in a tiny file must not turn into an allocation of that
// size: under a 512 MiB address-space limit the reader still ends with an Error.
TEST_F(WavFiles, HugeSizeFieldsNeedNoHugeAllocation) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit does not combine with AddressSanitizer";
#else
    const std::string fmt = pcmFormat(1, 16);
    const std::string path = fixture("huge.wav", riff(fmt + "LIST" + le32(0x7FFFFFFFu) + chunk("data", "ab")));
    EXPECT_EXIT(readUnderMemoryLimit(path), ::testing::ExitedWithCode(0), "");
#endif
}

// Exits 0 when a reader over standard input (bound to the file) sees the header,
// the samples and the trailer that the named file holds.
[[noreturn]] void readFromStandardInput(const std::string& path, const std::string& trailer) {
    if (std::freopen(path.c_str(), "rb", stdin) == nullptr) std::exit(2);
    ::testing::internal::CaptureStdout();
    WavReader reader("");
    Crc32 crc;
    std::vector<int16_t> block;
    reader.readWavSamples(reader.dataSize / 2, block, crc);
    const bool ok = reader.restHeader.size() == 24 + 8 + 54 && block.size() == 600 &&
                    reader.readRemainingBytes() == trailer;
    std::exit(ok ? 0 : 3);
}

TEST_F(WavFiles, StandardInputIsReadToItsEnd) {
    const std::string path = testsupport::dataPath("small_edge_list_trailing_st.wav");
    const std::vector<uint8_t> bytes = testsupport::readFileBytes(path);
    const std::string trailer(bytes.end() - 116, bytes.end());
    EXPECT_EXIT(readFromStandardInput(path, trailer), ::testing::ExitedWithCode(0), "");
}

TEST(WavFormat, FormatFieldsOfAShortHeaderAreRefused) {
    const std::string twelve = "fmt " + le32(16) + le16(1) + le16(2);
    EXPECT_EQ(fmtChannels(twelve), 2);
    for (const auto& field : {fmtChannels, fmtBitsPerSample}) {
        try {
            field(twelve.substr(0, 11));
            ADD_FAILURE() << "no Error";
        } catch (const Error& e) {
            EXPECT_EQ(e.message, "Input data corrupt");
        }
    }
    EXPECT_THROW(fmtBitsPerSample(twelve), Error);
}

}  // namespace
