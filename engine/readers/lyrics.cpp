// Lyric readers: LRC time tags, KSC karaoke calls and XML lyric line elements.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/entities.h"
#include "engine/readers/readers.h"
#include "engine/textutil.h"
#include "engine/timecode.h"

namespace lumeval {
namespace {

// A line may repeat one lyric under many time tags, and every tag copies the
// lyric. Real files carry a handful of tags per line; a crafted line with
// thousands of tags and a long lyric would otherwise grow the table with the
// square of the line's length. Tags past this many copied bytes are dropped.
constexpr std::size_t kLrcLineBudget = std::size_t{64} << 20;

// Rough cost of one entry: its time text, separator and the lyric.
constexpr std::size_t kEntryOverhead = 16;

// A plain loop: find_first_of searches its set once per character.
bool hasMarkup(std::string_view s) {
    for (const char c : s) {
        if (c == '<' || c == '{' || c == '&') return true;
    }
    return false;
}

// Digits from `i` on as a number (at most `maxDigits` of them, at least one);
// moves `i` past them. -1 when there are none or too many.
int64_t shortNumber(std::string_view s, std::size_t& i, std::size_t maxDigits) {
    const std::size_t first = i;
    int64_t v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        if (i - first == maxDigits) return -1;
        v = v * 10 + (s[i] - '0');
        ++i;
    }
    return i == first ? -1 : v;
}

// The common "mm:ss.xx" tag (one to six digits of minutes, one or two of
// seconds, an optional fraction of one to three digits) read without the
// general field loop; -1 for any other shape, which LrcTagTime then reads.
int64_t commonTagMs(std::string_view tag) {
    std::size_t i = 0;
    const int64_t minutes = shortNumber(tag, i, 6);
    if (minutes < 0 || i == tag.size() || tag[i] != ':') return -1;
    ++i;
    const int64_t seconds = shortNumber(tag, i, 2);
    if (seconds < 0) return -1;
    int64_t fraction = 0;
    if (i < tag.size()) {
        if (tag[i] != '.' && tag[i] != ',') return -1;
        const std::size_t from = ++i;
        fraction = shortNumber(tag, i, 3);
        if (fraction < 0 || i != tag.size()) return -1;
        for (std::size_t k = i - from; k < 3; ++k) fraction *= 10;
    }
    return (minutes * 60 + seconds) * 1000 + fraction;
}

// The line-table time of whole, non-negative milliseconds, as AppendTimeStyle0
// writes it (hours of two digits or more); returns the length. `out` holds 32.
std::size_t formatTableTime(int64_t ms, char* out) {
    const auto total = static_cast<uint64_t>(ms);
    uint64_t h = total / 3600000;
    const uint64_t m = total / 60000 % 60;
    const uint64_t sec = total / 1000 % 60;
    const uint64_t milli = total % 1000;
    char hours[24];
    std::size_t n = 0;
    do {
        hours[n++] = static_cast<char>('0' + h % 10);
        h /= 10;
    } while (h != 0);
    if (n < 2) hours[n++] = '0';
    char* p = out;
    while (n > 0) *p++ = hours[--n];
    *p++ = ':';
    *p++ = static_cast<char>('0' + m / 10);
    *p++ = static_cast<char>('0' + m % 10);
    *p++ = ':';
    *p++ = static_cast<char>('0' + sec / 10);
    *p++ = static_cast<char>('0' + sec % 10);
    *p++ = ',';
    *p++ = static_cast<char>('0' + milli / 100);
    *p++ = static_cast<char>('0' + milli / 10 % 10);
    *p++ = static_cast<char>('0' + milli % 10);
    return static_cast<std::size_t>(p - out);
}

// Nearly every line of a real file is one time tag and a lyric without markup:
// "[mm:ss.xx]text". Such a line is added here in one pass; returns false,
// having added nothing, for any other line. A "]" in the lyric is text and
// stays here; a "[" may begin a further leading tag or a closing time tag,
// which the general path sorts out.
bool readCommonLrcLine(std::string_view line, ReaderContext& ctx) {
    if (line.size() < 2 || line[0] != '[' || ctx.state.lrcOffsetMs != 0) return false;
    std::size_t close = 1;
    while (close < line.size() && line[close] != ']') {
        // A second "[" or a space makes the tag one the general path reads.
        if (line[close] == '[' || line[close] == ' ') return false;
        ++close;
    }
    if (close == line.size()) return false;
    const std::string_view text = line.substr(close + 1);
    for (const char c : text) {
        if (c == '[' || c == '<' || c == '{' || c == '&') return false;
    }
    const int64_t ms = commonTagMs(line.substr(1, close - 1));
    if (ms < 0 || text.size() + kEntryOverhead > kLrcLineBudget) return false;
    char span[32];
    AddTimedLine(ctx.table, std::string_view(span, formatTableTime(ms, span)), text, ctx.rules);
    return true;
}

bool isBlankChar(char c) { return c == ' ' || c == '\t'; }

// The lyric without a time tag that closes the line ("text[00:00]"): some
// editors mark where the line ends that way, and it is no part of the words.
// The blanks that set it apart go with it.
std::string_view withoutClosingTimeTag(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0 && isBlankChar(text[end - 1])) --end;
    if (end == 0 || text[end - 1] != ']') return text;
    const auto open = text.rfind('[', end - 1);
    if (open == std::string_view::npos) return text;
    if (!LrcTagTime(TrimSpaces(text.substr(open + 1, end - 1 - open - 1)))) return text;
    end = open;
    while (end > 0 && isBlankChar(text[end - 1])) --end;
    return text.substr(0, end);
}

// Where a quote inside a KSC string ends it: only white space stands between
// it and the "," or ")" that follows an argument (or the end of the line).
bool closesKscString(std::string_view s, std::size_t quote) {
    std::size_t i = quote + 1;
    while (i < s.size() && isBlankChar(s[i])) ++i;
    return i == s.size() || s[i] == ',' || s[i] == ')';
}

// The quoted arguments of a "karaoke.add(" call, `args` starting after the
// "(". Strings are read as the script language reads them: "\'" is a quote
// and "\\" a backslash, and a doubled quote is a quote too. Files from
// writers that escaped nothing hold bare apostrophes ('it's'): a quote that
// no "," or ")" follows is such an apostrophe, kept as text. False, with the
// fields unusable, when a string is unterminated, an argument is not a
// string, or there are fewer than four. Arguments past the fourth are not read.
bool kscArguments(std::string_view args, std::string (&fields)[4]) {
    std::size_t i = 0;
    for (std::size_t n = 0; n < 4; ++n) {
        while (i < args.size() && isBlankChar(args[i])) ++i;
        if (n > 0) {
            if (i == args.size() || args[i] != ',') return false;
            ++i;
            while (i < args.size() && isBlankChar(args[i])) ++i;
        }
        if (i == args.size() || args[i] != '\'') return false;
        ++i;
        std::string& out = fields[n];
        for (;;) {
            if (i == args.size()) return false;  // unterminated
            const char c = args[i];
            if (c == '\\' && i + 1 < args.size() && (args[i + 1] == '\'' || args[i + 1] == '\\')) {
                out += args[i + 1];
                i += 2;
            } else if (c != '\'') {
                out += c;
                ++i;
            } else if (i + 1 < args.size() && args[i + 1] == '\'' && !closesKscString(args, i + 1)) {
                // A doubled quote; when the second one ends the string, the
                // first is a bare apostrophe ('singin'').
                out += '\'';
                i += 2;
            } else if (closesKscString(args, i)) {
                ++i;
                break;
            } else {
                out += '\'';  // a bare apostrophe inside the lyric
                ++i;
            }
        }
    }
    return true;
}

}  // namespace

std::optional<int64_t> LrcTagTime(std::string_view tag) {
    // Fields: digits separated by ":", two or three of them, the last with an
    // optional fraction of one to three digits after "." (or ",").
    int64_t fields[3] = {0, 0, 0};
    int count = 0;
    int64_t fractionMs = 0;
    bool hasFraction = false;
    std::size_t i = 0;
    for (;;) {
        if (count == 3) return std::nullopt;
        const std::size_t first = i;
        int64_t v = 0;
        while (i < tag.size() && tag[i] >= '0' && tag[i] <= '9') {
            v = v * 10 + (tag[i] - '0');
            if (v > kMaxTimeMs / 1000) return std::nullopt;
            ++i;
        }
        if (i == first) return std::nullopt;
        fields[count++] = v;
        if (i == tag.size()) break;
        if (tag[i] == ':') {
            ++i;
            continue;
        }
        if (tag[i] != '.' && tag[i] != ',') return std::nullopt;
        const std::size_t digits = tag.size() - i - 1;
        if (digits < 1 || digits > 3) return std::nullopt;
        for (std::size_t k = i + 1; k < tag.size(); ++k) {
            if (tag[k] < '0' || tag[k] > '9') return std::nullopt;
            fractionMs = fractionMs * 10 + (tag[k] - '0');
        }
        for (std::size_t k = digits; k < 3; ++k) fractionMs *= 10;
        hasFraction = true;
        break;
    }
    if (count < 2) return std::nullopt;
    int64_t seconds = 0;
    if (count == 2) {
        seconds = fields[0] * 60 + fields[1];
    } else {
        // Hours, minutes and seconds need a fraction: "[01:02:03]" alone is
        // too often minutes, seconds and hundredths to be read as hours.
        if (!hasFraction) return std::nullopt;
        seconds = fields[0] * 3600 + fields[1] * 60 + fields[2];
    }
    if (seconds > kMaxTimeMs / 1000) return std::nullopt;  // before the product can overflow
    const int64_t ms = seconds * 1000 + fractionMs;
    if (ms > kMaxTimeMs) return std::nullopt;
    return ms;
}

std::optional<double> LrcTagOffset(std::string_view tag) {
    const auto colon = tag.find(':');
    if (colon == std::string_view::npos || LowerAscii(TrimSpaces(tag.substr(0, colon))) != "offset") {
        return std::nullopt;
    }
    std::string_view value = TrimSpaces(tag.substr(colon + 1));
    bool negative = false;
    if (!value.empty() && (value.front() == '+' || value.front() == '-')) {
        negative = value.front() == '-';
        value.remove_prefix(1);
    }
    if (value.empty() || value.size() > 15) return std::nullopt;
    int64_t v = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return static_cast<double>(negative ? -v : v);
}

void ReadLrcLine(std::string_view line, ReaderContext& ctx) {
    if (readCommonLrcLine(line, ctx)) return;
    // Only the tags that open the line are tags: a run of "[...]", blanks
    // allowed before and between them. Time tags each give an entry; tags with
    // a colon are metadata ([ar:], [ti:], [offset:]); any other tag (a
    // singer's "[Alba]") is the first word of the lyric. The lyric runs from
    // there to the end of the line, brackets and all.
    struct Stamp {
        int64_t ms;
        double offsetMs;  // the [offset:] in force where the tag stands
    };
    std::vector<Stamp> stamps;
    std::size_t at = 0;
    std::size_t textFrom = 0;
    for (;;) {
        std::size_t open = at;
        while (open < line.size() && isBlankChar(line[open])) ++open;
        textFrom = at;
        if (open == line.size() || line[open] != '[') break;
        const auto close = line.find(']', open + 1);
        if (close == std::string_view::npos) break;
        const std::string_view tag = TrimSpaces(line.substr(open + 1, close - open - 1));
        if (const auto ms = LrcTagTime(tag)) {
            stamps.push_back({*ms, ctx.state.lrcOffsetMs});
        } else if (tag.find(':') != std::string_view::npos) {
            // [offset:] shifts the times after it, in this line and below.
            if (const auto offset = LrcTagOffset(tag)) ctx.state.lrcOffsetMs = *offset;
        } else {
            break;  // a singer's name or the like: the lyric starts here
        }
        at = close + 1;
    }
    if (stamps.empty()) return;
    const std::string_view rest = withoutClosingTimeTag(line.substr(textFrom));
    // Word-timing tags in angle brackets go; most lyrics carry no markup at
    // all, and KillTag would only copy them.
    const bool markup = hasMarkup(rest);
    const std::string killed = markup ? KillTag(rest, false) : std::string();
    const std::string_view text = markup ? std::string_view(killed) : rest;
    const std::size_t cost = text.size() + kEntryOverhead;
    std::size_t spent = 0;
    std::string span;
    for (const Stamp& stamp : stamps) {
        spent += cost;
        if (spent > kLrcLineBudget) break;
        span.clear();
        AppendTimeStyle0(span, static_cast<double>(stamp.ms));
        if (stamp.offsetMs == 0) {
            AddTimedLine(ctx.table, span, text, ctx.rules);
        } else {
            // A positive offset shows the lyrics earlier, on top of the run's own shift.
            TimingRules shifted = ctx.rules;
            shifted.offset -= stamp.offsetMs / 1000;
            AddTimedLine(ctx.table, span, text, shifted);
        }
    }
}

void ReadKscLine(std::string_view line, ReaderContext& ctx) {
    const auto call = LowerAscii(line).find("karaoke.add(");
    if (call == std::string::npos) return;
    std::string fields[4];
    if (!kscArguments(line.substr(call + 12), fields)) return;

    std::string* const times[] = {&fields[0], &fields[1]};
    // Our writer gives total minutes, four digits and more past 16 hours 40
    // minutes, which the general time reader would take for hours.
    for (std::string* time : times) {
        const std::string_view trimmed = TrimSpaces(*time);
        if (const auto ms = LrcTagTime(trimmed)) {
            time->clear();
            AppendTimeStyle0(*time, static_cast<double>(*ms));
        } else {
            *time = std::string(trimmed);
        }
    }
    std::string span;
    span.reserve(fields[0].size() + 2 + fields[1].size());
    span.append(fields[0]).append("->").append(fields[1]);
    std::string& text = fields[2];
    text += kTimingSeparator;
    text += TrimSpaces(fields[3]);
    AddTimedLine(ctx.table, span, text, ctx.rules);
}

void ReadKrcLine(std::string_view line, ReaderContext& ctx) {
    if (LowerAscii(line).find("line begin=") == std::string::npos) return;
    // The first attribute's value is the start; the element's content the text.
    std::string span = FindTextBetween(line, "\"", "\"", 1, 2);
    // Our writer gives total minutes ("100:05.00" past 99 minutes), which
    // the general time reader would take for hours and minutes.
    if (const auto ms = LrcTagTime(TrimSpaces(span))) {
        span.clear();
        AppendTimeStyle0(span, static_cast<double>(*ms));
    }
    const std::string text = StripMarkupKeepEntities(FindTextBetween(line, ">", "<", 1, 2));
    AddTimedLine(ctx.table, span, text, ctx.rules);
}

}  // namespace lumeval
