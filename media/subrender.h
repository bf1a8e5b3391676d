// SubtitleRenderer: draws a document's cues at a play position with libass,
// as an overlay for the video picture. Window-free: it hands back images.
//
// How the cues reach libass. libass wants its events in an ASS_Track, and a
// document may hold a million cues; adding them all to a track costs hundreds
// of milliseconds and a copy of every text, and libass looks at every event
// of the track on every frame. So the track holds only the cues showing at
// the last rendered time. The renderer keeps its own index of the cues'
// times (sorted by start, with a max-end tree over it) and asks it which
// cues cover a time: O((k + 1) log n) for k hits, never a scan. When that set
// or any cue changed since the last frame, the track's events are flushed
// and the few showing cues are added again (their texts read from the
// document then); otherwise the track is rendered as it is. libass keeps
// its glyph and bitmap caches across that, so re-adding costs microseconds.
//
// Edits: a text edit only marks the picture stale. A time edit moves one
// entry inside the index (cost: the distance it moves). Inserting or
// removing rows renumbers the rows after them (one pass over the index, as
// the document itself moves its rows); a change of many rows at once
// rebuilds the index (about 0.1 s for a million cues, as a load does).
//
// Text: cues of SSA/ASS documents go to libass as written (override tags,
// "\N"). Cues of other formats are made literal: "{" and "}" are escaped,
// a backslash other than "\N" cannot start a code, and the SubRip/HTML tags
// <i> <b> <u> <s> and <font color> become the matching ASS overrides (other
// <font> attributes are dropped). Override values that cost libass seconds
// when enormous (\fs, \fscx, \blur, \bord and kin) are held to bounds
// first. A cue without an end shows until the next
// later start (the last one until the end of the medium).
#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QObject;

namespace lumeval::doc {
class SubtitleDocument;
}

namespace lumeval::media {

class SubtitleRenderer {
  public:
    /// One libass library and renderer; fonts come through fontconfig, with
    /// "WenQuanYi Micro Hei" as the fallback family (it has Chinese glyphs).
    SubtitleRenderer();
    ~SubtitleRenderer();
    SubtitleRenderer(const SubtitleRenderer&) = delete;
    SubtitleRenderer& operator=(const SubtitleRenderer&) = delete;

    /// False when libass could not be set up (then nothing is ever drawn).
    bool Ready() const;

    /// The script's head (script info, styles: everything before its
    /// [Events]), or empty for the default look (white text, dark outline,
    /// bottom centre). The play resolution is the head's (libass assumes
    /// 384x288 when it names none). Cues use the head's "Default" style, else its
    /// first one, unless SetCueStyles names theirs ("{\r<name>}" picks
    /// another too).
    void SetHeader(std::string_view scriptHeader);
    /// Everything of an SSA/ASS file's text before its "[Events]" line (all
    /// of it when it has none).
    static std::string HeaderOf(std::string_view scriptText);
    /// The head for a document: read from its file when its format is "ssa"
    /// or "ass" (text as UTF-8, UTF-16 with a mark, or the code page it was
    /// read with), else empty.
    static std::string HeaderFor(const doc::SubtitleDocument& d);

    /// Each cue's own style, by row (empty: the head's default). The
    /// document keeps no style per cue; a caller that knows them from the
    /// file (an SSA/ASS event's Style field) gives them here.
    void SetCueStyles(std::function<std::string(int row)> styleOf);
    /// The Style field of every "Dialogue:" event of an SSA/ASS script, in
    /// file order (the Format line says which field it is).
    static std::vector<std::string> EventStylesOf(std::string_view scriptText);
    /// The same for a document's file when its format is "ssa" or "ass"
    /// (empty otherwise, or for a file over 64 MiB).
    static std::vector<std::string> EventStylesFor(const doc::SubtitleDocument& d);

    /// Takes the document's cues (a load or a reset): texts of an "ssa" or
    /// "ass" document as ASS text, of any other as plain text. The document must stay
    /// alive while it is set (Clear() or another SetCues() lets it go); its
    /// texts are read when a cue comes on screen.
    void SetCues(const doc::SubtitleDocument& d);
    /// As SetCues, then follows the document's own change signals (rows
    /// inserted, removed, cells changed, reset) until Clear(), another
    /// Follow() or the document's end: the picture follows every edit.
    void Follow(const doc::SubtitleDocument& d);
    /// No document: nothing is drawn.
    void Clear();

    /// Rows first..last changed; `times` when their start or end did (else
    /// only their texts).
    void CuesChanged(int first, int last, bool times);
    /// Rows first..last are new (the rows from first on moved down).
    void CuesInserted(int first, int last);
    /// Rows first..last (in the numbering before) are gone.
    void CuesRemoved(int first, int last);

    /// The rows showing at `ms`, in row order.
    std::vector<int> ShowingAt(int64_t ms) const;

    /// The subtitles at `ms` on a frame of `size`: premultiplied ARGB images
    /// of their bounding boxes and where they go on the frame, one per band
    /// of lines that do not overlap vertically (a top and a bottom line are
    /// two small images, not one the size of the frame). None when nothing
    /// shows. `changed` is false when the picture is the same as the last
    /// call's (same size), so the caller may keep what it drew.
    struct Piece {
        QImage image;
        QPoint at;
    };
    struct Overlay {
        std::vector<Piece> pieces;
        bool changed = true;
        bool Empty() const { return pieces.empty(); }
    };
    Overlay RenderOverlay(int64_t ms, QSize size);
    /// The same as a whole-frame image: transparent where no subtitle; a
    /// null image when nothing shows.
    QImage Render(int64_t ms, QSize size, bool* changed = nullptr);

    /// Texts longer than this (bytes) are cut: libass lays a line out whole,
    /// and a runaway cue must not stall the picture.
    static constexpr std::size_t kMaxTextBytes = 16 * 1024;
    /// At most this many cues are drawn at once (the first rows).
    static constexpr std::size_t kMaxShowing = 64;

  private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

/// The cue text of a non-ASS document as ASS text (see above).
std::string PlainToAss(std::string_view text);

}  // namespace lumeval::media
