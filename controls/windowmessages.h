// Windows message numbers and their Qt counterparts.
//
// The routing layer speaks in the message numbers a Windows program knows
// (0x0200 mouse move, 0x0312 hot key, ...), so the editor reads like the
// window procedure it replaces. This file owns the numbers, the translation of
// a Qt event into (message, wParam, lParam), the reverse synthesis used when a
// message is sent by number, the virtual-key table and the message names.
#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>

class QEvent;
class QWidget;

namespace lumeval {

// Message numbers (the Windows values).
inline constexpr qint32 WM_NULL = 0x0000;
inline constexpr qint32 WM_MOVE = 0x0003;
inline constexpr qint32 WM_SIZE = 0x0005;
inline constexpr qint32 WM_ACTIVATE = 0x0006;
inline constexpr qint32 WM_SETFOCUS = 0x0007;
inline constexpr qint32 WM_KILLFOCUS = 0x0008;
inline constexpr qint32 WM_ENABLE = 0x000A;
inline constexpr qint32 WM_SETTEXT = 0x000C;
inline constexpr qint32 WM_PAINT = 0x000F;
inline constexpr qint32 WM_CLOSE = 0x0010;
inline constexpr qint32 WM_SHOWWINDOW = 0x0018;
inline constexpr qint32 WM_SETFONT = 0x0030;
inline constexpr qint32 WM_CONTEXTMENU = 0x007B;
inline constexpr qint32 WM_KEYDOWN = 0x0100;
inline constexpr qint32 WM_KEYUP = 0x0101;
inline constexpr qint32 WM_TIMER = 0x0113;
inline constexpr qint32 WM_MOUSEMOVE = 0x0200;
inline constexpr qint32 WM_LBUTTONDOWN = 0x0201;
inline constexpr qint32 WM_LBUTTONUP = 0x0202;
inline constexpr qint32 WM_LBUTTONDBLCLK = 0x0203;
inline constexpr qint32 WM_RBUTTONDOWN = 0x0204;
inline constexpr qint32 WM_RBUTTONUP = 0x0205;
inline constexpr qint32 WM_RBUTTONDBLCLK = 0x0206;
inline constexpr qint32 WM_MBUTTONDOWN = 0x0207;
inline constexpr qint32 WM_MBUTTONUP = 0x0208;
inline constexpr qint32 WM_MBUTTONDBLCLK = 0x0209;
inline constexpr qint32 WM_MOUSEWHEEL = 0x020A;
inline constexpr qint32 WM_XBUTTONDOWN = 0x020B;
inline constexpr qint32 WM_XBUTTONUP = 0x020C;
inline constexpr qint32 WM_XBUTTONDBLCLK = 0x020D;
inline constexpr qint32 WM_MOUSEHWHEEL = 0x020E;
inline constexpr qint32 WM_DROPFILES = 0x0233;
inline constexpr qint32 WM_MOUSELEAVE = 0x02A3;
inline constexpr qint32 WM_HOTKEY = 0x0312;

// WM_ACTIVATE states (low word of wParam).
inline constexpr qint32 WA_INACTIVE = 0;
inline constexpr qint32 WA_ACTIVE = 1;
inline constexpr qint32 WA_CLICKACTIVE = 2;

// Key-state flags in wParam of mouse messages.
inline constexpr qint32 MK_LBUTTON = 0x0001;
inline constexpr qint32 MK_RBUTTON = 0x0002;
inline constexpr qint32 MK_SHIFT = 0x0004;
inline constexpr qint32 MK_CONTROL = 0x0008;
inline constexpr qint32 MK_MBUTTON = 0x0010;
inline constexpr qint32 MK_XBUTTON1 = 0x0020;
inline constexpr qint32 MK_XBUTTON2 = 0x0040;

// WM_SIZE kinds (wParam).
inline constexpr qint32 SIZE_RESTORED = 0;
inline constexpr qint32 SIZE_MINIMIZED = 1;
inline constexpr qint32 SIZE_MAXIMIZED = 2;

// Hot-key modifiers.
inline constexpr qint32 MOD_ALT = 0x0001;
inline constexpr qint32 MOD_CONTROL = 0x0002;
inline constexpr qint32 MOD_SHIFT = 0x0004;
inline constexpr qint32 MOD_WIN = 0x0008;

/// The low 16 bits as a signed 16-bit value (same bit pattern).
constexpr qint16 LoWord(qint32 value) {
    return static_cast<qint16>(static_cast<quint32>(value) & 0xFFFFu);
}
/// The high 16 bits as 0..65535.
constexpr qint32 HiWord(qint32 value) {
    return static_cast<qint32>((static_cast<quint32>(value) >> 16) & 0xFFFFu);
}
/// Two 16-bit values packed as Windows packs a point: x low, y high.
constexpr qint32 MakeLong(qint32 low, qint32 high) {
    return static_cast<qint32>((static_cast<quint32>(low) & 0xFFFFu) |
                               ((static_cast<quint32>(high) & 0xFFFFu) << 16));
}

/// One window message as the routing layer hands it on.
struct WindowMessage {
    qint32 uMsg = WM_NULL;
    qint32 wParam = 0;
    qint32 lParam = 0;
};

/// The message a Qt event stands for, when it has one. Events without a
/// Windows counterpart (layout requests, style changes, ...) give nothing and
/// are not routed.
std::optional<WindowMessage> TranslateEvent(const QEvent& event, const QWidget& widget);

/// A Qt event standing for a message sent by number (the reverse of
/// TranslateEvent), or null when the message has no Qt counterpart.
std::unique_ptr<QEvent> SynthesizeEvent(const WindowMessage& message, QWidget& widget);

/// Virtual-key code of a Qt key (0 when there is none); `keypad` selects the
/// numeric-pad codes for digits and operators.
qint32 VirtualKeyFromQtKey(int qtKey, bool keypad);
/// Qt key of a virtual-key code (0 when there is none).
int QtKeyFromVirtualKey(qint32 virtualKey);
/// The keyboard modifiers of a MOD_* combination as a Qt modifier mask value.
int QtModifiersFromHotKeyModifiers(qint32 modifiers);

/// The platform's name of a message ("WM_SIZE"); 0, 1 and 2 give the
/// activation states "WA_INACTIVE", "WA_ACTIVE" and "WA_CLICKACTIVE".
/// Unknown numbers give an empty text.
QString WindowMessageName(qint32 message);

/// Readable account of one keyboard-hook call with nCode 0: codes in hex,
/// the key's name, and whether the key went up, was held or went down.
QString KeyboardHookDescription(qint32 nCode, qint32 wParam, qint32 lParam);

}  // namespace lumeval
