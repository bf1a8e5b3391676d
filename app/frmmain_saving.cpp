// Saving a document in place (its own file, format and encoding), the
// recent files of the File menu, and what a failed save says.
#include <QAction>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>
#include <future>
#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "app/editorlogic.h"
#include "app/frmmain.h"
#include "app/modregistry.h"
#include "controls/ctllistview.h"
#include "controls/ucstatusbar.h"
#include "document/document.h"
#include "engine/encoding/codepage.h"
#include "engine/encoding/textfile.h"
#include "engine/formats.h"
#include "engine/keeper.h"
#include "engine/subtitle.h"
#include "system/clssystem.h"

namespace lumeval {

QString FailureCause(const RunFailure& f);

namespace {

constexpr int kRecentLimit = 10;

QString RecentValueName(int i) { return QStringLiteral("RecentFile%1").arg(i + 1); }

// "SubRip", "SSA/ASS", ...: the format's own name where the table has one.
QString FormatName(const std::string& key) {
    return key.empty() ? QStringLiteral("未知") : QString::fromStdString(key).toUpper();
}

}  // namespace

// ---- recent files ----------------------------------------------------------------

QStringList frmMain::RecentFiles() const {
    QStringList list;
    for (int i = 0; i < kRecentLimit; ++i) {
        const QString value = modRegistry::ReadSetting(RecentValueName(i), QString());
        if (!value.isEmpty() && !list.contains(value)) list << value;
    }
    return list;
}

void frmMain::StoreRecentFiles(const QStringList& list) {
    for (int i = 0; i < kRecentLimit; ++i)
        modRegistry::WriteSetting(RecentValueName(i), i < list.size() ? list[i] : QString());
}

void frmMain::NoteRecentFile(const QString& path) {
    StoreRecentFiles(editor::WithRecent(RecentFiles(), QFileInfo(path).absoluteFilePath(), kRecentLimit));
}

void frmMain::FillRecentMenu() {
    m_recentMenu->clear();
    const QStringList list = RecentFiles();
    if (list.isEmpty()) {
        m_recentMenu->addAction(QStringLiteral("（无）"))->setEnabled(false);
        return;
    }
    for (int i = 0; i < list.size(); ++i) {
        // &1 to &9, then 1&0, as file menus number them.
        const QString number = i < 9 ? QStringLiteral("&%1").arg(i + 1) : QStringLiteral("1&0");
        QString shown = list[i];
        shown.replace(u'&', QStringLiteral("&&"));
        QAction* action = m_recentMenu->addAction(number + u' ' + shown);
        const QString path = list[i];
        connect(action, &QAction::triggered, this, [this, path] { OpenRecentFile(path); });
    }
}

void frmMain::OpenRecentFile(const QString& path) {
    if (!clsSystem::FileExists(path) || clsSystem::isFolder(path)) {
        QStringList list = RecentFiles();
        list.removeAll(path);
        StoreRecentFiles(list);
        Information(QStringLiteral("文件已不存在，已从最近打开的文件中移除：\r\n") + path);
        return;
    }
    OpenSubtitle(path);
}

// ---- the File menu's additions -----------------------------------------------------

void frmMain::BuildSavingMenu(QMenu* file) {
    // The design's save keeps its dialog and becomes the save-as key.
    for (QAction* action : file->actions()) {
        if (action->data().toString() == QStringLiteral("save")) {
            action->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
            action->setShortcutContext(Qt::WindowShortcut);
        }
    }
    file->addSeparator();
    m_saveInPlaceAction = file->addAction(QStringLiteral("保存(&W)"));
    m_saveInPlaceAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    m_saveInPlaceAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_saveInPlaceAction, &QAction::triggered, this, [this] { SaveInPlace(m_activeList); });
    m_recentMenu = file->addMenu(QStringLiteral("最近打开的文件(&R)"));
    connect(m_recentMenu, &QMenu::aboutToShow, this, [this] { FillRecentMenu(); });
}

// ---- saving in place -----------------------------------------------------------------

bool frmMain::SaveInPlace(int index) {
    ctlListView* list = List(index);
    doc::SubtitleDocument* d = Document(index);
    if (!list || !d || list->isHidden()) return false;
    if (RunInProgress()) return !RefuseWhileRunning();
    const QString path = d->Path();
    // No file of its own, or one we cannot write: the dialog.
    const FormatKey* row = RowOfKey(d->Format());
    if (path.isEmpty() || list->Tag().isEmpty() || !row || !row->writer) return SaveList(index);

    FinishKeep(index);
    m_keptNote.clear();
    if (d->Kept()) {
        const KeptSave result = SaveKept(index);
        if (result != KeptSave::NotKept) return result == KeptSave::Saved;
    }
    // A file we wrote ourselves loses nothing by being written again.
    if (d->OwnWriting()) return SaveWhole(index);
    // Our writer would rewrite the whole file: say so and offer the dialog.
    const QString name = QFileInfo(path).fileName();
    QString what = QStringLiteral("Lumeval 不能原样保存“") + name + QStringLiteral("”（") + FormatName(d->Format()) +
                   QStringLiteral(" 格式）：保存会按 Lumeval 的写法重写整个文件，原文件中时间和文字以外的内容"
                                  "（样式、注释、其他标记）将会丢失。");
    if (!m_keptNote.isEmpty()) what = m_keptNote + QStringLiteral("\r\n\r\n") + what;
    what += QStringLiteral("\r\n\r\n是否另存为其他文件？");
    if (!m_system->AskYesNo(what, MsgIcon::Exclamation, {}, false, this)) return false;
    return SaveList(index);
}

void frmMain::KeepLoadedFile(int index, std::string text) {
    // A file read by its content as another format is not the format its
    // name says: writing it back in place is our writer's job.
    const RunInfo& run = m_subtitle->LastRun();
    if (run.sources.empty() || !run.sources.front().readByContent.empty()) return;
    const doc::SubtitleDocument* d = Document(index);
    auto held = std::make_shared<std::string>(std::move(text));
    KeepInBackground(index, [held] { return std::move(*held); }, static_cast<std::size_t>(d->Count()), {});
}

void frmMain::KeepInBackground(int index, std::function<std::string()> text, std::size_t expected,
                               std::vector<int32_t> origins, bool match) {
    if (index < 0 || index >= ListCount()) return;
    if (static_cast<int>(m_keepJobs.size()) < ListCount()) m_keepJobs.resize(static_cast<std::size_t>(ListCount()));
    const std::string key = Document(index)->Format();
    auto task = std::make_shared<std::packaged_task<std::shared_ptr<KeptFile>()>>(
        [key, text = std::move(text), match]() -> std::shared_ptr<KeptFile> {
#if defined(__linux__)
            // Behind the window thread when the processors are busy: the
            // document is on the screen already, this only serves a save.
            setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
#endif
            std::shared_ptr<KeptFile> kept = KeptFile::Parse(key, text());
            // Held again only for a save: the document is the text now.
            // Rows matched by their values need it once more.
            if (kept && !match) kept->ReleaseText();
            return kept;
        });
    KeepJob job;
    job.serial = ++m_nextKeepJob;
    job.expected = expected;
    job.origins = std::move(origins);
    job.match = match;
    job.result = task->get_future().share();
    const quint64 serial = job.serial;
    m_keepJobs[static_cast<std::size_t>(index)] = std::move(job);
    QPointer<frmMain> self(this);
    QThreadPool::globalInstance()->start([task, self, index, serial] {
        (*task)();
        if (!self) return;
        QMetaObject::invokeMethod(
            self.data(),
            [self, index, serial] {
                if (!self || index >= static_cast<int>(self->m_keepJobs.size())) return;
                const std::optional<KeepJob>& pending = self->m_keepJobs[static_cast<std::size_t>(index)];
                if (pending && pending->serial == serial) self->FinishKeep(index);
            },
            Qt::QueuedConnection);
    });
}

void frmMain::FinishKeep(int index) {
    if (index < 0 || index >= static_cast<int>(m_keepJobs.size()) || !m_keepJobs[static_cast<std::size_t>(index)])
        return;
    KeepJob job = std::move(*m_keepJobs[static_cast<std::size_t>(index)]);
    m_keepJobs[static_cast<std::size_t>(index)].reset();
    std::shared_ptr<KeptFile> kept = job.result.get();
    doc::SubtitleDocument* d = Document(index);
    if (job.match) {
        if (kept) MatchKeptRows(d, *kept, job);
        if (kept) kept->ReleaseText();
    }
    // Kept only while the file's cues are the rows, one for one.
    if (!kept || kept->Count() != job.expected) {
        d->SetKept(nullptr);
        return;
    }
    d->SetKept(std::move(kept), job.expected, std::move(job.origins));
}

void frmMain::MatchKeptRows(const doc::SubtitleDocument* d, const KeptFile& kept, KeepJob& job) {
    // Restored work does not say where its rows stood in the file: a row
    // unchanged since is found by its values, in order, and an edited one
    // by its times or its text; any other is written anew, in the style of
    // the row before it.
    uint32_t top = 0;
    for (int r = 0; r < d->Count(); ++r) top = std::max(top, d->Serial(r));
    job.origins.assign(static_cast<std::size_t>(top) + 1, -1);
    const std::size_t n = kept.Count();
    std::size_t next = 0;
    for (int r = 0; r < d->Count() && next < n; ++r) {
        const doc::CueValue row = d->Cue(r);
        bool found = false;
        for (std::size_t look = next; look < std::min(n, next + 16) && !found; ++look) {
            const KeptCue cue = kept.Cue(look);
            if (cue.start == row.start && cue.end == row.end && cue.text == row.text) {
                job.origins[d->Serial(r)] = static_cast<int32_t>(look);
                next = look + 1;
                found = true;
            }
        }
        if (found) continue;
        // Not there as it is: the next cue of the file with the same times
        // or the same text is this row, edited (it keeps that cue's style).
        const KeptCue cue = kept.Cue(next);
        if ((cue.start == row.start && cue.end == row.end) || cue.text == row.text) {
            job.origins[d->Serial(r)] = static_cast<int32_t>(next);
            ++next;
        }
    }
    job.expected = n;
}

void frmMain::DropKeep(int index) {
    if (index >= 0 && index < static_cast<int>(m_keepJobs.size())) m_keepJobs[static_cast<std::size_t>(index)].reset();
    if (doc::SubtitleDocument* d = Document(index)) d->SetKept(nullptr);
}

frmMain::KeptSave frmMain::SaveKept(int index) {
    doc::SubtitleDocument* d = Document(index);
    const std::shared_ptr<KeptFile> kept = d->Kept();
    const QString path = d->Path();
    m_keptNote.clear();
    if (!kept->HasText()) {
        // The text was let go after reading: the file is read again, and
        // must be the file that was read.
        int32_t fmt = d->Encoding() >= 0 ? d->Encoding() : kEncodingDetect;
        std::string text = lumeval::UEFLoadTextFile(path.toStdString(), fmt, fmt == kEncodingAnsi ? d->CodePage() : 0);
        if (!kept->RestoreText(std::move(text))) {
            m_keptNote = QStringLiteral("“") + QFileInfo(path).fileName() +
                         QStringLiteral("”在打开之后已被其他程序修改或删除，无法只改写修改过的字幕。");
            return KeptSave::NotKept;
        }
    }
    std::vector<KeptFile::Out> outs;
    outs.reserve(static_cast<std::size_t>(d->Count()));
    for (int r = 0; r < d->Count(); ++r)
        outs.push_back({d->KeptOrigin(d->Serial(r)), d->Start(r), d->End(r), d->Text(r)});

    int32_t fmt = d->Encoding();
    int32_t page = fmt == kEncodingAnsi ? ResolveCodePage(d->CodePage()) : 0;
    bool mark = d->ByteOrderMark();
    auto attempt = [&](SaveFailure& failure) {
        TextFileWriter writer;
        if (!writer.Open(path.toStdString(), fmt, page, failure, mark)) return false;
        bool ok = true;
        kept->Write(outs, [&](std::string_view piece) {
            if (!ok) return;
            ok = writer.Write(piece, true, failure);
        });
        return ok && writer.Commit(failure);
    };
    SaveFailure failure;
    bool ok = attempt(failure);
    if (!ok && failure.kind == SaveFailure::Unmappable) {
        // Nothing reached the file: the temporary one goes with the writer.
        if (!AskUtf8Instead(d)) {
            kept->ReleaseText();
            return KeptSave::Failed;
        }
        fmt = kEncodingUtf8;
        page = 0;
        mark = true;
        failure = SaveFailure{};
        ok = attempt(failure);
        if (ok) {
            d->SetEncoding(kEncodingUtf8, 0);
            d->SetByteOrderMark(true);
        }
    }
    kept->ReleaseText();
    if (!ok) {
        SaveFailed(path, failure.kind == SaveFailure::InvalidEncoding ? QStringLiteral("文件的编码无法写入")
                                                                      : editor::SaveFailureCause(failure.error));
        return KeptSave::Failed;
    }
    RekeepAfterSave(index, fmt, page);
    SavedInPlace(index);
    return KeptSave::Saved;
}

void frmMain::RekeepAfterSave(int index, int32_t encoding, int32_t codePage) {
    doc::SubtitleDocument* d = Document(index);
    // Row r is the saved file's cue r; a row that comes back by undo keeps
    // its serial and so finds its cue, or none.
    uint32_t top = 0;
    for (int r = 0; r < d->Count(); ++r) top = std::max(top, d->Serial(r));
    std::vector<int32_t> origins(static_cast<std::size_t>(top) + 1, -1);
    for (int r = 0; r < d->Count(); ++r) origins[d->Serial(r)] = r;
    // The file just written is read back on the pool thread (from the
    // system's cache): the window thread neither holds nor copies it.
    const std::string path = d->Path().toStdString();
    KeepInBackground(
        index,
        [path, encoding, codePage] {
            int32_t fmt = encoding;
            return lumeval::UEFLoadTextFile(path, fmt, codePage);
        },
        static_cast<std::size_t>(d->Count()), std::move(origins));
}

void frmMain::SavedInPlace(int index) {
    doc::SubtitleDocument* d = Document(index);
    d->MarkSaved();
    ForgetBackup(index);
    NoteRecentFile(d->Path());
    UpdateTitle();
    if (index == m_activeList)
        StatusNote(QStringLiteral("已保存：") + QFileInfo(d->Path()).fileName() + QStringLiteral("（") +
                   editor::EncodingName(d->Encoding(), d->CodePage(), d->ByteOrderMark()) + QStringLiteral("）"));
}

bool frmMain::AskUtf8Instead(const doc::SubtitleDocument* d) {
    return m_system->AskYesNo(
        QStringLiteral("有些文字无法用文件的编码（") +
            editor::EncodingName(d->Encoding(), d->CodePage(), d->ByteOrderMark()) +
            QStringLiteral("）保存。\r\n\r\n是否改用 UTF-8 编码保存？按否不保存，文件保持原样。"),
        MsgIcon::Exclamation, {}, false, this);
}

void frmMain::SaveFailed(const QString& path, const QString& cause) {
    const QString text = QStringLiteral("无法保存“") + path + QStringLiteral("”：") + cause +
                         QStringLiteral("。\r\n\r\n文件保持原样，修改仍在编辑器中。");
    m_status->PanelText(1, QStringLiteral(" 发生错误：") + QFileInfo(path).fileName() + QStringLiteral("：") + cause);
    m_system->MsgBox(text, MsgButtons::OkOnly, MsgIcon::Critical, {}, 0, this);
}

bool frmMain::SaveWhole(int index) {
    doc::SubtitleDocument* d = Document(index);
    const QString path = d->Path();
    std::vector<std::string> entries = EntriesFromList(index);
    SaveSettings s;
    s.src_Format = 2;
    s.s_SubtitleEncodeFormat = d->Encoding();
    const int32_t savedPage = m_subtitle->AnsiCodePage;
    if (d->Encoding() == kEncodingAnsi && d->CodePage() > 0) m_subtitle->AnsiCodePage = d->CodePage();
    auto run = [&] {
        ++m_running;
        m_quietSaved = true;
        m_quietFailure = true;
        m_cancelRequested = false;
        const bool ok = m_subtitle->SaveArrayToSubtitle(entries, path.toStdString(), s);
        m_quietFailure = false;
        m_quietSaved = false;
        --m_running;
        return ok;
    };
    bool ok = run();
    if (!ok && m_subtitle->LastFailure().kind == RunFailure::Unmappable) {
        if (AskUtf8Instead(d)) {
            s.s_SubtitleEncodeFormat = kEncodingUtf8;
            ok = run();
            if (ok) {
                d->SetEncoding(kEncodingUtf8, 0);
                d->SetByteOrderMark(true);
            }
        } else {
            m_subtitle->AnsiCodePage = savedPage;
            AfterRun();
            return false;
        }
    }
    m_subtitle->AnsiCodePage = savedPage;
    if (ok) {
        SavedInPlace(index);
    } else if (m_subtitle->LastFailure().kind != RunFailure::Cancelled) {
        SaveFailed(path, FailureCause(m_subtitle->LastFailure()));
    }
    AfterRun();
    return ok;
}

}  // namespace lumeval
