// SAMI sync blocks: a sync line starts a cue, other lines continue it.
#include <charconv>
#include <cmath>
#include <string>

#include "engine/entities.h"
#include "engine/readers/readers.h"
#include "engine/textutil.h"
#include "engine/timecode.h"

namespace lumeval {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The number at the start of `s`: an optional sign, digits, optionally "."
// and more digits; reading stops at the first character that cannot continue
// it ("1000><P>" gives 1000). Nothing readable gives 0.
double leadingNumber(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return 0;
    // from_chars takes no "+"; a fraction without leading digits is fine.
    std::string_view num = s.substr(0, i);
    if (num.front() == '+') num.remove_prefix(1);
    double value = 0;
    const auto r = std::from_chars(num.data(), num.data() + num.size(), value);
    if (r.ec != std::errc() || !std::isfinite(value)) return 0;
    return value;
}

}  // namespace

void ReadSamiLine(std::string_view line, ReaderContext& ctx) {
    const std::string lower = LowerAscii(line);
    std::size_t at = lower.find("<sync");
    if (at == std::string::npos) {
        if (!TrimSpaces(line).empty()) AppendToLastEntry(ctx.table, StripMarkupKeepEntities(line));
        return;
    }
    // Text before the first sync still belongs to the cue before it.
    if (!TrimSpaces(line.substr(0, at)).empty()) {
        AppendToLastEntry(ctx.table, StripMarkupKeepEntities(line.substr(0, at)));
    }
    // Generated and minified files put many syncs on one line: each starts
    // a cue of its own, or all but the first would run into one text.
    while (at != std::string::npos) {
        const std::size_t next = lower.find("<sync", at + 5);
        const std::string_view sync =
            line.substr(at, next == std::string::npos ? std::string_view::npos : next - at);
        // Start="1000" is as common as Start=1000: spaces and one quote
        // before the number are skipped, or a quoted time would read as 0.
        std::string_view value;
        const auto eq = sync.find('=');
        if (eq != std::string_view::npos) {
            value = sync.substr(eq + 1);
            while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
            if (!value.empty() && (value.front() == '"' || value.front() == '\'')) value.remove_prefix(1);
        }
        const std::string span = MSecsToTime(leadingNumber(value), 0);
        const auto gt = sync.find('>');
        const std::string text =
            gt == std::string_view::npos ? std::string() : StripMarkupKeepEntities(sync.substr(gt + 1));
        AddTimedLine(ctx.table, span, text, ctx.rules);
        at = next;
    }
}

}  // namespace lumeval
