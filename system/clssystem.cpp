#include "system/clssystem.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QWidget>
#include <algorithm>

#include "engine/textutil.h"
#include "engine/timecode.h"
#include "system/qtsystemui.h"

namespace lumeval {

namespace {

std::string Utf8(const QString& text) {
    return text.toStdString();
}
QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

QWidget* OwnerOr(QWidget* owner) {
    return owner != nullptr ? owner : QApplication::activeWindow();
}

QString TitleOr(const QString& title) {
    return title.isEmpty() ? QGuiApplication::applicationDisplayName() : title;
}

// The file name of a path: after its last folder separator, either kind.
QString FileNamePart(const QString& path) {
    const qsizetype sep = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    return path.mid(sep + 1);
}

}  // namespace

clsSystem::clsSystem() : m_ui(std::make_shared<QtSystemUi>()) {}

clsSystem::clsSystem(std::shared_ptr<SystemUi> ui) {
    SetUi(std::move(ui));
}

void clsSystem::SetUi(std::shared_ptr<SystemUi> ui) {
    m_ui = ui != nullptr ? std::move(ui) : std::make_shared<QtSystemUi>();
}

// ---- dialogs, menus, boxes ---------------------------------------------------

QString clsSystem::MakeFilter(std::initializer_list<FileFilter> pairs) {
    QString out;
    for (const FileFilter& f : pairs) {
        out += f.Description + QChar(u'\0') + f.Pattern + QChar(u'\0');
    }
    return out;
}

QList<FileFilter> clsSystem::ParseFilter(const QString& Filter) {
    const QStringList parts = Filter.split(QChar(u'\0'));
    QList<FileFilter> out;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString& description = parts[i];
        const QString pattern = i + 1 < parts.size() ? parts[i + 1] : QString();
        if (description.isEmpty() && pattern.isEmpty()) continue;
        out.push_back({description, pattern.isEmpty() ? description : pattern});
    }
    return out;
}

QString clsSystem::OpenSaveFile(const QString& Filter, bool bSaveFile,
                                const QString& strDefaultFileName, const QString& strInitialDir,
                                const QString& strDefExt, QWidget* bControlHwnd,
                                const QString& strTitle) {
    return OpenSaveFile(Filter, bSaveFile, strDefaultFileName, strInitialDir, strDefExt, bControlHwnd, QString(), {},
                        nullptr, strTitle);
}

QString clsSystem::OpenSaveFile(const QString& Filter, bool bSaveFile, const QString& strDefaultFileName,
                                const QString& strInitialDir, const QString& strDefExt, QWidget* bControlHwnd,
                                const QString& choiceLabel, const QStringList& choices, int* chosen,
                                const QString& strTitle) {
    FileDialogRequest request;
    request.bSaveFile = bSaveFile;
    request.Filters = ParseFilter(Filter);
    request.DefaultFileName = strDefaultFileName;
    request.InitialDir = strInitialDir;
    QString ext = strDefExt.trimmed();
    while (ext.startsWith(u'.')) ext.remove(0, 1);
    // A pattern ("*", "s?t") is no extension a name could be given.
    if (ext.contains(u'*') || ext.contains(u'?')) ext.clear();
    request.DefExt = ext;
    request.Title = strTitle;
    request.Owner = OwnerOr(bControlHwnd);
    request.ChoiceLabel = choiceLabel;
    request.Choices = choices;
    request.Chosen = chosen;

    QString path = m_ui->fileDialog(request);
    if (path.isEmpty() || ext.isEmpty()) return path;
    const QString name = FileNamePart(path);
    if (name.isEmpty() || name.contains(u'.')) return path;
    const QString withExt = path + u'.' + ext;
    // Opening: the typed name wins when it exists; the extension only helps
    // find the file the user meant.
    if (bSaveFile || (!FileExists(path) && FileExists(withExt))) return withExt;
    return path;
}

QStringList clsSystem::PopupMenuItems(const QString& strItems) {
    return strItems.split(u'|');
}

int clsSystem::PopupMenu(const QString& strItems, int X, int Y, QWidget* hWnd) {
    PopupMenuRequest request;
    request.Items = PopupMenuItems(strItems);
    if (std::all_of(request.Items.begin(), request.Items.end(), IsMenuSeparator)) return -1;
    QPoint cursor = QCursor::pos();
    if (hWnd != nullptr) cursor = hWnd->mapFromGlobal(cursor);
    QPoint at(X == -1 ? cursor.x() : X, Y == -1 ? cursor.y() : Y);
    if (hWnd != nullptr) at = hWnd->mapToGlobal(at);
    request.Position = at;
    request.Owner = OwnerOr(hWnd);
    const int chosen = m_ui->popupMenu(request);
    return chosen >= 0 && chosen < request.Items.size() ? chosen : -1;
}

MsgResult clsSystem::MsgBox(const QString& Prompt, MsgButtons Buttons, MsgIcon Icon,
                            const QString& Title, int DefaultButton, QWidget* hWnd) {
    MessageBoxRequest request;
    request.Prompt = Prompt;
    request.Title = TitleOr(Title);
    request.Buttons = Buttons;
    request.Icon = Icon;
    const std::vector<MsgResult> buttons = ButtonsOf(Buttons);
    const bool inRange = DefaultButton >= 1 && DefaultButton <= static_cast<int>(buttons.size());
    request.DefaultButton = buttons[inRange ? static_cast<std::size_t>(DefaultButton - 1) : 0];
    request.Owner = OwnerOr(hWnd);
    return m_ui->messageBox(request);
}

void clsSystem::InfoBox(const QString& Prompt, const QString& Title, QWidget* hWnd) {
    MsgBox(Prompt, MsgButtons::OkOnly, MsgIcon::Information, Title, 1, hWnd);
}

bool clsSystem::AskYesNo(const QString& Prompt, MsgIcon Icon, const QString& Title, bool bDefaultNo,
                         QWidget* hWnd) {
    return MsgBox(Prompt, MsgButtons::YesNo, Icon, Title, bDefaultNo ? 2 : 1, hWnd) ==
           MsgResult::Yes;
}

QString clsSystem::InputBox(const QString& Prompt, const QString& Title, const QString& Default,
                            bool* bCancelled, QWidget* hWnd) {
    const std::optional<QString> answer =
        m_ui->inputBox({Prompt, TitleOr(Title), Default, OwnerOr(hWnd)});
    if (bCancelled != nullptr) *bCancelled = !answer.has_value();
    return answer.value_or(QString());
}

std::optional<FindBoxAnswer> clsSystem::FindBox(const QString& Prompt, const QString& Title, const QString& Default,
                                                const FindBoxOptions& Options, QWidget* hWnd) {
    return m_ui->findBox({Prompt, TitleOr(Title), Default, OwnerOr(hWnd)}, Options);
}

// ---- clipboard, shell, icon --------------------------------------------------

void clsSystem::ClipboardClear() {
    m_ui->clearClipboard();
}

void clsSystem::ClipboardSetText(const QString& strText) {
    m_ui->setClipboardText(strText);
}

QString clsSystem::ClipboardGetText() {
    return m_ui->clipboardText();
}

bool clsSystem::ShellOpen(const QString& strAddress) {
    const QString address = strAddress.trimmed();
    if (address.isEmpty()) return false;
    // A relative path names a file of the current folder when there is one.
    const QUrl url = QUrl::fromUserInput(address, QDir::currentPath());
    if (!url.isValid()) return false;
    return m_ui->openUrl(url);
}

bool clsSystem::SetIcon(QWidget* hWnd, const QString& IconName, bool bSetAsAppIcon) {
    QIcon icon;
    if (!IconName.isEmpty()) {
        const QStringList stems{IconName, QStringLiteral(":/") + IconName,
                                QStringLiteral(":/icons/") + IconName};
        const QStringList endings{QString(), QStringLiteral(".png"), QStringLiteral(".svg"),
                                  QStringLiteral(".ico")};
        for (const QString& stem : stems) {
            for (const QString& ending : endings) {
                const QString path = stem + ending;
                if (!QFileInfo(path).isFile()) continue;
                QIcon candidate(path);
                // A file that is no picture gives an icon without pixels.
                if (candidate.pixmap(QSize(16, 16)).isNull()) continue;
                icon = candidate;
                break;
            }
            if (!icon.isNull()) break;
        }
    }
    m_ui->setWindowIcon(hWnd, IconName, icon, bSetAsAppIcon);
    return !icon.isNull();
}

// ---- files and paths ---------------------------------------------------------

bool clsSystem::FileExists(const QString& strFileName) {
    return lumeval::FileExists(Utf8(strFileName));
}

bool clsSystem::isFolder(const QString& strPath) {
    return DirExists(Utf8(strPath));
}

QString clsSystem::cPath(const QString& Path) {
    return FromUtf8(lumeval::cPath(Utf8(Path)));
}

QString clsSystem::GetFileString(const QString& strPath, const QString& strDelim, int StrStyle) {
    return FromUtf8(lumeval::GetFileString(Utf8(strPath), Utf8(strDelim), StrStyle));
}

QString clsSystem::RenameExists(const QString& inFile, bool bOverwrite) {
    const std::string name = Utf8(inFile);
    const std::string free = lumeval::RenameExists(name, bOverwrite);
    if (!free.empty() || name.empty()) return FromUtf8(free);
    // The editor numbers on to 999999 where the converter stops at 99999: a
    // folder that full is the user's own, and a save should still find room.
    return FromUtf8(system_detail::FirstFreeNumberedName(
        name, 100000, 999999,
        [](const std::string& candidate) { return lumeval::FileExists(candidate); }));
}

bool clsSystem::CheckSuffixFromString(const QString& inFileName, const QString& CheckString) {
    // Only the file name's own dot counts: a name without one ("ts") has no
    // extension, and must not match "*.ts" through its whole name.
    const QString name = FileNamePart(inFileName);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0) return false;
    const QString ext = name.mid(dot + 1);
    if (ext.toUcs4().size() <= 1) return false;
    return CheckString.contains(QStringLiteral("*.") + ext, Qt::CaseInsensitive);
}

// ---- time texts --------------------------------------------------------------

QString clsSystem::MSecsToTime(double LngMSecs, int16_t TimeStyle) {
    return FromUtf8(lumeval::MSecsToTime(LngMSecs, TimeStyle));
}

double clsSystem::TimeToMSecs(const QString& TimeString, const QString& MSecString) {
    return lumeval::TimeToMSecs(Utf8(TimeString), Utf8(MSecString));
}

double clsSystem::TimeToSec(const QString& TimeString, bool MSecUse, const QString& MSecString) {
    return lumeval::TimeToSec(Utf8(TimeString), MSecUse, Utf8(MSecString));
}

QString clsSystem::MSecsToCueTime(double LngMSecs) {
    return FromUtf8(lumeval::MSecsToCueTime(LngMSecs));
}

double clsSystem::CueTimeToMSecs(const QString& TimeString) {
    return lumeval::CueTimeToMSecs(Utf8(TimeString));
}

QString clsSystem::FormatTime(double LngMSecs, bool MSecUse, const QString& MSecString) {
    return FromUtf8(lumeval::FormatTime(LngMSecs, MSecUse, Utf8(MSecString)));
}

namespace system_detail {

std::string FirstFreeNumberedName(const std::string& inFile, int first, int last,
                                  const std::function<bool(const std::string&)>& exists) {
    // Split as the engine does: the last "." of the file name itself; a dot
    // in a folder name or a leading dot starts no extension.
    const std::size_t sep = inFile.find_last_of("/\\");
    const std::size_t nameStart = sep == std::string::npos ? 0 : sep + 1;
    std::size_t dot = inFile.rfind('.');
    if (dot == std::string::npos || dot <= nameStart) dot = inFile.size();
    const std::string base = inFile.substr(0, dot);
    const std::string ext = inFile.substr(dot);
    std::string candidate;
    for (int n = first; n <= last; ++n) {
        candidate = base + '(' + std::to_string(n) + ')' + ext;
        if (!exists(candidate)) return candidate;
    }
    return {};
}

}  // namespace system_detail

}  // namespace lumeval
