#include "engine/linetable.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "engine/timecode.h"

namespace lumeval {

namespace {
// Blocks grow from small (a table of a few entries stays small) to this,
// which the allocator serves from its own large pages.
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
constexpr char kEmpty[] = "";
}  // namespace

LineTable::LineTable(std::size_t count) : m_index(count, std::string_view(kEmpty, 0)) {}

LineTable::LineTable(std::initializer_list<std::string_view> entries) {
    m_index.reserve(entries.size());
    for (const std::string_view e : entries) push_back(e);
}

LineTable::LineTable(const std::vector<std::string>& entries) {
    m_index.reserve(entries.size());
    for (const std::string& e : entries) push_back(e);
}

LineTable::LineTable(const LineTable& other) {
    m_index.reserve(other.size());
    for (const std::string_view e : other) push_back(e);
}

LineTable& LineTable::operator=(const LineTable& other) {
    if (this != &other) {
        LineTable copy(other);
        *this = std::move(copy);
    }
    return *this;
}

LineTable::LineTable(LineTable&& other) noexcept
    : m_index(std::move(other.m_index)),
      m_blocks(std::move(other.m_blocks)),
      m_block(std::exchange(other.m_block, nullptr)),
      m_blockSize(std::exchange(other.m_blockSize, 0)),
      m_free(std::exchange(other.m_free, nullptr)),
      m_left(std::exchange(other.m_left, 0)),
      m_next(std::exchange(other.m_next, 256)),
      m_held(std::exchange(other.m_held, 0)) {
    other.m_index.clear();
    other.m_blocks.clear();
}

LineTable& LineTable::operator=(LineTable&& other) noexcept {
    if (this != &other) {
        m_index = std::move(other.m_index);
        m_blocks = std::move(other.m_blocks);
        m_block = std::exchange(other.m_block, nullptr);
        m_blockSize = std::exchange(other.m_blockSize, 0);
        m_free = std::exchange(other.m_free, nullptr);
        m_left = std::exchange(other.m_left, 0);
        m_next = std::exchange(other.m_next, 256);
        m_held = std::exchange(other.m_held, 0);
        other.m_index.clear();
        other.m_blocks.clear();
    }
    return *this;
}

std::vector<std::string> LineTable::toVector() const {
    std::vector<std::string> out;
    out.reserve(size());
    for (const std::string_view e : m_index) out.emplace_back(e);
    return out;
}

void LineTable::resize(std::size_t entries) { m_index.resize(entries, std::string_view(kEmpty, 0)); }

void LineTable::clear() {
    m_index.clear();
    // The block entries were made in last, unless it held one large entry,
    // is used again.
    std::unique_ptr<char[]> keep;
    for (auto& block : m_blocks) {
        if (block.get() == m_block && m_blockSize <= kBlockBytes) keep = std::move(block);
    }
    m_blocks.clear();
    m_held = 0;
    m_free = nullptr;
    m_left = 0;
    if (keep) {
        m_free = m_block;
        m_left = m_blockSize;
        m_held = m_blockSize;
        m_blocks.push_back(std::move(keep));
    } else {
        m_block = nullptr;
        m_blockSize = 0;
    }
}

void LineTable::shrinkReusing(std::size_t count) {
    if (count >= size()) return;
    std::vector<std::string> kept;
    kept.reserve(count);
    for (std::size_t i = 0; i < count; ++i) kept.emplace_back(m_index[i]);
    clear();
    for (const std::string& e : kept) push_back(e);
}

char* LineTable::allocate(std::size_t bytes, std::size_t extra) {
    const std::size_t want = bytes + extra;
    if (want > m_left) {
        // An entry larger than a block gets a block of its own; the rest of
        // the current block stays in use for the entries that follow.
        std::size_t size = std::max(m_next, want);
        if (m_next < kBlockBytes) m_next = std::min(kBlockBytes, m_next * 4);
        auto block = std::make_unique_for_overwrite<char[]>(size);
        char* at = block.get();
        m_blocks.push_back(std::move(block));
        m_held += size;
        // The block with more room left goes on taking entries.
        if (size - bytes >= m_left) {
            m_block = at;
            m_blockSize = size;
            m_free = at + bytes;
            m_left = size - bytes;
        }
        return at;
    }
    char* at = m_free;
    m_free += bytes;
    m_left -= bytes;
    return at;
}

void LineTable::push_back(std::string_view entry) {
    if (entry.empty()) {
        m_index.emplace_back(kEmpty, 0);
        return;
    }
    // The view may be of this table's own memory, which stays where it is.
    char* at = allocate(entry.size());
    std::memcpy(at, entry.data(), entry.size());
    m_index.emplace_back(at, entry.size());
}

void LineTable::pushEntry(std::string_view span, std::string_view text) {
    const std::size_t n = span.size() + 1 + text.size();
    char* at = allocate(n);
    std::memcpy(at, span.data(), span.size());
    at[span.size()] = '|';
    if (!text.empty()) std::memcpy(at + span.size() + 1, text.data(), text.size());
    m_index.emplace_back(at, n);
}

void LineTable::set(std::size_t i, std::string_view entry) {
    if (entry.empty()) {
        m_index[i] = std::string_view(kEmpty, 0);
        return;
    }
    char* at = allocate(entry.size());
    std::memcpy(at, entry.data(), entry.size());
    m_index[i] = std::string_view(at, entry.size());
}

void LineTable::append(std::size_t i, std::string_view tail) {
    if (tail.empty()) return;
    const std::string_view e = m_index[i];
    // The entry made last, with room after it: it grows where it is.
    if (!e.empty() && e.data() + e.size() == m_free && tail.size() <= m_left) {
        std::memcpy(m_free, tail.data(), tail.size());
        m_free += tail.size();
        m_left -= tail.size();
        m_index[i] = std::string_view(e.data(), e.size() + tail.size());
        return;
    }
    // Moved, with as much room again after it, so that an entry appended to
    // many times is copied a logarithmic number of times, not each time.
    const std::size_t n = e.size() + tail.size();
    char* at = allocate(n, n);
    if (!e.empty()) std::memcpy(at, e.data(), e.size());
    std::memcpy(at + e.size(), tail.data(), tail.size());
    m_index[i] = std::string_view(at, n);
}

void LineTable::erase(std::size_t i) {
    m_index.erase(m_index.begin() + static_cast<std::ptrdiff_t>(i));
}

void LineTable::permute(std::size_t first, const std::vector<std::size_t>& order) {
    std::vector<std::string_view> moved;
    moved.reserve(order.size());
    for (const std::size_t k : order) moved.push_back(m_index[k]);
    std::copy(moved.begin(), moved.end(), m_index.begin() + static_cast<std::ptrdiff_t>(first));
}

TableSpan ReadTableSpan(std::string_view entry) {
    // Its times hold no "|" and no "-": the places found are the first ones.
    TableSpan span;
    const char* const d = entry.data();
    const std::size_t n = entry.size();
    std::size_t at = 0;
    const int64_t start = LeadingTableTimeMs(d, n, at);
    if (start < 0 || n <= at) return span;
    if (d[at] == '|') {
        span.bar = at;
        span.startMs = start;
        return span;
    }
    if (d[at] != '-' || n <= at + 1 || d[at + 1] != '>') return span;
    std::size_t length = 0;
    const std::size_t from = at + 2;
    const int64_t end = LeadingTableTimeMs(d + from, n - from, length);
    if (end < 0 || n <= from + length || d[from + length] != '|') return span;
    span.bar = from + length;
    span.arrow = at;
    span.startMs = start;
    span.endMs = end;
    return span;
}

EntryParts SplitEntry(std::string_view entry) {
    EntryParts p;
    // The table's own form is split at known places, its times read on the way.
    if (const TableSpan span = ReadTableSpan(entry); span.bar != 0) {
        p.hasBar = true;
        p.span = entry.substr(0, span.bar);
        p.startMs = span.startMs;
        if (span.arrow != 0) {
            p.hasArrow = true;
            p.start = p.span.substr(0, span.arrow);
            p.end = p.span.substr(span.arrow + 2);
            p.endMs = span.endMs;
        } else {
            p.start = p.span;
        }
        const std::string_view rest = entry.substr(span.bar + 1);
        p.text = rest.substr(0, rest.find(kTimingSeparator));
        return p;
    }
    const auto bar = entry.find('|');
    if (bar == std::string_view::npos) {
        p.span = entry;
    } else {
        p.hasBar = true;
        p.span = entry.substr(0, bar);
        std::string_view rest = entry.substr(bar + 1);
        const auto bar2 = rest.find(kTimingSeparator);
        p.text = bar2 == std::string_view::npos ? rest : rest.substr(0, bar2);
    }
    const auto arrow = p.span.find("->");
    if (arrow == std::string_view::npos) {
        p.start = p.span;
    } else {
        p.hasArrow = true;
        p.start = p.span.substr(0, arrow);
        p.end = p.span.substr(arrow + 2);
    }
    return p;
}

namespace {
// A time the table keeps as it stands: two or three hour digits checked
// inline, other widths by TableTimeMs.
bool inTableForm(std::string_view t) {
    std::size_t length = 0;
    return (LeadingTableTimeMs(t.data(), t.size(), length) >= 0 && length == t.size()) || TableTimeMs(t) >= 0;
}
}  // namespace

void AddTimedLine(LineTable& table, std::string_view span, std::string_view text,
                  const TimingRules& rules) {
    if (span.empty()) return;
    const auto arrow = span.find("->");
    const bool hasArrow = arrow != std::string_view::npos;

    // Nothing to shift or cut, and both times already in the table's form:
    // reading and writing them back gives the same text, so copy it.
    const bool retimed = rules.factor != 1 || rules.shift != 0;
    const bool identity = !retimed && rules.offset == 0 && !(rules.windowEnd - rules.windowStart > 0) &&
                          (rules.windowStart == 0 || rules.splitMode != 0);
    if (identity && hasArrow) {
        const std::string_view a = span.substr(0, arrow);
        const std::string_view b = span.substr(arrow + 2);
        if (inTableForm(a) && inTableForm(b)) {
            if (a == b) return;
            // The span is "a->b" already.
            table.pushEntry(span, text);
            return;
        }
    }
    if (identity && !hasArrow && inTableForm(span)) {  // a lyric's lone start
        table.pushEntry(span, text);
        return;
    }
    const auto refuse = [&rules] {
        if (rules.refused) ++*rules.refused;
    };
    const auto startSec = TimeToSecChecked(hasArrow ? span.substr(0, arrow) : span, true, ",");
    const auto endSec = hasArrow ? TimeToSecChecked(span.substr(arrow + 2), true, ",") : startSec;
    if (!startSec || !endSec) return refuse();
    const auto retime = [&rules](double t) { return t * rules.factor + rules.shift; };
    const double start = retime(*startSec);
    // A lone start gets five seconds for the window tests only; the entry keeps
    // no end. An end of 0 keeps meaning "no end" whatever the retiming.
    const double end = hasArrow ? (*endSec == 0 ? 0 : retime(*endSec)) : start + kDefaultDurationMs / 1000;
    if (start == end) return;

    const double S = rules.windowStart;
    const double E = rules.windowEnd;
    const double W = E - S;
    const double O = rules.offset * 1000;
    const bool windowed = W > 0;
    if (windowed && ((start < S && end < S) || (start > E && end > E))) {
        if (rules.outsideWindow) ++*rules.outsideWindow;
        return;
    }

    double newStart = 0;
    double newEnd = 0;
    const bool rebase = rules.splitMode == 0;
    if (windowed && start < S && end > E) {
        newStart = rebase ? 0 + O : S * 1000 + O;
        newEnd = rebase ? W * 1000 + O : E * 1000 + O;
    } else if (windowed && start < S) {
        newStart = rebase ? O : S * 1000 + O;
        newEnd = rebase ? (end - S) * 1000 + O : end * 1000 + O;
    } else if (windowed && end > E) {
        newStart = rebase ? (start - S) * 1000 + O : start * 1000 + O;
        newEnd = rebase ? W * 1000 + O : E * 1000 + O;
    } else {
        newStart = rebase ? (start - S) * 1000 + O : start * 1000 + O;
        newEnd = rebase ? (end - S) * 1000 + O : end * 1000 + O;
    }
    constexpr double kMax = static_cast<double>(kMaxTimeMs);
    if (!(std::fabs(newStart) <= kMax && std::fabs(newEnd) <= kMax)) return refuse();
    // Moved before 0: a line that ends there is gone (clamping both times to 0
    // would leave an end of 0, which means "no end", and a cue nobody wrote).
    // An end of 0 in the source itself keeps meaning "no end".
    const bool endGiven = !hasArrow || end != 0;
    if (endGiven && RoundHalfEven(newEnd) <= 0) return;
    if (newStart < 0) newStart = 0;

    std::string times;
    times.reserve(32);
    AppendTimeStyle0(times, newStart);
    if (hasArrow) {
        times += "->";
        AppendTimeStyle0(times, newEnd);
    }
    table.pushEntry(times, text);
}

void AppendToLastEntry(LineTable& table, std::string_view text) {
    if (!table.empty()) table.append(table.size() - 1, text);
}

}  // namespace lumeval
