// Thumbnail-toolbar rules, the taskbar-window members and the transparency
// of our own windows.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QIcon>
#include <QWidget>
#include <cmath>
#include <memory>
#include <vector>

#include "taskbar/clstaskbar.h"

namespace lumeval {
namespace {

constexpr qint32 kCommand = 0x0111;  // WM_COMMAND

// A bus that is not there: these tests need none.
QDBusConnection NoBus() {
    return QDBusConnection(QStringLiteral("taskbar-test-unconnected"));
}

QList<QIcon> Icons(int count) { return QList<QIcon>(count, QIcon()); }

qint32 Click(qint32 id) { return MakeLong(id, THBN_CLICKED); }

// ---- Thumbnail toolbar ----------------------------------------------------------

TEST(TaskBarThumbBar, InvalidCountsDoNothing) {
    struct Case {
        qint32 cButtons;
        int icons;
    };
    const Case cases[] = {{0, 0}, {8, 8}, {-1, 7}, {100, 7}, {3, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.cButtons << " buttons, " << c.icons << " icons");
        QWidget window;
        clsTaskBar taskBar(NoBus());
        std::vector<qint16> pressed;
        taskBar.ButtonPressed = [&](qint16 id) { pressed.push_back(id); };
        EXPECT_EQ(0, taskBar.ThumbBarAddButtons(&window, c.cButtons, Icons(c.icons)));
        EXPECT_EQ(nullptr, taskBar.ThumbBarHwnd());
        taskBar.SendMessage(&window, kCommand, Click(0), 0);
        EXPECT_TRUE(pressed.empty());
        // A refused call does not use up the one set-up.
        EXPECT_EQ(0, taskBar.ThumbBarAddButtons(&window, 1, Icons(1)));
        EXPECT_EQ(&window, taskBar.ThumbBarHwnd());
    }
}

TEST(TaskBarThumbBar, ClicksArriveAsButtonPressed) {
    for (qint32 count : {1, 7}) {
        SCOPED_TRACE(count);
        QWidget window;
        clsTaskBar taskBar(NoBus());
        std::vector<qint16> pressed;
        taskBar.ButtonPressed = [&](qint16 id) { pressed.push_back(id); };
        EXPECT_EQ(0, taskBar.ThumbBarAddButtons(&window, count, Icons(count)));
        ASSERT_EQ(&window, taskBar.ThumbBarHwnd());
        taskBar.SendMessage(&window, kCommand, Click(count - 1), 0);
        taskBar.SendMessage(&window, kCommand, MakeLong(2, 0), 0);  // a menu command
        taskBar.SendMessage(&window, 0x0112, Click(0), 0);           // not WM_COMMAND
        EXPECT_EQ(std::vector<qint16>{static_cast<qint16>(count - 1)}, pressed);
    }
}

TEST(TaskBarThumbBar, SecondSetUpIsIgnored) {
    QWidget first, second;
    clsTaskBar taskBar(NoBus());
    std::vector<qint16> pressed;
    taskBar.ButtonPressed = [&](qint16 id) { pressed.push_back(id); };
    ASSERT_EQ(0, taskBar.ThumbBarAddButtons(&first, 2, Icons(2)));
    EXPECT_EQ(0, taskBar.ThumbBarAddButtons(&second, 3, Icons(3)));
    EXPECT_EQ(0, taskBar.ThumbBarAddButtons(&first, 3, Icons(3)));
    EXPECT_EQ(&first, taskBar.ThumbBarHwnd());
    taskBar.SendMessage(&second, kCommand, Click(1), 0);
    EXPECT_TRUE(pressed.empty());
    taskBar.SendMessage(&first, kCommand, Click(1), 0);
    EXPECT_EQ(std::vector<qint16>{1}, pressed);
}

TEST(TaskBarThumbBar, WindowAndObjectMayEndInEitherOrder) {
    {
        auto window = std::make_unique<QWidget>();
        clsTaskBar taskBar(NoBus());
        ASSERT_EQ(0, taskBar.ThumbBarAddButtons(window.get(), 1, Icons(1)));
        window.reset();
        EXPECT_EQ(nullptr, taskBar.ThumbBarHwnd());
    }
    QWidget window;
    {
        clsTaskBar taskBar(NoBus());
        ASSERT_EQ(0, taskBar.ThumbBarAddButtons(&window, 1, Icons(1)));
    }
    // The window's own handling is back: another object can route it.
    clsTaskBar again(NoBus());
    int pressed = 0;
    again.ButtonPressed = [&](qint16) { ++pressed; };
    ASSERT_EQ(0, again.ThumbBarAddButtons(&window, 1, Icons(1)));
    again.SendMessage(&window, kCommand, Click(0), 0);
    EXPECT_EQ(1, pressed);
}

// ---- Taskbar windows -------------------------------------------------------------

TEST(TaskBarWindows, NothingToFindShowOrDock) {
    clsTaskBar taskBar(NoBus());
    EXPECT_EQ(nullptr, taskBar.hwnd());
    EXPECT_EQ(nullptr, taskBar.ProgramsHwnd());
    EXPECT_EQ(nullptr, taskBar.DesktopHwnd());
    EXPECT_EQ(nullptr, taskBar.StartButtonHwnd());
    EXPECT_EQ(nullptr, taskBar.SystrayHwnd());
    EXPECT_EQ(nullptr, taskBar.ClockHwnd());
    taskBar.Programs(true);
    taskBar.Desktop(true);
    taskBar.StartButton(true);
    taskBar.Systray(true);
    taskBar.Clock(true);
    taskBar.TaskbarVisible(true);
    EXPECT_FALSE(taskBar.Programs());
    EXPECT_FALSE(taskBar.Desktop());
    EXPECT_FALSE(taskBar.StartButton());
    EXPECT_FALSE(taskBar.Systray());
    EXPECT_FALSE(taskBar.Clock());
    EXPECT_FALSE(taskBar.TaskbarVisible());
    EXPECT_EQ(0, taskBar.Left());
    EXPECT_EQ(0, taskBar.Top());
    EXPECT_EQ(0, taskBar.Width());
    EXPECT_EQ(0, taskBar.Height());
    taskBar.Transparency(30);
    EXPECT_EQ(100, taskBar.Transparency());

    QWidget parent;
    auto* child = new QWidget(&parent);
    QWidget window;
    EXPECT_FALSE(taskBar.PinHwndToTaskBar(&window));
    EXPECT_FALSE(taskBar.PinHwndToTaskBar(nullptr));
    EXPECT_EQ(nullptr, window.parentWidget());
    EXPECT_FALSE(taskBar.PinHwndToTaskBar(child));
    EXPECT_EQ(&parent, child->parentWidget());
}

// ---- Transparency -----------------------------------------------------------------

class TaskBarTransparency : public testing::Test {
  protected:
    clsTaskBar m_taskBar{NoBus()};
    QWidget m_window;
};

TEST_F(TaskBarTransparency, OpaqueAndMissingWindowsReadAsOpaque) {
    EXPECT_FALSE(m_taskBar.IsTransparent(&m_window));
    EXPECT_EQ(100, m_taskBar.HowTransparent(&m_window));
    EXPECT_FALSE(m_taskBar.IsTransparent(nullptr));
    EXPECT_EQ(100, m_taskBar.HowTransparent(nullptr));
}

TEST_F(TaskBarTransparency, PercentReadsBackAsSet) {
    for (bool effect : {false, true}) {
        for (qint32 perc = 0; perc < 100; ++perc) {
            SCOPED_TRACE(testing::Message() << perc << (effect ? " gradual" : " at once"));
            m_taskBar.EffectPause = [](int) {};
            qint32 value = perc;
            m_taskBar.MakeTransparent(&m_window, value, effect);
            EXPECT_EQ(perc, value);
            EXPECT_TRUE(m_taskBar.IsTransparent(&m_window));
            EXPECT_EQ(perc, m_taskBar.HowTransparent(&m_window));
        }
    }
}

TEST_F(TaskBarTransparency, AboveHundredBecomesHundredAndLeavesWindowOpaque) {
    for (bool effect : {false, true}) {
        SCOPED_TRACE(effect);
        m_taskBar.EffectPause = [](int) {};
        qint32 perc = 150;
        m_taskBar.MakeTransparent(&m_window, perc, effect);
        EXPECT_EQ(100, perc);
        EXPECT_FALSE(m_taskBar.IsTransparent(&m_window));

        qint32 half = 40;
        m_taskBar.MakeTransparent(&m_window, half);
        ASSERT_TRUE(m_taskBar.IsTransparent(&m_window));
        perc = 150;
        m_taskBar.MakeTransparent(&m_window, perc, effect);
        EXPECT_EQ(100, perc);
        EXPECT_FALSE(m_taskBar.IsTransparent(&m_window));
        EXPECT_EQ(1.0, m_window.windowOpacity());
    }
}

TEST_F(TaskBarTransparency, NegativeBecomesZero) {
    qint32 perc = -20;
    m_taskBar.MakeTransparent(&m_window, perc);
    EXPECT_EQ(0, perc);
    EXPECT_EQ(0, m_taskBar.HowTransparent(&m_window));
}

TEST_F(TaskBarTransparency, GradualChangeRunsFiftyOneSteps) {
    struct Case {
        qint32 from;
        qint32 to;
    };
    for (const Case c : {Case{100, 20}, Case{30, 90}, Case{60, 100}}) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to);
        qint32 start = c.from;
        m_taskBar.EffectPause = nullptr;
        m_taskBar.MakeTransparent(&m_window, start);
        ASSERT_EQ(c.from, m_taskBar.HowTransparent(&m_window));

        std::vector<double> seen;
        std::vector<int> pauses;
        m_taskBar.EffectPause = [&](int ms) {
            pauses.push_back(ms);
            seen.push_back(m_window.windowOpacity());
        };
        qint32 perc = c.to;
        m_taskBar.MakeTransparent(&m_window, perc, true);
        seen.push_back(m_window.windowOpacity());

        // One pause of 1 ms between each two of the 51 steps.
        EXPECT_EQ(std::vector<int>(50, 1), pauses);
        ASSERT_EQ(51u, seen.size());
        const double sign = c.from < c.to ? 1.0 : -1.0;
        for (int step = 0; step < 50; ++step) {
            const double i = step * 2.0;
            const double alpha = 2.55 * (c.from + sign * std::abs(c.from - c.to) * i / 100.0);
            EXPECT_NEAR(alpha / 255.0, seen[static_cast<std::size_t>(step)], 1.0 / 255.0)
                << "step " << step;
        }
        EXPECT_EQ(c.to, m_taskBar.HowTransparent(&m_window));
        EXPECT_EQ(c.to != 100, m_taskBar.IsTransparent(&m_window));
    }
}

TEST_F(TaskBarTransparency, SamePercentChangesNothing) {
    qint32 perc = 45;
    m_taskBar.MakeTransparent(&m_window, perc);
    int pauses = 0;
    m_taskBar.EffectPause = [&](int) { ++pauses; };
    perc = 45;
    m_taskBar.MakeTransparent(&m_window, perc, true);
    EXPECT_EQ(0, pauses);
    perc = 100;
    QWidget opaque;
    m_taskBar.MakeTransparent(&opaque, perc, true);
    EXPECT_EQ(0, pauses);
    EXPECT_FALSE(m_taskBar.IsTransparent(&opaque));
}

TEST_F(TaskBarTransparency, WindowClosedDuringEffectEndsIt) {
    auto* window = new QWidget;
    int pauses = 0;
    m_taskBar.EffectPause = [&](int) {
        if (++pauses == 3) delete window;
    };
    qint32 perc = 10;
    m_taskBar.MakeTransparent(window, perc, true);
    EXPECT_EQ(3, pauses);
}

TEST_F(TaskBarTransparency, MakeOpaqueRemovesTransparency) {
    qint32 perc = 25;
    m_taskBar.MakeTransparent(&m_window, perc);
    ASSERT_TRUE(m_taskBar.IsTransparent(&m_window));
    m_taskBar.MakeOpaque(&m_window);
    EXPECT_FALSE(m_taskBar.IsTransparent(&m_window));
    EXPECT_EQ(100, m_taskBar.HowTransparent(&m_window));
    // The real pause between steps (the window system brought up to date).
    perc = 60;
    m_taskBar.MakeTransparent(&m_window, perc, true);
    EXPECT_EQ(60, m_taskBar.HowTransparent(&m_window));
    m_taskBar.MakeOpaque(nullptr);
    qint32 none = 50;
    m_taskBar.MakeTransparent(nullptr, none, true);
    EXPECT_EQ(50, none);
}

}  // namespace
}  // namespace lumeval
