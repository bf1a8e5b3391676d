// Real clients read the WebVTT files we write: ffmpeg every cue with its
// times and text, and the W3C's WebVTT parser and validator (npm package
// webvtt-parser, run with Debian's nodejs) with no error at all.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
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

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// Entries that exercise the writer: line breaks, markup kept and escaped, a
// start-only cue, a blank line inside a text, a late hour.
const std::vector<std::string> kVttEntries = {
    "0",
    "00:00:01,000->00:00:02,500|你好\\NWorld",
    "00:01:03,040->00:01:04,000|<i>again</i> & <b>bold</b> <u>u</u>",
    "00:01:05,000->00:01:06,000|a < b > c --> d",
    "00:01:07,000|no end: up to the next start",
    "00:01:09,000->00:01:10,000|one\\N\\Ntwo",
    "10:00:00,000->10:00:01,999|last",
};

// What a client should read: start and end in seconds, and the text as the
// cue holds it (escapes included, line breaks as "\n").
struct Expected {
    double start, end;
    std::string text;
};
const std::vector<Expected> kExpected = {
    {1.0, 2.5, "你好\\nWorld"},
    {63.04, 64.0, "<i>again</i> &amp; <b>bold</b> <u>u</u>"},
    {65.0, 66.0, "a &lt; b &gt; c --&gt; d"},
    {67.0, 69.0, "no end: up to the next start"},
    {69.0, 70.0, "one\\ntwo"},
    {36000.0, 36001.999, "last"},
};

std::string save(const TempDir& dir, const std::string& name, int32_t encoding = 1) {
    const std::string path = dir.file(name);
    std::vector<std::string> entries = kVttEntries;
    clsSubtitle engine;
    SaveSettings s;
    s.s_SubtitleEncodeFormat = encoding;
    EXPECT_TRUE(engine.SaveArrayToSubtitle(entries, path, s));
    return path;
}

const std::string kChecker = std::string(LUMEVAL_WEBVTT_CHECK) + "/check.js";

// Runs the W3C parser; errors and cues as it printed them.
void validate(const std::string& path, std::vector<std::string>& errors,
              std::vector<std::string>& cues) {
    bool ok = false;
    const std::string out = run("node " + quoted(kChecker) + " " + quoted(path) + " 2>&1", ok);
    ASSERT_TRUE(ok) << out;
    for (const auto& line : lines(out)) {
        if (line.rfind("error\t", 0) == 0) errors.push_back(line);
        if (line.rfind("cue\t", 0) == 0) cues.push_back(line);
    }
}

class WebVttClients : public ::testing::Test {
protected:
    void SetUp() override {
        if (!toolExists("node")) GTEST_SKIP() << "node not found: install Debian's nodejs";
        ASSERT_TRUE(std::filesystem::exists(std::string(LUMEVAL_WEBVTT_CHECK) +
                                            "/node_modules/webvtt-parser"))
            << "run: npm install --prefix " << LUMEVAL_WEBVTT_CHECK;
    }
};

TEST_F(WebVttClients, TheW3cValidatorReadsEveryCueWithoutError) {
    TempDir dir;
    const std::string path = save(dir, "out.vtt");
    std::vector<std::string> errors, cues;
    validate(path, errors, cues);
    EXPECT_TRUE(errors.empty()) << errors.front();
    ASSERT_EQ(kExpected.size(), cues.size());
    for (std::size_t i = 0; i < cues.size(); ++i) {
        char start[32], end[32];
        std::snprintf(start, sizeof start, "%.3f", kExpected[i].start);
        std::snprintf(end, sizeof end, "%.3f", kExpected[i].end);
        EXPECT_EQ(std::string("cue\t") + start + "\t" + end + "\t" + kExpected[i].text, cues[i]);
    }
}

TEST_F(WebVttClients, AwkwardTablesStillValidate) {
    // Unsorted starts, an end before its start, tags that do not balance,
    // text that looks like markup, timing or entities.
    const std::vector<std::string> entries = {
        "0",
        "00:00:09,000->00:00:10,000|late first",
        "00:00:05,000->00:00:01,000|ends before it starts",
        "00:00:02,000->00:00:03,000|a</b> <i>b\\N<b>c</i> d <u>e",
        "00:00:03,500->00:00:04,000|&nbsp; &amp;amp; <c.x>y</c> <00:00:03.600> 00:00:01.000 --> x",
        "00:00:04,000->00:00:05,000|WEBVTT\\NNOTE not a note",
    };
    TempDir dir;
    const std::string path = dir.file("awkward.vtt");
    std::vector<std::string> copy = entries;
    clsSubtitle engine;
    SaveSettings s;
    ASSERT_TRUE(engine.SaveArrayToSubtitle(copy, path, s));
    std::vector<std::string> errors, cues;
    validate(path, errors, cues);
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(5u, cues.size());
}

TEST_F(WebVttClients, EverySampleConvertedToVttValidates) {
    TempDir dir;
    for (const auto& entry : std::filesystem::directory_iterator(LUMEVAL_SAMPLES)) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        clsSubtitle engine;
        ConvertSettings s;
        s.dst_SubFile = dir.file(name + ".vtt");
        s.s_SubtitleEncodeFormat = 1;
        ASSERT_TRUE(engine.ConvertSubtitle(entry.path().string(), s));
        std::vector<std::string> errors, cues;
        validate(s.dst_SubFile, errors, cues);
        EXPECT_TRUE(errors.empty()) << errors.front();
        EXPECT_EQ(engine.LastRun().cuesWritten, cues.size());
    }
}

// Our reader's cues of a file, printed as check.js prints the W3C parser's.
std::vector<std::string> ourCues(const std::string& path) {
    std::vector<std::string> cues;
    clsSubtitle engine;
    engine.SubtitleLineLoaded = [&](double s, double e, const std::string& t) {
        std::string text = t;
        for (std::size_t at = 0; (at = text.find("\\N", at)) != std::string::npos; at += 2) text[at + 1] = 'n';
        char times[64];
        std::snprintf(times, sizeof times, "%.3f\t%.3f", s / 1000, e / 1000);
        cues.push_back(std::string("cue\t") + times + "\t" + text);
    };
    ConvertSettings c;
    c.dst_SubFile = "vtt";
    engine.ConvertSubtitle(path, c);
    return cues;
}

TEST_F(WebVttClients, WeReadTheBlocksTheW3cParserReads) {
    // Headers and blocks without the blank lines between them.
    const char* files[] = {
        "WEBVTT\nNOTE made by hand\n\n00:00:01.000 --> 00:00:02.000\na\n\n00:00:03.000 --> 00:00:04.000\nb\n",
        "WEBVTT\nNOTE\n00:00:01.000 --> 00:00:02.000\na\n00:00:03.000 --> 00:00:04.000\nb\n",
        "WEBVTT\nSTYLE\n::cue { color: red }\n00:00:01.000 --> 00:00:02.000\na\n00:00:03.000 --> 00:00:04.000\nb",
        "WEBVTT\n\nSTYLE\n::cue { color: red }\n\n00:00:01.000 --> 00:00:02.000\nx\n",
        "WEBVTT\n\none\n00:00:01.000 --> 00:00:02.000\na\ntwo\n00:00:03.000 --> 00:00:04.000\nb\n",
        "WEBVTT\n\nNOTE a --> b\nmore\n00:00:01.000 --> 00:00:02.000\nx\n",
        "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\na\nb --> c\nlost\n\n00:00:03.000 --> 00:00:04.000\nd\n",
    };
    TempDir dir;
    for (const char* content : files) {
        SCOPED_TRACE(content);
        const std::string path = dir.file("blocks.vtt");
        test::writeBytes(path, content);
        std::vector<std::string> errors, cues;
        validate(path, errors, cues);
        EXPECT_FALSE(cues.empty());
        EXPECT_EQ(cues, ourCues(path));
    }
}

TEST_F(WebVttClients, AnArrowInsideANoteIsACueAsBrowsersReadIt) {
    // The W3C's validator flags the comment and drops what follows it; the
    // parsing rules browsers follow end the comment at the "-->" line and
    // read the cue. We read it as browsers do.
    TempDir dir;
    const std::string path = dir.file("note.vtt");
    test::writeBytes(path, "WEBVTT\n\nNOTE\nsome words\n00:00:01.000 --> 00:00:02.000\nx\n");
    std::vector<std::string> errors, cues;
    validate(path, errors, cues);
    ASSERT_EQ(1u, errors.size());
    EXPECT_NE(std::string::npos, errors[0].find("timestamp in a comment")) << errors[0];
    EXPECT_TRUE(cues.empty());
    EXPECT_EQ(std::vector<std::string>{"cue\t1.000\t2.000\tx"}, ourCues(path));
}

TEST(FfmpegReadsWebVtt, CountsTimesAndText) {
    if (!toolExists("ffprobe") || !toolExists("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg/ffprobe not found: install Debian's ffmpeg to run this check";
    }
    TempDir dir;
    // Asked for UTF-16, written as UTF-8: ffmpeg must read it all the same.
    const std::string path = save(dir, "out.vtt", 2);
    bool ok = false;
    const std::string packets = run(
        "ffprobe -v error -show_entries packet=pts_time,duration_time -of csv=p=0 " + quoted(path),
        ok);
    ASSERT_TRUE(ok) << packets;
    std::vector<std::pair<double, double>> got;
    for (const auto& line : lines(packets)) {
        double start = 0, duration = 0;
        if (std::sscanf(line.c_str(), "%lf,%lf", &start, &duration) == 2) got.emplace_back(start, duration);
    }
    ASSERT_EQ(kExpected.size(), got.size()) << packets;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(kExpected[i].start, got[i].first, 0.0005) << i;
        EXPECT_NEAR(kExpected[i].end - kExpected[i].start, got[i].second, 0.0005) << i;
    }
    // The text, through ffmpeg's own SubRip writer: entities decoded, breaks kept.
    std::string srt = run("ffmpeg -v error -i " + quoted(path) + " -f srt -", ok);
    ASSERT_TRUE(ok) << srt;
    std::erase(srt, '\r');
    for (const char* text : {"你好\nWorld", "<i>again</i> & <b>bold</b> <u>u</u>",
                             "a < b > c --> d", "no end: up to the next start", "one\ntwo",
                             "last"}) {
        EXPECT_NE(std::string::npos, srt.find(text)) << text << " in:\n" << srt;
    }
}

}  // namespace
}  // namespace lumeval
