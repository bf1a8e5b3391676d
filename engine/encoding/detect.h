// Which legacy code page a text without a byte-order mark is written in.
//
// uchardet guesses the charset from a sample of the bytes; the guess is
// mapped to the engine's code page numbers. A guess the sample cannot
// support (too few non-ASCII bytes, a charset without a converter here)
// gives no page, and the caller falls back to its default page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lumeval {

/// At most this many bytes of a text are handed to the detector: the lines
/// that hold non-ASCII bytes, from the start of the text.
inline constexpr std::size_t kDetectSampleBytes = 64 * 1024;

/// Fewer non-ASCII bytes than this in the sample and no guess is trusted.
inline constexpr std::size_t kDetectMinNonAscii = 4;

/// A single-byte page needs this many unless the bytes cannot be double-byte
/// text: short CJK text is often mistaken for a single-byte page, never the
/// other way round.
inline constexpr std::size_t kDetectMinNonAsciiSingleByte = 16;

struct CodePageGuess {
    int32_t codePage = 0;       ///< the page found; 0 when unsure
    std::string charset;        ///< the detector's own name ("" when it had none)
    std::size_t nonAscii = 0;   ///< non-ASCII bytes in the sample
};

/// Guesses the code page of `bytes`. 65001 means the sample is UTF-8 (some
/// later byte may still be ill-formed).
CodePageGuess DetectCodePage(std::string_view bytes);

/// The code page number of a charset name as uchardet or ICU gives it
/// (case-insensitive), or 0 for a name the engine does not read.
int32_t CodePageOfCharset(std::string_view name);

/// True for the pages whose characters take more than one byte (932, 936,
/// 949, 950, 51932, 54936).
bool IsMultiByteCodePage(int32_t codePage);

/// A name for people: "GBK", "Big5", "Shift-JIS", "windows-1252",
/// "ISO-8859-2", ...; "code page N" for the rest.
std::string CodePageDisplayName(int32_t codePage);

}  // namespace lumeval
