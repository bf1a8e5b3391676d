// frmMain: the command dispatcher and every command it runs.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <cmath>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "app/documentrows.h"
#include "app/frmmain.h"
#include "app/modregistry.h"
#include "document/document.h"
#include "document/findreplace.h"
#include "controls/ctllistview.h"
#include "controls/ctllistview_model.h"
#include "controls/logsink.h"
#include "controls/ucstatusbar.h"
#include "engine/encoding/codepage.h"
#include "engine/formats.h"
#include "engine/subtitle.h"
#include "system/clssystem.h"

namespace lumeval {

namespace {

// Every format the engine knows, from its format table.
const QString kSubtitlePatterns = QString::fromStdString(FilePatterns());
const QString kVideoPatterns = QStringLiteral(
    "*.webm; *.ogv; *.rmvb; *.rm; *.avi; *.mp4; *.3gp; *.264; *.h264; *.avc; *.dat; *.qt; "
    "*.mov; *.mpg; *.mpeg; *.m1v; *.wmv; *.asf; *.mkv; *.flv; *.pmp; *.divx; *.3gp2; *.3g2; "
    "*.3gpp; *.fli; *.flc; *.m4v; *.dv; *.ogm; *.dsm; *.vob; *.cin; *.ts; *.trp; *.mts; "
    "*.m2ts; *.tp; *.trp; *.ts");

const QString kNotFound = QStringLiteral("未找到搜索文本");

// The window's fixed load settings.
ConvertSettings loadSettings(int32_t conversion) {
    ConvertSettings s;
    s.s_InternalCodeConversion = conversion;
    return s;
}

std::string utf8(const QString& s) { return s.toStdString(); }

// About how many cues a text holds, so a large load makes room once: the
// time arrows of SubRip and WebVTT, else the lines (one cue a line at most
// in the other formats, which leaves some room spare).
std::size_t ExpectedRows(std::string_view text) {
    std::size_t arrows = 0, lines = 0;
    for (std::size_t at = text.find("-->"); at != std::string_view::npos; at = text.find("-->", at + 3)) ++arrows;
    if (arrows > 0) return std::min(arrows, text.size() / 16 + 1);
    for (const char c : text) lines += c == '\n';
    return lines + 1;
}

}  // namespace

const QString& SubtitlePatterns() { return kSubtitlePatterns; }
const QString& VideoPatterns() { return kVideoPatterns; }

void frmMain::RunCommand(const QString& strCommand) {
    const editor::CommandMatch m = editor::MatchCommand(strCommand);
    // While a run is going the engine is busy and rows are arriving: only
    // the commands that change nothing (find, about, the preview) may run.
    // Exit cancels the run and closes the window when it has returned.
    if (RunInProgress() && editor::ChangesDocuments(m.command) && RefuseWhileRunning()) return;
    switch (m.command) {
        case editor::Command::None: return;
        case editor::Command::Find: CmdFind(); return;
        case editor::Command::FindNext: CmdFindNext(); return;
        case editor::Command::FindAll: CmdFindAll(); return;
        case editor::Command::TimeOffsetAll:
        case editor::Command::TimeOffsetStart:
        case editor::Command::TimeOffsetEnd: CmdTimeOffset(m.command, m.word); return;
        case editor::Command::OpenSubtitle: CmdOpenSubtitle(); return;
        case editor::Command::OpenVideo: CmdOpenVideo(); return;
        case editor::Command::Save: CmdSave(); return;
        case editor::Command::CombineToFile: CmdCombineToFile(); return;
        case editor::Command::CombineByFile: CmdCombineByFile(); return;
        case editor::Command::CombineByTimeline: CmdCombineByTimeline(); return;
        case editor::Command::About: CmdAbout(); return;
        case editor::Command::InitSetting: CmdInitSetting(); return;
        case editor::Command::Exit: close(); return;
    }
}

void frmMain::Information(const QString& text) { m_system->InfoBox(text, QString(), this); }

// ---- files -----------------------------------------------------------------

bool frmMain::RunInProgress() const { return m_running > 0 || (m_subtitle && m_subtitle->IsBusy()); }

void frmMain::CancelRun() {
    if (RunInProgress()) m_cancelRequested = true;
}

bool frmMain::RefuseWhileRunning() {
    m_status->PanelText(1, QStringLiteral(" 正在处理，请稍候"));
    return true;
}

bool frmMain::Changed(int index) const {
    const doc::SubtitleDocument* d = Document(index);
    return d && d->IsChanged();
}

QString frmMain::FileDialog(const QString& filter, bool bSaveFile, const QString& defaultName, const QString& defExt) {
    const QString path = m_system->OpenSaveFile(filter, bSaveFile, defaultName,
                                                bSaveFile ? QString() : m_lastDialogFolder, defExt, this);
    // As the platform's dialogs move the current directory, the folder
    // last used here is where the next proposal lies.
    if (!path.isEmpty()) m_lastDialogFolder = QFileInfo(path).absolutePath();
    return path;
}

bool frmMain::ConfirmDiscard(int index) {
    const ctlListView* l = List(index);
    if (!l || !Changed(index) || l->Count() == 0) return true;
    const QString title = l->Tag().isEmpty() ? ProductName() : QFileInfo(l->Tag()).fileName();
    switch (m_system->MsgBox(QStringLiteral("是否保存对文件的修改？"), MsgButtons::YesNoCancel, MsgIcon::Exclamation,
                             title, 1, this)) {
        case MsgResult::Yes: return SaveList(index);
        case MsgResult::No: return true;
        default: return false;
    }
}

bool frmMain::ConfirmDiscardAll() {
    for (int i = 0; i < ListCount(); ++i) {
        if (List(i)->isHidden()) continue;
        if (!ConfirmDiscard(i)) return false;
    }
    return true;
}

void frmMain::ConnectEngine() {
    m_subtitle->ProgressChange = [this](int32_t value, int32_t max, int32_t Status, const std::string& StatusText,
                                        bool& Cancel) {
        if (m_cancelRequested) Cancel = true;
        // Rows go to the list the load started on, whatever list is active by now.
        ctlListView* target = List(m_runList);
        doc::SubtitleDocument* document = Document(m_runList);
        switch (Status) {
            case kStatusFileStart:
                if (target) target->SetRedraw(false);
                if (document) document->BeginLoad(m_loadRows);
                break;
            case kStatusReading:
                if (target && max > 0)
                    m_status->PanelText(2, QStringLiteral(" 正在读取 ") +
                                               QString::number(editor::Percent(value, max)) + u'%');
                break;
            case kStatusSaved:
                // A save in place is told in the status bar, not in a box.
                if (!m_quietSaved)
                    Information(QStringLiteral("字幕文件已经保存：\r\n") + QString::fromStdString(StatusText) + m_saveNote);
                break;
            case kStatusComplete:
                if (document && document->Loading()) document->EndLoad();
                UpdateListStatus(m_runList);
                if (target) target->SetRedraw(true);
                break;
            case kStatusFailed:
            case kStatusCancelled:
                if (document && document->Loading()) {
                    // The rows read so far are not kept.
                    document->BeginLoad();
                    document->EndLoad();
                }
                if (Status == kStatusCancelled) {
                    m_status->PanelText(1, QStringLiteral(" 已经取消"));
                } else if (!m_quietFailure) {
                    ShowFailure(QString::fromStdString(m_subtitle->LastFailure().path));
                }
                if (m_runList >= 0) m_status->PanelText(2, QStringLiteral(" "));
                if (ctlListView* l = target ? target : List(m_activeList)) l->SetRedraw(true);
                break;
            default: break;
        }
    };
    m_subtitle->SubtitleCueLoaded = [this](double start, std::optional<double> end, std::string_view text) {
        doc::SubtitleDocument* document = Document(m_runList);
        if (!document || !document->Loading()) return;
        auto ms = [](double v) { return static_cast<int64_t>(std::llround(v)); };
        document->AppendLoaded(ms(start), end ? ms(*end) : doc::kNoEnd, text);
    };
    m_subtitle->YieldCallback = [] { QCoreApplication::processEvents(); };
}

void frmMain::CmdOpenSubtitle() {
    OpenSubtitle(FileDialog(clsSystem::MakeFilter({{kSubtitlePatterns, kSubtitlePatterns}}), false, {}, {}));
}

void frmMain::CmdOpenVideo() {
    OpenVideo(FileDialog(clsSystem::MakeFilter({{QStringLiteral("*.*"), QStringLiteral("*.*")}}), false, {}, {}));
}

void frmMain::OpenSubtitle(const QString& path) { LoadSubtitle(path, -1, -1, 0); }

void frmMain::LoadSubtitle(const QString& path, int into, int32_t encoding, int32_t codePage) {
    if (path.isEmpty() || !clsSystem::FileExists(path) || clsSystem::isFolder(path)) return;
    // A dropped file or a companion subtitle can arrive while a run is going.
    if (RunInProgress()) {
        RefuseWhileRunning();
        return;
    }
    // An encoding the user picked holds for this load only.
    struct ReadAs {
        clsSubtitle* engine;
        int32_t encoding, codePage;
        ReadAs(clsSubtitle* e, int32_t enc, int32_t page)
            : engine(e), encoding(e->SourceEncoding), codePage(e->AnsiCodePage) {
            e->SourceEncoding = enc;
            e->AnsiCodePage = page;
        }
        ~ReadAs() {
            engine->SourceEncoding = encoding;
            engine->AnsiCodePage = codePage;
        }
        ReadAs(const ReadAs&) = delete;
        ReadAs& operator=(const ReadAs&) = delete;
    } readAs(m_subtitle.get(), encoding, codePage);

    int32_t fmt = encoding;
    std::string text = m_subtitle->UEFLoadTextFile(utf8(path), fmt);
    const bool reopen = into >= 0 && into < ListCount();
    // The character-set question, by the text's class; a file reopened in
    // an encoding the user picked is read as written.
    const int32_t cls = reopen ? -1 : m_subtitle->CheckChineseInternalCodeSpecification(text);
    static const char16_t* const kQuestions[] = {
        u"这应该是一个简体字符集字幕，是否在打开文件时进行繁简转换？按是强制繁简转换，按否直接打开。",
        u"这应该是一个繁体字符集字幕，是否在打开文件时进行繁简转换？按是强制繁简转换，按否直接打开。",
        u"这应该是一个 GBK 字符集字幕，是否在打开文件时进行繁简转换？按是强制繁简转换，按否直接打开。",
    };
    int32_t conversion = 0;
    if (cls >= 0 && cls <= 2)
        conversion = m_system->AskYesNo(QString::fromUtf16(kQuestions[cls]), MsgIcon::Question, {}, false, this) ? 1 : 0;

    // The last list is reused when it is empty and unchanged (a document
    // whose rows were all deleted still holds work), else a new one follows.
    if (reopen) {
        m_activeList = into;
    } else {
        if (m_lists.back()->Count() > 0 || Changed(ListCount() - 1)) AddList();
        m_activeList = ListCount() - 1;
    }
    ctlListView* list = m_lists[static_cast<std::size_t>(m_activeList)];
    list->SetTag(path);
    list->setVisible(true);
    doc::SubtitleDocument* document = Document(m_activeList);
    document->SetPath(path);
    document->SetFormat(QFileInfo(path).suffix().toLower().toStdString());
    document->SetOwnWriting(false);

    m_runList = m_activeList;
    ForgetBackup(m_activeList);
    DropKeep(m_activeList);
    m_loadRows = ExpectedRows(text);
    m_cancelRequested = false;
    ++m_running;
    m_subtitle->ConvertSubtitle(utf8(path), loadSettings(conversion));
    --m_running;
    // A run that ended without its closing event still leaves a document.
    if (document->Loading()) document->EndLoad();
    if (!m_subtitle->LastRun().sources.empty()) {
        const SourceInfo& source = m_subtitle->LastRun().sources.front();
        document->SetEncoding(source.encoding, source.codePage);
        using How = doc::SubtitleDocument::EncodingSource;
        // An ANSI file whose bytes showed no code page was read with the default one.
        document->SetHowEncoded(encoding >= 0                                          ? How::Picked
                                : source.encoding == 0 && source.codePage != 0 && !source.codePageDetected ? How::Assumed
                                                                                        : How::Detected);
        document->SetByteOrderMark(m_subtitle->UEFCheckTextFileFormat(utf8(path)) > 0);
        if (m_subtitle->LastFailure().kind == RunFailure::None) {
            KeepLoadedFile(m_runList, std::move(text));
            NoteRecentFile(path);
        }
    }
    m_runList = -1;
    m_loadRows = 0;
#if defined(__GLIBC__)
    // The run's transient line table was many small blocks; give their
    // pages back so a large document does not keep twice its size.
    malloc_trim(0);
#endif
    UpdateTitle();
    UpdateEncodingPanel();
    m_cancelRequested = false;
    Form_Resize();
    AfterRun();
}

void frmMain::AfterRun() {
    if (!m_closeAfterRun || RunInProgress()) return;
    m_closeAfterRun = false;
    // Queued: the command that ran is still on the stack.
    QTimer::singleShot(0, this, [this] { close(); });
}

std::vector<std::string> frmMain::EntriesFromList(int index) const {
    std::vector<std::string> entries;
    const doc::SubtitleDocument* d = Document(index);
    if (!d) return entries;
    entries.reserve(static_cast<std::size_t>(d->Count()));
    for (int i = 0; i < d->Count(); ++i) {
        // A cue without an end is written as the converter writes it: it
        // ends where the next begins.
        std::string entry = TimeCell(d->Start(i));
        if (d->HasEnd(i)) entry += "->" + TimeCell(d->End(i));
        entry += '|';
        entry += TrimCellSpaces(d->Text(i));
        entries.push_back(std::move(entry));
    }
    return entries;
}

void frmMain::CmdSave() { SaveList(m_activeList); }

bool frmMain::SaveList(int index) {
    ctlListView* list = List(index);
    if (!list || list->Count() == 0) return false;
    if (RunInProgress()) return !RefuseWhileRunning();
    QString defaultName;
    if (!list->Tag().isEmpty()) {
        // The current directory of the proposal: the folder last used in a
        // file dialog, before any dialog the folder of the document's file.
        const QString folder =
            m_lastDialogFolder.isEmpty() ? QFileInfo(list->Tag()).absolutePath() : m_lastDialogFolder;
        defaultName = clsSystem::RenameExists(clsSystem::cPath(folder) +
                                              clsSystem::GetFileString(list->Tag(), QStringLiteral("."), 0) +
                                              QStringLiteral(".srt"));
    }
    const QString filter = clsSystem::MakeFilter({{QStringLiteral("*.srt"), QStringLiteral("*.srt")},
                                                  {QStringLiteral("*.ssa"), QStringLiteral("*.ssa")},
                                                  {QStringLiteral("*.ass"), QStringLiteral("*.ass")},
                                                  {QStringLiteral("*.lrc"), QStringLiteral("*.lrc")},
                                                  {QStringLiteral("*.smi"), QStringLiteral("*.smi")}});
    // The encoding beside the name: "automatic" is the classic rule (ANSI
    // when every text fits, else UTF-8); the others are written as picked.
    QStringList encodings{QStringLiteral("自动（ANSI 能容纳时用 ANSI，否则 UTF-8）")};
    for (const editor::EncodingChoice& c : editor::EncodingChoices())
        encodings << (c.encoding == 0 ? c.name : editor::EncodingName(c.encoding, 0, true));
    int chosen = 0;
    const QString path = m_system->OpenSaveFile(filter, true, defaultName, QString(), QStringLiteral("srt"), this,
                                                QStringLiteral("编码(&E)："), encodings, &chosen);
    if (path.isEmpty()) return false;
    m_lastDialogFolder = QFileInfo(path).absolutePath();
    std::optional<editor::EncodingChoice> encoding;
    if (chosen > 0 && chosen <= static_cast<int>(editor::EncodingChoices().size()))
        encoding = editor::EncodingChoices()[static_cast<std::size_t>(chosen - 1)];
    std::vector<std::string> entries = EntriesFromList(index);
    if (!SaveEntries(entries, path, encoding)) return false;
    // Saved as another file: Ctrl+S writes there from now on, in the format
    // and encoding just written (the list keeps its name for the proposals).
    doc::SubtitleDocument* d = Document(index);
    d->SetPath(path);
    d->SetFormat(QFileInfo(path).suffix().toLower().toStdString());
    d->SetEncoding(m_savedEncoding, m_savedEncoding != kEncodingAnsi ? 0
                                    : encoding                       ? encoding->codePage
                                                                     : ResolveCodePage(m_subtitle->AnsiCodePage));
    d->SetByteOrderMark(m_savedEncoding != kEncodingAnsi);
    DropKeep(index);
    d->SetOwnWriting(true);
    d->MarkSaved();
    ForgetBackup(index);
    NoteRecentFile(path);
    UpdateTitle();
    UpdateListStatus(index);
    return true;
}

bool frmMain::SaveEntries(std::vector<std::string>& entries, const QString& path,
                          const std::optional<editor::EncodingChoice>& encoding) {
    if (encoding) return SaveEntriesAs(entries, path, *encoding);
    // ANSI keeps the classic files readable by old players, but a text the
    // code page cannot hold would fail the whole save: such rows go out as
    // UTF-8 with its mark, and the saved message says so.
    const int32_t codePage = ResolveCodePage(m_subtitle->AnsiCodePage);
    const bool fitsAnsi = editor::FitsCodePage(entries, codePage);
    const QString pageName = editor::CodePageName(codePage);
    const QString utf8Note = QStringLiteral("\r\n\r\n有些文字无法用 ANSI（") + pageName +
                             QStringLiteral("）编码保存，已改用 UTF-8（带 BOM）编码保存。");
    SaveSettings s;
    s.src_Format = 2;
    s.s_SubtitleEncodeFormat = fitsAnsi ? kEncodingAnsi : kEncodingUtf8;
    BeginSaveRun(fitsAnsi ? QStringLiteral("\r\n\r\n编码：ANSI（") + pageName + u'）' : utf8Note);
    m_quietFailure = fitsAnsi;
    bool ok = m_subtitle->SaveArrayToSubtitle(entries, utf8(path), s);
    m_savedEncoding = s.s_SubtitleEncodeFormat;
    m_quietFailure = false;
    if (!ok && fitsAnsi && m_subtitle->LastFailure().kind == RunFailure::Unmappable) {
        // Something the writer added itself did not fit: UTF-8 after all.
        s.s_SubtitleEncodeFormat = kEncodingUtf8;
        m_saveNote = utf8Note;
        ok = m_subtitle->SaveArrayToSubtitle(entries, utf8(path), s);
        m_savedEncoding = s.s_SubtitleEncodeFormat;
    } else if (!ok && fitsAnsi && m_subtitle->LastFailure().kind != RunFailure::Cancelled) {
        ShowFailure(path);
    }
    return EndSaveRun(ok);
}

void frmMain::BeginSaveRun(const QString& note) {
    m_saveNote = note;
    m_cancelRequested = false;
    ++m_running;
}

bool frmMain::EndSaveRun(bool ok) {
    --m_running;
    m_cancelRequested = false;
    m_saveNote.clear();
    AfterRun();
    return ok;
}

bool frmMain::SaveEntriesAs(std::vector<std::string>& entries, const QString& path,
                            const editor::EncodingChoice& encoding) {
    SaveSettings s;
    s.src_Format = 2;
    s.s_SubtitleEncodeFormat = encoding.encoding;
    const int32_t ansiPage = m_subtitle->AnsiCodePage;
    if (encoding.encoding == kEncodingAnsi) m_subtitle->AnsiCodePage = encoding.codePage;
    BeginSaveRun(QStringLiteral("\r\n\r\n编码：") + encoding.name);
    // An unmappable character is said below, with the encoding's name.
    m_quietFailure = true;
    const bool ok = m_subtitle->SaveArrayToSubtitle(entries, utf8(path), s);
    m_quietFailure = false;
    m_subtitle->AnsiCodePage = ansiPage;
    m_savedEncoding = s.s_SubtitleEncodeFormat;
    if (!ok && m_subtitle->LastFailure().kind == RunFailure::Unmappable) {
        m_system->MsgBox(QStringLiteral("有些文字无法用 ") + encoding.name + QStringLiteral(" 编码保存，文件没有写入。请选择其他编码。"),
                         MsgButtons::OkOnly, MsgIcon::Exclamation, QFileInfo(path).fileName(), 1, this);
        StatusNote(QStringLiteral("没有保存：有些文字无法用 ") + encoding.name + QStringLiteral(" 编码保存"));
    } else if (!ok && m_subtitle->LastFailure().kind != RunFailure::Cancelled) {
        ShowFailure(path);
    }
    return EndSaveRun(ok);
}

void frmMain::CmdAbout() {
    const bool yes = m_system->MsgBox(editor::AboutText(ProductName(), LUMEVAL_VERSION_MAJOR, LUMEVAL_VERSION_MINOR,
                                                        LUMEVAL_VERSION_PATCH),
                                      MsgButtons::YesNo, MsgIcon::Question, QStringLiteral("关于"), 2, this) ==
                     MsgResult::Yes;
    if (yes) m_system->ShellOpen(editor::kDownloadPage);
}

void frmMain::CmdInitSetting() {
    if (!m_system->AskYesNo(QStringLiteral("是否初始化软件设置？如果继续，初始化后软件需要退出，请重新启动软件。"),
                            MsgIcon::Exclamation, QStringLiteral("确认"), false, this))
        return;
    // The window closes: changed documents are asked about first, and a
    // Cancel there keeps the settings too.
    if (!ConfirmDiscardAll()) return;
    m_discardConfirmed = true;
    m_saveWindowPlacement = false;
    modRegistry::RegDeleteSettings(RegistryRoot::CurrentUser, modRegistry::RegistryKeyPath);
    close();
}

void frmMain::OLEDragDrop(bool bBefore, const QString& FileName) {
    if (bBefore) return;
    if (clsSystem::CheckSuffixFromString(FileName, kVideoPatterns)) {
        OpenVideo(FileName);
    } else if (clsSystem::CheckSuffixFromString(FileName, kSubtitlePatterns)) {
        OpenSubtitle(FileName);
    }
}

// ---- time offsets ----------------------------------------------------------

void frmMain::CmdTimeOffset(editor::Command command, const QString& word) {
    const int32_t amount = editor::OffsetAmount(word, editor::OffsetPrefix(command));
    if (amount == 0) return;
    doc::SubtitleDocument* d = Document(m_activeList);
    if (!d) return;
    const bool start = command != editor::Command::TimeOffsetEnd;
    const bool end = command != editor::Command::TimeOffsetStart;
    const QString what = start && end ? QStringLiteral("时间") : start ? QStringLiteral("开始位置") : QStringLiteral("结束位置");
    d->Shift(amount, start, end, what + (amount > 0 ? QStringLiteral("增加") : QStringLiteral("减少")) +
                                     QString::number(std::abs(static_cast<int64_t>(amount))) + QStringLiteral("毫秒"));
}

// ---- find ------------------------------------------------------------------

void frmMain::CmdFind() {
    if (!ListHasRows(m_activeList)) return;
    m_lastFindText = AskFindText();
    if (!m_lastFindText.isEmpty()) CmdFindNext();
}

void frmMain::CmdFindNext() {
    if (!ListHasRows(m_activeList)) return;
    if (m_lastFindText.isEmpty()) {
        CmdFind();
        return;
    }
    ctlListView* list = List(m_activeList);
    const doc::SubtitleDocument* d = Document(m_activeList);
    // With the options of the find box and the dialog (the plain defaults
    // until they change), over the whole text cell, spaces at its ends included.
    doc::Searcher searcher(utf8(m_lastFindText), FindOptionsNow());
    if (!searcher.Ok()) {
        Information(searcher.Message());
        return;
    }
    list->SetMultiSelect(false);
    const int from = list->ItemIndex() + 1;
    // From the last row there is nothing left to scan: say so all the same
    // (unless the search goes round to the first row).
    if (from > list->Count() - 1 && !searcher.Options().wrap) {
        Information(kNotFound);
    } else {
        const doc::FindOutcome r = doc::FindNext(*d, searcher, {from, 0});
        if (r.match) {
            list->SetItemSelected(r.match->row, true);
            list->ItemEnsureVisible(r.match->row);
        } else {
            Information(r.status == doc::FindStatus::Ok ? kNotFound : r.message);
        }
    }
    list->SetMultiSelect(true);
}

void frmMain::CmdFindAll() {
    if (!ListHasRows(m_activeList)) return;
    if (m_lastFindText.isEmpty()) m_lastFindText = AskFindText();
    if (m_lastFindText.isEmpty()) return;
    ctlListView* list = List(m_activeList);
    const doc::SubtitleDocument* d = Document(m_activeList);
    doc::Searcher searcher(utf8(m_lastFindText), FindOptionsNow());
    std::vector<doc::TextMatch> matches;
    if (doc::FindAll(*d, searcher, &matches) != doc::FindStatus::Ok) {
        Information(searcher.Message());
        return;
    }
    int found = 0;
    // Redraw off: the view takes all the selections at once at the end.
    list->SetRedraw(false);
    std::size_t next = 0;
    for (int i = 0; i < list->Count(); ++i) {
        bool holds = false;
        while (next < matches.size() && matches[next].row <= i) holds |= matches[next++].row == i;
        if (holds) {
            list->SetItemSelected(i, true);
            list->ItemEnsureVisible(i);
            ++found;
        } else if (list->ItemSelected(i)) {
            list->SetItemSelected(i, false);
        }
    }
    list->SetRedraw(true);
    if (found == 0) {
        Information(kNotFound);
    } else {
        Information(QStringLiteral("总计找到 ") + QString::number(found) + QStringLiteral(" 项符合的文本"));
    }
}

// ---- merging ---------------------------------------------------------------

void frmMain::CmdCombineToFile() {
    const ctlListView* active = List(m_activeList);
    const QString defaultName =
        active && !active->Tag().isEmpty()
            ? clsSystem::GetFileString(active->Tag(), QStringLiteral("."), 0)
            : QString();
    const QString filter = clsSystem::MakeFilter({{QStringLiteral("*.srt"), QStringLiteral("*.srt")},
                                                  {QStringLiteral("*.ssa"), QStringLiteral("*.ssa")}});
    const QString chosen = FileDialog(filter, true, defaultName, QStringLiteral("srt"));
    if (chosen.isEmpty()) return;
    std::vector<std::string> entries{std::string()};
    for (int i = 0; i < ListCount(); ++i) {
        if (!ListOpen(i)) continue;
        std::vector<std::string> rows = EntriesFromList(i);
        entries.insert(entries.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    }
    if (entries.size() == 1) {
        Information(QStringLiteral("没有字幕"));
        return;
    }
    clsSubtitle::QuickSort(entries, 0, static_cast<int64_t>(entries.size()) - 1);
    const QString target = clsSystem::RenameExists(chosen);
    if (target.isEmpty()) return;  // every numbered variant is taken: nothing is overwritten
    SaveEntries(entries, target);
}

void frmMain::CmdCombineByFile() {
    std::vector<std::string> entries{std::string()};
    for (int i = 0; i < ListCount(); ++i) {
        if (!ListOpen(i)) continue;
        std::vector<std::string> rows = EntriesFromList(i);
        entries.insert(entries.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    }
    if (entries.size() == 1) {
        Information(QStringLiteral("没有字幕"));
        return;
    }
    clsSubtitle::QuickSort(entries, 0, static_cast<int64_t>(entries.size()) - 1);
    std::vector<doc::CueValue> merged;
    merged.reserve(entries.size() - 1);
    for (std::size_t e = 1; e < entries.size(); ++e) {
        const editor::EntryCells c = editor::CellsFromEntry(entries[e]);
        auto ms = [](const QString& t) { return static_cast<int64_t>(std::llround(clsSubtitle::TimeToMSecs(utf8(t), ","))); };
        merged.push_back({ms(c.start), c.end.isEmpty() ? doc::kNoEnd : ms(c.end), utf8(c.text)});
    }
    // Every document is emptied and the active one gets all the lines:
    // one step, undone in all of them at once.
    std::vector<doc::SubtitleDocument*> docs;
    for (auto& d : m_docs) docs.push_back(d.get());
    doc::SubtitleDocument* active = Document(m_activeList);
    const QString step = QStringLiteral("基于文件合并字幕");
    doc::SubtitleDocument::ChangeTogether(docs, step, [&] {
        for (doc::SubtitleDocument* d : docs)
            if (d != active) d->Clear(step);
        if (active) active->ReplaceAll(std::move(merged), step);
    });
    UpdateListStatus(m_activeList);
    Information(QStringLiteral("已经完成"));
}

void frmMain::CmdCombineByTimeline() {
    bool cancelled = false;
    const QString answer = m_system->InputBox(QStringLiteral("单位：毫秒"), QStringLiteral("设置阈值"),
                                              QStringLiteral("50"), &cancelled, this);
    const int threshold = cancelled ? 0 : editor::RoundHalfEven(editor::LeadingNumber(answer));
    if (threshold <= 0) return;
    // Clicks during the merge may change the active list: the merge keeps its own.
    const int activeIndex = m_activeList;
    ctlListView* active = List(activeIndex);
    if (!active) return;
    for (ctlListView* l : m_lists) l->SetRedraw(false);

    auto rowsOf = [this](int index) {
        const doc::SubtitleDocument* d = Document(index);
        std::vector<editor::TimelineRow> rows;
        rows.reserve(static_cast<std::size_t>(d->Count()));
        for (int k = 0; k < d->Count(); ++k) {
            // A start-only line takes part as the lists showed it before: ending at 0.
            rows.push_back({static_cast<double>(d->Start(k)), d->HasEnd(k) ? static_cast<double>(d->End(k)) : 0.0,
                            QString::fromUtf8(TrimCellSpaces(d->Text(k))), k});
        }
        return rows;
    };
    std::vector<editor::TimelineRow> activeRows = rowsOf(activeIndex);
    std::vector<std::vector<editor::TimelineRow>> otherRows;
    std::vector<int> otherIndex;
    for (int i = 0; i < ListCount(); ++i) {
        if (i == activeIndex || !ListOpen(i)) continue;
        otherRows.push_back(rowsOf(i));
        otherIndex.push_back(i);
    }
    std::vector<std::vector<editor::TimelineRow>*> others;
    for (auto& r : otherRows) others.push_back(&r);
    const int count = active->Count();
    ++m_running;  // pending messages run inside: no other command may change these rows
    editor::MergeByTimeline(activeRows, others, threshold, [this, count](int j) {
        m_status->PanelText(2, QStringLiteral(" ") +
                                   QString::number(editor::RoundHalfEven((count - j) * 100.0 / count)) +
                                   QStringLiteral("%"));
        QCoreApplication::processEvents();
    });

    --m_running;

    // The active document's new texts and the lines taken from the others:
    // one step across all of them.
    std::vector<std::pair<int, std::string>> texts;
    doc::SubtitleDocument* activeDoc = Document(activeIndex);
    for (const editor::TimelineRow& r : activeRows) {
        if (utf8(r.text) != TrimCellSpaces(activeDoc->Text(r.row))) texts.emplace_back(r.row, utf8(r.text));
    }
    std::vector<doc::SubtitleDocument*> docs{activeDoc};
    std::vector<std::vector<int>> removals;
    for (std::size_t o = 0; o < otherRows.size(); ++o) {
        doc::SubtitleDocument* d = Document(otherIndex[o]);
        std::vector<bool> keep(static_cast<std::size_t>(d->Count()), false);
        for (const editor::TimelineRow& r : otherRows[o]) keep[static_cast<std::size_t>(r.row)] = true;
        std::vector<int> gone;
        for (int k = 0; k < d->Count(); ++k)
            if (!keep[static_cast<std::size_t>(k)]) gone.push_back(k);
        docs.push_back(d);
        removals.push_back(std::move(gone));
    }
    const QString step = QStringLiteral("基于时间合并字幕");
    doc::SubtitleDocument::ChangeTogether(docs, step, [&] {
        activeDoc->SetTexts(std::move(texts), step);
        for (std::size_t o = 0; o < removals.size(); ++o) docs[o + 1]->Remove(std::move(removals[o]), step);
    });
    for (ctlListView* l : m_lists) l->SetRedraw(true);
    Information(QStringLiteral("已经完成"));
    if (!active->Tag().isEmpty())
        m_status->PanelText(2, QStringLiteral(" ") + QString::number(active->Count()) + QStringLiteral(" 行"));
    AfterRun();
}

}  // namespace lumeval
