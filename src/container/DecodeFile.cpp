#include <cstdio>
#include <optional>
#include <string>

#include "container/ContainerFormat.h"
#include "container/ContainerReader.h"
#include "container/Drivers.h"
#include "container/Progress.h"
#include "container/Wav.h"
#include "foundation/Diagnostics.h"
#include "foundation/Error.h"
#include "foundation/Names.h"
#include "foundation/Options.h"
#include "foundation/Registry.h"

namespace {

const std::string kCrcWarning = "Warning: CRC check failed!";

// Says what stands under the output name after a restore that failed, or what
// standard output or a FIFO received; empty where the message says it already.
std::string outcomeNote(PendingOutput::Outcome outcome, const WavWriter& writer, int32_t sampleCount) {
    const std::string name = baseName(writer.name());
    const std::string all = "all " + std::to_string(sampleCount) + " samples";
    switch (outcome) {
        case PendingOutput::Outcome::existingKept: return keptExistingNote(writer.name());
        case PendingOutput::Outcome::partialKept:
            if (writer.samplesWritten() < sampleCount)
                return "The restore is incomplete: " + name + " holds only the first " +
                       std::to_string(writer.samplesWritten()) + " of " + std::to_string(sampleCount) + " samples.";
            if (writer.trailer().length() > 0) return name + " holds " + all + ", but not all of the chunks after them.";
            return name + " holds " + all + ", without the chunks after them.";
        case PendingOutput::Outcome::nothingLeft: return "Nothing was kept under the name " + name + ".";
        case PendingOutput::Outcome::console: return "What was written to standard output is incomplete.";
        case PendingOutput::Outcome::writtenThrough: return "What was written to " + name + " is incomplete.";
        case PendingOutput::Outcome::placed:
        case PendingOutput::Outcome::nameTaken:
        case PendingOutput::Outcome::inPlace: break;
    }
    return "";
}

// Says what stands under the output name after a restore whose samples did not
// match their checksum, or what standard output or a FIFO received.
std::string mismatchNote(PendingOutput::Outcome outcome, const WavWriter& writer, int32_t sampleCount) {
    const std::string name = baseName(writer.name());
    switch (outcome) {
        case PendingOutput::Outcome::existingKept: return keptExistingNote(writer.name());
        case PendingOutput::Outcome::placed:
            return name + " holds all " + std::to_string(sampleCount) + " samples, but they do not match their checksum.";
        case PendingOutput::Outcome::console: return "What was written to standard output does not match its checksum.";
        case PendingOutput::Outcome::writtenThrough: return "What was written to " + name + " does not match its checksum.";
        case PendingOutput::Outcome::partialKept:
        case PendingOutput::Outcome::nothingLeft:
        case PendingOutput::Outcome::nameTaken:
        case PendingOutput::Outcome::inPlace: break;
    }
    return "";
}

void restoreSamples(ContainerReader& reader, WavWriter& writer, const std::string& label, Crc32& crc) {
    if (headerMode) writer.writeWavHeader(reader.riffHeader, reader.restHeader, reader.sampleCount);
    SampleBlock samples;
    for (int32_t i = 0; i < reader.blockCount; ++i) {
        showProgress(i, reader.blockCount, label);
        reader.readBlock(samples, i);
        writer.writeWavSamples(samples);
        crc.updateSamples(samples.data(), samples.size());
    }
    showProgress(reader.blockCount, reader.blockCount, label);
}

// Copies the chunks that followed the samples; false where none are written. A
// failure here leaves every sample restored, so its message says so, and says
// whether they matched their checksum.
bool restoreTrailer(ContainerReader& reader, WavWriter& writer, bool intact) {
    if (reader.version < 3 || !headerMode) return false;
    try {
        reader.copyTrailer(writer);
        return true;
    } catch (const Error& failure) {
        const std::string samples = intact ? "The samples are complete and match their checksum;"
                                           : "The samples are complete, but";
        throw failure.noted(samples + " the chunks after them were not restored.");
    }
}

// A restored WAV shorter than its RIFF size gives is incomplete: the container was cut
// within the chunks after the samples (or the WAV compressed was short already).
void checkRestoredLength(const ContainerReader& reader, const WavWriter& writer) {
    const int64_t missing =
        riffShortfall(reader.riffHeader, reader.restHeader, 2 * int64_t{reader.sampleCount}, writer.trailer());
    if (missing == 0) return;
    throw Error("Error - the restored WAV is incomplete: it is " + shortfallText(missing) + ".");
}

}  // namespace

bool decodeFile(const std::string& givenName, const std::string& outName, RunFiles& files) {
    const std::string inName = stdinMode ? std::string() : givenName;
    startTimer("everything");
    ContainerReader reader(inName);
    WavWriter writer(stdoutMode ? std::string() : outName, files);
    Crc32 crc;
    // Known once every sample is restored; a mismatch is said whatever follows.
    std::optional<bool> intact;
    PendingOutput::Outcome outcome = PendingOutput::Outcome::placed;
    try {
        restoreSamples(reader, writer, "Decoding " + displayName(inputName(inName)), crc);
        // Compared before the trailer is read, so that damaged samples are reported
        // whatever becomes of the trailer.
        intact = crc.value() == reader.storedCrc;
        if (restoreTrailer(reader, writer, *intact)) checkRestoredLength(reader, writer);
        outcome = writer.finish(*intact);
    } catch (const Error& failure) {
        // Any failure of the restore ends here, whatever step it came from.
        const std::string note = outcomeNote(writer.abandon(), writer, reader.sampleCount);
        const std::string warning = intact == false ? kCrcWarning : std::string();
        throw Error(withNote(warning, failure.message), failure.subject).noted(note).noted(writer.leftoverNote());
    }
    stopTimer("everything");

    if (!stdoutMode)
        std::printf("\rFinished %s - time taken: %.1fs        \n", baseName(inputName(inName)).c_str(),
                    static_cast<double>(timerTotals["everything"]) * 0.000001);
    if (intact == false) {
        printWarning(withNote(kCrcWarning, mismatchNote(outcome, writer, reader.sampleCount)));
        std::fputs("\n", stderr);
    }
    if (debugMode) writeDebugReport("debugdec.txt", files);
    return *intact;
}
