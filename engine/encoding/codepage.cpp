// Legacy code pages over ICU, plus the UTF-8 primitives the text layer shares.
#include "engine/encoding/codepage.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucnv_err.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumeval {

// ---------------------------------------------------------------------------
// UTF-8 primitives
// ---------------------------------------------------------------------------

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ULL;

// First index at or after `i` whose byte is not ASCII (or `n`).
inline std::size_t SkipAscii(const unsigned char* p, std::size_t i, std::size_t n) noexcept {
    while (i + 8 <= n) {
        uint64_t word;
        std::memcpy(&word, p + i, 8);
        if (word & kHighBits) break;
        i += 8;
    }
    while (i < n && p[i] < 0x80) ++i;
    return i;
}

inline bool IsContinuation(unsigned char b) noexcept {
    return (b & 0xC0) == 0x80;
}

// Checks characters from `i` (a character start) until `stop` is reached or
// passed; returns the next character start, or sets `bad` and returns the
// index of the first byte of an ill-formed sequence.
std::size_t ScalarUtf8(const unsigned char* p, std::size_t i, std::size_t n, std::size_t stop,
                       bool& bad) noexcept {
    const auto fail = [&bad](std::size_t at) {
        bad = true;
        return at;
    };
    while (i < n && i < stop) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            i = SkipAscii(p, i + 1, n);
        } else if (b >= 0xC2 && b <= 0xDF) {
            if (i + 1 >= n || !IsContinuation(p[i + 1])) return fail(i);
            i += 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            // Runs of three-byte characters (all of CJK) checked a word at a
            // time: a lead E1..EC or EE..EF and two continuation bytes; E0 and
            // ED (tighter second bytes) and the last character take the long way.
            if constexpr (std::endian::native == std::endian::little) {
                bool any = false;
                while (i + 4 <= n) {
                    uint32_t w;
                    std::memcpy(&w, p + i, 4);
                    const uint32_t low = w & 0x0Fu;
                    if ((w & 0xC0C0F0u) != 0x8080E0u || low == 0 || low == 0x0D) break;
                    i += 3;
                    any = true;
                }
                if (any) continue;
            }
            if (i + 2 >= n) return fail(i);
            const unsigned char b1 = p[i + 1];
            const unsigned char lo = b == 0xE0 ? 0xA0 : 0x80;
            const unsigned char hi = b == 0xED ? 0x9F : 0xBF;
            if (b1 < lo || b1 > hi || !IsContinuation(p[i + 2])) return fail(i);
            i += 3;
        } else if (b >= 0xF0 && b <= 0xF4) {
            if (i + 3 >= n) return fail(i);
            const unsigned char b1 = p[i + 1];
            const unsigned char lo = b == 0xF0 ? 0x90 : 0x80;
            const unsigned char hi = b == 0xF4 ? 0x8F : 0xBF;
            if (b1 < lo || b1 > hi || !IsContinuation(p[i + 2]) || !IsContinuation(p[i + 3])) {
                return fail(i);
            }
            i += 4;
        } else {
            return fail(i);
        }
    }
    return i;
}

// Index of the first byte that starts an ill-formed sequence, or `n`.
std::size_t FirstInvalidUtf8(const unsigned char* p, std::size_t n) noexcept {
    std::size_t i = 0;
    bool bad = false;
#if defined(__SSE2__)
    while (i + 16 <= n) {
        // Sixteen bytes of ASCII and of the common three-byte characters (leads
        // E1..EC and EE..EF, all of CJK) pass as a whole: every continuation
        // byte sits one or two places after such a lead, and nothing else is
        // above 0x7F. A lead's continuation bytes may be in the next block.
        uint32_t owedNext = 0;
        std::size_t at = i;
        for (; at + 16 <= n; at += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
            const auto high = static_cast<uint32_t>(_mm_movemask_epi8(v));
            if (high == 0 && owedNext == 0) continue;
            // Signed bytes: continuation 0x80..0xBF is below -64, leads
            // 0xE1..0xEF lie between -32 and -16, and 0xED is left out.
            const auto cont = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmplt_epi8(v, _mm_set1_epi8(-64))));
            const __m128i e1ToEf =
                _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(-32)), _mm_cmplt_epi8(v, _mm_set1_epi8(-16)));
            const auto lead = static_cast<uint32_t>(_mm_movemask_epi8(
                _mm_andnot_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xED))), e1ToEf)));
            const uint32_t owed = (lead << 1) | (lead << 2) | owedNext;
            if ((high & ~(cont | lead)) != 0 || cont != (owed & 0xFFFFu)) break;
            owedNext = owed >> 16;
        }
        // Back to the start of a character whose continuation bytes were owed.
        i = at - (owedNext == 3 ? 1 : owedNext == 1 ? 2 : 0);
        if (at + 16 > n) break;
        // The block that did not pass, character by character.
        i = ScalarUtf8(p, i, n, at + 16, bad);
        if (bad) return i;
    }
#endif
    i = ScalarUtf8(p, i, n, n, bad);
    return bad ? i : n;
}

}  // namespace

Utf8Char DecodeUtf8At(std::string_view s, std::size_t pos) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + pos;
    const std::size_t avail = s.size() - pos;
    const unsigned char b0 = p[0];
    if (b0 < 0x80) return {b0, 1, true};
    const Utf8Char bad1{kReplacementChar, 1, false};
    if (b0 < 0xC2) return bad1;
    if (b0 < 0xE0) {
        if (avail < 2 || !IsContinuation(p[1])) return bad1;
        return {(char32_t(b0 & 0x1F) << 6) | (p[1] & 0x3F), 2, true};
    }
    if (b0 < 0xF0) {
        const unsigned char lo = b0 == 0xE0 ? 0xA0 : 0x80;
        const unsigned char hi = b0 == 0xED ? 0x9F : 0xBF;
        if (avail < 2 || p[1] < lo || p[1] > hi) return bad1;
        if (avail < 3 || !IsContinuation(p[2])) return {kReplacementChar, 2, false};
        return {(char32_t(b0 & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F), 3,
                true};
    }
    if (b0 < 0xF5) {
        const unsigned char lo = b0 == 0xF0 ? 0x90 : 0x80;
        const unsigned char hi = b0 == 0xF4 ? 0x8F : 0xBF;
        if (avail < 2 || p[1] < lo || p[1] > hi) return bad1;
        if (avail < 3 || !IsContinuation(p[2])) return {kReplacementChar, 2, false};
        if (avail < 4 || !IsContinuation(p[3])) return {kReplacementChar, 3, false};
        return {(char32_t(b0 & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) |
                    (char32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F),
                4, true};
    }
    return bad1;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacementChar;
    char buf[4];
    out.append(buf, static_cast<std::size_t>(PutUtf8(buf, cp) - buf));
}

bool IsValidUtf8(std::string_view bytes) noexcept {
    return FirstInvalidUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) ==
           bytes.size();
}

// std::count goes a byte at a time.
std::size_t CountByte(std::string_view text, char c) noexcept {
    std::size_t n = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i target = _mm_set1_epi8(c);
    while (i + 16 <= text.size()) {
        // Up to 255 rounds of 16 byte counters, then summed.
        __m128i counts = _mm_setzero_si128();
        for (int round = 0; round < 255 && i + 16 <= text.size(); ++round, i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
            counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(v, target));
        }
        const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
        n += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
    }
#endif
    for (; i < text.size(); ++i) n += text[i] == c ? 1 : 0;
    return n;
}

ByteCensus TakeByteCensus(std::string_view text) noexcept {
    ByteCensus c;
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i zero = _mm_setzero_si128();
    __m128i zeros = _mm_setzero_si128();
    __m128i highs = _mm_setzero_si128();
    while (i + 16 <= text.size()) {
        // Up to 255 rounds of 16 byte counters, then summed.
        __m128i lfs = _mm_setzero_si128();
        __m128i crs = _mm_setzero_si128();
        for (int round = 0; round < 255 && i + 16 <= text.size(); ++round, i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
            lfs = _mm_sub_epi8(lfs, _mm_cmpeq_epi8(v, lf));
            crs = _mm_sub_epi8(crs, _mm_cmpeq_epi8(v, cr));
            zeros = _mm_or_si128(zeros, _mm_cmpeq_epi8(v, zero));
            highs = _mm_or_si128(highs, v);
        }
        const __m128i lfSums = _mm_sad_epu8(lfs, zero);
        const __m128i crSums = _mm_sad_epu8(crs, zero);
        c.lf += static_cast<std::size_t>(_mm_cvtsi128_si32(lfSums)) +
                static_cast<std::size_t>(_mm_extract_epi16(lfSums, 4));
        c.cr += static_cast<std::size_t>(_mm_cvtsi128_si32(crSums)) +
                static_cast<std::size_t>(_mm_extract_epi16(crSums, 4));
    }
    c.zero = _mm_movemask_epi8(zeros) != 0;
    c.high = _mm_movemask_epi8(highs) != 0;
#endif
    for (; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        c.lf += b == '\n' ? 1 : 0;
        c.cr += b == '\r' ? 1 : 0;
        c.zero = c.zero || b == 0;
        c.high = c.high || b >= 0x80;
    }
    return c;
}

bool IsAscii(std::string_view bytes) noexcept {
    return SkipAscii(reinterpret_cast<const unsigned char*>(bytes.data()), 0, bytes.size()) ==
           bytes.size();
}

std::string SanitizeUtf8(std::string_view bytes) {
    const std::size_t first =
        FirstInvalidUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    if (first == bytes.size()) return std::string(bytes);
    // Size the result exactly first: garbage input can triple in size, and
    // growing by doubling would briefly hold far more than that.
    std::size_t length = first;
    for (std::size_t i = first; i < bytes.size();) {
        const Utf8Char c = DecodeUtf8At(bytes, i);
        length += c.valid ? c.length : 3;
        i += c.length;
    }
    std::string out;
    out.reserve(length);
    out.append(bytes.substr(0, first));
    for (std::size_t i = first; i < bytes.size();) {
        const Utf8Char c = DecodeUtf8At(bytes, i);
        if (c.valid) {
            out.append(bytes.substr(i, c.length));
        } else {
            AppendUtf8(out, kReplacementChar);
        }
        i += c.length;
    }
    return out;
}

// ---------------------------------------------------------------------------
// ICU converters
// ---------------------------------------------------------------------------

namespace {

constexpr int32_t kUtf8CodePage = 65001;

struct ConverterCloser {
    void operator()(UConverter* c) const noexcept { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// ICU's stock callback writes U+001A for unassigned bytes of some single-byte
// tables: a control character that vanishes in editors. Every undecodable
// sequence becomes U+FFFD instead, so the loss is visible.
void ToUnicodeReplacement(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                          UConverterCallbackReason reason, UErrorCode* err) {
    if (reason > UCNV_IRREGULAR) return;  // reset, close, clone: nothing to write
    static const UChar kFffd = 0xFFFD;
    *err = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &kFffd, 1, 0, err);
}

ConverterPtr OpenConverter(int32_t page) {
    std::vector<std::string> names;
    if (page == 936 || page == 950) {
        names.push_back("windows-" + std::to_string(page) + "-2000");
    } else if (page == 28591) {
        names.push_back("ISO-8859-1");  // ICU knows no "windows-28591"
    } else if (page == 51932) {
        names.push_back("EUC-JP");
    } else if (page > 0) {
        names.push_back("windows-" + std::to_string(page));
        names.push_back("windows-" + std::to_string(page) + "-2000");
    }
    for (const std::string& name : names) {
        UErrorCode err = U_ZERO_ERROR;
        ConverterPtr conv(ucnv_open(name.c_str(), &err));
        if (U_FAILURE(err) || !conv) continue;
        // Only byte-oriented pages stand in for an ANSI page: "windows-1200"
        // is UTF-16 to ICU, which MultiByteToWideChar never accepts.
        if (ucnv_getMinCharSize(conv.get()) != 1) continue;
        // Best-fit mappings (936 turns U+00A2 into a full-width cent sign)
        // do not survive a round trip; they count as unmappable.
        ucnv_setFallback(conv.get(), false);
        err = U_ZERO_ERROR;
        ucnv_setSubstChars(conv.get(), "?", 1, &err);
        err = U_ZERO_ERROR;
        ucnv_setToUCallBack(conv.get(), ToUnicodeReplacement, nullptr, nullptr, nullptr, &err);
        if (U_FAILURE(err)) continue;
        return conv;
    }
    return nullptr;
}

// One converter per page and thread, opened on first use. Pages ICU lacks are
// remembered too (a bounded number of them) so a bad setting costs one lookup.
UConverter* ConverterFor(int32_t page) {
    struct Entry {
        int32_t page;
        ConverterPtr conv;
    };
    thread_local std::vector<Entry> cache;
    thread_local std::vector<int32_t> missing;
    for (Entry& e : cache) {
        if (e.page == page) return e.conv.get();
    }
    for (int32_t m : missing) {
        if (m == page) return nullptr;
    }
    ConverterPtr conv = OpenConverter(page);
    if (!conv) {
        if (missing.size() < 64) missing.push_back(page);
        return nullptr;
    }
    cache.push_back({page, std::move(conv)});
    return cache.back().conv.get();
}

// Writes UTF-16 units as UTF-8 at `p` (room checked by the caller); a high
// surrogate at the end of a chunk waits in `pending` for its partner.
char* PutUtf16Units(char* p, const UChar* units, std::size_t count, char16_t& pending) {
    auto put = [&p](char32_t cp) {
        if (cp < 0x800) {
            *p++ = char(0xC0 | (cp >> 6));
            *p++ = char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *p++ = char(0xE0 | (cp >> 12));
            *p++ = char(0x80 | ((cp >> 6) & 0x3F));
            *p++ = char(0x80 | (cp & 0x3F));
        } else {
            *p++ = char(0xF0 | (cp >> 18));
            *p++ = char(0x80 | ((cp >> 12) & 0x3F));
            *p++ = char(0x80 | ((cp >> 6) & 0x3F));
            *p++ = char(0x80 | (cp & 0x3F));
        }
    };
    for (std::size_t i = 0; i < count; ++i) {
        const char16_t u = units[i];
        if (pending) {
            if (u >= 0xDC00 && u <= 0xDFFF) {
                put(0x10000 + ((char32_t(pending) - 0xD800) << 10) + (u - 0xDC00));
                pending = 0;
                continue;
            }
            put(kReplacementChar);
            pending = 0;
        }
        if (u < 0x80) {
            *p++ = char(u);
        } else if (u >= 0xD800 && u <= 0xDBFF) {
            pending = u;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            put(kReplacementChar);
        } else {
            put(u);
        }
    }
    return p;
}

// Exact UTF-8 length of UTF-16 units as PutUtf16Units writes them: a high
// surrogate counts 3 (U+FFFD if alone), a low one right after it 1 more.
std::size_t Utf8LengthOfUnits(const UChar* units, std::size_t count, bool& afterHigh) {
    std::size_t length = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char16_t u = units[i];
        if (afterHigh && u >= 0xDC00 && u <= 0xDFFF) {
            length += 1;
            afterHigh = false;
            continue;
        }
        afterHigh = u >= 0xD800 && u <= 0xDBFF;
        length += u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
    }
    return length;
}

// Decodes through ICU into `out`, sized to `limit` bytes up front. Fails
// when the result would not fit, or on an ICU error.
bool DecodeWithIcu(UConverter* conv, std::string_view bytes, std::string& out, std::size_t limit) {
    ucnv_resetToUnicode(conv);
    out.resize(limit);
    char* p = out.data();
    std::array<UChar, 16384> units;
    const char* src = bytes.data();
    const char* const srcEnd = bytes.data() + bytes.size();
    char16_t pending = 0;
    for (;;) {
        UChar* target = units.data();
        UErrorCode err = U_ZERO_ERROR;
        ucnv_toUnicode(conv, &target, units.data() + units.size(), &src, srcEnd, nullptr, true,
                       &err);
        const std::size_t produced = std::size_t(target - units.data());
        // A unit never takes more than three bytes (plus three for a
        // surrogate still pending); only near the end of the buffer is the
        // chunk counted exactly.
        const std::size_t written = std::size_t(p - out.data());
        if (written + produced * 3 + 3 > limit) {
            bool afterHigh = pending != 0;
            if (written + Utf8LengthOfUnits(units.data(), produced, afterHigh) + 3 > limit) {
                return false;
            }
        }
        p = PutUtf16Units(p, units.data(), produced, pending);
        if (err == U_BUFFER_OVERFLOW_ERROR) continue;
        if (U_FAILURE(err)) return false;
        break;
    }
    out.resize(std::size_t(p - out.data()));
    if (pending) AppendUtf8(out, kReplacementChar);
    return true;
}

// Length of the UTF-8 result, for sizing the output exactly.
bool MeasureWithIcu(UConverter* conv, std::string_view bytes, std::size_t& length) {
    ucnv_resetToUnicode(conv);
    std::array<UChar, 16384> units;
    const char* src = bytes.data();
    const char* const srcEnd = bytes.data() + bytes.size();
    length = 0;
    bool afterHigh = false;
    for (;;) {
        UChar* target = units.data();
        UErrorCode err = U_ZERO_ERROR;
        ucnv_toUnicode(conv, &target, units.data() + units.size(), &src, srcEnd, nullptr, true,
                       &err);
        length += Utf8LengthOfUnits(units.data(), std::size_t(target - units.data()), afterHigh);
        if (err == U_BUFFER_OVERFLOW_ERROR) continue;
        return U_SUCCESS(err);
    }
}

// UTF-8 to UTF-16 for ICU, a chunk at a time; never splits a surrogate pair.
// Returns the number of units written; `pos` advances past what was read.
std::size_t FillUtf16Chunk(std::string_view utf8, std::size_t& pos, UChar* units,
                           std::size_t capacity) {
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    std::size_t count = 0;
    while (pos < utf8.size() && count + 2 <= capacity) {
        if (p[pos] < 0x80) {
            units[count++] = p[pos++];
            continue;
        }
        // Well-formed three-byte sequences (CJK) inline; the rest, including
        // every ill-formed case, through the full decoder.
        if ((p[pos] & 0xF0) == 0xE0 && pos + 2 < utf8.size() && IsContinuation(p[pos + 1]) &&
            IsContinuation(p[pos + 2])) {
            const char32_t cp = (char32_t(p[pos] & 0x0F) << 12) |
                                (char32_t(p[pos + 1] & 0x3F) << 6) | (p[pos + 2] & 0x3F);
            if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) {
                units[count++] = UChar(cp);
                pos += 3;
                continue;
            }
        }
        const Utf8Char c = DecodeUtf8At(utf8, pos);
        pos += c.length;
        if (c.cp >= 0x10000) {
            units[count++] = UChar(0xD800 + ((c.cp - 0x10000) >> 10));
            units[count++] = UChar(0xDC00 + ((c.cp - 0x10000) & 0x3FF));
        } else {
            units[count++] = UChar(c.cp);
        }
    }
    return count;
}

// Byte offset in `utf8`, counting from `start`, of the character that holds
// UTF-16 unit number `unitIndex`.
std::size_t Utf8OffsetOfUnit(std::string_view utf8, std::size_t start, std::size_t unitIndex) {
    std::size_t pos = start;
    std::size_t units = 0;
    while (pos < utf8.size()) {
        const Utf8Char c = DecodeUtf8At(utf8, pos);
        const std::size_t width = c.cp >= 0x10000 ? 2 : 1;
        if (units + width > unitIndex) break;
        units += width;
        pos += c.length;
    }
    return pos;
}

}  // namespace

int32_t ResolveCodePage(int32_t codePage) {
    return codePage == 0 ? kDefaultAnsiCodePage : codePage;
}

bool CodePageAvailable(int32_t codePage) {
    const int32_t page = ResolveCodePage(codePage);
    return page == kUtf8CodePage || ConverterFor(page) != nullptr;
}

bool AsciiIsItself(int32_t page) {
    switch (page) {
        case 874: case 936: case 949: case 950: case 20866: case 21866: case 28603: case 28605:
        case 51932: case 54936:
            return true;
        default:
            return (page >= 1250 && page <= 1258) || (page >= 28591 && page <= 28599);
    }
}

bool DecodeCodePage(std::string_view bytes, int32_t codePage, std::string& out) {
    out.clear();
    try {
        const int32_t page = ResolveCodePage(codePage);
        if (page == kUtf8CodePage) {
            out = SanitizeUtf8(bytes);
            return true;
        }
        // Text of ASCII alone (most English subtitles) is its own UTF-8 in
        // these pages: no converter to open, which costs milliseconds.
        if (AsciiIsItself(page) && std::all_of(bytes.begin(), bytes.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x80;
            })) {
            out.assign(bytes);
            return true;
        }
        UConverter* conv = ConverterFor(page);
        if (!conv) return false;
        if (bytes.empty()) return true;
        // Double-byte text needs at most 1.5 bytes per input byte. Only odd
        // input (single bytes turned into U+FFFD or U+20AC) needs more; then
        // measure first rather than let the buffer grow by doubling.
        const std::size_t guess = bytes.size() + bytes.size() / 2 + 16;
        if (DecodeWithIcu(conv, bytes, out, guess)) return true;
        out = std::string();
        std::size_t exact = 0;
        if (MeasureWithIcu(conv, bytes, exact) && DecodeWithIcu(conv, bytes, out, exact + 3)) {
            return true;
        }
        out = std::string();
        return false;
    } catch (const std::bad_alloc&) {
        // Memory running out is not a text that failed to convert: the
        // caller reports it as what it is.
        out = std::string();
        throw;
    } catch (...) {
        out = std::string();
        return false;
    }
}

EncodeResult EncodeCodePage(std::string_view utf8, int32_t codePage, std::string& out,
                            bool strict) {
    EncodeResult result;
    out.clear();
    try {
        const int32_t page = ResolveCodePage(codePage);
        if (page == kUtf8CodePage) {
            out = SanitizeUtf8(utf8);
            result.ok = true;
            return result;
        }
        UConverter* conv = ConverterFor(page);
        if (!conv) return result;
        ucnv_resetFromUnicode(conv);
        UErrorCode err = U_ZERO_ERROR;
        ucnv_setFromUCallBack(conv,
                              strict ? UCNV_FROM_U_CALLBACK_STOP : UCNV_FROM_U_CALLBACK_SUBSTITUTE,
                              nullptr, nullptr, nullptr, &err);
        if (U_FAILURE(err)) return result;

        constexpr std::size_t kChunk = 8192;
        std::array<UChar, kChunk> units;
        std::vector<char> bytes(kChunk * std::size_t(ucnv_getMaxCharSize(conv)) + 16);
        out.reserve(utf8.size());
        std::size_t pos = 0;
        do {
            const std::size_t chunkStart = pos;
            const std::size_t count = FillUtf16Chunk(utf8, pos, units.data(), units.size());
            const bool last = pos >= utf8.size();
            const UChar* src = units.data();
            for (;;) {
                char* target = bytes.data();
                err = U_ZERO_ERROR;
                ucnv_fromUnicode(conv, &target, bytes.data() + bytes.size(), &src,
                                 units.data() + count, nullptr, last, &err);
                out.append(bytes.data(), std::size_t(target - bytes.data()));
                if (err == U_BUFFER_OVERFLOW_ERROR) continue;
                break;
            }
            if (U_FAILURE(err)) {
                if (err == U_INVALID_CHAR_FOUND || err == U_ILLEGAL_CHAR_FOUND) {
                    UChar bad[8];
                    int8_t badLength = 8;
                    UErrorCode err2 = U_ZERO_ERROR;
                    ucnv_getInvalidUChars(conv, bad, &badLength, &err2);
                    if (U_FAILURE(err2)) badLength = 1;
                    const std::size_t consumed = std::size_t(src - units.data());
                    const std::size_t unit =
                        consumed >= std::size_t(badLength) ? consumed - std::size_t(badLength) : 0;
                    result.badOffset = Utf8OffsetOfUnit(utf8, chunkStart, unit);
                }
                ucnv_resetFromUnicode(conv);
                out.clear();
                return result;
            }
        } while (pos < utf8.size());
        result.ok = true;
        return result;
    } catch (...) {
        out = std::string();
        result.ok = false;
        return result;
    }
}

std::size_t EncodeCodePoint(char32_t cp, int32_t codePage, unsigned char out[8]) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    const int32_t page = ResolveCodePage(codePage);
    if (page == kUtf8CodePage) {
        std::string utf8;
        try {
            AppendUtf8(utf8, cp);
        } catch (...) {
            return 0;
        }
        std::memcpy(out, utf8.data(), utf8.size());
        return utf8.size();
    }
    UConverter* conv = nullptr;
    try {
        conv = ConverterFor(page);
    } catch (...) {
        return 0;
    }
    if (!conv) return 0;
    UChar units[2];
    int32_t count = 1;
    if (cp >= 0x10000) {
        units[0] = UChar(0xD800 + ((cp - 0x10000) >> 10));
        units[1] = UChar(0xDC00 + ((cp - 0x10000) & 0x3FF));
        count = 2;
    } else {
        units[0] = UChar(cp);
    }
    ucnv_resetFromUnicode(conv);
    UErrorCode err = U_ZERO_ERROR;
    ucnv_setFromUCallBack(conv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    char buf[8];
    char* target = buf;
    const UChar* src = units;
    ucnv_fromUnicode(conv, &target, buf + sizeof buf, &src, units + count, nullptr, true, &err);
    if (U_FAILURE(err)) {
        ucnv_resetFromUnicode(conv);
        return 0;
    }
    const std::size_t n = std::size_t(target - buf);
    std::memcpy(out, buf, n);
    return n;
}

}  // namespace lumeval
