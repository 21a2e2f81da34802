#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "container/ContainerFormat.h"
#include "entropy/BinaryFile.h"
#include "pipeline/Transform.h"

class SegmentDecoder;
class WavWriter;

// Reads a container of any generation: checks the header, then hands out the
// decoded samples block by block. At every key block it positions the stream at
// the segment's start (a seek in a file; a skip or a step back on an input that
// cannot seek, such as standard input or a FIFO)
// and starts a fresh model and coder there.
class ContainerReader {
public:
    explicit ContainerReader(const std::string& name);
    ~ContainerReader();
    ContainerReader(const ContainerReader&) = delete;
    ContainerReader& operator=(const ContainerReader&) = delete;

    void readContainerHeader();
    // Block i's samples. Blocks come in order; only key blocks may be asked for out of order.
    void readBlock(SampleBlock& samples, int32_t i);
    // Writes the bytes after the last coding segment and returns their count. A stored
    // trailer offset other than the end of the coded data is a damaged trailer.
    int64_t copyTrailer(WavWriter& writer);

    std::string riffHeader;  // the container's first 12 bytes with "RIFF" restored
    std::string restHeader;  // the stored WAV header chunks
    int channels = 0;
    int32_t sampleCount = 0;
    int32_t blockCount = 0;
    bool seekable = false;
    bool high = false;
    uint32_t storedCrc = 0;
    int version = 0;

private:
    void entropyDecodeBlock(SampleBlock& samples, int32_t count, bool key);
    void positionAtSegment(int32_t segment);
    bool stepBackTo(int64_t target);
    int64_t codedEnd() const;
    void releaseSegment();
    [[noreturn]] void damagedHeader() const;
    [[noreturn]] void damagedTrailer() const;

    BinaryFile file;
    std::string fileName;
    const Generation* gen = nullptr;
    std::vector<int64_t> seekTable;
    int64_t segmentStart = 0;  // where the current coding segment starts
    int64_t trailerOffset = 0;
    // The current segment's coder and model; none before the first block.
    std::unique_ptr<SegmentDecoder> segment;
};
