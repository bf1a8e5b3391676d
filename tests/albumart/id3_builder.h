// Builds ID3v2 tags byte by byte for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumeval::id3test {

using ByteVector = std::vector<uint8_t>;

inline ByteVector Str(const std::string& s) { return ByteVector(s.begin(), s.end()); }

inline void Append(ByteVector& out, const ByteVector& more) { out.insert(out.end(), more.begin(), more.end()); }

inline ByteVector SynchSafe(uint32_t v) {
    return {uint8_t((v >> 21) & 0x7F), uint8_t((v >> 14) & 0x7F), uint8_t((v >> 7) & 0x7F), uint8_t(v & 0x7F)};
}

inline ByteVector Plain(uint32_t v, int n) {
    ByteVector out;
    for (int i = n - 1; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
    return out;
}

/// A frame with the version's header: 3-byte id and size for version 2,
/// 4-byte id, size (plain for 3, synch-safe for 4) and flags otherwise.
inline ByteVector Frame(uint8_t version, const std::string& id, const ByteVector& body, uint16_t flags = 0) {
    ByteVector out = Str(id);
    if (version == 2) {
        Append(out, Plain(uint32_t(body.size()), 3));
    } else {
        Append(out, version == 3 ? Plain(uint32_t(body.size()), 4) : SynchSafe(uint32_t(body.size())));
        out.push_back(uint8_t(flags >> 8));
        out.push_back(uint8_t(flags));
    }
    Append(out, body);
    return out;
}

/// A picture frame body: encoding, MIME (or 3-char format for version 2),
/// type, description with the encoding's terminator, data.
inline ByteVector PictureBody(uint8_t version, uint8_t type, const ByteVector& data, uint8_t encoding = 0,
                              const ByteVector& description = {}, const std::string& mime = "") {
    ByteVector out{encoding};
    if (version == 2) {
        Append(out, Str(mime.empty() ? "JPG" : mime));
    } else {
        Append(out, Str(mime.empty() ? "image/jpeg" : mime));
        out.push_back(0);
    }
    out.push_back(type);
    Append(out, description);
    out.push_back(0);
    if (encoding == 1 || encoding == 2) out.push_back(0);
    Append(out, data);
    return out;
}

inline ByteVector PictureFrame(uint8_t version, uint8_t type, const ByteVector& data) {
    return Frame(version, version == 2 ? "PIC" : "APIC", PictureBody(version, type, data));
}

inline ByteVector TextFrame(uint8_t version, const std::string& text) {
    ByteVector body{0};
    Append(body, Str(text));
    return Frame(version, version == 2 ? "TT2" : "TIT2", body);
}

/// A whole tag around the frames, with padding zero bytes after them.
inline ByteVector Tag(uint8_t version, const ByteVector& frames, size_t padding = 0, uint8_t flags = 0) {
    ByteVector out = Str("ID3");
    out.push_back(version);
    out.push_back(0);
    out.push_back(flags);
    Append(out, SynchSafe(uint32_t(frames.size() + padding)));
    Append(out, frames);
    out.insert(out.end(), padding, 0);
    return out;
}

}  // namespace lumeval::id3test
