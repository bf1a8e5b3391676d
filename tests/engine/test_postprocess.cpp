#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "engine/formats.h"
#include "engine/postprocess.h"
#include "engine/subtitle.h"

namespace lumeval {
namespace {

using Table = std::vector<std::string>;

// The stages work on a run's LineTable; these tests write their tables as
// vectors, so each stage runs on a LineTable made from one and back.
template <typename Stage>
auto onLineTable(Table& t, Stage stage) {
    LineTable table(t);
    const auto result = stage(table);
    t = table.toVector();
    return result;
}
bool RemoveDuplicateLines(Table& t) {
    return onLineTable(t, [](LineTable& x) { return lumeval::RemoveDuplicateLines(x); });
}
void RemoveFilteredLines(Table& t, std::string_view filters) {
    onLineTable(t, [&](LineTable& x) { lumeval::RemoveFilteredLines(x, filters); return 0; });
}
bool MergeSamePosition(Table& t, int32_t interval, const MergeProgress& onProgress) {
    return onLineTable(t, [&](LineTable& x) { return lumeval::MergeSamePosition(x, interval, onProgress); });
}
void AppendCreditLine(Table& t, std::string_view text, double startSec, double endSec, int32_t kind) {
    onLineTable(t, [&](LineTable& x) { lumeval::AppendCreditLine(x, text, startSec, endSec, kind); return 0; });
}
void SortLines(Table& t, bool knownInOrder = false) {
    onLineTable(t, [&](LineTable& x) { lumeval::SortLines(x, knownInOrder); return 0; });
}

Table withPlaceholder(std::initializer_list<const char*> entries) {
    Table t(1);
    for (const char* e : entries) t.emplace_back(e);
    return t;
}

TEST(RemoveDuplicateLines, KeepsFirstIgnoringCase) {
    Table t = withPlaceholder({"00:00:01,000->00:00:02,000|Hello",
                               "00:00:03,000->00:00:04,000|x",
                               "00:00:01,000->00:00:02,000|HELLO",
                               "00:00:01,000->00:00:02,000|Hello",
                               "00:00:05,000|Ärger",
                               "00:00:05,000|ärger"});
    RemoveDuplicateLines(t);
    EXPECT_EQ(withPlaceholder({"00:00:01,000->00:00:02,000|Hello", "00:00:03,000->00:00:04,000|x",
                               "00:00:05,000|Ärger"}),
              t);
}

TEST(RemoveDuplicateLines, SpansCompareIgnoringCaseToo) {
    // Spans are normally digits, but any entry may arrive here; spans that
    // differ only in case (ASCII or not) still make duplicates.
    Table t = withPlaceholder({"AB|x", "00:00:01,000|y", "ab|X", "\xC3\x84|q", "\xC3\xA4|Q",
                               "00:00:01,000|Y"});
    RemoveDuplicateLines(t);
    EXPECT_EQ(withPlaceholder({"AB|x", "00:00:01,000|y", "\xC3\x84|q"}), t);
}

TEST(RemoveDuplicateLines, TablesInTimeOrderFindTheSameDuplicates) {
    // In time order equal spans stand together and are found without a hash
    // table; a lone start and a span of the same start are different spans.
    const struct {
        const char* name;
        Table in;
        Table out;
    } cases[] = {
        {"neighbours", {"00:00:01,000->00:00:02,000|a", "00:00:01,000->00:00:02,000|A",
                        "00:00:01,000->00:00:02,000|b", "00:00:03,000->00:00:04,000|a"},
         {"00:00:01,000->00:00:02,000|a", "00:00:01,000->00:00:02,000|b", "00:00:03,000->00:00:04,000|a"}},
        {"a run of three, the duplicate last", {"00:00:01,000|x", "00:00:01,000|y", "00:00:01,000|X"},
         {"00:00:01,000|x", "00:00:01,000|y"}},
        {"start only beside a span", {"00:00:01,000|x", "00:00:01,000->00:00:02,000|x"},
         {"00:00:01,000|x", "00:00:01,000->00:00:02,000|x"}},
        {"the same times written two ways", {"00:00:01,000->00:00:02,000|t", "0:00:01,000->00:00:02,000|t"},
         {"00:00:01,000->00:00:02,000|t", "0:00:01,000->00:00:02,000|t"}},
        {"out of order falls back", {"00:00:03,000|z", "00:00:01,000|z", "00:00:03,000|Z"},
         {"00:00:03,000|z", "00:00:01,000|z"}},
    };
    const auto placeheld = [](const Table& entries) {
        Table t(1);
        t.insert(t.end(), entries.begin(), entries.end());
        return t;
    };
    for (const auto& c : cases) {
        Table t = placeheld(c.in);
        RemoveDuplicateLines(t);
        EXPECT_EQ(placeheld(c.out), t) << c.name;
    }
}

TEST(RemoveFilteredLines, WordsAreCaseSensitiveSubstrings) {
    const std::string filters = std::string("ad") + '\0' + "www";
    Table t = withPlaceholder({"00:00:01,000|an ad here", "00:00:02,000|visit www.x",
                               "00:00:03,000|AD stays", "00:00:04,000|clean"});
    RemoveFilteredLines(t, filters);
    EXPECT_EQ(withPlaceholder({"00:00:03,000|AD stays", "00:00:04,000|clean"}), t);
}

TEST(RemoveFilteredLines, EmptyWordMatchesEverything) {
    Table t = withPlaceholder({"00:00:01,000|a", "00:00:02,000|b"});
    RemoveFilteredLines(t, std::string("zz") + '\0');
    EXPECT_EQ(1u, t.size());
}

TEST(MergeSamePosition, WorkedExamples) {
    struct Case {
        const char* name;
        Table in;
        Table out;
    };
    const Case cases[] = {
        {"two texts",
         withPlaceholder({"00:00:01,000->00:00:02,000|Hello", "00:00:01,000->00:00:02,000|World"}),
         withPlaceholder({"00:00:01,000->00:00:02,000|Hello\\NWorld"})},
        {"empty text gets no separator",
         withPlaceholder({"00:00:01,000->00:00:02,000|", "00:00:01,000->00:00:02,000|World"}),
         withPlaceholder({"00:00:01,000->00:00:02,000|World"})},
        {"three in table order, others stay in place",
         withPlaceholder({"00:00:01,000->00:00:02,000|a", "00:00:03,000->00:00:04,000|x",
                          "00:00:01,000->00:00:02,000|b", "00:00:01,000->00:00:02,000|c"}),
         withPlaceholder({"00:00:01,000->00:00:02,000|a\\Nb\\Nc", "00:00:03,000->00:00:04,000|x"})},
        {"identical entries are not merged",
         withPlaceholder({"00:00:01,000->00:00:02,000|a", "00:00:01,000->00:00:02,000|a"}),
         withPlaceholder({"00:00:01,000->00:00:02,000|a", "00:00:01,000->00:00:02,000|a"})},
        {"spans compared trimmed",
         withPlaceholder({"00:00:01,000->00:00:02,000|a", " 00:00:01,000->00:00:02,000 | b "}),
         withPlaceholder({"00:00:01,000->00:00:02,000|a\\Nb"})},
    };
    for (const auto& c : cases) {
        Table t = c.in;
        EXPECT_TRUE(MergeSamePosition(t, 1000, nullptr)) << c.name;
        EXPECT_EQ(c.out, t) << c.name;
    }
}

// The grouped merge must agree with the straightforward quadratic scan.
Table referenceMerge(Table t) {
    for (std::size_t j = 1; j < t.size(); ++j) {
        const std::string spanJ(TrimSpaces(SplitEntry(t[j]).span));
        for (std::size_t i = j + 1; i < t.size();) {
            if (std::string(TrimSpaces(SplitEntry(t[i]).span)) == spanJ && t[i] != t[j]) {
                if (t[j].back() != '|') t[j] += "\\N";
                t[j] += std::string(TrimSpaces(SplitEntry(t[i]).text));
                t.erase(t.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
    }
    return t;
}

TEST(MergeSamePosition, AgreesWithQuadraticScanOnMixedTables) {
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        Table t(1);
        const int n = 1 + static_cast<int>(rng() % 40);
        for (int k = 0; k < n; ++k) {
            const int span = static_cast<int>(rng() % 5);
            const int text = static_cast<int>(rng() % 3);
            t.push_back("00:00:0" + std::to_string(span) + ",000->00:00:09,000|" +
                        (text == 0 ? std::string() : std::string(1, static_cast<char>('a' + text))));
        }
        Table expected = referenceMerge(t);
        ASSERT_TRUE(MergeSamePosition(t, 3, nullptr));
        ASSERT_EQ(expected, t) << "round " << round;
    }
}

TEST(MergeSamePosition, ProgressCanStop) {
    Table t = withPlaceholder({"00:00:01,000|a", "00:00:02,000|b", "00:00:01,000|c"});
    int calls = 0;
    const bool finished = MergeSamePosition(t, 1, [&](int32_t, int32_t) { return ++calls < 1; });
    EXPECT_FALSE(finished);
    EXPECT_EQ(1, calls);
}

TEST(AppendCreditLine, SwapsAndAddsTenMillisecondsForSubRip) {
    Table t(1);
    AppendCreditLine(t, "by us", 10, 5, kKindSrt);
    AppendCreditLine(t, "by us", 10, 5, kKindSsa);
    EXPECT_EQ("00:00:05,000->00:00:10,010|by us", t[1]);
    EXPECT_EQ("00:00:05,000->00:00:10,000|by us", t[2]);
}

TEST(SortLines, OrdersByTimeWithPlaceholderFirst) {
    // Times count, not their texts: 99 hours comes before 100 hours, and a
    // span comes before a lone start at the same time.
    Table t = withPlaceholder({"00:00:10,000->00:00:11,000|b", "00:00:02,000->00:00:03,000|a",
                               "100:00:00,000|later", "99:00:00,000|late",
                               "00:00:10,000|lone", "1000:00:00,000->1000:00:01,000|much later",
                               "00:00:10,000->00:00:10,500|b"});
    SortLines(t);
    Table expected = withPlaceholder({"00:00:02,000->00:00:03,000|a", "00:00:10,000->00:00:10,500|b",
                                      "00:00:10,000->00:00:11,000|b", "00:00:10,000|lone",
                                      "99:00:00,000|late", "100:00:00,000|later",
                                      "1000:00:00,000->1000:00:01,000|much later"});
    expected[0] = "0";
    EXPECT_EQ(expected, t);
}

TEST(SortLines, WhatRemoveDuplicateLinesFoundInOrderIsSortedAlready) {
    // Duplicate removal reads every entry's times; when it says the table is
    // in order, the sort may skip its own pass. Tables mostly in order, with
    // equal times (texts then decide), case duplicates, lone starts and
    // entries without a time, must come out the same either way.
    const std::vector<std::string> texts = {"a", "A", "b", "\xC3\x84rger", "\xC3\xA4rger", "", "z"};
    std::mt19937 rng(16);
    int known = 0;
    for (int round = 0; round < 400; ++round) {
        Table t(1);
        int ms = 0;
        const int entries = 2 + static_cast<int>(rng() % 12);
        for (int i = 0; i < entries; ++i) {
            if (rng() % 3 != 0) ms += static_cast<int>(rng() % 1500);  // equal times a third of the time
            if (rng() % 25 == 0) ms -= 2000;                            // now and then out of order
            const std::string text = texts[rng() % texts.size()];
            char start[32];
            std::snprintf(start, sizeof start, "00:00:%02d,%03d", (ms / 1000 + 60) % 60, (ms % 1000 + 1000) % 1000);
            switch (rng() % 8) {
            case 0: t.push_back(std::string(start) + "|" + text); break;
            case 1: if (round % 5 == 0) { t.push_back(text); break; } [[fallthrough]];
            default: t.push_back(std::string(start) + "->00:01:00,000|" + text); break;
            }
        }
        Table skipped = t, sorted = t;
        const bool inOrder = RemoveDuplicateLines(skipped);
        RemoveDuplicateLines(sorted);
        SortLines(sorted);
        SortLines(skipped, inOrder);
        known += inOrder ? 1 : 0;
        ASSERT_EQ(sorted, skipped) << "round " << round;
    }
    // Both kinds of table were met.
    EXPECT_GT(known, 40);
    EXPECT_LT(known, 360);
    // An entry without a time sorts against the placeholder "0" itself.
    for (const Table& t : {withPlaceholder({"", "00:00:01,000|x", "00:00:02,000|y"}),
                           withPlaceholder({"b", "a", "00:00:01,000|x"})}) {
        Table skipped = t, sorted = t;
        SortLines(skipped, RemoveDuplicateLines(skipped));
        RemoveDuplicateLines(sorted);
        SortLines(sorted);
        EXPECT_EQ(sorted, skipped) << t[1];
    }
}

TEST(OrdinalLess, FollowsUtf16CodeUnitOrder) {
    // U+FF01 is above the supplementary planes in code point order but below
    // them in UTF-16 code unit order (surrogates are 0xD800..0xDFFF).
    const std::string fullwidth = "\xEF\xBC\x81";     // U+FF01
    const std::string emoji = "\xF0\x9F\x98\x80";     // U+1F600
    EXPECT_TRUE(OrdinalLess(emoji, fullwidth));
    EXPECT_FALSE(OrdinalLess(fullwidth, emoji));
    EXPECT_TRUE(OrdinalLess("ab", "abc"));
    EXPECT_FALSE(OrdinalLess("abc", "abc"));
    EXPECT_TRUE(OrdinalLess("0", "00:00:00,000|x"));
}

TEST(SortEntries, AgreesWithAPlainSortOnMixedText) {
    // Short pieces drawn from ASCII, NUL, CJK, the private-use area and the
    // supplementary planes, so equal prefixes, prefixes of each other and
    // every branch of the byte-to-UTF-16 order meet in the first 8 bytes.
    const std::vector<std::string> pieces = {
        "0",  "00:", "1", ":",   ",",  "|",  std::string(1, '\0'), "\x7F",
        "\xE4\xB8\xAD" /* U+4E2D */, "\xEE\x80\x80" /* U+E000 */,
        "\xEF\xBC\x81" /* U+FF01 */, "\xF0\x9F\x98\x80" /* U+1F600 */, "\xC3\xA9",
        "00:00:01,000", "100:00:00,000", "->", "99:59:59,999"};
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        Table t;
        for (int i = 0; i < 500; ++i) {
            std::string s;
            const int parts = static_cast<int>(rng() % 7);
            for (int k = 0; k < parts; ++k) s += pieces[rng() % pieces.size()];
            t.push_back(std::move(s));
        }
        Table expected = t;
        std::sort(expected.begin(), expected.end(),
                  [](const std::string& a, const std::string& b) { return EntryLess(a, b); });
        SortEntries(t, 0, t.size() - 1);
        ASSERT_EQ(expected, t) << "round " << round;
    }
}

TEST(QuickSort, SortsOnlyTheGivenRange) {
    Table t{"d", "c", "b", "a"};
    clsSubtitle::QuickSort(t, 1, 2);
    EXPECT_EQ((Table{"d", "b", "c", "a"}), t);
    clsSubtitle::QuickSort(t, -5, 99);  // bounds are clamped to the array
    EXPECT_EQ((Table{"a", "b", "c", "d"}), t);
}

}  // namespace
}  // namespace lumeval
