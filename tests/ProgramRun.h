#pragma once
// Runs the built qo binary in a scratch directory of its own.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

class ProgramRun : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name)
            if (c == '/') c = '_';
        dir = std::filesystem::temp_directory_path() / ("qo_run_" + std::to_string(::getpid()) + "_" + name);
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
#ifdef QO_BINARY_EMULATED
        GTEST_SKIP() << "qo runs here only under an emulator, and these tests start it directly";
#endif
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Standard input comes from stdinFile in the scratch directory (empty: /dev/null);
    // standard output goes to stdoutFile there when one is named, else it is captured.
    RunResult run(const std::string& args, const std::string& stdinFile = "", const std::string& stdoutFile = "") {
        const std::string in = stdinFile.empty() ? "/dev/null" : "'" + stdinFile + "'";
        const std::string out = stdoutFile.empty() ? "stdout.txt" : "'" + stdoutFile + "'";
        const std::string command =
            "cd '" + dir.string() + "' && " + launcher + " '" QO_BINARY "' " + args + " <" + in + " >" + out + " 2>stderr.txt";
        const int raw = std::system(command.c_str());
        RunResult r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        if (stdoutFile.empty()) r.out = slurp("stdout.txt");
        r.err = slurp("stderr.txt");
        std::filesystem::remove(dir / "stdout.txt");
        std::filesystem::remove(dir / "stderr.txt");
        return r;
    }

    std::string slurp(const std::string& name) const {
        std::ifstream in(dir / name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    void place(const std::string& source, const std::string& name) const {
        std::filesystem::copy_file(source, dir / name, std::filesystem::copy_options::overwrite_existing);
    }

    // Starts qo in the scratch directory without waiting and without a shell, so
    // it keeps the signal dispositions of this process; standard input is
    // /dev/null, standard output and error go to tag.out and tag.err there.
    pid_t start(const std::vector<std::string>& args, const std::string& tag) {
        const std::string out = (dir / (tag + ".out")).string();
        const std::string err = (dir / (tag + ".err")).string();
        std::vector<char*> argv{const_cast<char*>(QO_BINARY)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            // A signal that dumps core (SIGQUIT) must not leave a core file in the scratch directory.
            const struct rlimit noCore {0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);
            if (::chdir(dir.c_str()) != 0) ::_exit(126);
            ::dup2(::open("/dev/null", O_RDONLY), 0);
            ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
            ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            ::execv(QO_BINARY, argv.data());
            ::_exit(127);
        }
        return pid;
    }

    // Waits for a started run: its exit status, or 128 + the signal that ended it.
    static int finish(pid_t pid) {
        int raw = 0;
        if (::waitpid(pid, &raw, 0) != pid) return -1;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
    }

    // Only the named files are in the scratch directory: no partial or temporary output.
    void expectOnly(std::vector<std::string> names) const {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) found.push_back(entry.path().filename());
        std::sort(found.begin(), found.end());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(found, names);
    }

    bool exists(const std::string& name) const { return std::filesystem::exists(dir / name); }
    bool directoryEmpty() const { return std::filesystem::is_empty(dir); }

    std::filesystem::path dir;
    // Put before the binary in the shell command, e.g. "timeout 30" to bound a run.
    std::string launcher;
};
