// Code-page detection over uchardet.
#include "engine/encoding/detect.h"

#include <uchardet/uchardet.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "engine/encoding/codepage.h"

namespace lumeval {

namespace {

constexpr int32_t kUtf8Page = 65001;

// The detector's names, upper-cased, and the pages they stand for. The ISO
// Latin pages whose Windows page only adds printable characters in place
// of the C1 controls are read as the Windows page: uchardet names
// ISO-8859-1 for windows-1252 text, whose quotes and dashes live there.
struct CharsetRow {
    const char* name;
    int32_t page;
};
constexpr std::array kCharsets{
    CharsetRow{"GB18030", 936},      CharsetRow{"GBK", 936},
    CharsetRow{"GB2312", 936},       CharsetRow{"EUC-CN", 936},
    CharsetRow{"BIG5", 950},         CharsetRow{"BIG5-HKSCS", 950},
    CharsetRow{"SHIFT_JIS", 932},    CharsetRow{"SJIS", 932},
    CharsetRow{"WINDOWS-31J", 932},  CharsetRow{"CP932", 932},
    CharsetRow{"EUC-JP", 51932},     CharsetRow{"UHC", 949},
    CharsetRow{"EUC-KR", 949},       CharsetRow{"CP949", 949},
    CharsetRow{"WINDOWS-874", 874},  CharsetRow{"TIS-620", 874},
    CharsetRow{"ISO-8859-11", 874},  CharsetRow{"WINDOWS-1250", 1250},
    CharsetRow{"WINDOWS-1251", 1251}, CharsetRow{"WINDOWS-1252", 1252},
    CharsetRow{"WINDOWS-1253", 1253}, CharsetRow{"WINDOWS-1254", 1254},
    CharsetRow{"WINDOWS-1255", 1255}, CharsetRow{"WINDOWS-1256", 1256},
    CharsetRow{"WINDOWS-1257", 1257}, CharsetRow{"WINDOWS-1258", 1258},
    CharsetRow{"ISO-8859-1", 1252},  CharsetRow{"ISO-8859-2", 28592},
    CharsetRow{"ISO-8859-3", 28593}, CharsetRow{"ISO-8859-4", 28594},
    CharsetRow{"ISO-8859-5", 28595}, CharsetRow{"ISO-8859-6", 28596},
    CharsetRow{"ISO-8859-7", 28597}, CharsetRow{"ISO-8859-8", 28598},
    CharsetRow{"ISO-8859-8-I", 28598}, CharsetRow{"ISO-8859-9", 1254},
    CharsetRow{"ISO-8859-13", 28603}, CharsetRow{"ISO-8859-15", 28605},
    CharsetRow{"KOI8-R", 20866},     CharsetRow{"KOI8-U", 21866},
    CharsetRow{"IBM866", 866},       CharsetRow{"UTF-8", kUtf8Page},
};

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto up = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
        if (up(a[i]) != up(b[i])) return false;
    }
    return true;
}

// First index at or after `i` whose byte is not ASCII, or the size.
std::size_t NextNonAscii(std::string_view s, std::size_t i) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    while (i + 8 <= n) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        if (word & 0x8080808080808080ULL) break;
        i += 8;
    }
    while (i < n && p[i] < 0x80) ++i;
    return i;
}

// The lines of `bytes` that hold non-ASCII bytes, up to kDetectSampleBytes:
// the ASCII lines (numbers, times) tell the detector nothing and cost time.
// A very long line gives only a window around its first non-ASCII byte.
std::string SampleOf(std::string_view bytes, std::size_t& nonAscii) {
    constexpr std::size_t kBefore = 256;
    constexpr std::size_t kAfter = 4096;
    std::string sample;
    nonAscii = 0;
    std::size_t pos = 0;
    while (pos < bytes.size() && sample.size() < kDetectSampleBytes) {
        const std::size_t high = NextNonAscii(bytes, pos);
        if (high == bytes.size()) break;
        // Everything from `pos` to `high` is ASCII, so any start in between
        // begins a character.
        std::size_t start = high;
        const std::size_t floor = std::max(pos, high > kBefore ? high - kBefore : 0);
        while (start > floor && bytes[start - 1] != '\n') --start;
        const std::size_t limit =
            std::min({bytes.size(), high + kAfter, start + (kDetectSampleBytes - sample.size())});
        // The budget may end before `high`: then the piece is its last bytes.
        const void* nl = limit > high ? std::memchr(bytes.data() + high, '\n', limit - high) : nullptr;
        const std::size_t end = nl ? std::size_t(static_cast<const char*>(nl) - bytes.data()) + 1 : limit;
        const std::string_view piece = bytes.substr(start, end - start);
        for (unsigned char c : piece) nonAscii += c >> 7;
        sample.append(piece);
        pos = end;
    }
    return sample;
}

// GB18030's four-byte sequences (a second byte 0x30..0x39) do not exist in
// GBK: text holding one needs the GB18030 table.
bool HasFourByteGb18030(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    for (std::size_t i = 0; i < s.size();) {
        if (p[i] < 0x81 || p[i] == 0xFF) {
            ++i;
            continue;
        }
        if (i + 1 < s.size() && p[i + 1] >= 0x30 && p[i + 1] <= 0x39) return true;
        i += 2;
    }
    return false;
}

// Bytes of `s` that belong to no well-formed UTF-8 sequence.
std::size_t IllFormedUtf8Bytes(std::string_view s) {
    std::size_t bad = 0;
    for (std::size_t i = NextNonAscii(s, 0); i < s.size(); i = NextNonAscii(s, i)) {
        const Utf8Char c = DecodeUtf8At(s, i);
        if (!c.valid) bad += c.length;
        i += c.length;
    }
    return bad;
}

// True when every non-ASCII byte of `s` leads a pair that the double-byte
// pages share the shape of: a lead 0x81..0xFE, then 0x40..0x7E or
// 0x80..0xFE. Accented letters ending a word (before a space, a stop, a line
// end) break that shape at once.
bool CouldBeDoubleByte(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    for (std::size_t i = NextNonAscii(s, 0); i < s.size(); i = NextNonAscii(s, i)) {
        if (p[i] == 0x80 || p[i] == 0xFF || i + 1 >= s.size()) return false;
        const unsigned char trail = p[i + 1];
        if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return false;
        i += 2;
    }
    return true;
}

struct DetectorCloser {
    void operator()(uchardet_t d) const noexcept { uchardet_delete(d); }
};
using DetectorPtr = std::unique_ptr<std::remove_pointer_t<uchardet_t>, DetectorCloser>;

// One detector per thread, reset for every text: building its probers
// costs more than a small file's detection.
uchardet_t DetectorForThread() {
    thread_local DetectorPtr detector(uchardet_new());
    return detector.get();
}

}  // namespace

int32_t CodePageOfCharset(std::string_view name) {
    for (const CharsetRow& row : kCharsets) {
        if (EqualNoCase(name, row.name)) return row.page;
    }
    return 0;
}

bool IsMultiByteCodePage(int32_t codePage) {
    switch (codePage) {
        case 932:
        case 936:
        case 949:
        case 950:
        case 51932:
        case 54936:
            return true;
        default:
            return false;
    }
}

std::string CodePageDisplayName(int32_t codePage) {
    switch (codePage) {
        case 932: return "Shift-JIS";
        case 936: return "GBK";
        case 949: return "EUC-KR/CP949";
        case 950: return "Big5";
        case 866: return "IBM866";
        case 20866: return "KOI8-R";
        case 21866: return "KOI8-U";
        case 51932: return "EUC-JP";
        case 54936: return "GB18030";
        case 65001: return "UTF-8";
        case 28603: return "ISO-8859-13";
        case 28605: return "ISO-8859-15";
        default: break;
    }
    if (codePage == 874 || (codePage >= 1250 && codePage <= 1258)) {
        return "windows-" + std::to_string(codePage);
    }
    if (codePage >= 28591 && codePage <= 28599) {
        return "ISO-8859-" + std::to_string(codePage - 28590);
    }
    return "code page " + std::to_string(codePage);
}

CodePageGuess DetectCodePage(std::string_view bytes) {
    CodePageGuess guess;
    try {
        const std::string sample = SampleOf(bytes, guess.nonAscii);
        if (guess.nonAscii < kDetectMinNonAscii) return guess;
        uchardet_t detector = DetectorForThread();
        if (detector == nullptr) return guess;
        uchardet_reset(detector);
        if (uchardet_handle_data(detector, sample.data(), sample.size()) != 0) return guess;
        uchardet_data_end(detector);
        const char* name = uchardet_get_charset(detector);
        guess.charset = name != nullptr ? name : "";
        int32_t page = CodePageOfCharset(guess.charset);
        if (page == 936 && HasFourByteGb18030(sample)) page = 54936;
        if (page == 0 || !CodePageAvailable(page)) return guess;
        // The detector names UTF-8 for text that merely starts like it (GBK
        // pairs can be UTF-8 by chance); a stray bad byte in real UTF-8 is
        // rare, in such text common.
        if (page == kUtf8Page && IllFormedUtf8Bytes(sample) * 20 > guess.nonAscii) return guess;
        // Short CJK text is often taken for a single-byte page, never the
        // other way round: a short guess of one is trusted only when the
        // bytes cannot be double-byte text.
        if (page != kUtf8Page && !IsMultiByteCodePage(page) &&
            guess.nonAscii < kDetectMinNonAsciiSingleByte && CouldBeDoubleByte(sample)) {
            return guess;
        }
        guess.codePage = page;
    } catch (...) {
        guess.codePage = 0;
    }
    return guess;
}

}  // namespace lumeval
