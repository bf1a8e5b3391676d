// lumeval-bench-merge: times the post-processing stages on a large line table.
//
//   lumeval-bench-merge [ENTRIES]        (default 200000)
//
// The table has ENTRIES entries over ENTRIES / 2 spans, each span used by two
// entries with different texts, the partners half a table apart so that a
// merge cannot get away with looking at neighbours only. Each stage runs on a
// fresh copy of the table (the copy is not timed); the best of five runs is
// printed in milliseconds, one "name ms" line per stage.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "engine/linetable.h"
#include "engine/postprocess.h"
#include "engine/timecode.h"

namespace {

constexpr int kRuns = 5;

uint64_t mix(uint64_t x) {
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

lumeval::LineTable buildTable(std::size_t entries) {
    const std::size_t spans = entries / 2;
    lumeval::LineTable table(1);
    table.reserve(entries + 1);
    auto entryFor = [](std::size_t span, int copy) {
        const double start = 1000.0 + static_cast<double>(span) * 1500.0;
        std::string e = lumeval::MSecsToTime(start, 0);
        e += "->";
        e += lumeval::MSecsToTime(start + 1200.0, 0);
        e += '|';
        e += copy == 0 ? "第一行字幕 line " : "Second line 第二行 ";
        e += std::to_string(mix(span * 2 + static_cast<uint64_t>(copy)) % 100000);
        return e;
    };
    for (int copy = 0; copy < 2; ++copy) {
        for (std::size_t s = 0; s < spans; ++s) table.push_back(entryFor(s, copy));
    }
    return table;
}

template <typename Stage>
double bestOf(const lumeval::LineTable& source, Stage stage, std::size_t& resultSize) {
    double best = 1e300;
    for (int run = 0; run < kRuns; ++run) {
        lumeval::LineTable table = source;
        const auto t0 = std::chrono::steady_clock::now();
        stage(table);
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
        resultSize = table.size() - 1;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t entries = 200000;
    if (argc > 1) {
        char* end = nullptr;
        entries = std::strtoull(argv[1], &end, 10);
        if (*end != '\0' || entries < 2) {
            std::fprintf(stderr, "usage: lumeval-bench-merge [ENTRIES >= 2]\n");
            return 2;
        }
    }
    const lumeval::LineTable table = buildTable(entries);

    // The sort sees the table in a scrambled order, as after merging several files.
    lumeval::LineTable shuffled = table;
    for (std::size_t i = shuffled.size() - 1; i > 1; --i) {
        shuffled.swapEntries(i, 1 + mix(i) % i);
    }

    std::size_t merged = 0, deduplicated = 0, sorted = 0;
    const double mergeMs = bestOf(
        table,
        [](lumeval::LineTable& t) {
            // The converter's interval and a progress callback that never stops.
            lumeval::MergeSamePosition(t, 1000, [](int32_t, int32_t) { return true; });
        },
        merged);
    const double dedupMs =
        bestOf(table, [](lumeval::LineTable& t) { lumeval::RemoveDuplicateLines(t); }, deduplicated);
    const double sortMs =
        bestOf(shuffled, [](lumeval::LineTable& t) { lumeval::SortLines(t); }, sorted);

    // A wrong result would make the timings meaningless.
    if (merged != entries / 2 || deduplicated != table.size() - 1 || sorted != table.size() - 1) {
        std::fprintf(stderr, "unexpected result sizes: merged %zu, deduplicated %zu, sorted %zu\n",
                     merged, deduplicated, sorted);
        return 1;
    }
    std::printf("entries %zu\nspans %zu\n", table.size() - 1, entries / 2);
    std::printf("MergeSamePosition %.1f\n", mergeMs);
    std::printf("RemoveDuplicateLines %.1f\n", dedupMs);
    std::printf("SortLines %.1f\n", sortMs);
    return 0;
}
