#include "container/Progress.h"

#include <cstdio>
#include <fstream>

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

void writeDebugReport(const std::string& fileName) {
    std::ofstream report(fileName, std::ios::trunc);
    if (!report) return;
    report << "Debug information ...\n\n";
    for (const auto& [key, value] : debugValues) report << key << ": " << value << "\n";
    report << "\nProfiling information ...\n\n";
    for (const auto& [key, value] : timerTotals) report << key << ": " << value << "\n";
    report << "\n";
}
