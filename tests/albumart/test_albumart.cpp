// The file-level album-art functions: counting, reading, writing and
// deleting on real files, the read-only rule, and what a failed write leaves.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

#include "media/albumart.h"
#include "media/id3tag.h"
#include "tests/albumart/albumart_test_util.h"
#include "tests/albumart/id3_builder.h"

namespace lumeval {
namespace {

using namespace lumeval::albumarttest;

QByteArray ToQ(const id3test::ByteVector& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

id3test::ByteVector FromQ(const QByteArray& b) {
    return id3test::ByteVector(b.begin(), b.end());
}

class AlbumArtFile : public testing::Test {
protected:
    QString Path(const QString& name) const { return dir.filePath(name); }
    QString MakeFile(const QString& name, const QByteArray& bytes) {
        const QString p = Path(name);
        EXPECT_TRUE(WriteAll(p, bytes));
        return p;
    }
    QTemporaryDir dir;
};

TEST_F(AlbumArtFile, ExistAndCountWithoutPictures) {
    EXPECT_FALSE(ID3Exist(Path("missing.mp3")));
    EXPECT_EQ(0, GetAlbumArtCount(Path("missing.mp3")));
    const QString plain = MakeFile("plain.mp3", FakeAudio());
    EXPECT_FALSE(ID3Exist(plain));
    EXPECT_EQ(0, GetAlbumArtCount(plain));
    EXPECT_FALSE(ID3Exist(MakeFile("short.mp3", QByteArray("ID3\x03", 4))));
    const QString tagged = MakeFile("tagged.mp3", ToQ(id3test::Tag(3, id3test::TextFrame(3, "t"), 100)) + FakeAudio());
    EXPECT_TRUE(ID3Exist(tagged));
    EXPECT_EQ(0, GetAlbumArtCount(tagged));
    EXPECT_FALSE(ID3Exist(dir.path()));  // a folder is not a file
}

TEST_F(AlbumArtFile, ReadOutOfRangeGivesFalseAndEmptyPicture) {
    const QString p = MakeFile("one.mp3", FakeAudio());
    ASSERT_TRUE(WriteAlbumArt(p, 0, Solid(8, 8, Qt::red), 3));
    ASSERT_EQ(1, GetAlbumArtCount(p));
    for (int index : {0, 2, -1, 1000}) {
        QImage img = Solid(2, 2, Qt::blue);
        int type = 77;
        EXPECT_FALSE(ReadAlbumArt(p, index, img, type)) << index;
        EXPECT_TRUE(img.isNull()) << index;
        EXPECT_EQ(77, type) << index;
    }
    QImage img;
    int type = 0;
    EXPECT_FALSE(ReadAlbumArt(Path("missing.mp3"), 1, img, type));
}

TEST_F(AlbumArtFile, WriteReadDeleteRoundTrip) {
    const QByteArray audio = FakeAudio();
    const QString p = MakeFile("song.mp3", audio);
    // Second picture goes after the first; a third with index 0 goes first.
    ASSERT_TRUE(WriteAlbumArt(p, 0, Solid(40, 30, Qt::red), 3));
    ASSERT_TRUE(WriteAlbumArt(p, 1, Solid(20, 10, Qt::green), 4));
    ASSERT_TRUE(WriteAlbumArt(p, 0, Solid(16, 16, Qt::blue), 99));
    EXPECT_TRUE(ID3Exist(p));
    ASSERT_EQ(3, GetAlbumArtCount(p));
    const struct {
        int w, h, type;
        QColor colour;
    } expected[] = {{16, 16, 3, Qt::blue}, {40, 30, 3, Qt::red}, {20, 10, 4, Qt::green}};
    for (int i = 0; i < 3; ++i) {
        QImage img;
        int type = -1;
        ASSERT_TRUE(ReadAlbumArt(p, i + 1, img, type)) << i;
        EXPECT_EQ(QSize(expected[i].w, expected[i].h), img.size()) << i;
        EXPECT_EQ(expected[i].type, type) << i;
        EXPECT_TRUE(NearColour(img, expected[i].colour)) << i;
    }
    // The audio follows the tag untouched.
    EXPECT_TRUE(ReadAll(p).endsWith(audio));

    ASSERT_TRUE(DeleteAlbumArt(p, 2));
    ASSERT_EQ(2, GetAlbumArtCount(p));
    QImage img;
    int type = -1;
    ASSERT_TRUE(ReadAlbumArt(p, 2, img, type));
    EXPECT_EQ(QSize(20, 10), img.size());
    ASSERT_TRUE(DeleteAlbumArt(p, 1));
    ASSERT_TRUE(DeleteAlbumArt(p, 1));
    EXPECT_EQ(0, GetAlbumArtCount(p));
    EXPECT_FALSE(DeleteAlbumArt(p, 1));
    // An empty tag stays in front of the audio.
    EXPECT_EQ(QByteArray("ID3\x03\x00\x00\x00\x00\x00\x00", 10) + audio, ReadAll(p));
}

TEST_F(AlbumArtFile, StoredDataIsTrulyJpeg) {
    QImage translucent(10, 10, QImage::Format_ARGB32);
    translucent.fill(Qt::transparent);
    for (uint8_t version : {2, 3, 4}) {
        const QString p = MakeFile(QString("v%1.mp3").arg(version), ToQ(id3test::Tag(version, {}, 50)) + FakeAudio());
        ASSERT_TRUE(WriteAlbumArt(p, 0, translucent, 3)) << int(version);
        const auto bytes = FromQ(ReadAll(p));
        const auto walk = id3::Walk(bytes);
        ASSERT_TRUE(walk.has_value());
        ASSERT_EQ(1u, walk->pictures.size());
        const auto pic = id3::ParsePicture(bytes, *walk, walk->pictures[0]);
        ASSERT_TRUE(pic.has_value());
        EXPECT_EQ(version == 2 ? "JPG" : "image/jpeg", pic->mimeType);
        QByteArray data = ToQ(pic->data);
        QBuffer buffer(&data);
        QImageReader reader(&buffer);
        EXPECT_EQ("jpeg", reader.format()) << int(version);
        // Transparency is laid over white, not black.
        QImage img;
        int type = 0;
        ASSERT_TRUE(ReadAlbumArt(p, 1, img, type));
        EXPECT_TRUE(NearColour(img, Qt::white)) << int(version);
    }
    // Nothing is written next to the program or in the working folder.
    EXPECT_FALSE(QFileInfo::exists(QDir(QCoreApplication::applicationDirPath()).filePath("Temp.bmp")));
    EXPECT_FALSE(QFileInfo::exists(QDir::current().filePath("Temp.bmp")));
}

TEST_F(AlbumArtFile, ReadsWhateverFormatTheDataIs) {
    // Other programs label PNG data as "image/jpeg"; the bytes decide.
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    Solid(7, 5, Qt::yellow).save(&buffer, "PNG");
    const auto frame = id3test::Frame(3, "APIC", id3test::PictureBody(3, 6, FromQ(png)));
    const QString p = MakeFile("png.mp3", ToQ(id3test::Tag(3, frame)) + FakeAudio());
    QImage img;
    int type = 0;
    ASSERT_TRUE(ReadAlbumArt(p, 1, img, type));
    EXPECT_EQ(QSize(7, 5), img.size());
    EXPECT_EQ(6, type);
    // Data that is no picture gives False, with the type still read.
    const auto junk = id3test::Frame(3, "APIC", id3test::PictureBody(3, 2, {1, 2, 3, 4}));
    const QString q = MakeFile("junk.mp3", ToQ(id3test::Tag(3, junk)));
    EXPECT_FALSE(ReadAlbumArt(q, 1, img, type));
    EXPECT_TRUE(img.isNull());
    EXPECT_EQ(2, type);
}

TEST_F(AlbumArtFile, RefusalsLeaveTheFileAsItWas) {
    const QByteArray original = ToQ(id3test::Tag(3, id3test::PictureFrame(3, 3, {1}), 0, id3::kFlagUnsynchronisation));
    const QString p = MakeFile("unsync.mp3", original);
    EXPECT_FALSE(WriteAlbumArt(p, 0, Solid(4, 4, Qt::red), 3));  // unsynchronised tag
    EXPECT_FALSE(WriteAlbumArt(p, 0, QImage(), 3));               // no picture
    EXPECT_FALSE(DeleteAlbumArt(p, 2));                           // no such frame
    EXPECT_EQ(original, ReadAll(p));
    EXPECT_FALSE(WriteAlbumArt(Path("missing.mp3"), 0, Solid(4, 4, Qt::red), 3));
    EXPECT_FALSE(QFileInfo::exists(Path("missing.mp3")));
    EXPECT_FALSE(DeleteAlbumArt(Path("missing.mp3"), 1));
}

TEST_F(AlbumArtFile, ReadOnlyFiles) {
    const QString p = MakeFile("ro.mp3", FakeAudio());
    ASSERT_TRUE(WriteAlbumArt(p, 0, Solid(4, 4, Qt::red), 3));
    const QByteArray before = ReadAll(p);
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    ASSERT_TRUE(QFile::setPermissions(p, readOnly));
    EXPECT_FALSE(WriteAlbumArt(p, 0, Solid(4, 4, Qt::red), 3, false));
    EXPECT_FALSE(DeleteAlbumArt(p, 1, false));
    EXPECT_EQ(before, ReadAll(p));
    EXPECT_EQ(readOnly, QFileInfo(p).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser));

    ASSERT_TRUE(WriteAlbumArt(p, 1, Solid(4, 4, Qt::red), 3, true));
    EXPECT_EQ(2, GetAlbumArtCount(p));
    EXPECT_TRUE(QFileInfo(p).permissions().testFlag(QFileDevice::WriteOwner));
    ASSERT_TRUE(QFile::setPermissions(p, readOnly));
    EXPECT_TRUE(DeleteAlbumArt(p, 1, true));
    EXPECT_EQ(1, GetAlbumArtCount(p));
}

TEST_F(AlbumArtFile, KeepsPermissionsLinksAndNames) {
    // A UTF-8 name, reached through a symbolic link.
    const QString p = MakeFile(QString::fromUtf8("封面 歌曲.mp3"), FakeAudio());
    const auto perms = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    ASSERT_TRUE(QFile::setPermissions(p, perms));
    const QString link = Path("link.mp3");
    ASSERT_TRUE(QFile::link(p, link));
    ASSERT_TRUE(WriteAlbumArt(link, 0, Solid(4, 4, Qt::red), 3));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(1, GetAlbumArtCount(p));
    EXPECT_EQ(perms, QFileInfo(p).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser));
}

// A write that fails part of the way (the file-size limit stops the new
// content half-written) must leave the audio file byte for byte as it was,
// and no temporary file behind.
TEST_F(AlbumArtFile, FailedWriteLeavesFileIntact) {
    QByteArray original = ToQ(id3test::Tag(3, id3test::PictureFrame(3, 3, {1, 2, 3}), 10));
    original.append(QByteArray(256 * 1024, '\x33'));
    const QString p = MakeFile("big.mp3", original);

    rlimit old{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    const bool wrote = WriteAlbumArt(p, 1, Solid(32, 32, Qt::red), 3);
    const bool deleted = DeleteAlbumArt(p, 1);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(wrote);
    EXPECT_FALSE(deleted);
    EXPECT_EQ(original, ReadAll(p));
    EXPECT_EQ(QStringList{"big.mp3"}, QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System));
    // With the limit lifted the same write succeeds.
    EXPECT_TRUE(WriteAlbumArt(p, 1, Solid(32, 32, Qt::red), 3));
    EXPECT_EQ(2, GetAlbumArtCount(p));
}

TEST_F(AlbumArtFile, DamagedTagsAreCountedSafely) {
    // The tag claims more than the file holds; the full picture still counts.
    auto frames = id3test::PictureFrame(3, 3, {1});
    auto file = id3test::Tag(3, frames, 100000);
    file.resize(10 + frames.size() + 4);
    const QString p = MakeFile("cut.mp3", ToQ(file));
    EXPECT_EQ(1, GetAlbumArtCount(p));
    const QByteArray header("ID3\x04\x00\x10\xFF\xFF\xFF\xFF", 10);
    EXPECT_EQ(0, GetAlbumArtCount(MakeFile("huge.mp3", header)));
}

}  // namespace
}  // namespace lumeval
