// WebVTT: "WEBVTT", a blank line, then per cue its timing line and its text,
// one blank line between cues. The file is always UTF-8 (the format table
// says so; the save honours it).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <charconv>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/timecode.h"
#include "engine/writers/writers.h"

namespace lumeval {
namespace {

// hh:mm:ss.ttt, more hour digits when needed; a negative time is written as
// 0. A time the table holds in its own form (HH:MM:SS,mmm) is copied with
// its comma made a dot.
void appendVttTime(std::string& out, std::string_view text, double ms) {
    if (!text.empty()) {  // the table's own form
        const std::size_t at = out.size();
        out.append(text);
        out[at + text.size() - 4] = '.';
        return;
    }
    const double rounded = RoundHalfEven(ms);
    const auto total = static_cast<uint64_t>(rounded > 0 ? rounded : 0);
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, total / 3600000);
    if (r.ptr - digits < 2) out += '0';
    out.append(digits, r.ptr);
    const auto two = [&out](uint64_t v) {
        out += ':';
        out += static_cast<char>('0' + v / 10);
        out += static_cast<char>('0' + v % 10);
    };
    two(total / 60000 % 60);
    two(total / 1000 % 60);
    const uint64_t millis = total % 1000;
    out += '.';
    out += static_cast<char>('0' + millis / 100);
    out += static_cast<char>('0' + millis / 10 % 10);
    out += static_cast<char>('0' + millis % 10);
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
        } else if (c == '\r' || c == '\n') {
            out += ' ';  // a raw line end would split the cue's structure
        } else {
            out += c;
        }
        ++i;
    }
}

// The cue's text lines ("\N" and "\n" break them); a blank line would end
// the cue early, so blank lines inside the text are left out.
template <typename Visit>
void forEachShownLine(std::string_view text, Visit visit) {
    text = TrimSpaces(text);
    for (std::size_t from = 0;;) {
        std::size_t at = text.find('\\', from);
        while (at != std::string_view::npos && at + 1 < text.size() && text[at + 1] != 'N' &&
               text[at + 1] != 'n') {
            at = text.find('\\', at + 1);
        }
        if (at + 1 >= text.size()) at = std::string_view::npos;  // a final lone "\"
        const std::string_view line =
            text.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from);
        if (line.find_first_not_of(" \t\r\n") != std::string_view::npos) visit(line);
        if (at == std::string_view::npos) break;
        from = at + 2;
    }
}

// A text of tabs and the like leaves no line to write; the cue would have no
// text, which a reader takes as no cue.
bool hasShownLine(std::string_view text) {
    bool any = false;
    forEachShownLine(text, [&](std::string_view) { any = true; });
    return any;
}

// The cue's text lines; tags still open at the end are closed.
void appendCueText(std::string& out, std::string_view text) {
    std::string open;
    forEachShownLine(text, [&](std::string_view line) {
        out += "\r\n";
        appendEscaped(out, line, open);
    });
    while (!open.empty()) {
        appendTag(out, open.back(), true);
        open.pop_back();
    }
}

// WebVTT wants every cue to end after it starts; an end that does not is
// taken as no end (the next start, or the default length).
double usableEnd(const LineTable& entries, const Cue& cue) {
    if (cue.endMs > cue.startMs) return cue.endMs;
    const double implied = ImpliedEndMs(entries, cue.index, cue.startMs);
    return implied > cue.startMs ? implied : cue.startMs + kDefaultDurationMs;
}

void appendCue(std::string& out, bool first, const Cue& cue, double endMs) {
    if (!first) out += "\r\n";  // the blank line between cues
    appendVttTime(out, cue.startText, cue.startMs);
    out += " --> ";
    // An end worked out here is formatted; the entry's own end is copied.
    appendVttTime(out, endMs == cue.endMs ? cue.endText : std::string_view(), endMs);
    appendCueText(out, cue.text);
}

// WebVTT wants cues in start order; an unsorted table (--no-sort) is put in
// order here, keeping the order of cues that start together.
bool startsInOrder(const LineTable& entries) {
    double last = -1;
    for (const std::string_view e : entries) {
        const EntryParts p = SplitEntry(e);
        if (!p.hasBar || IsBlankText(p.text)) continue;
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
        if (!hasShownLine(cue.text)) {
            ctx.CueSkipped();
            return;
        }
        appendCue(ctx.out.NewLine(), first, cue, usableEnd(ctx.entries, cue));
        first = false;
    };
    if (startsInOrder(ctx.entries)) {
        if (!ForEachCue(ctx, write)) return false;
    } else {
        // The text a cue is handed may live only as long as its turn (the
        // plain text of a cue with override blocks): each is kept.
        std::vector<std::pair<Cue, std::string>> cues;
        if (!ForEachCue(ctx, [&](const Cue& cue) { cues.emplace_back(cue, std::string(cue.text)); })) {
            return false;
        }
        std::stable_sort(cues.begin(), cues.end(),
                         [](const auto& a, const auto& b) { return a.first.startMs < b.first.startMs; });
        for (auto& [cue, text] : cues) {
            cue.text = text;
            write(cue);
        }
    }
    ctx.out.AppendLine("");  // the file ends with a line break
    return true;
}

}  // namespace lumeval
