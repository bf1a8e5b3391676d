// Crash backups of a large document: writes a backup of N cues (default one
// million, about 50 MB of Chinese, English and mixed text) through a
// RecoveryStore and reads it back, several times, and prints the median and
// the worst beside the goal (well under a second each way).
//
//   lumeval-bench-recovery [N] [runs] [root]
//
// The root defaults to a temporary folder under $TMPDIR (or /tmp): put it on
// the disk that holds the state folder, since the write includes its fsync.
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cue_text.h"
#include "document/document.h"
#include "document/recovery.h"
#include "proc_status.h"

namespace {

using lumeval::doc::BackupCue;
using lumeval::doc::CueVectorSource;
using lumeval::doc::RecoveryStore;
using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point since) { return std::chrono::duration<double, std::milli>(Clock::now() - since).count(); }

std::string CueText(lumeval_bench::Rng& rng) {
    const uint32_t kind = rng.below(10);
    if (kind < 5) return lumeval_bench::chineseLine(rng, rng.chance(20));
    if (kind < 8) return lumeval_bench::englishLine(rng, false);
    return lumeval_bench::chineseLine(rng, false) + ' ' + lumeval_bench::englishLine(rng, true);
}

struct Figure {
    double median = 0, worst = 0;
};

Figure Summarise(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples.back()};
}

void Print(const char* what, const std::vector<double>& samples, double goalMs) {
    const Figure f = Summarise(samples);
    if (goalMs > 0) {
        std::printf("%-44s median %9.3f ms  worst %9.3f ms  (%zu runs)  goal < %g ms  %s\n", what, f.median, f.worst,
                    samples.size(), goalMs, f.worst < goalMs ? "met" : (f.median < goalMs ? "worst MISSED" : "MISSED"));
    } else {
        std::printf("%-44s median %9.3f ms  worst %9.3f ms  (%zu runs)\n", what, f.median, f.worst, samples.size());
    }
    std::fflush(stdout);
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    const long n = argc > 1 ? std::atol(argv[1]) : 1000000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    QTemporaryDir temporary;
    const QString root = argc > 3 ? QString::fromLocal8Bit(argv[3]) : temporary.path() + QStringLiteral("/recovery");

    lumeval_bench::Rng rng(20261210);
    std::vector<BackupCue> cues;
    cues.reserve(static_cast<std::size_t>(n));
    std::size_t textBytes = 0;
    int64_t at = 0;
    for (long i = 0; i < n; ++i) {
        at += 800 + rng.below(4000);
        std::string text = CueText(rng);
        textBytes += text.size();
        // One in twenty without an end, as in lyrics.
        const int64_t end = rng.chance(5) ? lumeval::doc::kNoEnd : at + 1000 + rng.below(3000);
        cues.push_back({at, end, std::move(text), static_cast<uint32_t>(i + 1)});
    }
    std::printf("%ld cues, %.1f MB of text (%.1f bytes a cue)\n", n, static_cast<double>(textBytes) / 1e6,
                static_cast<double>(textBytes) / static_cast<double>(std::max(n, 1L)));

    // The app's snapshot is its own; this one copies the cues, as a simple one would.
    auto t = Clock::now();
    auto source = std::make_shared<const CueVectorSource>(cues);
    const double snapshotMs = Ms(t);
    std::printf("%-44s %9.3f ms\n", "snapshot: copying the cues (not asked)", snapshotMs);

    RecoveryStore store(root);
    QString error;
    if (!store.Open(&error)) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(root), qPrintable(error));
        return 1;
    }
    bool ok = true;
    QObject::connect(&store, &RecoveryStore::Written, &store,
                     [&ok](quint64, bool written, const QString&) { ok = ok && written; }, Qt::DirectConnection);

    std::vector<double> save, write, read;
    const long rssBefore = StatusKb("VmRSS");
    long readGrowthKb = 0;
    for (int r = 0; r < runs; ++r) {
        t = Clock::now();
        store.Save(1, {QStringLiteral("/home/user/big.srt"), "srt", 1, 0, true, {}}, source);
        save.push_back(Ms(t));
        store.Flush();
        write.push_back(Ms(t));
        if (!ok) Fail("written");

        t = Clock::now();
        auto backup = RecoveryStore::Read(store.FileFor(1), &error);
        read.push_back(Ms(t));
        if (!backup) Fail(qPrintable(error));
        readGrowthKb = std::max(readGrowthKb, StatusKb("VmRSS") - rssBefore);
        if (backup->Count() != cues.size()) Fail("read back as written");
        for (std::size_t i = 0; i < cues.size(); ++i) {
            if (backup->Start(i) != cues[i].start || backup->End(i) != cues[i].end || backup->Text(i) != cues[i].text ||
                backup->Serial(i) != cues[i].serial)
                Fail("read back as written");
        }
    }
    std::printf("%-44s %9.1f MB\n", "backup file", static_cast<double>(QFileInfo(store.FileFor(1)).size()) / 1e6);
    Print("Save on the caller's thread (queues only)", save, 1);
    Print("Save until written (Flush; with fsync)", write, 1000);
    Print("Read back", read, 1000);
    std::printf("%-44s %9.1f MiB\n", "memory of the backup read (VmRSS growth)", static_cast<double>(readGrowthKb) / 1024);
    store.Remove(1);
    store.Flush();
    return 0;
}
