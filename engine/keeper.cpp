#include "engine/keeper.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <numeric>
#include <unordered_map>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/formats.h"
#include "engine/linetable.h"
#include "engine/postprocess.h"
#include "engine/readers/readers.h"
#include "engine/textutil.h"
#include "engine/timecode.h"
#include "engine/writers/writers.h"

namespace lumeval {
namespace {

enum class Kind { Srt, Ssa, Vtt, Lrc };

constexpr std::size_t npos = std::string_view::npos;

// One line as the conversion splits a text: lines end at LF (a CR before it
// belongs to the line end) or, in a text without LF, at CR; a lone CR inside
// an LF text ends a line too, except at the very end of the text. A text that
// ends with a line end has an empty last line after it.
struct Line {
    std::size_t begin = 0;
    std::size_t cend = 0;  // end of the content
    std::size_t end = 0;   // after the line end
    bool last = false;
};

// The line ends a file uses, counted line by line: new lines are written
// with the one that most of its lines have.
struct LineEnds {
    std::size_t crlf = 0, lf = 0, cr = 0;
    void Count(std::string_view text, const Line& ln) {
        if (ln.end - ln.cend == 2) {
            ++crlf;
        } else if (ln.end - ln.cend == 1) {
            (text[ln.cend] == '\n' ? lf : cr) += 1;
        }
    }
    // Empty: keep the default LF.
    const char* Dominant() const {
        if (crlf >= lf && crlf >= cr && crlf > 0) return "\r\n";
        if (cr > lf) return "\r";
        return nullptr;
    }
};

class LineCursor {
public:
    /// `loneCr`: the text may hold a CR that is not part of a CRLF (else
    /// only the LFs need finding).
    LineCursor(std::string_view text, bool lf, std::size_t from, bool loneCr = true)
        : m_t(text), m_lf(lf), m_loneCr(loneCr), m_pos(from) {}

    bool Next(Line& l) {
        if (m_done) return false;
        const std::size_t n = m_t.size();
        if (m_pos >= n) {
            m_done = true;
            if (n > 0 && m_pos == n && m_t[n - 1] == (m_lf ? '\n' : '\r')) {
                l = {n, n, n, true};
                return true;
            }
            return false;
        }
        const char* base = m_t.data();
        if (!m_lf) {
            const void* cr = std::memchr(base + m_pos, '\r', n - m_pos);
            if (cr == nullptr) return lastLine(l, n);
            const auto at = static_cast<std::size_t>(static_cast<const char*>(cr) - base);
            l = {m_pos, at, at + 1, false};
            m_pos = at + 1;
            return true;
        }
        const void* lfp = std::memchr(base + m_pos, '\n', n - m_pos);
        const std::size_t lfAt = lfp == nullptr ? n : static_cast<std::size_t>(static_cast<const char*>(lfp) - base);
        if (!m_loneCr && lfp != nullptr) {
            const std::size_t cend = lfAt > m_pos && base[lfAt - 1] == '\r' ? lfAt - 1 : lfAt;
            l = {m_pos, cend, lfAt + 1, false};
            m_pos = lfAt + 1;
            return true;
        }
        const void* crp = std::memchr(base + m_pos, '\r', lfAt - m_pos);
        if (crp != nullptr) {
            const auto at = static_cast<std::size_t>(static_cast<const char*>(crp) - base);
            if (at + 1 == lfAt && lfp != nullptr) {
                l = {m_pos, at, lfAt + 1, false};
                m_pos = lfAt + 1;
                return true;
            }
            if (at + 1 == n) return lastLine(l, at, n);
            l = {m_pos, at, at + 1, false};
            m_pos = at + 1;
            return true;
        }
        if (lfp == nullptr) return lastLine(l, n);
        l = {m_pos, lfAt, lfAt + 1, false};
        m_pos = lfAt + 1;
        return true;
    }

private:
    bool lastLine(Line& l, std::size_t cend, std::size_t end) {
        l = {m_pos, cend, end, true};
        m_done = true;
        return true;
    }
    bool lastLine(Line& l, std::size_t n) { return lastLine(l, n, n); }

    std::string_view m_t;
    bool m_lf;
    bool m_loneCr;
    std::size_t m_pos;
    bool m_done = false;
};

// Whether a text holds a CR that does not end a line together with an LF.
// Sixteen bytes at a time: a CRLF file has a CR on every line.
bool hasLoneCr(std::string_view t) {
    const char* p = t.data();
    const std::size_t n = t.size();
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    for (; i + 17 <= n; i += 16) {
        const auto crs = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), cr)));
        if (crs == 0) continue;
        const auto lfs = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1)), lf)));
        if ((crs & ~lfs) != 0) return true;
    }
#endif
    for (; i < n; ++i) {
        if (p[i] == '\r' && (i + 1 == n || p[i + 1] != '\n')) return true;
    }
    return false;
}

constexpr bool isControlByte(unsigned char c) {
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F;
}

// The line as the reader gets it: "<BR>" and "<br>" made "\N", control
// characters removed (as the conversion prepares each line).
std::string_view prepare(std::string_view raw, std::string& buf) {
    bool ctl = false;
    for (std::size_t i = 0; i < raw.size() && !ctl; ++i) {
        const auto c = static_cast<unsigned char>(raw[i]);
        ctl = isControlByte(c) || (c == 0xC2 && i + 1 < raw.size() &&
                                   static_cast<unsigned char>(raw[i + 1]) >= 0x80 &&
                                   static_cast<unsigned char>(raw[i + 1]) < 0xA0);
    }
    const bool br = raw.find('<') != npos && (raw.find("<BR>") != npos || raw.find("<br>") != npos);
    if (!ctl && !br) return raw;
    std::string s(raw);
    if (br) s = ReplaceAll(ReplaceAll(s, "<BR>", "\\N"), "<br>", "\\N");
    if (ctl) {
        std::string out;
        out.reserve(s.size());
        for (std::size_t i = 0; i < s.size(); ++i) {
            const auto c = static_cast<unsigned char>(s[i]);
            if (isControlByte(c) || c == '\r') continue;
            if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
                static_cast<unsigned char>(s[i + 1]) < 0xA0) {
                ++i;
                continue;
            }
            out.push_back(s[i]);
        }
        s = std::move(out);
    }
    buf = std::move(s);
    return buf;
}

bool isSpaceBlank(std::string_view s) { return TrimSpaces(s).empty(); }
bool isVttBlank(std::string_view s) { return s.find_first_not_of(" \t") == npos; }
bool hasArrow(std::string_view s) { return s.find("-->") != npos; }
bool onlyDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}
bool startsWithWord(std::string_view line, std::string_view word) {
    if (line.substr(0, word.size()) != word) return false;
    return line.size() == word.size() || line[word.size()] == ' ' || line[word.size()] == '\t';
}

// The order the conversion sorts entries in: start, spans before lone
// starts, end; the entry's text decides between equal times.
struct TimeKey {
    int64_t start = 0;
    int64_t end = 0;
};
int64_t entryTime(std::string_view t) {
    if (IsCanonicalTime(t)) return CanonicalTimeMs(t);
    if (const int64_t ms = TableTimeMs(t); ms >= 0) return ms;
    return static_cast<int64_t>(TimeToMSecs(TrimSpaces(t), ","));
}
TimeKey timeKeyOf(std::string_view entry) {
    const EntryParts p = SplitEntry(entry);
    TimeKey k;
    k.start = entryTime(p.start);
    k.end = p.hasArrow ? entryTime(p.end) : std::numeric_limits<int64_t>::max();
    return k;
}
bool keyLess(const TimeKey& a, const TimeKey& b) {
    return a.start != b.start ? a.start < b.start : a.end < b.end;
}
bool keyEqual(const TimeKey& a, const TimeKey& b) { return a.start == b.start && a.end == b.end; }

KeptCue cueOfEntry(std::string_view entry) {
    const EntryParts p = SplitEntry(entry);
    KeptCue c;
    c.start = static_cast<int64_t>(TimeToMSecs(TrimSpaces(p.start), ","));
    c.end = p.hasArrow ? static_cast<int64_t>(TimeToMSecs(TrimSpaces(p.end), ",")) : kKeptNoEnd;
    c.text = std::string(TrimSpaces(p.text));
    return c;
}

// The lines of an editor text: "\N", "\n" and real line ends break it;
// blank lines are left out (in SubRip and WebVTT they would end the cue).
std::vector<std::string_view> textLines(std::string_view text) {
    std::vector<std::string_view> out;
    text = TrimSpaces(text);
    std::size_t from = 0;
    for (std::size_t i = 0; i <= text.size();) {
        std::size_t len = 0;
        if (i == text.size()) {
            len = 0;
        } else if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'N' || text[i + 1] == 'n')) {
            len = 2;
        } else if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            len = 2;
        } else if (text[i] == '\r' || text[i] == '\n') {
            len = 1;
        } else {
            ++i;
            continue;
        }
        const std::string_view piece = text.substr(from, i - from);
        if (piece.find_first_not_of(" \t") != npos) out.push_back(piece);
        if (i == text.size()) break;
        i += len;
        from = i;
    }
    return out;
}

// The text with real line ends made `sep` (a field or a line must stay one line).
std::string oneLine(std::string_view text, std::string_view sep, bool breaksToo) {
    text = TrimSpaces(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += sep;
        } else if (breaksToo && c == '\\' && i + 1 < text.size() && (text[i + 1] == 'N' || text[i + 1] == 'n')) {
            out += sep;
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

// WebVTT cue text: "&", "<" and ">" escaped, the tags both sides keep (<i>,
// <b>, <u> and their ends) left as they are.
void appendVttEscaped(std::string& out, std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '<') {
            bool kept = false;
            for (std::string_view tag : {"<i>", "</i>", "<b>", "</b>", "<u>", "</u>"}) {
                if (line.substr(i, tag.size()) == tag) {
                    out.append(tag);
                    i += tag.size() - 1;
                    kept = true;
                    break;
                }
            }
            if (!kept) out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (c == '&') {
            out += "&amp;";
        } else {
            out += c;
        }
    }
}

void appendVttTime(std::string& out, int64_t ms, bool hours) {
    if (ms < 0) ms = 0;
    const int64_t h = ms / 3600000;
    char buf[40];
    int n = 0;
    if (hours || h > 0) {
        n = std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(h),
                          static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                          static_cast<long long>(ms % 1000));
    } else {
        n = std::snprintf(buf, sizeof buf, "%02lld:%02lld.%03lld", static_cast<long long>(ms / 60000 % 60),
                          static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    }
    out.append(buf, static_cast<std::size_t>(std::max(n, 0)));
}

// How an LRC time tag was written, to write a changed time the same way.
struct LrcTagStyle {
    int fields = 2;   // 2: minutes:seconds, 3: hours:minutes:seconds
    int digits = 2;   // fraction digits, 0 to 3
    char point = '.';
};

LrcTagStyle lrcStyleOf(std::string_view tag) {
    LrcTagStyle s;
    s.fields = static_cast<int>(std::count(tag.begin(), tag.end(), ':')) + 1;
    const auto dot = tag.find_first_of(".,");
    if (dot == npos) {
        s.digits = 0;
    } else {
        s.point = tag[dot];
        s.digits = static_cast<int>(std::min<std::size_t>(3, tag.size() - dot - 1));
    }
    if (s.fields < 2 || s.fields > 3) s = LrcTagStyle{};
    if (s.fields == 3 && s.digits == 0) s.digits = 2;  // such a tag needs a fraction
    return s;
}

void appendLrcTag(std::string& out, int64_t ms, const LrcTagStyle& s) {
    if (ms < 0) ms = 0;
    char buf[48];
    int n = 0;
    const auto ll = [](int64_t v) { return static_cast<long long>(v); };
    if (s.fields == 3) {
        n = std::snprintf(buf, sizeof buf, "[%02lld:%02lld:%02lld", ll(ms / 3600000), ll(ms / 60000 % 60),
                          ll(ms / 1000 % 60));
    } else {
        n = std::snprintf(buf, sizeof buf, "[%02lld:%02lld", ll(ms / 60000), ll(ms / 1000 % 60));
    }
    out.append(buf, static_cast<std::size_t>(std::max(n, 0)));
    const int64_t frac = ms % 1000;
    if (s.digits > 0) {
        out += s.point;
        if (s.digits == 3) {
            n = std::snprintf(buf, sizeof buf, "%03lld", ll(frac));
        } else if (s.digits == 2) {
            n = std::snprintf(buf, sizeof buf, "%02lld", ll(frac / 10));
        } else {
            n = std::snprintf(buf, sizeof buf, "%lld", ll(frac / 100));
        }
        out.append(buf, static_cast<std::size_t>(std::max(n, 0)));
    }
    out += ']';
}

// The tags that open an LRC line, as the reader takes them: time tags and
// metadata tags, blanks allowed around them; the first other tag begins the
// lyric.
struct LrcTags {
    std::vector<std::string_view> times;  // inside the brackets, trimmed
    std::string meta;                     // the metadata tags, as written
};
LrcTags lrcTagsOf(std::string_view line) {
    LrcTags tags;
    std::size_t at = 0;
    for (;;) {
        std::size_t open = at;
        while (open < line.size() && (line[open] == ' ' || line[open] == '\t')) ++open;
        if (open == line.size() || line[open] != '[') break;
        const auto close = line.find(']', open + 1);
        if (close == npos) break;
        const std::string_view tag = TrimSpaces(line.substr(open + 1, close - open - 1));
        if (LrcTagTime(tag)) {
            tags.times.push_back(tag);
        } else if (tag.find(':') != npos) {
            tags.meta.append(line.substr(open, close + 1 - open));
        } else {
            break;
        }
        at = close + 1;
    }
    return tags;
}

}  // namespace

struct KeptFile::Impl {
    Kind kind = Kind::Srt;
    std::string text;
    // Set while the text is let go: what it was, to know it again.
    bool released = false;
    std::size_t releasedSize = 0;
    uint64_t releasedPrint = 0;
    bool lf = true;
    std::string eol = "\n";
    LineReader reader = nullptr;
    ReadFinisher finish = nullptr;

    // Where each cue's lines lie, in file order; a unit may give several
    // cues (an LRC line with several time tags).
    struct Unit {
        uint64_t begin;
        uint64_t end;
    };
    std::vector<Unit> units;
    // File cue -> its unit and its place among the unit's entries; empty
    // when cue f is unit f's only one.
    struct Ref {
        uint32_t unit;
        uint32_t sub;
    };
    std::vector<Ref> refs;
    // Engine order -> file cue; empty when both orders agree.
    std::vector<uint32_t> order;
    // What the reader carries from line to line that changes a cue (SSA
    // columns, the LRC offset), as it stands before the first unit it holds
    // for; one entry for each change.
    struct Snap {
        uint32_t unit;
        int32_t start, end, text;  // SSA columns
        double offsetMs;           // LRC [offset:]
        static Snap Of(uint32_t unit, const ReaderState& st) {
            return {unit, st.ssaStartColumn, st.ssaEndColumn, st.ssaTextColumn, st.lrcOffsetMs};
        }
        bool Same(const ReaderState& st) const {
            return start == st.ssaStartColumn && end == st.ssaEndColumn && text == st.ssaTextColumn &&
                   offsetMs == st.lrcOffsetMs;
        }
        ReaderState State() const {
            ReaderState st;
            st.ssaStartColumn = start;
            st.ssaEndColumn = end;
            st.ssaTextColumn = text;
            st.lrcOffsetMs = offsetMs;
            return st;
        }
    };
    std::vector<Snap> snaps;
    std::size_t count = 0;
    // SubRip blocks that give no cue (no length, a repeat), by the index of
    // the unit they stand before: they count among the file's blocks.
    std::vector<uint32_t> passive;
    // The place of unit u among the file's SubRip blocks, from 1.
    std::size_t blockNumber(std::size_t u) const {
        return u + 1 + static_cast<std::size_t>(std::upper_bound(passive.begin(), passive.end(), u) - passive.begin());
    }

    // No line needs preparing (no control character, no "<BR>"): lines are
    // read as they stand.
    bool clean = false;
    bool loneCr = true;
    LineCursor cursor(std::size_t from) const { return LineCursor(text, lf, from, loneCr); }

    bool late() const { return kind == Kind::Srt || kind == Kind::Vtt; }
    std::string_view prep(const Line& ln, std::string& buf) const {
        const std::string_view raw = view(ln.begin, ln.cend);
        return clean ? raw : prepare(raw, buf);
    }
    Ref refOf(std::size_t f) const { return refs.empty() ? Ref{static_cast<uint32_t>(f), 0} : refs[f]; }
    std::size_t fileCue(std::size_t i) const { return order.empty() ? i : order[i]; }
    std::size_t fileCues() const { return refs.empty() ? units.size() : refs.size(); }
    // The file cues of unit u: [first, last).
    std::pair<std::size_t, std::size_t> cuesOfUnit(std::size_t u) const {
        if (refs.empty()) return {u, u + 1};
        const auto lo = std::lower_bound(refs.begin(), refs.end(), u,
                                         [](const Ref& r, std::size_t v) { return r.unit < v; });
        const auto hi = std::upper_bound(lo, refs.end(), u,
                                         [](std::size_t v, const Ref& r) { return v < r.unit; });
        return {static_cast<std::size_t>(lo - refs.begin()), static_cast<std::size_t>(hi - refs.begin())};
    }
    ReaderState stateFor(std::size_t u) const {
        const auto it = std::upper_bound(snaps.begin(), snaps.end(), u,
                                         [](std::size_t v, const Snap& s) { return v < s.unit; });
        return std::prev(it)->State();
    }
    std::string_view view(std::size_t b, std::size_t e) const { return std::string_view(text).substr(b, e - b); }

    bool isTiming(std::string_view prepared, bool vttFileStart) const {
        if (!hasArrow(prepared)) return false;
        return !(kind == Kind::Vtt && vttFileStart && startsWithWord(prepared, "WEBVTT"));
    }

    // The line-table entries unit u gives, read again from its lines.
    LineTable entriesOf(std::size_t u) const { return entriesFrom(u, units[u].begin); }
    LineTable entriesFrom(std::size_t u, std::size_t from) const;
    // The cue of file cue f; the usual SubRip block without the reader.
    KeptCue cueOf(std::size_t f) const;
    bool quickSrtCue(std::size_t u, KeptCue& c) const;
    struct QuickSrt {
        int64_t start = 0, end = 0;
        std::string_view lines[8];
        std::size_t count = 0;
    };
    bool quickSrt(std::size_t u, QuickSrt& q) const;
    // Whether file cue f holds these values (without building its text when it can).
    bool sameCue(std::size_t f, int64_t start, int64_t end, std::string_view text) const;
    void parseSrt(std::vector<TimeKey>& keys);
    std::string entryOf(std::size_t f) const {
        const Ref r = refOf(f);
        if (!refs.empty()) {
            // A line of many time tags is not read again for each of them:
            // its entries differ only in their starts.
            const auto it = std::lower_bound(multiText.begin(), multiText.end(), r.unit,
                                             [](const auto& e, uint32_t u) { return e.first < u; });
            if (it != multiText.end() && it->first == r.unit) {
                std::string entry;
                AppendTimeStyle0(entry, static_cast<double>(multiStart[f]));
                entry += '|';
                entry += it->second;
                return entry;
            }
        }
        LineTable t = entriesOf(r.unit);
        return r.sub + 1 < t.size() ? std::string(t[r.sub + 1]) : std::string();
    }
    // Units of several cues (LRC lines of several time tags): the text their
    // entries share, by unit; and the start of every file cue (kept only
    // when such units exist).
    std::vector<std::pair<uint32_t, std::string>> multiText;
    std::vector<int64_t> multiStart;

    void parse();
    void orderCues(std::vector<TimeKey>& keys);
};

LineTable KeptFile::Impl::entriesFrom(std::size_t u, std::size_t from) const {
    LineTable table(1);
    const TimingRules rules{};
    ReaderState state = late() ? ReaderState{} : stateFor(u);
    ReaderContext ctx{table, rules, state};
    LineCursor cur = cursor(from);
    Line ln;
    std::string buf;
    if (kind == Kind::Ssa || kind == Kind::Lrc) {
        if (cur.Next(ln)) reader(prep(ln, buf), ln.last, ctx);
        return table;
    }
    if (kind == Kind::Vtt) {
        // Between two blocks, as every timing line the reader takes is.
        reader("x", false, ctx);
        reader("", false, ctx);
    }
    bool timed = false;
    bool stopped = false;  // at the line that ends the cue (not fed)
    while (cur.Next(ln)) {
        const std::string_view p = prep(ln, buf);
        if (timed && (hasArrow(p) || (kind == Kind::Vtt && isVttBlank(p)))) {
            stopped = true;
            break;
        }
        if (!timed && hasArrow(p)) {
            timed = true;
            reader(p, false, ctx);
        } else {
            reader(p, ln.last && kind == Kind::Srt, ctx);
        }
        if (ln.last) break;
    }
    if (kind == Kind::Srt) {
        // Closed as the next time line or the end of the file closes it.
        if (stopped) {
            reader("-->", false, ctx);
        } else if (finish) {
            finish(ctx);
        }
    } else {
        reader("", false, ctx);
    }
    return table;
}

namespace {

// "HH:MM:SS,mmm --> HH:MM:SS,mmm" exactly (hours of any width): both times
// go into the line table as they stand, and read back as they are written.
int64_t tableTime(std::string_view t) {
    if (IsCanonicalTime(t)) return CanonicalTimeMs(t);
    return TableTimeMs(t);
}
bool plainTimingLine(std::string_view t, int64_t& start, int64_t& end) {
    const auto arrow = t.find(" --> ");
    if (arrow == npos || arrow < 12 || t.size() < arrow + 17) return false;
    start = tableTime(t.substr(0, arrow));
    end = tableTime(t.substr(arrow + 5));
    return start >= 0 && end >= 0;
}

// Whether a text holds anything the line preparation changes: a control
// character (C0 but tab and line ends, DEL, C1) or "<BR>"/"<br>". Sixteen
// bytes at a time, looking closer only at a "<" or a C1 lead byte.
bool needsPreparingAt(std::string_view t, std::size_t i) {
    const auto c = static_cast<unsigned char>(t[i]);
    if (isControlByte(c)) return true;
    if (c == 0xC2) {
        return i + 1 < t.size() && static_cast<unsigned char>(t[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(t[i + 1]) < 0xA0;
    }
    if (c == '<') {
        const std::string_view four = t.substr(i, 4);
        return four == "<BR>" || four == "<br>";
    }
    return false;
}

bool needsPreparing(std::string_view t) {
    const std::size_t n = t.size();
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(0x20), zero = _mm_setzero_si128();
    const __m128i tab = _mm_set1_epi8('\t'), lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    const __m128i del = _mm_set1_epi8(0x7F), lead = _mm_set1_epi8(static_cast<char>(0xC2));
    const __m128i lt = _mm_set1_epi8('<');
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.data() + i));
        const __m128i low = _mm_andnot_si128(_mm_cmplt_epi8(v, zero), _mm_cmplt_epi8(v, space));
        const __m128i ends = _mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)));
        const __m128i ctl = _mm_or_si128(_mm_andnot_si128(ends, low), _mm_cmpeq_epi8(v, del));
        if (_mm_movemask_epi8(ctl) != 0) return true;
        auto look = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lead), _mm_cmpeq_epi8(v, lt))));
        while (look != 0) {
            if (needsPreparingAt(t, i + static_cast<std::size_t>(__builtin_ctz(look)))) return true;
            look &= look - 1;
        }
    }
#endif
    for (; i < n; ++i) {
        if (needsPreparingAt(t, i)) return true;
    }
    return false;
}

}  // namespace

KeptCue KeptFile::Impl::cueOf(std::size_t f) const {
    KeptCue c;
    if (kind == Kind::Srt && clean && quickSrtCue(refOf(f).unit, c)) return c;
    return cueOfEntry(entryOf(f));
}

// A block of the usual shape: counter, plain timing line, text lines, blank
// lines and the next counter before the next timing line. Its cue is what
// the reader makes of it; any other shape (and the file's last block) is
// left to the reader.
bool KeptFile::Impl::quickSrt(std::size_t u, QuickSrt& q) const {
    LineCursor cur = cursor(units[u].begin);
    Line ln;
    if (!cur.Next(ln) || ln.last) return false;
    std::string_view line = view(ln.begin, ln.cend);
    if (!hasArrow(line)) {
        if (!cur.Next(ln) || ln.last) return false;
        line = view(ln.begin, ln.cend);
    }
    if (!plainTimingLine(line, q.start, q.end)) return false;
    q.count = 0;
    int phase = 0;  // 0 text, 1 blank lines, 2 a number after them
    for (;;) {
        if (!cur.Next(ln) || ln.last) return false;
        line = view(ln.begin, ln.cend);
        if (hasArrow(line)) break;
        const std::string_view trimmed = TrimSpaces(line);
        if (trimmed.empty()) {
            if (phase == 0) phase = 1;
            continue;
        }
        if (phase == 0) {
            if (q.count == std::size(q.lines)) return false;
            q.lines[q.count++] = line;
        } else if (phase == 1 && onlyDigits(trimmed) && trimmed.size() <= 23) {
            phase = 2;
        } else {
            return false;
        }
    }
    // Without a blank line, a last line of digits is the next counter.
    if (phase == 0 && q.count > 0 && onlyDigits(TrimSpaces(q.lines[q.count - 1]))) --q.count;
    // The lines are joined and trimmed as a whole; each holds more than spaces.
    if (q.count > 0) {
        std::string_view& first = q.lines[0];
        first.remove_prefix(first.find_first_not_of(' '));
        std::string_view& last = q.lines[q.count - 1];
        last.remove_suffix(last.size() - 1 - last.find_last_not_of(' '));
    }
    return true;
}

bool KeptFile::Impl::quickSrtCue(std::size_t u, KeptCue& c) const {
    QuickSrt q;
    if (!quickSrt(u, q)) return false;
    c.start = q.start;
    c.end = q.end;
    std::size_t size = 0;
    for (std::size_t i = 0; i < q.count; ++i) size += q.lines[i].size() + 2;
    c.text.clear();
    c.text.reserve(size);
    for (std::size_t i = 0; i < q.count; ++i) {
        if (i > 0) c.text += "\\N";
        c.text.append(q.lines[i]);
    }
    return true;
}

bool KeptFile::Impl::sameCue(std::size_t f, int64_t start, int64_t end, std::string_view text) const {
    QuickSrt q;
    if (kind == Kind::Srt && clean && quickSrt(refOf(f).unit, q)) {
        if (q.start != start || q.end != end) return false;
        for (std::size_t i = 0; i < q.count; ++i) {
            if (i > 0) {
                if (text.substr(0, 2) != "\\N") return false;
                text.remove_prefix(2);
            }
            if (text.substr(0, q.lines[i].size()) != q.lines[i]) return false;
            text.remove_prefix(q.lines[i].size());
        }
        return text.empty();
    }
    const KeptCue c = cueOf(f);
    return c.start == start && c.end == end && c.text == text;
}

// SubRip, block by block: whatever came before, the reader starts each
// timing line afresh, so a block is read alone, and the usual block not at
// all (its times are all the order needs).
void KeptFile::Impl::parseSrt(std::vector<TimeKey>& keys) {
    LineEnds ends;
    struct Pending {
        bool open = false;
        std::size_t begin = 0, timing = 0;
        bool plain = false;
        int64_t start = 0, end = 0;
        std::size_t lines = 0;
        std::size_t contentEnd = 0, blankAfter = npos, prevContentEnd = 0, prevBlankAfter = npos;
    } pending;
    bool prevDigits = false;
    std::size_t prevBegin = 0;
    const auto close = [&](std::size_t limit, bool last) {
        if (!pending.open) return;
        pending.open = false;
        std::size_t n = 0;
        if (!last && pending.plain && pending.lines > 0) {
            if (pending.start != pending.end) {
                keys.push_back({pending.start, pending.end});
                n = 1;
            }
        } else {
            const LineTable t = entriesFrom(0, pending.timing);
            for (std::size_t k = 1; k < t.size(); ++k) keys.push_back(timeKeyOf(t[k]));
            n = t.size() - 1;
        }
        if (n == 0) {
            passive.push_back(static_cast<uint32_t>(units.size()));
            return;
        }
        if (n > 1) {
            if (refs.empty()) {
                for (std::size_t f = 0; f < units.size(); ++f) refs.push_back({static_cast<uint32_t>(f), 0});
            }
        }
        if (!refs.empty()) {
            for (std::size_t k = 0; k < n; ++k) {
                refs.push_back({static_cast<uint32_t>(units.size()), static_cast<uint32_t>(k)});
            }
        }
        std::size_t end = pending.blankAfter != npos ? pending.blankAfter : pending.contentEnd;
        if (end > limit) end = pending.prevBlankAfter != npos ? pending.prevBlankAfter : pending.prevContentEnd;
        end = std::min(end, limit);
        units.push_back({pending.begin, std::max(end, pending.begin)});
    };
    // A block takes some 90 bytes; growing past the reservation would move
    // the whole index.
    units.reserve(text.size() / 64 + 16);
    keys.reserve(text.size() / 64 + 16);
    LineCursor cur = cursor(0);
    Line ln;
    std::string buf;
    while (cur.Next(ln)) {
        ends.Count(text, ln);
        const std::string_view p = prep(ln, buf);
        if (hasArrow(p)) {
            const std::size_t begin = prevDigits ? prevBegin : ln.begin;
            close(begin, false);
            pending = Pending{};
            pending.open = true;
            pending.begin = begin;
            pending.timing = ln.begin;
            pending.plain = plainTimingLine(p, pending.start, pending.end);
            pending.contentEnd = pending.prevContentEnd = ln.end;
            prevDigits = false;
            continue;
        }
        const std::string_view trimmed = TrimSpaces(p);
        if (pending.open) {
            ++pending.lines;
            if (trimmed.empty()) {
                if (pending.blankAfter == npos) pending.blankAfter = ln.end;
            } else {
                pending.prevContentEnd = pending.contentEnd;
                pending.prevBlankAfter = pending.blankAfter;
                pending.contentEnd = ln.end;
                pending.blankAfter = npos;
            }
        }
        prevDigits = onlyDigits(trimmed);
        prevBegin = ln.begin;
    }
    close(text.size(), true);
    if (const char* dominant = ends.Dominant()) eol = dominant;
}

void KeptFile::Impl::parse() {
    lf = std::memchr(text.data(), '\n', text.size()) != nullptr;
    clean = !needsPreparing(text);
    loneCr = !lf || hasLoneCr(text);
    if (kind == Kind::Srt) {
        std::vector<TimeKey> keys;
        snaps.push_back(Snap::Of(0, ReaderState{}));
        parseSrt(keys);
        orderCues(keys);
        return;
    }
    LineTable table(1);
    const TimingRules rules{};
    ReaderState state;
    ReaderContext ctx{table, rules, state};
    snaps.push_back(Snap::Of(0, state));
    std::vector<TimeKey> keys;
    std::vector<Ref> allRefs;
    bool multi = false;
    LineEnds ends;

    // The cue whose timing line was read last (SubRip, WebVTT): its end is
    // known only once the next one begins.
    struct Pending {
        bool open = false;
        std::size_t begin = 0;
        std::size_t entries = 0;
        std::size_t contentEnd = 0;      // after the last line that belongs to it
        std::size_t blankAfter = npos;   // after the first blank line after that
        std::size_t prevContentEnd = 0;  // the same before the last content line
        std::size_t prevBlankAfter = npos;
        bool closed = false;             // WebVTT: a blank line ended its text
    } pending;
    struct Prev {
        bool valid = false;
        std::size_t begin = 0;
        bool blank = true;
        bool arrow = false;
        bool digits = false;
    } prev, prevPrev;

    const auto takeEntries = [&](std::size_t unit) {
        for (std::size_t k = 1; k < table.size(); ++k) {
            keys.push_back(timeKeyOf(table[k]));
            allRefs.push_back({static_cast<uint32_t>(unit), static_cast<uint32_t>(k - 1)});
            if (k > 1) multi = true;
        }
        if (table.size() > 2) {
            // The reader gives every tag of a line the same text.
            const EntryParts p = SplitEntry(table[1]);
            multiText.emplace_back(static_cast<uint32_t>(unit), std::string(p.text));
        }
        const std::size_t n = table.size() - 1;
        table.shrinkReusing(1);
        return n;
    };
    const auto finishPending = [&](std::size_t limit) {
        if (!pending.open) return;
        pending.open = false;
        if (pending.entries == 0) return;
        std::size_t end = pending.blankAfter != npos ? pending.blankAfter : pending.contentEnd;
        if (end > limit) {
            // Its last content line is the next cue's counter.
            end = pending.prevBlankAfter != npos ? pending.prevBlankAfter : pending.prevContentEnd;
        }
        end = std::min(end, limit);
        units.push_back({pending.begin, std::max<std::size_t>(end, pending.begin)});
    };

    LineCursor cur = cursor(0);
    Line ln;
    std::string buf;
    bool vttFileStart = true;
    while (cur.Next(ln)) {
        ends.Count(text, ln);
        const std::string_view p = prep(ln, buf);
        if (!late()) {
            reader(p, ln.last, ctx);
            if (table.size() > 1) {
                takeEntries(units.size());
                units.push_back({ln.begin, ln.end});
            }
            if (!snaps.back().Same(state)) snaps.push_back(Snap::Of(static_cast<uint32_t>(units.size()), state));
            continue;
        }
        const bool blank = kind == Kind::Vtt ? isVttBlank(p) : isSpaceBlank(p);
        const bool timing = isTiming(p, vttFileStart);
        if (!blank) vttFileStart = false;
        if (timing) {
            // The unit begins at its counter (SubRip) or identifier (WebVTT).
            std::size_t begin = ln.begin;
            if (kind == Kind::Srt && prev.valid && prev.digits) begin = prev.begin;
            if (kind == Kind::Vtt && prev.valid && !prev.blank && !prev.arrow && (!prevPrev.valid || prevPrev.blank)) {
                begin = prev.begin;
            }
            const bool lastTiming = ln.last && kind == Kind::Vtt;
            reader(p, ln.last && !lastTiming, ctx);
            if (pending.open) pending.entries += takeEntries(units.size());
            finishPending(begin);
            table.shrinkReusing(1);  // nothing else was open
            pending = Pending{};
            pending.open = true;
            pending.begin = begin;
            pending.contentEnd = ln.end;
            pending.prevContentEnd = ln.end;
            if (lastTiming) {
                reader("", true, ctx);
                pending.entries += takeEntries(units.size());
            }
        } else {
            reader(p, ln.last, ctx);
            if (pending.open) {
                pending.entries += takeEntries(units.size());
                if (kind == Kind::Vtt) {
                    if (!pending.closed) {
                        if (blank) {
                            pending.blankAfter = ln.end;
                            pending.closed = true;
                        } else {
                            pending.contentEnd = ln.end;
                        }
                    }
                } else if (blank) {
                    if (pending.blankAfter == npos) pending.blankAfter = ln.end;
                } else {
                    pending.prevContentEnd = pending.contentEnd;
                    pending.prevBlankAfter = pending.blankAfter;
                    pending.contentEnd = ln.end;
                    pending.blankAfter = npos;
                }
            } else {
                table.shrinkReusing(1);
            }
        }
        prevPrev = prev;
        prev = {true, ln.begin, blank, hasArrow(p), kind == Kind::Srt && onlyDigits(TrimSpaces(p))};
    }
    if (late()) {
        if (finish) finish(ctx);
        if (pending.open) pending.entries += takeEntries(units.size());
        finishPending(text.size());
    }
    if (const char* dominant = ends.Dominant()) eol = dominant;
    if (multi) {
        refs = std::move(allRefs);
        multiStart.reserve(keys.size());
        for (const TimeKey& k : keys) multiStart.push_back(k.start);
    }
    orderCues(keys);
}

// The conversion removes entries equal but for letter case and sorts by time
// (the entry's text deciding ties): the same here, the texts read again only
// for cues that share their times.
void KeptFile::Impl::orderCues(std::vector<TimeKey>& keys) {
    const std::size_t n = keys.size();
    bool sorted = true;
    bool ties = false;
    for (std::size_t f = 1; f < n; ++f) {
        if (keyLess(keys[f], keys[f - 1])) sorted = false;
        if (keyEqual(keys[f], keys[f - 1])) ties = true;
    }
    if (sorted && !ties) {
        count = n;
        return;
    }
    std::vector<uint32_t> idx(n);
    std::iota(idx.begin(), idx.end(), 0u);
    if (!sorted) {
        std::stable_sort(idx.begin(), idx.end(), [&](uint32_t a, uint32_t b) { return keyLess(keys[a], keys[b]); });
    }
    std::vector<char> removed(n, 0);
    bool anyRemoved = false;
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i + 1;
        while (j < n && keyEqual(keys[idx[j]], keys[idx[i]])) ++j;
        if (j - i > 1) {
            std::vector<uint32_t> run(idx.begin() + static_cast<std::ptrdiff_t>(i),
                                      idx.begin() + static_cast<std::ptrdiff_t>(j));
            std::sort(run.begin(), run.end());
            std::vector<std::string> entries;
            entries.reserve(run.size());
            for (uint32_t f : run) entries.push_back(entryOf(f));
            LineTable mini(1);
            for (const std::string& e : entries) mini.push_back(e);
            RemoveDuplicateLines(mini);
            std::vector<uint32_t> kept;
            for (std::size_t a = 0, b = 1; a < run.size(); ++a) {
                if (b < mini.size() && mini[b] == entries[a]) {
                    kept.push_back(static_cast<uint32_t>(a));
                    ++b;
                } else {
                    removed[run[a]] = 1;
                    anyRemoved = true;
                }
            }
            std::sort(kept.begin(), kept.end(),
                      [&](uint32_t a, uint32_t b) { return OrdinalLess(entries[a], entries[b]); });
            std::size_t at = i;
            for (uint32_t a : kept) idx[at++] = run[a];
            for (std::size_t a = 0; a < run.size(); ++a) {
                if (removed[run[a]]) idx[at++] = run[a];
            }
        }
        i = j;
    }
    if (anyRemoved) {
        // Removed cues are no cues: a unit left without any is kept as
        // written, as a part of the file between cues.
        std::vector<uint32_t> newCue(n, 0);
        std::vector<uint32_t> newUnit(units.size() + 1, 0);
        std::vector<char> unitKept(units.size(), 0);
        for (std::size_t f = 0; f < n; ++f) {
            if (!removed[f]) unitKept[refOf(f).unit] = 1;
        }
        std::vector<Unit> keptUnits;
        for (std::size_t u = 0; u < units.size(); ++u) {
            newUnit[u] = static_cast<uint32_t>(keptUnits.size());
            if (unitKept[u]) keptUnits.push_back(units[u]);
        }
        newUnit[units.size()] = static_cast<uint32_t>(keptUnits.size());
        std::vector<Ref> keptRefs;
        std::vector<int64_t> keptStarts;
        for (std::size_t f = 0; f < n; ++f) {
            if (removed[f]) continue;
            const Ref r = refOf(f);
            newCue[f] = static_cast<uint32_t>(keptRefs.size());
            keptRefs.push_back({newUnit[r.unit], r.sub});
            if (!multiStart.empty()) keptStarts.push_back(multiStart[f]);
        }
        multiStart = std::move(keptStarts);
        std::vector<std::pair<uint32_t, std::string>> keptTexts;
        for (auto& [u, t] : multiText) {
            if (unitKept[u]) keptTexts.emplace_back(newUnit[u], std::move(t));
        }
        multiText = std::move(keptTexts);
        for (Snap& s : snaps) s.unit = newUnit[std::min<std::size_t>(s.unit, units.size())];
        for (uint32_t& p : passive) p = newUnit[std::min<std::size_t>(p, units.size())];
        for (std::size_t u = 0; u < units.size(); ++u) {
            if (!unitKept[u]) passive.push_back(newUnit[u]);
        }
        std::sort(passive.begin(), passive.end());
        units = std::move(keptUnits);
        refs = std::move(keptRefs);
        std::vector<uint32_t> kept;
        kept.reserve(n);
        for (uint32_t f : idx) {
            if (!removed[f]) kept.push_back(newCue[f]);
        }
        idx = std::move(kept);
        bool plain = refs.size() == units.size();
        for (std::size_t f = 0; f < refs.size() && plain; ++f) plain = refs[f].unit == f && refs[f].sub == 0;
        if (plain) {
            refs.clear();
            multiStart.clear();
            multiText.clear();
        }
    }
    count = idx.size();
    bool identity = true;
    for (std::size_t i = 0; i < idx.size() && identity; ++i) identity = idx[i] == i;
    if (identity) {
        order.clear();
    } else {
        order = std::move(idx);
    }
}

// ---- writing -----------------------------------------------------------

namespace {

// Collects the output and hands it on in pieces; remembers how it ends, so
// that parts that did not follow each other in the file are kept apart.
class Emitter {
public:
    /// `crLines`: lines end at CR alone (a text without LF).
    Emitter(const std::function<void(std::string_view)>& sink, bool crLines) : m_sink(sink), m_crLines(crLines) {}
    ~Emitter() { flush(); }

    void put(std::string_view s) {
        if (s.empty()) return;
        m_buf.append(s);
        m_total += s.size();
        // The last four bytes, oldest first.
        for (const char c : s.substr(s.size() > 4 ? s.size() - 4 : 0)) {
            std::memmove(m_tail, m_tail + 1, 3);
            m_tail[3] = c;
        }
        // Pieces end with whole lines.
        if (m_buf.size() >= (std::size_t{1} << 16) && m_tail[3] == (m_crLines ? '\r' : '\n')) flush();
    }
    bool empty() const { return m_total == 0; }
    bool endsWithLineEnd() const { return m_total > 0 && (m_tail[3] == '\n' || m_tail[3] == '\r'); }
    // The output ends with an empty line (or is one line end alone).
    bool endsWithBlank() const {
        if (!endsWithLineEnd()) return false;
        std::string_view t(m_tail + 4 - std::min<std::size_t>(4, m_total), std::min<std::size_t>(4, m_total));
        t.remove_suffix(t.ends_with("\r\n") ? 2 : 1);
        return t.empty() || t.back() == '\n' || t.back() == '\r';
    }
    void flush() {
        if (!m_buf.empty()) m_sink(m_buf);
        m_buf.clear();
    }

private:
    const std::function<void(std::string_view)>& m_sink;
    bool m_crLines;
    std::string m_buf;
    char m_tail[4] = {0, 0, 0, 0};
    std::size_t m_total = 0;
};

bool startsWithBlankLine(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    return i < s.size() && (s[i] == '\n' || s[i] == '\r');
}

}  // namespace

namespace {

struct WriteJob {
    const KeptFile::Impl& m;
    const std::vector<KeptFile::Out>& cues;
    Emitter out;
    std::size_t nextGap = 0;
    std::size_t prevEnd = npos;  // where the last piece written from the file ended
    std::size_t number = 0;      // SubRip counters given so far
    std::vector<int64_t> fileOf;   // output cue -> file cue, -1: new
    std::vector<int64_t> outOf;    // file cue -> output cue, -1: gone
    std::vector<char> same;        // output cue equals its original
    std::vector<char> metaDone;      // LRC units whose metadata tags were written

    WriteJob(const KeptFile::Impl& impl, const std::vector<KeptFile::Out>& c,
             const std::function<void(std::string_view)>& sink)
        : m(impl), cues(c), out(sink, !impl.lf) {}

    std::size_t unitOfFile(std::size_t f) const { return m.refOf(f).unit; }

    std::pair<std::size_t, std::size_t> gapRange(std::size_t k) const {
        const std::size_t b = k == 0 ? 0 : m.units[k - 1].end;
        const std::size_t e = k == m.units.size() ? m.text.size() : m.units[k].begin;
        return {b, std::max(b, e)};
    }

    // Keeps a part that did not follow the last one in the file apart from it.
    void separate(std::size_t begin, bool isCue, std::string_view next) {
        if (begin == prevEnd || out.empty()) return;
        if (!out.endsWithLineEnd()) out.put(m.eol);
        if (m.late() && !out.endsWithBlank() && (isCue || !startsWithBlankLine(next))) out.put(m.eol);
    }

    void gap(std::size_t k) {
        const auto [b, e] = gapRange(k);
        if (b == e) return;
        const std::string_view s = m.view(b, e);
        separate(b, false, s);
        out.put(s);
        prevEnd = e;
        if (m.kind == Kind::Srt && s.find("-->") != npos) {
            // Blocks that give no cue (no length, a repeat) keep their
            // counters, and the counting goes on past them.
            LineCursor cur = m.cursor(b);
            Line ln;
            std::string buf;
            while (cur.Next(ln) && ln.begin < e) {
                if (hasArrow(m.prep(ln, buf))) ++number;
            }
        }
    }
    void gapsThrough(std::size_t k) {
        k = std::min(k, m.units.size());
        while (nextGap <= k && nextGap <= m.units.size()) gap(nextGap++);
    }

    int64_t endFor(std::size_t k) const {
        const KeptFile::Out& c = cues[k];
        if (c.end != kKeptNoEnd) return c.end;
        if (k + 1 < cues.size() && cues[k + 1].start > c.start) return cues[k + 1].start;
        return c.start + static_cast<int64_t>(kDefaultDurationMs);
    }

    // ---- SubRip and WebVTT blocks ----

    // A block's lines: the ones before its timing line, the timing line, and
    // where its text ends.
    struct Block {
        std::size_t begin, timing, timingCend, timingEnd, contentCend, end;
    };
    Block blockOf(std::size_t u) const {
        const auto& unit = m.units[u];
        Block b{unit.begin, unit.begin, unit.begin, unit.begin, unit.begin, unit.end};
        LineCursor cur = m.cursor(unit.begin);
        Line ln;
        std::string buf;
        bool timed = false;
        while (cur.Next(ln) && ln.begin < unit.end) {
            const std::string_view p = m.prep(ln, buf);
            if (!timed) {
                if (hasArrow(p)) {
                    timed = true;
                    b.timing = ln.begin;
                    b.timingCend = ln.cend;
                    b.timingEnd = ln.end;
                    b.contentCend = ln.cend;
                }
                continue;
            }
            const bool blank = m.kind == Kind::Vtt ? isVttBlank(p) : isSpaceBlank(p);
            if (!blank) b.contentCend = ln.cend;
        }
        if (!timed) b.timing = b.timingCend = b.timingEnd = b.contentCend = unit.begin;
        return b;
    }

    // A counter is rewritten when it was the block's place in the file and
    // no longer is; one that never was (a file numbered its own way) stays.
    bool renumber(std::string_view was, std::string_view want, std::size_t u) const {
        if (was == want) return false;
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, m.blockNumber(u));
        return was == std::string_view(digits, static_cast<std::size_t>(r.ptr - digits));
    }

    void counterLine(std::size_t u, const Block& b, std::string& s) {
        ++number;
        if (m.kind != Kind::Srt || b.timing == b.begin) return;
        const std::string_view counter = m.view(b.begin, b.timing);
        std::size_t cend = counter.size();
        while (cend > 0 && (counter[cend - 1] == '\n' || counter[cend - 1] == '\r')) --cend;
        std::string buf;
        if (!renumber(TrimSpaces(m.clean ? counter.substr(0, cend) : prepare(counter.substr(0, cend), buf)),
                      std::to_string(number), u)) {
            s.append(counter);
        } else {
            s.append(std::to_string(number));
            s.append(cend < counter.size() ? counter.substr(cend) : std::string_view(m.eol));
        }
    }

    // The timing line with new times: the rest of it (arrow, spaces, cue
    // settings, coordinates) as it was.
    std::string timingLine(std::string_view line, int64_t start, int64_t end) const {
        const bool vtt = m.kind == Kind::Vtt;
        const auto isBlankChar = [&](char c) { return c == ' ' || (vtt && c == '\t'); };
        const auto arrow = line.find("-->");
        std::size_t a = 0;
        while (a < arrow && isBlankChar(line[a])) ++a;
        std::size_t ae = arrow;
        while (ae > a && isBlankChar(line[ae - 1])) --ae;
        std::size_t b = arrow + 3;
        while (b < line.size() && isBlankChar(line[b])) ++b;
        std::size_t be = b;
        while (be < line.size() && !isBlankChar(line[be])) ++be;
        std::string s(line.substr(0, a));
        const auto time = [&](std::string_view old, int64_t ms) {
            if (vtt) {
                appendVttTime(s, ms, std::count(old.begin(), old.end(), ':') >= 2);
            } else {
                AppendTimeStyle0(s, static_cast<double>(ms));
            }
        };
        time(line.substr(a, ae - a), start);
        s.append(line.substr(ae, b - ae));
        time(line.substr(b, be - b), end);
        s.append(line.substr(be));
        return s;
    }

    void textLinesTo(std::string& s, std::string_view text, std::string_view eol) const {
        for (std::string_view l : textLines(text)) {
            s.append(eol);
            if (m.kind == Kind::Vtt) {
                appendVttEscaped(s, l);
            } else {
                s.append(l);
            }
        }
    }

    // An unchanged block: its bytes, but for a SubRip counter that changed.
    void keptBlock(std::size_t u) {
        const auto& unit = m.units[u];
        const std::string_view region = m.view(unit.begin, unit.end);
        separate(unit.begin, true, region);
        prevEnd = unit.end;
        ++number;
        if (m.kind != Kind::Srt) {
            out.put(region);
            return;
        }
        LineCursor cur = m.cursor(unit.begin);
        Line ln;
        std::string buf;
        if (!cur.Next(ln) || hasArrow(m.prep(ln, buf))) {
            out.put(region);
            return;
        }
        char digits[24];
        const std::string_view want(digits, static_cast<std::size_t>(
                                                std::to_chars(digits, digits + sizeof digits, number).ptr - digits));
        std::string prepared;
        if (!renumber(TrimSpaces(m.prep(ln, prepared)), want, u)) {
            out.put(region);
            return;
        }
        out.put(want);
        out.put(ln.end > ln.cend ? m.view(ln.cend, unit.end) : std::string_view(m.eol));
        if (ln.end == ln.cend) out.put(m.view(ln.end, unit.end));
    }

    void block(std::size_t u, std::size_t k, std::size_t f) {
        if (k == npos) {
            keptBlock(u);
            return;
        }
        const Block b = blockOf(u);
        const std::string_view region = m.view(b.begin, b.end);
        separate(b.begin, true, region);
        std::string s;
        counterLine(u, b, s);
        if (m.kind == Kind::Vtt) s.append(m.view(b.begin, b.timing));
        if (k == npos) {
            s.append(m.view(b.timing, b.end));
        } else {
            const KeptCue old = m.cueOf(f);
            const KeptFile::Out& c = cues[k];
            const std::string_view timing = m.view(b.timing, b.timingCend);
            if (c.start == old.start && c.end == old.end) {
                s.append(timing);
            } else {
                s.append(timingLine(timing, c.start, endFor(k)));
            }
            if (c.text == old.text) {
                s.append(m.view(b.timingCend, b.contentCend));
            } else {
                const std::string_view lineEnd =
                    b.timingEnd > b.timingCend ? m.view(b.timingCend, b.timingEnd) : std::string_view(m.eol);
                textLinesTo(s, c.text, lineEnd);
            }
            s.append(m.view(b.contentCend, b.end));
        }
        out.put(s);
        prevEnd = b.end;
    }

    // Whether the file writes WebVTT hours where they are 0: as the cue
    // `like` (or the file's first) does; yes when there is none.
    bool vttHours(int64_t like) const {
        if (like < 0) like = m.fileCues() > 0 ? 0 : -1;
        if (like < 0) return true;
        const Block b = blockOf(unitOfFile(static_cast<std::size_t>(like)));
        const std::string_view timing = m.view(b.timing, b.timingCend);
        std::size_t a = 0;
        while (a < timing.size() && (timing[a] == ' ' || timing[a] == '\t')) ++a;
        std::size_t e = a;
        while (e < timing.size() && timing[e] != ' ' && timing[e] != '\t' && timing[e] != '-') ++e;
        const std::string_view start = timing.substr(a, e - a);
        return std::count(start.begin(), start.end(), ':') >= 2;
    }

    void newBlock(std::size_t k, int64_t like) {
        const KeptFile::Out& c = cues[k];
        std::string s;
        if (m.kind == Kind::Srt) {
            s += std::to_string(++number);
            s += m.eol;
            AppendTimeStyle0(s, static_cast<double>(c.start));
            s += " --> ";
            AppendTimeStyle0(s, static_cast<double>(endFor(k)));
        } else {
            ++number;
            const bool hours = vttHours(like);
            appendVttTime(s, c.start, hours);
            s += " --> ";
            appendVttTime(s, endFor(k), hours);
        }
        textLinesTo(s, c.text, m.eol);
        s += m.eol;
        separate(npos - 1, true, s);
        out.put(s);
        prevEnd = npos;
    }

    // ---- SSA events ----

    // The fields of a "Dialogue:" line: where each begins and ends.
    std::string dialogue(std::string_view line, const ReaderState& st, int64_t start, int64_t end,
                         bool keepStart, bool keepEnd, std::string_view text, bool keepText) const {
        const auto tag = line.find("Dialogue:");
        if (tag == npos) return std::string(line);
        std::vector<std::pair<std::size_t, std::size_t>> fields;
        std::size_t from = tag + 9;
        const auto most = static_cast<std::size_t>(std::max({st.ssaStartColumn, st.ssaEndColumn, st.ssaTextColumn}));
        while (fields.size() <= most) {
            const auto comma = line.find(',', from);
            fields.push_back({from, comma == npos ? line.size() : comma});
            if (comma == npos) break;
            from = comma + 1;
        }
        const auto col = [&](int32_t c) -> std::pair<std::size_t, std::size_t> {
            const auto i = static_cast<std::size_t>(c);
            return i < fields.size() ? fields[i] : std::pair<std::size_t, std::size_t>{line.size(), line.size()};
        };
        struct Edit {
            std::size_t b, e;
            std::string with;
        };
        std::vector<Edit> edits;
        const auto trimmed = [&](std::pair<std::size_t, std::size_t> f) {
            std::size_t b = f.first, e = f.second;
            while (b < e && line[b] == ' ') ++b;
            while (e > b && line[e - 1] == ' ') --e;
            return std::pair<std::size_t, std::size_t>{b, e};
        };
        if (!keepStart) {
            std::string t;
            AppendTimeStyle1(t, static_cast<double>(start));
            const auto f = trimmed(col(st.ssaStartColumn));
            edits.push_back({f.first, f.second, t});
        }
        if (!keepEnd) {
            std::string t;
            AppendTimeStyle1(t, KeepVisible(static_cast<double>(start), static_cast<double>(end), 10));
            const auto f = trimmed(col(st.ssaEndColumn));
            edits.push_back({f.first, f.second, t});
        }
        if (!keepText) {
            auto f = col(st.ssaTextColumn);
            if (st.ssaTextColumn == 0) {
                while (f.first < line.size() && line[f.first] == ' ') ++f.first;
            }
            edits.push_back({f.first, line.size(), oneLine(text, "\\N", false)});
        }
        std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.b < b.b; });
        std::string s;
        std::size_t at = 0;
        for (const Edit& e : edits) {
            if (e.b < at) continue;  // two fields in one column: the first edit wins
            s.append(line.substr(at, e.b - at));
            s.append(e.with);
            at = e.e;
        }
        s.append(line.substr(at));
        return s;
    }

    void lineUnit(std::size_t u, std::size_t k, std::size_t f) {
        const auto& unit = m.units[u];
        LineCursor cur = m.cursor(unit.begin);
        Line ln;
        cur.Next(ln);
        separate(unit.begin, true, m.view(unit.begin, unit.end));
        if (k == npos) {
            out.put(m.view(unit.begin, unit.end));
            prevEnd = unit.end;
            return;
        }
        const KeptCue old = m.cueOf(f);
        const KeptFile::Out& c = cues[k];
        const std::string_view line = m.view(ln.begin, ln.cend);
        std::string s = dialogue(line, m.stateFor(u), c.start, endFor(k), c.start == old.start,
                                 c.end == old.end && c.start == old.start, c.text, c.text == old.text);
        s.append(m.view(ln.cend, ln.end));
        out.put(s);
        prevEnd = unit.end;
    }

    // A file cue to take a new event's fields from.
    std::string newDialogue(std::size_t k, int64_t from) const {
        const KeptFile::Out& c = cues[k];
        if (from < 0 && m.fileCues() > 0) from = 0;
        if (from >= 0) {
            const std::size_t u = unitOfFile(static_cast<std::size_t>(from));
            LineCursor cur = m.cursor(m.units[u].begin);
            Line ln;
            cur.Next(ln);
            return dialogue(m.view(ln.begin, ln.cend), m.stateFor(u), c.start, endFor(k), false, false, c.text,
                            false);
        }
        // No event to copy: the fields the events format line names, with
        // what our writer puts in them (layer 0, style Default, no margins).
        const ReaderState st = m.stateFor(m.units.size());
        const int32_t columns = std::max({st.ssaStartColumn, st.ssaEndColumn, st.ssaTextColumn}) + 1;
        std::string s = "Dialogue: ";
        for (int32_t j = 0; j < columns; ++j) {
            if (j > 0) s += ',';
            if (j == st.ssaStartColumn) {
                AppendTimeStyle1(s, static_cast<double>(c.start));
            } else if (j == st.ssaEndColumn) {
                AppendTimeStyle1(s, KeepVisible(static_cast<double>(c.start), static_cast<double>(endFor(k)), 10));
            } else if (j == st.ssaTextColumn) {
                s += oneLine(c.text, "\\N", false);
            } else if (j == st.ssaEndColumn + 1) {
                s += "Default";
            } else if (j == 0 || (j > st.ssaEndColumn + 2 && j < st.ssaTextColumn - 1)) {
                s += '0';
            }
        }
        return s;
    }

    // ---- LRC lines ----

    // The tags of unit u's line, read once for all of its cues.
    std::size_t tagsUnit = npos;
    std::string tagsLine;
    LrcTags tags;
    const LrcTags& tagsOf(std::size_t u) {
        if (tagsUnit != u) {
            LineCursor cur = m.cursor(m.units[u].begin);
            Line ln;
            cur.Next(ln);
            std::string buf;
            tagsLine.assign(m.prep(ln, buf));
            tags = lrcTagsOf(tagsLine);
            tagsUnit = u;
        }
        return tags;
    }

    // The style of every time tag of a line, once per line (lines of
    // several tags may be written cue by cue in any order).
    std::unordered_map<std::size_t, std::vector<LrcTagStyle>> styles;
    LrcTagStyle lrcStyleFor(int64_t f, std::size_t sub) {
        if (f < 0) {
            if (m.fileCues() == 0) return LrcTagStyle{};
            f = 0;
            sub = 0;
        }
        const std::size_t u = unitOfFile(static_cast<std::size_t>(f));
        auto it = styles.find(u);
        if (it == styles.end()) {
            std::vector<LrcTagStyle> all;
            for (std::string_view t : tagsOf(u).times) all.push_back(lrcStyleOf(t));
            it = styles.emplace(u, std::move(all)).first;
        }
        if (it->second.empty()) return LrcTagStyle{};
        return it->second[std::min(sub, it->second.size() - 1)];
    }

    void lrcLine(const KeptFile::Out& c, const LrcTagStyle& style, double offsetMs) {
        std::string s;
        appendLrcTag(s, c.start + static_cast<int64_t>(offsetMs), style);
        s += oneLine(c.text, " ", true);
        s += m.eol;
        separate(npos - 1, true, s);
        out.put(s);
        prevEnd = npos;
    }

    // The metadata tags of an LRC line written apart, before its cues.
    void lrcMeta(std::size_t u) {
        if (metaDone.empty()) metaDone.assign(m.units.size(), 0);
        if (metaDone[u]) return;
        metaDone[u] = 1;
        const LrcTags& t = tagsOf(u);
        if (t.meta.empty()) return;
        std::string s = t.meta + m.eol;
        separate(npos - 1, false, s);
        out.put(s);
        prevEnd = npos;
    }

    // ---- any format ----

    // `like`: the kept cue before it in the output, whose style it takes
    // (-1: none).
    void newCue(std::size_t k, int64_t like) {
        if (nextGap == 0 && !m.units.empty()) {
            // Nothing of the file written yet: the new cue goes where the next
            // kept cue goes, after what comes before it (headers).
            std::size_t at = 0;
            for (std::size_t j = k + 1; j < cues.size(); ++j) {
                if (fileOf[j] >= 0) {
                    at = unitOfFile(static_cast<std::size_t>(fileOf[j]));
                    break;
                }
            }
            gapsThrough(at);
        }
        if (m.units.empty()) gapsThrough(0);
        switch (m.kind) {
            case Kind::Srt:
            case Kind::Vtt:
                newBlock(k, like);
                break;
            case Kind::Ssa: {
                std::string s = newDialogue(k, like) + m.eol;
                separate(npos - 1, true, s);
                out.put(s);
                prevEnd = npos;
                break;
            }
            case Kind::Lrc: {
                // The offset in force after the line it follows.
                const int64_t t = like;
                const std::size_t sub = t >= 0 ? m.refOf(static_cast<std::size_t>(t)).sub : 0;
                const double offset =
                    t >= 0 ? m.stateFor(unitOfFile(static_cast<std::size_t>(t)) + 1).lrcOffsetMs
                           : m.stateFor(0).lrcOffsetMs;
                lrcLine(cues[k], lrcStyleFor(t, sub), offset);
                break;
            }
        }
    }

    // Writes the kept cues of unit u given in `present` (output cues, in
    // output order); each is followed by the new cues after it when
    // `followers` is set.
    void unit(std::size_t u, const std::vector<std::size_t>& present, bool followers) {
        gapsThrough(u);
        const auto [fb, fe] = m.cuesOfUnit(u);
        bool whole = present.size() == fe - fb;
        for (std::size_t k : present) whole = whole && same[k];
        const auto follow = [&](std::size_t k) {
            if (!followers) return;
            for (std::size_t j = k + 1; j < cues.size() && fileOf[j] < 0; ++j) newCue(j, fileOf[k]);
        };
        if (whole) {
            if (m.late()) {
                block(u, npos, 0);
            } else {
                lineUnit(u, npos, 0);
            }
            for (std::size_t k : present) follow(k);
            return;
        }
        if (m.kind == Kind::Lrc) {
            lrcMeta(u);
            const double offset = m.stateFor(u + 1).lrcOffsetMs;
            for (std::size_t k : present) {
                const auto f = static_cast<std::size_t>(fileOf[k]);
                lrcLine(cues[k], lrcStyleFor(static_cast<int64_t>(f), m.refOf(f).sub), offset);
                follow(k);
            }
            return;
        }
        for (std::size_t k : present) {
            const auto f = static_cast<std::size_t>(fileOf[k]);
            if (m.late()) {
                block(u, same[k] ? npos : k, f);
            } else {
                lineUnit(u, same[k] ? npos : k, f);
            }
            follow(k);
        }
    }

    void run();
};

void WriteJob::run() {
    const std::size_t n = m.count;
    const std::size_t nf = m.fileCues();
    fileOf.assign(cues.size(), -1);
    outOf.assign(nf, -1);
    same.assign(cues.size(), 0);
    bool ascending = true;
    int64_t lastOrigin = -1;
    int64_t lastFile = -1;
    for (std::size_t k = 0; k < cues.size(); ++k) {
        const int64_t o = cues[k].origin;
        if (o >= 0 && static_cast<uint64_t>(o) < n) {
            const std::size_t f = m.fileCue(static_cast<std::size_t>(o));
            if (outOf[f] < 0) {
                outOf[f] = static_cast<int64_t>(k);
                fileOf[k] = static_cast<int64_t>(f);
                same[k] = m.sameCue(f, cues[k].start, cues[k].end, cues[k].text);
                if (o <= lastOrigin) ascending = false;
                lastOrigin = o;
                lastFile = static_cast<int64_t>(f);
            }
        }
    }
    // Leading new cues (before any kept one) go before the first kept cue.
    std::size_t firstKept = cues.size();
    for (std::size_t k = 0; k < cues.size(); ++k) {
        if (fileOf[k] >= 0) {
            firstKept = k;
            break;
        }
    }
    const auto leading = [&] {
        for (std::size_t k = 0; k < firstKept; ++k) newCue(k, -1);
    };
    if (firstKept == cues.size()) {
        leading();
        gapsThrough(m.units.size());
        return;
    }
    if (ascending) {
        // The file's own order: each unit in its place with its kept cues.
        const std::size_t firstUnit = unitOfFile(static_cast<std::size_t>(fileOf[firstKept]));
        std::vector<std::size_t> present;
        for (std::size_t u = 0; u < m.units.size(); ++u) {
            const auto [fb, fe] = m.cuesOfUnit(u);
            present.clear();
            for (std::size_t f = fb; f < fe; ++f) {
                if (outOf[f] >= 0) present.push_back(static_cast<std::size_t>(outOf[f]));
            }
            if (present.empty()) continue;
            std::sort(present.begin(), present.end());
            if (u == firstUnit) {
                gapsThrough(u);
                leading();
            }
            unit(u, present, true);
        }
    } else {
        leading();
        lastFile = -1;
        std::vector<char> done(m.units.size(), 0);
        for (std::size_t k = firstKept; k < cues.size(); ++k) {
            if (fileOf[k] < 0) {
                newCue(k, lastFile);
                continue;
            }
            lastFile = fileOf[k];
            const std::size_t u = unitOfFile(static_cast<std::size_t>(fileOf[k]));
            const auto [fb, fe] = m.cuesOfUnit(u);
            if (fe - fb > 1) {
                // A line of several cues is written once, whole, when all its
                // cues are there unchanged (asked once per line).
                if (done[u] == 0) {
                    bool all = true;
                    for (std::size_t f = fb; f < fe && all; ++f) {
                        all = outOf[f] >= 0 && same[static_cast<std::size_t>(outOf[f])];
                    }
                    done[u] = all ? 1 : 3;
                }
                const bool whole = done[u] != 3;
                std::vector<std::size_t> present;
                if (whole) {
                    if (done[u] == 2) continue;
                    done[u] = 2;
                    for (std::size_t f = fb; f < fe; ++f) present.push_back(static_cast<std::size_t>(outOf[f]));
                    std::sort(present.begin(), present.end());
                    unit(u, present, false);
                    continue;
                }
            }
            unit(u, {k}, false);
        }
    }
    gapsThrough(m.units.size());
}

}  // namespace

KeptFile::KeptFile(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
KeptFile::~KeptFile() = default;

std::unique_ptr<KeptFile> KeptFile::Parse(std::string_view formatKey, std::string text) {
    const std::string key = LowerAscii(formatKey);
    Kind kind;
    if (key == "srt") {
        kind = Kind::Srt;
    } else if (key == "ass" || key == "ssa") {
        kind = Kind::Ssa;
    } else if (key == "vtt") {
        kind = Kind::Vtt;
    } else if (key == "lrc") {
        kind = Kind::Lrc;
    } else {
        return nullptr;
    }
    const FormatKey* row = RowOfKey(key);
    if (row == nullptr || row->reader == nullptr) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->kind = kind;
    impl->text = std::move(text);
    impl->reader = row->reader;
    impl->finish = row->finish;
    impl->parse();
    return std::unique_ptr<KeptFile>(new KeptFile(std::move(impl)));
}

std::size_t KeptFile::Count() const { return m_impl->count; }

KeptCue KeptFile::Cue(std::size_t i) const {
    if (i >= m_impl->count || m_impl->released) return KeptCue{};
    return m_impl->cueOf(m_impl->fileCue(i));
}

void KeptFile::Write(const std::vector<Out>& cues, const std::function<void(std::string_view)>& sink) const {
    if (m_impl->released) return;
    WriteJob job(*m_impl, cues, sink);
    job.run();
}

namespace {

// A fingerprint of a text, eight bytes a step: enough to tell the file we
// indexed from one changed since (not meant against deliberate collisions).
uint64_t Fingerprint(std::string_view text) {
    uint64_t h = 0x9E3779B97F4A7C15ull ^ text.size();
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        h = (h ^ word) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 29;
    }
    for (; i < text.size(); ++i) h = (h ^ static_cast<unsigned char>(text[i])) * 0x100000001B3ull;
    return h ^ (h >> 32);
}

}  // namespace

void KeptFile::ReleaseText() {
    if (m_impl->released) return;
    m_impl->releasedSize = m_impl->text.size();
    m_impl->releasedPrint = Fingerprint(m_impl->text);
    std::string().swap(m_impl->text);
    m_impl->released = true;
}

bool KeptFile::HasText() const { return !m_impl->released; }

bool KeptFile::RestoreText(std::string text) {
    if (!m_impl->released) return true;
    if (text.size() != m_impl->releasedSize || Fingerprint(text) != m_impl->releasedPrint) return false;
    m_impl->text = std::move(text);
    m_impl->released = false;
    return true;
}

}  // namespace lumeval
