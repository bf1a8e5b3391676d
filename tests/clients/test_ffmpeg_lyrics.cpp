// ffmpeg reads the SAMI and LRC files we write: as many cues as we wrote, at
// our start times, and (SAMI) with the text players show.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/subtitle.h"
#include "../engine/test_util.h"
#include "client_util.h"

namespace lumeval {
namespace {

using test::TempDir;

using test::quoted;
using test::run;
using test::toolExists;

struct Cue {
    long long startMs = 0;
    std::string text;
    long long endMs = -1;  // -1: not checked (a lyric line lasts until the next)
};

// Packet start times ffprobe reports, in milliseconds.
std::vector<long long> probeStarts(const std::string& path, bool& ok) {
    const std::string out =
        run("ffprobe -v error -show_entries packet=pts_time -of csv=p=0 " + quoted(path), ok);
    std::vector<long long> starts;
    std::size_t from = 0;
    while (from < out.size()) {
        auto nl = out.find('\n', from);
        if (nl == std::string::npos) nl = out.size();
        const std::string line = out.substr(from, nl - from);
        if (!line.empty()) starts.push_back(std::llround(std::strtod(line.c_str(), nullptr) * 1000));
        from = nl + 1;
    }
    return starts;
}

const std::vector<std::string> kEntries{
    "",
    "00:00:01,000->00:00:03,500|你好，世界",
    "00:00:04,000->00:00:06,000|Hello\\Nworld",
    "00:00:07,000->00:00:08,000|   ",  // blank: no cue (SAMI: a clearing sync)
    "00:01:02,345->00:01:04,345|中文 and English",
};

struct Format {
    const char* file;
    std::vector<Cue> cues;          // what ffmpeg should read back
    std::vector<long long> packets; // packet starts, clearing syncs included
};

class FfmpegLyrics : public ::testing::TestWithParam<Format> {};

TEST_P(FfmpegLyrics, ReadsCountsStartsAndTexts) {
    if (!toolExists("ffmpeg") || !toolExists("ffprobe")) {
        GTEST_SKIP() << "ffmpeg/ffprobe not found: install Debian's ffmpeg to run this test";
    }
    const Format& f = GetParam();
    TempDir dir;
    const std::string path = dir.file(f.file);
    std::vector<std::string> entries = kEntries;
    SaveSettings s;
    s.s_SubtitleEncodeFormat = kEncodingUtf8;
    clsSubtitle engine;
    ASSERT_TRUE(engine.SaveArrayToSubtitle(entries, path, s));

    bool ok = false;
    const std::vector<test::SrtCue> cues = test::ffmpegCues(path, ok);
    ASSERT_TRUE(ok) << "ffmpeg could not read " << f.file;
    ASSERT_EQ(f.cues.size(), cues.size());
    for (std::size_t i = 0; i < cues.size(); ++i) {
        EXPECT_EQ(f.cues[i].startMs, cues[i].startMs) << "cue " << i;
        EXPECT_FALSE(cues[i].text.empty()) << "cue " << i << " shows no text";
        EXPECT_EQ(f.cues[i].text, cues[i].text) << "cue " << i;
        if (f.cues[i].endMs >= 0) {
            EXPECT_EQ(f.cues[i].endMs, cues[i].endMs) << "cue " << i;
        }
    }

    const std::vector<long long> starts = probeStarts(path, ok);
    ASSERT_TRUE(ok) << "ffprobe could not read " << f.file;
    EXPECT_EQ(f.packets, starts);
}

INSTANTIATE_TEST_SUITE_P(
    Written, FfmpegLyrics,
    ::testing::Values(
        // SAMI keeps whole milliseconds, line breaks and ends (a clearing
        // sync after a cue that ends before the next, and after the last);
        // LRC truncates to hundredths and joins lines.
        Format{"out.smi",
               {{1000, "你好，世界", 3500}, {4000, "Hello\nworld", 6000}, {62345, "中文 and English", 64345}},
               {1000, 3500, 4000, 6000, 62345, 64345}},
        Format{"out.lrc", {{1000, "你好，世界"}, {4000, "Hello world"}, {62340, "中文 and English"}},
               {1000, 4000, 62340}}),
    [](const ::testing::TestParamInfo<Format>& info) {
        return std::string(info.param.file).substr(4);
    });

}  // namespace
}  // namespace lumeval
