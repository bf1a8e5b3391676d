#include <cmath>

#include "engine/formats.h"
#include "engine/linetable.h"
#include "engine/timecode.h"
#include "engine/subtitle.h"
#include "engine/writers/writers.h"

namespace lumeval {

std::string ReplaceLineBreaks(std::string_view text, std::string_view separator) {
    std::string out;
    AppendReplacingLineBreaks(out, text, separator);
    return out;
}

void AppendReplacingLineBreaks(std::string& out, std::string_view text, std::string_view separator) {
    const std::string_view trimmed = TrimSpaces(text);
    // One pass does both replacements. It equals "\N" first, then "\n" on the
    // result, unless the separator could join a neighbour into a new "\n".
    if (!separator.empty() && (separator.back() == '\\' || separator.front() == 'n')) {
        out += ReplaceAll(ReplaceAll(trimmed, "\\N", separator), "\\n", separator);
        return;
    }
    for (std::size_t from = 0;;) {
        const auto slash = trimmed.find('\\', from);
        if (slash == std::string_view::npos) {
            out.append(trimmed.substr(from));
            break;
        }
        if (slash + 1 < trimmed.size() && (trimmed[slash + 1] == 'N' || trimmed[slash + 1] == 'n')) {
            out.append(trimmed.substr(from, slash - from));
            out.append(separator);
            from = slash + 2;
        } else {
            out.append(trimmed.substr(from, slash + 1 - from));
            from = slash + 1;
        }
    }
}

double ReadEntryTimeMs(std::string_view t) {
    return IsCanonicalTime(t) ? CanonicalTimeMs(t) : TimeToMSecs(t, ",");
}

double ImpliedEndMs(const LineTable& entries, std::size_t j, double startMs) {
    for (std::size_t k = j + 1; k < entries.size(); ++k) {
        const EntryParts next = SplitEntry(entries[k]);
        if (!next.hasBar) continue;
        const double nextStart = ReadEntryTimeMs(next.start);
        if (nextStart > startMs) return nextStart;
        break;
    }
    return startMs + kDefaultDurationMs;
}

bool IsEndMarker(const EntryParts& p) { return p.hasBar && !p.hasArrow && TrimSpaces(p.text).empty(); }

bool IsEndMarker(std::string_view entry) { return IsEndMarker(SplitEntry(entry)); }


namespace {
// What SplitEntry and IsBlankText decide, without first searching the whole
// text for a second "|": IsBlankText stops at it.
bool isCue(std::string_view entry) {
    const auto bar = entry.find('|');
    return bar != std::string_view::npos && !IsBlankText(entry.substr(bar + 1));
}
}  // namespace

std::size_t CountCues(const LineTable& entries) {
    std::size_t cues = 0;
    for (const std::string_view e : entries) cues += isCue(e) ? 1 : 0;
    return cues;
}

bool AnyCue(const LineTable& entries) {
    for (const std::string_view e : entries) {
        if (isCue(e)) return true;
    }
    return false;
}

Cue CueOf(const LineTable& entries, std::size_t j, const EntryParts& p) {
    Cue cue;
    // ReadEntryTimeMs, keeping what it learns: a time in the table's form is
    // copied by the writers instead of being formatted again.
    const bool startCanonical = IsCanonicalTime(p.start);
    cue.startMs = startCanonical ? CanonicalTimeMs(p.start) : TimeToMSecs(p.start, ",");
    if (startCanonical) cue.startText = p.start;
    if (p.hasArrow) {
        const bool endCanonical = IsCanonicalTime(p.end);
        cue.endMs = endCanonical ? CanonicalTimeMs(p.end) : TimeToMSecs(p.end, ",");
        if (endCanonical) cue.endText = p.end;
    } else {
        cue.endMs = ImpliedEndMs(entries, j, cue.startMs);
    }
    if (cue.endMs == 0) {
        cue.endMs = cue.startMs + kDefaultDurationMs;
        cue.endText = {};
    }
    cue.text = p.text;
    cue.index = j;
    return cue;
}

bool WriterStep(WriterContext& ctx, std::size_t index) {
    // A save that already failed (the disk, or a character the code page
    // cannot hold) ends the writing.
    if (!ctx.out.sinkOk()) return false;
    index += ctx.base;
    if (index % static_cast<std::size_t>(ctx.interval) != 0) return true;
    return !ctx.onProgress || ctx.onProgress(index);
}

bool WriteSubRip(WriterContext& ctx);           // writers/subrip.cpp
bool WriteSsa(WriterContext& ctx);              // writers/ssa.cpp
bool SsaWritesInPieces(const SaveSettings& s);  // writers/ssa.cpp

bool WritesInPieces(int32_t kind, const SaveSettings& s) {
    const FormatKey* row = RowOfKind(kind);
    if (row == nullptr) return false;
    // SubRip numbers its cues by the count kept across pieces; SSA without
    // a karaoke effect looks at no entry but the one ahead.
    return row->writer == WriteSubRip || (row->writer == WriteSsa && SsaWritesInPieces(s));
}

bool WriteEntries(int32_t kind, WriterContext& ctx) {
    const FormatKey* row = RowOfKind(kind);
    if (row == nullptr || row->writer == nullptr) return true;
    ctx.keepsOverrides = (row->holds & kHoldsOverrides) != 0;
    return row->writer(ctx);
}

void AppendPlainText(std::string& out, std::string_view text) {
    bool drawing = false;
    for (std::size_t from = 0; from < text.size();) {
        const auto open = text.find('{', from);
        const auto close = open == std::string_view::npos ? open : text.find('}', open + 1);
        if (close == std::string_view::npos) {
            // No block left: a lone "{" is text like the rest.
            if (!drawing) out.append(text.substr(from));
            break;
        }
        if (!drawing) out.append(text.substr(from, open - from));
        // "\p" and a number switches drawing on (above 0) or off (0); the
        // last one of a block decides. "\pos" and "\pbo" are other tags.
        const std::string_view block = text.substr(open + 1, close - open - 1);
        for (auto at = block.find("\\p"); at != std::string_view::npos; at = block.find("\\p", at + 2)) {
            std::size_t d = at + 2;
            if (d >= block.size() || block[d] < '0' || block[d] > '9') continue;
            bool above = false;
            for (; d < block.size() && block[d] >= '0' && block[d] <= '9'; ++d) above = above || block[d] != '0';
            drawing = above;
        }
        from = close + 1;
    }
}

int64_t StepOf(double ms, double unitMs) {
    const double rounded = RoundHalfEven(ms);
    if (!(rounded > 0)) return 0;
    // Far past any time a table holds; keeps the conversion defined.
    constexpr double kFar = 9.0e15;
    return static_cast<int64_t>(std::floor((rounded < kFar ? rounded : kFar) / unitMs));
}

double KeepVisible(double startMs, double endMs, double unitMs) {
    const int64_t start = StepOf(startMs, unitMs);
    return StepOf(endMs, unitMs) > start ? endMs : static_cast<double>(start + 1) * unitMs;
}

}  // namespace lumeval
