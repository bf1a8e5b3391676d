// Lyric readers: LRC time tags, KSC karaoke calls and XML lyric line elements.
#include <string>
#include <vector>

#include "engine/readers/readers.h"
#include "engine/textutil.h"

namespace lumeval {
namespace {

// A line may repeat one lyric under many time tags, and every tag copies the
// lyric. Real files carry a handful of tags per line; a crafted line with
// thousands of tags and a long lyric would otherwise grow the table with the
// square of the line's length. Tags past this many copied bytes are dropped.
constexpr std::size_t kLrcLineBudget = std::size_t{64} << 20;

// Rough cost of one entry: its time text, separator and the lyric.
constexpr std::size_t kEntryOverhead = 16;

std::string withoutChar(std::string_view s, char c) {
    std::string out;
    out.reserve(s.size());
    for (char ch : s) {
        if (ch != c) out += ch;
    }
    return out;
}

}  // namespace

void ReadLrcLine(std::string_view line, ReaderContext& ctx) {
    const std::string_view trimmed = TrimSpaces(line);
    if (trimmed.find('[') == std::string_view::npos || trimmed.find(']') == std::string_view::npos) {
        return;
    }
    // Every piece before the last "]" is a time tag; the last piece is the
    // lyric, with word-timing tags in angle brackets removed.
    const auto lastClose = line.rfind(']');
    const std::string text = KillTag(line.substr(lastClose + 1), false);
    const std::size_t cost = text.size() + kEntryOverhead;
    std::size_t spent = 0;
    std::size_t from = 0;
    while (from <= lastClose) {
        const auto close = line.find(']', from);
        // Spaces around a tag (an indented line) would read as zeros and
        // shift the time, "  [00:01.00]" becoming a minute.
        const std::string span(TrimSpaces(withoutChar(line.substr(from, close - from), '[')));
        from = close + 1;
        spent += cost;
        if (spent > kLrcLineBudget) break;
        AddTimedLine(ctx.table, span, text, ctx.rules);
    }
}

void ReadKscLine(std::string_view line, ReaderContext& ctx) {
    if (LowerAscii(line).find("karaoke.add(") == std::string::npos) return;
    // The arguments run from the first "(" to the second one (or the end).
    const auto open = line.find('(');
    std::string_view args = line.substr(open + 1);
    const auto open2 = args.find('(');
    if (open2 != std::string_view::npos) args = args.substr(0, open2);
    if (TrimSpaces(args).empty()) return;

    std::vector<std::string_view> fields;
    for (std::size_t from = 0;;) {
        const auto sep = args.find("', '", from);
        fields.push_back(args.substr(from, sep == std::string_view::npos ? sep : sep - from));
        if (sep == std::string_view::npos || fields.size() == 4) break;
        from = sep + 4;
    }
    // A lyric holding "(" cuts the arguments short; such a call has no
    // reliable start, end, text and timing, so it is left out whole.
    if (fields.size() < 4) return;

    const std::string start = withoutChar(TrimSpaces(fields[0]), '\'');
    const std::string end = withoutChar(TrimSpaces(fields[1]), '\'');
    std::string text = withoutChar(TrimSpaces(fields[2]), '\'');
    std::string timing = withoutChar(KillTag(TrimSpaces(fields[3]), false), '\'');
    timing = ReplaceAll(timing, ");", "");

    std::string span;
    span.reserve(start.size() + 2 + end.size());
    span.append(start).append("->").append(end);
    text += '|';
    text += timing;
    AddTimedLine(ctx.table, span, text, ctx.rules);
}

void ReadKrcLine(std::string_view line, ReaderContext& ctx) {
    if (LowerAscii(line).find("line begin=") == std::string::npos) return;
    // The first attribute's value is the start; the element's content the text.
    const std::string span = FindTextBetween(line, "\"", "\"", 1, 2);
    const std::string text = KillTag(FindTextBetween(line, ">", "<", 1, 2), false);
    AddTimedLine(ctx.table, span, text, ctx.rules);
}

}  // namespace lumeval
