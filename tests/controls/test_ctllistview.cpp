// The list control's model and its behaviour without input: cells and their
// joins, states, sort marks, finding, thumbnails, batching.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QImage>
#include <QMimeData>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QUrl>
#include <string>
#include <vector>

#include "controls/ctllistview.h"
#include "controls/ctllistview_model.h"
#include "test_ctllistview_util.h"

namespace lumeval {
namespace {

// Collects the model tester's complaints instead of aborting the run.
class TesterLog {
  public:
    TesterLog() {
        s_lines.clear();
        m_previous = qInstallMessageHandler(&TesterLog::Handler);
    }
    ~TesterLog() { qInstallMessageHandler(m_previous); }
    static const std::vector<std::string>& Lines() { return s_lines; }

  private:
    static void Handler(QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type != QtDebugMsg && type != QtInfoMsg) s_lines.push_back(text.toStdString());
    }
    static inline std::vector<std::string> s_lines;
    QtMessageHandler m_previous;
};

// A report list of the editor's four columns, shown offscreen.
class ListViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        list.resize(600, 300);
        ASSERT_TRUE(list.Initialize(QString(), QStringLiteral("|"), ctlListView::ViewReport));
        test::AddEditorColumns(list);
        tester = std::make_unique<QAbstractItemModelTester>(
            list.Model(), QAbstractItemModelTester::FailureReportingMode::Warning);
    }
    void TearDown() override {
        tester.reset();
        EXPECT_TRUE(TesterLog::Lines().empty()) << TesterLog::Lines().front();
    }
    void AddRows(int n) {
        for (int i = 0; i < n; ++i)
            list.AddItem(QStringLiteral("%1|00:00:0%2,000|x|text %1").arg(i).arg(i % 10));
    }

    TesterLog log;
    ctlListView list;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST(ListViewCells, SplitAndReplaceOnTheJoinedRow) {
    std::string row;
    RowSetCell(row, 2, "c");
    EXPECT_EQ(std::string("\0\0c", 3), row);
    RowSetCell(row, 0, "first");
    RowSetCell(row, 1, std::string_view("b\0hidden", 8));  // kept up to the NUL
    EXPECT_EQ("first", RowCellAt(row, 0));
    EXPECT_EQ("b", RowCellAt(row, 1));
    EXPECT_EQ("c", RowCellAt(row, 2));
    EXPECT_EQ("", RowCellAt(row, 3));
    EXPECT_EQ("", RowCellAt(row, -1));
    RowSetCell(row, 1, "");
    EXPECT_EQ("", RowCellAt(row, 1));
    EXPECT_EQ("c", RowCellAt(row, 2));
    EXPECT_EQ("a b", TrimCellSpaces("  a b  "));
    EXPECT_EQ("\ta\t", TrimCellSpaces(" \ta\t "));  // only spaces are trimmed
}

TEST(ListViewControl, InertUntilInitializedAndInitializedOnce) {
    ctlListView list;
    EXPECT_FALSE(list.AddColumn(0, QStringLiteral("a"), 10));
    EXPECT_FALSE(list.AddItem(QStringLiteral("a|b")));
    EXPECT_FALSE(list.Clear());
    EXPECT_TRUE(list.ClearColumn());
    EXPECT_EQ(0, list.Count());
    EXPECT_EQ(-1, list.ItemFindState(-1, 0));
    EXPECT_EQ(nullptr, list.hwnd());
    EXPECT_TRUE(list.Initialize(QString(), QStringLiteral("|"), ctlListView::ViewReport));
    QAbstractItemView* view = list.hwnd();
    ASSERT_NE(nullptr, view);
    EXPECT_FALSE(
        list.Initialize(QStringLiteral("srt"), QStringLiteral("|"), ctlListView::ViewThumbnail));
    EXPECT_EQ(view, list.hwnd());
    EXPECT_EQ(ctlListView::ViewReport, list.ViewMode());
    EXPECT_TRUE(list.FileTypes().empty());
}

TEST_F(ListViewTest, ItemTextJoinsAndKeepsWholeCells) {
    const QString longText = QString(300, QChar(0x5B57)) + QStringLiteral(" end");
    struct Case {
        QString cells;
        QString joined;
    } cases[] = {
        {QStringLiteral("1||x"), QStringLiteral("1||x|")},  // four columns, the last one empty
        {QStringLiteral("|a"), QStringLiteral("a||")},
        {QStringLiteral("  7 | a |b  |  c  "), QStringLiteral("7|a|b|c")},
        // The last column takes the rest: a cue's text may hold "|" itself.
        {QStringLiteral("1|2|3|4|5|6"), QStringLiteral("1|2|3|4|5|6")},
        {QStringLiteral("9|t|t|") + longText, QStringLiteral("9|t|t|") + longText},
        {QStringLiteral("1|a") + QChar(0) + QStringLiteral("b|c"), QStringLiteral("1|a|c|")},
    };
    for (const Case& c : cases) {
        const int row = list.Count();
        ASSERT_TRUE(list.AddItem(c.cells));
        EXPECT_EQ(c.joined, list.ItemText(row, -1)) << c.cells.toStdString();
    }
    // The long cell reads back whole, past 260 characters, in Unicode.
    EXPECT_EQ(longText, list.ItemText(4, 3));
    EXPECT_EQ(304, list.ItemText(4, 3).size());
    EXPECT_EQ(QString(), list.ItemText(0, 4));
    EXPECT_EQ(QString(), list.ItemText(0, -2));
    EXPECT_EQ(QString(), list.ItemText(99, 0));

    list.SetItemText(0, 3, QStringLiteral("  new  "));
    EXPECT_EQ(QStringLiteral("new"), list.ItemText(0, 3));
    EXPECT_EQ(QStringLiteral("  new  "),
              list.Model()->Cell(0, 3));  // stored as given, trimmed on reading
    EXPECT_EQ(QStringLiteral("1||x|new"), list.ItemText(0, -1));
    list.SetItemText(0, 7, QStringLiteral("nowhere"));
    EXPECT_EQ(QStringLiteral("1||x|new"), list.ItemText(0, -1));
}

TEST(ListViewControl, JoinedTextSkipsAnEmptyLeadingCell) {
    struct Case {
        int columns;
        const char* cells;
        const char* joined;
    } cases[] = {
        {3, "1||x", "1||x"}, {2, "|a", "a"}, {3, "||", ""}, {3, "a||", "a||"}, {1, "a|b", "a|b"},
    };
    for (const Case& c : cases) {
        ctlListView list;
        ASSERT_TRUE(list.Initialize(QString(), QStringLiteral("|"), ctlListView::ViewReport));
        for (int column = 0; column < c.columns; ++column)
            list.AddColumn(column, QString::number(column), 50);
        ASSERT_TRUE(list.AddItem(QString::fromUtf8(c.cells)));
        EXPECT_EQ(QString::fromUtf8(c.joined), list.ItemText(0, -1)) << c.cells;
    }
}

TEST_F(ListViewTest, AddItemCellsImageIndexAndPlacement) {
    ASSERT_TRUE(list.AddItem(QStringLiteral("a|b|")));
    EXPECT_EQ(QStringLiteral("a"), list.ItemText(0, 0));
    EXPECT_EQ(QStringLiteral("b"), list.ItemText(0, 1));
    EXPECT_EQ(QString(), list.ItemText(0, 2));
    EXPECT_EQ(3, list.Model()->ImageIndex(0));
    EXPECT_EQ(0, list.Model()->UserValue(0));

    ASSERT_TRUE(list.AddItem(QStringLiteral("z"), QString(), QImage(), 0));  // in front
    EXPECT_EQ(QStringLiteral("z"), list.ItemText(0, 0));
    EXPECT_EQ(QStringLiteral("a"), list.ItemText(1, 0));
    ASSERT_TRUE(
        list.AddItem(QStringLiteral("end"), QString(), QImage(), 50));  // past the end appends
    EXPECT_EQ(QStringLiteral("end"), list.ItemText(2, 0));
    EXPECT_EQ(50, list.Model()->UserValue(2));
    EXPECT_FALSE(list.AddItem(QStringLiteral("no"), QString(), QImage(), -2));
    EXPECT_EQ(3, list.Count());
}

TEST(ListViewControl, FileTypeTableGivesDescriptionsAndIcons) {
    ctlListView list;
    ASSERT_TRUE(list.Initialize(QStringLiteral("txt||png|zzqq"), QStringLiteral("|"),
                                ctlListView::ViewReport));
    list.AddColumn(0, QStringLiteral("name"), 100);
    list.AddColumn(1, QStringLiteral("type"), 100);
    ASSERT_EQ(3u, list.FileTypes().size());  // the empty piece makes no entry
    const ctlListView::FileType& txt = list.FileTypes()[0];
    EXPECT_EQ(QStringLiteral("txt"), txt.extension);
    EXPECT_EQ(QStringLiteral("zzqq"), list.FileTypes()[2].extension);
    EXPECT_EQ(QString(), list.FileTypes()[2].description);
    EXPECT_EQ(0, list.FileTypes()[2].icon);

    ASSERT_TRUE(list.AddItem(QStringLiteral("notes.TXT|"), QStringLiteral("/tmp/notes.TXT")));
    EXPECT_EQ(txt.description, list.ItemText(0, 1));
    EXPECT_EQ(txt.icon == 0 ? 3 : txt.icon, list.Model()->ImageIndex(0));
    ASSERT_TRUE(list.AddItem(QStringLiteral("x.zzqq|"), QStringLiteral("x.zzqq")));
    EXPECT_EQ(3, list.Model()->ImageIndex(1));
    EXPECT_EQ(QString(), list.ItemText(1, 1));
}

TEST_F(ListViewTest, SelectedAndFocusedFlagsAndTheRowsTheyReport) {
    AddRows(4);
    QSignalSpy clicks(&list, &ctlListView::ItemClick);
    list.SetItemFocused(1, true);
    EXPECT_TRUE(list.ItemFocused(1));
    EXPECT_FALSE(list.ItemSelected(1));
    EXPECT_EQ(1, list.ItemIndex());
    EXPECT_EQ(0, clicks.count());  // focus alone is no click

    list.SetItemSelected(2, true);  // selects and focuses; row 1 loses the focus first
    EXPECT_TRUE(list.ItemSelected(2));
    EXPECT_TRUE(list.ItemFocused(2));
    EXPECT_FALSE(list.ItemFocused(1));
    ASSERT_EQ(1, clicks.count());
    EXPECT_EQ(2, clicks.at(0).at(0).toInt());
    EXPECT_EQ(2, list.ItemIndex());
    EXPECT_EQ(2, list.hwnd()->selectionModel()->currentIndex().row());
    EXPECT_TRUE(list.hwnd()->selectionModel()->isRowSelected(2, QModelIndex()));

    // Single selection: selecting row 0 clears row 2, which is reported too.
    list.SetItemSelected(0, true);
    EXPECT_FALSE(list.ItemSelected(2));
    EXPECT_EQ(0, list.ItemIndex());
    EXPECT_EQ(2, clicks.count());

    list.SetMultiSelect(true);
    list.SetItemSelected(3, true);
    EXPECT_TRUE(list.ItemSelected(0));
    EXPECT_TRUE(list.ItemSelected(3));
    EXPECT_EQ(3, list.ItemFindState(-1, ctlListView::StateFocused));
    EXPECT_EQ(0, list.ItemFindState(-1, ctlListView::StateSelected));
    EXPECT_EQ(3, list.ItemFindState(0, ctlListView::StateSelected));
    EXPECT_EQ(3, list.ItemFindState(-1, ctlListView::StateSelected | ctlListView::StateFocused));
    EXPECT_EQ(-1, list.ItemFindState(3, ctlListView::StateSelected));
    EXPECT_EQ(2, list.ItemFindState(1, ctlListView::StateAny));
    EXPECT_EQ(-1, list.ItemFindState(3, ctlListView::StateAny));

    list.SetItemSelected(3, false);
    EXPECT_FALSE(list.ItemFocused(3));
    EXPECT_EQ(-1, list.ItemFindState(-1, ctlListView::StateFocused));
    list.SetItemIndex(42);  // stored only
    EXPECT_EQ(42, list.ItemIndex());
}

TEST_F(ListViewTest, SortSetsMarksWithoutMovingRows) {
    AddRows(3);
    list.Sort(0);
    EXPECT_FALSE(list.Sort(2));
    EXPECT_EQ(0, list.ColumnIcon(2));
    EXPECT_EQ(1, list.SortMark(2));
    EXPECT_FALSE(list.Sort(2));
    EXPECT_EQ(1, list.ColumnIcon(2));
    EXPECT_EQ(-1, list.SortMark(2));
    for (int column : {0, 1, 3}) {
        EXPECT_EQ(-1, list.ColumnIcon(column));
        EXPECT_EQ(0, list.SortMark(column));
    }
    for (int row = 0; row < 3; ++row) EXPECT_EQ(QString::number(row), list.ItemText(row, 0));
    EXPECT_EQ(2, list.LastSortedColumn());

    // A column past the ten that carry marks is refused, not raised.
    EXPECT_FALSE(list.Sort(12));
    EXPECT_EQ(0, list.SortMark(2));
    EXPECT_EQ(-1, list.ColumnIcon(2));
    EXPECT_FALSE(list.Sort(-3));

    list.Sort(1);
    ASSERT_TRUE(list.Clear());
    EXPECT_EQ(0, list.SortMark(1));
    EXPECT_EQ(-1, list.ColumnIcon(1));
    EXPECT_EQ(-1, list.LastSortedColumn());
    EXPECT_EQ(-1, list.ItemIndex());
    EXPECT_EQ(0, list.Count());
}

TEST_F(ListViewTest, ViewChangeReappliesTheLastSortOnce) {
    AddRows(3);
    list.SetMultiSelect(true);
    list.SetItemSelected(1, true);
    list.Sort(1);
    list.Model()->SetColumnImage(3, 0);  // a stray mark the re-apply clears
    list.SetViewMode(ctlListView::ViewThumbnail);
    EXPECT_EQ(ctlListView::ViewThumbnail, list.ViewMode());
    EXPECT_EQ(nullptr, list.Header());
    EXPECT_EQ(-1, list.ColumnIcon(3));
    EXPECT_EQ(1, list.SortMark(1));  // re-applied, not flipped
    EXPECT_TRUE(list.hwnd()->selectionModel()->isSelected(list.Model()->index(1, 0)));
    QImage shot = list.grab().toImage();  // runs the thumbnail painter
    EXPECT_FALSE(shot.isNull());

    list.SetViewMode(ctlListView::ViewList);
    list.SetViewMode(ctlListView::ViewReport);
    list.SetViewMode(7);  // unknown views are ignored
    EXPECT_EQ(ctlListView::ViewReport, list.ViewMode());
    ASSERT_NE(nullptr, list.Header());
    EXPECT_EQ(100, list.Header()->sectionSize(1));
    EXPECT_TRUE(list.ItemSelected(1));
}

TEST(ListViewControl, ThumbnailSizeIsClamped) {
    ctlListView list;
    list.SetThumbnailSize(10, 400);
    EXPECT_EQ(32, list.ThumbnailWidth());
    EXPECT_EQ(125, list.ThumbnailHeight());
    list.SetThumbnailSize(64, 64);
    EXPECT_EQ(64, list.ThumbnailWidth());
    EXPECT_EQ(64, list.ThumbnailHeight());
}

TEST(ListViewControl, ThumbnailInfoAndPicturesFollowTheirRows) {
    ctlListView list;
    list.resize(400, 300);
    ASSERT_TRUE(list.Initialize(QString(), QStringLiteral("|"), ctlListView::ViewThumbnail));
    QImage red(100, 100, QImage::Format_RGB32);
    red.fill(Qt::red);
    list.AddItem(QStringLiteral("C:\\pictures\\one.jpg"), QString(), red);
    list.AddItem(QStringLiteral("two"));
    QByteArray out("stale");
    EXPECT_TRUE(list.ThumbnailInfo_GetTBIH(1, out));
    EXPECT_TRUE(out.isEmpty());
    list.ThumbnailInfo_SetTBIH(1, QByteArray("head"));
    list.ThumbnailInfo_SetData(0, QByteArray("data"));
    list.ThumbnailInfo_SetData(5, QByteArray("ignored"));
    EXPECT_FALSE(list.ThumbnailInfo_GetTBIH(2, out));
    EXPECT_TRUE(out.isEmpty());
    EXPECT_FALSE(list.ThumbnailInfo_GetData(-1, out));

    list.AddItem(QStringLiteral("zero"), QString(), QImage(), 0);  // entries move with the rows
    ASSERT_TRUE(list.ThumbnailInfo_GetTBIH(2, out));
    EXPECT_EQ(QByteArray("head"), out);
    ASSERT_TRUE(list.ThumbnailInfo_GetData(1, out));
    EXPECT_EQ(QByteArray("data"), out);
    EXPECT_EQ(QStringLiteral("C:\\pictures\\one.jpg"), list.InfoTipText(1));

    list.SetItemSelected(0, true);
    const QImage shot = list.grab().toImage();
    EXPECT_FALSE(shot.isNull());
    ASSERT_TRUE(list.ItemRemove(1));
    EXPECT_TRUE(list.ThumbnailInfo_GetData(1, out));
    EXPECT_TRUE(out.isEmpty());
    EXPECT_FALSE(list.ItemRemove(9));
}

TEST_F(ListViewTest, InfoTipAndRemovalKeepItemIndexRule) {
    list.AddItem(QStringLiteral(" a|b "));
    list.SetItemText(0, 0, QStringLiteral(" first|second "));
    EXPECT_EQ(QStringLiteral("first\r\nsecond"), list.InfoTipText(0));
    list.AddItem(QStringLiteral("x"));
    list.SetItemSelected(1, true);
    EXPECT_EQ(1, list.ItemIndex());
    ASSERT_TRUE(list.ItemRemove(0));
    EXPECT_EQ(1, list.ItemIndex());  // only the removed row itself resets it
    ASSERT_TRUE(list.ItemRemove(0));
    EXPECT_EQ(1, list.ItemIndex());
    list.AddItem(QStringLiteral("y"));
    list.SetItemSelected(0, true);
    ASSERT_TRUE(list.ItemRemove(0));
    EXPECT_EQ(-1, list.ItemIndex());
    EXPECT_EQ(-1, list.ItemFindState(-1, ctlListView::StateFocused));
}

TEST_F(ListViewTest, FindTextByWholeTextPrefixWrapAndUserValue) {
    for (const char* text : {"Apple|1", "banana|2", "apple pie|3", "cherry|4"})
        list.AddItem(QString::fromUtf8(text));
    struct Case {
        const char* search;
        int start;
        int flags;
        int row;
    } cases[] = {
        {"apple", -1, ctlListView::FindString, 0},
        {"apple", 0, ctlListView::FindString, -1},
        {"apple", 0, ctlListView::FindString | ctlListView::FindWrap, 0},
        {"APP", -1, ctlListView::FindPartial, 0},
        {"app", 0, ctlListView::FindPartial, 2},
        {"app", 2, ctlListView::FindPartial | ctlListView::FindWrap, 0},
        {"pie", -1, ctlListView::FindPartial, -1},
        {"cherry", 3, ctlListView::FindString | ctlListView::FindWrap, 3},
        {"2", -1, ctlListView::FindParam, 2},
        {"9", -1, ctlListView::FindParam, -1},
        {"banana", 8, ctlListView::FindString | ctlListView::FindWrap, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.row, list.ItemFindText(QString::fromUtf8(c.search), c.start, c.flags))
            << c.search << " after " << c.start << " flags " << c.flags;
    }
}

TEST_F(ListViewTest, RedrawOffBatchesIntoOneReset) {
    AddRows(2);
    QSignalSpy inserted(list.Model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(list.Model(), &QAbstractItemModel::modelReset);
    QSignalSpy changed(list.Model(), &QAbstractItemModel::dataChanged);
    list.SetRedraw(false);
    AddRows(500);
    list.SetItemText(0, 3, QStringLiteral("edited"));
    list.ItemRemove(1);
    list.SetItemSelected(400, true);
    EXPECT_TRUE(list.ItemEnsureVisible(400));
    // Readable meanwhile, and nothing published yet.
    EXPECT_EQ(501, list.Count());
    EXPECT_EQ(QStringLiteral("edited"), list.ItemText(0, 3));
    EXPECT_EQ(0, inserted.count());
    EXPECT_EQ(0, reset.count());
    EXPECT_EQ(0, changed.count());
    list.SetRedraw(true);
    EXPECT_EQ(1, reset.count());
    EXPECT_EQ(0, inserted.count());
    EXPECT_EQ(501, list.Model()->rowCount());
    EXPECT_TRUE(list.hwnd()->selectionModel()->isRowSelected(400, QModelIndex()));
    EXPECT_EQ(400, list.hwnd()->currentIndex().row());

    // Redraw on again: single changes are published precisely.
    list.AddItem(QStringLiteral("last"));
    EXPECT_EQ(1, inserted.count());
    list.SetRedraw(false);
    list.SetRedraw(true);  // nothing changed: no reset
    EXPECT_EQ(1, reset.count());
}

TEST_F(ListViewTest, ColumnsWidthsAndRemoval) {
    // The view shows exactly the columns that were added, no spare one.
    EXPECT_EQ(4, list.Model()->columnCount());
    EXPECT_EQ(4, list.Header()->count());
    AddRows(2);
    EXPECT_EQ(100, list.ColumnWidth(1));
    EXPECT_EQ(100, list.Header()->sectionSize(1));
    QSignalSpy resized(&list, &ctlListView::ColumnResize);
    list.SetColumnWidth(1, 70);
    EXPECT_EQ(70, list.ColumnWidth(1));
    EXPECT_EQ(70, list.Header()->sectionSize(1));
    ASSERT_EQ(1, resized.count());
    EXPECT_EQ(1, resized.at(0).at(0).toInt());
    EXPECT_EQ(0, list.ColumnWidth(9));
    list.Header()->resizeSection(3, 222);  // as a drag on the header would
    EXPECT_EQ(222, list.ColumnWidth(3));
    EXPECT_EQ(2, resized.count());

    EXPECT_TRUE(list.AddColumn(1, QStringLiteral("new"), 30, 1));
    EXPECT_EQ(QStringLiteral("0||00:00:00,000|x|text 0"), list.ItemText(0, -1));
    EXPECT_EQ(Qt::AlignRight | Qt::AlignVCenter,
              list.Model()->index(0, 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>());
    EXPECT_FALSE(list.AddColumn(-1, QStringLiteral("bad"), 30));
    EXPECT_TRUE(list.ClearColumn());
    EXPECT_EQ(0, list.Model()->HeaderCount());
    EXPECT_EQ(QString(), list.ItemText(0, -1));  // no header item, nothing to join
    EXPECT_TRUE(static_cast<QTableView*>(list.hwnd())->isColumnHidden(0));
}

TEST_F(ListViewTest, PropertiesColoursBorderAndDrops) {
    list.SetBackColor(0x00FFFFFF);
    list.SetTextColor(0);
    list.SetTextBackColor(list.BackColor());
    EXPECT_EQ(0xFFFFFFu, list.BackColor());
    EXPECT_EQ(QColor(255, 255, 255), list.hwnd()->palette().color(QPalette::Base));
    list.SetBackColor(0x000000FF);  // red in the low byte
    EXPECT_EQ(QColor(255, 0, 0), list.hwnd()->palette().color(QPalette::Base));
    EXPECT_EQ(0, list.BorderStyle());
    list.SetBorderStyle(1);
    EXPECT_EQ(1, list.BorderStyle());
    list.SetBorderStyle(5);
    EXPECT_EQ(1, list.BorderStyle());
    list.SetHideSelection(true);
    EXPECT_TRUE(list.HideSelection());
    EXPECT_EQ(list.hwnd()->palette().color(QPalette::Inactive, QPalette::Base),
              list.hwnd()->palette().color(QPalette::Inactive, QPalette::Highlight));
    list.SetHideSelection(false);
    EXPECT_EQ(list.hwnd()->palette().color(QPalette::Active, QPalette::Highlight),
              list.hwnd()->palette().color(QPalette::Inactive, QPalette::Highlight));
    list.SetEnabled(false);
    EXPECT_FALSE(list.Enabled());
    EXPECT_FALSE(list.hwnd()->isEnabled());
    list.SetEnabled(true);
    QFont font(QStringLiteral("Sans"), 15);
    list.SetFont(font);
    EXPECT_EQ(font, list.Font());

    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    QSignalSpy drops(&list, &ctlListView::OLEDragDrop);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.srt"))});
    // As a drag would: enter (which picks the target), then drop.
    auto dragAndDrop = [&] {
        QDragEnterEvent enter(QPoint(10, 20), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::ControlModifier);
        QCoreApplication::sendEvent(&list, &enter);
        QDropEvent drop(QPointF(10, 20), Qt::CopyAction, &mime, Qt::LeftButton,
                        Qt::ControlModifier);
        QCoreApplication::sendEvent(&list, &drop);
    };
    dragAndDrop();
    EXPECT_EQ(0, drops.count());  // drop mode none
    list.SetOLEDropMode(1);
    dragAndDrop();
    ASSERT_EQ(1, drops.count());
    EXPECT_EQ(1, drops.at(0).at(1).toInt());
    EXPECT_EQ(1, drops.at(0).at(2).toInt());
    EXPECT_EQ(2, drops.at(0).at(3).toInt());
    EXPECT_FLOAT_EQ(20.0f, drops.at(0).at(5).toFloat());
}

}  // namespace
}  // namespace lumeval
