// Shared set-up of the editor tests: settings in a temporary folder, and
// small files written there.
#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <initializer_list>
#include <QSettings>
#include <QTemporaryDir>

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

}  // namespace lumeval::testing
