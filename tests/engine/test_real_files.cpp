// Files in the shapes found in the wild: odd line ends, sloppy SubRip, LRC
// tag forms and metadata, huge and negative times; and every reader feeding
// every writer without losing a cue.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/formats.h"
#include "engine/subtitle.h"
#include "engine/writers/writers.h"
#include "test_util.h"

namespace lumeval {
namespace {

using test::readBytes;
using test::TempDir;
using test::writeBytes;

std::string ms(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

struct EventRun {
    bool ok = false;
    std::vector<std::string> events;  ///< "start->end|text", milliseconds
    std::size_t refused = 0;
};

EventRun readEvents(const std::vector<std::string>& paths, double offsetSeconds = 0) {
    clsSubtitle engine;
    EventRun run;
    engine.SubtitleLineLoaded = [&](double s, double e, const std::string& t) {
        run.events.push_back(ms(s) + "->" + ms(e) + "|" + t);
    };
    ConvertSettings s;
    s.dst_SubFile = "srt";
    s.s_TimeOffset = offsetSeconds;
    run.ok = engine.ConvertSubtitle_Array(paths, s);
    run.refused = engine.LastRun().timesRefused;
    return run;
}

std::size_t countWithText(const std::vector<std::string>& events) {
    std::size_t n = 0;
    for (const auto& e : events) {
        const std::string text = e.substr(e.find('|') + 1);
        if (text.find_first_not_of(" \t") != std::string::npos) ++n;
    }
    return n;
}

constexpr const char* kSsaFormat =
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text";

TEST(RealFiles, ShapesReadAsExpected) {
    struct File {
        std::string name, bytes;
    };
    struct Case {
        const char* name;
        std::vector<File> files;
        std::vector<std::string> events;
        double offset = 0;
        bool ok = true;
        std::size_t refused = 0;
    };
    const std::string ssaCr = std::string("[Events]\r") + kSsaFormat +
                              "\rDialogue: 0,0:00:01.00,0:00:02.50,Default,,0,0,0,,Hello, world\r"
                              "Dialogue: 0,0:00:03.00,0:00:04.00,Default,,0,0,0,,next\r";
    const std::vector<Case> cases = {
        {"CR-only SubRip",
         {{"a.srt", "1\r00:00:01,000 --> 00:00:02,000\rone\r\r2\r00:00:03,000 --> 00:00:04,000\rtwo\r\r"
                    "3\r00:00:05,000 --> 00:00:06,000\rthree\r"}},
         {"1000->2000|one", "3000->4000|two", "5000->6000|three"}},
        {"CR-only SSA", {{"a.ssa", ssaCr}}, {"1000->2500|Hello, world", "3000->4000|next"}},
        {"LF text with a lone CR and a CRLF",
         {{"a.stxt", "00:00:01,000->00:00:02,000|a\r00:00:03,000->00:00:04,000|b\n"
                     "00:00:05,000->00:00:06,000|c\r\n00:00:07,000->00:00:08,000|d\n"}},
         {"1000->2000|a", "3000->4000|b", "5000->6000|c", "7000->8000|d"}},
        {"SubRip with a lone CR inside a block",
         {{"a.srt", "1\n00:00:01,000 --> 00:00:02,000\rone\n\n2\n00:00:03,000 --> 00:00:04,000\ntwo\n"}},
         {"1000->2000|one", "3000->4000|two"}},
        {"stxt without a line end", {{"a.stxt", "00:00:01,000->00:00:02,000|x"}}, {"1000->2000|x"}},
        {"lrc without a line end", {{"a.lrc", "[00:01.00]x"}}, {"1000->0|x"}},
        {"SubRip blocks without blank lines",
         {{"a.srt", "1\n00:00:01,000 --> 00:00:02,000\none\n2\n00:00:03,000 --> 00:00:04,000\ntwo\n"
                    "3\n00:00:05,000 --> 00:00:06,000\nthree\n"}},
         {"1000->2000|one", "3000->4000|two", "5000->6000|three"}},
        {"counter cut off a two-line text, digit text of a closed block kept",
         {{"a.srt", "1\n00:00:01,000 --> 00:00:02,000\nline a\nline b\n2\n00:00:03,000 --> 00:00:04,000\n42\n\n"
                    "3\n00:00:05,000 --> 00:00:06,000\nend\n"}},
         {"1000->2000|line a\\Nline b", "3000->4000|42", "5000->6000|end"}},
        {"time line at the very end",
         {{"a.srt", "1\n00:00:01,000 --> 00:00:02,000\nx\n\n2\n00:00:03,000 --> 00:00:04,000\n"}},
         {"1000->2000|x", "3000->4000|"}},
        {"time line at the very end, no line end",
         {{"a.srt", "1\n00:00:01,000 --> 00:00:02,000\nx\n\n2\n00:00:03,000 --> 00:00:04,000"}},
         {"1000->2000|x", "3000->4000|"}},
        {"open block carried into the next file",
         {{"a.srt", "1\n00:00:01,000 --> 00:00:02,000"}, {"b.srt", "carried\n\n"}},
         {"1000->2000|carried"}},
        {"LRC one-digit and long time forms",
         {{"a.lrc", "[0:1.730]a\n[1:02.5]b\n[01:00:04.862]c\n[00:05]d\n[00:06.12]e\n"}},
         {"1730->0|a", "5000->0|d", "6120->0|e", "62500->0|b", "3604862->0|c"}},
        {"LRC metadata adds nothing, [offset:] shifts what follows",
         {{"a.lrc", "[ar:Artist]\n[ti:Title]\n[al:Album]\n[by:me]\n[length: 03:22]\n[id:abc]\n"
                    "[00:01.00]one\n[offset:500]\n[00:03.00]two\n[offset:-250]\n[00:05.00]three\n"}},
         {"1000->0|one", "2500->0|two", "5250->0|three"}},
        {"LRC [offset:] on top of the run offset, reset for the next file",
         {{"a.lrc", "[offset:500]\n[00:03.00]shifted\n"}, {"b.lrc", "[00:10.00]plain\n"}},
         {"3500->0|shifted", "11000->0|plain"},
         1},
        {"600-hour cue", {{"a.stxt", "600:00:00,000->600:00:01,000|x\n"}}, {"2160000000->2160001000|x"}},
        {"sorted by time, not by text",
         {{"a.stxt", "100:00:00,000->100:00:01,000|b\n99:00:00,000->99:00:01,000|a\n"}},
         {"356400000->356401000|a", "360000000->360001000|b"}},
        {"a time beyond 999999999 hours is refused and counted",
         {{"a.stxt", "1000000000:00:00,000->1000000000:00:01,000|far\n00:00:01,000->00:00:02,000|near\n"}},
         {"1000->2000|near"},
         0,
         true,
         1},
        {"negative source times",
         {{"a.srt", "1\n-00:00:05,000 --> 00:00:02,000\nclipped\n\n"
                    "2\n-00:00:05,000 --> -00:00:03,000\ngone\n\n"
                    "3\n00:00:03,000 --> 00:00:04,000\nkept\n\n"}},
         {"0->2000|clipped", "3000->4000|kept"}},
        {"negative start in stxt", {{"a.stxt", "-00:00:05,000->00:00:02,000|x\n"}}, {"0->2000|x"}},
        {"offset -10 leaves nothing", {{"a.srt", "1\n00:00:01,000 --> 00:00:02,000\nx\n\n"}}, {}, -10, false},
        {"offset -1.5 clips the start", {{"a.srt", "1\n00:00:01,000 --> 00:00:04,000\nx\n\n"}}, {"0->2500|x"}, -1.5},
        {"offset beyond 32 bits",
         {{"a.srt", "1\n00:00:01,000 --> 00:00:02,000\nx\n\n"}},
         {"2147484000->2147485000|x"},
         2147483},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::vector<std::string> paths;
        for (const auto& f : c.files) {
            paths.push_back(dir.file(f.name));
            writeBytes(paths.back(), f.bytes);
        }
        const EventRun run = readEvents(paths, c.offset);
        EXPECT_EQ(c.ok, run.ok);
        EXPECT_EQ(c.events, run.events);
        EXPECT_EQ(c.refused, run.refused);
    }
}

// One cue list as the engine's own writers put it into every format, then
// through every writer and back: no cue with text may appear or vanish.
// Mismatches are collected so that one pair cannot hide another.
TEST(RealFiles, EveryReadableKeyToEveryWritableKeyKeepsTheCuesWithText) {
    const std::vector<std::string> cues = {
        "",  // the placeholder
        "00:00:01,000->00:00:03,000|first",
        "00:00:04,000->00:00:06,500|a\\Nb",
        "00:00:08,000->00:00:10,000|你好世界",
        "00:00:12,000|lyric",  // start-only, ended by the marker after it
        "00:00:15,000|",
        "00:00:20,000->00:00:22,000|plain",
        "01:40:05,000->01:40:08,000|late",
    };
    const std::size_t cuesWithText = 6;
    const char* const sourceKeys[] = {"srt", "utf", "ssa", "ass", "lrc",  "ksc", "krc", "smi",
                                      "sami", "snc", "qly", "stl", "vsf", "dks", "stxt", "vtt"};
    std::vector<std::string> wrong;
    TempDir dir;
    for (const char* src : sourceKeys) {
        const std::string srcPath = dir.file(std::string("src.") + src);
        {
            clsSubtitle writer;
            std::vector<std::string> entries = cues;
            SaveSettings save;
            save.s_SubtitleEncodeFormat = kEncodingUtf8;
            ASSERT_TRUE(writer.SaveArrayToSubtitle(entries, srcPath, save)) << src;
        }
        const EventRun source = readEvents({srcPath});
        const std::size_t expected = countWithText(source.events);
        if (expected != cuesWithText) {
            wrong.push_back(std::string("source ") + src + ": " + std::to_string(expected) + " of " +
                            std::to_string(cuesWithText) + " cues with text written and read back");
        }
        // Every format holds whole seconds, so the cue past 100 minutes keeps its start.
        for (const auto& e : source.events) {
            if (e.ends_with("|late") && !e.starts_with("6005000->")) {
                wrong.push_back(std::string("source ") + src + ": 01:40:05 read back as " + e);
            }
        }
        for (const auto& row : kFormatKeys) {
            const std::string dst(row.key);
            const std::string pair = std::string(src) + " -> " + dst;
            const std::string dstPath = dir.file(std::string(src) + "_to." + dst);
            clsSubtitle engine;
            ConvertSettings s;
            s.dst_SubFile = dstPath;
            s.s_SubtitleEncodeFormat = kEncodingUtf8;
            s.s_Overwrite = true;
            if (!engine.ConvertSubtitle(srcPath, s)) {
                wrong.push_back(pair + ": conversion failed");
                continue;
            }
            if (row.kind == kKindTxt) {
                const std::string written = readBytes(dstPath);
                for (const auto& e : source.events) {
                    // Plain text carries no override blocks.
                    std::string text;
                    AppendPlainText(text, e.substr(e.find('|') + 1));
                    for (std::size_t from = 0;;) {
                        const auto br = text.find("\\N", from);
                        const std::string part = text.substr(from, br == std::string::npos ? br : br - from);
                        if (!part.empty() && written.find(part) == std::string::npos) {
                            wrong.push_back(pair + ": text line \"" + part + "\" missing");
                        }
                        if (br == std::string::npos) break;
                        from = br + 2;
                    }
                }
                continue;
            }
            const std::size_t got = countWithText(readEvents({dstPath}).events);
            if (got != expected) {
                wrong.push_back(pair + ": " + std::to_string(expected) + " cues with text in the source, " +
                                std::to_string(got) + " read back");
            }
        }
    }
    std::string report;
    for (const auto& w : wrong) report += "  " + w + "\n";
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " mismatches:\n" << report;
}

}  // namespace
}  // namespace lumeval
