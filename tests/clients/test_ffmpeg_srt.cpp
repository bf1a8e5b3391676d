// ffmpeg reads the SubRip files we write: cue count, times to the
// millisecond, and the text with its line break.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/subtitle.h"

namespace {

bool HaveTool(const char* name) {
    const std::string probe = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(probe.c_str()) == 0;
}

std::string Capture(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return out;
    std::array<char, 4096> buffer{};
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0) out.append(buffer.data(), n);
    return out;
}

class FfmpegReadsSubRip : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("ffprobe") || !HaveTool("ffmpeg")) {
            GTEST_SKIP() << "ffmpeg/ffprobe not found: install Debian's ffmpeg to run this check";
        }
        dir_ = std::filesystem::temp_directory_path() /
               ("lumeval-ffmpeg-srt-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }
    std::filesystem::path dir_;
};

TEST_F(FfmpegReadsSubRip, CountsTimesAndText) {
    std::vector<std::string> entries = {
        "0",  // the placeholder a conversion table starts with
        "00:00:01,000->00:00:02,500|你好\\NWorld",
        "00:01:03,040->00:01:04,000|<i>again</i>",
        "01:02:03,004|no end: up to the next start",
        "02:00:00,000->02:00:01,999|last",
    };
    const std::string path = (dir_ / "out.srt").string();
    lumeval::clsSubtitle engine;
    lumeval::SaveSettings settings;
    settings.s_SubtitleEncodeFormat = 1;  // UTF-8
    ASSERT_TRUE(engine.SaveArrayToSubtitle(entries, path, settings));

    const std::string packets = Capture("ffprobe -v error -show_entries packet=pts_time,duration_time "
                                        "-of csv=p=0 '" + path + "'");
    std::istringstream in(packets);
    std::vector<std::pair<double, double>> cues;
    for (std::string line; std::getline(in, line);) {
        double start = 0, duration = 0;
        if (std::sscanf(line.c_str(), "%lf,%lf", &start, &duration) == 2) cues.emplace_back(start, duration);
    }
    ASSERT_EQ(4u, cues.size()) << packets;
    const double expected[][2] = {{1.0, 1.5}, {63.04, 0.96}, {3723.004, 3476.996}, {7200.0, 1.999}};
    for (std::size_t i = 0; i < cues.size(); ++i) {
        EXPECT_NEAR(expected[i][0], cues[i].first, 0.0005) << i;
        EXPECT_NEAR(expected[i][1], cues[i].second, 0.0005) << i;
    }

    // The text survives ffmpeg's own SubRip round trip, line break included.
    std::string again = Capture("ffmpeg -v error -i '" + path + "' -f srt -");
    std::erase(again, '\r');
    EXPECT_NE(std::string::npos, again.find("你好\nWorld")) << again;
    EXPECT_NE(std::string::npos, again.find("no end: up to the next start")) << again;
}

}  // namespace
