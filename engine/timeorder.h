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
/// start is earlier than one before it. Lines whose start does not begin
/// with a digit, or reads as no time, are passed over.
class TimeOrderScan {
public:
    /// The next bytes of the text; `last`: no more follow.
    void Feed(std::string_view bytes, bool last);
    bool InOrder() const { return m_inOrder; }
    /// Milliseconds of the first start read, and of the latest; -1 before any.
    double First() const { return m_first; }
    double Latest() const { return m_latest; }

private:
    void timeLine(std::string_view line, std::size_t arrow);

    // The start of a line that the piece before cut, up to kMaxHead bytes:
    // a time line's start is short, and a longer line's start is no time.
    static constexpr std::size_t kMaxHead = 64;
    std::string m_head;
    bool m_headDone = false;  // that line was read, or is too long to read
    double m_first = -1;
    double m_latest = -1;
    bool m_inOrder = true;
};

/// The cues at the start of a file's text (`skip` bytes of mark, then `size`
/// bytes) and those at its end, a piece's worth and a quarter of one, are in
/// time order, and those at the end start no earlier than those at the start.
/// A file no larger is looked at whole. False when it cannot be read.
bool EndsInTimeOrder(const std::string& path, std::uint64_t skip, std::uint64_t size,
                     std::size_t pieceBytes);

}  // namespace lumeval
