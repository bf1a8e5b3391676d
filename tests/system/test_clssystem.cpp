// clsSystem over a scripted user: what each member shows, what it returns
// for each answer, and the file and path helpers on a real temporary folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>
#include <set>

#include "system/clssystem.h"
#include "system/scriptedsystemui.h"

namespace lumeval {
namespace {

using Kind = ScriptedSystemUi::Kind;

class ClsSystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        sys.SetUi(ui);
    }
    QString Touch(const QString& name) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
        return path;
    }

    QTemporaryDir dir;
    std::shared_ptr<ScriptedSystemUi> ui = std::make_shared<ScriptedSystemUi>();
    clsSystem sys;
};

// The subtitle patterns of the open dialog and the dropped-file test.
const QString kSubtitlePatterns = QStringLiteral(
    "*.ssa; *.srt; *.ass; *.lrc; *.ksc; *.krc; *.smi; *.sami; *.snc; *.qly; *.utf; *.stl; "
    "*.vsf; *.dks; *.txt; *.stxt");
const QString kVideoPatterns = QStringLiteral(
    "*.webm; *.ogv; *.rmvb; *.rm; *.avi; *.mp4; *.3gp; *.264; *.h264; *.avc; *.dat; *.qt; "
    "*.mov; *.mpg; *.mpeg; *.m1v; *.wmv; *.asf; *.mkv; *.flv; *.pmp; *.divx; *.3gp2; *.3g2; "
    "*.3gpp; *.fli; *.flc; *.m4v; *.dv; *.ogm; *.dsm; *.vob; *.cin; *.ts; *.trp; *.mts; "
    "*.m2ts; *.tp; *.trp; *.ts");

// ---- file dialogs --------------------------------------------------------------

TEST_F(ClsSystemTest, FilterTextSplitsIntoPairs) {
    const QString filter = clsSystem::MakeFilter({{"*.srt", "*.srt"}, {"Lyrics", "*.lrc; *.krc"}});
    EXPECT_EQ(filter, QStringLiteral("*.srt") + QChar(0) + "*.srt" + QChar(0) + "Lyrics" +
                          QChar(0) + "*.lrc; *.krc" + QChar(0));
    const QList<FileFilter> expected{{"*.srt", "*.srt"}, {"Lyrics", "*.lrc; *.krc"}};
    EXPECT_EQ(expected, clsSystem::ParseFilter(filter));
    // A lone text without its NUL-separated pattern is its own pattern.
    EXPECT_EQ((QList<FileFilter>{{"*.*", "*.*"}}), clsSystem::ParseFilter("*.*"));
    EXPECT_EQ((QList<FileFilter>{{"*.*", "*.*"}}),
              clsSystem::ParseFilter(QStringLiteral("*.*") + QChar(0)));
    EXPECT_TRUE(clsSystem::ParseFilter(QString()).isEmpty());
    EXPECT_TRUE(clsSystem::ParseFilter(QString(4, QChar(0))).isEmpty());
}

TEST_F(ClsSystemTest, SaveDialogGetsTheRequestAndAddsTheDefaultExtension) {
    const QString filter = clsSystem::MakeFilter({{"*.srt", "*.srt"},
                                                  {"*.ssa", "*.ssa"},
                                                  {"*.ass", "*.ass"},
                                                  {"*.lrc", "*.lrc"},
                                                  {"*.smi", "*.smi"}});
    struct Case {
        QString typed, returned;
    } cases[] = {
        {"/tmp/movie", "/tmp/movie.srt"},                // no extension: the default one
        {"/tmp/movie.ass", "/tmp/movie.ass"},            // the user's own extension stays
        {"/tmp/dir.v2/movie", "/tmp/dir.v2/movie.srt"},  // a folder's dot is no extension
        {"", ""},                                        // cancelled
    };
    for (const Case& c : cases) {
        ui->queueFileDialog(c.typed);
        EXPECT_EQ(c.returned, sys.OpenSaveFile(filter, true, "/cwd/movie.srt", {}, "srt"))
            << c.typed.toStdString();
    }
    ASSERT_EQ(4u, ui->fileDialogs().size());
    const FileDialogRequest& r = ui->fileDialogs()[0].request;
    EXPECT_TRUE(r.bSaveFile);
    EXPECT_EQ(5, r.Filters.size());
    EXPECT_EQ((FileFilter{"*.smi", "*.smi"}), r.Filters.back());
    EXPECT_EQ("/cwd/movie.srt", r.DefaultFileName);
    EXPECT_EQ("srt", r.DefExt);
    EXPECT_TRUE(r.InitialDir.isEmpty());
}

TEST_F(ClsSystemTest, OpenDialogUsesTheDefaultExtensionOnlyToFindAFile) {
    const QString film = Touch("film.srt");
    const QString bare = Touch("notes");
    ui->queueFileDialog(dir.filePath("film"));  // only film.srt exists
    ui->queueFileDialog(bare);                  // exists as typed
    ui->queueFileDialog(dir.filePath("none"));  // neither exists
    EXPECT_EQ(film, sys.OpenSaveFile("*.*", false, {}, {}, ".srt"));
    EXPECT_EQ(bare, sys.OpenSaveFile("*.*", false, {}, {}, "srt"));
    EXPECT_EQ(dir.filePath("none"), sys.OpenSaveFile("*.*", false, {}, {}, "srt"));
    ui->queueFileDialog("/tmp/movie");
    EXPECT_EQ("/tmp/movie", sys.OpenSaveFile("*.*", true, {}, {}, "*"));
    EXPECT_FALSE(ui->fileDialogs()[0].request.bSaveFile);
    EXPECT_EQ("srt", ui->fileDialogs()[0].request.DefExt);  // the dot is not part of it
    EXPECT_EQ((QList<FileFilter>{{"*.*", "*.*"}}), ui->fileDialogs()[0].request.Filters);
}

TEST_F(ClsSystemTest, DialogWithNoAnswerQueuedIsCancelled) {
    EXPECT_TRUE(
        sys.OpenSaveFile(kSubtitlePatterns + QChar(0) + kSubtitlePatterns, false).isEmpty());
    ASSERT_EQ(1u, ui->fileDialogs().size());
    EXPECT_FALSE(ui->fileDialogs()[0].fromQueue);
}

// ---- pop-up menus --------------------------------------------------------------

TEST_F(ClsSystemTest, PopupMenuCountsSeparatorsInThePosition) {
    const QString shift = QStringLiteral(
        "减少10秒|减少5秒|减少1秒|-|增加1秒|增加5秒|增加10秒|-|减少500毫秒|减少100毫秒|减少50毫秒|-"
        "|"
        "增加50毫秒|增加100毫秒|增加500毫秒");
    const QString menu = shift + "|-|复制开始位置|复制结束位置|复制文本|-|关闭|关闭全部";
    ui->queueMenuItem("增加1秒");
    ui->queueMenuItem("关闭全部");
    ui->queueMenuPosition(0);
    ui->queueMenuPosition(-1);
    EXPECT_EQ(4, sys.PopupMenu(menu));
    EXPECT_EQ(21, sys.PopupMenu(menu));
    EXPECT_EQ(0, sys.PopupMenu(menu));
    EXPECT_EQ(-1, sys.PopupMenu(menu));
    ASSERT_EQ(4u, ui->popupMenus().size());
    const QStringList& items = ui->popupMenus()[0].request.Items;
    ASSERT_EQ(22, items.size());
    EXPECT_EQ("-", items[3]);
    EXPECT_EQ("关闭全部", items[21]);
    EXPECT_TRUE(ui->popupMenus()[3].fromQueue);  // a dismissal asked for
}

TEST_F(ClsSystemTest, PopupMenuAnswersThatChooseNothing) {
    ui->queueMenuPosition(1);   // a separator cannot be chosen
    ui->queueMenuPosition(3);   // past the end
    ui->queueMenuItem("保存");  // not in this menu
    EXPECT_EQ(-1, sys.PopupMenu("暂停/恢复|-|关闭"));
    EXPECT_EQ(-1, sys.PopupMenu("暂停/恢复|-|关闭"));
    EXPECT_EQ(-1, sys.PopupMenu("暂停/恢复|-|关闭"));
    EXPECT_EQ(-1, sys.PopupMenu("暂停/恢复|-|关闭"));  // queue empty: dismissed
    for (const auto& shown : ui->popupMenus()) EXPECT_FALSE(shown.fromQueue);
    EXPECT_EQ(0u, ui->pendingAnswers());
}

TEST_F(ClsSystemTest, MenuWithoutItemsIsNotShown) {
    EXPECT_EQ(-1, sys.PopupMenu(QString()));
    EXPECT_EQ(-1, sys.PopupMenu("-|-"));
    EXPECT_TRUE(ui->popupMenus().empty());
}

TEST_F(ClsSystemTest, PopupMenuPosition) {
    QCursor::setPos(300, 200);
    const QPoint cursor = QCursor::pos();
    sys.PopupMenu("a", -1, -1);
    sys.PopupMenu("a", 10, 20);
    sys.PopupMenu("a", 10, -1);
    QWidget owner;
    owner.move(50, 60);
    owner.resize(100, 100);
    owner.show();
    sys.PopupMenu("a", 5, 7, &owner);
    sys.PopupMenu("a", -1, -1, &owner);
    ASSERT_EQ(5u, ui->popupMenus().size());
    EXPECT_EQ(cursor, ui->popupMenus()[0].request.Position);
    EXPECT_EQ(QPoint(10, 20), ui->popupMenus()[1].request.Position);
    EXPECT_EQ(QPoint(10, cursor.y()), ui->popupMenus()[2].request.Position);
    EXPECT_EQ(owner.mapToGlobal(QPoint(5, 7)), ui->popupMenus()[3].request.Position);
    EXPECT_EQ(cursor, ui->popupMenus()[4].request.Position);
    EXPECT_EQ(&owner, ui->popupMenus()[3].request.Owner);
}

// ---- message and input boxes ---------------------------------------------------

TEST_F(ClsSystemTest, MessageBoxRequestsAndAnswers) {
    QGuiApplication::setApplicationDisplayName("Lumeval");
    ui->queueMessageBox(MsgResult::Yes);
    EXPECT_EQ(MsgResult::Yes,
              sys.MsgBox("是否初始化软件设置？", MsgButtons::YesNo, MsgIcon::Exclamation, "确认"));
    // No answer queued: Enter on the default button.
    EXPECT_EQ(MsgResult::No, sys.MsgBox("about", MsgButtons::YesNo, MsgIcon::Question, "关于", 2));
    EXPECT_EQ(MsgResult::Yes, sys.MsgBox("x", MsgButtons::YesNo, MsgIcon::Question, {}, 9));
    // A button the box does not have falls back to the default.
    ui->queueMessageBox(MsgResult::Retry);
    EXPECT_EQ(MsgResult::Ok, sys.MsgBox("x"));

    const auto& boxes = ui->messageBoxes();
    ASSERT_EQ(4u, boxes.size());
    EXPECT_EQ("确认", boxes[0].request.Title);
    EXPECT_EQ(MsgIcon::Exclamation, boxes[0].request.Icon);
    EXPECT_TRUE(boxes[0].fromQueue);
    EXPECT_EQ(MsgResult::No, boxes[1].request.DefaultButton);
    EXPECT_FALSE(boxes[1].fromQueue);
    EXPECT_EQ(MsgResult::Yes, boxes[2].request.DefaultButton);  // 9 is out of range
    EXPECT_EQ("Lumeval", boxes[2].request.Title);               // empty: the program's name
    EXPECT_FALSE(boxes[3].fromQueue);
}

TEST_F(ClsSystemTest, InfoBoxAndYesNo) {
    sys.InfoBox("已经完成");
    ui->queueMessageBox(MsgResult::Yes);
    EXPECT_TRUE(sys.AskYesNo("转换？"));
    EXPECT_FALSE(sys.AskYesNo("关于", MsgIcon::Question, "关于", true));  // Enter: No
    const auto& boxes = ui->messageBoxes();
    ASSERT_EQ(3u, boxes.size());
    EXPECT_EQ(MsgButtons::OkOnly, boxes[0].request.Buttons);
    EXPECT_EQ(MsgIcon::Information, boxes[0].request.Icon);
    EXPECT_EQ(MsgButtons::YesNo, boxes[1].request.Buttons);
    EXPECT_EQ(MsgResult::No, boxes[2].request.DefaultButton);
}

TEST_F(ClsSystemTest, InputBoxTellsCancelFromEmpty) {
    ui->queueInput("abc");
    ui->queueInput("");
    ui->queueInputCancel();
    bool cancelled = true;
    EXPECT_EQ("abc", sys.InputBox("查找内容：", "查找", "old", &cancelled));
    EXPECT_FALSE(cancelled);
    EXPECT_EQ("", sys.InputBox("查找内容：", "查找", "old", &cancelled));
    EXPECT_FALSE(cancelled);
    EXPECT_EQ("", sys.InputBox("单位：毫秒", "设置阈值", "50", &cancelled));
    EXPECT_TRUE(cancelled);
    EXPECT_EQ("", sys.InputBox("单位：毫秒", "设置阈值", "50", &cancelled));  // none queued
    EXPECT_TRUE(cancelled);
    const auto& inputs = ui->inputBoxes();
    ASSERT_EQ(4u, inputs.size());
    EXPECT_EQ("查找内容：", inputs[0].request.Prompt);
    EXPECT_EQ("查找", inputs[0].request.Title);
    EXPECT_EQ("old", inputs[0].request.Default);
    EXPECT_TRUE(inputs[2].fromQueue);
    EXPECT_FALSE(inputs[3].fromQueue);
}

// ---- clipboard, shell, icon ----------------------------------------------------

TEST_F(ClsSystemTest, ClipboardClearThenSet) {
    sys.ClipboardSetText("old");
    sys.ClipboardClear();
    EXPECT_EQ("", sys.ClipboardGetText());
    sys.ClipboardSetText("00:00:01,500");
    EXPECT_EQ("00:00:01,500", sys.ClipboardGetText());
    EXPECT_EQ((std::vector<Kind>{Kind::ClipboardSet, Kind::ClipboardClear, Kind::ClipboardSet}),
              ui->order());
}

TEST_F(ClsSystemTest, ShellOpenTurnsTextsIntoAddresses) {
    const QString file = Touch("readme.txt");
    EXPECT_TRUE(sys.ShellOpen("https://example.org/lumeval"));
    EXPECT_TRUE(sys.ShellOpen(file));
    EXPECT_FALSE(sys.ShellOpen("   "));
    ui->setOpenUrlResult(false);
    EXPECT_FALSE(sys.ShellOpen("https://example.org/board"));
    ASSERT_EQ(3u, ui->openedUrls().size());
    EXPECT_EQ(QUrl("https://example.org/lumeval"), ui->openedUrls()[0]);
    EXPECT_EQ(QUrl::fromLocalFile(file), ui->openedUrls()[1]);
}

TEST_F(ClsSystemTest, SetIconFindsPicturesOnly) {
    QImage picture(16, 16, QImage::Format_ARGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(dir.filePath("APPICON.png")));
    Touch("broken.png");  // no picture inside
    QWidget window;
    EXPECT_TRUE(sys.SetIcon(&window, dir.filePath("APPICON.png")));
    EXPECT_TRUE(sys.SetIcon(&window, dir.filePath("APPICON"), true));  // ending found
    EXPECT_FALSE(sys.SetIcon(&window, dir.filePath("broken.png")));
    EXPECT_FALSE(sys.SetIcon(&window, "NO_SUCH_ICON"));
    const auto& icons = ui->icons();
    ASSERT_EQ(4u, icons.size());
    EXPECT_TRUE(icons[0].found);
    EXPECT_FALSE(icons[0].bAsAppIcon);
    EXPECT_TRUE(icons[1].bAsAppIcon);
    EXPECT_EQ(&window, icons[1].window);
    EXPECT_FALSE(icons[2].found);
    EXPECT_EQ("NO_SUCH_ICON", icons[3].name);
}

// ---- files and paths -----------------------------------------------------------

TEST_F(ClsSystemTest, FileAndFolderTestsTakeUtf8Names) {
    const QString file = Touch("字幕.srt");
    EXPECT_TRUE(clsSystem::FileExists(file));
    EXPECT_TRUE(clsSystem::FileExists(dir.path()));  // folders count
    EXPECT_FALSE(clsSystem::FileExists(dir.filePath("电影.srt")));
    EXPECT_TRUE(clsSystem::isFolder(dir.path()));
    EXPECT_FALSE(clsSystem::isFolder(file));
}

TEST_F(ClsSystemTest, PathTexts) {
    EXPECT_EQ("电影", clsSystem::GetFileString("/home/李/电影.ass", ".", 0));
    EXPECT_EQ("ass", clsSystem::GetFileString("/home/李/电影.ass", ".", 1));
    EXPECT_EQ("", clsSystem::cPath("   "));
    // The save command's proposed name: current folder + bare name + ".srt".
    EXPECT_EQ(QDir::currentPath() + "/movie.srt",
              clsSystem::cPath(QDir::currentPath()) +
                  clsSystem::GetFileString("/films/movie.ass", ".", 0) + ".srt");
}

TEST_F(ClsSystemTest, RenameExistsNumbersFreeNames) {
    const QString out = dir.filePath("out.srt");
    EXPECT_EQ(out, clsSystem::RenameExists(out));
    Touch("out.srt");
    EXPECT_EQ(dir.filePath("out(1).srt"), clsSystem::RenameExists(out));
    Touch("out(1).srt");
    EXPECT_EQ(dir.filePath("out(2).srt"), clsSystem::RenameExists(out));
    EXPECT_EQ(out, clsSystem::RenameExists(out, true));
    Touch("notes");
    EXPECT_EQ(dir.filePath("notes(1)"), clsSystem::RenameExists(dir.filePath("notes")));
    Touch("电影.srt");
    EXPECT_EQ(dir.filePath("电影(1).srt"), clsSystem::RenameExists(dir.filePath("电影.srt")));
    EXPECT_EQ("", clsSystem::RenameExists(QString()));
}

TEST(FirstFreeNumberedName, ContinuesPastTheConvertersLimit) {
    // Every name up to (123456) taken: the next one is found, and a range
    // wholly taken gives no name rather than one that exists.
    const auto upTo = [](int last) {
        return [last](const std::string& name) {
            const std::size_t open = name.rfind('(');
            return std::stoi(name.substr(open + 1)) <= last;
        };
    };
    EXPECT_EQ("/d/out(123457).srt",
              system_detail::FirstFreeNumberedName("/d/out.srt", 100000, 999999, upTo(123456)));
    EXPECT_EQ("", system_detail::FirstFreeNumberedName("/d/out.srt", 999000, 999999, upTo(999999)));
    std::set<std::string> asked;
    system_detail::FirstFreeNumberedName("/d.v/.profile", 1, 2, [&](const std::string& n) {
        asked.insert(n);
        return true;
    });
    // A folder's dot and a leading dot start no extension.
    EXPECT_EQ((std::set<std::string>{"/d.v/.profile(1)", "/d.v/.profile(2)"}), asked);
    EXPECT_EQ("C:\\a.b\\x(1)", system_detail::FirstFreeNumberedName("C:\\a.b\\x", 1, 1, upTo(0)));
}

TEST(CheckSuffixFromString, DroppedFileNames) {
    struct Case {
        const char* name;
        bool video, subtitle;
    } cases[] = {
        {"/films/a.ts", true, false},
        {"/films/a.srt", false, true},
        {"/films/a.x", false, false},   // one character: never
        {"/films/a.ss", false, true},   // "*.ss" occurs inside "*.ssa"
        {"/films/A.MKV", true, false},  // case does not matter
        {"C:\\films\\b.Ass", false, true},
        {"/films/ts", false, false},  // no extension at all
        {"/films.ts/clip", false, false},
        {"/films/a.", false, false},
        {"", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.video, clsSystem::CheckSuffixFromString(c.name, kVideoPatterns)) << c.name;
        EXPECT_EQ(c.subtitle, clsSystem::CheckSuffixFromString(c.name, kSubtitlePatterns))
            << c.name;
    }
}

TEST(ClsSystemTime, EngineTextsAsQString) {
    EXPECT_EQ("01:02:03,004", clsSystem::MSecsToTime(3723004, 0));
    EXPECT_EQ(1050.0, clsSystem::TimeToMSecs("00:00:01, 50", ","));
    EXPECT_EQ("62:03:00", clsSystem::MSecsToCueTime(3723004));
}

}  // namespace
}  // namespace lumeval
