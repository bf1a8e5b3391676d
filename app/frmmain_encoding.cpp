// Encodings in the window: the status bar says which encoding the active
// document was read with and how it was come by, and a file that was
// misread opens again in an encoding the user picks (which is then the one
// it is saved in).
#include <QAction>
#include <algorithm>
#include <QCursor>
#include <QFileInfo>
#include <QMenu>

#include "app/editorlogic.h"
#include "app/frmmain.h"
#include "controls/ctllistview.h"
#include "controls/ucstatusbar.h"
#include "document/document.h"
#include "system/clssystem.h"

namespace lumeval {


void frmMain::BuildEncodingMenu(QMenu* file) {
    // Before the recent files, which stay the File menu's last item.
    m_reopenMenu = new QMenu(QStringLiteral("重新以编码打开(&E)"), file);
    file->insertMenu(m_recentMenu ? m_recentMenu->menuAction() : nullptr, m_reopenMenu);
    for (const editor::EncodingChoice& c : editor::EncodingChoices()) {
        QAction* a = m_reopenMenu->addAction(c.name);
        const int32_t encoding = c.encoding, codePage = c.codePage;
        connect(a, &QAction::triggered, this, [this, encoding, codePage] { ReopenWithEncoding(encoding, codePage); });
    }
    connect(m_reopenMenu, &QMenu::aboutToShow, this, [this] {
        const doc::SubtitleDocument* d = Document(m_activeList);
        const bool file = d && !d->Path().isEmpty() && List(m_activeList) && !List(m_activeList)->isHidden();
        for (QAction* a : m_reopenMenu->actions()) a->setEnabled(file);
    });
}

void frmMain::AddEncodingPanel() {
    // After the design's four panels, so their numbers stay.
    m_status->AddPanel(0, 90, 0, 2, QString(), QStringLiteral("读取文件时使用的编码；单击以其他编码重新打开"), 0);
}

void frmMain::UpdateEncodingPanel() {
    if (!m_status || m_status->PanelCount() < kEncodingPanel) return;
    const doc::SubtitleDocument* d = Document(m_activeList);
    const ctlListView* l = List(m_activeList);
    if (!d || !l || l->isHidden() || d->Path().isEmpty() || d->Encoding() < 0) {
        m_status->PanelText(kEncodingPanel, QString());
        return;
    }
    using How = doc::SubtitleDocument::EncodingSource;
    // Text of ASCII alone was read by no code page in particular.
    const bool ascii = d->Encoding() == 0 && d->CodePage() == 0;
    QString text = QStringLiteral(" ") +
                   (ascii ? QStringLiteral("ASCII") : editor::EncodingName(d->Encoding(), d->CodePage(), d->ByteOrderMark()));
    switch (d->HowEncoded()) {
        case How::Detected: text += QStringLiteral("（检测）"); break;
        case How::Assumed: text += QStringLiteral("（默认）"); break;
        case How::Picked: text += QStringLiteral("（指定）"); break;
    }
    m_status->PanelText(kEncodingPanel, text);
    // The panel fits its text ("UTF-8（带 BOM）（检测）" is the longest).
    m_status->PanelMinWidth(kEncodingPanel, std::max(90, m_status->fontMetrics().horizontalAdvance(text) + 16));
}

void frmMain::ReopenWithEncoding(int32_t encoding, int32_t codePage) {
    if (RunInProgress()) {
        RefuseWhileRunning();
        return;
    }
    const int index = m_activeList;
    const doc::SubtitleDocument* d = Document(index);
    if (!d || d->Path().isEmpty()) {
        StatusNote(QStringLiteral("没有可重新打开的文件"));
        return;
    }
    const QString path = d->Path();
    if (!clsSystem::FileExists(path)) {
        StatusNote(QStringLiteral("文件已不存在：") + QFileInfo(path).fileName());
        return;
    }
    // The changes would be lost: the user says so first.
    if (d->IsChanged() &&
        !m_system->AskYesNo(QStringLiteral("文档已修改，以其他编码重新打开将放弃这些修改。是否继续？"),
                            MsgIcon::Exclamation, QFileInfo(path).fileName(), true, this))
        return;
    LoadSubtitle(path, index, encoding, codePage);
}

}  // namespace lumeval
