// Files and pictures for the album-art tests.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QString>

#include <cstdlib>

namespace lumeval::albumarttest {

inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QImage Solid(int w, int h, QColor colour) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(colour);
    return img;
}

/// True when the middle pixel is within a JPEG's error of colour.
inline bool NearColour(const QImage& img, QColor colour, int tolerance = 12) {
    if (img.isNull()) return false;
    const QColor c = img.pixelColor(img.width() / 2, img.height() / 2);
    return std::abs(c.red() - colour.red()) <= tolerance && std::abs(c.green() - colour.green()) <= tolerance &&
           std::abs(c.blue() - colour.blue()) <= tolerance;
}

/// A few bytes that look like the start of an MP3 stream.
inline QByteArray FakeAudio() {
    QByteArray audio("\xFF\xFB\x90\x64", 4);
    audio.append(QByteArray(400, '\x55'));
    return audio;
}

}  // namespace lumeval::albumarttest
