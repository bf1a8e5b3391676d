// MicroDVD: "{start frame}{end frame}text" per cue, "|" between the lines
// of a cue. The first line "{1}{1}23.976" carries the frame rate, so a
// reader (ours, ffmpeg's, players') counts the frames as we did.
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/framerate.h"
#include "engine/subtitle.h"
#include "engine/timecode.h"
#include "engine/writers/writers.h"

namespace lumeval {
namespace {

// "23.976", "25.000": as exact as the rate needs, three decimals at least.
std::string rateText(double rate) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, rate);
    std::string text(buf, r.ptr);
    const auto point = text.find('.');
    if (point == std::string::npos) return text + ".000";
    while (text.size() - point - 1 < 3) text += '0';
    return text;
}

int64_t frameOf(double ms, double rate) {
    const double frame = RoundHalfEven(ms * rate / 1000);
    return frame > 0 ? static_cast<int64_t>(frame) : 0;
}

// The table's <i>, <b> and <u> become the line's "{y:...}" code (MicroDVD
// styles whole lines only); the tags themselves go.
std::string microDvdLine(std::string_view line) {
    std::string style;
    std::string text;
    text.reserve(line.size());
    for (std::size_t i = 0; i < line.size();) {
        bool matched = false;
        for (const char name : {'i', 'b', 'u'}) {
            const char open[] = {'<', name, '>'};
            const char close[] = {'<', '/', name, '>'};
            if (line.substr(i, 3) == std::string_view(open, 3)) {
                if (style.find(name) == std::string::npos) style += name;
                i += 3;
                matched = true;
            } else if (line.substr(i, 4) == std::string_view(close, 4)) {
                i += 4;
                matched = true;
            }
            if (matched) break;
        }
        if (matched) continue;
        const char c = line[i++];
        // A raw line end would start a new (unreadable) line of the file.
        text += c == '\r' || c == '\n' ? ' ' : c;
    }
    return style.empty() ? text : "{y:" + style + "}" + text;
}

void appendText(std::string& out, std::string_view text) {
    // The per-entry loop hands over the text without SSA override blocks:
    // "{...}" at a line start is a MicroDVD style code of its own.
    const std::string_view plain = TrimSpaces(text);
    bool first = true;
    for (std::size_t from = 0;;) {
        std::size_t at = plain.find('\\', from);
        while (at != std::string::npos && at + 1 < plain.size() && plain[at + 1] != 'N' &&
               plain[at + 1] != 'n') {
            at = plain.find('\\', at + 1);
        }
        if (at != std::string::npos && at + 1 >= plain.size()) at = std::string::npos;
        const std::string_view line = TrimSpaces(std::string_view(plain).substr(
            from, at == std::string::npos ? std::string::npos : at - from));
        if (!line.empty()) {
            if (!first) out += '|';
            out += microDvdLine(line);
            first = false;
        }
        if (at == std::string::npos) break;
        from = at + 2;
    }
}

void appendFrame(std::string& out, int64_t frame) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, frame);
    out += '{';
    out.append(buf, r.ptr);
    out += '}';
}

}  // namespace

bool WriteMicroDvd(WriterContext& ctx) {
    const double given = UsableFrameRate(ctx.settings.s_FrameRate);
    const double rate = given > 0 ? given : kDefaultFrameRate;
    ctx.out.AppendLine("{1}{1}" + rateText(rate));
    return ForEachCue(ctx, [&](const Cue& cue) {
        const int64_t start = frameOf(cue.startMs, rate);
        int64_t end = frameOf(cue.endMs, rate);
        // A cue shorter than a frame still shows for one.
        if (end <= start) end = start + 1;
        std::string& out = ctx.out.NewLine();
        appendFrame(out, start);
        appendFrame(out, end);
        appendText(out, cue.text);
    });
}

}  // namespace lumeval
