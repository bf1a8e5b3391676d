// frmMain: clicks on the document lists, their context menus, and the
// video preview around the playback object.
#include "app/frmmain.h"

#include <algorithm>

#include "controls/clscontrols.h"
#include "controls/ctllistview.h"
#include "controls/ucstatusbar.h"
#include "document/document.h"
#include "engine/subtitle.h"
#include "media/clsdirectshow.h"
#include "system/clssystem.h"

namespace lumeval {

QString RowCommandsGroup();

// ---- lists -----------------------------------------------------------------

void frmMain::ListClick(int Index, int Button) {
    if (Button != 1 && Button != 2) return;
    m_activeList = Index;
    UpdateListStatus(Index);
    if (Button != 2) return;

    int open = 0;
    for (int i = 0; i < ListCount(); ++i) open += ListOpen(i) ? 1 : 0;
    QString menu = editor::ListMenuText(ListHasRows(Index), open > 1);
    // The row commands follow the design's groups, for an open document.
    if (!List(Index)->Tag().isEmpty()) menu += QStringLiteral("|-|") + RowCommandsGroup();
    const QString item = editor::MenuItemAt(menu, m_system->PopupMenu(menu, -1, -1, nullptr));
    if (!item.isEmpty()) ActOnListMenu(item);
}

void frmMain::ActOnListMenu(const QString& chosen) {
    ctlListView* list = List(m_activeList);
    if (!list) return;
    // Items of the row commands carry their shortcut after a tab.
    const QString item = chosen.section(u'\t', 0, 0);
    struct RowAction {
        const char16_t* item;
        void (frmMain::*run)();
    };
    static const RowAction kRowActions[] = {
        {u"撤销", &frmMain::CmdUndo},        {u"重做", &frmMain::CmdRedo},
        {u"复制一行", &frmMain::CmdDuplicate}, {u"删除行", &frmMain::CmdDeleteRows},
        {u"拆分", &frmMain::CmdSplit},       {u"合并", &frmMain::CmdJoin},
    };
    for (const RowAction& a : kRowActions) {
        if (item == QString::fromUtf16(a.item)) {
            (this->*a.run)();
            return;
        }
    }
    if (item == QStringLiteral("在后面插入") || item == QStringLiteral("在前面插入")) {
        CmdInsert(item == QStringLiteral("在后面插入"));
        return;
    }
    if (item.endsWith(QStringLiteral("100毫秒")) && (item.startsWith(QStringLiteral("开始位置")) || item.startsWith(QStringLiteral("结束位置")))) {
        CmdNudge(item.startsWith(QStringLiteral("开始位置")), item.contains(QStringLiteral("提前")) ? -100 : 100);
        return;
    }
    if (const auto amount = editor::TimeShiftAmount(item)) {
        RunCommand(QStringLiteral("timeoffsetall") + QString::number(*amount));
        return;
    }
    const int copyColumn = item == QStringLiteral("复制开始位置")   ? 1
                           : item == QStringLiteral("复制结束位置") ? 2
                           : item == QStringLiteral("复制文本")     ? 3
                                                                   : 0;
    // Everything but copying changes rows, which waits for a running load.
    if (copyColumn == 0 && RunInProgress()) {
        RefuseWhileRunning();
        return;
    }
    if (copyColumn != 0) {
        const QString text = list->ItemText(list->ItemIndex(), copyColumn);
        m_system->ClipboardClear();
        m_system->ClipboardSetText(text);
        Information(QStringLiteral("已经复制：") + text);
    } else if (item == QStringLiteral("删除")) {
        CmdDeleteRows();
    } else if (item == QStringLiteral("清除")) {
        Document(m_activeList)->Clear(item);
        UpdateListStatus(m_activeList);
    } else if (item == QStringLiteral("清除样式")) {
        Document(m_activeList)->RewriteTexts(
            [](std::string_view text) { return clsSubtitle::KillTagFor(std::string(text), "{", "}"); }, item);
        Information(QStringLiteral("已经完成"));
    } else if (item == QStringLiteral("保存")) {
        RunCommand(QStringLiteral("save"));
    } else if (item == QStringLiteral("基于文件合并字幕")) {
        RunCommand(QStringLiteral("combinesubtitle_by_file"));
    } else if (item == QStringLiteral("基于时间合并字幕")) {
        RunCommand(QStringLiteral("combinesubtitle_by_timeline"));
    } else if (item == QStringLiteral("关闭")) {
        CloseActiveList();
    } else if (item == QStringLiteral("关闭全部")) {
        CloseAllLists();
    }
}

namespace {

// The seek bar beyond the design's fill: the played part, a line that can
// be seen and a frame (colours as 0x00BBGGRR).
constexpr qint32 kPlayedColor = 0xF0D8B0;
constexpr qint32 kPositionColor = 0x202020;
constexpr qint32 kBarBorderColor = 0xB0B0B0;

// A closed document holds nothing, not even its history.
void Empty(doc::SubtitleDocument* d) {
    d->BeginLoad();
    d->EndLoad();
    d->SetPath(QString());
    d->SetFormat({});
    d->SetOwnWriting(false);
}

}  // namespace

void frmMain::CloseActiveList() {
    ctlListView* list = List(m_activeList);
    if (!list || !ConfirmDiscard(m_activeList)) return;
    Empty(Document(m_activeList));
    ForgetBackup(m_activeList);
    DropKeep(m_activeList);
    list->SetTag(QString());
    list->setVisible(false);
    bool found = false;
    for (int i = ListCount() - 1; i >= 0; --i) {
        ctlListView* l = List(i);
        if (!l->Tag().isEmpty() && !l->isHidden()) {
            m_activeList = i;
            UpdateListStatus(i);
            // The keyboard goes where the commands now act.
            l->setFocus();
            found = true;
            break;
        }
    }
    if (!found) {
        // Nothing open is left: the status bar names nothing.
        m_status->PanelText(1, QStringLiteral(" "));
        m_status->PanelText(2, QStringLiteral(" "));
    }
    UpdateTitle();
    Form_Resize();
}

void frmMain::CloseAllLists() {
    if (!ConfirmDiscardAll()) return;
    for (int i = 0; i < ListCount(); ++i) {
        ctlListView* l = List(i);
        if (l->isHidden()) continue;
        Empty(Document(i));
        ForgetBackup(i);
        DropKeep(i);
        l->SetTag(QString());
        l->setVisible(false);
    }
    m_activeList = 0;
    m_status->PanelText(1, QStringLiteral(" "));
    m_status->PanelText(2, QStringLiteral(" "));
    UpdateTitle();
    Form_Resize();
}

void frmMain::ColumnClick(int Index, int Column) {
    if (Column != 1 && Column != 2) return;
    m_activeList = Index;
    UpdateListStatus(Index);
    const ctlListView* list = List(Index);
    if (!list || list->Tag().isEmpty() || list->Count() == 0) return;
    const QString& menu = editor::TimeShiftGroup();
    const auto amount = editor::TimeShiftAmount(editor::MenuItemAt(menu, m_system->PopupMenu(menu, -1, -1, nullptr)));
    if (!amount) return;
    RunCommand((Column == 1 ? QStringLiteral("timeoffsetstart") : QStringLiteral("timeoffsetend")) +
               QString::number(*amount));
}

void frmMain::ItemDblClick(int Index, int Item) {
    ctlListView* list = List(Index);
    if (!list || Item < 0 || Item >= list->Count()) return;
    if (!PreviewOpen()) {
        // No medium to seek: a double click edits the clicked cell.
        if (!RunInProgress()) list->EditCell(Item, list->LastDblClickColumn());
        return;
    }
    const double ms = clsSubtitle::TimeToMSecs(list->ItemText(Item, 1).toStdString(), ",");
    m_directShow->Position(ms / 1000.0);
    // Paused, no tick comes: the bar, the playing row and the subtitles follow now.
    AfterSeek();
}

// ---- preview -----------------------------------------------------------------

void frmMain::OpenVideo(const QString& path) {
    if (path.isEmpty() || !clsSystem::FileExists(path) || clsSystem::isFolder(path)) return;
    if (PreviewOpen()) m_directShow->DS_Remove(true);
    if (m_directShow->DS_OpenFile(path, 0, 0, m_client->width() - 1, 200, m_client, true, true).toBool()) {
        Form_Resize();
        m_directShow->DS_Play();
    }
}

void frmMain::PlayRect(int Left, int Top, int Width, int Height) {
    m_videoRect = editor::WinRect{Left, Top, Left + Width, Top + Height};
    PlaceOverlay();
}

void frmMain::PlayStatus(double, double, int Status) {
    switch (Status) {
        case 0:
            m_controls->ClearHdc(m_client);
            PlaybackClosed();
            // Ended or closed: the lists take the whole height again at once.
            Form_Resize();
            break;
        case 1:
        case 2:
            DrawSeekBar();
            PlayheadMoved();
            break;
        case 3: {
            ShowWaveform();
            const QString companion = QString::fromStdString(
                clsSubtitle::CheckSubtitle(m_directShow->FileName().toStdString(), true));
            bool open = false;
            for (const ctlListView* l : m_lists) open = open || l->Tag() == companion;
            if (!open) OpenSubtitle(companion);
            break;
        }
        default: break;
    }
}

void frmMain::DrawSeekBar() {
    m_controls->ClearHdc(m_client);
    const editor::WinRect& r = m_seekBarRect;
    m_controls->DrawRectToHdc(m_client, r.Left, r.Top, r.Right, r.Bottom, 0xF8F8F8);
    // An unknown duration gives the position no place on the bar: no line.
    const double duration = m_directShow->Duration();
    const double position = m_directShow->Position();
    if (duration > 0) {
        const int x = r.Left + static_cast<int>(position / duration * (r.Right - r.Left));
        // The played part shaded, so the place shows at a glance.
        if (x > r.Left) m_controls->DrawRectToHdc(m_client, r.Left, r.Top, x, r.Bottom, kPlayedColor);
        m_controls->DrawLineToHdc(m_client, x, r.Top, x, r.Bottom, kPositionColor, 2);
    }
    m_controls->DrawRectToHdc(m_client, r.Left, r.Top, r.Right, r.Bottom, -1, kBarBorderColor);
    m_controls->DrawTextToHdc(m_client, editor::SeekBarTime(position, duration), r.Left + 4, r.Top,
                              r.Right - 4, r.Bottom, 0x202020, QString(), 0, 1);
}

void frmMain::SeekToPointer(int x) {
    const editor::WinRect& r = m_seekBarRect;
    if (r.Right <= r.Left) return;
    m_directShow->Position(static_cast<double>(x - r.Left) / (r.Right - r.Left) * m_directShow->Duration());
    if (m_directShow->Status() == 2) {
        DrawSeekBar();
        PlayheadMoved();
    }
}

void frmMain::ClientMessage(qint32 uMsg, qint32 wParam, qint32 lParam) {
    if (uMsg == WM_HOTKEY) {
        static const char* const kWords[] = {"find", "about", "findnext"};
        if (wParam >= 0 && wParam < 3) RunCommand(QString::fromLatin1(kWords[wParam]));
        return;
    }
    const int x = LoWord(lParam);
    const int y = HiWord(lParam);
    const bool media = PreviewOpen();
    switch (uMsg) {
        case WM_LBUTTONDOWN:
            if (media && m_seekBarRect.Contains(x, y)) m_seekDragging = true;
            break;
        case WM_MOUSEMOVE:
            if (media && m_seekDragging && m_seekBarRect.Contains(x, y)) SeekToPointer(x);
            break;
        case WM_LBUTTONUP:
            if (media && m_videoRect.Contains(x, y)) m_directShow->Pause(!m_directShow->Pause());
            if (media && m_seekDragging && m_seekBarRect.Contains(x, y)) SeekToPointer(x);
            m_seekDragging = false;
            break;
        case WM_RBUTTONUP:
            if (media && m_videoRect.Contains(x, y)) {
                const QString item = editor::MenuItemAt(editor::kVideoMenu, m_system->PopupMenu(editor::kVideoMenu, -1, -1, nullptr));
                if (item == QStringLiteral("暂停/恢复")) m_directShow->Pause(!m_directShow->Pause());
                if (item == QStringLiteral("关闭")) m_directShow->DS_Remove(true);
            }
            break;
        default: break;
    }
}

}  // namespace lumeval
