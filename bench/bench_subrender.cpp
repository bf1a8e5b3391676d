// Subtitles on the picture: frames drawn with libass on a 1920x1080 frame
// while the time advances (three cues showing, one Chinese, the texts
// changing every two seconds), then a document of N cues (default one
// million): taking it, finding the cues at a time, and one edit's update.
//
//   lumeval-bench-subrender [N] [frames]
#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "timing.h"
#include "cue_text.h"
#include "document/document.h"
#include "media/subrender.h"

namespace {

using lumeval::doc::CueValue;
using lumeval::doc::kNoEnd;
using lumeval::doc::SubtitleDocument;
using lumeval::media::SubtitleRenderer;
using lumeval::bench::Clock;
using lumeval::bench::Ms;
using lumeval::bench::Of;
using lumeval::bench::Stats;

void Row(const char* what, Stats s, const char* goal) {
    std::printf("| %s | %.3f ms | %.3f ms | %.3f ms | %s |\n", what, s.median, s.p95, s.worst, goal);
}

const char* kHeader =
    "[Script Info]\nScriptType: v4.00+\nPlayResX: 1920\nPlayResY: 1080\nScaledBorderAndShadow: yes\n\n"
    "[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, "
    "Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, "
    "MarginR, MarginV, Encoding\n"
    "Style: Default,WenQuanYi Micro Hei,64,&H00FFFFFF,&H000000FF,&H00000000,&H80000000,0,0,0,0,100,100,0,0,1,3,"
    "1,2,40,40,40,1\n";

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int frames = argc > 2 ? std::atoi(argv[2]) : 400;
    lumeval_bench::Rng rng(20261210);

    std::printf("| Operation | Median | 95th | Worst | Goal |\n|---|---:|---:|---:|---|\n");

    // ---- frames ------------------------------------------------------------
    {
        SubtitleDocument d;
        d.SetFormat("ass");
        d.BeginLoad();
        const int64_t span = int64_t{frames} * 40 + 4000;
        for (int64_t t = 0; t < span; t += 2000) {
            d.AppendLoaded(t, t + 2000, "Bottom line " + std::to_string(t) + "\\Nand a second one, a bit longer");
            d.AppendLoaded(t, t + 2000, "{\\an8}我们今天一起回家吧 " + std::to_string(t / 2000));
            d.AppendLoaded(t, t + 2000, "{\\pos(960,540)\\k50}Ka{\\k50}ra{\\k50}o{\\k50}ke " + std::to_string(t));
        }
        d.EndLoad();
        SubtitleRenderer r;
        r.SetHeader(kHeader);
        r.SetCues(d);
        const QSize size(1920, 1080);
        r.Render(0, size);  // fonts found, caches warm
        std::vector<double> overlay, full, newText, later;
        for (int f = 0; f < frames; ++f) {
            const int64_t t = 40 + int64_t{f} * 40;
            auto t0 = Clock::now();
            r.RenderOverlay(t, size);
            const double ms = Ms(t0);
            overlay.push_back(ms);
            if (t % 2000 < 40) newText.push_back(ms);
            if (t >= 2000) later.push_back(ms);
        }
        SubtitleRenderer r2;
        r2.SetHeader(kHeader);
        r2.SetCues(d);
        r2.Render(0, size);
        for (int f = 0; f < frames; ++f) {
            const int64_t t = 40 + int64_t{f} * 40;
            auto t0 = Clock::now();
            r2.Render(t, size);
            full.push_back(Ms(t0));
        }
        Row("frame 1920x1080, 3 cues, overlay of their box (`RenderOverlay`)", Of(overlay), "under 5 ms");
        const auto worst = std::max_element(overlay.begin(), overlay.end()) - overlay.begin();
        std::fprintf(stderr, "worst overlay frame: %ld (at %ld ms)\n", static_cast<long>(worst),
                     static_cast<long>(40 + worst * 40));
        Row("frame 1920x1080, 3 cues, whole-frame image (`Render`)", Of(full), "under 5 ms");
        Row("  of these: the frames where three new texts come up", Of(newText), "under 5 ms");
        Row("  of these: the frames after the first two seconds", Of(later), "under 5 ms");
    }

    // ---- a large document ----------------------------------------------------
    SubtitleDocument d;
    d.SetFormat("srt");
    d.BeginLoad(static_cast<std::size_t>(n));
    int64_t t = 0;
    for (int i = 0; i < n; ++i) {
        t += 500 + rng.below(3000);
        const bool noEnd = rng.chance(5);
        d.AppendLoaded(t, noEnd ? kNoEnd : t + 800 + rng.below(4000), rng.chance(50) ? lumeval_bench::chineseLine(rng, false) : lumeval_bench::englishLine(rng, false));
    }
    d.EndLoad();
    const int64_t last = t;

    SubtitleRenderer r;
    std::vector<double> take;
    for (int i = 0; i < 5; ++i) {
        auto t0 = Clock::now();
        r.SetCues(d);
        take.push_back(Ms(t0));
    }
    Row("`SetCues` (index built)", Of(take), "about a load's share");

    std::vector<double> find;
    std::size_t hits = 0;
    for (int i = 0; i < 20000; ++i) {
        const int64_t at = static_cast<int64_t>(rng.next() % static_cast<uint64_t>(last + 1));
        auto t0 = Clock::now();
        hits += r.ShowingAt(at).size();
        find.push_back(Ms(t0));
    }
    Row("`ShowingAt` a random time", Of(find), "no scan: microseconds");

    std::vector<double> frame;
    const QSize size(1920, 1080);
    for (int i = 0; i < 200; ++i) {
        const int64_t at = static_cast<int64_t>(rng.next() % static_cast<uint64_t>(last + 1));
        auto t0 = Clock::now();
        r.RenderOverlay(at, size);
        frame.push_back(Ms(t0));
    }
    Row("render at a random time (seeking)", Of(frame), "under 5 ms");

    std::vector<double> text, time, ins, rem;
    for (int i = 0; i < 20; ++i) {
        const int row = static_cast<int>(rng.below(static_cast<uint32_t>(d.Count())));
        d.SetText(row, "edited " + std::to_string(i));
        auto t0 = Clock::now();
        r.CuesChanged(row, row, false);
        text.push_back(Ms(t0));

        d.SetStart(row, d.Start(row) + 1500);
        t0 = Clock::now();
        r.CuesChanged(row, row, true);
        time.push_back(Ms(t0));

        const int at = static_cast<int>(rng.below(static_cast<uint32_t>(d.Count())));
        d.Insert(at, {CueValue{d.Start(at), d.Start(at) + 1000, "new"}}, QStringLiteral("insert"));
        t0 = Clock::now();
        r.CuesInserted(at, at);
        ins.push_back(Ms(t0));

        d.Remove({at}, QStringLiteral("remove"));
        t0 = Clock::now();
        r.CuesRemoved(at, at);
        rem.push_back(Ms(t0));
    }
    Row("update after a text edit", Of(text), "cheap");
    Row("update after a start edit (+1.5 s)", Of(time), "cheap");
    Row("update after inserting a row (middle)", Of(ins), "about the document's own insert");
    Row("update after removing a row (middle)", Of(rem), "about the document's own remove");

    std::printf("\n%d cues, %zu hits found\n", n, hits);
    return 0;
}
