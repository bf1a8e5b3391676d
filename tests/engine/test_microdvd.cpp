// The ".sub" formats: MicroDVD and SubViewer 2 read, MicroDVD written, and a
// file read by its content when its extension names another format.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/formats.h"
#include "engine/readers/readers.h"
#include "reader_test_util.h"
#include "engine/subtitle.h"
#include "engine/writers/writers.h"
#include "test_util.h"

namespace lumeval {
namespace {

const int32_t kSub = *KindOfKey("sub");

using test::readBytes;
using test::TempDir;
using test::writeBytes;
using Table = std::vector<std::string>;

// Feeds each text as one file of a run, line by line as the conversion does.
Table read(const std::vector<std::string>& files, double frameRate = 0,
           std::size_t* refused = nullptr) {
    LineTable table(1);
    TimingRules rules;
    rules.refused = refused;
    ReaderState state;
    state.frameRate = frameRate;
    ReaderContext ctx{table, rules, state};
    for (const std::string& text : files) test::FeedText(kSub, text, ctx);
    FinishReading(ctx);
    return Table(table.begin() + 1, table.end());
}

struct ReadCase {
    const char* name;
    std::string text;
    Table entries;
    double frameRate = 0;
};

void expectReads(const std::vector<ReadCase>& cases) {
    for (const ReadCase& c : cases) {
        EXPECT_EQ(c.entries, read({c.text}, c.frameRate)) << c.name;
    }
}

TEST(MicroDvdReader, FramesTextAndRates) {
    expectReads({
        {"the file's rate line is no cue", "{1}{1}25.000\n{25}{50}Hi\n",
         {"00:00:01,000->00:00:02,000|Hi"}},
        {"{0}{0} names the rate too", "{0}{0}25\n{25}{50}Hi\n", {"00:00:01,000->00:00:02,000|Hi"}},
        {"no rate line: 23.976", "{24}{48}Hi\n", {"00:00:01,001->00:00:02,002|Hi"}},
        {"the run's rate wins over the file's", "{1}{1}25.000\n{25}{50}Hi\n",
         {"00:00:00,500->00:00:01,000|Hi"}, 50},
        {"milliseconds rounded half to even (16 fps: 62.5 and 187.5 ms)",
         "{1}{1}16\n{1}{3}Hi\n", {"00:00:00,062->00:00:00,188|Hi"}},
        {"a rate line later in the file is a zero-length cue", "{10}{20}a\n{1}{1}25.000\n",
         {"00:00:00,417->00:00:00,834|a"}},
        {"an empty end frame: start only", "{1}{1}25\n{50}{}Hi\n", {"00:00:02,000|Hi"}},
        {"an end before the start: start only", "{1}{1}25\n{50}{25}Hi\n", {"00:00:02,000|Hi"}},
        {"| breaks lines", "{1}{1}25\n{25}{50}one|two|three\n",
         {"00:00:01,000->00:00:02,000|one\\Ntwo\\Nthree"}},
        {"style codes are no text; y:i italics its line, Y:i the cue",
         "{1}{1}25\n{25}{50}{c:$0000ff}{y:i}one|two\n{75}{100}{Y:i}{f:Arial}a|{s:20}b\n",
         {"00:00:01,000->00:00:02,000|<i>one</i>\\Ntwo",
          "00:00:03,000->00:00:04,000|<i>a</i>\\N<i>b</i>"}},
        {"a brace in the text is text", "{1}{1}25\n{25}{50}say {hi}\n",
         {"00:00:01,000->00:00:02,000|say {hi}"}},
        {"lines that are no MicroDVD lines are skipped",
         "{1}{1}25\n{-25}{50}negative\n{x}{50}letters\n{25}{50\nstray text\n{25}{50}ok\n",
         {"00:00:01,000->00:00:02,000|ok"}},
        {"leading zeros are no huge number", "{1}{1}25\n{000000000000000000025}{0050}Hi\n",
         {"00:00:01,000->00:00:02,000|Hi"}},
    });
}

TEST(MicroDvdReader, HugeFramesAreLeftOutAndCounted) {
    std::size_t refused = 0;
    const Table entries = read({"{1}{1}25\n{99999999999999999999}{99999999999999999999}huge\n"
                                "{9999999999999}{}big but held\n{25}{50}ok\n"},
                               0, &refused);
    EXPECT_EQ((Table{"111111111:06:39,960|big but held", "00:00:01,000->00:00:02,000|ok"}),
              entries);
    EXPECT_EQ(1u, refused);
    // At a tiny rate a frame count a table holds becomes a time it cannot.
    refused = 0;
    EXPECT_TRUE(read({"{999999999999999}{}far\n"}, 0.001, &refused).empty());
    EXPECT_EQ(1u, refused);
}

TEST(SubViewerReader, HeaderCuesAndBreaks) {
    expectReads({
        {"header, settings and two cues",
         "[INFORMATION]\n[TITLE]A film\n[AUTHOR]00:00:01.00,00:00:02.00\n[END INFORMATION]\n"
         "[SUBTITLE]\n[COLF]&HFFFFFF,[STYLE]bd,[SIZE]18,[FONT]Arial\n"
         "00:00:01.00,00:00:02.50\nHello[br]there\nsecond line\n\n00:01:03.10,00:01:04.00\nBye\n",
         {"00:00:01,000->00:00:02,500|Hello\\Nthere\\Nsecond line", "00:01:03,100->00:01:04,000|Bye"}},
        {"no header, no blank line between cues, none at the end",
         "00:00:01.00,00:00:02.00\na\n00:00:03.00,00:00:04.00\nb",
         {"00:00:01,000->00:00:02,000|a", "00:00:03,000->00:00:04,000|b"}},
        {"a cue with no text is still a cue", "00:00:01.00,00:00:02.00\n\n",
         {"00:00:01,000->00:00:02,000|"}},
        {"[BR] in any case", "0:00:01.00,0:00:02.00\nx[BR]y\n", {"00:00:01,000->00:00:02,000|x\\Ny"}},
    });
}

TEST(SubReader, EachFileDecidesItsOwnFormat) {
    // A SubViewer file after a MicroDVD file of the same run, then a MicroDVD
    // file without a rate line after one with: nothing of one file holds in
    // the next.
    const Table entries = read({"{1}{1}25\n{25}{50}micro", "00:00:05.00,00:00:06.00\nviewer\n",
                                "{24}{48}default rate\n"});
    EXPECT_EQ((Table{"00:00:01,000->00:00:02,000|micro", "00:00:05,000->00:00:06,000|viewer",
                     "00:00:01,001->00:00:02,002|default rate"}),
              entries);
}

// ---- writing ----

std::string writeMicroDvd(std::vector<std::string> entries, double frameRate = 0) {
    TempDir dir;
    const std::string path = dir.file("out.sub");
    clsSubtitle engine;
    SaveSettings s;
    s.s_SubtitleEncodeFormat = kEncodingUtf8;
    s.s_FrameRate = frameRate;
    EXPECT_TRUE(engine.SaveArrayToSubtitle(entries, path, s));
    std::string text = readBytes(path);
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    return text;
}

TEST(MicroDvdWriter, FramesTextAndRate) {
    EXPECT_EQ("{1}{1}23.976\r\n"
              "{24}{48}Hello|world\r\n"
              "{72}{73}shorter than a frame\r\n"
              "{96}{216}{y:i}italic|plain\r\n"
              "{216}{336}start only: until the default length",
              writeMicroDvd({"0", "00:00:01,001->00:00:02,002|Hello\\Nworld",
                     "00:00:03,003->00:00:03,010|shorter than a frame",
                     "00:00:04,004->00:00:09,009|{\\an8}<i>italic</i>\\N{\\b1}plain{\\b0}",
                     "00:00:09,009|start only: until the default length"}));
    EXPECT_EQ("{1}{1}25.000\r\n{25}{50}a", writeMicroDvd({"00:00:01,000->00:00:02,000|a"}, 25));
    EXPECT_EQ("{1}{1}29.97002997\r\n{30}{60}a", writeMicroDvd({"00:00:01,001->00:00:02,002|a"}, 29.97002997));
}

TEST(MicroDvdWriter, ReadsBackWithinHalfAFrame) {
    TempDir dir;
    const std::string path = dir.file("round.sub");
    std::vector<std::string> entries = {"0", "00:00:01,234->00:00:02,345|one\\Ntwo",
                                        "01:02:03,456->01:02:05,000|<i>three</i>"};
    clsSubtitle engine;
    SaveSettings save;
    save.s_FrameRate = 30;
    ASSERT_TRUE(engine.SaveArrayToSubtitle(entries, path, save));
    std::vector<std::string> back;
    engine.SubtitleLineLoaded = [&](double start, double end, const std::string& text) {
        back.push_back(std::to_string(static_cast<int64_t>(start)) + "-" +
                       std::to_string(static_cast<int64_t>(end)) + " " + text);
    };
    ConvertSettings again;
    again.dst_SubFile = "sub";
    ASSERT_TRUE(engine.ConvertSubtitle(path, again));  // the rate comes from the file
    EXPECT_EQ((std::vector<std::string>{"1233-2333 one\\Ntwo", "3723467-3725000 <i>three</i>"}),
              back);
}

// ---- read by content ----

struct Outcome {
    bool ok = false;
    Table lines;  // "start end text" per event
    RunInfo info;
    RunFailure::Kind failure = RunFailure::None;
};

Outcome convert(const std::vector<std::string>& paths, double frameRate = 0) {
    clsSubtitle engine;
    Outcome run;
    engine.SubtitleLineLoaded = [&](double start, double end, const std::string& text) {
        run.lines.push_back(std::to_string(static_cast<int64_t>(start)) + " " +
                            std::to_string(static_cast<int64_t>(end)) + " " + text);
    };
    ConvertSettings s;
    s.dst_SubFile = "srt";
    s.s_Sort = false;
    s.s_FrameRate = frameRate;
    run.ok = engine.ConvertSubtitle_Array(paths, s);
    run.info = engine.LastRun();
    run.failure = engine.LastFailure().kind;
    return run;
}

// What the run says the source at `path` was read as by its content.
std::string readAs(const Outcome& run, const std::string& path) {
    for (const SourceInfo& source : run.info.sources) {
        if (source.path == path) return source.readByContent;
    }
    return {};
}

TEST(ReadByContent, MisnamedFilesAreReadByTheirContent) {
    TempDir dir;
    struct Case {
        const char* name;
        const char* file;
        std::string text;
        const char* readAs;
        Table lines;
    };
    const std::vector<Case> cases = {
        {"MicroDVD named .srt", "m.srt", "{1}{1}25.000\n{25}{50}Hi|there\n", "MicroDVD",
         {"1000 2000 Hi\\Nthere"}},
        {"SubViewer named .srt", "v.srt", "[INFORMATION]\n[END INFORMATION]\n00:00:01.00,00:00:02.00\nHi\n",
         "SubViewer 2", {"1000 2000 Hi"}},
        {"SubRip named .sub", "s.sub", "1\n00:00:01,000 --> 00:00:02,000\nHi\n", "SubRip",
         {"1000 2000 Hi"}},
        {"LRC named .srt", "l.srt", "[ti:x]\n[00:01.00]Hi\n", "LRC", {"1000 0 Hi"}},
        {"WebVTT named .ass", "w.ass", "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nHi\n", "WebVTT",
         {"1000 2000 Hi"}},
        {"SAMI named .lrc", "s.lrc", "<SAMI><BODY>\n<SYNC Start=1000><P>Hi\n", "SAMI",
         {"1000 0 Hi"}},
        {"ASS named .smi", "a.smi",
         "[Script Info]\n[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, "
         "MarginV, Effect, Text\nDialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Hi\n",
         "SSA/ASS", {"1000 2000 Hi"}},
        {"a right name is not read again", "r.srt", "1\n00:00:01,000 --> 00:00:02,000\nHi\n", "",
         {"1000 2000 Hi"}},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(c.file);
        writeBytes(path, c.text);
        const Outcome run = convert({path});
        EXPECT_TRUE(run.ok) << c.name;
        EXPECT_EQ(c.lines, run.lines) << c.name;
        EXPECT_EQ(c.readAs, readAs(run, path)) << c.name;
    }
}

TEST(ReadByContent, NothingRecognisedStillFails) {
    TempDir dir;
    const std::string path = dir.file("plain.srt");
    writeBytes(path, "just\nsome text\n");
    const Outcome run = convert({path});
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(RunFailure::NoLines, run.failure);
    EXPECT_EQ("", readAs(run, path));
}

TEST(ReadByContent, TheFirstReadingLeavesNothingBehind) {
    TempDir dir;
    // The SubRip reader takes "-->" in a MicroDVD line for a time line and
    // leaves that block open at the end of the file: an entry at the end of
    // the run if it were kept.
    const std::string m = dir.file("m.srt");
    writeBytes(m, "{1}{1}25\n{25}{50}a\n{75}{100}00:00:07,000 --> 00:00:08,000");
    Outcome run = convert({m});
    EXPECT_EQ((Table{"1000 2000 a", "3000 4000 00:00:07,000 --> 00:00:08,000"}), run.lines);
    EXPECT_EQ(0u, run.info.timesRefused);

    // A continuation the first reader appends to the entry before the file
    // (a SAMI text line before any sync) is undone too.
    const std::string before = dir.file("before.srt");
    writeBytes(before, "1\n00:00:01,000 --> 00:00:02,000\nfirst\n");
    const std::string misnamed = dir.file("m.smi");
    writeBytes(misnamed, "{1}{1}25\n{75}{100}second\n");
    run = convert({before, misnamed});
    EXPECT_EQ((Table{"1000 2000 first", "3000 4000 second"}), run.lines);
    EXPECT_EQ("", readAs(run, before));
    EXPECT_EQ("MicroDVD", readAs(run, misnamed));
}

TEST(ReaderStateSnapshot, ACopyHoldsItsOwnReaderStates) {
    struct Counter {
        int n = 0;
    };
    ReaderState state;
    state.Own<Counter>().n = 1;
    state.pendingText = "open";
    const ReaderState snapshot = state;
    state.Own<Counter>().n = 5;
    state.pendingText = "changed";
    state = snapshot;
    EXPECT_EQ(1, state.Own<Counter>().n);
    EXPECT_EQ("open", state.pendingText);
    state.Own<Counter>().n = 9;  // the snapshot is not shared with what it was assigned to
    ReaderState again = snapshot;
    EXPECT_EQ(1, again.Own<Counter>().n);
}

TEST(ReadByContent, TheRunsFrameRateHolds) {
    TempDir dir;
    const std::string path = dir.file("m.srt");
    writeBytes(path, "{1}{1}25\n{25}{50}a\n");
    EXPECT_EQ((Table{"500 1000 a"}), convert({path}, 50).lines);
}

}  // namespace
}  // namespace lumeval
