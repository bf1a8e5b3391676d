// SubRip, plain text and the engine's own timed text.
#include <charconv>
#include <string>

#include "engine/linetable.h"
#include "engine/textutil.h"
#include "engine/timecode.h"
#include "engine/writers/writers.h"

namespace lumeval {
namespace {

// Canonical times are copied as they stand rather than formatted again.
void appendTime(std::string& out, std::string_view t, double ms) {
    if (IsCanonicalTime(t)) {
        out.append(t);
    } else {
        AppendTimeStyle0(out, ms);
    }
}

}  // namespace

bool WriteSubRip(WriterContext& ctx) {
    const auto& entries = ctx.entries;
    long long number = 0;
    for (std::size_t j = 0; j < entries.size(); ++j) {
        const EntryParts p = SplitEntry(entries[j]);
        if (p.hasBar && !IsBlankText(p.text)) {
            const double startMs = ReadEntryTimeMs(p.start);
            std::string_view endText;
            double endMs;
            if (p.hasArrow) {
                endText = p.end;
                endMs = ReadEntryTimeMs(endText);
            } else {
                endMs = ImpliedEndMs(entries, j, startMs);
            }
            if (endMs == 0) {
                endMs = startMs + kDefaultDurationMs;
                endText = {};
            }
            ++number;
            std::string& cue = ctx.out.NewLine();
            char digits[24];
            const auto r = std::to_chars(digits, digits + sizeof digits, number);
            cue.append(digits, r.ptr);
            cue += "\r\n";
            appendTime(cue, p.start, startMs);
            cue += " --> ";
            appendTime(cue, endText, endMs);
            cue += "\r\n";
            AppendReplacingLineBreaks(cue, p.text, "\r\n");
            cue += "\r\n";
        }
        if (!WriterStep(ctx, j)) return false;
    }
    return true;
}

bool WritePlainText(WriterContext& ctx) {
    const auto& entries = ctx.entries;
    for (std::size_t j = 0; j < entries.size(); ++j) {
        const EntryParts p = SplitEntry(entries[j]);
        if (!p.hasBar || IsEndMarker(p)) continue;
        AppendReplacingLineBreaks(ctx.out.NewLine(), p.text, "\r\n");
        if (!WriterStep(ctx, j)) return false;
    }
    return true;
}

bool WriteTimedText(WriterContext& ctx) {
    return ForEachCue(ctx, [&](const Cue& cue) {
        std::string& line = ctx.out.NewLine();
        appendTime(line, cue.startText, cue.startMs);
        line += "->";
        appendTime(line, cue.endText, cue.endMs);
        line += '|';
        AppendReplacingLineBreaks(line, cue.text, "\\N");
    });
}

}  // namespace lumeval
