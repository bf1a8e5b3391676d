// Shared set-up of the editor tests: settings in a temporary folder, and
// small files written there.
#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

namespace lumeval::testing {

/// Points the settings store at `dir`, so no test reads or writes the user's.
inline void IsolateSettings(const QTemporaryDir& dir) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path() + "/settings");
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path() + "/settings");
}

inline QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
    return path;
}

}  // namespace lumeval::testing
