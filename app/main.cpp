// lumeval: the subtitle editor. Files named on the command line open as
// documents; a media file among them opens in the preview.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>

#include "app/frmmain.h"
#include "app/hugepages.h"
#include "controls/logsink.h"
#include "system/clssystem.h"
#include "system/qtsystemui.h"

namespace {
// Audio files play in the preview too when named on the command line.
const QString kAudioPatterns = QStringLiteral("*.mp3; *.ogg; *.oga; *.opus; *.wav; *.flac; *.m4a; *.aac");
}  // namespace

// --help and --version answer without a display.
bool asksOnlyForText(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "-h" || a == "--help" || a == "-?" || a == "-v" || a == "--version" || a == "--help-all")
            return true;
    }
    return false;
}

void describe(QCoreApplication& app, QCommandLineParser& parser);

int main(int argc, char** argv) {
    lumeval::StartWithHugePages(argv);
    QCoreApplication::setApplicationName(QStringLiteral("Lumeval"));
    QCoreApplication::setOrganizationName(QStringLiteral("Varnel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMEVAL_VERSION));
    QCommandLineParser parser;
    if (asksOnlyForText(argc, argv)) {
        QCoreApplication text(argc, argv);
        describe(text, parser);  // prints and exits
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("lumeval"));
    describe(app, parser);
    lumeval::InstallChineseQtTexts(app);


    lumeval::EnableSystemLog(true);
    lumeval::frmMain window;
    window.show();
    const QStringList files = parser.positionalArguments();
    QTimer::singleShot(0, &window, [&window, files] {
        // Work a crash left behind comes before anything else.
        window.OfferRecovery();
        for (const QString& file : files) {
            if (!lumeval::clsSystem::FileExists(file)) {
                std::fprintf(stderr, "lumeval: %s: no such file\n", file.toLocal8Bit().constData());
                continue;
            }
            if (lumeval::clsSystem::CheckSuffixFromString(file, lumeval::VideoPatterns() + QStringLiteral("; ") + kAudioPatterns)) {
                window.OpenVideo(file);
            } else {
                window.OpenSubtitle(file);
            }
        }
    });
    return app.exec();
}

void describe(QCoreApplication& app, QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral("Lumeval subtitle editor"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("Subtitle files to open; a media file opens in the preview."),
                                 QStringLiteral("[FILE...]"));
    parser.process(app);
}
