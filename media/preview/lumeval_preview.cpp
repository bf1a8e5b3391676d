// lumeval_preview FILE [--seconds N] [--repeat]
//
// Plays FILE in a window with aspect rule 0 (fit, letterboxed), prints each
// status tick on stdout, and exits when the preview ends (or after N
// seconds). Exit code 0 when the file played, 1 when it did not open,
// 2 for a usage error.
#include <QApplication>
#include <QResizeEvent>
#include <QTimer>
#include <QWidget>
#include <cstdio>

#include "media/clsdirectshow.h"
#include "media/qtplaybackservice.h"

// Qt 6.4's ffmpeg plugin never frees the options it passes to the decoders
// (a few bytes per opened stream). Not ours to mend: a sanitizer build is
// told so, and only about those libraries.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libffmpegmediaplugin.so\nleak:libavutil.so\n";
}

namespace {

class PreviewWindow final : public QWidget {
  public:
    std::function<void()> Resized;

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        if (Resized) Resized();
    }
};

int Usage() {
    std::fprintf(stderr, "usage: lumeval_preview FILE [--seconds N] [--repeat]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    lumeval::media::PreferFfmpegBackend();
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QString file;
    double seconds = 0;
    bool repeat = false;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--seconds") && i + 1 < args.size()) {
            bool ok = false;
            seconds = args[++i].toDouble(&ok);
            if (!ok || seconds < 0) return Usage();
        } else if (args[i] == QLatin1String("--repeat")) {
            repeat = true;
        } else if (file.isEmpty() && !args[i].startsWith(QLatin1String("--"))) {
            file = args[i];
        } else {
            return Usage();
        }
    }
    if (file.isEmpty()) return Usage();

    PreviewWindow window;
    window.setWindowTitle(QStringLiteral("lumeval_preview - %1").arg(file));
    window.setStyleSheet(QStringLiteral("background: #202020"));
    window.resize(480, 360);
    window.show();

    lumeval::clsDirectShow player;
    player.Aspect(0);
    player.Repeat(repeat);
    bool started = false;
    player.PlayStatus = [&](double& position, double& duration, qint32& status) {
        std::printf("status %d position %.3f duration %.3f\n", status, position, duration);
        std::fflush(stdout);
        if (status == 0 && started) QTimer::singleShot(0, &app, &QApplication::quit);
    };
    player.PlayRect = [](qint32& left, qint32& top, qint32& width, qint32& height) {
        std::printf("picture %d,%d %dx%d\n", left, top, width, height);
        std::fflush(stdout);
    };
    window.Resized = [&]() {
        player.DS_ChangeTarget(0, 0, window.width(), window.height(), &window);
    };

    const QVariant opened = player.DS_OpenFile(file, 0, 0, window.width(), window.height(), &window,
                                               false, true);
    if (!opened.toBool()) {
        std::fprintf(stderr, "lumeval_preview: cannot open %s\n", qPrintable(file));
        return 1;
    }
    std::printf("opened %s: %dx%d, %.3f fps, %.3f s\n", qPrintable(file), player.VideoWidth(),
                player.VideoHeight(), static_cast<double>(player.FrameRate()), player.Duration());
    started = true;
    player.DS_Play();
    if (seconds > 0) {
        QTimer::singleShot(static_cast<int>(seconds * 1000), &app, [&]() { player.DS_Remove(true); });
    }
    const int rc = app.exec();
    player.PlayStatus = nullptr;
    player.DS_Remove(false);
    return rc;
}
