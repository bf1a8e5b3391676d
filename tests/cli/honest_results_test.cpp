// What the converter says about its results and its failures: cue counts,
// runs that deliver nothing, sources it cannot read, saves that fail, option
// values it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace lumeval::clitest {
namespace {

using Args = std::vector<std::string>;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string Joined(const Args& args) {
    std::string text;
    for (const auto& a : args) text += "[" + a + "] ";
    return text;
}

const char* const kTwoCues =
    "1\n00:00:01,000 --> 00:00:02,000\nspam one\n\n"
    "2\n00:00:03,000 --> 00:00:04,000\nspam two\n\n";

TEST(HonestResults, ReportCountsTheCuesWrittenNotTheTableLines) {
    ScratchDir dir;
    // Blank tags only end the lyric before them: five entries, three cues.
    WriteFile(dir / "song.lrc", "[00:01.00]one\n[00:02.00]\n[00:03.00]two\n[00:04.00]\n[00:05.00]three\n");
    const RunResult r = dir.Run({"song.lrc", "-o", "out.srt"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("wrote out.srt: 3 cues\n", r.err);
    WriteFile(dir / "one.srt", "1\n00:00:01,000 --> 00:00:02,000\nalone\n");
    EXPECT_EQ("wrote one.ass: 1 cue\n", dir.Run({"one.srt", "-o", "one.ass"}).err);
}

// No cue delivered: the same exit status and the same one line in file mode
// and event mode, no file and no output.
TEST(HonestResults, ARunThatDeliversNoCueFailsInEveryMode) {
    ScratchDir dir;
    WriteFile(dir / "a.srt", kTwoCues);
    WriteFile(dir / "notes.txt", "just words\nmore words\n");
    WriteFile(dir / "garbage.srt", "not a subtitle\n");
    struct Case {
        Args args;  // the destination is appended
        std::string says;
    };
    const std::vector<Case> cases = {
        {{"a.srt", "--filter", "spam"}, "no cues left after --filter"},
        {{"a.srt", "--window", "100:200"}, "no cues inside --window 100:200"},
        {{"garbage.srt"}, "garbage.srt: no timed lines"},
        {{"notes.txt"}, "notes.txt: txt is write only; its lines carry no times"},
    };
    for (const auto& c : cases) {
        for (const std::string dest : {"out.srt", "srt"}) {
            Args args = c.args;
            args.insert(args.end(), {"-o", dest});
            SCOPED_TRACE(Joined(args));
            const RunResult r = dir.Run(args);
            EXPECT_EQ(1, r.exitCode);
            EXPECT_EQ("lumeval-convert: " + c.says + "\n", r.err);
            EXPECT_TRUE(r.out.empty()) << r.out;
        }
    }
    EXPECT_FALSE(fs::exists(dir / "out.srt"));
    // Batch mode says the same per file.
    const RunResult batch = dir.Run({"a.srt", "--filter", "spam", "--to", "srt", "-d", "out"});
    EXPECT_EQ(1, batch.exitCode);
    EXPECT_EQ("a.srt: failed: no cues left after --filter\n", batch.err);
}

TEST(HonestResults, UnreadableSourcesAreNamedWithTheCauseAndTheRunGoesOn) {
    ScratchDir dir;
    WriteFile(dir / "a.srt", kTwoCues);
    ASSERT_EQ(0, mkfifo((dir / "pipe.srt").c_str(), 0644));
    const RunResult r = dir.Run({"pipe.srt", "a.srt", "-o", "srt"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("lumeval-convert: warning: pipe.srt: not a regular file, skipped\n", r.err);
    EXPECT_EQ("1000\t2000\tspam one\n3000\t4000\tspam two\n", r.out);

    const RunResult alone = dir.Run({"pipe.srt", "-o", "out.srt"});
    EXPECT_EQ(1, alone.exitCode);
    EXPECT_TRUE(Contains(alone.err, "pipe.srt: not a regular file")) << alone.err;

    const RunResult batch = dir.Run({"pipe.srt", "a.srt", "--to", "ass", "-d", "out"});
    EXPECT_EQ(1, batch.exitCode);
    EXPECT_TRUE(Contains(batch.err, "pipe.srt: failed: not a regular file\n")) << batch.err;
    EXPECT_TRUE(Contains(batch.err, "a.srt -> out/a.ass: 2 cues\n")) << batch.err;

    // Permissions do not stop root; the case is only meaningful for others.
    if (geteuid() != 0) {
        WriteFile(dir / "locked.srt", kTwoCues);
        fs::permissions(dir / "locked.srt", fs::perms::none);
        const RunResult locked = dir.Run({"locked.srt", "a.srt", "-o", "srt"});
        EXPECT_EQ(0, locked.exitCode);
        EXPECT_TRUE(Contains(locked.err, "cannot read locked.srt: Permission denied")) << locked.err;
    }
}

TEST(HonestResults, ChoiceOptionsAnswerInWords) {
    ScratchDir dir;
    WriteFile(dir / "a.srt", kTwoCues);
    struct Case {
        Args option;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{"--encoding", "9"},
         "--encoding: 9 is not one of ansi, utf8, utf16le, utf16be, utf32le, utf32be (or 0 to 5)"},
        {{"--encoding", "latin1"},
         "--encoding: latin1 is not one of ansi, utf8, utf16le, utf16be, utf32le, utf32be (or 0 "
         "to 5)"},
        {{"--effect", "3"}, "--effect: 3 is not one of none, kf, ko (or 0 to 2)"},
        {{"--chinese", "-1"},
         "--chinese: -1 is not one of none, big5-to-gb, gb-to-big5, auto (or 0 to 3)"},
        {{"--bold", "2"}, "--bold"},
        {{"--italic", "5"}, "--italic"},
    };
    for (const auto& c : cases) {
        Args args{"a.srt", "-o", "out.srt"};
        args.insert(args.end(), c.option.begin(), c.option.end());
        SCOPED_TRACE(Joined(args));
        const RunResult r = dir.Run(args);
        EXPECT_EQ(2, r.exitCode);
        EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
    }
    // Names in any case and the numbers still work.
    for (const Args& ok : std::vector<Args>{{"--encoding", "UTF16LE"},
                                            {"--encoding", "5"},
                                            {"--effect", "KO"},
                                            {"--chinese", "auto"},
                                            {"--bold", "1"}}) {
        Args args{"a.srt", "-o", "srt"};
        args.insert(args.end(), ok.begin(), ok.end());
        SCOPED_TRACE(Joined(args));
        EXPECT_EQ(0, dir.Run(args).exitCode);
    }
    EXPECT_FALSE(fs::exists(dir / "out.srt"));
}

TEST(HonestResults, TextOptionsMustBeUtf8) {
    ScratchDir dir;
    WriteFile(dir / "a.srt", kTwoCues);
    for (const char* option : {"--title", "--banner", "--credit", "--font-name", "--filter"}) {
        const Args args{"a.srt", "-o", "out.ass", option, "caf\xE9"};  // Latin-1 e-acute
        SCOPED_TRACE(Joined(args));
        const RunResult r = dir.Run(args);
        EXPECT_EQ(2, r.exitCode);
        EXPECT_TRUE(Contains(r.err, option)) << r.err;
        EXPECT_TRUE(Contains(r.err, "UTF-8")) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir / "out.ass"));
    EXPECT_EQ(0, dir.Run({"a.srt", "-o", "out.ass", "--title", "café"}).exitCode);
}

TEST(HonestResults, AMissingChineseDictionaryIsAnErrorOnlyWhenAskedFor) {
    ScratchDir dir;
    WriteFile(dir / "a.srt", kTwoCues);
    setenv("LUMEVAL_OPENCC_DATADIR", "/nonexistent-opencc", 1);
    const RunResult asked = dir.Run({"a.srt", "-o", "srt", "--chinese", "big5-to-gb"});
    const RunResult traditional = dir.Run({"a.srt", "-o", "out.srt", "--chinese", "2"});
    const RunResult none = dir.Run({"a.srt", "-o", "srt"});
    unsetenv("LUMEVAL_OPENCC_DATADIR");
    EXPECT_EQ(1, asked.exitCode);
    EXPECT_EQ(
        "lumeval-convert: cannot load the OpenCC dictionary /nonexistent-opencc/t2s.json "
        "(needed by --chinese 1)\n",
        asked.err);
    EXPECT_TRUE(asked.out.empty());
    EXPECT_EQ(1, traditional.exitCode);
    EXPECT_TRUE(Contains(traditional.err, "cannot load the OpenCC dictionary")) << traditional.err;
    EXPECT_FALSE(fs::exists(dir / "out.srt"));
    EXPECT_EQ(0, none.exitCode) << none.err;
}

}  // namespace
}  // namespace lumeval::clitest
