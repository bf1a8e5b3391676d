// Crash backups of the changed documents, written off the window thread a
// moment after each change, and offered back at the next start.
#include <QFileInfo>
#include <QUndoStack>
#include <cstdio>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

#include "app/frmmain.h"
#include "controls/ctllistview.h"
#include "controls/ucstatusbar.h"
#include "document/document.h"
#include "document/recovery.h"
#include "engine/encoding/textfile.h"
#include "system/clssystem.h"

namespace lumeval {

namespace {

// A backup follows the last change within this time; a burst of changes
// (typing) is one backup, not one per key.
constexpr int kBackupDelayMs = 2000;
// Below this many rows fresh memory for a snapshot costs under a
// millisecond or two; above it the memory is made off the window thread.
constexpr int kRoomFromRows = 20000;

// The app's own part of a backup: the mark of the file.
QByteArray ExtraOf(const doc::SubtitleDocument* d) { return d->ByteOrderMark() ? "bom=1" : "bom=0"; }
bool MarkIn(const QByteArray& extra) { return extra.contains("bom=1"); }

}  // namespace

void frmMain::StartBackups() {
    m_recovery = std::make_unique<doc::RecoveryStore>();
    QString why;
    if (!m_recovery->Open(&why)) {
        // Editing goes on without backups; say so once.
        std::fprintf(stderr, "lumeval: no crash backups: %s\n", why.toLocal8Bit().constData());
    }
    connect(m_recovery.get(), &doc::RecoveryStore::Written, this,
            [this](quint64 id, bool ok, const QString& error) { BackupWritten(id, ok, error); }, Qt::QueuedConnection);
    m_backupTimer = new QTimer(this);
    m_backupTimer->setSingleShot(true);
    m_backupTimer->setInterval(kBackupDelayMs);
    connect(m_backupTimer, &QTimer::timeout, this, [this] { WriteBackups(); });
}

void frmMain::WatchForBackups(int index) {
    if (static_cast<int>(m_backups.size()) <= index) m_backups.resize(static_cast<std::size_t>(index) + 1);
    m_backups[static_cast<std::size_t>(index)].id = ++m_nextBackupId;
    doc::SubtitleDocument* d = Document(index);
    connect(d->History(), &QUndoStack::indexChanged, this, [this, index] { BackupChanged(index); });
    connect(d->History(), &QUndoStack::cleanChanged, this, [this, index] { BackupChanged(index); });
}

void frmMain::BackupChanged(int index) {
    if (index < 0 || index >= static_cast<int>(m_backups.size())) return;
    ++m_backups[static_cast<std::size_t>(index)].changes;
    if (m_backupTimer && !m_backupTimer->isActive()) m_backupTimer->start();
}

void frmMain::ForgetBackup(int index) {
    if (!m_recovery || index < 0 || index >= static_cast<int>(m_backups.size())) return;
    BackupState& b = m_backups[static_cast<std::size_t>(index)];
    m_recovery->Remove(b.id);
    // Restored work saved or given up: the backup it came from goes too.
    if (!b.orphan.isEmpty()) m_recovery->Discard(b.orphan);
    b.orphan.clear();
    // What follows is another document's work: a new name for its backup.
    b.id = ++m_nextBackupId;
    b.backedUp = b.changes;
    b.written = false;
}

void frmMain::WriteBackups() {
    if (!m_recovery || !m_recovery->IsOpen()) return;
    for (int i = 0; i < ListCount() && i < static_cast<int>(m_backups.size()); ++i) WriteBackup(i);
}

void frmMain::WriteBackup(int index) {
    BackupState& b = m_backups[static_cast<std::size_t>(index)];
    doc::SubtitleDocument* d = Document(index);
    if (!d || d->Loading() || b.preparing) return;
    if (!d->IsChanged() || List(index)->isHidden()) {
        // Saved, undone back to the saved state, or closed: nothing to keep.
        if (b.written || b.backedUp != b.changes) m_recovery->Remove(b.id);
        b.written = false;
        b.backedUp = b.changes;
        return;
    }
    if (b.backedUp == b.changes && b.written) return;
    const std::size_t rows = static_cast<std::size_t>(d->Count());
    const bool roomFits = b.room && b.room.use_count() == 1 && b.room->Fits(rows);
    if (!roomFits && d->Count() >= kRoomFromRows) {
        // Touching tens of megabytes of new memory would stall the window:
        // it is made on a pool thread, and the backup follows when it is.
        b.preparing = true;
        const std::size_t want = rows + rows / 8 + 64;
        QPointer<frmMain> self(this);
        const quint64 id = b.id;
        QThreadPool::globalInstance()->start([self, index, id, want] {
            std::shared_ptr<doc::DocumentSnapshot> made = doc::DocumentSnapshot::WithRoom(want);
            if (!self) return;
            // The room travels alone: the window thread holds its only
            // reference, so the snapshot may fill it.
            QMetaObject::invokeMethod(
                self.data(),
                [self, index, id, room = std::move(made)]() mutable {
                    if (!self || index >= static_cast<int>(self->m_backups.size())) return;
                    BackupState& state = self->m_backups[static_cast<std::size_t>(index)];
                    state.preparing = false;
                    if (state.id != id) return;
                    state.room = std::move(room);
                    self->WriteBackup(index);
                },
                Qt::QueuedConnection);
        });
        return;
    }
    // The last snapshot is filled again once the worker has let it go.
    std::shared_ptr<doc::DocumentSnapshot> snapshot = d->Snapshot(roomFits ? std::move(b.room) : nullptr);
    b.room = snapshot;
    doc::BackupInfo info;
    info.path = d->Path();
    info.format = d->Format();
    info.encoding = d->Encoding();
    info.codePage = d->CodePage();
    info.changed = true;
    info.extra = ExtraOf(d);
    m_recovery->Save(b.id, std::move(info), std::move(snapshot));
    b.backedUp = b.changes;
    b.written = true;
}

void frmMain::BackupWritten(quint64 id, bool ok, const QString& error) {
    if (!ok) {
        StatusNote(QStringLiteral("无法写入备份：") + error);
        return;
    }
    // A restored document's own backup is on disk: the one it came from can go.
    for (BackupState& b : m_backups) {
        if (b.id == id && !b.orphan.isEmpty()) {
            m_recovery->Discard(b.orphan);
            b.orphan.clear();
        }
    }
}

void frmMain::DropAllBackups() {
    if (!m_recovery) return;
    for (BackupState& b : m_backups) {
        m_recovery->Remove(b.id);
        if (!b.orphan.isEmpty()) m_recovery->Discard(b.orphan);
        b.orphan.clear();
    }
    m_recovery->Flush();
}

void frmMain::OfferRecovery() {
    if (!m_recovery || !m_recovery->IsOpen()) return;
    std::vector<std::pair<QString, doc::Backup>> found;
    for (const QString& file : m_recovery->ClaimOrphans()) {
        std::optional<doc::Backup> backup = doc::RecoveryStore::Read(file);
        if (!backup) {
            m_recovery->Discard(file);  // damaged: nothing to give back
            continue;
        }
        found.emplace_back(file, std::move(*backup));
    }
    if (found.empty()) return;
    if (!m_system->AskYesNo(QStringLiteral("发现上次未保存的修改，是否恢复？"), MsgIcon::Question, {}, false, this)) {
        for (const auto& f : found) m_recovery->Discard(f.first);
        return;
    }
    for (auto& f : found) RestoreBackup(f.first, f.second);
}

void frmMain::RestoreBackup(const QString& file, const doc::Backup& backup) {
    if (m_lists.back()->Count() > 0 || Changed(ListCount() - 1)) AddList();
    const int index = ListCount() - 1;
    m_activeList = index;
    ctlListView* list = m_lists.back();
    const QString path = backup.info.path;
    list->SetTag(path.isEmpty() ? QStringLiteral("恢复的字幕") : path);
    list->setVisible(true);
    doc::SubtitleDocument* d = Document(index);
    ForgetBackup(index);
    d->BeginLoad(backup.Count());
    for (std::size_t i = 0; i < backup.Count(); ++i)
        d->AppendRestored(backup.Start(i), backup.End(i), backup.Text(i), backup.Serial(i));
    d->EndLoad();
    d->SetPath(path);
    d->SetFormat(backup.info.format);
    d->SetEncoding(backup.info.encoding, backup.info.codePage);
    d->SetByteOrderMark(MarkIn(backup.info.extra));
    d->MarkChanged();
    DropKeep(index);
    // Its file, if it is still there, is kept for Ctrl+S: the rows that
    // were not changed are found in it by their values.
    if (!path.isEmpty() && clsSystem::FileExists(path)) {
        const std::string file8 = path.toStdString();
        const int32_t encoding = backup.info.encoding;
        const int32_t page = backup.info.encoding == 0 ? backup.info.codePage : 0;
        KeepInBackground(
            index,
            [file8, encoding, page] {
                int32_t fmt = encoding;
                return UEFLoadTextFile(file8, fmt, page);
            },
            0, {}, true);
    }
    m_backups[static_cast<std::size_t>(index)].orphan = file;
    // Its own backup at once, so the claimed one can go.
    WriteBackup(index);
    UpdateListStatus(index);
    UpdateTitle();
    Form_Resize();
}

}  // namespace lumeval
