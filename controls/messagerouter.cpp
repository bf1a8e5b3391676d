#include "controls/messagerouter.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMetaType>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>
#include <QWheelEvent>
#include <QWidget>

#include "controls/logsink.h"

namespace lumeval {

namespace {

// Windows error numbers reported when a hook cannot be installed.
constexpr int kErrorInvalidHookFilter = 1426;
constexpr int kErrorHookNeedsModule = 1428;

bool HasLocalFiles(const QMimeData* mime) {
    if (mime == nullptr) return false;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) return true;
    }
    return false;
}

// Only 8-, 16- and 32-bit integers are message numbers; anything else
// (texts, fractions, 64-bit values) is skipped.
std::optional<qint32> MessageNumber(const QVariant& value) {
    switch (value.metaType().id()) {
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Int:
            return value.toInt();
        case QMetaType::UInt:
            return static_cast<qint32>(value.toUInt());
        default:
            return std::nullopt;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// MessageTable

MessageTable::AddResult MessageTable::Add(qint32 message) {
    if (message == ALL_MESSAGES) {
        m_count = ALL_MESSAGES;
        m_entries.fill(0);
        return AddResult::Added;
    }
    // 0 marks a free entry, so it cannot be stored; a table routing all
    // messages already holds every number.
    if (message == 0 || m_count == ALL_MESSAGES) return AddResult::AlreadyPresent;
    // Presence is checked over the whole table before a free entry is reused,
    // so a message never sits in two entries (a later removal would leave it
    // routed).
    int freeEntry = 0;
    for (int i = 1; i <= m_count; ++i) {
        const qint32 entry = m_entries[static_cast<std::size_t>(i - 1)];
        if (entry == message) return AddResult::AlreadyPresent;
        if (entry == 0 && freeEntry == 0) freeEntry = i;
    }
    if (freeEntry == 0) {
        if (m_count >= MSG_ENTRIES) return AddResult::Overflow;
        freeEntry = m_count + 1;
    }
    m_entries[static_cast<std::size_t>(freeEntry - 1)] = message;
    m_count = std::max(m_count, freeEntry);
    return AddResult::Added;
}

void MessageTable::Remove(qint32 message) {
    if (message == ALL_MESSAGES) {
        m_count = 0;
        m_entries.fill(0);
        return;
    }
    if (message == 0 || m_count == ALL_MESSAGES) return;
    for (int i = 1; i <= m_count; ++i) {
        qint32& entry = m_entries[static_cast<std::size_t>(i - 1)];
        if (entry == message) entry = 0;
    }
}

bool MessageTable::Contains(qint32 message) const {
    if (m_count == ALL_MESSAGES) return true;
    if (message == 0) return false;
    for (int i = 1; i <= m_count; ++i) {
        if (m_entries[static_cast<std::size_t>(i - 1)] == message) return true;
    }
    return false;
}

qint32 MessageTable::Entry(int position) const {
    if (position < 1 || position > MSG_ENTRIES || m_count == ALL_MESSAGES) return 0;
    return m_entries[static_cast<std::size_t>(position - 1)];
}

// ---------------------------------------------------------------------------
// Routes and filters

struct MessageRouter::Route {
    QPointer<QWidget> window;
    RoutingOwner* owner = nullptr;
    int nOrdinal = 1;
    qint32 lParamUser = 0;
    bool bIsAPIwindow = false;
    qint32 lOLEDropMode = 0;
    bool acceptedDropsBefore = false;
    bool trackedMouseBefore = false;
    MessageTable before;
    MessageTable after;
};

struct MessageRouter::Hook {
    qint32 HookType = 0;
    int When = MSG_BEFORE;
    qint32 lParamUser = 0;
    int nOrdinal = 0;
    RoutingOwner* owner = nullptr;
};

// One per widget that is routed or painted on. Calls the widget's own event
// handler itself, so that the owner can be offered the message afterwards.
// A route's filter should be the last one installed on its widget: filters
// installed earlier are passed over for the messages it routes.
class WidgetFilter : public QObject {
  public:
    WidgetFilter(MessageRouter* router, QWidget* widget)
        : QObject(router), m_router(router), m_widget(widget) {}

    bool eventFilter(QObject* watched, QEvent* event) override;
    bool HasLayers() const { return !m_layers.empty(); }
    void SetLayer(const void* key, MessageRouter::PaintLayer layer) {
        if (layer) {
            m_layers[key] = std::move(layer);
        } else {
            m_layers.erase(key);
        }
    }
    void PaintLayers() {
        if (m_layers.empty() || !m_widget) return;
        QPainter painter(m_widget);
        // Copy: a layer may change the set while painting.
        const auto layers = m_layers;
        for (const auto& [key, layer] : layers) {
            painter.save();
            layer(painter);
            painter.restore();
        }
    }

  private:
    MessageRouter* m_router;
    QPointer<QWidget> m_widget;
    std::map<const void*, MessageRouter::PaintLayer> m_layers;
};

bool WidgetFilter::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_widget || !m_widget) return false;
    QWidget* widget = m_widget;
    const QString key = MessageRouter::KeyText(reinterpret_cast<quintptr>(widget));
    auto found = m_router->m_routes.find(key);
    MessageRouter::Route* route = found == m_router->m_routes.end() ? nullptr : found->second.get();

    const QEvent::Type type = event->type();
    if (route != nullptr && route->lOLEDropMode != 0 &&
        (type == QEvent::DragEnter || type == QEvent::DragMove)) {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (HasLocalFiles(drag->mimeData())) {
            drag->acceptProposedAction();
            return true;
        }
    }

    const bool paint = type == QEvent::Paint;
    std::optional<WindowMessage> message;
    if (route != nullptr) message = TranslateEvent(*event, *widget);
    const bool routed =
        message && (route->before.Contains(message->uMsg) || route->after.Contains(message->uMsg));
    if (!routed) {
        if (!paint || !HasLayers()) return false;
        const bool answer = static_cast<QObject*>(widget)->event(event);
        PaintLayers();
        return answer;
    }

    // Kept alive across the owner's calls, which may end the route.
    QPointer<WidgetFilter> self(this);
    bool handled = false;
    const qint32 answer = m_router->RunRoute(widget, *message, event, handled, [&]() -> qint32 {
        const bool result = static_cast<QObject*>(widget)->event(event);
        if (paint && self) self->PaintLayers();
        return result ? 1 : 0;
    });
    if (handled) {
        event->accept();
        return true;
    }
    if (type == QEvent::Drop) static_cast<QDropEvent*>(event)->acceptProposedAction();
    return answer != 0;
}

qint32 MessageRouter::RunRoute(QWidget* window, const WindowMessage& message, QEvent* event,
                               bool& handledBefore, const std::function<qint32()>& ownHandling) {
    handledBefore = false;
    QPointer<QWidget> alive(window);
    const QString key = KeyText(reinterpret_cast<quintptr>(window));
    const auto current = [&]() -> Route* {
        auto found = m_routes.find(key);
        return found == m_routes.end() || !alive ? nullptr : found->second.get();
    };

    RoutedMessage routed;
    routed.lng_hWnd = window;
    routed.uMsg = message.uMsg;
    routed.wParam = message.wParam;
    routed.lParam = message.lParam;
    routed.event = event;

    if (Route* route = current(); route != nullptr && route->before.Contains(message.uMsg)) {
        routed.bBefore = true;
        routed.lParamUser = route->lParamUser;
        route->owner->RoutedWindowMessage(route->nOrdinal, routed);
        if (Route* still = current()) still->lParamUser = routed.lParamUser;
        if (routed.bHandled) {
            handledBefore = true;
            return routed.lReturn;
        }
    }
    if (!alive) return 0;
    qint32 answer = ownHandling();
    if (Route* route = current(); route != nullptr && route->after.Contains(message.uMsg)) {
        routed.bBefore = false;
        routed.bHandled = false;
        routed.lReturn = answer;
        routed.lParamUser = route->lParamUser;
        route->owner->RoutedWindowMessage(route->nOrdinal, routed);
        if (Route* still = current()) still->lParamUser = routed.lParamUser;
        answer = routed.lReturn;
    }
    return answer;
}

// ---------------------------------------------------------------------------
// Hooks

class MessageRouter::HookFilter : public QObject {
  public:
    explicit HookFilter(MessageRouter* router) : m_router(router) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        return m_router->DispatchHook(watched, event);
    }

  private:
    MessageRouter* m_router;
};

bool MessageRouter::DispatchHook(QObject* target, QEvent* event) {
    // Input reaches the window object first and then its widget, and
    // unaccepted input climbs to the parents; a hook sees each keystroke or
    // mouse action once, at the first widget that receives it.
    if (!event->spontaneous() || target == nullptr || !target->isWidgetType()) return false;
    qint32 kind = 0;
    qint32 wParam = 0;
    qint32 lParam = 0;
    quint64 timestamp = 0;
    QPointF where;
    int detail = 0;
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            auto* key = static_cast<QKeyEvent*>(event);
            kind = WH_KEYBOARD;
            const auto message = TranslateEvent(*event, *static_cast<QWidget*>(target));
            wParam = message ? message->wParam : 0;
            lParam = message ? message->lParam : 0;
            timestamp = key->timestamp();
            detail = key->key();
            break;
        }
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel: {
            auto* input = static_cast<QSinglePointEvent*>(event);
            kind = WH_MOUSE;
            const auto message = TranslateEvent(*event, *static_cast<QWidget*>(target));
            if (!message) return false;
            wParam = message->uMsg;
            where = input->globalPosition();
            lParam = MakeLong(static_cast<qint32>(where.x()), static_cast<qint32>(where.y()));
            timestamp = input->timestamp();
            detail = static_cast<int>(input->button());
            break;
        }
        default:
            return false;
    }
    const QString key = KeyText(static_cast<quintptr>(kind));
    auto found = m_hooks.find(key);
    if (found == m_hooks.end()) return false;

    auto* widget = static_cast<QWidget*>(target);
    const bool propagated =
        m_lastInput.receiver && m_lastInput.type == static_cast<int>(event->type()) &&
        m_lastInput.timestamp == timestamp && m_lastInput.detail == detail &&
        m_lastInput.where == where && widget->isAncestorOf(m_lastInput.receiver);
    m_lastInput = {QPointer<QWidget>(widget), static_cast<int>(event->type()), timestamp, detail,
                   where};
    if (propagated) return false;

    ++m_hookDepth;
    struct DepthGuard {
        int& depth;
        ~DepthGuard() { --depth; }
    } guard{m_hookDepth};
    HookCall call;
    call.HookType = kind;
    call.nCode = 0;
    call.wParam = wParam;
    call.lParam = lParam;
    const int When = found->second->When;
    if (When & MSG_BEFORE) {
        Hook* hook = found->second.get();
        call.bBefore = true;
        call.lParamUser = hook->lParamUser;
        hook->owner->RoutedHookCall(hook->nOrdinal, call);
        auto again = m_hooks.find(key);
        if (again == m_hooks.end()) return call.bHandled && call.lReturn != 0;
        again->second->lParamUser = call.lParamUser;
        // A handled call with a non-zero answer keeps the input from the window.
        if (call.bHandled && call.lReturn != 0) return true;
    }
    if (When & MSG_AFTER) {
        auto again = m_hooks.find(key);
        if (again == m_hooks.end()) return false;
        Hook* hook = again->second.get();
        call.bBefore = false;
        call.bHandled = false;
        call.lReturn = 0;
        call.lParamUser = hook->lParamUser;
        hook->owner->RoutedHookCall(hook->nOrdinal, call);
        if (auto last = m_hooks.find(key); last != m_hooks.end())
            last->second->lParamUser = call.lParamUser;
    }
    return false;
}

// ---------------------------------------------------------------------------
// MessageRouter

MessageRouter::MessageRouter(QString typeName, QObject* parent)
    : QObject(parent), m_typeName(std::move(typeName)) {}

MessageRouter::~MessageRouter() {
    UnSubclassAll();
    UnHookAll();
    ReleaseAllCallbacks();
    for (auto& [widget, filter] : m_filters) {
        widget->removeEventFilter(filter);
        disconnect(widget, &QObject::destroyed, this, nullptr);
        delete filter;
    }
    m_filters.clear();
}

QString MessageRouter::KeyText(quintptr key) {
    return QString::number(key) + QLatin1Char('h');
}

void MessageRouter::LogError(const char* routine, const QString& text) const {
    LogWrite(m_typeName + QLatin1Char('.') + QLatin1String(routine) + QStringLiteral(": ") + text);
}

bool MessageRouter::Lookup(int kind, quintptr key, const char* routine, bool silent) {
    if (kind < kSubclass || kind > kCallback) {
        if (!silent) LogError(routine, QStringLiteral("Invalid thunk type passed"));
        return false;
    }
    if (!m_kindUsed[static_cast<std::size_t>(kind)]) {
        if (!silent) LogError(routine, QStringLiteral("Thunk hasn't been initialized"));
        return false;
    }
    bool exists = false;
    switch (kind) {
        case kSubclass: {
            auto found = m_routes.find(KeyText(key));
            exists = found != m_routes.end() && found->second->window;
            break;
        }
        case kHook:
            exists = m_hooks.count(KeyText(key)) != 0;
            break;
        default:
            exists = m_callbacks.count(key) != 0;
            break;
    }
    if (!exists && !silent) {
        LogError(routine, QStringLiteral("Thunk type for ") + QString::number(kind) +
                              QStringLiteral(" does not exist"));
    }
    return exists;
}

MessageRouter::Route* MessageRouter::FindRoute(QWidget* window, const char* routine) {
    if (!Lookup(kSubclass, reinterpret_cast<quintptr>(window), routine)) return nullptr;
    return m_routes.find(KeyText(reinterpret_cast<quintptr>(window)))->second.get();
}

WidgetFilter* MessageRouter::FilterFor(QWidget* window, bool create) {
    auto found = m_filters.find(window);
    if (found != m_filters.end()) return found->second;
    if (!create) return nullptr;
    auto* filter = new WidgetFilter(this, window);
    m_filters[window] = filter;
    window->installEventFilter(filter);
    // A widget destroyed while routed takes its route and painters with it.
    connect(window, &QObject::destroyed, this, [this, window]() {
        m_routes.erase(KeyText(reinterpret_cast<quintptr>(window)));
        auto it = m_filters.find(window);
        if (it != m_filters.end()) {
            it->second->deleteLater();
            m_filters.erase(it);
        }
    });
    return filter;
}

void MessageRouter::DropFilterIfIdle(QWidget* window) {
    auto found = m_filters.find(window);
    if (found == m_filters.end()) return;
    if (found->second->HasLayers() ||
        m_routes.count(KeyText(reinterpret_cast<quintptr>(window))) != 0)
        return;
    window->removeEventFilter(found->second);
    disconnect(window, &QObject::destroyed, this, nullptr);
    // Later: the filter may be the caller (an owner ending its route from
    // inside a routed message).
    found->second->deleteLater();
    m_filters.erase(found);
}

bool MessageRouter::Subclass(QWidget* window, qint32 lParamUser, int nOrdinal, RoutingOwner* owner,
                             bool bIsAPIwindow, qint32 lOLEDropMode) {
    constexpr const char* routine = "ssc_Subclass";
    // Every Qt widget lives in this process; only its existence can fail.
    if (window == nullptr) {
        LogError(routine, QStringLiteral("Invalid window handle"));
        return false;
    }
    if (owner == nullptr ||
        !owner->HasRoutingMethod(RoutingOwner::MethodKind::WindowMessage, nOrdinal, 8)) {
        LogError(routine, QStringLiteral("Callback method not found"));
        return false;
    }
    const QString key = KeyText(reinterpret_cast<quintptr>(window));
    if (m_routes.count(key) != 0) {
        LogError(routine, QStringLiteral("Window handle is already subclassed"));
        return false;
    }
    auto route = std::make_unique<Route>();
    route->window = window;
    route->owner = owner;
    route->nOrdinal = nOrdinal;
    route->lParamUser = lParamUser;
    route->bIsAPIwindow = bIsAPIwindow;
    route->lOLEDropMode = lOLEDropMode;
    route->acceptedDropsBefore = window->acceptDrops();
    route->trackedMouseBefore = window->hasMouseTracking();
    if (lOLEDropMode != 0) window->setAcceptDrops(true);
    // A window procedure sees every pointer move, not only those with a button down.
    window->setMouseTracking(true);
    m_routes[key] = std::move(route);
    m_kindUsed[kSubclass] = true;
    FilterFor(window, true);
    return true;
}

void MessageRouter::ChangeTables(QWidget* window, int When, const QVariantList& messages, bool add,
                                 const char* routine) {
    Route* route = FindRoute(window, routine);
    if (route == nullptr) return;
    bool beforeOpen = (When & MSG_BEFORE) != 0;
    bool afterOpen = (When & MSG_AFTER) != 0;
    for (const QVariant& value : messages) {
        const auto message = MessageNumber(value);
        if (!message) continue;
        for (auto [table, open] :
             {std::pair{&route->before, &beforeOpen}, std::pair{&route->after, &afterOpen}}) {
            if (!*open) continue;
            if (!add) {
                table->Remove(*message);
                continue;
            }
            if (table->Add(*message) == MessageTable::AddResult::Overflow) {
                LogError(
                    routine,
                    QStringLiteral(
                        "Message table overflow. Either increase the value of Const MSG_ENTRIES "
                        "or use ALL_MESSAGES instead of specific message values"));
                // The full table is not offered the rest of this call's messages.
                *open = false;
            }
        }
    }
}

void MessageRouter::AddMsg(QWidget* window, int When, const QVariantList& messages) {
    ChangeTables(window, When, messages, true, "ssc_AddMsg");
}

void MessageRouter::DelMsg(QWidget* window, int When, const QVariantList& messages) {
    ChangeTables(window, When, messages, false, "ssc_DelMsg");
}

qint32 MessageRouter::CallOrigWndProc(QWidget* window, qint32 uMsg, qint32 wParam, qint32 lParam) {
    if (FindRoute(window, "ssc_CallOrigWndProc") == nullptr) return 0;
    std::unique_ptr<QEvent> event = SynthesizeEvent(WindowMessage{uMsg, wParam, lParam}, *window);
    if (!event) return 0;
    return static_cast<QObject*>(window)->event(event.get()) ? 1 : 0;
}

qint32 MessageRouter::SendMessage(QWidget* window, qint32 uMsg, qint32 wParam, qint32 lParam) {
    if (FindRoute(window, "SendMessage") == nullptr) return 0;
    std::unique_ptr<QEvent> event = SynthesizeEvent(WindowMessage{uMsg, wParam, lParam}, *window);
    bool handled = false;
    return RunRoute(window, WindowMessage{uMsg, wParam, lParam}, event.get(), handled,
                    [&]() -> qint32 {
                        if (!event) return 0;
                        return static_cast<QObject*>(window)->event(event.get()) ? 1 : 0;
                    });
}

void MessageRouter::SetUserValue(QWidget* window, qint32 value) {
    if (Route* route = FindRoute(window, "zSet_lParamUser")) route->lParamUser = value;
}

void MessageRouter::UnSubclass(QWidget* window) {
    if (FindRoute(window, "ssc_UnSubclass") == nullptr) return;
    auto found = m_routes.find(KeyText(reinterpret_cast<quintptr>(window)));
    if (found->second->window) {
        window->setAcceptDrops(found->second->acceptedDropsBefore);
        window->setMouseTracking(found->second->trackedMouseBefore);
    }
    m_routes.erase(found);
    DropFilterIfIdle(window);
}

void MessageRouter::UnSubclassAll() {
    for (QWidget* window : SubclassedWindows()) UnSubclass(window);
}

bool MessageRouter::IsSubclassed(QWidget* window) const {
    return m_routes.count(KeyText(reinterpret_cast<quintptr>(window))) != 0;
}

const MessageTable* MessageRouter::Table(QWidget* window, int When) const {
    auto found = m_routes.find(KeyText(reinterpret_cast<quintptr>(window)));
    if (found == m_routes.end()) return nullptr;
    return When == MSG_AFTER ? &found->second->after : &found->second->before;
}

std::vector<QWidget*> MessageRouter::SubclassedWindows() const {
    std::vector<QWidget*> windows;
    for (const auto& [key, route] : m_routes) {
        if (route->window) windows.push_back(route->window);
    }
    return windows;
}

void MessageRouter::SetPaintLayer(QWidget* window, const void* key, PaintLayer layer) {
    if (window == nullptr) return;
    const bool removing = !layer;
    WidgetFilter* filter = FilterFor(window, !removing);
    if (filter == nullptr) return;
    filter->SetLayer(key, std::move(layer));
    if (removing) DropFilterIfIdle(window);
    window->update();
}

bool MessageRouter::SetHook(qint32 HookType, bool bGlobal, int When, qint32 lParamUser,
                            int nOrdinal, RoutingOwner* owner) {
    constexpr const char* routine = "shk_SetHook";
    if (owner == nullptr || !owner->HasRoutingMethod(RoutingOwner::MethodKind::Hook, nOrdinal, 3)) {
        LogError(routine, QStringLiteral("Callback method not found"));
        return false;
    }
    const QString key = KeyText(static_cast<quintptr>(static_cast<quint32>(HookType)));
    if (m_hooks.count(key) != 0) {
        LogError(routine, QStringLiteral("Hook is already established"));
        return false;
    }
    // No cross-process hooks on this desktop; of the thread hooks only the
    // keyboard and mouse kinds have a Qt counterpart.
    if (bGlobal || (HookType != WH_KEYBOARD && HookType != WH_MOUSE)) {
        LogError(routine,
                 QStringLiteral("SetWindowsHookEx failed, error #") +
                     QString::number(bGlobal ? kErrorHookNeedsModule : kErrorInvalidHookFilter));
        return false;
    }
    auto hook = std::make_unique<Hook>();
    hook->HookType = HookType;
    hook->When = When;
    hook->lParamUser = lParamUser;
    hook->nOrdinal = nOrdinal;
    hook->owner = owner;
    m_hooks[key] = std::move(hook);
    m_kindUsed[kHook] = true;
    if (!m_hookFilter) {
        m_hookFilter = std::make_unique<HookFilter>(this);
        if (QCoreApplication* app = QCoreApplication::instance())
            app->installEventFilter(m_hookFilter.get());
    }
    return true;
}

void MessageRouter::UnHook(qint32 HookType) {
    if (!Lookup(kHook, static_cast<quintptr>(static_cast<quint32>(HookType)), "shk_UnHook")) return;
    m_hooks.erase(KeyText(static_cast<quintptr>(static_cast<quint32>(HookType))));
    if (m_hooks.empty() && m_hookFilter) {
        if (QCoreApplication* app = QCoreApplication::instance())
            app->removeEventFilter(m_hookFilter.get());
        // An owner may unhook from inside its own hook call.
        if (m_hookDepth > 0) {
            m_hookFilter.release()->deleteLater();
        } else {
            m_hookFilter.reset();
        }
    }
}

void MessageRouter::UnHookAll() {
    std::vector<qint32> kinds;
    for (const auto& [key, hook] : m_hooks) kinds.push_back(hook->HookType);
    for (qint32 kind : kinds) UnHook(kind);
}

bool MessageRouter::IsHooked(qint32 HookType) const {
    return m_hooks.count(KeyText(static_cast<quintptr>(static_cast<quint32>(HookType)))) != 0;
}

quintptr MessageRouter::SetCallback(int nParamCount, int nOrdinal, RoutingOwner* owner,
                                    bool bIsTimerCallback) {
    constexpr const char* routine = "scb_SetCallbackAddr";
    if (nParamCount < 0) {
        LogError(routine, QStringLiteral("Invalid Parameter count"));
        return 0;
    }
    if (owner == nullptr ||
        !owner->HasRoutingMethod(RoutingOwner::MethodKind::Callback, nOrdinal, nParamCount)) {
        LogError(routine, QStringLiteral("Callback address not found."));
        return 0;
    }
    const quintptr handle = m_nextCallback++;
    m_callbacks[handle] = Callback{nParamCount, nOrdinal, owner, bIsTimerCallback};
    m_kindUsed[kCallback] = true;
    return handle;
}

qintptr MessageRouter::InvokeCallback(quintptr handle, std::span<const qintptr> args) {
    auto found = m_callbacks.find(handle);
    if (found == m_callbacks.end()) return 0;
    const Callback callback = found->second;
    // Missing arguments are passed as 0, extra ones dropped.
    std::vector<qintptr> exact(static_cast<std::size_t>(callback.nParamCount), 0);
    std::copy_n(args.begin(), std::min(args.size(), exact.size()), exact.begin());
    return callback.owner->RoutedCallback(callback.nOrdinal, exact);
}

void MessageRouter::ReleaseCallback(quintptr handle) {
    if (!Lookup(kCallback, handle, "scb_ReleaseCallback")) return;
    m_callbacks.erase(handle);
}

void MessageRouter::ReleaseAllCallbacks() {
    m_callbacks.clear();
}

}  // namespace lumeval
