// The line table and the one way readers add to it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumeval {

using LineTable = std::vector<std::string>;

/// How long a cue lasts when nothing says otherwise: the window test of a
/// lone start, and the end writers give a cue that has none.
inline constexpr double kDefaultDurationMs = 5000;

/// Where a run's lines are windowed, shifted and re-based. Seconds.
struct TimingRules {
    double windowStart = 0;  ///< s_TimeStartPoint
    double windowEnd = 0;    ///< s_TimeEndPoint
    double offset = 0;       ///< s_TimeOffset
    int16_t splitMode = 0;   ///< 0: re-base windowed times to the window start
    /// Counts the lines left out because a time was beyond kMaxTimeMs (before
    /// or after the shift); may be null.
    std::size_t* refused = nullptr;
    /// Counts the lines left out because they lie wholly outside the window;
    /// may be null.
    std::size_t* outsideWindow = nullptr;
    /// A linear retiming of the source's own times, before the window and
    /// the offset: t * factor + shift (seconds). A subtitle timed for another
    /// frame rate or another cut.
    double factor = 1;
    double shift = 0;
};

/// Adds one entry for `span` ("start->end" or a lone start, any readable time
/// form) and `text`, applying offset, window and split mode. Empty spans,
/// zero-length spans and lines outside the window add nothing. A line the
/// shift moves wholly before 0 (its end at or before 0; a lone start counts
/// as lasting five seconds) is dropped; one that only starts before 0 starts
/// at 0. A time beyond kMaxTimeMs leaves the line out and counts it.
void AddTimedLine(LineTable& table, std::string_view span, std::string_view text,
                  const TimingRules& rules);

/// Appends `text` to the entry with the highest index, without a separator
/// (continuation lines). Before a run's first entry exists this lands in the
/// placeholder at index 0; an empty table gets nothing.
void AppendToLastEntry(LineTable& table, std::string_view text);

/// Ends an entry's text where a KSC entry carries its syllable durations
/// ("span|text\x1Fdurations"). Cue text never holds a control character (the
/// readers remove them), so any character of a cue's text, "|" included, is
/// text; only the time part ends at the first "|".
inline constexpr char kTimingSeparator = '\x1F';

/// Pieces of an entry "span|text" or "span|text\x1Frest".
struct EntryParts {
    std::string_view span;   ///< before the first "|" (whole entry when there is none)
    std::string_view text;   ///< after the first "|", up to kTimingSeparator
    bool hasBar = false;     ///< the entry holds a "|"
    bool hasArrow = false;   ///< the span holds "->"
    std::string_view start;  ///< span before "->" (the whole span without one)
    std::string_view end;    ///< span after "->" (empty without one)
};
EntryParts SplitEntry(std::string_view entry);

}  // namespace lumeval
