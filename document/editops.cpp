#include "document/editops.h"

#include <algorithm>

namespace lumeval::doc {

namespace {

constexpr int64_t kInsertedLength = 2000;

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

}  // namespace

std::string JoinTexts(const std::vector<std::string_view>& texts) {
    std::string joined;
    for (std::string_view t : texts) {
        t = TrimSpaces(t);
        if (t.empty()) continue;
        if (!joined.empty()) joined += "\\N";
        joined += t;
    }
    return joined;
}

InsertTimes TimesAfter(int64_t previousEnd, std::optional<int64_t> nextStart) {
    InsertTimes t{previousEnd, previousEnd + kInsertedLength};
    if (nextStart && *nextStart > previousEnd) t.end = std::min(t.end, *nextStart);
    return t;
}

InsertTimes TimesBefore(int64_t nextStart, std::optional<int64_t> previousEnd) {
    InsertTimes t{nextStart - kInsertedLength, nextStart};
    if (previousEnd && *previousEnd < nextStart) t.start = std::max(t.start, *previousEnd);
    t.start = std::max<int64_t>(0, t.start);
    return t;
}

}  // namespace lumeval::doc
