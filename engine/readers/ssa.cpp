// SubStation Alpha / Advanced SubStation Alpha events.
//
// Only "Format:" and "Dialogue:" lines matter here; the script resolution is
// picked up by the common line preparation. The columns of "start", "end" and
// "text" come from the last events "Format:" line (the usual ones before any)
// and carry over from one source file to the next.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/readers/readers.h"
#include "engine/textutil.h"
#include "engine/timecode.h"

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

// An event time "H:MM:SS.cc" as scripts really write it: hours, minutes and
// seconds of any width ("0:0:1.44", "1:2:3.45"), and a decimal fraction of a
// second of any width (".6" is 600 ms, ".4567" 457 ms: past three digits
// rounded half to even). The general time reader knows only fixed widths and
// would round such times to whole seconds.
enum class SsaTime { kOther, kOk, kTooLate };

// Digits from `i` on, at least one; moves `i` past them. kTooLate when the
// value exceeds `most`.
SsaTime ssaField(std::string_view s, std::size_t& i, int64_t most, int64_t& value) {
    const std::size_t from = i;
    value = 0;
    bool tooLarge = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (!tooLarge) value = value * 10 + (s[i] - '0');
        tooLarge = tooLarge || value > most;
    }
    if (i == from) return SsaTime::kOther;
    return tooLarge ? SsaTime::kTooLate : SsaTime::kOk;
}

SsaTime ssaTimeMs(std::string_view s, int64_t& ms) {
    int64_t fields[3] = {0, 0, 0};
    constexpr int64_t kMost[3] = {kMaxTimeMs / 3600000, kMaxTimeMs / 60000, kMaxTimeMs / 1000};
    bool tooLate = false;
    std::size_t i = 0;
    for (int k = 0; k < 3; ++k) {
        if (k > 0) {
            if (i == s.size() || s[i] != ':') return SsaTime::kOther;
            ++i;
        }
        const SsaTime got = ssaField(s, i, kMost[k], fields[k]);
        if (got == SsaTime::kOther) return got;
        tooLate = tooLate || got == SsaTime::kTooLate;
    }
    int64_t fraction = 0;
    if (i < s.size()) {
        if (s[i] != '.') return SsaTime::kOther;
        ++i;
        std::size_t digits = 0;
        bool above = false;  // a digit other than 0 after the first dropped one
        int dropped = -1;    // the first digit past milliseconds
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++digits) {
            if (digits < 3) {
                fraction = fraction * 10 + (s[i] - '0');
            } else if (digits == 3) {
                dropped = s[i] - '0';
            } else if (s[i] != '0') {
                above = true;
            }
        }
        if (i != s.size()) return SsaTime::kOther;
        for (std::size_t k = digits; k < 3; ++k) fraction *= 10;
        if (dropped > 5 || (dropped == 5 && (above || fraction % 2 == 1))) ++fraction;
    }
    if (tooLate) return SsaTime::kTooLate;
    ms = fields[0] * 3600000 + fields[1] * 60000 + fields[2] * 1000 + fraction;
    return ms > kMaxTimeMs ? SsaTime::kTooLate : SsaTime::kOk;
}

// Appends the event time `t` to `span` in the line table's form; a form the
// event reader does not know goes as written to the general time reader.
// False for a time beyond the longest one.
bool appendSsaTime(std::string& span, std::string_view t) {
    int64_t ms = 0;
    switch (ssaTimeMs(t, ms)) {
        case SsaTime::kOk:
            AppendTimeStyle0(span, static_cast<double>(ms));
            return true;
        case SsaTime::kTooLate:
            return false;
        case SsaTime::kOther:
        default:
            span.append(t);
            return true;
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
    span.reserve(start.size() + 2 + end.size() + 8);
    const bool inRange = appendSsaTime(span, start);
    span += "->";
    if (!inRange || !appendSsaTime(span, end)) {
        // Left out and counted, as the line builder does with such times.
        if (ctx.rules.refused) ++*ctx.rules.refused;
        return;
    }
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
