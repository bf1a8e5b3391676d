// Shared set-up of the editor tests: settings in a temporary folder, and
// small files written there.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <initializer_list>
#include <memory>

#include "app/frmmain.h"
#include "media/scriptedplaybackservice.h"
#include "system/scriptedsystemui.h"

namespace lumeval::testing {

/// Points the settings store at `dir`, so no test reads or writes the user's.
inline void IsolateSettings(const QTemporaryDir& dir) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path() + "/settings");
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path() + "/settings");
    // The crash backups too.
    qputenv("XDG_STATE_HOME", (dir.path() + "/state").toLocal8Bit());
}

inline QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
    return path;
}

// A SubRip file of the given blocks ("start --> end\ntext"), numbered from 1.
inline QString WriteSrt(const QTemporaryDir& dir, const QString& name, std::initializer_list<const char*> cues) {
    QByteArray text;
    int n = 0;
    for (const char* cue : cues) text += QByteArray::number(++n) + "\n" + cue + "\n\n";
    return WriteFile(dir, name, text);
}

/// A shown main window whose dialogs are scripted and whose settings,
/// backups and files live in a temporary folder.
class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        IsolateSettings(dir);
        ui = std::make_shared<ScriptedSystemUi>();
        StartWindow();
    }
    /// A new window (a start of the program), on the same folder.
    void StartWindow() {
        frmMainOptions options;
        options.systemUi = ui;
        window = std::make_unique<frmMain>(std::move(options));
        window->resize(1000, 600);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    /// Opens a file through the window; the character-set question, when
    /// it comes, is answered No.
    void OpenFile(const QString& path) {
        ui->queueMessageBox(MsgResult::No);
        window->OpenSubtitle(path);
        QCoreApplication::processEvents();
    }

    QTemporaryDir dir;
    std::shared_ptr<ScriptedSystemUi> ui;
    std::unique_ptr<frmMain> window;
};

/// A window whose media are scripted (any file "plays", 60 s long, its
/// position set by the test), 800 x 600.
class MediaWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        IsolateSettings(dir);
        ui = std::make_shared<ScriptedSystemUi>();
        media = std::make_shared<media::ScriptedMedia>();
        frmMainOptions options;
        options.systemUi = ui;
        options.playback = media::ScriptedPlaybackService::Factory(media);
        window = std::make_unique<frmMain>(std::move(options));
        window->resize(800, 600);
        window->show();  // the client area gets its size from the shown window
        QCoreApplication::processEvents();
    }
    QString write(const QString& name, const QByteArray& bytes) { return WriteFile(dir, name, bytes); }

    QTemporaryDir dir;
    std::shared_ptr<ScriptedSystemUi> ui;
    std::shared_ptr<media::ScriptedMedia> media;
    std::unique_ptr<frmMain> window;
};

}  // namespace lumeval::testing
