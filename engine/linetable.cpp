#include "engine/linetable.h"

#include <cmath>

#include "engine/timecode.h"

namespace lumeval {

EntryParts SplitEntry(std::string_view entry) {
    EntryParts p;
    const auto bar = entry.find('|');
    if (bar == std::string_view::npos) {
        p.span = entry;
    } else {
        p.hasBar = true;
        p.span = entry.substr(0, bar);
        std::string_view rest = entry.substr(bar + 1);
        const auto bar2 = rest.find(kTimingSeparator);
        p.text = bar2 == std::string_view::npos ? rest : rest.substr(0, bar2);
    }
    const auto arrow = p.span.find("->");
    if (arrow == std::string_view::npos) {
        p.start = p.span;
    } else {
        p.hasArrow = true;
        p.start = p.span.substr(0, arrow);
        p.end = p.span.substr(arrow + 2);
    }
    return p;
}

void AddTimedLine(LineTable& table, std::string_view span, std::string_view text,
                  const TimingRules& rules) {
    if (span.empty()) return;
    const auto arrow = span.find("->");
    const bool hasArrow = arrow != std::string_view::npos;

    // Nothing to shift or cut, and both times already in the table's form:
    // reading and writing them back gives the same text, so copy it.
    const bool retimed = rules.factor != 1 || rules.shift != 0;
    const bool identity = !retimed && rules.offset == 0 && !(rules.windowEnd - rules.windowStart > 0) &&
                          (rules.windowStart == 0 || rules.splitMode != 0);
    if (identity && hasArrow) {
        const std::string_view a = span.substr(0, arrow);
        const std::string_view b = span.substr(arrow + 2);
        if ((IsCanonicalTime(a) || TableTimeMs(a) >= 0) && (IsCanonicalTime(b) || TableTimeMs(b) >= 0)) {
            if (a == b) return;
            // The span is "a->b" already.
            std::string entry;
            entry.reserve(span.size() + 1 + text.size());
            entry.append(span).append(1, '|').append(text);
            table.push_back(std::move(entry));
            return;
        }
    }
    if (identity && !hasArrow && (IsCanonicalTime(span) || TableTimeMs(span) >= 0)) {  // a lyric's lone start
        std::string entry;
        entry.reserve(span.size() + 1 + text.size());
        entry.append(span).append(1, '|').append(text);
        table.push_back(std::move(entry));
        return;
    }
    const auto refuse = [&rules] {
        if (rules.refused) ++*rules.refused;
    };
    const auto startSec = TimeToSecChecked(hasArrow ? span.substr(0, arrow) : span, true, ",");
    const auto endSec = hasArrow ? TimeToSecChecked(span.substr(arrow + 2), true, ",") : startSec;
    if (!startSec || !endSec) return refuse();
    const auto retime = [&rules](double t) { return t * rules.factor + rules.shift; };
    const double start = retime(*startSec);
    // A lone start gets five seconds for the window tests only; the entry keeps
    // no end. An end of 0 keeps meaning "no end" whatever the retiming.
    const double end = hasArrow ? (*endSec == 0 ? 0 : retime(*endSec)) : start + kDefaultDurationMs / 1000;
    if (start == end) return;

    const double S = rules.windowStart;
    const double E = rules.windowEnd;
    const double W = E - S;
    const double O = rules.offset * 1000;
    const bool windowed = W > 0;
    if (windowed && ((start < S && end < S) || (start > E && end > E))) {
        if (rules.outsideWindow) ++*rules.outsideWindow;
        return;
    }

    double newStart = 0;
    double newEnd = 0;
    const bool rebase = rules.splitMode == 0;
    if (windowed && start < S && end > E) {
        newStart = rebase ? 0 + O : S * 1000 + O;
        newEnd = rebase ? W * 1000 + O : E * 1000 + O;
    } else if (windowed && start < S) {
        newStart = rebase ? O : S * 1000 + O;
        newEnd = rebase ? (end - S) * 1000 + O : end * 1000 + O;
    } else if (windowed && end > E) {
        newStart = rebase ? (start - S) * 1000 + O : start * 1000 + O;
        newEnd = rebase ? W * 1000 + O : E * 1000 + O;
    } else {
        newStart = rebase ? (start - S) * 1000 + O : start * 1000 + O;
        newEnd = rebase ? (end - S) * 1000 + O : end * 1000 + O;
    }
    constexpr double kMax = static_cast<double>(kMaxTimeMs);
    if (!(std::fabs(newStart) <= kMax && std::fabs(newEnd) <= kMax)) return refuse();
    // Moved before 0: a line that ends there is gone (clamping both times to 0
    // would leave an end of 0, which means "no end", and a cue nobody wrote).
    // An end of 0 in the source itself keeps meaning "no end".
    const bool endGiven = !hasArrow || end != 0;
    if (endGiven && RoundHalfEven(newEnd) <= 0) return;
    if (newStart < 0) newStart = 0;

    std::string entry;
    entry.reserve(28 + text.size());
    AppendTimeStyle0(entry, newStart);
    if (hasArrow) {
        entry += "->";
        AppendTimeStyle0(entry, newEnd);
    }
    entry += '|';
    entry += text;
    table.push_back(std::move(entry));
}

void AppendToLastEntry(LineTable& table, std::string_view text) {
    if (!table.empty()) table.back().append(text);
}

}  // namespace lumeval
