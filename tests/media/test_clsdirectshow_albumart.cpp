// The playback class's album-art members reach the tag walk.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "media/clsdirectshow.h"

using lumeval::clsDirectShow;

TEST(DirectShowAlbumArt, MembersWriteCountReadAndDelete) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("song.mp3"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(64, '\xFF'));  // audio bytes, no tag
    }
    EXPECT_FALSE(clsDirectShow::ID3Exist(path));
    EXPECT_EQ(clsDirectShow::GetAlbumArtCount(path), 0);
    QImage cover(16, 8, QImage::Format_RGB32);
    cover.fill(Qt::red);
    ASSERT_TRUE(clsDirectShow::WriteAlbumArt(path, 0, cover, 3));
    EXPECT_TRUE(clsDirectShow::ID3Exist(path));
    EXPECT_EQ(clsDirectShow::GetAlbumArtCount(path), 1);
    QImage read;
    qint32 type = -1;
    ASSERT_TRUE(clsDirectShow::ReadAlbumArt(path, 1, read, type));
    EXPECT_EQ(read.size(), cover.size());
    EXPECT_EQ(type, 3);
    EXPECT_FALSE(clsDirectShow::ReadAlbumArt(path, 2, read, type));
    ASSERT_TRUE(clsDirectShow::DeleteAlbumArt(path, 1));
    EXPECT_EQ(clsDirectShow::GetAlbumArtCount(path), 0);
}
