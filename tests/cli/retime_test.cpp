// Retiming through the converter: --fps FROM:TO for a subtitle timed for
// another frame rate, --sync OLD=NEW twice for another cut; and what is
// refused, with its reason.
#include <gtest/gtest.h>

#include <string>

#include "cli/parse.h"
#include "cli_test_support.h"

namespace lumeval::clitest {
namespace {

const std::string kSrt =
    "1\n00:00:10,000 --> 00:00:12,000\none\n\n"
    "2\n00:00:35,000 --> 00:00:36,500\ntwo\n\n"
    "3\n00:01:00,000 --> 00:01:02,000\nthree\n\n";

TEST(Retime, FpsFromToMultipliesEveryTime) {
    ScratchDir dir;
    WriteFile(dir / "a.srt", kSrt);
    const RunResult r = dir.Run({"a.srt", "-o", "srt", "--fps", "25:23.976"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    // 10 s x 25 / 23.976 = 10.42709 s, and so on.
    EXPECT_EQ("10427\t12513\tone\n36495\t38059\ttwo\n62563\t64648\tthree\n", r.out);
    // The reverse change gives the times back.
    ASSERT_EQ(0, dir.Run({"a.srt", "-o", "b.srt", "--fps", "25:23.976"}).exitCode);
    const RunResult back = dir.Run({"b.srt", "-o", "srt", "--fps", "23.976:25"});
    EXPECT_EQ("10000\t12000\tone\n35000\t36500\ttwo\n60000\t62000\tthree\n", back.out);
}

TEST(Retime, TwoSyncPointsMoveEveryOtherTimeLinearly) {
    ScratchDir dir;
    WriteFile(dir / "a.srt", kSrt);
    // 10 s -> 20 s and 60 s -> 130 s: every time x 2.2, minus 2 s.
    const RunResult r = dir.Run({"a.srt", "-o", "srt", "--sync", "10=20", "--sync", "00:01:00,000=00:02:10,000"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("20000\t24400\tone\n75000\t78300\ttwo\n130000\t134400\tthree\n", r.out);
    // The order of the two points does not matter; the offset still applies after.
    const RunResult swapped =
        dir.Run({"a.srt", "-o", "srt", "--sync", "1:00=2:10", "--sync", "10=20", "--offset", "1"});
    ASSERT_EQ(0, swapped.exitCode) << swapped.err;
    EXPECT_EQ("21000\t25400\tone\n76000\t79300\ttwo\n131000\t135400\tthree\n", swapped.out);
}

TEST(Retime, PointsAndRatesThatCannotBeAreRefusedWithTheirReason) {
    ScratchDir dir;
    WriteFile(dir / "a.srt", kSrt);
    const struct {
        std::vector<std::string> args;
        const char* reason;
    } cases[] = {
        {{"--sync", "10=20"}, "exactly twice"},
        {{"--sync", "10=20", "--sync", "20=30", "--sync", "30=40"}, "exactly twice"},
        {{"--sync", "10=20", "--sync", "10=30"}, "same OLD"},
        {{"--sync", "10=20", "--sync", "60=15"}, "reversed"},
        {{"--sync", "10=20", "--sync", "60=20"}, "reversed"},
        {{"--sync", "10-20", "--sync", "60=80"}, "OLD=NEW"},
        {{"--sync", "ten=20", "--sync", "60=80"}, "OLD=NEW"},
        {{"--fps", "25:24", "--sync", "10=20", "--sync", "60=80"}, "give one of them"},
        {{"--fps", "0:25"}, "FROM:TO"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"a.srt", "-o", "srt"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = dir.Run(args);
        EXPECT_EQ(2, r.exitCode) << c.reason;
        EXPECT_TRUE(Contains(r.err, c.reason)) << c.reason << ": " << r.err;
        EXPECT_EQ("", r.out) << c.reason;
    }
    const std::string help = dir.Run({"--help"}).out;
    EXPECT_TRUE(Contains(help, "--sync")) << help;
    EXPECT_TRUE(Contains(help, "FROM:TO")) << help;
}

TEST(Retime, TimeTextsAsPeopleTypeThem) {
    const struct {
        const char* text;
        double seconds;  // < 0: refused
    } cases[] = {
        {"62.5", 62.5},           {"00:01:02,500", 62.5}, {"1:02.5", 62.5}, {"01:02:03.25", 3723.25},
        {"90:00", 5400},          {"0:00:60", -1},        {"1:60:00", -1},  {"a:00", -1},
        {"1:-2", -1},             {"", -1},               {"1:2:3:4", -1},  {"::", -1},
    };
    for (const auto& c : cases) {
        const auto got = cli::ParseTimeText(c.text);
        if (c.seconds < 0) {
            EXPECT_FALSE(got) << c.text;
        } else {
            ASSERT_TRUE(got) << c.text;
            EXPECT_DOUBLE_EQ(c.seconds, *got) << c.text;
        }
    }
}

}  // namespace
}  // namespace lumeval::clitest
