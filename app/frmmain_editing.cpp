// frmMain: editing beyond the design's commands: undo and redo, the row
// commands (insert, duplicate, delete, split, join, nudge), the title that
// names the active file, and the failure texts of loads and saves.
#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <cstring>

#include "app/frmmain.h"
#include "controls/ctllistview.h"
#include "controls/ctllistview_model.h"
#include "controls/ucstatusbar.h"
#include "document/document.h"
#include "document/editops.h"
#include "engine/subtitle.h"

namespace lumeval {

namespace {

struct RowCommand {
    const char16_t* caption;  ///< also the context-menu item (without the shortcut)
    const char* keys;         ///< shortcuts, ";" between several
};

// The Edit menu's items after the find group, in order; an empty caption
// is a separator.
const RowCommand kRowCommands[] = {
    {u"撤销(&U)", "Ctrl+Z"},
    {u"重做(&R)", "Ctrl+Y;Ctrl+Shift+Z"},
    {u"", ""},
    {u"在后面插入(&I)", "Ins"},
    {u"在前面插入(&B)", "Shift+Ins"},
    {u"复制一行(&P)", "Ctrl+D"},
    {u"删除行(&D)", "Del"},
    {u"拆分(&T)", "Ctrl+K"},
    {u"合并(&J)", "Ctrl+J"},
    {u"", ""},
    {u"开始位置提前100毫秒", "Alt+Left"},
    {u"开始位置推后100毫秒", "Alt+Right"},
    {u"结束位置提前100毫秒", "Alt+Shift+Left"},
    {u"结束位置推后100毫秒", "Alt+Shift+Right"},
};

// A caption without its mnemonic: "拆分(&T)" -> "拆分".
QString Plain(const QString& caption) {
    const qsizetype paren = caption.indexOf(QStringLiteral("(&"));
    return paren < 0 ? caption : caption.left(paren);
}


// The selected rows of a list, in order.
std::vector<int> SelectedRows(const ctlListView* l) {
    std::vector<int> rows;
    for (int i = l->ItemFindState(-1, ctlListView::StateSelected); i >= 0;
         i = l->ItemFindState(i, ctlListView::StateSelected))
        rows.push_back(i);
    return rows;
}

}  // namespace

/// Why the engine's last run or save failed, in the user's words.
QString FailureCause(const RunFailure& f) {
    switch (f.kind) {
        case RunFailure::NoSource: return QStringLiteral("无法读取文件");
        case RunFailure::NoLines: return QStringLiteral("文件中没有可以识别的字幕");
        case RunFailure::AllFiltered: return QStringLiteral("所有字幕都被过滤掉了");
        case RunFailure::NothingToWrite: return QStringLiteral("没有可以保存的字幕");
        case RunFailure::SaveFailed: return editor::SaveFailureCause(f.error);
        case RunFailure::Unmappable: return QStringLiteral("有些文字无法用文件的编码保存");
        case RunFailure::ChineseUnavailable: return QStringLiteral("繁简转换词典无法载入");
        case RunFailure::Internal: return QString::fromStdString(f.message);
        default: return QString();
    }
}

QString RowCommandsGroup();

/// The row commands of the list's context menu, with their shortcuts.
QString RowCommandsGroup() {
    QStringList items;
    for (const RowCommand& c : kRowCommands) {
        const QString caption = QString::fromUtf16(c.caption);
        if (caption.isEmpty() || caption.startsWith(QStringLiteral("撤销")) || caption.startsWith(QStringLiteral("重做")))
            continue;
        items << Plain(caption) + u'\t' + QString::fromLatin1(c.keys).section(u';', 0, 0);
    }
    return items.join(u'|');
}

void frmMain::BuildEditingMenu(QMenu* edit) {
    edit->addSeparator();
    for (const RowCommand& c : kRowCommands) {
        const QString caption = QString::fromUtf16(c.caption);
        if (caption.isEmpty()) {
            edit->addSeparator();
            continue;
        }
        QAction* action = edit->addAction(caption);
        QList<QKeySequence> keys;
        for (const QString& k : QString::fromLatin1(c.keys).split(u';')) keys << QKeySequence(k);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        const QString plain = Plain(caption);
        connect(action, &QAction::triggered, this, [this, plain] { ActOnListMenu(plain); });
        if (plain == QStringLiteral("撤销")) m_undoAction = action;
        if (plain == QStringLiteral("重做")) m_redoAction = action;
    }
    // The two history items name the step they take back or do again, and
    // are greyed while there is none; their keys stay live when the menu is
    // closed (the command itself does nothing then).
    connect(edit, &QMenu::aboutToShow, this, [this] { UpdateUndoActions(); });
    connect(edit, &QMenu::aboutToHide, this, [this] {
        if (m_undoAction) m_undoAction->setEnabled(true);
        if (m_redoAction) m_redoAction->setEnabled(true);
    });
}

void frmMain::UpdateUndoActions() {
    const doc::SubtitleDocument* d = Document(m_activeList);
    auto name = [](const QString& word, const QString& mnemonic, const QString& step) {
        return step.isEmpty() ? word + mnemonic : word + u' ' + step + mnemonic;
    };
    const bool canUndo = d && d->CanUndo();
    const bool canRedo = d && d->CanRedo();
    if (m_undoAction) {
        m_undoAction->setText(name(QStringLiteral("撤销"), QStringLiteral("(&U)"),
                                   canUndo ? d->History()->undoText() : QString()));
        m_undoAction->setEnabled(canUndo);
    }
    if (m_redoAction) {
        m_redoAction->setText(name(QStringLiteral("重做"), QStringLiteral("(&R)"),
                                   canRedo ? d->History()->redoText() : QString()));
        m_redoAction->setEnabled(canRedo);
    }
}

void frmMain::UpdateTitle() {
    const ctlListView* l = List(m_activeList);
    const doc::SubtitleDocument* d = Document(m_activeList);
    if (!l || !d || l->Tag().isEmpty() || l->isHidden()) {
        setWindowTitle(ProductName());
        return;
    }
    // The file Ctrl+S writes: the one opened, or the one last saved as.
    const QString file = d->Path().isEmpty() ? l->Tag() : d->Path();
    setWindowTitle(QFileInfo(file).fileName() + (d->IsChanged() ? QStringLiteral("*") : QString()) +
                   QStringLiteral(" - ") + ProductName());
}

void frmMain::StatusNote(const QString& text) { m_status->PanelText(1, u' ' + text); }

void frmMain::ShowFailure(const QString& path) {
    const QString cause = FailureCause(m_subtitle->LastFailure());
    QString text = QStringLiteral(" 发生错误");
    if (!path.isEmpty()) text += QStringLiteral("：") + QFileInfo(path).fileName();
    if (!cause.isEmpty()) text += QStringLiteral("：") + cause;
    m_status->PanelText(1, text);
    m_status->PanelText(2, QStringLiteral(" "));
}

int frmMain::FocusedRow() const {
    const ctlListView* l = List(m_activeList);
    return l ? l->Model()->FocusedRow() : -1;
}

void frmMain::FocusRow(int row) {
    ctlListView* l = List(m_activeList);
    if (!l || row < 0 || row >= l->Count()) return;
    if (QAbstractItemView* view = l->hwnd()) view->clearSelection();
    l->SetItemSelected(row, true);
    l->ItemEnsureVisible(row);
}

bool frmMain::RefuseRowCommand() {
    if (RunInProgress()) return RefuseWhileRunning();
    const ctlListView* l = List(m_activeList);
    return !l || l->isHidden() || l->Tag().isEmpty();
}

void frmMain::CmdUndo() {
    if (RunInProgress()) {
        RefuseWhileRunning();
        return;
    }
    doc::SubtitleDocument* d = Document(m_activeList);
    if (!d || d->Undo()) return;
    // The newest step is a merge another document has moved on from.
    if (d->History()->canUndo()) StatusNote(QStringLiteral("合并后其他文档已有修改，请先在那些文档中撤销"));
}

void frmMain::CmdRedo() {
    if (RunInProgress()) {
        RefuseWhileRunning();
        return;
    }
    doc::SubtitleDocument* d = Document(m_activeList);
    if (d) d->Redo();
}

void frmMain::CmdInsert(bool after) {
    if (RefuseRowCommand()) return;
    doc::SubtitleDocument* d = Document(m_activeList);
    const int focused = FocusedRow();
    int at = 0;
    doc::InsertTimes times{0, 2000};
    if (focused >= 0) {
        const int64_t focusedEnd = d->HasEnd(focused) ? d->End(focused) : d->Start(focused);
        if (after) {
            at = focused + 1;
            times = doc::TimesAfter(focusedEnd, at < d->Count() ? std::optional<int64_t>(d->Start(at)) : std::nullopt);
        } else {
            at = focused;
            std::optional<int64_t> previousEnd;
            if (focused > 0) previousEnd = d->HasEnd(focused - 1) ? d->End(focused - 1) : d->Start(focused - 1);
            times = doc::TimesBefore(d->Start(focused), previousEnd);
        }
    } else if (d->Count() > 0) {
        // Nothing focused: after the last cue.
        at = d->Count();
        const int last = at - 1;
        times = doc::TimesAfter(d->HasEnd(last) ? d->End(last) : d->Start(last), std::nullopt);
    }
    const int row = d->Insert(at, {{times.start, times.end, std::string()}},
                              after ? QStringLiteral("在后面插入") : QStringLiteral("在前面插入"));
    FocusRow(row);
    List(m_activeList)->EditCell(row, doc::ColText);
}

void frmMain::CmdDuplicate() {
    if (RefuseRowCommand()) return;
    doc::SubtitleDocument* d = Document(m_activeList);
    const int focused = FocusedRow();
    if (focused < 0) return;
    const int row = d->Insert(focused + 1, {d->Cue(focused)}, QStringLiteral("复制一行"));
    FocusRow(row);
}

void frmMain::CmdDeleteRows() {
    if (RefuseRowCommand()) return;
    const ctlListView* l = List(m_activeList);
    std::vector<int> rows = SelectedRows(l);
    if (rows.empty()) return;
    const int next = rows.front();
    Document(m_activeList)->Remove(std::move(rows), QStringLiteral("删除"));
    UpdateListStatus(m_activeList);
    // The row after the deleted ones takes the focus, so Del can go on.
    FocusRow(std::min(next, l->Count() - 1));
}

void frmMain::CmdSplit() {
    if (RefuseRowCommand()) return;
    ctlListView* l = List(m_activeList);
    doc::SubtitleDocument* d = Document(m_activeList);
    const int row = FocusedRow();
    if (row < 0) return;
    std::size_t at = 0;
    if (l->IsEditing() && l->CurrentColumn() == doc::ColText) {
        // At the text cursor: what was typed is taken first (its own step).
        const int cursor = l->EditorCursor();
        l->hwnd()->setFocus();
        if (l->IsEditing()) return;  // the edit was refused: its reason shows
        at = static_cast<std::size_t>(std::max(0, cursor));
    } else {
        at = doc::SplitPoint(d->Text(row));
    }
    const std::string_view text = d->Text(row);
    if (at == 0 || at >= text.size()) {
        StatusNote(QStringLiteral("这一行没有可以拆分的位置"));
        return;
    }
    d->Split(row, at, QStringLiteral("拆分"));
    FocusRow(row);
}

void frmMain::CmdJoin() {
    if (RefuseRowCommand()) return;
    const std::vector<int> rows = SelectedRows(List(m_activeList));
    if (rows.size() < 2 || rows.back() - rows.front() + 1 != static_cast<int>(rows.size())) {
        StatusNote(QStringLiteral("请选择相邻的两行或多行"));
        return;
    }
    Document(m_activeList)->Join(rows.front(), rows.back(), QStringLiteral("合并"));
    FocusRow(rows.front());
}

void frmMain::CmdNudge(bool start, int amount) {
    if (RefuseRowCommand()) return;
    doc::SubtitleDocument* d = Document(m_activeList);
    const int row = FocusedRow();
    if (row < 0) return;
    if (start) {
        d->SetStart(row, std::max<int64_t>(0, d->Start(row) + amount));
    } else if (d->HasEnd(row)) {
        d->SetEnd(row, std::max<int64_t>(0, d->End(row) + amount));
    }
}

}  // namespace lumeval
