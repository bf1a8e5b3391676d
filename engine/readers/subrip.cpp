// SubRip blocks, the engine's own timed text, and plain text.
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/encoding/codepage.h"
#include "engine/readers/readers.h"
#include "engine/textutil.h"

namespace lumeval {
namespace {

void closeBlock(ReaderContext& ctx) {
    auto& st = ctx.state;
    st.inBlock = false;
    st.blankInBlock = false;
    st.heldNumberLength = 0;  // the counter of the next block, or a cut-off file's
    AddTimedLine(ctx.table, st.pendingSpan, st.pendingText, ctx.rules);
    st.pendingSpan.clear();
    st.pendingText.clear();
    st.pendingLastLine = 0;
}

bool onlyDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

[[gnu::always_inline]] inline void appendTextLine(ReaderState& st, std::string_view line) {
    st.pendingLastLine = st.pendingText.size();
    if (!st.pendingText.empty()) st.pendingText += "\\N";
    st.pendingText += line;
}

// A number held back after a blank line was text after all.
[[gnu::always_inline]] inline void releaseHeldNumber(ReaderState& st) {
    if (st.heldNumberLength == 0) return;
    appendTextLine(st, std::string_view(st.heldNumber, st.heldNumberLength));
    st.heldNumberLength = 0;
}

// Text after the end time (position coordinates such as "X1:100") would make
// the end unreadable: cut at the first space that is followed by something
// other than a digit, so "00:00:01, 50" (a space inside the time) still reads.
std::string_view cutEndTime(std::string_view end) {
    for (std::size_t i = 0; i < end.size(); ++i) {
        if (end[i] != ' ') continue;
        std::size_t k = i;
        while (k < end.size() && end[k] == ' ') ++k;
        if (k < end.size() && (end[k] < '0' || end[k] > '9')) return end.substr(0, i);
        i = k;
    }
    return end;
}

// Time lines typed with a Chinese input method carry full-width digits and
// punctuation ("00：00：01，000 --> ..."): they are read as their ASCII forms.
// Eight bytes at a time (the last word overlapping): every time line is asked.
bool hasHighByte(std::string_view s) {
    constexpr uint64_t kHigh = 0x8080808080808080ULL;
    if (s.size() < 8) {
        for (const char c : s) {
            if (static_cast<unsigned char>(c) >= 0x80) return true;
        }
        return false;
    }
    uint64_t w;
    for (std::size_t i = 0; i + 8 < s.size(); i += 8) {
        std::memcpy(&w, s.data() + i, 8);
        if ((w & kHigh) != 0) return true;
    }
    std::memcpy(&w, s.data() + s.size() - 8, 8);
    return (w & kHigh) != 0;
}

std::string foldFullWidth(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (std::size_t i = 0; i < line.size();) {
        const Utf8Char c = DecodeUtf8At(line, i);
        if (c.valid && c.cp >= 0xFF01 && c.cp <= 0xFF5E) {
            out += static_cast<char>(c.cp - 0xFF01 + '!');  // U+FF01..U+FF5E mirror ASCII
        } else if (c.valid && c.cp == 0x3000) {
            out += ' ';  // the ideographic space
        } else {
            out.append(line.substr(i, c.length));
        }
        i += c.length;
    }
    return out;
}

// A time line: the block before it ends, and a new one opens with its span.
[[gnu::always_inline]] inline void readTimeLine(std::string_view line, std::size_t arrow, ReaderContext& ctx) {
    auto& st = ctx.state;
    if (st.inBlock && (!st.pendingText.empty() || st.blankInBlock)) {
        // A block that no blank line closed keeps its own span; its last
        // text line, when only digits, was the counter of this block.
        if (!st.blankInBlock && !st.pendingText.empty()) {
            const std::string_view last = std::string_view(st.pendingText).substr(st.pendingLastLine);
            if (onlyDigits(TrimSpaces(last.starts_with("\\N") ? last.substr(2) : last))) {
                st.pendingText.resize(st.pendingLastLine);
            }
        }
        closeBlock(ctx);
    }
    st.inBlock = true;
    std::string_view rest = line.substr(arrow + 3);
    const auto arrow2 = rest.find("-->");
    if (arrow2 != std::string_view::npos) rest = rest.substr(0, arrow2);
    st.pendingSpan.assign(TrimSpaces(line.substr(0, arrow)));
    st.pendingSpan += "->";
    st.pendingSpan += cutEndTime(TrimSpaces(rest));
    // The pending text stays: a block left open at the end of one file
    // goes on in the next file of the run.
}

// The same for a time line with full-width characters; out of line, so the
// usual lines pay nothing for it.
[[gnu::noinline]] void readFullWidthTimeLine(std::string_view line, ReaderContext& ctx) {
    const std::string folded = foldFullWidth(line);
    const auto arrow = folded.find("-->");
    if (arrow != std::string::npos) readTimeLine(folded, arrow, ctx);
}

}  // namespace

void ReadSubRipLine(std::string_view line, bool isLastLine, ReaderContext& ctx) {
    auto& st = ctx.state;
    if (const auto arrow = ctx.lineMayHoldGt ? line.find("-->") : std::string_view::npos;
        arrow != std::string_view::npos) {
        if (hasHighByte(line)) {
            readFullWidthTimeLine(line, ctx);
        } else {
            readTimeLine(line, arrow, ctx);
        }
        return;
    }
    const std::string_view trimmed = TrimSpaces(line);
    if (!trimmed.empty()) {
        if (!st.inBlock) return;  // the counter line before each time line
        // Longer numbers are no counter.
        if (st.blankInBlock && trimmed.size() <= sizeof st.heldNumber && onlyDigits(trimmed)) {
            releaseHeldNumber(st);
            std::memcpy(st.heldNumber, trimmed.data(), trimmed.size());
            st.heldNumberLength = static_cast<uint8_t>(trimmed.size());
        } else {
            releaseHeldNumber(st);
            appendTextLine(st, line);
        }
        if (isLastLine) closeBlock(ctx);
        return;
    }
    // A blank line ends the block's text only if a time line or the end of
    // the file follows; the text lines between belong to the block (the
    // empty line itself is not kept: written out, it would split the cue).
    if (st.inBlock && !isLastLine) {
        st.blankInBlock = true;
        return;
    }
    closeBlock(ctx);
}

void FinishSubRip(ReaderContext& ctx) {
    if (ctx.state.inBlock) closeBlock(ctx);
}

void ReadTimedTextLine(std::string_view line, ReaderContext& ctx) {
    const auto bar = line.find('|');
    if (bar == std::string_view::npos) return;
    // The text runs to the end of the line: a "|" in it is text.
    AddTimedLine(ctx.table, line.substr(0, bar), line.substr(bar + 1), ctx.rules);
}

}  // namespace lumeval
