// The 播放 menu and what follows the playhead: transport keys, the playing
// cue, times set from the playhead as steps, the subtitles over the picture.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QBrush>
#include <QCoreApplication>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QThreadPool>
#include <map>

#include "app/documentrows.h"
#include "app/frmmain.h"
#include "app/frmmain_overlay.h"
#include "controls/ctllistview.h"
#include "controls/ucstatusbar.h"
#include "controls/waveformview.h"
#include "document/document.h"
#include "editor_test_util.h"
#include "media/clsdirectshow.h"
#include "media/scriptedplaybackservice.h"
#include "system/scriptedsystemui.h"

using namespace lumeval;

namespace {

class Playback : public lumeval::testing::MediaWindowTest {
  protected:
    // A medium with a companion of three cues, opened and playing.
    void OpenWithCues() {
        const QString video = lumeval::testing::WriteFile(dir, QStringLiteral("clip.mp4"), "x");
        lumeval::testing::WriteFile(dir, QStringLiteral("clip.srt"),
                                    "1\n00:00:01,000 --> 00:00:02,000\none\n\n"
                                    "2\n00:00:04,000 --> 00:00:05,000\ntwo\n\n"
                                    "3\n00:00:07,000 --> 00:00:09,000\nthree\n");
        ui->queueMessageBox(MsgResult::No);
        window->OpenVideo(video);
        ASSERT_EQ(window->DirectShow()->Status(), 1);
        ASSERT_EQ(window->List(0)->Count(), 3);
    }
    // The playhead at `seconds` and one status tick.
    void TickAt(double seconds) {
        media->position = seconds;
        window->PlayStatus(seconds, media->duration, window->DirectShow()->Status());
    }
    DocumentRows* Rows() { return dynamic_cast<DocumentRows*>(window->List(0)->Model()->Source()); }
    QString Status1() { return window->StatusBar()->PanelText(1); }
};

void CollectShortcuts(const QMenu* menu, std::multimap<QString, QString>& keys) {
    for (QAction* a : menu->actions()) {
        if (a->menu()) CollectShortcuts(a->menu(), keys);
        for (const QKeySequence& k : a->shortcuts()) keys.emplace(k.toString(), a->text());
    }
}

}  // namespace

TEST_F(Playback, ThePlayMenuStandsBeforeHelpAndItsKeysClashWithNothing) {
    const QList<QAction*> tops = window->menuBar()->actions();
    ASSERT_EQ(tops.size(), 4);
    EXPECT_EQ(tops[2]->menu(), window->PlayMenu());
    EXPECT_EQ(tops[2]->text(), QStringLiteral("播放(&P)"));
    EXPECT_EQ(tops[3]->menu(), window->Menus()[2]);  // Help stays last
    ASSERT_EQ(window->Menus().size(), 3);
    std::multimap<QString, QString> keys;
    for (QAction* top : tops) CollectShortcuts(top->menu(), keys);
    // The window's hot keys (find, about, find next) are keys too.
    for (const QString& hot : {QStringLiteral("Ctrl+F"), QStringLiteral("F1"), QStringLiteral("F3")})
        keys.emplace(hot, QStringLiteral("hot key"));
    for (auto it = keys.begin(); it != keys.end(); ++it)
        EXPECT_EQ(keys.count(it->first), 1u) << it->first.toStdString() << " on " << it->second.toStdString();
    for (const char* key : {"Ctrl+P", "Ctrl+Shift+P", "Ctrl+Left", "Ctrl+Right", "Ctrl+Shift+Left",
                            "Ctrl+Shift+Right", "Ctrl+,", "Ctrl+.", "F9", "F10", "F11"})
        EXPECT_EQ(keys.count(QKeySequence(QString::fromLatin1(key)).toString()), 1u) << key;
}

TEST_F(Playback, TransportKeysPlayPauseSeekAndStepFrames) {
    window->CmdPlayPause();
    EXPECT_EQ(Status1(), QStringLiteral(" 没有打开的媒体"));
    OpenWithCues();
    window->CmdPlayPause();
    EXPECT_EQ(window->DirectShow()->Status(), 2);
    window->CmdPlayPause();
    EXPECT_EQ(window->DirectShow()->Status(), 1);

    media->position = 10.0;
    struct Step {
        double by, expected;
    } steps[] = {{1, 11}, {5, 16}, {-1, 15}, {-5, 10}, {-30, 0}, {100, 60}};
    for (const Step& s : steps) {
        window->CmdSeekBy(s.by);
        EXPECT_NEAR(media->position, s.expected, 1e-9) << s.by;
    }
    // A frame step pauses first, then moves one frame (0.04 s here).
    media->position = 3.0;
    window->CmdFrameStep(1);
    EXPECT_EQ(window->DirectShow()->Status(), 2);
    EXPECT_NEAR(media->position, 3.04, 1e-9);
    window->CmdFrameStep(-1);
    window->CmdFrameStep(-1);
    EXPECT_NEAR(media->position, 2.96, 1e-9);
}

TEST_F(Playback, ThePlayingCueIsHighlightedAndFollowedOnlyWhenAskedFor) {
    OpenWithCues();
    window->List(0)->SetItemSelected(2, true);
    TickAt(4.5);
    EXPECT_EQ(Rows()->Playing(), std::vector<int>{1});
    const QBrush playing = Rows()->SourceRole(1, 3, Qt::BackgroundRole).value<QBrush>();
    EXPECT_NE(playing.color(), Rows()->SourceRole(0, 3, Qt::BackgroundRole).value<QBrush>().color());
    // Following is off: the user's selection stays.
    EXPECT_TRUE(window->List(0)->ItemSelected(2));
    EXPECT_FALSE(window->List(0)->ItemSelected(1));
    TickAt(3.0);  // between cues
    EXPECT_TRUE(Rows()->Playing().empty());

    window->FollowAction()->trigger();
    ASSERT_TRUE(window->FollowAction()->isChecked());
    TickAt(7.5);
    EXPECT_EQ(Rows()->Playing(), std::vector<int>{2});
    EXPECT_TRUE(window->List(0)->ItemSelected(2));
    TickAt(1.5);
    EXPECT_TRUE(window->List(0)->ItemSelected(0));
    EXPECT_FALSE(window->List(0)->ItemSelected(2));

    // Closing the medium takes the highlight away.
    window->DirectShow()->DS_Remove(true);
    EXPECT_TRUE(Rows()->Playing().empty());
}

TEST_F(Playback, TimesFromThePlayheadAreStepsAndAnEndBeforeTheStartIsRefused) {
    OpenWithCues();
    doc::SubtitleDocument* d = window->Document(0);
    window->List(0)->SetItemSelected(0, true);
    media->position = 0.75;
    window->CmdTimeFromPlayhead(true, false);
    EXPECT_EQ(d->Start(0), 750);
    EXPECT_EQ(d->End(0), 2000);
    media->position = 2.25;
    window->CmdTimeFromPlayhead(false, true);  // the end, then on to the next cue
    EXPECT_EQ(d->End(0), 2250);
    EXPECT_TRUE(window->List(0)->ItemSelected(1));
    // A start past the end takes the end along, keeping the length (1 s).
    media->position = 6.0;
    window->CmdTimeFromPlayhead(true, false);
    EXPECT_EQ(d->Start(1), 6000);
    EXPECT_EQ(d->End(1), 7000);
    // Each was one step, undone in turn.
    ASSERT_TRUE(d->Undo());
    EXPECT_EQ(d->Start(1), 4000);
    EXPECT_EQ(d->End(1), 5000);
    ASSERT_TRUE(d->Undo());
    EXPECT_EQ(d->End(0), 2000);
    ASSERT_TRUE(d->Undo());
    EXPECT_EQ(d->Start(0), 1000);
    EXPECT_FALSE(d->IsChanged());

    media->position = 3.0;  // before the focused cue's start (4 s)
    window->CmdTimeFromPlayhead(false, false);
    EXPECT_EQ(d->End(1), 5000);
    EXPECT_EQ(Status1(), QStringLiteral(" 结束位置不能早于开始位置"));
    EXPECT_FALSE(d->CanUndo());
}

TEST_F(Playback, PlayingACuePausesAtItsEnd) {
    OpenWithCues();
    window->CmdPlayPause();  // paused first: playing the cue starts it
    window->List(0)->SetItemSelected(1, true);
    window->CmdPlayCue();
    EXPECT_DOUBLE_EQ(media->position, 4.0);
    EXPECT_EQ(window->DirectShow()->Status(), 1);
    TickAt(4.6);
    EXPECT_EQ(window->DirectShow()->Status(), 1);
    TickAt(5.02);
    EXPECT_EQ(window->DirectShow()->Status(), 2);
    // Played on from there, nothing stops it again.
    window->CmdPlayPause();
    TickAt(8.0);
    EXPECT_EQ(window->DirectShow()->Status(), 1);
}

namespace {
// Pixels the overlay draws on a transparent image.
int DrawnPixels(QWidget* overlay) {
    QImage image(overlay->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    overlay->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    int drawn = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) drawn += qAlpha(image.pixel(x, y)) > 0;
    return drawn;
}
}  // namespace

TEST_F(Playback, SubtitlesAreDrawnOverThePictureAtTheirTimeFollowEditsAndCanBeHidden) {
    OpenWithCues();
    SubtitleOverlay* overlay = window->Overlay();
    ASSERT_NE(overlay, nullptr);
    ASSERT_TRUE(overlay->isVisible());
    const editor::WinRect v = window->VideoRect();
    EXPECT_EQ(overlay->geometry(), QRect(v.Left, v.Top, v.Right - v.Left, v.Bottom - v.Top));
    window->CmdPlayPause();
    TickAt(3.0);
    EXPECT_EQ(DrawnPixels(overlay), 0);
    TickAt(4.5);
    EXPECT_GT(DrawnPixels(overlay), 50);
    // An edit shows at once, while paused: an emptied cue draws nothing.
    window->Document(0)->SetText(1, "");
    EXPECT_EQ(DrawnPixels(overlay), 0);
    window->Document(0)->Undo();
    EXPECT_GT(DrawnPixels(overlay), 50);
    // The toggle hides them (and is remembered).
    window->ShowSubtitlesAction()->trigger();
    EXPECT_FALSE(overlay->SubtitlesShown());
    EXPECT_EQ(DrawnPixels(overlay), 0);
    window->ShowSubtitlesAction()->trigger();
    EXPECT_GT(DrawnPixels(overlay), 50);
    // Closed: the overlay goes with the picture.
    window->DirectShow()->DS_Remove(true);
    EXPECT_FALSE(overlay->isVisible());
}

TEST_F(Playback, TheWaveformLiesUnderTheBarFollowsThePlayheadAndSeeks) {
    OpenWithCues();
    WaveformView* wave = window->Waveform();
    ASSERT_NE(wave, nullptr);
    ASSERT_TRUE(wave->isVisible());
    const editor::WinRect w = window->WaveformRect();
    EXPECT_EQ(wave->geometry(), QRect(w.Left, w.Top, w.Right - w.Left, w.Bottom - w.Top));
    EXPECT_EQ(w.Top, window->SeekBarRect().Bottom);
    EXPECT_EQ(wave->Document(), window->Document(0));
    ASSERT_NE(wave->Peaks(), nullptr);  // asked for (a file that is no medium: it says so itself)

    TickAt(7.25);
    EXPECT_EQ(wave->Playhead(), 7250);
    emit wave->SeekRequested(4500);
    EXPECT_DOUBLE_EQ(media->position, 4.5);
    EXPECT_EQ(wave->Playhead(), 4500);

    // A medium without a picture gives the picture's room to the waveform.
    window->DirectShow()->DS_Remove(true);
    EXPECT_FALSE(wave->isVisible());
    EXPECT_EQ(wave->Peaks(), nullptr);
    media->hasVideo = false;
    ui->queueMessageBox(MsgResult::No);
    window->OpenVideo(lumeval::testing::WriteFile(dir, QStringLiteral("song.mp3"), "x"));
    ASSERT_EQ(window->DirectShow()->Status(), 1);
    EXPECT_EQ(window->SeekBarRect().Top, 0);
    EXPECT_EQ(window->WaveformRect().Top, window->SeekBarRect().Bottom);
    EXPECT_EQ(window->WaveformRect().Bottom, window->List(0)->y());
}

TEST_F(Playback, AScriptsCuesAreDrawnInTheirOwnStyles) {
    const QString video = lumeval::testing::WriteFile(dir, QStringLiteral("film.mp4"), "x");
    lumeval::testing::WriteFile(
        dir, QStringLiteral("film.ass"),
        "[Script Info]\nScriptType: v4.00+\nPlayResX: 640\nPlayResY: 360\n\n[V4+ Styles]\n"
        "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, "
        "Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, "
        "MarginR, MarginV, Encoding\n"
        "Style: Default,WenQuanYi Micro Hei,40,&H0000FF00,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,0,0,"
        "2,10,10,10,1\n"
        "Style: Alarm,WenQuanYi Micro Hei,40,&H000000FF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,0,0,"
        "2,10,10,10,1\n\n[Events]\n"
        "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
        "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,green\n"
        "Dialogue: 0,0:00:03.00,0:00:04.00,Alarm,,0,0,0,,red\n");
    ui->queueMessageBox(MsgResult::No);
    window->OpenVideo(video);
    ASSERT_EQ(window->List(0)->Count(), 2);
    // The file is kept with the document off the window thread; then each
    // row's cue in the file, and so its style, is known.
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    window->CmdPlayPause();
    auto reds = [&](double at) {
        TickAt(at);
        QWidget* overlay = window->Overlay();
        QImage image(overlay->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        overlay->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        int red = 0, green = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb c = image.pixel(x, y);
                if (qAlpha(c) < 200) continue;
                red += qRed(c) > 200 && qGreen(c) < 60;
                green += qGreen(c) > 200 && qRed(c) < 60;
            }
        return std::pair{red, green};
    };
    const auto first = reds(1.5);
    EXPECT_GT(first.second, 10);
    EXPECT_EQ(first.first, 0);
    const auto second = reds(3.5);
    EXPECT_GT(second.first, 10);
    EXPECT_EQ(second.second, 0);
}
