#include "container/ContainerReader.h"

#include <algorithm>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "container/Wav.h"
#include "entropy/SegmentDecoder.h"
#include "foundation/Arith.h"
#include "foundation/Error.h"
#include "foundation/Names.h"
#include "foundation/Options.h"
#include "foundation/Registry.h"
#include "pipeline/PredictorChain.h"
#include "pipeline/TransformerCombiner.h"

namespace {

// Pieces in which header bytes, skipped bytes and the trailer pass through memory,
// so that no number read from a container decides the size of an allocation.
constexpr int32_t kPiece = 1 << 16;

const std::string kUnableToSeek = "Unable to seek - corrupt input file?";

// The smallest stored header that holds a format chunk's channel count.
constexpr int32_t kMinStoredHeader = 12;
// The fields around the stored header: magic, RIFF size, "WAVE" and its length
// before it; sample count, flags, checksum and trailer offset after it.
constexpr int64_t kFixedFields = 29;

}  // namespace

ContainerReader::ContainerReader(const std::string& name) : file(name, true), fileName(name) {
    // The length of the file that was opened, not of whatever the name stands for
    // by now: a name moved or replaced during the restore must not cut the trailer.
    struct stat opened {};
    if (!name.empty()) {
        if (::fstat(::fileno(file.file), &opened) != 0)
            throw Error("Error - cannot read file " + name + " (" + std::strerror(errno) + ").", Error::Subject::input);
        if (S_ISREG(opened.st_mode)) fileLength = static_cast<int64_t>(opened.st_size);
    }
    readContainerHeader();
}

ContainerReader::~ContainerReader() { releaseSegment(); }

void ContainerReader::damagedHeader() const {
    throw Error("Error - file " + inputName(fileName) + " has a damaged header.", Error::Subject::input);
}

void ContainerReader::readContainerHeader() {
    initPow2Table();
    riffHeader.assign(12, '\0');
    file.read(riffHeader.data(), 12);
    if (riffHeader[0] != 'Q' || riffHeader[1] != 'O')
        throw Error("Error - file " + inputName(fileName) + " does not appear to be in .qo format!",
                    Error::Subject::input);
    for (const Generation* g : {&generation02, &generation03, &generation04})
        if (riffHeader.compare(0, 4, g->magic) == 0) gen = g;
    if (gen == nullptr)
        throw Error("Error - file " + inputName(fileName) +
                    " appears to compressed by a different version of Qo.\nVisit "
                    "the qo project page to retrieve the latest version.",
                    Error::Subject::input);
    version = gen->version;
    riffHeader.replace(0, 4, "RIFF");

    int64_t headerEnd = 41;
    int32_t storedLength = 24;
    if (gen->hasTrailer) {
        storedLength = file.readInt32();
        if (storedLength < kMinStoredHeader || (fileLength >= 0 && storedLength + kFixedFields > fileLength))
            damagedHeader();
        headerEnd = int64_t{storedLength} + 25;
    }
    restHeader.clear();
    for (int32_t got = 0; got < storedLength;) {
        const int32_t piece = std::min(kPiece, storedLength - got);
        restHeader.resize(static_cast<size_t>(got + piece));
        file.read(restHeader.data() + got, piece);
        got += piece;
    }

    sampleCount = file.readInt32();
    if (sampleCount < 0) damagedHeader();
    const int32_t flags = file.readInt8();
    seekable = (flags & 1) != 0;
    high = (flags & 2) != 0;
    storedCrc = static_cast<uint32_t>(file.readInt32());
    channels = fmtChannels(restHeader);
    blockCount = gen->blockCount(sampleCount);

    const int32_t entries = gen->seekEntryCount(blockCount, seekable);
    seekTable.assign(1, 0);
    for (int32_t s = 0; s < entries; ++s) seekTable.push_back(static_cast<uint32_t>(file.readInt32()));
    seekTable[0] = headerEnd + 4 * (int64_t{entries} + 1);
    trailerOffset = static_cast<uint32_t>(file.readInt32());
}

void ContainerReader::releaseSegment() {
    segment.reset();
}

void ContainerReader::positionAtSegment(int32_t segment) {
    const int64_t target = seekTable.at(static_cast<size_t>(segment));
    // A segment starts after the header and before the end of the file.
    if (target < seekTable[0] || (fileLength >= 0 && target > fileLength)) throw Error(kUnableToSeek);
    if (!file.sequential()) {
        if (file.tell() < 0 || !file.notAtEnd()) file.open(fileName, true);
        if (!file.seek(static_cast<int32_t>(target)) || file.tell() != target) throw Error(kUnableToSeek);
        return;
    }
    // A range decoder takes its bytes straight from the stream, past the history, so
    // in generation 04 the bytes behind a segment's end cannot be delivered again;
    // an intact stream stands right at the next segment's start.
    if (version == 4 && target < file.byteCount) throw Error(kUnableToSeek);
    if (!stepBackTo(target)) throw Error(kUnableToSeek);
    const int64_t ahead = std::max<int64_t>(target - file.byteCount, 0);
    std::vector<char> skipped(static_cast<size_t>(std::min<int64_t>(kPiece, ahead)));
    for (int64_t left = ahead; left > 0;) {
        const int32_t piece = static_cast<int32_t>(std::min<int64_t>(kPiece, left));
        file.read(skipped.data(), piece);
        left -= piece;
    }
}

// On an input read in order: a target at or behind the bytes taken is reached by
// delivering them again from the history. False when the history does not reach back
// so far; a target ahead is left for the caller to skip to.
bool ContainerReader::stepBackTo(int64_t target) {
    const int64_t taken = file.byteCount;
    if (target >= taken) return true;
    if (taken - target > file.historyLength()) return false;
    file.pendingBytes = static_cast<int32_t>(taken - target);
    return true;
}

void ContainerReader::entropyDecodeBlock(SampleBlock& samples, int32_t count, bool key) {
    if (key) releaseSegment();
    if (!segment) segment = std::make_unique<SegmentDecoder>(file, version, channels);
    segment->model().decodeResiduals(samples, count);
}

void ContainerReader::readBlock(SampleBlock& samples, int32_t i) {
    const bool key = gen->isKeyBlock(i, seekable);
    if (key) positionAtSegment(seekable ? i / gen->seekInterval : 0);
    const int32_t count = gen->blockLength(i, sampleCount);
    // Generation 04 stores a pad value after an odd-length block of a file that is
    // not mono. The older generations' stereo models and inverse mid/side
    // transforms work on whole pairs only, so such a block is decoded with one
    // value more there too; the extra value is dropped like the pad value.
    const bool padded = hasPadValue(channels, count);
    startTimer("Entropy Coding");
    entropyDecodeBlock(samples, padded ? count + 1 : count, key);
    stopTimer("Entropy Coding");
    const StageList stages = buildPredictorChain(high, channels, key, version);
    TransformerCombiner(stages).inverseTransformFast(samples);
    if (padded) samples.pop_back();
}

void ContainerReader::copyTrailer(WavWriter& writer) {
    // The trailer starts where the last segment ends: a range decoder stops exactly
    // there. Any other stored offset is damage, and copying from it would append
    // container bytes to the restored file.
    // A bit coder has read ahead, but not past the chunk in which its stream ends.
    if (version == 4 ? file.position() != trailerOffset : trailerOffset < file.readStart()) damagedTrailer();
    std::string piece;
    if (file.sequential()) {
        // The trailer is the rest of the stream from its offset on: behind the bytes
        // taken, delivered again from the history; ahead of them, after a skip.
        if (trailerOffset < file.bytesTaken()) {
            if (!stepBackTo(trailerOffset)) damagedTrailer();
        } else if (file.notAtEnd()) {
            file.pendingBytes = 0;
            for (int64_t left = trailerOffset - file.byteCount; left > 0;) {
                piece.resize(static_cast<size_t>(std::min<int64_t>(kPiece, left)));
                const int32_t got = file.readTail(piece.data(), static_cast<int32_t>(piece.size()));
                if (got == 0) return;  // the stream ends before the offset: no trailer, as in a file
                left -= got;
            }
        } else {
            return;
        }
        piece.resize(kPiece);
        for (int32_t got; (got = file.readTail(piece.data(), kPiece)) > 0;) writer.writeRawBytes(piece.substr(0, got));
        return;
    }
    if (fileLength < 0) return;
    if (file.tell() < 0 || !file.notAtEnd()) file.open(fileName, true);
    if (trailerOffset > fileLength || !file.seek(static_cast<int32_t>(trailerOffset))) return;
    for (int64_t left = fileLength - trailerOffset; left > 0;) {
        piece.resize(static_cast<size_t>(std::min<int64_t>(kPiece, left)));
        file.read(piece.data(), static_cast<int32_t>(piece.size()));
        writer.writeRawBytes(piece);
        left -= static_cast<int64_t>(piece.size());
    }
}

void ContainerReader::damagedTrailer() const {
    throw Error("Error - file " + inputName(fileName) +
                " has a damaged trailer offset; the trailer was not restored.",
                Error::Subject::input);
}
