// Timing tools of the Edit menu: shift by a typed amount, two-point
// synchronisation and a frame-rate change, each one undoable step on the
// selected rows (two or more) or on all of them.
#include <QAction>
#include <QMenu>

#include "app/editorlogic.h"
#include "app/frmmain.h"
#include "controls/ctllistview.h"
#include "document/document.h"
#include "document/editops.h"
#include "system/clssystem.h"

namespace lumeval {

namespace {

// The rows a timing tool changes: the selection when it holds two or more
// rows, else every row.
std::vector<int> ToolRows(const ctlListView* l, int count) {
    std::vector<int> rows;
    for (int i = l->ItemFindState(-1, ctlListView::StateSelected); i >= 0;
         i = l->ItemFindState(i, ctlListView::StateSelected))
        rows.push_back(i);
    if (rows.size() < 2) {
        rows.resize(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) rows[static_cast<std::size_t>(i)] = i;
    }
    return rows;
}

}  // namespace

void frmMain::BuildTimingMenu(QMenu* edit) {
    edit->addSeparator();
    connect(edit->addAction(QStringLiteral("时间平移(&M)…")), &QAction::triggered, this, [this] { CmdShiftBy(); });
    connect(edit->addAction(QStringLiteral("两点同步(&Y)…")), &QAction::triggered, this, [this] { CmdSyncTwoPoints(); });
    connect(edit->addAction(QStringLiteral("帧率转换(&F)…")), &QAction::triggered, this, [this] { CmdChangeFrameRate(); });
}

bool frmMain::ApplyRetime(const editor::Retime& retime, const QString& step) {
    doc::SubtitleDocument* d = Document(m_activeList);
    std::vector<doc::SubtitleDocument::TimeChange> times;
    const std::vector<int> rows = ToolRows(List(m_activeList), d->Count());
    times.reserve(rows.size());
    for (const int r : rows)
        times.push_back({r, retime.Apply(d->Start(r)), d->HasEnd(r) ? retime.Apply(d->End(r)) : doc::kNoEnd});
    return d->SetTimes(std::move(times), step);
}

void frmMain::CmdShiftBy() {
    if (RefuseRowCommand()) return;
    bool cancelled = false;
    const QString typed = m_system->InputBox(
        QStringLiteral("平移多少？毫秒数（如 -1500）或时间（如 -0:01.5、00:00:02,000）："), QStringLiteral("时间平移"),
        QString(), &cancelled, this);
    if (cancelled || typed.trimmed().isEmpty()) return;
    const std::optional<int64_t> amount = editor::ParseShiftAmount(typed);
    if (!amount) {
        StatusNote(QStringLiteral("无法识别的时间：") + typed.left(64));
        return;
    }
    doc::SubtitleDocument* d = Document(m_activeList);
    const std::vector<int> rows = ToolRows(List(m_activeList), d->Count());
    d->Shift(*amount, true, true, QStringLiteral("时间平移"), &rows);
}

void frmMain::CmdSyncTwoPoints() {
    if (RefuseRowCommand()) return;
    int64_t points[2][2] = {};
    for (int k = 0; k < 2; ++k) {
        bool cancelled = false;
        const QString typed = m_system->InputBox(
            QStringLiteral("第 %1 个同步点，原时间=新时间（如 00:01:10,000=00:01:12,300）：").arg(k + 1),
            QStringLiteral("两点同步"), QString(), &cancelled, this);
        if (cancelled || typed.trimmed().isEmpty()) return;
        const qsizetype eq = typed.indexOf(u'=');
        const doc::TypedTime old = doc::ParseTypedTime(typed.left(eq < 0 ? 0 : eq).toStdString());
        const doc::TypedTime now = doc::ParseTypedTime(eq < 0 ? std::string() : typed.mid(eq + 1).toStdString());
        if (eq < 0 || !old.ms || !now.ms) {
            StatusNote(QStringLiteral("无法识别的同步点：") + typed.left(64));
            return;
        }
        points[k][0] = *old.ms;
        points[k][1] = *now.ms;
    }
    QString why;
    const auto retime = editor::SyncRetime(points[0][0], points[0][1], points[1][0], points[1][1], &why);
    if (!retime) {
        StatusNote(why);
        m_system->MsgBox(why, MsgButtons::OkOnly, MsgIcon::Exclamation, QStringLiteral("两点同步"), 0, this);
        return;
    }
    ApplyRetime(*retime, QStringLiteral("两点同步"));
}

void frmMain::CmdChangeFrameRate() {
    if (RefuseRowCommand()) return;
    bool cancelled = false;
    const QString typed = m_system->InputBox(
        QStringLiteral("原帧率:目标帧率（如 25:23.976；常用 23.976、24、25、29.97、30）："), QStringLiteral("帧率转换"),
        QStringLiteral("25:23.976"), &cancelled, this);
    if (cancelled || typed.trimmed().isEmpty()) return;
    const auto retime = editor::ParseRateChange(typed);
    if (!retime) {
        const QString why = QStringLiteral("帧率必须是大于 0、不超过 1000 的数，写成 原帧率:目标帧率");
        StatusNote(why);
        m_system->MsgBox(why, MsgButtons::OkOnly, MsgIcon::Exclamation, QStringLiteral("帧率转换"), 0, this);
        return;
    }
    ApplyRetime(*retime, QStringLiteral("帧率转换"));
}

}  // namespace lumeval
