// Writers turn entries into output lines; the caller joins them with CRLF
// and saves them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/linetable.h"
#include "engine/textutil.h"

namespace lumeval {

struct SaveSettings;

/// Called after a handled entry whose index is a multiple of the interval;
/// returns false to stop writing.
using WriterProgress = std::function<bool(std::size_t index)>;

/// The writer's output: lines joined with CRLF as they are appended (no
/// separator after the last), built in one buffer so a large file is never
/// held twice. With a sink, the buffer is handed to the sink and emptied
/// whenever a new line starts past the sink's threshold, so the output is
/// written while it is made instead of held whole.
class OutputLines {
public:
    /// Receives the text so far (whole lines); false stops further output.
    using Sink = std::function<bool(std::string_view)>;

    /// Starts a new line and returns the buffer to append its content to.
    std::string& NewLine() {
        if (m_sink && m_text.size() >= m_threshold) flush();
        if (m_count++ > 0) m_text += "\r\n";
        return m_text;
    }
    void AppendLine(std::string_view line) { NewLine().append(line); }
    bool empty() const { return m_count == 0; }
    std::size_t size() const { return m_count; }
    /// The text not yet handed to the sink (all of it without a sink).
    std::string& text() { return m_text; }
    const std::string& text() const { return m_text; }
    void reserve(std::size_t bytes) {
        // With a sink the buffer never grows much past the threshold.
        if (m_sink) bytes = std::min(bytes, m_threshold + m_threshold / 2);
        m_text.reserve(bytes);
    }

    void SetSink(Sink sink, std::size_t threshold) {
        m_sink = std::move(sink);
        m_threshold = threshold;
    }
    /// True once some text went to the sink.
    bool flushed() const { return m_flushed; }
    /// False once the sink refused a piece; later text is dropped.
    bool sinkOk() const { return m_sinkOk; }

private:
    void flush() {
        if (m_sinkOk) m_sinkOk = m_sink(m_text);
        m_flushed = true;
        m_text.clear();  // capacity kept: the next piece reuses the same memory
    }

    std::string m_text;
    std::size_t m_count = 0;
    Sink m_sink;
    std::size_t m_threshold = 0;
    bool m_flushed = false;
    bool m_sinkOk = true;
};

struct WriterContext {
    const LineTable& entries;
    const SaveSettings& settings;
    int32_t interval;                 ///< at least 1
    const WriterProgress& onProgress; ///< may be empty
    OutputLines& out;                 ///< output lines
    /// Entries seen that hold "|" and a text that is not blank: the cues
    /// of the report line (CountCues, counted on the way). A writer that
    /// writes two of them as one corrects it with CueMerged.
    std::size_t cues = 0;
    /// The format keeps SSA override blocks ("{\b1}"); other formats get a
    /// cue's plain text (PlainText). Set by WriteEntries from the format row.
    bool keepsOverrides = true;
    /// Writing a file in pieces (WritesInPieces): entries before `from` came
    /// with an earlier piece (0 for the first, which also writes the head of
    /// the file), entries from `limit` on are only looked ahead to, and
    /// `more` says a later piece follows (the end of the file waits for it).
    /// Progress reports entry j as `base + j`, its place in the whole list.
    std::size_t from = 0;
    std::size_t limit = SIZE_MAX;
    std::size_t base = 0;
    bool more = false;

    /// A cue written together with the one before it: the report counts it once.
    void CueMerged() {
        if (cues > 0) --cues;
    }
    /// A cue the format has nothing to show of (every line of it blank there):
    /// not written, and not counted.
    void CueSkipped() {
        if (cues > 0) --cues;
    }
};

/// Runs the writer of `kind`; false when stopped by the progress callback.
/// Kinds without a writer produce no lines.
bool WriteEntries(int32_t kind, WriterContext& ctx);
/// True when the writer of `kind` with these settings can write a list a
/// piece at a time (WriterContext::from and the rest), each piece holding
/// one entry past its end to look ahead to: its output is then the same as
/// writing the whole list at once.
bool WritesInPieces(int32_t kind, const SaveSettings& s);

/// Trims the text, then replaces every "\N" and then every "\n" by `separator`.
std::string ReplaceLineBreaks(std::string_view text, std::string_view separator);
/// The same, appended to `out`.
void AppendReplacingLineBreaks(std::string& out, std::string_view text, std::string_view separator);

/// Milliseconds of an entry's time text; the table's canonical form is read
/// without the general parser.
double ReadEntryTimeMs(std::string_view t);

/// End of entry j that has a start only: the start of the next entry that
/// holds a "|" when that is later, else `startMs` + kDefaultDurationMs.
double ImpliedEndMs(const LineTable& entries, std::size_t j, double startMs);

/// A start-only entry whose text is blank ("00:00:08,650|", the bare tag of an
/// LRC file, the "&nbsp;" sync of a SAMI file): it only ends the cue before it,
/// so writers of spans write no cue for it.
bool IsEndMarker(std::string_view entry);
/// The same, for an entry already split.
bool IsEndMarker(const struct EntryParts& p);

/// Number of cues in the entries: those that hold "|" and a text that is not
/// blank (what every writer writes a cue for).
std::size_t CountCues(const LineTable& entries);
/// True when the entries hold at least one cue (stops at the first).
bool AnyCue(const LineTable& entries);

/// True when a cue text shows nothing: only spaces and line-break markers
/// ("\N", "\n") up to the end or kTimingSeparator, which ends an entry's
/// text. Writers write no cue for it.
inline bool IsBlankText(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == kTimingSeparator) return true;  // the end of an entry's text
        if (c == ' ') continue;
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == 'N' || text[i + 1] == 'n')) {
            ++i;
            continue;
        }
        return false;
    }
    return true;
}

/// The text of a cue as a format without SSA override blocks shows it:
/// every "{...}" block left out (a "{" without a "}" after it is text), and
/// the text of a drawing too (from a block holding "\p" and a number above 0
/// to one holding "\p0", or to the end), which is shapes, not words.
/// Appended to `out`.
void AppendPlainText(std::string& out, std::string_view text);
/// True when the text may hold an override block (a "{" followed later by a
/// "}"), so AppendPlainText could change it.
inline bool MayHoldOverrides(std::string_view text) {
    const auto open = text.find('{');
    return open != std::string_view::npos && text.find('}', open + 1) != std::string_view::npos;
}

/// The end a format writes for a cue whose times it keeps in steps of
/// `unitMs` (10 for centiseconds, 1000 for whole seconds): an end that would
/// land on or before the start's step is moved one step after it, so a cue
/// shorter than a step still shows. Times are rounded to whole milliseconds
/// and cut to the step, as the time styles write them.
double KeepVisible(double startMs, double endMs, double unitMs);
/// The step a time falls in, as KeepVisible counts them (negative times are 0).
int64_t StepOf(double ms, double unitMs);

/// Starts of a format that writes starts only, where a cue lasts until the
/// next one starts: a start that would land in the step of the cue before
/// (or before it) while it comes later moves one step after that cue's, so
/// the cue before keeps a step on screen. Cues that start together stay
/// together, and a start earlier than the one before (an unsorted list) is
/// left as it is.
class StartSteps {
public:
    /// The step to write `ms` in, given its own step `step`.
    int64_t Next(double ms, int64_t step) {
        if (m_any && ms == m_lastMs) return m_lastStep;
        if (m_any && ms > m_lastMs && step <= m_lastStep) step = m_lastStep + 1;
        m_any = true;
        m_lastMs = ms;
        m_lastStep = step;
        return step;
    }

private:
    bool m_any = false;
    double m_lastMs = 0;
    int64_t m_lastStep = 0;
};

/// Calls `line(piece)` for every line of a cue text, the pieces between its
/// line-break markers ("\N", "\n"), untrimmed.
template <typename Line>
void ForEachTextLine(std::string_view text, Line line) {
    std::size_t from = 0;
    for (std::size_t at = text.find('\\'); at != std::string_view::npos; at = text.find('\\', at + 1)) {
        if (at + 1 < text.size() && (text[at + 1] == 'N' || text[at + 1] == 'n')) {
            line(text.substr(from, at - from));
            from = at + 2;
            ++at;
        }
    }
    line(text.substr(from));
}

/// Reports progress for entry `index` when it is due; false when stopped.
bool WriterStep(WriterContext& ctx, std::size_t index);

/// One cue as the writers see it: times in milliseconds, the text before
/// its line breaks are replaced.
struct Cue {
    double startMs = 0;
    double endMs = 0;
    std::string_view text;
    std::size_t index = 0;  ///< the entry the cue came from
    /// The times as the entry wrote them when they are in the table's own
    /// form, so a writer of that form copies them; empty otherwise (and
    /// `endText` when the end was worked out).
    std::string_view startText;
    std::string_view endText;
};

/// When a writer reports progress: after each entry it handled, or (SubRip)
/// after every entry of the list.
enum class StepAfter { kHandledEntry, kEveryEntry };

/// The per-entry loop every writer runs: `visit(parts, j)` for each entry
/// that holds "|", returning true when it handled the entry; progress is
/// reported after each handled entry (or after every entry). False when
/// stopped.
/// In a format without override blocks the parts carry the plain text
/// (AppendPlainText), valid until `visit` returns; an entry whose text is
/// only blocks or a drawing is no cue there: neither visited nor counted.
/// `split(entries, j)` gives the parts of entry j, for a writer that has
/// already split it while looking ahead.
struct SplitEach {
    EntryParts operator()(const LineTable& entries, std::size_t j) const {
        return SplitEntry(entries[j]);
    }
};
template <typename Visit, typename Split = SplitEach>
bool ForEachEntry(WriterContext& ctx, Visit visit, StepAfter step = StepAfter::kHandledEntry,
                  Split split = {}) {
    const auto& entries = ctx.entries;
    const std::size_t end = std::min(entries.size(), ctx.limit);
    std::string plain;
    for (std::size_t j = ctx.from; j < end; ++j) {
        EntryParts p = split(entries, j);
        if (p.hasBar && !ctx.keepsOverrides && MayHoldOverrides(p.text)) {
            const bool blank = IsBlankText(p.text);
            plain.clear();
            AppendPlainText(plain, p.text);
            p.text = plain;
            if (!blank && IsBlankText(p.text)) {
                if (step == StepAfter::kEveryEntry && !WriterStep(ctx, j)) return false;
                continue;
            }
        }
        if (p.hasBar && !IsBlankText(p.text)) ++ctx.cues;
        const bool handled = p.hasBar && visit(p, j);
        if ((handled || step == StepAfter::kEveryEntry) && !WriterStep(ctx, j)) return false;
    }
    return true;
}

/// The cue of an entry holding "|": its end is its own, else the next
/// entry's start when later (or kDefaultDurationMs); an end that reads as 0
/// also gets kDefaultDurationMs.
Cue CueOf(const LineTable& entries, std::size_t j, const EntryParts& p);

/// ForEachEntry for the writers of cues: runs `emit` for every entry that
/// holds "|" and a text that is not blank (so never for an end marker).
template <typename Emit>
bool ForEachCue(WriterContext& ctx, Emit emit, StepAfter step = StepAfter::kHandledEntry) {
    return ForEachEntry(
        ctx,
        [&](const EntryParts& p, std::size_t j) {
            if (!IsBlankText(p.text)) emit(CueOf(ctx.entries, j, p));
            return true;
        },
        step);
}

}  // namespace lumeval
