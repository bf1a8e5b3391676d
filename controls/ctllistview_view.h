// The Qt side of ctlListView: the report view (a table with grid lines and
// full-row selection), the list and thumbnail views, their painters, and the
// binder that keeps the view's selection and the model's row states equal.
#pragma once

#include <QAbstractItemView>
#include <QColor>
#include <QHeaderView>
#include <QImage>
#include <QItemSelection>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolTip>
#include <functional>
#include <vector>

#include "controls/ctllistview_model.h"

namespace lumeval {

/// Input seen by a list view, before (after = false) and after (after =
/// true) the view's own handling; and its tool-tip requests.
struct ListViewHooks {
    std::function<void(QAbstractItemView* view, QEvent* event, bool after)> input;
    /// Text to show for a tip at a viewport point; empty shows none.
    std::function<QString(QAbstractItemView* view, const QPoint& at)> tip;
};

/// A Qt item view that reports its input to ListViewHooks.
template <class Base>
class HookedListView : public Base {
  public:
    explicit HookedListView(QWidget* parent = nullptr) : Base(parent) {}
    void SetHooks(ListViewHooks hooks) { m_hooks = std::move(hooks); }

  protected:
    void mousePressEvent(QMouseEvent* e) override {
        Around(e, [&] { Base::mousePressEvent(e); });
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        Around(e, [&] { Base::mouseReleaseEvent(e); });
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        Around(e, [&] { Base::mouseMoveEvent(e); });
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        Around(e, [&] { Base::mouseDoubleClickEvent(e); });
    }
    void keyPressEvent(QKeyEvent* e) override {
        Around(e, [&] { Base::keyPressEvent(e); });
    }
    bool viewportEvent(QEvent* e) override;
    // The rows are a list: Home and End go to its first and last row (and
    // select it), as a list view does, not to the ends of the row.
    QModelIndex moveCursor(QAbstractItemView::CursorAction action, Qt::KeyboardModifiers modifiers) override {
        if (action == QAbstractItemView::MoveHome || action == QAbstractItemView::MoveEnd)
            modifiers |= Qt::ControlModifier;
        return Base::moveCursor(action, modifiers);
    }

  private:
    template <class F>
    void Around(QEvent* e, F&& own) {
        // The view may be replaced by a handler; keep it alive for this event.
        QPointer<QAbstractItemView> self(this);
        if (m_hooks.input) m_hooks.input(this, e, false);
        if (self.isNull()) return;
        own();
        if (!self.isNull() && m_hooks.input) m_hooks.input(this, e, true);
    }

    ListViewHooks m_hooks;
};

using ListReportView = HookedListView<QTableView>;
using ListIconsView = HookedListView<QListView>;

/// Cells of the report and list views: the text background colour behind
/// unselected cells, then the usual painting. Cells a row source lets the
/// user change are edited in place: one line, or several for a multi-line
/// column ("\N" shown as a break; Enter commits, Shift+Enter breaks the
/// line, Esc cancels). A refused edit keeps the editor open and shows why
/// beside the cell.
class ListCellDelegate final : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void SetTextBackColor(const QColor& color) { m_textBack = color; }
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;
    /// Why the last edit was refused; empty after one that was taken.
    QString LastRefusal() const { return m_refusal; }
    /// The open editor's text cursor as a byte offset of the cell's UTF-8
    /// text ("\N" for breaks); -1 when no editor is open.
    int EditorCursor() const;
    bool Editing() const { return !m_editor.isNull() && m_editor->isVisible(); }

  protected:
    bool eventFilter(QObject* object, QEvent* event) override;

  private:
    // The editor's text with line breaks as "\N".
    static QString EditorText(const QWidget* editor);
    // Tries the edit: true when taken (or nothing changed).
    bool Commit(QWidget* editor) const;
    void ShowRefusal(QWidget* editor) const;

    QColor m_textBack;
    mutable QPersistentModelIndex m_editing;
    mutable QString m_original;
    mutable QString m_refusal;
    mutable QPointer<QWidget> m_editor;
    mutable QPointer<QWidget> m_reason;
};

/// One thumbnail per row: a raised frame with the row's picture (copied 1:1
/// from its top-left corner) or "Nothing", and the file-name part of the
/// row's text as caption below it.
class ThumbnailDelegate final : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using PictureSource = std::function<const QImage*(int row)>;
    ThumbnailDelegate(PictureSource pictures, std::function<void()> firstPaint,
                      QObject* parent = nullptr);
    void SetThumbnailSize(int width, int height) {
        m_width = width;
        m_height = height;
    }
    void SetLabelHeight(int height) { m_labelHeight = height; }
    /// Item cell: ThumbnailWidth+18 wide, ThumbnailHeight + label + 32 high.
    QSize CellSize() const { return QSize(m_width + 18, m_height + m_labelHeight + 32); }
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  private:
    PictureSource m_pictures;
    std::function<void()> m_firstPaint;
    int m_width = 80;
    int m_height = 80;
    int m_labelHeight = 0;
};

/// Keeps a view's selection and current row equal to the model's selected
/// and focused flags, both ways. Changes made by the user are collected
/// while one input event is handled and then applied to the model with the
/// rows that lose flags first, so a click on a row reports the old row's
/// loss before the new row's gain, as the platform list did.
class ListSelectionBinder final : public QObject {
    Q_OBJECT
  public:
    ListSelectionBinder(ListViewModel* model, QAbstractItemView* view, QObject* parent = nullptr);
    void BeginInput() { ++m_inputDepth; }
    void EndInput();
    /// Makes the view's selection and current row those of the model.
    void SyncViewFromModel();

  private:
    void OnViewSelection(const QItemSelection& selected, const QItemSelection& deselected);
    void OnViewCurrent(const QModelIndex& current, const QModelIndex& previous);
    void OnModelState(int row, int oldState, int newState);
    void MarkRows(const QItemSelection& ranges);
    void Flush();
    void SyncCurrent();

    ListViewModel* m_model;
    QPointer<QAbstractItemView> m_view;
    std::vector<int> m_dirty;
    int m_inputDepth = 0;
    bool m_applying = false;  // true while one side is written from the other
};

/// The platform's virtual-key code for a Qt key (0 when it has none).
int VirtualKeyFromQt(int key);
/// 1 shift, 2 control, 4 alt.
int ShiftMaskFromQt(Qt::KeyboardModifiers modifiers);

template <class Base>
bool HookedListView<Base>::viewportEvent(QEvent* e) {
    if (e->type() == QEvent::ToolTip && m_hooks.tip) {
        auto* help = static_cast<QHelpEvent*>(e);
        const QString text = m_hooks.tip(this, help->pos());
        if (text.isEmpty()) {
            QToolTip::hideText();
            e->ignore();
        } else {
            QToolTip::showText(help->globalPos(), text, this->viewport());
        }
        return true;
    }
    return Base::viewportEvent(e);
}

}  // namespace lumeval
