#include "engine/subtitle.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <exception>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__unix__)
#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "engine/encoding/codepage.h"
#include "engine/framerate.h"
#include "engine/formats.h"
#include "engine/linescan.h"
#include "engine/linetable.h"
#include "engine/postprocess.h"
#include "engine/run.h"
#include "engine/readers/readers.h"
#include "engine/sniff.h"
#include "engine/timeorder.h"
#include "engine/writers/writers.h"

namespace lumeval {
namespace {


// What a line holds that asks for more work; one pass instead of a search
// for each.
// kHasCtl: a control character that is not text (anything below 0x20 but
// tab, line feed and carriage return, and DEL).
// kHasGt: a ">", without which no line holds a SubRip or WebVTT arrow.
enum LineFlags : unsigned { kHasCR = 1, kHasLT = 2, kHasP = 4, kHasHigh = 8, kHasCtl = 16, kHasGt = 32 };

constexpr bool isControlByte(unsigned char c) {
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F;
}

// The byte after 0xC2 that makes a C1 control character (U+0080 to U+009F).
constexpr bool isC1Second(unsigned char c) { return c >= 0x80 && c < 0xA0; }

constexpr std::array<unsigned char, 256> kLineFlagTable = [] {
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 0x80; ++c) {
        if (isControlByte(static_cast<unsigned char>(c))) t[static_cast<std::size_t>(c)] = kHasCtl;
    }
    t['\r'] = kHasCR;
    t['<'] = kHasLT;
    t['>'] = kHasGt;
    t['P'] = kHasP;
    for (int c = 0x80; c < 0x100; ++c) t[static_cast<std::size_t>(c)] = kHasHigh;
    return t;
}();

// Whether a word holds a zero byte (exact as a yes/no answer).
constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighs = 0x8080808080808080ULL;
inline uint64_t zeroByteBits(uint64_t w) { return (w - kOnes) & ~w & kHighs; }

unsigned scanLine(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    if (n < 8) {
        unsigned f = 0;
        for (std::size_t i = 0; i < n; ++i) {
            f |= kLineFlagTable[p[i]];
            // A C1 control is two bytes, which the table alone cannot see.
            if (p[i] == 0xC2 && i + 1 < n && isC1Second(p[i + 1])) f |= kHasCtl;
        }
        return f;
    }
    // Eight bytes at a time; the last word overlaps the one before it, which
    // only sees some bytes twice.
    uint64_t cr = 0, lt = 0, gt = 0, pp = 0, high = 0, low = 0;
    const auto scan = [&](const unsigned char* at) {
        uint64_t w;
        std::memcpy(&w, at, 8);
        high |= w;
        cr |= zeroByteBits(w ^ (kOnes * '\r'));
        lt |= zeroByteBits(w ^ (kOnes * '<'));
        gt |= zeroByteBits(w ^ (kOnes * '>'));
        pp |= zeroByteBits(w ^ (kOnes * 'P'));
        // A byte below 0x20 or DEL (exact as a yes/no answer); tab and CR
        // are told apart below.
        low |= ((w - kOnes * 0x20) & ~w & kHighs) | zeroByteBits(w ^ (kOnes * 0x7F));
    };
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) scan(p + i);
    if (i < n) scan(p + n - 8);
    unsigned ctl = 0;
    if (low != 0 || (high & kHighs) != 0) {
        for (std::size_t k = 0; k < n && ctl == 0; ++k) {
            ctl = isControlByte(p[k]) || (p[k] == 0xC2 && k + 1 < n && isC1Second(p[k + 1])) ? kHasCtl : 0u;
        }
    }
    return (cr != 0 ? kHasCR : 0u) | (lt != 0 ? kHasLT : 0u) | (gt != 0 ? kHasGt : 0u) |
           (pp != 0 ? kHasP : 0u) | ((high & kHighs) != 0 ? kHasHigh : 0u) | ctl;
}

// The wide scan where the processor has it, chosen once.
const bool kWideScan = WideScanAvailable();

// The lines of a text one after another, each with its LineFlags, in one pass
// that finds the line ends and the flags together, sixty-four bytes at a time.
// Lines end at `sep`; with LF as `sep` a CR just before the LF (or at the very
// end of the text) is not part of the line.
class LineWalker {
public:
    LineWalker(std::string_view text, char sep) : m_text(text), m_sep(sep) { loadBlock(); }

    /// The next line; false once the last line was handed out. `last`: this
    /// is the text's last line (after its last line end, perhaps empty).
    bool next(std::string_view& line, unsigned& flags, bool& last) {
        if (m_done) return false;
        for (;;) {
            const uint64_t ends = m_ends & m_from;
            if (ends != 0) {
                const uint64_t before = (ends & (~ends + 1)) - 1;  // below the first end
                const uint64_t range = m_from & before;
                flags = m_acc;
                if ((m_any & range) != 0) flags |= flagsIn(range);
                m_acc = 0;
                m_from = ~((before << 1) | 1);
                const std::size_t end = m_block + static_cast<std::size_t>(__builtin_ctzll(ends));
                std::size_t size = end - m_pos;
                if (m_sep == '\n' && size != 0 && m_text[end - 1] == '\r') --size;
                line = std::string_view(m_text.data() + m_pos, size);
                m_pos = end + 1;
                last = false;
                return true;
            }
            if ((m_any & m_from) != 0) m_acc |= flagsIn(m_from);
            if (m_block + 64 >= m_text.size()) break;
            m_block += 64;
            m_from = ~uint64_t{0};
            loadBlock();
        }
        // The last line runs to the end of the text.
        m_done = true;
        last = true;
        std::string_view rest = m_text.substr(std::min(m_pos, m_text.size()));
        if (!rest.empty() && rest.back() == '\r') {
            // Its final CR was counted as one inside the line.
            rest.remove_suffix(1);
            flags = scanLine(rest);
        } else {
            flags = m_acc;
        }
        line = rest;
        return true;
    }

private:
    unsigned flagsIn(uint64_t range) const {
        return ((m_cr & range) != 0 ? kHasCR : 0u) | ((m_lt & range) != 0 ? kHasLT : 0u) |
               ((m_gt & range) != 0 ? kHasGt : 0u) |
               ((m_p & range) != 0 ? kHasP : 0u) | ((m_high & range) != 0 ? kHasHigh : 0u) |
               ((m_ctl & range) != 0 ? kHasCtl : 0u);
    }

    // The masks of the block at m_block: bit i for byte m_block + i.
    void loadBlock() {
        const std::size_t avail = std::min<std::size_t>(64, m_text.size() - m_block);
        // The tail of the text is padded with zero bytes, which match nothing.
        alignas(16) unsigned char buf[64];
        const unsigned char* p = reinterpret_cast<const unsigned char*>(m_text.data()) + m_block;
        if (avail < 64) {
            std::memset(buf, 0, sizeof buf);
            std::memcpy(buf, p, avail);
            p = buf;
        }
        const BlockMasks m = kWideScan ? ScanBlockWide(p) : ScanBlockNarrow(p);
        const uint64_t nl = m.nl, cr = m.cr, lt = m.lt, gt = m.gt, pp = m.pp, high = m.high;
        uint64_t ctl = m.ctl;
        // Line ends are no controls; the zero bytes padding the tail are no text.
        ctl &= ~(nl | cr);
        if (avail < 64) ctl &= (uint64_t{1} << avail) - 1;
        if (m_sep == '\n') {
            m_ends = nl;
            // A CR right before an LF ends the line with it.
            uint64_t beforeLf = nl >> 1;
            if (m_block + 64 < m_text.size() && m_text[m_block + 64] == '\n') {
                beforeLf |= uint64_t{1} << 63;
            }
            m_cr = cr & ~beforeLf;
        } else {
            m_ends = cr;
            m_cr = 0;
        }
        m_lt = lt;
        m_gt = gt;
        m_p = pp;
        m_high = high;
        m_ctl = ctl;
        m_any = m_cr | lt | gt | pp | high | ctl;
    }

    std::string_view m_text;
    char m_sep;
    std::size_t m_pos = 0;          // start of the next line
    std::size_t m_block = 0;        // start of the current block
    uint64_t m_from = ~uint64_t{0}; // the block's bits from m_pos on
    uint64_t m_ends = 0, m_cr = 0, m_lt = 0, m_gt = 0, m_p = 0, m_high = 0, m_ctl = 0, m_any = 0;
    unsigned m_acc = 0;       // flags of the next line in earlier blocks
    bool m_done = false;
};

// "PlayResX: 640" -> 640. A rest that is not a whole number leaves the value
// as it was rather than inventing one.
void captureResolution(std::string_view line, std::string_view key, int32_t& value) {
    std::string rest;
    rest.reserve(line.size());
    for (std::size_t from = 0;;) {
        const auto at = line.find(key, from);
        rest.append(line.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
        if (at == std::string_view::npos) break;
        from = at + key.size();
    }
    const std::string_view number = TrimSpaces(rest);
    if (number.empty() || number.size() > 10) return;
    int64_t v = 0;
    for (char c : number) {
        if (c < '0' || c > '9') return;
        v = v * 10 + (c - '0');
    }
    if (v <= std::numeric_limits<int32_t>::max()) value = static_cast<int32_t>(v);
}

// The preparation every source line gets before its reader sees it.
void prepareLine(std::string_view raw, std::string& line) {
    line.clear();
    for (std::size_t from = 0;;) {
        const auto cr = raw.find('\r', from);
        if (cr == std::string_view::npos) {
            line.append(raw.substr(from));
            break;
        }
        line.append(raw.substr(from, cr - from));
        from = cr + 1;
    }
    if (line.find('<') != std::string::npos) {
        if (line.find("<BR>") != std::string::npos) line = ReplaceAll(line, "<BR>", "\\N");
        if (line.find("<br>") != std::string::npos) line = ReplaceAll(line, "<br>", "\\N");
    }
}

// The line without control characters: a NUL or an escape in a cue is no
// text, and a cue of nothing but controls is blank. Tab stays.
void removeControls(std::string_view in, std::string& out) {
    out.clear();
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        const auto c = static_cast<unsigned char>(in[i]);
        if (isControlByte(c) || c == '\r') continue;
        if (c == 0xC2 && i + 1 < in.size() && isC1Second(static_cast<unsigned char>(in[i + 1]))) {
            ++i;
            continue;
        }
        out.push_back(in[i]);
    }
}

// Sources from this size on give their pages back as they are read.
constexpr std::size_t kReleasableTextBytes = std::size_t{4} << 20;

#if defined(__unix__)
// Gives the memory of a text that the reading has passed back to the system,
// up to boundaries of 2 MiB: the size of a transparent huge page (and a
// multiple of every base page). Each call costs the system a flush whatever
// its size, and a huge page given back in part is split, so few calls on
// whole huge pages are cheapest. The bytes read as zeros afterwards: only a
// text that nothing reads again may be handed to it; the string itself stays
// allocated and is freed as usual.
class PageReleaser {
public:
    explicit PageReleaser(std::string* text) : m_text(text) {
        if (m_text == nullptr) return;
        const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        m_released = (address(0) + page - 1) & ~(page - 1);
    }
    explicit operator bool() const { return m_text != nullptr; }

    /// The reading is at byte `at`: nothing before it is needed any more.
    void Before(std::size_t at) {
        // In the last huge page of the text, where the table is largest,
        // smaller steps: that page is split once either way.
        const std::uintptr_t block = m_text->size() - at < kBlock ? kTailBlock : kBlock;
        const std::uintptr_t end = address(at) & ~(block - 1);
        if (end <= m_released) return;
        if (::madvise(reinterpret_cast<void*>(m_released), end - m_released, MADV_DONTNEED) != 0) {
            m_text = nullptr;  // the system would not: keep the memory
            return;
        }
        m_released = end;
    }

private:
    static constexpr std::uintptr_t kBlock = std::uintptr_t{2} << 20;
    static constexpr std::uintptr_t kTailBlock = std::uintptr_t{1} << 19;
    std::uintptr_t address(std::size_t at) const {
        return reinterpret_cast<std::uintptr_t>(m_text->data()) + at;
    }

    std::string* m_text;
    std::uintptr_t m_released = 0;  // address up to which the memory was given back
};
#else
class PageReleaser {
public:
    explicit PageReleaser(std::string*) {}
    explicit operator bool() const { return false; }
    void Before(std::size_t) {}
};
#endif

}  // namespace

SaveSettings SaveSettingsFrom(const ConvertSettings& s, int32_t width, int32_t height,
                              int32_t srcFormat) {
    SaveSettings o;
    static_cast<StyleSettings&>(o) = s;  // the style goes to the writer unchanged
    o.s_ScreenWidth = width;
    o.s_ScreenHeight = height;
    o.s_SubtitleAlign = s.s_SubtitleAlign;
    o.s_RaiseCompleteEvent = s.s_RaiseCompleteEvent;
    o.s_Overwrite = s.s_Overwrite;
    o.s_TimeStartPoint = s.s_TimeStartPoint;
    o.s_TimeEndPoint = s.s_TimeEndPoint;
    o.s_AddCopyRightString = s.s_AddCopyRightString;
    o.s_AddCopyRightTimeStartPoint = s.s_AddCopyRightTimeStartPoint;
    o.s_AddCopyRightTimeEndPoint = s.s_AddCopyRightTimeEndPoint;
    o.s_InternalCodeConversion = s.s_InternalCodeConversion;
    o.s_RaiseEventInterval = s.s_RaiseEventInterval;
    o.s_SubtitleEncodeFormat = s.s_SubtitleEncodeFormat;
    o.s_RaiseAllEvent = s.s_RaiseAllEvent;
    o.src_Format = srcFormat;
    o.s_FrameRate = s.s_FrameRate;
    return o;
}

bool clsSubtitle::progress(bool raise, int32_t value, int32_t max, int32_t status,
                           const std::string& text) {
    if (!raise || !ProgressChange) return true;
    bool cancel = false;
    ProgressChange(value, max, status, text, cancel);
    if (cancel) m_cancelled = true;
    return !cancel;
}

bool clsSubtitle::internalFailure(bool raise, std::exception_ptr error) {
    m_lastFailure = {};
    m_lastFailure.kind = RunFailure::Internal;
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        m_lastFailure.message = "out of memory";
    } catch (const std::exception& e) {
        m_lastFailure.message = e.what();
    } catch (...) {
        m_lastFailure.message = "an unknown exception";
    }
    try {
        progress(raise, 0, 0, kStatusFailed, std::string());
    } catch (...) {
        // The handler failed again; the result already says failed.
    }
    return false;
}

void clsSubtitle::yieldToCaller() {
    if (YieldCallback) YieldCallback();
}

bool clsSubtitle::ConvertSubtitle(const std::string& src_SubFile, const ConvertSettings& settings) {
    return ConvertSubtitle_Array(std::vector<std::string>{src_SubFile}, settings);
}

bool clsSubtitle::ConvertSubtitle_Array(const std::vector<std::string>& src_SubFile,
                                        const ConvertSettings& settings) {
    // A handler that starts another run on this object while one is going
    // gets False and changes nothing.
    if (m_busy) return false;
    m_busy = true;
    m_cancelled = false;
    m_lastFailure = {};
    m_lastRun = {};
    bool ok = false;
    try {
        ok = convertArray(src_SubFile, settings);
    } catch (...) {
        // Handlers are the caller's code; nothing may escape the engine.
        ok = internalFailure(settings.s_RaiseAllEvent, std::current_exception());
    }
    m_busy = false;
    return ok;
}

bool clsSubtitle::SaveArrayToSubtitle(std::vector<std::string>& LrcList,
                                      const std::string& strFileName,
                                      const SaveSettings& settings) {
    if (m_busy) return false;
    m_busy = true;
    m_cancelled = false;
    m_lastFailure = {};
    m_lastRun.cuesWritten = 0;
    m_lastRun.encodingReplaced = false;
    bool ok = false;
    try {
        ok = saveArray(LineTable(LrcList), strFileName, settings, false);
    } catch (...) {
        ok = internalFailure(settings.s_RaiseAllEvent, std::current_exception());
        m_lastFailure.path = strFileName;
    }
    m_busy = false;
    return ok;
}

bool clsSubtitle::failRun(ConvertRun& run, RunFailure::Kind kind) {
    if (m_cancelled) {
        m_lastFailure.kind = RunFailure::Cancelled;
        progress(run.ev, 0, 0, kStatusCancelled, std::string());
    } else {
        m_lastFailure.kind = kind;
        progress(run.ev, 0, 0, kStatusFailed, std::string());
    }
    return false;
}

// The pipeline: load each source, prepare and read its lines, post-process
// the table, deliver it as events or as a file.
bool clsSubtitle::convertArray(const std::vector<std::string>& sources, const ConvertSettings& s) {
    ConvertRun run(s);
    run.state.frameRate = UsableFrameRate(s.s_FrameRate);
    if (sources.empty()) return failRun(run, RunFailure::NoSource);
    // A conversion the caller asked for that cannot happen is an error, not
    // text passed through unconverted.
    if (std::string why; !ChineseConversionAvailable(s.s_InternalCodeConversion, &why)) {
        m_lastFailure.message = why;
        return failRun(run, RunFailure::ChineseUnavailable);
    }
    // Writing while reading needs the whole run's entries to come from one
    // source and to reach the file as they were read.
    run.mayWriteAhead = WriteWhileReadingEntries > 0 && sources.size() == 1 && !run.dest.eventMode &&
                        s.s_RemoveSubFilters.empty() && !s.s_MergeSamePosition &&
                        s.s_AddCopyRightString.empty();
    const RunInfo before = m_lastRun;
    for (const std::string& path : sources) {
        if (!readSource(run, path)) return failRun(run, RunFailure::Cancelled);
    }
    // A block still open when the last source ends is a cue too.
    FinishReading(run.rctx);
    if (!keepWritingAhead(run) && !readAgain(run, sources.front(), before)) {
        return failRun(run, RunFailure::Cancelled);
    }
    m_lastRun.timesRefused = run.refused;
    m_lastRun.outsideWindow = run.outside;
    if (!postProcess(run)) return false;
    return run.dest.eventMode ? deliverEvents(run) : deliverFile(run);
}

bool clsSubtitle::readAgain(ConvertRun& run, const std::string& path, const RunInfo& before) {
    run.ahead.reset();
    run.mayWriteAhead = false;
    run.table = LineTable(1);
    const double frameRate = run.state.frameRate;
    run.state = ReaderState{};
    run.state.frameRate = frameRate;
    run.refused = run.outside = 0;
    run.playResX = run.playResY = 0;
    run.lastKind = kKindSsa;
    run.lastPath.clear();
    m_lastRun = before;
    // Its events were raised by the first reading.
    const bool ev = run.ev;
    run.ev = false;
    const bool read = readSource(run, path);
    run.ev = ev;
    if (read) FinishReading(run.rctx);
    return read;
}

// One reading of a source's lines: what every line needs besides itself.
struct clsSubtitle::LineFeed {
    LineFeed(LineReader r, const ConversionContext& c, bool convert, const std::string& p,
             std::size_t last, std::string* releasable)
        : reader(r), cctx(c), mayConvert(convert), path(p), lastIndex(last), release(releasable) {}

    LineReader reader;
    const ConversionContext& cctx;
    bool mayConvert;  // the conversion can change some line of the text
    const std::string& path;
    std::size_t lastIndex;          // line ends in the text: the progress's end
    std::size_t index = 0;          // lines handed on so far
    std::size_t untilProgress = 1;  // line 0 reports
    // A large source need not stay whole in memory while its entries (copies)
    // grow: the pages the reading has passed are given back as it goes.
    PageReleaser release;
    std::size_t entriesBefore = 0;
    // Read while surveyed: the progress due before the survey counted the
    // lines (and so knew the end to report against), raised once it has.
    SurveyAlongside* survey = nullptr;
    std::vector<std::size_t> deferred;
};

// A survey on a thread of its own while the source is read. Its result is
// published once, before `done`; the reading checks it between pieces and
// at progress, and takes it at the end. Stopped and joined when it goes.
struct clsSubtitle::SurveyAlongside {
    SurveyAlongside(const std::string& path, int32_t page, std::size_t pieceBytes,
                    std::uint64_t minBytes, const SurveyObserver* observe)
        : scratch(std::max<std::size_t>(pieceBytes, 4) + 4),
          thread([this, path, page, pieceBytes, minBytes, observe] {
              result = SurveySource(path, page, pieceBytes, minBytes, &stop, &scratch, observe);
              done.store(true, std::memory_order_release);
          }) {}
    ~SurveyAlongside() {
        stop.store(true, std::memory_order_relaxed);
        if (thread.joinable()) thread.join();
    }
    SurveyAlongside(const SurveyAlongside&) = delete;
    SurveyAlongside& operator=(const SurveyAlongside&) = delete;

    bool ready() const { return done.load(std::memory_order_acquire); }
    /// The survey found the bytes cannot be read as they stand.
    bool refused() const { return ready() && !result.usable; }
    const PiecewiseSource& wait() {
        if (thread.joinable()) thread.join();
        return result;
    }

    PiecewiseSource result;
    // The survey's room, made here: memory a second thread makes comes from
    // a heap of its own, fresh pages the run would not otherwise touch.
    std::vector<char> scratch;
    std::atomic<bool> done{false};
    std::atomic<bool> stop{false};
    std::thread thread;  // last: it starts once the rest is made
};

namespace {
// Processors this process may run on; a survey alongside the reading only
// helps with a second one.
unsigned usableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<unsigned>(CPU_COUNT(&set));
    return std::thread::hardware_concurrency();
}
}  // namespace

// Load: one source's text, decoded and classified; then read it. False only
// when the caller cancelled.
bool clsSubtitle::readSource(ConvertRun& run, const std::string& path) {
    const ConvertSettings& s = run.s;
    if (!FileExists(path)) return true;
    if (!progress(run.ev, 0, 0, kStatusFileStart, path)) return false;
    const auto kind = SourceKindOfPath(path);
    if (!kind) return true;
    // A write-only format (txt) has nothing to read a time from.
    const LineReader reader = ReaderOfKind(*kind);
    if (reader == nullptr) return true;
    if (std::string why = UnreadableReason(path); !why.empty()) {
        m_lastRun.unreadable.emplace_back(path, std::move(why));
        return true;
    }

    ConversionContext cctx;
    cctx.mode = s.s_InternalCodeConversion;
    cctx.writesAnsi = !run.dest.eventMode && s.s_SubtitleEncodeFormat == kEncodingAnsi;
    cctx.AnsiCodePage = AnsiCodePage;
    // A large file read without a conversion need not be held whole: the
    // copy alone would be most of the memory a run touches.
    if (SourceEncoding == kEncodingDetect && cctx.mode == kConvertNone) {
        if (const auto read = readPiecewise(run, path, *kind, cctx, reader)) return *read;
    }

    int32_t fmt = SourceEncoding;
    LoadReason reason = LoadReason::None;
    LoadedCodePage page;
    std::string text = lumeval::UEFLoadTextFile(path, fmt, AnsiCodePage, &reason, &page);
    // A source that did not fit in memory is a failed run, not an empty file.
    if (reason == LoadReason::OutOfMemory) throw std::bad_alloc();
    recordSource(path, fmt, reason, page);
    run.lastKind = *kind;
    run.lastPath = path;

    // Only a conversion asks for the class; telling it opens a GBK converter.
    if (cctx.mode > kConvertNone && cctx.mode <= kConvertAuto)
        cctx.cls = lumeval::CheckChineseInternalCodeSpecification(text, AnsiCodePage);
    // BIG5 read through GBK only because nothing showed another page (or
    // the caller forced GBK) is read as BIG5 again by a conversion.
    cctx.big5ReadAsGbk = cctx.mode != kConvertNone && fmt == kEncodingAnsi &&
                         page.codePage == 936 && !page.detected && cctx.cls == kClassBig5 &&
                         LooksLikeBig5ReadAsGbk(text);

    // A reading that finds nothing is undone and the text read again by its
    // content (a MicroDVD file named .srt); the usual file pays a copy of
    // the carry-over state for it.
    const SourceMark mark{run.table.size(), std::string(run.table.back()), run.state, run.refused, run.outside};
    if (!readText(run, text, cctx, reader, path, &text)) return false;
    return run.table.size() != mark.entries || readByContent(run, text, cctx, reader, path, mark);
}

void clsSubtitle::recordSource(const std::string& path, int32_t fmt, LoadReason reason,
                               const LoadedCodePage& page) {
    ++m_lastRun.sourcesRead;
    m_lastRun.lastEncoding = fmt;
    m_lastRun.lastReason = reason;
    SourceInfo info;
    info.path = path;
    info.encoding = fmt;
    // Text of ASCII alone was read by no page in particular.
    info.codePage = fmt == kEncodingAnsi && !page.asciiOnly ? page.codePage : 0;
    info.codePageDetected = info.codePage != 0 && page.detected;
    m_lastRun.sources.push_back(std::move(info));
}

// A large source whose bytes are its text as they stand, read a piece at a
// time: the same lines, entries and progress as reading it whole. Nothing
// when it cannot be read so (too small, another encoding, changed between
// the passes): it is then read whole, with nothing of this reading left.
// A source whose start looks right is read while a second thread surveys
// it, which spares the reading a pass over the file of its own.
std::optional<bool> clsSubtitle::readPiecewise(ConvertRun& run, const std::string& path,
                                               int32_t kind, const ConversionContext& cctx,
                                               LineReader reader) {
    PiecewiseSource source;
    // Writing while reading is for formats that list their cues in time
    // order by custom (an LRC line with two times, or SSA layers, are the
    // rule elsewhere), and stops as soon as the survey alongside, which runs
    // ahead of the reading, finds a cue far out of order: less to read again.
    const bool orderMatters = run.mayWriteAhead && (kind == kKindSrt || kind == RowOfKey("vtt")->kind);
    TimeOrderScan order;
    std::atomic<bool> outOfOrder{false};
    const SurveyObserver observe = [&order, &outOfOrder](std::string_view bytes, bool last) {
        order.Feed(bytes, last);
        if (!order.InOrder()) outOfOrder.store(true, std::memory_order_release);
    };
    const SurveyObserver* observer = orderMatters ? &observe : nullptr;
    std::optional<SurveyAlongside> survey;  // after what it observes into: it stops first
    std::size_t expectedLines = 0;
    if (SurveyWhileReading && usableProcessors() >= 2) {
        const SourceHead head = PeekSource(path, PieceBytes, PiecewiseFromBytes);
        if (head.promising) {
            try {
                survey.emplace(path, AnsiCodePage, PieceBytes, PiecewiseFromBytes, observer);
            } catch (const std::system_error&) {
                // No thread to be had: the survey runs first, as below.
            }
        }
        if (survey) {
            // What the reading needs before the survey can tell: the file as
            // it was looked at (a change is refused by both passes), and a
            // guess at its lines for the table's room. The start of a file
            // has its shortest lines (counters, early times): the guess from
            // it runs a little high, and room reserved but not used past
            // that shows as memory of its own in huge pages.
            source.usable = true;
            source.skip = head.skip;
            source.size = head.size;
            source.sep = '\n';
            source.device = head.device;
            source.inode = head.inode;
            source.modifiedNs = head.modifiedNs;
            const double perByte = static_cast<double>(head.headLineEnds) / static_cast<double>(head.headBytes);
            expectedLines = static_cast<std::size_t>(perByte * static_cast<double>(head.size)) + 16;
        }
    }
    if (!survey) {
        // Its time lines are not read on the way: this survey is on the
        // reading's own processor, and most sources it looks at are not read
        // in pieces at all (a legacy code page).
        source = SurveySource(path, AnsiCodePage, PieceBytes, PiecewiseFromBytes);
        // An empty text adds nothing and raises no reading progress: read whole.
        if (!source.usable || source.size == 0) return std::nullopt;
        expectedLines = source.lineEnds;
    }

    const SourceMark mark{run.table.size(), std::string(run.table.back()), run.state, run.refused, run.outside};
    const int32_t kindBefore = run.lastKind;
    const std::string pathBefore = run.lastPath;
    // Read alongside the survey, the source is known as UTF-8 until the
    // survey says otherwise (an ASCII text is set right below).
    recordSource(path, survey ? kEncodingUtf8 : source.fmt, survey ? LoadReason::ValidUtf8 : source.reason,
                 source.page);
    m_lastRun.sources.back().readInPieces = true;
    run.lastKind = kind;
    run.lastPath = path;
    // Not when the ends of the file show a cue far out of order before the
    // survey gets there: cues added at the end are a common case.
    if (orderMatters && !outOfOrder.load(std::memory_order_acquire) &&
        EndsInTimeOrder(path, source.skip, source.size, PieceBytes)) {
        run.ahead.emplace();
    }
    const auto giveUp = [&] {
        // The whole text is read again, so what was written of it goes.
        run.ahead.reset();
        undoReading(run, mark);
        run.lastKind = kindBefore;
        run.lastPath = pathBefore;
        --m_lastRun.sourcesRead;
        m_lastRun.sources.pop_back();
        return std::nullopt;
    };
    // Alongside the survey, even the reading's start is told only once the
    // survey has taken the source: a source it refuses is read whole,
    // and starts there.
    if (!survey && !progress(run.ev, 0, 0, kStatusReading, path)) return false;
    startReading(run, expectedLines);
    // No conversion is asked for: no line of it can change.
    LineFeed feed(reader, cctx, false, path, source.lineEnds, nullptr);
    feed.survey = survey ? &*survey : nullptr;
    bool refused = false;
    const PieceRead read = ReadSourcePieces(
        path, source,
        [&](std::string_view piece, bool last) {
            // Bytes the survey refused are not read on.
            if (survey && survey->refused()) {
                refused = true;
                return false;
            }
            if (!feedLines(run, piece, source.sep, last, feed)) return false;
            if (run.ahead) {
                ++run.ahead->pieces;
                if (outOfOrder.load(std::memory_order_acquire)) {
                    stopWritingAhead(run);
                } else if (run.table.size() > std::max(WriteWhileReadingEntries, run.ahead->nextLook)) {
                    writeWhileReading(run);
                }
                if (run.ahead && run.ahead->lost && !run.ahead->readBack) {
                    readWrittenAgain(run, path, source, reader, cctx);
                }
            }
            return true;
        },
        PieceBytes);
    if (read == PieceRead::Stopped && !refused) return false;
    if (survey) {
        const PiecewiseSource& found = survey->wait();
        // The survey's file must be the one read, and hold what was read.
        refused = refused || !found.usable || found.sep != source.sep || found.size != source.size ||
                  found.device != source.device || found.inode != source.inode ||
                  found.modifiedNs != source.modifiedNs ||
                  (read == PieceRead::Done && feed.index != found.lineEnds + 1);
    }
    if (read == PieceRead::Changed || refused) return giveUp();
    if (survey) {
        SourceInfo& info = m_lastRun.sources.back();
        m_lastRun.lastEncoding = info.encoding = survey->result.fmt;
        m_lastRun.lastReason = survey->result.reason;
        const LoadedCodePage& page = survey->result.page;
        info.codePage = survey->result.fmt == kEncodingAnsi && !page.asciiOnly ? page.codePage : 0;
        info.codePageDetected = info.codePage != 0 && page.detected;
        if (feed.survey != nullptr && !raiseKeptProgress(run, feed)) return false;
    }
    if (run.table.size() != mark.entries) return true;
    // Nothing read: the content may tell another format, from the whole text.
    m_lastRun.sources.back().readInPieces = false;
    int32_t fmt = kEncodingDetect;
    LoadReason reason = LoadReason::None;
    const std::string text = lumeval::UEFLoadTextFile(path, fmt, AnsiCodePage, &reason);
    if (reason == LoadReason::OutOfMemory) throw std::bad_alloc();
    return readByContent(run, text, cctx, reader, path, mark);
}

// What was written while reading and must be given up (a cue far out of
// order came) is read again now, from the pieces of the source it came from,
// and put back before the entries read since: the reading then goes on as a
// reading of the whole table. Only those pieces are read twice. When they
// cannot be read as they were, the whole source is read again at the end.
void clsSubtitle::readWrittenAgain(ConvertRun& run, const std::string& path, const PiecewiseSource& source,
                                   LineReader reader, const ConversionContext& cctx) {
    WriteAhead& ahead = *run.ahead;
    ahead.readBack = true;  // once: a source that changed is read again at the end
    ConvertRun again(run.s);
    again.ev = false;  // its events were raised by the first reading
    again.lastKind = run.lastKind;
    again.state.frameRate = run.state.frameRate;
    again.table.reserve(ahead.room);
    LineFeed feed(reader, cctx, false, path, source.lineEnds, nullptr);
    std::size_t pieces = 0;
    const PieceRead read = ReadSourcePieces(
        path, source,
        [&](std::string_view piece, bool last) {
            return pieces++ < ahead.piecesRead && feedLines(again, piece, source.sep, last, feed);
        },
        PieceBytes);
    if (read == PieceRead::Changed || pieces < ahead.piecesRead || again.table.size() <= ahead.entriesRead) return;
    again.table.resize(ahead.entriesRead + 1);
    for (std::size_t i = 1; i < run.table.size(); ++i) again.table.push_back(run.table[i]);
    std::swap(run.table, again.table);
    run.ahead.reset();
}

// Reading progress at line `index`. Read alongside a survey that has not
// counted the lines yet, it is kept until the survey has; what was kept is
// raised first. False when the caller cancelled.
bool clsSubtitle::reportReading(ConvertRun& run, LineFeed& feed, std::size_t index) {
    if (feed.survey != nullptr) {
        if (!feed.survey->ready() || !feed.survey->result.usable) {
            feed.deferred.push_back(index);
            return true;
        }
        if (!raiseKeptProgress(run, feed)) return false;
    }
    if (!progress(run.ev, ClampToInt32(index), ClampToInt32(feed.lastIndex), kStatusReading, feed.path)) {
        return false;
    }
    yieldToCaller();
    return true;
}

bool clsSubtitle::raiseKeptProgress(ConvertRun& run, LineFeed& feed) {
    feed.lastIndex = feed.survey->result.lineEnds;
    feed.survey = nullptr;
    if (!progress(run.ev, 0, 0, kStatusReading, feed.path)) return false;
    for (const std::size_t i : feed.deferred) {
        if (!progress(run.ev, ClampToInt32(i), ClampToInt32(feed.lastIndex), kStatusReading, feed.path)) {
            return false;
        }
        yieldToCaller();
    }
    feed.deferred.clear();
    return true;
}

// The text read again by the reader of the format its content shows, when
// that is not the reader that found nothing. False when the caller cancelled.
bool clsSubtitle::readByContent(ConvertRun& run, const std::string& text,
                                const ConversionContext& cctx, LineReader tried,
                                const std::string& path, const SourceMark& mark) {
    const SniffedFormat format = SniffFormat(text);
    const FormatKey* row = RowOfKey(SniffedKey(format));
    if (row == nullptr || row->reader == nullptr || row->reader == tried) return true;
    // Nothing of the first reading may reach the second: a block it left
    // open, a continuation it appended to the entry before this file, a
    // line it counted as left out.
    undoReading(run, mark);
    run.lastKind = row->kind;
    sourceInfo(path).readByContent = SniffedName(format);
    return readText(run, text, cctx, row->reader, path);
}

void clsSubtitle::undoReading(ConvertRun& run, const SourceMark& mark) {
    run.table.resize(mark.entries);
    run.table.set(mark.entries - 1, mark.lastEntry);
    run.state = mark.state;
    run.refused = mark.refused;
    run.outside = mark.outside;
}

SourceInfo& clsSubtitle::sourceInfo(const std::string& path) {
    auto& sources = m_lastRun.sources;
    if (sources.empty() || sources.back().path != path) {
        sources.emplace_back();
        sources.back().path = path;
    }
    return sources.back();
}

void clsSubtitle::startReading(ConvertRun& run, std::size_t lineEnds) {
    // A SubRip cue takes four lines or so, a lyric one; growing past the
    // reservation would move every entry and touch twice the memory.
    std::size_t room = run.lastKind == kKindLrc ? lineEnds : lineEnds / 4;
    // Written while read, the table holds a piece's entries or so at a time;
    // the whole room is reserved if that stops before anything is written.
    if (run.ahead) {
        run.ahead->room = run.table.size() + room + 1;
        room = std::min(room, 2 * WriteWhileReadingEntries);
    }
    run.table.reserve(run.table.size() + room + 1);
    run.state.lrcOffsetMs = 0;  // an LRC [offset:] tag holds for its own file only
}

// Prepare and read: the text split into lines, each prepared ("<BR>" made
// "\N", PlayResX/PlayResY captured, the character-set conversion) and handed
// to the reader. False when the caller cancelled.
bool clsSubtitle::readText(ConvertRun& run, const std::string& text, const ConversionContext& cctx,
                           LineReader reader, const std::string& path, std::string* releasable) {
    // A text with no line end at all is one line; only an empty one adds nothing.
    if (text.empty()) return true;
    // The conversion can change a line only where it can change the whole
    // text: one pass over the text spares most files the question per line.
    const bool mayConvert = InternalCodeConversionMayChange(text, cctx);
    // Lines end at LF (a CR before it is dropped below) or, in a text that
    // has no LF at all (classic Mac files), at CR. A lone CR inside an LF
    // text also ends a line: such lines are split again as they are read.
    const char sep = std::memchr(text.data(), '\n', text.size()) != nullptr ? '\n' : '\r';
    const std::size_t lastIndex = CountByte(text, sep);
    if (!progress(run.ev, 0, 0, kStatusReading, path)) return false;
    startReading(run, lastIndex);
    LineFeed feed(reader, cctx, mayConvert, path, lastIndex,
                  releasable != nullptr && releasable->size() >= kReleasableTextBytes ? releasable
                                                                                       : nullptr);
    feed.entriesBefore = run.table.size();
    return feedLines(run, text, sep, true, feed);
}

// The lines of `text` handed to the reader. `final`: the text runs to the
// end of the source; otherwise it ends just after a line end, and the empty
// line a split would give after that is none. False when the caller cancelled.
bool clsSubtitle::feedLines(ConvertRun& run, std::string_view text, char sep, bool final,
                            LineFeed& feed) {
    // The hint below holds for this text's lines only.
    struct HintReset {
        bool& hint;
        ~HintReset() { hint = true; }
    } hintReset{run.rctx.lineMayHoldGt};
    LineWalker lines(text, sep);
    std::string_view raw;
    unsigned rawFlags = 0;
    bool lastLine = false;
    while (lines.next(raw, rawFlags, lastLine)) {
        if (lastLine && !final) break;
        const std::size_t i = feed.index++;
        if ((i & 255) == 0 && feed.release && run.table.size() > feed.entriesBefore) {
            feed.release.Before(static_cast<std::size_t>(raw.data() - text.data()));
        }
        // Lone CRs inside the line: each piece is a line of its own.
        std::size_t cr = (rawFlags & kHasCR) != 0 ? raw.find('\r') : std::string_view::npos;
        std::string_view piece = raw.substr(0, cr);
        for (;;) {
            const bool lastPiece = cr == std::string_view::npos;
            // Most lines need no edit at all: they are handed on as views
            // into the loaded text, and copied only when something changes.
            std::string_view prepared = piece;
            bool converted = false;
            const unsigned flags = (rawFlags & kHasCR) != 0 ? scanLine(prepared) : rawFlags;
            const bool edited =
                (flags & kHasLT) != 0 && (prepared.find("<BR>") != std::string_view::npos ||
                                          prepared.find("<br>") != std::string_view::npos);
            if (edited) {
                prepareLine(piece, run.line);
                prepared = run.line;
            }
            if ((flags & kHasCtl) != 0) {
                removeControls(prepared, run.clean);
                run.line.swap(run.clean);
                prepared = run.line;
            }
            if ((flags & kHasP) != 0 && prepared.find("PlayRes") != std::string_view::npos) {
                if (prepared.find("PlayResX:") != std::string_view::npos) {
                    captureResolution(prepared, "PlayResX:", run.playResX);
                } else if (prepared.find("PlayResY:") != std::string_view::npos) {
                    captureResolution(prepared, "PlayResY:", run.playResY);
                }
            }
            if ((flags & kHasHigh) != 0 && feed.mayConvert &&
                InternalCodeConversionMayChange(prepared, feed.cctx)) {
                if (prepared.data() != run.line.data()) run.line.assign(prepared);
                run.line = ApplyInternalCodeConversion(run.line, feed.cctx);
                prepared = run.line;
                converted = true;
            }
            // Edits and removals add no ">"; a conversion is not asked.
            run.rctx.lineMayHoldGt = converted || (flags & kHasGt) != 0;
            feed.reader(prepared, lastLine && lastPiece, run.rctx);
            if (lastPiece) break;
            const std::size_t next = cr + 1;
            cr = raw.find('\r', next);
            piece = raw.substr(next, cr == std::string_view::npos ? cr : cr - next);
        }

        if (--feed.untilProgress == 0) {  // i is a multiple of the interval
            feed.untilProgress = static_cast<std::size_t>(run.interval);
            if (!reportReading(run, feed, i)) return false;
        }
    }
    return true;
}

// Post-process: duplicates, filter words, merging, the credit line, sorting.
// False (the failure raised) when no cue is left or the caller cancelled.
bool clsSubtitle::postProcess(ConvertRun& run) {
    const ConvertSettings& s = run.s;
    LineTable& table = run.table;
    // A run that delivers no cue fails alike in both modes: no file, no events.
    if (!(run.ahead && run.ahead->anyCue) && !AnyCue(table)) {
        return failRun(run, m_lastRun.sourcesRead == 0 ? RunFailure::NoSource : RunFailure::NoLines);
    }

    // What leaves the entries' order as it is keeps it known; the rest
    // makes the sort look again.
    bool inOrder = RemoveDuplicateLines(table);
    if (!s.s_RemoveSubFilters.empty()) {
        RemoveFilteredLines(table, s.s_RemoveSubFilters);
        if (!AnyCue(table)) return failRun(run, RunFailure::AllFiltered);
    }
    if (s.s_MergeSamePosition) {
        inOrder = false;
        const bool done = MergeSamePosition(table, run.interval, [&](int32_t j, int32_t max) {
            if (!progress(run.ev, j, max, kStatusReading, run.lastPath)) return false;
            yieldToCaller();
            return true;
        });
        if (!done) return failRun(run, RunFailure::Cancelled);
    }
    if (!s.s_AddCopyRightString.empty()) {
        inOrder = false;
        AppendCreditLine(table, s.s_AddCopyRightString, s.s_AddCopyRightTimeStartPoint,
                         s.s_AddCopyRightTimeEndPoint, run.dest.kind);
    }
    if (s.s_Sort && table.size() > 1) SortLines(table, inOrder);
    m_lastRun.linesLoaded = table.size() - 1 + (run.ahead ? run.ahead->save->entries : 0);
    return true;
}

// Deliver, event mode: one SubtitleLineLoaded per entry, in table order.
bool clsSubtitle::deliverEvents(ConvertRun& run) {
    const LineTable& table = run.table;
    for (std::size_t i = 1; i < table.size(); ++i) {
        const EntryParts p = SplitEntry(table[i]);
        if (!p.hasBar) continue;
        const double start = TimeToMSecs(TrimSpaces(p.start), ",");
        const double end = p.hasArrow ? TimeToMSecs(TrimSpaces(p.end), ",") : 0;
        if (SubtitleLineLoaded) SubtitleLineLoaded(start, end, std::string(TrimSpaces(p.text)));
        if (SubtitleCueLoaded)
            SubtitleCueLoaded(start, p.hasArrow ? std::optional<double>(end) : std::nullopt, TrimSpaces(p.text));
        if (!IsEndMarker(p)) ++m_lastRun.cuesDelivered;
    }
    if (run.s.s_RaiseCompleteEvent) progress(run.ev, 0, 0, kStatusComplete, std::string());
    return true;
}

void clsSubtitle::QuickSort(std::vector<std::string>& arr, int64_t First, int64_t Last) {
    if (arr.empty()) return;
    First = std::max<int64_t>(First, 0);
    Last = std::min<int64_t>(Last, static_cast<int64_t>(arr.size()) - 1);
    if (First >= Last) return;
    // Every element is a distinct position in a total order, so any correct
    // sort gives the same result; introsort keeps n log n on every input.
    SortEntries(arr, static_cast<std::size_t>(First), static_cast<std::size_t>(Last));
}

}  // namespace lumeval
