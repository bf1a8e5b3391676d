// Real readers of what we write: an MP3 made by ffmpeg gets pictures written
// and deleted; TagLib must see the same pictures and ffprobe the same audio.
// TagLib comes in only when the build defines LUMEVAL_HAVE_TAGLIB.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "media/albumart.h"
#include "tests/albumart/albumart_test_util.h"

#ifdef LUMEVAL_HAVE_TAGLIB
#include <attachedpictureframe.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#endif

namespace lumeval {
namespace {

using namespace lumeval::albumarttest;

struct Probe {
    bool ok = false;
    QString codec;
    double duration = 0;
};

// Audio stream codec and duration as ffprobe reads them.
Probe FfProbe(const QString& path) {
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                        "stream=codec_name:format=duration", "-of", "default=noprint_wrappers=1", path});
    Probe probe;
    if (!p.waitForFinished(30000) || p.exitCode() != 0) return probe;
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n')) {
        if (line.startsWith("codec_name=")) probe.codec = line.mid(11).trimmed();
        if (line.startsWith("duration=")) probe.duration = line.mid(9).trimmed().toDouble();
    }
    probe.ok = !probe.codec.isEmpty();
    return probe;
}

#ifdef LUMEVAL_HAVE_TAGLIB
struct SeenPicture {
    QString mime;
    int type = -1;
    QImage image;
};

std::vector<SeenPicture> TagLibPictures(const QString& path) {
    std::vector<SeenPicture> seen;
    const QByteArray name = QFile::encodeName(path);
    TagLib::MPEG::File file(name.constData());
    if (!file.isValid() || !file.hasID3v2Tag()) return seen;
    for (TagLib::ID3v2::Frame* frame : file.ID3v2Tag()->frameList("APIC")) {
        auto* apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame);
        if (apic == nullptr) continue;
        SeenPicture s;
        s.mime = QString::fromStdString(apic->mimeType().to8Bit());
        s.type = static_cast<int>(apic->type());
        const TagLib::ByteVector data = apic->picture();
        s.image = QImage::fromData(reinterpret_cast<const uchar*>(data.data()), static_cast<int>(data.size()));
        seen.push_back(s);
    }
    return seen;
}
#endif

class RealMp3 : public testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable("ffmpeg").isEmpty() || QStandardPaths::findExecutable("ffprobe").isEmpty())
            GTEST_SKIP() << "ffmpeg/ffprobe not installed";
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("x.mp3");
        QProcess p;
        p.start("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "sine=d=2", "-c:a", "libmp3lame", path});
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_EQ(0, p.exitCode()) << p.readAllStandardError().toStdString();
        before = FfProbe(path);
        ASSERT_TRUE(before.ok);
        ASSERT_EQ("mp3", before.codec);
    }
    void ExpectAudioUnchanged() {
        const Probe after = FfProbe(path);
        ASSERT_TRUE(after.ok);
        EXPECT_EQ("mp3", after.codec);
        EXPECT_NEAR(before.duration, after.duration, 0.05);
        EXPECT_NEAR(2.0, after.duration, 0.1);
    }
    QTemporaryDir dir;
    QString path;
    Probe before;
};

TEST_F(RealMp3, WrittenPicturesAreReadByOthers) {
    const int tagBefore = GetAlbumArtCount(path);
    EXPECT_EQ(0, tagBefore);
    ASSERT_TRUE(WriteAlbumArt(path, 0, Solid(64, 48, Qt::red), 3));
    ASSERT_TRUE(WriteAlbumArt(path, 1, Solid(30, 20, Qt::blue), 4));
    ASSERT_EQ(2, GetAlbumArtCount(path));
    ExpectAudioUnchanged();
#ifdef LUMEVAL_HAVE_TAGLIB
    auto seen = TagLibPictures(path);
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("image/jpeg", seen[0].mime);
    EXPECT_EQ(3, seen[0].type);
    EXPECT_EQ(QSize(64, 48), seen[0].image.size());
    EXPECT_TRUE(NearColour(seen[0].image, Qt::red));
    EXPECT_EQ("image/jpeg", seen[1].mime);
    EXPECT_EQ(4, seen[1].type);
    EXPECT_EQ(QSize(30, 20), seen[1].image.size());
    EXPECT_TRUE(NearColour(seen[1].image, Qt::blue));
#endif

    ASSERT_TRUE(DeleteAlbumArt(path, 1));
    EXPECT_EQ(1, GetAlbumArtCount(path));
    ExpectAudioUnchanged();
#ifdef LUMEVAL_HAVE_TAGLIB
    seen = TagLibPictures(path);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(4, seen[0].type);
    EXPECT_EQ(QSize(30, 20), seen[0].image.size());
#endif
    ASSERT_TRUE(DeleteAlbumArt(path, 1));
    EXPECT_EQ(0, GetAlbumArtCount(path));
    ExpectAudioUnchanged();
#ifdef LUMEVAL_HAVE_TAGLIB
    EXPECT_TRUE(TagLibPictures(path).empty());
#endif
}

#ifdef LUMEVAL_HAVE_TAGLIB
// The other way round: pictures TagLib writes (a version-4 tag) are read here.
TEST_F(RealMp3, ReadsPicturesTagLibWrote) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(Solid(12, 9, Qt::green).save(&buffer, "PNG"));
    {
        const QByteArray name = QFile::encodeName(path);
        TagLib::MPEG::File file(name.constData());
        ASSERT_TRUE(file.isValid());
        auto* apic = new TagLib::ID3v2::AttachedPictureFrame;
        apic->setMimeType("image/png");
        apic->setType(TagLib::ID3v2::AttachedPictureFrame::BackCover);
        apic->setDescription(TagLib::String("后封面", TagLib::String::UTF8));
        apic->setTextEncoding(TagLib::String::UTF16);
        apic->setPicture(TagLib::ByteVector(png.constData(), static_cast<unsigned>(png.size())));
        file.ID3v2Tag(true)->addFrame(apic);
        file.ID3v2Tag()->setTitle("title");
        ASSERT_TRUE(file.save());
    }
    ASSERT_EQ(1, GetAlbumArtCount(path));
    QImage img;
    int type = -1;
    ASSERT_TRUE(ReadAlbumArt(path, 1, img, type));
    EXPECT_EQ(QSize(12, 9), img.size());
    EXPECT_EQ(4, type);
    // A picture added after it is seen by TagLib beside its own.
    ASSERT_TRUE(WriteAlbumArt(path, 1, Solid(8, 8, Qt::red), 3));
    const auto seen = TagLibPictures(path);
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("image/png", seen[0].mime);
    EXPECT_EQ(QSize(12, 9), seen[0].image.size());
    EXPECT_EQ("image/jpeg", seen[1].mime);
    EXPECT_EQ(QSize(8, 8), seen[1].image.size());
    ExpectAudioUnchanged();
}
#endif

}  // namespace
}  // namespace lumeval
