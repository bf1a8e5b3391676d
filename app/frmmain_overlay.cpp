#include "app/frmmain_overlay.h"

#include <QPainter>

#include "document/document.h"

namespace lumeval {

SubtitleOverlay::SubtitleOverlay(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("subtitleOverlay"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

void SubtitleOverlay::Follow(const doc::SubtitleDocument* d) {
    for (const auto& c : m_watch) disconnect(c);
    m_watch.clear();
    m_doc = d;
    if (!d) {
        m_renderer.Clear();
        update();
        return;
    }
    m_renderer.SetHeader(media::SubtitleRenderer::HeaderFor(*d));
    UseEventStyles();
    m_renderer.Follow(*d);
    // The renderer follows the edits; the picture is painted again for them.
    auto repaint = [this] { update(); };
    m_watch.push_back(connect(d, &doc::SubtitleDocument::CellsChanged, this, repaint));
    m_watch.push_back(connect(d, &doc::SubtitleDocument::RowsInserted, this, repaint));
    m_watch.push_back(connect(d, &doc::SubtitleDocument::RowsRemoved, this, repaint));
    // A new file in the same document may bring other styles.
    m_watch.push_back(connect(d, &doc::SubtitleDocument::ResetDone, this, [this] {
        if (m_doc) m_renderer.SetHeader(media::SubtitleRenderer::HeaderFor(*m_doc));
        UseEventStyles();
        update();
    }));
    m_watch.push_back(connect(d, &QObject::destroyed, this, [this] {
        m_renderer.Clear();
        m_watch.clear();
    }));
    update();
}

void SubtitleOverlay::UseEventStyles() {
    // The document keeps no style per cue; the file has them. A row's cue
    // in the file is known once the file is kept with the document (its
    // rows one for one with the file's events); rows added since, or a file
    // that could not be kept, use the default style.
    auto styles = std::make_shared<const std::vector<std::string>>(
        m_doc ? media::SubtitleRenderer::EventStylesFor(*m_doc) : std::vector<std::string>{});
    if (styles->empty()) {
        m_renderer.SetCueStyles(nullptr);
        return;
    }
    m_renderer.SetCueStyles([this, styles](int row) -> std::string {
        if (!m_doc || !m_doc->ValidRow(row)) return {};
        const int64_t origin = m_doc->KeptOrigin(m_doc->Serial(row));
        return origin >= 0 && static_cast<std::size_t>(origin) < styles->size() ? (*styles)[static_cast<std::size_t>(origin)]
                                                                                  : std::string();
    });
}

std::vector<int> SubtitleOverlay::ShowingAt(int64_t ms) const {
    if (!m_doc) return {};
    return m_renderer.ShowingAt(ms);
}

void SubtitleOverlay::SetSubtitlesShown(bool shown) {
    if (shown == m_shown) return;
    m_shown = shown;
    update();
}

void SubtitleOverlay::paintEvent(QPaintEvent*) {
    if (!m_shown || !m_doc || !m_clock || width() <= 0 || height() <= 0) return;
    const media::SubtitleRenderer::Overlay overlay = m_renderer.RenderOverlay(m_clock(), size());
    if (overlay.Empty()) return;
    QPainter painter(this);
    for (const auto& piece : overlay.pieces) painter.drawImage(piece.at, piece.image);
    ++m_drawn;
}

}  // namespace lumeval
