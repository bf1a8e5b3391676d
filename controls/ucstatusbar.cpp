#include "controls/ucstatusbar.h"

#include <qdrawutil.h>

#include <QEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QSizeGrip>
#include <QStyle>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

namespace lumeval {

namespace {

// Sums run in 64 bits so that huge fixed widths cannot wrap around; results
// are brought back into the int range.
int clampToInt(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

// Text padding inside a panel and the room an icon takes.
constexpr int kTextPadding = 8;
constexpr int kIconRoom = 20;
// Gap between neighbouring panels and the inset of a panel's top edge.
constexpr int kPanelGap = 2;
constexpr int kPanelTop = 2;

}  // namespace

StatusLayout computeStatusLayout(const std::vector<StatusPanelMetrics>& panels, int hostWidth,
                                 bool sizeGrip) {
    StatusLayout out;
    if (panels.empty()) return out;
    // A host narrower than the grip leaves nothing, not a negative width.
    const std::int64_t available =
        std::max<std::int64_t>(0, std::int64_t{hostWidth} - (sizeGrip ? kSizeGripWidth : 0));

    out.widths.reserve(panels.size());
    std::int64_t fixedSum = 0;
    std::int64_t springs = 0;
    for (const StatusPanelMetrics& p : panels) {
        int width = p.width;
        switch (p.autoSize) {
            case kPanelFixed:
                fixedSum += width;
                break;
            case kPanelSpring:
                ++springs;
                break;
            case kPanelContents: {
                std::int64_t w = kTextPadding;
                if (p.textWidth > 0) w = std::int64_t{p.textWidth} + kTextPadding;
                if (p.hasIcon) w += kIconRoom;
                width = clampToInt(std::max<std::int64_t>(w, p.minWidth));
                fixedSum += width;
                break;
            }
            default:  // unknown rules keep their width and take no share
                break;
        }
        out.widths.push_back(width);
    }
    if (springs > 0) {
        // Integer division truncating toward zero; MinWidth is the floor.
        const int share = clampToInt((available - fixedSum) / springs);
        for (std::size_t i = 0; i < panels.size(); ++i) {
            if (panels[i].autoSize == kPanelSpring)
                out.widths[i] = std::max(share, panels[i].minWidth);
        }
    }
    out.edges.reserve(panels.size());
    std::int64_t edge = 0;
    for (int width : out.widths) {
        edge = std::min(edge + width, available);
        out.edges.push_back(static_cast<int>(edge));
    }
    if (panels.back().autoSize == kPanelSpring) out.edges.back() = static_cast<int>(available);
    return out;
}

namespace detail {

// The status window: paints the parts it is told about and reports clicks.
class StatusWindow : public QWidget {
  public:
    StatusWindow(ucStatusbar* host, bool sizeGrip, bool toolTips)
        : QWidget(host), m_host(host), m_toolTips(toolTips) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        if (sizeGrip) {
            m_grip = new QSizeGrip(this);
            m_grip->resize(m_grip->sizeHint());
        }
    }

    bool hasSizeGrip() const { return m_grip != nullptr; }
    // Replaced by a new window: reports nothing more to the host.
    void detach() { m_host = nullptr; }

    // All edges start at 0; texts, tips and icons of surviving parts stay.
    void setPartCount(int count) {
        m_parts.resize(static_cast<std::size_t>(std::max(0, count)));
        for (Part& p : m_parts) p.right = 0;
        update();
    }
    void setEdges(const std::vector<int>& edges) {
        m_parts.resize(edges.size());
        for (std::size_t i = 0; i < edges.size(); ++i) m_parts[i].right = edges[i];
        update();
    }
    void setPartText(int part, const QString& text, int style) {
        if (!validPart(part)) return;
        m_parts[part].text = text;
        m_parts[part].style = style;
        update();
    }
    void setPartTip(int part, const QString& tip) {
        if (validPart(part)) m_parts[part].tip = tip;
    }
    void setPartIcon(int part, const QIcon& icon, QSize size) {
        if (!validPart(part)) return;
        m_parts[part].icon = icon;
        m_parts[part].iconSize = size;
        update();
    }
    void setBackground(std::optional<QColor> colour) {
        m_background = colour;
        update();
    }

    // Height the window wants for its font; the host follows it.
    int naturalHeight() const { return fontMetrics().height() + 8; }

    QRect partRect(int part) const {
        if (!validPart(part)) return {};
        const int left = part == 0 ? 0 : m_parts[part - 1].right;
        return QRect(QPoint(left, kPanelTop), QPoint(m_parts[part].right - 1, naturalHeight() - 1));
    }

    int partAt(QPoint pos) const {
        int left = 0;
        for (std::size_t i = 0; i < m_parts.size(); ++i) {
            if (pos.x() >= left && pos.x() < m_parts[i].right) return static_cast<int>(i);
            left = std::max(left, m_parts[i].right);
        }
        return -1;
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), m_background ? QBrush(*m_background) : palette().window());
        // A hairline separates the bar from what sits above it.
        p.setPen(palette().color(QPalette::Mid));
        p.drawLine(0, 0, width() - 1, 0);

        const QFontMetrics fm = fontMetrics();
        for (std::size_t i = 0; i < m_parts.size(); ++i) {
            const Part& part = m_parts[i];
            QRect r = partRect(static_cast<int>(i));
            r.setBottom(height() - 2);
            r.setRight(r.right() - kPanelGap);
            if (r.width() <= 0 || r.height() <= 0) continue;
            if ((part.style & kPanelNoBorders) == 0) {
                qDrawShadeRect(&p, r, palette(), (part.style & kPanelRaised) == 0, 1);
            }
            int textLeft = r.left() + kTextPadding / 2;
            if (!part.icon.isNull()) {
                const QSize size = part.iconSize.isValid() ? part.iconSize : QSize(16, 16);
                const QRect slot(r.left() + 1, r.top(), kIconRoom, r.height());
                QRect iconRect(QPoint(0, 0), size.boundedTo(slot.size()));
                iconRect.moveCenter(slot.center());
                part.icon.paint(&p, iconRect, Qt::AlignCenter,
                                isEnabled() ? QIcon::Normal : QIcon::Disabled);
                textLeft += kIconRoom;
            }
            if (part.text.isEmpty()) continue;
            const QRect textRect(QPoint(textLeft, r.top()), QPoint(r.right() - 2, r.bottom()));
            if (textRect.width() <= 0) continue;
            const bool rtl = (part.style & kPanelRtlReading) != 0;
            const int flags = Qt::AlignVCenter | Qt::TextSingleLine |
                              (rtl ? Qt::AlignRight | Qt::AlignAbsolute | Qt::TextForceRightToLeft
                                   : Qt::AlignLeft | Qt::AlignAbsolute);
            p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                     QPalette::WindowText));
            p.drawText(textRect, flags, fm.elidedText(part.text, Qt::ElideRight, textRect.width()));
        }
    }

    void resizeEvent(QResizeEvent*) override {
        if (m_grip) m_grip->move(width() - m_grip->width(), height() - m_grip->height());
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        const int button = buttonNumber(event->button());
        if (button != 0 && m_host)
            m_host->onPartClicked(partAt(event->position().toPoint()), button);
    }

    void mouseDoubleClickEvent(QMouseEvent* event) override {
        const int button = buttonNumber(event->button());
        if (button != 0 && m_host) {
            m_host->onPartDoubleClicked(partAt(event->position().toPoint()), button);
        }
    }

    bool event(QEvent* event) override {
        if (event->type() == QEvent::ToolTip) {
            const auto* help = static_cast<QHelpEvent*>(event);
            const int part = m_toolTips ? partAt(help->pos()) : -1;
            if (part >= 0 && !m_parts[part].tip.isEmpty()) {
                QToolTip::showText(help->globalPos(), m_parts[part].tip, this, partRect(part));
            } else {
                QToolTip::hideText();
                event->ignore();
            }
            return true;
        }
        if (event->type() == QEvent::FontChange) {
            const bool handled = QWidget::event(event);
            if (m_host) m_host->followStatusHeight();
            return handled;
        }
        return QWidget::event(event);
    }

  private:
    struct Part {
        int right = 0;
        int style = kPanelSunken;
        QString text;
        QString tip;
        QIcon icon;
        QSize iconSize;
    };

    static int buttonNumber(Qt::MouseButton button) {
        if (button == Qt::LeftButton) return 1;
        if (button == Qt::RightButton) return 2;
        return 0;
    }

    bool validPart(int part) const {
        return part >= 0 && static_cast<std::size_t>(part) < m_parts.size();
    }

    ucStatusbar* m_host;
    bool m_toolTips;
    QSizeGrip* m_grip = nullptr;
    std::vector<Part> m_parts;
    std::optional<QColor> m_background;
};

}  // namespace detail

ucStatusbar::ucStatusbar(QWidget* parent) : QWidget(parent), m_oFont(font()) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

ucStatusbar::~ucStatusbar() {
    if (QWidget* container = parentWidget()) container->removeEventFilter(this);
}

bool ucStatusbar::Initialize(bool SizeGrip, bool ToolTips) {
    if (m_created) return false;
    m_status = new detail::StatusWindow(this, SizeGrip, ToolTips);
    m_toolTips = ToolTips;
    m_status->setGeometry(0, 0, width(), height());
    m_created = true;
    followStatusHeight();
    if (QWidget* container = parentWidget()) container->installEventFilter(this);
    dock();
    m_status->show();
    if (m_hasBackColor) BackColor(m_backColor);
    m_oFont = font();
    applyStatusFont();
    return true;
}

bool ucStatusbar::InitializeIconList(int IconWidth, int IconHeight) {
    if (IconWidth < 1 || IconHeight < 1) return false;
    // Panels hold their own copies, so replacing the list leaves them showing.
    m_iconList.clear();
    m_iconSize = QSize(IconWidth, IconHeight);
    m_hasIconList = true;
    return true;
}

void ucStatusbar::AddPanel(int Style, int MinWidth, int Width, int AutoSize, const QString& Text,
                           const QString& TipText, int IconIndex) {
    if (!m_created) return;
    const int part = static_cast<int>(m_panels.size());
    m_status->setPartCount(part + 1);
    m_status->setPartText(part, Text, Style);
    m_status->setPartTip(part, TipText);
    QIcon icon;
    if (IconIndex != -1) icon = iconAt(IconIndex);
    if (!icon.isNull()) m_status->setPartIcon(part, icon, m_iconSize);

    PanelRecord p;
    p.style = Style;
    p.minWidth = std::max(0, MinWidth);
    p.width = Width < p.minWidth ? p.minWidth : Width;
    p.autoSize = AutoSize;
    p.text = Text;
    p.tipText = TipText;
    p.iconIndex = icon.isNull() ? -1 : IconIndex;
    m_panels.push_back(p);
    layoutPanels();
}

void ucStatusbar::ClearPanel() {
    if (m_panels.empty()) return;
    if (m_status) m_status->setPartCount(0);
    m_panels.clear();
}

int ucStatusbar::AddIcon(const QIcon& hIcon) {
    if (!m_hasIconList || !m_created) return 0;
    if (hIcon.isNull()) return -1;
    m_iconList.push_back(hIcon);
    return static_cast<int>(m_iconList.size()) - 1;
}

void ucStatusbar::GetPanelRect(int Panel, int& Left, int& Top, int& Right, int& Bottom) const {
    if (!validPanel(Panel)) return;
    const QRect r = m_status->partRect(Panel - 1);
    Left = r.left();
    Top = r.top();
    Right = r.right() + 1;
    Bottom = r.bottom() + 1;
}

bool ucStatusbar::SizeGrip() const {
    return m_status && m_status->hasSizeGrip();
}

void ucStatusbar::SizeGrip(bool value) {
    if (!m_created || value == SizeGrip()) return;
    const std::vector<PanelRecord> copy = m_panels;
    m_panels.clear();
    // A click handler may ask for the rebuild while the old window is still
    // delivering that click, so it goes away later.
    m_status->detach();
    m_status->hide();
    m_status->deleteLater();
    m_status = nullptr;
    m_created = false;
    m_suppressClick = false;
    Initialize(value, m_toolTips);
    for (const PanelRecord& p : copy) {
        AddPanel(p.style, p.minWidth, p.width, p.autoSize, p.text, p.tipText, p.iconIndex);
    }
    applyStatusFont();
}

int ucStatusbar::PanelCount() const {
    return m_status ? static_cast<int>(m_panels.size()) : 0;
}

bool ucStatusbar::validPanel(int panel) const {
    return m_status && panel >= 1 && static_cast<std::size_t>(panel) <= m_panels.size();
}

int ucStatusbar::PanelStyle(int Panel) const {
    return validPanel(Panel) ? m_panels[Panel - 1].style : 0;
}

void ucStatusbar::PanelStyle(int Panel, int value) {
    if (!validPanel(Panel)) return;
    PanelRecord& p = m_panels[Panel - 1];
    m_status->setPartText(Panel - 1, p.text, value);
    p.style = value;
}

int ucStatusbar::PanelMinWidth(int Panel) const {
    return validPanel(Panel) ? m_panels[Panel - 1].minWidth : 0;
}

void ucStatusbar::PanelMinWidth(int Panel, int value) {
    if (!validPanel(Panel)) return;
    m_panels[Panel - 1].minWidth = std::max(0, value);
    layoutPanels();
}

int ucStatusbar::PanelWidth(int Panel) const {
    return validPanel(Panel) ? m_panels[Panel - 1].width : 0;
}

void ucStatusbar::PanelWidth(int Panel, int value) {
    if (!validPanel(Panel)) return;
    PanelRecord& p = m_panels[Panel - 1];
    if (value > p.minWidth) p.width = value;
    layoutPanels();
}

int ucStatusbar::PanelAutosize(int Panel) const {
    return validPanel(Panel) ? m_panels[Panel - 1].autoSize : 0;
}

void ucStatusbar::PanelAutosize(int Panel, int value) {
    if (!validPanel(Panel)) return;
    m_panels[Panel - 1].autoSize = value;
    layoutPanels();
}

QString ucStatusbar::PanelText(int Panel) const {
    return validPanel(Panel) ? m_panels[Panel - 1].text : QString();
}

void ucStatusbar::PanelText(int Panel, const QString& value) {
    if (!validPanel(Panel)) return;
    PanelRecord& p = m_panels[Panel - 1];
    m_status->setPartText(Panel - 1, value, p.style);
    p.text = value;
    layoutPanels();
}

QString ucStatusbar::PanelTipText(int Panel) const {
    return validPanel(Panel) ? m_panels[Panel - 1].tipText : QString();
}

void ucStatusbar::PanelTipText(int Panel, const QString& value) {
    if (!validPanel(Panel)) return;
    m_status->setPartTip(Panel - 1, value);
    m_panels[Panel - 1].tipText = value;
}

int ucStatusbar::PanelIconIndex(int Panel) const {
    return validPanel(Panel) ? m_panels[Panel - 1].iconIndex : 0;
}

void ucStatusbar::PanelIconIndex(int Panel, int value) {
    if (!validPanel(Panel)) return;
    const QIcon icon = iconAt(value);
    m_status->setPartIcon(Panel - 1, icon, m_iconSize);
    m_panels[Panel - 1].iconIndex = icon.isNull() ? -1 : value;
    layoutPanels();
}

void ucStatusbar::BackColor(std::uint32_t value) {
    if (!m_status) return;
    m_hasBackColor = true;
    m_backColor = value;
    if (value & 0xFF000000u) {
        m_status->setBackground(std::nullopt);
    } else {
        m_status->setBackground(QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF));
    }
}

bool ucStatusbar::Enabled() const {
    return isEnabled();
}

void ucStatusbar::Enabled(bool value) {
    setEnabled(value);
    if (m_status) m_status->setEnabled(value);
}

QFont ucStatusbar::Font() const {
    return m_oFont;
}

void ucStatusbar::Font(const QFont& value) {
    if (!m_created) return;
    m_oFont = value;
    m_applyingFont = true;
    setFont(value);
    m_applyingFont = false;
    applyStatusFont();
}

QWidget* ucStatusbar::hwnd() const {
    return m_status;
}

QIcon ucStatusbar::iconAt(int index) const {
    if (!m_hasIconList || index < 0 || static_cast<std::size_t>(index) >= m_iconList.size()) {
        return {};
    }
    return m_iconList[static_cast<std::size_t>(index)];
}

void ucStatusbar::layoutPanels() {
    if (!m_status || m_panels.empty()) return;
    const QFontMetrics fm(font());
    std::vector<StatusPanelMetrics> metrics;
    metrics.reserve(m_panels.size());
    for (const PanelRecord& p : m_panels) {
        StatusPanelMetrics m;
        m.autoSize = p.autoSize;
        m.minWidth = p.minWidth;
        m.width = p.width;
        m.textWidth =
            p.autoSize == kPanelContents && !p.text.isEmpty() ? fm.horizontalAdvance(p.text) : 0;
        m.hasIcon = p.iconIndex != -1;
        metrics.push_back(m);
    }
    const StatusLayout layout = computeStatusLayout(metrics, width(), m_status->hasSizeGrip());
    for (std::size_t i = 0; i < m_panels.size(); ++i) m_panels[i].width = layout.widths[i];
    m_status->setEdges(layout.edges);
}

// The panels' font is built from the watched font the way a native font is:
// pixel height = points x vertical dots per inch / 72, rounded half away from
// zero; weight bold or normal; italic, underline and strike-out carried over.
void ucStatusbar::applyStatusFont() {
    if (!m_status) return;
    QFont f;
    f.setFamilies(m_oFont.families().isEmpty() ? QStringList{m_oFont.family()}
                                               : m_oFont.families());
    int pixels = m_oFont.pixelSize();
    if (m_oFont.pointSizeF() > 0) {
        pixels = static_cast<int>(std::lround(m_oFont.pointSizeF() * logicalDpiY() / 72.0));
    }
    if (pixels > 0) f.setPixelSize(pixels);
    f.setWeight(m_oFont.bold() ? QFont::Bold : QFont::Normal);
    f.setItalic(m_oFont.italic());
    f.setUnderline(m_oFont.underline());
    f.setStrikeOut(m_oFont.strikeOut());
    m_status->setFont(f);
    followStatusHeight();
    layoutPanels();
}

// The host is as tall as the status window's parts.
void ucStatusbar::followStatusHeight() {
    if (!m_status) return;
    const int h = m_status->naturalHeight();
    if (height() != h || minimumHeight() != h || maximumHeight() != h) setFixedHeight(h);
    dock();
    // A hidden host gets its resize event only when shown; the status window
    // follows now.
    placeStatusWindow();
}

// Along the bottom of the container, unless a layout places the host.
void ucStatusbar::dock() {
    QWidget* container = parentWidget();
    if (!m_created || !container || isWindow()) return;
    if (QLayout* l = container->layout(); l && l->indexOf(this) >= 0) return;
    setGeometry(0, container->height() - height(), container->width(), height());
}

void ucStatusbar::placeStatusWindow() {
    if (!m_status) return;
    m_status->setGeometry(0, 0, width(), height());
    layoutPanels();
}

void ucStatusbar::onPartClicked(int part, int button) {
    const bool suppressed = m_suppressClick;
    m_suppressClick = false;
    if (!suppressed && validPanel(part + 1)) emit PanelClick(part + 1, button);
}

void ucStatusbar::onPartDoubleClicked(int part, int button) {
    m_suppressClick = true;
    if (validPanel(part + 1)) emit PanelDblClick(part + 1, button);
}

void ucStatusbar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeStatusWindow();
    emit Resize();
}

void ucStatusbar::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    placeStatusWindow();
    emit Resize();
}

void ucStatusbar::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // A font change reaching the host (from its container, say) re-applies it.
    if (event->type() == QEvent::FontChange && m_created && !m_applyingFont) {
        m_oFont = font();
        applyStatusFont();
    }
}

bool ucStatusbar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) dock();
    return QWidget::eventFilter(watched, event);
}

}  // namespace lumeval
