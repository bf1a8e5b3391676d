#include "document/document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumeval::doc {
namespace {

struct Row {
    int64_t start, end;
    std::string text;
    uint32_t serial;
    friend bool operator==(const Row&, const Row&) = default;
};

std::vector<Row> Rows(const SubtitleDocument& d) {
    std::vector<Row> rows;
    for (int i = 0; i < d.Count(); ++i) rows.push_back({d.Start(i), d.End(i), std::string(d.Text(i)), d.Serial(i)});
    return rows;
}

// Follows the document's signals the way a list model does: a row count
// that only changes through them must always equal the document's.
struct Mirror {
    int rows = 0;
    int pendingInsert = -1, pendingRemove = -1;
    bool resetting = false;
    std::vector<std::string> problems;
    explicit Mirror(SubtitleDocument& d) {
        QObject::connect(&d, &SubtitleDocument::RowsAboutToBeInserted, [this](int f, int l) { pendingInsert = l - f + 1; });
        QObject::connect(&d, &SubtitleDocument::RowsInserted, [this, &d](int, int) {
            rows += pendingInsert;
            if (rows != d.Count()) problems.push_back("insert");
        });
        QObject::connect(&d, &SubtitleDocument::RowsAboutToBeRemoved, [this](int f, int l) { pendingRemove = l - f + 1; });
        QObject::connect(&d, &SubtitleDocument::RowsRemoved, [this, &d](int, int) {
            rows -= pendingRemove;
            if (rows != d.Count()) problems.push_back("remove");
        });
        QObject::connect(&d, &SubtitleDocument::AboutToReset, [this] { resetting = true; });
        QObject::connect(&d, &SubtitleDocument::ResetDone, [this, &d] {
            resetting = false;
            rows = d.Count();
        });
        QObject::connect(&d, &SubtitleDocument::CellsChanged, [this, &d](int f, int l, int, int) {
            if (f < 0 || l >= d.Count() || f > l) problems.push_back("cells out of range");
        });
    }
};

void Load(SubtitleDocument& d, int n, int64_t step = 1000) {
    d.BeginLoad();
    for (int i = 0; i < n; ++i) d.AppendLoaded(i * step, i * step + step / 2, "cue " + std::to_string(i));
    d.EndLoad();
}

TEST(Document, LoadingStartsCleanAndKeepsAbsentEnds) {
    SubtitleDocument d;
    d.BeginLoad();
    d.AppendLoaded(1000, kNoEnd, "lyric");
    d.AppendLoaded(2000, 3000, "");
    d.EndLoad();
    ASSERT_EQ(2, d.Count());
    EXPECT_FALSE(d.HasEnd(0));
    EXPECT_EQ((CueValue{2000, 3000, ""}), d.Cue(1));
    EXPECT_EQ(1u, d.Serial(0));
    EXPECT_FALSE(d.IsChanged());
    EXPECT_FALSE(d.CanUndo());
}

// Every change, done, undone and redone: the rows come back exactly and the
// history's clean state is the changed flag.
TEST(Document, EveryChangeUndoesExactlyAndRedoes) {
    struct Case {
        const char* name;
        std::function<bool(SubtitleDocument&)> change;
        int countAfter;
    };
    const std::vector<Case> cases = {
        {"text", [](SubtitleDocument& d) { return d.SetText(2, "new text"); }, 10},
        {"start", [](SubtitleDocument& d) { return d.SetStart(2, 7); }, 10},
        {"end", [](SubtitleDocument& d) { return d.SetEnd(2, kNoEnd); }, 10},
        {"insert", [](SubtitleDocument& d) { return d.Insert(3, {{1, 2, "a"}, {3, 4, "b"}}, "i") == 3; }, 12},
        {"remove scattered", [](SubtitleDocument& d) { return d.Remove({8, 1, 3, 3, 99}, "r"); }, 7},
        {"clear", [](SubtitleDocument& d) { return d.Clear("c"); }, 0},
        {"shift all down past 0", [](SubtitleDocument& d) { return d.Shift(-4200, true, true, "s"); }, 10},
        {"shift ends", [](SubtitleDocument& d) { return d.Shift(300, false, true, "s"); }, 10},
        {"shift some", [](SubtitleDocument& d) { std::vector<int> r{5, 1}; return d.Shift(-1500, true, false, "s", &r); }, 10},
        {"rewrite", [](SubtitleDocument& d) { return d.RewriteTexts([](std::string_view t) { return t == "cue 4" ? std::string("x") : std::string(t); }, "w"); }, 10},
        {"replace", [](SubtitleDocument& d) { return d.ReplaceAll({{5, 6, "only"}}, "m"); }, 1},
        {"join", [](SubtitleDocument& d) { return d.Join(2, 4, "j"); }, 8},
        {"split", [](SubtitleDocument& d) { return d.Split(2, 3, "p"); }, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SubtitleDocument d;
        Mirror m(d);
        Load(d, 10);
        const std::vector<Row> before = Rows(d);
        ASSERT_TRUE(c.change(d));
        EXPECT_EQ(c.countAfter, d.Count());
        EXPECT_TRUE(d.IsChanged());
        const std::vector<Row> after = Rows(d);
        EXPECT_NE(before, after);
        ASSERT_TRUE(d.Undo());
        EXPECT_EQ(before, Rows(d));
        EXPECT_FALSE(d.IsChanged());
        ASSERT_TRUE(d.Redo());
        EXPECT_EQ(after, Rows(d));
        EXPECT_EQ(d.Count(), m.rows);
        EXPECT_TRUE(m.problems.empty()) << m.problems.front();
    }
}

TEST(Document, ShiftBelowZeroClampsAndUndoRestoresTheOldTimes) {
    SubtitleDocument d;
    Load(d, 10);
    // The first rows stop at 0; undoing the shift gives them back as they were.
    ASSERT_TRUE(d.Shift(-10000, true, true, "-10"));
    EXPECT_EQ(0, d.Start(4));
    EXPECT_EQ(0, d.End(4));
    ASSERT_TRUE(d.Undo());
    EXPECT_EQ(4000, d.Start(4));
    EXPECT_EQ(4500, d.End(4));
    // Without undo, a shift back keeps the clamp, as the commands always did.
    ASSERT_TRUE(d.Redo());
    ASSERT_TRUE(d.Shift(10000, true, true, "+10"));
    EXPECT_EQ(10000, d.Start(4));
    EXPECT_EQ(2, d.History()->count());
}

TEST(Document, ManyScatteredRowsRemoveAndComeBackInPlace) {
    SubtitleDocument d;
    Mirror m(d);
    Load(d, 1000);
    std::vector<int> odd;
    for (int i = 1; i < 1000; i += 2) odd.push_back(i);
    const std::vector<Row> before = Rows(d);
    ASSERT_TRUE(d.Remove(odd, "del"));
    ASSERT_EQ(500, d.Count());
    EXPECT_EQ(3u, d.Serial(1));  // serials are kept, not renumbered
    ASSERT_TRUE(d.Undo());
    EXPECT_EQ(before, Rows(d));
    EXPECT_EQ(1000, m.rows);
}

TEST(Document, InsertedRowsGetNewSerials) {
    SubtitleDocument d;
    Load(d, 3);
    ASSERT_EQ(1, d.Insert(1, {{100, 200, "x"}}, "ins"));
    EXPECT_EQ(4u, d.Serial(1));
    EXPECT_EQ("x", d.Text(1));
}

TEST(Document, SplitDividesTimeAndJoinJoins) {
    SubtitleDocument d;
    d.BeginLoad();
    d.AppendLoaded(0, 1000, "one two");
    d.AppendLoaded(1000, 2000, "three");
    d.EndLoad();
    ASSERT_TRUE(d.Join(0, 1, "j"));
    ASSERT_EQ(1, d.Count());
    EXPECT_EQ((CueValue{0, 2000, "one two\\Nthree"}), d.Cue(0));
    ASSERT_TRUE(d.Undo());
    ASSERT_TRUE(d.Split(0, 3, "p"));
    ASSERT_EQ(3, d.Count());
    EXPECT_EQ("one", d.Text(0));
    EXPECT_EQ("two", d.Text(1));
    EXPECT_EQ(d.End(0), d.Start(1));
    EXPECT_EQ(1000, d.End(1));
    EXPECT_FALSE(d.Join(1, 1, "j"));
}

TEST(Document, UndoingBackToTheSavedStateIsUnchanged) {
    SubtitleDocument d;
    Load(d, 3);
    std::vector<bool> flips;
    QObject::connect(&d, &SubtitleDocument::ChangedStateChanged, [&](bool c) { flips.push_back(c); });
    d.SetText(0, "a");
    d.MarkSaved();
    d.SetText(0, "b");
    EXPECT_TRUE(d.IsChanged());
    d.Undo();
    EXPECT_FALSE(d.IsChanged());
    d.Undo();
    EXPECT_TRUE(d.IsChanged());
    EXPECT_EQ((std::vector<bool>{true, false, true, false, true}), flips);
    // Nothing to undo past the oldest step.
    EXPECT_FALSE(d.Undo());
    EXPECT_FALSE(d.Undo());
}

TEST(Document, AChangeAcrossDocumentsIsOneStepInEach) {
    SubtitleDocument a, b;
    Load(a, 3);
    Load(b, 4);
    const auto ra = Rows(a), rb = Rows(b);
    SubtitleDocument::ChangeTogether({&a, &b}, "merge", [&] {
        a.ReplaceAll({{0, 1, "all"}}, "merge");
        b.Clear("merge");
    });
    EXPECT_EQ(1, a.Count());
    EXPECT_EQ(0, b.Count());
    EXPECT_EQ(1, a.History()->count());
    EXPECT_EQ(1, b.History()->count());
    EXPECT_EQ("merge", b.History()->undoText().toStdString());
    // Undone from either document, both come back.
    ASSERT_TRUE(b.Undo());
    EXPECT_EQ(ra, Rows(a));
    EXPECT_EQ(rb, Rows(b));
    ASSERT_TRUE(a.Redo());
    EXPECT_EQ(0, b.Count());
    // Once one of them has a newer step, the merge cannot be taken back
    // from the other alone.
    b.Insert(0, {{5, 6, "later"}}, "ins");
    EXPECT_FALSE(a.CanUndo());
    EXPECT_FALSE(a.Undo());
    EXPECT_EQ(1, a.Count());
    ASSERT_TRUE(b.Undo());
    EXPECT_TRUE(a.Undo());
    EXPECT_EQ(ra, Rows(a));
    EXPECT_EQ(rb, Rows(b));
}

TEST(Document, HugeTextAndBadRowsAreHandled) {
    SubtitleDocument d;
    Load(d, 2);
    const std::string huge(10 << 20, 'x');
    ASSERT_TRUE(d.SetText(1, huge));
    EXPECT_EQ(huge.size(), d.Text(1).size());
    EXPECT_EQ("cue 0", d.Text(0));
    EXPECT_FALSE(d.SetText(5, "x"));
    EXPECT_FALSE(d.SetStart(-1, 0));
    EXPECT_FALSE(d.Remove({7, 9}, "r"));
    EXPECT_FALSE(d.Split(3, 0, "p"));
    EXPECT_EQ(1, d.History()->count());
}

// A backup reads a snapshot on another thread while the window edits on:
// what it reads is the rows at the moment it was made, whatever follows
// (edits, undo, a new load that drops the document's text blocks).
TEST(Document, ASnapshotKeepsTheRowsOfItsMoment) {
    SubtitleDocument d;
    Load(d, 5);
    const std::vector<Row> before = Rows(d);
    const std::shared_ptr<const DocumentSnapshot> snapshot = d.Snapshot();
    // Room made elsewhere is used when it fits and nobody else holds it.
    std::shared_ptr<DocumentSnapshot> room = DocumentSnapshot::WithRoom(8);
    const DocumentSnapshot* roomAt = room.get();
    const std::shared_ptr<const DocumentSnapshot> intoRoom = d.Snapshot(std::move(room));
    EXPECT_EQ(roomAt, intoRoom.get());
    std::shared_ptr<DocumentSnapshot> small = DocumentSnapshot::WithRoom(2);
    const std::shared_ptr<DocumentSnapshot> heldElsewhere = small;  // in use: not filled
    EXPECT_NE(heldElsewhere.get(), d.Snapshot(std::move(small)).get());
    d.SetText(1, "changed");
    d.Shift(500, true, true, QStringLiteral("平移"));
    d.Remove({0}, QStringLiteral("删除"));
    d.BeginLoad();
    d.AppendLoaded(0, kNoEnd, "new");
    d.EndLoad();
    ASSERT_EQ(before.size(), snapshot->Count());
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(before[i].start, snapshot->Start(i));
        EXPECT_EQ(before[i].end, snapshot->End(i));
        EXPECT_EQ(before[i].text, snapshot->Text(i));
        EXPECT_EQ(i + 1, snapshot->Serial(i));
        EXPECT_EQ(before[i].text, intoRoom->Text(i));
    }
}


}  // namespace
}  // namespace lumeval::doc
