// The owner-drawn control table: light-weight rectangles the framework
// paints, hit-tests and lays out itself, plus the colour helpers.
//
// Colours are 0x00BBGGRR (red in the low byte) as the rest of the editor
// keeps them; only ColorARGB produces 0xAARRGGBB.
#pragma once

#include <QColor>
#include <QRect>
#include <QString>
#include <QtGlobal>
#include <vector>

class QPainter;

namespace lumeval {

/// ARGB value alpha x 2^24 + red x 2^16 + green x 2^8 + blue.
quint32 ColorARGB(int Alpha, int red, int Green, int Blue);
/// Each channel c1 + (c2 - c1) x p, rounded half to even.
qint32 BlendColors(qint32 Color1, qint32 Color2, double PercentInDecimal);
/// Each channel + p x 255 (rounded), stopped at 255 (p above 0) or at 0.
qint32 ShiftColor(qint32 Color, double PercentInDecimal);
/// Each channel 255 minus itself.
qint32 InvertColor(qint32 clrColor);
/// A 0x00BBGGRR colour with an opacity 0..255 as a QColor.
QColor QColorFromBgr(qint32 color, int alpha = 255);
/// Radius of a control whose radius is automatic (-1).
int AutomaticCornerRadius(int width, int height);

/// One owner-drawn control. Mode: 0 panel, 1 push button, 2 flat button,
/// 3 gauge, 4 slider, 5 option button, 6 text box, 7 plain text, 8 caption bar
/// (drags the window), 9 check box, 10 header.
struct ControlRecord {
    qint32 Mode = 0;
    qint32 Index = 0;
    QString Tag;
    qint32 Left = 0, Top = 0, Right = 0, Bottom = 0;
    /// Radius in pixels; AutoRadius keeps it computed from the size.
    qint32 Radius = 0;
    bool AutoRadius = false;
    qint32 SizeMode = 0;
    // Reference fractions and margins at the time of adding (W, H the reference size).
    double LeftFraction = 0, TopFraction = 0, RightFraction = 0, BottomFraction = 0;
    double RefWidth = 0, RefHeight = 0, RefLeft = 0, RefTop = 0, RightMargin = 0, BottomMargin = 0;
    QString Caption, CaptionNullString, CaptionAppendString;
    /// 0 left, 1 right, 2 centre.
    qint32 CaptionAlignment = 2;
    QString Comment;
    /// 0 under the caption, 1 above it, 2 at the left edge, 3 at the right edge.
    qint32 CommentPosition = 0;
    QString Tip;
    /// Badge corner: 0 top right, 1 top left, 2 bottom right, 3 bottom left.
    qint32 TipPosition = 0;
    QString ToolTipText;
    bool Enabled = true;
    float PercentValue = 0, PercentMin = 0, PercentMax = 100;
    qint32 PrecentPrecision = 0;
    qint32 PercentLongTypeStep = 1;
    qint32 Checked = 0;
    qint32 Style = 0;
    bool Transparent = false;
    qint32 ForeColor = 0;
    qint32 BackColor = 0xF0F0F0;
    qint32 BackAlpha = 255;
    QString FontName;
    float FontSize = 9;
    bool FontBold = false, FontItalic = false, FontUnderline = false, FontStrikethrough = false;
    qint32 FontCharset = 1;
    bool ResponseHover = true, ResponseDown = true;
    qint32 ShadowDepth = 0;
    qint32 ShadowColor = 0;
    qint32 ShadowAlpha = 128;

    QRect Rect() const { return QRect(QPoint(Left, Top), QPoint(Right - 1, Bottom - 1)); }
    qint32 Width() const { return Right - Left; }
    qint32 Height() const { return Bottom - Top; }
    /// The text drawn: the caption (or the null text when empty) and the appended text.
    QString ShownCaption() const;
};

/// How a control is drawn this time.
struct ControlLook {
    bool hovered = false;
    bool pressed = false;
    bool windowActive = true;
    bool outline = false;
    qint32 outlineColor = 255;
};

/// The controls in the order they were added, with their layout rules.
class ControlTable {
  public:
    /// Adds a record; false (nothing added) when its width or height is below 1.
    /// Fractions and margins are taken against the reference size.
    bool Add(ControlRecord record, QSize reference);
    /// Position of the control with that Index, or -1.
    int PositionOf(qint32 index) const;
    int PositionOfTag(const QString& tag) const;
    ControlRecord* Find(qint32 index);
    const ControlRecord* Find(qint32 index) const;
    bool Remove(qint32 index);
    void Clear() { m_controls.clear(); }
    int Count() const { return static_cast<int>(m_controls.size()); }
    const std::vector<ControlRecord>& Controls() const { return m_controls; }
    std::vector<ControlRecord>& Controls() { return m_controls; }

    /// Index of the topmost control containing the point: the last added wins;
    /// a disabled one hides those below and gives -1. No control: -1.
    qint32 HitTest(QPoint point) const;
    /// Places every control by its SizeMode for a window of `size`.
    void Resize(QSize size);
    static void Place(ControlRecord& record, QSize size);

  private:
    std::vector<ControlRecord> m_controls;
};

/// Paints one control (its look chosen by Mode) with the widget's style colours.
void PaintControl(QPainter& painter, const ControlRecord& record, const ControlLook& look);

}  // namespace lumeval
