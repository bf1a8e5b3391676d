// The tag walk over bytes: header sizes, frame rules per version, picture
// bodies, damaged tags, and the insert and delete builders.
#include <gtest/gtest.h>

#include "media/id3tag.h"
#include "tests/albumart/id3_builder.h"

namespace lumeval::id3 {
namespace {

using namespace lumeval::id3test;

TEST(Id3Header, SizeAndLength) {
    struct Case {
        uint8_t version, flags;
        ByteVector size;
        uint32_t expectedSize;
        uint64_t expectedLength;
    };
    const Case cases[] = {
        {3, 0x00, {0x00, 0x00, 0x02, 0x01}, 257, 267},
        {3, 0x00, {0x00, 0x00, 0x01, 0x7F}, 255, 265},
        {3, 0x00, {0x00, 0x00, 0x01, 0x80}, 384, 394},     // top bit set: plain
        {4, 0x10, {0x00, 0x00, 0x02, 0x01}, 257, 277},     // footer adds 10
        {3, 0x10, {0x00, 0x00, 0x02, 0x01}, 257, 267},     // no footer before 4
        {4, 0x00, {0x7F, 0x7F, 0x7F, 0x7F}, 0x0FFFFFFF, 0x0FFFFFFFull + 10},
        {4, 0x10, {0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF, 0xFFFFFFFFull + 20},
    };
    for (const Case& c : cases) {
        ByteVector file = {'I', 'D', '3', c.version, 7, c.flags};
        Append(file, c.size);
        const auto h = ParseTagHeader(file);
        ASSERT_TRUE(h.has_value());
        EXPECT_EQ(c.version, h->version);
        EXPECT_EQ(7, h->revision);
        EXPECT_EQ(c.expectedSize, h->size);
        EXPECT_EQ(c.expectedLength, h->length);
        EXPECT_EQ(uint64_t{c.expectedSize} + 10, h->framesEnd);
    }
}

TEST(Id3Header, NotATag) {
    EXPECT_FALSE(ParseTagHeader(Str("ID3\x03")).has_value());        // shorter than a header
    EXPECT_FALSE(ParseTagHeader(ByteVector{'T', 'A', 'G', 3, 0, 0, 0, 0, 0, 0}).has_value());
    EXPECT_FALSE(ParseTagHeader(ByteVector{}).has_value());
    EXPECT_TRUE(StartsWithTag(Str("ID3")));
    // Only versions 2 to 4 have a known frame layout.
    EXPECT_FALSE(Walk(Tag(5, PictureFrame(3, 3, {1, 2, 3}))).has_value());
    EXPECT_FALSE(Walk(Tag(1, {})).has_value());
}

TEST(Id3Walk, CountsPictureFramesOfEachVersion) {
    const ByteVector bigData(300, 0xAB);  // a size above 127 tells synch-safe from plain
    for (uint8_t v : {2, 3, 4}) {
        ByteVector frames = TextFrame(v, "title");
        Append(frames, PictureFrame(v, 3, bigData));
        Append(frames, TextFrame(v, "other"));
        Append(frames, PictureFrame(v, 4, {1, 2, 3}));
        const ByteVector file = Tag(v, frames, 64);
        const auto walk = Walk(file);
        ASSERT_TRUE(walk.has_value()) << int(v);
        ASSERT_EQ(2u, walk->pictures.size()) << int(v);
        EXPECT_FALSE(walk->truncated);
        EXPECT_EQ(v == 2 ? 6u : 10u, walk->pictures[0].headerLength);
        const auto first = ParsePicture(file, *walk, walk->pictures[0]);
        ASSERT_TRUE(first.has_value());
        EXPECT_EQ(3, first->pictureType);
        EXPECT_EQ(bigData, first->data);
        EXPECT_EQ(v == 2 ? "JPG" : "image/jpeg", first->mimeType);
        const auto second = ParsePicture(file, *walk, walk->pictures[1]);
        ASSERT_TRUE(second.has_value());
        EXPECT_EQ(4, second->pictureType);
        EXPECT_EQ((ByteVector{1, 2, 3}), second->data);
    }
}

TEST(Id3Walk, OtherVersionsIdsAreNotPictures) {
    // "APIC" in a version-2 tag and "PIC " in a version-3 tag are other frames.
    ByteVector v2frames = Frame(2, "PIX", PictureBody(2, 3, {1}));
    EXPECT_EQ(0u, Walk(Tag(2, v2frames))->pictures.size());
    EXPECT_EQ(0u, Walk(Tag(3, Frame(3, "PIC ", PictureBody(3, 3, {1}))))->pictures.size());
}

TEST(Id3Walk, PaddingIsWalkedAsEmptyFrames) {
    // Padding reads as frames of size 0, so a frame after it is still found.
    ByteVector frames = PictureFrame(3, 3, {9});
    frames.insert(frames.end(), 40, 0);
    Append(frames, PictureFrame(3, 5, {8}));
    const auto walk = Walk(Tag(3, frames, 1000));
    ASSERT_TRUE(walk.has_value());
    EXPECT_EQ(2u, walk->pictures.size());
    EXPECT_FALSE(walk->truncated);

    // Stepping ten bytes at a time through 45 zero bytes lands five bytes
    // short of the next frame and reads "\0API" as its size: the walk stops
    // there rather than finding the frame.
    ByteVector offGrid = PictureFrame(3, 3, {9});
    offGrid.insert(offGrid.end(), 45, 0);
    Append(offGrid, PictureFrame(3, 5, {8}));
    const auto stepped = Walk(Tag(3, offGrid, 100));
    EXPECT_EQ(1u, stepped->pictures.size());
    EXPECT_TRUE(stepped->truncated);
    // Version 2 steps six bytes: 42 zero bytes are seven empty frames.
    ByteVector v2 = PictureFrame(2, 3, {9});
    v2.insert(v2.end(), 42, 0);
    Append(v2, PictureFrame(2, 5, {8}));
    EXPECT_EQ(2u, Walk(Tag(2, v2, 7))->pictures.size());
}

TEST(Id3Walk, Version4PlainFrameSizeFallback) {
    // A version-4 frame size with a top bit set is read plainly (0x80 = 128).
    ByteVector body = PictureBody(4, 3, ByteVector(128 - 14, 0x11));
    ASSERT_EQ(128u, body.size());
    ByteVector frame = Str("APIC");
    Append(frame, {0x00, 0x00, 0x00, 0x80, 0x00, 0x00});
    Append(frame, body);
    Append(frame, PictureFrame(4, 6, {7}));
    const ByteVector file = Tag(4, frame);
    const auto walk = Walk(file);
    ASSERT_EQ(2u, walk->pictures.size());
    EXPECT_EQ(128u, walk->pictures[0].bodySize);
    EXPECT_EQ(6, ParsePicture(file, *walk, walk->pictures[1])->pictureType);
}

TEST(Id3Walk, ExtendedHeaderIsSkipped) {
    // Version 3 counts the extended header's size field out, version 4 in.
    ByteVector ext3 = {0, 0, 0, 6, 0, 0, 0, 0, 0, 0};
    ByteVector ext4 = {0, 0, 0, 6, 1, 0};
    for (auto [v, ext] : {std::pair<uint8_t, ByteVector>{3, ext3}, {4, ext4}}) {
        ByteVector frames = ext;
        Append(frames, PictureFrame(v, 3, {1, 2}));
        const ByteVector file = Tag(v, frames, 0, kFlagExtendedHeader);
        const auto walk = Walk(file);
        ASSERT_TRUE(walk.has_value());
        EXPECT_EQ(10 + ext.size(), walk->firstFrame);
        ASSERT_EQ(1u, walk->pictures.size()) << int(v);
        // A new first picture goes after the extended header, not into it.
        const auto out = InsertPicture(file, 0, 4, ByteVector{5, 6});
        ASSERT_TRUE(out.has_value());
        EXPECT_TRUE(std::equal(ext.begin(), ext.end(), out->begin() + 10));
        const auto again = Walk(*out);
        ASSERT_EQ(2u, again->pictures.size());
        EXPECT_EQ(4, ParsePicture(*out, *again, again->pictures[0])->pictureType);
    }
}

// Damaged tags: the walk stops on what runs out of bounds and keeps what it
// read in full before.
TEST(Id3Walk, OutOfBounds) {
    const ByteVector good = PictureFrame(3, 3, {1, 2, 3});
    struct Case {
        const char* name;
        ByteVector file;
        size_t expected;
    };
    std::vector<Case> cases;
    {   // frame size past the tag's end, the file going on after the tag
        ByteVector frames = good;
        Append(frames, Frame(3, "APIC", PictureBody(3, 3, ByteVector(50, 1))));
        ByteVector file = Tag(3, ByteVector(frames.begin(), frames.end() - 30));
        Append(file, ByteVector(100, 0xFF));
        cases.push_back({"frame past tag end", file, 1});
    }
    {   // tag size past the file's end, the second picture cut short
        ByteVector frames = good;
        Append(frames, good);
        ByteVector file = Tag(3, frames, 5000);
        file.resize(10 + good.size() + 8);
        cases.push_back({"tag past file end", file, 1});
    }
    {   // frame size field at its largest
        ByteVector frames = good;
        Append(frames, Str("APIC"));
        Append(frames, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0});
        Append(frames, good);
        cases.push_back({"size field overflow v3", Tag(3, frames), 1});
        ByteVector v4 = PictureFrame(4, 3, {1});
        Append(v4, Str("APIC"));
        Append(v4, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0});
        Append(v4, ByteVector(20, 0));
        cases.push_back({"size field overflow v4", Tag(4, v4), 1});
    }
    {   // header size at its largest over a short file
        ByteVector file = {'I', 'D', '3', 4, 0, 0x10, 0xFF, 0xFF, 0xFF, 0xFF};
        Append(file, PictureFrame(4, 3, {1, 2}));
        cases.push_back({"header size overflow", file, 1});
    }
    {   // version 2 size runs past everything
        ByteVector frames = PictureFrame(2, 3, {1});
        Append(frames, {'P', 'I', 'C', 0xFF, 0xFF, 0xFF, 0, 0, 0});
        cases.push_back({"v2 frame past end", Tag(2, frames), 1});
    }
    {   // extended header larger than the tag
        ByteVector frames = {0x7F, 0x7F, 0x7F, 0x7F, 0, 0};
        Append(frames, good);
        cases.push_back({"extended header past end", Tag(3, frames, 0, kFlagExtendedHeader), 0});
        cases.push_back({"extended header cut", ByteVector{'I', 'D', '3', 4, 0, 0x40, 0, 0, 0, 2, 0, 0}, 0});
    }
    for (const Case& c : cases) {
        const auto walk = Walk(c.file);
        ASSERT_TRUE(walk.has_value()) << c.name;
        EXPECT_EQ(c.expected, walk->pictures.size()) << c.name;
        EXPECT_TRUE(walk->truncated) << c.name;
        for (const auto& frame : walk->pictures) {
            EXPECT_LE(frame.End(), c.file.size()) << c.name;
            EXPECT_TRUE(ParsePicture(c.file, *walk, frame).has_value()) << c.name;
        }
    }
}

TEST(Id3Picture, Bodies) {
    struct Case {
        const char* name;
        uint8_t version;
        uint16_t flags;
        ByteVector body;
        bool ok;
        ByteVector data;
        ByteVector description;
    };
    // UTF-16 little-endian "A" then its terminator: 41 00 | 00 00. A search for
    // two zero bytes off the code-unit grid would stop one byte early.
    ByteVector utf16 = {1, 'i', 'm', 'a', 'g', 'e', '/', 'p', 'n', 'g', 0, 3, 0xFF, 0xFE, 'A', 0, 0, 0, 9, 8};
    ByteVector dli = SynchSafe(5);
    Append(dli, PictureBody(4, 3, {0xFF, 0x00, 0xE0}));
    ByteVector grouped = {0x42};
    Append(grouped, PictureBody(3, 3, {7}));
    const Case cases[] = {
        {"utf-16 description", 3, 0, utf16, true, {9, 8}, {0xFF, 0xFE, 'A', 0}},
        {"utf-16be description", 3, 0, PictureBody(3, 3, {5}, 2, {0, 'A'}), true, {5}, {0, 'A'}},
        {"utf-8 description", 4, 0, PictureBody(4, 3, {5}, 3, Str("ab")), true, {5}, Str("ab")},
        {"v2 format", 2, 0, PictureBody(2, 3, {1, 2}, 0, {}, "PNG"), true, {1, 2}, {}},
        {"data-length indicator and unsync", 4, 0x0003, dli, true, {0xFF, 0xE0}, {}},
        {"v3 grouping byte", 3, 0x0020, grouped, true, {7}, {}},
        {"v4 compressed", 4, 0x0008, PictureBody(4, 3, {1}), false, {}, {}},
        {"v4 encrypted", 4, 0x0004, PictureBody(4, 3, {1}), false, {}, {}},
        {"v3 compressed", 3, 0x0080, PictureBody(3, 3, {1}), false, {}, {}},
        {"unknown encoding", 3, 0, PictureBody(3, 3, {1}, 7), false, {}, {}},
        {"no MIME terminator", 3, 0, ByteVector{0, 'i', 'm', 'g'}, false, {}, {}},
        {"no description terminator", 3, 0, ByteVector{0, 'x', 0, 3, 'a', 'b'}, false, {}, {}},
        {"v2 too short", 2, 0, ByteVector{0, 'J', 'P'}, false, {}, {}},
        {"data-length indicator cut", 4, 0x0001, ByteVector{0, 0}, false, {}, {}},
        {"empty data", 3, 0, PictureBody(3, 3, {}), true, {}, {}},
    };
    for (const Case& c : cases) {
        ByteVector frames = Frame(c.version, c.version == 2 ? "PIC" : "APIC", c.body, c.flags);
        const ByteVector file = Tag(c.version, frames, 10);
        const auto walk = Walk(file);
        ASSERT_EQ(1u, walk->pictures.size()) << c.name;
        const auto pic = ParsePicture(file, *walk, walk->pictures[0]);
        ASSERT_EQ(c.ok, pic.has_value()) << c.name;
        if (!pic) continue;
        EXPECT_EQ(c.data, pic->data) << c.name;
        EXPECT_EQ(c.description, pic->description) << c.name;
    }
}

TEST(Id3Picture, WholeTagUnsynchronisationInVersion3) {
    const ByteVector file = Tag(3, PictureFrame(3, 3, {0xFF, 0x00, 0xFB, 1}), 0, kFlagUnsynchronisation);
    const auto walk = Walk(file);
    EXPECT_EQ((ByteVector{0xFF, 0xFB, 1}), ParsePicture(file, *walk, walk->pictures[0])->data);
}

// Picture types of the frames in tag order.
std::vector<int> Types(const ByteVector& file) {
    std::vector<int> types;
    const auto walk = Walk(file);
    if (!walk) return types;
    for (const auto& f : walk->pictures) {
        const auto pic = ParsePicture(file, *walk, f);
        types.push_back(pic ? pic->pictureType : -1);
    }
    return types;
}

TEST(Id3Insert, PositionAfterTheIndexedPicture) {
    for (uint8_t v : {2, 3, 4}) {
        ByteVector frames = TextFrame(v, "t");
        Append(frames, PictureFrame(v, 1, {1}));
        Append(frames, TextFrame(v, "u"));
        Append(frames, PictureFrame(v, 2, {2}));
        const ByteVector file = Tag(v, frames, 30);
        const struct {
            int index;
            std::vector<int> types;
        } cases[] = {{0, {9, 1, 2}}, {1, {1, 9, 2}}, {2, {1, 2, 9}}, {3, {9, 1, 2}}, {-4, {9, 1, 2}}};
        for (const auto& c : cases) {
            const ByteVector jpeg = {0xFF, 0xD8, 0xFF, 0xD9};
            const auto out = InsertPicture(file, c.index, 9, jpeg);
            ASSERT_TRUE(out.has_value());
            EXPECT_EQ(c.types, Types(*out)) << int(v) << " index " << c.index;
            const auto frame = BuildPictureFrame(v, 9, jpeg);
            ASSERT_EQ(file.size() + frame->size(), out->size());
            // The tag size grows by the frame, synch-safe.
            EXPECT_EQ(SynchSafe(uint32_t(frames.size() + 30 + frame->size())),
                      ByteVector(out->begin() + 6, out->begin() + 10));
            // Deleting the inserted picture gives the original bytes back.
            const int inserted = (c.index >= 1 && c.index <= 2) ? c.index + 1 : 1;
            EXPECT_EQ(file, DeletePicture(*out, inserted).value());
        }
    }
}

TEST(Id3Insert, FrameLayout) {
    const ByteVector jpeg(200, 0x5A);
    const auto v2 = BuildPictureFrame(2, 3, jpeg).value();
    ByteVector expected2 = Str("PIC");
    Append(expected2, Plain(206, 3));
    Append(expected2, {0, 'J', 'P', 'G', 3, 0});
    Append(expected2, jpeg);
    EXPECT_EQ(expected2, v2);

    ByteVector expected3 = Str("APIC");
    Append(expected3, Plain(214, 4));
    Append(expected3, {0, 0, 0});
    Append(expected3, Str("image/jpeg"));
    Append(expected3, {0, 3, 0});
    Append(expected3, jpeg);
    EXPECT_EQ(expected3, BuildPictureFrame(3, 3, jpeg).value());

    ByteVector expected4 = expected3;
    const ByteVector size4 = SynchSafe(214);
    std::copy(size4.begin(), size4.end(), expected4.begin() + 4);
    EXPECT_EQ(expected4, BuildPictureFrame(4, 3, jpeg).value());

    // Types outside 0..20 are stored as the front cover.
    for (int type : {-1, 21, 255, 1000}) EXPECT_EQ(3, BuildPictureFrame(3, type, jpeg).value()[22]);
    EXPECT_EQ(20, BuildPictureFrame(3, 20, jpeg).value()[22]);
    // Version 2 sizes have three bytes.
    EXPECT_FALSE(BuildPictureFrame(2, 3, ByteVector((1u << 24), 0)).has_value());
}

TEST(Id3Insert, FileWithoutTagGetsVersion3Header) {
    const ByteVector audio = {0xFF, 0xFB, 0x90, 0x64, 1, 2, 3};
    const ByteVector jpeg = {0xFF, 0xD8, 0xFF, 0xD9};
    const auto out = InsertPicture(audio, 1, 3, jpeg).value();
    const auto frame = BuildPictureFrame(3, 3, jpeg).value();
    ByteVector expected = {'I', 'D', '3', 3, 0, 0};
    Append(expected, SynchSafe(uint32_t(frame.size())));
    Append(expected, frame);
    Append(expected, audio);
    EXPECT_EQ(expected, out);
    // Deleting it leaves an empty tag in front of the audio.
    const auto emptied = DeletePicture(out, 1).value();
    EXPECT_EQ((ByteVector{'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0}), ByteVector(emptied.begin(), emptied.begin() + 10));
    EXPECT_EQ(audio, ByteVector(emptied.begin() + 10, emptied.end()));
}

TEST(Id3Insert, FooterSizeFollowsHeader) {
    ByteVector file = Tag(4, PictureFrame(4, 3, {1}), 0, kFlagFooter);
    ByteVector footer = file;
    footer[0] = '3';
    footer[1] = 'D';
    footer[2] = 'I';
    footer.resize(10);
    Append(file, footer);
    Append(file, {0xFF, 0xFB});  // audio
    const auto out = InsertPicture(file, 1, 4, ByteVector{2}).value();
    const auto walk = Walk(out).value();
    ASSERT_EQ(2u, walk.pictures.size());
    const size_t footerAt = walk.header.framesEnd;
    ASSERT_EQ('3', out[footerAt]);
    EXPECT_EQ(ByteVector(out.begin() + 6, out.begin() + 10), ByteVector(out.begin() + footerAt + 6, out.begin() + footerAt + 10));
    EXPECT_EQ(file, DeletePicture(out, 2).value());
}

TEST(Id3Insert, RefusesTagsItCannotExtendSafely) {
    const ByteVector jpeg = {1};
    EXPECT_FALSE(InsertPicture(Tag(3, PictureFrame(3, 3, {1}), 0, kFlagUnsynchronisation), 0, 3, jpeg));
    EXPECT_FALSE(InsertPicture(Tag(2, {}, 0, kFlagCompressionV2), 0, 3, jpeg));
    EXPECT_FALSE(InsertPicture(Tag(5, {}), 0, 3, jpeg));
    EXPECT_FALSE(InsertPicture(ByteVector{'I', 'D', '3', 3, 0}, 0, 3, jpeg));  // damaged header
    // A size near the synch-safe limit cannot grow.
    ByteVector big = {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
    EXPECT_FALSE(InsertPicture(big, 0, 3, jpeg));
}

TEST(Id3Delete, RemovesOnlyTheIndexedPicture) {
    ByteVector frames = PictureFrame(3, 1, {1});
    Append(frames, TextFrame(3, "x"));
    Append(frames, PictureFrame(3, 2, {2}));
    const ByteVector file = Tag(3, frames, 20);
    EXPECT_EQ((std::vector<int>{2}), Types(DeletePicture(file, 1).value()));
    EXPECT_EQ((std::vector<int>{1}), Types(DeletePicture(file, 2).value()));
    const auto out = DeletePicture(file, 1).value();
    EXPECT_EQ(file.size() - PictureFrame(3, 1, {1}).size(), out.size());
    EXPECT_EQ(SynchSafe(uint32_t(frames.size() + 20 - PictureFrame(3, 1, {1}).size())),
              ByteVector(out.begin() + 6, out.begin() + 10));
    for (int index : {0, 3, -1}) EXPECT_FALSE(DeletePicture(file, index).has_value()) << index;
    EXPECT_FALSE(DeletePicture(ByteVector{0xFF, 0xFB}, 1).has_value());
}

// Found by the fuzzer: a zero-size "APIC" just before the last frame, in a
// tag that claims more than the buffer holds. Deleting the last picture must
// not make the walk lose the one before it.
TEST(Id3Delete, ShortFrameBeforeTheDeletedOneStaysCounted) {
    ByteVector file = Str("ID3");
    Append(file, {3, 0, 0, 0, 0, 0x80, 0x7B});  // plain size 0x807B, past the buffer
    Append(file, Frame(3, "TIT2", {0, 't'}));
    Append(file, Frame(3, "APIC", PictureBody(3, 3, {0xFF, 0xD8})));
    Append(file, Frame(3, "APIC", {}));
    Append(file, Frame(3, "APIC", PictureBody(3, 3, ByteVector(14, 0x55))));
    file.push_back(0x55);
    const auto walk = Walk(file);
    ASSERT_EQ(3u, walk->pictures.size());
    EXPECT_TRUE(walk->truncated);
    for (int k = 1; k <= 3; ++k) {
        const auto out = DeletePicture(file, k);
        ASSERT_TRUE(out.has_value()) << k;
        EXPECT_EQ(2u, Walk(*out)->pictures.size()) << k;
    }
}

}  // namespace
}  // namespace lumeval::id3
