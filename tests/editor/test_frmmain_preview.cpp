// The preview inside the window: opening a medium, its companion subtitle,
// the layout with the picture on top, the seek bar and the mouse over it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include "app/documentrows.h"
#include "app/frmmain.h"
#include "editor_test_util.h"
#include "controls/clscontrols.h"
#include "controls/ctllistview.h"
#include "controls/windowmessages.h"
#include "media/clsdirectshow.h"
#include "media/scriptedplaybackservice.h"
#include "system/scriptedsystemui.h"

using namespace lumeval;

namespace {

class Preview : public lumeval::testing::MediaWindowTest {
  protected:
    static qint32 point(int x, int y) { return (y << 16) | (x & 0xFFFF); }
};

}  // namespace

TEST_F(Preview, OpeningAMediumOpensItsCompanionOnceAndPutsThePictureOnTop) {
    const QString video = write(QStringLiteral("movie.mp4"), "not really a video");
    write(QStringLiteral("movie.srt"), "1\n00:00:01,000 --> 00:00:02,000\nhi\n");
    ui->queueMessageBox(MsgResult::No);  // the companion's character-set question
    window->OpenVideo(video);
    ASSERT_EQ(window->DirectShow()->Status(), 1);
    EXPECT_EQ(window->List(0)->Tag(), dir.filePath(QStringLiteral("movie.srt")));
    EXPECT_EQ(window->List(0)->Count(), 1);
    // The lists take the lower half; right above them the waveform, and
    // the bar right above that, under the picture.
    const int split = window->List(0)->y();
    EXPECT_GT(split, 0);
    EXPECT_EQ(window->WaveformRect().Bottom, split);
    EXPECT_GT(window->WaveformRect().Bottom, window->WaveformRect().Top);
    EXPECT_EQ(window->SeekBarRect().Bottom, window->WaveformRect().Top);
    EXPECT_EQ(window->SeekBarRect().Top, window->SeekBarRect().Bottom - 20);
    EXPECT_EQ(window->VideoRect().Bottom <= window->SeekBarRect().Top, true);
    EXPECT_FALSE(window->VideoRect().IsEmpty());

    // Opening it again does not open the companion a second time.
    window->OpenVideo(video);
    EXPECT_EQ(window->ListCount(), 1);
}

TEST_F(Preview, ClicksPauseDragSeeksAndTheMenuCloses) {
    const QString video = write(QStringLiteral("clip.mp4"), "x");
    window->OpenVideo(video);
    ASSERT_EQ(window->DirectShow()->Status(), 1);
    const editor::WinRect v = window->VideoRect();
    window->ClientMessage(WM_LBUTTONUP, 0, point(v.Left + 5, v.Top + 5));
    EXPECT_EQ(window->DirectShow()->Status(), 2);
    window->ClientMessage(WM_LBUTTONUP, 0, point(v.Left + 5, v.Top + 5));
    EXPECT_EQ(window->DirectShow()->Status(), 1);

    const editor::WinRect bar = window->SeekBarRect();
    const int middle = (bar.Left + bar.Right) / 2;
    window->ClientMessage(WM_LBUTTONDOWN, 0, point(bar.Left + 1, bar.Top + 5));
    EXPECT_TRUE(window->SeekDragging());
    window->ClientMessage(WM_MOUSEMOVE, 0, point(middle, bar.Top + 5));
    EXPECT_NEAR(window->DirectShow()->Position(), 30.0, 0.5);  // half the bar, to a pixel
    window->ClientMessage(WM_LBUTTONUP, 0, point(middle, bar.Top + 5));
    EXPECT_FALSE(window->SeekDragging());

    ui->queueMenuItem(QStringLiteral("关闭"));
    window->ClientMessage(WM_RBUTTONUP, 0, point(v.Left + 5, v.Top + 5));
    EXPECT_EQ(window->DirectShow()->Status(), 0);
    // Closed: the lists take the window's height again at once.
    EXPECT_EQ(0, window->List(0)->y());
    // With no medium, messages over the old places do nothing.
    window->ClientMessage(WM_LBUTTONDOWN, 0, point(bar.Left + 1, bar.Top + 5));
    EXPECT_FALSE(window->SeekDragging());
}

TEST_F(Preview, AMediumThatEndsGivesTheListsTheirHeightBack) {
    window->OpenVideo(write(QStringLiteral("clip.mp4"), "x"));
    ASSERT_GT(window->List(0)->y(), 0);
    const int tall = window->List(0)->height();
    window->DirectShow()->DS_Remove(true);  // what the end of the medium does
    EXPECT_EQ(0, window->List(0)->y());
    EXPECT_GT(window->List(0)->height(), tall);
}

TEST_F(Preview, DoubleClickOnARowSeeks) {
    const QString video = write(QStringLiteral("clip.mp4"), "x");
    write(QStringLiteral("clip.srt"), "1\n00:00:12,500 --> 00:00:13,000\nrow\n");
    ui->queueMessageBox(MsgResult::No);
    window->OpenVideo(video);
    ASSERT_EQ(window->List(0)->Count(), 1);
    window->DirectShow()->Pause(true);
    window->ItemDblClick(0, 0);
    EXPECT_DOUBLE_EQ(window->DirectShow()->Position(), 12.5);
    // Paused: the row under the playhead shows at once, with no tick.
    auto* rows = dynamic_cast<DocumentRows*>(window->List(0)->Model()->Source());
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->Playing(), std::vector<int>{0});
}

TEST_F(Preview, HotKeysRunTheirCommands) {
    write(QStringLiteral("a.srt"), "1\n00:00:01,000 --> 00:00:02,000\nhi\n");
    ui->queueMessageBox(MsgResult::No);
    window->OpenSubtitle(dir.filePath(QStringLiteral("a.srt")));
    ui->clearRecords();
    ui->queueMessageBox(MsgResult::No);
    window->ClientMessage(WM_HOTKEY, 1, 0);  // F1: about
    ASSERT_FALSE(ui->messageBoxes().empty());
    EXPECT_EQ(ui->messageBoxes().back().request.Title, QStringLiteral("关于"));
    ui->queueInputCancel();
    window->ClientMessage(WM_HOTKEY, 0, 0);  // Ctrl+F: find asks
    EXPECT_EQ(ui->inputBoxes().back().request.Prompt, QStringLiteral("查找内容："));
}

TEST_F(Preview, ADroppedVideoPatternOpensInThePreviewFirst) {
    // ".ts" is a video pattern; it is tried before the subtitle patterns.
    const QString ts = write(QStringLiteral("a.ts"), "x");
    window->OLEDragDrop(false, ts);
    EXPECT_EQ(window->DirectShow()->Status(), 1);
    EXPECT_EQ(window->DirectShow()->FileName(), ts);
    EXPECT_EQ(window->List(0)->Count(), 0);
    EXPECT_TRUE(window->List(0)->Tag().isEmpty());
}
