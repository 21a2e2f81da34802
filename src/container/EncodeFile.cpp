#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "container/ContainerFormat.h"
#include "container/Drivers.h"
#include "container/PendingOutput.h"
#include "container/Progress.h"
#include "container/Wav.h"
#include "entropy/BinaryFile.h"
#include "entropy/ModelSmooth04.h"
#include "entropy/RangeCoder.h"
#include "foundation/Diagnostics.h"
#include "foundation/Error.h"
#include "foundation/Names.h"
#include "foundation/Options.h"
#include "foundation/Registry.h"
#include "pipeline/PredictorChain.h"
#include "pipeline/TransformerCombiner.h"

namespace {

// The data chunk size 0xFFFFFFFF, as read: left by a writer that did not know the length.
constexpr int32_t kUnstatedLength = -1;

// The coding segment's model and coder: created at a key block, finished and
// released after the segment's last block. They belong to one file.
class SegmentEncoder {
public:
    void entropyEncodeBlock(int channels, const SampleBlock& samples, BinaryFile& output, bool last) {
        if (!model) {
            coder = std::make_unique<RangeCoder>(output, RangeCoder::Mode::encoding);
            model = std::make_unique<ModelSmooth04>(channels, coder.get());
        }
        model->encodeResiduals(samples);
        if (last) {
            model->finishEncoding();
            model.reset();
            coder.reset();
        }
    }

private:
    std::unique_ptr<RangeCoder> coder;
    std::unique_ptr<ModelSmooth04> model;
};

// Writes the whole container: the header with placeholders, the coded blocks,
// the trailer, then the patched checksum, seek table and trailer offset. Returns
// the container's size.
int64_t writeContainer(WavReader& wav, PendingOutput& pending, int32_t n, bool seekable, bool high,
                       const std::string& name) {
    const Generation& gen = generation04;
    const int channels = fmtChannels(wav.restHeader);
    BinaryFile& out = pending.stream();
    std::string magic = wav.riffHeader;
    magic.replace(0, 4, gen.magic);
    out.write(magic.data(), 12);
    out.writeInt32(static_cast<int32_t>(wav.restHeader.size()));
    out.write(wav.restHeader.data(), static_cast<int32_t>(wav.restHeader.size()));
    out.writeInt32(n);
    out.writeByte(containerFlags(seekable, high));
    const int64_t crcPos = pending.tell();
    out.writeInt32(0);
    const int32_t blocks = gen.blockCount(n);
    for (int32_t k = 0; k < gen.seekEntryCount(blocks, seekable); ++k) out.writeInt32(0);
    const int64_t trailerPos = pending.tell();
    out.writeInt32(0);

    const std::string label = "Encoding " + name;
    Crc32 crc;
    SampleBlock block;
    SegmentEncoder segment;
    int32_t seekEntry = 1;
    int64_t done = 0;
    int32_t i = 0;
    while (done < n) {
        const int64_t pos = pending.tell();
        if (!stdoutMode) std::printf(" (%.1f%%) ", static_cast<double>(pos) * 50.0 / static_cast<double>(done));
        if (seekable && done > 0 && i % gen.seekInterval == 0) {
            pending.seek(crcPos + 4 * seekEntry);
            out.writeInt32(static_cast<int32_t>(pos));
            pending.seek(pos);
            ++seekEntry;
        }
        showProgress(i, blocks, label);

        startTimer("Loading data from wav");
        wav.readWavSamples(static_cast<int32_t>(std::min<int64_t>(gen.blockSize, n - done)), block, crc);
        stopTimer("Loading data from wav");
        if (hasPadValue(channels, static_cast<int32_t>(block.size()))) block.push_back(0);

        const StageList stages = buildPredictorChain(high, channels, gen.isKeyBlock(i, seekable), gen.version);
        TransformerCombiner(stages).transformFast(block);

        startTimer("Entropy Coding");
        done += gen.blockSize;
        const bool last = done >= n || (seekable && (i + 1) % gen.seekInterval == 0);
        segment.entropyEncodeBlock(channels, block, out, last);
        stopTimer("Entropy Coding");
        ++i;
    }
    showProgress(i, blocks, label);

    const int64_t end = pending.tell();
    pending.seek(trailerPos);
    out.writeInt32(static_cast<int32_t>(end));
    pending.seek(end);
    const std::string trailer = wav.readRemainingBytes();
    out.write(trailer.data(), static_cast<int32_t>(trailer.size()));
    const int64_t size = pending.tell();
    pending.seek(crcPos);
    out.writeInt32(static_cast<int32_t>(crc.value()));
    return size;
}

}  // namespace

void encodeFile(const std::string& inName, const std::string& outName, bool seekable, bool high, RunFiles& files) {
    startTimer("everything");
    const std::string name = stdinMode ? std::string() : inName;
    WavReader wav(name);
    const int channels = fmtChannels(wav.restHeader);
    if (fmtBitsPerSample(wav.restHeader) != 16) throw Error("Error - Qo currently only supports 16-bit files!");
    // The container states the sample count before the first block, so a stream
    // must say its length up front.
    if (wav.dataSize == kUnstatedLength)
        throw Error("Error - the wav header gives no length (as programs writing wav to a pipe leave it); "
                    "write the wav to a file first.");
    if (wav.dataSize < 0) throw Error("Error - wav data of 2 GB or more is not supported.");
    // The container keeps whole samples and restores the data size as twice their
    // count: an odd last byte would come back after them and move every later chunk.
    if (wav.dataSize % 2 != 0)
        throw Error("Error - wav data chunk of odd size (" + std::to_string(wav.dataSize) +
                    " bytes) is not supported: the file would not be restored exactly.");
    // A file tells its length: one shorter than its data chunk says is refused before any output.
    const int64_t held = wav.bytesAfterHeader();
    if (held >= 0 && held < wav.dataSize)
        throw Error("Error - the data chunk of " + inputName(name) + " gives " + std::to_string(wav.dataSize) +
                    " bytes of samples, but the file holds only " + std::to_string(held) +
                    " bytes after the chunk's header.",
                    Error::Subject::input);
    const int32_t n = wav.dataSize / 2;
    if (n % 2 != 0 && channels == 2)
        printWarning("Warning: wav file is stereo but has odd number of samples!");
    else if (channels > 2)
        printWarning("Warning: wav file contains more than 2 channels - only mono or stereo currently supported!");

    PendingOutput pending(outName, files, PendingOutput::Access::seeking);
    int64_t size = 0;
    try {
        size = writeContainer(wav, pending, n, seekable, high, displayName(inName));
        pending.commit();
    } catch (const Error& failure) {
        const bool kept = pending.abandon(false) == PendingOutput::Outcome::existingKept;
        throw failure.noted(kept ? keptExistingNote(outName) : "").noted(pending.leftoverNote());
    }
    stopTimer("everything");

    if (!stdoutMode)
        std::printf("\rFinished %s - size: %d ratio: %.1f%% time taken: %.1fs\n", baseName(inName).c_str(),
                    static_cast<int>(size), static_cast<double>(size / 2) / n * 100.0,
                    static_cast<double>(timerTotals["everything"]) * 0.000001);
    // The container gives back exactly what the file held, so its restore reports the same shortfall.
    if (const int64_t missing = wav.riffShortfall(); missing > 0)
        printWarning("Warning: " + inputName(name) + " is " + shortfallText(missing) +
                         "; its restore will report it as incomplete.",
                     Error::Subject::input);
    if (debugMode) writeDebugReport("debugenc.txt", files);
}
