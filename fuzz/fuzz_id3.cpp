// libFuzzer target for the ID3v2 walk: the input is the start of an audio
// file. Every picture the walk finds is parsed; a picture is inserted and
// deleted again, and the results are checked against the walk of the input:
// one picture more, the new one readable at its place, and deleting it gives
// the input back (up to how the tag size is spelt).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "media/id3tag.h"

namespace {

using lumeval::id3::Bytes;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_id3: %s\n", what);
    std::abort();
}

size_t PictureCount(Bytes file) {
    const auto walk = lumeval::id3::Walk(file);
    return walk ? walk->pictures.size() : 0;
}

// Equal apart from the header's size field and a footer's copy of it, which
// a rewrite spells synch-safe however the input spelt it.
bool SameApartFromSizes(Bytes a, Bytes b) {
    if (a.size() != b.size()) return false;
    const auto ha = lumeval::id3::ParseTagHeader(a);
    const auto hb = lumeval::id3::ParseTagHeader(b);
    if (!ha || !hb || ha->size != hb->size || ha->version != hb->version) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (i >= 6 && i < 10) continue;
        if (ha->hasFooter && i >= ha->framesEnd + 6 && i < ha->framesEnd + 10) continue;
        if (a[i] != b[i]) return false;
    }
    return true;
}

// Frame by frame, without the padding shortcut: offsets of the picture
// frames the walk must find.
std::vector<uint64_t> SteppedPictures(Bytes file, const lumeval::id3::WalkResult& walk) {
    std::vector<uint64_t> found;
    const uint8_t v = walk.header.version;
    const size_t h = lumeval::id3::FrameHeaderLength(v);
    const uint64_t end = std::min<uint64_t>(walk.header.framesEnd, file.size());
    for (uint64_t pos = walk.firstFrame; pos + h <= end;) {
        const uint8_t* p = file.data() + pos;
        const uint64_t body = v == 2   ? (uint64_t{p[3]} << 16 | uint64_t{p[4]} << 8 | p[5])
                              : v == 3 ? (uint64_t{p[4]} << 24 | uint64_t{p[5]} << 16 | uint64_t{p[6]} << 8 | p[7])
                                       : lumeval::id3::ReadSize4(p + 4);
        if (pos + h + body > end) break;
        if (v == 2 ? std::memcmp(p, "PIC", 3) == 0 : std::memcmp(p, "APIC", 4) == 0) found.push_back(pos);
        pos += h + body;
    }
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Bytes file(data, size);
    const auto walk = lumeval::id3::Walk(file);
    size_t count = 0;
    if (walk) {
        count = walk->pictures.size();
        std::vector<uint64_t> offsets;
        for (const auto& frame : walk->pictures) offsets.push_back(frame.offset);
        if (walk->firstFrame <= size && offsets != SteppedPictures(file, *walk)) Fail("walk differs from stepping");
        for (const auto& frame : walk->pictures) {
            if (frame.End() > size || frame.End() > walk->header.framesEnd) Fail("frame outside the tag");
            (void)lumeval::id3::ParsePicture(file, *walk, frame);
        }
    }

    static const uint8_t kJpeg[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0xFF, 0xD9};
    const int index = size == 0 ? 0 : static_cast<int>(data[size - 1] % 5);
    const int type = 7;
    const auto inserted = lumeval::id3::InsertPicture(file, index, type, Bytes(kJpeg, sizeof kJpeg));
    if (inserted) {
        const bool hadTag = lumeval::id3::StartsWithTag(file);
        const auto again = lumeval::id3::Walk(*inserted);
        if (!again || again->pictures.size() != count + 1) Fail("insert did not add exactly one picture");
        const size_t at = (index >= 1 && static_cast<size_t>(index) <= count) ? static_cast<size_t>(index) : 0;
        const auto pic = lumeval::id3::ParsePicture(*inserted, *again, again->pictures[at]);
        if (!pic || pic->pictureType != type || pic->data.size() != sizeof kJpeg ||
            std::memcmp(pic->data.data(), kJpeg, sizeof kJpeg) != 0)
            Fail("inserted picture does not read back");
        const auto removed = lumeval::id3::DeletePicture(*inserted, static_cast<int>(at) + 1);
        if (!removed) Fail("inserted picture cannot be deleted");
        if (hadTag) {
            if (!SameApartFromSizes(file, *removed)) Fail("insert then delete changed the file");
        } else if (removed->size() != size + 10 || (size > 0 && std::memcmp(removed->data() + 10, data, size) != 0)) {
            Fail("insert then delete changed the untagged file");
        }
    }
    if (count > 0) {
        for (const int k : {1, static_cast<int>(count)}) {
            const auto out = lumeval::id3::DeletePicture(file, k);
            if (out && PictureCount(*out) != count - 1) Fail("delete did not remove exactly one picture");
        }
    }
    return 0;
}
