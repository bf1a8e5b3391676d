// XML lyric documents and SAMI: tag-based text, start times only.
#include <charconv>
#include <string>

#include "engine/linetable.h"
#include "engine/textutil.h"
#include "engine/timecode.h"
#include "engine/writers/writers.h"

namespace lumeval {
namespace {

// A cue both writers take: a span with an end, and a text that is not blank.
bool qualifies(const EntryParts& p) { return p.hasBar && p.hasArrow; }
bool hasText(const EntryParts& p) { return !TrimSpaces(p.text).empty(); }

}  // namespace

bool WriteKrc(WriterContext& ctx) {
    // The prologue of the files this format was made for; the declaration
    // says gb2312 whatever encoding the file is saved in.
    ctx.out.AppendLine(
        "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n"
        "<!-- QRV Corvane -->\r\n"
        "<Lyric>\r\n"
        "  <song>\r\n"
        "  </song>\r\n"
        "  <lines>");
    const auto& entries = ctx.entries;
    for (std::size_t j = 0; j < entries.size(); ++j) {
        const EntryParts p = SplitEntry(entries[j]);
        if (!qualifies(p)) continue;
        if (hasText(p)) {
            std::string& line = ctx.out.NewLine();
            line += "    <line begin=\"";
            line += MSecsToTime(TimeToMSecs(p.start, ","), 2);
            line += "\">";
            AppendReplacingLineBreaks(line, p.text, " ");
            line += "</line>";
        }
        if (!WriterStep(ctx, j)) return false;
    }
    ctx.out.AppendLine("  </lines>\r\n</Lyric>");
    return true;
}

bool WriteSami(WriterContext& ctx) {
    ctx.out.AppendLine("<SAMI>");
    ctx.out.AppendLine("<BODY>");
    const auto& entries = ctx.entries;
    for (std::size_t j = 0; j < entries.size(); ++j) {
        const EntryParts p = SplitEntry(entries[j]);
        if (!qualifies(p)) continue;
        if (hasText(p)) {
            // Players show only the text inside a paragraph; a bare sync
            // element comes out as an empty cue.
            std::string& line = ctx.out.NewLine();
            line += "<sync start=";
            char digits[24];
            const auto ms = static_cast<long long>(RoundHalfEven(TimeToMSecs(p.start, ",")));
            const auto r = std::to_chars(digits, digits + sizeof digits, ms);
            line.append(digits, r.ptr);
            line += "><P>";
            AppendReplacingLineBreaks(line, p.text, " ");
        }
        if (!WriterStep(ctx, j)) return false;
    }
    ctx.out.AppendLine("</BODY>");
    ctx.out.AppendLine("</SAMI>");
    return true;
}

}  // namespace lumeval
