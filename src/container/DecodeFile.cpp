#include <cstdio>
#include <string>

#include "container/ContainerFormat.h"
#include "container/ContainerReader.h"
#include "container/Drivers.h"
#include "container/Progress.h"
#include "container/Wav.h"
#include "foundation/Error.h"
#include "foundation/Names.h"
#include "foundation/Options.h"
#include "foundation/Registry.h"

namespace {

const std::string kCrcWarning = "Warning: CRC check failed!";

// Says what became of the output of a restore that did not end well; empty when
// there is nothing to add.
std::string outcomeNote(PendingOutput::Outcome outcome, const WavWriter& writer, int32_t sampleCount) {
    switch (outcome) {
        case PendingOutput::Outcome::existingKept: return keptExistingNote(writer.name());
        case PendingOutput::Outcome::partialKept:
            if (writer.samplesWritten() == sampleCount)
                return baseName(writer.name()) + " holds all " + std::to_string(sampleCount) +
                       " samples, without the chunks after them.";
            return "The restore is incomplete: " + baseName(writer.name()) + " holds only the first " +
                   std::to_string(writer.samplesWritten()) + " of " + std::to_string(sampleCount) + " samples.";
        case PendingOutput::Outcome::nothingLeft:
            if (writer.samplesWritten() > 0) return "Nothing was kept under the name " + baseName(writer.name()) + ".";
            break;
        case PendingOutput::Outcome::console:
        case PendingOutput::Outcome::writtenThrough:
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

// Copies the chunks that followed the samples and returns their length; -1 where
// none are written. A failure here leaves every sample restored, so its message
// says so, and says whether they matched their checksum.
int64_t restoreTrailer(ContainerReader& reader, WavWriter& writer, bool intact) {
    if (reader.version < 3 || !headerMode) return -1;
    try {
        return reader.copyTrailer(writer);
    } catch (const Error& failure) {
        const std::string samples = intact ? "The samples are complete and match their checksum;"
                                           : kCrcWarning + "\nThe samples are complete, but";
        throw Error(withNote(failure.message, samples + " the chunks after them were not restored."));
    }
}

// A restored WAV shorter than its RIFF size gives is incomplete: the container was cut
// within the chunks after the samples (or the WAV compressed was short already).
void checkRestoredLength(const ContainerReader& reader, int64_t trailerLength, bool intact) {
    if (trailerLength < 0) return;
    const int64_t missing =
        riffShortfall(reader.riffHeader, reader.restHeader, 2 * int64_t{reader.sampleCount}, trailerLength);
    if (missing == 0) return;
    const std::string message = "Error - the restored WAV is incomplete: it is " + std::to_string(missing) +
                                " bytes shorter than its RIFF header gives.";
    throw Error(intact ? message : withNote(message, kCrcWarning));
}

}  // namespace

bool decodeFile(const std::string& givenName, const std::string& outName) {
    const std::string inName = stdinMode ? std::string() : givenName;
    startTimer("everything");
    ContainerReader reader(inName);
    WavWriter writer(stdoutMode ? std::string() : outName);
    Crc32 crc;
    bool intact = false;
    std::string keptNote;
    try {
        restoreSamples(reader, writer, "Decoding " + displayName(inName), crc);
        // Compared before the trailer is read, so that damaged samples are reported
        // whatever becomes of the trailer.
        intact = crc.value() == reader.storedCrc;
        checkRestoredLength(reader, restoreTrailer(reader, writer, intact), intact);
        // Samples that do not match their checksum never replace an existing file.
        if (intact || !writer.replacesFile())
            writer.finish();
        else
            keptNote = outcomeNote(writer.abandon(), writer, reader.sampleCount);
    } catch (const Error& failure) {
        throw Error(withNote(failure.message, outcomeNote(writer.abandon(), writer, reader.sampleCount)));
    }
    stopTimer("everything");

    if (!stdoutMode)
        std::printf("\rFinished %s - time taken: %.1fs        \n", baseName(inName).c_str(),
                    static_cast<double>(timerTotals["everything"]) * 0.000001);
    if (!intact) std::fputs(withNote(kCrcWarning, keptNote).append("\n\n").c_str(), stderr);
    if (debugMode) writeDebugReport("debugdec.txt");
    return intact;
}
