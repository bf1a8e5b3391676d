// SubRip, plain text and the engine's own timed text.
#include <string>

#include "engine/linetable.h"
#include "engine/textutil.h"
#include "engine/timecode.h"
#include "engine/writers/writers.h"

namespace lumeval {
namespace {

constexpr double kDefaultDurationMs = 5000;

std::string_view timePartOf(std::string_view entry) {
    const auto bar = entry.find('|');
    return bar == std::string_view::npos ? entry : entry.substr(0, bar);
}

}  // namespace

bool WriteSubRip(WriterContext& ctx) {
    const auto& entries = ctx.entries;
    const std::size_t last = entries.empty() ? 0 : entries.size() - 1;
    long long number = 0;
    for (std::size_t j = 0; j < entries.size(); ++j) {
        const EntryParts p = SplitEntry(entries[j]);
        if (p.hasBar && !TrimSpaces(p.text).empty()) {
            const double startMs = TimeToMSecs(p.start, ",");
            double endMs;
            if (p.hasArrow) {
                endMs = TimeToMSecs(p.end, ",");
            } else if (j == last) {
                endMs = startMs + kDefaultDurationMs;
            } else {
                endMs = TimeToMSecs(timePartOf(entries[j + 1]), ",");
            }
            if (endMs == 0) endMs = startMs + kDefaultDurationMs;
            ++number;
            std::string cue = std::to_string(number);
            cue += "\r\n";
            cue += MSecsToTime(startMs, 0);
            cue += " --> ";
            cue += MSecsToTime(endMs, 0);
            cue += "\r\n";
            cue += ReplaceLineBreaks(p.text, "\r\n");
            cue += "\r\n";
            ctx.out.push_back(std::move(cue));
        }
        if (!WriterStep(ctx, j)) return false;
    }
    return true;
}

bool WritePlainText(WriterContext& ctx) {
    const auto& entries = ctx.entries;
    for (std::size_t j = 0; j < entries.size(); ++j) {
        const EntryParts p = SplitEntry(entries[j]);
        if (!(p.hasBar && p.hasArrow)) continue;
        ctx.out.push_back(ReplaceLineBreaks(p.text, "\r\n"));
        if (!WriterStep(ctx, j)) return false;
    }
    return true;
}

bool WriteTimedText(WriterContext& ctx) {
    const auto& entries = ctx.entries;
    for (std::size_t j = 0; j < entries.size(); ++j) {
        const EntryParts p = SplitEntry(entries[j]);
        if (!(p.hasBar && p.hasArrow)) continue;
        if (!TrimSpaces(p.text).empty()) {
            const double startMs = TimeToMSecs(p.start, ",");
            double endMs = TimeToMSecs(p.end, ",");
            if (endMs == 0) endMs = startMs + kDefaultDurationMs;
            std::string line = MSecsToTime(startMs, 0);
            line += "->";
            line += MSecsToTime(endMs, 0);
            line += '|';
            line += ReplaceLineBreaks(p.text, "\\N");
            ctx.out.push_back(std::move(line));
        }
        if (!WriterStep(ctx, j)) return false;
    }
    return true;
}

}  // namespace lumeval
