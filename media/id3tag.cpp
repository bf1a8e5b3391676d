#include "media/id3tag.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace lumeval::id3 {

namespace {

constexpr uint32_t kMaxSynchSafe = (1u << 28) - 1;
constexpr uint32_t kMaxSize3 = (1u << 24) - 1;

// Frame format flags (the second flag byte).
constexpr uint16_t kV4Grouping = 0x0040;
constexpr uint16_t kV4Compression = 0x0008;
constexpr uint16_t kV4Encryption = 0x0004;
constexpr uint16_t kV4Unsynchronisation = 0x0002;
constexpr uint16_t kV4DataLength = 0x0001;
constexpr uint16_t kV3Compression = 0x0080;
constexpr uint16_t kV3Encryption = 0x0040;
constexpr uint16_t kV3Grouping = 0x0020;

uint32_t ReadPlain(const uint8_t* p, size_t n) {
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

void WritePlain(uint8_t* p, size_t n, uint32_t value) {
    for (size_t i = n; i-- > 0;) {
        p[i] = static_cast<uint8_t>(value & 0xFF);
        value >>= 8;
    }
}

// Offset of the first frame: after the extended header when the flag says
// there is one. Version 3 counts the size field out of the extended header,
// version 4 counts it in. Empty when the extended header is unreadable.
std::optional<uint64_t> FirstFrameOffset(Bytes file, const TagHeader& h) {
    if (h.version < 3 || (h.flags & kFlagExtendedHeader) == 0) return kTagHeaderLength;
    if (file.size() < kTagHeaderLength + 4) return std::nullopt;
    const uint32_t extSize = ReadSize4(file.data() + kTagHeaderLength);
    const uint64_t ext = h.version == 3 ? uint64_t{extSize} + 4 : uint64_t{extSize};
    if (ext < 4) return std::nullopt;
    return kTagHeaderLength + ext;
}

// First offset in [from, to) whose byte is not zero, or to.
uint64_t FirstNonZero(Bytes file, uint64_t from, uint64_t to) {
    uint64_t i = from;
    for (; i + 8 <= to; i += 8) {
        uint64_t word;
        std::memcpy(&word, file.data() + i, 8);
        if (word != 0) break;
    }
    while (i < to && file[i] == 0) ++i;
    return i;
}

bool IsZero(Bytes file, uint64_t from, uint64_t to) { return FirstNonZero(file, from, to) == to; }

// Reverses unsynchronisation: every 0xFF 0x00 becomes 0xFF.
std::vector<uint8_t> Resynchronise(Bytes in) {
    std::vector<uint8_t> out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        out.push_back(in[i]);
        if (in[i] == 0xFF && i + 1 < in.size() && in[i + 1] == 0x00) ++i;
    }
    return out;
}

// Length of a text ended by the encoding's terminator, or empty when the
// terminator is missing. UTF-16 terminators sit on a code-unit boundary.
std::optional<size_t> TextLength(Bytes body, size_t from, uint8_t encoding) {
    if (encoding == 0 || encoding == 3) {
        for (size_t i = from; i < body.size(); ++i)
            if (body[i] == 0) return i - from;
        return std::nullopt;
    }
    for (size_t i = from; i + 1 < body.size(); i += 2)
        if (body[i] == 0 && body[i + 1] == 0) return i - from;
    return std::nullopt;
}

// Rewrites the tag size at offset 6 and, when the tag has a footer that sits
// where the header says, the footer's copy. Returns false when the new size
// does not fit in 28 bits.
bool UpdateTagSize(std::vector<uint8_t>& out, const TagHeader& old, uint64_t newSize) {
    if (newSize > kMaxSynchSafe) return false;
    const auto size32 = static_cast<uint32_t>(newSize);
    WriteSynchSafe(out.data() + 6, size32);
    if (old.hasFooter) {
        const uint64_t footer = kTagHeaderLength + newSize;
        if (footer + kFooterLength <= out.size() && std::memcmp(out.data() + footer, "3DI", 3) == 0)
            WriteSynchSafe(out.data() + footer + 6, size32);
    }
    return true;
}

}  // namespace

uint32_t ReadSize4(const uint8_t* p) {
    if (((p[0] | p[1] | p[2] | p[3]) & 0x80) != 0) return ReadPlain(p, 4);
    return (uint32_t{p[0]} << 21) | (uint32_t{p[1]} << 14) | (uint32_t{p[2]} << 7) | p[3];
}

bool WriteSynchSafe(uint8_t* p, uint32_t value) {
    if (value > kMaxSynchSafe) return false;
    p[0] = static_cast<uint8_t>((value >> 21) & 0x7F);
    p[1] = static_cast<uint8_t>((value >> 14) & 0x7F);
    p[2] = static_cast<uint8_t>((value >> 7) & 0x7F);
    p[3] = static_cast<uint8_t>(value & 0x7F);
    return true;
}

bool StartsWithTag(Bytes file) {
    return file.size() >= 3 && file[0] == 'I' && file[1] == 'D' && file[2] == '3';
}

std::optional<TagHeader> ParseTagHeader(Bytes file) {
    if (!StartsWithTag(file) || file.size() < kTagHeaderLength) return std::nullopt;
    TagHeader h;
    h.version = file[3];
    h.revision = file[4];
    h.flags = file[5];
    h.size = ReadSize4(file.data() + 6);
    h.framesEnd = uint64_t{h.size} + kTagHeaderLength;
    h.hasFooter = h.version > 3 && (h.flags & kFlagFooter) != 0;
    h.length = h.framesEnd + (h.hasFooter ? kFooterLength : 0);
    return h;
}

bool IsWalkableVersion(uint8_t version) { return version >= 2 && version <= 4; }

size_t FrameHeaderLength(uint8_t version) { return version == 2 ? 6 : 10; }

std::optional<WalkResult> Walk(Bytes file) {
    const auto header = ParseTagHeader(file);
    if (!header || !IsWalkableVersion(header->version)) return std::nullopt;
    WalkResult walk;
    walk.header = *header;
    const uint64_t end = std::min<uint64_t>(header->framesEnd, file.size());
    walk.truncated = header->length > file.size();
    const auto first = FirstFrameOffset(file, *header);
    walk.firstFrame = first.value_or(std::numeric_limits<uint64_t>::max());
    if (walk.firstFrame > end) {
        walk.truncated = true;
        return walk;
    }

    const bool v2 = header->version == 2;
    const size_t headerLength = FrameHeaderLength(header->version);
    const char* pictureId = v2 ? "PIC" : "APIC";
    const size_t idLength = v2 ? 3 : 4;
    // The walk goes on while a whole frame header fits. (Asking for more,
    // say a header and a byte or two of body, would make whether a short
    // frame at the buffer's end counts depend on what follows it.)
    uint64_t pos = walk.firstFrame;
    while (pos + headerLength <= end) {
        const uint8_t* p = file.data() + pos;
        FrameLocation frame;
        frame.offset = pos;
        frame.headerLength = headerLength;
        if (v2) {
            frame.bodySize = ReadPlain(p + 3, 3);
        } else {
            frame.bodySize = header->version == 3 ? ReadPlain(p + 4, 4) : ReadSize4(p + 4);
            frame.flags = static_cast<uint16_t>((p[8] << 8) | p[9]);
        }
        if (frame.bodySize == 0 && IsZero(file, pos, pos + headerLength)) {
            // Padding: every step through a run of zero bytes is an empty
            // frame of no interest, so jump to where stepping would land.
            const uint64_t run = FirstNonZero(file, pos, end) - pos;
            pos += run / headerLength * headerLength;
            continue;
        }
        if (frame.End() > end) {
            walk.truncated = true;
            break;
        }
        if (std::memcmp(p, pictureId, idLength) == 0) walk.pictures.push_back(frame);
        pos = frame.End();
    }
    return walk;
}

std::optional<Picture> ParsePicture(Bytes file, const WalkResult& walk, const FrameLocation& frame) {
    if (frame.End() > file.size()) return std::nullopt;
    const uint8_t version = walk.header.version;
    Bytes body = file.subspan(frame.offset + frame.headerLength, frame.bodySize);

    bool unsynchronised = (walk.header.flags & kFlagUnsynchronisation) != 0;
    size_t skip = 0;
    if (version == 4) {
        if (frame.flags & (kV4Compression | kV4Encryption)) return std::nullopt;
        if (frame.flags & kV4Grouping) skip += 1;
        if (frame.flags & kV4DataLength) skip += 4;
        if (frame.flags & kV4Unsynchronisation) unsynchronised = true;
    } else if (version == 3) {
        if (frame.flags & (kV3Compression | kV3Encryption)) return std::nullopt;
        if (frame.flags & kV3Grouping) skip += 1;
    }
    if (skip > body.size()) return std::nullopt;
    body = body.subspan(skip);
    std::vector<uint8_t> resynced;
    if (unsynchronised) {
        resynced = Resynchronise(body);
        body = resynced;
    }

    Picture pic;
    if (body.empty()) return std::nullopt;
    pic.encoding = body[0];
    if (pic.encoding > 3) return std::nullopt;
    size_t pos = 1;
    if (version == 2) {
        if (body.size() < pos + 3) return std::nullopt;
        pic.mimeType.assign(reinterpret_cast<const char*>(body.data() + pos), 3);
        pos += 3;
    } else {
        const auto mimeLength = TextLength(body, pos, 0);
        if (!mimeLength) return std::nullopt;
        pic.mimeType.assign(reinterpret_cast<const char*>(body.data() + pos), *mimeLength);
        pos += *mimeLength + 1;
    }
    if (pos >= body.size()) return std::nullopt;
    pic.pictureType = body[pos++];
    const auto descLength = TextLength(body, pos, pic.encoding);
    if (!descLength) return std::nullopt;
    pic.description.assign(body.begin() + pos, body.begin() + pos + *descLength);
    pos += *descLength + ((pic.encoding == 0 || pic.encoding == 3) ? 1 : 2);
    pic.data.assign(body.begin() + pos, body.end());
    return pic;
}

std::optional<std::vector<uint8_t>> BuildPictureFrame(uint8_t version, int pictureType, Bytes jpeg) {
    const uint8_t type = (pictureType >= 0 && pictureType <= 20) ? static_cast<uint8_t>(pictureType) : 3;
    std::vector<uint8_t> frame;
    if (version == 2) {
        // "PIC", size (3), encoding 0, "JPG", type, empty description.
        const uint64_t body = 1 + 3 + 1 + 1 + uint64_t{jpeg.size()};
        if (body > kMaxSize3) return std::nullopt;
        frame.resize(6 + body);
        std::memcpy(frame.data(), "PIC", 3);
        WritePlain(frame.data() + 3, 3, static_cast<uint32_t>(body));
        frame[6] = 0;
        std::memcpy(frame.data() + 7, "JPG", 3);
        frame[10] = type;
        frame[11] = 0;
        if (!jpeg.empty()) std::memcpy(frame.data() + 12, jpeg.data(), jpeg.size());
        return frame;
    }
    if (!IsWalkableVersion(version)) return std::nullopt;
    static constexpr char kMime[] = "image/jpeg";  // stored with its zero byte
    const uint64_t body = 1 + sizeof(kMime) + 1 + 1 + uint64_t{jpeg.size()};
    const uint64_t limit = version == 3 ? std::numeric_limits<uint32_t>::max() : kMaxSynchSafe;
    if (body > limit) return std::nullopt;
    frame.resize(10 + body);
    std::memcpy(frame.data(), "APIC", 4);
    if (version == 3)
        WritePlain(frame.data() + 4, 4, static_cast<uint32_t>(body));
    else
        WriteSynchSafe(frame.data() + 4, static_cast<uint32_t>(body));
    frame[8] = 0;
    frame[9] = 0;
    size_t pos = 10;
    frame[pos++] = 0;
    std::memcpy(frame.data() + pos, kMime, sizeof(kMime));
    pos += sizeof(kMime);
    frame[pos++] = type;
    frame[pos++] = 0;
    if (!jpeg.empty()) std::memcpy(frame.data() + pos, jpeg.data(), jpeg.size());
    return frame;
}

std::optional<std::vector<uint8_t>> InsertPicture(Bytes file, int frameIndex, int pictureType,
                                                  Bytes jpeg) {
    if (!StartsWithTag(file)) {
        // No tag: a version-3 header of size 0 goes in front of the content,
        // then the frame is inserted into it as into any empty tag.
        std::vector<uint8_t> tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0};
        tagged.insert(tagged.end(), file.begin(), file.end());
        return InsertPicture(tagged, frameIndex, pictureType, jpeg);
    }
    const auto walk = Walk(file);
    if (!walk) return std::nullopt;
    const TagHeader& h = walk->header;
    // A frame written plainly into an unsynchronised tag would be mangled by
    // every reader that resynchronises it; version 2 compression has no
    // defined scheme. Refuse rather than damage the picture.
    if ((h.flags & kFlagUnsynchronisation) != 0) return std::nullopt;
    if (h.version == 2 && (h.flags & kFlagCompressionV2) != 0) return std::nullopt;

    uint64_t at = walk->firstFrame;
    if (frameIndex >= 1 && static_cast<size_t>(frameIndex) <= walk->pictures.size())
        at = walk->pictures[static_cast<size_t>(frameIndex) - 1].End();
    if (at > file.size() || at > h.framesEnd) return std::nullopt;

    const auto frame = BuildPictureFrame(h.version, pictureType, jpeg);
    if (!frame) return std::nullopt;

    std::vector<uint8_t> out;
    out.reserve(file.size() + frame->size());
    out.insert(out.end(), file.begin(), file.begin() + static_cast<std::ptrdiff_t>(at));
    out.insert(out.end(), frame->begin(), frame->end());
    out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(at), file.end());
    if (!UpdateTagSize(out, h, uint64_t{h.size} + frame->size())) return std::nullopt;
    return out;
}

std::optional<std::vector<uint8_t>> DeletePicture(Bytes file, int frameIndex) {
    const auto walk = Walk(file);
    if (!walk || frameIndex < 1 || static_cast<size_t>(frameIndex) > walk->pictures.size())
        return std::nullopt;
    const FrameLocation& frame = walk->pictures[static_cast<size_t>(frameIndex) - 1];
    const uint64_t length = frame.End() - frame.offset;
    const TagHeader& h = walk->header;
    // The walk keeps every frame inside the tag's frame area, so the size
    // cannot go below zero.
    if (length > h.size) return std::nullopt;

    std::vector<uint8_t> out;
    out.reserve(file.size() - length);
    out.insert(out.end(), file.begin(), file.begin() + static_cast<std::ptrdiff_t>(frame.offset));
    out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(frame.End()), file.end());
    if (!UpdateTagSize(out, h, uint64_t{h.size} - length)) return std::nullopt;
    return out;
}

}  // namespace lumeval::id3
