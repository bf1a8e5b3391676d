#include "engine/postprocess.h"

#include <unicode/ucasemap.h>

#include <algorithm>
#include <deque>
#include <limits>
#include <bit>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include "engine/encoding/codepage.h"
#include "engine/formats.h"
#include "engine/textutil.h"
#include "engine/timecode.h"

namespace lumeval {
namespace {

// Code points outside ASCII that have no case: most subtitle text is CJK,
// and folding it through ICU would be the dominant cost of the duplicate pass.
bool caselessNonAscii(char32_t cp) {
    return (cp >= 0x2000 && cp <= 0x206F) ||   // general punctuation
           (cp >= 0x2E80 && cp <= 0x9FFF) ||   // CJK radicals, kana, ideographs
           (cp >= 0xAC00 && cp <= 0xD7AF) ||   // Hangul syllables
           (cp >= 0xF900 && cp <= 0xFAFF) ||   // CJK compatibility ideographs
           (cp >= 0xFE30 && cp <= 0xFE4F) ||   // CJK compatibility forms
           (cp >= 0xFF01 && cp <= 0xFF20) ||   // fullwidth punctuation and digits
           (cp >= 0xFF3B && cp <= 0xFF40) || (cp >= 0xFF5B && cp <= 0xFFEF);
}

// True when lower-casing ASCII alone gives the case-folded text: every
// non-ASCII character is a well-formed 3-byte sequence of a caseless block.
bool asciiFoldIsEnough(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n;) {
        if (i + 8 <= n) {
            uint64_t w;
            std::memcpy(&w, p + i, 8);
            if ((w & 0x8080808080808080ULL) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned char b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        const Utf8Char c = DecodeUtf8At(s, i);
        if (!c.valid || !caselessNonAscii(c.cp)) return false;
        i += c.length;
    }
    return true;
}

struct CaseMapCloser {
    void operator()(UCaseMap* m) const { ucasemap_close(m); }
};

// Case-insensitive key: ASCII lower-casing for ASCII text, Unicode case
// folding otherwise (Latin, Greek and Cyrillic subtitles have case too).
std::string caseKey(std::string_view s) {
    if (asciiFoldIsEnough(s)) return std::string(s);
    thread_local std::unique_ptr<UCaseMap, CaseMapCloser> map = [] {
        UErrorCode err = U_ZERO_ERROR;
        return std::unique_ptr<UCaseMap, CaseMapCloser>(ucasemap_open("", 0, &err));
    }();
    if (!map || s.size() > 0x3FFFFFFF) return std::string(s);
    std::string out(s.size() + 16, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode err = U_ZERO_ERROR;
        const int32_t n = ucasemap_utf8FoldCase(map.get(), out.data(), static_cast<int32_t>(out.size()),
                                                s.data(), static_cast<int32_t>(s.size()), &err);
        if (err == U_BUFFER_OVERFLOW_ERROR) {
            out.assign(static_cast<std::size_t>(n) + 1, '\0');
            continue;
        }
        if (U_FAILURE(err)) return std::string(s);
        out.resize(static_cast<std::size_t>(n));
        return out;
    }
    return std::string(s);
}

std::string_view textPart(std::string_view entry) { return SplitEntry(entry).text; }

std::string_view spanPart(std::string_view entry) {
    const auto bar = entry.find('|');
    return bar == std::string_view::npos ? entry : entry.substr(0, bar);
}

// The code point starting at s[i] for the ordering tie-break; an invalid
// byte stands for itself.
char32_t codePointAt(std::string_view s, std::size_t i) {
    const Utf8Char c = DecodeUtf8At(s, i);
    return c.valid ? c.cp : 0xDC00 + static_cast<unsigned char>(s[i]);  // sorts like a lone surrogate
}

// The first UTF-16 code unit of a code point, which decides ordinal order.
uint32_t firstUnit(char32_t cp) {
    return cp < 0x10000 ? cp : 0xD800 + ((cp - 0x10000) >> 10);
}

}  // namespace

namespace {

// ASCII letters lower-cased in eight bytes at once; bytes of 0x80 and above
// (parts of UTF-8 sequences) are left alone.
inline uint64_t lowerAscii8(uint64_t w) {
    constexpr uint64_t ones = 0x0101010101010101ULL;
    const uint64_t heptets = w & (0x7F * ones);
    const uint64_t atLeastA = heptets + (0x80 - 'A') * ones;
    const uint64_t aboveZ = heptets + (0x80 - 'Z' - 1) * ones;
    const uint64_t upper = atLeastA & ~aboveZ & ~w & (0x80 * ones);
    return w | (upper >> 2);
}

inline unsigned char lowerAscii1(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

uint64_t caseInsensitiveHash(std::string_view s) {
    uint64_t h = 0x9E3779B97F4A7C15ULL ^ s.size();
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        uint64_t w;
        std::memcpy(&w, s.data() + i, 8);
        h = (h ^ lowerAscii8(w)) * 0xFF51AFD7ED558CCDULL;
        h ^= h >> 32;
    }
    uint64_t tail = 0;
    for (std::size_t k = 0; i + k < s.size(); ++k) {
        tail |= static_cast<uint64_t>(lowerAscii1(static_cast<unsigned char>(s[i + k]))) << (8 * k);
    }
    h = (h ^ tail) * 0xC4CEB9FE1A85EC53ULL;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDULL;
    return h ^ (h >> 33);
}

bool caseInsensitiveEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    std::size_t i = 0;
    for (; i + 8 <= a.size(); i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y && lowerAscii8(x) != lowerAscii8(y)) return false;
    }
    for (; i < a.size(); ++i) {
        if (lowerAscii1(static_cast<unsigned char>(a[i])) != lowerAscii1(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace

namespace {

// Marks the entries whose span (text before the first "|") is shared with
// another entry, ignoring ASCII case. Returns false when some span is not
// plain ASCII, where Unicode case folding could join spans that differ.
// `sorted`: set when the entries are also in EntryLess order.
bool markSharedSpansInOrder(const LineTable& table, std::vector<char>& shared, bool& sorted);

bool markSharedSpans(const LineTable& table, std::vector<char>& shared, bool& sorted) {
    // A table in time order (most are) has its equal spans side by side.
    sorted = false;
    if (markSharedSpansInOrder(table, shared, sorted)) return true;
    const std::size_t n = table.size();
    std::vector<uint64_t> hashes(n, 0);
    for (std::size_t i = 1; i < n; ++i) {
        const std::string_view span = spanPart(table[i]);
        unsigned char acc = 0;
        for (unsigned char c : span) acc |= c;
        if (acc >= 0x80) return false;
        hashes[i] = caseInsensitiveHash(span);
    }
    int bits = 4;
    while ((std::size_t{1} << bits) < 2 * n) ++bits;
    const std::size_t capacity = std::size_t{1} << bits;
    const auto home = [bits](uint64_t h) { return static_cast<std::size_t>(h >> (64 - bits)); };
    // Half the hash is kept: two spans that agree there are marked as shared
    // and compared in full afterwards, so the only cost is that comparison,
    // and eight-byte slots halve the memory touched.
    struct Slot {
        uint32_t hash;
        uint32_t first;  // index of the first entry with this hash; 0: empty
    };
    std::vector<Slot> slots(capacity, Slot{0, 0});
    // The table is larger than the caches: fetch the slot a few entries ahead.
    constexpr std::size_t kAhead = 16;
    for (std::size_t i = 1; i < n; ++i) {
        if (i + kAhead < n) __builtin_prefetch(&slots[home(hashes[i + kAhead])]);
        const auto h = static_cast<uint32_t>(hashes[i]);
        std::size_t at = home(hashes[i]);
        while (slots[at].first != 0 && slots[at].hash != h) at = (at + 1) & (capacity - 1);
        if (slots[at].first == 0) {
            slots[at] = Slot{h, static_cast<uint32_t>(i)};
        } else {
            shared[slots[at].first] = 1;
            shared[i] = 1;
        }
    }
    return true;
}

}  // namespace

bool RemoveDuplicateLines(LineTable& table) {
    const std::size_t n = table.size();
    if (n <= 2 || n >= 0xFFFFFFFFu) return false;
    // Entries equal ignoring case have spans equal ignoring case, so an entry
    // whose span no other entry shares is kept without looking at its text.
    std::vector<char> candidate(n, 0);
    // Removing entries keeps the others' order, so what was sorted stays so.
    bool sorted = false;
    if (!markSharedSpans(table, candidate, sorted)) std::fill(candidate.begin() + 1, candidate.end(), 1);
    // Most tables share no span at all: nothing more to do, nor to allocate.
    const std::size_t candidates =
        static_cast<std::size_t>(std::count(candidate.begin() + 1, candidate.end(), char{1}));
    if (candidates == 0) return sorted;

    // Keys compare with ASCII letters lower-cased. Texts with other cased
    // letters are case-folded through ICU first and compared by their folded
    // form (folding lower-cases ASCII too, so the two kinds of key agree).
    std::vector<std::string_view> keys(n);
    std::deque<std::string> folded;
    for (std::size_t i = 1; i < n; ++i) {
        if (!candidate[i]) continue;
        if (asciiFoldIsEnough(table[i])) {
            keys[i] = table[i];
        } else {
            folded.push_back(caseKey(table[i]));
            keys[i] = folded.back();
        }
    }
    // Open addressing over indices; a slot holds index + 1, 0 when empty.
    std::size_t capacity = 16;
    while (capacity < 2 * candidates) capacity <<= 1;
    std::vector<uint32_t> slots(capacity, 0);
    std::vector<uint64_t> hashes(capacity, 0);
    std::vector<char> keep(n, 1);
    bool removedAny = false;
    for (std::size_t i = 1; i < n; ++i) {
        if (!candidate[i]) continue;
        const uint64_t h = caseInsensitiveHash(keys[i]);
        std::size_t at = h & (capacity - 1);
        bool duplicate = false;
        while (slots[at] != 0) {
            if (hashes[at] == h && caseInsensitiveEqual(keys[slots[at] - 1], keys[i])) {
                duplicate = true;
                break;
            }
            at = (at + 1) & (capacity - 1);
        }
        if (duplicate) {
            keep[i] = 0;
            removedAny = true;
            continue;
        }
        slots[at] = static_cast<uint32_t>(i + 1);
        hashes[at] = h;
    }
    if (!removedAny) return sorted;
    std::size_t out = 1;
    for (std::size_t i = 1; i < n; ++i) {
        if (!keep[i]) continue;
        if (out != i) table.moveEntry(out, i);
        ++out;
    }
    table.resize(out);
    return sorted;
}

void RemoveFilteredLines(LineTable& table, std::string_view filters) {
    if (table.size() <= 1 || filters.empty()) return;
    std::vector<std::string_view> words;
    std::size_t from = 0;
    for (;;) {
        const auto nul = filters.find('\0', from);
        words.push_back(filters.substr(from, nul == std::string_view::npos ? std::string_view::npos
                                                                              : nul - from));
        if (nul == std::string_view::npos) break;
        from = nul + 1;
    }
    const bool matchesAll =
        std::any_of(words.begin(), words.end(), [](std::string_view w) { return w.empty(); });
    std::size_t out = 1;
    for (std::size_t i = 1; i < table.size(); ++i) {
        const std::string_view text = TrimSpaces(textPart(table[i]));
        const bool hit = matchesAll || std::any_of(words.begin(), words.end(), [&](std::string_view w) {
                             return text.find(w) != std::string_view::npos;
                         });
        if (hit) continue;
        if (out != i) table.moveEntry(out, i);
        ++out;
    }
    table.resize(out);
}

bool MergeSamePosition(LineTable& table, int32_t interval, const MergeProgress& onProgress) {
    if (table.size() <= 2) return true;
    if (interval < 1) interval = 1;
    const std::size_t n = table.size();

    // Members of each span group in table order. A group is merged when its
    // first surviving member is reached, exactly as a scan of every later
    // entry would do, but without visiting entries of other spans.
    std::unordered_map<std::string_view, std::vector<uint32_t>> groups;
    groups.reserve(n);
    std::vector<std::string_view> spans(n);
    for (std::size_t i = 1; i < n; ++i) {
        spans[i] = TrimSpaces(spanPart(table[i]));
    }
    for (std::size_t i = 1; i < n; ++i) groups[spans[i]].push_back(static_cast<uint32_t>(i));

    std::vector<char> removed(n, 0);
    std::vector<char> done(n, 0);
    std::size_t removedCount = 0;
    int32_t kept = 0;
    for (std::size_t j = 1; j < n; ++j) {
        if (removed[j]) continue;
        ++kept;
        if (!done[j]) {
            auto& members = groups[spans[j]];
            if (members.size() > 1) {
                // Every member before j is either removed or was a head whose
                // pass is over; j is the next head, it scans the members after it.
                bool moved = false;
                for (uint32_t i : members) {
                    if (i <= j || removed[i]) continue;
                    if (table[i] == table[j]) continue;
                    // Copied once to the end of the table's memory, where it
                    // then grows in place (the spans and groups above keep
                    // viewing the entry's first copy, which stays).
                    if (!moved) {
                        table.set(j, table[j]);
                        moved = true;
                    }
                    const std::string_view current = table[j];
                    if (current.empty() || current.back() != '|') table.append(j, "\\N");
                    table.append(j, TrimSpaces(textPart(table[i])));
                    removed[i] = 1;
                    ++removedCount;
                }
            }
            done[j] = 1;
        }
        if (onProgress && kept % interval == 0) {
            if (!onProgress(kept, static_cast<int32_t>(n - 1 - removedCount))) return false;
        }
    }
    if (removedCount == 0) return true;
    std::size_t out = 1;
    for (std::size_t i = 1; i < n; ++i) {
        if (removed[i]) continue;
        if (out != i) table.moveEntry(out, i);
        ++out;
    }
    table.resize(out);
    return true;
}

void AppendCreditLine(LineTable& table, std::string_view text, double startSec, double endSec,
                      int32_t destinationKind) {
    if (startSec > endSec) std::swap(startSec, endSec);
    std::string entry = MSecsToTime(startSec * 1000, 0);
    entry += "->";
    entry += MSecsToTime(endSec * 1000 + (destinationKind == kKindSrt ? 10 : 0), 0);
    table.pushEntry(entry, text);
}

bool OrdinalLess(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    // Entries share long prefixes ("00:0"), so find the first difference a
    // word at a time.
    while (std::endian::native == std::endian::little && i + 8 <= n) {
        uint64_t x, y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) {
            i += static_cast<std::size_t>(__builtin_ctzll(x ^ y) / 8);  // little-endian
            break;
        }
        i += 8;
    }
    while (i < n && a[i] == b[i]) ++i;
    if (i == n) return a.size() < b.size();
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (ca < 0x80 && cb < 0x80) return ca < cb;
    // Back up to the start of the character both texts are in; UTF-8 byte
    // order is code point order, which differs from UTF-16 order only between
    // U+E000..U+FFFF and the supplementary planes.
    std::size_t k = i;
    while (k > 0 && (static_cast<unsigned char>(a[k]) & 0xC0) == 0x80) --k;
    const char32_t pa = codePointAt(a, k);
    const char32_t pb = codePointAt(b, k);
    const uint32_t ua = firstUnit(pa), ub = firstUnit(pb);
    if (ua != ub) return ua < ub;
    return ca < cb;
}

namespace {

// What orders an entry: entries without a "|" (the placeholder "0") first,
// then by start, spans before lone starts, then by end; the text decides ties.
struct TimeKey {
    int64_t start = std::numeric_limits<int64_t>::min();
    int64_t end = std::numeric_limits<int64_t>::min();
};

int64_t entryTime(std::string_view t) {
    if (IsCanonicalTime(t)) return CanonicalTimeMs(t);
    if (const int64_t ms = TableTimeMs(t); ms >= 0) return ms;
    return static_cast<int64_t>(TimeToMSecs(TrimSpaces(t), ","));
}

TimeKey timeKeyOf(std::string_view entry) {
    TimeKey k;
    // The table's own form, read in place.
    if (const TableSpan span = ReadTableSpan(entry); span.bar != 0) {
        k.start = span.startMs;
        k.end = span.arrow != 0 ? span.endMs : std::numeric_limits<int64_t>::max();
        return k;
    }
    // Only the span matters here: the text after it is not searched.
    const auto bar = entry.find('|');
    if (bar == std::string_view::npos) return k;
    const std::string_view span = entry.substr(0, bar);
    const auto arrow = span.find("->");
    if (arrow == std::string_view::npos) {
        k.start = entryTime(span);
        k.end = std::numeric_limits<int64_t>::max();
    } else {
        k.start = entryTime(span.substr(0, arrow));
        k.end = entryTime(span.substr(arrow + 2));
    }
    return k;
}

bool keyLess(const TimeKey& a, const TimeKey& b) {
    if (a.start != b.start) return a.start < b.start;
    return a.end < b.end;
}
bool keyEqual(const TimeKey& a, const TimeKey& b) { return a.start == b.start && a.end == b.end; }

// Spans equal ignoring case have equal time keys (the time reader weighs no
// letter's case); in a table whose keys never go down, entries of equal keys
// stand together, so each run of them is marked without a hash table (whose
// memory would outgrow a large table's other needs). False, with nothing
// marked, when the table is not in that order.
bool markSharedSpansInOrder(const LineTable& table, std::vector<char>& shared, bool& sorted) {
    const std::size_t n = table.size();
    if (n < 3) return false;
    TimeKey previous = timeKeyOf(table[1]);
    // An entry without a time would be sorted against the placeholder "0":
    // such a table is left to the sort to look at.
    sorted = !keyEqual(previous, TimeKey{});
    for (std::size_t i = 2; i < n; ++i) {
        const TimeKey key = timeKeyOf(table[i]);
        if (keyLess(key, previous)) {
            std::fill(shared.begin(), shared.begin() + static_cast<std::ptrdiff_t>(i), char{0});
            sorted = false;
            return false;
        }
        if (keyEqual(key, previous)) {
            shared[i - 1] = shared[i] = 1;
            if (sorted && OrdinalLess(table[i], table[i - 1])) sorted = false;
        }
        previous = key;
    }
    return true;
}

}  // namespace

bool EntryLess(std::string_view a, std::string_view b) {
    const TimeKey ka = timeKeyOf(a);
    const TimeKey kb = timeKeyOf(b);
    if (!keyEqual(ka, kb)) return keyLess(ka, kb);
    return OrdinalLess(a, b);
}

namespace {
// The order that sorts entries first..last (indices, the first of them
// first); empty when they are in order already.
template <typename Entries>
std::vector<std::size_t> sortedOrder(const Entries& items, std::size_t first, std::size_t last) {
    const std::size_t count = last - first + 1;
    // Most tables arrive in time order already; checking costs one pass and
    // no memory.
    {
        bool sorted = true;
        TimeKey previous = timeKeyOf(items[first]);
        for (std::size_t i = first + 1; i <= last; ++i) {
            const TimeKey key = timeKeyOf(items[i]);
            if (keyEqual(key, previous) ? OrdinalLess(items[i], items[i - 1])
                                        : keyLess(key, previous)) {
                sorted = false;
                break;
            }
            previous = key;
        }
        if (sorted) return {};
    }
    // Times are read once; the comparisons then work on one compact array and
    // touch the texts only when two entries share their times.
    struct Keyed {
        TimeKey key;
        std::size_t index;
    };
    std::vector<Keyed> keyed(count);
    for (std::size_t i = 0; i < count; ++i) keyed[i] = {timeKeyOf(items[first + i]), first + i};
    const auto less = [&](const Keyed& x, const Keyed& y) {
        if (!keyEqual(x.key, y.key)) return keyLess(x.key, y.key);
        return OrdinalLess(items[x.index], items[y.index]);
    };
    std::sort(keyed.begin(), keyed.end(), less);
    std::vector<std::size_t> order;
    order.reserve(count);
    for (const Keyed& k : keyed) order.push_back(k.index);
    return order;
}
}  // namespace

void SortEntries(std::vector<std::string>& items, std::size_t first, std::size_t last) {
    if (first >= last || last >= items.size()) return;
    const std::vector<std::size_t> order = sortedOrder(items, first, last);
    if (order.empty()) return;
    std::vector<std::string> sorted;
    sorted.reserve(order.size());
    for (const std::size_t k : order) sorted.push_back(std::move(items[k]));
    std::move(sorted.begin(), sorted.end(), items.begin() + static_cast<std::ptrdiff_t>(first));
}

void SortEntries(LineTable& items, std::size_t first, std::size_t last) {
    if (first >= last || last >= items.size()) return;
    const std::vector<std::size_t> order = sortedOrder(items, first, last);
    if (!order.empty()) items.permute(first, order);
}

void SortLines(LineTable& table, bool knownInOrder) {
    if (table.empty()) return;
    table.set(0, "0");
    if (knownInOrder) return;
    // The placeholder holds no "|" and so stays first.
    SortEntries(table, 0, table.size() - 1);
}

void RemoveLineAt(LineTable& table, std::size_t index) {
    if (index >= table.size()) return;
    table.erase(index);
}

}  // namespace lumeval
