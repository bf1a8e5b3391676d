// The main window driven as a user drives it: menus, commands, dialogs
// answered from a script, the lists, merging and the stored placement.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>

#include "app/frmmain.h"
#include "editor_test_util.h"
#include "app/modregistry.h"
#include "controls/ctllistview.h"
#include "controls/ucstatusbar.h"
#include "system/scriptedsystemui.h"

using namespace lumeval;

namespace {

class Editor : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        lumeval::testing::IsolateSettings(dir);
        previousDir = QDir::currentPath();
        QDir::setCurrent(dir.path());
        ui = std::make_shared<ScriptedSystemUi>();
        frmMainOptions options;
        options.systemUi = ui;
        window = std::make_unique<frmMain>(std::move(options));
    }
    void TearDown() override {
        window.reset();
        QDir::setCurrent(previousDir);
    }

    QString write(const QString& name, const QByteArray& bytes) {
        return lumeval::testing::WriteFile(dir, name, bytes);
    }
    QString srt(const QString& name, std::initializer_list<const char*> cues) {
        return lumeval::testing::WriteSrt(dir, name, cues);
    }
    // Opens through the menu command, answering the dialog and the question.
    void open(const QString& path, MsgResult answer = MsgResult::No) {
        ui->queueFileDialog(path);
        ui->queueMessageBox(answer);
        window->RunCommand(QStringLiteral("opensubtitle"));
    }
    ctlListView* list(int i) { return window->List(i); }
    QString lastMessage() { return ui->messageBoxes().empty() ? QString() : ui->messageBoxes().back().request.Prompt; }

    QTemporaryDir dir;
    QString previousDir;
    std::shared_ptr<ScriptedSystemUi> ui;
    std::unique_ptr<frmMain> window;
};

const char* kTwoCues[] = {"00:00:01,500 --> 00:00:03,000\nhello {\\b1}world", "00:00:04,000 --> 00:00:05,000\nsecond"};

}  // namespace

TEST_F(Editor, StartUpBuildsMenusStatusBarAndTheFirstList) {
    const QList<QMenu*> menus = window->Menus();
    ASSERT_EQ(menus.size(), 3);
    EXPECT_EQ(menus[0]->title(), QStringLiteral("文件(&File)"));
    EXPECT_EQ(menus[1]->title(), QStringLiteral("编辑(&Edit)"));
    EXPECT_EQ(menus[2]->title(), QStringLiteral("帮助(&Help)"));
    QStringList tags;
    for (QAction* a : menus[0]->actions()) tags << a->data().toString();
    // The design's items first; saving in place and the recent files follow.
    EXPECT_EQ(tags.mid(0, 6), (QStringList{"opensubtitle", "save", "", "openvideo", "", "exit"}));
    ASSERT_NE(window->SaveInPlaceAction(), nullptr);
    EXPECT_EQ(menus[0]->actions().indexOf(window->SaveInPlaceAction()), 7);
    EXPECT_EQ(window->SaveInPlaceAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    EXPECT_EQ(menus[0]->actions()[1]->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+S")));
    EXPECT_EQ(menus[0]->actions().back()->menu(), window->RecentMenu());
    EXPECT_EQ(menus[1]->actions()[0]->text(), QStringLiteral("查找\tCtrl-F"));
    EXPECT_EQ(menus[2]->actions()[1]->data().toString(), QStringLiteral("-"));

    ucStatusbar* status = window->StatusBar();
    // The design's four panels, then the active document's encoding.
    ASSERT_EQ(status->PanelCount(), 5);
    EXPECT_EQ(status->PanelText(1), QStringLiteral(" 就绪"));
    EXPECT_EQ(status->PanelText(3), QStringLiteral("软件主页"));
    EXPECT_EQ(status->PanelTipText(4), QStringLiteral("提交建议与意见"));

    ASSERT_EQ(window->ListCount(), 1);
    EXPECT_TRUE(list(0)->MultiSelect());
    EXPECT_EQ(list(0)->Header()->model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("字幕内容"));
    EXPECT_EQ(window->HotKeyCount(), 3);
    EXPECT_EQ(window->ActiveList(), 0);
    EXPECT_TRUE(window->SaveWindowPlacement());
    ASSERT_FALSE(ui->icons().empty());
    EXPECT_EQ(ui->icons().front().name, QStringLiteral("APPICON"));
    EXPECT_TRUE(ui->icons().front().found);  // our own icon, from the resources
}

TEST_F(Editor, OpeningAsksByClassReusesAnEmptyListAndAddsAnotherBesideAFullOne) {
    const QString a = srt(QStringLiteral("a.srt"), {kTwoCues[0], kTwoCues[1]});
    open(a);
    ASSERT_FALSE(ui->messageBoxes().empty());
    // Plain ASCII classifies as simplified: that question is asked.
    EXPECT_TRUE(ui->messageBoxes()[0].request.Prompt.startsWith(QStringLiteral("这应该是一个简体字符集字幕")));
    EXPECT_EQ(ui->messageBoxes()[0].request.Buttons, MsgButtons::YesNo);
    ASSERT_EQ(window->ListCount(), 1);
    EXPECT_EQ(list(0)->Tag(), a);
    ASSERT_EQ(list(0)->Count(), 2);
    EXPECT_EQ(list(0)->ItemText(0, -1), QStringLiteral("1|00:00:01,500|00:00:03,000|hello {\\b1}world"));
    EXPECT_EQ(window->StatusBar()->PanelText(1), QStringLiteral(" ") + a);
    EXPECT_EQ(window->StatusBar()->PanelText(2), QStringLiteral(" 2 行"));

    const QString b = srt(QStringLiteral("b.srt"), {"00:00:02,000 --> 00:00:03,000\nother"});
    open(b);
    ASSERT_EQ(window->ListCount(), 2);
    EXPECT_EQ(window->ActiveList(), 1);
    EXPECT_EQ(list(1)->Tag(), b);
    EXPECT_GT(list(1)->x(), list(0)->x());  // side by side

    // A missing file or a folder opens nothing; a cancelled dialog neither.
    window->OpenSubtitle(dir.filePath(QStringLiteral("missing.srt")));
    window->OpenSubtitle(dir.path());
    ui->queueFileDialog(QString());
    window->RunCommand(QStringLiteral("opensubtitle"));
    EXPECT_EQ(window->ListCount(), 2);
}

TEST_F(Editor, CommandWordsIgnoreCaseAndBlanks) {
    open(srt(QStringLiteral("a.srt"), {kTwoCues[0], kTwoCues[1]}));
    window->RunCommand(QStringLiteral("  TimeOffsetAll1000 "));
    EXPECT_EQ(list(0)->ItemText(0, 1), QStringLiteral("00:00:02,500"));
    EXPECT_EQ(list(0)->ItemText(0, 2), QStringLiteral("00:00:04,000"));
    window->RunCommand(QStringLiteral("timeoffsetend-5000"));
    EXPECT_EQ(list(0)->ItemText(0, 2), QStringLiteral("00:00:00,000"));  // below 0 reads as 0
    EXPECT_EQ(list(0)->ItemText(0, 1), QStringLiteral("00:00:02,500"));
    window->RunCommand(QStringLiteral("timeoffsetstartabc"));
    EXPECT_EQ(list(0)->ItemText(0, 1), QStringLiteral("00:00:02,500"));
    window->RunCommand(QStringLiteral("nonsense"));
}

TEST_F(Editor, FindNextFindAllAndACancelledFind) {
    open(srt(QStringLiteral("a.srt"), {"00:00:01,000 --> 00:00:02,000\nabc one", "00:00:03,000 --> 00:00:04,000\nABC",
                                       "00:00:05,000 --> 00:00:06,000\nabc two"}));
    ui->clearRecords();
    ui->queueInput(QStringLiteral("abc"));
    window->RunCommand(QStringLiteral("find"));
    EXPECT_EQ(ui->inputBoxes().back().request.Title, QStringLiteral("查找"));
    EXPECT_TRUE(list(0)->ItemSelected(0));
    list(0)->SetItemIndex(0);
    window->RunCommand(QStringLiteral("findnext"));
    EXPECT_TRUE(list(0)->ItemSelected(2));  // case counts: "ABC" is skipped
    list(0)->SetItemIndex(2);
    window->RunCommand(QStringLiteral("findnext"));  // on the last row: nothing to scan, and it says so
    EXPECT_EQ(lastMessage(), QStringLiteral("未找到搜索文本"));

    window->RunCommand(QStringLiteral("findall"));
    EXPECT_EQ(lastMessage(), QStringLiteral("总计找到 2 项符合的文本"));
    EXPECT_TRUE(list(0)->ItemSelected(0));
    EXPECT_FALSE(list(0)->ItemSelected(1));
    EXPECT_TRUE(list(0)->ItemSelected(2));

    ui->queueInputCancel();
    window->RunCommand(QStringLiteral("find"));
    EXPECT_TRUE(window->LastFindText().isEmpty());
    ui->queueInput(QStringLiteral("zzz"));
    list(0)->SetItemIndex(-1);
    window->RunCommand(QStringLiteral("findnext"));  // asks again, finds nothing
    EXPECT_EQ(lastMessage(), QStringLiteral("未找到搜索文本"));
}

TEST_F(Editor, SaveProposesTheSourceNameAsSubRipAndWritesTheRows) {
    QDir(dir.path()).mkdir(QStringLiteral("src"));
    open(srt(QStringLiteral("src/movie.srt"), {kTwoCues[0], kTwoCues[1]}));
    write(QStringLiteral("movie.srt"), "taken");  // in the process's folder: not where the proposal lies
    const QString target = dir.filePath(QStringLiteral("out.srt"));
    ui->queueFileDialog(target);
    window->RunCommand(QStringLiteral("save"));
    ASSERT_FALSE(ui->fileDialogs().empty());
    const auto& shown = ui->fileDialogs().back().request;
    EXPECT_TRUE(shown.bSaveFile);
    // The file was opened through the dialog from src/: the proposal lies
    // there, next to the source, under a free name.
    EXPECT_EQ(shown.DefaultFileName, dir.filePath(QStringLiteral("src/movie(1).srt")));
    EXPECT_EQ(shown.DefExt, QStringLiteral("srt"));
    ASSERT_EQ(shown.Filters.size(), 5);
    EXPECT_EQ(shown.Filters[4].Pattern, QStringLiteral("*.smi"));
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray written = f.readAll();
    EXPECT_TRUE(written.contains("00:00:01,500 --> 00:00:03,000")) << written.toStdString();
    EXPECT_TRUE(written.contains("second"));
    EXPECT_TRUE(lastMessage().startsWith(QStringLiteral("字幕文件已经保存：\r\n")));
}

TEST_F(Editor, ListMenuCopiesDeletesStripsAndCloses) {
    open(srt(QStringLiteral("a.srt"), {kTwoCues[0], kTwoCues[1], "00:00:06,000 --> 00:00:07,000\nthird"}));
    list(0)->SetItemIndex(0);
    ui->queueMenuItem(QStringLiteral("复制文本"));
    window->ListClick(0, 2);
    EXPECT_EQ(ui->clipboardSets().back(), QStringLiteral("hello {\\b1}world"));
    EXPECT_EQ(lastMessage(), QStringLiteral("已经复制：hello {\\b1}world"));

    ui->queueMenuItem(QStringLiteral("清除样式"));
    window->ListClick(0, 2);
    EXPECT_EQ(list(0)->ItemText(0, 3), QStringLiteral("hello world"));

    list(0)->SetItemSelected(0, true);
    list(0)->SetItemSelected(2, true);
    ui->queueMenuItem(QStringLiteral("删除"));
    window->ListClick(0, 2);
    ASSERT_EQ(list(0)->Count(), 1);
    EXPECT_EQ(list(0)->ItemText(0, 0), QStringLiteral("2"));  // serials are kept

    ui->queueMenuItem(QStringLiteral("增加1秒"));
    window->ListClick(0, 2);
    EXPECT_EQ(list(0)->ItemText(0, 1), QStringLiteral("00:00:05,000"));

    // The rows changed: closing asks first; No discards them.
    EXPECT_TRUE(window->Changed(0));
    ui->queueMenuItem(QStringLiteral("关闭"));
    ui->queueMessageBox(MsgResult::No);
    window->ListClick(0, 2);
    EXPECT_EQ(lastMessage(), QStringLiteral("是否保存对文件的修改？"));
    EXPECT_TRUE(list(0)->isHidden());
    EXPECT_TRUE(list(0)->Tag().isEmpty());
    // An empty list offers only the close group.
    ui->clearRecords();
    window->ListClick(0, 2);
    EXPECT_EQ(ui->popupMenus().back().request.Items, (QStringList{"关闭", "关闭全部"}));
}

TEST_F(Editor, HeaderClickShiftsOneColumnOnly) {
    open(srt(QStringLiteral("a.srt"), {kTwoCues[0]}));
    ui->queueMenuItem(QStringLiteral("减少500毫秒"));
    window->ColumnClick(0, 2);
    EXPECT_EQ(list(0)->ItemText(0, 1), QStringLiteral("00:00:01,500"));
    EXPECT_EQ(list(0)->ItemText(0, 2), QStringLiteral("00:00:02,500"));
    ui->clearRecords();
    window->ColumnClick(0, 3);  // neither a menu nor a change of the active list
    EXPECT_TRUE(ui->popupMenus().empty());
}

TEST_F(Editor, MergesByFileAndByTimeline) {
    open(srt(QStringLiteral("a.srt"), {"00:00:01,000 --> 00:00:03,000\nactive", "00:00:05,000 --> 00:00:06,000\nlater"}));
    open(srt(QStringLiteral("b.srt"), {"00:00:01,020 --> 00:00:03,010\nother", "00:00:05,050 --> 00:00:06,000\nfar"}));
    window->ListClick(0, 1);
    ASSERT_EQ(window->ActiveList(), 0);
    ui->queueInput(QStringLiteral("50"));
    window->RunCommand(QStringLiteral("combinesubtitle_by_timeline"));
    EXPECT_EQ(list(0)->ItemText(0, 3), QStringLiteral("active\\Nother"));
    EXPECT_EQ(list(0)->ItemText(1, 3), QStringLiteral("later"));
    ASSERT_EQ(list(1)->Count(), 1);
    EXPECT_EQ(list(1)->ItemText(0, 3), QStringLiteral("far"));
    EXPECT_EQ(lastMessage(), QStringLiteral("已经完成"));

    window->RunCommand(QStringLiteral("combinesubtitle_by_file"));
    EXPECT_EQ(list(1)->Count(), 0);
    ASSERT_EQ(list(0)->Count(), 3);
    EXPECT_EQ(list(0)->ItemText(2, 3), QStringLiteral("far"));  // sorted by time
    EXPECT_EQ(list(0)->ItemText(1, 1), QStringLiteral("00:00:05,000"));

    ui->queueInputCancel();
    window->RunCommand(QStringLiteral("combinesubtitle_by_timeline"));  // cancelled: nothing
    EXPECT_EQ(list(0)->Count(), 3);
}

TEST_F(Editor, CombineToFileWritesAFreeName) {
    open(srt(QStringLiteral("a.srt"), {"00:00:04,000 --> 00:00:05,000\nA"}));
    open(srt(QStringLiteral("b.srt"), {"00:00:01,000 --> 00:00:02,000\nB"}));
    const QString target = write(QStringLiteral("both.srt"), "taken");
    ui->queueFileDialog(target);
    window->RunCommand(QStringLiteral("combinesubtitle_to_file"));
    QFile f(dir.filePath(QStringLiteral("both(1).srt")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_LT(text.indexOf("\nB"), text.indexOf("\nA"));
}

TEST_F(Editor, DroppedFilesOpenByPattern) {
    const QString subtitle = srt(QStringLiteral("a.ss"), {kTwoCues[0]});
    window->OLEDragDrop(true, subtitle);  // the before phase does nothing
    EXPECT_EQ(list(0)->Count(), 0);
    ui->queueMessageBox(MsgResult::No);
    window->OLEDragDrop(false, subtitle);  // "*.ss" occurs inside "*.ssa"
    EXPECT_EQ(list(0)->Tag(), subtitle);  // opened, though no reader knows the key
    window->OLEDragDrop(false, write(QStringLiteral("a.x"), "1"));
    EXPECT_EQ(window->ListCount(), 1);
}

// The editor offers what the engine's format table reads, WebVTT included.
TEST_F(Editor, AWebVttFileOpensLikeTheClassicFormats) {
    EXPECT_TRUE(SubtitlePatterns().startsWith(
        QStringLiteral("*.ssa; *.srt; *.ass; *.lrc; *.ksc; *.krc; *.smi; *.sami; *.snc; *.qly; "
                       "*.utf; *.stl; *.vsf; *.dks; *.txt; *.stxt")));
    const QString vtt = write(QStringLiteral("a.vtt"),
                              "WEBVTT\n\n00:01.000 --> 00:02.500 align:start\n<v Ann>Hello</v>\n");
    ui->queueMessageBox(MsgResult::No);
    window->OLEDragDrop(false, vtt);
    ASSERT_EQ(list(0)->Count(), 1);
    EXPECT_EQ(list(0)->Tag(), vtt);
}

TEST_F(Editor, PlacementIsStoredInTwipsAndResetByInitSetting) {
    window->resize(800, 500);
    window->move(10, 20);
    window->close();
    window.reset();
    EXPECT_FALSE(modRegistry::ReadSetting(QStringLiteral("WindowWidth"), QString()).isEmpty());
    const double width = modRegistry::ReadSetting(QStringLiteral("WindowWidth"), QString()).toDouble();
    EXPECT_NEAR(width, 800 * 15.0, 15.0 * 50);  // frame or client, at 96 dpi

    frmMainOptions options;
    options.systemUi = ui;
    window = std::make_unique<frmMain>(std::move(options));
    ui->queueMessageBox(MsgResult::Yes);
    window->RunCommand(QStringLiteral("initsetting"));
    EXPECT_FALSE(window->SaveWindowPlacement());
    window.reset();
    EXPECT_TRUE(modRegistry::ReadSetting(QStringLiteral("WindowWidth"), QString()).isEmpty());
}

TEST_F(Editor, AboutOpensTheDownloadPageOnYes) {
    ui->queueMessageBox(MsgResult::Yes);
    window->RunCommand(QStringLiteral("about"));
    ASSERT_FALSE(ui->messageBoxes().empty());
    EXPECT_EQ(ui->messageBoxes().back().request.Title, QStringLiteral("关于"));
    EXPECT_EQ(ui->messageBoxes().back().request.DefaultButton, MsgResult::No);
    ASSERT_EQ(ui->openedUrls().size(), 1u);
}
