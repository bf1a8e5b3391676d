// The survey's look at a text's time lines: whether its cues are in time
// order, the same whatever pieces the bytes come in.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/timeorder.h"
#include "test_util.h"

namespace lumeval {
namespace {

bool ScanInPieces(const std::string& text, std::size_t piece) {
    TimeOrderScan scan;
    if (text.empty()) scan.Feed({}, true);
    for (std::size_t at = 0; at < text.size(); at += piece) {
        scan.Feed(std::string_view(text).substr(at, piece), at + piece >= text.size());
    }
    return scan.InOrder();
}

// `count` SubRip time lines a second apart from `firstSecond`, with `eol`.
std::string TimeLines(int count, int firstSecond, const std::string& eol = "\n") {
    std::string out;
    for (int i = 0; i < count; ++i) {
        const int s = firstSecond + i;
        char line[64];
        std::snprintf(line, sizeof line, "%02d:%02d:%02d,000 --> %02d:%02d:%02d,500", s / 3600, s / 60 % 60, s % 60,
                      s / 3600, s / 60 % 60, s % 60);
        out += std::to_string(i + 1) + eol + line + eol + "text" + eol + eol;
    }
    return out;
}

TEST(TimeOrderScan, TellsTheOrderOfTimeLinesInAnyPieces) {
    const std::string pad(70, ' ');
    const int far = static_cast<int>(TimeOrderScan::kSlack) + 1;
    struct Case {
        const char* what;
        std::string text;
        bool inOrder;
    };
    const std::vector<Case> cases = {
        {"empty", "", true},
        {"SubRip in order", TimeLines(200, 0), true},
        {"a start earlier than one far before", TimeLines(far, 10) + "00:00:01,000 --> 00:00:02,000\n", false},
        {"a start earlier than those just before", TimeLines(far - 1, 10) + "00:00:01,000 --> 00:00:02,000\n",
         true},
        {"equal starts", "00:00:01,000 --> 00:00:02,000\na\n00:00:01,000 --> 00:00:05,000\nb\n", true},
        {"CRLF and no line end at the end", TimeLines(far, 10, "\r\n") + "00:00:04,000 --> 00:00:05,000", false},
        {"WebVTT short times and settings",
         "WEBVTT\n\n" + TimeLines(far, 100) + "00:59.000 --> 01:00.000 align:start\nc\n", false},
        {"hours of one digit", TimeLines(far, 10) + "0:00:09,000 --> 0:00:10,000\n", false},
        {"an arrow in text with no time before it is passed over",
         TimeLines(far, 10) + "see --> here\n00:10:07,000 --> 00:10:08,000\n", true},
        {"a second arrow on a time line is passed over",
         TimeLines(far, 10) + "00:10:05,000 --> 00:10:06,000 --> 00:00:01,000\n", true},
        {"a time line after a long line", TimeLines(far, 10) + pad + pad + "\n00:00:01,000 --> 00:00:02,000\n",
         false},
        {"a start far into its line", TimeLines(far, 10) + pad + "00:00:01,000 --> 00:00:02,000\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ScanInPieces(c.text, c.text.size() + 1), c.inOrder);
        // Whatever pieces the text comes in, the lines are read whole, but a
        // start further than a line's first 64 bytes from a cut.
        if (std::string(c.what).find("far into") != std::string::npos) continue;
        for (const std::size_t piece : {1, 2, 3, 5, 16, 31}) {
            SCOPED_TRACE(piece);
            EXPECT_EQ(ScanInPieces(c.text, piece), c.inOrder);
        }
    }
}

TEST(TimeOrderScan, TheEndsOfAFile) {
    test::TempDir dir;
    // A piece of 4 KiB: the first 4 KiB and the last 1 KiB are looked at.
    const std::string inOrder = TimeLines(400, 0);
    const std::string appended = TimeLines(400, 100) + TimeLines(3, 0);  // forced cues at the end
    std::string middle = TimeLines(200, 100) + "00:00:01,000 --> 00:00:02,000\nx\n\n" + TimeLines(200, 400);
    std::string swapped = inOrder;
    const std::size_t at = swapped.find("00:00:05,000");
    swapped.replace(at, 8, "00:00:07");  // the fifth cue starts after the sixth
    struct Case {
        const char* what;
        std::string text;
        bool looksInOrder;
    };
    const std::vector<Case> cases = {
        {"in order", inOrder, true},
        {"cues appended at the end", appended, false},
        {"a cue out of order in the middle (not looked at)", middle, true},
        {"neighbours swapped at the start", swapped, true},
        {"a small file, looked at whole", TimeLines(70, 100) + TimeLines(1, 0), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.file("t.srt");
        test::writeBytes(path, "\xEF\xBB\xBF" + c.text);
        EXPECT_EQ(EndsInTimeOrder(path, 3, c.text.size(), 4096), c.looksInOrder);
    }
    EXPECT_FALSE(EndsInTimeOrder(dir.file("missing.srt"), 0, 10000, 4096));
}

// A line cut more than 64 bytes before its arrow is passed over: the scan
// keeps no more of a cut line, and the reading itself finds such a cue out of
// order when it comes.
TEST(TimeOrderScan, PassesOverAStartFarIntoALineThatACutSplits) {
    const std::string first = "00:00:05,000 --> 00:00:06,000\n" + std::string(60, ' ');
    const std::string rest = std::string(60, ' ') + "00:00:01,000 --> 00:00:02,000\n";
    TimeOrderScan scan;
    scan.Feed(first, false);
    scan.Feed(rest, true);
    EXPECT_TRUE(scan.InOrder());
}

}  // namespace
}  // namespace lumeval
