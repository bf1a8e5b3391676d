// WebVTT: "WEBVTT", a blank line, then per cue its timing line and its text,
// one blank line between cues. The file is always UTF-8 (the format table
// says so; the save honours it).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

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
// Returns the tag's letter and whether it closes; 0 when there is none at `at`.
char keptTag(std::string_view text, std::size_t at, bool& closing, std::size_t& length) {
    for (std::string_view tag : {"<i>", "</i>", "<b>", "</b>", "<u>", "</u>"}) {
        if (text.substr(at, tag.size()) == tag) {
            closing = tag[1] == '/';
            length = tag.size();
            return tag[tag.size() - 2];
        }
    }
    return 0;
}

void appendTag(std::string& out, char name, bool closing) {
    out += closing ? "</" : "<";
    out += name;
    out += '>';
}

// One text line of a cue: "&", "<" and ">" escaped outside the kept tags (an
// escaped ">" also keeps "-->" out of the text, where it would start a cue).
// The kept tags are balanced over the whole cue (`open`): a closing tag that
// closes nothing is escaped, one that skips inner tags closes them first.
void appendEscaped(std::string& out, std::string_view line, std::string& open) {
    for (std::size_t i = 0; i < line.size();) {
        const char c = line[i];
        if (c == '<') {
            bool closing = false;
            std::size_t n = 0;
            if (const char name = keptTag(line, i, closing, n)) {
                if (!closing) {
                    open += name;
                    appendTag(out, name, false);
                    i += n;
                    continue;
                }
                if (const auto at = open.rfind(name); at != std::string::npos) {
                    while (open.size() > at) {
                        appendTag(out, open.back(), true);
                        open.pop_back();
                    }
                    i += n;
                    continue;
                }
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
// lines inside the text are left out. Tags still open at the end are closed.
void appendCueText(std::string& out, std::string_view text) {
    const std::string lines = ReplaceLineBreaks(text, "\n");
    std::string open;
    std::size_t from = 0;
    for (;;) {
        const auto nl = lines.find('\n', from);
        std::string_view line = std::string_view(lines).substr(
            from, nl == std::string::npos ? std::string::npos : nl - from);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") != std::string_view::npos) {
            out += "\r\n";
            appendEscaped(out, line, open);
        }
        if (nl == std::string::npos) break;
        from = nl + 1;
    }
    while (!open.empty()) {
        appendTag(out, open.back(), true);
        open.pop_back();
    }
}

// WebVTT wants every cue to end after it starts; an end that does not is
// taken as no end (the next start, or the default length).
double usableEnd(const std::vector<std::string>& entries, const Cue& cue) {
    if (cue.endMs > cue.startMs) return cue.endMs;
    const double implied = ImpliedEndMs(entries, cue.index, cue.startMs);
    return implied > cue.startMs ? implied : cue.startMs + kDefaultDurationMs;
}

void appendCue(std::string& out, bool first, const Cue& cue, double endMs) {
    if (!first) out += "\r\n";  // the blank line between cues
    appendVttTime(out, cue.startMs);
    out += " --> ";
    appendVttTime(out, endMs);
    appendCueText(out, cue.text);
}

// WebVTT wants cues in start order; an unsorted table (--no-sort) is put in
// order here, keeping the order of cues that start together.
bool startsInOrder(const std::vector<std::string>& entries) {
    double last = -1;
    for (const std::string& e : entries) {
        const EntryParts p = SplitEntry(e);
        if (!p.hasBar || TrimSpaces(p.text).empty()) continue;
        const double start = ReadEntryTimeMs(p.start);
        if (start < last) return false;
        last = start;
    }
    return true;
}

}  // namespace

bool WriteVtt(WriterContext& ctx) {
    ctx.out.AppendLine("WEBVTT");
    ctx.out.AppendLine("");
    bool first = true;
    const auto write = [&](const Cue& cue) {
        appendCue(ctx.out.NewLine(), first, cue, usableEnd(ctx.entries, cue));
        first = false;
    };
    if (startsInOrder(ctx.entries)) {
        if (!ForEachCue(ctx, write)) return false;
    } else {
        std::vector<Cue> cues;
        if (!ForEachCue(ctx, [&](const Cue& cue) { cues.push_back(cue); })) return false;
        std::stable_sort(cues.begin(), cues.end(),
                         [](const Cue& a, const Cue& b) { return a.startMs < b.startMs; });
        for (const Cue& cue : cues) write(cue);
    }
    ctx.out.AppendLine("");  // the file ends with a line break
    return true;
}

}  // namespace lumeval
