// SystemUi: every place where clsSystem shows something to the user or asks
// the user something (file dialogs, pop-up menus, message and input boxes),
// plus the clipboard, the shell's "open" and the window icon.
//
// Two implementations: QtSystemUi (the real Qt dialogs, the default) and
// ScriptedSystemUi (answers from queues and records what was shown, for
// tests). clsSystem prepares each request completely (titles filled in, the
// cursor position resolved, the filter split into pairs) so the scripted one
// records exactly what the real one would show.
//
// Message-box numbers keep the classic values (buttons 0..5, icons 16..64,
// results 1..7), so the editor's calls read as its message boxes were written.
#pragma once

#include <QIcon>
#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>
#include <vector>

class QWidget;

namespace lumeval {

/// One file-dialog filter: what the user reads, and the patterns it stands
/// for, separated by ";" (and blanks), for example "*.srt; *.ass".
struct FileFilter {
    QString Description;
    QString Pattern;
    bool operator==(const FileFilter&) const = default;
};

enum class MsgButtons : int {
    OkOnly = 0,
    OkCancel = 1,
    AbortRetryIgnore = 2,
    YesNoCancel = 3,
    YesNo = 4,
    RetryCancel = 5,
};

enum class MsgIcon : int {
    None = 0,
    Critical = 16,
    Question = 32,
    Exclamation = 48,  ///< the warning icon
    Information = 64,
};

enum class MsgResult : int {
    Ok = 1,
    Cancel = 2,
    Abort = 3,
    Retry = 4,
    Ignore = 5,
    Yes = 6,
    No = 7,
};

/// The buttons of a set, left to right (the order default-button numbers count).
std::vector<MsgResult> ButtonsOf(MsgButtons Buttons);
/// The answer of a box closed without a button (Escape, window close): the
/// set's Cancel, else its No, else its first button (Ok; Abort).
MsgResult DismissAnswer(MsgButtons Buttons);

/// A pop-up menu item that is a separator: "-", or an empty text.
bool IsMenuSeparator(const QString& item);

struct FileDialogRequest {
    bool bSaveFile = false;
    QList<FileFilter> Filters;  ///< empty: every file
    QString DefaultFileName;    ///< proposed name, may hold a folder
    QString InitialDir;         ///< empty: the dialog's own choice
    QString DefExt;             ///< without the dot; empty: none
    QString Title;              ///< empty: the dialog's own title
    QWidget* Owner = nullptr;
    /// A drop-down beside the name (a save's encoding): its label, its
    /// items, and where the item chosen is read from and written to. No
    /// items: no drop-down.
    QString ChoiceLabel;
    QStringList Choices;
    int* Chosen = nullptr;
};

struct PopupMenuRequest {
    /// The item texts in order; "-" (and an empty text) is a separator.
    QStringList Items;
    QPoint Position;  ///< global (screen) coordinates
    QWidget* Owner = nullptr;
};

struct MessageBoxRequest {
    QString Prompt;  ///< plain text; lines separated by "\r\n" or "\n"
    QString Title;
    MsgButtons Buttons = MsgButtons::OkOnly;
    MsgIcon Icon = MsgIcon::None;
    MsgResult DefaultButton = MsgResult::Ok;  ///< one of the set's buttons
    QWidget* Owner = nullptr;
};

struct InputBoxRequest {
    QString Prompt;
    QString Title;
    QString Default;  ///< the proposed answer
    QWidget* Owner = nullptr;
};

/// The find box's choices beside its text.
struct FindBoxOptions {
    bool matchCase = true;
    bool wholeWords = false;
    bool regex = false;
    bool wrap = false;
    bool foldChinese = false;
    bool operator==(const FindBoxOptions&) const = default;
};

struct FindBoxAnswer {
    QString Text;
    FindBoxOptions Options;
};

class SystemUi {
  public:
    virtual ~SystemUi();

    /// The chosen path as the user gave it, or an empty text when cancelled.
    virtual QString fileDialog(const FileDialogRequest& request) = 0;
    /// The index in `Items` of the chosen item, or -1 when dismissed.
    virtual int popupMenu(const PopupMenuRequest& request) = 0;
    /// The button that closed the box (DismissAnswer when none did).
    virtual MsgResult messageBox(const MessageBoxRequest& request) = 0;
    /// The text entered, or nullopt when the box was cancelled.
    virtual std::optional<QString> inputBox(const InputBoxRequest& request) = 0;
    /// The find box: an input box with the find options under the text,
    /// `options` as proposed; nullopt when cancelled. By default it is the
    /// plain input box and the options come back as they were.
    virtual std::optional<FindBoxAnswer> findBox(const InputBoxRequest& request, const FindBoxOptions& options);

    virtual QString clipboardText() = 0;
    virtual void setClipboardText(const QString& text) = 0;
    virtual void clearClipboard() = 0;

    /// The shell's "open" of an address or a file; False when nothing opened it.
    virtual bool openUrl(const QUrl& url) = 0;
    /// Gives `window` the icon (and the application too when `bAsAppIcon`).
    /// `name` is what the caller asked for; a null icon changes nothing.
    virtual void setWindowIcon(QWidget* window, const QString& name, const QIcon& icon,
                               bool bAsAppIcon) = 0;
};

}  // namespace lumeval
