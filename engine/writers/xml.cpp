// XML lyric documents and SAMI: tag-based text, start times only.
#include <charconv>
#include <string>

#include "engine/encoding/textfile.h"
#include "engine/entities.h"
#include "engine/linetable.h"
#include "engine/subtitle.h"
#include "engine/textutil.h"
#include "engine/timecode.h"
#include "engine/writers/writers.h"

namespace lumeval {
namespace {

// "<sync start=" + whole milliseconds + "><P>": players show only the text
// inside a paragraph, a bare sync comes out as an empty cue.
void appendSync(std::string& line, double ms) {
    line += "<sync start=";
    char digits[24];
    const double rounded = RoundHalfEven(ms);
    const auto r = std::to_chars(digits, digits + sizeof digits,
                                 static_cast<long long>(rounded > 0 ? rounded : 0));
    line.append(digits, r.ptr);
    line += "><P>";
}

// Each line of the text trimmed and escaped, "<br>" between them (blank
// lines go).
void appendSamiText(std::string& out, std::string_view text) {
    bool first = true;
    const auto line = [&](std::string_view piece) {
        piece = TrimSpaces(piece);
        if (piece.empty()) return;
        if (!first) out += "<br>";
        first = false;
        AppendSamiEscaped(out, piece);
    };
    ForEachTextLine(text, line);
}

// The encoding the file is saved in, as the XML declaration names it; a
// parser that believed "gb2312" in a UTF-8 file would misread every
// non-ASCII character.
const char* declaredEncoding(int32_t format) {
    switch (format) {
        case kEncodingUtf8: return "utf-8";
        case kEncodingUtf16LE:
        case kEncodingUtf16BE: return "utf-16";
        case kEncodingUtf32LE:
        case kEncodingUtf32BE: return "utf-32";
        default: return "gb2312";
    }
}

}  // namespace

bool WriteKrc(WriterContext& ctx) {
    // The prologue of the files this format was made for.
    std::string& head = ctx.out.NewLine();
    head += "<?xml version=\"1.0\" encoding=\"";
    head += declaredEncoding(ctx.settings.s_SubtitleEncodeFormat);
    head += "\"?>";
    ctx.out.AppendLine(
        "<!-- QRV Corvane -->\r\n"
        "<Lyric>\r\n"
        "  <song>\r\n"
        "  </song>\r\n"
        "  <lines>");
    StartSteps steps;
    const bool written = ForEachCue(ctx, [&](const Cue& cue) {
        // A line lasts until the next one starts: it keeps a step of its own.
        const int64_t step = steps.Next(cue.startMs, StepOf(cue.startMs, 10));
        std::string& line = ctx.out.NewLine();
        line += "    <line begin=\"";
        line += MSecsToTime(static_cast<double>(step) * 10, 2);
        line += "\">";
        AppendXmlEscaped(line, ReplaceLineBreaks(cue.text, " "));
        line += "</line>";
    });
    if (!written) return false;
    ctx.out.AppendLine("  </lines>\r\n</Lyric>");
    return true;
}

bool WriteSami(WriterContext& ctx) {
    ctx.out.AppendLine("<SAMI>");
    ctx.out.AppendLine("<BODY>");
    // A sync shows its text until the next sync, so a cue that ends before
    // the next one starts (and the last cue) is followed by a clearing sync
    // at its end. Entries with a blank text are not written: the cues' own
    // ends say where the screen clears.
    bool open = false;  // a cue written whose end is still due
    double openEndMs = 0;
    const auto closeBefore = [&](double nextStartMs, bool last) {
        if (!open) return;
        open = false;
        if (!last && !(openEndMs < nextStartMs)) return;
        std::string& line = ctx.out.NewLine();
        appendSync(line, openEndMs);
        line += "&nbsp;";
    };
    const bool written = ForEachCue(ctx, [&](const Cue& cue) {
        closeBefore(cue.startMs, false);
        std::string& line = ctx.out.NewLine();
        appendSync(line, cue.startMs);
        appendSamiText(line, cue.text);
        open = true;
        // An end on or before the start would clear the cue as it comes.
        openEndMs = KeepVisible(cue.startMs, cue.endMs, 1);
    });
    if (!written) return false;
    closeBefore(0, true);
    ctx.out.AppendLine("</BODY>");
    ctx.out.AppendLine("</SAMI>");
    return true;
}

}  // namespace lumeval
