#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QImage>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWindow>
#include <array>
#include <climits>
#include <vector>

#include "controls/ucstatusbar.h"

namespace lumeval {
namespace {

// ---- the layout rule -------------------------------------------------------

struct LayoutCase {
    const char* name;
    std::vector<StatusPanelMetrics> panels;
    int hostWidth;
    bool grip;
    std::vector<int> widths;
    std::vector<int> edges;
};

TEST(StatusLayout, WidthsAndEdges) {
    // fixed 100 | spring, MinWidth 50 | contents, text 40 wide, with icon
    const std::vector<StatusPanelMetrics> three = {
        {kPanelFixed, 0, 100, 0, false},
        {kPanelSpring, 50, 50, 0, false},
        {kPanelContents, 0, 0, 40, true},
    };
    // clang-format off
    const std::vector<LayoutCase> cases = {
        {"example without grip", three, 500, false, {100, 332, 68}, {100, 432, 500}},
        {"example with grip", three, 500, true, {100, 312, 68}, {100, 412, 480}},
        {"spring falls back to MinWidth, edges stop at the width",
         three, 150, false, {100, 50, 68}, {100, 150, 150}},
        {"last spring reaches the right edge",
         {{kPanelFixed, 0, 30, 0, false}, {kPanelSpring, 0, 0, 0, false},
          {kPanelSpring, 0, 0, 0, false}},
         101, false, {30, 35, 35}, {30, 65, 101}},
        {"last fixed panel leaves the rest empty",
         {{kPanelFixed, 0, 30, 0, false}, {kPanelFixed, 0, 40, 0, false}},
         500, true, {30, 40}, {30, 70}},
        {"contents: empty text is 8, MinWidth is the floor, icon adds 20",
         {{kPanelContents, 0, 0, 0, false}, {kPanelContents, 100, 0, 0, false},
          {kPanelContents, 0, 0, 0, true}, {kPanelContents, 10, 500, 12, false}},
         1000, false, {8, 100, 28, 20}, {8, 108, 136, 156}},
        {"unknown rule keeps its width and takes no share",
         {{7, 0, 60, 0, false}, {kPanelSpring, 0, 0, 0, false}},
         200, false, {60, 200}, {60, 200}},
        {"host narrower than the grip",
         {{kPanelFixed, 0, 30, 0, false}, {kPanelSpring, 5, 0, 0, false}},
         12, true, {30, 5}, {0, 0}},
        {"huge fixed widths do not wrap around",
         {{kPanelFixed, 0, INT_MAX, 0, false}, {kPanelFixed, 0, INT_MAX, 0, false},
          {kPanelSpring, 0, 0, 0, false}},
         300, false, {INT_MAX, INT_MAX, 0}, {300, 300, 300}},
    };
    // clang-format on
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        const StatusLayout got = computeStatusLayout(c.panels, c.hostWidth, c.grip);
        EXPECT_EQ(c.widths, got.widths);
        EXPECT_EQ(c.edges, got.edges);
    }
    EXPECT_TRUE(computeStatusLayout({}, 500, true).edges.empty());
}

// ---- the control -----------------------------------------------------------

std::vector<int> rightEdges(const ucStatusbar& bar) {
    std::vector<int> out;
    for (int p = 1; p <= bar.PanelCount(); ++p) {
        int l = -1, t = -1, r = -1, b = -1;
        bar.GetPanelRect(p, l, t, r, b);
        out.push_back(r);
    }
    return out;
}

QPoint panelCentre(const ucStatusbar& bar, int panel) {
    int l = 0, t = 0, r = 0, b = 0;
    bar.GetPanelRect(panel, l, t, r, b);
    return QPoint((l + r) / 2, (t + b) / 2);
}

QIcon solidIcon(Qt::GlobalColor colour) {
    QPixmap pm(16, 16);
    pm.fill(colour);
    return QIcon(pm);
}

class StatusBarTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host.resize(500, 300);
        auto* layout = new QVBoxLayout(&host);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addStretch(1);
        bar = new ucStatusbar(&host);
        layout->addWidget(bar);
    }

    // The three panels of the layout example, the last with a 16x16 icon.
    void addExamplePanels(bool grip) {
        ASSERT_TRUE(bar->Initialize(grip, true));
        ASSERT_TRUE(bar->InitializeIconList(16, 16));
        ASSERT_EQ(0, bar->AddIcon(solidIcon(Qt::red)));
        bar->AddPanel(kPanelSunken, 0, 100, kPanelFixed, "fixed", "", -1);
        bar->AddPanel(kPanelSunken, 50, 0, kPanelSpring, "spring", "", -1);
        bar->AddPanel(kPanelSunken, 0, 0, kPanelContents, "abcd", "", 0);
        host.show();
        QApplication::processEvents();
    }

    int contentsWidth(const QString& text, bool icon) const {
        return QFontMetrics(bar->font()).horizontalAdvance(text) + 8 + (icon ? 20 : 0);
    }

    QWidget host;
    ucStatusbar* bar = nullptr;
};

TEST_F(StatusBarTest, LaysOutTheExampleWithAndWithoutGrip) {
    addExamplePanels(false);
    ASSERT_EQ(500, bar->width());
    const int c = contentsWidth("abcd", true);
    EXPECT_EQ(c, bar->PanelWidth(3));
    EXPECT_EQ(500 - 100 - c, bar->PanelWidth(2));
    EXPECT_EQ((std::vector<int>{100, 500 - c, 500}), rightEdges(*bar));

    bar->SizeGrip(true);
    EXPECT_TRUE(bar->SizeGrip());
    ASSERT_EQ(3, bar->PanelCount());
    EXPECT_EQ(480 - 100 - c, bar->PanelWidth(2));
    EXPECT_EQ((std::vector<int>{100, 480 - c, 480}), rightEdges(*bar));
    // The rebuild keeps texts and the icon.
    EXPECT_EQ("spring", bar->PanelText(2));
    EXPECT_EQ(0, bar->PanelIconIndex(3));

    host.resize(700, 300);
    QApplication::processEvents();
    EXPECT_EQ((std::vector<int>{100, 680 - c, 680}), rightEdges(*bar));
}

TEST_F(StatusBarTest, InertBeforeInitializeAndCreatedOnce) {
    bar->AddPanel(0, 10, 10, 0, "x", "", -1);
    EXPECT_EQ(0, bar->PanelCount());
    EXPECT_EQ(nullptr, bar->hwnd());
    EXPECT_FALSE(bar->SizeGrip());
    bar->SizeGrip(true);  // nothing to rebuild yet
    EXPECT_EQ(nullptr, bar->hwnd());
    EXPECT_TRUE(bar->InitializeIconList(16, 16));
    EXPECT_EQ(0, bar->AddIcon(solidIcon(Qt::blue)));  // no status window
    EXPECT_TRUE(bar->Initialize(false, false));
    EXPECT_FALSE(bar->Initialize(true, true));
    EXPECT_FALSE(bar->SizeGrip());
    EXPECT_NE(nullptr, bar->hwnd());
    EXPECT_EQ(bar->hwnd()->height(), bar->height());
}

TEST_F(StatusBarTest, PanelNumbersOutsideTheTableDoNothing) {
    addExamplePanels(false);
    for (int panel : {0, 4, -1}) {
        SCOPED_TRACE(panel);
        bar->PanelText(panel, "nope");
        bar->PanelWidth(panel, 999);
        EXPECT_EQ("", bar->PanelText(panel));
        EXPECT_EQ(0, bar->PanelWidth(panel));
        EXPECT_EQ(0, bar->PanelStyle(panel));
        EXPECT_EQ("", bar->PanelTipText(panel));
        int l = 7, t = 7, r = 7, b = 7;
        bar->GetPanelRect(panel, l, t, r, b);
        EXPECT_EQ((std::array<int, 4>{7, 7, 7, 7}), (std::array<int, 4>{l, t, r, b}));
    }
    EXPECT_EQ(3, bar->PanelCount());
    EXPECT_EQ("fixed", bar->PanelText(1));
}

TEST_F(StatusBarTest, WidthRules) {
    ASSERT_TRUE(bar->Initialize(false, false));
    bar->AddPanel(0, 80, 30, kPanelFixed, "a", "", -1);  // below MinWidth: takes MinWidth
    EXPECT_EQ(80, bar->PanelWidth(1));
    bar->PanelWidth(1, 80);  // equal to MinWidth: ignored
    EXPECT_EQ(80, bar->PanelWidth(1));
    bar->PanelMinWidth(1, 40);
    bar->PanelWidth(1, 40);
    EXPECT_EQ(80, bar->PanelWidth(1));
    bar->PanelWidth(1, 41);
    EXPECT_EQ(41, bar->PanelWidth(1));
    bar->PanelMinWidth(1, -5);
    EXPECT_EQ(0, bar->PanelMinWidth(1));

    // Switching the rule recomputes the width; a text change refits it.
    bar->PanelAutosize(1, kPanelContents);
    EXPECT_EQ(kPanelContents, bar->PanelAutosize(1));
    EXPECT_EQ(contentsWidth("a", false), bar->PanelWidth(1));
    bar->PanelText(1, "a much longer text");
    EXPECT_EQ(contentsWidth("a much longer text", false), bar->PanelWidth(1));
}

TEST_F(StatusBarTest, IconsComeFromTheIconList) {
    ASSERT_TRUE(bar->Initialize(false, false));
    EXPECT_FALSE(bar->InitializeIconList(0, 16));
    EXPECT_EQ(0, bar->AddIcon(solidIcon(Qt::red)));  // no icon list yet
    ASSERT_TRUE(bar->InitializeIconList(16, 16));
    EXPECT_EQ(0, bar->AddIcon(solidIcon(Qt::red)));
    EXPECT_EQ(1, bar->AddIcon(solidIcon(Qt::green)));
    EXPECT_EQ(-1, bar->AddIcon(QIcon()));

    bar->AddPanel(0, 0, 0, kPanelContents, "t", "", 5);  // no such icon
    EXPECT_EQ(-1, bar->PanelIconIndex(1));
    EXPECT_EQ(contentsWidth("t", false), bar->PanelWidth(1));
    bar->PanelIconIndex(1, 1);
    EXPECT_EQ(1, bar->PanelIconIndex(1));
    EXPECT_EQ(contentsWidth("t", true), bar->PanelWidth(1));
    bar->PanelIconIndex(1, 2);
    EXPECT_EQ(-1, bar->PanelIconIndex(1));
    EXPECT_EQ(contentsWidth("t", false), bar->PanelWidth(1));
}

TEST_F(StatusBarTest, ClearPanelEmptiesTheTable) {
    addExamplePanels(false);
    bar->ClearPanel();
    EXPECT_EQ(0, bar->PanelCount());
    EXPECT_EQ("", bar->PanelText(1));
    bar->AddPanel(0, 0, 0, kPanelSpring, "only", "", -1);
    EXPECT_EQ((std::vector<int>{500}), rightEdges(*bar));
}

// ---- clicks ----------------------------------------------------------------

struct PanelEvent {
    char kind;  // 'c' click, 'd' double click
    int panel;
    int button;
    bool operator==(const PanelEvent&) const = default;
};

std::ostream& operator<<(std::ostream& os, const PanelEvent& e) {
    return os << e.kind << "(" << e.panel << "," << e.button << ")";
}

class StatusBarClicks : public StatusBarTest {
  protected:
    void SetUp() override {
        StatusBarTest::SetUp();
        addExamplePanels(true);
        QObject::connect(bar, &ucStatusbar::PanelClick, [this](int p, int b) {
            seen.push_back({'c', p, b});
        });
        QObject::connect(bar, &ucStatusbar::PanelDblClick, [this](int p, int b) {
            seen.push_back({'d', p, b});
        });
    }

    void click(int panel, Qt::MouseButton button) {
        QTest::mouseClick(bar->hwnd(), button, {}, panelCentre(*bar, panel));
    }
    // What a double click delivers: press, release, double click, release.
    void doubleClick(int panel, Qt::MouseButton button) {
        const QPoint at = panelCentre(*bar, panel);
        QTest::mouseClick(bar->hwnd(), button, {}, at);
        QTest::mouseDClick(bar->hwnd(), button, {}, at);
        QTest::mouseRelease(bar->hwnd(), button, {}, at);
    }

    std::vector<PanelEvent> seen;
};

TEST_F(StatusBarClicks, ClickRaisesPanelAndButton) {
    click(1, Qt::LeftButton);
    click(3, Qt::RightButton);
    click(2, Qt::MiddleButton);  // neither left nor right
    EXPECT_EQ((std::vector<PanelEvent>{{'c', 1, 1}, {'c', 3, 2}}), seen);
}

TEST_F(StatusBarClicks, DoubleClickSuppressesTheClickThatEndsIt) {
    doubleClick(2, Qt::LeftButton);
    EXPECT_EQ((std::vector<PanelEvent>{{'c', 2, 1}, {'d', 2, 1}}), seen);
    seen.clear();
    click(2, Qt::LeftButton);
    EXPECT_EQ((std::vector<PanelEvent>{{'c', 2, 1}}), seen);
    seen.clear();
    doubleClick(1, Qt::RightButton);
    click(3, Qt::LeftButton);
    EXPECT_EQ((std::vector<PanelEvent>{{'c', 1, 2}, {'d', 1, 2}, {'c', 3, 1}}), seen);
}

TEST_F(StatusBarClicks, ClicksOutsidePanelsRaiseNothing) {
    // The grip's 20 pixels at the right end belong to no panel.
    QTest::mouseClick(bar->hwnd(), Qt::LeftButton, {}, QPoint(490, 5));
    EXPECT_TRUE(seen.empty());
}

TEST_F(StatusBarClicks, DisabledBarRaisesNothing) {
    bar->Enabled(false);
    EXPECT_FALSE(bar->Enabled());
    click(1, Qt::LeftButton);
    EXPECT_TRUE(seen.empty());
    bar->Enabled(true);
    click(1, Qt::LeftButton);
    EXPECT_EQ(1u, seen.size());
}

TEST_F(StatusBarClicks, HandlerMayRebuildTheBar) {
    QObject::connect(bar, &ucStatusbar::PanelClick, [this] { bar->SizeGrip(!bar->SizeGrip()); });
    // Through the top-level window, as the platform delivers it.
    QWindow* window = host.windowHandle();
    ASSERT_NE(nullptr, window);
    auto clickThroughWindow = [&] {
        const QPoint at = bar->hwnd()->mapTo(&host, panelCentre(*bar, 1));
        QTest::mouseClick(window, Qt::LeftButton, {}, at);
        QApplication::processEvents();
    };
    clickThroughWindow();
    EXPECT_FALSE(bar->SizeGrip());
    clickThroughWindow();
    EXPECT_TRUE(bar->SizeGrip());
    EXPECT_EQ(2u, seen.size());
}

TEST_F(StatusBarTest, ResizeIsRaisedWhenTheHostResizes) {
    ASSERT_TRUE(bar->Initialize(false, false));
    host.show();
    QApplication::processEvents();
    QSignalSpy spy(bar, &ucStatusbar::Resize);
    host.resize(640, 300);
    QApplication::processEvents();
    EXPECT_EQ(1, spy.count());
}

// ---- tips ------------------------------------------------------------------

QString tipAt(QWidget* w, QPoint pos) {
    QHelpEvent help(QEvent::ToolTip, pos, w->mapToGlobal(pos));
    QApplication::sendEvent(w, &help);
    return help.isAccepted() && QToolTip::isVisible() ? QToolTip::text() : QString();
}

TEST_F(StatusBarTest, TipsFollowThePanelUnderThePointer) {
    addExamplePanels(false);
    bar->PanelTipText(1, "first tip");
    bar->PanelTipText(3, "third tip");
    EXPECT_EQ("first tip", bar->PanelTipText(1));
    EXPECT_EQ("first tip", tipAt(bar->hwnd(), panelCentre(*bar, 1)));
    EXPECT_EQ("third tip", tipAt(bar->hwnd(), panelCentre(*bar, 3)));
    EXPECT_EQ("", tipAt(bar->hwnd(), panelCentre(*bar, 2)));
    QToolTip::hideText();
}

TEST_F(StatusBarTest, NoTipsWithoutToolTips) {
    ASSERT_TRUE(bar->Initialize(false, false));
    bar->AddPanel(0, 0, 0, kPanelSpring, "x", "tip", -1);
    host.show();
    QApplication::processEvents();
    EXPECT_EQ("tip", bar->PanelTipText(1));
    EXPECT_EQ("", tipAt(bar->hwnd(), panelCentre(*bar, 1)));
}

// ---- styles and colours ----------------------------------------------------

QImage grabStatus(ucStatusbar* bar) {
    return bar->hwnd()->grab().toImage();
}

TEST_F(StatusBarTest, BorderStylesAndBackground) {
    ASSERT_TRUE(bar->Initialize(false, false));
    for (int i = 0; i < 3; ++i) bar->AddPanel(0, 0, 150, kPanelFixed, "", "", -1);
    bar->PanelStyle(2, kPanelNoBorders);
    bar->PanelStyle(3, kPanelRaised);
    EXPECT_EQ(kPanelRaised, bar->PanelStyle(3));
    bar->BackColor(0x0000FF);  // red in 0x00BBGGRR
    host.show();
    QApplication::processEvents();

    const QImage img = grabStatus(bar);
    const QPalette pal = bar->hwnd()->palette();
    auto leftEdge = [&](int panel) {
        int l = 0, t = 0, r = 0, b = 0;
        bar->GetPanelRect(panel, l, t, r, b);
        return img.pixel(l, (t + b) / 2);
    };
    EXPECT_EQ(pal.color(QPalette::Dark).rgb(), leftEdge(1));   // sunken: shadow on the left
    EXPECT_EQ(QColor(Qt::red).rgb(), leftEdge(2));             // no border: background
    EXPECT_EQ(pal.color(QPalette::Light).rgb(), leftEdge(3));  // raised: light on the left
    EXPECT_EQ(QColor(Qt::red).rgb(), img.pixel(75, bar->hwnd()->height() / 2));

    bar->BackColor(0xFF000000u);  // back to the style's own background
    const QImage plain = grabStatus(bar);
    EXPECT_EQ(pal.color(QPalette::Window).rgb(), plain.pixel(75, bar->hwnd()->height() / 2));
}

// Columns of the image where something darker than the background is drawn.
std::pair<int, int> inkSpan(const QImage& img, int from, int to) {
    int first = -1, last = -1;
    const QColor bg = img.pixelColor(from + 3, img.height() / 2);
    for (int x = from + 3; x < to - 4; ++x) {
        for (int y = 4; y < img.height() - 4; ++y) {
            if (img.pixelColor(x, y).lightness() + 60 < bg.lightness()) {
                if (first < 0) first = x;
                last = x;
            }
        }
    }
    return {first, last};
}

TEST_F(StatusBarTest, RightToLeftReadingSitsAtTheRight) {
    ASSERT_TRUE(bar->Initialize(false, false));
    bar->AddPanel(kPanelNoBorders, 0, 300, kPanelFixed, "abc", "", -1);
    bar->AddPanel(kPanelNoBorders | kPanelRtlReading, 0, 180, kPanelFixed, "abc", "", -1);
    host.show();
    QApplication::processEvents();
    const QImage img = grabStatus(bar);
    const auto ltr = inkSpan(img, 0, 300);
    const auto rtl = inkSpan(img, 300, 480);
    ASSERT_GE(ltr.first, 0);
    ASSERT_GE(rtl.first, 0);
    EXPECT_LT(ltr.second, 150);  // left half of its panel
    EXPECT_GT(rtl.first, 390);   // right half of its panel
}

// ---- font ------------------------------------------------------------------

TEST_F(StatusBarTest, FontRule) {
    QFont big(QStringLiteral("WenQuanYi Micro Hei"), 20);
    bar->Font(big);  // ignored before Initialize
    EXPECT_NE(20, bar->Font().pointSize());

    addExamplePanels(false);
    const int dpi = bar->logicalDpiY();
    QFont f(QStringLiteral("WenQuanYi Micro Hei"), 9);
    f.setBold(true);
    f.setItalic(true);
    f.setUnderline(true);
    bar->Font(f);
    const QFont applied = bar->hwnd()->font();
    EXPECT_EQ((9 * dpi + 36) / 72, applied.pixelSize());
    EXPECT_EQ(QFont::Bold, applied.weight());
    EXPECT_TRUE(applied.italic());
    EXPECT_TRUE(applied.underline());
    EXPECT_FALSE(applied.strikeOut());
    EXPECT_EQ(9, bar->Font().pointSize());
    const int smallHeight = bar->height();

    // Fractional sizes are not cut to whole points first; the bar grows with the font.
    big.setPointSizeF(10.5);
    bar->Font(big);
    EXPECT_EQ(static_cast<int>(10.5 * dpi / 72 + 0.5), bar->hwnd()->font().pixelSize());
    EXPECT_EQ(QFont::Normal, bar->hwnd()->font().weight());
    bar->Font(QFont(QStringLiteral("WenQuanYi Micro Hei"), 20));
    QApplication::processEvents();
    EXPECT_GT(bar->height(), smallHeight);
    EXPECT_EQ(bar->hwnd()->height(), bar->height());
    // Contents panels are refitted in the new font.
    EXPECT_EQ(contentsWidth("abcd", true), bar->PanelWidth(3));
}

TEST_F(StatusBarTest, FollowsTheContainersFont) {
    addExamplePanels(false);
    const int before = bar->height();
    host.setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 24));
    QApplication::processEvents();
    EXPECT_EQ(24, bar->Font().pointSize());
    EXPECT_GT(bar->height(), before);
    EXPECT_EQ(contentsWidth("abcd", true), bar->PanelWidth(3));
}

TEST(StatusBarDock, FollowsTheBottomOfAContainerWithoutLayout) {
    QWidget host;
    host.resize(400, 300);
    ucStatusbar bar(&host);
    ASSERT_TRUE(bar.Initialize(true, false));
    host.show();
    QApplication::processEvents();
    EXPECT_EQ(QRect(0, 300 - bar.height(), 400, bar.height()), bar.geometry());
    host.resize(600, 200);
    QApplication::processEvents();
    EXPECT_EQ(QRect(0, 200 - bar.height(), 600, bar.height()), bar.geometry());
}

}  // namespace
}  // namespace lumeval
