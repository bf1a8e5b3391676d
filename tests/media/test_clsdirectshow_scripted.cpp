// clsDirectShow over the scripted service: the state machine, the limits,
// the end of the medium, the open's success rule and the picture rules,
// without any media.
#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>
#include <tuple>
#include <vector>

#include "media/clsdirectshow.h"
#include "media/scriptedplaybackservice.h"
#include "status_event.h"

using lumeval::clsDirectShow;
using lumeval::FitPicture;
using lumeval::PicturePlacement;
using lumeval::media::PlaybackOp;
using lumeval::media::ScriptedMedia;
using lumeval::media::ScriptedPlaybackService;

namespace {

class ScriptedPlayback : public ::testing::Test {
  protected:
    void SetUp() override {
        ds.PlayStatus = [this](double& position, double& duration, qint32& status) {
            events.push_back({position, duration, status});
        };
        ds.PlayRect = [this](qint32& left, qint32& top, qint32& width, qint32& height) {
            rects.push_back({left, top, width, height});
        };
    }
    bool Open(qint32 width = 400, qint32 height = 400) {
        return ds.DS_OpenFile(QStringLiteral("movie.avi"), 0, 0, width, height, &target, true, true)
            .toBool();
    }
    void Tick() { ds.RoutedCallback(clsDirectShow::kTimerMethod, {}); }
    std::vector<qint32> Statuses() const {
        std::vector<qint32> out;
        for (const auto& e : events) out.push_back(e.status);
        return out;
    }

    // Declared before the player: its end raises events into them.
    std::shared_ptr<ScriptedMedia> media = std::make_shared<ScriptedMedia>();
    QWidget target;
    std::vector<StatusEvent> events;
    std::vector<PicturePlacement> rects;
    clsDirectShow ds{ScriptedPlaybackService::Factory(media)};
};

TEST_F(ScriptedPlayback, StartsEmpty) {
    EXPECT_EQ(0, ds.Status());
    EXPECT_EQ(300, ds.TimerElapse());
    EXPECT_FALSE(ds.Repeat());
    EXPECT_EQ(0, ds.Aspect());
    EXPECT_EQ(0.0, ds.Position());
    EXPECT_EQ(0.0, ds.Duration());
    EXPECT_EQ(0.0, ds.DS_GetRate());
    EXPECT_EQ(0, ds.DS_GetVolume());
    EXPECT_FALSE(ds.DS_StillPlaying(0));
}

TEST_F(ScriptedPlayback, EmptyNameReturnsEmptyAndLeavesThePlayingFilePlaying) {
    ASSERT_TRUE(Open());
    ds.DS_Play();
    const int graphs = media->graphsCreated;
    events.clear();
    const QVariant result = ds.DS_OpenFile(QString(), 0, 0, 10, 10, &target, true, true);
    EXPECT_FALSE(result.isValid());
    EXPECT_EQ(1, ds.Status());
    EXPECT_EQ(QStringLiteral("movie.avi"), ds.FileName());
    EXPECT_EQ(graphs, media->graphsCreated);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(ds.StatusTimerRunning());
}

TEST_F(ScriptedPlayback, OpenRaisesRemoveThenOpenedAndSetsUpTheGraph) {
    ASSERT_TRUE(Open());
    EXPECT_EQ((std::vector<qint32>{0, 3}), Statuses());
    EXPECT_EQ(60.0, events.back().duration);
    EXPECT_EQ(3, ds.Status());
    EXPECT_FLOAT_EQ(25.0f, ds.FrameRate());
    EXPECT_EQ(640, ds.VideoWidth());
    EXPECT_EQ(480, ds.VideoHeight());
    EXPECT_EQ(0x06000000, media->style);
    EXPECT_EQ(&target, media->owner);
    EXPECT_EQ(&target, media->drain);
    EXPECT_EQ(1.0, media->rate);
    EXPECT_EQ(QStringList{QStringLiteral("PutVolume(0)")}, media->CallsOf(PlaybackOp::PutVolume));
    EXPECT_EQ(QStringList{QStringLiteral("PutBalance(0)")}, media->CallsOf(PlaybackOp::PutBalance));

    // A second open releases the first graph, raising 4 and 0 for it.
    events.clear();
    ds.DS_Play();
    ASSERT_TRUE(Open());
    EXPECT_EQ((std::vector<qint32>{4, 0, 3}), Statuses());
    EXPECT_EQ(1, media->graphsAlive);
}

TEST_F(ScriptedPlayback, ClampsRateVolumeAndBalanceInTheCallersVariable) {
    ASSERT_TRUE(Open());
    struct RateCase {
        double in, out;
    };
    for (const RateCase c : {RateCase{0, 0.1}, {-1, 0.1}, {0.5, 0.5}, {2, 2}}) {
        double rate = c.in;
        ds.DS_SetRate(rate);
        EXPECT_EQ(c.out, rate) << c.in;
        EXPECT_EQ(c.out, ds.DS_GetRate()) << c.in;
    }
    struct IntCase {
        qint32 in, out;
    };
    for (const IntCase c : {IntCase{500, 0}, {-20000, -10000}, {-300, -300}, {0, 0}}) {
        qint32 volume = c.in;
        ds.DS_SetVolume(volume);
        EXPECT_EQ(c.out, volume) << c.in;
        EXPECT_EQ(c.out, ds.DS_GetVolume()) << c.in;
    }
    for (const IntCase c : {IntCase{-20000, -10000}, {20000, 10000}, {-5, -5}}) {
        qint32 balance = c.in;
        ds.DS_SetBalance(balance);
        EXPECT_EQ(c.out, balance) << c.in;
        EXPECT_EQ(c.out, ds.DS_GetBalance()) << c.in;
    }
    // Without a graph the caller's variable is still limited.
    ds.DS_Remove(false);
    double rate = -3;
    ds.DS_SetRate(rate);
    EXPECT_EQ(0.1, rate);
    EXPECT_EQ(0.0, ds.DS_GetRate());
}

TEST_F(ScriptedPlayback, SeeksStayWithinTheMedium) {
    ASSERT_TRUE(Open());
    ds.Position(1e9);
    EXPECT_EQ(60.0, ds.Position());
    ds.Position(3);
    ds.DS_Seek(-5);
    EXPECT_EQ(0.0, ds.Position());
    ds.DS_Seek(12.5);
    EXPECT_EQ(12.5, ds.Position());
    ds.DS_Seek(100);
    EXPECT_EQ(60.0, ds.Position());
    ds.Position(-1);
    EXPECT_EQ(0.0, ds.Position());
}

TEST_F(ScriptedPlayback, SeekingAMediumOfUnknownLengthHasNoUpperLimit) {
    media->duration = 0;
    ASSERT_TRUE(Open());
    ds.Position(42);
    EXPECT_EQ(42.0, ds.Position());
    ds.DS_Seek(-50);
    EXPECT_EQ(0.0, ds.Position());
}

TEST_F(ScriptedPlayback, NothingHappensWhileNothingIsOpen) {
    media->calls.clear();
    ds.DS_Play();
    ds.DS_Pause();
    ds.Pause(true);
    ds.Pause(false);
    ds.DS_Stop(true);
    ds.DS_Seek(5);
    ds.Position(5);
    ds.DS_StretchMovie();
    ds.DS_ChangeTarget(0, 0, 10, 10, &target);
    EXPECT_EQ(0, ds.Status());
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(rects.empty());
    EXPECT_TRUE(media->calls.isEmpty());
    EXPECT_FALSE(ds.StatusTimerRunning());
}

TEST_F(ScriptedPlayback, PlayPauseAndStopMoveTheStateAndTheTimer) {
    ASSERT_TRUE(Open());
    ds.DS_Play();
    EXPECT_EQ(1, ds.Status());
    EXPECT_EQ(ScriptedMedia::State::Running, media->state);
    EXPECT_TRUE(ds.StatusTimerRunning());
    ds.Pause(true);
    EXPECT_TRUE(ds.Pause());
    EXPECT_EQ(2, ds.Status());
    EXPECT_FALSE(ds.StatusTimerRunning());
    EXPECT_EQ(ScriptedMedia::State::Paused, media->state);
    ds.Pause(false);
    EXPECT_EQ(1, ds.Status());
    media->position = 7;
    events.clear();
    ds.DS_Stop(true);
    EXPECT_EQ(4, ds.Status());
    EXPECT_TRUE(ds.FileName().isEmpty());
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(7.0, events[0].position);  // reported before the rewind
    EXPECT_EQ(4, events[0].status);
    EXPECT_EQ(0.0, media->position);
    EXPECT_FALSE(ds.StatusTimerRunning());
    // A stopped medium still plays.
    ds.DS_Play();
    EXPECT_EQ(1, ds.Status());
}

TEST_F(ScriptedPlayback, TicksReportOnlyWhilePlaying) {
    ASSERT_TRUE(Open());
    events.clear();
    Tick();  // opened, not playing
    EXPECT_TRUE(events.empty());
    ds.DS_Play();
    media->position = 10;
    Tick();
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(10.0, events[0].position);
    EXPECT_EQ(60.0, events[0].duration);
    EXPECT_EQ(1, events[0].status);
    ds.DS_Pause();
    Tick();
    EXPECT_EQ(1u, events.size());
}

TEST_F(ScriptedPlayback, PlayingToTheEndWithoutRepeatEndsThePreview) {
    ASSERT_TRUE(Open());
    ds.DS_Play();
    events.clear();
    media->position = 60;
    Tick();
    EXPECT_EQ((std::vector<qint32>{1, 4, 0}), Statuses());
    EXPECT_EQ(0, ds.Status());
    EXPECT_TRUE(ds.FileName().isEmpty());
    EXPECT_EQ(nullptr, ds.Service());
    EXPECT_EQ(0, media->graphsAlive);
    EXPECT_FALSE(ds.StatusTimerRunning());
}

TEST_F(ScriptedPlayback, PlayingToTheEndWithRepeatStartsAgain) {
    ds.Repeat(true);
    ASSERT_TRUE(Open());
    ds.DS_Play();
    events.clear();
    media->position = 60.5;  // beyond counts as well
    Tick();
    EXPECT_EQ((std::vector<qint32>{1}), Statuses());
    EXPECT_EQ(1, ds.Status());
    EXPECT_EQ(0.0, media->position);
    EXPECT_TRUE(ds.StatusTimerRunning());
}

TEST_F(ScriptedPlayback, UnknownLengthEndsAtTheBackendsEndNotAtTheFirstTick) {
    media->duration = 0;
    ASSERT_TRUE(Open());
    ds.DS_Play();
    events.clear();
    for (double at : {0.0, 0.3, 0.6}) {
        media->position = at;
        Tick();
    }
    EXPECT_EQ((std::vector<qint32>{1, 1, 1}), Statuses());
    EXPECT_EQ(1, ds.Status());
    media->EndOfMedia();
    Tick();
    EXPECT_EQ((std::vector<qint32>{1, 1, 1, 1, 4, 0}), Statuses());
    EXPECT_EQ(0, ds.Status());
}

TEST_F(ScriptedPlayback, UnknownLengthOnRepeatStartsAgainAtTheBackendsEnd) {
    media->duration = 0;
    ds.Repeat(true);
    ASSERT_TRUE(Open());
    ds.DS_Play();
    media->position = 5;
    media->EndOfMedia();
    Tick();
    EXPECT_EQ(1, ds.Status());
    EXPECT_EQ(0.0, media->position);
    EXPECT_FALSE(media->ended);
}

TEST_F(ScriptedPlayback, AMediumThatStopsShortOfItsLengthStillEnds) {
    ASSERT_TRUE(Open());
    ds.DS_Play();
    media->position = 59.2;
    media->EndOfMedia();
    Tick();
    EXPECT_EQ(0, ds.Status());
}

TEST_F(ScriptedPlayback, PlayAtTheEndStartsFromTheBeginning) {
    struct Case {
        double position;
        double expectedAfterPlay;
    };
    // The same whole second as the duration (half to even) is the end.
    for (const Case c : {Case{59.6, 0.0}, {60.0, 0.0}, {59.4, 59.4}, {58.0, 58.0}}) {
        ASSERT_TRUE(Open());
        media->position = c.position;
        ds.DS_Play();
        EXPECT_EQ(c.expectedAfterPlay, media->position) << c.position;
        EXPECT_EQ(1, ds.Status());
    }
}

TEST_F(ScriptedPlayback, ATickHandlerThatClosesThePreviewEndsTheTick) {
    ASSERT_TRUE(Open());
    ds.DS_Play();
    ds.PlayStatus = [this](double&, double&, qint32& status) {
        if (status == 1) ds.DS_Remove(false);
    };
    media->position = 60;
    Tick();
    EXPECT_EQ(0, ds.Status());
    EXPECT_EQ(0, media->graphsAlive);
}

TEST_F(ScriptedPlayback, TheRealTimerTicksThroughTheRoutedCallback) {
    ds.TimerElapse(5);
    media->advancePerRead = 1.0;
    media->duration = 4;
    ASSERT_TRUE(Open());
    ds.DS_Play();
    ASSERT_TRUE(QTest::qWaitFor([this]() { return ds.Status() == 0; }, 5000));
    const auto statuses = Statuses();
    ASSERT_GE(statuses.size(), 4u);
    EXPECT_EQ(1, statuses[statuses.size() - 3]);
    EXPECT_EQ(4, statuses[statuses.size() - 2]);
    EXPECT_EQ(0, statuses.back());
}

TEST_F(ScriptedPlayback, StillPlayingAsksTheGraphWithABoundedWait) {
    ASSERT_TRUE(Open());
    ds.DS_Play();
    EXPECT_TRUE(ds.DS_StillPlaying(100));
    EXPECT_TRUE(ds.DS_StillPlaying(-1));  // "for ever" is not waited for
    EXPECT_EQ((QStringList{QStringLiteral("WaitForCompletion(100)"),
                           QStringLiteral("WaitForCompletion(0)")}),
              media->CallsOf(PlaybackOp::WaitForCompletion));
    media->EndOfMedia();
    EXPECT_FALSE(ds.DS_StillPlaying(100));
    media->failing.insert(PlaybackOp::WaitForCompletion);
    EXPECT_TRUE(ds.DS_StillPlaying(100));  // a failed wait counts as still playing
}

// ---------------------------------------------------------------------------
// The open's success rule

TEST_F(ScriptedPlayback, EachFailingOpenStepIsAbsorbedAndTheOpenGoesOn) {
    struct Case {
        PlaybackOp op;
        bool opened;
    };
    const Case cases[] = {
        {PlaybackOp::Create, false},  // no graph: nothing could ever play
        {PlaybackOp::RenderFile, false},  // empty graph: no length, no picture
        {PlaybackOp::PutVolume, true},      {PlaybackOp::PutBalance, true},
        {PlaybackOp::GetNativeVideoSize, true}, {PlaybackOp::PutWindowStyle, true},
        {PlaybackOp::PutOwner, true},       {PlaybackOp::PutMessageDrain, true},
        {PlaybackOp::GetAvgTimePerFrame, true}, {PlaybackOp::SetWindowPosition, true},
        {PlaybackOp::PutRate, true},        {PlaybackOp::GetDuration, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(lumeval::media::PlaybackOpName(c.op).toStdString());
        media->failing = {c.op};
        media->calls.clear();
        rects.clear();
        const QVariant result = Open();
        EXPECT_EQ(c.opened, result.toBool());
        EXPECT_EQ(c.opened ? 3 : 0, ds.Status());
        if (c.op == PlaybackOp::Create) continue;
        // Every later step still ran.
        EXPECT_EQ(1, media->CallsOf(PlaybackOp::PutRate).size());
        EXPECT_EQ(1, media->CallsOf(PlaybackOp::PutMessageDrain).size());
        EXPECT_FALSE(media->CallsOf(PlaybackOp::GetDuration).isEmpty());
        const bool noFrameTime =
            c.op == PlaybackOp::GetAvgTimePerFrame || c.op == PlaybackOp::RenderFile;
        EXPECT_EQ(noFrameTime ? 0.0f : 25.0f, ds.FrameRate());
        // The picture is placed (and reported) whenever its size was read.
        const bool sized = c.op != PlaybackOp::GetNativeVideoSize && c.op != PlaybackOp::RenderFile;
        EXPECT_EQ(sized ? 1u : 0u, rects.size());
    }
}

TEST_F(ScriptedPlayback, OpenSucceedsUnlessTheMediumHasNeitherLengthNorPicture) {
    struct Case {
        const char* name;
        double duration;
        bool hasVideo;
        qint32 width, height;
        bool opened;
    };
    const Case cases[] = {
        {"video", 60, true, 640, 480, true},
        {"video of unknown length", 0, true, 640, 480, true},
        {"audio only", 120, false, 0, 0, true},
        {"audio only of unknown length", 0, false, 0, 0, true},  // size reads fail
        {"no length, no picture", 0, true, 0, 0, false},
        {"length, picture without size", 10, true, 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        media->duration = c.duration;
        media->hasVideo = c.hasVideo;
        media->videoWidth = c.width;
        media->videoHeight = c.height;
        events.clear();
        EXPECT_EQ(c.opened, Open());
        EXPECT_EQ(c.opened ? 3 : 0, ds.Status());
        // The opened event comes only with success.
        EXPECT_EQ(c.opened, !events.empty() && events.back().status == 3);
    }
}

TEST_F(ScriptedPlayback, AudioOnlyPlacesNoPicture) {
    media->hasVideo = false;
    ASSERT_TRUE(Open());
    EXPECT_TRUE(rects.empty());
    EXPECT_EQ(0.0f, ds.FrameRate());
    ds.DS_CorrectAspect();
    EXPECT_TRUE(rects.empty());
    EXPECT_TRUE(media->CallsOf(PlaybackOp::SetWindowPosition).isEmpty());
}

// ---------------------------------------------------------------------------
// The picture

TEST(FitPictureRules, ExamplesOfEachRule) {
    struct Case {
        const char* name;
        qint32 aspect, vw, vh, tl, tt, tw, th;
        PicturePlacement expected;
    };
    const Case cases[] = {
        {"fit, wider video", 0, 640, 480, 0, 0, 400, 400, {0, 50, 400, 300}},
        {"fit, taller video", 0, 480, 640, 0, 0, 400, 400, {50, 0, 300, 400}},
        {"fit, same shape, offset", 0, 64, 48, 10, 20, 320, 240, {10, 20, 320, 240}},
        {"stretch", 1, 640, 480, 5, 6, 400, 400, {5, 6, 400, 400}},
        {"native fits", 2, 640, 480, 0, 0, 800, 600, {80, 60, 640, 480}},
        {"native too big: fitted", 2, 640, 480, 0, 0, 400, 400, {0, 50, 400, 300}},
        {"half-way", 3, 400, 400, 0, 0, 800, 400, {100, 0, 600, 400}},
        {"half-way, same size", 3, 400, 300, 0, 0, 400, 300, {0, 0, 400, 300}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto placed = FitPicture(c.aspect, c.vw, c.vh, c.tl, c.tt, c.tw, c.th);
        ASSERT_TRUE(placed.has_value());
        EXPECT_EQ(c.expected, *placed);
    }
}

TEST(FitPictureRules, NothingForOtherRulesOrAPictureWithoutSize) {
    EXPECT_FALSE(FitPicture(4, 640, 480, 0, 0, 400, 400).has_value());
    EXPECT_FALSE(FitPicture(-1, 640, 480, 0, 0, 400, 400).has_value());
    EXPECT_FALSE(FitPicture(0, 0, 0, 0, 0, 400, 400).has_value());
    // A target without size gives no NaN or overflow, only small numbers.
    for (qint32 aspect = 0; aspect < 4; ++aspect) {
        const auto placed = FitPicture(aspect, 640, 480, 0, 0, 0, 0);
        ASSERT_TRUE(placed.has_value());
        EXPECT_LE(std::abs(placed->Width), 1);
        EXPECT_LE(std::abs(placed->Height), 1);
    }
}

TEST_F(ScriptedPlayback, EachAspectRulePlacesThePictureAndReportsIt) {
    ASSERT_TRUE(Open(400, 400));
    struct Case {
        qint32 aspect;
        qint32 tw, th;
        PicturePlacement expected;
    };
    for (const Case c : {Case{0, 400, 400, {0, 50, 400, 300}}, {1, 400, 400, {0, 0, 400, 400}},
                         {2, 800, 600, {80, 60, 640, 480}}, {3, 800, 400, {67, 0, 666, 400}}}) {
        ds.Aspect(c.aspect);
        rects.clear();
        media->calls.clear();
        ds.DS_ChangeTarget(0, 0, c.tw, c.th, &target);
        ASSERT_EQ(1u, rects.size()) << c.aspect;
        EXPECT_EQ(c.expected, rects[0]) << c.aspect;
        EXPECT_EQ(QStringList{QStringLiteral("SetWindowPosition(%1,%2,%3,%4)")
                                  .arg(c.expected.Left)
                                  .arg(c.expected.Top)
                                  .arg(c.expected.Width)
                                  .arg(c.expected.Height)},
                  media->CallsOf(PlaybackOp::SetWindowPosition))
            << c.aspect;
    }
    ds.Aspect(4);
    rects.clear();
    media->calls.clear();
    ds.DS_CorrectAspect();
    EXPECT_TRUE(rects.empty());
    EXPECT_TRUE(media->CallsOf(PlaybackOp::SetWindowPosition).isEmpty());
}

TEST_F(ScriptedPlayback, ChangeTargetMovesThePictureToAnotherWindow) {
    ASSERT_TRUE(Open());
    QWidget other;
    media->calls.clear();
    ds.DS_ChangeTarget(0, 0, 200, 100, &other);
    EXPECT_EQ(&other, media->owner);
    EXPECT_EQ(&other, media->drain);
    EXPECT_EQ(1, media->CallsOf(PlaybackOp::PutWindowStyle).size());
    ds.DS_StretchMovie();
    EXPECT_EQ(QStringLiteral("SetWindowPosition(0,0,200,100)"),
              media->CallsOf(PlaybackOp::SetWindowPosition).last());
}

}  // namespace
