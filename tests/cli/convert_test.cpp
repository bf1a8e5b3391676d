// lumeval-convert as scripts see it: exit statuses, standard output in event
// mode, the files written in file and batch mode, and what goes to standard
// error.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cli_test_support.h"
#include "engine/formats.h"

namespace lumeval::clitest {
namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// demo.srt as event mode prints it.
const std::vector<std::string> kDemoEvents = {
    "1000\t3200\t你好，世界！\\NHello, world!",
    "3500\t5000\t<i>这是一个演示字幕。</i>",
    "5400\t7800\tThis is a demo subtitle.",
    "8000\t10500\t第一行\\N第二行",
    "11000\t13000\tLumeval 把字幕转换成各种格式。",
    "13500\t15000\t<b>Bold</b> and plain.",
    "15500\t18000\t再见！Goodbye!",
};

std::string Srt(const std::vector<std::string>& blocks) {
    std::string text;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        text += std::to_string(i + 1) + "\n" + blocks[i] + "\n\n";
    }
    return text;
}

/// A format key whose writer the engine does not have yet, or "" when all exist.
std::string MissingWriterKey() {
    for (const auto& row : kFormatKeys) {
        if (!WriterAvailable(row.kind)) return std::string(row.key);
    }
    return {};
}

// ---------------------------------------------------------------- usage

TEST(Usage, ErrorsExitWithTwo) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    const std::vector<std::vector<std::string>> cases = {
        {},                                              // nothing at all
        {"demo.srt"},                                    // no DEST
        {"-o", "out.srt"},                               // no SOURCE
        {"demo.srt", "-o", ""},                          // empty DEST
        {"demo.srt", "-o", "out.srt", "--bogus"},        // unknown option
        {"demo.srt", "-o", "out.srt", "--width", "abc"},
        {"demo.srt", "-o", "out.srt", "--width", "0"},
        {"demo.srt", "-o", "out.srt", "--width", "0x10"},
        {"demo.srt", "-o", "out.srt", "--font-size", "99999999999"},
        {"demo.srt", "-o", "out.srt", "--alpha", "256"},
        {"demo.srt", "-o", "out.srt", "--align", "10"},
        {"demo.srt", "-o", "out.srt", "--fore-color", "0x1000000"},
        {"demo.srt", "-o", "out.srt", "--effect-color", "red"},
        {"demo.srt", "-o", "out.srt", "--shadow-color", "-1"},
        {"demo.srt", "-o", "out.srt", "--effect", "bounce"},
        {"demo.srt", "-o", "out.srt", "--effect-speed", "0"},
        {"demo.srt", "-o", "out.srt", "--offset", "nan"},
        {"demo.srt", "-o", "out.srt", "--offset", "1e309"},
        {"demo.srt", "-o", "out.srt", "--window", "10:5"},
        {"demo.srt", "-o", "out.srt", "--window", "10"},
        {"demo.srt", "-o", "out.srt", "--credit-span", "1:2"},  // span without text
        {"demo.srt", "-o", "out.srt", "--chinese", "4"},
        {"demo.srt", "-o", "out.srt", "--encoding", "latin1"},
        {"demo.srt", "-o", "out.srt", "--interval", "0"},
        {"demo.srt", "-o", "out.srt", "--codepage", "123456"},
        {"demo.srt", "-o", "out.srt", "--filter", ""},
        {"demo.srt", "--to", "xyz", "-d", "out"},
        {"demo.srt", "--to", "srt"},                     // batch without -d
        {"demo.srt", "-d", "out"},                       // -d without --to
        {"demo.srt", "--to", "srt", "-d", "out", "-j", "0"},
        {"demo.srt", "-o", "out.srt", "--to", "srt", "-d", "out"},
    };
    for (const auto& args : cases) {
        std::string joined;
        for (const auto& a : args) joined += "[" + a + "] ";
        SCOPED_TRACE(joined);
        const RunResult r = dir.Run(args);
        EXPECT_EQ(2, r.exitCode);
        EXPECT_FALSE(r.err.empty());
        EXPECT_TRUE(r.out.empty());
    }
    // Nothing may have been written by a refused command line.
    EXPECT_FALSE(fs::exists(dir / "out.srt"));
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(Usage, NumberErrorsNameTheOption) {
    ScratchDir dir;
    const RunResult r = dir.Run({"a.srt", "-o", "out.srt", "--height", "tall"});
    EXPECT_EQ(2, r.exitCode);
    EXPECT_TRUE(Contains(r.err, "--height")) << r.err;
}

TEST(Usage, DestinationThatIsASourceIsRefused) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    fs::create_directory(dir / "sub");
    fs::create_symlink("demo.srt", dir / "link.srt");
    fs::create_hard_link(dir / "demo.srt", dir / "hard.srt");
    const std::string original = ReadFile(dir / "demo.srt");
    const std::vector<std::vector<std::string>> cases = {
        {"demo.srt", "-o", "demo.srt"},
        {"demo.srt", "-o", "demo.srt", "--overwrite"},
        {"demo.srt", "-o", "./demo.srt", "--overwrite"},
        {"demo.srt", "-o", "sub/../demo.srt", "--overwrite"},
        {"demo.srt", "-o", (dir / "demo.srt").string(), "--overwrite"},
        {"missing.srt", "demo.srt", "-o", "demo.srt", "--overwrite"},  // any source counts
        {"demo.srt", "-o", "link.srt", "--overwrite"},
        {"link.srt", "-o", "demo.srt", "--overwrite"},
        {"demo.srt", "-o", "hard.srt", "--overwrite"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args[2]);
        const RunResult r = dir.Run(args);
        EXPECT_EQ(2, r.exitCode) << r.err;
        EXPECT_TRUE(Contains(r.err, "SOURCE")) << r.err;
    }
    EXPECT_EQ(original, ReadFile(dir / "demo.srt"));
    EXPECT_FALSE(fs::exists(dir / "demo(1).srt"));
}

TEST(Usage, DestinationThatIsAFolderIsRefused) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    fs::create_directory(dir / "folder.srt");
    const RunResult r = dir.Run({"demo.srt", "-o", "folder.srt"});
    EXPECT_EQ(2, r.exitCode);
    EXPECT_TRUE(fs::is_empty(dir / "folder.srt"));
}

TEST(Usage, HelpListsEveryOptionWithItsDefault) {
    ScratchDir dir;
    const RunResult r = dir.Run({"--help"});
    ASSERT_EQ(0, r.exitCode);
    for (const char* option :
         {"-o", "--to", "-d", "-j", "--list-formats", "--width", "--height", "--title", "--banner",
          "--font-name", "--font-size", "--bold", "--italic", "--outline", "--shadow", "--alpha",
          "--font-encoding", "--effect", "--effect-speed", "--fore-color", "--effect-color",
          "--shadow-color", "--offset", "--no-sort", "--align", "--overwrite", "--window",
          "--absolute", "--credit", "--credit-span", "--chinese", "--interval", "--merge-same",
          "--encoding", "--filter", "--codepage", "--progress", "--no-progress", "--quiet",
          "--version"}) {
        EXPECT_TRUE(Contains(r.out, option)) << option;
    }
    for (const char* value : {"384", "288", "Arial", "18", "134", "2.6", "0xFFFFFF", "0xFF",
                              "utf8", "1000", "936"}) {
        EXPECT_TRUE(Contains(r.out, value)) << value;
    }
}

TEST(Usage, VersionNamesTheProgram) {
    ScratchDir dir;
    const RunResult r = dir.Run({"--version"});
    EXPECT_EQ(0, r.exitCode);
    ASSERT_GT(r.out.size(), 17u);
    EXPECT_EQ("lumeval-convert ", r.out.substr(0, 16));
    EXPECT_TRUE(r.out[16] >= '0' && r.out[16] <= '9') << r.out;
}

TEST(ListFormats, OneTabSeparatedRowPerKey) {
    ScratchDir dir;
    const RunResult r = dir.Run({"--list-formats"});
    ASSERT_EQ(0, r.exitCode);
    const auto lines = SplitLines(r.out);
    ASSERT_EQ(kFormatKeys.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& row = kFormatKeys[i];
        const std::string expected = std::string(row.key) + "\t" + std::to_string(row.kind) + "\t" +
                                     std::string(row.description) + "\t" +
                                     (ReaderAvailable(row.kind) ? "yes" : "no") + "\t" +
                                     (WriterAvailable(row.kind) ? "yes" : "no");
        EXPECT_EQ(expected, lines[i]);
    }
}

// ---------------------------------------------------------------- event mode

TEST(EventMode, PrintsOneLinePerCue) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    for (const char* key : {"srt", "ass", "SRT", "lrc"}) {
        SCOPED_TRACE(key);
        const RunResult r = dir.Run({"demo.srt", "-o", key});
        ASSERT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ(kDemoEvents, SplitLines(r.out));
        EXPECT_TRUE(r.err.empty()) << r.err;
    }
    // Event mode writes no file, not even one named like the key.
    EXPECT_FALSE(fs::exists(dir / "srt"));
}

TEST(EventMode, GbkSourceReadsLikeItsUtf8Twin) {
    ScratchDir dir;
    dir.CopySample("demo-gbk.srt");
    const RunResult r = dir.Run({"demo-gbk.srt", "-o", "srt"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(kDemoEvents, SplitLines(r.out));
}

TEST(EventMode, CodePageOptionReachesTheEngine) {
    ScratchDir dir;
    dir.CopySample("demo-gbk.srt");
    const RunResult r = dir.Run({"demo-gbk.srt", "-o", "srt", "--codepage", "950"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    // The same bytes read as BIG5 are not the Chinese text of the sample.
    EXPECT_NE(kDemoEvents, SplitLines(r.out));
}

TEST(EventMode, NegativeOffsetInBothSpellings) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"demo.srt", "-o", "srt", "--offset", "-2.5"},
             {"--offset", "-2.5", "demo.srt", "-o", "srt"},
             {"demo.srt", "-o", "srt", "--offset=-2.5"}}) {
        const RunResult r = dir.Run(args);
        ASSERT_EQ(0, r.exitCode) << r.err;
        const auto lines = SplitLines(r.out);
        ASSERT_EQ(7u, lines.size());
        // Times pushed before zero are written as zero.
        EXPECT_EQ("0\t700\t你好，世界！\\NHello, world!", lines[0]);
        EXPECT_EQ("1000\t2500\t<i>这是一个演示字幕。</i>", lines[1]);
    }
}

TEST(EventMode, WindowRebasesUnlessAbsolute) {
    ScratchDir dir;
    WriteFile(dir / "w.srt", Srt({"00:00:08,000 --> 00:00:12,000\nA",
                                  "00:00:13,000 --> 00:00:15,000\nB",
                                  "00:00:21,000 --> 00:00:25,000\nC"}));
    const RunResult rebased = dir.Run({"w.srt", "-o", "srt", "--window", "10:20"});
    ASSERT_EQ(0, rebased.exitCode) << rebased.err;
    EXPECT_EQ((std::vector<std::string>{"0\t2000\tA", "3000\t5000\tB"}), SplitLines(rebased.out));

    const RunResult absolute = dir.Run({"w.srt", "-o", "srt", "--window", "10:20", "--absolute"});
    ASSERT_EQ(0, absolute.exitCode) << absolute.err;
    EXPECT_EQ((std::vector<std::string>{"10000\t12000\tA", "13000\t15000\tB"}),
              SplitLines(absolute.out));
}

TEST(EventMode, LineOptionsReachTheEngine) {
    ScratchDir dir;
    WriteFile(dir / "a.srt", Srt({"00:00:05,000 --> 00:00:06,000\nlater",
                                  "00:00:01,000 --> 00:00:02,000\nfirst",
                                  "00:00:01,000 --> 00:00:02,000\nsame span",
                                  "00:00:03,000 --> 00:00:04,000\nspam here",
                                  "00:00:07,000 --> 00:00:08,000\nand eggs"}));
    struct Case {
        std::vector<std::string> extra;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {{},
         {"1000\t2000\tfirst", "1000\t2000\tsame span", "3000\t4000\tspam here",
          "5000\t6000\tlater", "7000\t8000\tand eggs"}},
        {{"--no-sort"},
         {"5000\t6000\tlater", "1000\t2000\tfirst", "1000\t2000\tsame span",
          "3000\t4000\tspam here", "7000\t8000\tand eggs"}},
        // Two words: both must reach the engine, separated.
        {{"--filter", "spam", "--filter", "eggs"},
         {"1000\t2000\tfirst", "1000\t2000\tsame span", "5000\t6000\tlater"}},
        {{"--merge-same"},
         {"1000\t2000\tfirst\\Nsame span", "3000\t4000\tspam here", "5000\t6000\tlater",
          "7000\t8000\tand eggs"}},
        // A SubRip destination gets 10 ms more on the credit's end.
        {{"--credit", "Made with Lumeval", "--credit-span", "20:22.5", "--filter", "a"},
         {"1000\t2000\tfirst", "20000\t22510\tMade with Lumeval"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"a.srt", "-o", "srt"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        SCOPED_TRACE(c.extra.empty() ? "defaults" : c.extra[0]);
        const RunResult r = dir.Run(args);
        ASSERT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ(c.expected, SplitLines(r.out));
    }
}

TEST(EventMode, SourcesAreReadInOrderIntoOneTable) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    dir.CopySample("demo-table.stxt", "demo.stxt");
    const RunResult unsorted = dir.Run({"demo.srt", "demo.stxt", "-o", "srt", "--no-sort"});
    ASSERT_EQ(0, unsorted.exitCode) << unsorted.err;
    const auto lines = SplitLines(unsorted.out);
    ASSERT_EQ(11u, lines.size());
    EXPECT_EQ(kDemoEvents.front(), lines.front());
    EXPECT_EQ("500\t2000\t第一句 First line", lines[7]);
    // A start-only entry reports end 0.
    EXPECT_EQ("7000\t0\tStart time only", lines[10]);

    const RunResult sorted = dir.Run({"demo.srt", "demo.stxt", "-o", "srt"});
    ASSERT_EQ(0, sorted.exitCode);
    EXPECT_EQ("500\t2000\t第一句 First line", SplitLines(sorted.out).front());
}

TEST(EventMode, ManyLinesSurviveTheBufferedStream) {
    ScratchDir dir;
    constexpr int kCues = 60000;
    std::string text;
    text.reserve(kCues * 48);
    for (int i = 0; i < kCues; ++i) {
        const int h = i / 3600, m = i / 60 % 60, s = i % 60;
        char span[64];
        std::snprintf(span, sizeof span, "%02d:%02d:%02d,000 --> %02d:%02d:%02d,500", h, m, s, h, m,
                      s);
        text += std::to_string(i + 1) + "\n" + span + "\nline " + std::to_string(i) + "\n\n";
    }
    WriteFile(dir / "big.srt", text);
    const RunResult r = dir.Run({"big.srt", "-o", "srt"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    const auto lines = SplitLines(r.out);
    ASSERT_EQ(static_cast<std::size_t>(kCues), lines.size());
    EXPECT_EQ("0\t500\tline 0", lines.front());
    EXPECT_EQ(std::to_string((kCues - 1) * 1000LL) + "\t" + std::to_string((kCues - 1) * 1000LL + 500) +
                  "\tline " + std::to_string(kCues - 1),
              lines.back());
}

// ---------------------------------------------------------------- failures

TEST(Failure, ExitsWithOneAndSaysWhy) {
    ScratchDir dir;
    WriteFile(dir / "garbage.srt", "not a subtitle\nat all\n");
    WriteFile(dir / "notes.xyz", "1\n00:00:01,000 --> 00:00:02,000\nx\n\n");
    WriteFile(dir / "oneline.srt", "no line feed here");
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{"missing.srt", "-o", "out.srt"}, "no readable source"},
        {{"missing.srt", "-o", "srt"}, "no readable source"},
        {{"notes.xyz", "-o", "out.srt"}, "no readable source"},
        {{"garbage.srt", "-o", "out.srt"}, "no lines"},
        {{"oneline.srt", "-o", "srt"}, "no lines"},
        {{"garbage.srt", "missing.srt", "-o", "srt"}, "no lines"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " -> " + c.args[c.args.size() - 1]);
        const RunResult r = dir.Run(c.args);
        EXPECT_EQ(1, r.exitCode);
        EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_FALSE(fs::exists(dir / "out.srt"));
}

TEST(Failure, SkippedSourcesAreWarnedAbout) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    WriteFile(dir / "notes.xyz", "x\n");
    const RunResult r = dir.Run({"missing.srt", "notes.xyz", "demo.srt", "-o", "srt"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(kDemoEvents, SplitLines(r.out));
    EXPECT_TRUE(Contains(r.err, "missing.srt: no such file")) << r.err;
    EXPECT_TRUE(Contains(r.err, "notes.xyz: unknown format")) << r.err;

    const RunResult quiet = dir.Run({"missing.srt", "demo.srt", "-o", "srt", "--quiet"});
    EXPECT_EQ(0, quiet.exitCode);
    EXPECT_TRUE(quiet.err.empty()) << quiet.err;
}

TEST(Failure, UnwritablePathIsNamed) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    WriteFile(dir / "plain", "a file, not a folder");
    const RunResult r = dir.Run({"demo.srt", "-o", "plain/out.srt"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_TRUE(Contains(r.err, "cannot write")) << r.err;
    EXPECT_TRUE(Contains(r.err, "out.srt")) << r.err;
}

TEST(Failure, UnmappableCharacterNamesTheLineAndLeavesNoFile) {
    ScratchDir dir;
    WriteFile(dir / "emoji.srt", Srt({"00:00:01,000 --> 00:00:02,000\nplain",
                                      "00:00:03,000 --> 00:00:04,000\nsmile \xF0\x9F\x98\x80"}));
    const RunResult r = dir.Run({"emoji.srt", "-o", "out.srt", "--encoding", "ansi"});
    EXPECT_EQ(1, r.exitCode);
    // Output lines: 1, time, plain, blank, 2, time, smile...
    EXPECT_TRUE(Contains(r.err, "line 7 ")) << r.err;
    EXPECT_TRUE(Contains(r.err, "--encoding utf8")) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out.srt"));
}

TEST(Failure, MissingWriterIsReportedBeforeReading) {
    const std::string key = MissingWriterKey();
    if (key.empty()) GTEST_SKIP() << "every writer exists";
    ScratchDir dir;
    dir.CopySample("demo.srt");
    const RunResult single = dir.Run({"demo.srt", "-o", "out." + key});
    EXPECT_EQ(1, single.exitCode);
    EXPECT_TRUE(Contains(single.err, "no writer")) << single.err;
    const RunResult batch = dir.Run({"demo.srt", "--to", key, "-d", "out"});
    EXPECT_EQ(1, batch.exitCode);
    EXPECT_TRUE(Contains(batch.err, "no writer")) << batch.err;
}

// ---------------------------------------------------------------- file mode

TEST(FileMode, WritesSubRipAndSaysWhere) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    const RunResult r = dir.Run({"demo.srt", "-o", "out.srt"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("wrote out.srt: 7 lines\n", r.err);
    EXPECT_TRUE(r.out.empty());
    const std::string written = ReadFile(dir / "out.srt");
    // UTF-8 by default, with its mark; CRLF line ends.
    const std::string head =
        "\xEF\xBB\xBF" "1\r\n00:00:01,000 --> 00:00:03,200\r\n你好，世界！\r\nHello, world!\r\n\r\n2\r\n";
    EXPECT_EQ(head, written.substr(0, head.size()));

    // What was written reads back to the same lines.
    const RunResult back = dir.Run({"out.srt", "-o", "srt"});
    ASSERT_EQ(0, back.exitCode) << back.err;
    EXPECT_EQ(kDemoEvents, SplitLines(back.out));
}

TEST(FileMode, ExistingDestinationGetsAFreeNameUnlessOverwrite) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    WriteFile(dir / "out.srt", "keep me");
    const RunResult free = dir.Run({"demo.srt", "-o", "out.srt"});
    ASSERT_EQ(0, free.exitCode) << free.err;
    EXPECT_EQ("wrote out(1).srt: 7 lines\n", free.err);
    EXPECT_EQ("keep me", ReadFile(dir / "out.srt"));
    EXPECT_TRUE(fs::exists(dir / "out(1).srt"));

    const RunResult replaced = dir.Run({"demo.srt", "-o", "out.srt", "--overwrite", "--quiet"});
    ASSERT_EQ(0, replaced.exitCode) << replaced.err;
    EXPECT_TRUE(replaced.err.empty());
    EXPECT_EQ(ReadFile(dir / "out(1).srt"), ReadFile(dir / "out.srt"));
    EXPECT_FALSE(fs::exists(dir / "out(2).srt"));
}

TEST(FileMode, MissingFoldersAreCreated) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    const RunResult r = dir.Run({"demo.srt", "-o", "a/b/out.stxt", "--quiet"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_TRUE(fs::is_regular_file(dir / "a/b/out.stxt"));
}

TEST(FileMode, EncodingOptionPicksTheBytes) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    struct Case {
        const char* encoding;
        std::string head;  // the file's first bytes
    };
    const std::vector<Case> cases = {
        {"utf8", "\xEF\xBB\xBF" "1\r\n"},
        {"1", "\xEF\xBB\xBF" "1\r\n"},
        {"utf16le", std::string("\xFF\xFE" "1\0\r\0", 6)},
        {"UTF16BE", std::string("\xFE\xFF\0" "1\0\r", 6)},
        {"ansi", "1\r\n00:00:01,000 --> 00:00:03,200\r\n\xC4\xE3\xBA\xC3"},  // GBK 你好
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoding);
        const std::string name = std::string("out-") + c.encoding + ".srt";
        const RunResult r = dir.Run({"demo.srt", "-o", name, "--encoding", c.encoding});
        ASSERT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ(c.head, ReadFile(dir / name).substr(0, c.head.size()));
    }
}

TEST(FileMode, InterruptLeavesNoPartialFile) {
    ScratchDir dir;
    std::string text;
    for (int i = 0; i < 300000; ++i) {
        text += std::to_string(i + 1) + "\n00:00:01,000 --> 00:00:02,000\nline " +
                std::to_string(i) + "\n\n";
    }
    WriteFile(dir / "big.srt", text);
    const std::string exe = LUMEVAL_CONVERT_EXE;
    std::vector<std::string> args{exe, "big.srt", "-o", "out.srt", "--interval", "100", "--quiet"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.path().c_str());
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (dir.path() / "../err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    ASSERT_EQ(0, posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ));
    posix_spawn_file_actions_destroy(&actions);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal, not by the converter";
    const std::string err = ReadFile(dir.path() / "../err");
    if (WEXITSTATUS(status) == 0) {
        // Finished before the interrupt arrived: the file must be whole.
        EXPECT_TRUE(fs::exists(dir / "out.srt"));
    } else {
        EXPECT_EQ(1, WEXITSTATUS(status));
        EXPECT_TRUE(Contains(err, "cancelled")) << err;
        EXPECT_FALSE(fs::exists(dir / "out.srt"));
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            EXPECT_EQ("big.srt", entry.path().filename().string()) << "left behind";
        }
    }
}

// ---------------------------------------------------------------- reporting

TEST(Reporting, ProgressBarOnlyWhenAsked) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    const RunResult plain = dir.Run({"demo.srt", "-o", "a.srt"});
    ASSERT_EQ(0, plain.exitCode);
    EXPECT_FALSE(Contains(plain.err, "\r")) << "standard error is no terminal here";

    const RunResult bar = dir.Run({"demo.srt", "-o", "b.srt", "--progress"});
    ASSERT_EQ(0, bar.exitCode);
    EXPECT_TRUE(Contains(bar.err, "\rreading demo.srt")) << bar.err;
    // The bar is wiped before the summary line.
    EXPECT_TRUE(Contains(bar.err, "\rwrote b.srt: 7 lines\n")) << bar.err;

    const RunResult off = dir.Run({"demo.srt", "-o", "c.srt", "--progress", "--no-progress"});
    EXPECT_FALSE(Contains(off.err, "\r"));
    const RunResult quiet = dir.Run({"demo.srt", "-o", "d.srt", "--progress", "--quiet"});
    EXPECT_TRUE(quiet.err.empty()) << quiet.err;
}

// ---------------------------------------------------------------- batch

TEST(Batch, EachSourceOnItsOwnWithSummariesInOrder) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    dir.CopySample("demo-table.stxt", "demo.stxt");
    const RunResult r = dir.Run({"demo.srt", "demo.stxt", "--to", "SRT", "-d", "out/sub"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    // Same name without extension: the second gets a free name.
    EXPECT_EQ("demo.srt -> out/sub/demo.srt: 7 lines\n"
              "demo.stxt -> out/sub/demo(1).srt: 4 lines\n",
              r.err);
    EXPECT_TRUE(fs::is_regular_file(dir / "out/sub/demo.srt"));
    EXPECT_TRUE(fs::is_regular_file(dir / "out/sub/demo(1).srt"));
}

TEST(Batch, ParallelRunsMatchSerialOnes) {
    ScratchDir dir;
    std::vector<std::string> args;
    for (int i = 0; i < 8; ++i) {
        const std::string name = "f" + std::to_string(i) + ".srt";
        dir.CopySample(i % 2 ? "demo.srt" : "demo-gbk.srt", name);
        args.push_back(name);
    }
    auto serial = args;
    serial.insert(serial.end(), {"--to", "stxt", "-d", "serial", "-j", "1"});
    auto parallel = args;
    parallel.insert(parallel.end(), {"--to", "stxt", "-d", "parallel", "-j", "4"});
    const RunResult one = dir.Run(serial);
    const RunResult four = dir.Run(parallel);
    ASSERT_EQ(0, one.exitCode) << one.err;
    ASSERT_EQ(0, four.exitCode) << four.err;
    const auto oneLines = SplitLines(one.err);
    const auto fourLines = SplitLines(four.err);
    ASSERT_EQ(8u, fourLines.size());
    for (int i = 0; i < 8; ++i) {
        const std::string name = "f" + std::to_string(i);
        EXPECT_EQ(name + ".srt -> parallel/" + name + ".stxt: 7 lines", fourLines[i]);
        EXPECT_EQ(ReadFile(dir / ("serial/" + name + ".stxt")),
                  ReadFile(dir / ("parallel/" + name + ".stxt")));
    }
}

TEST(Batch, FailuresAreReportedPerFile) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    dir.CopySample("demo.srt", "again.srt");
    WriteFile(dir / "garbage.stxt", "nothing\n");
    const std::string original = ReadFile(dir / "demo.srt");
    const RunResult r =
        dir.Run({"missing.srt", "demo.srt", "garbage.stxt", "again.srt", "--to", "srt", "-d", "."});
    EXPECT_EQ(1, r.exitCode);
    const auto lines = SplitLines(r.err);
    ASSERT_EQ(4u, lines.size()) << r.err;
    EXPECT_EQ("missing.srt: failed: no such file", lines[0]);
    // Its output would be the source itself.
    EXPECT_TRUE(Contains(lines[1], "demo.srt: failed: ")) << lines[1];
    EXPECT_TRUE(Contains(lines[1], "would replace the source")) << lines[1];
    EXPECT_TRUE(Contains(lines[2], "garbage.stxt: failed: no lines")) << lines[2];
    EXPECT_TRUE(Contains(lines[3], "again.srt: failed: ")) << lines[3];
    EXPECT_EQ(original, ReadFile(dir / "demo.srt"));
}

TEST(Batch, OverwriteReplacesOutputsButNeverSources) {
    ScratchDir dir;
    dir.CopySample("demo.srt");
    dir.CopySample("demo-table.stxt", "demo.stxt");
    fs::create_directory(dir / "out");
    WriteFile(dir / "out/demo.srt", "old");

    const RunResult kept = dir.Run({"demo.stxt", "--to", "srt", "-d", "out"});
    ASSERT_EQ(0, kept.exitCode) << kept.err;
    EXPECT_EQ("old", ReadFile(dir / "out/demo.srt"));
    EXPECT_TRUE(fs::exists(dir / "out/demo(1).srt"));

    const RunResult replaced = dir.Run({"demo.stxt", "--to", "srt", "-d", "out", "--overwrite"});
    ASSERT_EQ(0, replaced.exitCode) << replaced.err;
    EXPECT_NE("old", ReadFile(dir / "out/demo.srt"));

    // demo.stxt's output in "." is demo.srt, another source of the same batch.
    const std::string original = ReadFile(dir / "demo.srt");
    const RunResult clash =
        dir.Run({"demo.srt", "demo.stxt", "--to", "srt", "-d", ".", "--overwrite"});
    EXPECT_EQ(1, clash.exitCode);
    EXPECT_EQ(original, ReadFile(dir / "demo.srt"));
}

}  // namespace
}  // namespace lumeval::clitest
