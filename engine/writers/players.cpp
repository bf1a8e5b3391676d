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

void appendText(std::string& out, std::string_view text) {
    AppendReplacingLineBreaks(out, text, " ");
}

// "|" breaks an STL text into lines, so the cue's line breaks become it; a
// "|" of the text itself would break the line there too, so it is written as
// the full-width bar, which looks the same and is only text. Blank lines go.
void appendStlText(std::string& out, std::string_view text) {
    bool first = true;
    const auto line = [&](std::string_view piece) {
        piece = TrimSpaces(piece);
        if (piece.empty()) return;
        if (!first) out += " | ";
        first = false;
        out += ReplaceAll(piece, "|", "\xEF\xBD\x9C");  // U+FF5C
    };
    ForEachTextLine(text, line);
}

// qly and dks keep whole seconds: cues that start in the same second cannot
// be told apart, so neighbours that do are written as one cue, their texts
// joined with a space and (dks) lasting to the later end.
class SameSecondCues {
public:
    explicit SameSecondCues(WriterContext& ctx) : m_ctx(ctx) {}

    /// The cue to write before `cue`, when `cue` starts a new second.
    template <typename Write>
    void Add(const Cue& cue, Write write) {
        const int64_t second = StepOf(cue.startMs, 1000);
        if (m_pending && second == m_second) {
            const std::string more = ReplaceLineBreaks(cue.text, " ");
            if (!more.empty()) {
                m_text += ' ';
                m_text += more;
            }
            m_endMs = std::max(m_endMs, cue.endMs);
            m_ctx.CueMerged();
            return;
        }
        Flush(write);
        m_pending = true;
        m_second = second;
        m_startMs = cue.startMs;
        m_endMs = cue.endMs;
        m_text = ReplaceLineBreaks(cue.text, " ");
    }

    template <typename Write>
    void Flush(Write write) {
        if (m_pending) write(m_startMs, m_endMs, std::string_view(m_text));
        m_pending = false;
    }

private:
    WriterContext& m_ctx;
    bool m_pending = false;
    int64_t m_second = 0;
    double m_startMs = 0;
    double m_endMs = 0;
    std::string m_text;
};

}  // namespace

bool WriteSnc(WriterContext& ctx) {
    StartSteps steps;
    return ForEachCue(ctx, [&](const Cue& cue) {
        // Centiseconds, at least eight digits; whole milliseconds first, then
        // halves to even like every other time rounding.
        double centis = RoundHalfEven(RoundHalfEven(cue.startMs) / 10);
        if (!(centis > 0)) centis = 0;
        if (centis > 9.0e15) centis = 9.0e15;
        const int64_t step = steps.Next(cue.startMs, static_cast<int64_t>(centis));
        char digits[32];
        const auto r = std::to_chars(digits, digits + sizeof digits, step);
        std::string& line = ctx.out.NewLine();
        line += "\xE2\x91\xA9";  // U+2469
        line.append(8 - std::min<std::size_t>(8, static_cast<std::size_t>(r.ptr - digits)), '0');
        line.append(digits, r.ptr);
        line += "\xE2\x91\xBF\r\n";  // U+247F
        appendText(line, cue.text);
    });
}

bool WriteQly(WriterContext& ctx) {
    const auto write = [&](double startMs, double, std::string_view text) {
        std::string& line = ctx.out.NewLine();
        line += MSecsToTime(startMs, 4);
        line += "\r\n";
        line += text;
        line += "\r\n";
    };
    SameSecondCues cues(ctx);
    if (!ForEachCue(ctx, [&](const Cue& cue) { cues.Add(cue, write); })) return false;
    cues.Flush(write);
    return true;
}

bool WriteStl(WriterContext& ctx) {
    ctx.out.AppendLine(kStlHeader);
    return ForEachCue(ctx, [&](const Cue& cue) {
        std::string& line = ctx.out.NewLine();
        line += MSecsToTime(cue.startMs, 5);
        line += "\t,\t";
        line += MSecsToTime(KeepVisible(cue.startMs, cue.endMs, 10), 5);
        line += "\t,\t";
        appendStlText(line, cue.text);
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
    const auto write = [&](double startMs, double endMs, std::string_view text) {
        std::string& line = ctx.out.NewLine();
        line += '[';
        line += MSecsToTime(startMs, 99);
        line += ']';
        line += text;
        line += "\r\n[";
        line += MSecsToTime(KeepVisible(startMs, endMs, 1000), 99);
        line += ']';
    };
    SameSecondCues cues(ctx);
    if (!ForEachCue(ctx, [&](const Cue& cue) { cues.Add(cue, write); })) return false;
    cues.Flush(write);
    return true;
}

}  // namespace lumeval
