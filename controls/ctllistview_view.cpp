#include "controls/ctllistview_view.h"

#include <qdrawutil.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <algorithm>
#include <functional>

namespace lumeval {

// ---- cell painters ---------------------------------------------------------

void ListCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    if (m_textBack.isValid() && !(option.state & QStyle::State_Selected))
        painter->fillRect(option.rect, m_textBack);
    QStyledItemDelegate::paint(painter, option, index);
}

// ---- in-place editing ------------------------------------------------------

namespace {

const ListViewModel* SourceModel(const QModelIndex& index) {
    return qobject_cast<const ListViewModel*>(index.model());
}

bool MultiLine(const QModelIndex& index) {
    const ListViewModel* model = SourceModel(index);
    return model && model->Source() && model->Source()->SourceMultiLine(index.column());
}

// A cue's text never needs a megabyte; laying out a paste of that size
// would freeze the window for seconds, so it is refused with its reason.
constexpr qsizetype kLongestPaste = 50000;

class CellTextEdit : public QPlainTextEdit {
  public:
    CellTextEdit(QWidget* parent, std::function<void(const QString&)> refuse)
        : QPlainTextEdit(parent), m_refuse(std::move(refuse)) {}

  protected:
    void insertFromMimeData(const QMimeData* source) override {
        if (source && source->hasText() && source->text().size() > kLongestPaste) {
            m_refuse(QStringLiteral("粘贴的文字太长（超过 %1 个字符），没有粘贴").arg(kLongestPaste));
            return;
        }
        QPlainTextEdit::insertFromMimeData(source);
    }

  private:
    std::function<void(const QString&)> m_refuse;
};

}  // namespace

QWidget* ListCellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                        const QModelIndex& index) const {
    QWidget* editor = nullptr;
    if (MultiLine(index)) {
        auto* text = new CellTextEdit(parent, [this](const QString& reason) {
            m_refusal = reason;
            if (m_editor) ShowRefusal(m_editor);
        });
        text->setTabChangesFocus(true);
        text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        editor = text;
    } else {
        editor = new QLineEdit(parent);
    }
    editor->setFont(option.font);
    editor->setObjectName(QStringLiteral("cellEditor"));
    m_editing = index;
    m_editor = editor;
    m_refusal.clear();
    return editor;
}

void ListCellDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    m_original = index.data(Qt::EditRole).toString();
    if (auto* text = qobject_cast<QPlainTextEdit*>(editor)) {
        QString shown = m_original;
        shown.replace(QStringLiteral("\\N"), QStringLiteral("\n"));
        text->setPlainText(shown);
        text->moveCursor(QTextCursor::End);
    } else if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        line->setText(m_original);
        line->selectAll();
    }
}

QString ListCellDelegate::EditorText(const QWidget* editor) {
    if (const auto* text = qobject_cast<const QPlainTextEdit*>(editor)) {
        QString typed = text->toPlainText();
        typed.remove(QLatin1Char('\r'));
        typed.replace(QLatin1Char('\n'), QStringLiteral("\\N"));
        return typed;
    }
    if (const auto* line = qobject_cast<const QLineEdit*>(editor)) return line->text();
    return QString();
}

int ListCellDelegate::EditorCursor() const {
    const auto* text = qobject_cast<const QPlainTextEdit*>(m_editor.data());
    if (!text) return -1;
    // Characters before the cursor, each break counted as the two of "\N".
    QString before = text->toPlainText().left(text->textCursor().position());
    before.remove(QLatin1Char('\r'));
    before.replace(QLatin1Char('\n'), QStringLiteral("\\N"));
    return static_cast<int>(before.toUtf8().size());
}

bool ListCellDelegate::Commit(QWidget* editor) const {
    const QString typed = EditorText(editor);
    if (typed == m_original || !m_editing.isValid()) return true;
    auto* model = const_cast<ListViewModel*>(SourceModel(m_editing));
    m_refusal = model ? model->TryEdit(m_editing.row(), m_editing.column(), typed)
                      : QStringLiteral("不能编辑");
    if (m_refusal.isEmpty()) m_original = typed;
    return m_refusal.isEmpty();
}

void ListCellDelegate::ShowRefusal(QWidget* editor) const {
    if (m_reason.isNull()) {
        auto* label = new QLabel(editor->parentWidget());
        label->setObjectName(QStringLiteral("editRefusal"));
        label->setAutoFillBackground(true);
        QPalette palette = label->palette();
        palette.setColor(QPalette::Window, QColor(0xFF, 0xF2, 0xCC));
        palette.setColor(QPalette::WindowText, QColor(0xA0, 0x00, 0x00));
        label->setPalette(palette);
        label->setMargin(3);
        // Goes with the editor.
        connect(editor, &QObject::destroyed, label, &QObject::deleteLater);
        m_reason = label;
    }
    static_cast<QLabel*>(m_reason.data())->setText(m_refusal);
    m_reason->adjustSize();
    const QRect at = editor->geometry();
    const QWidget* room = editor->parentWidget();
    int y = at.bottom() + 1;
    if (room && y + m_reason->height() > room->height()) y = std::max(0, at.top() - m_reason->height());
    m_reason->move(at.left(), y);
    m_reason->show();
    m_reason->raise();
}

void ListCellDelegate::setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex&) const {
    // Reached when the editor loses the focus or Tab leaves it: a refused
    // edit changes nothing then and the reason stays readable in
    // LastRefusal.
    Commit(editor);
}

void ListCellDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                            const QModelIndex& index) const {
    QRect r = option.rect;
    if (MultiLine(index)) {
        // Room for three lines, inside the view where it can.
        r.setHeight(std::max(r.height(), option.fontMetrics.lineSpacing() * 3 + 10));
        if (const QWidget* room = editor->parentWidget(); room && r.bottom() > room->height())
            r.moveBottom(std::max(r.height() - 1, room->height() - 1));
    }
    editor->setGeometry(r);
}

bool ListCellDelegate::eventFilter(QObject* object, QEvent* event) {
    auto* editor = qobject_cast<QWidget*>(object);
    if (editor && editor == m_editor.data() && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && (key->modifiers() & Qt::ShiftModifier) && qobject_cast<QPlainTextEdit*>(editor))
            return false;  // a line break inside the text
        if (enter) {
            if (Commit(editor)) {
                emit closeEditor(editor, QAbstractItemDelegate::NoHint);
            } else {
                ShowRefusal(editor);
            }
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            m_refusal.clear();
            emit closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
            return true;
        }
    }
    return QStyledItemDelegate::eventFilter(object, event);
}

ThumbnailDelegate::ThumbnailDelegate(PictureSource pictures, std::function<void()> firstPaint,
                                     QObject* parent)
    : QStyledItemDelegate(parent),
      m_pictures(std::move(pictures)),
      m_firstPaint(std::move(firstPaint)) {}

QSize ThumbnailDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return CellSize();
}

void ThumbnailDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    if (m_firstPaint) m_firstPaint();
    const int state = index.data(ListViewModel::StateRole).toInt();
    const bool selected = (state & ListViewModel::StateSelected) != 0;
    const bool focused = (state & ListViewModel::StateFocused) != 0;
    const bool highlighted = selected && focused;
    const QPalette& palette = option.palette;
    const QRect cell = option.rect;
    constexpr int kLabelHeight = 13;

    painter->save();
    // Frame: the picture plus 4 pixels on every side, centred in the cell.
    const QRect frame(cell.left() + std::max(0, (cell.width() - (m_width + 8)) / 2), cell.top() + 4,
                      m_width + 8, m_height + 8);
    painter->fillRect(frame, highlighted ? palette.highlight() : palette.button());
    qDrawShadePanel(painter, frame, palette, false, 1);

    const QRect pictureRect(frame.left() + 4, frame.top() + 4, m_width, m_height);
    const QImage* picture = m_pictures ? m_pictures(index.row()) : nullptr;
    if (picture != nullptr && !picture->isNull()) {
        // 1:1 from the top-left corner; the picture is never scaled.
        painter->drawImage(pictureRect.topLeft(), *picture,
                           QRect(0, 0, std::min(m_width, picture->width()),
                                 std::min(m_height, picture->height())));
    } else {
        painter->setPen(highlighted ? palette.highlightedText().color()
                                    : palette.buttonText().color());
        painter->drawText(frame, Qt::AlignCenter, QStringLiteral("Nothing"));
    }

    QRect label(cell.left(), frame.top() + frame.height() + 2, cell.width(), kLabelHeight + 4);
    QColor textColor = palette.text().color();
    if (selected && focused) {
        painter->fillRect(label, palette.highlight());
        textColor = palette.highlightedText().color();
    } else if (selected) {
        painter->fillRect(label, palette.button());
        textColor = palette.buttonText().color();
    } else {
        painter->fillRect(label, palette.base());
    }
    if (focused) {
        QStyleOptionFocusRect focus;
        focus.rect = label;
        focus.palette = palette;
        focus.state = QStyle::State_HasFocus;
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
    label.adjust(2, 0, -2, 0);
    // The caption is the file-name part of the row's text.
    QString text = index.sibling(index.row(), 0).data(Qt::DisplayRole).toString();
    const qsizetype slash =
        std::max(text.lastIndexOf(QLatin1Char('\\')), text.lastIndexOf(QLatin1Char('/')));
    if (slash >= 0) text = text.mid(slash + 1);
    painter->setPen(textColor);
    painter->setFont(option.font);
    painter->drawText(label, Qt::AlignCenter,
                      option.fontMetrics.elidedText(text, Qt::ElideRight, label.width()));
    painter->restore();
}

// ---- selection binder ------------------------------------------------------

ListSelectionBinder::ListSelectionBinder(ListViewModel* model, QAbstractItemView* view,
                                         QObject* parent)
    : QObject(parent), m_model(model), m_view(view) {
    QItemSelectionModel* selection = view->selectionModel();
    connect(selection, &QItemSelectionModel::selectionChanged, this,
            &ListSelectionBinder::OnViewSelection);
    connect(selection, &QItemSelectionModel::currentChanged, this,
            &ListSelectionBinder::OnViewCurrent);
    connect(model, &ListViewModel::RowStateChanged, this, &ListSelectionBinder::OnModelState);
    connect(model, &QAbstractItemModel::modelReset, this, &ListSelectionBinder::SyncViewFromModel);
    connect(model, &QAbstractItemModel::columnsInserted, this,
            &ListSelectionBinder::SyncViewFromModel);
    connect(model, &QAbstractItemModel::columnsRemoved, this,
            &ListSelectionBinder::SyncViewFromModel);
    connect(model, &QAbstractItemModel::rowsInserted, this, &ListSelectionBinder::SyncCurrent);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &ListSelectionBinder::SyncCurrent);
}

void ListSelectionBinder::MarkRows(const QItemSelection& ranges) {
    for (const QItemSelectionRange& range : ranges) {
        for (int row = range.top(); row <= range.bottom(); ++row) m_dirty.push_back(row);
    }
}

void ListSelectionBinder::OnViewSelection(const QItemSelection& selected,
                                          const QItemSelection& deselected) {
    if (m_applying || m_model->IsChanging()) return;
    MarkRows(deselected);
    MarkRows(selected);
    if (m_inputDepth == 0) Flush();
}

void ListSelectionBinder::OnViewCurrent(const QModelIndex& current, const QModelIndex& previous) {
    if (m_applying || m_model->IsChanging()) return;
    if (previous.isValid()) m_dirty.push_back(previous.row());
    if (current.isValid()) m_dirty.push_back(current.row());
    if (m_inputDepth == 0) Flush();
}

void ListSelectionBinder::EndInput() {
    if (m_inputDepth > 0) --m_inputDepth;
    if (m_inputDepth == 0) Flush();
}

void ListSelectionBinder::Flush() {
    if (m_dirty.empty() || m_view.isNull()) return;
    std::vector<int> rows;
    rows.swap(m_dirty);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());

    QItemSelectionModel* selection = m_view->selectionModel();
    const QModelIndex current = selection->currentIndex();
    const int currentRow = current.isValid() ? current.row() : -1;
    std::vector<std::pair<int, int>> wanted;
    wanted.reserve(rows.size());
    for (int row : rows) {
        if (row < 0 || row >= m_model->RowCount()) continue;
        int state =
            selection->isSelected(m_model->index(row, 0)) ? ListViewModel::StateSelected : 0;
        if (row == currentRow) state |= ListViewModel::StateFocused;
        wanted.emplace_back(row, state);
    }
    constexpr int kBoth = ListViewModel::StateSelected | ListViewModel::StateFocused;
    // Losses first, then gains; a handler may change rows meanwhile, so each
    // row is compared with its state at the moment it is applied.
    for (const auto& [row, state] : wanted) {
        const int old = m_model->RowState(row);
        if (state != old && (state & ~old) == 0) m_model->SetRowState(row, kBoth, state);
    }
    for (const auto& [row, state] : wanted) {
        if (row < m_model->RowCount() && m_model->RowState(row) != state)
            m_model->SetRowState(row, kBoth, state);
    }
}

void ListSelectionBinder::OnModelState(int row, int, int newState) {
    if (m_view.isNull() || m_model->IsChanging()) return;
    QItemSelectionModel* selection = m_view->selectionModel();
    const QModelIndex at = m_model->index(row, 0);
    const bool wantSelected = (newState & ListViewModel::StateSelected) != 0;
    const bool wantFocused = (newState & ListViewModel::StateFocused) != 0;
    const bool isCurrent =
        selection->currentIndex().isValid() && selection->currentIndex().row() == row;
    const bool autoScroll = m_view->hasAutoScroll();
    m_applying = true;
    // The platform list does not scroll when a row's state is set.
    m_view->setAutoScroll(false);
    if (wantSelected != selection->isSelected(at)) {
        selection->select(
            at, (wantSelected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                    QItemSelectionModel::Rows);
    }
    if (wantFocused && !isCurrent) {
        selection->setCurrentIndex(at, QItemSelectionModel::NoUpdate);
    } else if (!wantFocused && isCurrent) {
        selection->clearCurrentIndex();
    }
    if (!m_view.isNull()) m_view->setAutoScroll(autoScroll);
    m_applying = false;
}

void ListSelectionBinder::SyncCurrent() {
    if (m_view.isNull()) return;
    QItemSelectionModel* selection = m_view->selectionModel();
    const int focused = m_model->FocusedRow();
    const QModelIndex current = selection->currentIndex();
    const int currentRow = current.isValid() ? current.row() : -1;
    if (focused == currentRow) return;
    m_applying = true;
    const bool autoScroll = m_view->hasAutoScroll();
    m_view->setAutoScroll(false);
    if (focused >= 0) {
        selection->setCurrentIndex(m_model->index(focused, 0), QItemSelectionModel::NoUpdate);
    } else {
        selection->clearCurrentIndex();
    }
    m_view->setAutoScroll(autoScroll);
    m_applying = false;
}

void ListSelectionBinder::SyncViewFromModel() {
    if (m_view.isNull()) return;
    m_dirty.clear();
    QItemSelectionModel* selection = m_view->selectionModel();
    QItemSelection wanted;
    const int rows = m_model->RowCount();
    const int lastColumn = m_model->columnCount() - 1;
    for (int row = 0; row < rows;) {
        if (!(m_model->RowState(row) & ListViewModel::StateSelected)) {
            ++row;
            continue;
        }
        int end = row;
        while (end + 1 < rows && (m_model->RowState(end + 1) & ListViewModel::StateSelected)) ++end;
        wanted.append(QItemSelectionRange(m_model->index(row, 0), m_model->index(end, lastColumn)));
        row = end + 1;
    }
    m_applying = true;
    selection->select(wanted, QItemSelectionModel::ClearAndSelect);
    m_applying = false;
    SyncCurrent();
}

// ---- keys ------------------------------------------------------------------

int VirtualKeyFromQt(int key) {
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return key;
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 0x70 + (key - Qt::Key_F1);
    switch (key) {
        case Qt::Key_Backspace:
            return 0x08;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return 0x09;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 0x0D;
        case Qt::Key_Shift:
            return 0x10;
        case Qt::Key_Control:
            return 0x11;
        case Qt::Key_Alt:
            return 0x12;
        case Qt::Key_Pause:
            return 0x13;
        case Qt::Key_CapsLock:
            return 0x14;
        case Qt::Key_Escape:
            return 0x1B;
        case Qt::Key_Space:
            return 0x20;
        case Qt::Key_PageUp:
            return 0x21;
        case Qt::Key_PageDown:
            return 0x22;
        case Qt::Key_End:
            return 0x23;
        case Qt::Key_Home:
            return 0x24;
        case Qt::Key_Left:
            return 0x25;
        case Qt::Key_Up:
            return 0x26;
        case Qt::Key_Right:
            return 0x27;
        case Qt::Key_Down:
            return 0x28;
        case Qt::Key_Insert:
            return 0x2D;
        case Qt::Key_Delete:
            return 0x2E;
        case Qt::Key_Menu:
            return 0x5D;
        default:
            return 0;
    }
}

int ShiftMaskFromQt(Qt::KeyboardModifiers modifiers) {
    int mask = 0;
    if (modifiers & Qt::ShiftModifier) mask |= 1;
    if (modifiers & Qt::ControlModifier) mask |= 2;
    if (modifiers & Qt::AltModifier) mask |= 4;
    return mask;
}

}  // namespace lumeval
