#include "system/qtsystemui.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <algorithm>

namespace lumeval {

namespace {

// Each answer's Qt button and its text, as a Chinese system shows it: the
// questions say "按是…，按否…", so the buttons must read 是 and 否 whatever
// Qt's language.
struct ButtonOf {
    MsgResult answer;
    QMessageBox::StandardButton button;
    const char* text;
};
constexpr ButtonOf kButtons[] = {
    {MsgResult::Ok, QMessageBox::Ok, "确定"},          {MsgResult::Cancel, QMessageBox::Cancel, "取消"},
    {MsgResult::Abort, QMessageBox::Abort, "中止(&A)"}, {MsgResult::Retry, QMessageBox::Retry, "重试(&R)"},
    {MsgResult::Ignore, QMessageBox::Ignore, "忽略(&I)"}, {MsgResult::Yes, QMessageBox::Yes, "是(&Y)"},
    {MsgResult::No, QMessageBox::No, "否(&N)"},
};

const ButtonOf& ButtonFor(MsgResult r) {
    for (const ButtonOf& b : kButtons) {
        if (b.answer == r) return b;
    }
    return kButtons[0];
}
QMessageBox::StandardButton StandardButtonOf(MsgResult r) { return ButtonFor(r).button; }
QString ButtonText(MsgResult r) { return QString::fromUtf8(ButtonFor(r).text); }

QMessageBox::Icon QtIconOf(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::None:
            return QMessageBox::NoIcon;
        case MsgIcon::Critical:
            return QMessageBox::Critical;
        case MsgIcon::Question:
            return QMessageBox::Question;
        case MsgIcon::Exclamation:
            return QMessageBox::Warning;
        case MsgIcon::Information:
            return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

// The texts were written with "\r\n" line ends; a label shows "\r" as a glyph.
QString DisplayLines(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

}  // namespace

QStringList QtSystemUi::NameFilters(const QList<FileFilter>& filters) {
    static const QRegularExpression separators(QStringLiteral("[;\\s]+"));
    QStringList out;
    for (const FileFilter& f : filters) {
        // Qt reads the patterns as one blank-separated list, so the "; " of
        // the pattern texts must not reach it.
        const QString patterns = f.Pattern.split(separators, Qt::SkipEmptyParts).join(u' ');
        if (patterns.isEmpty()) continue;
        if (f.Description.isEmpty() || f.Description == f.Pattern) {
            out << patterns;
        } else {
            out << f.Description + QStringLiteral(" (") + patterns + u')';
        }
    }
    return out;
}

QString QtSystemUi::fileDialog(const FileDialogRequest& request) {
    QFileDialog dialog(request.Owner, request.Title, request.InitialDir);
    dialog.setAcceptMode(request.bSaveFile ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.bSaveFile ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The writers never replace an existing file (they write to a free
    // variant of the name), so a "replace it?" question would be untrue.
    if (request.bSaveFile) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    const QStringList filters = NameFilters(request.Filters);
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    if (!request.DefExt.isEmpty()) dialog.setDefaultSuffix(request.DefExt);
    if (!request.DefaultFileName.isEmpty()) dialog.selectFile(request.DefaultFileName);
    QComboBox* choice = nullptr;
    if (!request.Choices.isEmpty()) {
        // Qt's own dialog, whose form takes one more row under the file type.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
            choice = new QComboBox(&dialog);
            choice->setObjectName(QStringLiteral("fileDialogChoice"));
            choice->addItems(request.Choices);
            if (request.Chosen) choice->setCurrentIndex(std::clamp(*request.Chosen, 0, int(request.Choices.size()) - 1));
            auto* label = new QLabel(request.ChoiceLabel, &dialog);
            label->setBuddy(choice);
            const int row = grid->rowCount();
            grid->addWidget(label, row, 0);
            grid->addWidget(choice, row, 1);
        }
    }
    if (dialog.exec() != QDialog::Accepted) return {};
    if (choice && request.Chosen) *request.Chosen = choice->currentIndex();
    return dialog.selectedFiles().value(0);
}

void QtSystemUi::BuildPopupMenu(QMenu& menu, const QStringList& items) {
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QString& text = items[i];
        if (IsMenuSeparator(text)) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(text);
        action->setData(static_cast<int>(i));
    }
}

int QtSystemUi::popupMenu(const PopupMenuRequest& request) {
    QMenu menu(request.Owner);
    BuildPopupMenu(menu, request.Items);
    bool anyItem = false;
    for (const QAction* a : menu.actions()) anyItem = anyItem || !a->isSeparator();
    if (!anyItem) return -1;
    const QAction* chosen = menu.exec(request.Position);
    if (chosen == nullptr) return -1;
    return chosen->data().toInt();
}

MsgResult QtSystemUi::messageBox(const MessageBoxRequest& request) {
    QMessageBox box(QtIconOf(request.Icon), request.Title, DisplayLines(request.Prompt),
                    QMessageBox::NoButton, request.Owner);
    // Subtitle texts hold markup such as <i>; show it as written.
    box.setTextFormat(Qt::PlainText);
    for (MsgResult b : ButtonsOf(request.Buttons)) box.addButton(StandardButtonOf(b))->setText(ButtonText(b));
    box.setDefaultButton(StandardButtonOf(request.DefaultButton));
    box.setEscapeButton(box.button(StandardButtonOf(DismissAnswer(request.Buttons))));
    box.exec();
    const QMessageBox::StandardButton clicked = box.standardButton(box.clickedButton());
    for (MsgResult b : ButtonsOf(request.Buttons)) {
        if (StandardButtonOf(b) == clicked) return b;
    }
    return DismissAnswer(request.Buttons);
}

std::optional<QString> QtSystemUi::inputBox(const InputBoxRequest& request) {
    QInputDialog dialog(request.Owner);
    dialog.setWindowTitle(request.Title);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setLabelText(DisplayLines(request.Prompt));
    if (auto* label = dialog.findChild<QLabel*>()) label->setTextFormat(Qt::PlainText);
    dialog.setTextValue(request.Default);
    dialog.setOkButtonText(ButtonText(MsgResult::Ok));
    dialog.setCancelButtonText(ButtonText(MsgResult::Cancel));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.textValue();
}

std::optional<FindBoxAnswer> QtSystemUi::findBox(const InputBoxRequest& request, const FindBoxOptions& options) {
    QDialog dialog(request.Owner);
    dialog.setObjectName(QStringLiteral("findBox"));
    dialog.setWindowTitle(request.Title);
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(DisplayLines(request.Prompt), &dialog);
    label->setTextFormat(Qt::PlainText);
    auto* edit = new QLineEdit(request.Default, &dialog);
    edit->setObjectName(QStringLiteral("findText"));
    edit->selectAll();
    label->setBuddy(edit);
    layout->addWidget(label);
    layout->addWidget(edit);
    auto* grid = new QGridLayout;
    int placed = 0;
    const auto box = [&](const char* name, const QString& text, bool on) {
        auto* b = new QCheckBox(text, &dialog);
        b->setObjectName(QString::fromLatin1(name));
        b->setChecked(on);
        grid->addWidget(b, placed / 3, placed % 3);
        ++placed;
        return b;
    };
    QCheckBox* matchCase = box("matchCase", QStringLiteral("区分大小写(&C)"), options.matchCase);
    QCheckBox* wholeWords = box("wholeWords", QStringLiteral("全字匹配(&W)"), options.wholeWords);
    QCheckBox* regex = box("regex", QStringLiteral("正则表达式(&E)"), options.regex);
    QCheckBox* wrap = box("wrap", QStringLiteral("循环查找(&G)"), options.wrap);
    QCheckBox* fold = box("foldChinese", QStringLiteral("简繁通配(&T)"), options.foldChinese);
    layout->addLayout(grid);
    auto* buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(ButtonText(MsgResult::Ok), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(ButtonText(MsgResult::Cancel), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    edit->setFocus();
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    FindBoxOptions chosen;
    chosen.matchCase = matchCase->isChecked();
    chosen.wholeWords = wholeWords->isChecked();
    chosen.regex = regex->isChecked();
    chosen.wrap = wrap->isChecked();
    chosen.foldChinese = fold->isChecked();
    return FindBoxAnswer{edit->text(), chosen};
}

bool InstallChineseQtTexts(QCoreApplication& app) {
    // Qt's own words (the file dialog's labels, context menus of text
    // fields) in the language of the rest of the window. Without the
    // catalogue (Debian's qt6-translations-l10n) they stay in English.
    // Sizes and dates in its views follow the same language.
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QLocale::setDefault(chinese);
    auto* translator = new QTranslator(&app);
    if (!translator->load(chinese, QStringLiteral("qt"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

QString QtSystemUi::clipboardText() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    return clipboard != nullptr ? clipboard->text() : QString();
}

void QtSystemUi::setClipboardText(const QString& text) {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(text);
}

void QtSystemUi::clearClipboard() {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->clear();
}

bool QtSystemUi::openUrl(const QUrl& url) {
    if (url.isEmpty() || !url.isValid()) return false;
    return QDesktopServices::openUrl(url);
}

void QtSystemUi::setWindowIcon(QWidget* window, const QString&, const QIcon& icon,
                               bool bAsAppIcon) {
    if (icon.isNull()) return;
    if (window != nullptr) window->setWindowIcon(icon);
    if (bAsAppIcon) QApplication::setWindowIcon(icon);
}

}  // namespace lumeval
