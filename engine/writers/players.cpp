// The player formats: snc, qly, stl (with its "$" settings header), vsf and
// dks. Every cue is written on one text line.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/linetable.h"
#include "engine/textutil.h"
#include "engine/timecode.h"
#include "engine/writers/writers.h"

namespace lumeval {
namespace {


constexpr std::string_view kStlHeader =
    "$FontName\t\t\t=\tArial\r\n"
    "$FontSize\t\t\t=\t32\r\n"
    "$HorzAlign\t\t\t=\tCenter\r\n"
    "$VertAlign\t\t\t=\tbottom\r\n"
    "$Bold\t\t\t\t=\tTRUE\r\n"
    "$UnderLined\t\t\t=\tFALSE\r\n"
    "$Italic\t\t\t\t=\tFALSE\r\n"
    "$XOffset\t\t\t=\t0\r\n"
    "$YOffset\t\t\t=\t33\r\n"
    "$TextContrast\t\t\t=\t15\r\n"
    "$Outline1Contrast\t\t=\t15\r\n"
    "$Outline2Contrast\t\t=\t12\r\n"
    "$BackgroundContrast\t\t=\t0\r\n"
    "$ForceDisplay\t\t\t=\tTRUE\r\n"
    "$FadeIn\t\t\t\t=\t0\r\n"
    "$FadeOut\t\t\t=\t0\r\n"
    "$ColorIndex1\t\t\t=\t0   \r\n"
    "$ColorIndex2\t\t\t=\t0\r\n"
    "$ColorIndex3\t\t\t=\t8\r\n"
    "$ColorIndex4\t\t\t=\t0\r\n"
    "\r\n"
    "$TapeOffset\t\t\t=\tFALSE\r\n";

// A format that writes times coarser than milliseconds would turn a short cue
// into one that ends where it starts, which players never show and readers
// drop. Such an end moves to the next step of the format after the start.
double keepVisible(double startMs, double endMs, double stepMs) {
    if (!(endMs > startMs)) return endMs;
    const double startStep = std::floor(RoundHalfEven(startMs) / stepMs);
    const double endStep = std::floor(RoundHalfEven(endMs) / stepMs);
    return endStep == startStep ? (startStep + 1) * stepMs : endMs;
}

void appendText(std::string& out, std::string_view text) {
    AppendReplacingLineBreaks(out, text, " ");
}

}  // namespace

bool WriteSnc(WriterContext& ctx) {
    return ForEachCue(ctx, [&](const Cue& cue) {
        // Centiseconds, at least eight digits; whole milliseconds first, then
        // halves to even like every other time rounding.
        double centis = RoundHalfEven(RoundHalfEven(cue.startMs) / 10);
        if (!(centis > 0)) centis = 0;
        char digits[32];
        const auto r = std::to_chars(digits, digits + sizeof digits, static_cast<uint64_t>(centis));
        std::string& line = ctx.out.NewLine();
        line += "\xE2\x91\xA9";  // U+2469
        line.append(8 - std::min<std::size_t>(8, static_cast<std::size_t>(r.ptr - digits)), '0');
        line.append(digits, r.ptr);
        line += "\xE2\x91\xBF\r\n";  // U+247F
        appendText(line, cue.text);
    });
}

bool WriteQly(WriterContext& ctx) {
    return ForEachCue(ctx, [&](const Cue& cue) {
        std::string& line = ctx.out.NewLine();
        line += MSecsToTime(cue.startMs, 4);
        line += "\r\n";
        appendText(line, cue.text);
        line += "\r\n";
    });
}

bool WriteStl(WriterContext& ctx) {
    ctx.out.AppendLine(kStlHeader);
    return ForEachCue(ctx, [&](const Cue& cue) {
        std::string& line = ctx.out.NewLine();
        line += MSecsToTime(cue.startMs, 5);
        line += "\t,\t";
        line += MSecsToTime(keepVisible(cue.startMs, cue.endMs, 10), 5);
        line += "\t,\t";
        appendText(line, cue.text);
    });
}

bool WriteVsf(WriterContext& ctx) {
    ctx.out.AppendLine("{* VIPLAY SUBTITLE FILE *}");
    return ForEachCue(ctx, [&](const Cue& cue) {
        std::string& line = ctx.out.NewLine();
        AppendTimeStyle0(line, cue.startMs);
        line += '-';
        AppendTimeStyle0(line, cue.endMs);
        line += '=';
        appendText(line, cue.text);
    });
}

bool WriteDks(WriterContext& ctx) {
    return ForEachCue(ctx, [&](const Cue& cue) {
        std::string& line = ctx.out.NewLine();
        line += '[';
        line += MSecsToTime(cue.startMs, 99);
        line += ']';
        appendText(line, cue.text);
        line += "\r\n[";
        line += MSecsToTime(keepVisible(cue.startMs, cue.endMs, 1000), 99);
        line += ']';
    });
}

}  // namespace lumeval
