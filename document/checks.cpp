#include "document/checks.h"

#include <algorithm>
#include <limits>

namespace lumeval::doc {

namespace {

constexpr int64_t kMost = std::numeric_limits<int64_t>::max();
constexpr int64_t kLeast = std::numeric_limits<int64_t>::min();

// Times come from files as they are: arithmetic on them must not overflow.
int64_t Minus(int64_t a, int64_t b) {
    int64_t r = 0;
    if (__builtin_sub_overflow(a, b, &r)) return b < 0 ? kMost : kLeast;
    return r;
}
int64_t Plus(int64_t a, int64_t b) {
    int64_t r = 0;
    if (__builtin_add_overflow(a, b, &r)) return b < 0 ? kLeast : kMost;
    return r;
}

// One code point at the start of `s` (non-empty); a byte that does not
// begin a well-formed sequence is a code point of its own.
char32_t Decode(std::string_view s, std::size_t& length) {
    const auto b = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = b(0);
    length = 1;
    if (lead < 0x80) return lead;
    std::size_t n = 0;
    if (lead >= 0xC2 && lead < 0xE0) {
        n = 2;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        n = 3;
    } else if (lead >= 0xF0 && lead < 0xF5) {
        n = 4;
    } else {
        return 0xFFFD;
    }
    if (s.size() < n) return 0xFFFD;
    char32_t v = lead & (0xFF >> (n + 1));
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0xFFFD;
        v = (v << 6) | (b(i) & 0x3F);
    }
    length = n;
    return v;
}

// Characters a screen shows two columns wide: CJK ideographs, kana, hangul,
// their punctuation and the full-width forms.
bool IsWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3040 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF01 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

bool IsBlank(char32_t c) {
    return c <= 0x20 || c == 0x7F || c == 0xA0 || c == 0x3000 || c == 0x200B || c == 0xFEFF;
}

}  // namespace

TextMeasure MeasureText(std::string_view text) {
    TextMeasure m;
    int64_t line = 0;
    // Once a kind of tag has no closing mark left, every later opening mark
    // of that kind is text: each search runs at most once past the end.
    bool curlyCloses = true, angleCloses = true;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if ((c == '{' && curlyCloses) || (c == '<' && angleCloses)) {
            const std::size_t close = text.find(c == '{' ? '}' : '>', i + 1);
            if (close != std::string_view::npos) {
                i = close + 1;
                continue;
            }
            (c == '{' ? curlyCloses : angleCloses) = false;
        }
        if (c == '\\' && i + 1 < text.size() && text[i + 1] == 'N') {
            m.widestLine = std::max(m.widestLine, line);
            line = 0;
            ++m.lines;
            i += 2;
            continue;
        }
        std::size_t length = 1;
        const char32_t cp = Decode(text.substr(i), length);
        ++m.characters;
        line += IsWide(cp) ? 2 : 1;
        if (!IsBlank(cp)) m.blank = false;
        i += length;
    }
    m.widestLine = std::max(m.widestLine, line);
    return m;
}

ProblemMask CheckCue(int64_t start, int64_t end, std::optional<int64_t> nextStart, const TextMeasure& text,
                     const CheckLimits& limits) {
    ProblemMask mask = 0;
    const auto add = [&mask](CheckKind k) { mask |= MaskOf(k); };
    const bool hasEnd = end != kNoEnd;
    // An end before the start says nothing about overlaps, gaps or
    // durations until it is put right.
    if (hasEnd && end < start) {
        add(CheckKind::EndBeforeStart);
    } else {
        if (hasEnd && nextStart) {
            if (*nextStart < end) {
                add(CheckKind::Overlap);
            } else if (Minus(*nextStart, end) < limits.minGapMs) {
                add(CheckKind::GapTooShort);
            }
        }
        // A cue without an end is shown until the next starts.
        std::optional<int64_t> shownUntil;
        if (hasEnd) {
            shownUntil = end;
        } else if (nextStart && *nextStart >= start) {
            shownUntil = nextStart;
        }
        if (shownUntil) {
            const int64_t duration = Minus(*shownUntil, start);
            if (duration < limits.minDurationMs) add(CheckKind::TooShort);
            if (duration > limits.maxDurationMs) add(CheckKind::TooLong);
            if (text.characters > 0 && static_cast<double>(text.characters) * 1000.0 >
                                           limits.maxCharsPerSecond * static_cast<double>(duration))
                add(CheckKind::TooFast);
        }
    }
    if (text.blank) {
        add(CheckKind::Empty);
    } else {
        if (text.widestLine > limits.maxLineWidth) add(CheckKind::LineTooLong);
        if (text.lines > limits.maxLines) add(CheckKind::TooManyLines);
    }
    return mask;
}

// ---- the checker -----------------------------------------------------------------

DocumentChecks::DocumentChecks(SubtitleDocument* doc, CheckLimits limits, QObject* parent)
    : QObject(parent), m_doc(doc), m_limits(limits) {
    if (!doc) return;
    connect(doc, &SubtitleDocument::RowsInserted, this, &DocumentChecks::OnInserted);
    connect(doc, &SubtitleDocument::RowsRemoved, this, &DocumentChecks::OnRemoved);
    connect(doc, &SubtitleDocument::CellsChanged, this, &DocumentChecks::OnCellsChanged);
    connect(doc, &SubtitleDocument::ResetDone, this, [this] {
        CheckAll();
        emit ProblemsChanged(0, static_cast<int>(m_masks.size()) - 1);
    });
    connect(doc, &QObject::destroyed, this, [this] {
        m_masks.clear();
        m_counts.fill(0);
    });
    CheckAll();
}

void DocumentChecks::SetLimits(const CheckLimits& limits) {
    if (limits == m_limits) return;
    m_limits = limits;
    CheckAll();
    emit ProblemsChanged(0, static_cast<int>(m_masks.size()) - 1);
}

int64_t DocumentChecks::Total() const {
    int64_t total = 0;
    for (int64_t c : m_counts) total += c;
    return total;
}

ProblemMask DocumentChecks::Compute(int row) const {
    std::optional<int64_t> next;
    if (row + 1 < m_doc->Count()) next = m_doc->Start(row + 1);
    return CheckCue(m_doc->Start(row), m_doc->End(row), next, MeasureText(m_doc->Text(row)), m_limits);
}

void DocumentChecks::Count(ProblemMask mask, int sign) {
    for (int k = 0; mask; ++k, mask >>= 1)
        if (mask & 1) m_counts[static_cast<std::size_t>(k)] += sign;
}

void DocumentChecks::CheckAll() {
    m_counts.fill(0);
    if (!m_doc || m_doc->Loading()) {
        m_masks.clear();
        return;
    }
    const int n = m_doc->Count();
    // Room to grow, as the document keeps: the first insert then moves the
    // marks instead of copying them to new, untouched memory.
    const std::size_t room = static_cast<std::size_t>(n) + static_cast<std::size_t>(n) / 8 + 64;
    if (m_masks.capacity() < room) {
        std::vector<ProblemMask>().swap(m_masks);
        m_masks.reserve(room);
    }
    m_masks.assign(static_cast<std::size_t>(n), 0);
    for (int row = 0; row < n; ++row) {
        const ProblemMask mask = Compute(row);
        m_masks[static_cast<std::size_t>(row)] = mask;
        Count(mask, 1);
    }
}

bool DocumentChecks::Recheck(int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, static_cast<int>(m_masks.size()) - 1);
    bool changed = false;
    for (int row = first; row <= last; ++row) {
        ProblemMask& mask = m_masks[static_cast<std::size_t>(row)];
        const ProblemMask now = Compute(row);
        if (now == mask) continue;
        Count(mask, -1);
        Count(now, 1);
        mask = now;
        changed = true;
    }
    return changed;
}

// A row's marks depend on the row and on the start of the row after it, so
// a change to rows first..last re-checks them and the row before.

void DocumentChecks::OnInserted(int first, int last) {
    const std::size_t n = static_cast<std::size_t>(last - first + 1);
    if (!m_doc || m_masks.size() + n != static_cast<std::size_t>(m_doc->Count()) || first < 0 ||
        static_cast<std::size_t>(first) > m_masks.size()) {
        CheckAll();
        emit ProblemsChanged(0, static_cast<int>(m_masks.size()) - 1);
        return;
    }
    m_masks.insert(m_masks.begin() + first, n, ProblemMask{0});
    Recheck(first - 1, last);
    emit ProblemsChanged(std::max(first - 1, 0), last);
}

void DocumentChecks::OnRemoved(int first, int last) {
    const std::size_t n = static_cast<std::size_t>(last - first + 1);
    if (!m_doc || first < 0 || static_cast<std::size_t>(last) >= m_masks.size() ||
        m_masks.size() - n != static_cast<std::size_t>(m_doc->Count())) {
        CheckAll();
        emit ProblemsChanged(0, static_cast<int>(m_masks.size()) - 1);
        return;
    }
    for (int row = first; row <= last; ++row) Count(m_masks[static_cast<std::size_t>(row)], -1);
    m_masks.erase(m_masks.begin() + first, m_masks.begin() + last + 1);
    // The row before now has another row after it; the row now at `first`
    // kept its own next row.
    Recheck(first - 1, first - 1);
    emit ProblemsChanged(std::max(first - 1, 0), std::min(first, static_cast<int>(m_masks.size()) - 1));
}

void DocumentChecks::OnCellsChanged(int first, int last, int firstColumn, int lastColumn) {
    if (!InSync()) {
        CheckAll();
        emit ProblemsChanged(0, static_cast<int>(m_masks.size()) - 1);
        return;
    }
    if (lastColumn < ColStart) return;  // the serial only
    // A new start also changes what the row before is measured against.
    const bool startChanged = firstColumn <= ColStart && lastColumn >= ColStart;
    const int from = startChanged ? first - 1 : first;
    if (Recheck(from, last)) emit ProblemsChanged(std::max(from, 0), std::min(last, static_cast<int>(m_masks.size()) - 1));
}

std::vector<Problem> DocumentChecks::Problems(ProblemMask kinds) const {
    std::vector<Problem> problems;
    for (std::size_t row = 0; row < m_masks.size(); ++row) {
        const ProblemMask mask = m_masks[row] & kinds;
        if (!mask) continue;
        for (int k = 0; k < kCheckKinds; ++k) {
            if (!(mask & (1u << k))) continue;
            const auto kind = static_cast<CheckKind>(k);
            problems.push_back({static_cast<int>(row), kind, Message(kind)});
        }
    }
    return problems;
}

int DocumentChecks::NextRowWith(int from, ProblemMask kinds) const {
    for (std::size_t row = static_cast<std::size_t>(std::max(from, 0)); row < m_masks.size(); ++row)
        if (m_masks[row] & kinds) return static_cast<int>(row);
    return -1;
}

QString DocumentChecks::Message(CheckKind kind) {
    switch (kind) {
        case CheckKind::Overlap: return QStringLiteral("与下一条重叠");
        case CheckKind::EndBeforeStart: return QStringLiteral("结束位置早于开始位置");
        case CheckKind::TooShort: return QStringLiteral("持续时间过短");
        case CheckKind::TooLong: return QStringLiteral("持续时间过长");
        case CheckKind::GapTooShort: return QStringLiteral("与下一条间隔过短");
        case CheckKind::TooFast: return QStringLiteral("阅读速度过快");
        case CheckKind::LineTooLong: return QStringLiteral("单行过长");
        case CheckKind::TooManyLines: return QStringLiteral("超过两行");
        case CheckKind::Empty: return QStringLiteral("空字幕");
    }
    return {};
}

// ---- repairs -----------------------------------------------------------------------

namespace {

QString StepName(CheckKind kind) {
    switch (kind) {
        case CheckKind::Overlap: return QStringLiteral("修正重叠");
        case CheckKind::EndBeforeStart: return QStringLiteral("交换开始与结束位置");
        case CheckKind::TooShort: return QStringLiteral("延长过短字幕");
        case CheckKind::Empty: return QStringLiteral("删除空字幕");
        default: return QStringLiteral("修正字幕");
    }
}

}  // namespace

std::optional<SubtitleDocument::TimeChange> DocumentChecks::Repair(int row, CheckKind kind) const {
    if (!(ProblemsOf(row) & MaskOf(kind))) return std::nullopt;
    const int64_t start = m_doc->Start(row);
    const int64_t end = m_doc->End(row);
    std::optional<int64_t> next;
    if (row + 1 < m_doc->Count()) next = m_doc->Start(row + 1);
    switch (kind) {
        case CheckKind::EndBeforeStart:
            return SubtitleDocument::TimeChange{row, end, start};
        case CheckKind::Overlap: {
            // Rows out of order: shortening this one cannot help.
            if (!next || *next < start) return std::nullopt;
            return SubtitleDocument::TimeChange{row, start, std::max(start, Minus(*next, m_limits.minGapMs))};
        }
        case CheckKind::TooShort: {
            if (end == kNoEnd) return std::nullopt;
            int64_t target = Plus(start, m_limits.minDurationMs);
            if (next) target = std::min(target, Minus(*next, m_limits.minGapMs));
            if (target <= end) return std::nullopt;
            return SubtitleDocument::TimeChange{row, start, target};
        }
        default:
            return std::nullopt;
    }
}

bool DocumentChecks::Fix(int row, CheckKind kind) {
    if (!InSync() || !(ProblemsOf(row) & MaskOf(kind))) return false;
    if (kind == CheckKind::Empty) return m_doc->Remove({row}, StepName(kind));
    const auto change = Repair(row, kind);
    return change && m_doc->SetTimes({*change}, StepName(kind));
}

int DocumentChecks::FixTimes(CheckKind kind, const QString& step) {
    std::vector<SubtitleDocument::TimeChange> changes;
    for (std::size_t row = 0; row < m_masks.size(); ++row) {
        if (!(m_masks[row] & MaskOf(kind))) continue;
        if (const auto change = Repair(static_cast<int>(row), kind)) changes.push_back(*change);
    }
    const int n = static_cast<int>(changes.size());
    return m_doc->SetTimes(std::move(changes), step) ? n : 0;
}

int DocumentChecks::FixAll(ProblemMask kinds) {
    kinds &= kFixableProblems;
    if (!kinds || !InSync()) return 0;
    QString step = QStringLiteral("修正全部问题");
    for (int k = 0; k < kCheckKinds; ++k)
        if (kinds == (1u << k)) step = StepName(static_cast<CheckKind>(k));
    int repairs = 0;
    // Every stage sees the marks its predecessor left: the document tells
    // this checker of each change as it is made. Empty rows go first, so
    // the times are fixed against the rows that stay; swapped times come
    // before the fixes that measure against the next start.
    SubtitleDocument::ChangeTogether({m_doc.data()}, step, [&] {
        if (kinds & MaskOf(CheckKind::Empty)) {
            std::vector<int> rows;
            for (std::size_t row = 0; row < m_masks.size(); ++row)
                if (m_masks[row] & MaskOf(CheckKind::Empty)) rows.push_back(static_cast<int>(row));
            if (m_doc->Remove(rows, step)) repairs += static_cast<int>(rows.size());
        }
        for (CheckKind kind : {CheckKind::EndBeforeStart, CheckKind::Overlap, CheckKind::TooShort})
            if (kinds & MaskOf(kind)) repairs += FixTimes(kind, step);
    });
    return repairs;
}

}  // namespace lumeval::doc
