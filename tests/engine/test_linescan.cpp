// The block scans of the line pass: every one gives what a byte at a time gives.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>

#include "engine/linescan.h"

namespace lumeval {
namespace {

void ExpectSame(const BlockMasks& want, const BlockMasks& got) {
    EXPECT_EQ(want.nl, got.nl);
    EXPECT_EQ(want.cr, got.cr);
    EXPECT_EQ(want.lt, got.lt);
    EXPECT_EQ(want.gt, got.gt);
    EXPECT_EQ(want.pp, got.pp);
    EXPECT_EQ(want.high, got.high);
    EXPECT_EQ(want.ctl, got.ctl);
}

// Bytes near every edge the scans tell apart, and any byte now and then.
TEST(LineScan, EveryScanAgreesWithTheByteScan) {
    const std::array<unsigned char, 22> edges = {'\n', '\r', '<', '>', 'P', '\t', 0x00, 0x1F, 0x20, 0x7E,
                                                 0x7F, 0x80, 0x9F, 0xA0, 0xC2, 0xC1, 0xC3, 0xFF, 'a', 0x08,
                                                 0x0B, ' '};
    std::mt19937 random(20261210);
    const bool wide = WideScanAvailable();
    if (!wide) std::printf("no AVX-512 here: the wide scan is not checked\n");
    for (int round = 0; round < 20000; ++round) {
        std::array<unsigned char, 64> block{};
        for (unsigned char& b : block) {
            b = random() % 4 == 0 ? static_cast<unsigned char>(random() % 256) : edges[random() % edges.size()];
        }
        // A lead byte at the very end, and one before a C1 second byte.
        if (round % 7 == 0) block[63] = 0xC2;
        const BlockMasks want = ScanBlockBytes(block.data());
        SCOPED_TRACE(round);
        ExpectSame(want, ScanBlockNarrow(block.data()));
        if (wide) ExpectSame(want, ScanBlockWide(block.data()));
        if (HasFailure()) break;
    }
}

TEST(LineScan, MarksWhatEachKindMeans) {
    std::array<unsigned char, 64> block{};
    block.fill('x');
    block[0] = '\n';
    block[5] = '\t';      // text
    block[6] = 0x1B;      // a control
    block[10] = 0xC2;     // a C1 control: NEL
    block[11] = 0x85;
    block[20] = 0xC2;     // "\u00A0": text
    block[21] = 0xA0;
    block[30] = 0x7F;
    block[63] = 0xC2;     // its second byte is in the next block
    const BlockMasks m = ScanBlockBytes(block.data());
    EXPECT_EQ((uint64_t{1} << 0) | (uint64_t{1} << 6) | (uint64_t{1} << 10) | (uint64_t{1} << 30) |
                  (uint64_t{1} << 63),
              m.ctl);
    EXPECT_EQ((uint64_t{1} << 10) | (uint64_t{1} << 11) | (uint64_t{1} << 20) | (uint64_t{1} << 21) |
                  (uint64_t{1} << 63),
              m.high);
}

}  // namespace
}  // namespace lumeval
