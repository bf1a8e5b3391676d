// SubtitleOverlay: the active document's subtitles drawn over the video
// picture. A transparent child laid over the picture (the mouse passes
// through to the window, whose routing handles clicks on the picture); it
// is painted whenever the picture is, asking the clock for the play
// position then, so the subtitles keep pace with every frame, and again
// whenever the document changes, so an edit shows at once while paused.
#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "media/subrender.h"

namespace lumeval::doc {
class SubtitleDocument;
}

namespace lumeval {

class SubtitleOverlay final : public QWidget {
  public:
    explicit SubtitleOverlay(QWidget* parent);

    /// Where the play position comes from (milliseconds).
    void SetClock(std::function<int64_t()> clock) { m_clock = std::move(clock); }
    /// Draws (and indexes) this document's cues from now on; null: none.
    /// Its styles are read from its file when it was read from SSA/ASS.
    void Follow(const doc::SubtitleDocument* d);
    const doc::SubtitleDocument* Followed() const { return m_doc; }
    /// The rows of the followed document showing at `ms` (found by time).
    std::vector<int> ShowingAt(int64_t ms) const;
    /// Hidden subtitles still index the cues (the playing row is found the
    /// same way); only the drawing stops.
    void SetSubtitlesShown(bool shown);
    bool SubtitlesShown() const { return m_shown; }
    /// Frames painted with subtitles on them (for tests and tools).
    int FramesDrawn() const { return m_drawn; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    /// Each cue drawn in its own style from the file (SSA/ASS events).
    void UseEventStyles();

    media::SubtitleRenderer m_renderer;
    std::function<int64_t()> m_clock;
    QPointer<const doc::SubtitleDocument> m_doc;
    std::vector<QMetaObject::Connection> m_watch;
    bool m_shown = true;
    int m_drawn = 0;
};

}  // namespace lumeval
