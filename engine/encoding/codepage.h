// Legacy code-page conversion over ICU.
//
// Code page numbers are those of the subtitle world: 936 (GBK), 950 (BIG5),
// 65001 (UTF-8), 932 (Shift-JIS), 949 (CP949), 54936 (GB18030), 1250-1258,
// 28591-28605 (ISO-8859-x), 20866 (KOI8-R) and the other pages ICU knows as
// "windows-<n>-2000" / "windows-<n>", with 28591 (ISO-8859-1) and 51932
// (EUC-JP) under their own names. 0 stands for the engine's default ANSI
// page, 936. Converters are opened once per thread and reused, so concurrent
// conversions in batch mode never share ICU state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lumeval {

/// The engine's stand-in for "the platform's default ANSI code page".
inline constexpr int32_t kDefaultAnsiCodePage = 936;

/// 0 -> kDefaultAnsiCodePage, anything else unchanged.
int32_t ResolveCodePage(int32_t codePage);

/// True when ICU has a converter for the page.
bool CodePageAvailable(int32_t codePage);

/// The pages whose bytes below 0x80 are ASCII itself (the ANSI pages of
/// Windows and the ISO 8859 family, GBK, BIG5, UHC, GB18030, EUC-JP, KOI8):
/// text of such bytes alone decodes to itself without a converter.
bool AsciiIsItself(int32_t page);

/// Bytes in `codePage` to UTF-8. Invalid sequences become U+FFFD.
/// Returns false only when the page has no converter; throws std::bad_alloc
/// when memory runs out.
bool DecodeCodePage(std::string_view bytes, int32_t codePage, std::string& out);

/// Result of encoding UTF-8 text into a code page.
struct EncodeResult {
    bool ok = false;             ///< false: no converter, or a character could not be held
    std::size_t badOffset = 0;   ///< byte offset in the UTF-8 input of the first unmappable character
};

/// UTF-8 to bytes in `codePage`. With `strict` a character the page cannot
/// hold fails the call (`badOffset` names it); without, it becomes "?" as the
/// classic conversion does.
EncodeResult EncodeCodePage(std::string_view utf8, int32_t codePage, std::string& out, bool strict);

/// Encodes one code point; returns the number of bytes (0 when it cannot be held).
std::size_t EncodeCodePoint(char32_t cp, int32_t codePage, unsigned char out[8]);

// ---- UTF-8 helpers shared by the text layer ----

/// U+FFFD, what every undecodable sequence becomes.
inline constexpr char32_t kReplacementChar = 0xFFFD;

/// One step of UTF-8 decoding. An ill-formed sequence yields U+FFFD with
/// `length` covering its maximal subpart (1 to 3 bytes), so that a decoder
/// loses exactly the bytes it replaces and resynchronises at once.
struct Utf8Char {
    char32_t cp = 0;
    uint32_t length = 0;  ///< bytes consumed, at least 1 inside the text
    bool valid = false;
};

/// Decodes the character at `pos` (which must be below `s.size()`).
Utf8Char DecodeUtf8At(std::string_view s, std::size_t pos) noexcept;

/// Writes the UTF-8 form of `cp`, a Unicode scalar value (the caller has
/// checked it), at `p` and returns the new end: the engine's one UTF-8
/// encoder, raw for the decoders' inner loops.
inline char* PutUtf8(char* p, char32_t cp) noexcept {
    if (cp < 0x80) {
        *p++ = char(cp);
    } else if (cp < 0x800) {
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
    return p;
}

/// Appends the UTF-8 form of `cp`; surrogates and values past U+10FFFF
/// append U+FFFD.
void AppendUtf8(std::string& out, char32_t cp);

/// True when the bytes are well-formed UTF-8 (no overlongs, surrogates or
/// values past U+10FFFF).
bool IsValidUtf8(std::string_view bytes) noexcept;

/// The text with every ill-formed sequence replaced by U+FFFD.
std::string SanitizeUtf8(std::string_view bytes);

/// True when every byte is below 0x80.
bool IsAscii(std::string_view bytes) noexcept;

/// What one pass over a text finds of its bytes.
struct ByteCensus {
    std::size_t lf = 0;  ///< line feeds
    std::size_t cr = 0;  ///< carriage returns
    bool zero = false;   ///< a zero byte
    bool high = false;   ///< a byte of 0x80 or more
};
ByteCensus TakeByteCensus(std::string_view text) noexcept;

/// How often `c` occurs in `text`.
std::size_t CountByte(std::string_view text, char c) noexcept;

}  // namespace lumeval
