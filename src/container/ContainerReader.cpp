#include "container/ContainerReader.h"

#include <algorithm>
#include <cstdio>

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
        if (storedLength < kMinStoredHeader || (file.length() >= 0 && storedLength + kFixedFields > file.length()))
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
    segmentStart = seekTable[0];
    // A header that the input ended within was read on zeros in place of its missing
    // bytes: a count of none, a checksum and offsets that no part of the file gave.
    // The four bytes after the seek table begin the block data in generation 02,
    // which a container without samples does not have.
    if (!file.notAtEnd()) file.throwEndOfInput();
    trailerOffset = static_cast<uint32_t>(file.readInt32());
    if (gen->hasTrailer && !file.notAtEnd()) file.throwEndOfInput();
}

void ContainerReader::releaseSegment() {
    segment.reset();
}

void ContainerReader::positionAtSegment(int32_t segment) {
    const int64_t target = seekTable.at(static_cast<size_t>(segment));
    // A segment starts after the header and before the end of the file.
    if (target < seekTable[0] || (file.length() >= 0 && target > file.length())) throw Error(kUnableToSeek);
    segmentStart = target;
    if (!file.sequential()) {
        // On the descriptor opened first: what the name stands for by now does not matter.
        if (!file.restartAt(target) || file.tell() != target) throw Error(kUnableToSeek);
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
// so far; a target ahead is left for the caller to skip to, from the bytes taken on
// (bytes still due again from an earlier step back lie behind it).
bool ContainerReader::stepBackTo(int64_t target) {
    const int64_t taken = file.byteCount;
    if (taken - target > file.historyLength()) return false;
    file.pendingBytes = static_cast<int32_t>(std::max<int64_t>(taken - target, 0));
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
    // A bit coder reads ahead and decodes the zeros that stand for bytes past the end
    // of its input: coded data that runs past that end is a cut container.
    if (i == blockCount - 1 && codedEnd() > (file.sequential() ? file.bytesTaken() : file.length()))
        file.throwEndOfInput();
    const StageList stages = buildPredictorChain(high, channels, key, version);
    TransformerCombiner(stages).inverseTransformFast(samples);
    if (padded) samples.pop_back();
}

int64_t ContainerReader::copyTrailer(WavWriter& writer) {
    // The trailer starts where the last segment's coded bytes end. Any other stored
    // offset is damage: copying from it would drop bytes of the trailer or append
    // coded bytes to the restored file.
    const int64_t length = file.length();
    if (trailerOffset != codedEnd() || (length >= 0 && trailerOffset > length)) damagedTrailer();
    std::string piece;
    int64_t copied = 0;
    if (file.sequential()) {
        // The trailer is the rest of the stream from its offset on, which lies within
        // the bytes taken once every block is decoded: they are delivered again from
        // the history.
        if (trailerOffset > file.bytesTaken() || !stepBackTo(trailerOffset)) damagedTrailer();
        piece.resize(kPiece);
        for (int32_t got; (got = file.readTail(piece.data(), kPiece)) > 0; copied += got)
            writer.writeRawBytes(piece.substr(0, static_cast<size_t>(got)));
        return copied;
    }
    // Read through to the length the file had when it was opened: a file cut
    // meanwhile ends in an Error, never in zeros.
    if (!file.restartAt(trailerOffset)) damagedTrailer();
    for (int64_t left = length - trailerOffset; left > 0; left -= static_cast<int64_t>(piece.size())) {
        piece.resize(static_cast<size_t>(std::min<int64_t>(kPiece, left)));
        file.read(piece.data(), static_cast<int32_t>(piece.size()));
        writer.writeRawBytes(piece);
        copied += static_cast<int64_t>(piece.size());
    }
    return copied;
}

// Where the coded data read so far ends: right after the header before any block.
int64_t ContainerReader::codedEnd() const {
    return segment ? segment->codedEnd(segmentStart) : file.position();
}

void ContainerReader::damagedTrailer() const {
    throw Error("Error - file " + inputName(fileName) +
                " has a damaged trailer offset; the trailer was not restored.",
                Error::Subject::input);
}
