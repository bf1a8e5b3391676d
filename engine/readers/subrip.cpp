// SubRip blocks, the engine's own timed text, and plain text.
#include "engine/readers/readers.h"
#include "engine/textutil.h"

namespace lumeval {
namespace {

void closeBlock(ReaderContext& ctx) {
    auto& st = ctx.state;
    st.inBlock = false;
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

}  // namespace

void ReadSubRipLine(std::string_view line, bool isLastLine, ReaderContext& ctx) {
    auto& st = ctx.state;
    const auto arrow = line.find("-->");
    if (arrow != std::string_view::npos) {
        // A block that no blank line closed: it keeps its own span, and its
        // last text line, when only digits, was the counter of this block.
        if (st.inBlock && !st.pendingText.empty()) {
            const std::string_view last = std::string_view(st.pendingText).substr(st.pendingLastLine);
            if (onlyDigits(TrimSpaces(last.starts_with("\\N") ? last.substr(2) : last))) {
                st.pendingText.resize(st.pendingLastLine);
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
        return;
    }
    const std::string_view trimmed = TrimSpaces(line);
    if (!trimmed.empty()) {
        if (!st.inBlock) return;  // the counter line before each time line
        st.pendingLastLine = st.pendingText.size();
        if (!st.pendingText.empty()) st.pendingText += "\\N";
        st.pendingText += line;
        if (isLastLine) closeBlock(ctx);
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
    std::string_view text = line.substr(bar + 1);
    const auto bar2 = text.find('|');
    if (bar2 != std::string_view::npos) text = text.substr(0, bar2);
    AddTimedLine(ctx.table, line.substr(0, bar), text, ctx.rules);
}

}  // namespace lumeval
