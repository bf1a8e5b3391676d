#include "taskbar/clstaskbar.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QThread>
#include <QVariantMap>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace lumeval {

namespace {

// The launcher entry the desktop matches to our .desktop file. The object
// path is ours to choose; a fixed one keeps every update on one entry.
const QString kLauncherAppUri = QStringLiteral("application://lumeval.desktop");
const QString kLauncherPath = QStringLiteral("/com/canonical/unity/launcherentry/lumeval");
const QString kLauncherInterface = QStringLiteral("com.canonical.Unity.LauncherEntry");
const QString kLauncherUpdate = QStringLiteral("Update");

constexpr qint32 kCommandMessage = 0x0111;  // WM_COMMAND
constexpr int kThumbBarMethod = 1;
constexpr int kEffectPauseMs = 1;

bool IsProgressState(qint32 flags) {
    switch (flags) {
        case TBPF_NOPROGRESS:
        case TBPF_INDETERMINATE:
        case TBPF_NORMAL:
        case TBPF_ERROR:
        case TBPF_PAUSED:
            return true;
        default:
            return false;
    }
}

}  // namespace

clsTaskBar::clsTaskBar() : m_bus(QDBusConnection::sessionBus()) {}

clsTaskBar::clsTaskBar(const QDBusConnection& bus) : m_bus(bus) {}

clsTaskBar::~clsTaskBar() {
    // The window goes back to its own handling before this owner disappears.
    m_router.UnSubclassAll();
    // A dock keeps the launcher entry after we stop drawing on it: take our
    // bar (and any error mark) off rather than leave it frozen there.
    if (m_progressShown && BusUsable()) {
        SendLauncherUpdate({{QStringLiteral("progress-visible"), false},
                            {QStringLiteral("urgent"), false}});
    }
}

bool clsTaskBar::BusUsable() const { return m_bus.isConnected(); }

void clsTaskBar::SendLauncherUpdate(const QVariantMap& properties) {
    QDBusMessage update =
        QDBusMessage::createSignal(kLauncherPath, kLauncherInterface, kLauncherUpdate);
    update << kLauncherAppUri << properties;
    // A broadcast: whether any dock listens is not our concern.
    m_bus.send(update);
}

// ---- Taskbar button -----------------------------------------------------------

qint32 clsTaskBar::SetProgressState(QWidget* hwnd, qint32 tbpFlags) {
    if (!BusUsable()) return 0;
    if (hwnd == nullptr || !IsProgressState(tbpFlags)) return TASKBAR_E_INVALIDARG;
    m_progressState = tbpFlags;
    m_progressShown = tbpFlags != TBPF_NOPROGRESS;
    SendLauncherUpdate({{QStringLiteral("progress"), m_progressFraction},
                        {QStringLiteral("progress-visible"), m_progressShown},
                        {QStringLiteral("urgent"), tbpFlags == TBPF_ERROR}});
    return 0;
}

qint32 clsTaskBar::SetProgressValue(QWidget* hwnd, qint32 ullCompleted, qint32 ullTotal) {
    if (!BusUsable()) return 0;
    if (hwnd == nullptr) return TASKBAR_E_INVALIDARG;
    // The values travel as 64-bit with a zero high part: unsigned 32-bit.
    const auto completed = static_cast<double>(static_cast<quint32>(ullCompleted));
    const auto total = static_cast<double>(static_cast<quint32>(ullTotal));
    m_progressFraction = total == 0.0 ? 0.0 : std::min(1.0, completed / total);
    if (m_progressState == TBPF_NOPROGRESS || m_progressState == TBPF_INDETERMINATE) {
        m_progressState = TBPF_NORMAL;
    }
    m_progressShown = true;
    // Urgency is left as the state set it (an error stays marked).
    SendLauncherUpdate({{QStringLiteral("progress"), m_progressFraction},
                        {QStringLiteral("progress-visible"), true}});
    return 0;
}

qint32 clsTaskBar::SetOverlayIcon(QWidget* /*hwnd*/, const QIcon& /*hIcon*/,
                                  const QString& /*pszDescription*/) {
    return 0;
}

qint32 clsTaskBar::SetThumbnailClip(QWidget* /*hwnd*/, qint32 /*Left*/, qint32 /*Top*/,
                                    qint32 /*Right*/, qint32 /*Bottom*/) {
    return 0;
}

qint32 clsTaskBar::SetThumbnailTooltip(QWidget* /*hwnd*/, const QString& /*pszTip*/) {
    return 0;
}

qint32 clsTaskBar::ThumbBarAddButtons(QWidget* hwnd, qint32 cButtons, const QList<QIcon>& icons) {
    if (m_thumbBarSetUp || hwnd == nullptr) return 0;
    if (cButtons < 1 || cButtons > THUMBBAR_MAX_BUTTONS) return 0;
    // Button i takes icons[i]: a shorter list would be read past its end.
    if (icons.size() < cButtons) return 0;
    if (!m_router.Subclass(hwnd, 0, kThumbBarMethod, this, false, 0)) return 0;
    m_router.AddMsg(hwnd, MSG_BEFORE, QVariantList{QVariant(kCommandMessage)});
    m_thumbBarSetUp = true;
    m_thumbBarWindow = hwnd;
    return 0;
}

qint32 clsTaskBar::SendMessage(QWidget* hwnd, qint32 uMsg, qint32 wParam, qint32 lParam) {
    if (hwnd == nullptr || !m_router.IsSubclassed(hwnd)) return 0;
    return m_router.SendMessage(hwnd, uMsg, wParam, lParam);
}

bool clsTaskBar::HasRoutingMethod(MethodKind kind, int nOrdinal, int /*nParamCount*/) const {
    return kind == MethodKind::WindowMessage && nOrdinal == kThumbBarMethod;
}

void clsTaskBar::RoutedWindowMessage(int nOrdinal, RoutedMessage& message) {
    if (nOrdinal != kThumbBarMethod || message.uMsg != kCommandMessage) return;
    if (HiWord(message.wParam) != THBN_CLICKED) return;
    // The window still gets the notification afterwards (bHandled stays false).
    if (ButtonPressed) ButtonPressed(LoWord(message.wParam));
}

// ---- Taskbar windows ----------------------------------------------------------

void clsTaskBar::Transparency(qint32 value) { MakeTransparent(hwnd(), value, true); }

bool clsTaskBar::PinHwndToTaskBar(QWidget* /*lhwnd*/) { return false; }

// ---- Transparency ---------------------------------------------------------------

bool clsTaskBar::IsTransparent(QWidget* hwnd) const {
    return hwnd != nullptr && hwnd->windowOpacity() < 1.0;
}

qint32 clsTaskBar::HowTransparent(QWidget* hwnd) const {
    if (!IsTransparent(hwnd)) return 100;
    const double alpha = std::nearbyint(hwnd->windowOpacity() * 255.0);
    return static_cast<qint32>(std::nearbyint(alpha / 2.55));
}

void clsTaskBar::SetOpacityAlpha(QWidget* hwnd, double alpha) {
    // The platform takes a whole alpha byte.
    const double byte = std::clamp(std::nearbyint(alpha), 0.0, 255.0);
    hwnd->setWindowOpacity(byte / 255.0);
}

void clsTaskBar::Pause(int milliseconds) {
    if (EffectPause) {
        EffectPause(milliseconds);
        return;
    }
    // Each step has to reach the screen before the next one replaces it.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        QGuiApplication::sync();
    }
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

void clsTaskBar::MakeTransparent(QWidget* hwnd, qint32& Perc, bool ShowEffect) {
    // A negative percent would make no alpha value at all: 0 is the nearest.
    Perc = std::clamp(Perc, 0, 100);
    if (hwnd == nullptr) return;
    const qint32 current = HowTransparent(hwnd);
    if (current == Perc) return;
    QPointer<QWidget> window(hwnd);
    if (ShowEffect) {
        const double sign = current < Perc ? 1.0 : -1.0;
        const double distance = std::abs(current - Perc);
        for (int i = 0; i <= 100; i += 2) {
            if (i > 0) {
                Pause(kEffectPauseMs);
                // Whatever ran in the pause may have closed the window.
                if (window.isNull()) return;
            }
            SetOpacityAlpha(window, 2.55 * (current + sign * distance * i / 100.0));
        }
    } else {
        SetOpacityAlpha(window, 2.55 * Perc);
    }
    if (Perc == 100) MakeOpaque(window);
}

void clsTaskBar::MakeOpaque(QWidget* hwnd) {
    if (hwnd != nullptr) hwnd->setWindowOpacity(1.0);
}

}  // namespace lumeval
