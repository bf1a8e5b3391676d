// ffmpeg's MicroDVD demuxer reads the .sub files we write: the rate line is
// taken as the rate and not as a cue, every cue's frames give the times we
// meant, and "|" and "{y:i}" come out as a line break and italics.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "client_util.h"
#include "engine/subtitle.h"

namespace {

using lumeval::test::run;
using lumeval::test::toolExists;

class FfmpegReadsMicroDvd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!toolExists("ffprobe") || !toolExists("ffmpeg")) {
            GTEST_SKIP() << "ffmpeg/ffprobe not found: install Debian's ffmpeg to run this check";
        }
        dir_ = std::filesystem::temp_directory_path() /
               ("lumeval-ffmpeg-sub-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }

    // Writes the entries as .sub at `rate` (0: the default) and returns what
    // ffprobe says of each packet: start and duration in seconds.
    std::vector<std::pair<double, double>> writeAndProbe(std::vector<std::string> entries,
                                                         double rate, const std::string& name) {
        path_ = (dir_ / name).string();
        lumeval::clsSubtitle engine;
        lumeval::SaveSettings settings;
        settings.s_SubtitleEncodeFormat = 1;  // UTF-8 with its mark, as the converter writes
        settings.s_FrameRate = rate;
        EXPECT_TRUE(engine.SaveArrayToSubtitle(entries, path_, settings));
        bool ok = false;
        const std::string packets = run("ffprobe -v error -show_entries packet=pts_time,duration_time "
                                        "-of csv=p=0 " + lumeval::test::quoted(path_), ok);
        EXPECT_TRUE(ok) << packets;
        std::istringstream in(packets);
        std::vector<std::pair<double, double>> cues;
        for (std::string line; std::getline(in, line);) {
            double start = 0, duration = 0;
            if (std::sscanf(line.c_str(), "%lf,%lf", &start, &duration) == 2) {
                cues.emplace_back(start, duration);
            }
        }
        return cues;
    }

    std::filesystem::path dir_;
    std::string path_;
};

TEST_F(FfmpegReadsMicroDvd, TimesAtTheWrittenRate) {
    const std::vector<std::string> entries = {
        "0",  // the placeholder a conversion table starts with
        "00:00:01,000->00:00:02,520|one",
        "00:01:03,040->00:01:04,000|two",
        "00:01:05,000->00:01:05,010|shorter than a frame",
        "01:02:03,000|no end: up to the default length",
    };
    // 25 frames a second: every time above falls on a frame but the short cue.
    const auto at25 = writeAndProbe(entries, 25, "at25.sub");
    ASSERT_EQ(4u, at25.size());
    const double expected25[][2] = {{1.0, 1.52}, {63.04, 0.96}, {65.0, 0.04}, {3723.0, 5.0}};
    for (std::size_t i = 0; i < at25.size(); ++i) {
        EXPECT_NEAR(expected25[i][0], at25[i].first, 0.0005) << i;
        EXPECT_NEAR(expected25[i][1], at25[i].second, 0.0005) << i;
    }

    // The default rate: each time lands on the nearest frame, so ffmpeg's
    // times are within half a frame of ours.
    const auto atDefault = writeAndProbe(entries, 0, "default.sub");
    ASSERT_EQ(4u, atDefault.size());
    const double halfFrame = 0.5 / 23.976 + 0.0005;
    const double starts[] = {1.0, 63.04, 65.0, 3723.0};
    for (std::size_t i = 0; i < atDefault.size(); ++i) {
        EXPECT_NEAR(starts[i], atDefault[i].first, halfFrame) << i;
        EXPECT_GT(atDefault[i].second, 0) << i;
    }
}

TEST_F(FfmpegReadsMicroDvd, LineBreaksAndItalics) {
    const auto cues = writeAndProbe(
        {"00:00:01,000->00:00:02,000|你好\\NWorld", "00:00:03,000->00:00:04,000|{\\an8}<i>slanted</i>"},
        25, "text.sub");
    ASSERT_EQ(2u, cues.size());
    bool ok = false;
    std::string srt = run("ffmpeg -v error -i " + lumeval::test::quoted(path_) + " -f srt -", ok);
    ASSERT_TRUE(ok) << srt;
    std::erase(srt, '\r');
    EXPECT_NE(std::string::npos, srt.find("你好\nWorld")) << srt;
    EXPECT_NE(std::string::npos, srt.find("<i>slanted</i>")) << srt;
    EXPECT_EQ(std::string::npos, srt.find("an8")) << srt;
    EXPECT_EQ(std::string::npos, srt.find("23.976")) << srt;  // the rate line is no cue
    EXPECT_EQ(std::string::npos, srt.find("25.000")) << srt;
}

}  // namespace
