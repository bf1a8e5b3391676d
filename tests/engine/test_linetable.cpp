#include <gtest/gtest.h>

#include "engine/linetable.h"

namespace lumeval {
namespace {

struct TimedCase {
    const char* name;
    const char* span;
    TimingRules rules;
    const char* expected;  // nullptr: nothing added
};

TEST(AddTimedLine, OffsetWindowAndSplitMode) {
    const TimedCase cases[] = {
        {"plain", "00:00:01,000->00:00:02,500", {}, "00:00:01,000->00:00:02,500|t"},
        {"zero length dropped", "00:00:01,000->00:00:01,000", {}, nullptr},
        {"empty span", "", {}, nullptr},
        {"lone start keeps no end", "00:00:12,340", {}, "00:00:12,340|t"},
        {"negative offset clamps at zero", "00:00:01,000->00:00:04,000", {0, 0, -2.5, 0},
         "00:00:00,000->00:00:01,500"},
        {"window rebased, start before S", "00:00:08,000->00:00:12,000", {10, 20, 0, 0},
         "00:00:00,000->00:00:02,000"},
        {"window absolute, start before S", "00:00:08,000->00:00:12,000", {10, 20, 0, 1},
         "00:00:10,000->00:00:12,000"},
        {"after window dropped", "00:00:21,000->00:00:25,000", {10, 20, 0, 0}, nullptr},
        {"before window dropped", "00:00:01,000->00:00:05,000", {10, 20, 0, 0}, nullptr},
        {"spans whole window rebased", "00:00:05,000->00:00:25,000", {10, 20, 0, 0},
         "00:00:00,000->00:00:10,000"},
        {"spans whole window absolute", "00:00:05,000->00:00:25,000", {10, 20, 1, 1},
         "00:00:11,000->00:00:21,000"},
        {"end after E rebased", "00:00:15,000->00:00:25,000", {10, 20, 0, 0},
         "00:00:05,000->00:00:10,000"},
        {"inside window with offset", "00:00:12,000->00:00:13,000", {10, 20, 2, 0},
         "00:00:04,000->00:00:05,000"},
        {"empty window ignored", "00:00:21,000->00:00:25,000", {0, 0, 0, 0},
         "00:00:21,000->00:00:25,000"},
        {"lone start inside window", "00:00:12,000", {10, 20, 0, 0}, "00:00:02,000|t"},
        {"bare seconds", "1.5->3", {}, "00:00:01,500->00:00:03,000|t"},
    };
    for (const auto& c : cases) {
        LineTable table(1);
        AddTimedLine(table, c.span, "t", c.rules);
        if (c.expected == nullptr) {
            EXPECT_EQ(1u, table.size()) << c.name;
        } else {
            ASSERT_EQ(2u, table.size()) << c.name;
            const std::string want = std::string(c.expected).find('|') == std::string::npos
                                         ? std::string(c.expected) + "|t"
                                         : std::string(c.expected);
            EXPECT_EQ(want, table[1]) << c.name;
        }
    }
}

TEST(SplitEntry, ArrowOnlyCountsInTheSpan) {
    const EntryParts p = SplitEntry("00:00:01,000|a->b|extra");
    EXPECT_TRUE(p.hasBar);
    EXPECT_FALSE(p.hasArrow);
    // A "|" after the first one is text; the durations separator ends it.
    EXPECT_EQ("a->b|extra", p.text);
    EXPECT_EQ("00:00:01,000", p.start);
    EXPECT_EQ("a|b", SplitEntry("00:00:01,000->00:00:02,000|a|b\x1F" "1,2").text);

    const EntryParts q = SplitEntry("no bar here");
    EXPECT_FALSE(q.hasBar);
    EXPECT_EQ("", q.text);
}

}  // namespace
}  // namespace lumeval
