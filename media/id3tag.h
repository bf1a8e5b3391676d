// The ID3v2 tag walk over a byte buffer: the tag header, the frame walk that
// finds the picture frames ("PIC" in version 2, "APIC" in 3 and 4), the body
// of a picture frame, and pure builders that insert or delete one picture.
//
// Everything here works on memory and has no Qt, so tests and the fuzzer
// build tags byte by byte. The buffer is the file from offset 0; it may be
// shorter than the tag claims (only the first bytes of a file were read, or
// the tag is damaged), in which case the walk stops at the buffer's end and
// counts what it could read in full. No function reads past the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumeval::id3 {

using Bytes = std::span<const uint8_t>;

inline constexpr size_t kTagHeaderLength = 10;
inline constexpr size_t kFooterLength = 10;

/// Header flag bits (byte 5).
inline constexpr uint8_t kFlagUnsynchronisation = 0x80;
inline constexpr uint8_t kFlagExtendedHeader = 0x40;  // versions 3 and 4
inline constexpr uint8_t kFlagCompressionV2 = 0x40;   // version 2: no known scheme
inline constexpr uint8_t kFlagFooter = 0x10;          // version 4

/// Reads a 4-byte size as synch-safe (7 bits a byte, most significant first),
/// or as plain big-endian when any byte has its top bit set: such a size
/// cannot be synch-safe, and writers that got it wrong wrote it plainly.
uint32_t ReadSize4(const uint8_t* p);

/// Writes a synch-safe 4-byte size; false when value does not fit in 28 bits.
bool WriteSynchSafe(uint8_t* p, uint32_t value);

struct TagHeader {
    uint8_t version = 0;   ///< major version byte (2, 3 or 4 are walked)
    uint8_t revision = 0;
    uint8_t flags = 0;
    uint32_t size = 0;     ///< the header's size field, see ReadSize4
    /// Whole tag in bytes: size + 10, plus 10 for a version-4 footer.
    uint64_t length = 0;
    /// End of the frame area (size + 10): the footer is not a frame.
    uint64_t framesEnd = 0;
    bool hasFooter = false;
};

/// True when the buffer begins with "ID3".
bool StartsWithTag(Bytes file);

/// Parses the 10-byte header at offset 0; empty when the buffer does not
/// start with "ID3" or is shorter than a header.
std::optional<TagHeader> ParseTagHeader(Bytes file);

/// True for the versions whose frame layout is known (2, 3, 4).
bool IsWalkableVersion(uint8_t version);

/// Frame header length for a version: 6 for version 2, 10 otherwise.
size_t FrameHeaderLength(uint8_t version);

/// One frame found by the walk. Offsets count from the start of the file.
struct FrameLocation {
    uint64_t offset = 0;        ///< first byte of the frame header
    size_t headerLength = 0;    ///< 6 or 10
    uint32_t bodySize = 0;      ///< the frame's size field
    uint16_t flags = 0;         ///< the two flag bytes (versions 3, 4), else 0

    uint64_t End() const { return offset + headerLength + bodySize; }
};

struct WalkResult {
    TagHeader header;
    /// Offset of the first frame: 10, or after the extended header; beyond
    /// the tag when the extended header is damaged.
    uint64_t firstFrame = kTagHeaderLength;
    /// Every picture frame, in tag order.
    std::vector<FrameLocation> pictures;
    /// True when the walk stopped on a frame that ran past the tag or the
    /// buffer, or the tag itself runs past the buffer: the tag is damaged
    /// or was not read in full.
    bool truncated = false;
};

/// Walks the frames of the tag at the start of the buffer. Empty when the
/// buffer has no parseable header or the version is not 2, 3 or 4.
///
/// The walk starts at the first frame and steps by header plus size; padding
/// reads as frames of size 0 and is walked ten (or six) bytes at a time. It
/// stops when fewer bytes than a frame header remain, and on a frame whose
/// size runs past the end of the tag or the buffer.
std::optional<WalkResult> Walk(Bytes file);

/// The body of one picture frame.
struct Picture {
    uint8_t encoding = 0;
    /// The MIME type (versions 3, 4) or the 3-character format (version 2).
    std::string mimeType;
    uint8_t pictureType = 0;
    std::vector<uint8_t> description;  ///< raw, without its terminator
    std::vector<uint8_t> data;         ///< the picture file's bytes
};

/// Parses the picture frame at frame (as found by Walk in this buffer).
/// Empty when the body is malformed (unknown text encoding, a missing
/// terminator) or uses a frame feature that cannot be read here
/// (compression, encryption). Frame unsynchronisation and the data-length
/// indicator of version 4 are honoured; so is a version-3 tag whose whole
/// tag is unsynchronised.
std::optional<Picture> ParsePicture(Bytes file, const WalkResult& walk, const FrameLocation& frame);

/// Builds a complete picture frame for the version: "PIC" with format "JPG"
/// for version 2, "APIC" with "image/jpeg" otherwise; encoding 0, empty
/// description. A picture type outside 0..20 is stored as 3 (front cover).
/// Empty when the data is too large for the version's size field.
std::optional<std::vector<uint8_t>> BuildPictureFrame(uint8_t version, int pictureType, Bytes jpeg);

/// The file with a new picture frame inserted after the frameIndex-th
/// picture (from 1), or at the first frame position when there is no such
/// picture. A file without a tag gets a version-3 header first. The tag size
/// (and a version-4 footer's copy of it) grows by the frame's length,
/// written synch-safe. Empty when the tag cannot take a frame safely: an
/// unknown version, an unsynchronised or (version 2) compressed tag, a tag
/// too large for a synch-safe size, or a damaged header.
std::optional<std::vector<uint8_t>> InsertPicture(Bytes file, int frameIndex, int pictureType,
                                                  Bytes jpeg);

/// The file without its frameIndex-th picture frame (from 1); the tag size
/// (and the footer's) shrinks by the frame's length. Empty when there is no
/// such picture.
std::optional<std::vector<uint8_t>> DeletePicture(Bytes file, int frameIndex);

}  // namespace lumeval::id3
