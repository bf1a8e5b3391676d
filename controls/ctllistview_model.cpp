#include "controls/ctllistview_model.h"

#include <algorithm>
#include <cstring>

namespace lumeval {

namespace {

constexpr char kCellSeparator = '\0';

std::string_view CutAtNul(std::string_view text) {
    const std::size_t nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// What a cell shows: a row is one line on the screen, so a text of
// megabytes (a paste, a broken file) is cut long before that; laying all of
// it out on every paint would stall the window for seconds.
constexpr std::size_t kShownBytes = 4096;
QString Shown(std::string_view text) {
    if (text.size() <= kShownBytes) return FromUtf8(text);
    std::size_t cut = kShownBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return FromUtf8(text.substr(0, cut)) + QChar(0x2026);
}

// Start offset of cell `column`, or npos when the row has fewer cells.
std::size_t CellStart(std::string_view cells, int column) {
    std::size_t pos = 0;
    for (int i = 0; i < column; ++i) {
        const void* hit = std::memchr(cells.data() + pos, kCellSeparator, cells.size() - pos);
        if (hit == nullptr) return std::string_view::npos;
        pos = static_cast<std::size_t>(static_cast<const char*>(hit) - cells.data()) + 1;
    }
    return pos;
}

// Inserts an empty cell at `column` (cells at and after it move right).
void InsertEmptyCell(std::string& cells, int column) {
    const std::size_t start = CellStart(cells, column);
    if (start == std::string::npos) return;  // no cell there: nothing moves
    cells.insert(start, 1, kCellSeparator);
}

// Removes cell `column` (cells after it move left).
void RemoveCell(std::string& cells, int column) {
    const std::size_t start = CellStart(cells, column);
    if (start == std::string::npos) return;
    const std::size_t end = cells.find(kCellSeparator, start);
    if (end == std::string::npos) {
        // Last cell: drop it with the separator in front of it.
        cells.erase(start == 0 ? 0 : start - 1);
    } else {
        cells.erase(start, end - start + 1);
    }
}

// A column's alignment as views want it.
QVariant Alignment(int align) {
    const Qt::Alignment h = align == ListViewModel::AlignRight    ? Qt::AlignRight
                            : align == ListViewModel::AlignCenter ? Qt::AlignHCenter
                                                                  : Qt::AlignLeft;
    return QVariant::fromValue(h | Qt::AlignVCenter);
}

}  // namespace

std::string_view RowCellAt(std::string_view cells, int column) {
    if (column < 0) return {};
    const std::size_t start = CellStart(cells, column);
    if (start == std::string_view::npos) return {};
    const std::size_t end = cells.find(kCellSeparator, start);
    return cells.substr(start,
                        end == std::string_view::npos ? std::string_view::npos : end - start);
}

void RowSetCell(std::string& cells, int column, std::string_view text) {
    if (column < 0) return;
    text = CutAtNul(text);
    std::size_t start = CellStart(cells, column);
    if (start == std::string::npos) {
        if (text.empty()) return;  // missing trailing cells are empty already
        int have = 1 + static_cast<int>(std::count(cells.begin(), cells.end(), kCellSeparator));
        cells.append(static_cast<std::size_t>(column - have + 1), kCellSeparator);
        cells.append(text);
        return;
    }
    std::size_t end = cells.find(kCellSeparator, start);
    if (end == std::string::npos) end = cells.size();
    cells.replace(start, end - start, text);
}

std::string_view TrimCellSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

ListViewModel::ListViewModel(QObject* parent) : QAbstractTableModel(parent) {}

bool ListViewModel::Precise() {
    if (!m_frozen) return true;
    if (!m_resetPending) {
        beginResetModel();
        m_resetPending = true;
    }
    return false;
}

void ListViewModel::SetFrozen(bool frozen) {
    m_frozen = frozen;
    if (!frozen && m_resetPending) {
        m_resetPending = false;
        endResetModel();
    }
}

// ---- columns ---------------------------------------------------------------

bool ListViewModel::InsertColumn(int position, const QString& caption, int width, int align) {
    if (position < 0) return false;
    const int old = HeaderCount();
    position = std::min(position, old);
    Column column{caption, std::max(0, width), align, -1};
    if (align != AlignRight && align != AlignCenter) column.align = AlignLeft;
    ++m_changing;
    const bool structural = old > 0;  // the first header item takes over the always-shown column
    const bool precise = Precise();
    if (precise && structural) beginInsertColumns(QModelIndex(), position, position);
    m_columns.insert(m_columns.begin() + position, column);
    if (structural) {
        for (Row& row : m_rows) InsertEmptyCell(row.cells, position);
    }
    if (precise) {
        if (structural) {
            endInsertColumns();
        } else {
            emit headerDataChanged(Qt::Horizontal, 0, 0);
        }
    }
    --m_changing;
    return true;
}

bool ListViewModel::RemoveColumn(int position) {
    if (position < 0 || position >= HeaderCount()) return false;
    const bool structural = HeaderCount() > 1;  // the last one leaves the always-shown column
    ++m_changing;
    const bool precise = Precise();
    if (precise && structural) beginRemoveColumns(QModelIndex(), position, position);
    m_columns.erase(m_columns.begin() + position);
    if (structural) {
        for (Row& row : m_rows) RemoveCell(row.cells, position);
    } else {
        // The rows keep their own texts; the other cells go with the column.
        for (Row& row : m_rows) {
            const std::size_t end = row.cells.find(kCellSeparator);
            if (end != std::string::npos) row.cells.erase(end);
        }
    }
    if (precise) {
        if (structural) {
            endRemoveColumns();
        } else {
            emit headerDataChanged(Qt::Horizontal, 0, 0);
        }
    }
    --m_changing;
    return true;
}

QString ListViewModel::ColumnCaption(int column) const {
    return column >= 0 && column < HeaderCount()
               ? m_columns[static_cast<std::size_t>(column)].caption
               : QString();
}

int ListViewModel::ColumnAlign(int column) const {
    return column >= 0 && column < HeaderCount() ? m_columns[static_cast<std::size_t>(column)].align
                                                 : AlignLeft;
}

int ListViewModel::ColumnWidth(int column) const {
    return column >= 0 && column < HeaderCount() ? m_columns[static_cast<std::size_t>(column)].width
                                                 : 0;
}

bool ListViewModel::SetColumnWidth(int column, int width) {
    if (column < 0 || column >= HeaderCount()) return false;
    m_columns[static_cast<std::size_t>(column)].width = std::max(0, width);
    return true;
}

int ListViewModel::ColumnImage(int column) const {
    return column >= 0 && column < HeaderCount() ? m_columns[static_cast<std::size_t>(column)].image
                                                 : -1;
}

bool ListViewModel::SetColumnImage(int column, int image) {
    if (column < 0 || column >= HeaderCount()) return false;
    int& stored = m_columns[static_cast<std::size_t>(column)].image;
    const int wanted = image < 0 ? -1 : image;
    if (stored == wanted) return true;
    stored = wanted;
    if (!m_resetPending) emit headerDataChanged(Qt::Horizontal, column, column);
    return true;
}

// ---- rows ------------------------------------------------------------------

int ListViewModel::InsertRow(int position, const std::vector<std::string_view>& cells, int image,
                             int userValue) {
    if (position < 0 || m_source) return -1;
    const int n = RowCount();
    position = std::min(position, n);
    Row row;
    row.image = image;
    row.userValue = userValue;
    // Cells past the header items have nowhere to go, as in the platform list.
    const std::size_t keep =
        std::min(cells.size(), static_cast<std::size_t>(std::max(1, HeaderCount())));
    std::size_t used = 0;  // cells up to the last non-empty one
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < keep; ++i) {
        const std::string_view cell = CutAtNul(cells[i]);
        bytes += cell.size() + 1;
        if (!cell.empty()) used = i + 1;
    }
    row.cells.reserve(bytes);  // one allocation of the row's size
    for (std::size_t i = 0; i < used; ++i) {
        if (i > 0) row.cells.push_back(kCellSeparator);
        row.cells.append(CutAtNul(cells[i]));
    }

    ++m_changing;
    const bool precise = Precise();
    if (precise) beginInsertRows(QModelIndex(), position, position);
    m_rows.insert(m_rows.begin() + position, std::move(row));
    m_states.insert(m_states.begin() + position, 0);
    if (m_focusedRow >= position) ++m_focusedRow;
    if (m_selectedHint >= position) ++m_selectedHint;
    if (precise) endInsertRows();
    --m_changing;
    return position;
}

bool ListViewModel::RemoveRow(int row) {
    if (!ValidRow(row) || m_source) return false;
    ++m_changing;
    const bool precise = Precise();
    if (precise) beginRemoveRows(QModelIndex(), row, row);
    if (m_states[static_cast<std::size_t>(row)] & StateSelected) --m_selectedCount;
    m_rows.erase(m_rows.begin() + row);
    m_states.erase(m_states.begin() + row);
    if (m_focusedRow == row) {
        m_focusedRow = -1;
    } else if (m_focusedRow > row) {
        --m_focusedRow;
    }
    if (m_selectedHint == row) {
        m_selectedHint = -1;
    } else if (m_selectedHint > row) {
        --m_selectedHint;
    }
    if (precise) endRemoveRows();
    --m_changing;
    return true;
}

void ListViewModel::RemoveAllRows() {
    if (m_source) return;
    ++m_changing;
    const bool precise = Precise();
    if (precise) beginResetModel();
    std::vector<Row>().swap(m_rows);
    std::vector<std::uint8_t>().swap(m_states);
    m_focusedRow = -1;
    m_selectedCount = 0;
    m_selectedHint = -1;
    if (precise) endResetModel();
    --m_changing;
}

std::string_view ListViewModel::CellUtf8(int row, int column) const {
    if (!ValidRow(row)) return {};
    if (m_source) return m_source->SourceCell(row, column, m_scratch);
    return RowCellAt(m_rows[static_cast<std::size_t>(row)].cells, column);
}

QString ListViewModel::Cell(int row, int column) const {
    return FromUtf8(CellUtf8(row, column));
}

bool ListViewModel::SetCell(int row, int column, std::string_view utf8) {
    if (!ValidRow(row) || m_source || column < 0 || column >= std::max(1, HeaderCount())) return false;
    const bool precise = Precise();
    RowSetCell(m_rows[static_cast<std::size_t>(row)].cells, column, utf8);
    if (precise) {
        const QModelIndex at = index(row, column);
        emit dataChanged(at, at, {Qt::DisplayRole, Qt::EditRole});
    }
    return true;
}

void ListViewModel::RewriteColumn(int column,
                                  const std::function<std::string(std::string_view)>& edit) {
    if (column < 0 || column >= std::max(1, HeaderCount()) || m_rows.empty() || m_source) return;
    const bool precise = Precise();
    for (Row& row : m_rows) {
        const std::string replaced = edit(RowCellAt(row.cells, column));
        RowSetCell(row.cells, column, replaced);
    }
    if (precise)
        emit dataChanged(index(0, column), index(RowCount() - 1, column),
                         {Qt::DisplayRole, Qt::EditRole});
}

int ListViewModel::ImageIndex(int row) const {
    return ValidRow(row) && !m_source ? m_rows[static_cast<std::size_t>(row)].image : 0;
}

int ListViewModel::UserValue(int row) const {
    return ValidRow(row) && !m_source ? m_rows[static_cast<std::size_t>(row)].userValue : 0;
}

void ListViewModel::SetSmallImages(std::vector<QIcon> images) {
    m_smallImages = std::move(images);
    if (!m_rows.empty() && !m_resetPending)
        emit dataChanged(index(0, 0), index(RowCount() - 1, 0), {Qt::DecorationRole});
}

// ---- states ----------------------------------------------------------------

int ListViewModel::RowState(int row) const {
    return ValidRow(row) ? m_states[static_cast<std::size_t>(row)] : 0;
}

void ListViewModel::ChangeState(int row, int newState) {
    std::uint8_t& state = m_states[static_cast<std::size_t>(row)];
    const int old = state;
    if (old == newState) return;
    state = static_cast<std::uint8_t>(newState);
    if ((old & StateSelected) != (newState & StateSelected)) {
        m_selectedCount += (newState & StateSelected) ? 1 : -1;
        if (newState & StateSelected) {
            m_selectedHint = row;
        } else if (m_selectedHint == row) {
            m_selectedHint = -1;
        }
    }
    if (newState & StateFocused) {
        m_focusedRow = row;
    } else if (m_focusedRow == row) {
        m_focusedRow = -1;
    }
    // Redraw off: like every other change, states are published with the
    // one reset at redraw on (views then take all selections at once).
    if (Precise()) {
        const QModelIndex first = index(row, 0);
        const QModelIndex last = index(row, columnCount() - 1);
        emit dataChanged(first, last, {StateRole});
    }
    emit RowStateChanged(row, old, newState);
}

bool ListViewModel::SetRowState(int row, int mask, int value) {
    if (!ValidRow(row)) return false;
    mask &= StateFocused | StateSelected;
    const int old = m_states[static_cast<std::size_t>(row)];
    const int wanted = (old & ~mask) | (value & mask);
    if ((wanted & StateFocused) && !(old & StateFocused) && m_focusedRow >= 0 &&
        m_focusedRow != row) {
        const int other = m_focusedRow;
        ChangeState(other, RowState(other) & ~StateFocused);
    }
    if (m_singleSelection && (wanted & StateSelected) && !(old & StateSelected) &&
        m_selectedCount > 0) {
        if (m_selectedHint >= 0 && m_selectedHint != row &&
            (RowState(m_selectedHint) & StateSelected)) {
            const int other = m_selectedHint;
            ChangeState(other, RowState(other) & ~StateSelected);
        }
        for (int i = 0; m_selectedCount > 0 && i < RowCount(); ++i) {
            if (i != row && (m_states[static_cast<std::size_t>(i)] & StateSelected)) {
                ChangeState(i, RowState(i) & ~StateSelected);
            }
        }
    }
    // Re-read: a handler may have changed this row meanwhile.
    if (!ValidRow(row)) return false;
    const int now = m_states[static_cast<std::size_t>(row)];
    ChangeState(row, (now & ~mask) | (value & mask));
    return true;
}

// ---- QAbstractItemModel ----------------------------------------------------

// With a source, the count is the one announced so far: it changes only
// between a before and an after, as views require, even while the source
// itself is in the middle of a change (a document being loaded).
int ListViewModel::RowCount() const {
    return static_cast<int>(m_source ? m_states.size() : m_rows.size());
}

int ListViewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : RowCount();
}

int ListViewModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::max(1, HeaderCount());
}

QVariant ListViewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.model() != this || !ValidRow(index.row())) return {};
    if (m_source) return SourceData(index, role);
    const Row& row = m_rows[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return Shown(RowCellAt(row.cells, index.column()));
        case Qt::EditRole:
            return FromUtf8(RowCellAt(row.cells, index.column()));
        case Qt::DecorationRole:
            if (index.column() == 0 && row.image >= 0 &&
                static_cast<std::size_t>(row.image) < m_smallImages.size()) {
                return m_smallImages[static_cast<std::size_t>(row.image)];
            }
            return {};
        case Qt::TextAlignmentRole:
            return Alignment(ColumnAlign(index.column()));
        case ImageIndexRole:
            return row.image;
        case StateRole:
            return static_cast<int>(m_states[static_cast<std::size_t>(index.row())]);
        case UserValueRole:
            return row.userValue;
        default:
            return {};
    }
}

QVariant ListViewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Vertical) {
        if (role == Qt::DisplayRole && section >= 0 && section < RowCount()) return section + 1;
        return {};
    }
    if (section < 0 || section >= columnCount()) return {};
    switch (role) {
        case Qt::DisplayRole:
            return ColumnCaption(section);
        case Qt::TextAlignmentRole:
            return Alignment(ColumnAlign(section));
        case HeaderImageRole:
            return ColumnImage(section);
        default:
            return {};
    }
}

Qt::ItemFlags ListViewModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (m_source && m_source->SourceEditable(index.column())) f |= Qt::ItemIsEditable;
    return f;
}

bool ListViewModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid()) return false;
    return TryEdit(index.row(), index.column(), value.toString()).isEmpty();
}

QString ListViewModel::TryEdit(int row, int column, const QString& text) {
    if (!m_source || !ValidRow(row) || !m_source->SourceEditable(column))
        return QStringLiteral("不能编辑");
    return m_source->SourceEdit(row, column, text);
}

// ---- rows from a source ------------------------------------------------------

void ListViewModel::AttachSource(ListRowSource* source) {
    ++m_changing;
    const bool precise = Precise();
    if (precise) beginResetModel();
    std::vector<Row>().swap(m_rows);
    m_source = source;
    m_states.assign(static_cast<std::size_t>(source ? std::max(0, source->SourceRows()) : 0), 0);
    m_focusedRow = -1;
    m_selectedCount = 0;
    m_selectedHint = -1;
    if (precise) endResetModel();
    --m_changing;
}

QVariant ListViewModel::SourceData(const QModelIndex& index, int role) const {
    switch (role) {
        case Qt::DisplayRole:
            return Shown(m_source->SourceCell(index.row(), index.column(), m_scratch));
        case Qt::EditRole:
            return FromUtf8(m_source->SourceCell(index.row(), index.column(), m_scratch));
        case Qt::TextAlignmentRole:
            return Alignment(ColumnAlign(index.column()));
        case StateRole:
            return static_cast<int>(m_states[static_cast<std::size_t>(index.row())]);
        case ImageIndexRole:
        case UserValueRole:
            return 0;
        default:
            return m_source->SourceRole(index.row(), index.column(), role);
    }
}

void ListViewModel::SourceAboutToInsert(int first, int last) {
    ++m_changing;
    m_pendingPrecise = Precise();
    if (m_pendingPrecise) beginInsertRows(QModelIndex(), first, last);
}

void ListViewModel::SourceInserted(int first, int last) {
    const int n = last - first + 1;
    m_states.insert(m_states.begin() + first, static_cast<std::size_t>(n), 0);
    if (m_focusedRow >= first) m_focusedRow += n;
    if (m_selectedHint >= first) m_selectedHint += n;
    if (m_pendingPrecise) endInsertRows();
    --m_changing;
}

void ListViewModel::SourceAboutToRemove(int first, int last) {
    ++m_changing;
    m_pendingPrecise = Precise();
    if (m_pendingPrecise) beginRemoveRows(QModelIndex(), first, last);
}

void ListViewModel::SourceRemoved(int first, int last) {
    const int n = last - first + 1;
    for (int i = first; i <= last; ++i)
        if (m_states[static_cast<std::size_t>(i)] & StateSelected) --m_selectedCount;
    m_states.erase(m_states.begin() + first, m_states.begin() + last + 1);
    if (m_focusedRow > last) {
        m_focusedRow -= n;
    } else if (m_focusedRow >= first) {
        m_focusedRow = -1;
    }
    if (m_selectedHint > last) {
        m_selectedHint -= n;
    } else if (m_selectedHint >= first) {
        m_selectedHint = -1;
    }
    if (m_pendingPrecise) endRemoveRows();
    --m_changing;
}

void ListViewModel::SourceCellsChanged(int first, int last, int firstColumn, int lastColumn) {
    if (m_resetPending || first > last) return;
    emit dataChanged(index(first, std::max(0, firstColumn)), index(last, std::min(columnCount() - 1, lastColumn)));
}

void ListViewModel::SourceAboutToReset() {
    ++m_changing;
    m_pendingPrecise = Precise();
    if (m_pendingPrecise) beginResetModel();
}

void ListViewModel::SourceReset() {
    m_states.assign(static_cast<std::size_t>(std::max(0, m_source->SourceRows())), 0);
    m_focusedRow = -1;
    m_selectedCount = 0;
    m_selectedHint = -1;
    if (m_pendingPrecise) endResetModel();
    --m_changing;
}

}  // namespace lumeval
