#include "container/Wav.h"

#include <algorithm>
#include <cstdio>

#include "foundation/ByteOrder.h"
#include "foundation/Error.h"
#include "foundation/Names.h"

namespace {

constexpr int32_t readPiece = 10000;
constexpr int32_t regularFmtSize = 16;

uint32_t littleEndian(const std::string& bytes, size_t at, size_t count) {
    uint32_t value = 0;
    for (size_t i = count; i-- > 0;) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

int fmtField(const std::string& header, size_t offset) {
    // A stored header too short for the field can only come from a damaged container.
    if (header.size() < offset + 2) throw Error("Input data corrupt");
    return static_cast<int>(littleEndian(header, offset, 2));
}

void printNote(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

WavReader::WavReader(const std::string& fileName)
    : file(std::make_unique<BinaryFile>(fileName, true)), name(fileName) {
    readWavHeader();
}

void WavReader::invalidHeader() const {
    throw Error("Error: invalid .wav header for file - " + inputName(name), Error::Subject::input);
}

// Grows the result as the pieces arrive, so a size field larger than the input
// ends at the end-of-file rule rather than in one huge allocation.
std::string WavReader::readBytes(int32_t n) {
    std::string bytes;
    for (int32_t done = 0; done < n;) {
        const int32_t piece = std::min(readPiece, n - done);
        bytes.resize(static_cast<size_t>(done + piece));
        file->read(bytes.data() + done, piece);
        done += piece;
    }
    return bytes;
}

int32_t WavReader::readLittleEndian(int32_t n) {
    const std::string bytes = readBytes(n);
    return static_cast<int32_t>(littleEndian(bytes, 0, std::min<size_t>(bytes.size(), 4)));
}

void WavReader::readWavHeader() {
    riffHeader = readBytes(12);
    restHeader = readBytes(24);
    if (riffHeader.compare(0, 4, "RIFF") != 0 || riffHeader.compare(8, 4, "WAVE") != 0 ||
        restHeader.compare(0, 3, "fmt") != 0)
        invalidHeader();

    const int32_t fmtSize = static_cast<int32_t>(littleEndian(restHeader, 4, 4));
    if (fmtSize < 0) invalidHeader();
    if (fmtSize != regularFmtSize)
        printNote("Warning: irregular format block size: " + std::to_string(fmtSize) + "\n");
    if (fmtSize > regularFmtSize) {
        restHeader += readBytes(fmtSize - regularFmtSize);
        if (fmtSize % 2 != 0) restHeader += readBytes(1);
    }

    for (std::string id = readBytes(4); id != "data"; id = readBytes(4)) {
        const std::string sizeBytes = readBytes(4);
        const int32_t size = static_cast<int32_t>(littleEndian(sizeBytes, 0, 4));
        if (size < 0) invalidHeader();
        printNote("Encountered non-data block: " + id + ", size: " + std::to_string(size) + "\n");
        std::string body = readBytes(size);
        if (size % 2 != 0) body += readBytes(1);
        restHeader += id + sizeBytes + body;
    }
    dataSize = readLittleEndian(4);
}

void WavReader::readWavSamples(int32_t count, std::vector<int16_t>& samples, Crc32& crc) {
    const size_t values = static_cast<size_t>(std::max(count, 0));
    if (samples.size() != values) samples.resize(values);
    file->read(samples.data(), static_cast<int32_t>(2 * values));
    swapLittleEndian(samples.data(), values);
    // The read met the end only if the data chunk is shorter than its size says:
    // compressing the zeros put in place of the missing bytes would report a
    // damaged file as a good archive.
    if (values > 0 && !file->notAtEnd()) throw Error("Error - unexpected end of file.");
    crc.updateSamples(samples.data(), values);
}

std::string WavReader::readRemainingBytes() {
    std::string rest;
    for (char byte; file->getByte(byte);) rest += byte;
    tail.feed(rest.data(), rest.size());
    return rest;
}

int64_t WavReader::bytesAfterHeader() const {
    return file->length() < 0 ? -1 : file->length() - file->position();
}

int64_t WavReader::riffShortfall() const {
    return ::riffShortfall(riffHeader, restHeader, dataSize, tail);
}

int fmtChannels(const std::string& header) { return fmtField(header, 10); }
int fmtBitsPerSample(const std::string& header) { return fmtField(header, 22); }

int64_t riffShortfall(const std::string& riffHeader, const std::string& restHeader, int64_t dataBytes,
                      const ChunkTail& tail) {
    // The data chunk's id and size field stand between the stored chunks and the samples.
    const int64_t length = static_cast<int64_t>(riffHeader.size() + restHeader.size()) + 8 + dataBytes + tail.length();
    const uint32_t riffSize = littleEndian(riffHeader, 4, 4);
    if (riffSize == 0 || riffSize == 0xFFFFFFFFu) return 0;
    const int64_t missing = int64_t{riffSize} + 8 - length;
    if (missing <= 0 || (missing == 1 && tail.endsBeforePadByte())) return 0;
    return missing;
}

std::string shortfallText(int64_t missing) {
    return std::to_string(missing) + (missing == 1 ? " byte" : " bytes") + " shorter than its RIFF header gives";
}

WavWriter::WavWriter(const std::string& name, RunFiles& files) : output(name, files) {}

void WavWriter::writeWavHeader(const std::string& riffHeader, const std::string& restHeader, int32_t sampleCount) {
    writeBytes(riffHeader);
    writeBytes(restHeader);
    writeBytes("data");
    output.stream().writeInt32(static_cast<int32_t>(2u * static_cast<uint32_t>(sampleCount)));
    output.stream().flush();
    restHeaderSize = static_cast<int64_t>(restHeader.size());
}

void WavWriter::writeWavSamples(const std::vector<int16_t>& samples) {
    std::vector<int16_t> swapped;
    output.stream().write(littleEndianValues(samples, swapped), static_cast<int32_t>(2 * samples.size()));
    output.stream().flush();
    sampleBytes += static_cast<int64_t>(2 * samples.size());
}

void WavWriter::writeRawBytes(const std::string& bytes) {
    writeBytes(bytes);
    tail.feed(bytes.data(), bytes.size());
}

void WavWriter::writeBytes(const std::string& bytes) {
    output.stream().write(bytes.data(), static_cast<int32_t>(bytes.size()));
    output.stream().flush();
}

PendingOutput::Outcome WavWriter::abandon() {
    const bool keep = sampleBytes > 0;
    // Sizes are patched only while the output is pending: a commit that failed has ended it.
    if (keep && output.pending() && output.staged() && restHeaderSize >= 0) {
        try {
            // RIFF size: "WAVE", the stored chunks, the data chunk's header, its
            // samples and what came of the chunks after them.
            output.seek(4);
            output.stream().writeInt32(static_cast<int32_t>(4 + restHeaderSize + 8 + sampleBytes + tail.length()));
            output.seek(12 + restHeaderSize + 4);
            output.stream().writeInt32(static_cast<int32_t>(sampleBytes));
        } catch (const Error&) {
            return output.abandon(false);
        }
    }
    return output.abandon(keep);
}
