// lumeval-convert as scripts see it: exit statuses, standard output in event
// mode, the files written in file and batch mode, and standard error.
#include <gtest/gtest.h>
#include <signal.h>

#include <cctype>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cli_test_support.h"
#include "engine/formats.h"

namespace lumeval::clitest {
namespace {

using Lines = std::vector<std::string>;

// demo.srt as event mode prints it.
const Lines kDemoEvents = {
    "1000\t3200\t你好，世界！\\NHello, world!",
    "3500\t5000\t<i>这是一个演示字幕。</i>",
    "5400\t7800\tThis is a demo subtitle.",
    "8000\t10500\t第一行\\N第二行",
    "11000\t13000\tLumeval 把字幕转换成各种格式。",
    "13500\t15000\t<b>Bold</b> and plain.",
    "15500\t18000\t再见！Goodbye!",
};

std::string Srt(const Lines& blocks) {
    std::string text;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        text += std::to_string(i + 1) + "\n" + blocks[i] + "\n\n";
    }
    return text;
}

// ---------------------------------------------------------------- usage

TEST(Usage, ErrorsExitWithTwoAndWriteNothing) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    const std::vector<Args> cases = {
        {},
        {"demo.srt"},       // no DEST
        {"-o", "out.srt"},  // no SOURCE
        {"demo.srt", "-o", "out.srt", "--bogus"},
        {"demo.srt", "-o", "out.srt", "--height", "tall"},
        {"demo.srt", "-o", "out.srt", "--width", "0x10"},  // decimal only
        {"demo.srt", "-o", "out.srt", "--font-size", "99999999999"},
        {"demo.srt", "-o", "out.srt", "--alpha", "256"},
        {"demo.srt", "-o", "out.srt", "--fore-color", "0x1000000"},
        {"demo.srt", "-o", "out.srt", "--effect", "bounce"},
        {"demo.srt", "-o", "out.srt", "--effect-speed", "0"},  // a divisor
        {"demo.srt", "-o", "out.srt", "--offset", "nan"},
        {"demo.srt", "-o", "out.srt", "--window", "10:5"},
        {"demo.srt", "-o", "out.srt", "--credit-span", "1:2"},  // span without text
        {"demo.srt", "-o", "out.srt", "--encoding", "latin1"},
        {"demo.srt", "-o", "out.srt", "--interval", "0"},
        {"demo.srt", "-o", "out.srt", "--codepage", "123456"},
        {"demo.srt", "-o", "out.srt", "--filter", ""},  // would match every line
        {"demo.srt", "--to", "xyz", "-d", "out"},
        {"demo.srt", "--to", "srt"},
        {"demo.srt", "--to", "srt", "-d", "out", "-j", "0"},
        {"demo.srt", "-o", "out.srt", "--to", "srt", "-d", "out"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(Joined(args));
        const RunResult r = dir.Run(args);
        EXPECT_EQ(2, r.exitCode);
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_TRUE(Contains(dir.Run(cases[4]).err, "--height"));
    EXPECT_FALSE(fs::exists(dir / "out.srt"));
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(Usage, DestinationThatIsASourceIsRefused) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    fs::create_symlink("demo.srt", dir / "link.srt");
    fs::create_hard_link(dir / "demo.srt", dir / "hard.srt");
    fs::create_directory(dir / "folder.srt");
    const std::string original = ReadFile(dir / "demo.srt");
    const std::vector<Args> cases = {
        {"demo.srt", "-o", "demo.srt"},
        {"demo.srt", "-o", "./demo.srt", "--overwrite"},
        {"demo.srt", "-o", "sub/../demo.srt", "--overwrite"},
        {"demo.srt", "-o", (dir / "demo.srt").string(), "--overwrite"},
        {"missing.srt", "demo.srt", "-o", "demo.srt", "--overwrite"},  // any source counts
        {"demo.srt", "-o", "link.srt", "--overwrite"},
        {"link.srt", "-o", "demo.srt", "--overwrite"},
        {"demo.srt", "-o", "hard.srt", "--overwrite"},
        {"demo.srt", "-o", "folder.srt"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(Joined(args));
        EXPECT_EQ(2, dir.Run(args).exitCode);
    }
    EXPECT_EQ(original, ReadFile(dir / "demo.srt"));
    EXPECT_FALSE(fs::exists(dir / "demo(1).srt"));
    EXPECT_TRUE(fs::is_empty(dir / "folder.srt"));
}

TEST(Usage, HelpVersionAndFormatList) {
    ScratchDir dir;
    const RunResult help = dir.Run({"--help"});
    ASSERT_EQ(0, help.exitCode);
    for (const char* text : {"--width N=384",
                             "--height N=288",
                             "--font-name NAME=Arial",
                             "--font-size N=18",
                             "--font-encoding N",
                             "=134",
                             "--effect EFFECT=0",
                             "--effect-speed X=2.6",
                             "--fore-color COLOUR=0xFFFFFF",
                             "--effect-color COLOUR=0xFF",
                             "--shadow-color COLOUR=0x0",
                             "--align N",
                             "--offset SECONDS=0",
                             "--credit-span START:END=0:0",
                             "--interval N=1000",
                             "--chinese MODE=0",
                             "--encoding ENC=utf8",
                             "--codepage N",
                             "--no-progress",
                             "--overwrite",
                             "--merge-same",
                             "--absolute",
                             "--no-sort",
                             "--filter",
                             "--quiet"}) {
        EXPECT_TRUE(Contains(help.out, text)) << text;
    }
    const RunResult version = dir.Run({"--version"});
    EXPECT_EQ(0, version.exitCode);
    const std::string prefix = "lumeval-convert ";
    ASSERT_GT(version.out.size(), prefix.size());
    EXPECT_EQ(prefix, version.out.substr(0, prefix.size()));
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(version.out[prefix.size()])))
        << version.out;

    const RunResult list = dir.Run({"--list-formats"});
    ASSERT_EQ(0, list.exitCode);
    const Lines rows = SplitLines(list.out);
    ASSERT_EQ(kFormatKeys.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& row = kFormatKeys[i];
        EXPECT_EQ(std::string(row.key) + "\t" + std::to_string(row.kind) + "\t" +
                      std::string(row.description) + (row.reader ? "\tyes" : "\tno") +
                      (row.writer ? "\tyes" : "\tno") + "\t" + HoldsText(row.holds),
                  rows[i]);
    }
    // What a reader of the list sees, in words.
    EXPECT_EQ("txt\t0\tplain text lines (write only; its lines carry no times)\tno\tyes\tno "
              "times, any encoding",
              rows[14]);
    EXPECT_TRUE(Contains(list.out, "\nvtt\t12\tWebVTT\tyes\tyes\tspans, UTF-8 only\n")) << list.out;
    EXPECT_TRUE(Contains(list.out, "\nass\t2\tAdvanced SubStation Alpha\tyes\tyes\tspans, styles, any encoding\n"));
}

// ---------------------------------------------------------------- event mode

TEST(EventMode, PrintsOneLinePerCueForAnyKey) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    dir.CopySample("demo-gbk.srt");
    for (const Args& args : std::vector<Args>{
             {"demo.srt", "-o", "srt"}, {"demo.srt", "-o", "ASS"}, {"demo-gbk.srt", "-o", "lrc"}}) {
        SCOPED_TRACE(Joined(args));
        const RunResult r = dir.Run(args);
        ASSERT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ(kDemoEvents, SplitLines(r.out));
        // A legacy source names the code page its content showed.
        EXPECT_EQ(args[0] == "demo-gbk.srt" ? "demo-gbk.srt: read as GBK\n" : "", r.err);
    }
    EXPECT_FALSE(fs::exists(dir / "srt"));
    // The same GBK bytes read through BIG5 are not the sample's text.
    EXPECT_NE(kDemoEvents,
              SplitLines(dir.Run({"demo-gbk.srt", "-o", "srt", "--codepage", "950"}).out));
}

TEST(EventMode, OptionsReachTheEngine) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    dir.CopySample("demo-table.stxt", "demo.stxt");
    WriteFile(dir / "w.srt",
              Srt({"00:00:08,000 --> 00:00:12,000\nA", "00:00:13,000 --> 00:00:15,000\nB",
                   "00:00:21,000 --> 00:00:25,000\nC"}));
    WriteFile(
        dir / "a.srt",
        Srt({"00:00:05,000 --> 00:00:06,000\nlater", "00:00:01,000 --> 00:00:02,000\nfirst",
             "00:00:01,000 --> 00:00:02,000\nsame span", "00:00:03,000 --> 00:00:04,000\nspam"}));
    struct Case {
        Args args;
        Lines expected;  // compared with the first lines printed
    };
    const std::vector<Case> cases = {
        // Times pushed before zero are written as zero; all spellings of a negative value parse.
        {{"demo.srt", "-o", "srt", "--offset", "-2.5"},
         {"0\t700\t你好，世界！\\NHello, world!", "1000\t2500\t<i>这是一个演示字幕。</i>"}},
        {{"--offset=-2.5", "demo.srt", "-o", "srt"}, {"0\t700\t你好，世界！\\NHello, world!"}},
        {{"w.srt", "-o", "srt", "--window", "10:20"}, {"0\t2000\tA", "3000\t5000\tB"}},
        {{"w.srt", "-o", "srt", "--window", "10:20", "--absolute"},
         {"10000\t12000\tA", "13000\t15000\tB"}},
        {{"a.srt", "-o", "srt", "--no-sort"}, {"5000\t6000\tlater", "1000\t2000\tfirst"}},
        // Two words: both must reach the engine, separated.
        {{"a.srt", "-o", "srt", "--filter", "spam", "--filter", "first"},
         {"1000\t2000\tsame span", "5000\t6000\tlater"}},
        {{"a.srt", "-o", "srt", "--merge-same"},
         {"1000\t2000\tfirst\\Nsame span", "3000\t4000\tspam", "5000\t6000\tlater"}},
        // A SubRip destination gets 10 ms more on the credit's end.
        {{"a.srt", "-o", "srt", "--credit", "Made with Lumeval", "--credit-span", "20:22.5",
          "--filter", "a"},
         {"1000\t2000\tfirst", "20000\t22510\tMade with Lumeval"}},
        // Sources are read in order into one table; a start-only entry ends at 0.
        {{"demo.srt", "demo.stxt", "-o", "srt", "--no-sort", "--filter", "\\N", "--filter", "<"},
         {"5400\t7800\tThis is a demo subtitle.", "11000\t13000\tLumeval 把字幕转换成各种格式。",
          "15500\t18000\t再见！Goodbye!", "500\t2000\t第一句 First line",
          "4500\t6500\t简体转换测试：汉字", "7000\t0\tStart time only"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Joined(c.args));
        const RunResult r = dir.Run(c.args);
        ASSERT_EQ(0, r.exitCode) << r.err;
        Lines lines = SplitLines(r.out);
        if (lines.size() > c.expected.size()) lines.resize(c.expected.size());
        EXPECT_EQ(c.expected, lines);
    }
}

TEST(EventMode, ManyLinesSurviveTheBufferedStream) {
    ScratchDir dir;
    constexpr int kCues = 60000;  // several output blocks
    std::string text;
    for (int i = 0; i < kCues; ++i) {
        char block[96];
        std::snprintf(block, sizeof block,
                      "%d\n%02d:%02d:%02d,000 --> %02d:%02d:%02d,500\nline %d\n\n", i + 1, i / 3600,
                      i / 60 % 60, i % 60, i / 3600, i / 60 % 60, i % 60, i);
        text += block;
    }
    WriteFile(dir / "big.srt", text);
    const RunResult r = dir.Run({"big.srt", "-o", "srt"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    const Lines lines = SplitLines(r.out);
    ASSERT_EQ(static_cast<std::size_t>(kCues), lines.size());
    EXPECT_EQ("0\t500\tline 0", lines.front());
    EXPECT_EQ("59999000\t59999500\tline 59999", lines.back());
}

// ---------------------------------------------------------------- failures

TEST(Failure, ExitsWithOneAndSaysWhy) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    WriteFile(dir / "garbage.srt", "not a subtitle\nat all\n");
    WriteFile(dir / "notes.xyz", "1\n00:00:01,000 --> 00:00:02,000\nx\n\n");
    WriteFile(dir / "oneline.srt", "no line feed here");
    WriteFile(dir / "plain", "a file, not a folder");
    WriteFile(dir / "emoji.srt", Srt({"00:00:01,000 --> 00:00:02,000\nplain",
                                      "00:00:03,000 --> 00:00:04,000\nsmile \xF0\x9F\x98\x80"}));
    struct Case {
        Args args;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{"missing.srt", "-o", "out.srt"}, "no readable source"},
        {{"notes.xyz", "-o", "srt"}, "no readable source"},
        {{"garbage.srt", "-o", "out.srt"}, "garbage.srt: no timed lines"},
        {{"oneline.srt", "missing.srt", "-o", "srt"}, "oneline.srt: no timed lines"},
        {{"demo.srt", "-o", "plain/out.srt"}, "cannot write plain/out.srt: Not a directory"},
        // Output lines: 1, time, plain, blank, 2, time, smile.
        {{"emoji.srt", "-o", "out.srt", "--encoding", "ansi"}, "line 7 "},
        {{"emoji.srt", "-o", "out.srt", "--encoding", "ansi"}, "--encoding utf8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Joined(c.args));
        const RunResult r = dir.Run(c.args);
        EXPECT_EQ(1, r.exitCode);
        EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_FALSE(fs::exists(dir / "out.srt"));

}

TEST(Failure, SkippedSourcesAreWarnedAboutUnlessQuiet) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    WriteFile(dir / "notes.xyz", "x\n");
    const RunResult r = dir.Run({"missing.srt", "notes.xyz", "demo.srt", "-o", "srt"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(kDemoEvents, SplitLines(r.out));
    EXPECT_TRUE(Contains(r.err, "missing.srt: no such file")) << r.err;
    EXPECT_TRUE(Contains(r.err, "notes.xyz: unknown format")) << r.err;
    EXPECT_TRUE(dir.Run({"missing.srt", "demo.srt", "-o", "srt", "--quiet"}).err.empty());
}

TEST(Failure, InterruptLeavesNoPartialFile) {
    ScratchDir dir;
    std::string text;
    for (int i = 0; i < 300000; ++i) {
        text += std::to_string(i + 1) + "\n00:00:01,000 --> 00:00:02,000\nline " +
                std::to_string(i) + "\n\n";
    }
    WriteFile(dir / "big.srt", text);
    // The same source eight times: a run of over a second even in a release
    // build, so the interrupt lands while it reads rather than after it.
    std::vector<std::string> args(8, "big.srt");
    args.insert(args.end(), {"-o", "out.srt", "--interval", "100"});
    const pid_t pid = dir.Start(args);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, SIGINT);
    const RunResult r = dir.Wait(pid);
    if (r.exitCode == 0) {
        GTEST_SKIP() << "finished before the interrupt";
    }
    EXPECT_EQ(1, r.exitCode) << "a signal, not the converter, ended the run";
    EXPECT_TRUE(Contains(r.err, "cancelled")) << r.err;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        EXPECT_EQ("big.srt", entry.path().filename().string()) << "left behind";
    }
}

// ---------------------------------------------------------------- file mode

TEST(FileMode, WritesReadableSubRipAndSaysWhere) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    const RunResult r = dir.Run({"demo.srt", "-o", "a/b/out.srt"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("wrote a/b/out.srt: 7 cues\n", r.err);
    const std::string head =
        "\xEF\xBB\xBF"
        "1\r\n00:00:01,000 --> 00:00:03,200\r\n你好，世界！\r\nHello, world!\r\n\r\n2\r\n";
    EXPECT_EQ(head, ReadFile(dir / "a/b/out.srt").substr(0, head.size()));
    EXPECT_EQ(kDemoEvents, SplitLines(dir.Run({"a/b/out.srt", "-o", "srt"}).out));
}

TEST(FileMode, ExistingDestinationGetsAFreeNameUnlessOverwrite) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    WriteFile(dir / "out.srt", "keep me");
    const RunResult free = dir.Run({"demo.srt", "-o", "out.srt"});
    ASSERT_EQ(0, free.exitCode) << free.err;
    EXPECT_EQ("wrote out(1).srt: 7 cues\n", free.err);
    EXPECT_EQ("keep me", ReadFile(dir / "out.srt"));

    const RunResult replaced = dir.Run({"demo.srt", "-o", "out.srt", "--overwrite", "--quiet"});
    ASSERT_EQ(0, replaced.exitCode) << replaced.err;
    EXPECT_TRUE(replaced.err.empty());
    EXPECT_EQ(ReadFile(dir / "out(1).srt"), ReadFile(dir / "out.srt"));
    EXPECT_FALSE(fs::exists(dir / "out(2).srt"));
}

TEST(FileMode, EncodingOptionPicksTheBytes) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"1",
         "\xEF\xBB\xBF"
         "1\r\n"},
        {"utf16le", std::string("\xFF\xFE"
                                "1\0\r\0",
                                6)},
        {"UTF16BE", std::string("\xFE\xFF\0"
                                "1\0\r",
                                6)},
        {"ansi", "1\r\n00:00:01,000 --> 00:00:03,200\r\n\xC4\xE3\xBA\xC3"},  // GBK 你好
    };
    for (const auto& [encoding, head] : cases) {
        SCOPED_TRACE(encoding);
        const std::string name = "out-" + encoding + ".srt";
        ASSERT_EQ(0, dir.Run({"demo.srt", "-o", name, "--encoding", encoding}).exitCode);
        EXPECT_EQ(head, ReadFile(dir / name).substr(0, head.size()));
    }
}

TEST(FileMode, ProgressBarOnlyWhenAsked) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    EXPECT_FALSE(Contains(dir.Run({"demo.srt", "-o", "a.srt"}).err, "\r")) << "no terminal here";
    const RunResult bar = dir.Run({"demo.srt", "-o", "b.srt", "--progress"});
    EXPECT_TRUE(Contains(bar.err, "\rreading demo.srt")) << bar.err;
    EXPECT_TRUE(Contains(bar.err, "\rwrote b.srt: 7 cues\n")) << "bar not wiped: " << bar.err;
    EXPECT_FALSE(
        Contains(dir.Run({"demo.srt", "-o", "c.srt", "--progress", "--no-progress"}).err, "\r"));
    EXPECT_TRUE(dir.Run({"demo.srt", "-o", "d.srt", "--progress", "--quiet"}).err.empty());
}

// ---------------------------------------------------------------- batch

TEST(Batch, EachSourceOnItsOwnWithSummariesInOrder) {
    ScratchDir dir;
    Args args;
    for (int i = 0; i < 6; ++i) {
        dir.CopySample(i % 2 ? "demo.srt" : "demo-gbk.srt", "f" + std::to_string(i) + ".srt");
        args.push_back("f" + std::to_string(i) + ".srt");
    }
    dir.CopySample("demo-table.stxt", "f0.stxt");  // same name without extension as f0.srt
    args.push_back("f0.stxt");
    Args parallel = args;
    parallel.insert(parallel.end(), {"--to", "SRT", "-d", "out/sub", "-j", "3"});
    const RunResult r = dir.Run(parallel);
    ASSERT_EQ(0, r.exitCode) << r.err;
    Lines lines;
    Lines notes;  // the code page of each GBK source, before its summary
    for (const auto& line : SplitLines(r.err)) (Contains(line, ": read as ") ? notes : lines).push_back(line);
    EXPECT_EQ((Lines{"f0.srt: read as GBK", "f2.srt: read as GBK", "f4.srt: read as GBK"}), notes);
    ASSERT_EQ(7u, lines.size()) << r.err;
    for (int i = 0; i < 6; ++i) {
        const std::string name = "f" + std::to_string(i);
        EXPECT_EQ(name + ".srt -> out/sub/" + name + ".srt: 7 cues", lines[i]);
        // Every file on its own equals a single conversion of it.
        ASSERT_EQ(0, dir.Run({name + ".srt", "-o", name + ".single.srt"}).exitCode);
        EXPECT_EQ(ReadFile(dir / (name + ".single.srt")),
                  ReadFile(dir / ("out/sub/" + name + ".srt")));
    }
    EXPECT_EQ("f0.stxt -> out/sub/f0(1).srt: 4 cues", lines[6]);
}

TEST(Batch, FailuresArePerFileAndSourcesAreNeverReplaced) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    dir.CopySample("demo-table.stxt", "demo.stxt");
    WriteFile(dir / "garbage.stxt", "nothing\n");
    fs::create_directory(dir / "out");
    WriteFile(dir / "out/demo.srt", "old");
    const std::string original = ReadFile(dir / "demo.srt");

    const RunResult r =
        dir.Run({"missing.srt", "demo.srt", "garbage.stxt", "--to", "srt", "-d", "."});
    EXPECT_EQ(1, r.exitCode);
    const Lines lines = SplitLines(r.err);
    ASSERT_EQ(3u, lines.size()) << r.err;
    EXPECT_EQ("missing.srt: failed: no such file", lines[0]);
    EXPECT_TRUE(
        Contains(lines[1], "demo.srt: failed: the output ./demo.srt would replace the source"))
        << lines[1];
    EXPECT_EQ("garbage.stxt: failed: garbage.stxt: no timed lines", lines[2]);
    // demo.stxt's output would be demo.srt, another source of the batch.
    EXPECT_EQ(1,
              dir.Run({"demo.srt", "demo.stxt", "--to", "srt", "-d", ".", "--overwrite"}).exitCode);
    EXPECT_EQ(original, ReadFile(dir / "demo.srt"));

    ASSERT_EQ(0, dir.Run({"demo.stxt", "--to", "srt", "-d", "out"}).exitCode);
    EXPECT_EQ("old", ReadFile(dir / "out/demo.srt"));
    EXPECT_TRUE(fs::exists(dir / "out/demo(1).srt"));
    ASSERT_EQ(0, dir.Run({"demo.stxt", "--to", "srt", "-d", "out", "--overwrite"}).exitCode);
    EXPECT_EQ(ReadFile(dir / "out/demo(1).srt"), ReadFile(dir / "out/demo.srt"));
}

}  // namespace
}  // namespace lumeval::clitest
