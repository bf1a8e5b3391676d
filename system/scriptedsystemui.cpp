#include "system/scriptedsystemui.h"

#include <algorithm>

namespace lumeval {

namespace {

template <typename T>
std::optional<T> PopFront(std::deque<T>& queue) {
    std::optional<T> value;
    if (queue.empty()) return value;
    value.emplace(std::move(queue.front()));
    queue.pop_front();
    return value;
}

// The index a menu answer stands for, or -1 when it names no choosable item.
int MenuIndex(const std::variant<int, QString>& answer, const QStringList& items) {
    if (const int* position = std::get_if<int>(&answer)) {
        if (*position < 0 || *position >= items.size()) return -1;
        return IsMenuSeparator(items[*position]) ? -1 : *position;
    }
    const QString& text = std::get<QString>(answer);
    if (IsMenuSeparator(text)) return -1;
    return static_cast<int>(items.indexOf(text));
}

}  // namespace

void ScriptedSystemUi::clearRecords() {
    m_shownFiles.clear();
    m_shownMenus.clear();
    m_shownBoxes.clear();
    m_shownInputs.clear();
    m_clipboardSets.clear();
    m_urls.clear();
    m_icons.clear();
    m_order.clear();
}

QString ScriptedSystemUi::fileDialog(const FileDialogRequest& request) {
    const std::optional<QString> answer = PopFront(m_files);
    if (!request.Choices.isEmpty()) {
        const std::optional<int> choice = PopFront(m_fileChoices);
        if (choice && request.Chosen && answer && !answer->isEmpty()) *request.Chosen = *choice;
    }
    m_shownFiles.push_back({request, answer.value_or(QString()), answer.has_value()});
    m_order.push_back(Kind::FileDialog);
    return m_shownFiles.back().answer;
}

int ScriptedSystemUi::popupMenu(const PopupMenuRequest& request) {
    const auto answer = PopFront(m_menus);
    int chosen = -1;
    bool fromQueue = false;
    if (answer) {
        chosen = MenuIndex(*answer, request.Items);
        // A queued dismissal (a negative position) is an answer given as asked.
        const int* position = std::get_if<int>(&*answer);
        fromQueue = chosen >= 0 || (position != nullptr && *position < 0);
    }
    m_shownMenus.push_back({request, chosen, fromQueue});
    m_order.push_back(Kind::PopupMenu);
    return chosen;
}

MsgResult ScriptedSystemUi::messageBox(const MessageBoxRequest& request) {
    const std::optional<MsgResult> answer = PopFront(m_boxes);
    const std::vector<MsgResult> buttons = ButtonsOf(request.Buttons);
    const bool usable =
        answer && std::find(buttons.begin(), buttons.end(), *answer) != buttons.end();
    const MsgResult result = usable ? *answer : request.DefaultButton;
    m_shownBoxes.push_back({request, result, usable});
    m_order.push_back(Kind::MessageBox);
    return result;
}

std::optional<QString> ScriptedSystemUi::inputBox(const InputBoxRequest& request) {
    const auto answer = PopFront(m_inputs);
    m_shownInputs.push_back({request, answer.value_or(std::nullopt), answer.has_value()});
    m_order.push_back(Kind::InputBox);
    return m_shownInputs.back().answer;
}

std::optional<FindBoxAnswer> ScriptedSystemUi::findBox(const InputBoxRequest& request, const FindBoxOptions& options) {
    m_shownFindOptions.push_back(options);
    FindBoxOptions chosen = options;
    if (!m_findOptions.empty()) {
        chosen = m_findOptions.front();
        m_findOptions.pop_front();
    }
    const std::optional<QString> text = inputBox(request);
    if (!text) return std::nullopt;
    return FindBoxAnswer{*text, chosen};
}

void ScriptedSystemUi::setClipboardText(const QString& text) {
    m_clipboard = text;
    m_clipboardSets.push_back(text);
    m_order.push_back(Kind::ClipboardSet);
}

void ScriptedSystemUi::clearClipboard() {
    m_clipboard.clear();
    m_order.push_back(Kind::ClipboardClear);
}

bool ScriptedSystemUi::openUrl(const QUrl& url) {
    m_urls.push_back(url);
    m_order.push_back(Kind::OpenUrl);
    return m_openUrlResult;
}

void ScriptedSystemUi::setWindowIcon(QWidget* window, const QString& name, const QIcon& icon,
                                     bool bAsAppIcon) {
    m_icons.push_back({window, name, !icon.isNull(), bAsAppIcon});
    m_order.push_back(Kind::SetIcon);
}

}  // namespace lumeval
