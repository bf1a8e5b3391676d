// 查找和替换 in the main window: Ctrl+H opens the dialog, its buttons find
// and replace, replace all is one step per document, and its options are
// what the find commands search with.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "app/frmmain.h"
#include "controls/ctllistview.h"
#include "document/document.h"
#include "editor_test_util.h"
#include "system/scriptedsystemui.h"

using namespace lumeval;

namespace {

class Replace : public lumeval::testing::WindowTest {
  protected:
    QString srt(const QString& name, std::initializer_list<const char*> cues) {
        return lumeval::testing::WriteSrt(dir, name, cues);
    }
    QDialog* dialog() { return window->ReplaceDialog(); }
    template <typename T>
    T* child(const char* name) {
        T* w = dialog()->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void open() { window->ReplaceAction()->trigger(); }
    void set(const QString& find, const QString& replace = QString()) {
        child<QLineEdit>("findText")->setText(find);
        child<QLineEdit>("replaceText")->setText(replace);
    }
    void click(const char* name) {
        child<QPushButton>(name)->click();
        QCoreApplication::processEvents();
    }
    QString result() { return child<QLabel>("replaceResult")->text(); }
    QString lastMessage() { return ui->messageBoxes().empty() ? QString() : ui->messageBoxes().back().request.Prompt; }
    std::string text(int list, int row) { return std::string(window->Document(list)->Text(row)); }
};

TEST_F(Replace, CtrlHOpensTheDialogOnce) {
    ASSERT_NE(window->ReplaceAction(), nullptr);
    EXPECT_EQ(window->ReplaceAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_H));
    // The key belongs to no other item of the window.
    int owners = 0;
    for (QAction* a : window->findChildren<QAction*>())
        for (const QKeySequence& k : a->shortcuts()) owners += k == QKeySequence(Qt::CTRL | Qt::Key_H) ? 1 : 0;
    EXPECT_EQ(owners, 1);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_H, Qt::ControlModifier);
    QCoreApplication::processEvents();
    ASSERT_NE(dialog(), nullptr);
    EXPECT_EQ(dialog()->objectName(), QStringLiteral("replaceDialog"));
    EXPECT_TRUE(dialog()->isVisible());
    EXPECT_FALSE(dialog()->isModal());
    // The defaults are the find command's: case counts, nothing else on.
    EXPECT_TRUE(child<QCheckBox>("matchCase")->isChecked());
    for (const char* off : {"wholeWords", "regex", "wrap", "foldChinese"}) EXPECT_FALSE(child<QCheckBox>(off)->isChecked()) << off;
    EXPECT_TRUE(child<QRadioButton>("scopeDocument")->isChecked());
    click("close");
    EXPECT_FALSE(dialog()->isVisible());
}

TEST_F(Replace, ReplaceAllInEveryDocumentIsOneStepInEach) {
    OpenFile(srt(QStringLiteral("a.srt"), {"00:00:01,000 --> 00:00:02,000\nred car", "00:00:03,000 --> 00:00:04,000\nred red"}));
    OpenFile(srt(QStringLiteral("b.srt"), {"00:00:01,000 --> 00:00:02,000\nRed sky", "00:00:03,000 --> 00:00:04,000\nblue"}));
    ASSERT_GE(window->ListCount(), 2);
    ASSERT_NE(window->Document(1), nullptr);
    open();
    set(QStringLiteral("red"), QStringLiteral("green"));
    child<QCheckBox>("matchCase")->setChecked(false);
    child<QRadioButton>("scopeAll")->setChecked(true);
    click("replaceAll");
    EXPECT_EQ(result(), QStringLiteral("已替换 4 处"));
    EXPECT_EQ(text(0, 0), "green car");
    EXPECT_EQ(text(0, 1), "green green");
    EXPECT_EQ(text(1, 0), "green sky");
    EXPECT_EQ(window->Document(0)->History()->count(), 1);
    EXPECT_EQ(window->Document(1)->History()->count(), 1);
    EXPECT_EQ(window->List(1)->ItemText(0, 3), QStringLiteral("green sky"));
    // Finding in every document goes on into the next one and makes it the active one.
    set(QStringLiteral("green"));
    window->ListClick(0, 1);
    window->List(0)->SetItemIndex(1);
    click("findNext");  // "green green": both in row 2 of the first
    click("findNext");
    EXPECT_EQ(window->ActiveList(), 0);
    click("findNext");
    EXPECT_EQ(window->ActiveList(), 1);
    EXPECT_EQ(window->List(1)->ItemIndex(), 0);
    EXPECT_TRUE(result().contains(QStringLiteral("b.srt"))) << result().toStdString();
    click("findPrevious");
    EXPECT_EQ(window->ActiveList(), 0);
    EXPECT_EQ(window->List(0)->ItemIndex(), 1);
    // Each document's undo takes back its own replacements only.
    ASSERT_TRUE(window->Document(1)->Undo());
    EXPECT_EQ(text(1, 0), "Red sky");
    EXPECT_EQ(text(0, 0), "green car");
}

TEST_F(Replace, FindGoesMatchByMatchAndReplaceGoesOn) {
    OpenFile(srt(QStringLiteral("a.srt"), {"00:00:01,000 --> 00:00:02,000\nno", "00:00:03,000 --> 00:00:04,000\ncat cat",
                                           "00:00:05,000 --> 00:00:06,000\na cat"}));
    open();
    set(QStringLiteral("cat"), QStringLiteral("dog"));
    click("findNext");
    EXPECT_EQ(window->List(0)->ItemIndex(), 1);
    EXPECT_TRUE(window->List(0)->ItemSelected(1));
    EXPECT_TRUE(result().contains(QStringLiteral("第 2 行")));
    click("replaceOne");  // the first cat of row 2, then on to the second
    EXPECT_EQ(text(0, 1), "dog cat");
    EXPECT_EQ(window->List(0)->ItemIndex(), 1);
    click("replaceOne");
    EXPECT_EQ(text(0, 1), "dog dog");
    EXPECT_EQ(window->List(0)->ItemIndex(), 2);
    click("findPrevious");
    EXPECT_TRUE(result().contains(QStringLiteral("未找到")));  // row 2 holds no cat now, row 1 never did
    click("findNext");
    EXPECT_EQ(window->List(0)->ItemIndex(), 2);
    click("findNext");  // past the last: not found, and again, not back to the same one
    EXPECT_TRUE(result().contains(QStringLiteral("未找到")));
    click("findNext");
    EXPECT_TRUE(result().contains(QStringLiteral("未找到")));
    EXPECT_EQ(window->Document(0)->History()->count(), 2);
    // Wrapping comes back round to the top.
    child<QCheckBox>("wrap")->setChecked(true);
    click("findNext");
    EXPECT_EQ(window->List(0)->ItemIndex(), 2);
    click("findNext");
    EXPECT_EQ(window->List(0)->ItemIndex(), 2);  // the only cat left, found again round the end
    EXPECT_TRUE(result().contains(QStringLiteral("继续")));
}

TEST_F(Replace, ABadExpressionSaysWhyAndChangesNothing) {
    OpenFile(srt(QStringLiteral("a.srt"), {"00:00:01,000 --> 00:00:02,000\n(a"}));
    open();
    set(QStringLiteral("(a"), QStringLiteral("b"));
    child<QCheckBox>("regex")->setChecked(true);
    click("replaceAll");
    EXPECT_TRUE(result().contains(QStringLiteral("正则表达式有误"))) << result().toStdString();
    EXPECT_EQ(window->Document(0)->History()->count(), 0);
    // As plain text the same pattern is found and replaced.
    child<QCheckBox>("regex")->setChecked(false);
    click("replaceAll");
    EXPECT_EQ(result(), QStringLiteral("已替换 1 处"));
    EXPECT_EQ(text(0, 0), "b");
}

TEST_F(Replace, ARunawayExpressionStopsWithTheMessage) {
    OpenFile(srt(QStringLiteral("a.srt"), {"00:00:01,000 --> 00:00:02,000\naaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa!"}));
    open();
    set(QStringLiteral("(a+)+$"), QStringLiteral("x"));
    child<QCheckBox>("regex")->setChecked(true);
    click("replaceAll");
    EXPECT_TRUE(result().contains(QStringLiteral("太长"))) << result().toStdString();
    EXPECT_EQ(window->Document(0)->History()->count(), 0);
}

TEST_F(Replace, TheSelectedRowsBoundReplaceAll) {
    OpenFile(srt(QStringLiteral("a.srt"), {"00:00:01,000 --> 00:00:02,000\nx", "00:00:03,000 --> 00:00:04,000\nx",
                                           "00:00:05,000 --> 00:00:06,000\nx"}));
    window->List(0)->SetItemSelected(1, true);
    window->List(0)->SetItemSelected(2, true);
    open();
    set(QStringLiteral("x"), QStringLiteral("y"));
    child<QRadioButton>("scopeSelection")->setChecked(true);
    click("findNext");  // selects row 2 alone; the scope stays rows 2 and 3
    click("replaceAll");
    EXPECT_EQ(result(), QStringLiteral("已替换 2 处"));
    EXPECT_EQ(text(0, 0), "x");
    EXPECT_EQ(text(0, 1), "y");
    EXPECT_EQ(text(0, 2), "y");
}

TEST_F(Replace, TheDialogsOptionsApplyToTheFindCommands) {
    OpenFile(srt(QStringLiteral("a.srt"), {"00:00:01,000 --> 00:00:02,000\nabc", "00:00:03,000 --> 00:00:04,000\nABC",
                                           "00:00:05,000 --> 00:00:06,000\n這個"}));
    ui->queueInput(QStringLiteral("ABC"));
    window->RunCommand(QStringLiteral("find"));
    EXPECT_EQ(window->List(0)->ItemIndex(), 1);  // case counts by default
    open();
    child<QCheckBox>("matchCase")->setChecked(false);
    window->RunCommand(QStringLiteral("findall"));
    EXPECT_EQ(lastMessage(), QStringLiteral("总计找到 2 项符合的文本"));
    child<QCheckBox>("foldChinese")->setChecked(true);
    child<QCheckBox>("wrap")->setChecked(true);
    ui->queueInput(QStringLiteral("这个"));
    window->RunCommand(QStringLiteral("find"));
    EXPECT_EQ(window->List(0)->ItemIndex(), 2);
    window->RunCommand(QStringLiteral("findnext"));  // from the last row, round to the only match
    EXPECT_EQ(window->List(0)->ItemIndex(), 2);
    child<QCheckBox>("regex")->setChecked(true);
    ui->queueInput(QStringLiteral("[a"));
    ui->clearRecords();
    window->RunCommand(QStringLiteral("find"));
    EXPECT_TRUE(lastMessage().contains(QStringLiteral("正则表达式有误")));
}

TEST_F(Replace, TheFindBoxOffersTheOptionsAndTheDialogFollows) {
    OpenFile(srt(QStringLiteral("a.srt"), {"00:00:01,000 --> 00:00:02,000\nnothing", "00:00:03,000 --> 00:00:04,000\nCAT"}));
    open();
    child<QCheckBox>("wholeWords")->setChecked(true);
    FindBoxOptions chosen;
    chosen.matchCase = false;
    ui->queueFindOptions(chosen);
    ui->queueInput(QStringLiteral("cat"));
    window->RunCommand(QStringLiteral("find"));
    // The box proposed the dialog's options; its answer found CAT and is
    // now the dialog's too.
    ASSERT_EQ(ui->findBoxes().size(), 1u);
    EXPECT_TRUE(ui->findBoxes().back().wholeWords);
    EXPECT_EQ(ui->inputBoxes().back().request.Prompt, QStringLiteral("查找内容："));
    EXPECT_EQ(window->List(0)->ItemIndex(), 1);
    EXPECT_FALSE(child<QCheckBox>("matchCase")->isChecked());
    EXPECT_FALSE(child<QCheckBox>("wholeWords")->isChecked());
    // A cancelled box keeps the options.
    ui->queueInputCancel();
    window->RunCommand(QStringLiteral("find"));
    EXPECT_FALSE(child<QCheckBox>("matchCase")->isChecked());
}

TEST_F(Replace, FindingCountsTheSpacesAtTheEndsOfACell) {
    OpenFile(srt(QStringLiteral("a.srt"), {"00:00:01,000 --> 00:00:02,000\nend", "00:00:03,000 --> 00:00:04,000\nmore"}));
    // A cell that ends in a space (typed in): its space is text like any other.
    ASSERT_TRUE(window->Document(0)->SetText(1, "the end "));
    ui->queueInput(QStringLiteral("end "));
    window->RunCommand(QStringLiteral("find"));
    EXPECT_EQ(window->List(0)->ItemIndex(), 1);
    EXPECT_TRUE(ui->messageBoxes().empty() || lastMessage() != QStringLiteral("未找到搜索文本"));
}

}  // namespace
