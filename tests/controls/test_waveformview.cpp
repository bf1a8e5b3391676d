// The waveform view: edges dragged into one undo step, clicks that seek,
// zoom around the pointer, the playhead followed, the document's edits
// followed, and painting at any size with peaks still coming.
#ifdef LUMEVAL_HAVE_WAVEFORMVIEW
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QWheelEvent>
#include <memory>
#include <vector>

#include "controls/waveformview.h"
#include "document/document.h"
#include "media/waveform.h"

namespace lumeval {
namespace {

using doc::CueValue;
using doc::kNoEnd;
using doc::SubtitleDocument;

void Mouse(QWidget* w, QEvent::Type type, double x, Qt::MouseButtons buttons, Qt::MouseButton button) {
    const QPointF at(x, w->height() / 2.0);
    QMouseEvent event(type, at, w->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}
void Press(QWidget* w, double x) { Mouse(w, QEvent::MouseButtonPress, x, Qt::LeftButton, Qt::LeftButton); }
void DragTo(QWidget* w, double x) { Mouse(w, QEvent::MouseMove, x, Qt::LeftButton, Qt::NoButton); }
void Release(QWidget* w, double x) { Mouse(w, QEvent::MouseButtonRelease, x, Qt::NoButton, Qt::LeftButton); }
void Click(QWidget* w, double x) {
    Press(w, x);
    Release(w, x);
}
void Wheel(QWidget* w, double x, int delta, Qt::KeyboardModifiers modifiers) {
    const QPointF at(x, w->height() / 2.0);
    QWheelEvent event(at, w->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &event);
}

class WaveformViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // 1000 px for 10 s: 10 ms a pixel, so x = ms / 10.
        view.resize(1000, 120);
        Load({{2000, 4000, "first"}, {5000, 6000, "second"}, {8000, kNoEnd, "lyric"}});
        view.SetDocument(&d);
        view.SetVisibleRange(0, 10000);
    }
    void Load(const std::vector<CueValue>& cues) {
        d.BeginLoad();
        for (const CueValue& c : cues) d.AppendLoaded(c.start, c.end, c.text);
        d.EndLoad();
    }
    QImage Paint(QSize size) {
        view.resize(size);
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        QPainter painter(&image);
        view.render(&painter);
        return image;
    }

    SubtitleDocument d;
    WaveformView view;
};

TEST_F(WaveformViewTest, DraggingAnEdgeIsOneUndoStep) {
    struct Case {
        const char* name;
        int row;
        double from;
        std::vector<double> moves;
        int64_t start, end;  // after the release
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"end moved right", 0, 400, {420, 480, 550}, 2000, 5500},
        {"start moved left", 0, 200, {190, 150}, 1500, 4000},
        {"grabbed a few pixels off the edge", 1, 603, {650, 700}, 5000, 7000},
        {"start stops at the end", 1, 500, {700, 900}, 6000, 6000},
        {"end stops at the start", 0, 400, {300, 100}, 2000, 2000},
        {"start of a cue without an end", 2, 800, {750}, 7500, kNoEnd},
        {"start stops at zero", 0, 200, {-50}, 0, 4000},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CueValue before = d.Cue(c.row);
        const int steps = d.History()->index();
        Press(&view, c.from);
        ASSERT_TRUE(view.Dragging());
        for (double x : c.moves) DragTo(&view, x);
        // Shown live, not yet written.
        EXPECT_EQ(before, d.Cue(c.row));
        EXPECT_EQ(steps, d.History()->index());
        Release(&view, c.moves.back());
        EXPECT_FALSE(view.Dragging());
        EXPECT_EQ(c.start, d.Start(c.row));
        EXPECT_EQ(c.end, d.End(c.row));
        EXPECT_EQ(steps + 1, d.History()->index());
        ASSERT_TRUE(d.Undo());
        EXPECT_EQ(before, d.Cue(c.row));
    }
}

TEST_F(WaveformViewTest, AnEdgeDraggedBackWhereItWasLeavesNoStep) {
    Press(&view, 400);
    DragTo(&view, 470);
    DragTo(&view, 400);
    Release(&view, 400);
    EXPECT_EQ(0, d.History()->index());
    EXPECT_EQ(4000, d.End(0));
}

TEST_F(WaveformViewTest, AClickSeeksAndAnEdgeGrabDoesNot) {
    QSignalSpy seeks(&view, &WaveformView::SeekRequested);
    Click(&view, 700);  // between cues
    Click(&view, 300);  // inside a box, away from its edges
    Press(&view, 400);  // on an edge: a drag, no seek
    Release(&view, 400);
    ASSERT_EQ(2, seeks.count());
    EXPECT_EQ(7000, seeks.at(0).at(0).toLongLong());
    EXPECT_EQ(3000, seeks.at(1).at(0).toLongLong());
    // Scrolled and zoomed, the time comes from the visible range.
    view.SetVisibleRange(60000, 2000);
    Click(&view, 250);
    ASSERT_EQ(3, seeks.count());
    EXPECT_EQ(60500, seeks.at(2).at(0).toLongLong());
}

TEST_F(WaveformViewTest, CtrlWheelZoomsAroundThePointerAndTheWheelScrolls) {
    view.SetVisibleRange(20000, 10000);
    struct Step {
        double x;
        int delta;
    };
    const Step steps[] = {{250, 120}, {250, 120}, {900, -240}, {10, 360}, {640, -120}};
    for (const Step& s : steps) {
        const int64_t under = view.TimeAt(s.x);
        const int64_t span = view.ViewSpan();
        Wheel(&view, s.x, s.delta, Qt::ControlModifier);
        if (s.delta > 0) EXPECT_LT(view.ViewSpan(), span);
        else EXPECT_GT(view.ViewSpan(), span);
        EXPECT_NEAR(static_cast<double>(under), static_cast<double>(view.TimeAt(s.x)),
                    static_cast<double>(view.ViewSpan()) / view.width() + 1);
    }
    // The plain wheel moves the range, keeping its length; never before 0,
    // and the last cue (the lyric ends at 11 s) no further than the middle.
    view.SetVisibleRange(2000, 8000);
    Wheel(&view, 500, -120, Qt::NoModifier);
    EXPECT_EQ(3000, view.ViewStart());
    EXPECT_EQ(8000, view.ViewSpan());
    Wheel(&view, 500, -120 * 40, Qt::NoModifier);
    EXPECT_EQ(11000 - 4000, view.ViewStart());
    Wheel(&view, 500, 120 * 40, Qt::NoModifier);
    EXPECT_EQ(0, view.ViewStart());
    // Zooming stops at its bounds.
    for (int i = 0; i < 60; ++i) Wheel(&view, 500, 120, Qt::ControlModifier);
    EXPECT_EQ(WaveformView::kMinSpanMs, view.ViewSpan());
    for (int i = 0; i < 200; ++i) Wheel(&view, 500, -120, Qt::ControlModifier);
    EXPECT_EQ(WaveformView::kMaxSpanMs, view.ViewSpan());
}

TEST_F(WaveformViewTest, WhilePlayingTheViewFollowsThePlayhead) {
    view.SetVisibleRange(0, 10000);
    view.SetPlayhead(5000, true);
    EXPECT_EQ(0, view.ViewStart());  // in sight: nothing moves
    view.SetPlayhead(9500, true);
    EXPECT_LE(view.ViewStart(), 9500);
    EXPECT_GT(view.ViewStart() + view.ViewSpan(), 9500 + 5000);  // room ahead
    view.SetPlayhead(300000, true);  // a seek far away
    EXPECT_LE(view.ViewStart(), 300000);
    EXPECT_GT(view.ViewStart() + view.ViewSpan(), 300000);
    // Paused, the user may look elsewhere.
    view.SetVisibleRange(0, 10000);
    view.SetPlayhead(300000, false);
    EXPECT_EQ(0, view.ViewStart());
}

TEST_F(WaveformViewTest, TheDocumentsEditsAreFollowedAtOnce) {
    // An edit elsewhere moves the first cue's end: its edge is found there.
    ASSERT_TRUE(d.SetEnd(0, 4500));
    Press(&view, 450);
    ASSERT_TRUE(view.Dragging());
    DragTo(&view, 460);
    Release(&view, 460);
    EXPECT_EQ(4600, d.End(0));
    // Rows inserted ahead shift every row number; the drag takes the right cue.
    d.Insert(0, {{100, 900, "new"}}, QStringLiteral("insert"));
    Press(&view, 500);  // "second" starts at 5000 ms, now row 2
    DragTo(&view, 550);
    Release(&view, 550);
    EXPECT_EQ(5500, d.Start(2));
    EXPECT_EQ(100, d.Start(0));
    // A cue removed away from the view: its edge is gone.
    ASSERT_TRUE(d.Remove({0}, QStringLiteral("remove")));
    QSignalSpy seeks(&view, &WaveformView::SeekRequested);
    Press(&view, 90);
    Release(&view, 90);
    EXPECT_EQ(1, seeks.count());
}

TEST_F(WaveformViewTest, ACueMovedInTimeIsFoundWhereItWent) {
    auto grabs = [this](double x) {
        Press(&view, x);
        const bool dragging = view.Dragging();
        Release(&view, x);
        return dragging;
    };
    ASSERT_TRUE(grabs(200));
    // "first" jumps past "second" and "lyric", then becomes a long cue, then
    // comes back with undo; each time its old edges are gone, new ones found.
    ASSERT_TRUE(d.SetTimes({{0, 9000, 9300}}, QStringLiteral("move")));
    EXPECT_FALSE(grabs(200));
    EXPECT_TRUE(grabs(930));
    EXPECT_TRUE(grabs(500));  // "second" is still where it was
    ASSERT_TRUE(d.SetEnd(0, 200'000));
    EXPECT_TRUE(grabs(900));
    view.SetVisibleRange(195'000, 10'000);
    EXPECT_TRUE(grabs(500));  // its end at 200 s
    view.SetVisibleRange(0, 10'000);
    ASSERT_TRUE(d.Undo());
    ASSERT_TRUE(d.Undo());
    EXPECT_TRUE(grabs(200));
    EXPECT_TRUE(grabs(400));
    EXPECT_FALSE(grabs(930));
    EXPECT_EQ(0, d.History()->index());
}

TEST_F(WaveformViewTest, RowsInsertedAndRemovedKeepEveryCueFindable) {
    auto grabbedRow = [this](double x) {
        const int before = d.History()->index();
        std::vector<CueValue> cues;
        for (int r = 0; r < d.Count(); ++r) cues.push_back(d.Cue(r));
        Press(&view, x);
        if (!view.Dragging()) return -1;
        DragTo(&view, x + 1);
        Release(&view, x + 1);
        // The row whose time moved tells which cue was grabbed.
        int row = -1;
        for (int r = 0; r < d.Count(); ++r)
            if (!(d.Cue(r) == cues[static_cast<std::size_t>(r)])) row = r;
        d.Undo();
        EXPECT_EQ(before, d.History()->index());
        return row;
    };
    // Out of time order, between "first" and "second".
    d.Insert(1, {{9300, 9600, "b"}, {1000, 1200, "a"}, {4500, 4700, "c"}}, QStringLiteral("insert"));
    // Rows: first 0, b 1, a 2, c 3, second 4, lyric 5.
    struct Case {
        double x;
        int row;
    };
    for (const Case c : {Case{100, 2}, Case{960, 1}, Case{450, 3}, Case{500, 4}, Case{200, 0}, Case{800, 5}})
        EXPECT_EQ(c.row, grabbedRow(c.x)) << c.x;
    ASSERT_TRUE(d.Remove({0, 3}, QStringLiteral("remove")));
    // Rows: b 0, a 1, second 2, lyric 3.
    for (const Case c : {Case{100, 1}, Case{960, 0}, Case{500, 2}, Case{800, 3}, Case{200, -1}, Case{450, -1}})
        EXPECT_EQ(c.row, grabbedRow(c.x)) << c.x;
}

TEST_F(WaveformViewTest, ADragEndsWhenItsRowGoesAway) {
    Press(&view, 400);
    DragTo(&view, 500);
    ASSERT_TRUE(view.Dragging());
    const int steps = d.History()->index();
    ASSERT_TRUE(d.Remove({0}, QStringLiteral("remove")));
    EXPECT_FALSE(view.Dragging());
    Release(&view, 500);
    // Nothing written to the row that took its place.
    EXPECT_EQ(steps + 1, d.History()->index());
    EXPECT_EQ(5000, d.Start(0));
    EXPECT_EQ(6000, d.End(0));
}

TEST_F(WaveformViewTest, CuesOutOfTimeOrderAreFoundByTime) {
    SubtitleDocument mixed;
    mixed.BeginLoad();
    mixed.AppendLoaded(9000, 9500, "late");
    mixed.AppendLoaded(1000, 1500, "early");
    mixed.AppendLoaded(0, 90'000, "a long one");
    mixed.AppendLoaded(5000, 5200, "middle");
    mixed.EndLoad();
    view.SetDocument(&mixed);
    struct Case {
        double x;
        int row;
        int64_t start, end;
    };
    const Case cases[] = {{150, 1, 1000, 1600}, {950, 0, 9000, 9600}, {500, 3, 4900, 5200}};
    for (const Case& c : cases) {
        Press(&view, c.x);
        ASSERT_TRUE(view.Dragging()) << c.x;
        DragTo(&view, c.x + (c.start < mixed.Start(c.row) ? -10 : 10));
        Release(&view, c.x + (c.start < mixed.Start(c.row) ? -10 : 10));
        EXPECT_EQ(c.start, mixed.Start(c.row)) << c.x;
        EXPECT_EQ(c.end, mixed.End(c.row)) << c.x;
    }
    // The long cue's end is far out of sight, yet found when scrolled to.
    view.SetVisibleRange(85000, 10000);
    Press(&view, 500);
    EXPECT_TRUE(view.Dragging());
    Release(&view, 500);
    view.SetDocument(nullptr);
}

TEST_F(WaveformViewTest, PaintsPartialPeaksAtAnySize) {
    auto peaks = std::make_shared<media::WaveformPeaks>(QStringLiteral("tone"));
    peaks->SetDuration(10000);
    // The first half is loud, the rest not decoded yet.
    const std::vector<media::Peak> loud(500, media::Peak{-30000, 30000});
    peaks->Append(loud.data(), loud.size());
    view.SetPeaks(peaks);
    view.SetDocument(nullptr);

    for (const QSize size : {QSize(1000, 120), QSize(1000, 1), QSize(1, 1), QSize(300, 8), QSize(1000, 900)}) {
        SCOPED_TRACE(size.height());
        const QImage image = Paint(size);
        ASSERT_EQ(size, image.size());
    }
    const QImage image = Paint(QSize(1000, 120));
    // A column of the decoded half reaches near the top; one past it stays
    // on the middle line.
    auto lit = [&](int x) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y) n += qGreen(image.pixel(x, y)) > 150 ? 1 : 0;
        return n;
    };
    EXPECT_GT(lit(200), 100);
    EXPECT_LT(lit(700), 3);
    EXPECT_FALSE(peaks->StatusText().isEmpty());  // the note is shown from it
}

TEST_F(WaveformViewTest, CuesShowingTogetherWriteTheirTextsOnLinesOfTheirOwn) {
    // Bands of rows holding text pixels inside the boxes' common stretch.
    const auto textBands = [&](const QImage& image) {
        int bands = 0;
        bool inBand = false;
        for (int y = 0; y < image.height(); ++y) {
            bool lit = false;
            for (int x = 510; x < 590 && !lit; ++x) {
                const QRgb p = image.pixel(x, y);
                lit = qRed(p) > 150 && qGreen(p) > 150 && qBlue(p) > 150;
            }
            bands += lit && !inBand ? 1 : 0;
            inBand = lit;
        }
        return bands;
    };
    const struct {
        const char* name;
        std::vector<CueValue> cues;
        int height;
        int bands;
    } cases[] = {
        {"three at once", {{5000, 6000, "WWWWWWWW"}, {5000, 6000, "MMMMMMMM"}, {5000, 6000, "HHHHHHHH"}}, 120, 3},
        {"one after another share a line", {{5000, 5500, "WWWW"}, {5500, 6000, "MMMM"}}, 120, 1},
        {"a view too low for more", {{5000, 6000, "WWWWWWWW"}, {5000, 6000, "MMMMMMMM"}}, 30, 1},
    };
    for (const auto& c : cases) {
        SubtitleDocument together;
        together.BeginLoad();
        for (const CueValue& cue : c.cues) together.AppendLoaded(cue.start, cue.end, cue.text);
        together.EndLoad();
        view.SetDocument(&together);
        view.SetVisibleRange(0, 10000);
        EXPECT_EQ(c.bands, textBands(Paint(QSize(1000, c.height)))) << c.name;
        view.SetDocument(nullptr);
    }
}

TEST_F(WaveformViewTest, ManyCuesInSightAreDrawnAsCoverageAndGrabNothing) {
    SubtitleDocument dense;
    dense.BeginLoad();
    for (int i = 0; i < 200000; ++i) dense.AppendLoaded(int64_t{i} * 50, int64_t{i} * 50 + 40, "x");
    dense.EndLoad();
    view.SetDocument(&dense);
    view.SetVisibleRange(0, 3'600'000);
    const QImage image = Paint(QSize(1000, 120));
    EXPECT_EQ(QSize(1000, 120), image.size());
    QSignalSpy seeks(&view, &WaveformView::SeekRequested);
    Press(&view, 100);
    EXPECT_FALSE(view.Dragging());
    Release(&view, 100);
    EXPECT_EQ(1, seeks.count());
    // Zoomed in, the same cues have edges again.
    view.SetVisibleRange(0, 1000);
    Press(&view, 400);  // cue 8 starts at 400 ms; cue 7 ends at 390
    EXPECT_TRUE(view.Dragging());
    Release(&view, 400);
    view.SetDocument(nullptr);
}

}  // namespace
}  // namespace lumeval
#endif
