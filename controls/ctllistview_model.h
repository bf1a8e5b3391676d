// The rows, columns and per-row states behind ctlListView, as a Qt item
// model. It never knows which view shows it; ctlListView owns it.
//
// Storage is compact because documents reach a million rows: one UTF-8
// string per row with its cells separated by NUL (a cell never holds a NUL,
// the list keeps text only up to the first one, as the platform list did),
// plus the image index, the user value and the state flags. A list that
// shows a document holds no cells at all: it reads them from the document
// (a ListRowSource) and keeps one state byte per row.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lumeval {

/// Rows held elsewhere (a document): the model shows them and keeps only
/// the rows' states. The source announces its changes through the model's
/// Source* members, before and after, as Qt's models do.
class ListRowSource {
  public:
    virtual ~ListRowSource() = default;
    virtual int SourceRows() const = 0;
    /// The cell's UTF-8 text: a view into the source, or into `scratch`.
    virtual std::string_view SourceCell(int row, int column, std::string& scratch) const = 0;
    /// Roles beyond the text and alignment (marks, tips); empty for none.
    virtual QVariant SourceRole(int row, int column, int role) const {
        (void)row, (void)column, (void)role;
        return {};
    }
    virtual bool SourceEditable(int column) const {
        (void)column;
        return false;
    }
    /// Cells of this column are edited as several lines, shown with "\N"
    /// as the line break.
    virtual bool SourceMultiLine(int column) const {
        (void)column;
        return false;
    }
    /// Text the user typed into a cell: empty when taken, else the reason
    /// it was refused (nothing changed then).
    virtual QString SourceEdit(int row, int column, const QString& text) = 0;
};

class ListViewModel final : public QAbstractTableModel {
    Q_OBJECT

  public:
    /// Row state flags, with the list's own values (focused 1, selected 2).
    enum State : int { StateFocused = 1, StateSelected = 2 };
    enum Role : int {
        ImageIndexRole = Qt::UserRole + 1,
        StateRole,
        UserValueRole,
        HeaderImageRole,  ///< header image index of a column, -1 for none
    };
    /// Column alignment, as the list's column format: 0 left, 1 right, 2 centre.
    enum Align : int { AlignLeft = 0, AlignRight = 1, AlignCenter = 2 };

    explicit ListViewModel(QObject* parent = nullptr);

    // Columns: the header items. The Qt model always shows at least one
    // column so that list and icon views have the rows' own texts; with no
    // header item the report view hides it.
    int HeaderCount() const { return static_cast<int>(m_columns.size()); }
    /// Position past the end appends; a negative position is refused.
    bool InsertColumn(int position, const QString& caption, int width, int align);
    bool RemoveColumn(int position);
    QString ColumnCaption(int column) const;
    int ColumnAlign(int column) const;
    int ColumnWidth(int column) const;  ///< 0 when there is no such column
    bool SetColumnWidth(int column, int width);
    int ColumnImage(int column) const;  ///< -1 for none or no such column
    bool SetColumnImage(int column, int image);

    // Rows.
    int RowCount() const;
    /// Inserts a row at position (past the end appends; negative is refused)
    /// with cells[0] as its own text and cells[i] for the existing columns i;
    /// each cell is kept up to its first NUL. Returns the row or -1.
    int InsertRow(int position, const std::vector<std::string_view>& cells, int image,
                  int userValue);
    bool RemoveRow(int row);
    void RemoveAllRows();
    /// The stored cell (UTF-8, untrimmed); empty for a missing row or column.
    std::string_view CellUtf8(int row, int column) const;
    QString Cell(int row, int column) const;
    /// Column 0 always exists for a row; other columns only as header items.
    bool SetCell(int row, int column, std::string_view utf8);
    /// Replaces every cell of one column by edit(cell) as one change.
    void RewriteColumn(int column, const std::function<std::string(std::string_view)>& edit);
    int ImageIndex(int row) const;
    int UserValue(int row) const;

    // States.
    int RowState(int row) const;
    int FocusedRow() const { return m_focusedRow; }
    /// Sets the flags of mask to those of value. At most one row is focused
    /// and, in single selection, at most one is selected: rows that lose
    /// flags that way are changed (and reported) before this row.
    bool SetRowState(int row, int mask, int value);
    void SetSingleSelection(bool single) { m_singleSelection = single; }

    /// Rows from a source from now on (nullptr: the model's own, empty).
    /// While a source is attached the row and cell setters refuse.
    void AttachSource(ListRowSource* source);
    ListRowSource* Source() const { return m_source; }
    void SourceAboutToInsert(int first, int last);
    void SourceInserted(int first, int last);
    void SourceAboutToRemove(int first, int last);
    void SourceRemoved(int first, int last);
    void SourceCellsChanged(int first, int last, int firstColumn, int lastColumn);
    void SourceAboutToReset();
    void SourceReset();
    /// An edit of a cell: empty when the source took it, else why not.
    QString TryEdit(int row, int column, const QString& text);

    /// Small images for the rows' own cells; empty means no decorations.
    void SetSmallImages(std::vector<QIcon> images);

    /// Redraw off: changes are kept and published as one reset when redraw
    /// is turned on again.
    void SetFrozen(bool frozen);
    bool IsFrozen() const { return m_frozen; }
    /// True while a change is under way, or a reset is pending (frozen).
    bool IsChanging() const { return m_changing > 0 || m_resetPending; }
    /// True while frozen after a change: the views still show the old state.
    bool IsResetPending() const { return m_resetPending; }

    // QAbstractItemModel.
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

  signals:
    /// One row's flags changed; raised for every change, programmatic or not.
    void RowStateChanged(int row, int oldState, int newState);

  private:
    struct Column {
        QString caption;
        int width = 0;
        int align = AlignLeft;
        int image = -1;
    };
    struct Row {
        std::string cells;  // cell texts joined by NUL; missing trailing cells are empty
        std::int32_t image = 0;
        std::int32_t userValue = 0;
    };

    // Returns true when the caller emits precise signals; false when frozen
    // (a reset has been started instead).
    bool Precise();
    void ChangeState(int row, int newState);
    bool ValidRow(int row) const { return row >= 0 && row < RowCount(); }
    QVariant SourceData(const QModelIndex& index, int role) const;

    std::vector<Column> m_columns;
    std::vector<Row> m_rows;
    std::vector<std::uint8_t> m_states;  // one per row, own rows or the source's
    ListRowSource* m_source = nullptr;
    mutable std::string m_scratch;
    bool m_pendingPrecise = false;  // between a source's before and after
    std::vector<QIcon> m_smallImages;
    int m_focusedRow = -1;
    int m_selectedCount = 0;
    int m_selectedHint = -1;  // a selected row, when known (single selection)
    bool m_singleSelection = true;
    bool m_frozen = false;
    bool m_resetPending = false;
    int m_changing = 0;
};

/// Cell helpers on the NUL-joined row text, shared with tests.
std::string_view RowCellAt(std::string_view cells, int column);
void RowSetCell(std::string& cells, int column, std::string_view text);
/// Spaces (U+0020 only) removed at both ends.
std::string_view TrimCellSpaces(std::string_view text);

}  // namespace lumeval
