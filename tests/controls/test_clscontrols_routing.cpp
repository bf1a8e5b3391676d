// The routing layer of clsControls: subclassing with before/after tables,
// hooks, callbacks, hot keys, file drops, timer, enumeration, message names.
#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontDatabase>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <memory>
#include <string>
#include <vector>

#include "controls/clscontrols.h"
#include "test_clscontrols_util.h"

namespace lumeval {
namespace {

using testing::LogCapture;
using testing::ProbeWidget;
using testing::SendMouse;

struct Seen {
    bool bBefore;
    qint32 uMsg;
    qint32 wParam;
    qint32 lParam;
    qint32 lReturn;
};

// A clsControls whose CallBackProc records every routed message.
struct Router {
    clsControls controls;
    std::vector<Seen> seen;
    std::function<void(bool, bool&, qint32&, qint32)> answer;  // (bBefore, bHandled, lReturn, uMsg)

    Router() {
        controls.CallBackProc = [this](bool bBefore, bool& bHandled, qint32& lReturn, QWidget*,
                                       qint32 uMsg, qint32 wParam, qint32 lParam, qint32&) {
            seen.push_back({bBefore, uMsg, wParam, lParam, lReturn});
            if (answer) answer(bBefore, bHandled, lReturn, uMsg);
        };
    }
    int Count(qint32 uMsg, bool bBefore) const {
        int n = 0;
        for (const Seen& s : seen) n += (s.uMsg == uMsg && s.bBefore == bBefore) ? 1 : 0;
        return n;
    }
};

TEST(ClsControlsSubclass, RefusalsAreLoggedWithTypeAndRoutineName) {
    LogCapture log;
    clsControls controls;
    ProbeWidget widget;
    EXPECT_FALSE(controls.ssc_Subclass(nullptr));
    EXPECT_FALSE(controls.ssc_Subclass(&widget, 0, 7));
    bool unicode = false;
    EXPECT_TRUE(controls.ssc_Subclass(&widget, 0, 1, nullptr, true, &unicode));
    EXPECT_TRUE(unicode);
    EXPECT_FALSE(controls.ssc_Subclass(&widget));
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[0], "clsControls.ssc_Subclass: Invalid window handle");
    EXPECT_EQ(log.lines[1], "clsControls.ssc_Subclass: Callback method not found");
    EXPECT_EQ(log.lines[2], "clsControls.ssc_Subclass: Window handle is already subclassed");
}

TEST(ClsControlsSubclass, LookupsOfUnknownRoutesAreLogged) {
    LogCapture log;
    clsControls controls;
    ProbeWidget first;
    ProbeWidget second;
    controls.ssc_AddMsg(&first, MSG_BEFORE, WM_PAINT);
    ASSERT_TRUE(controls.ssc_Subclass(&first));
    controls.ssc_AddMsg(&second, MSG_BEFORE, WM_PAINT);
    controls.ssc_UnSubclass(&second);
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[0], "clsControls.ssc_AddMsg: Thunk hasn't been initialized");
    EXPECT_EQ(log.lines[1], "clsControls.ssc_AddMsg: Thunk type for 0 does not exist");
    EXPECT_EQ(log.lines[2], "clsControls.ssc_UnSubclass: Thunk type for 0 does not exist");
}

TEST(ClsControlsSubclass, InvalidThunkKindIsRefused) {
    LogCapture log;
    MessageRouter router(QStringLiteral("clsControls"));
    EXPECT_FALSE(router.Lookup(5, 1, "zProbe"));
    EXPECT_FALSE(router.Lookup(1, 1, "zProbe", true));
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "clsControls.zProbe: Invalid thunk type passed");
}

TEST(ClsControlsMessageTable, SameMessageTwiceLeavesOneEntry) {
    MessageTable table;
    EXPECT_EQ(table.Add(WM_PAINT), MessageTable::AddResult::Added);
    EXPECT_EQ(table.Add(WM_PAINT), MessageTable::AddResult::AlreadyPresent);
    EXPECT_EQ(table.Count(), 1);
}

TEST(ClsControlsMessageTable, RemovedEntryIsReusedAndNeverDuplicated) {
    MessageTable table;
    table.Add(0x0201);
    table.Add(0x0202);
    table.Add(0x0203);
    table.Remove(0x0202);
    EXPECT_EQ(table.Entry(2), 0);
    EXPECT_FALSE(table.Contains(0x0202));
    table.Add(0x0204);
    EXPECT_EQ(table.Entry(2), 0x0204);
    EXPECT_EQ(table.Count(), 3);

    // A free entry ahead of a present message must not take a second copy of
    // it, or removing the message would leave it routed.
    table.Remove(0x0201);
    table.Add(0x0203);
    EXPECT_EQ(table.Entry(1), 0);
    table.Remove(0x0203);
    EXPECT_FALSE(table.Contains(0x0203));
}

TEST(ClsControlsMessageTable, AllMessagesAndEmptying) {
    MessageTable table;
    table.Add(0x0201);
    table.Add(ALL_MESSAGES);
    EXPECT_EQ(table.Count(), ALL_MESSAGES);
    EXPECT_TRUE(table.Contains(0x7777));
    table.Add(0x0202);  // already covered
    EXPECT_EQ(table.Count(), ALL_MESSAGES);
    table.Remove(ALL_MESSAGES);
    EXPECT_EQ(table.Count(), 0);
    EXPECT_FALSE(table.Contains(0x0201));
}

TEST(ClsControlsSubclass, ThirtyThirdMessageOverflowsAndIsNotRouted) {
    LogCapture log;
    Router r;
    ProbeWidget widget;
    ASSERT_TRUE(r.controls.ssc_Subclass(&widget));
    QVariantList messages;
    for (int i = 0; i < 34; ++i) messages.append(0x0400 + i);
    r.controls.ssc_AddMsg(&widget, MSG_BEFORE_AND_AFTER, messages);
    // One entry per table: the full table is not offered the 34th message.
    const std::string overflow =
        "clsControls.ssc_AddMsg: Message table overflow. Either increase the value of Const "
        "MSG_ENTRIES or use "
        "ALL_MESSAGES instead of specific message values";
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], overflow);
    EXPECT_EQ(log.lines[1], overflow);
    EXPECT_EQ(r.controls.ssc_MessageTable(&widget, MSG_BEFORE)->Count(), 32);

    r.controls.SendMessage(&widget, 0x0400 + 31, 0, 0);
    r.controls.SendMessage(&widget, 0x0400 + 32, 0, 0);
    EXPECT_EQ(r.Count(0x0400 + 31, true), 1);
    EXPECT_EQ(r.Count(0x0400 + 32, true), 0);
}

TEST(ClsControlsSubclass, OnlySmallIntegersAreMessageNumbers) {
    Router r;
    ProbeWidget widget;
    ASSERT_TRUE(r.controls.ssc_Subclass(&widget));
    r.controls.ssc_AddMsg(
        &widget, MSG_BEFORE,
        QVariantList{QStringLiteral("513"), 514.0, QVariant::fromValue<qint64>(515),
                     QVariant::fromValue<short>(0x0204), QVariant::fromValue<uint>(0x0205)});
    const MessageTable* table = r.controls.ssc_MessageTable(&widget, MSG_BEFORE);
    EXPECT_EQ(table->Count(), 2);
    EXPECT_TRUE(table->Contains(0x0204));
    EXPECT_TRUE(table->Contains(0x0205));
    EXPECT_FALSE(table->Contains(513));
}

TEST(ClsControlsSubclass, BeforeOwnAfterInThatOrderWithPointerInLParam) {
    Router r;
    ProbeWidget widget;
    widget.show();
    ASSERT_TRUE(r.controls.ssc_Subclass(&widget));
    r.controls.ssc_AddMsg(&widget, MSG_BEFORE_AND_AFTER, WM_LBUTTONDOWN);
    std::vector<std::string> order;
    r.answer = [&](bool bBefore, bool&, qint32&, qint32 uMsg) {
        if (uMsg == WM_LBUTTONDOWN)
            order.push_back(bBefore ? "before" : "after:" + std::to_string(widget.presses));
    };
    QTest::mousePress(&widget, Qt::LeftButton, Qt::NoModifier, QPoint(30, 40));
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0], "before");
    EXPECT_EQ(order[1], "after:1");
    const Seen& after = r.seen.back();
    EXPECT_EQ(clsControls::LOWORD(after.lParam), 30);
    EXPECT_EQ(clsControls::HIWORD(after.lParam), 40);
    EXPECT_EQ(after.wParam & MK_LBUTTON, MK_LBUTTON);
    EXPECT_EQ(after.lReturn, 1);  // the widget's own answer
    QTest::mouseRelease(&widget, Qt::LeftButton, Qt::NoModifier, QPoint(30, 40));
    EXPECT_EQ(r.Count(WM_LBUTTONUP, true), 0);  // not in either table
}

TEST(ClsControlsSubclass, AllMessagesInAfterTableRoutesMessagesNeverAdded) {
    Router r;
    ProbeWidget widget;
    widget.show();
    ASSERT_TRUE(r.controls.ssc_Subclass(&widget));
    r.controls.ssc_AddMsg(&widget, MSG_AFTER, ALL_MESSAGES);
    QTest::mouseClick(&widget, Qt::RightButton, Qt::NoModifier, QPoint(5, 6));
    widget.resize(300, 120);
    EXPECT_EQ(r.Count(WM_RBUTTONDOWN, false), 1);
    EXPECT_EQ(r.Count(WM_RBUTTONUP, false), 1);
    EXPECT_EQ(r.Count(WM_SIZE, false), 1);
    EXPECT_EQ(r.Count(WM_RBUTTONDOWN, true), 0);
    const auto size =
        std::find_if(r.seen.begin(), r.seen.end(), [](const Seen& s) { return s.uMsg == WM_SIZE; });
    EXPECT_EQ(clsControls::LOWORD(size->lParam), 300);
    EXPECT_EQ(clsControls::HIWORD(size->lParam), 120);

    r.seen.clear();
    r.controls.ssc_DelMsg(&widget, MSG_AFTER, ALL_MESSAGES);
    QTest::mouseClick(&widget, Qt::RightButton, Qt::NoModifier, QPoint(5, 6));
    EXPECT_TRUE(r.seen.empty());
}

TEST(ClsControlsSubclass, HandledInBeforePhaseAnswersWithoutTheWidget) {
    Router r;
    ProbeWidget widget;
    widget.show();
    ASSERT_TRUE(r.controls.ssc_Subclass(&widget));
    r.controls.ssc_AddMsg(&widget, MSG_BEFORE_AND_AFTER, WM_LBUTTONDOWN);
    r.answer = [](bool bBefore, bool& bHandled, qint32& lReturn, qint32) {
        if (bBefore) {
            bHandled = true;
            lReturn = 1;
        }
    };
    EXPECT_EQ(r.controls.SendMessage(&widget, WM_LBUTTONDOWN, MK_LBUTTON, MakeLong(3, 4)), 1);
    QTest::mousePress(&widget, Qt::LeftButton, Qt::NoModifier, QPoint(3, 4));
    EXPECT_EQ(widget.presses, 0);
    EXPECT_EQ(r.Count(WM_LBUTTONDOWN, true), 2);
    EXPECT_EQ(r.Count(WM_LBUTTONDOWN, false), 0);  // no after phase either
}

TEST(ClsControlsSubclass, AfterPhaseMayChangeTheAnswer) {
    Router r;
    ProbeWidget widget;
    ASSERT_TRUE(r.controls.ssc_Subclass(&widget));
    r.controls.ssc_AddMsg(&widget, MSG_AFTER, WM_LBUTTONDOWN);
    r.answer = [](bool, bool&, qint32& lReturn, qint32) { lReturn = 42; };
    EXPECT_EQ(r.controls.SendMessage(&widget, WM_LBUTTONDOWN, MK_LBUTTON, 0), 42);
    EXPECT_EQ(widget.presses, 1);
}

TEST(ClsControlsSubclass, HandlerSendingToItsOwnWindowIsRoutedAgain) {
    Router r;
    ProbeWidget widget;
    ASSERT_TRUE(r.controls.ssc_Subclass(&widget));
    r.controls.ssc_AddMsg(&widget, MSG_BEFORE, WM_CLOSE, WM_SETFOCUS);
    r.answer = [&](bool, bool&, qint32&, qint32 uMsg) {
        if (uMsg == WM_CLOSE) r.controls.SendMessage(&widget, WM_SETFOCUS, 0, 0);
    };
    r.controls.SendMessage(&widget, WM_CLOSE, 0, 0);
    ASSERT_EQ(r.seen.size(), 2u);
    EXPECT_EQ(r.seen[0].uMsg, WM_CLOSE);
    EXPECT_EQ(r.seen[1].uMsg, WM_SETFOCUS);
}

TEST(ClsControlsSubclass, CallOrigWndProcBypassesTheRoute) {
    Router r;
    ProbeWidget widget;
    ASSERT_TRUE(r.controls.ssc_Subclass(&widget));
    r.controls.ssc_AddMsg(&widget, MSG_BEFORE_AND_AFTER, ALL_MESSAGES);
    EXPECT_EQ(r.controls.ssc_CallOrigWndProc(&widget, WM_LBUTTONDOWN, MK_LBUTTON, MakeLong(1, 1)),
              1);
    EXPECT_EQ(widget.presses, 1);
    EXPECT_TRUE(r.seen.empty());
    EXPECT_EQ(r.controls.ssc_CallOrigWndProc(&widget, 0x7FFF, 0, 0), 0);
}

TEST(ClsControlsSubclass, UserValueIsByReferenceAndChangeable) {
    clsControls controls;
    ProbeWidget widget;
    std::vector<qint32> values;
    controls.CallBackProc = [&](bool, bool&, qint32&, QWidget*, qint32, qint32, qint32,
                                qint32& lParamUser) {
        values.push_back(lParamUser);
        lParamUser = 7;
    };
    ASSERT_TRUE(controls.ssc_Subclass(&widget, 3));
    controls.ssc_AddMsg(&widget, MSG_BEFORE, WM_CLOSE);
    controls.SendMessage(&widget, WM_CLOSE, 0, 0);
    controls.SendMessage(&widget, WM_CLOSE, 0, 0);
    controls.zSet_lParamUser(&widget, 11);
    controls.SendMessage(&widget, WM_CLOSE, 0, 0);
    EXPECT_EQ(values, (std::vector<qint32>{3, 7, 11}));
}

TEST(ClsControlsSubclass, UnSubclassStopsRoutingAndRestoresTheWindow) {
    Router r;
    ProbeWidget widget;
    widget.show();
    ASSERT_TRUE(r.controls.ssc_Subclass(&widget, 0, 1, nullptr, true, nullptr, false, 1));
    EXPECT_TRUE(widget.acceptDrops());
    r.controls.ssc_AddMsg(&widget, MSG_BEFORE, ALL_MESSAGES);
    r.controls.ssc_UnSubclass(&widget);
    EXPECT_FALSE(widget.acceptDrops());
    QTest::mouseClick(&widget, Qt::LeftButton);
    EXPECT_TRUE(r.seen.empty());
    EXPECT_EQ(widget.presses, 1);
    // A handler ending its own route from inside a routed message.
    ASSERT_TRUE(r.controls.ssc_Subclass(&widget));
    r.controls.ssc_AddMsg(&widget, MSG_BEFORE_AND_AFTER, WM_LBUTTONDOWN);
    r.answer = [&](bool, bool&, qint32&, qint32) { r.controls.ssc_Terminate(); };
    QTest::mouseClick(&widget, Qt::LeftButton);
    EXPECT_EQ(r.Count(WM_LBUTTONDOWN, true), 1);
    EXPECT_EQ(r.Count(WM_LBUTTONDOWN, false), 0);
    EXPECT_EQ(widget.presses, 2);
}

TEST(ClsControlsSubclass, DestroyedWindowTakesItsRouteAlong) {
    Router r;
    auto widget = std::make_unique<ProbeWidget>();
    QWidget* raw = widget.get();
    ASSERT_TRUE(r.controls.ssc_Subclass(raw));
    widget.reset();
    LogCapture log;
    r.controls.ssc_AddMsg(raw, MSG_BEFORE, WM_PAINT);
    EXPECT_EQ(log.lines.size(), 1u);
}

TEST(ClsControlsSubclass, KeysArriveAsVirtualKeyMessages) {
    Router r;
    ProbeWidget widget;
    widget.show();
    ASSERT_TRUE(r.controls.ssc_Subclass(&widget));
    r.controls.ssc_AddMsg(&widget, MSG_BEFORE, WM_KEYDOWN, WM_KEYUP);
    QTest::keyClick(&widget, Qt::Key_F3);
    QTest::keyClick(&widget, Qt::Key_5, Qt::KeypadModifier);
    ASSERT_EQ(r.seen.size(), 4u);
    EXPECT_EQ(r.seen[0].uMsg, WM_KEYDOWN);
    EXPECT_EQ(r.seen[0].wParam, 0x72);
    EXPECT_EQ(r.seen[1].uMsg, WM_KEYUP);
    EXPECT_NE(r.seen[1].lParam & static_cast<qint32>(0x80000000u),
              0);  // transition bit of a key going up
    EXPECT_EQ(r.seen[2].wParam, 0x65);
}

TEST(ClsControlsHotKeys, IdentifiersFollowSuccessfulRegistrations) {
    Router r;
    ProbeWidget widget;
    widget.show();
    QApplication::setActiveWindow(&widget);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&widget));
    ASSERT_TRUE(r.controls.ssc_Subclass(&widget));
    r.controls.ssc_AddMsg(&widget, MSG_BEFORE_AND_AFTER, ALL_MESSAGES);

    EXPECT_NE(r.controls.HotKeyActivate(&widget, MOD_CONTROL, 70), 0);  // Ctrl+F: 0
    EXPECT_EQ(r.controls.HotKeyActivate(&widget, 0, 0), 0);             // no such key: refused
    EXPECT_NE(r.controls.HotKeyActivate(&widget, 0, 112), 0);           // F1: 1
    EXPECT_NE(r.controls.HotKeyActivate(&widget, 0, 114), 0);           // F3: 2
    EXPECT_EQ(r.controls.HotKeyActivate(&widget, 0, 114), 0);           // twice: refused
    EXPECT_EQ(r.controls.HotKeyCount(), 3);

    const auto hotKeys = [&]() {
        std::vector<qint32> ids;
        for (const Seen& s : r.seen) {
            if (s.uMsg == WM_HOTKEY && !s.bBefore) ids.push_back(s.wParam);
        }
        return ids;
    };
    QTest::keyClick(&widget, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClick(&widget, Qt::Key_F3);
    QTest::keyClick(&widget, Qt::Key_F1);
    EXPECT_EQ(hotKeys(), (std::vector<qint32>{0, 2, 1}));
    const auto last = std::find_if(r.seen.rbegin(), r.seen.rend(),
                                   [](const Seen& s) { return s.uMsg == WM_HOTKEY; });
    EXPECT_EQ(clsControls::HIWORD(last->lParam), 112);

    r.controls.HotKeyDeactivate();
    EXPECT_EQ(r.controls.HotKeyCount(), 0);
    r.seen.clear();
    QTest::keyClick(&widget, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(hotKeys().empty());

    EXPECT_NE(r.controls.HotKeyActivate(&widget, 0, 114), 0);  // F3 again: identifier 0
    QTest::keyClick(&widget, Qt::Key_F3);
    EXPECT_EQ(hotKeys(), (std::vector<qint32>{0}));
}

TEST(ClsControlsHotKeys, KeysBelongToTheirWindowOnly) {
    Router r;
    ProbeWidget editor;
    ProbeWidget other;
    editor.show();
    other.show();
    ASSERT_TRUE(r.controls.ssc_Subclass(&editor));
    r.controls.ssc_AddMsg(&editor, MSG_AFTER, WM_HOTKEY);
    ASSERT_NE(r.controls.HotKeyActivate(&editor, 0, 114), 0);
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    QTest::keyClick(&other, Qt::Key_F3);
    EXPECT_EQ(r.Count(WM_HOTKEY, false), 0);
    editor.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&editor));
    QTest::keyClick(&editor, Qt::Key_F3);
    EXPECT_EQ(r.Count(WM_HOTKEY, false), 1);
}

std::unique_ptr<QMimeData> Files(const QStringList& paths, bool withRemote = false) {
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& path : paths) urls.append(QUrl::fromLocalFile(path));
    if (withRemote) urls.insert(1, QUrl(QStringLiteral("https://example.org/a.srt")));
    mime->setUrls(urls);
    return mime;
}

TEST(ClsControlsDrop, ThreeFilesGiveThreeEventsPerPhaseInOrder) {
    clsControls controls;
    ProbeWidget widget;
    widget.show();
    std::vector<std::pair<QString, bool>> drops;
    controls.OLEDragDrop = [&](const QString& name, bool bBefore) {
        drops.emplace_back(name, bBefore);
    };
    ASSERT_TRUE(controls.ssc_Subclass(&widget, 0, 1, nullptr, true, nullptr, false, 1));
    controls.ssc_AddMsg(&widget, MSG_BEFORE_AND_AFTER, ALL_MESSAGES);

    const QString longName =
        QStringLiteral("/tmp/") + QString(300, QLatin1Char('x')) + QStringLiteral(".srt");
    const auto mime =
        Files({QStringLiteral("/tmp/a.srt"), QStringLiteral("/tmp/字幕 b.ass"), longName}, true);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &drop);
    EXPECT_TRUE(drop.isAccepted());

    ASSERT_EQ(drops.size(), 6u);
    const QString expected[] = {QStringLiteral("/tmp/a.srt"), QStringLiteral("/tmp/字幕 b.ass"),
                                longName};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(drops[static_cast<std::size_t>(i)], std::make_pair(expected[i], true));
        EXPECT_EQ(drops[static_cast<std::size_t>(i + 3)], std::make_pair(expected[i], false));
    }
}

TEST(ClsControlsDrop, NoDropModeNoAcceptance) {
    clsControls controls;
    ProbeWidget widget;
    int drops = 0;
    controls.OLEDragDrop = [&](const QString&, bool) { ++drops; };
    ASSERT_TRUE(controls.ssc_Subclass(&widget));
    controls.ssc_AddMsg(&widget, MSG_BEFORE_AND_AFTER, ALL_MESSAGES);
    EXPECT_FALSE(widget.acceptDrops());
    const auto mime = Files({QStringLiteral("/tmp/a.srt")});
    QDragEnterEvent enter(QPoint(1, 1), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    enter.ignore();
    QCoreApplication::sendEvent(&widget, &enter);
    EXPECT_FALSE(enter.isAccepted());
}

TEST(ClsControlsHooks, GlobalAndUnknownKindsAreRefused) {
    LogCapture log;
    clsControls controls;
    EXPECT_FALSE(controls.shk_SetHook(WH_KEYBOARD, true));
    EXPECT_FALSE(controls.shk_SetHook(13));
    EXPECT_TRUE(controls.shk_SetHook(WH_KEYBOARD));
    EXPECT_FALSE(controls.shk_SetHook(WH_KEYBOARD));
    EXPECT_FALSE(controls.shk_SetHook(WH_MOUSE, false, MSG_BEFORE, 0, 9));
    ASSERT_EQ(log.lines.size(), 4u);
    EXPECT_EQ(log.lines[0], "clsControls.shk_SetHook: SetWindowsHookEx failed, error #1428");
    EXPECT_EQ(log.lines[1], "clsControls.shk_SetHook: SetWindowsHookEx failed, error #1426");
    EXPECT_EQ(log.lines[2], "clsControls.shk_SetHook: Hook is already established");
    EXPECT_EQ(log.lines[3], "clsControls.shk_SetHook: Callback method not found");
}

TEST(ClsControlsHooks, KeyboardHookSeesEachKeystrokeOnceAndDescribesIt) {
    LogCapture log;
    clsControls controls;
    ProbeWidget widget;
    QWidget child(&widget);  // unaccepted keys climb to the parent: still one call
    widget.show();
    child.setFocusPolicy(Qt::StrongFocus);
    std::vector<std::array<qint32, 4>> calls;
    controls.HookMessage = [&](qint32 kind, qint32 nCode, qint32 wParam, qint32 lParam) {
        calls.push_back({kind, nCode, wParam, lParam});
    };
    ASSERT_TRUE(controls.shk_SetHook(WH_KEYBOARD));
    QTest::keyClick(&child, Qt::Key_A);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0][0], WH_KEYBOARD);
    EXPECT_EQ(calls[0][1], 0);
    EXPECT_EQ(calls[0][2], 0x41);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0].rfind("nCode: &H0\twParam: &H41\tA\tlParam: &H", 0), 0u) << log.lines[0];
    EXPECT_NE(log.lines[0].find("Note: Key is down"), std::string::npos);
    EXPECT_NE(log.lines[1].find("Note: Key is up"), std::string::npos);

    controls.shk_UnHook(WH_KEYBOARD);
    QTest::keyClick(&child, Qt::Key_A);
    EXPECT_EQ(calls.size(), 2u);
}

TEST(ClsControlsHooks, KeyDescriptionNames) {
    struct Case {
        qint32 key;
        qint32 flags;
        const char* part;
    };
    const Case cases[] = {
        {0x71, 0, "\t    F2\t"},
        {0x63, 0, "\t    Numpad3\t"},
        {0x6B, 0, "\t    Add +\t"},
        {0x6D, 0, "\t    Subtract -\t"},
        {0x90, 0, "\t    Num Lock\t"},
        {0x5D, 0, "\t    Context Menu Key\t"},
        {0x5B, 0, "\t    Flying Window Key\t"},
        {0x1B, 0, "\t    Other\t"},
        {0x37, 1 << 30, "Note: Key held down"},
        {0x37, 1 << 29, "Note: Key is down\tAdditional: ALT Key is also down"},
    };
    for (const Case& c : cases) {
        const std::string text = FromQString(KeyboardHookDescription(0, c.key, c.flags));
        EXPECT_NE(text.find(c.part), std::string::npos) << text;
    }
}

TEST(ClsControlsHooks, MouseHookAndSwallowingInput) {
    clsControls controls;
    ProbeWidget widget;
    widget.show();
    std::vector<qint32> messages;
    controls.HookMessage = [&](qint32, qint32, qint32 wParam, qint32) {
        messages.push_back(wParam);
    };
    ASSERT_TRUE(controls.shk_SetHook(WH_MOUSE));
    QTest::mouseClick(&widget, Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
    EXPECT_EQ(messages, (std::vector<qint32>{WM_LBUTTONDOWN, WM_LBUTTONUP}));
    EXPECT_EQ(widget.presses, 1);
}

// A plain owner whose methods are reached by ordinal.
struct Owner : RoutingOwner {
    std::vector<std::vector<qintptr>> calls;
    std::vector<HookCall> hooks;
    bool HasRoutingMethod(MethodKind kind, int nOrdinal, int nParamCount) const override {
        if (kind == MethodKind::Hook) return nOrdinal == 1;
        return kind == MethodKind::Callback && nOrdinal == 2 && nParamCount == 2;
    }
    qintptr RoutedCallback(int, std::span<const qintptr> args) override {
        calls.emplace_back(args.begin(), args.end());
        return calls.size() < 2 ? 1 : 0;
    }
    void RoutedHookCall(int, HookCall& call) override {
        hooks.push_back(call);
        if (call.bBefore) {
            call.bHandled = true;
            call.lReturn = 1;
        }
    }
};

TEST(ClsControlsCallbacks, HandlesCallTheOwnersMethod) {
    LogCapture log;
    clsControls controls;
    Owner owner;
    EXPECT_EQ(controls.scb_SetCallbackAddr(-1, 2, &owner), 0u);
    EXPECT_EQ(controls.scb_SetCallbackAddr(3, 2, &owner), 0u);
    const quintptr handle = controls.scb_SetCallbackAddr(2, 2, &owner);
    ASSERT_NE(handle, 0u);
    const std::array<qintptr, 2> args{5, 6};
    EXPECT_EQ(controls.scb_Call(handle, args), 1);
    ASSERT_EQ(owner.calls.size(), 1u);
    EXPECT_EQ(owner.calls[0], (std::vector<qintptr>{5, 6}));
    controls.scb_ReleaseCallback(handle);
    EXPECT_EQ(controls.scb_Call(handle, args), 0);
    controls.scb_ReleaseCallback(handle);
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[0], "clsControls.scb_SetCallbackAddr: Invalid Parameter count");
    EXPECT_EQ(log.lines[1], "clsControls.scb_SetCallbackAddr: Callback address not found.");
    EXPECT_EQ(log.lines[2], "clsControls.scb_ReleaseCallback: Thunk type for 2 does not exist");
}

TEST(ClsControlsCallbacks, EnumerationStopsWhenTheOwnerSaysSo) {
    clsControls controls;
    Owner owner;
    QWidget a, b, c;
    EXPECT_TRUE(controls.EnumWindowHandles(&owner, 2));
    EXPECT_EQ(owner.calls.size(), 2u);  // the second answer was 0

    std::vector<QWidget*> windows;
    controls.EnumWindowHwnd = [&](QWidget* w) { windows.push_back(w); };
    EXPECT_TRUE(controls.EnumWindowHandles());
    EXPECT_NE(std::find(windows.begin(), windows.end(), &b), windows.end());
    EXPECT_FALSE(controls.EnumWindowHandles(&owner, 9));

    QStringList fonts;
    controls.EnumSystemFont = [&](const QString& name) { fonts.append(name); };
    EXPECT_TRUE(controls.EnumFonts());
    EXPECT_EQ(fonts, QFontDatabase::families());
}

TEST(ClsControlsHooks, OwnerSwallowsInputInBeforePhase) {
    clsControls controls;
    Owner owner;
    ProbeWidget widget;
    widget.show();
    ASSERT_TRUE(controls.shk_SetHook(WH_MOUSE, false, MSG_BEFORE_AND_AFTER, 9, 1, &owner));
    QTest::mouseClick(&widget, Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
    EXPECT_EQ(widget.presses, 0);
    ASSERT_FALSE(owner.hooks.empty());
    EXPECT_EQ(owner.hooks[0].lParamUser, 9);
    EXPECT_EQ(owner.hooks[0].wParam, WM_LBUTTONDOWN);
    controls.shk_TerminateHooks();
    QTest::mouseClick(&widget, Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
    EXPECT_EQ(widget.presses, 1);
}

TEST(ClsControlsTimer, TicksRaiseTimerEventUntilStopped) {
    clsControls controls;
    ProbeWidget widget;
    std::vector<std::array<qint32, 2>> ticks;
    QWidget* tickWindow = nullptr;
    controls.TimerEvent = [&](QWidget* hwnd, qint32 uMsg, qint32 id, qint32) {
        tickWindow = hwnd;
        ticks.push_back({uMsg, id});
    };
    EXPECT_FALSE(controls.TimerEventEnabled());
    controls.StartTimer(&widget, 5);
    EXPECT_TRUE(controls.TimerEventEnabled());
    EXPECT_TRUE(QTest::qWaitFor([&]() { return ticks.size() >= 2; }, 5000));
    EXPECT_EQ(ticks[0][0], WM_TIMER);
    EXPECT_EQ(tickWindow, &widget);
    controls.StopTimer();
    EXPECT_FALSE(controls.TimerEventEnabled());
}

TEST(ClsControlsWords, LowAndHighWords) {
    EXPECT_EQ(clsControls::LOWORD(static_cast<qint32>(0xFFFF0001u)), 1);
    EXPECT_EQ(clsControls::HIWORD(static_cast<qint32>(0xFFFF0001u)), 65535);
    EXPECT_EQ(clsControls::LOWORD(0x0000FFFF), -1);
    EXPECT_EQ(clsControls::HIWORD(MakeLong(-5, 70)), 70);
    EXPECT_EQ(clsControls::LOWORD(MakeLong(-5, 70)), -5);
}

TEST(ClsControlsWords, MessageNames) {
    const std::pair<qint32, const char*> cases[] = {
        {0, "WA_INACTIVE"},
        {1, "WA_ACTIVE"},
        {2, "WA_CLICKACTIVE"},
        {0x0005, "WM_SIZE"},
        {0x000F, "WM_PAINT"},
        {0x0233, "WM_DROPFILES"},
        {0x0312, "WM_HOTKEY"},
        {0x02A3, "WM_MOUSELEAVE"},
        {0x0200, "WM_MOUSEMOVE"},
        {0x0100, "WM_KEYDOWN"},
        {0x0006, "WM_ACTIVATE"},
        {0x0203, "WM_LBUTTONDBLCLK"},
        {0x9999, ""},
        {-1, ""},
    };
    for (const auto& [number, name] : cases) {
        EXPECT_EQ(clsControls::GetWindowMessageString(number), QString::fromLatin1(name)) << number;
    }
    int named = 0;
    for (qint32 number = 0; number <= 0xFFFF; ++number)
        named += clsControls::GetWindowMessageString(number).isEmpty() ? 0 : 1;
    EXPECT_GE(named, 150);
}

}  // namespace
}  // namespace lumeval
