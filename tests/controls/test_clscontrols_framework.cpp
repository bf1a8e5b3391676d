// The owner-drawn framework of clsControls: control records, layout, hit
// testing, pointer handling, colour helpers, kept drawings and window paint.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QTest>

#include "controls/clscontrols.h"
#include "test_clscontrols_util.h"

namespace lumeval {
namespace {

using testing::ProbeWidget;
using testing::SendMouse;

TEST(ClsControlsColours, Helpers) {
    EXPECT_EQ(clsControls::BlendColors(0x000000, 0xFFFFFF, 0.5), 0x808080);
    EXPECT_EQ(clsControls::BlendColors(0x0000FF, 0xFF0000, 0.0), 0x0000FF);
    EXPECT_EQ(clsControls::BlendColors(0x0000FF, 0xFF0000, 1.0), 0xFF0000);
    EXPECT_EQ(clsControls::ShiftColor(0x000000, 0.2), 0x333333);
    EXPECT_EQ(clsControls::ShiftColor(0xFFFFFF, 0.5), 0xFFFFFF);
    EXPECT_EQ(clsControls::ShiftColor(0x102030, -0.1), 0x000616);  // -26 per channel, stopped at 0
    EXPECT_EQ(clsControls::InvertColor(0x123456), 0xEDCBA9);
    EXPECT_EQ(clsControls::ColorARGB(255, 1, 2, 3), 0xFF010203u);
    EXPECT_EQ(clsControls::ColorARGB(128, 255, 0, 0), 0x80FF0000u);
}

TEST(ClsControlsRecords, AutomaticCornerRadius) {
    struct Case {
        int width, height, radius;
    };
    const Case cases[] = {
        {100, 40, 15},  // Round(16) - 1
        {30, 30, 12},   // Round(12.75) - 1
        {28, 80, 12},   // Round(13.3) - 1
        {100, 33, 12},  // Round(13.2) - 1
        {64, 64, 21},   // Round(22.4) - 1
        {65, 90, 19},   // Round(19.5) = 20 (half to even) - 1
        {49, 49, 16},   // Round(17.15) - 1
    };
    for (const Case& c : cases)
        EXPECT_EQ(AutomaticCornerRadius(c.width, c.height), c.radius) << c.width << "x" << c.height;

    clsControls controls;
    EXPECT_TRUE(controls.AddControl(1, 7, QStringLiteral("ok"), 10, 10, 110, 50));
    EXPECT_EQ(controls.Controls().Find(7)->Radius, 15);
    EXPECT_TRUE(controls.AddControl(1, 8, QString(), 0, 0, 30, 30, 4));
    EXPECT_EQ(controls.Controls().Find(8)->Radius, 4);
}

TEST(ClsControlsRecords, EmptyRectanglesAreNotAdded) {
    clsControls controls;
    EXPECT_FALSE(controls.AddControl(1, 1, QString(), 10, 10, 10, 50));
    EXPECT_FALSE(controls.AddControl(1, 2, QString(), 10, 10, 50, 10));
    EXPECT_FALSE(controls.AddControl(1, 3, QString(), 10, 10, 5, 50));
    EXPECT_EQ(controls.Count(), 0);
}

TEST(ClsControlsRecords, AccessorsGoByIndexNotPosition) {
    clsControls controls;
    controls.AddControl(1, 20, QStringLiteral("first"), 0, 0, 10, 10);
    controls.AddControl(1, 10, QStringLiteral("second"), 0, 0, 10, 10);
    EXPECT_EQ(controls.GetControlsIndex(0), 20);
    EXPECT_EQ(controls.GetControlsIndex(1), 10);
    EXPECT_EQ(controls.GetControlsIndex(2), -1);
    EXPECT_EQ(controls.GetControlsIndexFromTag(QStringLiteral("second")), 10);
    EXPECT_EQ(controls.GetControlsIndexFromTag(QStringLiteral("none")), -1);

    std::vector<QString> captions;
    controls.CaptionChanged = [&](qint32 index, const QString& caption, const QString&,
                                  const QString&) {
        captions.push_back(QString::number(index) + QLatin1Char(':') + caption);
    };
    controls.SetControlsCaption(10, QStringLiteral("OK"));
    controls.SetControlsCaption(99, QStringLiteral("lost"));  // no such control: nothing
    EXPECT_EQ(controls.GetControlsCaption(10), QStringLiteral("OK"));
    EXPECT_EQ(controls.GetControlsCaption(20), QString());
    EXPECT_EQ(captions, (std::vector<QString>{QStringLiteral("10:OK")}));

    controls.SetControlsBackColor(20, 0x123456);
    controls.SetControlsFontBold(20, true);
    controls.SetControlsEnabled(20, false);
    EXPECT_EQ(controls.GetControlsBackColor(20), 0x123456);
    EXPECT_TRUE(controls.GetControlsFontBold(20));
    EXPECT_FALSE(controls.GetControlsEnabled(20));
    EXPECT_FALSE(controls.GetControlsEnabled(99));

    controls.SetControlsIndexFromTag(QStringLiteral("first"), 30);
    EXPECT_EQ(controls.GetControlsBackColor(30), 0x123456);
    controls.Remove(30);
    EXPECT_EQ(controls.Count(), 1);
    controls.Clear();
    EXPECT_EQ(controls.Count(), 0);
}

TEST(ClsControlsRecords, PercentValueIsLimitedAndReportedOnChange) {
    clsControls controls;
    ControlRecord gauge;
    gauge.Mode = 3;
    gauge.Index = 1;
    gauge.Tag = QStringLiteral("g");
    gauge.Right = 100;
    gauge.Bottom = 20;
    gauge.PercentMin = 10;
    gauge.PercentMax = 50;
    ASSERT_TRUE(controls.AddControl(gauge));
    std::vector<float> changes;
    controls.PercentChanged = [&](const QString&, qint32, float value) {
        changes.push_back(value);
    };
    EXPECT_TRUE(controls.SetControlsPercentValue(1, 80, QStringLiteral(" MB")));
    EXPECT_FLOAT_EQ(controls.GetControlsPercentValue(1), 50);
    EXPECT_EQ(controls.GetControlsCaptionAppendString(1), QStringLiteral(" MB"));
    EXPECT_FALSE(controls.SetControlsPercentValue(1, 60));  // limited to the same 50
    EXPECT_TRUE(controls.SetControlsPercentValue(1, 0));
    EXPECT_FLOAT_EQ(controls.GetControlsPercentValue(1), 10);
    EXPECT_EQ(controls.GetControlsCaptionAppendString(1),
              QStringLiteral(" MB"));  // empty text keeps it
    EXPECT_EQ(changes, (std::vector<float>{50, 10}));
    EXPECT_FALSE(controls.SetControlsPercentValue(2, 5));
}

TEST(ClsControlsRecords, LaterControlWinsHitTestAndDisabledOneHidesBelow) {
    clsControls controls;
    controls.AddControl(1, 1, QString(), 0, 0, 50, 50);
    controls.AddControl(1, 2, QString(), 25, 25, 75, 75);
    EXPECT_EQ(controls.HitTest(10, 10), 1);
    EXPECT_EQ(controls.HitTest(30, 30), 2);
    EXPECT_EQ(controls.HitTest(74, 74), 2);
    EXPECT_EQ(controls.HitTest(75, 75), -1);  // right and bottom are outside
    EXPECT_EQ(controls.HitTest(90, 90), -1);
    controls.SetControlsEnabled(2, false);
    EXPECT_EQ(controls.HitTest(30, 30), -1);
    EXPECT_EQ(controls.HitTest(10, 10), 1);
}

TEST(ClsControlsLayout, EverySizeMode) {
    struct Case {
        int sizeMode;
        ControlRect expected;
    };
    // Added at (20, 10)-(60, 30) in a 200 x 100 window, laid out for 400 x 300.
    const Case cases[] = {
        {0, {20, 10, 60, 30}},    {1, {40, 30, 120, 90}},    {2, {20, 10, 60, 30}},
        {3, {20, 10, 120, 30}},   {4, {20, 30, 60, 90}},     {5, {220, 10, 260, 30}},
        {6, {180, 10, 260, 30}},  {7, {220, 30, 260, 90}},   {8, {220, 210, 260, 230}},
        {9, {20, 10, 60, 30}},    {10, {40, 10, 120, 30}},   {11, {20, 10, 60, 90}},
        {12, {20, 210, 60, 230}}, {13, {40, 210, 120, 230}}, {42, {20, 10, 60, 30}},
    };
    for (const Case& c : cases) {
        clsControls controls;
        ProbeWidget window;
        window.resize(200, 100);
        ASSERT_TRUE(controls.ssc_Subclass(&window));
        controls.AddControl(1, 1, QString(), 20, 10, 60, 30, 0, c.sizeMode);
        window.resize(400, 300);
        controls.ResizeControls();
        EXPECT_EQ(controls.GetControlsRECT(1), c.expected) << "SizeMode " << c.sizeMode;
        EXPECT_EQ(controls.LastRefreshSource(), QStringLiteral("ResizeControls"));
    }
}

TEST(ClsControlsLayout, AutoSizerFollowsTheWindowAndRecomputesTheRadius) {
    clsControls controls;
    ProbeWidget window;
    window.resize(200, 100);
    window.show();
    ASSERT_TRUE(controls.ssc_Subclass(&window));
    controls.ssc_AddMsg(&window, MSG_BEFORE_AND_AFTER, ALL_MESSAGES);
    controls.AutoSizer(true);
    std::vector<std::pair<qint32, bool>> statuses;
    controls.ControlStatusChanged = [&](qint32 status, bool flag) {
        statuses.emplace_back(status, flag);
    };
    controls.AddControl(1, 1, QString(), 0, 0, 100, 40, -1, 1);
    EXPECT_EQ(controls.Controls().Find(1)->Radius, 15);
    window.resize(400, 200);
    EXPECT_EQ(controls.ReferenceSize(), QSize(400, 200));
    EXPECT_EQ(controls.GetControlsRECT(1), (ControlRect{0, 0, 200, 80}));
    EXPECT_EQ(controls.Controls().Find(1)->Radius, 23);  // Round(80 x 0.3) - 1
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), std::make_pair(1, true));
}

struct ClsControlsPointer : ::testing::Test {
    clsControls controls;
    ProbeWidget window;
    std::vector<std::string> events;

    void SetUp() override {
        window.resize(300, 200);
        window.show();
        ASSERT_TRUE(controls.ssc_Subclass(&window));
        controls.ssc_AddMsg(&window, MSG_BEFORE_AND_AFTER, ALL_MESSAGES);
        controls.AddControl(1, 1, QStringLiteral("button"), 10, 10, 110, 50);
        controls.AddControl(9, 2, QStringLiteral("check"), 10, 60, 110, 90);
        controls.AddControl(1, 3, QStringLiteral("off"), 10, 100, 110, 140);
        controls.SetControlsEnabled(3, false);
        const auto record = [this](const char* name) {
            return [this, name](const QString& tag, qint32 index) {
                events.push_back(std::string(name) + ":" + tag.toStdString() + ":" +
                                 std::to_string(index));
            };
        };
        controls.MouseEnter = record("enter");
        controls.MouseLeave = record("leave");
        controls.ButtonDown = [this](int& button, const QString& tag, qint32 index) {
            events.push_back("down:" + tag.toStdString() + ":" + std::to_string(index) + ":" +
                             std::to_string(button));
        };
        controls.ButtonUp = [this](int&, const QString& tag, qint32 index) {
            events.push_back("up:" + tag.toStdString() + ":" + std::to_string(index));
        };
        controls.CheckedValueChanged = [this](qint32 index, qint32 checked) {
            events.push_back("checked:" + std::to_string(index) + ":" + std::to_string(checked));
        };
    }
};

TEST_F(ClsControlsPointer, HoverPressAndLeave) {
    QTest::mouseMove(&window, QPoint(50, 30));
    EXPECT_EQ(controls.HoveredControl(), 1);
    EXPECT_EQ(controls.ControlIndex(), 1);
    QTest::mouseMove(&window, QPoint(50, 75));
    EXPECT_EQ(controls.HoveredControl(), 2);
    QTest::mouseMove(&window, QPoint(250, 150));
    EXPECT_EQ(controls.HoveredControl(), -1);
    QTest::mouseMove(&window, QPoint(50, 30));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&window, &leave);
    EXPECT_EQ(controls.HoveredControl(), -1);
    const std::vector<std::string> expected = {"enter:button:1", "leave:button:1",
                                               "enter:check:2",  "leave:check:2",
                                               "enter:button:1", "leave:button:1"};
    EXPECT_EQ(events, expected);
}

TEST_F(ClsControlsPointer, ClickOnCheckStyleControlTogglesIt) {
    QTest::mouseClick(&window, Qt::LeftButton, Qt::NoModifier, QPoint(50, 75));
    QTest::mouseClick(&window, Qt::LeftButton, Qt::NoModifier, QPoint(50, 75));
    const std::vector<std::string> expected = {"down:check:2:1", "up:check:2", "checked:2:1",
                                               "down:check:2:1", "up:check:2", "checked:2:0"};
    EXPECT_EQ(events, expected);
    EXPECT_EQ(controls.GetControlsChecked(2), 0);
    EXPECT_EQ(controls.PressedControl(), -1);
}

TEST_F(ClsControlsPointer, ReleasingElsewhereDoesNotToggleAndDisabledControlsDoNotReact) {
    SendMouse(&window, QEvent::MouseButtonPress, QPoint(50, 75), Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(controls.PressedControl(), 2);
    SendMouse(&window, QEvent::MouseButtonRelease, QPoint(250, 180), Qt::LeftButton, Qt::NoButton);
    QTest::mouseClick(&window, Qt::LeftButton, Qt::NoModifier, QPoint(50, 120));
    const std::vector<std::string> expected = {"down:check:2:1", "up:check:2"};
    EXPECT_EQ(events, expected);
    EXPECT_EQ(controls.GetControlsChecked(2), 0);
}

TEST_F(ClsControlsPointer, SliderFollowsThePressedPointer) {
    ControlRecord slider;
    slider.Mode = 4;
    slider.Index = 4;
    slider.Tag = QStringLiteral("volume");
    slider.Left = 150;
    slider.Top = 10;
    slider.Right = 251;  // 100 pixels of travel
    slider.Bottom = 30;
    slider.PercentLongTypeStep = 5;
    ASSERT_TRUE(controls.AddControl(slider));
    std::vector<float> changes;
    float finalValue = -1;
    controls.PercentChanged = [&](const QString&, qint32, float value) {
        changes.push_back(value);
    };
    controls.PercentHasBeenSet = [&](const QString&, qint32, float value) { finalValue = value; };
    SendMouse(&window, QEvent::MouseButtonPress, QPoint(173, 20), Qt::LeftButton, Qt::LeftButton);
    SendMouse(&window, QEvent::MouseMove, QPoint(300, 20), Qt::NoButton,
              Qt::LeftButton);  // beyond the end
    SendMouse(&window, QEvent::MouseButtonRelease, QPoint(300, 20), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(changes, (std::vector<float>{25, 100}));  // 23 rounded to the step of 5
    EXPECT_FLOAT_EQ(finalValue, 100);
}

TEST_F(ClsControlsPointer, DoubleClickActivationAndCaptionBar) {
    std::vector<qint32> doubles;
    controls.DblClick = [&](int&, const QString&, qint32 index) { doubles.push_back(index); };
    QTest::mouseDClick(&window, Qt::LeftButton, Qt::NoModifier, QPoint(50, 30));
    EXPECT_EQ(doubles, (std::vector<qint32>{1}));
    controls.SendMessage(&window, WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_FALSE(controls.WindowActivated());
    controls.SendMessage(&window, WM_ACTIVATE, WA_CLICKACTIVE, 0);
    EXPECT_TRUE(controls.WindowActivated());
    // A caption bar moves the window instead of being pressed.
    controls.AddControl(8, 5, QStringLiteral("title"), 150, 150, 290, 190);
    QTest::mouseClick(&window, Qt::LeftButton, Qt::NoModifier, QPoint(200, 170));
    EXPECT_EQ(controls.PressedControl(), -1);
}

TEST(ClsControlsRecords, MovedControlTakesNewLayoutFractionsAndCarriesItsTextBox) {
    clsControls controls;
    ProbeWidget window;
    window.resize(200, 100);
    QWidget box(&window);
    ASSERT_TRUE(controls.ssc_Subclass(&window));
    controls.AddControl(6, 1, QStringLiteral("edit"), 10, 10, 110, 40, 0, 1);
    controls.BindTextBox(&box, 1);
    EXPECT_EQ(box.geometry(), QRect(14, 13, 92, 24));
    controls.SetControlsRECT(1, ControlRect{20, 20, 120, 50});
    controls.SetControlsRECT(1, ControlRect{20, 20, 20, 50});  // empty: ignored
    EXPECT_EQ(controls.GetControlsRECT(1), (ControlRect{20, 20, 120, 50}));
    EXPECT_EQ(box.geometry(), QRect(24, 23, 92, 24));
    window.resize(400, 200);
    controls.ResizeControls();
    EXPECT_EQ(controls.GetControlsRECT(1), (ControlRect{40, 40, 240, 100}));
    EXPECT_EQ(box.geometry(), QRect(44, 43, 192, 54));
}

QRgb PixelAt(QWidget& widget, QPoint where) {
    return widget.grab().toImage().pixel(where);
}

TEST(ClsControlsDrawing, KeptDrawingsPaintUntilCleared) {
    clsControls controls;
    ProbeWidget window;
    window.setAutoFillBackground(true);
    window.setPalette(QPalette(Qt::white));
    window.resize(200, 100);
    // The seek bar of the editor: a filled bar and a position line.
    controls.DrawRectToHdc(&window, 0, 60, 199, 80, 0xF8F8F8);
    controls.DrawLineToHdc(&window, 50, 60, 50, 80, 0x808080);
    EXPECT_EQ(controls.KeptDrawingCount(&window), 2);
    EXPECT_EQ(PixelAt(window, QPoint(20, 70)), qRgb(0xF8, 0xF8, 0xF8));
    EXPECT_EQ(PixelAt(window, QPoint(50, 70)), qRgb(0x80, 0x80, 0x80));
    controls.ClearHdc(&window);
    EXPECT_EQ(controls.KeptDrawingCount(&window), 0);
    EXPECT_EQ(PixelAt(window, QPoint(20, 70)), qRgb(255, 255, 255));
}

TEST(ClsControlsDrawing, KeptDrawingsStayUnderControlsAndOutliveTheRoute) {
    clsControls controls;
    ProbeWidget window;
    window.setAutoFillBackground(true);
    window.setPalette(QPalette(Qt::white));
    window.resize(200, 100);
    controls.DrawRectToHdc(&window, 0, 0, 200, 100, 0x00FF00);
    ASSERT_TRUE(controls.ssc_Subclass(&window));
    ControlRecord panel;
    panel.Index = 1;
    panel.Right = 50;
    panel.Bottom = 50;
    panel.BackColor = 0x0000FF;
    controls.AddControl(panel);
    EXPECT_EQ(PixelAt(window, QPoint(25, 25)), qRgb(255, 0, 0));
    EXPECT_EQ(PixelAt(window, QPoint(100, 75)), qRgb(0, 255, 0));
    controls.ssc_UnSubclass(&window);
    EXPECT_EQ(PixelAt(window, QPoint(25, 25)), qRgb(0, 255, 0));
    controls.ClearHdc(&window);
    EXPECT_EQ(PixelAt(window, QPoint(100, 75)), qRgb(255, 255, 255));
}

TEST(ClsControlsDrawing, DrawingOnAPainterIsImmediate) {
    clsControls controls;
    QImage image(40, 40, QImage::Format_RGB32);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        controls.DrawRectToHdc(&painter, 0, 0, 20, 20, 0x0000FF);            // red in 0x00BBGGRR
        controls.DrawGradient(&painter, 20, 0, 40, 40, 0xFF0000, 0xFF0000);  // blue
        controls.GDIP_DrawRectangleToHDC(&painter, 0, 20, 20, 40,
                                         clsControls::ColorARGB(255, 0, 255, 0));
    }
    EXPECT_EQ(image.pixel(5, 5), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(30, 30), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(10, 30), qRgb(0, 255, 0));
}

TEST(ClsControlsDrawing, RefreshPaintsTheWindowBackgroundAndControls) {
    clsControls controls;
    ProbeWidget window;
    window.resize(200, 100);
    ASSERT_TRUE(controls.ssc_Subclass(&window));
    WindowPaintSettings settings;
    settings.lWindowBackColor = 0x00FF00;
    controls.Refresh(QStringLiteral("test"), -1, settings);
    EXPECT_EQ(PixelAt(window, QPoint(190, 90)), qRgb(0, 255, 0));
    ControlRecord panel;
    panel.Mode = 0;
    panel.Index = 1;
    panel.Right = 50;
    panel.Bottom = 50;
    panel.BackColor = 0x0000FF;
    controls.AddControl(panel);
    EXPECT_EQ(PixelAt(window, QPoint(25, 25)), qRgb(255, 0, 0));
    controls.AllowDrawControls(false);
    EXPECT_EQ(PixelAt(window, QPoint(25, 25)), qRgb(0, 255, 0));
}

TEST(ClsControlsDrawing, EveryModePaintsWithoutTrouble) {
    clsControls controls;
    ProbeWidget window;
    window.resize(400, 300);
    ASSERT_TRUE(controls.ssc_Subclass(&window));
    controls.DisplayControlEdge(true);
    for (int mode = 0; mode <= 10; ++mode) {
        ControlRecord record;
        record.Mode = mode;
        record.Index = mode;
        record.Left = 10 + (mode % 3) * 120;
        record.Top = 10 + (mode / 3) * 60;
        record.Right = record.Left + 110;
        record.Bottom = record.Top + 40;
        record.Radius = -1;
        record.Caption = QStringLiteral("模式 %1").arg(mode);
        record.Comment = QStringLiteral("note");
        record.Tip = QStringLiteral("3");
        record.ShadowDepth = 1;
        record.PercentValue = 40;
        record.Checked = mode % 2;
        ASSERT_TRUE(controls.AddControl(record));
    }
    const QImage picture = controls.hDCToPicture();
    EXPECT_EQ(picture.size(), QSize(400, 300));
}

TEST(ClsControlsEffects, OpacityStandsInForTransparency) {
    clsControls controls;
    QWidget window;
    EXPECT_FALSE(clsControls::IsTransparent(&window));
    EXPECT_EQ(clsControls::GetTransparentValue(&window), 255);
    ASSERT_TRUE(controls.LayeredWindowInit(&window, 128));
    EXPECT_TRUE(clsControls::IsTransparent(&window));
    EXPECT_EQ(clsControls::GetTransparentValue(&window), 128);
    controls.LayeredWindowTerminate();
    EXPECT_FALSE(clsControls::IsTransparent(&window));

    ProbeWidget surface;
    surface.resize(50, 50);
    ASSERT_TRUE(controls.ssc_Subclass(&surface));
    EXPECT_EQ(controls.LayeredGraphics(), nullptr);
    ASSERT_TRUE(controls.LayeredWindowInit(&surface, 255));
    QImage* layer = controls.LayeredGraphics();
    ASSERT_NE(layer, nullptr);
    layer->fill(qRgba(0, 0, 255, 255));
    EXPECT_EQ(surface.grab().toImage().pixel(10, 10), qRgb(0, 0, 255));
    controls.LayeredWindowTerminate();

    controls.WindowFade(&window, 0, 255, 30);
    EXPECT_TRUE(QTest::qWaitFor([&]() { return !controls.WindowFading(); }, 5000));
    EXPECT_EQ(clsControls::GetTransparentValue(&window), 255);
}

TEST(ClsControlsEffects, BlurKeepsAFlatPictureFlat) {
    QImage flat(8, 8, QImage::Format_ARGB32);
    flat.fill(qRgba(10, 20, 30, 255));
    const QImage blurred = clsControls::ImageBlurGDIP(flat, 2);
    EXPECT_EQ(blurred.pixel(4, 4), flat.pixel(4, 4));
    QImage dot(9, 1, QImage::Format_ARGB32);
    dot.fill(qRgba(0, 0, 0, 255));
    dot.setPixel(4, 0, qRgba(90, 90, 90, 255));
    EXPECT_EQ(qRed(clsControls::ImageBlurGDIP(dot, 1).pixel(3, 0)), 30);
}

}  // namespace
}  // namespace lumeval
