// WebVTT: the header, then blocks separated by blank lines. A block is a cue
// (an optional identifier, the timing line, the text), or a NOTE, STYLE or
// REGION block, which adds nothing. Blocks are told apart as the W3C's
// parsing rules tell them: a line holding "-->" ends the header and any
// block it cannot belong to, and starts the next block, blank line or not.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/entities.h"
#include "engine/readers/readers.h"
#include "engine/textutil.h"
#include "engine/timecode.h"

namespace lumeval {
namespace {

// Where the reader is between two lines.
enum VttState : int32_t {
    kFileStart = 0,   // nothing but blank lines yet: the header may come
    kBetweenBlocks,   // a blank line was last
    kInHeader,        // "WEBVTT" and the lines after it up to a blank line
    kAfterFirstLine,  // a block's first line had no "-->": an identifier, if
                      // the timing line follows at once, else NOTE, STYLE...
    kSkipping,        // the rest of a block that holds no cue
    kInCue,           // the timing line was read; text lines follow
};

bool hasArrow(std::string_view line) { return line.find("-->") != std::string_view::npos; }

bool isBlank(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

// "WORD" alone or followed by a space or tab.
bool startsWithWord(std::string_view line, std::string_view word) {
    if (line.substr(0, word.size()) != word) return false;
    return line.size() == word.size() || line[word.size()] == ' ' || line[word.size()] == '\t';
}

bool digit(char c) { return c >= '0' && c <= '9'; }

// Reads digits at `i`; false when there are none or more than `most`.
bool readNumber(std::string_view s, std::size_t& i, std::size_t most, int64_t& value) {
    const std::size_t from = i;
    value = 0;
    while (i < s.size() && digit(s[i]) && i - from < most) value = value * 10 + (s[i++] - '0');
    return i > from && !(i < s.size() && digit(s[i]));
}

// A WebVTT time at the start of `s`: "hh:mm:ss.ttt" (hours two digits or
// more) or "mm:ss.ttt"; a comma is taken for the dot as players do. Returns
// the milliseconds and how many characters were read.
std::optional<int64_t> readTime(std::string_view s, std::size_t& length) {
    std::size_t i = 0;
    int64_t parts[3] = {0, 0, 0};
    int count = 0;
    for (;;) {
        int64_t v = 0;
        // Hours may have any number of digits; nine keep the sum exact.
        if (!readNumber(s, i, count == 0 ? 9 : 2, v)) return std::nullopt;
        if (count == 3) return std::nullopt;
        parts[count++] = v;
        if (i < s.size() && s[i] == ':') {
            ++i;
            continue;
        }
        break;
    }
    if (count < 2 || i >= s.size() || (s[i] != '.' && s[i] != ',')) return std::nullopt;
    ++i;
    const std::size_t fracFrom = i;
    int64_t ms = 0;
    if (!readNumber(s, i, 3, ms) || i - fracFrom != 3) return std::nullopt;
    const int64_t hours = count == 3 ? parts[0] : 0;
    const int64_t minutes = count == 3 ? parts[1] : parts[0];
    const int64_t seconds = count == 3 ? parts[2] : parts[1];
    if (minutes > 59 || seconds > 59) return std::nullopt;
    length = i;
    return ((hours * 60 + minutes) * 60 + seconds) * 1000 + ms;
}

// "start --> end settings": the span in the line table's form, or nullopt
// when the line is no timing line.
std::optional<std::string> timingSpan(std::string_view line) {
    const auto arrow = line.find("-->");
    if (arrow == std::string_view::npos) return std::nullopt;
    const std::string_view left = TrimSpaces(line.substr(0, arrow));
    std::string_view right = line.substr(arrow + 3);
    while (!right.empty() && (right.front() == ' ' || right.front() == '\t')) right.remove_prefix(1);
    std::size_t used = 0;
    const auto start = readTime(left, used);
    if (!start || used != left.size()) return std::nullopt;
    const auto end = readTime(right, used);
    // Cue settings ("align:start line:0") follow after white space.
    if (!end || (used < right.size() && right[used] != ' ' && right[used] != '\t')) {
        return std::nullopt;
    }
    std::string span;
    AppendTimeStyle0(span, static_cast<double>(*start));
    span += "->";
    AppendTimeStyle0(span, static_cast<double>(*end));
    return span;
}

// The name of a tag "<name.class annotation>" or "</name>", lower-cased.
std::string_view tagName(std::string_view tag) {
    std::size_t i = 0;
    if (i < tag.size() && tag[i] == '/') ++i;
    const std::size_t from = i;
    while (i < tag.size() && tag[i] != '.' && tag[i] != ' ' && tag[i] != '\t') ++i;
    return tag.substr(from, i - from);
}

// Cue text as the line table keeps it: <i>, <b> and <u> stay (their classes
// dropped), as the SubRip reader keeps them; voice, class, language, ruby
// and timestamp tags go; entities are decoded.
std::string cueText(std::string_view text) {
    std::string kept;
    kept.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c != '<') {
            kept += c;
            ++i;
            continue;
        }
        const auto close = text.find('>', i + 1);
        if (close == std::string_view::npos) {
            // An unclosed "<" is text, as a browser shows it.
            kept.append(text.substr(i));
            break;
        }
        const std::string_view tag = text.substr(i + 1, close - i - 1);
        const std::string_view name = tagName(tag);
        if (name == "i" || name == "b" || name == "u") {
            kept += '<';
            if (tag.front() == '/') kept += '/';
            kept.append(name);
            kept += '>';
        }
        i = close + 1;
    }
    // Entities are decoded after the tags are gone, so "&lt;i&gt;" stays text.
    return kept.find('&') == std::string::npos ? kept : DecodeEntities(kept);
}

// What the reader carries from one line to the next.
struct VttReader {
    VttState state = kFileStart;
    std::string span;  // the timing of the cue being collected
    std::string text;
};

void addCue(VttReader& st, ReaderContext& ctx) {
    if (!st.span.empty()) AddTimedLine(ctx.table, st.span, st.text, ctx.rules);
    st.span.clear();
    st.text.clear();
}

// A line with "-->" that begins a block: the timing of a cue, or, when it
// reads as none, a block whose lines are skipped.
void timingLine(VttReader& st, std::string_view line) {
    if (auto span = timingSpan(line)) {
        st.span = std::move(*span);
        st.text.clear();
        st.state = kInCue;
    } else {
        st.state = kSkipping;
    }
}

// The first line of a block.
void firstLine(VttReader& st, std::string_view line) {
    if (hasArrow(line)) {
        timingLine(st, line);
    } else {
        st.state = kAfterFirstLine;
    }
}

}  // namespace

void ReadVttLine(std::string_view line, bool isLastLine, ReaderContext& ctx) {
    VttReader& st = ctx.state.Own<VttReader>();
    if (isBlank(line)) {
        if (st.state == kInCue) addCue(st, ctx);
        if (st.state != kFileStart) st.state = kBetweenBlocks;
    } else {
        switch (st.state) {
            case kFileStart:
                if (startsWithWord(line, "WEBVTT")) {
                    st.state = kInHeader;
                } else {
                    firstLine(st, line);  // no header: the cues are read all the same
                }
                break;
            case kBetweenBlocks:
                firstLine(st, line);
                break;
            case kAfterFirstLine:
                // The first line was the cue's identifier when the timing
                // follows it at once.
                if (hasArrow(line)) {
                    timingLine(st, line);
                } else {
                    st.state = kSkipping;
                }
                break;
            case kInCue:
                if (hasArrow(line)) {
                    addCue(st, ctx);
                    firstLine(st, line);
                    break;
                }
                if (!st.text.empty()) st.text += "\\N";
                st.text += cueText(line);
                break;
            case kInHeader:
            case kSkipping:
            default:
                if (hasArrow(line)) firstLine(st, line);
                break;
        }
    }
    // A file's last cue ends with the file; the next source starts afresh.
    if (isLastLine) {
        if (st.state == kInCue) addCue(st, ctx);
        st.state = kFileStart;
    }
}

}  // namespace lumeval
