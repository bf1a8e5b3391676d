// SubRip, plain text and the engine's own timed text.
#include <charconv>
#include <string>

#include "engine/linetable.h"
#include "engine/textutil.h"
#include "engine/timecode.h"
#include "engine/writers/writers.h"

namespace lumeval {
namespace {

// Times in the table's form are copied as they stand rather than formatted
// again.
void appendTime(std::string& out, std::string_view canonical, double ms) {
    if (!canonical.empty()) {
        out.append(canonical);
    } else {
        AppendTimeStyle0(out, ms);
    }
}

}  // namespace

bool WriteSubRip(WriterContext& ctx) {
    return ForEachCue(
        ctx,
        [&](const Cue& c) {
            std::string& cue = ctx.out.NewLine();
            char digits[24];
            // The cue just counted: its number, across pieces too.
            const auto r = std::to_chars(digits, digits + sizeof digits, ctx.cues);
            cue.append(digits, r.ptr);
            cue += "\r\n";
            appendTime(cue, c.startText, c.startMs);
            cue += " --> ";
            appendTime(cue, c.endText, c.endMs);
            cue += "\r\n";
            AppendReplacingLineBreaks(cue, c.text, "\r\n");
            cue += "\r\n";
        },
        StepAfter::kEveryEntry);
}

bool WritePlainText(WriterContext& ctx) {
    return ForEachEntry(ctx, [&](const EntryParts& p, std::size_t) {
        if (IsEndMarker(p)) return false;
        AppendReplacingLineBreaks(ctx.out.NewLine(), p.text, "\r\n");
        return true;
    });
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
