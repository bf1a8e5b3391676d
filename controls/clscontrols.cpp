#include "controls/clscontrols.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFontDatabase>
#include <QKeySequence>
#include <QLinearGradient>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>
#include <QTimer>
#include <QUrl>
#include <QVariantAnimation>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cmath>

#include "controls/logsink.h"

namespace lumeval {

namespace {

// Ordinals of this object's own routed methods, counted from the end.
constexpr int kWindowMessageMethod = 1;
constexpr int kHookMethod = 2;
constexpr int kEnumWindowsMethod = 3;
constexpr int kEnumFontsMethod = 4;
constexpr int kTimerMethod = 5;

constexpr int kTrailWidth = 5;
// Font type passed to a font-enumeration callback (a TrueType face).
constexpr qintptr kTrueTypeFontType = 4;

qint32 TickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<qint32>(
        static_cast<quint32>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()));
}

int ShiftOfKeyState(qint32 keyState) {
    int shift = 0;
    if (keyState & MK_SHIFT) shift |= 1;
    if (keyState & MK_CONTROL) shift |= 2;
    if (QApplication::keyboardModifiers() & Qt::AltModifier) shift |= 4;
    return shift;
}

QPoint PointOf(qint32 lParam) {
    return QPoint(LoWord(lParam), static_cast<qint16>(HiWord(lParam)));
}

QRect RectOf(qint32 left, qint32 top, qint32 right, qint32 bottom) {
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

}  // namespace

struct clsControls::HotKey {
    qint32 id = 0;
    QPointer<QWidget> window;
    // Owned by the window as well: gone when the window goes first.
    QPointer<QShortcut> shortcut;
    qint32 modifiers = 0;
    qint32 keyCode = 0;
    ~HotKey() { delete shortcut.data(); }
};

clsControls::clsControls(QObject* parent)
    : QObject(parent), m_router(QStringLiteral("clsControls")) {}

clsControls::~clsControls() {
    // Timer, routes, hooks, callbacks, then hot keys; then the rest.
    StopTimer();
    ssc_Terminate();
    shk_TerminateHooks();
    scb_TerminateCallbacks();
    HotKeyDeactivate();
    LayeredWindowTerminate();
    for (auto& [widget, ops] : m_kept) {
        AttachKeptLayer(widget, false);
        disconnect(m_keptWatch[widget]);
    }
    m_kept.clear();
    m_keptWatch.clear();
    m_controls.Clear();
}

// ---------------------------------------------------------------------------
// Subclassing

bool clsControls::ssc_Subclass(QWidget* lng_hWnd, qint32 lParamUser, int nOrdinal,
                               RoutingOwner* oCallback, bool /*bIdeSafety*/, bool* bUnicode,
                               bool bIsAPIwindow, qint32 lOLEDropMode) {
    RoutingOwner* owner = OwnerOr(oCallback);
    if (!m_router.Subclass(lng_hWnd, lParamUser, nOrdinal, owner, bIsAPIwindow, lOLEDropMode))
        return false;
    if (bUnicode != nullptr) *bUnicode = true;
    if (owner == this && !m_window) {
        m_window = lng_hWnd;
        m_referenceSize = lng_hWnd->size();
        m_windowActivated = lng_hWnd->isActiveWindow();
        m_windowToolTip = lng_hWnd->toolTip();
        m_router.SetPaintLayer(lng_hWnd, this,
                               [this](QPainter& painter) { PaintFramework(painter); });
        if (m_kept.count(lng_hWnd) != 0) AttachKeptLayer(lng_hWnd, false);
    }
    return true;
}

void clsControls::ssc_AddMsg(QWidget* lng_hWnd, int When, const QVariantList& Messages) {
    m_router.AddMsg(lng_hWnd, When, Messages);
}

void clsControls::ssc_DelMsg(QWidget* lng_hWnd, int When, const QVariantList& Messages) {
    m_router.DelMsg(lng_hWnd, When, Messages);
}

qint32 clsControls::ssc_CallOrigWndProc(QWidget* lng_hWnd, qint32 uMsg, qint32 wParam,
                                        qint32 lParam) {
    return m_router.CallOrigWndProc(lng_hWnd, uMsg, wParam, lParam);
}

void clsControls::zSet_lParamUser(QWidget* lng_hWnd, qint32 NewValue) {
    m_router.SetUserValue(lng_hWnd, NewValue);
}

void clsControls::ssc_UnSubclass(QWidget* lng_hWnd) {
    const bool framework = lng_hWnd != nullptr && lng_hWnd == m_window;
    m_router.UnSubclass(lng_hWnd);
    if (framework && !m_router.IsSubclassed(lng_hWnd)) {
        m_router.SetPaintLayer(lng_hWnd, this, nullptr);
        m_window = nullptr;
        if (m_kept.count(lng_hWnd) != 0) AttachKeptLayer(lng_hWnd, true);
        m_hovered = m_pressed = -1;
    }
}

void clsControls::ssc_Terminate() {
    for (QWidget* window : m_router.SubclassedWindows()) ssc_UnSubclass(window);
}

qint32 clsControls::SendMessage(QWidget* lng_hWnd, qint32 uMsg, qint32 wParam, qint32 lParam) {
    return m_router.SendMessage(lng_hWnd, uMsg, wParam, lParam);
}

const MessageTable* clsControls::ssc_MessageTable(QWidget* lng_hWnd, int When) const {
    return m_router.Table(lng_hWnd, When);
}

// ---------------------------------------------------------------------------
// Hooks and callbacks

bool clsControls::shk_SetHook(qint32 HookType, bool bGlobal, int When, qint32 lParamUser,
                              int nOrdinal, RoutingOwner* oCallback, bool /*bIdeSafety*/,
                              bool /*bUnicode*/) {
    return m_router.SetHook(HookType, bGlobal, When, lParamUser, nOrdinal, OwnerOr(oCallback));
}

void clsControls::shk_UnHook(qint32 HookType) {
    m_router.UnHook(HookType);
}

void clsControls::shk_TerminateHooks() {
    m_router.UnHookAll();
}

quintptr clsControls::scb_SetCallbackAddr(int nParamCount, int nOrdinal, RoutingOwner* oCallback,
                                          bool /*bIdeSafety*/, bool bIsTimerCallback) {
    return m_router.SetCallback(nParamCount, nOrdinal, OwnerOr(oCallback), bIsTimerCallback);
}

void clsControls::scb_ReleaseCallback(quintptr nAddr) {
    m_router.ReleaseCallback(nAddr);
}

void clsControls::scb_TerminateCallbacks() {
    m_router.ReleaseAllCallbacks();
    // The timer's callback went with them.
    m_timerCallback = 0;
}

qintptr clsControls::scb_Call(quintptr nAddr, std::span<const qintptr> args) {
    return m_router.InvokeCallback(nAddr, args);
}

bool clsControls::HasRoutingMethod(MethodKind kind, int nOrdinal, int nParamCount) const {
    switch (kind) {
        case MethodKind::WindowMessage:
            return nOrdinal == kWindowMessageMethod;
        case MethodKind::Hook:
            return nOrdinal == kHookMethod;
        case MethodKind::Callback:
            return (nOrdinal == kEnumWindowsMethod && nParamCount == 2) ||
                   (nOrdinal == kEnumFontsMethod && nParamCount == 4) ||
                   (nOrdinal == kTimerMethod && nParamCount == 4);
    }
    return false;
}

void clsControls::RoutedWindowMessage(int /*nOrdinal*/, RoutedMessage& message) {
    if (message.lng_hWnd == m_window) FrameworkMessage(message);
    if (CallBackProc) {
        CallBackProc(message.bBefore, message.bHandled, message.lReturn, message.lng_hWnd,
                     message.uMsg, message.wParam, message.lParam, message.lParamUser);
    }
}

void clsControls::RoutedHookCall(int /*nOrdinal*/, HookCall& call) {
    if (call.HookType == WH_KEYBOARD && call.nCode == 0)
        LogWrite(KeyboardHookDescription(call.nCode, call.wParam, call.lParam));
    if (HookMessage) HookMessage(call.HookType, call.nCode, call.wParam, call.lParam);
}

qintptr clsControls::RoutedCallback(int nOrdinal, std::span<const qintptr> args) {
    switch (nOrdinal) {
        case kEnumWindowsMethod:
            if (EnumWindowHwnd) EnumWindowHwnd(reinterpret_cast<QWidget*>(args[0]));
            return 1;
        case kEnumFontsMethod:
            if (EnumSystemFont && args[0] != 0)
                EnumSystemFont(*reinterpret_cast<const QString*>(args[0]));
            return 1;
        case kTimerMethod:
            if (TimerEvent) {
                TimerEvent(reinterpret_cast<QWidget*>(args[0]), static_cast<qint32>(args[1]),
                           static_cast<qint32>(args[2]), static_cast<qint32>(args[3]));
            }
            return 0;
        default:
            return 0;
    }
}

// ---------------------------------------------------------------------------
// Hot keys, timer, enumeration

qint32 clsControls::HotKeyActivate(QWidget* lhwnd, qint32 Modifier, qint32 KeyCode) {
    const int key = QtKeyFromVirtualKey(KeyCode);
    if (lhwnd == nullptr || key == 0 ||
        (Modifier & ~(MOD_ALT | MOD_CONTROL | MOD_SHIFT | MOD_WIN)) != 0)
        return 0;
    // The same combination twice on one window would make both ambiguous.
    for (const auto& hotKey : m_hotKeys) {
        if (hotKey->window == lhwnd && hotKey->modifiers == Modifier && hotKey->keyCode == KeyCode)
            return 0;
    }
    auto hotKey = std::make_unique<HotKey>();
    hotKey->id = static_cast<qint32>(m_hotKeys.size());
    hotKey->window = lhwnd;
    hotKey->modifiers = Modifier;
    hotKey->keyCode = KeyCode;
    hotKey->shortcut = new QShortcut(
        QKeySequence(QKeyCombination::fromCombined(QtModifiersFromHotKeyModifiers(Modifier) | key)),
        lhwnd);
    hotKey->shortcut->setContext(Qt::WindowShortcut);
    hotKey->shortcut->setAutoRepeat(false);
    const qint32 id = hotKey->id;
    QPointer<QWidget> window(lhwnd);
    connect(hotKey->shortcut.data(), &QShortcut::activated, this,
            [this, window, id, Modifier, KeyCode]() {
                if (window) DeliverHotKey(window, id, Modifier, KeyCode);
            });
    m_hotKeyWindow = lhwnd;
    m_hotKeys.push_back(std::move(hotKey));
    return 1;
}

void clsControls::DeliverHotKey(QWidget* window, qint32 id, qint32 modifiers, qint32 keyCode) {
    // A window that is not routed has no one to tell; its own answer is nothing.
    if (!m_router.IsSubclassed(window)) return;
    m_router.SendMessage(window, WM_HOTKEY, id, MakeLong(modifiers, keyCode));
}

QVariant clsControls::HotKeyDeactivate() {
    if (!m_hotKeys.empty()) {
        m_hotKeys.clear();
        m_hotKeyWindow = nullptr;
    }
    return QVariant();
}

void clsControls::StartTimer(QWidget* hwnd, int uElapse) {
    StopTimer();
    m_timerCallback = scb_SetCallbackAddr(4, kTimerMethod, this, true, true);
    if (m_timerCallback == 0) return;
    m_timerWindow = hwnd;
    m_timer = new QTimer(this);
    m_timer->setInterval(std::max(uElapse, 1));
    connect(m_timer, &QTimer::timeout, this, [this]() {
        if (m_timer == nullptr) return;
        const std::array<qintptr, 4> args{reinterpret_cast<qintptr>(m_timerWindow.data()), WM_TIMER,
                                          m_timer->timerId(), TickCount()};
        m_router.InvokeCallback(m_timerCallback, args);
    });
    m_timer->start();
}

void clsControls::StopTimer() {
    if (m_timer != nullptr) {
        m_timer->stop();
        m_timer->deleteLater();
        m_timer = nullptr;
    }
    if (m_timerCallback != 0) {
        m_router.ReleaseCallback(m_timerCallback);
        m_timerCallback = 0;
    }
    m_timerWindow = nullptr;
}

bool clsControls::TimerEventEnabled() const {
    return m_timer != nullptr && m_timer->isActive();
}

bool clsControls::EnumWindowHandles(RoutingOwner* oCallback, int nOrdinal) {
    const quintptr callback = scb_SetCallbackAddr(2, nOrdinal, oCallback);
    if (callback == 0) return false;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        const std::array<qintptr, 2> args{reinterpret_cast<qintptr>(window), 0};
        // Like the platform's enumeration, a zero answer stops it.
        if (m_router.InvokeCallback(callback, args) == 0) break;
    }
    m_router.ReleaseCallback(callback);
    return true;
}

bool clsControls::EnumFonts(QPaintDevice* /*hdc*/, RoutingOwner* oCallback, int nOrdinal) {
    const quintptr callback = scb_SetCallbackAddr(4, nOrdinal, oCallback);
    if (callback == 0) return false;
    // The callback's first argument points at the family name (a QString).
    const QStringList families = QFontDatabase::families();
    for (const QString& family : families) {
        const std::array<qintptr, 4> args{reinterpret_cast<qintptr>(&family), 0, kTrueTypeFontType,
                                          0};
        if (m_router.InvokeCallback(callback, args) == 0) break;
    }
    m_router.ReleaseCallback(callback);
    return true;
}

// ---------------------------------------------------------------------------
// The framework's own handling of routed messages

void clsControls::FrameworkMessage(RoutedMessage& message) {
    if (message.uMsg == WM_DROPFILES) {
        HandleDrop(message);
        return;
    }
    if (message.uMsg == WM_ACTIVATE) {
        const bool active = LoWord(message.wParam) != WA_INACTIVE;
        if (active != m_windowActivated) {
            m_windowActivated = active;
            if (ControlStatusChanged) ControlStatusChanged(2, active);
        }
        return;
    }
    if (message.bBefore) return;
    switch (message.uMsg) {
        case WM_MOUSEMOVE:
            PointerMove(PointOf(message.lParam), message.wParam);
            break;
        case WM_MOUSELEAVE: {
            const qint32 left = m_hovered;
            m_hovered = -1;
            if (left >= 0) {
                RepaintControl(left);
                if (m_window) m_window->setToolTip(m_windowToolTip);
                const ControlRecord* record = m_controls.Find(left);
                if (MouseLeave) MouseLeave(record != nullptr ? record->Tag : QString(), left);
            }
            break;
        }
        case WM_LBUTTONDOWN:
            ButtonPressed(PointOf(message.lParam));
            break;
        case WM_LBUTTONUP:
            ButtonReleased(PointOf(message.lParam), 1);
            break;
        case WM_RBUTTONUP:
            ButtonReleased(PointOf(message.lParam), 2);
            break;
        case WM_MBUTTONUP:
            ButtonReleased(PointOf(message.lParam), 4);
            break;
        case WM_LBUTTONDBLCLK: {
            const qint32 index = m_controls.HitTest(PointOf(message.lParam));
            if (index >= 0 && DblClick) {
                int button = 1;
                DblClick(button, m_controls.Find(index)->Tag, index);
            }
            break;
        }
        case WM_SIZE: {
            m_referenceSize = QSize(LoWord(message.lParam) & 0xFFFF, HiWord(message.lParam));
            if (m_autoSizer) ResizeControls(false);
            if (ControlStatusChanged) ControlStatusChanged(1, m_autoSizer);
            break;
        }
        default:
            break;
    }
}

void clsControls::HandleDrop(const RoutedMessage& message) {
    auto* drop = message.event != nullptr && message.event->type() == QEvent::Drop
                     ? static_cast<QDropEvent*>(message.event)
                     : nullptr;
    if (drop == nullptr || drop->mimeData() == nullptr) return;
    // Whole paths, in the order the drag source lists them; names are not cut
    // to 260 characters (paths here may be longer), NULs are removed.
    const QList<QUrl> urls = drop->mimeData()->urls();
    for (const QUrl& url : urls) {
        if (!url.isLocalFile()) continue;
        QString name = QDir::toNativeSeparators(url.toLocalFile());
        name.remove(QChar(0));
        if (OLEDragDrop) OLEDragDrop(name, message.bBefore);
    }
}

void clsControls::PointerMove(QPoint where, qint32 keyState) {
    if (m_gesture.Active()) {
        const QPoint from = m_gesture.SamplePoint();
        if (m_gesture.Move(where)) {
            m_trail.emplace_back(from, where);
            if (m_window)
                m_window->update(
                    QRect(from, where)
                        .normalized()
                        .adjusted(-kTrailWidth, -kTrailWidth, kTrailWidth, kTrailWidth));
        }
        if (MouseGesture) MouseGesture(m_gesture.Code(), m_gesture.GestureString());
        return;
    }
    if (m_pressed >= 0) {
        ControlRecord* pressed = m_controls.Find(m_pressed);
        if (pressed != nullptr && pressed->Mode == 4) SetSliderFromPoint(*pressed, where);
    }
    const qint32 index = m_controls.HitTest(where);
    m_controlIndex = index;
    if (index != m_hovered) {
        const qint32 previous = m_hovered;
        m_hovered = index;
        if (previous >= 0) {
            Refresh(QStringLiteral("WM_MOUSEMOVE"), previous);
            const ControlRecord* record = m_controls.Find(previous);
            if (MouseLeave) MouseLeave(record != nullptr ? record->Tag : QString(), previous);
        }
        if (index >= 0) {
            Refresh(QStringLiteral("WM_MOUSEMOVE"), index);
            const ControlRecord* record = m_controls.Find(index);
            if (m_window)
                m_window->setToolTip(record->ToolTipText.isEmpty() ? m_windowToolTip
                                                                   : record->ToolTipText);
            if (MouseEnter) MouseEnter(record->Tag, index);
        } else if (m_window) {
            m_window->setToolTip(m_windowToolTip);
        }
    }
    if (index >= 0 && MouseMove) {
        int shift = ShiftOfKeyState(keyState);
        MouseMove(shift, m_controls.Find(index)->Tag, index);
    }
}

void clsControls::ButtonPressed(QPoint where) {
    const qint32 index = m_controls.HitTest(where);
    m_controlIndex = index;
    if (index >= 0) {
        ControlRecord* record = m_controls.Find(index);
        if (record->Mode == 8) {
            // A caption bar moves the window as its title bar would.
            if (m_window && m_window->window()->windowHandle() != nullptr)
                m_window->window()->windowHandle()->startSystemMove();
            return;
        }
        m_pressed = index;
        if (record->Mode == 4) SetSliderFromPoint(*record, where);
        RepaintControl(index);
        if (ButtonDown) {
            int button = 1;
            ButtonDown(button, record->Tag, index);
        }
        return;
    }
    const bool overAnyControl =
        std::any_of(m_controls.Controls().begin(), m_controls.Controls().end(),
                    [&](const ControlRecord& c) { return c.Rect().contains(where); });
    if (m_allowGesture && !overAnyControl && m_pressed < 0) {
        m_gesture.Start(where);
        m_trail.clear();
    }
}

void clsControls::ButtonReleased(QPoint where, int button) {
    const qint32 under = m_controls.HitTest(where);
    if (button == 1 && m_gesture.Active()) {
        const QString summary = m_gesture.GestureString();
        const int code = m_gesture.End(where);
        if (MouseGestureEnd) MouseGestureEnd(code, summary);
        m_trail.clear();
        if (m_window) m_window->update();
    }
    if (button == 1 && m_pressed >= 0) {
        const qint32 index = m_pressed;
        m_pressed = -1;
        ControlRecord* record = m_controls.Find(index);
        if (record != nullptr) {
            Refresh(QStringLiteral("WM_LBUTTONUP"), index);
            if (ButtonUp) {
                int b = 1;
                ButtonUp(b, record->Tag, index);
            }
            record = m_controls.Find(index);  // the handler may have removed it
            if (record != nullptr && record->Mode == 9 && under == index) {
                record->Checked = record->Checked != 0 ? 0 : 1;
                Refresh(QStringLiteral("WM_LBUTTONUP"), index);
                if (CheckedValueChanged) CheckedValueChanged(index, record->Checked);
            } else if (record != nullptr && record->Mode == 4 && PercentHasBeenSet) {
                PercentHasBeenSet(record->Tag, index, record->PercentValue);
            }
        }
    }
    if (MouseUp) {
        const ControlRecord* record = m_controls.Find(under);
        int b = button;
        MouseUp(b, record != nullptr ? record->Tag : QString(), under);
    }
}

void clsControls::SetSliderFromPoint(ControlRecord& record, QPoint where) {
    const double span = static_cast<double>(record.Right - record.Left - 1);
    if (span <= 0) return;
    const double fraction = std::clamp((where.x() - record.Left) / span, 0.0, 1.0);
    double value =
        record.PercentMin + fraction * (static_cast<double>(record.PercentMax) - record.PercentMin);
    if (record.PercentLongTypeStep > 1)
        value = std::round(value / record.PercentLongTypeStep) * record.PercentLongTypeStep;
    SetControlsPercentValue(record.Index, static_cast<float>(value), QString(), true);
}

// ---------------------------------------------------------------------------
// Controls

bool clsControls::AddControl(const ControlRecord& record) {
    if (!m_controls.Add(record, m_referenceSize)) return false;
    if (m_allowRefresh) RepaintControl(record.Index);
    return true;
}

bool clsControls::AddControl(qint32 Mode, qint32 Index, const QString& Tag, qint32 Left, qint32 Top,
                             qint32 Right, qint32 Bottom, qint32 Radius, qint32 SizeMode,
                             const QString& Caption) {
    ControlRecord record;
    record.Mode = Mode;
    record.Index = Index;
    record.Tag = Tag;
    record.Left = Left;
    record.Top = Top;
    record.Right = Right;
    record.Bottom = Bottom;
    record.Radius = Radius;
    record.SizeMode = SizeMode;
    record.Caption = Caption;
    return AddControl(record);
}

void clsControls::Remove(qint32 index) {
    const ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    const QRect area = record->Rect();
    m_controls.Remove(index);
    if (m_hovered == index) m_hovered = -1;
    if (m_pressed == index) m_pressed = -1;
    if (m_window && m_allowRefresh) m_window->update(area.adjusted(-2, -2, 2, 2));
}

void clsControls::Clear() {
    m_controls.Clear();
    m_hovered = m_pressed = m_controlIndex = -1;
    if (m_window && m_allowRefresh) m_window->update();
}

void clsControls::ResizeControls(bool /*bDrawEffect*/) {
    const QSize size = m_window ? m_window->size() : m_referenceSize;
    m_controls.Resize(size);
    PlaceBoundBoxes();
    Refresh(QStringLiteral("ResizeControls"), -1);
}

qint32 clsControls::GetControlsIndex(int position) const {
    if (position < 0 || position >= m_controls.Count()) return -1;
    return m_controls.Controls()[static_cast<std::size_t>(position)].Index;
}

qint32 clsControls::GetControlsIndexFromTag(const QString& tag) const {
    const int position = m_controls.PositionOfTag(tag);
    return position < 0 ? -1 : m_controls.Controls()[static_cast<std::size_t>(position)].Index;
}

void clsControls::SetControlsIndexFromTag(const QString& tag, qint32 newIndex) {
    const int position = m_controls.PositionOfTag(tag);
    if (position < 0) return;
    ControlRecord& record = m_controls.Controls()[static_cast<std::size_t>(position)];
    if (m_hovered == record.Index) m_hovered = newIndex;
    if (m_pressed == record.Index) m_pressed = newIndex;
    record.Index = newIndex;
}

ControlRect clsControls::GetControlsRECT(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return {};
    return ControlRect{record->Left, record->Top, record->Right, record->Bottom};
}

void clsControls::SetControlsRECT(qint32 index, const ControlRect& rect, bool bRefresh) {
    const int position = m_controls.PositionOf(index);
    if (position < 0 || rect.Right - rect.Left < 1 || rect.Bottom - rect.Top < 1) return;
    ControlRecord& record = m_controls.Controls()[static_cast<std::size_t>(position)];
    const QRect old = record.Rect();
    // Re-adding recomputes the fractions, margins and an automatic radius.
    ControlRecord moved = record;
    moved.Left = rect.Left;
    moved.Top = rect.Top;
    moved.Right = rect.Right;
    moved.Bottom = rect.Bottom;
    ControlTable scratch;
    scratch.Add(moved, m_referenceSize);
    record = scratch.Controls().front();
    PlaceBoundBoxes();
    if (bRefresh && m_window) m_window->update(old.united(record.Rect()).adjusted(-2, -2, 2, 2));
}

float clsControls::GetControlsPercentValue(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->PercentValue : 0;
}

bool clsControls::SetControlsPercentValue(qint32 index, float value, const QString& text,
                                          bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return false;
    const float low = std::min(record->PercentMin, record->PercentMax);
    const float high = std::max(record->PercentMin, record->PercentMax);
    const float limited = std::clamp(value, low, high);
    if (limited == record->PercentValue) return false;
    record->PercentValue = limited;
    if (!text.isEmpty()) record->CaptionAppendString = text;
    if (bRefresh) RepaintControl(index);
    if (PercentChanged) PercentChanged(record->Tag, index, limited);
    return true;
}

void clsControls::AfterFieldChange(ControlRecord& record, bool bRefresh, bool captionChanged) {
    const qint32 index = record.Index;
    if (!record.Enabled && m_pressed == index) m_pressed = -1;
    if (bRefresh) RepaintControl(index);
    if (captionChanged && CaptionChanged) {
        CaptionChanged(index, record.Caption, record.CaptionNullString, record.CaptionAppendString);
    }
}

void clsControls::RepaintControl(qint32 index) {
    if (!m_window) return;
    const ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    // Room for the tip badge that sticks out of the corner.
    m_window->update(record->Rect().adjusted(-24, -16, 24, 16));
}

qint32 clsControls::GetControlsMode(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->Mode : 0;
}

void clsControls::SetControlsMode(qint32 index, qint32 value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->Mode = value;
    AfterFieldChange(*record, bRefresh);
}

QString clsControls::GetControlsTag(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->Tag : QString();
}

void clsControls::SetControlsTag(qint32 index, const QString& value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->Tag = value;
    AfterFieldChange(*record, bRefresh);
}

QString clsControls::GetControlsCaption(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->Caption : QString();
}

void clsControls::SetControlsCaption(qint32 index, const QString& value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->Caption = value;
    AfterFieldChange(*record, bRefresh, true);
}

QString clsControls::GetControlsCaptionNullString(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->CaptionNullString : QString();
}

void clsControls::SetControlsCaptionNullString(qint32 index, const QString& value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->CaptionNullString = value;
    AfterFieldChange(*record, bRefresh, true);
}

QString clsControls::GetControlsCaptionAppendString(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->CaptionAppendString : QString();
}

void clsControls::SetControlsCaptionAppendString(qint32 index, const QString& value,
                                                 bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->CaptionAppendString = value;
    AfterFieldChange(*record, bRefresh, true);
}

qint32 clsControls::GetControlsCaptionAlignment(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->CaptionAlignment : 0;
}

void clsControls::SetControlsCaptionAlignment(qint32 index, qint32 value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->CaptionAlignment = value;
    AfterFieldChange(*record, bRefresh);
}

QString clsControls::GetControlsComment(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->Comment : QString();
}

void clsControls::SetControlsComment(qint32 index, const QString& value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->Comment = value;
    AfterFieldChange(*record, bRefresh);
}

qint32 clsControls::GetControlsCommentPosition(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->CommentPosition : 0;
}

void clsControls::SetControlsCommentPosition(qint32 index, qint32 value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->CommentPosition = value;
    AfterFieldChange(*record, bRefresh);
}

QString clsControls::GetControlsTip(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->Tip : QString();
}

void clsControls::SetControlsTip(qint32 index, const QString& value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->Tip = value;
    AfterFieldChange(*record, bRefresh);
}

qint32 clsControls::GetControlsTipPosition(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->TipPosition : 0;
}

void clsControls::SetControlsTipPosition(qint32 index, qint32 value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->TipPosition = value;
    AfterFieldChange(*record, bRefresh);
}

QString clsControls::GetControlsToolTipText(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->ToolTipText : QString();
}

void clsControls::SetControlsToolTipText(qint32 index, const QString& value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->ToolTipText = value;
    AfterFieldChange(*record, bRefresh);
}

bool clsControls::GetControlsEnabled(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->Enabled : false;
}

void clsControls::SetControlsEnabled(qint32 index, bool value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->Enabled = value;
    AfterFieldChange(*record, bRefresh);
}

float clsControls::GetControlsPercentMin(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->PercentMin : 0;
}

void clsControls::SetControlsPercentMin(qint32 index, float value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->PercentMin = value;
    AfterFieldChange(*record, bRefresh);
}

float clsControls::GetControlsPercentMax(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->PercentMax : 0;
}

void clsControls::SetControlsPercentMax(qint32 index, float value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->PercentMax = value;
    AfterFieldChange(*record, bRefresh);
}

qint32 clsControls::GetControlsPrecentPrecision(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->PrecentPrecision : 0;
}

void clsControls::SetControlsPrecentPrecision(qint32 index, qint32 value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->PrecentPrecision = value;
    AfterFieldChange(*record, bRefresh);
}

qint32 clsControls::GetControlsPercentLongTypeStep(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->PercentLongTypeStep : 0;
}

void clsControls::SetControlsPercentLongTypeStep(qint32 index, qint32 value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->PercentLongTypeStep = value;
    AfterFieldChange(*record, bRefresh);
}

qint32 clsControls::GetControlsChecked(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->Checked : 0;
}

void clsControls::SetControlsChecked(qint32 index, qint32 value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->Checked = value;
    AfterFieldChange(*record, bRefresh);
}

qint32 clsControls::GetControlsStyle(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->Style : 0;
}

void clsControls::SetControlsStyle(qint32 index, qint32 value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->Style = value;
    AfterFieldChange(*record, bRefresh);
}

bool clsControls::GetControlsTransparent(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->Transparent : false;
}

void clsControls::SetControlsTransparent(qint32 index, bool value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->Transparent = value;
    AfterFieldChange(*record, bRefresh);
}

qint32 clsControls::GetControlsForeColor(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->ForeColor : 0;
}

void clsControls::SetControlsForeColor(qint32 index, qint32 value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->ForeColor = value;
    AfterFieldChange(*record, bRefresh);
}

qint32 clsControls::GetControlsBackColor(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->BackColor : 0;
}

void clsControls::SetControlsBackColor(qint32 index, qint32 value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->BackColor = value;
    AfterFieldChange(*record, bRefresh);
}

qint32 clsControls::GetControlsBackAlpha(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->BackAlpha : 0;
}

void clsControls::SetControlsBackAlpha(qint32 index, qint32 value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->BackAlpha = value;
    AfterFieldChange(*record, bRefresh);
}

QString clsControls::GetControlsFontName(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->FontName : QString();
}

void clsControls::SetControlsFontName(qint32 index, const QString& value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->FontName = value;
    AfterFieldChange(*record, bRefresh);
}

float clsControls::GetControlsFontSize(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->FontSize : 0;
}

void clsControls::SetControlsFontSize(qint32 index, float value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->FontSize = value;
    AfterFieldChange(*record, bRefresh);
}

bool clsControls::GetControlsFontBold(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->FontBold : false;
}

void clsControls::SetControlsFontBold(qint32 index, bool value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->FontBold = value;
    AfterFieldChange(*record, bRefresh);
}

bool clsControls::GetControlsResponseHover(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->ResponseHover : false;
}

void clsControls::SetControlsResponseHover(qint32 index, bool value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->ResponseHover = value;
    AfterFieldChange(*record, bRefresh);
}

bool clsControls::GetControlsResponseDown(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->ResponseDown : false;
}

void clsControls::SetControlsResponseDown(qint32 index, bool value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->ResponseDown = value;
    AfterFieldChange(*record, bRefresh);
}

qint32 clsControls::GetControlsShadowDepth(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->ShadowDepth : 0;
}

void clsControls::SetControlsShadowDepth(qint32 index, qint32 value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->ShadowDepth = value;
    AfterFieldChange(*record, bRefresh);
}

qint32 clsControls::GetControlsShadowColor(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->ShadowColor : 0;
}

void clsControls::SetControlsShadowColor(qint32 index, qint32 value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->ShadowColor = value;
    AfterFieldChange(*record, bRefresh);
}

qint32 clsControls::GetControlsShadowAlpha(qint32 index) const {
    const ControlRecord* record = m_controls.Find(index);
    return record != nullptr ? record->ShadowAlpha : 0;
}

void clsControls::SetControlsShadowAlpha(qint32 index, qint32 value, bool bRefresh) {
    ControlRecord* record = m_controls.Find(index);
    if (record == nullptr) return;
    record->ShadowAlpha = value;
    AfterFieldChange(*record, bRefresh);
}
// ---------------------------------------------------------------------------
// Framework properties

void clsControls::AllowDrawControls(bool value) {
    m_allowDrawControls = value;
    if (m_window) m_window->update();
}

void clsControls::AllowRefresh(bool value) {
    m_allowRefresh = value;
    Refresh(QStringLiteral("AllowRefresh"), -1);
}

void clsControls::DisplayControlEdge(bool value) {
    m_displayControlEdge = value;
    if (m_window) m_window->update();
}

void clsControls::DisplayControlColor(qint32 value) {
    m_edgeColor = value;
    if (m_window && m_displayControlEdge) m_window->update();
}

void clsControls::DisplayControlHoverColor(qint32 value) {
    m_edgeHoverColor = value;
    if (m_window && m_displayControlEdge) m_window->update();
}

void clsControls::DisplayControlDownColor(qint32 value) {
    m_edgeDownColor = value;
    if (m_window && m_displayControlEdge) m_window->update();
}

// ---------------------------------------------------------------------------
// Painting

void clsControls::Refresh(const QString& sCommandSource, qint32 lControlIndex) {
    m_lastRefreshSource = sCommandSource;
    if (!m_window) return;
    if (lControlIndex >= 0) {
        RepaintControl(lControlIndex);
    } else {
        m_window->update();
    }
}

void clsControls::Refresh(const QString& sCommandSource, qint32 lControlIndex,
                          const WindowPaintSettings& settings) {
    m_windowPaint = settings;
    m_hasWindowPaint = true;
    Refresh(sCommandSource, lControlIndex);
}

void clsControls::RefreshNow() {
    if (m_window) m_window->repaint();
}

void clsControls::RefreshHDC(QPainter* hdc) {
    if (hdc != nullptr) PaintFramework(*hdc);
}

QImage clsControls::hDCToPicture(QWidget* hwnd) const {
    QWidget* window = hwnd != nullptr ? hwnd : m_window.data();
    if (window == nullptr) return QImage();
    return window->grab().toImage();
}

void clsControls::PaintWindowBackground(QPainter& painter, const QRect& area) {
    const WindowPaintSettings& s = m_windowPaint;
    const QRect inner =
        area.adjusted(s.lWindowPadding, s.lWindowPadding, -s.lWindowPadding, -s.lWindowPadding);
    if (inner.width() < 1 || inner.height() < 1) return;
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (s.lWindowShadowDepth > 0) {
        // A soft edge: rings of falling opacity around the background.
        for (int ring = s.lWindowShadowDepth; ring >= 1; --ring) {
            const int alpha = 60 * (s.lWindowShadowDepth - ring + 1) / s.lWindowShadowDepth /
                              s.lWindowShadowDepth;
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColorFromBgr(s.lWindowShadowColor, std::max(alpha, 4)));
            painter.drawRoundedRect(QRectF(inner).adjusted(-ring, -ring + 1, ring, ring + 1), ring,
                                    ring);
        }
    }
    if (!s.bTransparentBltDraw) {
        const int alpha = std::clamp(s.bBackAlpha, 0, 255);
        if (s.lWindowBackStyle == 2 && !s.lWindowBackPicture.isNull()) {
            painter.setOpacity(alpha / 255.0);
            painter.drawImage(inner, s.lWindowBackPicture);
            painter.setOpacity(1);
        } else if (s.lWindowBackStyle == 1) {
            QLinearGradient fill(inner.topLeft(), inner.bottomLeft());
            fill.setColorAt(0, QColorFromBgr(lumeval::ShiftColor(s.lWindowBackColor, 0.08), alpha));
            fill.setColorAt(1,
                            QColorFromBgr(lumeval::ShiftColor(s.lWindowBackColor, -0.06), alpha));
            painter.fillRect(inner, fill);
        } else {
            painter.fillRect(inner, QColorFromBgr(s.lWindowBackColor, alpha));
        }
        if (s.bDrawEffect) {
            QLinearGradient light(inner.topLeft(),
                                  QPoint(inner.left(), inner.top() + inner.height() / 3));
            light.setColorAt(0, QColor(255, 255, 255, 70));
            light.setColorAt(1, QColor(255, 255, 255, 0));
            painter.fillRect(inner, light);
        }
    }
    // Titles at one of nine places, the main texts centred under them.
    const QString title =
        s.lWindowTitleText1 +
        (s.lWindowTitleText2.isEmpty() ? QString() : QStringLiteral("  ") + s.lWindowTitleText2);
    QFont font = QApplication::font();
    if (!s.lWindowTextFontname.isEmpty()) font.setFamily(s.lWindowTextFontname);
    painter.setPen(QColorFromBgr(s.lWindowTextFontColor));
    if (!title.isEmpty()) {
        font.setBold(true);
        painter.setFont(font);
        const int pos = std::clamp(s.lWindowTitlePos, 1, 9) - 1;
        const int horizontal[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight};
        const int vertical[] = {Qt::AlignTop, Qt::AlignVCenter, Qt::AlignBottom};
        painter.drawText(inner.adjusted(8, 6, -8, -6), horizontal[pos % 3] | vertical[pos / 3],
                         title);
    }
    const QString main =
        s.lWindowMainText1 +
        (s.lWindowMainText2.isEmpty() ? QString() : QLatin1Char('\n') + s.lWindowMainText2);
    if (!main.isEmpty()) {
        font.setBold(false);
        painter.setFont(font);
        painter.drawText(inner.adjusted(8, 6, -8, -6), Qt::AlignCenter, main);
    }
}

void clsControls::PaintFramework(QPainter& painter) {
    if (!m_window) return;
    const QRect area = m_window->rect();
    if (m_hasWindowPaint) {
        painter.save();
        PaintWindowBackground(painter, area);
        painter.restore();
    }
    if (m_layeredWindow == m_window && !m_layerImage.isNull())
        painter.drawImage(0, 0, m_layerImage);
    if (auto kept = m_kept.find(m_window); kept != m_kept.end()) {
        // The window's own kept drawings are painted by their layer as well;
        // here they go under the controls.
        for (const DrawOp& op : kept->second) {
            painter.save();
            op(painter);
            painter.restore();
        }
    }
    const bool drawControls =
        m_allowDrawControls && (!m_hasWindowPaint || m_windowPaint.bDrawControls);
    if (drawControls) {
        for (const ControlRecord& record : m_controls.Controls()) {
            ControlLook look;
            look.hovered = record.Index == m_hovered;
            look.pressed = record.Index == m_pressed;
            look.windowActive = m_windowActivated;
            look.outline = m_displayControlEdge;
            look.outlineColor = look.pressed   ? m_edgeDownColor
                                : look.hovered ? m_edgeHoverColor
                                               : m_edgeColor;
            painter.save();
            PaintControl(painter, record, look);
            painter.restore();
        }
    }
    if (!m_trail.empty()) {
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(QColorFromBgr(m_gesturePenColor), kTrailWidth, Qt::SolidLine,
                            Qt::RoundCap, Qt::RoundJoin));
        for (const QLine& line : m_trail) painter.drawLine(line);
    }
}

// ---------------------------------------------------------------------------
// Layered window and fading

bool clsControls::LayeredWindowInit(QWidget* hwnd, qint32 lAlpha) {
    if (hwnd == nullptr) return false;
    m_layeredWindow = hwnd->window();
    m_layeredWindow->setWindowOpacity(std::clamp(lAlpha, 0, 255) / 255.0);
    m_layerImage = QImage(m_layeredWindow->size().expandedTo(QSize(1, 1)),
                          QImage::Format_ARGB32_Premultiplied);
    m_layerImage.fill(Qt::transparent);
    return true;
}

QImage* clsControls::LayeredGraphics() {
    if (!m_layeredWindow || m_layerImage.isNull()) return nullptr;
    if (m_layerImage.size() != m_layeredWindow->size() && !m_layeredWindow->size().isEmpty()) {
        QImage grown(m_layeredWindow->size(), QImage::Format_ARGB32_Premultiplied);
        grown.fill(Qt::transparent);
        QPainter painter(&grown);
        painter.drawImage(0, 0, m_layerImage);
        painter.end();
        m_layerImage = grown;
    }
    return &m_layerImage;
}

void clsControls::BindTextBox(QWidget* textBox, qint32 index) {
    if (textBox == nullptr) return;
    for (auto& [box, bound] : m_boundBoxes) {
        if (box == textBox) {
            bound = index;
            PlaceBoundBoxes();
            return;
        }
    }
    m_boundBoxes.emplace_back(textBox, index);
    PlaceBoundBoxes();
}

void clsControls::PlaceBoundBoxes() {
    for (const auto& [box, index] : m_boundBoxes) {
        const ControlRecord* record = m_controls.Find(index);
        if (!box || record == nullptr) continue;
        // Inside the control's frame, in the text box's parent's coordinates.
        QRect area = record->Rect().adjusted(4, 3, -4, -3);
        QWidget* parent = box->parentWidget();
        if (m_window && parent != nullptr && parent != m_window)
            area.moveTopLeft(parent->mapFrom(m_window, area.topLeft()));
        box->setGeometry(area);
    }
}

void clsControls::LayeredWindowRefresh() {
    if (m_layeredWindow) m_layeredWindow->update();
}

void clsControls::LayeredWindowDraw(qint32 lAlpha) {
    if (!m_layeredWindow) return;
    m_layeredWindow->setWindowOpacity(std::clamp(lAlpha, 0, 255) / 255.0);
    m_layeredWindow->update();
}

void clsControls::LayeredWindowTerminate() {
    if (m_fade != nullptr) {
        m_fade->stop();
        delete m_fade;
        m_fade = nullptr;
    }
    if (m_layeredWindow) m_layeredWindow->setWindowOpacity(1.0);
    m_layeredWindow = nullptr;
    m_layerImage = QImage();
}

void clsControls::WindowFade(QWidget* hwnd, qint32 lFromAlpha, qint32 lToAlpha, int lDurationMs) {
    if (hwnd == nullptr) return;
    if (m_fade != nullptr) {
        m_fade->stop();
        delete m_fade;
        m_fade = nullptr;
    }
    QPointer<QWidget> window(hwnd->window());
    window->setWindowOpacity(std::clamp(lFromAlpha, 0, 255) / 255.0);
    m_fade = new QVariantAnimation(this);
    m_fade->setStartValue(std::clamp(lFromAlpha, 0, 255) / 255.0);
    m_fade->setEndValue(std::clamp(lToAlpha, 0, 255) / 255.0);
    m_fade->setDuration(std::max(lDurationMs, 1));
    connect(m_fade, &QVariantAnimation::valueChanged, this, [window](const QVariant& value) {
        if (window) window->setWindowOpacity(value.toDouble());
    });
    m_fade->start();
}

bool clsControls::WindowFading() const {
    return m_fade != nullptr && m_fade->state() == QAbstractAnimation::Running;
}

bool clsControls::IsTransparent(QWidget* hwnd) {
    return hwnd != nullptr && hwnd->window()->windowOpacity() < 1.0;
}

qint32 clsControls::GetTransparentValue(QWidget* hwnd) {
    if (hwnd == nullptr) return 255;
    return static_cast<qint32>(std::lround(hwnd->window()->windowOpacity() * 255));
}

void clsControls::ResizeWindowSize(QWidget* hwnd, qint32 lWidth, qint32 lHeight) {
    if (hwnd == nullptr || lWidth < 0 || lHeight < 0) return;
    hwnd->resize(lWidth, lHeight);
}

QImage clsControls::ImageBlurGDIP(const QImage& picture, int lRadius) {
    if (picture.isNull() || lRadius <= 0) return picture;
    QImage source = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage target(source.size(), source.format());
    const int w = source.width();
    const int h = source.height();
    // Two passes of a box filter: rows, then columns.
    const auto pass = [&](const QImage& from, QImage& to, bool horizontal) {
        const int length = horizontal ? w : h;
        const int lines = horizontal ? h : w;
        for (int line = 0; line < lines; ++line) {
            for (int i = 0; i < length; ++i) {
                int sum[4] = {0, 0, 0, 0};
                int n = 0;
                for (int k = std::max(0, i - lRadius); k <= std::min(length - 1, i + lRadius);
                     ++k) {
                    const QRgb px = horizontal ? from.pixel(k, line) : from.pixel(line, k);
                    sum[0] += qAlpha(px);
                    sum[1] += qRed(px);
                    sum[2] += qGreen(px);
                    sum[3] += qBlue(px);
                    ++n;
                }
                const QRgb out = qRgba(sum[1] / n, sum[2] / n, sum[3] / n, sum[0] / n);
                if (horizontal) {
                    to.setPixel(i, line, out);
                } else {
                    to.setPixel(line, i, out);
                }
            }
        }
    };
    pass(source, target, true);
    QImage result(source.size(), source.format());
    pass(target, result, false);
    return result.convertToFormat(picture.format());
}

// ---------------------------------------------------------------------------
// Drawing helpers

void clsControls::Draw(const DrawTarget& hdc, DrawOp op, QRect bounds) {
    if (QPainter* painter = hdc.Painter()) {
        painter->save();
        op(*painter);
        painter->restore();
        return;
    }
    QWidget* widget = hdc.Widget();
    if (widget == nullptr) return;
    auto [kept, first] = m_kept.try_emplace(widget);
    kept->second.push_back(std::move(op));
    if (first) {
        m_keptWatch[widget] = connect(widget, &QObject::destroyed, this, [this, widget]() {
            m_kept.erase(widget);
            m_keptWatch.erase(widget);
            m_keptBounds.erase(widget);
        });
        // The framework window paints its kept drawings itself, under its controls.
        if (widget != m_window) AttachKeptLayer(widget, true);
        m_keptBounds[widget] = bounds.isNull() ? QRect() : bounds;
    } else if (QRect& all = m_keptBounds[widget]; !all.isNull()) {
        all = bounds.isNull() ? QRect() : all.united(bounds);
    }
    if (bounds.isNull()) {
        widget->update();
    } else {
        widget->update(bounds);
    }
}

void clsControls::AttachKeptLayer(QWidget* widget, bool attach) {
    if (!attach) {
        m_router.SetPaintLayer(widget, &m_kept, nullptr);
        return;
    }
    m_router.SetPaintLayer(widget, &m_kept, [this, widget](QPainter& painter) {
        auto found = m_kept.find(widget);
        if (found == m_kept.end()) return;
        for (const DrawOp& op : found->second) {
            painter.save();
            op(painter);
            painter.restore();
        }
    });
}

void clsControls::ClearHdc(QWidget* hwnd) {
    if (hwnd == nullptr) return;
    QRect dirty;  // null: the whole widget
    if (m_kept.erase(hwnd) != 0) {
        disconnect(m_keptWatch[hwnd]);
        m_keptWatch.erase(hwnd);
        dirty = m_keptBounds[hwnd];
        m_keptBounds.erase(hwnd);
        if (hwnd != m_window) AttachKeptLayer(hwnd, false);
    }
    if (dirty.isNull()) {
        hwnd->update();
    } else {
        hwnd->update(dirty);
    }
}

int clsControls::KeptDrawingCount(QWidget* hwnd) const {
    auto found = m_kept.find(hwnd);
    return found == m_kept.end() ? 0 : static_cast<int>(found->second.size());
}

void clsControls::DrawRectToHdc(DrawTarget hdc, qint32 Left, qint32 Top, qint32 Right,
                                qint32 Bottom, qint32 FillColor, qint32 BorderColor, qint32 Alpha) {
    const QRect rect = RectOf(Left, Top, Right, Bottom);
    Draw(hdc, [=](QPainter& painter) {
        if (FillColor >= 0) painter.fillRect(rect, QColorFromBgr(FillColor, Alpha));
        if (BorderColor >= 0) {
            painter.setPen(QColorFromBgr(BorderColor, Alpha));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(rect.adjusted(0, 0, -1, -1));
        }
    }, rect);
}

void clsControls::DrawEllipseToHdc(DrawTarget hdc, qint32 Left, qint32 Top, qint32 Right,
                                   qint32 Bottom, qint32 FillColor, qint32 BorderColor,
                                   qint32 Alpha) {
    const QRectF rect = QRectF(RectOf(Left, Top, Right, Bottom)).adjusted(0.5, 0.5, -0.5, -0.5);
    Draw(hdc, [=](QPainter& painter) {
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setBrush(FillColor >= 0 ? QBrush(QColorFromBgr(FillColor, Alpha))
                                        : QBrush(Qt::NoBrush));
        painter.setPen(BorderColor >= 0 ? QPen(QColorFromBgr(BorderColor, Alpha))
                                        : QPen(Qt::NoPen));
        painter.drawEllipse(rect);
    });
}

void clsControls::DrawLineToHdc(DrawTarget hdc, qint32 X1, qint32 Y1, qint32 X2, qint32 Y2,
                                qint32 Color, qint32 Width) {
    const int pad = std::max(Width, 1) + 1;  // the pen's width and its caps
    const QRect bounds = QRect(QPoint(std::min(X1, X2), std::min(Y1, Y2)), QPoint(std::max(X1, X2), std::max(Y1, Y2)))
                             .adjusted(-pad, -pad, pad, pad);
    Draw(hdc, [=](QPainter& painter) {
        painter.setPen(QPen(QColorFromBgr(Color), std::max(Width, 1)));
        painter.drawLine(X1, Y1, X2, Y2);
    }, bounds);
}

void clsControls::DrawTextToHdc(DrawTarget hdc, const QString& Text, qint32 Left, qint32 Top,
                                qint32 Right, qint32 Bottom, qint32 Color, const QString& FontName,
                                float FontSize, qint32 Alignment) {
    const QRect rect = RectOf(Left, Top, Right, Bottom);
    Draw(hdc, [=](QPainter& painter) {
        QFont font = QApplication::font();
        if (!FontName.isEmpty()) font.setFamily(FontName);
        if (FontSize > 0) font.setPointSizeF(FontSize);
        painter.setFont(font);
        painter.setPen(QColorFromBgr(Color));
        int flags = Qt::AlignVCenter | Qt::AlignLeft;
        if (Alignment == 1) flags = Qt::AlignVCenter | Qt::AlignRight;
        if (Alignment == 2) flags = Qt::AlignCenter;
        painter.drawText(rect, flags, Text);
    }, rect);
}

void clsControls::DrawGradient(DrawTarget hdc, qint32 Left, qint32 Top, qint32 Right, qint32 Bottom,
                               qint32 Color1, qint32 Color2, bool bVertical) {
    const QRect rect = RectOf(Left, Top, Right, Bottom);
    Draw(hdc, [=](QPainter& painter) {
        QLinearGradient fill(rect.topLeft(), bVertical ? rect.bottomLeft() : rect.topRight());
        fill.setColorAt(0, QColorFromBgr(Color1));
        fill.setColorAt(1, QColorFromBgr(Color2));
        painter.fillRect(rect, fill);
    });
}

void clsControls::GDIP_DrawRectangleToHDC(DrawTarget hdc, qint32 Left, qint32 Top, qint32 Right,
                                          qint32 Bottom, quint32 ARGB, qint32 lRadius,
                                          bool bFilled) {
    const QRectF rect = QRectF(RectOf(Left, Top, Right, Bottom)).adjusted(0.5, 0.5, -0.5, -0.5);
    const QColor color = QColor::fromRgba(ARGB);
    Draw(hdc, [=](QPainter& painter) {
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setBrush(bFilled ? QBrush(color) : QBrush(Qt::NoBrush));
        painter.setPen(bFilled ? QPen(Qt::NoPen) : QPen(color));
        painter.drawRoundedRect(rect, lRadius, lRadius);
    });
}

}  // namespace lumeval
