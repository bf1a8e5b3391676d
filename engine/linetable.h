// The line table and the one way readers add to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumeval {

/// A run's entries ("span|text" each, index 0 the placeholder). Their texts
/// lie one after another in large blocks instead of one allocation each: a
/// table of 200,000 cues is a quarter smaller, made without 200,000 calls to
/// the allocator and freed without 200,000 more. An entry is read as a view,
/// which stays valid until that entry is changed or the table is gone (blocks
/// never move); entries are changed through the table.
class LineTable {
public:
    LineTable() = default;
    /// `count` empty entries.
    explicit LineTable(std::size_t count);
    LineTable(std::initializer_list<std::string_view> entries);
    explicit LineTable(const std::vector<std::string>& entries);
    LineTable(const LineTable& other);
    LineTable& operator=(const LineTable& other);
    /// The moved-from table is left empty (its blocks went with the move).
    LineTable(LineTable&& other) noexcept;
    LineTable& operator=(LineTable&& other) noexcept;
    ~LineTable() = default;

    std::vector<std::string> toVector() const;
    /// Bytes of the blocks the entries' texts lie in (texts replaced or
    /// dropped included: their memory goes with the table).
    std::size_t heldBytes() const { return m_held; }

    std::size_t size() const { return m_index.size(); }
    bool empty() const { return m_index.empty(); }
    // Const views: `table[i] = x` must not compile as an assignment to a copy.
    const std::string_view operator[](std::size_t i) const { return m_index[i]; }
    const std::string_view front() const { return m_index.front(); }
    const std::string_view back() const { return m_index.back(); }

    using const_iterator = std::vector<std::string_view>::const_iterator;
    const_iterator begin() const { return m_index.begin(); }
    const_iterator end() const { return m_index.end(); }

    void reserve(std::size_t entries) { m_index.reserve(entries); }
    /// Entries added at the end are empty.
    void resize(std::size_t entries);
    /// No entries; the memory of the latest block is kept for the next.
    void clear();
    /// Keeps the first `count` entries, and only the memory they need: for
    /// a table filled and emptied again and again (every other view of its
    /// entries is invalid after it).
    void shrinkReusing(std::size_t count);
    void push_back(std::string_view entry);
    /// Adds "span|text" without putting it together first.
    void pushEntry(std::string_view span, std::string_view text);
    /// Entry i becomes `entry` (which may be a view of any entry).
    void set(std::size_t i, std::string_view entry);
    /// Appends `tail` to entry i; growing the last entry made is done in
    /// place, and one that moves gets room to grow again.
    void append(std::size_t i, std::string_view tail);
    /// Entry `to` becomes entry `from`, without a copy (entry `from` is left
    /// as it was: the caller overwrites or drops it).
    void moveEntry(std::size_t to, std::size_t from) { m_index[to] = m_index[from]; }
    void swapEntries(std::size_t i, std::size_t j) { std::swap(m_index[i], m_index[j]); }
    void erase(std::size_t i);
    /// Entries first..first+order.size()-1 put in the order `order` gives
    /// (indices of the entries that go there).
    void permute(std::size_t first, const std::vector<std::size_t>& order);

    friend bool operator==(const LineTable& a, const LineTable& b) { return a.m_index == b.m_index; }

private:
    // Room for `bytes` at the free end of the blocks (a new block when the
    // current one is full); `extra` more is reserved after it.
    char* allocate(std::size_t bytes, std::size_t extra = 0);

    std::vector<std::string_view> m_index;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char* m_block = nullptr;   // the block entries are made in now
    std::size_t m_blockSize = 0;
    char* m_free = nullptr;    // its first free byte
    std::size_t m_left = 0;    // free bytes left there
    std::size_t m_next = 256;  // size of the next block: grows to kBlockBytes
    std::size_t m_held = 0;
};

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
    /// Milliseconds of `start` and `end` when they are in the table's form
    /// with two or three hour digits and were read while splitting; -1 when
    /// not read (they may still be times).
    int64_t startMs = -1;
    int64_t endMs = -1;
};
EntryParts SplitEntry(std::string_view entry);

/// The span at the start of an entry in the table's own form,
/// "HH:MM:SS,mmm->HH:MM:SS,mmm|" or "HH:MM:SS,mmm|" (hours of three digits
/// too), read in place without searching: `bar` is the place of its "|"
/// (0 when the entry does not start so), `arrow` that of its "->" (0
/// without one), and the times in milliseconds (`endMs` -1 without an end).
struct TableSpan {
    std::size_t bar = 0;
    std::size_t arrow = 0;
    int64_t startMs = -1;
    int64_t endMs = -1;
};
TableSpan ReadTableSpan(std::string_view entry);

}  // namespace lumeval
