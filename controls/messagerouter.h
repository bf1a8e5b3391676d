// The routing layer: a window's messages go to an owner before and after the
// window's own handling, keyboard and mouse input of the whole application
// goes to hook owners, and opaque callback handles call an owner's method.
//
// On Qt a route is an event filter on the widget. The filter translates each
// event into its Windows message number, offers it to the owner (before
// phase), runs the widget's own event handler unless the owner answered it,
// and offers it again (after phase) with the handler's answer. Every refusal
// is written to the log sink as "<owner type>.<routine>: <message>".
#pragma once

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <QVariantList>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "controls/windowmessages.h"

class QEvent;
class QPainter;
class QWidget;

namespace lumeval {

/// Entries of one message table.
inline constexpr int MSG_ENTRIES = 32;
/// Message value standing for every message of the window.
inline constexpr qint32 ALL_MESSAGES = -1;
/// `When` values: before the window's own handling, after it, or both.
inline constexpr int MSG_BEFORE = 1;
inline constexpr int MSG_AFTER = 2;
inline constexpr int MSG_BEFORE_AND_AFTER = 3;

/// Hook kinds that can be installed (the Windows values).
inline constexpr qint32 WH_KEYBOARD = 2;
inline constexpr qint32 WH_MOUSE = 7;

/// One routed window message as the owner sees it; bHandled, lReturn and
/// lParamUser are read back after the call.
struct RoutedMessage {
    bool bBefore = true;
    bool bHandled = false;
    qint32 lReturn = 0;
    QWidget* lng_hWnd = nullptr;
    qint32 uMsg = 0;
    qint32 wParam = 0;
    qint32 lParam = 0;
    qint32 lParamUser = 0;
    /// The Qt event behind the message; null for messages sent by number.
    QEvent* event = nullptr;
};

/// One hook call as the owner sees it. A keyboard hook gets the virtual key in
/// wParam and the keystroke flags in lParam; a mouse hook gets the message
/// number in wParam and the screen position (x low, y high) in lParam.
struct HookCall {
    bool bBefore = true;
    bool bHandled = false;
    qint32 lReturn = 0;
    qint32 HookType = 0;
    qint32 nCode = 0;
    qint32 wParam = 0;
    qint32 lParam = 0;
    qint32 lParamUser = 0;
};

/// An object whose methods receive routed calls. Methods are addressed by
/// ordinal counted from the end of the owner's list (1 = the last). An owner
/// must outlive its routes, hooks and callbacks (end them before it goes).
class RoutingOwner {
  public:
    enum class MethodKind { WindowMessage, Hook, Callback };
    virtual ~RoutingOwner() = default;
    /// Whether method nOrdinal exists for this kind of call (for callbacks:
    /// taking nParamCount arguments).
    virtual bool HasRoutingMethod(MethodKind kind, int nOrdinal, int nParamCount) const = 0;
    virtual void RoutedWindowMessage(int /*nOrdinal*/, RoutedMessage& /*message*/) {}
    virtual void RoutedHookCall(int /*nOrdinal*/, HookCall& /*call*/) {}
    virtual qintptr RoutedCallback(int /*nOrdinal*/, std::span<const qintptr> /*args*/) {
        return 0;
    }
};

/// A count and up to MSG_ENTRIES message numbers; count -1 means all
/// messages, a 0 entry is a removed message whose place a later one reuses.
class MessageTable {
  public:
    enum class AddResult { Added, AlreadyPresent, Overflow };
    AddResult Add(qint32 message);
    void Remove(qint32 message);
    bool Contains(qint32 message) const;
    int Count() const { return m_count; }
    /// Entry 1..MSG_ENTRIES (0 when unused or removed).
    qint32 Entry(int position) const;

  private:
    int m_count = 0;
    std::array<qint32, MSG_ENTRIES> m_entries{};
};

class WidgetFilter;

class MessageRouter : public QObject {
  public:
    /// Lookup kinds of the refusal table.
    enum ThunkKind { kSubclass = 0, kHook = 1, kCallback = 2 };

    /// `typeName` heads every log entry ("clsControls").
    explicit MessageRouter(QString typeName, QObject* parent = nullptr);
    ~MessageRouter() override;

    // Subclassing.
    bool Subclass(QWidget* window, qint32 lParamUser, int nOrdinal, RoutingOwner* owner,
                  bool bIsAPIwindow, qint32 lOLEDropMode);
    void AddMsg(QWidget* window, int When, const QVariantList& messages);
    void DelMsg(QWidget* window, int When, const QVariantList& messages);
    /// The window's own answer to a message, the route bypassed.
    qint32 CallOrigWndProc(QWidget* window, qint32 uMsg, qint32 wParam, qint32 lParam);
    /// Sends a message by number through the route (before, own, after) and
    /// returns the final answer; messages without a Qt counterpart are
    /// answered 0 by the window itself.
    qint32 SendMessage(QWidget* window, qint32 uMsg, qint32 wParam, qint32 lParam);
    void SetUserValue(QWidget* window, qint32 value);
    void UnSubclass(QWidget* window);
    void UnSubclassAll();
    bool IsSubclassed(QWidget* window) const;
    /// The before (MSG_BEFORE) or after (MSG_AFTER) table of a route; null when not routed.
    const MessageTable* Table(QWidget* window, int When) const;
    std::vector<QWidget*> SubclassedWindows() const;

    /// Extra painting after the widget's own paint (stored drawings, owner-
    /// drawn controls); one painter per key, null removes it.
    using PaintLayer = std::function<void(QPainter&)>;
    void SetPaintLayer(QWidget* window, const void* key, PaintLayer layer);

    // Hooks: application-wide event filters for keyboard and mouse input.
    bool SetHook(qint32 HookType, bool bGlobal, int When, qint32 lParamUser, int nOrdinal,
                 RoutingOwner* owner);
    void UnHook(qint32 HookType);
    void UnHookAll();
    bool IsHooked(qint32 HookType) const;

    // Callbacks: opaque non-zero handles that call an owner's method.
    quintptr SetCallback(int nParamCount, int nOrdinal, RoutingOwner* owner, bool bIsTimerCallback);
    /// Calls the method behind a handle; 0 for an unknown handle.
    qintptr InvokeCallback(quintptr handle, std::span<const qintptr> args);
    void ReleaseCallback(quintptr handle);
    void ReleaseAllCallbacks();
    int CallbackCount() const { return static_cast<int>(m_callbacks.size()); }

    /// Finds a route, hook or callback by kind and key (a window, hook kind or
    /// handle as a number), logging as the refusal table says unless silent.
    bool Lookup(int kind, quintptr key, const char* routine, bool silent = false);

    /// Writes "<type>.<routine>: <text>" to the log sink.
    void LogError(const char* routine, const QString& text) const;

  private:
    friend class WidgetFilter;
    struct Route;
    struct Hook;
    struct Callback {
        int nParamCount = 0;
        int nOrdinal = 0;
        RoutingOwner* owner = nullptr;
        bool bIsTimerCallback = false;
    };
    class HookFilter;

    static QString KeyText(quintptr key);
    Route* FindRoute(QWidget* window, const char* routine);
    WidgetFilter* FilterFor(QWidget* window, bool create);
    void DropFilterIfIdle(QWidget* window);
    void ChangeTables(QWidget* window, int When, const QVariantList& messages, bool add,
                      const char* routine);
    bool DispatchHook(QObject* target, QEvent* event);
    /// Before phase, the window's own handling, after phase; returns the answer.
    qint32 RunRoute(QWidget* window, const WindowMessage& message, QEvent* event,
                    bool& handledBefore, const std::function<qint32()>& ownHandling);

    // The last input a hook saw, to recognise the same input climbing to a parent.
    struct LastInput {
        QPointer<QWidget> receiver;
        int type = 0;
        quint64 timestamp = 0;
        int detail = 0;
        QPointF where;
    };
    LastInput m_lastInput;

    QString m_typeName;
    std::map<QString, std::unique_ptr<Route>> m_routes;
    std::map<QWidget*, WidgetFilter*> m_filters;
    std::map<QString, std::unique_ptr<Hook>> m_hooks;
    std::map<quintptr, Callback> m_callbacks;
    std::array<bool, 3> m_kindUsed{};
    quintptr m_nextCallback = 1;
    int m_hookDepth = 0;
    std::unique_ptr<HookFilter> m_hookFilter;
};

}  // namespace lumeval
