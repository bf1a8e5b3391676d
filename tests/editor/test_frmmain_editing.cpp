// Editing in the main window as a person does it: cells typed in place,
// refused times, the row commands by their keys, undo and redo of the
// design's commands, the title's changed mark and start-only rows.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include "app/frmmain.h"
#include "controls/ctllistview.h"
#include "controls/ctllistview_model.h"
#include "document/document.h"
#include "editor_test_util.h"
#include "system/scriptedsystemui.h"

using namespace lumeval;

namespace {

class Editing : public lumeval::testing::WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        // The row commands' keys are the window's shortcuts: it must be active.
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    void open(const QString& path) { OpenFile(path); }
    void openThree() {
        open(lumeval::testing::WriteSrt(dir, QStringLiteral("a.srt"),
                                        {"00:00:01,000 --> 00:00:02,000\none two", "00:00:03,000 --> 00:00:04,000\nthree",
                                         "00:00:05,000 --> 00:00:06,000\nfour"}));
    }
    doc::SubtitleDocument* d(int i = 0) { return window->Document(i); }
    ctlListView* list(int i = 0) { return window->List(i); }
    // The open editor: a closed one may linger until it is deleted.
    QWidget* editor() {
        for (QWidget* w : list()->findChildren<QWidget*>(QStringLiteral("cellEditor")))
            if (w->isVisible()) return w;
        return nullptr;
    }
    // Types into the open cell editor, replacing what it holds, then a key.
    void type(const QString& text, Qt::Key then = Qt::Key_Return) {
        QWidget* e = editor();
        ASSERT_NE(e, nullptr);
        if (auto* line = qobject_cast<QLineEdit*>(e)) line->clear();
        if (auto* plain = qobject_cast<QPlainTextEdit*>(e)) plain->clear();
        QTest::keyClicks(e, text);
        QTest::keyClick(e, then);
        QCoreApplication::processEvents();
    }
    void key(int k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QTest::keyClick(list()->hwnd(), static_cast<Qt::Key>(k), m);
        QCoreApplication::processEvents();
    }
    void focus(int row) {
        list()->hwnd()->setFocus();
        list()->hwnd()->clearSelection();
        list()->SetItemSelected(row, true);
        QCoreApplication::processEvents();
    }

};

TEST_F(Editing, TextAndTimesAreTypedInPlaceAndUndone) {
    openThree();
    focus(1);
    key(Qt::Key_F2);  // the current cell of a newly focused row is its text
    type(QStringLiteral("changed"));
    EXPECT_EQ("changed", d()->Text(1));
    EXPECT_EQ(QStringLiteral("a.srt* - Lumeval"), window->windowTitle());

    ASSERT_TRUE(list()->EditCell(1, 1));
    type(QStringLiteral("0:02.5"));
    EXPECT_EQ(2500, d()->Start(1));
    EXPECT_FALSE(list()->IsEditing());

    // Unreadable, or an end before its start: refused, shown, nothing changes.
    ASSERT_TRUE(list()->EditCell(1, 2));
    type(QStringLiteral("later"));
    EXPECT_TRUE(list()->IsEditing());
    EXPECT_FALSE(list()->LastEditRefusal().isEmpty());
    EXPECT_NE(list()->findChild<QWidget*>(QStringLiteral("editRefusal")), nullptr);
    type(QStringLiteral("00:00:01,000"));
    EXPECT_TRUE(list()->IsEditing());
    EXPECT_EQ(4000, d()->End(1));
    QTest::keyClick(editor(), Qt::Key_Escape);
    EXPECT_FALSE(list()->IsEditing());

    // Each edit is one step: two undos give the loaded row back, unchanged.
    ASSERT_EQ(2, d()->History()->count());
    window->UndoAction()->trigger();
    window->UndoAction()->trigger();
    EXPECT_EQ("three", d()->Text(1));
    EXPECT_EQ(3000, d()->Start(1));
    EXPECT_FALSE(window->Changed(0));
    EXPECT_EQ(QStringLiteral("a.srt - Lumeval"), window->windowTitle());
    window->RedoAction()->trigger();
    EXPECT_EQ("changed", d()->Text(1));
}

TEST_F(Editing, ShiftEnterBreaksTheLineAndEnterCommits) {
    openThree();
    ASSERT_TRUE(list()->EditCell(0, 3));
    auto* plain = qobject_cast<QPlainTextEdit*>(editor());
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(QStringLiteral("one two"), plain->toPlainText());
    plain->clear();
    QTest::keyClicks(plain, QStringLiteral("top"));
    QTest::keyClick(plain, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(plain, QStringLiteral("bottom"));
    QTest::keyClick(plain, Qt::Key_Return);
    EXPECT_EQ("top\\Nbottom", d()->Text(0));
}

TEST_F(Editing, RowCommandsByTheirKeysAreEachOneStep) {
    openThree();
    struct Step {
        const char* what;
        std::function<void()> act;
        int rows;
    };
    const std::vector<Step> steps = {
        {"insert after", [&] { focus(0); key(Qt::Key_Insert); QTest::keyClick(editor(), Qt::Key_Escape); }, 4},
        {"duplicate", [&] { focus(2); key(Qt::Key_D, Qt::ControlModifier); }, 4},
        {"split", [&] { focus(0); key(Qt::Key_K, Qt::ControlModifier); }, 4},
        {"delete", [&] { focus(1); key(Qt::Key_Delete); }, 2},
        {"join", [&] {
             focus(0);
             list()->SetItemSelected(1, true);
             key(Qt::Key_J, Qt::ControlModifier);
         }, 2},
        {"nudge start", [&] { focus(2); key(Qt::Key_Right, Qt::AltModifier); }, 3},
        {"shift", [&] { window->RunCommand(QStringLiteral("timeoffsetall-10000")); }, 3},
        {"shift ends", [&] { window->RunCommand(QStringLiteral("timeoffsetend500")); }, 3},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        std::vector<doc::CueValue> before;
        for (int i = 0; i < d()->Count(); ++i) before.push_back(d()->Cue(i));
        const int history = d()->History()->index();
        s.act();
        EXPECT_EQ(s.rows, d()->Count());
        EXPECT_EQ(history + 1, d()->History()->index());
        window->UndoAction()->trigger();
        std::vector<doc::CueValue> after;
        for (int i = 0; i < d()->Count(); ++i) after.push_back(d()->Cue(i));
        EXPECT_EQ(before, after);
    }
}

TEST_F(Editing, InsertedCueFollowsTheFocusedOneAndOpensItsText) {
    openThree();
    focus(0);

    key(Qt::Key_Insert);
    ASSERT_EQ(4, d()->Count());
    EXPECT_EQ(2000, d()->Start(1));
    EXPECT_EQ(3000, d()->End(1));  // up to the next start, under 2 s
    EXPECT_TRUE(list()->ItemFocused(1));
    type(QStringLiteral("new line"));
    EXPECT_EQ("new line", d()->Text(1));
}

TEST_F(Editing, StartOnlyRowsShowNoEndAndSaveAsTheConverterDoes) {
    open(lumeval::testing::WriteFile(dir, QStringLiteral("s.lrc"), "[00:01.00]one\n[00:04.00]two\n"));
    ASSERT_EQ(2, d()->Count());
    EXPECT_EQ(QString(), list()->ItemText(0, 2));
    const QString out = dir.filePath(QStringLiteral("out.srt"));
    ui->queueFileDialog(out);
    ui->queueMessageBox(MsgResult::Ok);
    window->RunCommand(QStringLiteral("save"));
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    // The first line ends where the second begins, not 5 s after its start.
    EXPECT_TRUE(f.readAll().contains("00:00:01,000 --> 00:00:04,000"));
}

TEST_F(Editing, MergeByFileIsOneStepAcrossDocuments) {
    openThree();
    open(lumeval::testing::WriteSrt(dir, QStringLiteral("b.srt"), {"00:00:02,000 --> 00:00:02,500\nb"}));
    ASSERT_EQ(1, window->ActiveList());
    window->RunCommand(QStringLiteral("combinesubtitle_by_file"));
    EXPECT_EQ(0, d(0)->Count());
    EXPECT_EQ(4, d(1)->Count());
    window->UndoAction()->trigger();
    EXPECT_EQ(3, d(0)->Count());
    EXPECT_EQ(1, d(1)->Count());
    EXPECT_FALSE(window->Changed(0));
    EXPECT_FALSE(window->Changed(1));
}


// Bad input in the window: a 10 MB paste into a text cell is refused with
// its reason, a long one that fits is one step that undo takes back whole,
// and undo past the oldest step does nothing.
TEST_F(Editing, HugePasteIsRefusedLongTextIsOneStepUndoStopsAtTheOldest) {
    openThree();
    std::string huge;
    huge.reserve(10u << 20);
    for (int i = 0; huge.size() < (10u << 20); ++i) huge += "line of pasted text " + std::to_string(i) + '\n';
    QApplication::clipboard()->setText(QString::fromStdString(huge));
    ASSERT_TRUE(list()->EditCell(1, 3));
    QWidget* e = editor();
    ASSERT_NE(e, nullptr);
    QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
    // Refused with its reason beside the cell; the cell keeps what it had.
    EXPECT_TRUE(list()->LastEditRefusal().contains(QStringLiteral("太长")));
    EXPECT_NE(list()->findChild<QWidget*>(QStringLiteral("editRefusal")), nullptr);
    QTest::keyClick(e, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_FALSE(list()->IsEditing());
    ASSERT_EQ(3, d()->Count());
    EXPECT_EQ("three", d()->Text(1));
    EXPECT_EQ(0, d()->History()->count());

    // A long text that fits is kept whole in one step; the list shows its
    // start without laying all of it out.
    const std::string longText(40000, 'x');
    QApplication::clipboard()->setText(QString::fromStdString(longText));
    ASSERT_TRUE(list()->EditCell(1, 3));
    QTest::keyClick(editor(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(editor(), Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(editor(), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(longText, d()->Text(1));
    EXPECT_EQ(1, d()->History()->count());
    EXPECT_LT(list()->Model()->data(list()->Model()->index(1, 3), Qt::DisplayRole).toString().size(), 5000);

    // One undo gives the row back; more undos change nothing and lose nothing.
    for (int i = 0; i < 5; ++i) window->UndoAction()->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ("three", d()->Text(1));
    EXPECT_EQ(3, d()->Count());
    EXPECT_FALSE(window->Changed(0));
    EXPECT_FALSE(d()->CanUndo());
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(3, d()->Count());
}

TEST_F(Editing, KeysReachTheEndsAfterATimeEdit) {
    openThree();
    focus(1);
    key(Qt::Key_Left);  // from the text to the end cell
    key(Qt::Key_F2);
    type(QStringLiteral("00:00:04,500"));
    EXPECT_EQ(4500, d()->End(1));
    // Home and End go to the first and last rows and select them.
    key(Qt::Key_End);
    EXPECT_EQ(2, list()->Model()->FocusedRow());
    EXPECT_TRUE(list()->ItemSelected(2));
    EXPECT_FALSE(list()->ItemSelected(1));
    key(Qt::Key_Home);
    EXPECT_EQ(0, list()->Model()->FocusedRow());
    EXPECT_TRUE(list()->ItemSelected(0));
    EXPECT_FALSE(list()->ItemSelected(2));
}

// The timing tools, each one step, on the selection of two or more rows or
// on all rows; what cannot be is refused with its reason.
TEST_F(Editing, TimingToolsAreOneStepEachOnTheSelectionOrAll) {
    openThree();  // 1-2 s, 3-4 s, 5-6 s
    ui->queueInput(QStringLiteral("-500"));
    window->CmdShiftBy();
    EXPECT_EQ(500, d()->Start(0));
    EXPECT_EQ(5500, d()->End(2));
    ASSERT_TRUE(d()->Undo());
    EXPECT_EQ(1000, d()->Start(0));

    // Only the two selected rows move.
    list()->hwnd()->clearSelection();
    list()->SetItemSelected(1, true);
    list()->SetItemSelected(2, true);
    ui->queueInput(QStringLiteral("00:00:01,000"));
    window->CmdShiftBy();
    EXPECT_EQ(1000, d()->Start(0));
    EXPECT_EQ(4000, d()->Start(1));
    EXPECT_EQ(7000, d()->End(2));
    ASSERT_TRUE(d()->Undo());
    list()->hwnd()->clearSelection();

    // 1 s -> 2 s and 5 s -> 10 s: every time x 2.
    ui->queueInput(QStringLiteral("0:01=0:02"));
    ui->queueInput(QStringLiteral("00:00:05,000=00:00:10,000"));
    window->CmdSyncTwoPoints();
    EXPECT_EQ(2000, d()->Start(0));
    EXPECT_EQ(8000, d()->End(1));
    EXPECT_EQ(12000, d()->End(2));
    const int steps = d()->History()->index();
    ASSERT_TRUE(d()->Undo());
    EXPECT_EQ(steps - 1, d()->History()->index());
    EXPECT_EQ(1000, d()->Start(0));

    // Reversed points: refused with the reason, nothing changes.
    ui->queueInput(QStringLiteral("1=5"));
    ui->queueInput(QStringLiteral("5=2"));
    ui->queueMessageBox(MsgResult::Ok);
    window->CmdSyncTwoPoints();
    EXPECT_EQ(1000, d()->Start(0));
    EXPECT_TRUE(ui->messageBoxes().back().request.Prompt.contains(QStringLiteral("颠倒")));

    ui->queueInput(QStringLiteral("25:23.976"));
    window->CmdChangeFrameRate();
    EXPECT_EQ(1043, d()->Start(0));
    ui->queueInput(QStringLiteral("0:25"));
    ui->queueMessageBox(MsgResult::Ok);
    window->CmdChangeFrameRate();
    EXPECT_EQ(1043, d()->Start(0));
}

}  // namespace
