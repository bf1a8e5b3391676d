// Feeding texts to one reader the way the conversion does, for the reader tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/readers/readers.h"

namespace lumeval::test {

using Table = std::vector<std::string>;

/// Hands `text` to the reader of `kind` as the conversion splits it: at line
/// feeds (a carriage return before one dropped) and at lone carriage returns.
inline void FeedText(int32_t kind, std::string_view text, ReaderContext& ctx) {
    std::size_t from = 0;
    for (;;) {
        const auto nl = text.find('\n', from);
        std::string_view line = text.substr(from, nl == std::string_view::npos ? nl : nl - from);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        for (;;) {
            const auto cr = line.find('\r');
            const bool last = nl == std::string_view::npos && cr == std::string_view::npos;
            ReadLine(kind, line.substr(0, cr), last, ctx);
            if (cr == std::string_view::npos) break;
            line.remove_prefix(cr + 1);
        }
        if (nl == std::string_view::npos) break;
        from = nl + 1;
    }
}

/// The entries one text gives (after the placeholder, which must stay
/// empty). Without carried state the run ends with the text.
inline Table ReadAs(int32_t kind, std::string_view text, ReaderState* carried = nullptr,
                    const TimingRules& rules = {}) {
    LineTable table(1);
    ReaderState local;
    ReaderContext ctx{table, rules, carried ? *carried : local};
    FeedText(kind, text, ctx);
    if (!carried) FinishReading(ctx);
    EXPECT_EQ("", table[0]) << "the placeholder must stay empty";
    table.erase(0);
    return table.toVector();
}

}  // namespace lumeval::test
