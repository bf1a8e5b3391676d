// clsControls: the routing layer (subclassing, hooks, callbacks), hot keys,
// a timer, window and font enumeration, file dropping, the owner-drawn
// control framework with mouse gestures, and drawing and colour helpers.
//
// Naming: members keep the names the editor's code was written against:
// prefixes ssc_ (subclassing), shk_ (hooks) and scb_ (callbacks);
// GetControlsX/SetControlsX for control fields; parameters with type prefixes
// (b Boolean, l 32-bit integer, s/str text). A property is a pair of
// overloads: `AutoSizer()` reads it, `AutoSizer(true)` sets it. Events are
// std::function members named after the event; an unset one is not raised.
// Arguments the event may change (bHandled, lReturn, ...) are references.
//
// Window handles are QWidget pointers; a "device context" (DrawTarget) is
// either a QPainter that is painting now or a widget whose drawing is kept and
// painted at its next paint event.
#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <type_traits>
#include <vector>

#include "controls/gestures.h"
#include "controls/messagerouter.h"
#include "controls/ownerdrawn.h"
#include "controls/windowmessages.h"

class QPainter;
class QPaintDevice;
class QShortcut;
class QTimer;
class QVariantAnimation;
class QWidget;

namespace lumeval {

/// Where a drawing helper draws: a painter now, or a widget's kept drawing.
class DrawTarget {
  public:
    DrawTarget(QPainter* painter) : m_painter(painter) {}  // NOLINT(google-explicit-constructor)
    DrawTarget(QWidget* widget) : m_widget(widget) {}      // NOLINT(google-explicit-constructor)
    QPainter* Painter() const { return m_painter; }
    QWidget* Widget() const { return m_widget; }

  private:
    QPainter* m_painter = nullptr;
    QWidget* m_widget = nullptr;
};

/// A control's rectangle as left, top, right, bottom (pixels).
struct ControlRect {
    qint32 Left = 0, Top = 0, Right = 0, Bottom = 0;
    bool operator==(const ControlRect&) const = default;
};

/// A message number given directly (integers; other kinds are skipped when adding).
template <typename T>
concept MessageValue = std::is_arithmetic_v<T>;

/// What `Refresh` paints under the controls; kept for later repaints.
struct WindowPaintSettings {
    qint32 bBackAlpha = 255;  ///< background opacity 0..255
    qint32 lWindowBackColor = 0xFFFFFF;
    qint32 lWindowPadding = 0;      ///< the background is inset by this much
    qint32 lWindowShadowDepth = 0;  ///< soft shadow around the inset background
    qint32 lWindowShadowColor = 0;
    QString lWindowTitleText1, lWindowTitleText2;
    QString lWindowMainText1, lWindowMainText2;
    qint32 lWindowTextFontColor = 0;
    QString lWindowTextFontname;
    bool bDrawControls = true;
    bool bDrawEffect = false;          ///< a faint top light on the background
    bool bTransparentBltDraw = false;  ///< leave the background unpainted
    qint32 lWindowBackStyle = 0;       ///< 0 colour, 1 vertical gradient, 2 picture
    QImage lWindowBackPicture;
    qint32 lWindowTitlePos = 1;  ///< 1..9: top-left, top, top-right, left, centre, right,
                                 ///< bottom-left, bottom, bottom-right
};

class clsControls : public QObject, public RoutingOwner {
  public:
    explicit clsControls(QObject* parent = nullptr);
    ~clsControls() override;

    // ---- Subclassing ------------------------------------------------------
    /// Starts routing the window's messages to `oCallback` (default: this
    /// object, whose method 1 does the framework's work and raises
    /// CallBackProc). `bUnicode` receives True (every window here is Unicode);
    /// `bIdeSafety` is accepted and ignored. With `lOLEDropMode` non-zero the
    /// window accepts dropped local files.
    bool ssc_Subclass(QWidget* lng_hWnd, qint32 lParamUser = 0, int nOrdinal = 1,
                      RoutingOwner* oCallback = nullptr, bool bIdeSafety = true,
                      bool* bUnicode = nullptr, bool bIsAPIwindow = false, qint32 lOLEDropMode = 0);
    /// Adds messages (8-, 16- or 32-bit integers; others are skipped) or ALL_MESSAGES.
    void ssc_AddMsg(QWidget* lng_hWnd, int When, const QVariantList& Messages);
    template <MessageValue First, MessageValue... More>
    void ssc_AddMsg(QWidget* lng_hWnd, int When, First first, More... more) {
        ssc_AddMsg(lng_hWnd, When,
                   QVariantList{QVariant::fromValue(first), QVariant::fromValue(more)...});
    }
    void ssc_DelMsg(QWidget* lng_hWnd, int When, const QVariantList& Messages);
    template <MessageValue First, MessageValue... More>
    void ssc_DelMsg(QWidget* lng_hWnd, int When, First first, More... more) {
        ssc_DelMsg(lng_hWnd, When,
                   QVariantList{QVariant::fromValue(first), QVariant::fromValue(more)...});
    }
    qint32 ssc_CallOrigWndProc(QWidget* lng_hWnd, qint32 uMsg, qint32 wParam, qint32 lParam);
    void zSet_lParamUser(QWidget* lng_hWnd, qint32 NewValue);
    void ssc_UnSubclass(QWidget* lng_hWnd);
    void ssc_Terminate();
    /// Sends a message through the window's route and returns its answer.
    qint32 SendMessage(QWidget* lng_hWnd, qint32 uMsg, qint32 wParam, qint32 lParam);
    /// The route's before (MSG_BEFORE) or after (MSG_AFTER) table, null when not routed.
    const MessageTable* ssc_MessageTable(QWidget* lng_hWnd, int When) const;

    // ---- Hooks ------------------------------------------------------------
    /// Keyboard (WH_KEYBOARD) and mouse (WH_MOUSE) hooks for this application;
    /// a global hook or another kind is refused.
    bool shk_SetHook(qint32 HookType, bool bGlobal = false, int When = MSG_BEFORE,
                     qint32 lParamUser = 0, int nOrdinal = 2, RoutingOwner* oCallback = nullptr,
                     bool bIdeSafety = true, bool bUnicode = false);
    void shk_UnHook(qint32 HookType);
    void shk_TerminateHooks();

    // ---- Callbacks --------------------------------------------------------
    /// An opaque non-zero handle calling method nOrdinal of the owner with
    /// nParamCount arguments; 0 on failure.
    quintptr scb_SetCallbackAddr(int nParamCount, int nOrdinal = 1,
                                 RoutingOwner* oCallback = nullptr, bool bIdeSafety = true,
                                 bool bIsTimerCallback = false);
    void scb_ReleaseCallback(quintptr nAddr);
    void scb_TerminateCallbacks();
    /// What the platform does with a callback address: call it.
    qintptr scb_Call(quintptr nAddr, std::span<const qintptr> args);

    // ---- Built on the routing layer ---------------------------------------
    /// Registers a key for the window only (not system-wide); identifiers are
    /// 0, 1, 2, ... in order of successful registration. Non-zero on success.
    /// The key arrives as WM_HOTKEY (wParam = identifier) through the route.
    qint32 HotKeyActivate(QWidget* lhwnd, qint32 Modifier, qint32 KeyCode);
    QVariant HotKeyDeactivate();
    int HotKeyCount() const { return static_cast<int>(m_hotKeys.size()); }
    void StartTimer(QWidget* hwnd, int uElapse);
    void StopTimer();
    bool TimerEventEnabled() const;
    bool EnumWindowHandles(RoutingOwner* oCallback = nullptr, int nOrdinal = 3);
    bool EnumFonts(QPaintDevice* hdc = nullptr, RoutingOwner* oCallback = nullptr,
                   int nOrdinal = 4);
    static qint16 LOWORD(qint32 value) { return LoWord(value); }
    static qint32 HIWORD(qint32 value) { return HiWord(value); }
    static QString GetWindowMessageString(qint32 uMsg) { return WindowMessageName(uMsg); }

    // ---- Framework properties ---------------------------------------------
    bool AllowDrawControls() const { return m_allowDrawControls; }
    void AllowDrawControls(bool value);
    bool AllowRefresh() const { return m_allowRefresh; }
    void AllowRefresh(bool value);
    bool AutoSizer() const { return m_autoSizer; }
    void AutoSizer(bool value) { m_autoSizer = value; }
    bool MandatoryToGDIP() const { return m_mandatoryToGdip; }
    void MandatoryToGDIP(bool value) { m_mandatoryToGdip = value; }
    bool DisplayControlEdge() const { return m_displayControlEdge; }
    void DisplayControlEdge(bool value);
    qint32 DisplayControlColor() const { return m_edgeColor; }
    void DisplayControlColor(qint32 value);
    qint32 DisplayControlHoverColor() const { return m_edgeHoverColor; }
    void DisplayControlHoverColor(qint32 value);
    qint32 DisplayControlDownColor() const { return m_edgeDownColor; }
    void DisplayControlDownColor(qint32 value);
    bool AllowMouseGesture() const { return m_allowGesture; }
    void AllowMouseGesture(bool value) { m_allowGesture = value; }
    qint32 MouseGesturePenColor() const { return m_gesturePenColor; }
    void MouseGesturePenColor(qint32 value) { m_gesturePenColor = value; }
    qint32 ControlIndex() const { return m_controlIndex; }
    bool WindowActivated() const { return m_windowActivated; }
    /// The window size control positions are kept against.
    QSize ReferenceSize() const { return m_referenceSize; }
    /// The window the framework draws on (the first one routed to this object).
    QWidget* FrameworkWindow() const { return m_window; }
    qint32 HoveredControl() const { return m_hovered; }
    qint32 PressedControl() const { return m_pressed; }
    const GestureRecognizer& Gesture() const { return m_gesture; }

    // ---- Controls ---------------------------------------------------------
    /// Adds a control (Radius -1: automatic). Nothing when width or height is below 1.
    bool AddControl(const ControlRecord& record);
    bool AddControl(qint32 Mode, qint32 Index, const QString& Tag, qint32 Left, qint32 Top,
                    qint32 Right, qint32 Bottom, qint32 Radius = -1, qint32 SizeMode = 0,
                    const QString& Caption = QString());
    void Remove(qint32 index);
    void Clear();
    int Count() const { return m_controls.Count(); }
    const ControlTable& Controls() const { return m_controls; }
    /// Index of the topmost enabled control at a point, or -1.
    qint32 HitTest(qint32 x, qint32 y) const { return m_controls.HitTest(QPoint(x, y)); }
    void ResizeControls(bool bDrawEffect = false);

    /// Index of the control at a 0-based position in adding order, or -1.
    qint32 GetControlsIndex(int position) const;
    qint32 GetControlsIndexFromTag(const QString& tag) const;
    void SetControlsIndexFromTag(const QString& tag, qint32 newIndex);
    ControlRect GetControlsRECT(qint32 index) const;
    /// Moves a control; its layout fractions are taken again. Ignored when
    /// width or height would be below 1.
    void SetControlsRECT(qint32 index, const ControlRect& rect, bool bRefresh = true);
    float GetControlsPercentValue(qint32 index) const;
    /// Limits the value to the control's range; when it changed, stores it, lets
    /// a non-empty text replace the appended caption, raises PercentChanged and
    /// returns True.
    bool SetControlsPercentValue(qint32 index, float value, const QString& text = QString(),
                                 bool bRefresh = true);
    qint32 GetControlsMode(qint32 index) const;
    void SetControlsMode(qint32 index, qint32 value, bool bRefresh = true);
    QString GetControlsTag(qint32 index) const;
    void SetControlsTag(qint32 index, const QString& value, bool bRefresh = true);
    QString GetControlsCaption(qint32 index) const;
    void SetControlsCaption(qint32 index, const QString& value, bool bRefresh = true);
    QString GetControlsCaptionNullString(qint32 index) const;
    void SetControlsCaptionNullString(qint32 index, const QString& value, bool bRefresh = true);
    QString GetControlsCaptionAppendString(qint32 index) const;
    void SetControlsCaptionAppendString(qint32 index, const QString& value, bool bRefresh = true);
    qint32 GetControlsCaptionAlignment(qint32 index) const;
    void SetControlsCaptionAlignment(qint32 index, qint32 value, bool bRefresh = true);
    QString GetControlsComment(qint32 index) const;
    void SetControlsComment(qint32 index, const QString& value, bool bRefresh = true);
    qint32 GetControlsCommentPosition(qint32 index) const;
    void SetControlsCommentPosition(qint32 index, qint32 value, bool bRefresh = true);
    QString GetControlsTip(qint32 index) const;
    void SetControlsTip(qint32 index, const QString& value, bool bRefresh = true);
    qint32 GetControlsTipPosition(qint32 index) const;
    void SetControlsTipPosition(qint32 index, qint32 value, bool bRefresh = true);
    QString GetControlsToolTipText(qint32 index) const;
    void SetControlsToolTipText(qint32 index, const QString& value, bool bRefresh = true);
    bool GetControlsEnabled(qint32 index) const;
    void SetControlsEnabled(qint32 index, bool value, bool bRefresh = true);
    float GetControlsPercentMin(qint32 index) const;
    void SetControlsPercentMin(qint32 index, float value, bool bRefresh = true);
    float GetControlsPercentMax(qint32 index) const;
    void SetControlsPercentMax(qint32 index, float value, bool bRefresh = true);
    qint32 GetControlsPrecentPrecision(qint32 index) const;
    void SetControlsPrecentPrecision(qint32 index, qint32 value, bool bRefresh = true);
    qint32 GetControlsPercentLongTypeStep(qint32 index) const;
    void SetControlsPercentLongTypeStep(qint32 index, qint32 value, bool bRefresh = true);
    qint32 GetControlsChecked(qint32 index) const;
    void SetControlsChecked(qint32 index, qint32 value, bool bRefresh = true);
    qint32 GetControlsStyle(qint32 index) const;
    void SetControlsStyle(qint32 index, qint32 value, bool bRefresh = true);
    bool GetControlsTransparent(qint32 index) const;
    void SetControlsTransparent(qint32 index, bool value, bool bRefresh = true);
    qint32 GetControlsForeColor(qint32 index) const;
    void SetControlsForeColor(qint32 index, qint32 value, bool bRefresh = true);
    qint32 GetControlsBackColor(qint32 index) const;
    void SetControlsBackColor(qint32 index, qint32 value, bool bRefresh = true);
    qint32 GetControlsBackAlpha(qint32 index) const;
    void SetControlsBackAlpha(qint32 index, qint32 value, bool bRefresh = true);
    QString GetControlsFontName(qint32 index) const;
    void SetControlsFontName(qint32 index, const QString& value, bool bRefresh = true);
    float GetControlsFontSize(qint32 index) const;
    void SetControlsFontSize(qint32 index, float value, bool bRefresh = true);
    bool GetControlsFontBold(qint32 index) const;
    void SetControlsFontBold(qint32 index, bool value, bool bRefresh = true);
    bool GetControlsResponseHover(qint32 index) const;
    void SetControlsResponseHover(qint32 index, bool value, bool bRefresh = true);
    bool GetControlsResponseDown(qint32 index) const;
    void SetControlsResponseDown(qint32 index, bool value, bool bRefresh = true);
    qint32 GetControlsShadowDepth(qint32 index) const;
    void SetControlsShadowDepth(qint32 index, qint32 value, bool bRefresh = true);
    qint32 GetControlsShadowColor(qint32 index) const;
    void SetControlsShadowColor(qint32 index, qint32 value, bool bRefresh = true);
    qint32 GetControlsShadowAlpha(qint32 index) const;
    void SetControlsShadowAlpha(qint32 index, qint32 value, bool bRefresh = true);

    // ---- Painting and effects ---------------------------------------------
    /// Repaints with the kept window-paint settings; `lControlIndex` -1: all.
    void Refresh(const QString& sCommandSource = QString(), qint32 lControlIndex = -1);
    /// Keeps new window-paint settings and repaints with them.
    void Refresh(const QString& sCommandSource, qint32 lControlIndex,
                 const WindowPaintSettings& settings);
    const QString& LastRefreshSource() const { return m_lastRefreshSource; }
    /// Repaints immediately.
    void RefreshNow();
    /// Paints the framework's surface (background, drawings, controls) with a painter.
    void RefreshHDC(QPainter* hdc);
    /// The window's current look as a picture.
    QImage hDCToPicture(QWidget* hwnd = nullptr) const;
    /// Window opacity stands in for a layered window.
    bool LayeredWindowInit(QWidget* hwnd, qint32 lAlpha = 255);
    void LayeredWindowRefresh();
    void LayeredWindowDraw(qint32 lAlpha);
    void LayeredWindowTerminate();
    /// A per-pixel-alpha picture the size of the layered window, painted over
    /// the window background; null while no layered window is set up.
    QImage* LayeredGraphics();
    /// Keeps a real text box inside a control's rectangle, also after layout changes.
    void BindTextBox(QWidget* textBox, qint32 index);
    /// Fades a window's opacity from one alpha to another over a time, in steps.
    void WindowFade(QWidget* hwnd, qint32 lFromAlpha, qint32 lToAlpha, int lDurationMs = 200);
    bool WindowFading() const;
    static bool IsTransparent(QWidget* hwnd);
    static qint32 GetTransparentValue(QWidget* hwnd);
    /// Resizes a window so that its client area is lWidth x lHeight.
    static void ResizeWindowSize(QWidget* hwnd, qint32 lWidth, qint32 lHeight);
    /// Box blur of a picture (radius in pixels).
    static QImage ImageBlurGDIP(const QImage& picture, int lRadius);
    bool StartUpGDIP() { return m_gdipStarted = true; }
    void ShutdownGDIP() { m_gdipStarted = false; }
    bool GDIPlusAlready() const { return m_gdipStarted; }

    // ---- Drawing helpers --------------------------------------------------
    /// Colours are 0x00BBGGRR; -1 means "none" for fill and border.
    void DrawRectToHdc(DrawTarget hdc, qint32 Left, qint32 Top, qint32 Right, qint32 Bottom,
                       qint32 FillColor, qint32 BorderColor = -1, qint32 Alpha = 255);
    void DrawEllipseToHdc(DrawTarget hdc, qint32 Left, qint32 Top, qint32 Right, qint32 Bottom,
                          qint32 FillColor, qint32 BorderColor = -1, qint32 Alpha = 255);
    void DrawLineToHdc(DrawTarget hdc, qint32 X1, qint32 Y1, qint32 X2, qint32 Y2, qint32 Color,
                       qint32 Width = 1);
    /// Alignment: 0 left, 1 right, 2 centre (vertically centred).
    void DrawTextToHdc(DrawTarget hdc, const QString& Text, qint32 Left, qint32 Top, qint32 Right,
                       qint32 Bottom, qint32 Color, const QString& FontName = QString(),
                       float FontSize = 9, qint32 Alignment = 0);
    void DrawGradient(DrawTarget hdc, qint32 Left, qint32 Top, qint32 Right, qint32 Bottom,
                      qint32 Color1, qint32 Color2, bool bVertical = true);
    /// Anti-aliased rectangle in an ARGB colour (see ColorARGB), rounded by lRadius.
    void GDIP_DrawRectangleToHDC(DrawTarget hdc, qint32 Left, qint32 Top, qint32 Right,
                                 qint32 Bottom, quint32 ARGB, qint32 lRadius = 0,
                                 bool bFilled = true);
    /// Forgets everything drawn on a widget's kept drawing and repaints it.
    void ClearHdc(QWidget* hwnd);
    /// Number of kept drawing operations on a widget.
    int KeptDrawingCount(QWidget* hwnd) const;

    // ---- Colour helpers ---------------------------------------------------
    static quint32 ColorARGB(int Alpha, int red, int Green, int Blue) {
        return lumeval::ColorARGB(Alpha, red, Green, Blue);
    }
    static qint32 BlendColors(qint32 Color1, qint32 Color2, double PercentInDecimal) {
        return lumeval::BlendColors(Color1, Color2, PercentInDecimal);
    }
    static qint32 ShiftColor(qint32 Color, double PercentInDecimal) {
        return lumeval::ShiftColor(Color, PercentInDecimal);
    }
    static qint32 InvertColor(qint32 clrColor) { return lumeval::InvertColor(clrColor); }

    // ---- Events -----------------------------------------------------------
    std::function<void(bool bBefore, bool& bHandled, qint32& lReturn, QWidget* lng_hWnd,
                       qint32 uMsg, qint32 wParam, qint32 lParam, qint32& lParamUser)>
        CallBackProc;
    std::function<void(qint32 HookType, qint32 nCode, qint32 wParam, qint32 lParam)> HookMessage;
    std::function<void(QWidget* hwnd, qint32 uMsg, qint32 TimerID, qint32 tickCount)> TimerEvent;
    std::function<void(QWidget* hwnd)> EnumWindowHwnd;
    std::function<void(const QString& FontName)> EnumSystemFont;
    std::function<void(const QString& FileName, bool bBefore)> OLEDragDrop;
    /// Button: 1 left, 2 right, 4 middle. Shift: 1 Shift, 2 Ctrl, 4 Alt.
    std::function<void(int& Button, const QString& Tag, qint32 ControlIndex)> MouseUp;
    std::function<void(const QString& Tag, qint32 ControlIndex)> MouseEnter;
    std::function<void(int& Shift, const QString& Tag, qint32 ControlIndex)> MouseMove;
    std::function<void(const QString& Tag, qint32 ControlIndex)> MouseLeave;
    std::function<void(int MouseGesture, const QString& GestureString)> MouseGesture;
    std::function<void(int MouseGesture, const QString& GestureString)> MouseGestureEnd;
    std::function<void(int& Button, const QString& Tag, qint32 ControlIndex)> ButtonDown;
    std::function<void(int& Button, const QString& Tag, qint32 ControlIndex)> ButtonUp;
    std::function<void(int& Button, const QString& Tag, qint32 ControlIndex)> DblClick;
    /// Status 1: the window's size changed (flag: controls were resized);
    /// 2: the window's activation changed (flag: active).
    std::function<void(qint32 Status, bool Flag)> ControlStatusChanged;
    std::function<void(qint32 ControlIndex, const QString& Caption,
                       const QString& CaptionNullString, const QString& CaptionAppendString)>
        CaptionChanged;
    std::function<void(const QString& Tag, qint32 ControlIndex, float PercentValue)> PercentChanged;
    /// Raised when the user lets go of a slider he moved.
    std::function<void(const QString& Tag, qint32 ControlIndex, float PercentValue)>
        PercentHasBeenSet;
    std::function<void(qint32 ControlIndex, qint32 Checked)> CheckedValueChanged;

    // ---- RoutingOwner -----------------------------------------------------
    bool HasRoutingMethod(MethodKind kind, int nOrdinal, int nParamCount) const override;
    void RoutedWindowMessage(int nOrdinal, RoutedMessage& message) override;
    void RoutedHookCall(int nOrdinal, HookCall& call) override;
    qintptr RoutedCallback(int nOrdinal, std::span<const qintptr> args) override;

  private:
    struct HotKey;
    using DrawOp = std::function<void(QPainter&)>;

    void FrameworkMessage(RoutedMessage& message);
    void HandleDrop(const RoutedMessage& message);
    void PointerMove(QPoint where, qint32 keyState);
    void ButtonPressed(QPoint where);
    void ButtonReleased(QPoint where, int button);
    void SetSliderFromPoint(ControlRecord& record, QPoint where);
    void PaintFramework(QPainter& painter);
    void PaintWindowBackground(QPainter& painter, const QRect& area);
    /// `bounds`: where the drawing lands (null: anywhere on the widget); a
    /// kept drawing repaints only there, so a seek bar redrawn many times a
    /// second does not repaint the lists around it.
    void Draw(const DrawTarget& hdc, DrawOp op, QRect bounds = QRect());
    void AttachKeptLayer(QWidget* widget, bool attach);
    void AfterFieldChange(ControlRecord& record, bool bRefresh, bool captionChanged = false);
    void RepaintControl(qint32 index);
    void PlaceBoundBoxes();
    void DeliverHotKey(QWidget* window, qint32 id, qint32 modifiers, qint32 keyCode);
    RoutingOwner* OwnerOr(RoutingOwner* owner) { return owner != nullptr ? owner : this; }

    MessageRouter m_router;
    QPointer<QWidget> m_window;
    ControlTable m_controls;
    GestureRecognizer m_gesture;
    std::vector<QLine> m_trail;
    std::map<QWidget*, std::vector<DrawOp>> m_kept;
    std::map<QWidget*, QMetaObject::Connection> m_keptWatch;
    /// Where each widget's kept drawings lie; null when one may lie anywhere.
    std::map<QWidget*, QRect> m_keptBounds;
    std::vector<std::unique_ptr<HotKey>> m_hotKeys;
    QPointer<QWidget> m_hotKeyWindow;
    QTimer* m_timer = nullptr;
    quintptr m_timerCallback = 0;
    QPointer<QWidget> m_timerWindow;
    QPointer<QWidget> m_layeredWindow;
    QVariantAnimation* m_fade = nullptr;
    QImage m_layerImage;
    std::vector<std::pair<QPointer<QWidget>, qint32>> m_boundBoxes;

    bool m_allowDrawControls = true;
    bool m_allowRefresh = false;
    bool m_autoSizer = false;
    bool m_mandatoryToGdip = false;
    bool m_displayControlEdge = false;
    qint32 m_edgeColor = 255;
    qint32 m_edgeHoverColor = 0xFFFF;
    qint32 m_edgeDownColor = 0xFF0000;
    bool m_allowGesture = false;
    qint32 m_gesturePenColor = 255;
    QSize m_referenceSize;
    qint32 m_hovered = -1;
    qint32 m_pressed = -1;
    qint32 m_controlIndex = -1;
    bool m_windowActivated = false;
    bool m_gdipStarted = false;
    bool m_hasWindowPaint = false;
    WindowPaintSettings m_windowPaint;
    QString m_lastRefreshSource;
    QString m_windowToolTip;
};

}  // namespace lumeval
