// Quality checks of a document: cues that overlap, flash by or stay too
// long, follow each other too closely, are too fast to read, have lines too
// long or too many, or say nothing. The checker is attached to one document
// and keeps its findings current after every edit by re-checking only the
// rows an edit can affect: a cue's problems depend on itself and on the
// start of the cue after it, nothing else.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "document/document.h"

namespace lumeval::doc {

enum class CheckKind : uint8_t {
    Overlap,         ///< the next cue starts before this one ends
    EndBeforeStart,  ///< the end lies before the start
    TooShort,        ///< shown for less than the minimum duration
    TooLong,         ///< shown for more than the maximum duration
    GapTooShort,     ///< the next cue follows too closely (not overlapping)
    TooFast,         ///< more characters a second than can be read
    LineTooLong,     ///< a line wider than the limit
    TooManyLines,    ///< more lines than the limit
    Empty,           ///< nothing but spaces, tags and line breaks
};
inline constexpr int kCheckKinds = 9;

/// A set of kinds, one bit each (bit k for CheckKind k): a row's marks.
using ProblemMask = uint16_t;
constexpr ProblemMask MaskOf(CheckKind kind) { return static_cast<ProblemMask>(1u << static_cast<unsigned>(kind)); }
inline constexpr ProblemMask kAllProblems = (1u << kCheckKinds) - 1;
/// The kinds Fix and FixAll can repair.
inline constexpr ProblemMask kFixableProblems = MaskOf(CheckKind::Overlap) | MaskOf(CheckKind::EndBeforeStart) |
                                                MaskOf(CheckKind::TooShort) | MaskOf(CheckKind::Empty);

/// The limits the checks hold cues to (the user's settings).
struct CheckLimits {
    int64_t minDurationMs = 700;    ///< shorter is too short
    int64_t maxDurationMs = 7000;   ///< longer is too long
    int64_t minGapMs = 100;         ///< a smaller gap to the next cue is too short; fixes leave this much
    double maxCharsPerSecond = 15;  ///< faster is too fast
    int maxLineWidth = 42;          ///< wider is too long (CJK characters count two)
    int maxLines = 2;               ///< more is too many
    friend bool operator==(const CheckLimits&, const CheckLimits&) = default;
};

/// What the checks read from a cue's text. Tags ("{...}", "<...>") count
/// nothing; "\N" breaks lines and counts nothing; every other character,
/// spaces included, counts one (a byte that is not UTF-8 counts one too).
struct TextMeasure {
    int64_t characters = 0;  ///< for the reading speed
    int64_t widestLine = 0;  ///< in columns: CJK and full-width characters count two
    int64_t lines = 1;       ///< "\N" + 1
    bool blank = true;       ///< nothing but spaces, tags and line breaks
};
TextMeasure MeasureText(std::string_view text);

/// The problems of one cue given the start of the cue after it (nullopt for
/// the last). A cue without an end lasts until the next starts; the last
/// one's duration and reading speed are not checked.
ProblemMask CheckCue(int64_t start, int64_t end, std::optional<int64_t> nextStart, const TextMeasure& text,
                     const CheckLimits& limits);

/// One finding, as the panel lists it (its row and time texts are the
/// panel's own).
struct Problem {
    int row = 0;
    CheckKind kind = CheckKind::Overlap;
    QString text;
};

class DocumentChecks : public QObject {
    Q_OBJECT

  public:
    /// Checks every row of `doc` now, then follows its changes.
    explicit DocumentChecks(SubtitleDocument* doc, CheckLimits limits = {}, QObject* parent = nullptr);

    SubtitleDocument* Document() const { return m_doc; }
    const CheckLimits& Limits() const { return m_limits; }
    /// New limits: every row is checked again.
    void SetLimits(const CheckLimits& limits);

    /// The marks of a row (0 for a row that does not exist).
    ProblemMask ProblemsOf(int row) const {
        return row >= 0 && static_cast<std::size_t>(row) < m_masks.size() ? m_masks[static_cast<std::size_t>(row)] : 0;
    }
    /// How many rows have the problem.
    int64_t CountOf(CheckKind kind) const { return m_counts[static_cast<std::size_t>(kind)]; }
    /// All findings counted, a row with two problems twice.
    int64_t Total() const;
    /// The findings of the given kinds in row order (a row's in kind order).
    std::vector<Problem> Problems(ProblemMask kinds = kAllProblems) const;
    /// The first row at or after `from` with any of the kinds, or -1.
    int NextRowWith(int from, ProblemMask kinds = kAllProblems) const;

    /// The panel's sentence for a kind.
    static QString Message(CheckKind kind);

    /// Repairs one finding as one undoable step: an overlap ends the cue the
    /// minimum gap before the next starts; an end before the start is
    /// swapped with it; a cue too short is lengthened to the minimum
    /// duration or to the minimum gap before the next, whichever is less;
    /// an empty cue is removed. False when the row does not have that
    /// problem or it cannot be repaired that way (the next cue starts
    /// before this one, no room to lengthen, a cue without an end).
    bool Fix(int row, CheckKind kind);
    /// Repairs every finding of the given kinds as one undoable step; the
    /// number of rows changed or removed (0: nothing, no step).
    int FixAll(ProblemMask kinds = kFixableProblems);

  signals:
    /// The findings changed. Rows first..last (present numbering) may have
    /// new marks; after rows went away the range may be empty (first >
    /// last) when only the departed rows had marks. Rows that moved with an
    /// insert or a removal are not named: the document's own signals say so.
    void ProblemsChanged(int first, int last);

  private:
    void CheckAll();
    /// Re-checks rows first..last (clipped); true when a mark changed.
    bool Recheck(int first, int last);
    ProblemMask Compute(int row) const;
    void Count(ProblemMask mask, int sign);
    bool InSync() const { return m_doc && m_masks.size() == static_cast<std::size_t>(m_doc->Count()); }

    void OnInserted(int first, int last);
    void OnRemoved(int first, int last);
    void OnCellsChanged(int first, int last, int firstColumn, int lastColumn);

    // The repairs as time changes or rows to remove, from the present state.
    std::optional<SubtitleDocument::TimeChange> Repair(int row, CheckKind kind) const;
    int FixTimes(CheckKind kind, const QString& step);

    QPointer<SubtitleDocument> m_doc;
    CheckLimits m_limits;
    // One mask per row, following the document's inserts and removals; the
    // lists are derived from it when asked.
    std::vector<ProblemMask> m_masks;
    std::array<int64_t, kCheckKinds> m_counts{};
};

}  // namespace lumeval::doc
