// Mouse gestures: tokens, the five-sample summary, the code table, and the
// gesture drawn with the mouse on a routed window.
#include <gtest/gtest.h>

#include <QTest>

#include "controls/clscontrols.h"
#include "test_clscontrols_util.h"

namespace lumeval {
namespace {

using testing::ProbeWidget;
using testing::SendMouse;

TEST(ClsControlsGestures, Tokens) {
    struct Case {
        int dx, dy;
        const char* token;
    };
    const Case cases[] = {
        {9, 9, ""},     {-9, -9, ""},    {12, 4, "RD"},  {12, -4, "RU"}, {2, -12, "0U"},
        {2, 12, "0D"},  {3, 10, "0D"},   {10, 0, "R0"},  {10, 3, "R0"},  {-10, 3, "L0"},
        {-12, 5, "LD"}, {-12, -5, "LU"}, {0, -10, "0U"}, {4, -10, "RU"}, {-4, 10, "LD"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GestureRecognizer::Token(c.dx, c.dy), QString::fromLatin1(c.token))
            << c.dx << "," << c.dy;
    }
}

TEST(ClsControlsGestures, SummaryTakesFiveSamples) {
    const auto tokens = [](const char* text) {
        return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    };
    struct Case {
        const char* tokens;
        const char* summary;
    };
    const Case cases[] = {
        {"", ""},
        {"LU", "LULULU"},                                 // positions 1, 1 and 1
        {"RD RD RU RU", "RDRDRDRURU"},                    // n 4, k 1
        {"R0 R0 R0 R0 R0 R0", "R0R0R0R0R0"},              // n 6, k 2: 1, 2, 4, 6, 6
        {"R0 0U L0 0D R0", "R00U0DR0"},                   // n 5, k 2: 1, 2, 4 and 5; 6 is beyond n
        {"a1 a2 a3 a4 a5 a6 a7 a8 a9 b0", "a1a3a6a9b0"},  // n 10, k 3: 1, 3, 6, 9, 10
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GestureRecognizer::Summary(tokens(c.tokens)), QString::fromLatin1(c.summary))
            << c.tokens;
    }
}

TEST(ClsControlsGestures, CodeTable) {
    struct Case {
        const char* summary;
        int code;
    };
    const Case cases[] = {
        {"LDLDRDRD", 10}, {"RDRDLD", 10},    {"RDRDRDRURU", 9}, {"0DRDR0RU0U", 9},
        {"R00UL00D", 11}, {"R0R0R0R0R0", 2}, {"L0L0L0L0L0", 1}, {"0U0U0U", 3},
        {"0D0D0D0D", 4},  {"LULULU", 5},     {"LDLDLD", 6},     {"RURURURU", 7},
        {"RDRDRD", 8},    {"R0L0R0", 0},     {"", 0},           {"RDRDRDRDRD", 8},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GestureRecognizer::CodeOf(QString::fromLatin1(c.summary)), c.code) << c.summary;
}

TEST(ClsControlsGestures, LikeMatchesRuns) {
    EXPECT_TRUE(GestureRecognizer::Like(QStringLiteral("R0U0L0D"), QStringLiteral("R*U*L*D")));
    EXPECT_FALSE(GestureRecognizer::Like(QStringLiteral("R0U0L0D0"), QStringLiteral("R*U*L*D")));
    EXPECT_TRUE(GestureRecognizer::Like(QStringLiteral("abc"), QStringLiteral("*")));
    EXPECT_FALSE(GestureRecognizer::Like(QStringLiteral("abc"), QStringLiteral("ab")));
}

TEST(ClsControlsGestures, RecognizerRecordsOnlyLongEnoughMoves) {
    GestureRecognizer g;
    g.Start(QPoint(100, 100));
    EXPECT_FALSE(g.Move(QPoint(109, 109)));  // 9 both ways: nothing
    EXPECT_TRUE(g.Move(QPoint(112, 104)));   // (12, 4) from the start point
    EXPECT_EQ(g.SamplePoint(), QPoint(112, 104));
    EXPECT_EQ(g.Tokens(), QStringList{QStringLiteral("RD")});
    EXPECT_EQ(g.End(QPoint(1, 2)), 8);  // one token t gives t t t: RDRDRD
    EXPECT_TRUE(g.Tokens().isEmpty());
    EXPECT_FALSE(g.Active());
    EXPECT_EQ(g.SamplePoint(), QPoint(1, 2));
}

struct ClsControlsGestureWindow : ::testing::Test {
    clsControls controls;
    ProbeWidget window;
    std::vector<std::pair<int, QString>> moves;
    std::vector<std::pair<int, QString>> ends;

    void SetUp() override {
        window.resize(300, 200);
        window.setAutoFillBackground(true);
        window.setPalette(QPalette(Qt::white));
        window.show();
        ASSERT_TRUE(controls.ssc_Subclass(&window));
        controls.ssc_AddMsg(&window, MSG_BEFORE_AND_AFTER, ALL_MESSAGES);
        controls.AllowMouseGesture(true);
        controls.MouseGesture = [this](int code, const QString& s) { moves.emplace_back(code, s); };
        controls.MouseGestureEnd = [this](int code, const QString& s) {
            ends.emplace_back(code, s);
        };
    }
    void Drag(QPoint from, QPoint step, int steps) {
        SendMouse(&window, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
        QPoint at = from;
        for (int i = 0; i < steps; ++i) {
            at += step;
            SendMouse(&window, QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton);
        }
    }
};

TEST_F(ClsControlsGestureWindow, StraightDragRightGivesCodeTwoAndTheTrailGoesAtTheEnd) {
    Drag(QPoint(20, 100), QPoint(10, 0), 6);
    ASSERT_EQ(moves.size(), 6u);
    EXPECT_EQ(moves.back(), std::make_pair(2, QStringLiteral("R0R0R0R0R0")));
    EXPECT_EQ(controls.Gesture().Tokens().size(), 6);
    // The trail is drawn in the pen colour (red) while the button is down.
    EXPECT_EQ(window.grab().toImage().pixel(QPoint(50, 100)), qRgb(255, 0, 0));
    SendMouse(&window, QEvent::MouseButtonRelease, QPoint(80, 100), Qt::LeftButton, Qt::NoButton);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0], std::make_pair(2, QStringLiteral("R0R0R0R0R0")));
    EXPECT_FALSE(controls.Gesture().Active());
    EXPECT_EQ(window.grab().toImage().pixel(QPoint(50, 100)), qRgb(255, 255, 255));
}

TEST_F(ClsControlsGestureWindow, TickShapeAndSmallMoves) {
    SendMouse(&window, QEvent::MouseButtonPress, QPoint(50, 50), Qt::LeftButton, Qt::LeftButton);
    const QPoint path[] = {{59, 59}, {62, 62}, {74, 74}, {86, 62}, {98, 50}};
    for (QPoint p : path) SendMouse(&window, QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(moves.size(), 5u);  // raised on every move, even without a segment
    EXPECT_EQ(moves[0], std::make_pair(0, QString()));
    SendMouse(&window, QEvent::MouseButtonRelease, QPoint(98, 50), Qt::LeftButton, Qt::NoButton);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0], std::make_pair(9, QStringLiteral("RDRDRDRURU")));
}

TEST_F(ClsControlsGestureWindow, NoGestureOverAControlOrWhenNotAllowed) {
    controls.AddControl(1, 1, QStringLiteral("b"), 0, 0, 100, 100);
    controls.SetControlsEnabled(1, false);  // a disabled control still is not an empty place
    Drag(QPoint(20, 20), QPoint(10, 0), 3);
    SendMouse(&window, QEvent::MouseButtonRelease, QPoint(50, 20), Qt::LeftButton, Qt::NoButton);
    EXPECT_TRUE(moves.empty());
    EXPECT_TRUE(ends.empty());
    controls.AllowMouseGesture(false);
    Drag(QPoint(150, 150), QPoint(10, 0), 3);
    SendMouse(&window, QEvent::MouseButtonRelease, QPoint(180, 150), Qt::LeftButton, Qt::NoButton);
    EXPECT_TRUE(ends.empty());
}

}  // namespace
}  // namespace lumeval
