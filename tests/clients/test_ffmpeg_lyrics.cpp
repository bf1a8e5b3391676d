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
};

// SubRip as ffmpeg writes it: number, "start --> end", text lines, blank line.
std::vector<Cue> parseSrt(const std::string& srt) {
    std::vector<Cue> cues;
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from <= srt.size()) {
        auto nl = srt.find('\n', from);
        if (nl == std::string::npos) nl = srt.size();
        std::string line = srt.substr(from, nl - from);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        from = nl + 1;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto arrow = lines[i].find(" --> ");
        if (arrow == std::string::npos) continue;
        int h = 0, m = 0, s = 0, ms = 0;
        if (std::sscanf(lines[i].c_str(), "%d:%d:%d,%d", &h, &m, &s, &ms) != 4) continue;
        Cue cue;
        cue.startMs = ((h * 60LL + m) * 60 + s) * 1000 + ms;
        for (++i; i < lines.size() && !lines[i].empty(); ++i) {
            if (!cue.text.empty()) cue.text += '\n';
            cue.text += lines[i];
        }
        cues.push_back(cue);
    }
    return cues;
}

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
    const std::string srt = run("ffmpeg -nostdin -v error -i " + quoted(path) + " -f srt -", ok);
    ASSERT_TRUE(ok) << "ffmpeg could not read " << f.file;
    const std::vector<Cue> cues = parseSrt(srt);
    ASSERT_EQ(f.cues.size(), cues.size()) << srt;
    for (std::size_t i = 0; i < cues.size(); ++i) {
        EXPECT_EQ(f.cues[i].startMs, cues[i].startMs) << "cue " << i;
        EXPECT_FALSE(cues[i].text.empty()) << "cue " << i << " shows no text";
        EXPECT_EQ(f.cues[i].text, cues[i].text) << "cue " << i;
    }

    const std::vector<long long> starts = probeStarts(path, ok);
    ASSERT_TRUE(ok) << "ffprobe could not read " << f.file;
    EXPECT_EQ(f.packets, starts);
}

INSTANTIATE_TEST_SUITE_P(
    Written, FfmpegLyrics,
    ::testing::Values(
        // SAMI keeps whole milliseconds; LRC truncates to hundredths.
        Format{"out.smi", {{1000, "你好，世界"}, {4000, "Hello world"}, {62345, "中文 and English"}},
               {1000, 4000, 7000, 62345}},
        Format{"out.lrc", {{1000, "你好，世界"}, {4000, "Hello world"}, {62340, "中文 and English"}},
               {1000, 4000, 62340}}),
    [](const ::testing::TestParamInfo<Format>& info) {
        return std::string(info.param.file).substr(4);
    });

}  // namespace
}  // namespace lumeval
