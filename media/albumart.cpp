#include "media/albumart.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QSaveFile>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "media/id3tag.h"

namespace lumeval {

namespace {

using ByteVector = std::vector<uint8_t>;

// Up to count bytes from the file's current position; fewer at its end.
ByteVector ReadBytes(QFile& file, qint64 count) {
    ByteVector bytes(static_cast<size_t>(count));
    qint64 done = 0;
    while (done < count) {
        const qint64 n = file.read(reinterpret_cast<char*>(bytes.data()) + done, count - done);
        if (n <= 0) break;
        done += n;
    }
    if (done < count) bytes.resize(static_cast<size_t>(done));
    return bytes;
}

// The file's first bytes up to the end of its tag (or as many as the file
// has): all a count or a read needs.
std::optional<ByteVector> ReadTagBytes(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    ByteVector bytes = ReadBytes(file, id3::kTagHeaderLength);
    const auto header = id3::ParseTagHeader(bytes);
    if (!header) return bytes;
    const auto want = static_cast<qint64>(
        std::min<uint64_t>(header->length, static_cast<uint64_t>(file.size())));
    if (want <= static_cast<qint64>(bytes.size())) return bytes;
    const ByteVector rest = ReadBytes(file, want - static_cast<qint64>(bytes.size()));
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
}

// The file to rewrite: a symbolic link is followed so the link stays a link.
QString RealPath(const QString& fileName) {
    const QFileInfo info(fileName);
    if (info.isSymLink()) {
        const QString target = info.canonicalFilePath();
        if (!target.isEmpty()) return target;
    }
    return fileName;
}

// A file is read-only when its owner may not write it (the permission bit,
// not access(2): an administrator may write anything, and read-only must
// still mean something then).
bool IsReadOnly(const QFileInfo& info) {
    return !info.permissions().testFlag(QFileDevice::WriteOwner) || !info.isWritable();
}

// Reads the whole file for a rewrite, after clearing its read-only state
// when asked to. Empty when it cannot be read or may not be written.
std::optional<ByteVector> ReadForRewrite(const QString& path, bool ignoreReadOnly) {
    const QFileInfo info(path);
    if (!info.isFile()) return std::nullopt;
    if (ignoreReadOnly && IsReadOnly(info)) {
        QFile::setPermissions(path, info.permissions() | QFileDevice::WriteOwner | QFileDevice::WriteUser);
    }
    if (IsReadOnly(QFileInfo(path))) return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    ByteVector bytes = ReadBytes(file, file.size());
    if (static_cast<qint64>(bytes.size()) != file.size()) return std::nullopt;
    return bytes;
}

// Writes the new content beside the file and renames it into place only
// when every byte is on disk; the old file survives any failure untouched.
bool ReplaceFile(const QString& path, const ByteVector& bytes) {
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) return false;
    const char* data = reinterpret_cast<const char*>(bytes.data());
    qint64 done = 0;
    const auto total = static_cast<qint64>(bytes.size());
    while (done < total) {
        const qint64 n = out.write(data + done, total - done);
        if (n <= 0) {
            out.cancelWriting();
            return false;
        }
        done += n;
    }
    return out.commit();
}

// JPEG data of the picture, encoded in memory. JPEG has no transparency, so
// a translucent picture is laid over white rather than over black.
std::optional<QByteArray> EncodeJpeg(const QImage& image) {
    if (image.isNull()) return std::nullopt;
    QImage opaque = image;
    if (image.hasAlphaChannel()) {
        opaque = QImage(image.size(), QImage::Format_RGB32);
        opaque.fill(Qt::white);
        QPainter painter(&opaque);
        painter.drawImage(0, 0, image);
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    if (!buffer.open(QIODevice::WriteOnly) || !opaque.save(&buffer, "JPG", 90) || jpeg.isEmpty())
        return std::nullopt;
    return jpeg;
}

}  // namespace

bool ID3Exist(const QString& FileName) {
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly)) return false;
    return id3::ParseTagHeader(ReadBytes(file, id3::kTagHeaderLength)).has_value();
}

int GetAlbumArtCount(const QString& FileName) {
    const auto bytes = ReadTagBytes(FileName);
    if (!bytes) return 0;
    const auto walk = id3::Walk(*bytes);
    return walk ? static_cast<int>(walk->pictures.size()) : 0;
}

bool ReadAlbumArt(const QString& FileName, int FrameIndex, QImage& AlbumArt, int& PictureType) {
    AlbumArt = QImage();
    if (FrameIndex < 1) return false;
    const auto bytes = ReadTagBytes(FileName);
    if (!bytes) return false;
    const auto walk = id3::Walk(*bytes);
    if (!walk || static_cast<size_t>(FrameIndex) > walk->pictures.size()) return false;
    const auto picture = id3::ParsePicture(*bytes, *walk, walk->pictures[static_cast<size_t>(FrameIndex) - 1]);
    if (!picture) return false;
    PictureType = picture->pictureType;
    if (picture->data.empty()) return false;
    // The data's own signature decides the decoder; the declared type is
    // often wrong in files from other programs.
    if (picture->data.size() > static_cast<size_t>(std::numeric_limits<int>::max())) return false;
    AlbumArt = QImage::fromData(picture->data.data(), static_cast<int>(picture->data.size()));
    return !AlbumArt.isNull();
}

bool WriteAlbumArt(const QString& FileName, int FrameIndex, const QImage& AlbumArt, int PictureType,
                   bool bIgnoreReadOnly) {
    const auto jpeg = EncodeJpeg(AlbumArt);
    if (!jpeg) return false;
    const QString path = RealPath(FileName);
    const auto bytes = ReadForRewrite(path, bIgnoreReadOnly);
    if (!bytes) return false;
    const std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(jpeg->constData()),
                                        static_cast<size_t>(jpeg->size()));
    const auto updated = id3::InsertPicture(*bytes, FrameIndex, PictureType, data);
    return updated && ReplaceFile(path, *updated);
}

bool DeleteAlbumArt(const QString& FileName, int FrameIndex, bool bIgnoreReadOnly) {
    const QString path = RealPath(FileName);
    const auto bytes = ReadForRewrite(path, bIgnoreReadOnly);
    if (!bytes) return false;
    const auto updated = id3::DeletePicture(*bytes, FrameIndex);
    return updated && ReplaceFile(path, *updated);
}

}  // namespace lumeval
