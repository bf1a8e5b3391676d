#include "document/document.h"

#include <QUndoCommand>
#include <algorithm>
#include <cstring>

#include "document/editops.h"

namespace lumeval::doc {

namespace {

// Texts go into blocks of this size; a longer text gets a block of its own.
constexpr std::size_t kBlockSize = 1 << 20;
// Room kept after a load or a rebuild: the first rows inserted then need
// no new (and, in a large document, not yet touched) block of memory.
std::size_t WithRoom(std::size_t n) { return n + n / 8 + 64; }

// More separate ranges than this in one removal or reinsertion are shown
// as one reset: per-range signals would cost a pass over the rows each.
constexpr std::size_t kMostRanges = 32;

// Consecutive runs of sorted row numbers, as [first, last] pairs.
std::vector<std::pair<int, int>> Ranges(const std::vector<int>& sorted) {
    std::vector<std::pair<int, int>> ranges;
    for (int row : sorted) {
        if (!ranges.empty() && ranges.back().second + 1 == row) {
            ranges.back().second = row;
        } else {
            ranges.emplace_back(row, row);
        }
    }
    return ranges;
}

}  // namespace

// ---- commands ------------------------------------------------------------------

// Every step works on rows by index: steps are undone strictly newest
// first, so the indices a step recorded are the ones it finds again.
class DocumentCommand : public QUndoCommand {
  public:
    DocumentCommand(SubtitleDocument* doc, const QString& text) : QUndoCommand(text), m_doc(doc) {}

  protected:
    SubtitleDocument* m_doc;
};

struct DocumentAccess {
    using S = SubtitleDocument::Stored;
    static std::vector<S>& Cues(SubtitleDocument* d) { return d->m_cues; }
    static void Set(SubtitleDocument* d, int row, const S& s, int c0, int c1) { d->RawSet(row, s, c0, c1); }
    static void Insert(SubtitleDocument* d, int at, const std::vector<S>& c) { d->RawInsert(at, c); }
    static void Remove(SubtitleDocument* d, const std::vector<int>& rows, std::vector<S>* out) {
        d->RawRemove(rows, out);
    }
    static void InsertAt(SubtitleDocument* d, const std::vector<int>& rows, const std::vector<S>& c) {
        d->RawInsertAt(rows, c);
    }
    static void SwapAll(SubtitleDocument* d, std::vector<S>& c) { d->RawSwapAll(c); }
    static void Changed(SubtitleDocument* d, int first, int last, int c0, int c1) {
        emit d->CellsChanged(first, last, c0, c1);
    }
};

namespace {

using S = DocumentAccess::S;

// One cell (or a row's cells) set: the old and new stored cue.
class SetCueCommand : public DocumentCommand {
  public:
    SetCueCommand(SubtitleDocument* doc, const QString& text, int row, S before, S after, int c0, int c1)
        : DocumentCommand(doc, text), m_row(row), m_before(before), m_after(after), m_c0(c0), m_c1(c1) {}
    void redo() override { DocumentAccess::Set(m_doc, m_row, m_after, m_c0, m_c1); }
    void undo() override { DocumentAccess::Set(m_doc, m_row, m_before, m_c0, m_c1); }

  private:
    int m_row;
    S m_before, m_after;
    int m_c0, m_c1;
};

class InsertCommand : public DocumentCommand {
  public:
    InsertCommand(SubtitleDocument* doc, const QString& text, int position, std::vector<S> cues)
        : DocumentCommand(doc, text), m_position(position), m_cues(std::move(cues)) {}
    void redo() override { DocumentAccess::Insert(m_doc, m_position, m_cues); }
    void undo() override {
        std::vector<int> rows(m_cues.size());
        for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = m_position + static_cast<int>(i);
        DocumentAccess::Remove(m_doc, rows, nullptr);
    }

  private:
    int m_position;
    std::vector<S> m_cues;
};

class RemoveCommand : public DocumentCommand {
  public:
    RemoveCommand(SubtitleDocument* doc, const QString& text, std::vector<int> sortedRows)
        : DocumentCommand(doc, text), m_rows(std::move(sortedRows)) {}
    void redo() override {
        m_removed.clear();
        DocumentAccess::Remove(m_doc, m_rows, &m_removed);
    }
    void undo() override { DocumentAccess::InsertAt(m_doc, m_rows, m_removed); }

  private:
    std::vector<int> m_rows;
    std::vector<S> m_removed;
};

// Whole content swapped: clearing and the merges. The rows that were
// there are kept by moving the vector, never copied.
class SwapCommand : public DocumentCommand {
  public:
    SwapCommand(SubtitleDocument* doc, const QString& text, std::vector<S> cues)
        : DocumentCommand(doc, text), m_other(std::move(cues)) {}
    void redo() override { DocumentAccess::SwapAll(m_doc, m_other); }
    void undo() override { DocumentAccess::SwapAll(m_doc, m_other); }

  private:
    std::vector<S> m_other;
};

// A shift keeps only the rows it held at 0: undoing subtracts the amount
// from the others and gives those their exact old times.
class ShiftCommand : public DocumentCommand {
  public:
    ShiftCommand(SubtitleDocument* doc, const QString& text, int64_t amount, bool start, bool end,
                 std::vector<int> rows)
        : DocumentCommand(doc, text), m_amount(amount), m_start(start), m_end(end), m_rows(std::move(rows)) {}

    void redo() override {
        m_clamped.clear();
        std::vector<S>& cues = DocumentAccess::Cues(m_doc);
        auto apply = [&](int row) {
            S& c = cues[static_cast<std::size_t>(row)];
            const S before = c;
            bool clamped = false;
            if (m_start) {
                c.start += m_amount;
                if (c.start < 0) { c.start = 0; clamped = true; }
            }
            if (m_end && c.end != kNoEnd) {
                c.end += m_amount;
                if (c.end < 0) { c.end = 0; clamped = true; }
            }
            if (clamped) m_clamped.push_back({row, before.start, before.end});
        };
        Each(apply);
        Announce();
    }

    void undo() override {
        std::vector<S>& cues = DocumentAccess::Cues(m_doc);
        Each([&](int row) {
            S& c = cues[static_cast<std::size_t>(row)];
            if (m_start) c.start -= m_amount;
            if (m_end && c.end != kNoEnd) c.end -= m_amount;
        });
        for (const Clamped& c : m_clamped) {
            S& cue = cues[static_cast<std::size_t>(c.row)];
            cue.start = c.start;
            cue.end = c.end;
        }
        Announce();
    }

  private:
    template <typename F>
    void Each(F&& f) {
        if (m_rows.empty()) {
            const int n = m_doc->Count();
            for (int i = 0; i < n; ++i) f(i);
        } else {
            for (int row : m_rows) f(row);
        }
    }
    void Announce() {
        if (m_doc->Count() == 0) return;
        const int first = m_rows.empty() ? 0 : m_rows.front();
        const int last = m_rows.empty() ? m_doc->Count() - 1 : m_rows.back();
        DocumentAccess::Changed(m_doc, first, last, m_start ? ColStart : ColEnd, m_end ? ColEnd : ColStart);
    }

    int64_t m_amount;
    bool m_start, m_end;
    std::vector<int> m_rows;  // sorted; empty: every row
    // The rows held at 0, with their times before: only those are kept.
    struct Clamped {
        int row;
        int64_t start, end;
    };
    std::vector<Clamped> m_clamped;
};

// Texts (or times) of many rows replaced: only the rows that changed are
// recorded.
class RewriteCommand : public DocumentCommand {
  public:
    RewriteCommand(SubtitleDocument* doc, const QString& text, std::vector<std::pair<int, S>> before,
                   std::vector<S> after, int c0 = ColText, int c1 = ColText)
        : DocumentCommand(doc, text), m_before(std::move(before)), m_after(std::move(after)), m_c0(c0), m_c1(c1) {}
    void redo() override { Apply(false); }
    void undo() override { Apply(true); }

  private:
    void Apply(bool back) {
        std::vector<S>& cues = DocumentAccess::Cues(m_doc);
        for (std::size_t i = 0; i < m_before.size(); ++i)
            cues[static_cast<std::size_t>(m_before[i].first)] = back ? m_before[i].second : m_after[i];
        if (!m_before.empty())
            DocumentAccess::Changed(m_doc, m_before.front().first, m_before.back().first, m_c0, m_c1);
    }
    std::vector<std::pair<int, S>> m_before;
    std::vector<S> m_after;
    int m_c0, m_c1;
};

// Several steps as one (split, join): done in order, undone in reverse.
class CompoundCommand : public QUndoCommand {
  public:
    explicit CompoundCommand(const QString& text) : QUndoCommand(text) {}
    void Add(std::unique_ptr<QUndoCommand> c) { m_parts.push_back(std::move(c)); }
    void redo() override {
        for (auto& c : m_parts) c->redo();
    }
    void undo() override {
        for (auto it = m_parts.rbegin(); it != m_parts.rend(); ++it) (*it)->undo();
    }

  private:
    std::vector<std::unique_ptr<QUndoCommand>> m_parts;
};

}  // namespace

// One document's share of a change across documents. The steps of one
// change know each other through their group; a step leaves its group
// when its stack deletes it.
class LinkedChange : public QUndoCommand {
  public:
    struct Group {
        std::vector<std::pair<SubtitleDocument*, LinkedChange*>> members;
    };
    LinkedChange(const QString& text, std::vector<std::unique_ptr<QUndoCommand>> parts,
                 std::shared_ptr<Group> group)
        : QUndoCommand(text), m_parts(std::move(parts)), m_group(std::move(group)) {}
    ~LinkedChange() override {
        auto& m = m_group->members;
        m.erase(std::remove_if(m.begin(), m.end(), [this](const auto& p) { return p.second == this; }), m.end());
    }
    void redo() override {
        // The parts ran when the change was made; the push only records it.
        if (m_first) {
            m_first = false;
            return;
        }
        for (auto& c : m_parts) c->redo();
    }
    void undo() override {
        for (auto it = m_parts.rbegin(); it != m_parts.rend(); ++it) (*it)->undo();
    }
    const std::shared_ptr<Group>& group() const { return m_group; }

  private:
    std::vector<std::unique_ptr<QUndoCommand>> m_parts;
    std::shared_ptr<Group> m_group;
    bool m_first = true;
};

// ---- the document --------------------------------------------------------------

SubtitleDocument::SubtitleDocument(QObject* parent) : QObject(parent) {
    connect(&m_history, &QUndoStack::cleanChanged, this, [this](bool clean) { emit ChangedStateChanged(!clean); });
}

SubtitleDocument::~SubtitleDocument() {
    // Linked steps point at their documents: they go before the members do,
    // and a document that is going tells no one that its state changed.
    blockSignals(true);
    m_history.blockSignals(true);
    m_history.clear();
}

uint64_t SubtitleDocument::Keep(std::string_view text) {
    if (text.empty()) return 0;
    const bool own = text.size() > kBlockSize / 4;
    if (own || m_blocks.empty() || m_blockUsed + text.size() > m_blockSizes.back()) {
        const std::size_t size = own ? text.size() : kBlockSize;
        m_blocks.push_back(std::shared_ptr<char[]>(new char[size]));
        m_blockSizes.push_back(size);
        m_blockUsed = 0;
        if (own) {
            std::memcpy(m_blocks.back().get(), text.data(), text.size());
            m_blockUsed = size;
            return (static_cast<uint64_t>(m_blocks.size() - 1) << 32);
        }
    }
    const uint64_t ref = (static_cast<uint64_t>(m_blocks.size() - 1) << 32) | m_blockUsed;
    std::memcpy(m_blocks.back().get() + m_blockUsed, text.data(), text.size());
    m_blockUsed += text.size();
    return ref;
}

SubtitleDocument::Stored SubtitleDocument::Store(int64_t start, int64_t end, std::string_view text) {
    // A single text longer than 4 GiB cannot be held: it is cut.
    if (text.size() > std::numeric_limits<uint32_t>::max()) text = text.substr(0, std::numeric_limits<uint32_t>::max());
    Stored s;
    s.start = start;
    s.end = end;
    s.length = static_cast<uint32_t>(text.size());
    s.offset = Keep(text);
    s.serial = m_nextSerial++;
    return s;
}

std::string_view SubtitleDocument::TextOf(const Stored& s) const {
    if (s.length == 0) return {};
    return {m_blocks[static_cast<std::size_t>(s.offset >> 32)].get() + (s.offset & 0xFFFFFFFFu), s.length};
}

std::string_view SubtitleDocument::Text(int row) const { return TextOf(m_cues[Index(row)]); }

std::shared_ptr<DocumentSnapshot> SubtitleDocument::Snapshot(std::shared_ptr<DocumentSnapshot> room) const {
    std::shared_ptr<DocumentSnapshot> snapshot =
        room && room.use_count() == 1 && room->Fits(m_cues.size()) ? std::move(room)
                                                                   : std::shared_ptr<DocumentSnapshot>(new DocumentSnapshot());
    snapshot->m_cues.assign(m_cues.begin(), m_cues.end());
    snapshot->m_blocks.assign(m_blocks.begin(), m_blocks.end());
    return snapshot;
}

std::shared_ptr<DocumentSnapshot> DocumentSnapshot::WithRoom(std::size_t rows) {
    auto snapshot = std::shared_ptr<DocumentSnapshot>(new DocumentSnapshot());
    // resize writes every row, so the pages are the process's before the
    // window thread copies into them; clear keeps them.
    snapshot->m_cues.resize(rows);
    snapshot->m_cues.clear();
    return snapshot;
}

int64_t DocumentSnapshot::Start(std::size_t i) const { return m_cues[i].start; }
int64_t DocumentSnapshot::End(std::size_t i) const { return m_cues[i].end; }
uint32_t DocumentSnapshot::Serial(std::size_t i) const { return m_cues[i].serial; }
std::string_view DocumentSnapshot::Text(std::size_t i) const {
    const SubtitleDocument::Stored& c = m_cues[i];
    if (c.length == 0) return {};
    return {m_blocks[static_cast<std::size_t>(c.offset >> 32)].get() + (c.offset & 0xFFFFFFFFu), c.length};
}

CueValue SubtitleDocument::Cue(int row) const {
    const Stored& s = m_cues[Index(row)];
    return CueValue{s.start, s.end, std::string(TextOf(s))};
}

bool SubtitleDocument::EndsBeforeStart(int row) const {
    const Stored& s = m_cues[Index(row)];
    return s.end != kNoEnd && s.end < s.start;
}

// ---- raw changes -----------------------------------------------------------------

void SubtitleDocument::RawSet(int row, const Stored& s, int firstColumn, int lastColumn) {
    m_cues[Index(row)] = s;
    emit CellsChanged(row, row, firstColumn, lastColumn);
}

void SubtitleDocument::RawInsert(int position, const std::vector<Stored>& cues) {
    if (cues.empty()) return;
    const int last = position + static_cast<int>(cues.size()) - 1;
    emit RowsAboutToBeInserted(position, last);
    m_cues.insert(m_cues.begin() + position, cues.begin(), cues.end());
    emit RowsInserted(position, last);
}

void SubtitleDocument::RawRemove(const std::vector<int>& sorted, std::vector<Stored>* removed) {
    if (sorted.empty()) return;
    if (removed) {
        removed->reserve(removed->size() + sorted.size());
        for (int row : sorted) removed->push_back(m_cues[Index(row)]);
    }
    const auto ranges = Ranges(sorted);
    if (ranges.size() <= kMostRanges) {
        for (auto it = ranges.rbegin(); it != ranges.rend(); ++it) {
            emit RowsAboutToBeRemoved(it->first, it->second);
            m_cues.erase(m_cues.begin() + it->first, m_cues.begin() + it->second + 1);
            emit RowsRemoved(it->first, it->second);
        }
        return;
    }
    emit AboutToReset();
    std::size_t out = 0, next = 0;
    for (std::size_t i = 0; i < m_cues.size(); ++i) {
        if (next < sorted.size() && static_cast<std::size_t>(sorted[next]) == i) {
            ++next;
            continue;
        }
        m_cues[out++] = m_cues[i];
    }
    m_cues.resize(out);
    emit ResetDone();
}

void SubtitleDocument::RawInsertAt(const std::vector<int>& sorted, const std::vector<Stored>& cues) {
    if (sorted.empty()) return;
    const auto ranges = Ranges(sorted);
    if (ranges.size() <= kMostRanges) {
        std::size_t taken = 0;
        for (const auto& [first, last] : ranges) {
            const std::size_t n = static_cast<std::size_t>(last - first + 1);
            emit RowsAboutToBeInserted(first, last);
            m_cues.insert(m_cues.begin() + first, cues.begin() + static_cast<std::ptrdiff_t>(taken),
                          cues.begin() + static_cast<std::ptrdiff_t>(taken + n));
            emit RowsInserted(first, last);
            taken += n;
        }
        return;
    }
    emit AboutToReset();
    std::vector<Stored> merged;
    merged.reserve(WithRoom(m_cues.size() + cues.size()));
    std::size_t kept = 0, back = 0;
    for (std::size_t i = 0; i < m_cues.size() + cues.size(); ++i) {
        if (back < sorted.size() && static_cast<std::size_t>(sorted[back]) == i) {
            merged.push_back(cues[back++]);
        } else {
            merged.push_back(m_cues[kept++]);
        }
    }
    m_cues.swap(merged);
    emit ResetDone();
}

void SubtitleDocument::RawSwapAll(std::vector<Stored>& cues) {
    emit AboutToReset();
    m_cues.swap(cues);
    emit ResetDone();
}

void SubtitleDocument::Push(QUndoCommand* command) {
    if (m_collect) {
        command->redo();
        m_collect->push_back(command);
        return;
    }
    m_history.push(command);
}

// ---- loading ---------------------------------------------------------------------

void SubtitleDocument::BeginLoad(std::size_t expectedRows) {
    emit AboutToReset();
    m_loading = true;
    m_history.clear();
    std::vector<Stored>().swap(m_cues);
    if (expectedRows > 0) m_cues.reserve(WithRoom(expectedRows));
    m_blocks.clear();
    m_blockSizes.clear();
    m_blockUsed = 0;
    m_nextSerial = 1;
}

void SubtitleDocument::AppendLoaded(int64_t start, int64_t end, std::string_view text) {
    m_cues.push_back(Store(start, end, text));
}

void SubtitleDocument::AppendRestored(int64_t start, int64_t end, std::string_view text, uint32_t serial) {
    Stored s = Store(start, end, text);
    s.serial = serial;
    m_nextSerial = std::max(m_nextSerial, serial + 1);
    m_cues.push_back(s);
}

void SubtitleDocument::EndLoad() {
    m_loading = false;
    // Far more room than kept after edits (a guess that was too high): give
    // it back; a little more is not worth a copy of every row.
    if (m_cues.capacity() > WithRoom(m_cues.size()) + m_cues.size() / 4) {
        std::vector<Stored> fitted;
        fitted.reserve(WithRoom(m_cues.size()));
        fitted.assign(m_cues.begin(), m_cues.end());
        m_cues.swap(fitted);
    } else {
        m_cues.reserve(WithRoom(m_cues.size()));
    }
    m_history.clear();
    emit ResetDone();
}

// ---- changes -----------------------------------------------------------------------

bool SubtitleDocument::SetText(int row, std::string_view text) {
    if (!ValidRow(row)) return false;
    const Stored before = m_cues[Index(row)];
    if (TextOf(before) == text) return true;
    Stored after = before;
    after.length = static_cast<uint32_t>(std::min<std::size_t>(text.size(), std::numeric_limits<uint32_t>::max()));
    after.offset = Keep(text.substr(0, after.length));
    Push(new SetCueCommand(this, QStringLiteral("编辑文本"), row, before, after, ColText, ColText));
    return true;
}

bool SubtitleDocument::SetStart(int row, int64_t start) {
    if (!ValidRow(row)) return false;
    const Stored before = m_cues[Index(row)];
    if (before.start == start) return true;
    Stored after = before;
    after.start = start;
    Push(new SetCueCommand(this, QStringLiteral("编辑开始位置"), row, before, after, ColStart, ColStart));
    return true;
}

bool SubtitleDocument::SetEnd(int row, int64_t end) {
    if (!ValidRow(row)) return false;
    const Stored before = m_cues[Index(row)];
    if (before.end == end) return true;
    Stored after = before;
    after.end = end;
    Push(new SetCueCommand(this, QStringLiteral("编辑结束位置"), row, before, after, ColEnd, ColEnd));
    return true;
}

int SubtitleDocument::Insert(int position, std::vector<CueValue> cues, const QString& step) {
    if (cues.empty()) return -1;
    position = std::clamp(position, 0, Count());
    std::vector<Stored> stored;
    stored.reserve(cues.size());
    for (const CueValue& c : cues) stored.push_back(Store(c.start, c.end, c.text));
    Push(new InsertCommand(this, step, position, std::move(stored)));
    return position;
}

bool SubtitleDocument::Remove(std::vector<int> rows, const QString& step) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(), [this](int r) { return !ValidRow(r); }), rows.end());
    if (rows.empty()) return false;
    Push(new RemoveCommand(this, step, std::move(rows)));
    return true;
}

bool SubtitleDocument::Clear(const QString& step) {
    if (m_cues.empty()) return false;
    Push(new SwapCommand(this, step, {}));
    return true;
}

bool SubtitleDocument::ReplaceAll(std::vector<CueValue> cues, const QString& step) {
    if (cues.empty() && m_cues.empty()) return false;
    std::vector<Stored> stored;
    stored.reserve(WithRoom(cues.size()));
    for (const CueValue& c : cues) stored.push_back(Store(c.start, c.end, c.text));
    Push(new SwapCommand(this, step, std::move(stored)));
    return true;
}

bool SubtitleDocument::Shift(int64_t amount, bool start, bool end, const QString& step,
                             const std::vector<int>* rows) {
    if (amount == 0 || (!start && !end) || m_cues.empty()) return false;
    std::vector<int> chosen;
    if (rows) {
        chosen = *rows;
        std::sort(chosen.begin(), chosen.end());
        chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
        chosen.erase(std::remove_if(chosen.begin(), chosen.end(), [this](int r) { return !ValidRow(r); }),
                     chosen.end());
        if (chosen.empty()) return false;
    }
    Push(new ShiftCommand(this, step, amount, start, end, std::move(chosen)));
    return true;
}

bool SubtitleDocument::RewriteTexts(const std::function<std::string(std::string_view)>& edit, const QString& step) {
    std::vector<std::pair<int, Stored>> before;
    std::vector<Stored> after;
    for (int i = 0; i < Count(); ++i) {
        const Stored& s = m_cues[Index(i)];
        const std::string_view old = TextOf(s);
        std::string text = edit(old);
        if (text == old) continue;
        Stored changed = s;
        changed.length = static_cast<uint32_t>(std::min<std::size_t>(text.size(), std::numeric_limits<uint32_t>::max()));
        changed.offset = Keep(std::string_view(text).substr(0, changed.length));
        before.emplace_back(i, s);
        after.push_back(changed);
    }
    if (before.empty()) return false;
    Push(new RewriteCommand(this, step, std::move(before), std::move(after)));
    return true;
}

bool SubtitleDocument::SetTexts(std::vector<std::pair<int, std::string>> texts, const QString& step) {
    std::sort(texts.begin(), texts.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::pair<int, Stored>> before;
    std::vector<Stored> after;
    for (const auto& [row, text] : texts) {
        if (!ValidRow(row) || (!before.empty() && before.back().first == row)) continue;
        const Stored& s = m_cues[Index(row)];
        if (TextOf(s) == text) continue;
        Stored changed = s;
        changed.length = static_cast<uint32_t>(std::min<std::size_t>(text.size(), std::numeric_limits<uint32_t>::max()));
        changed.offset = Keep(std::string_view(text).substr(0, changed.length));
        before.emplace_back(row, s);
        after.push_back(changed);
    }
    if (before.empty()) return false;
    Push(new RewriteCommand(this, step, std::move(before), std::move(after)));
    return true;
}

bool SubtitleDocument::SetTimes(std::vector<TimeChange> times, const QString& step) {
    const auto byRow = [](const TimeChange& a, const TimeChange& b) { return a.row < b.row; };
    // The tools hand rows in order already; sorting a million costs more
    // than the change itself.
    if (!std::is_sorted(times.begin(), times.end(), byRow)) std::stable_sort(times.begin(), times.end(), byRow);
    std::vector<std::pair<int, Stored>> before;
    std::vector<Stored> after;
    before.reserve(times.size());
    after.reserve(times.size());
    int last = -1;
    for (const TimeChange& t : times) {
        if (!ValidRow(t.row) || t.row == last) continue;
        last = t.row;
        const Stored& s = m_cues[Index(t.row)];
        if (s.start == t.start && s.end == t.end) continue;
        Stored changed = s;
        changed.start = t.start;
        changed.end = t.end;
        before.emplace_back(t.row, s);
        after.push_back(changed);
    }
    if (before.empty()) return false;
    Push(new RewriteCommand(this, step, std::move(before), std::move(after), ColStart, ColEnd));
    return true;
}

bool SubtitleDocument::Split(int row, std::size_t pos, const QString& step) {
    if (!ValidRow(row)) return false;
    const Stored before = m_cues[Index(row)];
    const int64_t end = before.end == kNoEnd ? before.start : before.end;
    const SplitParts parts = SplitCue(before.start, end, TextOf(before), pos);
    Stored first = before;
    first.length = static_cast<uint32_t>(parts.first.size());
    first.offset = Keep(parts.first);
    first.end = before.end == kNoEnd ? kNoEnd : parts.at;
    Stored second = Store(parts.at, before.end, parts.second);
    auto* whole = new CompoundCommand(step);
    whole->Add(std::make_unique<SetCueCommand>(this, step, row, before, first, ColEnd, ColText));
    whole->Add(std::make_unique<InsertCommand>(this, step, row + 1, std::vector<Stored>{second}));
    Push(whole);
    return true;
}

bool SubtitleDocument::Join(int first, int last, const QString& step) {
    if (first > last) std::swap(first, last);
    if (!ValidRow(first) || !ValidRow(last) || first == last) return false;
    std::vector<std::string_view> texts;
    for (int i = first; i <= last; ++i) texts.push_back(Text(i));
    const std::string text = JoinTexts(texts);
    const Stored before = m_cues[Index(first)];
    Stored joined = before;
    joined.end = m_cues[Index(last)].end;
    joined.length = static_cast<uint32_t>(text.size());
    joined.offset = Keep(text);
    std::vector<int> rows;
    for (int i = first + 1; i <= last; ++i) rows.push_back(i);
    auto* whole = new CompoundCommand(step);
    whole->Add(std::make_unique<SetCueCommand>(this, step, first, before, joined, ColEnd, ColText));
    whole->Add(std::make_unique<RemoveCommand>(this, step, std::move(rows)));
    Push(whole);
    return true;
}

// ---- undo through links ----------------------------------------------------------

namespace {

// The step that undo would take back, and the one redo would do again.
const QUndoCommand* Newest(const QUndoStack& s) { return s.index() > 0 ? s.command(s.index() - 1) : nullptr; }
const QUndoCommand* Next(const QUndoStack& s) { return s.index() < s.count() ? s.command(s.index()) : nullptr; }

}  // namespace

bool SubtitleDocument::CanUndo() const {
    const auto* linked = dynamic_cast<const LinkedChange*>(Newest(m_history));
    if (!linked) return m_history.canUndo();
    for (const auto& [doc, step] : linked->group()->members)
        if (Newest(doc->m_history) != step) return false;
    return true;
}

bool SubtitleDocument::CanRedo() const {
    const auto* linked = dynamic_cast<const LinkedChange*>(Next(m_history));
    if (!linked) return m_history.canRedo();
    for (const auto& [doc, step] : linked->group()->members)
        if (Next(doc->m_history) != step) return false;
    return true;
}

bool SubtitleDocument::Undo() {
    if (!CanUndo()) return false;
    const auto* linked = dynamic_cast<const LinkedChange*>(Newest(m_history));
    if (!linked) {
        m_history.undo();
        return true;
    }
    const auto members = linked->group()->members;  // copied: undo may not change it, but be safe
    for (const auto& member : members) member.first->m_history.undo();
    return true;
}

bool SubtitleDocument::Redo() {
    if (!CanRedo()) return false;
    const auto* linked = dynamic_cast<const LinkedChange*>(Next(m_history));
    if (!linked) {
        m_history.redo();
        return true;
    }
    const auto members = linked->group()->members;
    for (const auto& member : members) member.first->m_history.redo();
    return true;
}

void SubtitleDocument::ChangeTogether(const std::vector<SubtitleDocument*>& docs, const QString& step,
                                      const std::function<void()>& change) {
    std::vector<std::vector<QUndoCommand*>> collected(docs.size());
    for (std::size_t i = 0; i < docs.size(); ++i) docs[i]->m_collect = &collected[i];
    change();
    for (SubtitleDocument* d : docs) d->m_collect = nullptr;
    auto group = std::make_shared<LinkedChange::Group>();
    std::vector<std::pair<SubtitleDocument*, LinkedChange*>> steps;
    for (std::size_t i = 0; i < docs.size(); ++i) {
        if (collected[i].empty()) continue;
        std::vector<std::unique_ptr<QUndoCommand>> parts;
        for (QUndoCommand* c : collected[i]) parts.emplace_back(c);
        auto* linked = new LinkedChange(step, std::move(parts), group);
        group->members.emplace_back(docs[i], linked);
        steps.emplace_back(docs[i], linked);
    }
    for (const auto& [doc, linked] : steps) doc->m_history.push(linked);
}

}  // namespace lumeval::doc
