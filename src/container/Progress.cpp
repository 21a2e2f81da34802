#include "container/Progress.h"

#include <cstdio>
#include <optional>
#include <sstream>

#include "container/PendingOutput.h"
#include "foundation/Error.h"
#include "foundation/Names.h"
#include "foundation/Options.h"
#include "foundation/Registry.h"

void showProgress(int64_t done, int64_t total, const std::string& label) {
    if (stdoutMode) return;
    if (total < 2) total = 1;
    const size_t filled = static_cast<size_t>(done * 24 / total);
    std::string bar(24, '.');
    bar.replace(0, filled, filled, '*');
    std::printf("\r%s [%s]", label.c_str(), bar.c_str());
    std::fflush(stdout);
}

void writeDebugReport(const std::string& fileName, RunFiles& files) {
    std::ostringstream text;
    text << "Debug information ...\n\n";
    for (const auto& [key, value] : debugValues) text << key << ": " << value << "\n";
    text << "\nProfiling information ...\n\n";
    for (const auto& [key, value] : timerTotals) text << key << ": " << value << "\n";
    text << "\n";
    const std::string report = text.str();
    std::optional<PendingOutput> output;
    try {
        output.emplace(fileName, files, PendingOutput::Access::inOrder, PendingOutput::Use::report);
        output->stream().write(report.data(), static_cast<int32_t>(report.size()));
        output->commit();
    } catch (const Error& failure) {
        // A report in place whose folder could not be synced was written all the same.
        const bool written = output && output->abandon(false) == PendingOutput::Outcome::inPlace;
        const std::string note = written ? "" : "The -debug report " + baseName(fileName) + " was not written.";
        throw failure.noted(note).noted(output ? output->leftoverNote() : "");
    }
}
