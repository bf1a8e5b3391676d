// WebVTT: "WEBVTT", a blank line, then per cue its timing line and its text,
// one blank line between cues. The file is always UTF-8 (the format table
// says so; the save honours it).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "engine/timecode.h"
#include "engine/writers/writers.h"

namespace lumeval {
namespace {

// hh:mm:ss.ttt, more hour digits when needed; a negative time is written as 0.
void appendVttTime(std::string& out, double ms) {
    const double rounded = RoundHalfEven(ms);
    const auto total = static_cast<uint64_t>(rounded > 0 ? rounded : 0);
    const uint64_t millis = total % 1000;
    const uint64_t seconds = total / 1000 % 60;
    const uint64_t minutes = total / 60000 % 60;
    const uint64_t hours = total / 3600000;
    char buf[40];
    const int n = std::snprintf(buf, sizeof buf, "%02llu:%02llu:%02llu.%03llu",
                                static_cast<unsigned long long>(hours),
                                static_cast<unsigned long long>(minutes),
                                static_cast<unsigned long long>(seconds),
                                static_cast<unsigned long long>(millis));
    out.append(buf, static_cast<std::size_t>(n));
}

// "<i>", "</b>", "<u>" exactly: the markup WebVTT and the line table share.
std::size_t keptTagLength(std::string_view text, std::size_t at) {
    for (std::string_view tag : {"<i>", "</i>", "<b>", "</b>", "<u>", "</u>"}) {
        if (text.substr(at, tag.size()) == tag) return tag.size();
    }
    return 0;
}

// One text line of a cue: "&", "<" and ">" escaped outside the kept tags (an
// escaped ">" also keeps "-->" out of the text, where it would start a cue).
void appendEscaped(std::string& out, std::string_view line) {
    for (std::size_t i = 0; i < line.size();) {
        const char c = line[i];
        if (c == '<') {
            if (const std::size_t n = keptTagLength(line, i)) {
                out.append(line.substr(i, n));
                i += n;
                continue;
            }
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (c == '&') {
            out += "&amp;";
        } else {
            out += c;
        }
        ++i;
    }
}

// The cue's text lines; a blank line would end the cue early, so blank
// lines inside the text are left out.
void appendCueText(std::string& out, std::string_view text) {
    const std::string lines = ReplaceLineBreaks(text, "\n");
    std::size_t from = 0;
    for (;;) {
        const auto nl = lines.find('\n', from);
        std::string_view line = std::string_view(lines).substr(
            from, nl == std::string::npos ? std::string::npos : nl - from);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") != std::string_view::npos) {
            out += "\r\n";
            appendEscaped(out, line);
        }
        if (nl == std::string::npos) break;
        from = nl + 1;
    }
}

}  // namespace

bool WriteVtt(WriterContext& ctx) {
    ctx.out.AppendLine("WEBVTT");
    ctx.out.AppendLine("");
    bool first = true;
    return ForEachCue(ctx, [&](const Cue& cue) {
        std::string& out = ctx.out.NewLine();
        if (!first) out += "\r\n";  // the blank line between cues
        first = false;
        appendVttTime(out, cue.startMs);
        out += " --> ";
        appendVttTime(out, cue.endMs);
        appendCueText(out, cue.text);
    }) && (ctx.out.AppendLine(""), true);  // the file ends with a line break
}

}  // namespace lumeval
