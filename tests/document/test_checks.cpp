#include "document/checks.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <string>
#include <vector>

namespace lumeval::doc {
namespace {

constexpr ProblemMask kNone = 0;
constexpr ProblemMask Bit(CheckKind k) { return MaskOf(k); }

struct Cue {
    int64_t start, end;
    std::string text;
};

void LoadCues(SubtitleDocument& d, const std::vector<Cue>& cues) {
    d.BeginLoad();
    for (const Cue& c : cues) d.AppendLoaded(c.start, c.end, c.text);
    d.EndLoad();
}

std::vector<CueValue> Values(const SubtitleDocument& d) {
    std::vector<CueValue> v;
    for (int i = 0; i < d.Count(); ++i) v.push_back(d.Cue(i));
    return v;
}

std::string Repeat(std::string_view s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

TEST(CheckText, CountsWhatIsShown) {
    struct Case {
        const char* name;
        std::string text;
        int64_t characters, widest, lines;
        bool blank;
    };
    const Case cases[] = {
        {"plain", "Hello you", 9, 9, 1, false},
        {"cjk counts two columns, one character", "你好吗", 3, 6, 1, false},
        {"full-width punctuation is wide", "好，", 2, 4, 1, false},
        {"tags count nothing", "{\\i1}ab{\\i0}<b>c</b>", 3, 3, 1, false},
        {"line breaks split and count nothing", "abc\\Nde", 5, 3, 2, false},
        {"a break inside a tag is no break", "a{x\\Ny}b", 2, 2, 1, false},
        {"unclosed brace is text", "a{b", 3, 3, 1, false},
        {"unclosed angle then a closed brace", "a<b{c}d", 4, 4, 1, false},
        {"lone backslash is text", "a\\b\\", 4, 4, 1, false},
        {"three lines, widest in the middle", "a\\N我们走\\Nbc", 6, 6, 3, false},
        {"bad bytes count one each", std::string("a\xff\xc3", 3), 3, 3, 1, false},
        {"empty", "", 0, 0, 1, true},
        {"spaces, tags, breaks and ideographic space are blank", " {\\an8}\\N\xe3\x80\x80<i></i>", 2, 2, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TextMeasure m = MeasureText(c.text);
        EXPECT_EQ(c.characters, m.characters);
        EXPECT_EQ(c.widest, m.widestLine);
        EXPECT_EQ(c.lines, m.lines);
        EXPECT_EQ(c.blank, m.blank);
    }
}

TEST(CheckText, ManyOpeningMarksStayLinear) {
    // Would take minutes if every "{" searched to the end again.
    const std::string text = Repeat("{<", 2'000'000);
    EXPECT_EQ(4'000'000, MeasureText(text).characters);
}

TEST(CheckCue, EachKindAtItsLimit) {
    const CheckLimits limits;
    const std::optional<int64_t> last;
    struct Case {
        const char* name;
        int64_t start, end;
        std::optional<int64_t> next;
        std::string text;
        ProblemMask expected;
    };
    const Case cases[] = {
        {"0.700 s is long enough", 1000, 1700, last, "ok", kNone},
        {"0.699 s is too short", 1000, 1699, last, "ok", Bit(CheckKind::TooShort)},
        {"7.000 s is fine", 1000, 8000, last, "ok", kNone},
        {"7.001 s is too long", 1000, 8001, last, "ok", Bit(CheckKind::TooLong)},
        {"end before start", 2000, 1000, 5000, "ok", Bit(CheckKind::EndBeforeStart)},
        {"end before start hides an overlap", 2000, 1000, 500, "ok", Bit(CheckKind::EndBeforeStart)},
        {"next starts 1 ms before the end", 0, 2000, 1999, "ok", Bit(CheckKind::Overlap)},
        {"next starts at the end: no gap", 0, 2000, 2000, "ok", Bit(CheckKind::GapTooShort)},
        {"gap of 99 ms", 0, 2000, 2099, "ok", Bit(CheckKind::GapTooShort)},
        {"gap of 100 ms", 0, 2000, 2100, "ok", kNone},
        {"15 characters a second exactly", 0, 1000, last, Repeat("a", 15), kNone},
        {"16 characters in a second", 0, 1000, last, Repeat("a", 16), Bit(CheckKind::TooFast)},
        {"30 CJK characters in 2 s", 0, 2000, last, Repeat("好", 15) + "\\N" + Repeat("好", 15), kNone},
        {"31 CJK characters in 2 s", 0, 2000, last, Repeat("好", 15) + "\\N" + Repeat("好", 16),
         Bit(CheckKind::TooFast)},
        {"tags and breaks not read", 0, 1000, last, "{\\b1}" + Repeat("a", 8) + "\\N<i>" + Repeat("b", 7) + "</i>",
         kNone},
        {"42 columns", 0, 5000, last, Repeat("a", 42), kNone},
        {"43 columns", 0, 5000, last, Repeat("a", 43), Bit(CheckKind::LineTooLong)},
        {"21 CJK characters are 42 columns", 0, 5000, last, Repeat("我", 21), kNone},
        {"21 CJK characters and a letter are 43", 0, 5000, last, Repeat("我", 21) + "a",
         Bit(CheckKind::LineTooLong)},
        {"each line measured alone", 0, 6000, last, Repeat("a", 42) + "\\N" + Repeat("b", 42), kNone},
        {"tags take no columns", 0, 5000, last, "{\\pos(1,2)}" + Repeat("a", 42), kNone},
        {"two lines", 0, 5000, last, "a\\Nb", kNone},
        {"three lines", 0, 5000, last, "a\\Nb\\Nc", Bit(CheckKind::TooManyLines)},
        {"empty", 0, 2000, 3000, " {\\an8} \\N ", Bit(CheckKind::Empty)},
        {"no end: measured to the next start", 0, kNoEnd, 699, "ok", Bit(CheckKind::TooShort)},
        {"no end: long to the next start", 0, kNoEnd, 9000, "ok", Bit(CheckKind::TooLong)},
        {"no end: speed to the next start", 0, kNoEnd, 1000, Repeat("a", 16), Bit(CheckKind::TooFast)},
        {"no end, last: duration and speed unchecked", 0, kNoEnd, last, Repeat("a", 40), kNone},
        {"no end never overlaps or crowds", 0, kNoEnd, 800, "ok", kNone},
        {"zero length with text", 1000, 1000, last, "a", Bit(CheckKind::TooShort) | Bit(CheckKind::TooFast)},
        {"extreme times do not overflow", std::numeric_limits<int64_t>::min() + 1, std::numeric_limits<int64_t>::max(),
         last, "a", Bit(CheckKind::TooLong)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, CheckCue(c.start, c.end, c.next, MeasureText(c.text), limits));
    }
}

TEST(CheckCue, LimitsAreSettings) {
    CheckLimits limits;
    limits.minDurationMs = 1000;
    limits.maxLines = 3;
    limits.maxLineWidth = 4;
    limits.maxCharsPerSecond = 2;
    EXPECT_EQ(Bit(CheckKind::TooShort), CheckCue(0, 999, std::nullopt, MeasureText("a"), limits));
    EXPECT_EQ(kNone, CheckCue(0, 2000, std::nullopt, MeasureText("a\\Nb\\Nc"), limits));
    EXPECT_EQ(Bit(CheckKind::LineTooLong) | Bit(CheckKind::TooFast),
              CheckCue(0, 2000, std::nullopt, MeasureText("我们好啊a"), limits));
}

// ---- the checker on a document --------------------------------------------------

TEST(DocumentChecks, FindsListsAndCounts) {
    SubtitleDocument d;
    LoadCues(d, {{0, 2500, "fine"},
             {2000, 4000, "overlaps the next"},  // 1: overlap
             {3500, 3600, ""},                    // 2: too short, empty
             {4000, 6000, "a\\Nb\\Nc"},           // 3: three lines
             {7000, kNoEnd, "last, no end"}});
    DocumentChecks checks(&d);
    EXPECT_EQ(Bit(CheckKind::Overlap), checks.ProblemsOf(0));
    EXPECT_EQ(Bit(CheckKind::Overlap), checks.ProblemsOf(1));
    EXPECT_EQ(Bit(CheckKind::TooShort) | Bit(CheckKind::Empty), checks.ProblemsOf(2));
    EXPECT_EQ(Bit(CheckKind::TooManyLines), checks.ProblemsOf(3));
    EXPECT_EQ(kNone, checks.ProblemsOf(4));
    EXPECT_EQ(kNone, checks.ProblemsOf(5));
    EXPECT_EQ(kNone, checks.ProblemsOf(-1));
    EXPECT_EQ(2, checks.CountOf(CheckKind::Overlap));
    EXPECT_EQ(1, checks.CountOf(CheckKind::Empty));
    EXPECT_EQ(5, checks.Total());
    const auto all = checks.Problems();
    ASSERT_EQ(5u, all.size());
    EXPECT_EQ(2, all[2].row);
    EXPECT_EQ(CheckKind::TooShort, all[2].kind);
    EXPECT_EQ(CheckKind::Empty, all[3].kind);
    EXPECT_EQ(QStringLiteral("空字幕"), all[3].text);
    EXPECT_EQ(QStringLiteral("与下一条重叠"), all[0].text);
    const auto empties = checks.Problems(Bit(CheckKind::Empty));
    ASSERT_EQ(1u, empties.size());
    EXPECT_EQ(2, empties[0].row);
    EXPECT_EQ(3, checks.NextRowWith(3));
    EXPECT_EQ(-1, checks.NextRowWith(4));
    EXPECT_EQ(2, checks.NextRowWith(0, Bit(CheckKind::TooShort)));

    CheckLimits loose;
    loose.maxLines = 3;
    checks.SetLimits(loose);
    EXPECT_EQ(kNone, checks.ProblemsOf(3));
}

TEST(DocumentChecks, EditsUpdateNeighboursAndSignal) {
    SubtitleDocument d;
    LoadCues(d, {{0, 1000, "a"}, {2000, 3000, "b"}, {4000, 5000, "c"}});
    DocumentChecks checks(&d);
    EXPECT_EQ(0, checks.Total());
    std::vector<std::pair<int, int>> signalled;
    QObject::connect(&checks, &DocumentChecks::ProblemsChanged,
                     [&](int f, int l) { signalled.emplace_back(f, l); });

    // A start moved before the previous end marks the previous row.
    ASSERT_TRUE(d.SetStart(1, 900));
    EXPECT_EQ(Bit(CheckKind::Overlap), checks.ProblemsOf(0));
    EXPECT_EQ(kNone, checks.ProblemsOf(1));
    ASSERT_EQ(1u, signalled.size());
    EXPECT_EQ(std::make_pair(0, 1), signalled.back());

    // A text edit that changes no mark says nothing.
    ASSERT_TRUE(d.SetText(2, "cc"));
    EXPECT_EQ(1u, signalled.size());

    // An insert in the middle: the rows after it move with their marks.
    ASSERT_TRUE(d.SetText(2, ""));
    EXPECT_EQ(Bit(CheckKind::Empty), checks.ProblemsOf(2));
    d.Insert(1, {{1000, 1050, "x"}}, QStringLiteral("insert"));
    EXPECT_EQ(Bit(CheckKind::GapTooShort), checks.ProblemsOf(0));
    EXPECT_EQ(Bit(CheckKind::Overlap) | Bit(CheckKind::TooShort) | Bit(CheckKind::TooFast), checks.ProblemsOf(1));
    EXPECT_EQ(Bit(CheckKind::Empty), checks.ProblemsOf(3));

    // Undo takes it back out.
    ASSERT_TRUE(d.Undo());
    EXPECT_EQ(Bit(CheckKind::Overlap), checks.ProblemsOf(0));
    EXPECT_EQ(Bit(CheckKind::Empty), checks.ProblemsOf(2));
    EXPECT_EQ(2, checks.Total());

    // Removing the row after the overlap leaves the first row against the last.
    ASSERT_TRUE(d.Remove({1}, QStringLiteral("remove")));
    EXPECT_EQ(kNone, checks.ProblemsOf(0));
    EXPECT_EQ(Bit(CheckKind::Empty), checks.ProblemsOf(1));
    EXPECT_EQ(1, checks.Total());
}

TEST(DocumentChecks, ReloadAndAbsentDocument) {
    auto* d = new SubtitleDocument;
    LoadCues(*d, {{0, 100, "a"}});
    DocumentChecks checks(d);
    EXPECT_EQ(Bit(CheckKind::TooShort), checks.ProblemsOf(0));
    LoadCues(*d, {{0, 1000, "a"}, {1000, 2000, ""}});
    EXPECT_EQ(Bit(CheckKind::GapTooShort), checks.ProblemsOf(0));
    EXPECT_EQ(Bit(CheckKind::Empty), checks.ProblemsOf(1));
    delete d;
    EXPECT_EQ(0, checks.Total());
    EXPECT_EQ(kNone, checks.ProblemsOf(0));
    EXPECT_FALSE(checks.Fix(1, CheckKind::Empty));
    EXPECT_EQ(0, checks.FixAll());

    DocumentChecks none(nullptr);
    EXPECT_EQ(0, none.Total());
}

// The marks kept up to date through hundreds of random edits, undos and
// redos equal those of a checker made afresh on the same rows.
TEST(DocumentChecks, IncrementalEqualsFreshAfterRandomEdits) {
    std::mt19937 rng(20261210);
    auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(std::max(n, 1))); };
    const std::vector<std::string> texts = {"",       " ",        "短",          "ok",        "{\\i1}{\\i0}",
                                            "a\\Nb\\Nc", Repeat("我", 22), Repeat("x", 30), "hello\\Nworld"};
    auto randomCue = [&]() -> CueValue {
        const int64_t start = pick(60000);
        const int kind = pick(10);
        const int64_t end = kind == 0 ? kNoEnd : kind == 1 ? start - pick(500) : start + pick(9000);
        return {start, end, texts[static_cast<std::size_t>(pick(static_cast<int>(texts.size())))]};
    };
    SubtitleDocument d;
    d.BeginLoad();
    for (int i = 0; i < 40; ++i) {
        const CueValue c = randomCue();
        d.AppendLoaded(c.start, c.end, c.text);
    }
    d.EndLoad();
    DocumentChecks checks(&d);

    for (int op = 0; op < 600; ++op) {
        const int n = d.Count();
        const int row = pick(n);
        switch (pick(13)) {
            case 0: d.SetText(row, texts[static_cast<std::size_t>(pick(static_cast<int>(texts.size())))]); break;
            case 1: d.SetStart(row, pick(60000)); break;
            case 2: d.SetEnd(row, pick(4) == 0 ? kNoEnd : pick(60000)); break;
            case 3: {
                std::vector<CueValue> cues(static_cast<std::size_t>(1 + pick(3)));
                for (auto& c : cues) c = randomCue();
                d.Insert(pick(n + 1), cues, QStringLiteral("insert"));
                break;
            }
            case 4: {
                std::vector<int> rows;
                // Now and then many scattered rows: the document resets instead.
                const int count = pick(5) == 0 ? 40 : 1 + pick(3);
                for (int i = 0; i < count; ++i) rows.push_back(pick(n));
                if (n > 10) d.Remove(rows, QStringLiteral("remove"));
                break;
            }
            case 5: d.Undo(); break;
            case 6: d.Redo(); break;
            case 7: d.Split(row, static_cast<std::size_t>(pick(6)), QStringLiteral("split")); break;
            case 8: d.Join(row, std::min(row + 1 + pick(2), n - 1), QStringLiteral("join")); break;
            case 9: {
                std::vector<int> rows = {row, pick(n)};
                d.Shift(pick(3000) - 1500, pick(2) == 0, true, QStringLiteral("shift"), pick(3) ? &rows : nullptr);
                break;
            }
            case 10: {
                const auto kind = static_cast<CheckKind>(pick(kCheckKinds));
                checks.Fix(row, kind);
                break;
            }
            case 11: if (pick(4) == 0) checks.FixAll(); break;
            case 12: {
                std::vector<SubtitleDocument::TimeChange> changes;
                for (int i = 0; i < 3; ++i) changes.push_back({pick(n), pick(60000), pick(60000)});
                d.SetTimes(changes, QStringLiteral("times"));
                break;
            }
        }
        if (d.Count() < 5) d.Insert(0, {randomCue(), randomCue(), randomCue()}, QStringLiteral("refill"));

        DocumentChecks fresh(&d);
        SCOPED_TRACE("after operation " + std::to_string(op));
        ASSERT_EQ(fresh.Total(), checks.Total());
        for (int k = 0; k < kCheckKinds; ++k)
            ASSERT_EQ(fresh.CountOf(static_cast<CheckKind>(k)), checks.CountOf(static_cast<CheckKind>(k))) << k;
        for (int r = 0; r < d.Count(); ++r) ASSERT_EQ(fresh.ProblemsOf(r), checks.ProblemsOf(r)) << "row " << r;
        ASSERT_EQ(kNone, checks.ProblemsOf(d.Count()));
    }
}

// ---- repairs ------------------------------------------------------------------------

TEST(DocumentChecks, EachFixIsOneStepThatUndoesExactly) {
    struct Case {
        const char* name;
        std::vector<Cue> cues;
        int row;
        CheckKind kind;
        bool fixes;
        std::vector<CueValue> after;  // when it fixes
        bool cleared = true;          // the row no longer has the problem
    };
    const Case cases[] = {
        {"overlap ends the gap before the next",
         {{0, 3000, "a"}, {2000, 4000, "b"}},
         0,
         CheckKind::Overlap,
         true,
         {{0, 1900, "a"}, {2000, 4000, "b"}}},
        {"overlap with the next starting within the gap of the start ends at the start",
         {{1000, 3000, "a"}, {1050, 4000, "b"}},
         0,
         CheckKind::Overlap,
         true,
         {{1000, 1000, "a"}, {1050, 4000, "b"}}},
        {"overlap with rows out of order is left", {{5000, 8000, "a"}, {2000, 4000, "b"}}, 0, CheckKind::Overlap, false, {}},
        {"end before start swaps", {{3000, 1000, "a"}}, 0, CheckKind::EndBeforeStart, true, {{1000, 3000, "a"}}},
        {"too short, last: to the minimum", {{1000, 1200, "a"}}, 0, CheckKind::TooShort, true, {{1000, 1700, "a"}}},
        {"too short: the minimum when the next is far",
         {{1000, 1200, "a"}, {5000, 6000, "b"}},
         0,
         CheckKind::TooShort,
         true,
         {{1000, 1700, "a"}, {5000, 6000, "b"}}},
        {"too short: up to the gap before a near next",
         {{1000, 1200, "a"}, {1500, 3000, "b"}},
         0,
         CheckKind::TooShort,
         true,
         {{1000, 1400, "a"}, {1500, 3000, "b"}},
         false},
        {"too short with no room is left", {{1000, 1200, "a"}, {1250, 3000, "b"}}, 0, CheckKind::TooShort, false, {}},
        {"too short without an end is left", {{1000, kNoEnd, "a"}, {1200, 3000, "b"}}, 0, CheckKind::TooShort, false, {}},
        {"empty is removed", {{0, 1000, "a"}, {2000, 3000, " {\\i1} "}}, 1, CheckKind::Empty, true, {{0, 1000, "a"}}},
        {"a kind the row does not have", {{0, 1000, "a"}}, 0, CheckKind::Empty, false, {}},
        {"a kind with no repair", {{0, 9000, "a"}}, 0, CheckKind::TooLong, false, {}},
        {"a row that does not exist", {{0, 1000, ""}}, 3, CheckKind::Empty, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SubtitleDocument d;
        LoadCues(d, c.cues);
        DocumentChecks checks(&d);
        const auto before = Values(d);
        ASSERT_EQ(c.fixes, checks.Fix(c.row, c.kind));
        if (!c.fixes) {
            EXPECT_EQ(0, d.History()->count());
            continue;
        }
        EXPECT_EQ(c.after, Values(d));
        EXPECT_EQ(1, d.History()->count());
        if (c.kind != CheckKind::Empty) {
            EXPECT_EQ(!c.cleared, bool(checks.ProblemsOf(c.row) & MaskOf(c.kind)));
        }
        ASSERT_TRUE(d.Undo());
        EXPECT_EQ(before, Values(d));
        EXPECT_TRUE(checks.ProblemsOf(c.row) & MaskOf(c.kind));
        ASSERT_TRUE(d.Redo());
        EXPECT_EQ(c.after, Values(d));
    }
}

TEST(DocumentChecks, FixAllIsOneStep) {
    SubtitleDocument d;
    LoadCues(d, {{0, 3000, "overlap"},
             {2000, 2100, ""},          // empty: goes first, so row 0 is fixed against row 2
             {2500, 2200, "swapped"},   // end before start
             {2900, 3000, "short"},     // overlapped by the swapped row, then short
             {9000, 9100, "short too"},
             {20000, 30000, "too long stays"}});
    DocumentChecks checks(&d);
    const auto before = Values(d);
    const int repairs = checks.FixAll();
    EXPECT_EQ(6, repairs);
    EXPECT_EQ(1, d.History()->count());
    const std::vector<CueValue> after = {{0, 2100, "overlap"},
                                         {2200, 2800, "swapped"},
                                         {2900, 3600, "short"},
                                         {9000, 9700, "short too"},
                                         {20000, 30000, "too long stays"}};
    EXPECT_EQ(after, Values(d));
    EXPECT_EQ(0, checks.CountOf(CheckKind::Overlap));
    EXPECT_EQ(0, checks.CountOf(CheckKind::Empty));
    EXPECT_EQ(0, checks.CountOf(CheckKind::EndBeforeStart));
    EXPECT_EQ(1, checks.CountOf(CheckKind::TooLong));
    // The swapped row could only grow to the gap before the next: 600 ms.
    EXPECT_EQ(1, checks.CountOf(CheckKind::TooShort));

    ASSERT_TRUE(d.Undo());
    EXPECT_EQ(before, Values(d));
    EXPECT_EQ(1, checks.CountOf(CheckKind::Empty));
    ASSERT_TRUE(d.Redo());
    EXPECT_EQ(after, Values(d));
    EXPECT_EQ(0, checks.FixAll(Bit(CheckKind::Empty)));
    EXPECT_EQ(1, d.History()->count());

    // One kind only.
    SubtitleDocument e;
    LoadCues(e, {{0, 100, ""}, {1000, 1100, "x"}});
    DocumentChecks only(&e);
    EXPECT_EQ(1, only.FixAll(Bit(CheckKind::Empty)));
    EXPECT_EQ(1, e.Count());
    EXPECT_EQ(1, e.History()->count());
    EXPECT_EQ(0, only.FixAll(Bit(CheckKind::TooLong)));
}

TEST(DocumentSetTimes, OneStepLeavingUnchangedRowsOut) {
    SubtitleDocument d;
    LoadCues(d, {{0, 1000, "a"}, {2000, kNoEnd, "b"}, {3000, 4000, "c"}});
    EXPECT_FALSE(d.SetTimes({{0, 0, 1000}, {7, 1, 2}, {-1, 1, 2}}, QStringLiteral("none")));
    EXPECT_EQ(0, d.History()->count());
    std::vector<std::tuple<int, int, int, int>> cells;
    QObject::connect(&d, &SubtitleDocument::CellsChanged,
                     [&](int f, int l, int c0, int c1) { cells.emplace_back(f, l, c0, c1); });
    // The first of two changes to one row wins.
    ASSERT_TRUE(d.SetTimes({{2, 3500, 3600}, {1, 2000, 2500}, {2, 1, 1}, {0, 0, 1000}}, QStringLiteral("times")));
    EXPECT_EQ(1, d.History()->count());
    EXPECT_EQ((std::vector<CueValue>{{0, 1000, "a"}, {2000, 2500, "b"}, {3500, 3600, "c"}}), Values(d));
    ASSERT_EQ(1u, cells.size());
    EXPECT_EQ(std::make_tuple(1, 2, int(ColStart), int(ColEnd)), cells[0]);
    ASSERT_TRUE(d.Undo());
    EXPECT_EQ((std::vector<CueValue>{{0, 1000, "a"}, {2000, kNoEnd, "b"}, {3000, 4000, "c"}}), Values(d));
}

}  // namespace
}  // namespace lumeval::doc
