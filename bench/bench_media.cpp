// Playback figures: opening a generated 2-second 64x48 MP4 through the real
// Qt Multimedia service until Status 3 (target: under 300 ms), and one
// status tick, the PlayStatus raise with position and duration (target:
// under 1 ms).
//
// lumeval-bench-media [OPENS] [TICKS]   (defaults 20 and 2000)
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "media/clsdirectshow.h"
#include "media/qtplaybackservice.h"

namespace {

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    lumeval::media::PreferFfmpegBackend();
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int opens = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const int ticks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2000;

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bench.mp4"));
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=25:duration=2",
                  "-f", "lavfi", "-i", "sine=frequency=440:duration=2", "-c:v", "mpeg4", "-c:a",
                  "aac", "-shortest", file});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0) {
        std::fprintf(stderr, "bench_media: ffmpeg could not make the test video\n");
        return 1;
    }

    QWidget target;
    target.resize(320, 240);
    target.show();
    lumeval::clsDirectShow ds;

    // Opening until Status 3 (the first open also loads the backend).
    std::vector<double> openMs;
    for (int i = 0; i <= opens; ++i) {
        QElapsedTimer clock;
        clock.start();
        const bool ok = ds.DS_OpenFile(file, 0, 0, 320, 240, &target, false, false).toBool();
        const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        if (!ok || ds.Status() != 3) {
            std::fprintf(stderr, "bench_media: open failed\n");
            return 1;
        }
        if (i == 0) {
            std::printf("first open (backend start-up): %.2f ms\n", ms);
        } else {
            openMs.push_back(ms);
        }
    }
    std::printf("open to Status 3: median %.2f ms, min %.2f ms, max %.2f ms over %d (target < 300 ms)\n",
                Median(openMs), *std::min_element(openMs.begin(), openMs.end()),
                *std::max_element(openMs.begin(), openMs.end()), opens);

    // One status tick while playing: position, duration, the PlayStatus raise.
    ds.Repeat(true);
    double sink = 0;
    int raised = 0;
    ds.PlayStatus = [&sink, &raised](double& position, double& duration, qint32& status) {
        sink += position + duration + status;
        ++raised;
    };
    ds.DS_Play();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < ticks; ++i) ds.RoutedCallback(lumeval::clsDirectShow::kTimerMethod, {});
    const double tickUs = static_cast<double>(clock.nsecsElapsed()) / 1e3 / ticks;
    // Every tick must have raised the event, or the figure measures nothing.
    if (raised != ticks || ds.Status() != 1) {
        std::fprintf(stderr, "bench_media: %d of %d ticks raised PlayStatus\n", raised, ticks);
        return 1;
    }
    std::printf("status tick: %.2f us each over %d (target < 1000 us)%s\n", tickUs, ticks,
                sink >= 0 ? "" : " ");
    ds.PlayStatus = nullptr;
    ds.DS_Remove(false);
    return 0;
}
