// QtSystemUi: the real dialogs, menus, clipboard and shell of SystemUi.
#pragma once

#include <QStringList>

#include "system/systemui.h"

class QMenu;
class QCoreApplication;

namespace lumeval {

/// Makes Chinese the default locale and installs Qt's Chinese texts for its
/// own dialogs and widgets; false when the catalogue is not there.
bool InstallChineseQtTexts(QCoreApplication& app);

class QtSystemUi : public SystemUi {
  public:
    QString fileDialog(const FileDialogRequest& request) override;
    int popupMenu(const PopupMenuRequest& request) override;
    MsgResult messageBox(const MessageBoxRequest& request) override;
    std::optional<QString> inputBox(const InputBoxRequest& request) override;
    std::optional<FindBoxAnswer> findBox(const InputBoxRequest& request, const FindBoxOptions& options) override;
    QString clipboardText() override;
    void setClipboardText(const QString& text) override;
    void clearClipboard() override;
    bool openUrl(const QUrl& url) override;
    void setWindowIcon(QWidget* window, const QString& name, const QIcon& icon,
                       bool bAsAppIcon) override;

    /// Fills `menu` with one action per item ("-" and empty items become
    /// separators); each action's data() is the item's index in `items`.
    static void BuildPopupMenu(QMenu& menu, const QStringList& items);
    /// Qt's name-filter texts of the filter pairs: the patterns separated by
    /// blanks, behind their description in parentheses when it differs.
    static QStringList NameFilters(const QList<FileFilter>& filters);
};

}  // namespace lumeval
