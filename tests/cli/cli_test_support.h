// Runs lumeval-convert as a child process in a scratch folder and collects
// what it printed, the way a script would see it.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace lumeval::clitest {

namespace fs = std::filesystem;

struct RunResult {
    int exitCode = -1;  ///< -1: ended by a signal
    std::string out;
    std::string err;
};

using Args = std::vector<std::string>;

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Arguments bracketed one by one, for failure messages.
inline std::string Joined(const Args& args) {
    std::string text;
    for (const auto& a : args) text += "[" + a + "] ";
    return text;
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

/// A fresh folder per test, removed afterwards. The converter runs in work/;
/// its captured output stays outside so tests can list work/ exactly.
class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "lumeval-cli-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        m_root = pattern;
        fs::create_directory(m_root / "work");
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    fs::path path() const { return m_root / "work"; }
    fs::path operator/(const std::string& name) const { return path() / name; }

    /// Copies a bundled sample in under `as` (default: its own name).
    void CopySample(const std::string& name, const std::string& as = "") const {
        fs::copy_file(fs::path(LUMEVAL_SAMPLES) / name, path() / (as.empty() ? name : as),
                      fs::copy_options::overwrite_existing);
    }

    /// Starts the converter with `args` in work/; standard output and error go
    /// to files that Wait() reads.
    pid_t Start(const std::vector<std::string>& args) const { return StartAs({}, args); }

    /// As Start, with `wrapper` (a program and its arguments, such as
    /// setpriv dropping root) run in front of the converter.
    pid_t StartAs(const std::vector<std::string>& wrapper, const std::vector<std::string>& args) const {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (m_root / "stdout").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (m_root / "stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addchdir_np(&actions, path().c_str());
        std::vector<std::string> all = wrapper;
        all.push_back(LUMEVAL_CONVERT_EXE);
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        const int rc =
            posix_spawn(&pid, all.front().c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) throw std::runtime_error("cannot start " + all.front());
        return pid;
    }

    RunResult Wait(pid_t pid) const {
        int status = 0;
        waitpid(pid, &status, 0);
        RunResult result;
        if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
        result.out = ReadFile(m_root / "stdout");
        result.err = ReadFile(m_root / "stderr");
        return result;
    }

    RunResult Run(const std::vector<std::string>& args) const { return Wait(Start(args)); }

  private:
    fs::path m_root;
};

}  // namespace lumeval::clitest
