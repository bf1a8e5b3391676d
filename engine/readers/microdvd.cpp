// The two formats that share the ".sub" extension, told apart by content:
// MicroDVD ("{start frame}{end frame}text") and SubViewer 2 (an
// "[INFORMATION]" header, then "hh:mm:ss.cc,hh:mm:ss.cc" time lines, each
// followed by its text lines up to a blank line).
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/framerate.h"
#include "engine/readers/readers.h"
#include "engine/sniff.h"
#include "engine/textutil.h"
#include "engine/timecode.h"

namespace lumeval {
namespace {

// Frame numbers beyond this are beyond any time a table holds at any usable
// rate; reading them as numbers would only invite overflow.
constexpr std::size_t kMaxFrameDigits = 16;

bool digit(char c) {
    return c >= '0' && c <= '9';
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// What the reader carries from one line to the next, for one file: the
// first line that shows which of the two formats the file is decides it.
struct SubReader {
    enum Kind { kUndecided, kMicroDvd, kSubViewer } kind = kUndecided;
    // MicroDVD
    bool firstFrameLine = true;  // the frame-rate line can only come first
    double fileRate = 0;         // from "{1}{1}25.000"; 0: none
    // SubViewer
    bool inInformation = false;
    bool inCue = false;
    std::string span;
    std::string text;
};

// ---- MicroDVD ----

// "{digits}" at `i`. nullopt when unreadable; `huge` when the number has
// more significant digits than any usable frame count.
std::optional<int64_t> readFrame(std::string_view line, std::size_t& i, bool& huge) {
    if (i >= line.size() || line[i] != '{') return std::nullopt;
    ++i;
    int64_t value = 0;
    std::size_t significant = 0;
    const std::size_t from = i;
    for (; i < line.size() && digit(line[i]); ++i) {
        if (significant == 0 && line[i] == '0') continue;
        if (++significant > kMaxFrameDigits) {
            huge = true;
            continue;
        }
        value = value * 10 + (line[i] - '0');
    }
    if (i == from || i >= line.size() || line[i] != '}') return std::nullopt;
    ++i;
    return value;
}

// A frame rate as the first line of a MicroDVD file writes it ("23.976",
// "25"); nullopt when the text is no such number.
std::optional<double> readRate(std::string_view text) {
    text = TrimSpaces(text);
    if (text.empty() || text.size() > 16) return std::nullopt;
    double whole = 0;
    double scale = 0;
    bool any = false;
    for (const char c : text) {
        if (digit(c)) {
            any = true;
            if (scale == 0) {
                whole = whole * 10 + (c - '0');
            } else {
                whole += (c - '0') * scale;
                scale /= 10;
            }
        } else if (c == '.' && scale == 0) {
            scale = 0.1;
        } else {
            return std::nullopt;
        }
    }
    if (!any) return std::nullopt;
    return UsableFrameRate(whole) > 0 ? std::optional<double>(whole) : std::nullopt;
}

// Style codes at the start of a line: "{y:i}", "{c:$0000ff}", "{f:Arial}".
// A lower-case letter holds for its line, an upper-case one for the cue.
// Italic, bold and underline become the table's <i>, <b>, <u>; the rest
// (colours, fonts, sizes, positions) has no place in the table and goes.
struct LineStyle {
    bool italic = false, bold = false, underline = false;
    void add(std::string_view value) {
        for (const char c : value) {
            const char l = lowerAscii(c);
            if (l == 'i') italic = true;
            if (l == 'b') bold = true;
            if (l == 'u') underline = true;
        }
    }
    LineStyle with(const LineStyle& o) const {
        return {italic || o.italic, bold || o.bold, underline || o.underline};
    }
};

// Removes the style codes at the start of `line`; a "{y:...}"/"{Y:...}"
// code is noted in `own` or `cue`.
std::string_view takeStyleCodes(std::string_view line, LineStyle& own, LineStyle& cue) {
    for (;;) {
        if (line.size() < 4 || line[0] != '{' || line[2] != ':') return line;
        const char letter = line[1];
        if (lowerAscii(letter) < 'a' || lowerAscii(letter) > 'z') return line;
        const auto close = line.find('}');
        if (close == std::string_view::npos) return line;
        if (letter == 'y') own.add(line.substr(3, close - 3));
        if (letter == 'Y') cue.add(line.substr(3, close - 3));
        line.remove_prefix(close + 1);
    }
}

void appendStyled(std::string& out, std::string_view text, const LineStyle& style) {
    if (style.italic) out += "<i>";
    if (style.bold) out += "<b>";
    if (style.underline) out += "<u>";
    out.append(text);
    if (style.underline) out += "</u>";
    if (style.bold) out += "</b>";
    if (style.italic) out += "</i>";
}

// The cue text: "|" breaks lines ("\N" in the table), style codes go.
std::string microDvdText(std::string_view text) {
    // The cue-wide codes stand at the start of the first line.
    LineStyle cue;
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t from = 0;;) {
        const auto bar = text.find('|', from);
        std::string_view line = text.substr(from, bar == std::string_view::npos ? bar : bar - from);
        LineStyle own;
        line = takeStyleCodes(line, own, cue);
        if (from != 0) out += "\\N";
        appendStyled(out, line, own.with(cue));
        if (bar == std::string_view::npos) break;
        from = bar + 1;
    }
    return out;
}

// Milliseconds of a frame at `rate`, half to even; nullopt beyond the
// longest time a table holds.
std::optional<double> frameMs(int64_t frame, double rate) {
    const double ms = RoundHalfEven(static_cast<double>(frame) * 1000.0 / rate);
    if (!(ms <= static_cast<double>(kMaxTimeMs))) return std::nullopt;
    return ms;
}

void refuse(ReaderContext& ctx) {
    if (ctx.rules.refused != nullptr) ++*ctx.rules.refused;
}

void readMicroDvdLine(std::string_view line, SubReader& st, ReaderContext& ctx) {
    std::size_t i = 0;
    bool huge = false;
    const auto start = readFrame(line, i, huge);
    if (!start) return;  // not a MicroDVD line (a stray text line, or a negative frame)
    std::optional<int64_t> end;
    if (i + 1 < line.size() && line[i] == '{' && line[i + 1] == '}') {
        i += 2;  // "{}": no end frame
    } else {
        end = readFrame(line, i, huge);
        if (!end) return;
    }
    const std::string_view text = line.substr(i);
    const bool first = st.firstFrameLine;
    st.firstFrameLine = false;
    if (huge) return refuse(ctx);
    // "{1}{1}25.000" first in the file: the frame rate, no cue.
    if (first && *start <= 1 && (!end || *end == *start)) {
        if (const auto rate = readRate(text)) {
            st.fileRate = *rate;
            return;
        }
    }
    const double rate = ctx.state.frameRate > 0 ? ctx.state.frameRate
                        : st.fileRate > 0       ? st.fileRate
                                                : kDefaultFrameRate;
    const auto startMs = frameMs(*start, rate);
    if (!startMs) return refuse(ctx);
    std::string span;
    AppendTimeStyle0(span, *startMs);
    // An end before the start is taken as none: the cue lasts until the next.
    if (end && *end >= *start) {
        const auto endMs = frameMs(*end, rate);
        if (!endMs) return refuse(ctx);
        span += "->";
        AppendTimeStyle0(span, *endMs);
    }
    AddTimedLine(ctx.table, span, microDvdText(text), ctx.rules);
}

// ---- SubViewer 2 ----

int64_t twoDigits(std::string_view s, std::size_t at) {
    return (s[at] - '0') * 10 + (s[at + 1] - '0');
}

// "h:mm:ss.cc" or "hh:mm:ss.cc" at the start of `s` (already checked by
// IsSubViewerTimeLine) as milliseconds; `used` gets its length.
int64_t subViewerTime(std::string_view s, std::size_t& used) {
    const std::size_t h = s[1] == ':' ? 1 : 2;
    const int64_t hours = h == 1 ? s[0] - '0' : twoDigits(s, 0);
    const int64_t minutes = twoDigits(s, h + 1);
    const int64_t seconds = twoDigits(s, h + 4);
    const int64_t centis = twoDigits(s, h + 7);
    used = h + 9;
    return ((hours * 60 + minutes) * 60 + seconds) * 1000 + centis * 10;
}

void closeSubViewerCue(SubReader& st, ReaderContext& ctx) {
    if (st.inCue) AddTimedLine(ctx.table, st.span, st.text, ctx.rules);
    st.inCue = false;
    st.span.clear();
    st.text.clear();
}

// "[br]" is SubViewer's line break.
void appendSubViewerText(std::string& out, std::string_view line) {
    for (std::size_t from = 0;;) {
        std::size_t at = from;
        while (at + 4 <= line.size()) {
            if (line[at] == '[' && lowerAscii(line[at + 1]) == 'b' &&
                lowerAscii(line[at + 2]) == 'r' && line[at + 3] == ']') {
                break;
            }
            ++at;
        }
        if (at + 4 > line.size()) {
            out.append(line.substr(from));
            return;
        }
        out.append(line.substr(from, at - from));
        out += "\\N";
        from = at + 4;
    }
}

void readSubViewerLine(std::string_view line, SubReader& st, ReaderContext& ctx) {
    const std::string_view trimmed = TrimSpaces(line);
    if (IsSubViewerTimeLine(line)) {
        // A time line ends the header and any cue that no blank line closed.
        st.inInformation = false;
        closeSubViewerCue(st, ctx);
        std::size_t used = 0;
        const int64_t start = subViewerTime(line, used);
        std::size_t more = 0;
        const int64_t end = subViewerTime(line.substr(used + 1), more);
        st.span.clear();
        AppendTimeStyle0(st.span, static_cast<double>(start));
        st.span += "->";
        AppendTimeStyle0(st.span, static_cast<double>(end));
        st.inCue = true;
        return;
    }
    if (st.inInformation) {
        if (trimmed.size() == 17 && LowerAscii(trimmed) == "[end information]") {
            st.inInformation = false;
        }
        return;
    }
    if (IsSubViewerHeader(line)) {
        closeSubViewerCue(st, ctx);
        st.inInformation = true;
        return;
    }
    if (trimmed.empty()) return closeSubViewerCue(st, ctx);
    // Lines outside a cue ("[COLF]&HFFFFFF,[STYLE]..." and the like) are
    // settings for players; nothing the table holds.
    if (!st.inCue) return;
    if (!st.text.empty()) st.text += "\\N";
    appendSubViewerText(st.text, trimmed);
}

}  // namespace

void ReadSubLine(std::string_view line, bool isLastLine, ReaderContext& ctx) {
    SubReader& st = ctx.state.Own<SubReader>();
    if (st.kind == SubReader::kUndecided) {
        if (IsMicroDvdLine(line)) {
            st.kind = SubReader::kMicroDvd;
        } else if (IsSubViewerHeader(line) || IsSubViewerTimeLine(line)) {
            st.kind = SubReader::kSubViewer;
        }
    }
    if (st.kind == SubReader::kMicroDvd) {
        readMicroDvdLine(line, st, ctx);
    } else if (st.kind == SubReader::kSubViewer) {
        readSubViewerLine(line, st, ctx);
    }
    // The decision, the frame rate and an open cue belong to this file only.
    if (isLastLine) {
        if (st.kind == SubReader::kSubViewer) closeSubViewerCue(st, ctx);
        st = SubReader{};
    }
}

}  // namespace lumeval
