// Whether a SubRip or WebVTT text lists its cues in time order, told from its
// bytes in any pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lumeval {

/// Every line holding "-->" is a time line; its start (the text before the
/// arrow) is read as the readers read it. The text is in time order when no
/// start is earlier than one more than kSlack time lines before it: a cue a
/// little out of order (two speakers, the second starting first) is common
/// and harms nothing. Lines whose start does not begin with a digit, or
/// reads as no time, are passed over.
class TimeOrderScan {
public:
    static constexpr std::size_t kSlack = 64;

    /// The next bytes of the text; `last`: no more follow.
    void Feed(std::string_view bytes, bool last);
    bool InOrder() const { return m_inOrder; }
    /// Milliseconds of the earliest start read, and of the latest; -1 before any.
    double Earliest() const { return m_earliest; }
    double Latest() const { return m_latest; }

private:
    void timeLine(std::string_view line, std::size_t arrow);

    // The start of a line that the piece before cut, up to kMaxHead bytes:
    // a time line's start is short, and a longer line's start is no time.
    static constexpr std::size_t kMaxHead = 64;
    // Held in place, not on the heap: the survey that feeds the scan runs on
    // a thread of its own, whose first allocation would cost a fresh page.
    char m_head[2 * (kMaxHead + 1)] = {};
    std::size_t m_headSize = 0;
    bool m_headDone = false;  // that line was read, or is too long to read
    double m_recent[kSlack] = {};  // the last starts read, a ring
    std::size_t m_count = 0;       // starts read
    double m_behind = -1;          // the latest start more than kSlack lines back
    double m_earliest = -1;
    double m_latest = -1;
    bool m_inOrder = true;
};

/// The cues at the start of a file's text (`skip` bytes of mark, then `size`
/// bytes) and those at its end, a piece's worth and a quarter of one, are in
/// time order, and those at the end start no earlier than any at the start.
/// A file no larger is looked at whole. False when it cannot be read.
bool EndsInTimeOrder(const std::string& path, std::uint64_t skip, std::uint64_t size,
                     std::size_t pieceBytes);

}  // namespace lumeval
