// The survey's look at a text's time lines: whether its cues are in time
// order, the same whatever pieces the bytes come in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/timeorder.h"

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

TEST(TimeOrderScan, TellsTheOrderOfTimeLinesInAnyPieces) {
    const std::string pad(70, ' ');
    struct Case {
        const char* what;
        std::string text;
        bool inOrder;
    };
    const std::vector<Case> cases = {
        {"empty", "", true},
        {"SubRip in order", "1\n00:00:01,000 --> 00:00:02,000\na\n\n2\n00:00:03,000 --> 00:00:04,000\nb\n", true},
        {"SubRip, a start earlier than the one before",
         "1\n00:00:03,000 --> 00:00:04,000\na\n\n2\n00:00:01,000 --> 00:00:02,000\nb\n", false},
        {"equal starts", "00:00:01,000 --> 00:00:02,000\na\n00:00:01,000 --> 00:00:05,000\nb\n", true},
        {"CRLF and no line end at the end",
         "1\r\n00:00:05,000 --> 00:00:06,000\r\na\r\n\r\n2\r\n00:00:04,000 --> 00:00:05,000", false},
        {"WebVTT short times and settings",
         "WEBVTT\n\n00:01.000 --> 00:02.000 align:start\na\n\n01:00.000 --> 01:02.000\nb\n\n00:59.000 --> 01:00.000\nc\n",
         false},
        {"hours of one digit against two", "0:00:09,000 --> 0:00:10,000\n\n00:00:10,000 --> 00:00:11,000\n", true},
        {"an arrow in text with no time before it is passed over",
         "00:00:05,000 --> 00:00:06,000\nsee --> here\n00:00:07,000 --> 00:00:08,000\n", true},
        {"a second arrow on a time line is passed over",
         "00:00:05,000 --> 00:00:06,000 --> 00:00:01,000\n00:00:07,000 --> 00:00:08,000\n", true},
        {"a time line after a long line",
         "00:00:05,000 --> 00:00:06,000\n" + pad + pad + "\n00:00:01,000 --> 00:00:02,000\n", false},
        {"a start far into its line", "00:00:05,000 --> 00:00:06,000\n" + pad + "00:00:01,000 --> 00:00:02,000\n",
         false},
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
