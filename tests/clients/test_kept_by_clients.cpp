// Players' readers (ffmpeg, libass) see every cue we write for as long as
// we meant, and only its words: a cue shorter than the format's step still
// shows, SAMI cues end, STL keeps its line breaks, and no override block or
// drawing reaches a format that has none.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <string>
#include <vector>

#ifdef LUMEVAL_HAVE_LIBASS
extern "C" {
#include <ass/ass.h>
}
#endif

#include "engine/subtitle.h"
#include "../engine/test_util.h"
#include "client_util.h"

namespace lumeval {
namespace {

using test::SrtCue;
using test::TempDir;

std::string write(const TempDir& dir, const std::string& name, std::vector<std::string> entries) {
    SaveSettings s;
    s.s_SubtitleEncodeFormat = kEncodingUtf8;
    const std::string path = dir.file(name);
    EXPECT_TRUE(clsSubtitle().SaveArrayToSubtitle(entries, path, s)) << name;
    return path;
}

// Spaces around each line of a text go: ffmpeg keeps those around STL's "|".
std::string trimLines(const std::string& text) {
    std::string out;
    std::size_t from = 0;
    for (;;) {
        const auto nl = text.find('\n', from);
        std::string line = text.substr(from, nl == std::string::npos ? nl : nl - from);
        line.erase(0, line.find_first_not_of(' '));
        line.erase(line.find_last_not_of(' ') + 1);
        out += line;
        if (nl == std::string::npos) return out;
        out += '\n';
        from = nl + 1;
    }
}

bool haveFfmpeg() { return test::toolExists("ffmpeg"); }

struct Seen {
    long long startMs, endMs;
    std::string text;
    bool operator==(const Seen&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Seen& s) {
    return os << s.startMs << "->" << s.endMs << "|" << s.text;
}

// ffmpeg's SubRip escapes a "{" of the text as "\{".
std::string unescapeBraces(std::string text) {
    for (auto at = text.find("\\{"); at != std::string::npos; at = text.find("\\{", at + 1)) text.erase(at, 1);
    return text;
}

// The styling ffmpeg makes of an SSA script's overrides ("<font ...>",
// "{\an2}"), which a SubRip player shows as formatting, not as words.
std::string withoutStyling(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char close = text[i] == '<' ? '>' : text[i] == '{' ? '}' : '\0';
        const auto end = close ? text.find(close, i) : std::string::npos;
        if (end != std::string::npos) {
            i = end;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<Seen> seenByFfmpeg(const std::string& path) {
    bool ok = false;
    const std::vector<SrtCue> cues = test::ffmpegCues(path, ok);
    EXPECT_TRUE(ok) << "ffmpeg could not read " << path;
    const bool ssa = path.ends_with(".ass") || path.ends_with(".ssa");
    std::vector<Seen> seen;
    for (const SrtCue& c : cues) {
        seen.push_back({c.startMs, c.endMs, trimLines(ssa ? withoutStyling(c.text) : unescapeBraces(c.text))});
    }
    return seen;
}

const std::vector<std::string> kTimes{
    "0",
    "00:00:01,000->00:00:01,001|flash",
    "00:00:02,000->00:00:03,000|one\\Ntwo",
    "00:00:05,000->00:00:07,500|last",
};

TEST(FfmpegSeesKept, ShortCuesLineBreaksAndEnds) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg not found: install Debian's ffmpeg to run this test";
    TempDir dir;
    struct Case {
        const char* file;
        std::vector<Seen> seen;
    };
    const Case cases[] = {
        // Centiseconds: the flash lasts one.
        {"out.ass", {{1000, 1010, "flash"}, {2000, 3000, "one\ntwo"}, {5000, 7500, "last"}}},
        {"out.stl", {{1000, 1010, "flash"}, {2000, 3000, "one\ntwo"}, {5000, 7500, "last"}}},
        // Milliseconds, and every cue ends where it should, the last one too.
        {"out.smi", {{1000, 1001, "flash"}, {2000, 3000, "one\ntwo"}, {5000, 7500, "last"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.seen, seenByFfmpeg(write(dir, c.file, kTimes))) << c.file;
}

// Cues of the SAMI file the problem came from: one millisecond long, then a
// clearing sync.
TEST(FfmpegSeesKept, OneMillisecondSamiCueConvertedToSsa) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg not found: install Debian's ffmpeg to run this test";
    TempDir dir;
    const std::string source = dir.file("flash.smi");
    test::writeBytes(source, "<SAMI>\r\n<BODY>\r\n<SYNC Start=1000><P>flash\r\n<SYNC Start=1001><P>&nbsp;\r\n"
                             "<SYNC Start=4000><P>next\r\n<SYNC Start=5000><P>&nbsp;\r\n</BODY>\r\n</SAMI>\r\n");
    for (const char* name : {"out.ssa", "out.stl", "out.smi"}) {
        ConvertSettings s;
        s.dst_SubFile = dir.file(name);
        s.s_SubtitleEncodeFormat = kEncodingUtf8;
        clsSubtitle engine;
        ASSERT_TRUE(engine.ConvertSubtitle(source, s)) << name;
        const long long flashEnd = std::string(name) == "out.smi" ? 1001 : 1010;
        const std::vector<Seen> seen = seenByFfmpeg(dir.file(name));
        EXPECT_EQ((std::vector<Seen>{{1000, flashEnd, "flash"}, {4000, 5000, "next"}}), seen) << name;
    }
}

TEST(FfmpegSeesKept, OnlyWordsInFormatsWithoutOverrides) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg not found: install Debian's ffmpeg to run this test";
    TempDir dir;
    const std::vector<std::string> entries{
        "0",
        "00:00:01,000->00:00:02,000|{\\b1}Bold{\\b0} word",
        "00:00:03,000->00:00:04,000|{\\p1}m 0 0 l 10 0 10 10{\\p0}",
        "00:00:05,000->00:00:06,000|{\\an8}top {not closed",
    };
    for (const char* name : {"out.smi", "out.lrc", "out.stl", "out.vtt"}) {
        const std::vector<Seen> seen = seenByFfmpeg(write(dir, name, entries));
        ASSERT_EQ(2u, seen.size()) << name;
        EXPECT_EQ("Bold word", seen[0].text) << name;
        EXPECT_EQ(1000, seen[0].startMs) << name;
        EXPECT_EQ("top {not closed", seen[1].text) << name;
        EXPECT_EQ(5000, seen[1].startMs) << name;
    }
}

#ifdef LUMEVAL_HAVE_LIBASS
// libass, what most players render SSA with: the short cue is an event of
// one centisecond.
TEST(LibassSeesKept, ShortCueLastsACentisecond) {
    TempDir dir;
    for (const char* name : {"short.ass", "short.ssa"}) {
        std::string path = write(dir, name, kTimes);
        ASS_Library* library = ass_library_init();
        ASSERT_NE(nullptr, library);
        ass_set_message_cb(library, [](int, const char*, va_list, void*) {}, nullptr);
        ASS_Track* track = ass_read_file(library, path.data(), nullptr);
        ASSERT_NE(nullptr, track) << name;
        std::vector<std::pair<long long, long long>> events;
        for (int i = 0; i < track->n_events; ++i) events.emplace_back(track->events[i].Start, track->events[i].Duration);
        std::sort(events.begin(), events.end());
        EXPECT_EQ((std::vector<std::pair<long long, long long>>{{1000, 10}, {2000, 1000}, {5000, 2500}}), events)
            << name;
        ass_free_track(track);
        ass_library_done(library);
    }
}
#endif

}  // namespace
}  // namespace lumeval
