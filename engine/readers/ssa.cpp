// SubStation Alpha / Advanced SubStation Alpha events.
//
// Only "Format:" and "Dialogue:" lines matter here; the script resolution is
// picked up by the common line preparation. The columns of "start", "end" and
// "text" come from the last events "Format:" line (the usual ones before any)
// and carry over from one source file to the next.
#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

#include "engine/readers/readers.h"
#include "engine/textutil.h"

namespace lumeval {
namespace {

constexpr std::string_view kFormatTag = "Format:";
constexpr std::string_view kDialogueTag = "Dialogue:";

// Calls `visit(index, field)` for every comma-separated field; stops early
// when `visit` returns false.
template <typename Visit>
void forEachField(std::string_view line, Visit&& visit) {
    int32_t index = 0;
    std::size_t from = 0;
    for (;;) {
        const auto comma = line.find(',', from);
        const std::string_view field =
            line.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from);
        if (!visit(index, field) || comma == std::string_view::npos) return;
        ++index;
        from = comma + 1;
    }
}

void readFormat(std::string_view line, ReaderState& st) {
    forEachField(line, [&](int32_t j, std::string_view field) {
        const std::string name = LowerAscii(TrimSpaces(field));
        if (name == "start") {
            st.ssaStartColumn = j;
        } else if (name == "end") {
            st.ssaEndColumn = j;
        } else if (name == "text") {
            st.ssaTextColumn = j;
        }
        return true;
    });
}

void readDialogue(std::string_view line, ReaderContext& ctx) {
    const ReaderState& st = ctx.state;
    std::string_view start;
    std::string_view end;
    bool haveStart = false;
    bool haveEnd = false;
    // The text is everything from the text column on, so commas inside it
    // survive. A line with fewer commas than the columns need is incomplete
    // and adds nothing (reading on would wrap around to an earlier comma).
    std::string_view text;
    bool haveText = false;
    forEachField(line, [&](int32_t j, std::string_view field) {
        if (j == st.ssaStartColumn) {
            start = TrimSpaces(field);
            haveStart = true;
        }
        if (j == st.ssaEndColumn) {
            end = TrimSpaces(field);
            haveEnd = true;
        }
        if (j == st.ssaTextColumn) {
            text = line.substr(static_cast<std::size_t>(field.data() - line.data()));
            // The space after "Dialogue:" separates; it is not the text's.
            if (j == 0) text.remove_prefix(std::min(text.size(), text.find_first_not_of(' ')));
            haveText = true;
        }
        return !(haveStart && haveEnd && haveText);
    });
    if (!(haveStart && haveEnd && haveText)) return;
    std::string span;
    span.reserve(start.size() + 2 + end.size());
    span.append(start).append("->").append(end);
    AddTimedLine(ctx.table, span, text, ctx.rules);
}

}  // namespace

void ReadSsaLine(std::string_view line, ReaderContext& ctx) {
    const auto format = line.find(kFormatTag);
    const auto dialogue = line.find(kDialogueTag);
    // A dialogue whose text mentions "Format:" is still a dialogue: only a
    // "Format:" that comes before any "Dialogue:" names columns.
    // The fields start after the tag: "Format: Start, End, Text" names its
    // first field too.
    if (format != std::string_view::npos && format < dialogue) {
        readFormat(line.substr(format + kFormatTag.size()), ctx.state);
    } else if (dialogue != std::string_view::npos) {
        readDialogue(line.substr(dialogue + kDialogueTag.size()), ctx);
    }
}

}  // namespace lumeval
