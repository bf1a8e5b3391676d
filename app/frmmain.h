// frmMain: the editor's only window. It owns the engine, the routing layer,
// the playback object, the taskbar object and the system utilities, shows
// every open subtitle file as one document list side by side, can play a
// medium above the lists, and turns every menu item, hot key and context
// menu choice into a command word for RunCommand.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <vector>

#include "app/editorlogic.h"
#include "media/playbackservice.h"

class QAction;
class QDialog;
class QLabel;
class QMenu;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace lumeval {

class KeptFile;

namespace doc {
struct FindOptions;
class DocumentChecks;
class SubtitleDocument;
class DocumentSnapshot;
class RecoveryStore;
class Backup;
}
class DocumentRows;
class clsControls;
class clsDirectShow;
class clsSubtitle;
class clsSystem;
class clsTaskBar;
class ctlListView;
class SystemUi;
class ucStatusbar;
class SubtitleOverlay;
class WaveformView;

/// The dialog patterns of subtitle files and of the media that dropping opens.
const QString& SubtitlePatterns();
const QString& VideoPatterns();

/// What the window is built with; tests pass scripted services.
struct frmMainOptions {
    std::shared_ptr<SystemUi> systemUi;           ///< null: the real Qt dialogs
    media::PlaybackServiceFactory playback;       ///< empty: the real media service
};

class frmMain : public QMainWindow {
  public:
    explicit frmMain(frmMainOptions options = {});
    ~frmMain() override;

    /// Runs one command word (menu tags, hot keys, context menus).
    void RunCommand(const QString& strCommand);
    /// Opens one subtitle file as a document; nothing for a missing file or a folder.
    void OpenSubtitle(const QString& path);
    /// Opens a medium in the preview; nothing for a missing file or a folder.
    void OpenVideo(const QString& path);
    /// Lays out the lists, the picture and the seek bar.
    void Form_Resize();
    /// At start, before anything else: the work of a session that ended
    /// without saving (a crash, a kill) is offered back.
    void OfferRecovery();
    /// Writes the changed documents' backups now (a timer does it a moment
    /// after each change).
    void WriteBackups();
    /// The crash backups of this window's documents.
    doc::RecoveryStore* Recovery() const { return m_recovery.get(); }
    /// Ctrl+S: writes document `index` to its own file in its own format
    /// and encoding; without a file of its own, or in a format whose file
    /// cannot be kept, it goes to the dialog. True when a file was written.
    bool SaveInPlace(int index);

    // ---- state, for the program's start and for tests -------------------
    int ActiveList() const { return m_activeList; }
    const QString& LastFindText() const { return m_lastFindText; }
    bool SaveWindowPlacement() const { return m_saveWindowPlacement; }
    const editor::WinRect& VideoRect() const { return m_videoRect; }
    const editor::WinRect& SeekBarRect() const { return m_seekBarRect; }
    bool SeekDragging() const { return m_seekDragging; }

    int ListCount() const { return static_cast<int>(m_lists.size()); }
    ctlListView* List(int index) const;
    ucStatusbar* StatusBar() const { return m_status; }
    clsDirectShow* DirectShow() const { return m_directShow.get(); }
    clsControls* Controls() const { return m_controls.get(); }
    clsSystem* System() const { return m_system.get(); }
    clsTaskBar* TaskBar() const { return m_taskBar.get(); }
    /// The widget whose client area holds the lists, the picture and the bar.
    QWidget* Client() const { return m_client; }
    /// The three top-level menus (File, Edit, Help).
    QList<QMenu*> Menus() const { return m_menus; }
    /// The hot keys that registered, in order (identifiers 0, 1, 2).
    int HotKeyCount() const;

    /// True when the rows of list `index` changed since it was opened or saved.
    bool Changed(int index) const;
    /// The document list `index` shows (nullptr for no such list).
    doc::SubtitleDocument* Document(int index) const;
    /// Edit menu items beyond the find group: undo, redo and the row commands.
    QAction* UndoAction() const { return m_undoAction; }
    QAction* RedoAction() const { return m_redoAction; }
    /// Timing tools on the selected rows (two or more) or all rows, each one step.
    void CmdShiftBy();
    void CmdSyncTwoPoints();
    void CmdChangeFrameRate();
    /// 检查 (F7): checks every document, marks the rows and lists the findings.
    void CmdChecks();
    QAction* ChecksAction() const { return m_checksAction; }
    QDialog* ChecksDialog() const { return m_checksDialog; }
    /// The checks of list `index`'s document, once checking is on.
    doc::DocumentChecks* Checks(int index) const {
        return index >= 0 && index < static_cast<int>(m_checks.size()) ? m_checks[static_cast<std::size_t>(index)].get()
                                                                      : nullptr;
    }
    /// The 播放 menu (between Edit and Help) and what it drives.
    QMenu* PlayMenu() const { return m_playMenu; }
    QAction* ShowSubtitlesAction() const { return m_showSubtitlesAction; }
    QAction* FollowAction() const { return m_followAction; }
    /// The subtitles drawn over the picture.
    SubtitleOverlay* Overlay() const { return m_overlay; }
    /// The medium's audio under the seek bar, with the active document's cues.
    WaveformView* Waveform() const { return m_waveform; }
    const editor::WinRect& WaveformRect() const { return m_waveformRect; }
    void CmdPlayPause();
    /// Relative seek by the keys (seconds; negative goes back).
    void CmdSeekBy(double seconds);
    /// One frame forward (1) or back (-1), pausing first.
    void CmdFrameStep(int frames);
    /// Plays the focused cue from its start and pauses at its end.
    void CmdPlayCue();
    /// The focused cue's start (or end) becomes the play position: one
    /// undoable step; `thenNext` moves to the next cue afterwards.
    void CmdTimeFromPlayhead(bool start, bool thenNext);
    /// The status bar's panel beyond the design's four: the active
    /// document's encoding; a click offers reopening it in another.
    static constexpr int kEncodingPanel = 5;
    /// Reads the active document's file again in this encoding (engine code
    /// and ANSI code page), asking first when it holds changes.
    void ReopenWithEncoding(int32_t encoding, int32_t codePage);
    QMenu* ReopenMenu() const { return m_reopenMenu; }
    /// 查找和替换 (Ctrl+H): the non-modal find and replace dialog.
    void CmdReplace();
    QAction* ReplaceAction() const;
    QDialog* ReplaceDialog() const;
    /// File menu: "保存" (Ctrl+S) and the recent files' submenu.
    QAction* SaveInPlaceAction() const { return m_saveInPlaceAction; }
    QMenu* RecentMenu() const { return m_recentMenu; }
    /// True while a load, a save or a timeline merge is running; commands
    /// that need the engine or change rows are refused meanwhile.
    bool RunInProgress() const;
    /// Stops the running load or save through the engine's cancellation
    /// (Esc, or closing the window, does this).
    void CancelRun();
    /// The folder the default save name lies in: the one last used in a
    /// file dialog (empty before any dialog).
    const QString& LastDialogFolder() const { return m_lastDialogFolder; }

    // ---- event handlers (public so tests can raise them as Qt would) ----
    void ListClick(int Index, int Button);
    void ColumnClick(int Index, int Column);
    void ItemDblClick(int Index, int Item);
    void PanelClick(int Panel, int Button);
    void OLEDragDrop(bool bBefore, const QString& FileName);
    /// A routed window message of the client after default processing.
    void ClientMessage(qint32 uMsg, qint32 wParam, qint32 lParam);
    void PlayStatus(double Position, double Duration, int Status);
    void PlayRect(int Left, int Top, int Width, int Height);
    void DrawSeekBar();

    /// The product name, version and the pages of the about box.
    static QString ProductName();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    /// Esc anywhere in the window while a run is going cancels it.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Form_Load();
    void Form_Unload();
    void BuildMenus();
    void PrepareList(ctlListView* list);
    ctlListView* AddList();
    void UpdateListStatus(int index);
    void RestorePlacement();
    void StorePlacement();

    // commands
    // saving in place and the recent files (frmmain_saving.cpp)
    void BuildSavingMenu(QMenu* file);
    QStringList RecentFiles() const;
    void StoreRecentFiles(const QStringList& list);
    void NoteRecentFile(const QString& path);
    void FillRecentMenu();
    /// Writes document `index` whole to its own file with our writer, in
    /// its encoding (asking before UTF-8 when a text does not fit). True
    /// when written.
    bool SaveWhole(int index);
    /// After a load: the file as read is kept with the document when its
    /// cues are the rows one for one (`text` is its decoded text).
    void KeepLoadedFile(int index, std::string text);
    enum class KeptSave { Saved, Failed, NotKept };
    /// Ctrl+S of a document with a kept file: only its changed cues are
    /// written anew.
    KeptSave SaveKept(int index);
    /// The file just written (in this encoding) becomes the kept one.
    void RekeepAfterSave(int index, int32_t encoding, int32_t codePage);
    /// Indexes a file's text on a pool thread (a million cues take a
    /// quarter of a second) and lets the text go; the document gets it when
    /// it is ready, if its rows were `expected` in number when it was read.
    /// `text` gives the text on the pool thread (a load's, or the saved file read back).
    void KeepInBackground(int index, std::function<std::string()> text, std::size_t expected,
                          std::vector<int32_t> origins, bool match = false);
    /// Waits for list `index`'s indexing, if one runs, and applies it.
    void FinishKeep(int index);
    struct KeepJob;
    void MatchKeptRows(const doc::SubtitleDocument* d, const KeptFile& kept, KeepJob& job);
    /// The document holds other work now: a running indexing is not its.
    void DropKeep(int index);
    /// After a save in place: the document is saved, the status bar says so.
    void SavedInPlace(int index);
    /// A text the file's encoding cannot hold: save as UTF-8 instead? No
    /// leaves everything as it was.
    bool AskUtf8Instead(const doc::SubtitleDocument* d);
    /// A failed save: the file and the cause, in a box and the status bar.
    void SaveFailed(const QString& path, const QString& cause);
    void OpenRecentFile(const QString& path);

    // timing tools (frmmain_timing.cpp)
    void BuildTimingMenu(QMenu* edit);
    /// Every time of the tool's rows retimed, one step; false when nothing changed.
    bool ApplyRetime(const editor::Retime& retime, const QString& step);

    // encodings (frmmain_encoding.cpp)
    void BuildEncodingMenu(QMenu* file);
    void AddEncodingPanel();
    void UpdateEncodingPanel();
    /// OpenSubtitle's work: into list `into` (-1: the last empty one or a
    /// new one), in an encoding (-1: detected) and code page (0: detected).
    void LoadSubtitle(const QString& path, int into, int32_t encoding, int32_t codePage);

    // playback (frmmain_playback.cpp)
    void BuildPlayMenu();
    bool RefuseWithoutMedium();
    /// After the keys moved the playhead: the bar, the highlight, the picture.
    void AfterSeek();
    /// The playhead moved (a tick or a seek): the playing cue and the overlay follow.
    void PlayheadMoved();
    void FollowPlayhead();
    void PlaybackClosed();
    /// Lays the subtitles over the picture's rectangle.
    void PlaceOverlay();
    /// A medium opened: its peaks (decoded in the background, once a session).
    void ShowWaveform();

    // quality checks (frmmain_checks.cpp)
    void BuildChecksMenu(QMenu* edit);
    /// Checks list `index`'s document from now on (once checking is on).
    void CheckDocument(int index);
    /// The checks' limits as the settings store holds them.
    doc::CheckLimits CheckLimitsSet() const;
    /// The limits' dialog (the checks dialog's 限值 button); OK stores them
    /// and checks every document again.
    void EditCheckLimits();
    void ChecksChanged();
    void FillChecks();
    void GoToFinding(QTreeWidgetItem* item);
    void FixFinding(QTreeWidgetItem* item);
    void FixAllFindings();

    // find and replace (frmmain_replace.cpp)
    void BuildReplaceMenu(QMenu* edit);
    /// The options every search of the window goes by: as the find box or
    /// the dialog last set them (the plain defaults until then).
    doc::FindOptions FindOptionsNow() const;
    struct ReplaceState;
    struct ReplaceStateDeleter {
        void operator()(ReplaceState* state) const;
    };
    void ReplaceFind(bool forward);
    void ReplaceOne();
    void ReplaceEverywhere();
    void ReplaceResult(const QString& text);
    /// The find box (text and options); the options chosen become the
    /// dialog's. An empty text when cancelled.
    QString AskFindText();

    // crash backups (frmmain_recovery.cpp)
    void StartBackups();
    void WatchForBackups(int index);
    void BackupChanged(int index);
    /// Document `index` now holds other work (loaded, closed, saved as):
    /// its backup goes and the next one has a new name.
    void ForgetBackup(int index);
    void WriteBackup(int index);
    void BackupWritten(quint64 id, bool ok, const QString& error);
    /// The window closes with the user's answers given: no backup stays.
    void DropAllBackups();
    void RestoreBackup(const QString& file, const doc::Backup& backup);

    void CmdOpenSubtitle();
    void CmdOpenVideo();
    void CmdSave();
    /// Saves list `index` as "save" does; True when a file was written.
    bool SaveList(int index);
    /// Writes entries, in ANSI when every text fits the code page, else in
    /// UTF-8 with its mark; the saved message says which. True when written.
    /// `encoding`: written in that one instead (nothing written when a text
    /// does not fit it).
    bool SaveEntries(std::vector<std::string>& entries, const QString& path,
                     const std::optional<editor::EncodingChoice>& encoding = std::nullopt);
    bool SaveEntriesAs(std::vector<std::string>& entries, const QString& path, const editor::EncodingChoice& encoding);
    /// A save through the engine starts (its saved message gets `note`) and ends.
    void BeginSaveRun(const QString& note);
    bool EndSaveRun(bool ok);
    /// A file dialog whose chosen folder becomes the last used one.
    QString FileDialog(const QString& filter, bool bSaveFile, const QString& defaultName,
                       const QString& defExt);
    /// Refuses a command while a run is going (status text); True when refused.
    bool RefuseWhileRunning();
    /// Before list `index` is discarded: asks whether to save its changes.
    /// False when the user cancelled (or the save did not happen).
    bool ConfirmDiscard(int index);
    bool ConfirmDiscardAll();
    void UpdateTitle();
    void UpdateUndoActions();
    void BuildEditingMenu(QMenu* edit);
    /// The focused row of the active list, -1 without one.
    int FocusedRow() const;
    /// Selects only `row` of the active list, focuses and shows it.
    void FocusRow(int row);
    /// Refuses a row command while a run goes or the active list shows no
    /// document; true when refused.
    bool RefuseRowCommand();
    void CmdUndo();
    void CmdRedo();
    void CmdInsert(bool after);
    void CmdDuplicate();
    void CmdDeleteRows();
    void CmdSplit();
    void CmdJoin();
    void CmdNudge(bool start, int amount);
    void StatusNote(const QString& text);
    /// A failed load or save: the file and the cause in the status bar.
    void ShowFailure(const QString& path);
    void ConnectEngine();
    /// Closes the window when it was closed during the run that just ended.
    void AfterRun();
    void CmdAbout();
    void CmdInitSetting();
    void CmdTimeOffset(editor::Command command, const QString& word);
    void CmdFind();
    void CmdFindNext();
    void CmdFindAll();
    void CmdCombineToFile();
    void CmdCombineByFile();
    void CmdCombineByTimeline();

    // list helpers
    bool ListHasRows(int index) const;
    bool ListOpen(int index) const;  ///< visible and holding rows
    std::vector<std::string> EntriesFromList(int index) const;
    void ActOnListMenu(const QString& chosen);
    void CloseActiveList();
    void CloseAllLists();
    void Information(const QString& text);
    bool PreviewOpen() const;
    void SeekToPointer(int x);

    std::unique_ptr<clsSystem> m_system;
    std::unique_ptr<clsSubtitle> m_subtitle;
    std::unique_ptr<clsTaskBar> m_taskBar;
    std::unique_ptr<clsControls> m_controls;
    std::unique_ptr<clsDirectShow> m_directShow;
    media::PlaybackServiceFactory m_pendingPlayback;

    QWidget* m_client = nullptr;
    ucStatusbar* m_status = nullptr;
    std::vector<ctlListView*> m_lists;
    QList<QMenu*> m_menus;

    int m_activeList = 0;
    QString m_lastFindText;
    bool m_saveWindowPlacement = true;
    editor::WinRect m_videoRect;
    editor::WinRect m_seekBarRect;
    bool m_seekDragging = false;
    bool m_unloaded = false;
    int m_hotKeys = 0;

    std::vector<std::unique_ptr<doc::SubtitleDocument>> m_docs;  ///< one per list
    std::vector<DocumentRows*> m_sources;                        ///< one per list
    QAction* m_undoAction = nullptr;
    QAction* m_redoAction = nullptr;
    QAction* m_saveInPlaceAction = nullptr;
    QMenu* m_recentMenu = nullptr;
    int m_runList = -1;               ///< the list a load fills; -1 when none
    std::size_t m_loadRows = 0;       ///< rows the load is expected to bring (0: unknown)
    int m_running = 0;                ///< loads, saves and merges in progress
    bool m_cancelRequested = false;
    bool m_closeAfterRun = false;     ///< the window was closed during a run
    bool m_discardConfirmed = false;  ///< the changed documents were already asked about
    bool m_quietFailure = false;      ///< a failed save is retried: no error text yet
    QString m_saveNote;               ///< the encoding line of the saved message
    int32_t m_savedEncoding = 0;      ///< the encoding the last SaveEntries wrote
    bool m_quietSaved = false;        ///< a save in place: no "saved" box
    QString m_lastDialogFolder;

    // One per list: the name of its document's backup and what it was made of.
    struct BackupState {
        quint64 id = 0;
        quint64 changes = 0;   ///< changes seen
        quint64 backedUp = 0;  ///< changes the last backup holds
        bool written = false;  ///< a backup of this id was queued
        bool preparing = false;
        std::shared_ptr<doc::DocumentSnapshot> room;  ///< the last snapshot, filled again when free
        QString orphan;        ///< the claimed backup it was restored from, until its own is written
    };
    std::vector<BackupState> m_backups;

    QMenu* m_reopenMenu = nullptr;
    QMenu* m_playMenu = nullptr;
    QAction* m_showSubtitlesAction = nullptr;
    QAction* m_followAction = nullptr;
    SubtitleOverlay* m_overlay = nullptr;
    WaveformView* m_waveform = nullptr;
    QString m_waveformPath;          ///< the medium whose peaks the waveform shows
    editor::WinRect m_waveformRect;  ///< where it lies; empty without a medium
    int64_t m_playUntilMs = -1;  ///< a cue played alone pauses here; -1: none
    int m_followedRow = -1;      ///< the row following last moved to

    bool m_checking = false;  ///< 检查 was asked for: every document is checked
    std::vector<std::unique_ptr<doc::DocumentChecks>> m_checks;  ///< one per list, once checking
    QAction* m_checksAction = nullptr;
    QDialog* m_checksDialog = nullptr;
    QLabel* m_checksSummary = nullptr;
    QTreeWidget* m_checksTree = nullptr;
    QTimer* m_checksRefresh = nullptr;

    // One per list: a kept file being indexed off the window thread.
    struct KeepJob {
        quint64 serial = 0;
        bool match = false;  ///< rows found in the file by their values (a restored document)
        std::size_t expected = 0;
        std::vector<int32_t> origins;
        std::shared_future<std::shared_ptr<KeptFile>> result;
    };
    std::vector<std::optional<KeepJob>> m_keepJobs;
    quint64 m_nextKeepJob = 0;
    QString m_keptNote;  ///< why the last SaveKept could not keep the file
    std::unique_ptr<ReplaceState, ReplaceStateDeleter> m_replace;
    std::unique_ptr<doc::RecoveryStore> m_recovery;
    QTimer* m_backupTimer = nullptr;
    quint64 m_nextBackupId = 0;
};

}  // namespace lumeval
