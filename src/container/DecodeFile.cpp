#include <cstdio>
#include <memory>

#include "container/ContainerFormat.h"
#include "container/ContainerReader.h"
#include "container/Drivers.h"
#include "container/Progress.h"
#include "container/Wav.h"
#include "foundation/Names.h"
#include "foundation/Options.h"
#include "foundation/Registry.h"

bool decodeFile(const std::string& givenName, const std::string& outName) {
    const std::string inName = stdinMode ? std::string() : givenName;
    startTimer("everything");
    ContainerReader reader(inName);
    const std::unique_ptr<WavWriter> writer =
        stdoutMode ? std::make_unique<WavWriter>() : std::make_unique<WavWriter>(outName);
    if (headerMode) writer->writeWavHeader(reader.riffHeader, reader.restHeader, reader.sampleCount);

    const std::string label = "Decoding " + displayName(inName);
    Crc32 crc;
    SampleBlock samples;
    for (int32_t i = 0; i < reader.blockCount; ++i) {
        showProgress(i, reader.blockCount, label);
        reader.readBlock(samples, i);
        writer->writeWavSamples(samples);
        crc.updateSamples(samples.data(), samples.size());
    }
    showProgress(reader.blockCount, reader.blockCount, label);
    if (reader.version >= 3 && headerMode) reader.copyTrailer(*writer);
    stopTimer("everything");

    if (!stdoutMode)
        std::printf("\rFinished %s - time taken: %.1fs        \n", baseName(inName).c_str(),
                    static_cast<double>(timerTotals["everything"]) * 0.000001);
    const bool intact = crc.value() == reader.storedCrc;
    if (!intact) std::fputs("Warning: CRC check failed!\n\n", stderr);
    if (debugMode) writeDebugReport("debugdec.txt");
    return intact;
}
