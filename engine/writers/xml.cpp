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

bool hasText(const EntryParts& p) { return !TrimSpaces(p.text).empty(); }

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
    const bool written = ForEachCue(ctx, [&](const Cue& cue) {
        std::string& line = ctx.out.NewLine();
        line += "    <line begin=\"";
        line += MSecsToTime(cue.startMs, 2);
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
    const bool written = ForEachEntry(ctx, [&](const EntryParts& p, std::size_t) {
        // Players show only the text inside a paragraph; a bare sync
        // element comes out as an empty cue. A blank text is the usual
        // clearing sync, which is how SAMI ends the cue before it.
        std::string& line = ctx.out.NewLine();
        line += "<sync start=";
        char digits[24];
        const auto ms = static_cast<long long>(RoundHalfEven(TimeToMSecs(p.start, ",")));
        const auto r = std::to_chars(digits, digits + sizeof digits, ms);
        line.append(digits, r.ptr);
        line += "><P>";
        if (hasText(p)) {
            AppendSamiEscaped(line, ReplaceLineBreaks(p.text, " "));
        } else {
            line += "&nbsp;";
        }
        return true;
    });
    if (!written) return false;
    ctx.out.AppendLine("</BODY>");
    ctx.out.AppendLine("</SAMI>");
    return true;
}

}  // namespace lumeval
