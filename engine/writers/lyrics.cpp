// LRC lyrics and KSC karaoke scripts.
#include <charconv>
#include <string>

#include "engine/encoding/codepage.h"
#include "engine/linetable.h"
#include "engine/textutil.h"
#include "engine/timecode.h"
#include "engine/writers/writers.h"
#include "engine/subtitle.h"

namespace lumeval {
namespace {


// Characters as players count them: code points.
std::size_t codePoints(std::string_view s) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++n) i += DecodeUtf8At(s, i).length;
    return n;
}

void appendNumber(std::string& out, long long v) {
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, v);
    out.append(digits, r.ptr);
}

// The inside of a single-quoted string of the script: "'" and "\" escaped
// with a backslash, as the script reads them.
void appendQuoted(std::string& out, std::string_view text) {
    for (const char c : text) {
        if (c == '\'' || c == '\\') out += '\\';
        out += c;
    }
}

}  // namespace

bool WriteLrc(WriterContext& ctx) {
    ctx.out.AppendLine("[ti:" + ctx.settings.s_TitleString + "]");
    ctx.out.AppendLine("[ar:]");
    ctx.out.AppendLine("[al:]");
    ctx.out.AppendLine("[by:Lumeval]");
    StartSteps steps;
    return ForEachEntry(ctx, [&](const EntryParts& p, std::size_t) {
        if (!TrimSpaces(p.text).empty()) {
            // A line lasts until the next one starts: it keeps a step of its own.
            const double startMs = TimeToMSecs(p.start, ",");
            const int64_t step = steps.Next(startMs, StepOf(startMs, 10));
            std::string& line = ctx.out.NewLine();
            line += '[';
            line += MSecsToTime(static_cast<double>(step) * 10, 2);
            line += ']';
            AppendReplacingLineBreaks(line, p.text, " ");
        }
        return true;
    });
}

bool WriteKsc(WriterContext& ctx) {
    static constexpr std::string_view kHeader[] = {
        "karaoke := CreateKaraokeObject;",
        "karaoke.rows := 2;",
        "karaoke.clear;",
        "karaoke.singer := '';",
        "karaoke.songname := '';",
        "karaoke.TimeOffset := 0;",
        "karaoke.AnimateColor := RGB(0,0,0);",
        "karaoke.NormalColor := RGB(0,0,0);",
        "karaoke.Font('', 0, false);\r\n",
    };
    for (std::string_view h : kHeader) ctx.out.AppendLine(h);

    return ForEachEntry(ctx, [&](const EntryParts& p, std::size_t j) {
        if (IsEndMarker(p)) return false;
        const double startMs = TimeToMSecs(p.start, ",");
        const double endMs =
            p.hasArrow ? TimeToMSecs(p.end, ",") : ImpliedEndMs(ctx.entries, j, startMs);
        // The text as the other lyric writers write it: trimmed, line breaks
        // made spaces (a raw "\N" would be read as an escape in the call).
        // Every character gets an equal share of the span; the span is taken
        // as the end converts, so an end of 0 gives negative shares.
        const std::string text = ReplaceLineBreaks(p.text, " ");
        const std::size_t chars = codePoints(text);
        std::string durations;
        if (chars > 0) {
            const auto share = static_cast<long long>(RoundHalfEven((endMs - startMs) / double(chars)));
            std::string one;
            appendNumber(one, share);
            durations.reserve(chars * (one.size() + 1));
            for (std::size_t k = 0; k < chars; ++k) {
                if (k > 0) durations += ',';
                durations += one;
            }
        }
        const double writtenEnd = endMs == 0 ? startMs + kDefaultDurationMs : endMs;

        std::string& line = ctx.out.NewLine();
        line += "karaoke.add('";
        line += MSecsToTime(startMs, 3);
        line += "', '";
        line += MSecsToTime(writtenEnd, 3);
        line += "', '";
        appendQuoted(line, text);
        line += "', '";
        line += durations;
        line += "');";
        return true;
    });
}

}  // namespace lumeval
