// Saving in place and the recent files in the main window: Ctrl+S, the
// save-as dialog, what a format we cannot keep says, the recent files'
// submenu, and opening that never replaces a changed document.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <cerrno>
#include <cstring>
#include <sys/mount.h>

#include "app/frmmain.h"
#include "app/modregistry.h"
#include "controls/ctllistview.h"
#include "document/document.h"
#include "editor_test_util.h"
#include "system/scriptedsystemui.h"

using namespace lumeval;

namespace {

class Saving : public lumeval::testing::WindowTest {
  protected:
    void open(const QString& path) { OpenFile(path); }
    QString srt(const QString& name) {
        return lumeval::testing::WriteSrt(dir, name,
                                          {"00:00:01,000 --> 00:00:02,000\n一", "00:00:03,000 --> 00:00:04,000\n二"});
    }
    QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList recentShown() {
        QMenu* menu = window->RecentMenu();
        emit menu->aboutToShow();
        QStringList shown;
        for (QAction* a : menu->actions()) shown << a->text();
        return shown;
    }

};

TEST_F(Saving, AFormatWeCannotKeepSaysWhatWouldBeLostAndOffersTheDialog) {
    const QString smi = lumeval::testing::WriteFile(
        dir, QStringLiteral("a.smi"),
        "<SAMI><HEAD><STYLE>P {color:red}</STYLE></HEAD><BODY>\n<SYNC Start=1000><P>one\n"
        "<SYNC Start=2000><P>two\n</BODY></SAMI>\n");
    open(smi);
    ASSERT_EQ(2, window->Document(0)->Count());
    window->Document(0)->SetText(0, "changed");
    const QByteArray before = read(smi);

    // No: nothing is written and the document stays changed.
    ui->clearRecords();
    ui->queueMessageBox(MsgResult::No);
    EXPECT_FALSE(window->SaveInPlace(0));
    ASSERT_EQ(1u, ui->messageBoxes().size());
    EXPECT_TRUE(ui->messageBoxes()[0].request.Prompt.contains(QStringLiteral("丢失")));
    EXPECT_TRUE(ui->fileDialogs().empty());
    EXPECT_EQ(before, read(smi));
    EXPECT_TRUE(window->Changed(0));

    // Yes: the dialog, and the file chosen there is written.
    ui->queueMessageBox(MsgResult::Yes);
    ui->queueFileDialog(dir.filePath(QStringLiteral("b.srt")));
    ui->queueMessageBox(MsgResult::Ok);  // the saved message
    EXPECT_TRUE(window->SaveInPlace(0));
    EXPECT_EQ(1u, ui->fileDialogs().size());
    EXPECT_TRUE(read(dir.filePath(QStringLiteral("b.srt"))).contains("changed"));
    EXPECT_FALSE(window->Changed(0));
    EXPECT_EQ(before, read(smi));
}

TEST_F(Saving, AfterSaveAsCtrlSWritesTheNewFileWithoutADialog) {
    const QString a = srt(QStringLiteral("a.srt"));
    open(a);
    const QString b = dir.filePath(QStringLiteral("b.srt"));
    ui->queueFileDialog(b);
    ui->queueMessageBox(MsgResult::Ok);
    window->RunCommand(QStringLiteral("save"));
    ASSERT_FALSE(read(b).isEmpty());
    EXPECT_EQ(QStringLiteral("b.srt - Lumeval"), window->windowTitle());

    window->Document(0)->SetText(1, "edited");
    ui->clearRecords();
    ui->queueMessageBox(MsgResult::No);  // in case a question comes: it must not
    EXPECT_TRUE(window->SaveInPlace(0));
    EXPECT_TRUE(ui->fileDialogs().empty());
    EXPECT_TRUE(read(b).contains("edited"));
    EXPECT_FALSE(read(a).contains("edited"));
    EXPECT_FALSE(window->Changed(0));
}

TEST_F(Saving, RecentFilesKeepTheLastTenAndDropOnesThatAreGone) {
    QStringList paths;
    for (int i = 0; i < 12; ++i) {
        paths << srt(QStringLiteral("r%1.srt").arg(i));
        open(paths.back());
    }
    QStringList shown = recentShown();
    ASSERT_EQ(10, shown.size());
    EXPECT_EQ(QStringLiteral("&1 ") + paths[11], shown[0]);
    EXPECT_EQ(QStringLiteral("1&0 ") + paths[2], shown[9]);
    // Opening one again brings it to the top, once.
    open(paths[5]);
    shown = recentShown();
    EXPECT_EQ(QStringLiteral("&1 ") + paths[5], shown[0]);
    EXPECT_EQ(1, shown.filter(paths[5]).size());

    // One that is gone: a message, and it leaves the list.
    QFile::remove(paths[10]);
    ui->clearRecords();
    QAction* gone = nullptr;
    for (QAction* action : window->RecentMenu()->actions())
        if (action->text().endsWith(paths[10])) gone = action;
    ASSERT_NE(gone, nullptr);
    const int before = window->ListCount();
    gone->trigger();
    ASSERT_EQ(1u, ui->messageBoxes().size());
    EXPECT_TRUE(ui->messageBoxes()[0].request.Prompt.contains(paths[10]));
    EXPECT_EQ(before, window->ListCount());
    EXPECT_TRUE(recentShown().filter(paths[10]).isEmpty());
    // Kept in the settings store, under its own names.
    EXPECT_EQ(paths[5], modRegistry::ReadSetting(QStringLiteral("RecentFile1"), QString()));
}

TEST_F(Saving, OpeningNeverReplacesADocumentWhoseRowsWereAllDeleted) {
    open(srt(QStringLiteral("a.srt")));
    doc::SubtitleDocument* first = window->Document(0);
    ASSERT_TRUE(first->Clear(QStringLiteral("清除")));
    ASSERT_EQ(0, first->Count());
    ASSERT_TRUE(window->Changed(0));
    open(srt(QStringLiteral("b.srt")));
    EXPECT_EQ(first, window->Document(0));
    EXPECT_TRUE(window->Changed(0));
    EXPECT_EQ(2, window->ListCount());
    EXPECT_EQ(2, window->Document(1)->Count());
}

// A failed save names the file and the cause, keeps the document changed
// and leaves what is on disk as it was (tests run as root too, so the
// failures are ones no permission lifts).
TEST_F(Saving, AFailedSaveNamesTheFileAndTheCauseAndKeepsTheChanges) {
    open(srt(QStringLiteral("a.srt")));
    QDir(dir.path()).mkpath(QStringLiteral("out"));
    const QString b = dir.filePath(QStringLiteral("out/b.srt"));
    ui->queueFileDialog(b);
    ui->queueMessageBox(MsgResult::Ok);
    window->RunCommand(QStringLiteral("save"));
    ASSERT_TRUE(QFile::exists(b));

    struct Case {
        const char* what;
        std::function<void()> breakIt;
        const char16_t* cause;
    };
    const Case cases[] = {
        {"replaced by a folder", [&] { QFile::remove(b); QDir().mkpath(b); }, u"目标是一个文件夹"},
        {"folder gone", [&] { QDir(dir.filePath(QStringLiteral("out"))).removeRecursively(); }, u"文件夹已不存在"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        window->Document(0)->SetText(0, c.what);
        c.breakIt();
        ui->clearRecords();
        ui->queueMessageBox(MsgResult::Ok);
        EXPECT_FALSE(window->SaveInPlace(0));
        ASSERT_EQ(1u, ui->messageBoxes().size());
        const QString said = ui->messageBoxes()[0].request.Prompt;
        EXPECT_TRUE(said.contains(b)) << said.toStdString();
        EXPECT_TRUE(said.contains(QString::fromUtf16(c.cause))) << said.toStdString();
        EXPECT_TRUE(window->Changed(0));
        EXPECT_EQ(QStringLiteral("b.srt* - Lumeval"), window->windowTitle());
    }
    EXPECT_FALSE(QFile::exists(b));
}

// A full disk and a read-only one, for real: a small tmpfs (mounting needs
// privileges; without them the case says so and is skipped).
TEST_F(Saving, AFullDiskAndAReadOnlyDiskAreNamedAndChangeNothing) {
    const QString mountPoint = dir.filePath(QStringLiteral("disk"));
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    if (::mount("tmpfs", mountPoint.toLocal8Bit().constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        QByteArray at;
        ~Unmount() { ::umount2(at.constData(), MNT_DETACH); }
    } unmount{mountPoint.toLocal8Bit()};

    const QString path = lumeval::testing::WriteSrt(
        dir, QStringLiteral("disk/a.srt"), {"00:00:01,000 --> 00:00:02,000\n一", "00:00:03,000 --> 00:00:04,000\n二"});
    const QByteArray before = read(path);
    open(path);
    doc::SubtitleDocument* d = window->Document(0);
    for (int i = 0; i < 20 && !d->Kept(); ++i) QTest::qWait(50);
    // More than the disk holds.
    d->SetText(0, std::string(100 * 1024, 'x'));
    ui->clearRecords();
    ui->queueMessageBox(MsgResult::Ok);
    EXPECT_FALSE(window->SaveInPlace(0));
    ASSERT_EQ(1u, ui->messageBoxes().size());
    EXPECT_TRUE(ui->messageBoxes()[0].request.Prompt.contains(QStringLiteral("磁盘空间不足")))
        << ui->messageBoxes()[0].request.Prompt.toStdString();
    EXPECT_EQ(before, read(path));
    EXPECT_EQ(QStringList{QStringLiteral("a.srt")}, QDir(mountPoint).entryList(QDir::Files | QDir::Hidden));
    EXPECT_TRUE(d->IsChanged());

    // The same disk read-only: a small edit fails too, and says why.
    ASSERT_EQ(0, ::mount("tmpfs", mountPoint.toLocal8Bit().constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k"));
    d->SetText(0, "小");
    ui->clearRecords();
    ui->queueMessageBox(MsgResult::Ok);
    EXPECT_FALSE(window->SaveInPlace(0));
    ASSERT_EQ(1u, ui->messageBoxes().size());
    EXPECT_TRUE(ui->messageBoxes()[0].request.Prompt.contains(QStringLiteral("只读")))
        << ui->messageBoxes()[0].request.Prompt.toStdString();
    EXPECT_EQ(before, read(path));
    EXPECT_TRUE(d->IsChanged());
}

}  // namespace
