// ScriptedSystemUi: SystemUi for tests. Each kind of question (file dialog,
// pop-up menu, message box, input box) takes its answer from its own queue,
// first in, first out, and every request is recorded with the answer given,
// so a test can say what the user does and then check what the user saw.
//
// With its queue empty a question is answered as a user who just closes it:
//   file dialog  -> cancelled (empty path)
//   pop-up menu  -> dismissed (-1)
//   message box  -> the default button (Enter)
//   input box    -> cancelled
// and the record says `fromQueue` false. A queued answer that cannot be
// given (a menu text or position that is no choosable item, a button the box
// does not have) is used up and answered the same way, also `fromQueue` false.
//
// The clipboard is kept here, not on the system clipboard; the shell's
// "open" and the window icon are recorded and change nothing.
#pragma once

#include <deque>
#include <variant>
#include <vector>

#include "system/systemui.h"

namespace lumeval {

class ScriptedSystemUi : public SystemUi {
  public:
    enum class Kind {
        FileDialog,
        PopupMenu,
        MessageBox,
        InputBox,
        ClipboardSet,
        ClipboardClear,
        OpenUrl,
        SetIcon
    };

    template <typename Request, typename Answer>
    struct Shown {
        Request request;
        Answer answer;
        bool fromQueue = false;
    };
    using ShownFileDialog = Shown<FileDialogRequest, QString>;
    using ShownPopupMenu = Shown<PopupMenuRequest, int>;
    using ShownMessageBox = Shown<MessageBoxRequest, MsgResult>;
    using ShownInputBox = Shown<InputBoxRequest, std::optional<QString>>;
    struct ShownIcon {
        QWidget* window = nullptr;
        QString name;
        bool found = false;  ///< the icon could be loaded
        bool bAsAppIcon = false;
    };

    // ---- answers ----
    /// The path the user picks; an empty text cancels the dialog.
    void queueFileDialog(const QString& path) { m_files.push_back(path); }
    /// The item the next dialog with a drop-down picks in it (else it keeps
    /// the one proposed).
    void queueFileChoice(int index) { m_fileChoices.push_back(index); }
    /// The index of the item chosen (separators count); negative dismisses.
    void queueMenuPosition(int position) { m_menus.emplace_back(position); }
    /// The first item with exactly this text is chosen.
    void queueMenuItem(const QString& text) { m_menus.emplace_back(text); }
    void queueMessageBox(MsgResult button) { m_boxes.push_back(button); }
    void queueInput(const QString& text) { m_inputs.emplace_back(text); }
    void queueInputCancel() { m_inputs.emplace_back(std::nullopt); }
    /// The options the next find box is answered with (its text comes from
    /// the input queue: a find box is recorded as an input box too); with
    /// none queued it gives back the options it proposed.
    void queueFindOptions(const FindBoxOptions& options) { m_findOptions.push_back(options); }
    /// What openUrl returns (True unless set).
    void setOpenUrlResult(bool ok) { m_openUrlResult = ok; }
    /// Answers queued and not asked for yet, of all kinds.
    std::size_t pendingAnswers() const {
        return m_files.size() + m_menus.size() + m_boxes.size() + m_inputs.size() + m_findOptions.size();
    }

    // ---- what was shown, in order per kind; `order` across kinds ----
    const std::vector<ShownFileDialog>& fileDialogs() const { return m_shownFiles; }
    const std::vector<ShownPopupMenu>& popupMenus() const { return m_shownMenus; }
    const std::vector<ShownMessageBox>& messageBoxes() const { return m_shownBoxes; }
    const std::vector<ShownInputBox>& inputBoxes() const { return m_shownInputs; }
    /// The options each find box proposed.
    const std::vector<FindBoxOptions>& findBoxes() const { return m_shownFindOptions; }
    const std::vector<QString>& clipboardSets() const { return m_clipboardSets; }
    const std::vector<QUrl>& openedUrls() const { return m_urls; }
    const std::vector<ShownIcon>& icons() const { return m_icons; }
    const std::vector<Kind>& order() const { return m_order; }
    /// Forgets what was shown (the queues stay).
    void clearRecords();

    // ---- SystemUi ----
    QString fileDialog(const FileDialogRequest& request) override;
    int popupMenu(const PopupMenuRequest& request) override;
    MsgResult messageBox(const MessageBoxRequest& request) override;
    std::optional<QString> inputBox(const InputBoxRequest& request) override;
    std::optional<FindBoxAnswer> findBox(const InputBoxRequest& request, const FindBoxOptions& options) override;
    QString clipboardText() override { return m_clipboard; }
    void setClipboardText(const QString& text) override;
    void clearClipboard() override;
    bool openUrl(const QUrl& url) override;
    void setWindowIcon(QWidget* window, const QString& name, const QIcon& icon,
                       bool bAsAppIcon) override;

  private:
    std::deque<QString> m_files;
    std::deque<std::variant<int, QString>> m_menus;
    std::deque<MsgResult> m_boxes;
    std::deque<int> m_fileChoices;
    std::deque<std::optional<QString>> m_inputs;
    std::deque<FindBoxOptions> m_findOptions;
    bool m_openUrlResult = true;
    QString m_clipboard;

    std::vector<ShownFileDialog> m_shownFiles;
    std::vector<ShownPopupMenu> m_shownMenus;
    std::vector<ShownMessageBox> m_shownBoxes;
    std::vector<ShownInputBox> m_shownInputs;
    std::vector<FindBoxOptions> m_shownFindOptions;
    std::vector<QString> m_clipboardSets;
    std::vector<QUrl> m_urls;
    std::vector<ShownIcon> m_icons;
    std::vector<Kind> m_order;
};

}  // namespace lumeval
