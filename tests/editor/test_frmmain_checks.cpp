// 检查 in the main window: the findings listed, the rows marked, a click
// going to the row, and the repairs as undoable steps.
#include <gtest/gtest.h>
#include "app/modregistry.h"
#include <QSpinBox>

#include <QAction>
#include <QApplication>
#include <QBrush>
#include <QDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "app/frmmain.h"
#include "controls/ctllistview.h"
#include "controls/ctllistview_model.h"
#include "document/checks.h"
#include "document/document.h"
#include "editor_test_util.h"
#include "system/scriptedsystemui.h"

using namespace lumeval;

namespace {

class Checks : public lumeval::testing::WindowTest {
  protected:
    void open(const QString& path) { OpenFile(path); }
    QTreeWidget* list() { return window->ChecksDialog()->findChild<QTreeWidget*>(QStringLiteral("checksList")); }
    QVariant role(int row, int r) {
        ListViewModel* m = window->List(window->ActiveList())->Model();
        return m->data(m->index(row, 3), r);
    }

};

TEST_F(Checks, FindingsAreListedMarkedFollowedAndRepairedAsOneStep) {
    // Row 1 overlaps row 2; row 3 is empty; row 4 is fine.
    open(lumeval::testing::WriteSrt(dir, QStringLiteral("a.srt"),
                                    {"00:00:01,000 --> 00:00:03,500\none", "00:00:03,000 --> 00:00:05,000\ntwo",
                                     "00:00:06,000 --> 00:00:07,500\n ", "00:00:09,000 --> 00:00:11,000\nfour"}));
    doc::SubtitleDocument* d = window->Document(0);
    ASSERT_EQ(4, d->Count());
    EXPECT_FALSE(role(0, Qt::BackgroundRole).isValid());  // nothing marked before 检查

    window->ChecksAction()->trigger();
    ASSERT_NE(nullptr, window->ChecksDialog());
    EXPECT_TRUE(window->ChecksDialog()->isVisible());
    ASSERT_NE(nullptr, list());
    ASSERT_EQ(2, list()->topLevelItemCount());
    EXPECT_EQ(QStringLiteral("1"), list()->topLevelItem(0)->text(1));
    EXPECT_EQ(doc::DocumentChecks::Message(doc::CheckKind::Overlap), list()->topLevelItem(0)->text(2));
    EXPECT_EQ(QStringLiteral("3"), list()->topLevelItem(1)->text(1));
    // Marked rows, with what they are.
    EXPECT_TRUE(role(0, Qt::BackgroundRole).isValid());
    EXPECT_TRUE(role(0, Qt::ToolTipRole).toString().contains(doc::DocumentChecks::Message(doc::CheckKind::Overlap)));
    EXPECT_FALSE(role(3, Qt::BackgroundRole).isValid());

    // A click goes to the row.
    emit list()->itemClicked(list()->topLevelItem(1), 0);
    EXPECT_EQ(2, window->List(0)->Model()->FocusedRow());

    // An edit is followed at once: the overlap repaired by hand leaves the list.
    ASSERT_TRUE(d->SetEnd(0, 2900));
    EXPECT_FALSE(role(0, Qt::BackgroundRole).isValid());
    ASSERT_TRUE(d->Undo());
    EXPECT_TRUE(role(0, Qt::BackgroundRole).isValid());

    // All repaired as one step; one undo gives every finding back.
    const int steps = d->History()->index();
    window->ChecksDialog()->findChild<QPushButton*>(QStringLiteral("fixAll"))->click();
    EXPECT_EQ(0, window->Checks(0)->Total());
    EXPECT_EQ(0, list()->topLevelItemCount());
    EXPECT_EQ(3, d->Count());  // the empty cue is gone
    EXPECT_EQ(2900, d->End(0));  // ends the minimum gap before the next start
    EXPECT_EQ(steps + 1, d->History()->index());
    ASSERT_TRUE(d->Undo());
    EXPECT_EQ(4, d->Count());
    EXPECT_EQ(2, window->Checks(0)->Total());
    QTest::qWait(300);  // the list follows within a moment
    EXPECT_EQ(2, list()->topLevelItemCount());
}

TEST_F(Checks, DocumentsOpenedLaterAreCheckedToo) {
    window->ChecksAction()->trigger();
    open(lumeval::testing::WriteSrt(dir, QStringLiteral("b.srt"), {"00:00:01,000 --> 00:00:01,200\nflash"}));
    ASSERT_NE(nullptr, window->Checks(window->ActiveList()));
    EXPECT_EQ(1, window->Checks(window->ActiveList())->CountOf(doc::CheckKind::TooShort));
    EXPECT_TRUE(role(0, Qt::BackgroundRole).isValid());
}

TEST_F(Checks, TheLimitsDialogStoresTheLimitsAndChecksAgain) {
    open(lumeval::testing::WriteSrt(dir, QStringLiteral("c.srt"), {"00:00:01,000 --> 00:00:01,500\nshort"}));
    window->ChecksAction()->trigger();
    doc::DocumentChecks* checks = window->Checks(window->ActiveList());
    ASSERT_NE(nullptr, checks);
    EXPECT_EQ(1, checks->CountOf(doc::CheckKind::TooShort));
    auto* button = window->ChecksDialog()->findChild<QPushButton*>(QStringLiteral("checkLimits"));
    ASSERT_NE(nullptr, button);
    button->click();
    auto* limits = window->findChild<QDialog*>(QStringLiteral("checkLimitsDialog"));
    ASSERT_NE(nullptr, limits);
    auto* minDuration = limits->findChild<QSpinBox*>(QStringLiteral("CheckMinDuration"));
    ASSERT_NE(nullptr, minDuration);
    EXPECT_EQ(minDuration->value(), 700);
    minDuration->setValue(400);
    limits->accept();
    EXPECT_EQ(0, checks->CountOf(doc::CheckKind::TooShort));
    EXPECT_EQ(checks->Limits().minDurationMs, 400);
    EXPECT_EQ(modRegistry::ReadSetting(QStringLiteral("CheckMinDuration"), QString()), QStringLiteral("400"));
    EXPECT_EQ(modRegistry::ReadSetting(QStringLiteral("CheckMaxLines"), QString()), QStringLiteral("2"));
}

}  // namespace
