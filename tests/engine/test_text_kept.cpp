// Cue text reaches the caller as the file wrote it: control characters are
// no text, and every other character is, "|" included.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "engine/subtitle.h"
#include "test_util.h"

namespace lumeval {
namespace {

using test::TempDir;
using test::writeBytes;

struct KeptCue {
    double start, end;
    std::string text;
    bool operator==(const KeptCue&) const = default;
};
std::ostream& operator<<(std::ostream& os, const KeptCue& c) {
    return os << c.start << "->" << c.end << " [" << c.text << "]";
}

// Reads `bytes` saved as `name` in event mode and returns the delivered cues.
// `whole`: a large source is read whole, as one that needs a conversion is.
std::vector<KeptCue> readCues(const std::string& name, const std::string& bytes, bool whole = false) {
    TempDir dir;
    const std::string path = dir.file(name);
    writeBytes(path, bytes);
    clsSubtitle engine;
    if (whole) engine.PiecewiseFromBytes = UINT64_MAX;
    std::vector<KeptCue> cues;
    engine.SubtitleLineLoaded = [&](double s, double e, const std::string& t) {
        cues.push_back({s, e, t});
    };
    ConvertSettings settings;
    settings.dst_SubFile = "srt";
    engine.ConvertSubtitle(path, settings);
    return cues;
}

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

TEST(ControlCharacters, AreRemovedFromCueText) {
    const std::string nul(1, '\0');
    const struct {
        const char* name;
        std::string file;
        std::string bytes;
        std::vector<KeptCue> cues;
    } cases[] = {
        // A lone NUL after a tag is no lyric: the tag only ends the cue before.
        {"NUL after an LRC tag", "a.lrc", "[00:01.00]one\n[00:02.00]" + nul + "\n",
         {{1000, 0, "one"}, {2000, 0, ""}}},
        {"NUL inside an LRC lyric", "b.lrc", "[00:01.00]o" + nul + "ne\n", {{1000, 0, "one"}}},
        {"escape and bell in SubRip", "c.srt",
         "1\n00:00:01,000 --> 00:00:02,000\n\x1B[1mbold\x07\n\n", {{1000, 2000, "[1mbold"}}},
        {"DEL and form feed", "d.srt", "1\n00:00:01,000 --> 00:00:02,000\na\x7F\x0C" "b\n\n",
         {{1000, 2000, "ab"}}},
        {"tab is text", "e.srt", "1\n00:00:01,000 --> 00:00:02,000\na\tb\n\n", {{1000, 2000, "a\tb"}}},
        {"C1 controls in UTF-8", "f.srt", "1\n00:00:01,000 --> 00:00:02,000\n\xC2\x85x\xC2\x9Fy\xC2\xA0z\n\n",
         {{1000, 2000, "xy\xC2\xA0z"}}},
        // Past the first 64 bytes, and on the last line without a line end.
        {"far into a long line", "g.srt",
         "1\n00:00:01,000 --> 00:00:02,000\n" + repeat('a', 70) + "\x01" + repeat('b', 70) + "\n\n",
         {{1000, 2000, repeat('a', 70) + repeat('b', 70)}}},
        {"last line without a line end", "h.lrc", "[00:01.00]x\x02y", {{1000, 0, "xy"}}},
        // The text is read 64 bytes at a time: a two-byte character across
        // the boundary (byte 63 and 64 of the file) is a control or not.
        {"C1 control across a block boundary", "k.lrc", "[00:01.00]" + repeat('a', 53) + "\xC2\x85" "b\n",
         {{1000, 0, repeat('a', 53) + "b"}}},
        // ... and across the 16-byte steps inside a block, where the next
        // step holds no lead byte of its own (bytes 15 and 16 of the line).
        {"C1 control across a step inside a block", "m.lrc", "[00:01.00]" + repeat('a', 5) + "\xC2\x85" "b\n",
         {{1000, 0, repeat('a', 5) + "b"}}},
        {"no-break space across a block boundary", "l.lrc", "[00:01.00]" + repeat('a', 53) + "\xC2\xA0" "b\n",
         {{1000, 0, repeat('a', 53) + "\xC2\xA0" "b"}}},
        // A lone CR splits a line again, and pieces under eight bytes are
        // looked at byte by byte: a C1 control is two of them. Found by
        // fuzz_convert_vtt (a control line read from ISO-8859-3 as U+0093).
        {"C1 control in a short piece after a lone CR", "n.srt",
         "1\n00:00:01,000 --> 00:00:02,000\nx\r\xC2\x93y\n\n", {{1000, 2000, "x\\Ny"}}},
        {"C1 control alone after a lone CR", "o.lrc", "[00:01.00]x\r\xC2\x85\n", {{1000, 0, "x"}}},
        // The unit separator that ends an entry's text must not cut it short.
        {"a unit separator in the text", "i.srt", "1\n00:00:01,000 --> 00:00:02,000\nleft\x1Fright\n\n",
         {{1000, 2000, "leftright"}}},
        {"in a time line too", "j.srt", "1\n00:00:01,000 -" + nul + "-> 00:00:02,000\nt\n\n",
         {{1000, 2000, "t"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.cues, readCues(c.file, c.bytes)) << c.name;
}

TEST(ControlCharacters, AreRemovedFromUtf16Text) {
    // "[00:01.00]a<NUL>b" in UTF-16 LE with its mark: the NUL is a character there.
    std::string bytes = "\xFF\xFE";
    for (const char c : std::string("[00:01.00]a") + '\0' + "b\n") {
        bytes += c;
        bytes += '\0';
    }
    EXPECT_EQ((std::vector<KeptCue>{{1000, 0, "ab"}}), readCues("u.lrc", bytes));
}

TEST(BarInText, ReachesTheCallerWhole) {
    const struct {
        const char* name;
        std::string file;
        std::string bytes;
        std::string text;
    } cases[] = {
        {"SubRip", "a.srt", "1\n00:00:01,000 --> 00:00:02,000\nleft | right\n\n", "left | right"},
        {"SubRip, two lines", "b.srt", "1\n00:00:01,000 --> 00:00:02,000\n|a|\nb|\n\n", "|a|\\Nb|"},
        {"WebVTT", "c.vtt", "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nleft | right\n\n", "left | right"},
        {"ASS karaoke furigana", "d.ass",
         "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
         "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\k3}振|ふ{\\k3}り\n",
         "{\\k3}振|ふ{\\k3}り"},
        {"stxt, the table's own form", "e.stxt", "00:00:01,000->00:00:02,000|a|b|c\n", "a|b|c"},
        {"LRC", "f.lrc", "[00:01.00]left | right\n", "left | right"},
        {"SubRip with CRLF, bars at the edges", "g.srt",
         "1\r\n00:00:01,000 --> 00:00:02,000\r\nleft | right\r\n|edge|\r\n\r\n", "left | right\\N|edge|"},
    };
    for (const auto& c : cases) {
        const auto cues = readCues(c.file, c.bytes);
        ASSERT_EQ(1u, cues.size()) << c.name;
        EXPECT_EQ(c.text, cues[0].text) << c.name;
    }
}

TEST(BarInText, SurvivesEveryStepOfAFileModeRun) {
    // Duplicates, merging and sorting look at entries; none may cut the text.
    TempDir dir;
    const std::string src = dir.file("a.srt");
    writeBytes(src,
               "1\n00:00:03,000 --> 00:00:04,000\nx | y\n\n"
               "2\n00:00:01,000 --> 00:00:02,000\np | q\n\n"
               "3\n00:00:01,000 --> 00:00:02,000\np | q\n\n"
               "4\n00:00:01,000 --> 00:00:02,000\nr|s\n\n");
    clsSubtitle engine;
    ConvertSettings settings;
    settings.dst_SubFile = dir.file("out.srt");
    settings.s_MergeSamePosition = true;
    settings.s_SubtitleEncodeFormat = kEncodingUtf8;
    ASSERT_TRUE(engine.ConvertSubtitle(src, settings));
    EXPECT_EQ(
        "\xEF\xBB\xBF"
        "1\r\n00:00:01,000 --> 00:00:02,000\r\np | q\r\nr|s\r\n\r\n"
        "2\r\n00:00:03,000 --> 00:00:04,000\r\nx | y\r\n",
        test::readBytes(dir.file("out.srt")));
}

TEST(LargeSources, ReadWholeWhileTheirPagesAreGivenBack) {
    // Past a few megabytes a source read whole gives back the pages behind
    // the reading; every cue must still come out whole, and a misnamed file
    // (read again by its content) must not meet a page given back. Read a
    // piece at a time, the same.
    std::string srt;
    std::string microDvd = "{1}{1}25.000\n";
    constexpr int kCues = 60000;
    for (int i = 0; i < kCues; ++i) {
        const std::string text = "cue " + std::to_string(i) + " " + std::string(48, 'x');
        char times[64];
        std::snprintf(times, sizeof times, "%02d:%02d:%02d,000 --> %02d:%02d:%02d,500", i / 3600,
                      i / 60 % 60, i % 60, i / 3600, i / 60 % 60, i % 60);
        srt += std::to_string(i + 1) + "\n" + times + "\n" + text + "\n\n";
        microDvd += "{" + std::to_string(i * 25) + "}{" + std::to_string(i * 25 + 12) + "}" + text + "\n";
    }
    ASSERT_GT(srt.size(), std::size_t{4} << 20);
    ASSERT_GT(microDvd.size(), std::size_t{4} << 20);
    for (const auto& [name, bytes] : {std::pair{"big.srt", srt}, std::pair{"misnamed.srt", microDvd}})
    for (const bool whole : {true, false}) {
        SCOPED_TRACE(whole ? "whole" : "in pieces");
        const auto cues = readCues(name, bytes, whole);
        ASSERT_EQ(static_cast<std::size_t>(kCues), cues.size()) << name;
        for (int i = 0; i < kCues; i += 997) {
            EXPECT_EQ("cue " + std::to_string(i) + " " + std::string(48, 'x'), cues[static_cast<std::size_t>(i)].text)
                << name << " " << i;
            EXPECT_EQ(i * 1000.0, cues[static_cast<std::size_t>(i)].start) << name << " " << i;
        }
        EXPECT_EQ("cue " + std::to_string(kCues - 1) + " " + std::string(48, 'x'), cues.back().text) << name;
    }
}

}  // namespace
}  // namespace lumeval
