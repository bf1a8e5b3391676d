// lumeval-convert on small real-world shapes: LRC in and out, start-only
// cues given ends, times past 32 bits, and option values beyond any time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_test_support.h"

namespace lumeval::clitest {
namespace {

const char* kLrc = "[00:01.00]hello\n[00:03.00]world\n";
const char* kOneCue = "1\n00:00:01,000 --> 00:00:02,000\nx\n\n";

TEST(RealFiles, LrcToLrcKeepsBothLyrics) {
    ScratchDir dir;
    WriteFile(dir / "s.lrc", kLrc);
    const RunResult r = dir.Run({"s.lrc", "-o", "out.lrc"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    const std::string out = ReadFile(dir / "out.lrc");
    for (const char* line : {"\n[00:01.00]hello\r\n", "\n[00:03.00]world"}) {
        EXPECT_TRUE(Contains(out, line)) << line << " missing from\n" << out;
    }
}

TEST(RealFiles, LrcToSrtEndsEachLyricAtTheNextOrFiveSecondsLater) {
    ScratchDir dir;
    WriteFile(dir / "s.lrc", kLrc);
    const RunResult r = dir.Run({"s.lrc", "-o", "out.srt"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    const std::string out = ReadFile(dir / "out.srt");
    EXPECT_TRUE(Contains(out, "1\r\n00:00:01,000 --> 00:00:03,000\r\nhello\r\n")) << out;
    EXPECT_TRUE(Contains(out, "2\r\n00:00:03,000 --> 00:00:08,000\r\nworld\r\n")) << out;
}

TEST(RealFiles, OffsetBeyond32BitsOfMilliseconds) {
    ScratchDir dir;
    WriteFile(dir / "s.srt", kOneCue);
    const RunResult r = dir.Run({"s.srt", "-o", "srt", "--offset", "2147483"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(std::vector<std::string>{"2147484000\t2147485000\tx"}, SplitLines(r.out));
}

TEST(RealFiles, TimesBeyondTheLimitAreUsageErrors) {
    ScratchDir dir;
    WriteFile(dir / "s.srt", kOneCue);
    const RunResult span =
        dir.Run({"s.srt", "-o", "out.srt", "--credit-span", "0:99999999999999", "--credit", "x"});
    EXPECT_EQ(2, span.exitCode);
    EXPECT_TRUE(Contains(span.err, "99999999999999")) << span.err;
    const RunResult offset = dir.Run({"s.srt", "-o", "out.srt", "--offset", "99999999999999"});
    EXPECT_EQ(2, offset.exitCode);
    EXPECT_TRUE(Contains(offset.err, "--offset")) << offset.err;
    EXPECT_FALSE(fs::exists(dir / "out.srt"));
}

TEST(RealFiles, OffsetPastTheOnlyCueInventsNoCue) {
    ScratchDir dir;
    WriteFile(dir / "s.srt", kOneCue);
    const RunResult file = dir.Run({"s.srt", "-o", "out.srt", "--offset", "-10"});
    EXPECT_EQ(1, file.exitCode);
    EXPECT_TRUE(Contains(file.err, "s.srt: no timed lines")) << file.err;
    EXPECT_FALSE(fs::exists(dir / "out.srt"));
    const RunResult events = dir.Run({"s.srt", "-o", "srt", "--offset", "-10"});
    EXPECT_EQ(1, events.exitCode);
    EXPECT_TRUE(events.out.empty()) << events.out;
}

}  // namespace
}  // namespace lumeval::clitest
