#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "container/ChunkTail.h"
#include "container/ContainerFormat.h"
#include "container/PendingOutput.h"
#include "entropy/BinaryFile.h"

// Reads a WAV file to be compressed: takes the header apart just far enough to
// find the format chunk and the sample data, keeps every header byte the
// container carries, then hands out the samples and the bytes after them.
// An empty name reads standard input.
class WavReader {
public:
    explicit WavReader(const std::string& name);

    // Reads up to the first sample byte; prints a note for an irregular format
    // chunk and for every chunk met before the data chunk.
    void readWavHeader();
    // Reads count samples into the vector (resized when its size differs) and
    // updates the running checksum over their bytes.
    void readWavSamples(int32_t count, std::vector<int16_t>& samples, Crc32& crc);
    // Everything left in the input: the container's trailer.
    std::string readRemainingBytes();
    // Bytes the input holds after the data chunk's header; -1 when the input cannot
    // tell its length (a stream).
    int64_t bytesAfterHeader() const;
    // Once the remaining bytes are read: how many bytes the input falls short of its
    // RIFF size (riffShortfall).
    int64_t riffShortfall() const;

    std::string riffHeader;  // "RIFF", the RIFF size, "WAVE"
    std::string restHeader;  // the format chunk and every chunk before the data chunk, verbatim
    int32_t dataSize = 0;    // the data chunk's size field as stored

private:
    std::string readBytes(int32_t n);
    int32_t readLittleEndian(int32_t n);
    [[noreturn]] void invalidHeader() const;

    std::unique_ptr<BinaryFile> file;
    std::string name;
    ChunkTail tail;  // the bytes readRemainingBytes returned
};

// Channel count and bits per sample of a stored format chunk (its id first).
int fmtChannels(const std::string& header);
int fmtBitsPerSample(const std::string& header);

// The bytes by which a WAV file falls short of the length that its RIFF header (its
// first 12 bytes) gives, for a file made of that header, the stored header chunks, a
// data chunk of dataBytes and then the chunks of tail. 0 where it does not, where
// the RIFF size is no real length (0 or 0xFFFFFFFF), and where only the pad byte
// after a last chunk of odd size is missing, which writers often leave out.
int64_t riffShortfall(const std::string& riffHeader, const std::string& restHeader, int64_t dataBytes,
                      const ChunkTail& tail);
// How messages state a shortfall: "N bytes shorter than its RIFF header gives".
std::string shortfallText(int64_t missing);

// Writes a restored WAV file through a PendingOutput; every write is flushed at
// once. An empty name writes standard output.
class WavWriter {
public:
    WavWriter(const std::string& name, RunFiles& files);

    // The RIFF header, the stored chunks, then a data chunk header for sampleCount values.
    void writeWavHeader(const std::string& riffHeader, const std::string& restHeader, int32_t sampleCount);
    void writeWavSamples(const std::vector<int16_t>& samples);
    // Bytes after the samples: the chunks that followed them.
    void writeRawBytes(const std::string& bytes);

    // Puts the file in place; one that is not complete (its samples failed their
    // checksum) never replaces a file (PendingOutput::commit).
    PendingOutput::Outcome finish(bool complete = true) { return output.commit(complete); }
    // Ends a failed restore. Where no file stands under the name, the samples
    // written so far (and the chunks after them, as far as they came) are kept
    // there, and the header's RIFF and data sizes are made to match them; a file
    // that stands there is kept unchanged. After a failed finish() the output has
    // ended already and stays as that left it.
    PendingOutput::Outcome abandon();

    int64_t samplesWritten() const { return sampleBytes / 2; }
    // The bytes written after the samples: the chunks that followed them.
    const ChunkTail& trailer() const { return tail; }
    const std::string& name() const { return output.name(); }
    const std::string& leftoverNote() const { return output.leftoverNote(); }

private:
    void writeBytes(const std::string& bytes);

    PendingOutput output;
    int64_t restHeaderSize = -1;  // -1 until a header is written
    int64_t sampleBytes = 0;
    ChunkTail tail;
};
