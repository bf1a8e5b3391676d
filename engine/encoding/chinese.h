// GB / BIG5 classification and simplified / traditional mapping.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumeval {

/// Character-set class: 0 undecided, 1 BIG5-style, 2 GB-style.
enum ChineseClass : int32_t { kClassUndecided = 0, kClassBig5 = 1, kClassGb = 2 };

/// `s_InternalCodeConversion`: 0 none, 1 BIG5 to GB, 2 GB to BIG5, 3 automatic.
enum InternalCodeConversion : int32_t {
    kConvertNone = 0,
    kConvertBig5ToGb = 1,
    kConvertGbToBig5 = 2,
    kConvertAuto = 3,
};

/// Classifies by the first double-byte character (in `AnsiCodePage`) whose
/// second byte is 0x40 or more: 0x40..0x7E gives 1, 0x7F..0xFF gives 2.
int32_t CheckChineseInternalCodeSpecification(const std::string& text, int32_t AnsiCodePage = 0);

/// True exactly when the class would be 1.
bool CheckBIG5(const std::string& text, int32_t AnsiCodePage = 0);

/// Maps every character to its simplified / traditional form. Text inside
/// "{...}" and "<...>" (override blocks, markup) is left as it is.
std::string ToSimplifiedChinese(std::string_view text);
std::string ToTraditionalChinese(std::string_view text);

/// How the line reached the engine and where it goes, for the conversion table.
struct ConversionContext {
    int32_t mode = kConvertNone;       ///< s_InternalCodeConversion
    int32_t cls = kClassUndecided;     ///< class of the whole loaded text
    /// The text is BIG5 that was decoded as GBK (see LooksLikeBig5ReadAsGbk):
    /// a conversion reads its bytes again as BIG5 first.
    bool big5ReadAsGbk = false;
    bool writesAnsi = false;           ///< the run saves with encoding 0
    int32_t AnsiCodePage = 0;          ///< the engine's ANSI code page (0: default)
};

/// True when `text`, decoded as GBK, is BIG5 in truth: its GBK bytes are
/// well-formed BIG5 and its first deciding character classifies as
/// BIG5-style. Only worth asking for text whose page was assumed or forced
/// to be 936; a detected page is right as it is.
bool LooksLikeBig5ReadAsGbk(const std::string& text);

/// The per-line conversion step of a load; every result is the line itself,
/// its simplified form or its traditional form:
///   mode 0 (and any unknown mode): unchanged;
///   mode 1, or 3 with class 1: to simplified;
///   mode 2: to traditional, re-encoded as BIG5 bytes held in GBK only when
///     the run writes ANSI with page 936 (so the written file is BIG5);
///   mode 3 with class 2: to simplified; otherwise unchanged.
/// Modes 1 to 3 read a `big5ReadAsGbk` line as BIG5 before they map it.
std::string ApplyInternalCodeConversion(std::string_view line, const ConversionContext& ctx);

/// False when the step certainly leaves the line as it is (no copy needed).
bool InternalCodeConversionMayChange(std::string_view line, const ConversionContext& ctx);

/// Whether the OpenCC dictionaries that conversion mode `mode` needs load
/// (modes 1 to 3; mode 0 needs none). False with `why` naming the file that
/// did not load.
bool ChineseConversionAvailable(int32_t mode, std::string* why = nullptr);

namespace detail {
/// The same mappings without the shortcut that skips OpenCC for text its
/// dictionaries cannot change; they let tests prove the shortcut exact.
std::string ToSimplifiedChineseDirect(std::string_view text);
std::string ToTraditionalChineseDirect(std::string_view text);
}  // namespace detail

}  // namespace lumeval
