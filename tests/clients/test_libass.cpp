// Real readers of our SSA output: libass (what mpv and most players render
// with) and ffmpeg's ASS demuxer through ffprobe. Both must see every event
// with the times we meant.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#ifdef LUMEVAL_HAVE_LIBASS
extern "C" {
#include <ass/ass.h>
}
#endif

#include "engine/subtitle.h"
#include "tests/engine/test_util.h"

namespace lumeval {
namespace {

using Events = std::vector<std::pair<long long, long long>>;  // start, duration in ms

const std::vector<std::string> kCues = {
    "",
    "00:00:06,000->00:00:08,200|你好, world",
    "00:00:09,000->00:00:10,500|第二\\Nsecond",
    "00:00:12,250->00:00:14,000|third",
};

// Plain: one event per cue at its own times.
const Events kPlainEvents = {{6000, 2200}, {9000, 1500}, {12250, 1750}};

// Karaoke fill: each event starts one lead-in early (3 s at most), the last
// cue runs 5 s longer, and a count-down leads up to the first cue.
const Events kKaraokeEvents = {{3000, 5200}, {6000, 4500}, {9250, 9750}, {0, 3000}};

std::string writeScript(const test::TempDir& dir, const std::string& name, int32_t effect) {
    std::vector<std::string> entries = kCues;
    SaveSettings s;
    s.s_EffectStyle = effect;
    s.s_SubtitleEncodeFormat = 1;  // UTF-8 with its mark, as players meet it
    clsSubtitle engine;
    const std::string path = dir.file(name);
    EXPECT_TRUE(engine.SaveArrayToSubtitle(entries, path, s)) << path;
    return path;
}

Events sorted(Events e) {
    std::sort(e.begin(), e.end());
    return e;
}

#ifdef LUMEVAL_HAVE_LIBASS
struct LibassTrack {
    ASS_Library* library = ass_library_init();
    ASS_Track* track = nullptr;
    explicit LibassTrack(std::string path) {
        if (!library) return;
        // Keep libass's chatter out of the test log.
        ass_set_message_cb(library, [](int, const char*, va_list, void*) {}, nullptr);
        track = ass_read_file(library, path.data(), nullptr);
    }
    ~LibassTrack() {
        if (track) ass_free_track(track);
        if (library) ass_library_done(library);
    }
    LibassTrack(const LibassTrack&) = delete;
    LibassTrack& operator=(const LibassTrack&) = delete;
};
#endif

TEST(Libass, ReadsPlainAndKaraokeScripts) {
#ifndef LUMEVAL_HAVE_LIBASS
    GTEST_SKIP() << "libass not found: install libass-dev (pkg-config libass) to run this test";
#else
    test::TempDir dir;
    const struct {
        const char* file;
        int32_t effect;
        const Events* events;
    } cases[] = {{"plain.ass", 0, &kPlainEvents}, {"karaoke.ssa", 1, &kKaraokeEvents}};
    for (const auto& c : cases) {
        LibassTrack t(writeScript(dir, c.file, c.effect));
        ASSERT_NE(nullptr, t.track) << c.file;
        EXPECT_EQ(384, t.track->PlayResX) << c.file;
        EXPECT_EQ(288, t.track->PlayResY) << c.file;
        ASSERT_EQ(static_cast<int>(c.events->size()), t.track->n_events) << c.file;
        Events seen;
        for (int i = 0; i < t.track->n_events; ++i) {
            const ASS_Event& ev = t.track->events[i];
            seen.emplace_back(ev.Start, ev.Duration);
            // Every event names one of our styles, which libass must have read.
            ASSERT_GE(ev.Style, 0);
            ASSERT_LT(ev.Style, t.track->n_styles);
            EXPECT_EQ(0, std::string(t.track->styles[ev.Style].Name).rfind("Default", 0)) << c.file;
            if (c.effect != 0) {
                EXPECT_NE(std::string::npos, std::string(ev.Text).find("{\\k")) << ev.Text;
            }
        }
        EXPECT_EQ(*c.events, seen) << c.file;
        if (c.effect == 0) {
            EXPECT_EQ("{\\b0\\i0}{\\fnArial}{\\an2}你好, world", std::string(t.track->events[0].Text));
            EXPECT_EQ("{\\b0\\i0}{\\fnArial}{\\an2}第二\\Nsecond", std::string(t.track->events[1].Text));
        }
    }
#endif
}

bool haveFfprobe() { return std::system("command -v ffprobe > /dev/null 2>&1") == 0; }

// Packets of the subtitle stream as (start, duration) in milliseconds.
Events ffprobeEvents(const std::string& path) {
    const std::string cmd = "ffprobe -v error -select_streams s:0 -show_entries packet=pts_time,duration_time"
                            " -of csv=p=0 '" + path + "' 2>&1";
    Events out;
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) return out;
    char buf[256];
    while (fgets(buf, sizeof buf, pipe)) {
        double pts = 0;
        double duration = 0;
        if (std::sscanf(buf, "%lf,%lf", &pts, &duration) == 2) {
            out.emplace_back(std::llround(pts * 1000), std::llround(duration * 1000));
        } else {
            ADD_FAILURE() << "ffprobe said: " << buf;
        }
    }
    pclose(pipe);
    return out;
}

TEST(Ffprobe, ReadsPlainAndKaraokeScripts) {
    if (!haveFfprobe()) GTEST_SKIP() << "ffprobe not found: install ffmpeg to run this test";
    test::TempDir dir;
    EXPECT_EQ(sorted(kPlainEvents), sorted(ffprobeEvents(writeScript(dir, "plain.ass", 0))));
    EXPECT_EQ(sorted(kKaraokeEvents), sorted(ffprobeEvents(writeScript(dir, "karaoke.ass", 2))));
}

}  // namespace
}  // namespace lumeval
