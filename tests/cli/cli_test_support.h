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
#include <initializer_list>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace lumeval::clitest {

namespace fs = std::filesystem;

struct RunResult {
    int exitCode = -1;  ///< -1: killed by a signal
    int signal = 0;
    std::string out;
    std::string err;
};

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

/// A fresh folder per test, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "lumeval-cli-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        // The converter runs in work/; its captured output stays outside it
        // so tests can list work/ exactly.
        m_root = pattern;
        m_path = m_root / "work";
        fs::create_directory(m_path);
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const fs::path& path() const { return m_path; }
    fs::path operator/(const std::string& name) const { return m_path / name; }

    /// Copies a bundled sample in under `as` (default: its own name).
    void CopySample(const std::string& name, const std::string& as = "") const {
        fs::copy_file(fs::path(LUMEVAL_SAMPLES) / name, m_path / (as.empty() ? name : as),
                      fs::copy_options::overwrite_existing);
    }

    /// Runs the converter with `args` in this folder.
    RunResult Run(const std::vector<std::string>& args) const {
        const fs::path outFile = m_root / "stdout";
        const fs::path errFile = m_root / "stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addchdir_np(&actions, m_path.c_str());

        std::vector<std::string> all{LUMEVAL_CONVERT_EXE};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);

        RunResult result;
        pid_t pid = 0;
        const int rc = posix_spawn(&pid, LUMEVAL_CONVERT_EXE, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) throw std::runtime_error("cannot start " LUMEVAL_CONVERT_EXE);
        int status = 0;
        waitpid(pid, &status, 0);
        if (WIFEXITED(status)) {
            result.exitCode = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            result.signal = WTERMSIG(status);
        }
        result.out = ReadFile(outFile);
        result.err = ReadFile(errFile);
        fs::remove(outFile);
        fs::remove(errFile);
        return result;
    }

private:
    fs::path m_root;
    fs::path m_path;
};

}  // namespace lumeval::clitest
