// The player formats: snc and qly (a time line, then the cue's text lines),
// stl and vsf (one cue per line) and dks (a text line opened by its start tag,
// closed by a bare end tag).
#include <charconv>
#include <cstdint>
#include <string>

#include "engine/readers/readers.h"
#include "engine/textutil.h"
#include "engine/timecode.h"

namespace lumeval {
namespace {

constexpr std::string_view kSncOpen = "\xE2\x91\xA9";   // U+2469
constexpr std::string_view kSncClose = "\xE2\x91\xBF";  // U+247F
constexpr std::string_view kDksEndMark = "#EndTime#";
constexpr auto npos = std::string_view::npos;

constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }

// `line` begins with `pattern`, where "#" stands for one digit; the leading
// "##" of hours may be wider (our writers give 100 hours and past in full).
bool startsWithPattern(std::string_view line, std::string_view pattern) {
    std::size_t extra = 0;
    while (extra < line.size() && isDigit(line[extra])) ++extra;
    extra = extra > 2 ? extra - 2 : 0;
    if (line.size() < pattern.size() + extra) return false;
    line.remove_prefix(extra);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '#' ? !isDigit(line[i]) : line[i] != pattern[i]) return false;
    }
    return true;
}

// The number a text starts with, after leading spaces; reading stops at the
// first character that cannot continue it. Nothing readable gives 0.
double leadingNumber(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    std::size_t end = i;
    while (end < s.size() && isDigit(s[end])) ++end;
    if (end < s.size() && s[end] == '.') {
        ++end;
        while (end < s.size() && isDigit(s[end])) ++end;
    }
    double value = 0;
    const auto r = std::from_chars(s.data() + i, s.data() + end, value);
    return r.ec == std::errc() ? value : 0;
}

// Stl scripts line their fields up with tabs around the commas, so tabs are
// trimmed along with spaces; otherwise "00:00:01:50<tab>" no longer reads as
// hundredths and the text keeps a leading tab.
std::string_view trimBlanks(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// snc and qly: a time line starts a cue, the text lines below it belong to
// that cue. When the time line added nothing (outside the time window) its
// text is dropped with it; appending it would put it on an unrelated earlier
// cue. The flag survives into the next file of the run, like the cue would.
void startCue(ReaderContext& ctx, std::string_view span) {
    const std::size_t before = ctx.table.size();
    AddTimedLine(ctx.table, span, {}, ctx.rules);
    ctx.state.skipContinuation = ctx.table.size() == before;
}

void continueCue(ReaderContext& ctx, std::string_view text) {
    // Index 0 is the placeholder: text before the first cue has no owner.
    if (ctx.state.skipContinuation || ctx.table.size() < 2) return;
    AppendToLastEntry(ctx.table, text);
}

// qly start: two or more digits of total minutes, ":", two digits of
// seconds, nothing else. Our writer gives three-digit minutes from 100
// minutes on, so those are times too.
bool qlyStart(std::string_view line, double& ms) {
    const auto colon = line.find(':');
    if (colon == npos || colon < 2 || colon > 9 || line.size() != colon + 3) return false;
    int64_t minutes = 0;
    for (std::size_t i = 0; i < colon; ++i) {
        if (!isDigit(line[i])) return false;
        minutes = minutes * 10 + (line[i] - '0');
    }
    if (!isDigit(line[colon + 1]) || !isDigit(line[colon + 2])) return false;
    const int64_t seconds = (line[colon + 1] - '0') * 10 + (line[colon + 2] - '0');
    ms = static_cast<double>((minutes * 60 + seconds) * 1000);
    return true;
}

// dks: the pending cue's end is still open.
bool dksOpen(const ReaderState& st) { return st.pendingSpan.find(kDksEndMark) != std::string::npos; }

void closeDksCue(ReaderContext& ctx, std::string_view endTime) {
    auto& st = ctx.state;
    if (!dksOpen(st)) return;
    AddTimedLine(ctx.table, ReplaceAll(st.pendingSpan, kDksEndMark, endTime), st.pendingText, ctx.rules);
    // Used up: a second bare tag in a row adds nothing.
    st.pendingSpan.clear();
    st.pendingText.clear();
}

}  // namespace

void FinishDks(ReaderContext& ctx) {
    // A text line whose end tag never came: its start is all there is.
    auto& st = ctx.state;
    if (!dksOpen(st)) return;
    const std::string start = st.pendingSpan.substr(0, st.pendingSpan.find("->"));
    AddTimedLine(ctx.table, start, st.pendingText, ctx.rules);
    st.pendingSpan.clear();
    st.pendingText.clear();
}

void ReadSncLine(std::string_view line, ReaderContext& ctx) {
    if (line.find(kSncOpen) != npos && line.find(kSncClose) != npos) {
        // Hundredths of a second between the markers.
        const double hundredths = leadingNumber(FindTextBetween(line, kSncOpen, kSncClose, 1, 1));
        startCue(ctx, MSecsToTime(hundredths * 10, 0));
        return;
    }
    if (TrimSpaces(line).empty()) return;
    continueCue(ctx, KillTag(line, false));
}

void ReadQlyLine(std::string_view line, ReaderContext& ctx) {
    double ms = 0;
    if (qlyStart(line, ms)) {
        startCue(ctx, MSecsToTime(ms, 0));
        return;
    }
    if (TrimSpaces(line).empty()) return;
    continueCue(ctx, line);
}

void ReadStlLine(std::string_view line, ReaderContext& ctx) {
    if (!startsWithPattern(line, "##:##:##:##")) return;
    const auto comma1 = line.find(',');
    if (comma1 == npos) return;
    const auto comma2 = line.find(',', comma1 + 1);
    if (comma2 == npos) return;  // no text field
    std::string span(trimBlanks(line.substr(0, comma1)));
    span += "->";
    span += trimBlanks(line.substr(comma1 + 1, comma2 - comma1 - 1));
    // The text runs to the end of the line: it may hold commas of its own.
    // "|" breaks the line; the blanks around it only set it apart.
    const std::string killed = KillTag(line.substr(comma2 + 1), false);
    const std::string_view rest = trimBlanks(killed);
    std::string text;
    text.reserve(rest.size() + 8);
    for (std::size_t from = 0;;) {
        const auto bar = rest.find('|', from);
        text += trimBlanks(rest.substr(from, bar == npos ? npos : bar - from));
        if (bar == npos) break;
        text += "\\N";
        from = bar + 1;
    }
    AddTimedLine(ctx.table, span, text, ctx.rules);
}

void ReadVsfLine(std::string_view line, ReaderContext& ctx) {
    if (!startsWithPattern(line, "##:##:##,###")) return;
    const auto equals = line.find('=');
    if (equals == npos) return;
    const std::string_view times = line.substr(0, equals);
    const auto dash = times.find('-');
    if (dash == npos) return;  // no end time
    std::string_view end = times.substr(dash + 1);
    end = end.substr(0, end.find('-'));
    std::string span(TrimSpaces(times.substr(0, dash)));
    span += "->";
    span += TrimSpaces(end);
    // Everything after the first "=" is text, "=" signs included.
    const std::string text = KillTag(line.substr(equals + 1), false);
    AddTimedLine(ctx.table, span, TrimSpaces(text), ctx.rules);
}

void ReadDksLine(std::string_view line, ReaderContext& ctx) {
    if (line.empty() || line.front() != '[') return;
    const auto close = line.find(']');
    if (close == npos) return;  // an unterminated tag carries no time
    const std::string_view time = line.substr(1, close - 1);
    const std::string_view rest = line.substr(close + 1);
    if (TrimSpaces(rest).empty()) {
        closeDksCue(ctx, time);
        return;
    }
    // A text line while the previous cue still waits for its end tag: that
    // cue ends where this one starts instead of being lost.
    closeDksCue(ctx, time);
    auto& st = ctx.state;
    st.pendingSpan.assign(time);
    st.pendingSpan += "->";
    st.pendingSpan += kDksEndMark;
    st.pendingText.assign(TrimSpaces(KillTag(rest, false)));
}

}  // namespace lumeval
