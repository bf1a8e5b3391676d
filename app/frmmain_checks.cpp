// 检查: the quality checks of every open document, their marks in the rows,
// a list of the findings that goes to a row on a click, and the repairs.
#include <QDialog>
#include <QDialogButtonBox>
#include <QSpinBox>
#include <QFormLayout>
#include <QDoubleSpinBox>
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
    checks = std::make_unique<doc::DocumentChecks>(Document(index), CheckLimitsSet());
    m_sources[static_cast<std::size_t>(index)]->SetChecks(checks.get());
    connect(checks.get(), &doc::DocumentChecks::ProblemsChanged, this, [this] { ChecksChanged(); });
    connect(Document(index), &doc::SubtitleDocument::RowsRemoved, this, [this] { ChecksChanged(); });
    connect(Document(index), &doc::SubtitleDocument::RowsInserted, this, [this] { ChecksChanged(); });
}

doc::CheckLimits frmMain::CheckLimitsSet() const {
    // The limits are the user's settings (the defaults until set).
    const auto setting = [](const char* name) { return modRegistry::ReadSetting(QString::fromLatin1(name), QString()); };
    return editor::CheckLimitsFrom({setting("CheckMinDuration"), setting("CheckMaxDuration"), setting("CheckMinGap"),
                                    setting("CheckMaxCps"), setting("CheckMaxLineWidth"), setting("CheckMaxLines")});
}

void frmMain::EditCheckLimits() {
    const doc::CheckLimits now = CheckLimitsSet();
    auto* dialog = new QDialog(m_checksDialog ? static_cast<QWidget*>(m_checksDialog) : this);
    dialog->setObjectName(QStringLiteral("checkLimitsDialog"));
    dialog->setWindowTitle(QStringLiteral("检查的限值"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* form = new QFormLayout(dialog);
    auto whole = [&](const char* name, const QString& label, int low, int high, int64_t value, const QString& unit) {
        auto* box = new QSpinBox(dialog);
        box->setObjectName(QString::fromLatin1(name));
        box->setRange(low, high);
        box->setValue(static_cast<int>(value));
        box->setSuffix(unit);
        form->addRow(label, box);
        return box;
    };
    QSpinBox* minDuration = whole("CheckMinDuration", QStringLiteral("最短持续时间(&S)："), 0, 3600000, now.minDurationMs, QStringLiteral(" 毫秒"));
    QSpinBox* maxDuration = whole("CheckMaxDuration", QStringLiteral("最长持续时间(&L)："), 1, 3600000, now.maxDurationMs, QStringLiteral(" 毫秒"));
    QSpinBox* minGap = whole("CheckMinGap", QStringLiteral("最小间隔(&G)："), 0, 60000, now.minGapMs, QStringLiteral(" 毫秒"));
    auto* cps = new QDoubleSpinBox(dialog);
    cps->setObjectName(QStringLiteral("CheckMaxCps"));
    cps->setRange(0.1, 1000);
    cps->setDecimals(1);
    cps->setValue(now.maxCharsPerSecond);
    cps->setSuffix(QStringLiteral(" 字/秒"));
    form->addRow(QStringLiteral("最快阅读速度(&R)："), cps);
    QSpinBox* width = whole("CheckMaxLineWidth", QStringLiteral("单行最多字符(&W)："), 1, 10000, now.maxLineWidth, QString());
    QSpinBox* lines = whole("CheckMaxLines", QStringLiteral("最多行数(&N)："), 1, 1000, now.maxLines, QString());
    auto* buttons = new QDialogButtonBox(dialog);
    buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    QPushButton* defaults = buttons->addButton(QStringLiteral("默认值(&D)"), QDialogButtonBox::ResetRole);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(defaults, &QPushButton::clicked, dialog, [=] {
        const doc::CheckLimits d;
        minDuration->setValue(static_cast<int>(d.minDurationMs));
        maxDuration->setValue(static_cast<int>(d.maxDurationMs));
        minGap->setValue(static_cast<int>(d.minGapMs));
        cps->setValue(d.maxCharsPerSecond);
        width->setValue(d.maxLineWidth);
        lines->setValue(d.maxLines);
    });
    connect(dialog, &QDialog::accepted, this, [=, this] {
        const auto store = [](const char* name, const QString& value) {
            modRegistry::WriteSetting(QString::fromLatin1(name), value);
        };
        store("CheckMinDuration", QString::number(minDuration->value()));
        store("CheckMaxDuration", QString::number(maxDuration->value()));
        store("CheckMinGap", QString::number(minGap->value()));
        store("CheckMaxCps", QString::number(cps->value()));
        store("CheckMaxLineWidth", QString::number(width->value()));
        store("CheckMaxLines", QString::number(lines->value()));
        // Read back through the same rule as at start, then every document again.
        const doc::CheckLimits limits = CheckLimitsSet();
        for (auto& checks : m_checks)
            if (checks) checks->SetLimits(limits);
        ChecksChanged();
    });
    dialog->open();
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
        QPushButton* limits = buttons->addButton(QStringLiteral("限值(&L)..."), QDialogButtonBox::ActionRole);
        limits->setObjectName(QStringLiteral("checkLimits"));
        connect(limits, &QPushButton::clicked, this, [this] { EditCheckLimits(); });
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
