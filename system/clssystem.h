// clsSystem: the editor's utility object. File, folder and path helpers,
// file dialogs, pop-up menus, message and input boxes, the clipboard, the
// shell's "open", the window icon, and the time texts shared with the engine.
//
// Naming: members keep the names the editor's code was written against
// (`OpenSaveFile`, `cPath`, ...) with their parameter names (`b` Boolean,
// `str` text). Texts and paths are QString, as the controls hold them; the
// path and time helpers hand over to the engine's functions in UTF-8.
//
// Everything the user sees or answers goes through one SystemUi: the real
// Qt dialogs by default, a ScriptedSystemUi in tests (SetUi).
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "system/systemui.h"

class QWidget;

namespace lumeval {

class clsSystem {
  public:
    clsSystem();
    explicit clsSystem(std::shared_ptr<SystemUi> ui);

    /// Replaces the user interface; nullptr returns to the Qt one.
    void SetUi(std::shared_ptr<SystemUi> ui);
    SystemUi& Ui() const { return *m_ui; }

    // ---- dialogs, menus, boxes ---------------------------------------------

    /// Shows the open (or, with `bSaveFile`, the save) dialog and returns the
    /// chosen path, or an empty text when cancelled. `Filter` is a sequence of
    /// description and pattern texts, each followed by U+0000 (see
    /// MakeFilter). A chosen name without an extension gets "." + `strDefExt`
    /// when saving, and when opening if only the name with it exists.
    /// `bControlHwnd`: the dialog's owner (nullptr: the active window).
    QString OpenSaveFile(const QString& Filter, bool bSaveFile,
                         const QString& strDefaultFileName = {}, const QString& strInitialDir = {},
                         const QString& strDefExt = {}, QWidget* bControlHwnd = nullptr,
                         const QString& strTitle = {});
    /// The same with a drop-down of `choices` under `choiceLabel`; `chosen`
    /// gives the one proposed and receives the one picked.
    QString OpenSaveFile(const QString& Filter, bool bSaveFile, const QString& strDefaultFileName,
                         const QString& strInitialDir, const QString& strDefExt, QWidget* bControlHwnd,
                         const QString& choiceLabel, const QStringList& choices, int* chosen,
                         const QString& strTitle = {});
    /// The U+0000-separated filter text of the pairs, for OpenSaveFile.
    static QString MakeFilter(std::initializer_list<FileFilter> pairs);
    /// The pairs of a filter text. A description without its pattern is also
    /// its own pattern; empty pairs are dropped.
    static QList<FileFilter> ParseFilter(const QString& Filter);

    /// Shows a pop-up menu of the items of `strItems` (separated by "|", "-"
    /// a separator) and returns the 0-based position of the chosen item in
    /// that list, separators counted, or -1 when the menu was dismissed.
    /// X and Y are screen coordinates, or coordinates in `hWnd` when one is
    /// given; -1 stands for the cursor's coordinate.
    int PopupMenu(const QString& strItems, int X = -1, int Y = -1, QWidget* hWnd = nullptr);
    /// The item texts of a menu text, split at "|".
    static QStringList PopupMenuItems(const QString& strItems);

    /// A message box. `DefaultButton` counts the set's buttons from 1 (out of
    /// range: the first). An empty title is the application's name.
    MsgResult MsgBox(const QString& Prompt, MsgButtons Buttons = MsgButtons::OkOnly,
                     MsgIcon Icon = MsgIcon::None, const QString& Title = {}, int DefaultButton = 1,
                     QWidget* hWnd = nullptr);
    /// The information box: information icon, one OK button.
    void InfoBox(const QString& Prompt, const QString& Title = {}, QWidget* hWnd = nullptr);
    /// A Yes/No question; True for Yes. `bDefaultNo` makes No the default.
    bool AskYesNo(const QString& Prompt, MsgIcon Icon = MsgIcon::Question,
                  const QString& Title = {}, bool bDefaultNo = false, QWidget* hWnd = nullptr);
    /// A text-input box proposing `Default`; an empty text when cancelled
    /// (`bCancelled`, when given, tells a cancel from an empty answer).
    QString InputBox(const QString& Prompt, const QString& Title = {}, const QString& Default = {},
                     bool* bCancelled = nullptr, QWidget* hWnd = nullptr);

    /// InputBox with the find options under the text (`Options` proposed);
    /// nullopt when cancelled.
    std::optional<FindBoxAnswer> FindBox(const QString& Prompt, const QString& Title, const QString& Default,
                                         const FindBoxOptions& Options, QWidget* hWnd = nullptr);

    // ---- clipboard, shell, icon --------------------------------------------

    void ClipboardClear();
    void ClipboardSetText(const QString& strText);
    QString ClipboardGetText();

    /// The shell's "open" of a web address or a local path; False when the
    /// text is no address or nothing opened it.
    bool ShellOpen(const QString& strAddress);

    /// Gives the window the icon named `IconName`: a file or resource path,
    /// or a name looked up as ":/NAME", ":/icons/NAME" with the endings
    /// "", ".png", ".svg", ".ico". With `bSetAsAppIcon` the application gets
    /// it too. False (nothing changed) when no icon was found.
    bool SetIcon(QWidget* hWnd, const QString& IconName, bool bSetAsAppIcon = false);

    // ---- files and paths ---------------------------------------------------

    /// True when a file or folder of that name exists (False for an empty name).
    static bool FileExists(const QString& strFileName);
    /// True when the path names an existing folder.
    static bool isFolder(const QString& strPath);
    /// Empty for a blank path; otherwise the path ending in a folder separator.
    static QString cPath(const QString& Path);
    /// Style 0: text before the last `strDelim` (for "." the bare file name);
    /// style 1: text after it; style 2: text before it; other styles: empty.
    static QString GetFileString(const QString& strPath, const QString& strDelim, int StrStyle);
    /// The name itself when no file of that name exists (or `bOverwrite`);
    /// otherwise base(n).ext for the first free n in 1..999999; empty when
    /// every one is taken.
    static QString RenameExists(const QString& inFile, bool bOverwrite = false);
    /// True when the file name's extension (after its last ".") is longer
    /// than one character and "*." + extension occurs in `CheckString`,
    /// ignoring case. A name without "." has no extension.
    static bool CheckSuffixFromString(const QString& inFileName, const QString& CheckString);

    // ---- time texts (the engine's, see engine/timecode.h) -------------------

    static QString MSecsToTime(double LngMSecs, int16_t TimeStyle = 0);
    static double TimeToMSecs(const QString& TimeString,
                              const QString& MSecString = QStringLiteral(","));
    static double TimeToSec(const QString& TimeString, bool MSecUse,
                            const QString& MSecString = QStringLiteral(","));
    static QString MSecsToCueTime(double LngMSecs);
    static double CueTimeToMSecs(const QString& TimeString);
    static QString FormatTime(double LngMSecs, bool MSecUse, const QString& MSecString);

  private:
    std::shared_ptr<SystemUi> m_ui;
};

namespace system_detail {

/// base(n).ext for the first n in [first, last] that `exists` does not
/// report, the name split as the engine's RenameExists splits it; empty
/// when all are taken.
std::string FirstFreeNumberedName(const std::string& inFile, int first, int last,
                                  const std::function<bool(const std::string&)>& exists);

}  // namespace system_detail

}  // namespace lumeval
