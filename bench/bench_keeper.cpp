// lumeval-bench-keeper: a file kept as written, on a large SubRip file.
//
//   lumeval-bench-keeper FILE.srt
//
// Times the index (Parse), reading every cue (what the editor compares after
// a load), and a save with one edited cue in the middle; checks that the
// unchanged save gives the file back. Wall clock, milliseconds.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/keeper.h"

namespace {
double msSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: lumeval-bench-keeper FILE.srt\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t bytes = text.size();

    auto t = std::chrono::steady_clock::now();
    const auto kept = lumeval::KeptFile::Parse("srt", std::move(text));
    const double parseMs = msSince(t);

    t = std::chrono::steady_clock::now();
    std::vector<lumeval::KeptCue> cues;
    cues.reserve(kept->Count());
    for (std::size_t i = 0; i < kept->Count(); ++i) cues.push_back(kept->Cue(i));
    const double cuesMs = msSince(t);

    std::vector<lumeval::KeptFile::Out> outs;
    outs.reserve(cues.size());
    for (std::size_t i = 0; i < cues.size(); ++i) {
        outs.push_back({static_cast<int64_t>(i), cues[i].start, cues[i].end, cues[i].text});
    }
    std::size_t written = 0;
    const auto count = [&](std::string_view piece) { written += piece.size(); };
    t = std::chrono::steady_clock::now();
    kept->Write(outs, count);
    const double sameMs = msSince(t);
    const bool same = written == bytes;

    const std::string edited = "edited";
    if (!outs.empty()) outs[outs.size() / 2].text = edited;
    written = 0;
    t = std::chrono::steady_clock::now();
    kept->Write(outs, count);
    const double editMs = msSince(t);

    std::printf("%zu cues, %zu bytes\nparse %.1f ms\nall cues %.1f ms\nwrite unchanged %.1f ms (%s)\n"
                "write one edit %.1f ms\n",
                kept->Count(), bytes, parseMs, cuesMs, sameMs, same ? "same size" : "SIZE DIFFERS", editMs);
    return same ? 0 : 1;
}
