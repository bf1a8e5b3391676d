// Helpers shared by the engine tests: a temporary folder and file I/O.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace lumeval::test {

class TempDir {
public:
    TempDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() /
                ("lumeval-test-" + std::to_string(rd()) + "-" + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// Golden files are rewritten from the actual output when
/// LUMEVAL_UPDATE_GOLDEN=1 is set, so an intended change of output is one run
/// and a reviewed diff away; the comparison is then skipped.
inline bool updateGolden(const std::string& goldenPath, const std::string& actual) {
    const char* update = std::getenv("LUMEVAL_UPDATE_GOLDEN");
    if (update == nullptr || std::string(update) != "1") return false;
    writeBytes(goldenPath, actual);
    return true;
}

}  // namespace lumeval::test
