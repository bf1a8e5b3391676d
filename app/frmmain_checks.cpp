// 检查: the quality checks of every open document, their marks in the rows,
// a list of the findings that goes to a row on a click, and the repairs.
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/documentrows.h"
#include "app/editorlogic.h"
#include "app/frmmain.h"
#include "app/modregistry.h"
#include "controls/ctllistview.h"
#include "document/checks.h"
#include "document/document.h"

namespace lumeval {

namespace {

// The list shows this many findings at most: beyond, the marks in the rows
// and the counts say the rest.
constexpr int kListedFindings = 5000;

enum : int { kListRole = Qt::UserRole, kRowRole, kKindRole };

}  // namespace

void frmMain::BuildChecksMenu(QMenu* edit) {
    edit->addSeparator();
    m_checksAction = edit->addAction(QStringLiteral("检查(&C)"));
    m_checksAction->setShortcut(QKeySequence(Qt::Key_F7));
    m_checksAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_checksAction, &QAction::triggered, this, [this] { CmdChecks(); });
}

void frmMain::CheckDocument(int index) {
    if (!m_checking || index < 0 || index >= ListCount()) return;
    if (static_cast<int>(m_checks.size()) < ListCount()) m_checks.resize(static_cast<std::size_t>(ListCount()));
    auto& checks = m_checks[static_cast<std::size_t>(index)];
    if (checks) return;
    // The limits are the user's settings (the defaults until set).
    const auto setting = [](const char* name) { return modRegistry::ReadSetting(QString::fromLatin1(name), QString()); };
    const doc::CheckLimits limits = editor::CheckLimitsFrom(
        {setting("CheckMinDuration"), setting("CheckMaxDuration"), setting("CheckMinGap"), setting("CheckMaxCps"),
         setting("CheckMaxLineWidth"), setting("CheckMaxLines")});
    checks = std::make_unique<doc::DocumentChecks>(Document(index), limits);
    m_sources[static_cast<std::size_t>(index)]->SetChecks(checks.get());
    connect(checks.get(), &doc::DocumentChecks::ProblemsChanged, this, [this] { ChecksChanged(); });
    connect(Document(index), &doc::SubtitleDocument::RowsRemoved, this, [this] { ChecksChanged(); });
    connect(Document(index), &doc::SubtitleDocument::RowsInserted, this, [this] { ChecksChanged(); });
}

void frmMain::ChecksChanged() {
    // A burst of edits is one refresh of the list.
    if (m_checksDialog && m_checksDialog->isVisible() && !m_checksRefresh->isActive()) m_checksRefresh->start();
}

void frmMain::CmdChecks() {
    // Checking starts with the first 检查 and then follows every document.
    m_checking = true;
    for (int i = 0; i < ListCount(); ++i) CheckDocument(i);
    if (!m_checksDialog) {
        m_checksDialog = new QDialog(this);
        m_checksDialog->setObjectName(QStringLiteral("checksDialog"));
        m_checksDialog->setWindowTitle(QStringLiteral("检查"));
        m_checksDialog->resize(560, 360);
        auto* layout = new QVBoxLayout(m_checksDialog);
        m_checksSummary = new QLabel(m_checksDialog);
        m_checksTree = new QTreeWidget(m_checksDialog);
        m_checksTree->setObjectName(QStringLiteral("checksList"));
        m_checksTree->setHeaderLabels({QStringLiteral("文档"), QStringLiteral("行"), QStringLiteral("问题")});
        m_checksTree->setRootIsDecorated(false);
        m_checksTree->setUniformRowHeights(true);
        m_checksTree->header()->setStretchLastSection(true);
        auto* buttons = new QDialogButtonBox(m_checksDialog);
        QPushButton* fix = buttons->addButton(QStringLiteral("修正(&F)"), QDialogButtonBox::ActionRole);
        fix->setObjectName(QStringLiteral("fixOne"));
        QPushButton* fixAll = buttons->addButton(QStringLiteral("全部修正(&A)"), QDialogButtonBox::ActionRole);
        fixAll->setObjectName(QStringLiteral("fixAll"));
        // The window's own language, not Qt's untranslated "Close".
        buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
        layout->addWidget(m_checksSummary);
        layout->addWidget(m_checksTree);
        layout->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::rejected, m_checksDialog, &QDialog::hide);
        connect(m_checksTree, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { GoToFinding(item); });
        connect(m_checksTree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { GoToFinding(item); });
        connect(fix, &QPushButton::clicked, this, [this] { FixFinding(m_checksTree->currentItem()); });
        connect(fixAll, &QPushButton::clicked, this, [this] { FixAllFindings(); });
        m_checksRefresh = new QTimer(this);
        m_checksRefresh->setSingleShot(true);
        m_checksRefresh->setInterval(200);
        connect(m_checksRefresh, &QTimer::timeout, this, [this] { FillChecks(); });
    }
    FillChecks();
    m_checksDialog->show();
    m_checksDialog->raise();
    m_checksDialog->activateWindow();
}

void frmMain::FillChecks() {
    if (!m_checksTree) return;
    m_checksTree->clear();
    int64_t total = 0;
    int listed = 0;
    QList<QTreeWidgetItem*> items;
    for (int i = 0; i < ListCount() && i < static_cast<int>(m_checks.size()); ++i) {
        const doc::DocumentChecks* checks = m_checks[static_cast<std::size_t>(i)].get();
        if (!checks || List(i)->isHidden()) continue;
        total += checks->Total();
        if (listed >= kListedFindings) continue;
        const QString name = QFileInfo(List(i)->Tag()).fileName();
        for (const doc::Problem& p : checks->Problems()) {
            if (listed >= kListedFindings) break;
            auto* item = new QTreeWidgetItem({name, QString::number(p.row + 1), p.text});
            item->setData(0, kListRole, i);
            item->setData(0, kRowRole, p.row);
            item->setData(0, kKindRole, static_cast<int>(p.kind));
            items << item;
            ++listed;
        }
    }
    m_checksTree->addTopLevelItems(items);
    QString summary = total == 0 ? QStringLiteral("没有发现问题") : QStringLiteral("共发现 %1 个问题").arg(total);
    if (total > listed) summary += QStringLiteral("（列出前 %1 个）").arg(listed);
    m_checksSummary->setText(summary);
}

void frmMain::GoToFinding(QTreeWidgetItem* item) {
    if (!item) return;
    const int index = item->data(0, kListRole).toInt();
    const int row = item->data(0, kRowRole).toInt();
    if (!List(index) || row < 0 || row >= List(index)->Count()) return;
    m_activeList = index;
    FocusRow(row);
    UpdateListStatus(index);
}

void frmMain::FixFinding(QTreeWidgetItem* item) {
    if (!item || RefuseRowCommand()) return;
    const int index = item->data(0, kListRole).toInt();
    if (index < 0 || index >= static_cast<int>(m_checks.size()) || !m_checks[static_cast<std::size_t>(index)]) return;
    const auto kind = static_cast<doc::CheckKind>(item->data(0, kKindRole).toInt());
    if (!m_checks[static_cast<std::size_t>(index)]->Fix(item->data(0, kRowRole).toInt(), kind))
        StatusNote(QStringLiteral("这个问题没有自动修正的办法"));
    FillChecks();
}

void frmMain::FixAllFindings() {
    if (RunInProgress()) {
        RefuseWhileRunning();
        return;
    }
    // One undoable step in each document that changes.
    int fixed = 0;
    for (int i = 0; i < ListCount() && i < static_cast<int>(m_checks.size()); ++i)
        if (m_checks[static_cast<std::size_t>(i)] && !List(i)->isHidden())
            fixed += m_checks[static_cast<std::size_t>(i)]->FixAll();
    StatusNote(QStringLiteral("已修正 %1 处").arg(fixed));
    FillChecks();
}

}  // namespace lumeval
