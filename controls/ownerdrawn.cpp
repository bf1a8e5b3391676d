#include "controls/ownerdrawn.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <algorithm>
#include <cmath>

namespace lumeval {

namespace {

int Red(qint32 color) {
    return color & 0xFF;
}
int Green(qint32 color) {
    return (color >> 8) & 0xFF;
}
int Blue(qint32 color) {
    return (color >> 16) & 0xFF;
}
qint32 Rgb(int red, int green, int blue) {
    return red | (green << 8) | (blue << 16);
}

// Rounding of the framework is half to even, as its layout always was.
int RoundEven(double value) {
    return static_cast<int>(std::nearbyint(value));
}

qint32 ToBgr(const QColor& color) {
    return Rgb(color.red(), color.green(), color.blue());
}

QFont ControlFont(const ControlRecord& record) {
    QFont font = QApplication::font();
    if (!record.FontName.isEmpty()) font.setFamily(record.FontName);
    if (record.FontSize > 0) font.setPointSizeF(record.FontSize);
    font.setBold(record.FontBold);
    font.setItalic(record.FontItalic);
    font.setUnderline(record.FontUnderline);
    font.setStrikeOut(record.FontStrikethrough);
    return font;
}

Qt::Alignment CaptionFlags(qint32 alignment) {
    switch (alignment) {
        case 0:
            return Qt::AlignLeft | Qt::AlignVCenter;
        case 1:
            return Qt::AlignRight | Qt::AlignVCenter;
        default:
            return Qt::AlignHCenter | Qt::AlignVCenter;
    }
}

double PercentFraction(const ControlRecord& record) {
    const double span = static_cast<double>(record.PercentMax) - record.PercentMin;
    if (span <= 0) return 0;
    return std::clamp((record.PercentValue - record.PercentMin) / span, 0.0, 1.0);
}

void DrawCaption(QPainter& painter, const ControlRecord& record, const QRect& area,
                 qint32 textColor, qint32 alignment) {
    QString text = record.ShownCaption();
    if (text.isEmpty() && (record.Mode == 3 || record.Mode == 4)) {
        text =
            QString::number(record.PercentValue, 'f', std::clamp(record.PrecentPrecision, 0, 6)) +
            QLatin1Char('%');
    }
    if (text.isEmpty()) return;
    painter.setFont(ControlFont(record));
    const Qt::Alignment flags = CaptionFlags(alignment);
    if (record.ShadowDepth > 0) {
        painter.setPen(QColorFromBgr(record.ShadowColor, std::clamp(record.ShadowAlpha, 0, 255)));
        painter.drawText(area.translated(record.ShadowDepth, record.ShadowDepth),
                         static_cast<int>(flags), text);
    }
    painter.setPen(QColorFromBgr(textColor));
    painter.drawText(area, static_cast<int>(flags), text);
}

void DrawComment(QPainter& painter, const ControlRecord& record, const QRect& area,
                 qint32 textColor) {
    if (record.Comment.isEmpty()) return;
    QFont font = ControlFont(record);
    font.setBold(false);
    font.setPointSizeF(std::max(6.0, font.pointSizeF() * 0.85));
    painter.setFont(font);
    painter.setPen(QColorFromBgr(BlendColors(textColor, record.BackColor, 0.35)));
    int flags = Qt::AlignHCenter | Qt::AlignBottom;
    switch (record.CommentPosition) {
        case 1:
            flags = Qt::AlignHCenter | Qt::AlignTop;
            break;
        case 2:
            flags = Qt::AlignLeft | Qt::AlignVCenter;
            break;
        case 3:
            flags = Qt::AlignRight | Qt::AlignVCenter;
            break;
        default:
            break;
    }
    painter.drawText(area.adjusted(4, 2, -4, -2), flags, record.Comment);
}

void DrawTip(QPainter& painter, const ControlRecord& record, const QRect& rect) {
    if (record.Tip.isEmpty()) return;
    QFont font = ControlFont(record);
    font.setBold(true);
    font.setPointSizeF(std::max(6.0, font.pointSizeF() * 0.75));
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int height = metrics.height() + 2;
    const int width = std::max(height, metrics.horizontalAdvance(record.Tip) + 8);
    QRect badge(0, 0, width, height);
    switch (record.TipPosition) {
        case 1:
            badge.moveTopLeft(rect.topLeft() + QPoint(-width / 3, -height / 3));
            break;
        case 2:
            badge.moveBottomRight(rect.bottomRight() + QPoint(width / 3, height / 3));
            break;
        case 3:
            badge.moveBottomLeft(rect.bottomLeft() + QPoint(-width / 3, height / 3));
            break;
        default:
            badge.moveTopRight(rect.topRight() + QPoint(width / 3, -height / 3));
            break;
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xE8, 0x3B, 0x3B));
    painter.drawRoundedRect(badge, height / 2.0, height / 2.0);
    painter.setPen(Qt::white);
    painter.drawText(badge, Qt::AlignCenter, record.Tip);
}

}  // namespace

quint32 ColorARGB(int Alpha, int red, int Green, int Blue) {
    return (static_cast<quint32>(Alpha & 0xFF) << 24) | (static_cast<quint32>(red & 0xFF) << 16) |
           (static_cast<quint32>(Green & 0xFF) << 8) | static_cast<quint32>(Blue & 0xFF);
}

qint32 BlendColors(qint32 Color1, qint32 Color2, double PercentInDecimal) {
    const auto mix = [&](int a, int b) {
        return std::clamp(RoundEven(a + (b - a) * PercentInDecimal), 0, 255);
    };
    return Rgb(mix(Red(Color1), Red(Color2)), mix(Green(Color1), Green(Color2)),
               mix(Blue(Color1), Blue(Color2)));
}

qint32 ShiftColor(qint32 Color, double PercentInDecimal) {
    const int step = RoundEven(PercentInDecimal * 255);
    const auto shift = [&](int channel) {
        const int value = channel + step;
        return PercentInDecimal > 0 ? std::min(value, 255) : std::max(value, 0);
    };
    return Rgb(shift(Red(Color)), shift(Green(Color)), shift(Blue(Color)));
}

qint32 InvertColor(qint32 clrColor) {
    return Rgb(255 - Red(clrColor), 255 - Green(clrColor), 255 - Blue(clrColor));
}

QColor QColorFromBgr(qint32 color, int alpha) {
    return QColor(Red(color), Green(color), Blue(color), std::clamp(alpha, 0, 255));
}

int AutomaticCornerRadius(int width, int height) {
    const int s = std::min(width, height);
    double f = 0.475;
    if (s > 64) {
        f = 0.3;
    } else if (s > 48) {
        f = 0.35;
    } else if (s > 32) {
        f = 0.4;
    } else if (s >= 29) {
        f = 0.425;
    }
    return std::max(0, RoundEven(s * f) - 1);
}

QString ControlRecord::ShownCaption() const {
    return (Caption.isEmpty() ? CaptionNullString : Caption) + CaptionAppendString;
}

// ---------------------------------------------------------------------------
// ControlTable

bool ControlTable::Add(ControlRecord record, QSize reference) {
    if (record.Width() < 1 || record.Height() < 1) return false;
    const double W = reference.width();
    const double H = reference.height();
    // Without a reference size the fractions stay 0 rather than dividing by it.
    record.LeftFraction = W > 0 ? record.Left / W : 0;
    record.RightFraction = W > 0 ? record.Right / W : 0;
    record.TopFraction = H > 0 ? record.Top / H : 0;
    record.BottomFraction = H > 0 ? record.Bottom / H : 0;
    record.RefWidth = record.Width();
    record.RefHeight = record.Height();
    record.RefLeft = record.Left;
    record.RefTop = record.Top;
    record.RightMargin = W - record.Right;
    record.BottomMargin = H - record.Bottom;
    if (record.Radius == -1) record.AutoRadius = true;
    if (record.AutoRadius) record.Radius = AutomaticCornerRadius(record.Width(), record.Height());
    m_controls.push_back(std::move(record));
    return true;
}

int ControlTable::PositionOf(qint32 index) const {
    for (std::size_t i = 0; i < m_controls.size(); ++i) {
        if (m_controls[i].Index == index) return static_cast<int>(i);
    }
    return -1;
}

int ControlTable::PositionOfTag(const QString& tag) const {
    for (std::size_t i = 0; i < m_controls.size(); ++i) {
        if (m_controls[i].Tag == tag) return static_cast<int>(i);
    }
    return -1;
}

ControlRecord* ControlTable::Find(qint32 index) {
    const int position = PositionOf(index);
    return position < 0 ? nullptr : &m_controls[static_cast<std::size_t>(position)];
}

const ControlRecord* ControlTable::Find(qint32 index) const {
    const int position = PositionOf(index);
    return position < 0 ? nullptr : &m_controls[static_cast<std::size_t>(position)];
}

bool ControlTable::Remove(qint32 index) {
    const int position = PositionOf(index);
    if (position < 0) return false;
    m_controls.erase(m_controls.begin() + position);
    return true;
}

qint32 ControlTable::HitTest(QPoint point) const {
    for (auto it = m_controls.rbegin(); it != m_controls.rend(); ++it) {
        if (it->Rect().contains(point)) return it->Enabled ? it->Index : -1;
    }
    return -1;
}

void ControlTable::Place(ControlRecord& c, QSize size) {
    const double W = size.width();
    const double H = size.height();
    const auto horizontalFractions = [&]() {
        c.Left = RoundEven(c.LeftFraction * W);
        c.Right = RoundEven(c.RightFraction * W);
    };
    const auto verticalFractions = [&]() {
        c.Top = RoundEven(c.TopFraction * H);
        c.Bottom = RoundEven(c.BottomFraction * H);
    };
    const auto anchorRight = [&]() {
        c.Right = RoundEven(W - c.RightMargin);
        c.Left = RoundEven(c.Right - c.RefWidth);
    };
    const auto anchorBottom = [&]() {
        c.Bottom = RoundEven(H - c.BottomMargin);
        c.Top = RoundEven(c.Bottom - c.RefHeight);
    };
    switch (c.SizeMode) {
        case 1:
            horizontalFractions();
            verticalFractions();
            break;
        case 3:
            c.Right = RoundEven(c.RightFraction * W);
            break;
        case 4:
            verticalFractions();
            break;
        case 5:
            anchorRight();
            break;
        case 6:
            c.Right = RoundEven(W - c.RightMargin);
            c.Left = RoundEven(c.Right - (c.RightFraction - c.LeftFraction) * W);
            break;
        case 7:
            anchorRight();
            verticalFractions();
            break;
        case 8:
            anchorRight();
            anchorBottom();
            break;
        case 10:
            horizontalFractions();
            break;
        case 11:
            c.Bottom = RoundEven(c.BottomFraction * H);
            break;
        case 12:
            anchorBottom();
            break;
        case 13:
            anchorBottom();
            horizontalFractions();
            break;
        default:
            break;
    }
    if (c.AutoRadius) c.Radius = AutomaticCornerRadius(c.Width(), c.Height());
}

void ControlTable::Resize(QSize size) {
    for (ControlRecord& record : m_controls) Place(record, size);
}

// ---------------------------------------------------------------------------
// Painting

void PaintControl(QPainter& painter, const ControlRecord& record, const ControlLook& look) {
    const QRect rect = record.Rect();
    if (rect.width() < 1 || rect.height() < 1) return;
    const QPalette palette = QApplication::palette();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);

    const bool hovered = record.Enabled && look.hovered && record.ResponseHover;
    const bool pressed = record.Enabled && look.pressed && record.ResponseDown;
    qint32 back = record.BackColor;
    if (pressed) {
        back = ShiftColor(back, -0.12);
    } else if (hovered) {
        back = ShiftColor(back, 0.06);
    }
    qint32 text = record.ForeColor;
    if (!record.Enabled) {
        back = BlendColors(back, ToBgr(palette.color(QPalette::Window)), 0.5);
        text = ToBgr(palette.color(QPalette::Disabled, QPalette::WindowText));
    }
    const qint32 border = ShiftColor(back, -0.22);
    const qint32 accent = ToBgr(palette.color(QPalette::Highlight));
    const int alpha = std::clamp(record.BackAlpha, 0, 255);
    const double radius =
        std::clamp<double>(record.Radius, 0, std::min(rect.width(), rect.height()) / 2.0);
    const QRectF frame = QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5);
    QRect content = rect.adjusted(6, 2, -6, -2);
    qint32 captionAlignment = record.CaptionAlignment;

    const auto fillFrame = [&](bool gradient, bool withBorder) {
        if (!record.Transparent) {
            if (gradient) {
                QLinearGradient fill(frame.topLeft(), frame.bottomLeft());
                fill.setColorAt(0, QColorFromBgr(ShiftColor(back, 0.06), alpha));
                fill.setColorAt(1, QColorFromBgr(ShiftColor(back, -0.04), alpha));
                painter.setBrush(fill);
            } else {
                painter.setBrush(QColorFromBgr(back, alpha));
            }
        } else {
            painter.setBrush(Qt::NoBrush);
        }
        painter.setPen(withBorder ? QPen(QColorFromBgr(border, std::max(alpha, 96)), 1)
                                  : QPen(Qt::NoPen));
        painter.drawRoundedRect(frame, radius, radius);
    };

    switch (record.Mode) {
        case 1:
        case 5:
            fillFrame(true, true);
            break;
        case 2:
            if (hovered || pressed) fillFrame(false, false);
            break;
        case 3: {  // gauge: track and filled part
            fillFrame(false, true);
            // The filled part is cut by the track's rounded shape.
            const QRectF track = frame.adjusted(2, 2, -2, -2);
            const double inner = std::max(0.0, radius - 2);
            QPainterPath shape;
            shape.addRoundedRect(track, inner, inner);
            QRectF bar = track;
            bar.setWidth(track.width() * PercentFraction(record));
            if (bar.width() > 0) {
                painter.save();
                painter.setClipPath(shape);
                painter.fillRect(bar, QColorFromBgr(accent, 220));
                painter.restore();
            }
            text = record.Enabled ? record.ForeColor : text;
            break;
        }
        case 4: {  // slider: groove and handle
            const double knob = std::min<double>(rect.height() - 2, 16);
            const double y = frame.center().y();
            const double x0 = frame.left() + knob / 2;
            const double x1 = frame.right() - knob / 2;
            painter.setPen(QPen(QColorFromBgr(border), 3, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(x0, y), QPointF(x1, y));
            const double x = x0 + (x1 - x0) * PercentFraction(record);
            painter.setPen(QPen(QColorFromBgr(accent), 3, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(x0, y), QPointF(x, y));
            painter.setPen(QPen(QColorFromBgr(border), 1));
            painter.setBrush(
                QColorFromBgr(hovered || pressed ? ShiftColor(accent, 0.1) : 0xFFFFFF));
            painter.drawEllipse(QPointF(x, y), knob / 2, knob / 2);
            return;  // a slider shows no caption over its handle
        }
        case 6: {  // text box
            if (!record.Transparent)
                painter.setBrush(QColorFromBgr(record.Enabled ? record.BackColor : back, alpha));
            painter.setPen(QPen(QColorFromBgr(hovered || pressed ? accent : border), 1));
            painter.drawRoundedRect(frame, std::min(radius, 3.0), std::min(radius, 3.0));
            content = rect.adjusted(6, 1, -6, -1);
            break;
        }
        case 7:
            if (!record.Transparent && record.BackAlpha > 0) fillFrame(false, false);
            break;
        case 8: {  // caption bar
            if (!record.Transparent) {
                QLinearGradient fill(frame.topLeft(), frame.bottomLeft());
                const qint32 base = look.windowActive ? back : BlendColors(back, 0xC0C0C0, 0.5);
                fill.setColorAt(0, QColorFromBgr(ShiftColor(base, 0.08), alpha));
                fill.setColorAt(1, QColorFromBgr(base, alpha));
                painter.setBrush(fill);
                painter.setPen(Qt::NoPen);
                painter.drawRoundedRect(frame, radius, radius);
            }
            break;
        }
        case 9: {  // check box: box at the left, caption after it
            if (!record.Transparent && (hovered || pressed)) fillFrame(false, false);
            const double box = std::min<double>(rect.height() - 4, 14);
            const QRectF square(rect.left() + 3, rect.top() + (rect.height() - box) / 2.0, box,
                                box);
            painter.setPen(QPen(QColorFromBgr(record.Checked != 0 ? accent : border), 1));
            painter.setBrush(record.Checked != 0 ? QBrush(QColorFromBgr(accent))
                                                 : QBrush(Qt::white));
            painter.drawRoundedRect(square, 2.5, 2.5);
            if (record.Checked != 0) {
                QPainterPath tick;
                tick.moveTo(square.left() + box * 0.22, square.top() + box * 0.52);
                tick.lineTo(square.left() + box * 0.42, square.top() + box * 0.72);
                tick.lineTo(square.left() + box * 0.78, square.top() + box * 0.30);
                painter.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                painter.setBrush(Qt::NoBrush);
                painter.drawPath(tick);
            }
            content = rect.adjusted(static_cast<int>(box) + 9, 0, -2, 0);
            // The caption follows its box unless it is asked to the right.
            if (record.CaptionAlignment != 1) captionAlignment = 0;
            break;
        }
        case 10: {  // header section
            if (!record.Transparent) {
                QLinearGradient fill(frame.topLeft(), frame.bottomLeft());
                fill.setColorAt(0, QColorFromBgr(ShiftColor(back, 0.05), alpha));
                fill.setColorAt(1, QColorFromBgr(ShiftColor(back, -0.03), alpha));
                painter.fillRect(rect, fill);
            }
            painter.setPen(QColorFromBgr(border));
            painter.drawLine(rect.bottomLeft(), rect.bottomRight());
            painter.drawLine(QPoint(rect.right(), rect.top() + 4),
                             QPoint(rect.right(), rect.bottom() - 4));
            break;
        }
        default:
            fillFrame(false, false);
            break;
    }
    painter.save();
    painter.setClipRect(rect);
    DrawCaption(painter, record, content, text, captionAlignment);
    DrawComment(painter, record, rect, text);
    painter.restore();
    DrawTip(painter, record, rect);

    if (look.outline) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColorFromBgr(look.outlineColor), 1, Qt::DashLine));
        painter.drawRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5));
    }
}

}  // namespace lumeval
