// WaveformView: a medium's audio over time, with the active document's
// cues as boxes on it, to time subtitles by.
//
// It draws the peaks of the visible time range (as far as they have been
// decoded; a note tells how far), the cues in that range as boxes carrying
// their text, and the playhead. A click seeks; dragging a box's left or
// right edge moves that cue's start or end, live while dragging and as one
// undoable step on release. Ctrl+wheel zooms around the pointer, the wheel
// scrolls; while playing the view keeps the playhead in sight.
//
// Cues are found by time through an index of rows ordered by start, rebuilt
// lazily after the document's edits (one pass when the rows already come in
// order), so painting never walks a million rows.
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

namespace lumeval::doc {
class SubtitleDocument;
}
namespace lumeval::media {
class WaveformPeaks;
}

namespace lumeval {

class WaveformView : public QWidget {
    Q_OBJECT

  public:
    explicit WaveformView(QWidget* parent = nullptr);
    ~WaveformView() override;

    /// The peaks to draw (null: none). Partial peaks are drawn as they come.
    void SetPeaks(std::shared_ptr<const media::WaveformPeaks> peaks);
    const std::shared_ptr<const media::WaveformPeaks>& Peaks() const { return m_peaks; }
    /// The cues to draw and edit (null: none). The view follows its signals.
    void SetDocument(doc::SubtitleDocument* document);
    doc::SubtitleDocument* Document() const;
    /// Where playback stands; while `playing` the view keeps it in sight.
    void SetPlayhead(int64_t ms, bool playing);
    int64_t Playhead() const { return m_playhead; }

    /// The visible range: its first ms and its length (at least kMinSpanMs).
    void SetVisibleRange(int64_t startMs, int64_t spanMs);
    int64_t ViewStart() const { return m_start; }
    int64_t ViewSpan() const { return m_span; }
    /// The time under x (widget pixels) and the x of a time.
    int64_t TimeAt(double x) const;
    double XAt(int64_t ms) const;

    static constexpr int64_t kMinSpanMs = 100;
    static constexpr int64_t kMaxSpanMs = 48LL * 3600 * 1000;
    /// How near (pixels) a box's edge must be to be taken for a drag.
    static constexpr int kEdgeGrip = 4;

    /// A drag in progress: the row and its times as shown (for tests).
    bool Dragging() const { return m_drag.row >= 0; }

    QSize sizeHint() const override { return {600, 120}; }
    QSize minimumSizeHint() const override { return {40, 8}; }

  signals:
    /// The user asked to play from `ms` (a click on the waveform).
    void SeekRequested(qint64 ms);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    /// A cue as drawn: its row and its extent (an absent end reaches to
    /// the next cue, at most kOpenEndMs).
    struct Box {
        int row;
        int64_t start;
        int64_t end;
        int lane;
    };
    enum class Edge { None, Start, End };
    struct Hit {
        int row = -1;
        Edge edge = Edge::None;
    };
    struct Drag {
        int row = -1;
        Edge edge = Edge::None;
        int64_t start = 0;  // the times as shown while dragging
        int64_t end = 0;
        int64_t origin = 0;  // the moved edge's time at the press
        bool hasEnd = true;
    };

    void DocumentChanged();
    void RowsInserted(int first, int last);
    void RowsRemoved(int first, int last);
    void TimesChanged(int first, int last, int firstColumn, int lastColumn);
    void CancelDrag();
    void EnsureIndex() const;
    /// Moves rows first..last to where their new times put them.
    void Reindex(int first, int last);
    /// The cues overlapping [fromMs, toMs), by time; false (and no boxes)
    /// when there are more than `limit`: then the view draws coverage only.
    bool VisibleBoxes(int64_t fromMs, int64_t toMs, std::size_t limit, std::vector<Box>& out) const;
    int64_t ExtentEnd(std::size_t orderIndex) const;
    /// More cues start in sight than can be drawn as boxes.
    bool Dense() const;
    Hit HitEdge(double x) const;
    int64_t KnownLengthMs() const;
    void ClampStart();
    void PollPeaks();

    QRect BoxRect(const QRect& area, const Box& box) const;
    void PaintWaveform(QPainter& painter, const QRect& area) const;
    void PaintBoxes(QPainter& painter, const QRect& area, const std::vector<Box>& boxes) const;
    void PaintCues(QPainter& painter, const QRect& area, const std::vector<Box>& boxes) const;
    void PaintCoverage(QPainter& painter, const QRect& area) const;
    void PaintNote(QPainter& painter, const QRect& area) const;

    std::shared_ptr<const media::WaveformPeaks> m_peaks;
    std::size_t m_peaksSeen = 0;
    QTimer m_poll;
    QPointer<doc::SubtitleDocument> m_document;
    std::vector<QMetaObject::Connection> m_links;

    // Rows by start time; long cues (and ones whose end is before their
    // start) apart, so a query only looks back kLongMs among the rest.
    mutable std::vector<int32_t> m_order;
    mutable std::vector<int32_t> m_long;
    mutable bool m_indexDirty = true;

    int64_t m_start = 0;
    int64_t m_span = 10'000;
    int64_t m_playhead = -1;
    bool m_playing = false;
    Drag m_drag;
    bool m_seeking = false;
};

}  // namespace lumeval
