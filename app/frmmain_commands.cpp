// frmMain: the command dispatcher and every command it runs.
#include <QCoreApplication>
#include <QDir>

#include "app/frmmain.h"
#include "app/modregistry.h"
#include "controls/ctllistview.h"
#include "controls/logsink.h"
#include "controls/ucstatusbar.h"
#include "engine/subtitle.h"
#include "system/clssystem.h"

namespace lumeval {

namespace {

const QString kSubtitlePatterns = QStringLiteral(
    "*.ssa; *.srt; *.ass; *.lrc; *.ksc; *.krc; *.smi; *.sami; *.snc; *.qly; *.utf; *.stl; "
    "*.vsf; *.dks; *.txt; *.stxt");
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

}  // namespace

const QString& SubtitlePatterns() { return kSubtitlePatterns; }
const QString& VideoPatterns() { return kVideoPatterns; }

void frmMain::RunCommand(const QString& strCommand) {
    const editor::CommandMatch m = editor::MatchCommand(strCommand);
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

void frmMain::CmdOpenSubtitle() {
    const QString path = m_system->OpenSaveFile(
        clsSystem::MakeFilter({{kSubtitlePatterns, kSubtitlePatterns}}), false, {}, {}, {}, this);
    OpenSubtitle(path);
}

void frmMain::CmdOpenVideo() {
    const QString path = m_system->OpenSaveFile(
        clsSystem::MakeFilter({{QStringLiteral("*.*"), QStringLiteral("*.*")}}), false, {}, {}, {}, this);
    OpenVideo(path);
}

void frmMain::OpenSubtitle(const QString& path) {
    if (path.isEmpty() || !clsSystem::FileExists(path) || clsSystem::isFolder(path)) return;

    // The character-set question, by the text's class.
    int32_t fmt = -1;
    const std::string text = m_subtitle->UEFLoadTextFile(utf8(path), fmt);
    const int32_t cls = m_subtitle->CheckChineseInternalCodeSpecification(text);
    static const char16_t* const kQuestions[] = {
        u"这应该是一个简体字符集字幕，是否在打开文件时进行繁简转换？按是强制繁简转换，按否直接打开。",
        u"这应该是一个繁体字符集字幕，是否在打开文件时进行繁简转换？按是强制繁简转换，按否直接打开。",
        u"这应该是一个 GBK 字符集字幕，是否在打开文件时进行繁简转换？按是强制繁简转换，按否直接打开。",
    };
    int32_t conversion = 0;
    if (cls >= 0 && cls <= 2)
        conversion = m_system->AskYesNo(QString::fromUtf16(kQuestions[cls]), MsgIcon::Question, {}, false, this) ? 1 : 0;

    // The last list is reused when it is empty, else a new one follows it.
    if (m_lists.back()->Count() > 0) AddList();
    m_activeList = ListCount() - 1;
    ctlListView* list = m_lists.back();
    list->SetTag(path);
    list->setVisible(true);

    m_subtitle->ProgressChange = [this](int32_t, int32_t, int32_t Status, const std::string& StatusText, bool&) {
        ctlListView* active = List(m_activeList);
        switch (Status) {
            case kStatusFileStart:
                if (active) {
                    active->SetRedraw(false);
                    active->Clear();
                }
                break;
            case kStatusSaved:
                Information(QStringLiteral("字幕文件已经保存：\r\n") + QString::fromStdString(StatusText));
                break;
            case kStatusComplete:
                UpdateListStatus(m_activeList);
                if (active) active->SetRedraw(true);
                break;
            case kStatusFailed:
            case kStatusCancelled:
                m_status->PanelText(1, Status == kStatusFailed ? QStringLiteral(" 发生错误") : QStringLiteral(" 已经取消"));
                if (active) active->SetRedraw(true);
                break;
            default: break;
        }
    };
    m_subtitle->SubtitleLineLoaded = [this](double start, double end, const std::string& text) {
        ctlListView* active = List(m_activeList);
        if (!active) return;
        const QString row = QString::number(active->Count() + 1) + u'|' +
                            QString::fromStdString(clsSubtitle::MSecsToTime(start, 0)) + u'|' +
                            QString::fromStdString(clsSubtitle::MSecsToTime(end, 0)) + u'|' +
                            QString::fromStdString(text);
        active->AddItem(row);
    };
    m_subtitle->YieldCallback = [] { QCoreApplication::processEvents(); };
    m_subtitle->ConvertSubtitle(utf8(path), loadSettings(conversion));
    Form_Resize();
}

std::vector<std::string> frmMain::EntriesFromList(int index) const {
    std::vector<std::string> entries;
    const ctlListView* l = List(index);
    if (!l) return entries;
    entries.reserve(static_cast<std::size_t>(l->Count()));
    for (int i = 0; i < l->Count(); ++i)
        entries.push_back(editor::EntryFromCells(l->ItemText(i, 1), l->ItemText(i, 2), l->ItemText(i, 3)));
    return entries;
}

void frmMain::CmdSave() {
    ctlListView* list = List(m_activeList);
    if (!list || list->Count() == 0) return;
    QString defaultName;
    if (!list->Tag().isEmpty()) {
        defaultName = clsSystem::RenameExists(clsSystem::cPath(QDir::currentPath()) +
                                              clsSystem::GetFileString(list->Tag(), QStringLiteral("."), 0) +
                                              QStringLiteral(".srt"));
    }
    const QString filter = clsSystem::MakeFilter({{QStringLiteral("*.srt"), QStringLiteral("*.srt")},
                                                  {QStringLiteral("*.ssa"), QStringLiteral("*.ssa")},
                                                  {QStringLiteral("*.ass"), QStringLiteral("*.ass")},
                                                  {QStringLiteral("*.lrc"), QStringLiteral("*.lrc")},
                                                  {QStringLiteral("*.smi"), QStringLiteral("*.smi")}});
    const QString path = m_system->OpenSaveFile(filter, true, defaultName, {}, QStringLiteral("srt"), this);
    if (path.isEmpty()) return;
    std::vector<std::string> entries = EntriesFromList(m_activeList);
    SaveSettings s;
    s.src_Format = 2;
    m_subtitle->SaveArrayToSubtitle(entries, utf8(path), s);
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
    ctlListView* list = List(m_activeList);
    if (!list) return;
    const bool start = command != editor::Command::TimeOffsetEnd;
    const bool end = command != editor::Command::TimeOffsetStart;
    list->SetRedraw(false);
    auto shift = [&](int row, int column) {
        const double ms = clsSubtitle::TimeToMSecs(utf8(list->ItemText(row, column)), ",");
        list->SetItemText(row, column, QString::fromStdString(clsSubtitle::MSecsToTime(ms + amount, 0)));
    };
    for (int i = 0; i < list->Count(); ++i) {
        if (start) shift(i, 1);
        if (end) shift(i, 2);
    }
    list->SetRedraw(true);
}

// ---- find ------------------------------------------------------------------

void frmMain::CmdFind() {
    if (!ListHasRows(m_activeList)) return;
    m_lastFindText = m_system->InputBox(QStringLiteral("查找内容："), QStringLiteral("查找"), m_lastFindText, nullptr, this);
    if (!m_lastFindText.isEmpty()) CmdFindNext();
}

void frmMain::CmdFindNext() {
    if (!ListHasRows(m_activeList)) return;
    if (m_lastFindText.isEmpty()) {
        CmdFind();
        return;
    }
    ctlListView* list = List(m_activeList);
    list->SetMultiSelect(false);
    const int last = list->Count() - 1;
    for (int i = list->ItemIndex() + 1; i <= last; ++i) {
        if (list->ItemText(i, 3).contains(m_lastFindText, Qt::CaseSensitive)) {
            list->SetItemSelected(i, true);
            list->ItemEnsureVisible(i);
            break;
        }
        if (i == last) Information(kNotFound);
    }
    list->SetMultiSelect(true);
}

void frmMain::CmdFindAll() {
    if (!ListHasRows(m_activeList)) return;
    if (m_lastFindText.isEmpty())
        m_lastFindText = m_system->InputBox(QStringLiteral("查找内容："), QStringLiteral("查找"), m_lastFindText, nullptr, this);
    if (m_lastFindText.isEmpty()) return;
    ctlListView* list = List(m_activeList);
    int found = 0;
    for (int i = 0; i < list->Count(); ++i) {
        if (list->ItemText(i, 3).contains(m_lastFindText, Qt::CaseSensitive)) {
            list->SetItemSelected(i, true);
            list->ItemEnsureVisible(i);
            ++found;
        } else {
            list->SetItemSelected(i, false);
        }
    }
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
    const QString chosen = m_system->OpenSaveFile(filter, true, defaultName, {}, QStringLiteral("srt"), this);
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
    SaveSettings s;
    s.src_Format = 2;
    m_subtitle->SaveArrayToSubtitle(entries, utf8(target), s);
}

void frmMain::CmdCombineByFile() {
    for (ctlListView* l : m_lists) l->SetRedraw(false);
    std::vector<std::string> entries{std::string()};
    for (int i = 0; i < ListCount(); ++i) {
        if (ListOpen(i)) {
            std::vector<std::string> rows = EntriesFromList(i);
            entries.insert(entries.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
        }
        m_lists[static_cast<std::size_t>(i)]->Clear();
    }
    auto redrawAll = [this] {
        for (ctlListView* l : m_lists) l->SetRedraw(true);
    };
    if (entries.size() == 1) {
        redrawAll();
        Information(QStringLiteral("没有字幕"));
        return;
    }
    clsSubtitle::QuickSort(entries, 0, static_cast<int64_t>(entries.size()) - 1);
    ctlListView* active = List(m_activeList);
    for (std::size_t e = 1; e < entries.size() && active; ++e) {
        const editor::EntryCells c = editor::CellsFromEntry(entries[e]);
        active->AddItem(QString::number(active->Count() + 1) + u'|' + c.start + u'|' + c.end + u'|' + c.text);
    }
    redrawAll();
    Information(QStringLiteral("已经完成"));
}

void frmMain::CmdCombineByTimeline() {
    bool cancelled = false;
    const QString answer = m_system->InputBox(QStringLiteral("单位：毫秒"), QStringLiteral("设置阈值"),
                                              QStringLiteral("50"), &cancelled, this);
    const int threshold = cancelled ? 0 : editor::RoundHalfEven(editor::LeadingNumber(answer));
    if (threshold <= 0) return;
    ctlListView* active = List(m_activeList);
    if (!active) return;
    for (ctlListView* l : m_lists) l->SetRedraw(false);

    auto rowsOf = [](const ctlListView* l) {
        std::vector<editor::TimelineRow> rows;
        rows.reserve(static_cast<std::size_t>(l->Count()));
        for (int k = 0; k < l->Count(); ++k) {
            rows.push_back({clsSubtitle::TimeToMSecs(utf8(l->ItemText(k, 1)), ","),
                            clsSubtitle::TimeToMSecs(utf8(l->ItemText(k, 2)), ","), l->ItemText(k, 3), k});
        }
        return rows;
    };
    std::vector<editor::TimelineRow> activeRows = rowsOf(active);
    std::vector<std::vector<editor::TimelineRow>> otherRows;
    std::vector<int> otherIndex;
    for (int i = 0; i < ListCount(); ++i) {
        if (i == m_activeList || !ListOpen(i)) continue;
        otherRows.push_back(rowsOf(m_lists[static_cast<std::size_t>(i)]));
        otherIndex.push_back(i);
    }
    std::vector<std::vector<editor::TimelineRow>*> others;
    for (auto& r : otherRows) others.push_back(&r);
    const int count = active->Count();
    editor::MergeByTimeline(activeRows, others, threshold, [this, count](int j) {
        m_status->PanelText(2, QStringLiteral(" ") +
                                   QString::number(editor::RoundHalfEven((count - j) * 100.0 / count)) +
                                   QStringLiteral("%"));
        QCoreApplication::processEvents();
    });

    for (const editor::TimelineRow& r : activeRows)
        if (r.text != active->ItemText(r.row, 3)) active->SetItemText(r.row, 3, r.text);
    for (std::size_t o = 0; o < otherRows.size(); ++o) {
        ctlListView* l = m_lists[static_cast<std::size_t>(otherIndex[o])];
        std::vector<bool> keep(static_cast<std::size_t>(l->Count()), false);
        for (const editor::TimelineRow& r : otherRows[o]) keep[static_cast<std::size_t>(r.row)] = true;
        for (int k = l->Count() - 1; k >= 0; --k)
            if (!keep[static_cast<std::size_t>(k)]) l->ItemRemove(k);
    }
    for (ctlListView* l : m_lists) l->SetRedraw(true);
    Information(QStringLiteral("已经完成"));
    if (!active->Tag().isEmpty())
        m_status->PanelText(2, QStringLiteral(" ") + QString::number(active->Count()) + QStringLiteral(" 行"));
}

}  // namespace lumeval
