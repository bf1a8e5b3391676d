// The arithmetic of the editor's row commands, as pure functions: reading
// a time the user typed, where a cue splits and how its time divides, the
// text of joined cues, and where an inserted cue goes. The document calls
// them; they know nothing of documents or windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumeval::doc {

/// A time typed into a start or end cell: milliseconds, or the reason it
/// cannot be read (a short Chinese sentence shown beside the cell).
struct TypedTime {
    std::optional<int64_t> ms;
    std::string error;
};

/// Reads "00:01:02,500", "1:02:03.5", "01:02,5", "1:02.5", "62.5", "62"
/// (hours:minutes:seconds, minutes:seconds or seconds, each of any width of
/// digits; "," or "." before a decimal fraction of a second of any width,
/// rounded to milliseconds, halves to even; blanks around the text, the
/// ideographic space included, ignored). Minutes and seconds after the first
/// field must be below 60. Empty text, letters, a sign, blanks inside, more
/// than three fields, an empty field or fraction ("1::2", ":30", "62."), a
/// time beyond 999:59:59.999 after rounding, or more than 64 bytes are refused,
/// and the reason never quotes more than those 64 bytes.
TypedTime ParseTypedTime(std::string_view text);

/// Where the focused cue splits when no text cursor says so: a byte offset
/// into `text` (UTF-8, "\N" for line breaks). The place nearest the middle
/// of the text counted in code points that is either a "\N", a space, or a
/// boundary between two CJK characters (or a CJK character and anything).
/// A space or "\N" is measured from its centre and its offset is where it
/// starts; of two places equally near, a "\N" wins, then the earlier one.
/// A place counts only with text (neither spaces nor "\N") on both sides, so
/// neither part of the split is empty; 0 when the text has no such place.
/// A byte that is not well-formed UTF-8 counts as one code point.
std::size_t SplitPoint(std::string_view text);

struct SplitParts {
    std::string first;   ///< text before the split, spaces and "\N" at the cut removed
    std::string second;  ///< text after it, spaces and "\N" at the cut removed
    int64_t at = 0;      ///< where the first part ends and the second starts
};

/// Splits a cue at byte offset `pos` of its text (clamped to the text,
/// moved back to a code point boundary, and to before a "\N" it falls in;
/// a line break at the cut becomes the split itself). The time divides in
/// proportion to the code points of the two parts returned (at = start +
/// (end - start) * n1 / (n1 + n2), rounded down; the middle when both are
/// empty). An end before the start divides nothing: at = start.
SplitParts SplitCue(int64_t start, int64_t end, std::string_view text, std::size_t pos);

/// The texts of joined cues: each trimmed of spaces, empty ones skipped,
/// joined by "\N".
std::string JoinTexts(const std::vector<std::string_view>& texts);

/// The times of a cue inserted after one that ends at `previousEnd`, with
/// the next cue starting at `nextStart` (nullopt when there is none): it
/// starts at previousEnd and lasts 2000 ms or until nextStart, whichever
/// comes first; when nextStart is not after previousEnd it lasts 2000 ms.
struct InsertTimes {
    int64_t start = 0;
    int64_t end = 0;
};
InsertTimes TimesAfter(int64_t previousEnd, std::optional<int64_t> nextStart);

/// The times of a cue inserted before one that starts at `nextStart`, with
/// the previous cue ending at `previousEnd` (nullopt when there is none):
/// it ends at nextStart and starts 2000 ms earlier or at previousEnd,
/// whichever is later, never below 0.
InsertTimes TimesBefore(int64_t nextStart, std::optional<int64_t> previousEnd);

}  // namespace lumeval::doc
