// clsTaskBar: the taskbar button (progress, overlay icon, thumbnail clip, tip
// and toolbar buttons) and the older handling of the taskbar's own windows.
//
// On Linux desktops the only taskbar-button feature with a real counterpart
// is the progress bar: it goes out as the launcher-entry signal
// (com.canonical.Unity.LauncherEntry.Update on the session bus), which KDE
// Plasma and the common docks draw on the program's button. The other button
// members and every taskbar-window member have nothing to talk to here: they
// return 0, False or an empty handle and change nothing. Window transparency
// works on our own top-level windows through QWidget::setWindowOpacity.
//
// Naming follows the editor's code: members keep the names the editor was
// written against, parameters carry type prefixes, a property is a pair of
// overloads (`Programs()` reads, `Programs(true)` sets), and events are
// std::function members named after the event (an unset one is not raised).
// Window handles are QWidget pointers; icon handles are QIcons.
#pragma once

#include <QDBusConnection>
#include <QIcon>
#include <QList>
#include <QPointer>
#include <QString>
#include <QtGlobal>
#include <functional>

#include "controls/messagerouter.h"

class QWidget;

namespace lumeval {

/// Result of a taskbar-button member given a bad argument (the platform's
/// E_INVALIDARG); 0 means success or "nothing to do here".
inline constexpr qint32 TASKBAR_E_INVALIDARG = static_cast<qint32>(0x80070057u);

/// Progress states of `SetProgressState` (the platform's flag values).
inline constexpr qint32 TBPF_NOPROGRESS = 0;
inline constexpr qint32 TBPF_INDETERMINATE = 1;
inline constexpr qint32 TBPF_NORMAL = 2;
inline constexpr qint32 TBPF_ERROR = 4;
inline constexpr qint32 TBPF_PAUSED = 8;

/// High word of the command notification a thumbnail-button click sends.
inline constexpr qint32 THBN_CLICKED = 0x1800;
/// Most thumbnail-toolbar buttons a window can have.
inline constexpr qint32 THUMBBAR_MAX_BUTTONS = 7;

class clsTaskBar : public RoutingOwner {
  public:
    /// Sends progress over the user's session bus (none: every member still
    /// answers 0 and nothing blocks).
    clsTaskBar();
    /// Sends progress over the given bus, e.g. a private one a test started.
    explicit clsTaskBar(const QDBusConnection& bus);
    ~clsTaskBar() override;
    clsTaskBar(const clsTaskBar&) = delete;
    clsTaskBar& operator=(const clsTaskBar&) = delete;

    /// False here: the Windows 7 taskbar list interface does not exist.
    bool IsWindows7() const { return false; }

    // ---- Taskbar button -----------------------------------------------------
    // Each returns 0 on success (and when there is no bus to send on), or
    // TASKBAR_E_INVALIDARG for a missing window or an unknown state.

    /// None hides the button's bar; indeterminate, normal, error and paused
    /// show it (the launcher entry has no marquee: indeterminate shows the
    /// last fraction). Error also marks the entry urgent, which docks draw as
    /// a request for attention; any other state clears that again.
    qint32 SetProgressState(QWidget* hwnd, qint32 tbpFlags);
    /// The fraction ullCompleted / ullTotal, both read as unsigned 32-bit
    /// values, capped at 1; a total of 0 shows 0. Like the platform, a bar in
    /// state none or indeterminate becomes normal (and so visible).
    qint32 SetProgressValue(QWidget* hwnd, qint32 ullCompleted, qint32 ullTotal);
    /// No counterpart on Linux desktops: 0, nothing changes.
    qint32 SetOverlayIcon(QWidget* hwnd, const QIcon& hIcon, const QString& pszDescription);
    qint32 SetThumbnailClip(QWidget* hwnd, qint32 Left, qint32 Top, qint32 Right, qint32 Bottom);
    qint32 SetThumbnailTooltip(QWidget* hwnd, const QString& pszTip);
    /// Only once per object, only for 1..7 buttons and only with an icon for
    /// each: takes `hwnd` as the thumb-bar window and routes its command
    /// notifications so that a button click (high word THBN_CLICKED, low word
    /// the identifier 0..cButtons-1) raises ButtonPressed. Linux desktops show
    /// no thumbnail toolbar, so no button appears; always returns 0.
    qint32 ThumbBarAddButtons(QWidget* hwnd, qint32 cButtons, const QList<QIcon>& icons);
    /// The window whose thumbnail toolbar was set up, null before that.
    QWidget* ThumbBarHwnd() const { return m_thumbBarWindow; }
    /// Delivers a message by number through the thumb-bar window's route, as
    /// the shell does for a button click; 0 when that window is not routed.
    qint32 SendMessage(QWidget* hwnd, qint32 uMsg, qint32 wParam, qint32 lParam);

    /// A thumbnail-toolbar button was clicked.
    std::function<void(qint16 ButtonID)> ButtonPressed;

    // ---- Taskbar windows ------------------------------------------------------
    // A Linux desktop's panel is another program's window: there is none of
    // ours to find, show, hide, measure or dock into.
    QWidget* hwnd() const { return nullptr; }
    QWidget* ProgramsHwnd() const { return nullptr; }
    QWidget* DesktopHwnd() const { return nullptr; }
    QWidget* StartButtonHwnd() const { return nullptr; }
    QWidget* SystrayHwnd() const { return nullptr; }
    QWidget* ClockHwnd() const { return nullptr; }
    bool Programs() const { return false; }
    void Programs(bool /*value*/) {}
    bool Desktop() const { return false; }
    void Desktop(bool /*value*/) {}
    bool StartButton() const { return false; }
    void StartButton(bool /*value*/) {}
    bool Systray() const { return false; }
    void Systray(bool /*value*/) {}
    bool Clock() const { return false; }
    void Clock(bool /*value*/) {}
    bool TaskbarVisible() const { return false; }
    void TaskbarVisible(bool /*value*/) {}
    qint32 Left() const { return 0; }
    qint32 Top() const { return 0; }
    qint32 Width() const { return 0; }
    qint32 Height() const { return 0; }
    /// `HowTransparent` of the taskbar window: with none to read, 100 (opaque).
    qint32 Transparency() const { return HowTransparent(hwnd()); }
    /// `MakeTransparent` of the taskbar window with the gradual change: nothing here.
    void Transparency(qint32 value);

    // ---- Transparency of our own windows --------------------------------------
    // Opacity belongs to top-level windows; a child widget reads as opaque.

    /// Whether the window is partly transparent.
    bool IsTransparent(QWidget* hwnd) const;
    /// Opacity in percent (0..100); 100 for an opaque or missing window.
    qint32 HowTransparent(QWidget* hwnd) const;
    /// Sets the opacity to Perc percent, clamped to 0..100 in the caller's
    /// variable. With ShowEffect the change runs in 51 steps with a 1 ms pause
    /// between them. 100 leaves the window opaque.
    void MakeTransparent(QWidget* hwnd, qint32& Perc, bool ShowEffect = false);
    void MakeOpaque(QWidget* hwnd);
    /// Docking a window into the desktop's panel is not possible here: False.
    bool PinHwndToTaskBar(QWidget* lhwnd);

    /// The pause between two steps of the gradual change. Unset: the window
    /// system is brought up to date and the thread sleeps that long. Tests
    /// set it to watch the steps without waiting.
    std::function<void(int milliseconds)> EffectPause;

    // Routing owner: method 1 receives the thumb-bar window's messages.
    bool HasRoutingMethod(MethodKind kind, int nOrdinal, int nParamCount) const override;
    void RoutedWindowMessage(int nOrdinal, RoutedMessage& message) override;

  private:
    bool BusUsable() const;
    /// Sends one launcher-entry update with the given properties.
    void SendLauncherUpdate(const QVariantMap& properties);
    void Pause(int milliseconds);
    static void SetOpacityAlpha(QWidget* hwnd, double alpha);

    QDBusConnection m_bus;
    qint32 m_progressState = TBPF_NOPROGRESS;
    double m_progressFraction = 0.0;
    bool m_progressShown = false;
    bool m_thumbBarSetUp = false;
    QPointer<QWidget> m_thumbBarWindow;
    MessageRouter m_router{QStringLiteral("clsTaskBar")};
};

}  // namespace lumeval
