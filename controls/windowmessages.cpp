#include "controls/windowmessages.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QShowEvent>
#include <QTimerEvent>
#include <QUrl>
#include <QWheelEvent>
#include <QWidget>
#include <algorithm>
#include <array>
#include <utility>

namespace lumeval {

namespace {

constexpr std::pair<qint32, const char*> kMessageNames[] = {
    {0x0000, "WA_INACTIVE"},
    {0x0001, "WA_ACTIVE"},
    {0x0002, "WA_CLICKACTIVE"},
    {0x0003, "WM_MOVE"},
    {0x0005, "WM_SIZE"},
    {0x0006, "WM_ACTIVATE"},
    {0x0007, "WM_SETFOCUS"},
    {0x0008, "WM_KILLFOCUS"},
    {0x000A, "WM_ENABLE"},
    {0x000B, "WM_SETREDRAW"},
    {0x000C, "WM_SETTEXT"},
    {0x000D, "WM_GETTEXT"},
    {0x000E, "WM_GETTEXTLENGTH"},
    {0x000F, "WM_PAINT"},
    {0x0010, "WM_CLOSE"},
    {0x0011, "WM_QUERYENDSESSION"},
    {0x0012, "WM_QUIT"},
    {0x0013, "WM_QUERYOPEN"},
    {0x0014, "WM_ERASEBKGND"},
    {0x0015, "WM_SYSCOLORCHANGE"},
    {0x0016, "WM_ENDSESSION"},
    {0x0018, "WM_SHOWWINDOW"},
    {0x001A, "WM_SETTINGCHANGE"},
    {0x001B, "WM_DEVMODECHANGE"},
    {0x001C, "WM_ACTIVATEAPP"},
    {0x001D, "WM_FONTCHANGE"},
    {0x001E, "WM_TIMECHANGE"},
    {0x001F, "WM_CANCELMODE"},
    {0x0020, "WM_SETCURSOR"},
    {0x0021, "WM_MOUSEACTIVATE"},
    {0x0022, "WM_CHILDACTIVATE"},
    {0x0023, "WM_QUEUESYNC"},
    {0x0024, "WM_GETMINMAXINFO"},
    {0x0026, "WM_PAINTICON"},
    {0x0027, "WM_ICONERASEBKGND"},
    {0x0028, "WM_NEXTDLGCTL"},
    {0x002A, "WM_SPOOLERSTATUS"},
    {0x002B, "WM_DRAWITEM"},
    {0x002C, "WM_MEASUREITEM"},
    {0x002D, "WM_DELETEITEM"},
    {0x002E, "WM_VKEYTOITEM"},
    {0x002F, "WM_CHARTOITEM"},
    {0x0030, "WM_SETFONT"},
    {0x0031, "WM_GETFONT"},
    {0x0032, "WM_SETHOTKEY"},
    {0x0033, "WM_GETHOTKEY"},
    {0x0037, "WM_QUERYDRAGICON"},
    {0x0039, "WM_COMPAREITEM"},
    {0x003D, "WM_GETOBJECT"},
    {0x0041, "WM_COMPACTING"},
    {0x0044, "WM_COMMNOTIFY"},
    {0x0046, "WM_WINDOWPOSCHANGING"},
    {0x0047, "WM_WINDOWPOSCHANGED"},
    {0x0048, "WM_POWER"},
    {0x004A, "WM_COPYDATA"},
    {0x004B, "WM_CANCELJOURNAL"},
    {0x004E, "WM_NOTIFY"},
    {0x0050, "WM_INPUTLANGCHANGEREQUEST"},
    {0x0051, "WM_INPUTLANGCHANGE"},
    {0x0052, "WM_TCARD"},
    {0x0053, "WM_HELP"},
    {0x0054, "WM_USERCHANGED"},
    {0x0055, "WM_NOTIFYFORMAT"},
    {0x007B, "WM_CONTEXTMENU"},
    {0x007C, "WM_STYLECHANGING"},
    {0x007D, "WM_STYLECHANGED"},
    {0x007E, "WM_DISPLAYCHANGE"},
    {0x007F, "WM_GETICON"},
    {0x0080, "WM_SETICON"},
    {0x0081, "WM_NCCREATE"},
    {0x0082, "WM_NCDESTROY"},
    {0x0083, "WM_NCCALCSIZE"},
    {0x0084, "WM_NCHITTEST"},
    {0x0085, "WM_NCPAINT"},
    {0x0086, "WM_NCACTIVATE"},
    {0x0087, "WM_GETDLGCODE"},
    {0x0088, "WM_SYNCPAINT"},
    {0x00A0, "WM_NCMOUSEMOVE"},
    {0x00A1, "WM_NCLBUTTONDOWN"},
    {0x00A2, "WM_NCLBUTTONUP"},
    {0x00A3, "WM_NCLBUTTONDBLCLK"},
    {0x00A4, "WM_NCRBUTTONDOWN"},
    {0x00A5, "WM_NCRBUTTONUP"},
    {0x00A6, "WM_NCRBUTTONDBLCLK"},
    {0x00A7, "WM_NCMBUTTONDOWN"},
    {0x00A8, "WM_NCMBUTTONUP"},
    {0x00A9, "WM_NCMBUTTONDBLCLK"},
    {0x00FF, "WM_INPUT"},
    {0x0100, "WM_KEYDOWN"},
    {0x0101, "WM_KEYUP"},
    {0x0102, "WM_CHAR"},
    {0x0103, "WM_DEADCHAR"},
    {0x0104, "WM_SYSKEYDOWN"},
    {0x0105, "WM_SYSKEYUP"},
    {0x0106, "WM_SYSCHAR"},
    {0x0107, "WM_SYSDEADCHAR"},
    {0x0109, "WM_UNICHAR"},
    {0x010D, "WM_IME_STARTCOMPOSITION"},
    {0x010E, "WM_IME_ENDCOMPOSITION"},
    {0x010F, "WM_IME_COMPOSITION"},
    {0x0110, "WM_INITDIALOG"},
    {0x0111, "WM_COMMAND"},
    {0x0112, "WM_SYSCOMMAND"},
    {0x0113, "WM_TIMER"},
    {0x0114, "WM_HSCROLL"},
    {0x0115, "WM_VSCROLL"},
    {0x0116, "WM_INITMENU"},
    {0x0117, "WM_INITMENUPOPUP"},
    {0x011F, "WM_MENUSELECT"},
    {0x0120, "WM_MENUCHAR"},
    {0x0121, "WM_ENTERIDLE"},
    {0x0122, "WM_MENURBUTTONUP"},
    {0x0123, "WM_MENUDRAG"},
    {0x0124, "WM_MENUGETOBJECT"},
    {0x0125, "WM_UNINITMENUPOPUP"},
    {0x0126, "WM_MENUCOMMAND"},
    {0x0127, "WM_CHANGEUISTATE"},
    {0x0128, "WM_UPDATEUISTATE"},
    {0x0129, "WM_QUERYUISTATE"},
    {0x0132, "WM_CTLCOLORMSGBOX"},
    {0x0133, "WM_CTLCOLOREDIT"},
    {0x0134, "WM_CTLCOLORLISTBOX"},
    {0x0135, "WM_CTLCOLORBTN"},
    {0x0136, "WM_CTLCOLORDLG"},
    {0x0137, "WM_CTLCOLORSCROLLBAR"},
    {0x0138, "WM_CTLCOLORSTATIC"},
    {0x0200, "WM_MOUSEMOVE"},
    {0x0201, "WM_LBUTTONDOWN"},
    {0x0202, "WM_LBUTTONUP"},
    {0x0203, "WM_LBUTTONDBLCLK"},
    {0x0204, "WM_RBUTTONDOWN"},
    {0x0205, "WM_RBUTTONUP"},
    {0x0206, "WM_RBUTTONDBLCLK"},
    {0x0207, "WM_MBUTTONDOWN"},
    {0x0208, "WM_MBUTTONUP"},
    {0x0209, "WM_MBUTTONDBLCLK"},
    {0x020A, "WM_MOUSEWHEEL"},
    {0x020B, "WM_XBUTTONDOWN"},
    {0x020C, "WM_XBUTTONUP"},
    {0x020D, "WM_XBUTTONDBLCLK"},
    {0x020E, "WM_MOUSEHWHEEL"},
    {0x0210, "WM_PARENTNOTIFY"},
    {0x0211, "WM_ENTERMENULOOP"},
    {0x0212, "WM_EXITMENULOOP"},
    {0x0213, "WM_NEXTMENU"},
    {0x0214, "WM_SIZING"},
    {0x0215, "WM_CAPTURECHANGED"},
    {0x0216, "WM_MOVING"},
    {0x0218, "WM_POWERBROADCAST"},
    {0x0219, "WM_DEVICECHANGE"},
    {0x0220, "WM_MDICREATE"},
    {0x0221, "WM_MDIDESTROY"},
    {0x0222, "WM_MDIACTIVATE"},
    {0x0223, "WM_MDIRESTORE"},
    {0x0224, "WM_MDINEXT"},
    {0x0225, "WM_MDIMAXIMIZE"},
    {0x0226, "WM_MDITILE"},
    {0x0227, "WM_MDICASCADE"},
    {0x0228, "WM_MDIICONARRANGE"},
    {0x0229, "WM_MDIGETACTIVE"},
    {0x0230, "WM_MDISETMENU"},
    {0x0231, "WM_ENTERSIZEMOVE"},
    {0x0232, "WM_EXITSIZEMOVE"},
    {0x0233, "WM_DROPFILES"},
    {0x0234, "WM_MDIREFRESHMENU"},
    {0x0281, "WM_IME_SETCONTEXT"},
    {0x0282, "WM_IME_NOTIFY"},
    {0x0283, "WM_IME_CONTROL"},
    {0x0284, "WM_IME_COMPOSITIONFULL"},
    {0x0285, "WM_IME_SELECT"},
    {0x0286, "WM_IME_CHAR"},
    {0x0290, "WM_IME_KEYDOWN"},
    {0x0291, "WM_IME_KEYUP"},
    {0x02A0, "WM_NCMOUSEHOVER"},
    {0x02A1, "WM_MOUSEHOVER"},
    {0x02A2, "WM_NCMOUSELEAVE"},
    {0x02A3, "WM_MOUSELEAVE"},
    {0x0300, "WM_CUT"},
    {0x0301, "WM_COPY"},
    {0x0302, "WM_PASTE"},
    {0x0303, "WM_CLEAR"},
    {0x0304, "WM_UNDO"},
    {0x0305, "WM_RENDERFORMAT"},
    {0x0306, "WM_RENDERALLFORMATS"},
    {0x0307, "WM_DESTROYCLIPBOARD"},
    {0x0308, "WM_DRAWCLIPBOARD"},
    {0x0309, "WM_PAINTCLIPBOARD"},
    {0x030A, "WM_VSCROLLCLIPBOARD"},
    {0x030B, "WM_SIZECLIPBOARD"},
    {0x030C, "WM_ASKCBFORMATNAME"},
    {0x030D, "WM_CHANGECBCHAIN"},
    {0x030E, "WM_HSCROLLCLIPBOARD"},
    {0x030F, "WM_QUERYNEWPALETTE"},
    {0x0310, "WM_PALETTEISCHANGING"},
    {0x0311, "WM_PALETTECHANGED"},
    {0x0312, "WM_HOTKEY"},
    {0x0317, "WM_PRINT"},
    {0x0318, "WM_PRINTCLIENT"},
    {0x0319, "WM_APPCOMMAND"},
    {0x031A, "WM_THEMECHANGED"},
    {0x0400, "WM_USER"},
    {0x8000, "WM_APP"},
};

qint32 MouseKeyState(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    qint32 state = 0;
    if (buttons & Qt::LeftButton) state |= MK_LBUTTON;
    if (buttons & Qt::RightButton) state |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton) state |= MK_MBUTTON;
    if (buttons & Qt::XButton1) state |= MK_XBUTTON1;
    if (buttons & Qt::XButton2) state |= MK_XBUTTON2;
    if (modifiers & Qt::ShiftModifier) state |= MK_SHIFT;
    if (modifiers & Qt::ControlModifier) state |= MK_CONTROL;
    return state;
}

qint32 PackPoint(QPointF point) {
    return MakeLong(static_cast<qint32>(point.x()), static_cast<qint32>(point.y()));
}

// Button messages in the order down, up, double click.
std::optional<std::array<qint32, 3>> ButtonMessages(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton:
            return std::array{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK};
        case Qt::RightButton:
            return std::array{WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK};
        case Qt::MiddleButton:
            return std::array{WM_MBUTTONDOWN, WM_MBUTTONUP, WM_MBUTTONDBLCLK};
        case Qt::XButton1:
        case Qt::XButton2:
            return std::array{WM_XBUTTONDOWN, WM_XBUTTONUP, WM_XBUTTONDBLCLK};
        default:
            return std::nullopt;
    }
}

// Key data of a keystroke as a keyboard message carries it: repeat count,
// scan code, context (Alt) bit, previous-state bit, transition bit.
qint32 KeystrokeFlags(const QKeyEvent& key) {
    const bool release = key.type() == QEvent::KeyRelease;
    quint32 flags = static_cast<quint32>(std::clamp(key.count(), 1, 0xFFFF));
    flags |= (key.nativeScanCode() & 0xFFu) << 16;
    if (key.modifiers() & Qt::AltModifier) flags |= 1u << 29;
    if (release || key.isAutoRepeat()) flags |= 1u << 30;
    if (release) flags |= 1u << 31;
    return static_cast<qint32>(flags);
}

struct KeyPair {
    int qtKey;
    qint32 virtualKey;
};

constexpr KeyPair kKeys[] = {
    {Qt::Key_Backspace, 0x08},   {Qt::Key_Tab, 0x09},       {Qt::Key_Backtab, 0x09},
    {Qt::Key_Clear, 0x0C},       {Qt::Key_Return, 0x0D},    {Qt::Key_Enter, 0x0D},
    {Qt::Key_Shift, 0x10},       {Qt::Key_Control, 0x11},   {Qt::Key_Alt, 0x12},
    {Qt::Key_Pause, 0x13},       {Qt::Key_CapsLock, 0x14},  {Qt::Key_Escape, 0x1B},
    {Qt::Key_Space, 0x20},       {Qt::Key_PageUp, 0x21},    {Qt::Key_PageDown, 0x22},
    {Qt::Key_End, 0x23},         {Qt::Key_Home, 0x24},      {Qt::Key_Left, 0x25},
    {Qt::Key_Up, 0x26},          {Qt::Key_Right, 0x27},     {Qt::Key_Down, 0x28},
    {Qt::Key_Print, 0x2C},       {Qt::Key_Insert, 0x2D},    {Qt::Key_Delete, 0x2E},
    {Qt::Key_Help, 0x2F},        {Qt::Key_Meta, 0x5B},      {Qt::Key_Super_L, 0x5B},
    {Qt::Key_Super_R, 0x5C},     {Qt::Key_Menu, 0x5D},      {Qt::Key_NumLock, 0x90},
    {Qt::Key_ScrollLock, 0x91},  {Qt::Key_Semicolon, 0xBA}, {Qt::Key_Equal, 0xBB},
    {Qt::Key_Plus, 0xBB},        {Qt::Key_Comma, 0xBC},     {Qt::Key_Minus, 0xBD},
    {Qt::Key_Period, 0xBE},      {Qt::Key_Slash, 0xBF},     {Qt::Key_QuoteLeft, 0xC0},
    {Qt::Key_BracketLeft, 0xDB}, {Qt::Key_Backslash, 0xDC}, {Qt::Key_BracketRight, 0xDD},
    {Qt::Key_Apostrophe, 0xDE},
};

// Numeric-pad operators: Qt key, virtual key.
constexpr KeyPair kKeypadOperators[] = {
    {Qt::Key_Asterisk, 0x6A}, {Qt::Key_Plus, 0x6B},  {Qt::Key_Minus, 0x6D},
    {Qt::Key_Period, 0x6E},   {Qt::Key_Comma, 0x6C}, {Qt::Key_Slash, 0x6F},
};

Qt::MouseButton ButtonOfMessage(qint32 message, qint32 wParam) {
    switch (message) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK:
            return Qt::LeftButton;
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
        case WM_RBUTTONDBLCLK:
            return Qt::RightButton;
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
        case WM_MBUTTONDBLCLK:
            return Qt::MiddleButton;
        case WM_XBUTTONDOWN:
        case WM_XBUTTONUP:
        case WM_XBUTTONDBLCLK:
            return HiWord(wParam) == 2 ? Qt::XButton2 : Qt::XButton1;
        default:
            return Qt::NoButton;
    }
}

Qt::MouseButtons ButtonsOfKeyState(qint32 state) {
    Qt::MouseButtons buttons;
    if (state & MK_LBUTTON) buttons |= Qt::LeftButton;
    if (state & MK_RBUTTON) buttons |= Qt::RightButton;
    if (state & MK_MBUTTON) buttons |= Qt::MiddleButton;
    if (state & MK_XBUTTON1) buttons |= Qt::XButton1;
    if (state & MK_XBUTTON2) buttons |= Qt::XButton2;
    return buttons;
}

Qt::KeyboardModifiers ModifiersOfKeyState(qint32 state) {
    Qt::KeyboardModifiers modifiers;
    if (state & MK_SHIFT) modifiers |= Qt::ShiftModifier;
    if (state & MK_CONTROL) modifiers |= Qt::ControlModifier;
    return modifiers;
}

QPoint UnpackPoint(qint32 lParam) {
    return QPoint(LoWord(lParam), static_cast<qint16>(HiWord(lParam)));
}

}  // namespace

qint32 VirtualKeyFromQtKey(int qtKey, bool keypad) {
    if (keypad) {
        if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return 0x60 + (qtKey - Qt::Key_0);
        for (const KeyPair& pair : kKeypadOperators) {
            if (pair.qtKey == qtKey) return pair.virtualKey;
        }
    }
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9))
        return qtKey;
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return 0x70 + (qtKey - Qt::Key_F1);
    for (const KeyPair& pair : kKeys) {
        if (pair.qtKey == qtKey) return pair.virtualKey;
    }
    return 0;
}

int QtKeyFromVirtualKey(qint32 virtualKey) {
    if ((virtualKey >= 0x41 && virtualKey <= 0x5A) || (virtualKey >= 0x30 && virtualKey <= 0x39))
        return virtualKey;
    if (virtualKey >= 0x70 && virtualKey <= 0x87) return Qt::Key_F1 + (virtualKey - 0x70);
    if (virtualKey >= 0x60 && virtualKey <= 0x69) return Qt::Key_0 + (virtualKey - 0x60);
    for (const KeyPair& pair : kKeypadOperators) {
        if (pair.virtualKey == virtualKey) return pair.qtKey;
    }
    for (const KeyPair& pair : kKeys) {
        if (pair.virtualKey == virtualKey) return pair.qtKey;
    }
    return 0;
}

int QtModifiersFromHotKeyModifiers(qint32 modifiers) {
    Qt::KeyboardModifiers result;
    if (modifiers & MOD_ALT) result |= Qt::AltModifier;
    if (modifiers & MOD_CONTROL) result |= Qt::ControlModifier;
    if (modifiers & MOD_SHIFT) result |= Qt::ShiftModifier;
    if (modifiers & MOD_WIN) result |= Qt::MetaModifier;
    return static_cast<int>(result.toInt());
}

std::optional<WindowMessage> TranslateEvent(const QEvent& event, const QWidget& widget) {
    switch (event.type()) {
        case QEvent::MouseMove: {
            const auto& mouse = static_cast<const QMouseEvent&>(event);
            return WindowMessage{WM_MOUSEMOVE, MouseKeyState(mouse.buttons(), mouse.modifiers()),
                                 PackPoint(mouse.position())};
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick: {
            const auto& mouse = static_cast<const QMouseEvent&>(event);
            const auto messages = ButtonMessages(mouse.button());
            if (!messages) return std::nullopt;
            const int phase = event.type() == QEvent::MouseButtonPress     ? 0
                              : event.type() == QEvent::MouseButtonRelease ? 1
                                                                           : 2;
            qint32 wParam = MouseKeyState(mouse.buttons(), mouse.modifiers());
            if (mouse.button() == Qt::XButton1) wParam = MakeLong(wParam, 1);
            if (mouse.button() == Qt::XButton2) wParam = MakeLong(wParam, 2);
            return WindowMessage{(*messages)[static_cast<std::size_t>(phase)], wParam,
                                 PackPoint(mouse.position())};
        }
        case QEvent::Wheel: {
            const auto& wheel = static_cast<const QWheelEvent&>(event);
            const bool horizontal = wheel.angleDelta().y() == 0 && wheel.angleDelta().x() != 0;
            const int delta = horizontal ? wheel.angleDelta().x() : wheel.angleDelta().y();
            return WindowMessage{horizontal ? WM_MOUSEHWHEEL : WM_MOUSEWHEEL,
                                 MakeLong(MouseKeyState(wheel.buttons(), wheel.modifiers()), delta),
                                 PackPoint(wheel.globalPosition())};
        }
        case QEvent::Leave:
            return WindowMessage{WM_MOUSELEAVE, 0, 0};
        case QEvent::Resize: {
            const auto& resize = static_cast<const QResizeEvent&>(event);
            qint32 kind = SIZE_RESTORED;
            if (widget.isWindow() && widget.isMinimized()) kind = SIZE_MINIMIZED;
            if (widget.isWindow() && widget.isMaximized()) kind = SIZE_MAXIMIZED;
            return WindowMessage{WM_SIZE, kind,
                                 MakeLong(resize.size().width(), resize.size().height())};
        }
        case QEvent::Move: {
            const auto& move = static_cast<const QMoveEvent&>(event);
            return WindowMessage{WM_MOVE, 0, MakeLong(move.pos().x(), move.pos().y())};
        }
        case QEvent::Paint:
            return WindowMessage{WM_PAINT, 0, 0};
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            const auto& key = static_cast<const QKeyEvent&>(event);
            const qint32 virtualKey =
                VirtualKeyFromQtKey(key.key(), key.modifiers() & Qt::KeypadModifier);
            return WindowMessage{event.type() == QEvent::KeyPress ? WM_KEYDOWN : WM_KEYUP,
                                 virtualKey, KeystrokeFlags(key)};
        }
        case QEvent::WindowActivate:
            return WindowMessage{WM_ACTIVATE, WA_ACTIVE, 0};
        case QEvent::WindowDeactivate:
            return WindowMessage{WM_ACTIVATE, WA_INACTIVE, 0};
        case QEvent::FocusIn:
            return WindowMessage{WM_SETFOCUS, 0, 0};
        case QEvent::FocusOut:
            return WindowMessage{WM_KILLFOCUS, 0, 0};
        case QEvent::Close:
            return WindowMessage{WM_CLOSE, 0, 0};
        case QEvent::Show:
            return WindowMessage{WM_SHOWWINDOW, 1, 0};
        case QEvent::Hide:
            return WindowMessage{WM_SHOWWINDOW, 0, 0};
        case QEvent::EnabledChange:
            return WindowMessage{WM_ENABLE, widget.isEnabled() ? 1 : 0, 0};
        case QEvent::WindowTitleChange:
            return WindowMessage{WM_SETTEXT, 0, 0};
        case QEvent::FontChange:
            return WindowMessage{WM_SETFONT, 0, 0};
        case QEvent::ContextMenu: {
            const auto& menu = static_cast<const QContextMenuEvent&>(event);
            return WindowMessage{WM_CONTEXTMENU, 0,
                                 MakeLong(menu.globalPos().x(), menu.globalPos().y())};
        }
        case QEvent::Timer:
            return WindowMessage{WM_TIMER, static_cast<const QTimerEvent&>(event).timerId(), 0};
        case QEvent::Drop: {
            // No drop handle exists here; wParam carries the number of local files.
            const auto& drop = static_cast<const QDropEvent&>(event);
            qint32 files = 0;
            if (const QMimeData* mime = drop.mimeData()) {
                for (const QUrl& url : mime->urls()) files += url.isLocalFile() ? 1 : 0;
            }
            return WindowMessage{WM_DROPFILES, files, 0};
        }
        default:
            return std::nullopt;
    }
}

std::unique_ptr<QEvent> SynthesizeEvent(const WindowMessage& message, QWidget& widget) {
    switch (message.uMsg) {
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
        case WM_RBUTTONDBLCLK:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
        case WM_MBUTTONDBLCLK:
        case WM_XBUTTONDOWN:
        case WM_XBUTTONUP:
        case WM_XBUTTONDBLCLK: {
            QEvent::Type type = QEvent::MouseMove;
            switch (message.uMsg) {
                case WM_LBUTTONDOWN:
                case WM_RBUTTONDOWN:
                case WM_MBUTTONDOWN:
                case WM_XBUTTONDOWN:
                    type = QEvent::MouseButtonPress;
                    break;
                case WM_LBUTTONUP:
                case WM_RBUTTONUP:
                case WM_MBUTTONUP:
                case WM_XBUTTONUP:
                    type = QEvent::MouseButtonRelease;
                    break;
                case WM_LBUTTONDBLCLK:
                case WM_RBUTTONDBLCLK:
                case WM_MBUTTONDBLCLK:
                case WM_XBUTTONDBLCLK:
                    type = QEvent::MouseButtonDblClick;
                    break;
                default:
                    break;
            }
            const QPoint local = UnpackPoint(message.lParam);
            return std::make_unique<QMouseEvent>(
                type, QPointF(local), QPointF(widget.mapToGlobal(local)),
                ButtonOfMessage(message.uMsg, message.wParam), ButtonsOfKeyState(message.wParam),
                ModifiersOfKeyState(message.wParam));
        }
        case WM_KEYDOWN:
        case WM_KEYUP: {
            const int key = QtKeyFromVirtualKey(message.wParam);
            if (key == 0) return nullptr;
            const bool keypad = message.wParam >= 0x60 && message.wParam <= 0x6F;
            return std::make_unique<QKeyEvent>(
                message.uMsg == WM_KEYDOWN ? QEvent::KeyPress : QEvent::KeyRelease, key,
                keypad ? Qt::KeypadModifier : Qt::NoModifier);
        }
        case WM_SIZE:
            return std::make_unique<QResizeEvent>(
                QSize(LoWord(message.lParam) & 0xFFFF, HiWord(message.lParam)), widget.size());
        case WM_MOVE:
            return std::make_unique<QMoveEvent>(UnpackPoint(message.lParam), widget.pos());
        case WM_ACTIVATE:
            return std::make_unique<QEvent>(LoWord(message.wParam) == WA_INACTIVE
                                                ? QEvent::WindowDeactivate
                                                : QEvent::WindowActivate);
        case WM_SETFOCUS:
            return std::make_unique<QFocusEvent>(QEvent::FocusIn);
        case WM_KILLFOCUS:
            return std::make_unique<QFocusEvent>(QEvent::FocusOut);
        case WM_CLOSE:
            return std::make_unique<QCloseEvent>();
        case WM_MOUSELEAVE:
            return std::make_unique<QEvent>(QEvent::Leave);
        case WM_CONTEXTMENU: {
            const QPoint global = UnpackPoint(message.lParam);
            return std::make_unique<QContextMenuEvent>(QContextMenuEvent::Mouse,
                                                       widget.mapFromGlobal(global), global);
        }
        case WM_TIMER:
            return std::make_unique<QTimerEvent>(message.wParam);
        default:
            return nullptr;
    }
}

QString WindowMessageName(qint32 message) {
    const auto* end = std::end(kMessageNames);
    const auto* found =
        std::lower_bound(std::begin(kMessageNames), end, message,
                         [](const auto& entry, qint32 value) { return entry.first < value; });
    if (found == end || found->first != message) return QString();
    return QString::fromLatin1(found->second);
}

QString KeyboardHookDescription(qint32 nCode, qint32 wParam, qint32 lParam) {
    const auto hex = [](qint32 value) {
        return QString::number(static_cast<quint32>(value), 16).toUpper();
    };
    QString name;
    if ((wParam >= 0x30 && wParam <= 0x39) || (wParam >= 0x41 && wParam <= 0x5A)) {
        name = QChar(wParam);
    } else if (wParam >= 0x70 && wParam <= 0x87) {
        name = QStringLiteral("    F") + QString::number(wParam - 0x6F);
    } else if (wParam >= 0x60 && wParam <= 0x69) {
        name = QStringLiteral("    Numpad") + QString::number(wParam - 0x60);
    } else {
        switch (wParam) {
            case 0x6A:
                name = QStringLiteral("    Multiply");
                break;
            case 0x6B:
                name = QStringLiteral("    Add +");
                break;
            case 0x6D:
                name = QStringLiteral("    Subtract -");
                break;
            case 0x6E:
                name = QStringLiteral("    Decimal");
                break;
            case 0x6F:
                name = QStringLiteral("    Divide");
                break;
            case 0x90:
                name = QStringLiteral("    Num Lock");
                break;
            case 0x5D:
                name = QStringLiteral("    Context Menu Key");
                break;
            case 0x5B:
            case 0x5C:
                name = QStringLiteral("    Flying Window Key");
                break;
            default:
                name = QStringLiteral("    Other");
                break;
        }
    }
    const auto flags = static_cast<quint32>(lParam);
    QString note;
    if (flags & (1u << 31)) {
        note = QStringLiteral("Note: Key is up");
    } else if (flags & (1u << 30)) {
        note = QStringLiteral("Note: Key held down");
    } else {
        note = QStringLiteral("Note: Key is down");
    }
    QString text = QStringLiteral("nCode: &H") + hex(nCode) + QLatin1Char('\t') +
                   QStringLiteral("wParam: &H") + hex(wParam) + QLatin1Char('\t') + name +
                   QLatin1Char('\t') + QStringLiteral("lParam: &H") + hex(lParam) +
                   QLatin1Char('\t') + note;
    if (flags & (1u << 29))
        text += QLatin1Char('\t') + QStringLiteral("Additional: ALT Key is also down");
    return text;
}

}  // namespace lumeval
