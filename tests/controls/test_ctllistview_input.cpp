// The list control driven by mouse and keyboard: clicks on rows and headers,
// double and right clicks, keys, hit tests.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolTip>

#include "controls/ctllistview.h"
#include "controls/ctllistview_model.h"
#include "test_ctllistview_util.h"

namespace lumeval {
namespace {

class ListViewInputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        list.resize(600, 300);
        ASSERT_TRUE(list.Initialize(QString(), QStringLiteral("|"), ctlListView::ViewReport));
        test::AddEditorColumns(list);
        list.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    }
    void AddRows(int n) {
        for (int i = 0; i < n; ++i)
            list.AddItem(QStringLiteral("%1| 00:00:0%1,000 |x|text %1").arg(i));
    }
    QWidget* Viewport() { return list.hwnd()->viewport(); }
    QPoint RowPoint(int row, int column = 3) {
        return list.hwnd()->visualRect(list.Model()->index(row, column)).center();
    }
    QPoint HeaderPoint(int column) {
        QHeaderView* header = list.Header();
        return QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                      header->height() / 2);
    }

    ctlListView list;
};

TEST_F(ListViewInputTest, ClickingRowsRaisesItemClickOnceAndListClick) {
    AddRows(5);
    QSignalSpy itemClicks(&list, &ctlListView::ItemClick);
    QSignalSpy listClicks(&list, &ctlListView::ListClick);
    QTest::mouseClick(Viewport(), Qt::LeftButton, {}, RowPoint(1));
    ASSERT_EQ(1, itemClicks.count());
    EXPECT_EQ(1, itemClicks.at(0).at(0).toInt());
    EXPECT_TRUE(list.ItemSelected(1));
    EXPECT_TRUE(list.ItemFocused(1));
    EXPECT_EQ(1, list.ItemIndex());
    ASSERT_EQ(1, listClicks.count());
    EXPECT_EQ(1, listClicks.at(0).at(0).toInt());
    EXPECT_EQ(0, listClicks.at(0).at(1).toInt());

    // Another row: the old one loses its flags first, the new one is the
    // only click and the last reported change.
    QTest::mouseClick(Viewport(), Qt::LeftButton, {}, RowPoint(3, 0));
    ASSERT_EQ(2, itemClicks.count());
    EXPECT_EQ(3, itemClicks.at(1).at(0).toInt());
    EXPECT_FALSE(list.ItemSelected(1));
    EXPECT_FALSE(list.ItemFocused(1));
    EXPECT_EQ(3, list.ItemIndex());
    EXPECT_EQ(2, listClicks.count());

    // A click below the rows is a list click and changes no row.
    QTest::mouseClick(Viewport(), Qt::LeftButton, {}, QPoint(5, Viewport()->height() - 3));
    EXPECT_EQ(3, listClicks.count());
    EXPECT_EQ(2, itemClicks.count());
}

TEST_F(ListViewInputTest, ControlClickAddsToAMultipleSelection) {
    AddRows(5);
    list.SetMultiSelect(true);
    QSignalSpy itemClicks(&list, &ctlListView::ItemClick);
    QTest::mouseClick(Viewport(), Qt::LeftButton, {}, RowPoint(0));
    QTest::mouseClick(Viewport(), Qt::LeftButton, Qt::ControlModifier, RowPoint(2));
    EXPECT_TRUE(list.ItemSelected(0));
    EXPECT_FALSE(list.ItemFocused(0));
    EXPECT_TRUE(list.ItemSelected(2));
    EXPECT_TRUE(list.ItemFocused(2));
    EXPECT_EQ(2, itemClicks.count());
    QTest::mouseClick(Viewport(), Qt::LeftButton, Qt::ShiftModifier, RowPoint(4));
    for (int row = 2; row <= 4; ++row) EXPECT_TRUE(list.ItemSelected(row)) << row;
    EXPECT_EQ(4, list.ItemFindState(-1, ctlListView::StateFocused));
}

TEST_F(ListViewInputTest, RightAndDoubleClicks) {
    AddRows(3);
    QSignalSpy rightClicks(&list, &ctlListView::ItemRightClick);
    QSignalSpy listClicks(&list, &ctlListView::ListClick);
    QSignalSpy doubleClicks(&list, &ctlListView::ItemDblClick);
    int selectedWhenRaised = -2;
    QObject::connect(&list, &ctlListView::ItemRightClick, [&](int) {
        selectedWhenRaised = list.ItemFindState(-1, ctlListView::StateSelected);
    });
    QTest::mouseClick(Viewport(), Qt::RightButton, {}, RowPoint(2));
    ASSERT_EQ(1, rightClicks.count());
    EXPECT_EQ(2, rightClicks.at(0).at(0).toInt());
    EXPECT_EQ(-1, selectedWhenRaised);  // raised before the list handles the button
    ASSERT_EQ(1, listClicks.count());
    EXPECT_EQ(2, listClicks.at(0).at(0).toInt());

    QTest::mouseClick(Viewport(), Qt::RightButton, {}, QPoint(5, Viewport()->height() - 3));
    EXPECT_EQ(1, rightClicks.count());  // not over a row
    EXPECT_EQ(2, listClicks.count());

    QTest::mouseDClick(Viewport(), Qt::LeftButton, {}, RowPoint(1));
    ASSERT_EQ(1, doubleClicks.count());
    EXPECT_EQ(1, doubleClicks.at(0).at(0).toInt());
    QTest::mouseDClick(Viewport(), Qt::LeftButton, {}, QPoint(5, Viewport()->height() - 3));
    EXPECT_EQ(1, doubleClicks.count());
}

TEST_F(ListViewInputTest, HeaderClickTrimsTheColumnAndMarksItWithMoreThanOneRow) {
    list.AddItem(QStringLiteral("1| 00:00:01,000 |x|a"));
    QSignalSpy columnClicks(&list, &ctlListView::ColumnClick);
    QTest::mouseClick(list.Header()->viewport(), Qt::LeftButton, {}, HeaderPoint(1));
    ASSERT_EQ(1, columnClicks.count());
    EXPECT_EQ(1, columnClicks.at(0).at(0).toInt());
    const QPoint screen = list.Header()->viewport()->mapToGlobal(HeaderPoint(1));
    EXPECT_FLOAT_EQ(static_cast<float>(screen.x()), columnClicks.at(0).at(1).toFloat());
    // One row: no cell and no mark is touched.
    EXPECT_EQ(QStringLiteral(" 00:00:01,000 "), list.Model()->Cell(0, 1));
    EXPECT_EQ(0, list.SortMark(1));

    list.AddItem(QStringLiteral("2| 00:00:02,000 |x|b"));
    list.Sort(0);
    list.Sort(2);
    QTest::mouseClick(list.Header()->viewport(), Qt::LeftButton, {}, HeaderPoint(1));
    ASSERT_EQ(2, columnClicks.count());
    EXPECT_EQ(QStringLiteral("00:00:01,000"), list.Model()->Cell(0, 1));
    EXPECT_EQ(QStringLiteral("00:00:02,000"), list.Model()->Cell(1, 1));
    EXPECT_EQ(1, list.SortMark(1));
    EXPECT_EQ(0, list.ColumnIcon(1));
    EXPECT_EQ(1, list.SortMark(2));  // other marks stay as they were
    EXPECT_EQ(0, list.ColumnIcon(2));
    EXPECT_EQ(2, list.LastSortedColumn());
}

TEST_F(ListViewInputTest, KeysAreReportedAndMoveTheSelection) {
    AddRows(3);
    QSignalSpy keys(&list, &ctlListView::KeyDown);
    QSignalSpy itemClicks(&list, &ctlListView::ItemClick);
    list.SetItemSelected(0, true);
    QTest::keyClick(list.hwnd(), Qt::Key_Down);
    ASSERT_EQ(1, keys.count());
    EXPECT_EQ(0x28, keys.at(0).at(0).toInt());
    EXPECT_EQ(0, keys.at(0).at(1).toInt());
    EXPECT_TRUE(list.ItemSelected(1));
    EXPECT_FALSE(list.ItemSelected(0));
    EXPECT_EQ(1, list.ItemIndex());
    EXPECT_EQ(2, itemClicks.count());
    QTest::keyClick(list.hwnd(), Qt::Key_F3);
    EXPECT_EQ(0x72, keys.at(1).at(0).toInt());
    // Modifiers go down as keys of their own first.
    QTest::keyClick(list.hwnd(), Qt::Key_A, Qt::ControlModifier | Qt::AltModifier);
    const QList<QVariant> last = keys.takeLast();
    EXPECT_EQ(0x41, last.at(0).toInt());
    EXPECT_EQ(6, last.at(1).toInt());
    EXPECT_EQ(0x11, keys.at(2).at(0).toInt());
}

TEST_F(ListViewInputTest, HitTestFindsRowsInTheControlsPixels) {
    AddRows(3);
    const QPoint row1 = Viewport()->mapTo(&list, RowPoint(1));
    EXPECT_EQ(1, list.ItemHitTest(static_cast<float>(row1.x()), static_cast<float>(row1.y())));
    const QPoint row0 = Viewport()->mapTo(&list, RowPoint(0, 0));
    EXPECT_EQ(0, list.ItemHitTest(static_cast<float>(row0.x()), static_cast<float>(row0.y())));
    EXPECT_EQ(-1, list.ItemHitTest(5.0f, 3.0f));  // on the header
    EXPECT_EQ(-1, list.ItemHitTest(5.0f, static_cast<float>(list.height() - 3)));
    EXPECT_EQ(-1, list.ItemHitTest(-10.0f, 50.0f));
}

TEST_F(ListViewInputTest, TipsShowCutLabelsInReportViewAndRowTextsInThumbnails) {
    list.AddItem(QStringLiteral("1|a|b|short"));
    list.AddItem(QStringLiteral("2|a|b|") + QString(200, QLatin1Char('w')));
    auto tipAt = [&](const QPoint& at) {
        QToolTip::hideText();
        QHelpEvent help(QEvent::ToolTip, at, Viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(Viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(QString(), tipAt(RowPoint(0)));
    EXPECT_EQ(QString(200, QLatin1Char('w')), tipAt(RowPoint(1)));

    list.SetViewMode(ctlListView::ViewThumbnail);
    list.SetItemText(0, 0, QStringLiteral("line one|line two"));
    const QPoint first = list.hwnd()->visualRect(list.Model()->index(0, 0)).center();
    EXPECT_EQ(QStringLiteral("line one\nline two"), tipAt(first));
    QToolTip::hideText();
}

TEST_F(ListViewInputTest, ResizeFollowsTheHost) {
    QSignalSpy resized(&list, &ctlListView::Resize);
    list.resize(320, 200);
    EXPECT_EQ(1, resized.count());
    EXPECT_EQ(QRect(0, 0, 320, 200), list.hwnd()->geometry());
}

}  // namespace
}  // namespace lumeval
