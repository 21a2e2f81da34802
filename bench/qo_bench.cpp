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
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Run {
    bool ok = false;
    double cpuSeconds = 0;
    long peakKilobytes = 0;
};

// Runs a program with its output discarded and measures the processor time and peak
// memory of that process alone: it is started without a shell, whose own start-up
// would otherwise count against every tool.
Run runProgram(const std::vector<std::string>& args) {
    Run r;
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            dup2(devNull, STDOUT_FILENO);
            dup2(devNull, STDERR_FILENO);
        }
        execvp(argv[0], argv.data());
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

// Whether two files hold the same bytes. Read in pieces: a child forked from this
// process starts with its resident pages, and a whole file held here would count
// towards the peak memory of the tool measured next.
bool sameBytes(const fs::path& a, const fs::path& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    if (!x || !y) return false;
    std::vector<char> p(1 << 16), q(1 << 16);
    for (;;) {
        x.read(p.data(), static_cast<std::streamsize>(p.size()));
        y.read(q.data(), static_cast<std::streamsize>(q.size()));
        if (x.gcount() != y.gcount() || std::memcmp(p.data(), q.data(), static_cast<size_t>(x.gcount())) != 0)
            return false;
        if (x.gcount() == 0) return true;
    }
}

// Seconds of audio in a WAV file, from its format and data chunks.
double audioSeconds(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    auto u32 = [](const uint8_t* b) {
        return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    };
    uint32_t byteRate = 0;
    uint8_t header[8];
    in.seekg(12);
    while (in.read(reinterpret_cast<char*>(header), 8)) {
        const uint32_t size = u32(header + 4);
        if (std::memcmp(header, "data", 4) == 0) return byteRate ? double(size) / byteRate : 0;
        if (std::memcmp(header, "fmt ", 4) == 0 && size >= 12) {
            uint8_t fmt[12];
            if (!in.read(reinterpret_cast<char*>(fmt), 12)) break;
            byteRate = u32(fmt + 8);
            in.seekg(size + (size & 1) - 12, std::ios::cur);
        } else {
            in.seekg(size + (size & 1), std::ios::cur);
        }
    }
    return 0;
}

bool onPath(const std::string& tool) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    for (size_t start = 0; start <= dirs.size();) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const fs::path dir = dirs.substr(start, end - start);
        if (access((dir / tool).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

struct Tool {
    std::string name;
    std::vector<std::string> encode;  // program and arguments, with {in} and {out}
    std::vector<std::string> decode;
    std::string extension;
};

std::vector<std::string> fill(std::vector<std::string> args, const fs::path& in, const fs::path& out) {
    for (std::string& a : args) {
        if (a == "{in}") a = in.string();
        if (a == "{out}") a = out.string();
    }
    return args;
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
        {"qo", {qo, "-overwrite", "{in}", "{out}"}, {qo, "-overwrite", "{in}", "{out}"}, ".qo"},
        {"qo -high", {qo, "-overwrite", "-high", "{in}", "{out}"}, {qo, "-overwrite", "{in}", "{out}"}, ".qo"},
    };
    // Both peers code in one thread unless told otherwise (flac -j, wavpack --threads),
    // so the comparison is one thread against one thread.
    if (peers && onPath("flac"))
        tools.push_back({"flac -8", {"flac", "-8", "-f", "-s", "-o", "{out}", "{in}"},
                         {"flac", "-d", "-f", "-s", "-o", "{out}", "{in}"}, ".flac"});
    if (peers && onPath("wavpack"))
        tools.push_back({"wavpack -hhx3", {"wavpack", "-hhx3", "-y", "-q", "{in}", "-o", "{out}"},
                         {"wvunpack", "-y", "-q", "{in}", "-o", "{out}"}, ".wv"});
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
            const Run enc = runProgram(fill(tools[t].encode, file, packed));
            const Run dec = runProgram(fill(tools[t].decode, packed, back));
            const bool exact = enc.ok && dec.ok && sameBytes(back, file);
            const double outBytes = enc.ok ? static_cast<double>(fs::file_size(packed)) : 0;
            if (t < 2 && !reference.empty()) {
                const fs::path other = scratch / "reference.qo";
                std::vector<std::string> args = tools[t].encode;
                args[0] = reference;
                runProgram(fill(args, file, other));
                if (!sameBytes(other, packed)) {
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
