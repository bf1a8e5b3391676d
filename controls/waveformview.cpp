#include "controls/waveformview.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLine>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#include <vector>
#include <cmath>
#include <limits>

#include "document/document.h"
#include "media/waveform.h"

namespace lumeval {

namespace {

// Cues longer than this are kept apart from the time index (see m_long).
constexpr int64_t kLongMs = 60'000;
// How far a cue without an end is drawn when no cue follows it.
constexpr int64_t kOpenEndMs = 3'000;
// Below this many pixels per box on average, boxes give way to coverage.
constexpr double kMinPixelsPerBox = 3.0;

const QColor kBackground(24, 26, 30);
const QColor kWave(96, 200, 140);
const QColor kWavePending(70, 110, 90);
const QColor kBoxFill[2] = {QColor(36, 52, 82), QColor(72, 60, 36)};
const QColor kBoxEdge[2] = {QColor(110, 170, 255), QColor(255, 195, 90)};
const QColor kDragFill(70, 76, 88);
const QColor kDragEdge(255, 255, 255);
const QColor kText(235, 235, 235);
const QColor kPlayhead(240, 60, 60);
const QColor kNote(255, 230, 150);

/// Kept apart from the time index: long, or ending before it starts.
bool IsLong(const doc::SubtitleDocument& d, int row) {
    const int64_t end = d.End(row);
    return end != doc::kNoEnd && (end < d.Start(row) || end - d.Start(row) > kLongMs);
}

/// The cue's text on one line: "\N" as a space, ASS override blocks left out.
QString BoxText(std::string_view utf8) {
    QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(std::min<std::size_t>(utf8.size(), 400)));
    text.replace(QStringLiteral("\\N"), QStringLiteral(" "));
    text.replace(QStringLiteral("\\n"), QStringLiteral(" "));
    QString out;
    out.reserve(text.size());
    int depth = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('{')) ++depth;
        else if (c == QLatin1Char('}') && depth > 0) --depth;
        else if (depth == 0) out.append(c);
    }
    return out;
}

}  // namespace

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_poll.setInterval(100);
    connect(&m_poll, &QTimer::timeout, this, &WaveformView::PollPeaks);
}

WaveformView::~WaveformView() = default;

// ---- inputs -----------------------------------------------------------------

void WaveformView::SetPeaks(std::shared_ptr<const media::WaveformPeaks> peaks) {
    m_peaks = std::move(peaks);
    m_peaksSeen = m_peaks ? m_peaks->Count() : 0;
    if (m_peaks && !m_peaks->Finished()) m_poll.start();
    else m_poll.stop();
    update();
}

void WaveformView::PollPeaks() {
    if (!m_peaks) {
        m_poll.stop();
        return;
    }
    const std::size_t count = m_peaks->Count();
    const bool finished = m_peaks->Finished();
    // New buckets matter only when they reach the visible range; the note
    // changes with the progress anyway.
    if (count != m_peaksSeen || finished) update();
    m_peaksSeen = count;
    if (finished) m_poll.stop();
}

void WaveformView::SetDocument(doc::SubtitleDocument* document) {
    CancelDrag();
    for (const auto& link : m_links) disconnect(link);
    m_links.clear();
    m_document = document;
    if (document) {
        using D = doc::SubtitleDocument;
        auto changed = [this]() { DocumentChanged(); };
        // Rows moving: a drag's row number no longer names its cue.
        auto moving = [this]() { CancelDrag(); };
        m_links.push_back(connect(document, &D::RowsAboutToBeInserted, this, moving));
        m_links.push_back(connect(document, &D::RowsInserted, this, &WaveformView::RowsInserted));
        m_links.push_back(connect(document, &D::RowsAboutToBeRemoved, this, moving));
        m_links.push_back(connect(document, &D::RowsRemoved, this, &WaveformView::RowsRemoved));
        m_links.push_back(connect(document, &D::AboutToReset, this, changed));
        m_links.push_back(connect(document, &D::ResetDone, this, changed));
        m_links.push_back(connect(document, &D::CellsChanged, this, &WaveformView::TimesChanged));
        m_links.push_back(connect(document, &QObject::destroyed, this, [this]() {
            m_drag = Drag{};
            m_indexDirty = true;
            m_order.clear();
            m_long.clear();
            update();
        }));
    }
    m_indexDirty = true;
    update();
}

doc::SubtitleDocument* WaveformView::Document() const {
    return m_document.data();
}

void WaveformView::DocumentChanged() {
    // Rows moved: a drag's row number no longer names its cue.
    CancelDrag();
    m_indexDirty = true;
    update();
}

void WaveformView::RowsInserted(int first, int last) {
    CancelDrag();
    if (!m_indexDirty && last - first < 16) {
        // Rows from `first` on moved down; then the new ones go in by time.
        const int count = last - first + 1;
        for (int32_t& row : m_order)
            if (row >= first) row += count;
        for (int32_t& row : m_long)
            if (row >= first) row += count;
        Reindex(first, last);
    } else {
        m_indexDirty = true;
    }
    update();
}

void WaveformView::RowsRemoved(int first, int last) {
    CancelDrag();
    if (!m_indexDirty) {
        const int count = last - first + 1;
        auto gone = [first, last](int32_t row) { return row >= first && row <= last; };
        for (std::vector<int32_t>* rows : {&m_order, &m_long}) {
            rows->erase(std::remove_if(rows->begin(), rows->end(), gone), rows->end());
            for (int32_t& row : *rows)
                if (row > last) row -= count;
        }
    }
    update();
}

void WaveformView::TimesChanged(int first, int last, int firstColumn, int lastColumn) {
    if (firstColumn <= doc::ColEnd && lastColumn >= doc::ColStart) {
        if (m_drag.row >= first && m_drag.row <= last) CancelDrag();
        // A few rows (a drag, a cell edit, their undo) are moved within the
        // index: rebuilding it for a million rows costs a frame or two.
        if (!m_indexDirty && last - first < 16) Reindex(first, last);
        else m_indexDirty = true;
    }
    update();
}

void WaveformView::Reindex(int first, int last) {
    const doc::SubtitleDocument* d = m_document.data();
    if (!d || !d->ValidRow(first) || !d->ValidRow(last)) {
        m_indexDirty = true;
        return;
    }
    auto changed = [first, last](int32_t row) { return row >= first && row <= last; };
    m_order.erase(std::remove_if(m_order.begin(), m_order.end(), changed), m_order.end());
    m_long.erase(std::remove_if(m_long.begin(), m_long.end(), changed), m_long.end());
    for (int row = first; row <= last; ++row) {
        if (IsLong(*d, row)) {
            m_long.push_back(row);
            continue;
        }
        const int64_t start = d->Start(row);
        const auto at = std::upper_bound(m_order.begin(), m_order.end(), row, [d, start](int32_t r, int32_t other) {
            const int64_t so = d->Start(other);
            return start != so ? start < so : r < other;
        });
        m_order.insert(at, row);
    }
}

void WaveformView::CancelDrag() {
    if (m_drag.row < 0) return;
    m_drag = Drag{};
    unsetCursor();
    update();
}

void WaveformView::SetPlayhead(int64_t ms, bool playing) {
    m_playhead = ms;
    m_playing = playing;
    if (playing && m_drag.row < 0 && !m_seeking) {
        // Page on when the playhead nears the right edge or is out of sight.
        if (ms < m_start || ms > m_start + m_span * 9 / 10) {
            m_start = std::max<int64_t>(0, ms - m_span / 10);
        }
    }
    update();
}

void WaveformView::SetVisibleRange(int64_t startMs, int64_t spanMs) {
    m_span = std::clamp(spanMs, kMinSpanMs, kMaxSpanMs);
    m_start = std::max<int64_t>(0, startMs);
    update();
}

int64_t WaveformView::TimeAt(double x) const {
    const int w = std::max(1, width());
    return m_start + static_cast<int64_t>(std::llround(x * static_cast<double>(m_span) / w));
}

double WaveformView::XAt(int64_t ms) const {
    const int w = std::max(1, width());
    return static_cast<double>(ms - m_start) * w / static_cast<double>(m_span);
}

int64_t WaveformView::KnownLengthMs() const {
    int64_t length = 0;
    if (m_peaks) {
        length = std::max<int64_t>(m_peaks->DurationMs(),
                                   static_cast<int64_t>(m_peaks->Count()) * media::WaveformPeaks::kBucketMs);
    }
    EnsureIndex();
    if (!m_order.empty() && m_document) length = std::max(length, ExtentEnd(m_order.size() - 1));
    if (m_document)
        for (int32_t row : m_long) length = std::max(length, m_document->End(row));
    return length;
}

void WaveformView::ClampStart() {
    const int64_t length = KnownLengthMs();
    // Let the end of the medium reach the middle of the view, no further.
    if (length > 0) m_start = std::min(m_start, std::max<int64_t>(0, length - m_span / 2));
    m_start = std::max<int64_t>(0, m_start);
}

// ---- the time index ---------------------------------------------------------

void WaveformView::EnsureIndex() const {
    if (!m_indexDirty) return;
    m_indexDirty = false;
    m_order.clear();
    m_long.clear();
    const doc::SubtitleDocument* d = m_document.data();
    if (!d || d->Loading()) {
        m_indexDirty = d != nullptr;  // built when the load is published
        return;
    }
    const int n = d->Count();
    // Room for rows to come: growing a million-row index into fresh memory
    // costs a frame's time in page faults alone.
    m_order.reserve(static_cast<std::size_t>(n) + static_cast<std::size_t>(n) / 16 + 1024);
    // Files come in time order nearly always: then one pass is all.
    bool sorted = true;
    int64_t previous = std::numeric_limits<int64_t>::min();
    for (int row = 0; row < n; ++row) {
        if (IsLong(*d, row)) {
            m_long.push_back(row);
            continue;
        }
        const int64_t start = d->Start(row);
        sorted = sorted && start >= previous;
        previous = start;
        m_order.push_back(row);
    }
    if (!sorted) {
        std::sort(m_order.begin(), m_order.end(), [d](int32_t a, int32_t b) {
            const int64_t sa = d->Start(a), sb = d->Start(b);
            return sa != sb ? sa < sb : a < b;
        });
    }
}

int64_t WaveformView::ExtentEnd(std::size_t k) const {
    const doc::SubtitleDocument* d = m_document.data();
    const int row = m_order[k];
    const int64_t start = d->Start(row);
    if (d->HasEnd(row)) return d->End(row);
    int64_t end = start + kOpenEndMs;
    if (k + 1 < m_order.size()) end = std::min(end, std::max(start, d->Start(m_order[k + 1])));
    return end;
}

bool WaveformView::VisibleBoxes(int64_t fromMs, int64_t toMs, std::size_t limit,
                                std::vector<Box>& out) const {
    out.clear();
    EnsureIndex();
    const doc::SubtitleDocument* d = m_document.data();
    if (!d) return true;
    auto startBefore = [d](int32_t row, int64_t t) { return d->Start(row) < t; };
    // A cue in the index is at most kLongMs (or kOpenEndMs) long, so the
    // ones reaching into the range start no earlier than this.
    const auto first = std::lower_bound(m_order.begin(), m_order.end(), fromMs - kLongMs, startBefore);
    const auto last = std::lower_bound(first, m_order.end(), toMs, startBefore);
    if (static_cast<std::size_t>(last - first) > limit + 2 * static_cast<std::size_t>(kLongMs / 10)) {
        // Far more than can be drawn even counting the look-back.
        return false;
    }
    for (auto it = first; it != last; ++it) {
        const std::size_t k = static_cast<std::size_t>(it - m_order.begin());
        const int64_t end = ExtentEnd(k);
        const int64_t start = d->Start(*it);
        if (end < fromMs || (end == start && start < fromMs)) continue;
        out.push_back({*it, start, end, static_cast<int>(k % 2)});
        if (out.size() > limit) {
            out.clear();
            return false;
        }
    }
    for (int32_t row : m_long) {
        const int64_t start = d->Start(row);
        const int64_t end = std::max(start, d->End(row));
        if (start < toMs && end >= fromMs) {
            out.push_back({row, start, end, 1});
            if (out.size() > limit) {
                out.clear();
                return false;
            }
        }
    }
    // The dragged cue as it is shown now.
    if (m_drag.row >= 0) {
        for (Box& box : out) {
            if (box.row != m_drag.row) continue;
            box.start = m_drag.start;
            box.end = m_drag.hasEnd ? std::max(m_drag.start, m_drag.end) : box.end;
        }
    }
    return true;
}

bool WaveformView::Dense() const {
    EnsureIndex();
    const doc::SubtitleDocument* d = m_document.data();
    if (!d) return false;
    auto startBefore = [d](int32_t row, int64_t t) { return d->Start(row) < t; };
    const auto first = std::lower_bound(m_order.begin(), m_order.end(), m_start, startBefore);
    const auto last = std::lower_bound(first, m_order.end(), m_start + m_span, startBefore);
    return static_cast<double>(last - first) * kMinPixelsPerBox > std::max(width(), 1);
}

WaveformView::Hit WaveformView::HitEdge(double x) const {
    Hit best;
    // Too many boxes to tell apart: the user zooms in first.
    if (!m_document || Dense()) return best;
    const int64_t from = TimeAt(x - kEdgeGrip - 1), to = TimeAt(x + kEdgeGrip + 1);
    std::vector<Box> boxes;
    if (!VisibleBoxes(from, to, static_cast<std::size_t>(std::max(width(), 1)), boxes)) return best;
    double bestDistance = kEdgeGrip + 0.5;
    for (const Box& box : boxes) {
        const double ds = std::abs(XAt(box.start) - x);
        if (ds < bestDistance) {
            bestDistance = ds;
            best = {box.row, Edge::Start};
        }
        if (!m_document->HasEnd(box.row)) continue;
        const double de = std::abs(XAt(box.end) - x);
        // On a tie (a zero-length box, or two cues touching) the end wins
        // when the pointer is right of it, the start otherwise.
        if (de < bestDistance || (de == bestDistance && x >= XAt(box.end))) {
            bestDistance = de;
            best = {box.row, Edge::End};
        }
    }
    return best;
}

// ---- input ------------------------------------------------------------------

void WaveformView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    const double x = event->position().x();
    const Hit hit = HitEdge(x);
    if (hit.row >= 0 && m_document && m_document->ValidRow(hit.row)) {
        m_drag.row = hit.row;
        m_drag.edge = hit.edge;
        m_drag.start = m_document->Start(hit.row);
        m_drag.hasEnd = m_document->HasEnd(hit.row);
        m_drag.end = m_drag.hasEnd ? m_document->End(hit.row) : m_drag.start;
        m_drag.origin = hit.edge == Edge::Start ? m_drag.start : m_drag.end;
        update();
        return;
    }
    m_seeking = true;
    emit SeekRequested(std::max<int64_t>(0, TimeAt(x)));
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
    const double x = event->position().x();
    if (m_drag.row >= 0) {
        const int64_t t = std::max<int64_t>(0, TimeAt(x));
        // An edge stops at the other one: a drag never turns a cue round.
        if (m_drag.edge == Edge::Start)
            m_drag.start = m_drag.hasEnd ? std::min(t, m_drag.end) : t;
        else
            m_drag.end = std::max(t, m_drag.start);
        update();
        return;
    }
    if (m_seeking && (event->buttons() & Qt::LeftButton)) {
        emit SeekRequested(std::max<int64_t>(0, TimeAt(x)));
        return;
    }
    if (HitEdge(x).row >= 0) setCursor(Qt::SizeHorCursor);
    else unsetCursor();
}

void WaveformView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    m_seeking = false;
    if (m_drag.row < 0) return;
    const Drag drag = m_drag;
    m_drag = Drag{};
    doc::SubtitleDocument* d = m_document.data();
    if (!d || !d->ValidRow(drag.row)) return update();
    // One step for the whole drag; nothing when the edge came back.
    if (drag.edge == Edge::Start && drag.start != d->Start(drag.row)) d->SetStart(drag.row, drag.start);
    if (drag.edge == Edge::End && drag.end != d->End(drag.row)) d->SetEnd(drag.row, drag.end);
    update();
}

void WaveformView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && m_drag.row >= 0) {
        CancelDrag();
        return;
    }
    QWidget::keyPressEvent(event);
}

void WaveformView::leaveEvent(QEvent* event) {
    if (m_drag.row < 0) unsetCursor();
    QWidget::leaveEvent(event);
}

void WaveformView::wheelEvent(QWheelEvent* event) {
    const QPoint angle = event->angleDelta();
    const int delta = angle.y() != 0 ? angle.y() : angle.x();
    if (delta == 0) return event->ignore();
    const double notches = delta / 120.0;
    if (event->modifiers() & Qt::ControlModifier) {
        // Zoom around the pointer: the time under it stays under it.
        const double x = event->position().x();
        const double w = std::max(1, width());
        const double anchor = static_cast<double>(m_start) + x * static_cast<double>(m_span) / w;
        const double span = std::clamp(static_cast<double>(m_span) * std::pow(0.8, notches),
                                       static_cast<double>(kMinSpanMs), static_cast<double>(kMaxSpanMs));
        m_span = static_cast<int64_t>(std::llround(span));
        m_start = std::max<int64_t>(0, std::llround(anchor - x * span / w));
    } else {
        m_start -= static_cast<int64_t>(std::llround(notches * static_cast<double>(m_span) / 8));
        ClampStart();
    }
    event->accept();
    update();
}

// ---- painting ---------------------------------------------------------------

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = rect();
    painter.fillRect(area, kBackground);
    if (area.width() <= 0 || area.height() <= 0) return;
    // Everything below is opaque and pixel-aligned: translucent fills go
    // through Qt's threaded span blending, which costs more in thread
    // hand-offs than in pixels on a busy machine.
    std::vector<Box> boxes;
    bool boxed = false;
    if (m_document) {
        // The limit only guards against many long cues; Dense() decides.
        const auto limit = static_cast<std::size_t>(area.width()) * 4 + 64;
        boxed = !Dense() && VisibleBoxes(m_start, m_start + m_span, limit, boxes);
    }
    if (boxed) PaintBoxes(painter, area, boxes);
    PaintWaveform(painter, area);
    if (boxed) PaintCues(painter, area, boxes);
    else if (m_document) PaintCoverage(painter, area);
    if (m_playhead >= m_start && m_playhead <= m_start + m_span) {
        const int x = static_cast<int>(std::lround(XAt(m_playhead)));
        painter.fillRect(QRect(area.left() + x - 1, area.top(), 2, area.height()), kPlayhead);
    }
    PaintNote(painter, area);
}

void WaveformView::PaintWaveform(QPainter& painter, const QRect& area) const {
    const int w = area.width(), h = area.height();
    const double mid = area.top() + (h - 1) / 2.0;
    const double half = (h - 1) / 2.0;
    painter.fillRect(QRect(area.left(), static_cast<int>(mid), w, 1), kWavePending);
    if (!m_peaks) return;
    std::vector<media::Peak> columns;
    std::vector<bool> present;
    m_peaks->Envelope(m_start, m_start + m_span, w, columns, &present);
    for (int c = 0; c < w; ++c) {
        if (!present[static_cast<std::size_t>(c)]) continue;
        const media::Peak p = columns[static_cast<std::size_t>(c)];
        const int top = static_cast<int>(std::lround(mid - p.max * half / 32767.0));
        const int bottom = static_cast<int>(std::lround(mid - p.min * half / 32767.0));
        painter.fillRect(QRect(area.left() + c, top, 1, std::max(top, bottom) - top + 1), kWave);
    }
}

QRect WaveformView::BoxRect(const QRect& area, const Box& box) const {
    const int x0 = static_cast<int>(std::lround(std::clamp(XAt(box.start), -2.0, area.width() + 2.0)));
    const int x1 = static_cast<int>(std::lround(std::clamp(XAt(box.end), -2.0, area.width() + 2.0)));
    return QRect(area.left() + x0, area.top(), std::max(1, x1 - x0), area.height());
}

void WaveformView::PaintBoxes(QPainter& painter, const QRect& area, const std::vector<Box>& boxes) const {
    for (const Box& box : boxes)
        painter.fillRect(BoxRect(area, box), box.row == m_drag.row ? kDragFill : kBoxFill[box.lane]);
}

void WaveformView::PaintCues(QPainter& painter, const QRect& area, const std::vector<Box>& boxes) const {
    const QFontMetrics metrics(painter.font());
    const int lineHeight = metrics.height();
    // Cues that overlap in time write their texts on lines of their own, as
    // many as the view has room for (the lowest free line, by start), so
    // three cues showing together stay readable; with too few lines, the one
    // free soonest is shared.
    const int lines = std::max(1, (area.height() - 4) / std::max(1, lineHeight) - 1);
    std::vector<std::size_t> byStart(boxes.size());
    for (std::size_t k = 0; k < boxes.size(); ++k) byStart[k] = k;
    std::stable_sort(byStart.begin(), byStart.end(),
                     [&](std::size_t a, std::size_t b) { return boxes[a].start < boxes[b].start; });
    std::vector<int> lineOf(boxes.size(), 0);
    std::vector<int> lineFreeAt(static_cast<std::size_t>(lines), INT_MIN);
    for (std::size_t k : byStart) {
        const QRect r = BoxRect(area, boxes[k]);
        int pick = 0;
        for (int l = 0; l < lines; ++l) {
            if (lineFreeAt[static_cast<std::size_t>(l)] <= r.left()) {
                pick = l;
                break;
            }
            if (lineFreeAt[static_cast<std::size_t>(l)] < lineFreeAt[static_cast<std::size_t>(pick)]) pick = l;
        }
        lineOf[k] = pick;
        lineFreeAt[static_cast<std::size_t>(pick)] = r.right() + 1;
    }
    for (std::size_t k = 0; k < boxes.size(); ++k) {
        const Box& box = boxes[k];
        const QRect r = BoxRect(area, box);
        const bool dragged = box.row == m_drag.row;
        const int edge = dragged ? 2 : 1;
        const QColor color = dragged ? kDragEdge : kBoxEdge[box.lane];
        auto line = [&](int64_t ms) {
            const int x = static_cast<int>(std::lround(XAt(ms)));
            painter.fillRect(QRect(area.left() + x - (edge - 1), area.top(), edge, area.height()), color);
        };
        line(box.start);
        if (m_document->HasEnd(box.row)) line(box.end);
        const int textWidth = r.width() - 6;
        if (textWidth < 12 || area.height() < lineHeight) continue;
        const int y = area.top() + 2 + lineOf[k] * lineHeight;
        const QString text = metrics.elidedText(BoxText(m_document->Text(box.row)), Qt::ElideRight, textWidth);
        painter.setPen(kText);
        painter.drawText(QRect(r.left() + 3, y, textWidth, lineHeight), Qt::AlignLeft | Qt::AlignTop, text);
    }
}

void WaveformView::PaintCoverage(QPainter& painter, const QRect& area) const {
    // More cues than pixels: a strip marks the columns with a cue in them,
    // found per column by time (a few binary searches, whatever the count).
    const doc::SubtitleDocument* d = m_document.data();
    const int w = area.width();
    const int strip = std::max(2, std::min(8, area.height() / 6));
    auto startBefore = [d](int32_t row, int64_t t) { return d->Start(row) < t; };
    int runStart = -1;
    auto it = m_order.begin();
    for (int c = 0; c <= w; ++c) {
        bool covered = false;
        if (c < w) {
            const int64_t t0 = TimeAt(c), t1 = std::max(t0 + 1, TimeAt(c + 1));
            it = std::lower_bound(it, m_order.end(), t0, startBefore);
            covered = it != m_order.end() && d->Start(*it) < t1;
            if (!covered && it != m_order.begin()) {
                const std::size_t k = static_cast<std::size_t>(it - m_order.begin()) - 1;
                covered = ExtentEnd(k) > t0;
            }
        }
        if (covered && runStart < 0) runStart = c;
        if (!covered && runStart >= 0) {
            painter.fillRect(QRect(area.left() + runStart, area.bottom() - strip + 1, c - runStart, strip),
                             kBoxEdge[0]);
            runStart = -1;
        }
    }
    for (int32_t row : m_long) {
        const int x0 = static_cast<int>(std::max(0.0, XAt(d->Start(row))));
        const int x1 = static_cast<int>(std::min<double>(w, XAt(d->End(row))));
        if (x1 > x0) painter.fillRect(QRect(area.left() + x0, area.bottom() - strip + 1, x1 - x0, strip), kBoxEdge[1]);
    }
}

void WaveformView::PaintNote(QPainter& painter, const QRect& area) const {
    if (!m_peaks) return;
    const QString note = m_peaks->StatusText();
    if (note.isEmpty()) return;
    const QFontMetrics metrics(painter.font());
    const int width = metrics.horizontalAdvance(note) + 8;
    const QRect box(area.right() - width, area.top(), width, std::min(area.height(), metrics.height() + 2));
    painter.fillRect(box, QColor(0, 0, 0, 160));
    painter.setPen(kNote);
    painter.drawText(box, Qt::AlignCenter, note);
}

}  // namespace lumeval
