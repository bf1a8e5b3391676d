// Album art in audio files tagged with ID3v2: count, read, write and delete
// the picture frames. The playback class exposes these as its members; they
// are free functions here so they carry no playback state.
//
// Paths are QStrings (UTF-8 on disk); pictures go in and out as QImage.
// Pictures are stored as JPEG data, so the frame's "image/jpeg" ("JPG" in
// version-2 tags) is true. Writing replaces the file only once its new
// content is complete on disk; a failed write leaves the file as it was.
#pragma once

#include <QImage>
#include <QString>

namespace lumeval {

/// True when the file can be opened for reading and begins with an ID3v2
/// tag header.
bool ID3Exist(const QString& FileName);

/// Number of picture frames in the file's tag; 0 without a tag or when the
/// file cannot be opened.
int GetAlbumArtCount(const QString& FileName);

/// Loads the FrameIndex-th picture frame (from 1) into AlbumArt, which is
/// emptied first; PictureType receives the frame's picture-type byte (0 to
/// 20, 3 is the front cover) when the frame is found. True when a picture
/// was decoded.
bool ReadAlbumArt(const QString& FileName, int FrameIndex, QImage& AlbumArt, int& PictureType);

/// Stores AlbumArt as a new picture frame after the FrameIndex-th existing
/// one, or as the first when there is none; existing pictures are never
/// replaced. A file without a tag gets one. A PictureType outside 0..20 is
/// stored as 3. With bIgnoreReadOnly a read-only file is made writable first;
/// without it a read-only file gives False.
bool WriteAlbumArt(const QString& FileName, int FrameIndex, const QImage& AlbumArt, int PictureType,
                   bool bIgnoreReadOnly = false);

/// Removes the FrameIndex-th picture frame (from 1). False, with the file
/// unchanged, when there is no such frame or the file cannot be rewritten.
bool DeleteAlbumArt(const QString& FileName, int FrameIndex, bool bIgnoreReadOnly = false);

}  // namespace lumeval
