// lumeval-bench-keeper: a file kept as written, on a large SubRip file.
//
//   lumeval-bench-keeper FILE.srt [parse]
//
// Times the index (Parse), reading every cue (what the editor compares after
// a load), and a save with one edited cue in the middle; checks that the
// unchanged save gives the file back. Wall clock, milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/keeper.h"

namespace {
// CPU time of this thread: the machine is shared, and wall clock counts the
// others' work too.
double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000 + static_cast<double>(ts.tv_nsec) / 1e6;
}
struct Clock {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    double cpu = cpuMs();
    double wallMs() const {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall).count();
    }
    double cpuMsSince() const { return cpuMs() - cpu; }
};
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: lumeval-bench-keeper FILE.srt\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary | std::ios::ate);
    std::string text(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
    in.seekg(0);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    const std::size_t bytes = text.size();

    Clock t;
    const auto kept = lumeval::KeptFile::Parse("srt", std::move(text));
    const double parseMs = t.wallMs(), parseCpu = t.cpuMsSince();
    if (argc > 2 && std::string_view(argv[2]) == "parse") {
        // The index alone, for a profiler.
        std::printf("%zu cues, parse %.1f / %.1f ms (wall / CPU)\n", kept->Count(), parseMs, parseCpu);
        return 0;
    }

    t = Clock();
    std::vector<lumeval::KeptCue> cues;
    cues.reserve(kept->Count());
    for (std::size_t i = 0; i < kept->Count(); ++i) cues.push_back(kept->Cue(i));
    const double cuesMs = t.wallMs(), cuesCpu = t.cpuMsSince();

    std::vector<lumeval::KeptFile::Out> outs;
    outs.reserve(cues.size());
    for (std::size_t i = 0; i < cues.size(); ++i) {
        outs.push_back({static_cast<int64_t>(i), cues[i].start, cues[i].end, cues[i].text});
    }
    std::size_t written = 0;
    const auto count = [&](std::string_view piece) { written += piece.size(); };
    t = Clock();
    kept->Write(outs, count);
    const double sameMs = t.wallMs(), sameCpu = t.cpuMsSince();
    const bool same = written == bytes;

    const std::string edited = "edited";
    if (!outs.empty()) outs[outs.size() / 2].text = edited;
    written = 0;
    t = Clock();
    kept->Write(outs, count);
    const double editMs = t.wallMs(), editCpu = t.cpuMsSince();

    std::printf("%zu cues, %zu bytes (wall / CPU ms)\nparse %.1f / %.1f\nall cues %.1f / %.1f\n"
                "write unchanged %.1f / %.1f (%s)\nwrite one edit %.1f / %.1f\n",
                kept->Count(), bytes, parseMs, parseCpu, cuesMs, cuesCpu, sameMs, sameCpu,
                same ? "same size" : "SIZE DIFFERS", editMs, editCpu);
    return same ? 0 : 1;
}
