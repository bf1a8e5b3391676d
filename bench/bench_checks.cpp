// The quality checks on a large document: loads N cues (default one
// million) whose times and texts give every kind of problem now and then,
// times a full check (attaching a checker), then the re-check that follows
// each kind of edit and its undo, at the first, middle and last row. The
// re-check is timed alone: a probe connected to the document's signals
// before the checker starts a clock, one connected after it stops it, so
// the document's own work is not counted (it is printed beside it as the
// whole call). Finally the list of findings and a FixAll with its undo.
//
//   lumeval-bench-checks [N]
#include <QString>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cue_text.h"
#include "document/checks.h"
#include "document/document.h"

namespace {

using lumeval::doc::CheckKind;
using lumeval::doc::CueValue;
using lumeval::doc::DocumentChecks;
using lumeval::doc::kNoEnd;
using lumeval::doc::SubtitleDocument;
using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point since) { return std::chrono::duration<double, std::milli>(Clock::now() - since).count(); }

// The thread's CPU time: on two shared cores a wall-clock worst case is often
// a scheduler tick spent on another process, not work.
double CpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

struct Figure {
    double median = 0, worst = 0;
};

Figure Summarise(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples.back()};
}

void Print(const char* what, const Figure& f, double goalMs, std::size_t runs) {
    std::printf("%-44s median %9.4f ms  worst %9.4f ms  (%3zu runs)", what, f.median, f.worst, runs);
    if (goalMs > 0) std::printf("  goal < %g ms  %s", goalMs, f.worst < goalMs ? "met" : f.median < goalMs ? "median met, worst MISSED" : "MISSED");
    std::printf("\n");
    std::fflush(stdout);
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::exit(1);
}

// Subtitle lines with a few tags and two-line cues, and now and then one
// too long for a line or an empty one.
std::string CueText(lumeval_bench::Rng& rng) {
    const uint32_t kind = rng.below(100);
    if (kind < 1) return rng.chance(50) ? "" : "{\\an8} ";
    std::string text;
    if (kind < 50) {
        text = lumeval_bench::chineseLine(rng, rng.chance(40));
    } else if (kind < 80) {
        text = lumeval_bench::englishLine(rng, rng.chance(60));
    } else {
        text = lumeval_bench::chineseLine(rng, true) + "\\N" + lumeval_bench::englishLine(rng, true);
    }
    if (rng.chance(5)) text = "{\\i1}" + text + "{\\i0}";
    if (rng.chance(2)) text += "\\N" + lumeval_bench::englishLine(rng, true);
    return text;
}

void Load(SubtitleDocument& doc, int n) {
    lumeval_bench::Rng rng(20261210);
    doc.BeginLoad(static_cast<std::size_t>(n));
    int64_t start = 1000;
    for (int i = 0; i < n; ++i) {
        // Starts 0.8 to 4.8 s apart, cues 0.3 to 7.8 s long: overlaps, short
        // and long cues and tight gaps all occur.
        const int64_t length = 300 + rng.below(7500);
        const int64_t end = rng.chance(1) ? start - 200 : start + length;
        doc.AppendLoaded(start, end, CueText(rng));
        start += 800 + rng.below(4000);
    }
    doc.EndLoad();
}

// Times the checker's share of the document's signals.
struct Probe {
    double spent = 0, cpu = 0;
    Clock::time_point began;
    double cpuBegan = 0;
    void Before(SubtitleDocument& doc) {
        auto start = [this] {
            cpuBegan = CpuMs();
            began = Clock::now();
        };
        QObject::connect(&doc, &SubtitleDocument::RowsInserted, start);
        QObject::connect(&doc, &SubtitleDocument::RowsRemoved, start);
        QObject::connect(&doc, &SubtitleDocument::CellsChanged, start);
        QObject::connect(&doc, &SubtitleDocument::ResetDone, start);
    }
    void After(SubtitleDocument& doc) {
        auto stop = [this] {
            spent += Ms(began);
            cpu += CpuMs() - cpuBegan;
        };
        QObject::connect(&doc, &SubtitleDocument::RowsInserted, stop);
        QObject::connect(&doc, &SubtitleDocument::RowsRemoved, stop);
        QObject::connect(&doc, &SubtitleDocument::CellsChanged, stop);
        QObject::connect(&doc, &SubtitleDocument::ResetDone, stop);
    }
};

}  // namespace

int main(int argc, char** argv) {
    uint64_t n = 1'000'000;
    if (argc > 1 && (!lumeval_bench::parseCount(argv[1], n) || n < 10 || n > 50'000'000)) {
        std::fprintf(stderr, "usage: lumeval-bench-checks [N]  (10 to 50,000,000 cues)\n");
        return 2;
    }
    const int rows = static_cast<int>(n);
    SubtitleDocument doc;
    auto t = Clock::now();
    Load(doc, rows);
    std::printf("%d cues loaded in %.0f ms\n", rows, Ms(t));

    // ---- all checks ----
    std::vector<double> full;
    for (int r = 0; r < 5; ++r) {
        t = Clock::now();
        DocumentChecks checks(&doc);
        full.push_back(Ms(t));
        if (r == 0) {
            std::printf("findings: %lld", static_cast<long long>(checks.Total()));
            for (int k = 0; k < lumeval::doc::kCheckKinds; ++k) {
                const auto kind = static_cast<CheckKind>(k);
                std::printf("  %s %lld", qUtf8Printable(DocumentChecks::Message(kind)),
                            static_cast<long long>(checks.CountOf(kind)));
            }
            std::printf("\n");
        }
    }
    Print("all checks (attaching a checker)", Summarise(full), 1000, full.size());

    // ---- one edit's re-check ----
    Probe probe;
    probe.Before(doc);
    DocumentChecks checks(&doc);
    probe.After(doc);
    const int reps = 101;
    const QString step = QStringLiteral("bench");
    struct Edit {
        const char* name;
        std::function<void(int row, int rep)> change;
        std::function<void(int row)> prepare;  // outside the timing
    };
    const std::vector<Edit> edits = {
        {"SetText", [&](int row, int rep) { doc.SetText(row, rep % 2 ? "" : "a much longer text that is read too fast for its time, surely"); }, {}},
        {"SetStart", [&](int row, int rep) { doc.SetStart(row, doc.Start(row) + (rep % 2 ? -900 : 50)); }, {}},
        {"SetEnd", [&](int row, int rep) { doc.SetEnd(row, rep % 3 ? doc.Start(row) + 100 : kNoEnd); }, {}},
        {"Insert one row", [&](int row, int) { doc.Insert(row, {CueValue{doc.Start(row), doc.Start(row) + 500, ""}}, step); }, {}},
        {"Remove one row", [&](int row, int) { doc.Remove({row}, step); }, {}},
        {"Fix (swap an end before its start)",
         [&](int row, int) {
             if (!checks.Fix(row, CheckKind::EndBeforeStart)) Fail("fix");
         },
         [&](int row) {
             if (doc.HasEnd(row) && doc.End(row) >= doc.Start(row))
                 doc.SetTimes({{row, doc.End(row), doc.Start(row)}}, step);
         }},
    };
    const int places[] = {0, rows / 2, rows - 1};
    const char* placeNames[] = {"first", "middle", "last"};
    for (const Edit& e : edits) {
        for (int p = 0; p < 3; ++p) {
            std::vector<double> recheck, call, undoRecheck, recheckCpu, undoCpu;
            for (int r = 0; r < reps; ++r) {
                if (e.prepare) e.prepare(places[p]);
                doc.History()->clear();
                const auto before = doc.Cue(places[p]);
                probe.spent = probe.cpu = 0;
                t = Clock::now();
                e.change(places[p], r);
                call.push_back(Ms(t));
                recheck.push_back(probe.spent);
                recheckCpu.push_back(probe.cpu);
                probe.spent = probe.cpu = 0;
                if (!doc.Undo()) Fail("undo");
                undoRecheck.push_back(probe.spent);
                undoCpu.push_back(probe.cpu);
                if (doc.Count() != rows || !(doc.Cue(places[p]) == before)) Fail("undo gives the row back");
            }
            char what[96];
            std::snprintf(what, sizeof what, "%s, %s row: re-check", e.name, placeNames[p]);
            Print(what, Summarise(recheck), 1, recheck.size());
            Print("  the same, thread CPU time", Summarise(recheckCpu), 1, recheckCpu.size());
            std::snprintf(what, sizeof what, "  its undo: re-check");
            Print(what, Summarise(undoRecheck), 1, undoRecheck.size());
            Print("  the same, thread CPU time", Summarise(undoCpu), 1, undoCpu.size());
            std::snprintf(what, sizeof what, "  the whole call, document and checks");
            Print(what, Summarise(call), 0, call.size());
        }
    }
    // The incremental marks must still be those of a full check.
    {
        DocumentChecks fresh(&doc);
        for (int row = 0; row < rows; ++row)
            if (fresh.ProblemsOf(row) != checks.ProblemsOf(row)) Fail("marks kept current");
    }

    // ---- the list and the repairs ----
    std::vector<double> listing;
    std::size_t found = 0;
    for (int r = 0; r < 5; ++r) {
        t = Clock::now();
        found = checks.Problems().size();
        listing.push_back(Ms(t));
    }
    std::printf("%zu findings listed\n", found);
    Print("Problems(): every finding with its text", Summarise(listing), 0, listing.size());

    std::vector<double> fixAll, undoFixAll;
    for (int r = 0; r < 3; ++r) {
        doc.History()->clear();
        t = Clock::now();
        const int repairs = checks.FixAll();
        fixAll.push_back(Ms(t));
        if (r == 0) std::printf("FixAll: %d repairs\n", repairs);
        if (doc.History()->count() != 1) Fail("FixAll is one step");
        t = Clock::now();
        if (!doc.Undo()) Fail("undo FixAll");
        undoFixAll.push_back(Ms(t));
        if (doc.Count() != rows) Fail("undo FixAll gives the rows back");
    }
    Print("FixAll (every fixable kind, one step)", Summarise(fixAll), 0, fixAll.size());
    Print("  its undo", Summarise(undoFixAll), 0, undoFixAll.size());
    return 0;
}
