// The bytes of a text that ask a line for more work, found sixty-four at a
// time: one bit per byte for each kind.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumeval {

/// Bit i stands for byte i of the block.
struct BlockMasks {
    uint64_t nl = 0;    ///< "\n"
    uint64_t cr = 0;    ///< "\r"
    uint64_t lt = 0;    ///< "<"
    uint64_t gt = 0;    ///< ">"
    uint64_t pp = 0;    ///< "P"
    uint64_t high = 0;  ///< 0x80 and above
    /// Below 0x20 but tab (line ends included), DEL, and the first byte of a
    /// C1 control (0xC2 0x80..0x9F); a 0xC2 in the last byte is marked too,
    /// its second byte being out of sight.
    uint64_t ctl = 0;
};

/// One byte at a time: what the others must give.
BlockMasks ScanBlockBytes(const unsigned char* p);

/// The same with AVX-512 (BW): only where WideScanAvailable() holds.
BlockMasks ScanBlockWide(const unsigned char* p);
/// True when the processor and the system run AVX-512 (BW).
bool WideScanAvailable();

/// The same with the SSE2 every x86-64 processor has, or bytes elsewhere.
inline BlockMasks ScanBlockNarrow(const unsigned char* p) {
#if defined(__SSE2__)
    BlockMasks m;
    const __m128i vNl = _mm_set1_epi8('\n');
    const __m128i vCr = _mm_set1_epi8('\r');
    const __m128i vLt = _mm_set1_epi8('<');
    const __m128i vGt = _mm_set1_epi8('>');
    const __m128i vP = _mm_set1_epi8('P');
    const __m128i vTab = _mm_set1_epi8('\t');
    const __m128i vSpace = _mm_set1_epi8(0x20);
    const __m128i vDel = _mm_set1_epi8(0x7F);
    const __m128i vC2 = _mm_set1_epi8(static_cast<char>(0xC2));
    const __m128i vC1End = _mm_set1_epi8(static_cast<char>(0xA0));
    const __m128i vZero = _mm_setzero_si128();
    uint64_t c2 = 0, c1Second = 0;
    for (int c = 0; c < 4; ++c) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * c));
        const auto bits = [&](__m128i target) {
            return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, target))))
                   << (16 * c);
        };
        m.nl |= bits(vNl);
        m.cr |= bits(vCr);
        m.lt |= bits(vLt);
        m.gt |= bits(vGt);
        m.pp |= bits(vP);
        m.high |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(v))) << (16 * c);
        // Below 0x20 but tab, or DEL; signed, so the high bytes (below 0
        // too) are taken out in the vector.
        const __m128i ctlVec = _mm_or_si128(
            _mm_andnot_si128(_mm_or_si128(_mm_cmpeq_epi8(v, vTab), _mm_cmplt_epi8(v, vZero)),
                             _mm_cmplt_epi8(v, vSpace)),
            _mm_cmpeq_epi8(v, vDel));
        m.ctl |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(ctlVec))) << (16 * c);
        const auto lead = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, vC2)));
        c2 |= static_cast<uint64_t>(lead) << (16 * c);
        // The second bytes are needed where this chunk has a lead byte, and
        // at its first byte when the chunk before ended with one.
        const bool leadBefore = c > 0 && ((c2 >> (16 * c - 1)) & 1) != 0;
        if (lead != 0 || leadBefore) {
            // Signed: only 0x80..0x9F lie below 0xA0.
            c1Second |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmplt_epi8(v, vC1End))))
                        << (16 * c);
        }
    }
    m.ctl |= c2 & ((c1Second >> 1) | (uint64_t{1} << 63));
    return m;
#else
    return ScanBlockBytes(p);
#endif
}

}  // namespace lumeval
