#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/linetable.h"
#include "engine/timecode.h"

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

// The table against a vector of strings doing the same edits: random
// pushes, sets (from the table's own entries too), appends (in place, moved
// and to entries much larger than a block), erases, moves and sorts.
TEST(LineTable, AgreesWithAVectorOfStrings) {
    std::mt19937 rng(2026);
    const auto text = [&](std::size_t most) {
        std::string t(rng() % (most + 1), 'x');
        for (char& c : t) c = static_cast<char>('a' + rng() % 26);
        return t;
    };
    for (int round = 0; round < 200; ++round) {
        std::vector<std::string> want(1);
        LineTable table(1);
        for (int step = 0; step < 300; ++step) {
            const std::size_t n = want.size();
            const std::size_t i = rng() % n;
            switch (rng() % 9) {
            case 0:
            case 1: {
                const std::string e = text(round % 10 == 0 ? 3000 : 40);
                want.push_back(e);
                table.push_back(e);
                break;
            }
            case 2: {
                const std::string span = text(12), t = text(30);
                want.push_back(span + "|" + t);
                table.pushEntry(span, t);
                break;
            }
            case 3: {  // an entry set from another entry of the same table
                const std::size_t from = rng() % n;
                want[i] = want[from];
                table.set(i, table[from]);
                break;
            }
            case 4:
            case 5: {  // the last entry grows, as continuation lines make it
                const std::string t = text(round % 7 == 0 ? 5000 : 20);
                want.back() += t;
                table.append(n - 1, t);
                break;
            }
            case 6: {
                const std::string t = text(20);
                want[i] += t;
                table.append(i, t);
                break;
            }
            case 7:
                if (step % 50 == 49) {  // emptied but the first entries, as the editor's reading does
                    const std::size_t keep = 1 + rng() % n;
                    want.resize(keep);
                    table.shrinkReusing(keep);
                } else if (n > 1) {
                    want.erase(want.begin() + static_cast<std::ptrdiff_t>(i));
                    table.erase(i);
                }
                break;
            default: {
                const std::size_t to = rng() % n;
                want[to] = want[i];
                table.moveEntry(to, i);
                break;
            }
            }
        }
        ASSERT_EQ(want, table.toVector()) << "round " << round;
        // A copy is a table of its own.
        LineTable copy = table;
        copy.set(0, "changed");
        EXPECT_EQ(want, table.toVector());
        EXPECT_EQ("changed", copy[0]);
        // Shrinking keeps the entries before; growing adds empty ones.
        table.resize(1);
        table.resize(3);
        EXPECT_EQ((std::vector<std::string>{want[0], "", ""}), table.toVector());
    }
}

TEST(LineTable, MovedFromIsEmptyAndUsable) {
    LineTable a{"", "00:00:01,000|a"};
    LineTable b = std::move(a);
    a.push_back("fresh");  // NOLINT(bugprone-use-after-move): left empty on purpose
    b.append(1, " more");
    EXPECT_EQ((std::vector<std::string>{"fresh"}), a.toVector());
    EXPECT_EQ((std::vector<std::string>{"", "00:00:01,000|a more"}), b.toVector());
    a = std::move(b);
    b.push_back("again");
    EXPECT_EQ((std::vector<std::string>{"", "00:00:01,000|a more"}), a.toVector());
    EXPECT_EQ((std::vector<std::string>{"again"}), b.toVector());
}

TEST(LineTable, PermuteAndSwap) {
    LineTable t{"0", "c", "a", "b"};
    t.permute(1, {2, 3, 1});
    EXPECT_EQ((std::vector<std::string>{"0", "a", "b", "c"}), t.toVector());
    t.swapEntries(1, 3);
    EXPECT_EQ((std::vector<std::string>{"0", "c", "b", "a"}), t.toVector());
    EXPECT_EQ(LineTable({"0", "c", "b", "a"}), t);
}

// An entry appended to many times (a SAMI cue of many continuation lines) is
// grown in place or moved with room to spare, never copied each time: the
// memory the table holds stays within a small multiple of its text.
TEST(LineTable, ManyAppendsToTheLastEntry) {
    LineTable t(1);
    t.push_back("00:00:01,000|");
    std::string want = "00:00:01,000|";
    for (int i = 0; i < 200000; ++i) {
        t.append(1, "line of text ");
        want += "line of text ";
    }
    EXPECT_EQ(want, t[1]);
    EXPECT_LT(t.heldBytes(), 4 * want.size());
}


// Splitting at the known places of the table's own form gives what a search
// gives, for entries in that form and for entries one byte away from it;
// only the first also come with their times read.
TEST(SplitEntry, TheTableFormSplitsAsASearchDoes) {
    const auto searched = [](std::string_view entry) {
        EntryParts p;
        const auto bar = entry.find('|');
        p.hasBar = bar != std::string_view::npos;
        p.span = entry.substr(0, bar);
        if (p.hasBar) {
            const std::string_view rest = entry.substr(bar + 1);
            p.text = rest.substr(0, rest.find('\x1F'));
        }
        const auto arrow = p.span.find("->");
        p.hasArrow = arrow != std::string_view::npos;
        p.start = p.span.substr(0, arrow);
        if (p.hasArrow) p.end = p.span.substr(arrow + 2);
        return p;
    };
    const std::string bytes = "0159:,|->\x1F a";
    std::mt19937 random(26);
    for (int round = 0; round < 30000; ++round) {
        static const char* const forms[] = {"01:02:03,456|text \x1F" "1,2", "01:02:03,456->01:02:04,567|two|bars",
                                            "123:02:03,456->99:02:04,567|x", "01:02:03,456->100:00:00,000|-> y",
                                            "987:59:59,999|lyric"};
        std::string e = forms[round % 5];
        if (round % 4 != 0) e[random() % e.size()] = bytes[random() % bytes.size()];
        if (round % 7 == 0) e.resize(random() % (e.size() + 1));
        const EntryParts want = searched(e);
        const EntryParts got = SplitEntry(e);
        ASSERT_EQ(want.hasBar, got.hasBar) << e;
        ASSERT_EQ(want.hasArrow, got.hasArrow) << e;
        ASSERT_EQ(want.span, got.span) << e;
        ASSERT_EQ(want.text, got.text) << e;
        ASSERT_EQ(want.start, got.start) << e;
        ASSERT_EQ(want.end, got.end) << e;
        if (got.startMs >= 0) {
            ASSERT_EQ(TimeToMSecs(got.start, ","), got.startMs) << e;
        }
        if (got.endMs >= 0) {
            ASSERT_EQ(TimeToMSecs(got.end, ","), got.endMs) << e;
        }
    }
    EXPECT_EQ(3723456, SplitEntry("01:02:03,456->01:02:04,567|x").startMs);
    EXPECT_EQ(3724567, SplitEntry("01:02:03,456->01:02:04,567|x").endMs);
    EXPECT_EQ(-1, SplitEntry("1:02:03,456->01:02:04,567|x").startMs) << "not the table's form";
    EXPECT_EQ(360001084, SplitEntry("100:00:01,084->100:00:02,000|x").startMs);
    EXPECT_EQ(int64_t{999} * 3600000 + 3599999, SplitEntry("00:00:01,000->999:59:59,999|x").endMs);
    EXPECT_EQ(-1, SplitEntry("012:00:01,084->100:00:02,000|x").startMs) << "a leading zero";
}

}  // namespace
}  // namespace lumeval
