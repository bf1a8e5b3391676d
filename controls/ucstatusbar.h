// ucStatusbar: the status line at the bottom of the main window. A row of
// panels, each with a text, a tip, an optional icon and a width rule (fixed,
// spring or fit-to-contents).
//
// The control is a host widget that owns one child, the status window, which
// paints the panels. The host keeps the panel table and recomputes the
// panels' right edges from it whenever something that affects them changes;
// the status window is only told edges, texts, tips and icons, and reports
// clicks back.
//
// Naming: members carry the names the editor calls them by. A property is a
// pair of overloads with one name: `PanelText(1)` reads, `PanelText(1, s)`
// writes. Panels are numbered from 1; a panel number outside 1..PanelCount()
// makes every per-panel member do nothing and read 0 or empty. Everything
// that needs the status window does nothing until `Initialize`.
#pragma once

#include <QFont>
#include <QIcon>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <vector>

class QSizeGrip;

namespace lumeval {

/// Panel styles (text-drawing flags of a panel); the border kinds are exclusive,
/// right-to-left reading may be added to any of them.
inline constexpr int kPanelSunken = 0;
inline constexpr int kPanelNoBorders = 0x100;
inline constexpr int kPanelRaised = 0x200;
inline constexpr int kPanelRtlReading = 0x400;

/// Width rules of a panel.
inline constexpr int kPanelFixed = 0;
inline constexpr int kPanelSpring = 1;
inline constexpr int kPanelContents = 2;

/// Pixels kept free at the right end for the size grip.
inline constexpr int kSizeGripWidth = 20;

/// One panel as the layout sees it. `textWidth` is the text's width in the
/// host's font (0 for an empty text).
struct StatusPanelMetrics {
    int autoSize = kPanelFixed;
    int minWidth = 0;
    int width = 0;
    int textWidth = 0;
    bool hasIcon = false;
};

/// Widths after the layout (spring and contents panels recomputed, others as
/// given) and each panel's right edge, in panel order.
struct StatusLayout {
    std::vector<int> widths;
    std::vector<int> edges;
};

/// The layout rule: fixed panels keep their width, contents panels fit their
/// text plus 8 (plus 20 with an icon), spring panels share what is left, never
/// below their MinWidth; edges stop at the available width and a spring panel
/// at the end reaches it. The available width is the host width less the grip.
StatusLayout computeStatusLayout(const std::vector<StatusPanelMetrics>& panels, int hostWidth,
                                 bool sizeGrip);

namespace detail {
class StatusWindow;
}

class ucStatusbar : public QWidget {
    Q_OBJECT

  public:
    explicit ucStatusbar(QWidget* parent = nullptr);
    ~ucStatusbar() override;

    /// Creates the status window once; True only for the call that created it.
    bool Initialize(bool SizeGrip, bool ToolTips);
    /// (Re)creates the icon list with icons of this size; False for a size below 1.
    bool InitializeIconList(int IconWidth, int IconHeight);
    void AddPanel(int Style, int MinWidth, int Width, int AutoSize, const QString& Text,
                  const QString& TipText, int IconIndex);
    void ClearPanel();
    /// Adds a copy of the icon; its index in the icon list, 0 when there is no
    /// icon list or no status window, -1 for a null icon.
    int AddIcon(const QIcon& hIcon);
    /// The panel's rectangle in the status window (right and bottom exclusive);
    /// the outputs stay untouched for an invalid panel.
    void GetPanelRect(int Panel, int& Left, int& Top, int& Right, int& Bottom) const;

    bool SizeGrip() const;
    /// Rebuilds the status window with or without the grip; panels, icons, font
    /// and background colour carry over.
    void SizeGrip(bool value);

    int PanelCount() const;

    int PanelStyle(int Panel) const;
    void PanelStyle(int Panel, int value);
    int PanelMinWidth(int Panel) const;
    void PanelMinWidth(int Panel, int value);
    int PanelWidth(int Panel) const;
    /// Taken only when above the panel's MinWidth.
    void PanelWidth(int Panel, int value);
    int PanelAutosize(int Panel) const;
    void PanelAutosize(int Panel, int value);
    QString PanelText(int Panel) const;
    void PanelText(int Panel, const QString& value);
    QString PanelTipText(int Panel) const;
    void PanelTipText(int Panel, const QString& value);
    int PanelIconIndex(int Panel) const;
    /// -1 is stored when the icon list has no icon at that index.
    void PanelIconIndex(int Panel, int value);

    /// Background colour as 0x00BBGGRR; a value with any of the top byte's bits
    /// set restores the style's own background.
    void BackColor(std::uint32_t value);

    bool Enabled() const;
    void Enabled(bool value);

    /// The watched font: its name, size (points), bold, italic, underline and
    /// strike-out build the panels' font. Ignored before Initialize.
    QFont Font() const;
    void Font(const QFont& value);

    /// The status window (null before Initialize).
    QWidget* hwnd() const;

  signals:
    /// Button 1 left, 2 right. The click that ends a double click raises nothing.
    void PanelClick(int Panel, int Button);
    void PanelDblClick(int Panel, int Button);
    void Resize();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    friend class detail::StatusWindow;

    struct PanelRecord {
        int style = kPanelSunken;
        int minWidth = 0;
        int width = 0;
        int autoSize = kPanelFixed;
        QString text;
        QString tipText;
        int iconIndex = -1;
    };

    bool validPanel(int panel) const;
    QIcon iconAt(int index) const;
    void layoutPanels();
    void applyStatusFont();
    void followStatusHeight();
    void dock();
    void placeStatusWindow();
    // Notifications from the status window; part numbers from 0, -1 for none.
    void onPartClicked(int part, int button);
    void onPartDoubleClicked(int part, int button);

    detail::StatusWindow* m_status = nullptr;
    bool m_created = false;
    bool m_toolTips = false;
    std::vector<PanelRecord> m_panels;
    bool m_hasIconList = false;
    QSize m_iconSize;
    std::vector<QIcon> m_iconList;
    QFont m_oFont;
    bool m_applyingFont = false;
    bool m_hasBackColor = false;
    std::uint32_t m_backColor = 0;
    bool m_suppressClick = false;
};

}  // namespace lumeval
