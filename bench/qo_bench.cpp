// Compression benchmark: runs qo (and, with --peers, flac -8 and wavpack -hhx3
// when they are installed) on WAV files, one process at a time, and reports the
// ratio and the encode and decode speed as multiples of real time, measured in
// processor time of the child process.
//
//   qo_bench [--qo PATH] [--peers] [--reference-qo PATH] [file.wav ...]
//
// With no files it takes the real recordings (sp_*.wav) of ../shared/corpus.
// With --reference-qo it also checks that the containers of both builds are
// identical byte for byte.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Run {
    bool ok = false;
    double cpuSeconds = 0;
    long peakKilobytes = 0;
};

// Runs a shell command and measures the processor time and peak memory of the child.
Run runCommand(const std::string& command) {
    Run r;
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return r;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    r.peakKilobytes = usage.ru_maxrss;
    return r;
}

std::vector<uint8_t> bytesOf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Seconds of audio in a WAV file, from its format and data chunks.
double audioSeconds(const fs::path& p) {
    const std::vector<uint8_t> b = bytesOf(p);
    auto u32 = [&](size_t i) {
        return uint32_t(b[i]) | uint32_t(b[i + 1]) << 8 | uint32_t(b[i + 2]) << 16 | uint32_t(b[i + 3]) << 24;
    };
    uint32_t byteRate = 0;
    for (size_t pos = 12; pos + 8 <= b.size();) {
        const uint32_t size = u32(pos + 4);
        if (std::memcmp(&b[pos], "fmt ", 4) == 0 && pos + 20 <= b.size()) byteRate = u32(pos + 16);
        if (std::memcmp(&b[pos], "data", 4) == 0) return byteRate ? double(size) / byteRate : 0;
        pos += 8 + size + (size & 1);
    }
    return 0;
}

bool onPath(const std::string& tool) { return runCommand("command -v " + tool + " >/dev/null 2>&1").ok; }

struct Tool {
    std::string name;
    std::string encode;  // with {in} and {out}
    std::string decode;  // with {in} and {out}
    std::string extension;
};

std::string fill(std::string text, const fs::path& in, const fs::path& out) {
    const std::pair<std::string, std::string> keys[] = {{"{in}", in.string()}, {"{out}", out.string()}};
    for (const auto& [key, value] : keys)
        for (size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), "'" + value + "'");
    return text;
}

struct Totals {
    double audio = 0, encodeCpu = 0, decodeCpu = 0, inBytes = 0, outBytes = 0;
    long peak = 0;
    bool allExact = true;
};

}  // namespace

int main(int argc, char** argv) {
    std::string qo = (fs::path(argv[0]).parent_path() / "qo").string();
    std::string reference;
    bool peers = false;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--qo" && i + 1 < argc)
            qo = argv[++i];
        else if (a == "--reference-qo" && i + 1 < argc)
            reference = argv[++i];
        else if (a == "--peers")
            peers = true;
        else
            files.emplace_back(a);
    }
    if (files.empty()) {
        for (const fs::path& dir : {fs::path("../shared/corpus"), fs::path("../../shared/corpus")}) {
            if (!fs::is_directory(dir)) continue;
            for (const auto& e : fs::directory_iterator(dir))
                if (e.path().filename().string().rfind("sp_", 0) == 0 && e.path().extension() == ".wav")
                    files.push_back(e.path());
            break;
        }
        std::sort(files.begin(), files.end());
    }
    if (files.empty()) {
        std::fprintf(stderr, "no WAV files given and no ../shared/corpus found\n");
        return 2;
    }

    std::vector<Tool> tools = {
        {"qo", "'" + qo + "' -overwrite {in} {out}", "'" + qo + "' -overwrite {in} {out}", ".qo"},
        {"qo -high", "'" + qo + "' -overwrite -high {in} {out}", "'" + qo + "' -overwrite {in} {out}", ".qo"},
    };
    // Both peers code in one thread unless told otherwise (flac -j, wavpack --threads),
    // so the comparison is one thread against one thread.
    if (peers && onPath("flac"))
        tools.push_back({"flac -8", "flac -8 -f -s -o {out} {in}", "flac -d -f -s -o {out} {in}", ".flac"});
    if (peers && onPath("wavpack"))
        tools.push_back({"wavpack -hhx3", "wavpack -hhx3 -y -q {in} -o {out}", "wvunpack -y -q {in} -o {out}", ".wv"});
    if (peers && tools.size() < 4) std::printf("(flac or wavpack is not installed: left out)\n");

    const fs::path scratch = fs::temp_directory_path() / ("qo_bench_" + std::to_string(getpid()));
    fs::create_directories(scratch);
    std::vector<Totals> totals(tools.size());
    bool identical = true;

    std::printf("%-28s %-14s %8s %10s %10s\n", "file", "tool", "ratio%", "enc x RT", "dec x RT");
    for (const fs::path& file : files) {
        const double seconds = audioSeconds(file);
        const double inBytes = static_cast<double>(fs::file_size(file));
        for (size_t t = 0; t < tools.size(); ++t) {
            const fs::path packed = scratch / ("packed" + tools[t].extension);
            const fs::path back = scratch / "back.wav";
            const Run enc = runCommand(fill(tools[t].encode, file, packed) + " >/dev/null 2>&1");
            const Run dec = runCommand(fill(tools[t].decode, packed, back) + " >/dev/null 2>&1");
            const bool exact = enc.ok && dec.ok && bytesOf(back) == bytesOf(file);
            const double outBytes = enc.ok ? static_cast<double>(fs::file_size(packed)) : 0;
            if (t < 2 && !reference.empty()) {
                const fs::path other = scratch / "reference.qo";
                const std::string flags = t == 1 ? " -high" : "";
                runCommand("'" + reference + "' -overwrite" + flags + " '" + file.string() + "' '" + other.string() +
                           "' >/dev/null 2>&1");
                if (bytesOf(other) != bytesOf(packed)) {
                    identical = false;
                    std::printf("  containers differ from the reference build: %s (%s)\n",
                                file.filename().c_str(), tools[t].name.c_str());
                }
            }
            std::printf("%-28s %-14s %8.2f %10.1f %10.1f%s\n", file.filename().c_str(), tools[t].name.c_str(),
                        100.0 * outBytes / inBytes, seconds / enc.cpuSeconds, seconds / dec.cpuSeconds,
                        exact ? "" : "  NOT RESTORED EXACTLY");
            Totals& s = totals[t];
            s.audio += seconds;
            s.encodeCpu += enc.cpuSeconds;
            s.decodeCpu += dec.cpuSeconds;
            s.inBytes += inBytes;
            s.outBytes += outBytes;
            s.peak = std::max({s.peak, enc.peakKilobytes, dec.peakKilobytes});
            s.allExact = s.allExact && exact;
        }
    }
    std::printf("\n%-14s %8s %10s %10s %10s %7s\n", "total", "ratio%", "enc x RT", "dec x RT", "peak MB", "exact");
    for (size_t t = 0; t < tools.size(); ++t) {
        const Totals& s = totals[t];
        std::printf("%-14s %8.2f %10.1f %10.1f %10.1f %7s\n", tools[t].name.c_str(), 100.0 * s.outBytes / s.inBytes,
                    s.audio / s.encodeCpu, s.audio / s.decodeCpu, s.peak / 1024.0, s.allExact ? "yes" : "NO");
    }
    for (size_t t = 2; t < tools.size(); ++t)
        std::printf("qo CPU time / %s CPU time: encode %.2f, decode %.2f\n", tools[t].name.c_str(),
                    totals[0].encodeCpu / totals[t].encodeCpu, totals[0].decodeCpu / totals[t].decodeCpu);
    if (!reference.empty()) std::printf("containers identical to the reference build: %s\n", identical ? "yes" : "NO");
    fs::remove_all(scratch);
    bool ok = identical;
    for (const Totals& s : totals) ok = ok && s.allExact;
    return ok ? 0 : 1;
}
