// The real Qt dialogs and menus of clsSystem, on the offscreen platform,
// answered with keys and clicks from the event loop while they run.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QAbstractButton>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "system/clssystem.h"
#include "system/qtsystemui.h"

namespace lumeval {
namespace {

// Runs `act` on the next modal dialog (or, with `popup`, pop-up menu) once
// it is up. Should `act` leave it open, it is closed and the test fails
// rather than hanging.
void WhenShown(std::function<void(QWidget*)> act, bool popup = false) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, act, popup] {
        QWidget* w = popup ? QApplication::activePopupWidget() : QApplication::activeModalWidget();
        if (w == nullptr || !w->isVisible()) {
            if (++*tries > 2000) timer->deleteLater();  // it never came: nothing waits for it
            return;
        }
        timer->stop();
        timer->deleteLater();
        QPointer<QWidget> shown(w);
        act(w);
        QTimer::singleShot(5000, [shown] {
            if (shown && shown->isVisible()) {
                ADD_FAILURE() << "the dialog was left open";
                shown->close();
            }
        });
    });
    timer->start();
}

// Text as an input method hands it over: how Chinese is typed (QTest's key
// clicks know ASCII only).
void TypeText(QWidget* widget, const QString& text) {
    QInputMethodEvent event;
    event.setCommitString(text);
    QCoreApplication::sendEvent(widget, &event);
}

// ---- pop-up menu ---------------------------------------------------------------

TEST(QtPopupMenu, BuiltWithSeparatorsAndPositions) {
    QMenu menu;
    QtSystemUi::BuildPopupMenu(menu, clsSystem::PopupMenuItems("暂停/恢复|-|关闭||复制\tCtrl+C"));
    const QList<QAction*> actions = menu.actions();
    ASSERT_EQ(5, actions.size());
    EXPECT_FALSE(actions[0]->isSeparator());
    EXPECT_EQ("暂停/恢复", actions[0]->text());
    EXPECT_EQ(0, actions[0]->data().toInt());
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ("关闭", actions[2]->text());
    EXPECT_EQ(2, actions[2]->data().toInt());
    EXPECT_TRUE(actions[3]->isSeparator());  // an empty item
    EXPECT_EQ(4, actions[4]->data().toInt());
    for (const QAction* a : actions) {
        EXPECT_TRUE(a->isEnabled());
        EXPECT_FALSE(a->isCheckable());
    }
}

TEST(QtPopupMenu, KeyboardChoiceGivesItsPosition) {
    clsSystem sys;
    struct Case {
        std::vector<Qt::Key> keys;
        int expected;
    } cases[] = {
        {{Qt::Key_Down, Qt::Key_Return}, 0},
        {{Qt::Key_Down, Qt::Key_Down, Qt::Key_Return}, 2},  // the separator is skipped
        {{Qt::Key_Escape}, -1},
    };
    for (const Case& c : cases) {
        WhenShown(
            [keys = c.keys](QWidget* menu) {
                for (Qt::Key key : keys) QTest::keyClick(menu, key);
            },
            true);
        EXPECT_EQ(c.expected, sys.PopupMenu("暂停/恢复|-|关闭", 100, 100));
    }
}

TEST(QtPopupMenu, MouseClickOnAnItem) {
    clsSystem sys;
    WhenShown(
        [](QWidget* w) {
            auto* menu = qobject_cast<QMenu*>(w);
            ASSERT_NE(nullptr, menu);
            QAction* target = menu->actions().at(3);
            const QPoint at = menu->actionGeometry(target).center();
            QTest::mouseMove(menu, at);
            QTest::mouseClick(menu, Qt::LeftButton, {}, at);
        },
        true);
    EXPECT_EQ(3, sys.PopupMenu("删除|清除|-|清除样式|保存", 120, 80));
}

// ---- message box ---------------------------------------------------------------

TEST(QtMessageBox, ShowsTheRequestAndReturnsTheClickedButton) {
    clsSystem sys;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::TextFormat format = Qt::AutoText;
    bool defaultIsNo = false;
    int buttons = 0;
    WhenShown([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(nullptr, box);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        format = box->textFormat();
        buttons = static_cast<int>(box->buttons().size());
        defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
        QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
    });
    EXPECT_EQ(MsgResult::Yes, sys.MsgBox("第一行\r\n<i>第二行</i>", MsgButtons::YesNo,
                                         MsgIcon::Question, "关于", 2));
    EXPECT_EQ("关于", title);
    EXPECT_EQ("第一行\n<i>第二行</i>", text);  // markup shown as written
    EXPECT_EQ(Qt::PlainText, format);
    EXPECT_EQ(QMessageBox::Question, icon);
    EXPECT_EQ(2, buttons);
    EXPECT_TRUE(defaultIsNo);
}

TEST(QtMessageBox, EnterTakesTheDefaultEscapeTheCancel) {
    clsSystem sys;
    struct Case {
        MsgButtons buttons;
        int defaultButton;
        int key;
        MsgResult expected;
    } cases[] = {
        {MsgButtons::YesNo, 2, Qt::Key_Return, MsgResult::No},
        {MsgButtons::YesNo, 1, Qt::Key_Return, MsgResult::Yes},
        {MsgButtons::YesNo, 1, Qt::Key_Escape, MsgResult::No},
        {MsgButtons::YesNoCancel, 1, Qt::Key_Escape, MsgResult::Cancel},
        {MsgButtons::OkOnly, 1, Qt::Key_Escape, MsgResult::Ok},
        {MsgButtons::RetryCancel, 1, Qt::Key_Return, MsgResult::Retry},
    };
    for (const Case& c : cases) {
        WhenShown([key = c.key](QWidget* box) { QTest::keyClick(box, Qt::Key(key)); });
        EXPECT_EQ(c.expected,
                  sys.MsgBox("?", c.buttons, MsgIcon::Exclamation, "确认", c.defaultButton))
            << static_cast<int>(c.buttons) << " key " << c.key;
    }
}

TEST(QtMessageBox, ButtonsReadAsTheQuestionsNameThem) {
    // "按是…，按否…": the buttons say 是 and 否 whatever Qt's own language,
    // and their letters answer as before.
    clsSystem sys;
    struct Case {
        MsgButtons buttons;
        QStringList texts;
        int key;
        MsgResult expected;
    } cases[] = {
        {MsgButtons::YesNo, {"是(&Y)", "否(&N)"}, Qt::Key_N, MsgResult::No},
        {MsgButtons::YesNoCancel, {"是(&Y)", "否(&N)", "取消"}, Qt::Key_Y, MsgResult::Yes},
        {MsgButtons::OkCancel, {"确定", "取消"}, Qt::Key_Escape, MsgResult::Cancel},
        {MsgButtons::AbortRetryIgnore, {"中止(&A)", "重试(&R)", "忽略(&I)"}, Qt::Key_R, MsgResult::Retry},
    };
    for (const Case& c : cases) {
        QStringList texts;
        WhenShown([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(nullptr, box);
            for (QAbstractButton* b : box->buttons()) texts << b->text();
            QTest::keyClick(box, Qt::Key(c.key));
        });
        EXPECT_EQ(c.expected, sys.MsgBox("?", c.buttons, MsgIcon::Question, "确认", 1)) << c.texts.join(' ').toStdString();
        texts.sort();
        QStringList expected = c.texts;
        expected.sort();
        EXPECT_EQ(expected, texts);
    }
}

// ---- input box -----------------------------------------------------------------

TEST(QtInputBox, TypedAnswerAndCancel) {
    clsSystem sys;
    QString proposed, label, title;
    WhenShown([&](QWidget* w) {
        auto* dialog = qobject_cast<QInputDialog*>(w);
        ASSERT_NE(nullptr, dialog);
        auto* edit = dialog->findChild<QLineEdit*>();
        ASSERT_NE(nullptr, edit);
        proposed = edit->text();
        title = dialog->windowTitle();
        label = dialog->labelText();
        edit->selectAll();
        TypeText(edit, "字幕");
        QTest::keyClicks(edit, " abc");
        QTest::keyClick(edit, Qt::Key_Return);
    });
    bool cancelled = true;
    EXPECT_EQ("字幕 abc", sys.InputBox("查找内容：", "查找", "旧的", &cancelled));
    EXPECT_FALSE(cancelled);
    EXPECT_EQ("旧的", proposed);
    EXPECT_EQ("查找", title);
    EXPECT_EQ("查找内容：", label);

    WhenShown([](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
    EXPECT_EQ("", sys.InputBox("单位：毫秒", "设置阈值", "50", &cancelled));
    EXPECT_TRUE(cancelled);
}

TEST(QtFindBox, TextAndOptionsOrCancel) {
    clsSystem sys;
    QString proposed;
    bool caseShown = false;
    WhenShown([&](QWidget* w) {
        auto* edit = w->findChild<QLineEdit*>(QStringLiteral("findText"));
        ASSERT_NE(nullptr, edit);
        proposed = edit->text();
        caseShown = w->findChild<QCheckBox*>(QStringLiteral("matchCase"))->isChecked();
        w->findChild<QCheckBox*>(QStringLiteral("matchCase"))->setChecked(false);
        w->findChild<QCheckBox*>(QStringLiteral("foldChinese"))->setChecked(true);
        edit->selectAll();
        TypeText(edit, "這個");
        QTest::keyClick(edit, Qt::Key_Return);
    });
    FindBoxOptions options;
    options.wrap = true;
    const std::optional<FindBoxAnswer> answer = sys.FindBox("查找内容：", "查找", "旧的", options);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ("這個", answer->Text);
    EXPECT_EQ("旧的", proposed);
    EXPECT_TRUE(caseShown);
    EXPECT_FALSE(answer->Options.matchCase);
    EXPECT_TRUE(answer->Options.foldChinese);
    EXPECT_TRUE(answer->Options.wrap);  // left as proposed
    EXPECT_FALSE(answer->Options.regex);

    WhenShown([](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
    EXPECT_FALSE(sys.FindBox("查找内容：", "查找", "x", options).has_value());
}

// ---- file dialog ---------------------------------------------------------------

TEST(QtFileDialog, SaveWithTypedNameGetsTheDefaultSuffix) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    clsSystem sys;
    QStringList filters;
    QString proposed;
    bool confirmsOverwrite = true;
    WhenShown([&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(nullptr, dialog);
        filters = dialog->nameFilters();
        confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(nullptr, edit);
        proposed = edit->text();
        edit->selectAll();
        QTest::keyClicks(edit, "merged");
        QTest::keyClick(edit, Qt::Key_Return);
    });
    const QString filter = clsSystem::MakeFilter({{"*.srt", "*.srt"}, {"*.ssa", "*.ssa"}});
    const QString chosen =
        sys.OpenSaveFile(filter, true, dir.filePath("movie.srt"), dir.path(), "srt");
    EXPECT_EQ(dir.filePath("merged.srt"), chosen);
    EXPECT_EQ((QStringList{"*.srt", "*.ssa"}), filters);
    EXPECT_EQ("movie.srt", proposed);
    EXPECT_FALSE(confirmsOverwrite);
}

TEST(QtFileDialog, OpenPicksAnExistingFileOrIsCancelled) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath("电影.srt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    clsSystem sys;
    QStringList filters;
    WhenShown([&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(nullptr, dialog);
        filters = dialog->nameFilters();
        auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(nullptr, edit);
        TypeText(edit, "电影");
        QTest::keyClicks(edit, ".srt");
        QTest::keyClick(edit, Qt::Key_Return);
    });
    const QString patterns = QStringLiteral("*.ssa; *.srt; *.ass");
    EXPECT_EQ(dir.filePath("电影.srt"),
              sys.OpenSaveFile(patterns + QChar(0) + patterns + QChar(0), false, {}, dir.path()));
    // The "; " of the pattern text reaches Qt as blanks.
    EXPECT_EQ((QStringList{"*.ssa *.srt *.ass"}), filters);

    WhenShown([](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
    EXPECT_EQ("", sys.OpenSaveFile("*.*", false, {}, dir.path()));
}

TEST(QtFileDialog, NameFiltersOfPairs) {
    EXPECT_EQ((QStringList{"*.srt", "Lyrics (*.lrc *.krc)", "*.*"}),
              QtSystemUi::NameFilters({{"*.srt", "*.srt"},
                                       {"Lyrics", "*.lrc;*.krc"},
                                       {"", ";"},  // no pattern: left out
                                       {"*.*", "*.*"}}));
}

// ---- clipboard, shell, icon ----------------------------------------------------

TEST(QtClipboard, SetGetClear) {
    clsSystem sys;
    sys.ClipboardSetText("已经复制 00:00:01,000");
    EXPECT_EQ("已经复制 00:00:01,000", QGuiApplication::clipboard()->text());
    EXPECT_EQ("已经复制 00:00:01,000", sys.ClipboardGetText());
    sys.ClipboardClear();
    EXPECT_EQ("", sys.ClipboardGetText());
}

class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls << url; }
};

TEST(QtShellOpen, GoesToTheDesktopServices) {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    clsSystem sys;
    EXPECT_TRUE(sys.ShellOpen("https://example.org/download"));
    EXPECT_FALSE(sys.ShellOpen(""));
    QDesktopServices::unsetUrlHandler("https");
    ASSERT_EQ(1, catcher.urls.size());
    EXPECT_EQ(QUrl("https://example.org/download"), catcher.urls[0]);
}

TEST(QtSetIcon, WindowAndApplication) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage picture(32, 32, QImage::Format_ARGB32);
    picture.fill(Qt::blue);
    ASSERT_TRUE(picture.save(dir.filePath("APPICON.png")));
    clsSystem sys;
    QWidget window;
    const QIcon before = QApplication::windowIcon();
    const qint64 windowKey = window.windowIcon().cacheKey();
    EXPECT_FALSE(sys.SetIcon(&window, "NO_SUCH_ICON"));
    EXPECT_EQ(windowKey, window.windowIcon().cacheKey());
    EXPECT_TRUE(sys.SetIcon(&window, dir.filePath("APPICON")));
    EXPECT_EQ(QColor(Qt::blue), window.windowIcon().pixmap(16).toImage().pixelColor(8, 8));
    EXPECT_EQ(before.cacheKey(), QApplication::windowIcon().cacheKey());  // window only
    EXPECT_TRUE(sys.SetIcon(&window, dir.filePath("APPICON.png"), true));
    EXPECT_EQ(QColor(Qt::blue), QApplication::windowIcon().pixmap(16).toImage().pixelColor(8, 8));
    QApplication::setWindowIcon(before);
}

}  // namespace
}  // namespace lumeval

#include "test_qtsystemui.moc"
