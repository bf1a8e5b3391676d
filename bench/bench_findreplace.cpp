// Find and replace on a large document: loads N cues (default one million)
// of Chinese, English and bilingual lines, then times each case's replace
// all (one step) and its undo, and a find all that matches nothing (every
// row searched). Each case runs RUNS times (default 3); the undo puts the
// texts back before the next run, and is checked to have done so.
//
//   lumeval-bench-findreplace [N] [RUNS] [CASE]   (CASE: only the cases whose name holds it)
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cue_text.h"
#include "document/document.h"
#include "document/findreplace.h"

namespace {

using lumeval::doc::FindOptions;
using lumeval::doc::SubtitleDocument;
using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point since) { return std::chrono::duration<double, std::milli>(Clock::now() - since).count(); }

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::exit(1);
}

std::string CueText(lumeval_bench::Rng& rng) {
    const uint32_t kind = rng.below(100);
    if (kind < 50) return lumeval_bench::chineseLine(rng, rng.chance(40));
    if (kind < 80) return lumeval_bench::englishLine(rng, rng.chance(60));
    return lumeval_bench::chineseLine(rng, true) + "\\N" + lumeval_bench::englishLine(rng, true);
}

void Load(SubtitleDocument& doc, int n) {
    lumeval_bench::Rng rng(20261210);
    doc.BeginLoad(static_cast<std::size_t>(n));
    int64_t start = 0;
    for (int i = 0; i < n; ++i) {
        start += 800 + rng.below(4000);
        doc.AppendLoaded(start, start + 300 + rng.below(7500), CueText(rng));
    }
    doc.EndLoad();
}

// A cheap fingerprint of every text, to check that undo gave them all back.
uint64_t Fingerprint(const SubtitleDocument& doc) {
    uint64_t h = 1469598103934665603ull;
    for (int i = 0; i < doc.Count(); ++i) {
        for (const char c : doc.Text(i)) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        h = (h ^ 0xFF) * 1099511628211ull;
    }
    return h;
}

struct Case {
    const char* name;
    const char* pattern;
    const char* replacement;
    FindOptions options;
};

FindOptions Options(bool matchCase, bool regex, bool fold = false, bool whole = false) {
    FindOptions o;
    o.matchCase = matchCase;
    o.regex = regex;
    o.foldChinese = fold;
    o.wholeWords = whole;
    return o;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::string only = argc > 3 ? argv[3] : "";
    SubtitleDocument doc;
    Clock::time_point t = Clock::now();
    Load(doc, rows);
    std::printf("loaded %d cues in %.0f ms\n", rows, Ms(t));
    const uint64_t original = Fingerprint(doc);

    const Case cases[] = {
        {"plain, case counts", "you", "thou", Options(true, false)},
        {"plain, case ignored", "THE", "a", Options(false, false)},
        {"regex with a group", "\\b(you|we|they)\\b", "<$1>", Options(true, true)},
        {"regex, case ignored", "(wh[a-z]+)", "[$1]", Options(false, true)},
        {"plain, whole words", "me", "myself", Options(true, false, false, true)},
        {"plain, simplified = traditional", "這個", "那个", Options(true, false, true)},
    };
    std::printf("%-34s %10s %22s %20s %10s  %s\n", "case", "replaced", "replace all (worst)", "undo (worst)", "redo",
                "goal < 1000 ms");
    for (const Case& c : cases) {
        if (std::string(c.name).find(only) == std::string::npos) continue;
        std::vector<double> replaceMs, undoMs, redoMs;
        std::size_t count = 0;
        for (int r = 0; r < runs; ++r) {
            lumeval::doc::Searcher s(c.pattern, c.options);
            if (!s.SetReplacement(c.replacement)) Fail(c.name);
            t = Clock::now();
            const auto out = lumeval::doc::ReplaceAll(doc, s);
            replaceMs.push_back(Ms(t));
            if (out.status != lumeval::doc::FindStatus::Ok || out.count == 0) Fail(c.name);
            count = out.count;
            t = Clock::now();
            if (!doc.Undo()) Fail("undo");
            undoMs.push_back(Ms(t));
            t = Clock::now();
            if (!doc.Redo()) Fail("redo");
            redoMs.push_back(Ms(t));
            if (!doc.Undo()) Fail("undo");
        }
        if (Fingerprint(doc) != original) Fail("undo gave other texts back");
        const double worst = std::max(*std::max_element(replaceMs.begin(), replaceMs.end()),
                                      *std::max_element(undoMs.begin(), undoMs.end()));
        std::printf("%-34s %10zu %9.0f ms (%6.0f ms) %7.1f ms (%6.1f ms) %7.1f ms  %s\n", c.name, count,
                    Median(replaceMs), *std::max_element(replaceMs.begin(), replaceMs.end()), Median(undoMs),
                    *std::max_element(undoMs.begin(), undoMs.end()), Median(redoMs), worst < 1000 ? "met" : "MISSED");
        std::fflush(stdout);
    }

    // Nothing found: every row searched, the cost of a miss.
    for (const Case& c : {Case{"find all, no match, plain", "zebra", "", Options(true, false)},
                          Case{"find all, no match, case ignored", "ZEBRA", "", Options(false, false)},
                          Case{"find all, no match, regex", "z[e]bra", "", Options(true, true)}}) {
        if (std::string(c.name).find(only) == std::string::npos) continue;
        std::vector<double> ms;
        for (int r = 0; r < runs; ++r) {
            lumeval::doc::Searcher s(c.pattern, c.options);
            std::vector<lumeval::doc::TextMatch> all;
            t = Clock::now();
            lumeval::doc::FindAll(doc, s, &all);
            ms.push_back(Ms(t));
            if (!all.empty()) Fail(c.name);
        }
        std::printf("%-34s %10d %9.0f ms (%6.0f ms)\n", c.name, 0, Median(ms), *std::max_element(ms.begin(), ms.end()));
    }
    return 0;
}
