// What the converter says about its results and its failures: cue counts,
// runs that deliver nothing, sources it cannot read, saves that fail, option
// values it refuses.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace lumeval::clitest {
namespace {


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

    // Permissions do not stop root: as root (CI), the converter runs as
    // nobody, in a folder nobody may enter and read.
    WriteFile(dir / "locked.srt", kTwoCues);
    fs::permissions(dir / "locked.srt", fs::perms::none);
    std::vector<std::string> wrapper;
    if (geteuid() == 0) {
        wrapper = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        fs::permissions(dir.path(), fs::perms::all, fs::perm_options::add);
        fs::permissions(dir / "a.srt", fs::perms::others_read, fs::perm_options::add);
    }
    if (!wrapper.empty()) {
        // The build may lie where nobody cannot reach it (a clone under /root).
        const std::string probe = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/test -x '" +
                                  std::string(LUMEVAL_CONVERT_EXE) + "' 2>/dev/null";
        if (std::system(probe.c_str()) != 0) GTEST_SKIP() << "nobody cannot run the converter here";
    }
    const RunResult locked = dir.Wait(dir.StartAs(wrapper, {"locked.srt", "a.srt", "-o", "srt"}));
    EXPECT_EQ(0, locked.exitCode) << locked.err;
    EXPECT_TRUE(Contains(locked.err, "cannot read locked.srt: Permission denied")) << locked.err;
    EXPECT_TRUE(Contains(locked.out, "two")) << locked.out;
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

namespace lumeval::clitest {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Runs the converter in `dir` with its address space limited to `bytes`.
RunResult RunLimited(const fs::path& dir, const std::vector<std::string>& args, rlim_t bytes) {
    const fs::path out = dir / "limited.out";
    const fs::path err = dir / "limited.err";
    const pid_t pid = fork();
    if (pid == 0) {
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 || chdir(dir.c_str()) != 0) _exit(126);
        const rlimit limit{bytes, bytes};
        setrlimit(RLIMIT_AS, &limit);
        std::vector<std::string> all{LUMEVAL_CONVERT_EXE};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(LUMEVAL_CONVERT_EXE, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    RunResult r;
    if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
}

// Memory running out is a failure the converter reports, in file mode and
// per file in a batch, never an abort.
TEST(HonestResults, OutOfMemoryIsAReportedFailure) {
    if (kSanitized) GTEST_SKIP() << "AddressSanitizer needs more address space than the limit";
    ScratchDir dir;
    std::string text;
    for (int i = 0; i < 400000; ++i) {
        char block[96];
        std::snprintf(block, sizeof block, "%d\n%02d:%02d:%02d,000 --> %02d:%02d:%02d,500\nline %d\n\n",
                      i + 1, i / 3600 % 100, i / 60 % 60, i % 60, i / 3600 % 100, i / 60 % 60, i % 60, i);
        text += block;
    }
    WriteFile(dir / "big.srt", text);
    text = std::string();
    constexpr rlim_t kLimit = rlim_t{100} << 20;
    const RunResult file = RunLimited(dir.path(), {"big.srt", "-o", "out.srt"}, kLimit);
    EXPECT_EQ(1, file.exitCode) << file.err;
    EXPECT_EQ("lumeval-convert: internal failure: out of memory\n", file.err);
    EXPECT_FALSE(fs::exists(dir / "out.srt"));
    const RunResult batch = RunLimited(dir.path(), {"big.srt", "--to", "ass", "-d", "out"}, kLimit);
    EXPECT_EQ(1, batch.exitCode) << batch.err;
    EXPECT_EQ("big.srt: failed: internal failure: out of memory\n", batch.err);
}

}  // namespace
}  // namespace lumeval::clitest
