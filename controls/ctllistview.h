// ctlListView: the editor's grid of subtitle rows (number, start, end, text).
//
// A host widget that, once initialised, holds one list view filling it: a
// report view (QTableView with grid lines and full-row selection), a list
// view or a thumbnail view. The rows, columns and row states live in a
// ListViewModel owned by the control; the container works through the
// members below, which keep the names the editor's code uses (methods and
// properties in PascalCase, property writers with a "Set" prefix, events as
// Qt signals).
//
// Every member that needs the list does nothing before Initialize and
// answers 0, False, -1 or an empty text. Rows are never reordered by the
// control: the editor relies on row index = line index.
//
// Typical use, as the editor prepares a document list:
//
//   ctlListView list(parent);
//   list.Initialize(QString(), "|", 1);             // report view
//   list.AddColumn(0, "序号", 40);
//   list.AddColumn(1, "开始时间", 100);
//   list.SetRedraw(false);
//   list.AddItem("1|00:00:01,000|00:00:02,000|text");
//   list.SetRedraw(true);
#pragma once

#include <QAbstractItemView>
#include <QByteArray>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class QHeaderView;
class QMimeData;

namespace lumeval {

class ListViewModel;
class ListRowSource;
class ListSelectionBinder;
class ListCellDelegate;
class ThumbnailDelegate;

class ctlListView : public QWidget {
    Q_OBJECT

  public:
    /// View modes: thumbnails, report, list (the platform's view numbers).
    enum : int { ViewThumbnail = 0, ViewReport = 1, ViewList = 3 };
    /// Find flags of ItemFindText: by user value, whole text, text prefix, wrap around.
    enum : int { FindParam = 0x1, FindString = 0x2, FindPartial = 0x8, FindWrap = 0x20 };
    /// State flags of ItemFindState.
    enum : int { StateAny = 0, StateFocused = 1, StateSelected = 2 };
    /// Thumbnail sizes are kept within these bounds (pixels).
    static constexpr int kThumbnailMin = 32;
    static constexpr int kThumbnailMax = 125;
    /// Columns 0..9 can carry a sort mark.
    static constexpr int kSortColumns = 10;

    explicit ctlListView(QWidget* parent = nullptr);
    ~ctlListView() override;

    // ---- methods -----------------------------------------------------------
    /// Creates the list once: True when created now, False when it existed.
    /// FormatsMask lists extensions split at MaskSeparator for the file-type
    /// table; ViewMode 0 thumbnails, 1 report, 3 list (others: report).
    bool Initialize(const QString& FormatsMask, const QString& MaskSeparator, int ViewMode);
    /// Off: changes are kept unseen and shown in one go when turned on.
    void SetRedraw(bool bRedraw);
    void RefreshItems(int ItemFirst, int ItemLast);
    bool Clear();
    /// Sets the sort marks of ColumnID (ascending, then descending) and
    /// clears the others; the rows keep their order. Always False.
    bool Sort(int ColumnID);
    /// ItemsText holds the cells separated by "|"; an empty cell after the
    /// first takes the file type's description. InsertLocation -1 appends.
    bool AddItem(const QString& ItemsText, const QString& FileName = QString(),
                 const QImage& Picture = QImage(), int InsertLocation = -1);
    bool ItemRemove(int Item);
    bool ItemEnsureVisible(int Item);
    /// Finds a row by its own (column 0) text after StartItem (-1: from the
    /// top); Coincidence combines the Find* flags. With FindParam the text
    /// is read as the decimal user value. -1 when none.
    int ItemFindText(const QString& SearchText, int StartItem, int Coincidence) const;
    /// The next row after StartItem with all the flags of State (0: any row).
    int ItemFindState(int StartItem, int State) const;
    /// The row under a point of the control (pixels), or -1.
    int ItemHitTest(float X, float Y) const;
    void ThumbnailInfo_SetTBIH(int Index, const QByteArray& aTBIH);
    /// False (and an empty array) for an Index outside the table.
    bool ThumbnailInfo_GetTBIH(int Index, QByteArray& aTBIH) const;
    void ThumbnailInfo_SetData(int Index, const QByteArray& aData);
    bool ThumbnailInfo_GetData(int Index, QByteArray& aData) const;
    /// Each side is clamped to 32..125.
    void SetThumbnailSize(int NewWidth, int New_Height);
    /// lAlign: 0 left, 1 right, 2 centre.
    bool AddColumn(int lColumn, const QString& Caption, int Width = 100, int lAlign = 0);
    bool ClearColumn();
    /// The hook through which Sort could reorder rows; it does nothing.
    bool ListViewSort(QAbstractItemView* hListView, int Column, int SortOrder, int SortType);

    // ---- properties --------------------------------------------------------
    int ColumnIcon(int ColumnID) const;
    void SetColumnIcon(int ColumnID, int Icon);
    int ColumnWidth(int ColumnID) const;
    void SetColumnWidth(int ColumnID, int Width);
    /// The whole cell, trimmed of spaces at both ends; ColumnID -1 joins all
    /// cells with "|" (an empty leading cell adds no separator).
    QString ItemText(int Item, int ColumnID) const;
    void SetItemText(int Item, int ColumnID, const QString& Text);
    /// The row the list last reported as changed (selected, focused or not).
    int ItemIndex() const { return m_itemIndex; }
    void SetItemIndex(int Item) { m_itemIndex = Item; }
    bool ItemSelected(int Item) const;
    /// True selects and focuses the row; False clears both.
    void SetItemSelected(int Item, bool Selected);
    bool ItemFocused(int Item) const;
    void SetItemFocused(int Item, bool Focused);
    /// Colours as 0x00BBGGRR.
    std::uint32_t BackColor() const { return m_backColor; }
    void SetBackColor(std::uint32_t Color);
    std::uint32_t TextBackColor() const { return m_textBackColor; }
    void SetTextBackColor(std::uint32_t Color);
    std::uint32_t TextColor() const { return m_textColor; }
    void SetTextColor(std::uint32_t Color);
    /// 1 sunken edge, 0 none.
    int BorderStyle() const;
    void SetBorderStyle(int Style);
    int Count() const;
    /// 0 none, 1 manual (OLEDragDrop is raised).
    void SetOLEDropMode(int Mode);
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool Enabled);
    QFont Font() const { return m_font; }
    void SetFont(const QFont& Font);
    bool HideSelection() const { return m_hideSelection; }
    void SetHideSelection(bool Hide);
    bool MultiSelect() const { return m_multiSelect; }
    void SetMultiSelect(bool Multi);
    int ViewMode() const { return m_viewMode; }
    void SetViewMode(int Mode);
    /// The list window (nullptr before Initialize).
    QAbstractItemView* hwnd() const;
    int ThumbnailWidth() const { return m_thumbWidth; }
    int ThumbnailHeight() const { return m_thumbHeight; }
    /// The container's own text for this control (the editor keeps the path).
    QString Tag() const { return m_tag; }
    void SetTag(const QString& Tag) { m_tag = Tag; }

    // ---- rows held elsewhere and edited in place ----------------------------
    /// Shows the rows of a source (a document) from now on; its editable
    /// cells are edited in place (F2, Enter, or EditCell).
    void SetRowSource(ListRowSource* source);
    /// The column a newly focused row's current cell goes to (the one F2
    /// and Enter edit); -1 keeps the view's own choice.
    void SetDefaultEditColumn(int column) { m_defaultEditColumn = column; }
    /// Opens the editor on a cell: False when it cannot be edited.
    bool EditCell(int Item, int ColumnID);
    /// Edits the focused row's current cell.
    bool EditCurrent();
    /// The focused row's current column (-1 without one).
    int CurrentColumn() const;
    bool IsEditing() const;
    /// Why the last in-place edit was refused; empty when it was taken.
    QString LastEditRefusal() const;
    /// The open text editor's cursor as a byte offset of the cell (-1: none).
    int EditorCursor() const;
    /// The column of the last double click.
    int LastDblClickColumn() const { return m_dblClickColumn; }

    // ---- for the editor's tests and tools ----------------------------------
    ListViewModel* Model() const { return m_model; }
    /// The report view's column header (nullptr in the other views).
    QHeaderView* Header() const;
    /// 0 none, 1 ascending, -1 descending; 0 for columns outside 0..9.
    int SortMark(int ColumnID) const;
    int LastSortedColumn() const { return m_lastSorted; }
    /// The thumbnail view's tip: the row's own text, each "|" as CR LF.
    QString InfoTipText(int Item) const;
    struct FileType {
        QString extension;
        QString description;
        int icon = 0;
    };
    const std::vector<FileType>& FileTypes() const { return m_fileTypes; }

  signals:
    /// Button 1 click, 2 right click; Shift, X and Y are always 0.
    void ListClick(short Button, short Shift, float X, float Y);
    void ItemClick(int Item);
    void ItemDblClick(int Item);
    void ItemRightClick(int Item);
    /// X and Y: the cursor in screen pixels.
    void ColumnClick(int Column, float X, float Y);
    void ColumnResize(int Column);
    void Resize();
    /// Effect: 1 copy, 2 move, 4 link; Button: 1 left, 2 right, 4 middle;
    /// Shift: 1 shift, 2 control, 4 alt; X, Y in the control's pixels.
    void OLEDragDrop(const QMimeData* Data, int Effect, short Button, short Shift, float X,
                     float Y);
    void KeyDown(short KeyCode, short Shift);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildView();
    void ApplyViewSettings();
    void ApplySystemColors();
    void ApplyColors();
    void ApplyColumnWidths();
    void UpdateRowHeight();
    void ApplySortMarks(int column, bool flip);
    void HeaderClickPass(int column);
    void OnHeaderClicked(int section);
    void OnHeaderResized(int section, int oldSize, int newSize);
    void OnRowStateChanged(int row, int oldState, int newState);
    void OnViewInput(QAbstractItemView* view, QEvent* event, bool after);
    QString OnViewTip(QAbstractItemView* view, const QPoint& at) const;
    const QImage* PictureForRow(int row) const;
    void BuildFileTypes(const QString& mask, const QString& separator);
    bool HasList() const { return m_created && m_view != nullptr; }
    void EnsureThumbInfo();

    ListViewModel* m_model;
    QPointer<QAbstractItemView> m_view;
    ListSelectionBinder* m_binder = nullptr;
    ListCellDelegate* m_cellDelegate = nullptr;
    ThumbnailDelegate* m_thumbDelegate = nullptr;

    bool m_created = false;
    int m_viewMode = ViewThumbnail;
    int m_thumbWidth = 80;
    int m_thumbHeight = 80;
    int m_labelHeight = 0;
    bool m_hideSelection = false;
    bool m_multiSelect = false;
    int m_itemIndex = -1;
    int m_lastSorted = -1;
    int m_reapplied = -1;
    std::array<int, kSortColumns> m_sortMarks{};
    std::vector<FileType> m_fileTypes;
    std::vector<QImage> m_pictures;
    struct ThumbInfo {
        QByteArray tbih;
        QByteArray data;
    };
    std::vector<ThumbInfo> m_thumbInfo;
    std::vector<std::string_view> m_cellScratch;  // empty until first set, then one per row
    std::uint32_t m_backColor = 0xFFFFFF;
    std::uint32_t m_textBackColor = 0xFFFFFF;
    std::uint32_t m_textColor = 0;
    int m_borderStyle = 0;
    int m_dropMode = 0;
    QFont m_font;
    QString m_tag;
    bool m_redraw = true;
    int m_pendingEnsureVisible = -1;
    QPoint m_headerRelease;  // where the last header click ended, header viewport pixels
    bool m_pressInViewport = false;
    bool m_releaseEndsDoubleClick = false;
    int m_defaultEditColumn = -1;
    int m_dblClickColumn = -1;
    void OnCurrentChanged(const QModelIndex& current, const QModelIndex& previous);
};

}  // namespace lumeval
