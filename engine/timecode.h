// Time texts of every subtitle format, both ways.
//
// Times are milliseconds held as double unless a name says seconds. The
// readers are total: an unreadable text gives 0 (or whatever fields could be
// read) and nothing throws.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace lumeval {

/// The largest time a time text holds: 999,999,999 hours, 59:59.999. Far past
/// any medium, and every count up to it is exact in a double. Beyond it a
/// time is refused, never wrapped.
inline constexpr int64_t kMaxTimeMs = int64_t{999999999} * 3600000 + 3599999;

/// Milliseconds to a time text. Styles: 1 H:MM:SS.cc, 2 MM:SS.cc (total
/// minutes), 3 MM:SS.mmm, 4 MM:SS, 5 HH:MM:SS:cc, 98 HH:MM:SS.mmm,
/// 99 HH:MM:SS, 0 and anything else HH:MM:SS,mmm (the line-table form).
/// Negative input counts as 0.
std::string MSecsToTime(double LngMSecs, int16_t TimeStyle = 0);

/// Reads a time text of any supported form as whole milliseconds.
/// `MSecString` is the fraction separator of the fallback form only.
/// A leading "-" makes the time negative. A time beyond kMaxTimeMs gives 0.
double TimeToMSecs(std::string_view TimeString, std::string_view MSecString = ",");

/// Reads a time text as seconds; the fraction is added only when `MSecUse`
/// (a bare number of seconds then counts its whole seconds).
double TimeToSec(std::string_view TimeString, bool MSecUse, std::string_view MSecString = ",");

/// As TimeToSec and TimeToMSecs, but nullopt for a time beyond kMaxTimeMs
/// instead of 0, so a caller can refuse it rather than take it as zero.
std::optional<double> TimeToSecChecked(std::string_view TimeString, bool MSecUse,
                                       std::string_view MSecString = ",");
std::optional<int64_t> TimeToMSecsChecked(std::string_view TimeString,
                                          std::string_view MSecString = ",");

/// MM:SS:cc with minutes that may exceed 59 (no hours). Negative counts as 0.
std::string MSecsToCueTime(double LngMSecs);

/// Reads MM:SS:cc ("##:##:##" only) as milliseconds; any other text gives 0.
double CueTimeToMSecs(std::string_view TimeString);

/// HH:MM:SS, then `MSecString` and mmm when `MSecUse`. Negative input is not
/// clamped (the fields come out negative).
std::string FormatTime(double LngMSecs, bool MSecUse, std::string_view MSecString);

/// Appends `MSecsToTime(LngMSecs, 0)` to `out` without a temporary.
void AppendTimeStyle0(std::string& out, double LngMSecs);
/// Appends `MSecsToTime(LngMSecs, 1)` ("H:MM:SS.cc") to `out` without a temporary.
void AppendTimeStyle1(std::string& out, double LngMSecs);

/// True when `text` is exactly "HH:MM:SS,mmm" (or "HHH:MM:SS,mmm" with hours
/// 100 to 499) with minutes and seconds below 60: such a text reads and
/// formats back to itself, so it may be copied.
bool IsCanonicalTime(std::string_view text);

/// Milliseconds of a text for which IsCanonicalTime holds.
int32_t CanonicalTimeMs(std::string_view text);

/// The twelve bytes at `t` checked and read in one go: the milliseconds of
/// "HH:MM:SS,mmm" (minutes and seconds below 60), -1 for anything else.
/// Inline: the table's every entry starts with one or two of them.
inline int32_t CanonicalTime12Ms(const char* t) {
    if constexpr (std::endian::native != std::endian::little) {
        const auto digit = [t](int i) { return static_cast<int32_t>(t[i] - '0'); };
        const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
        if (!(isDigit(t[0]) && isDigit(t[1]) && t[2] == ':' && t[3] >= '0' && t[3] <= '5' && isDigit(t[4]) &&
              t[5] == ':' && t[6] >= '0' && t[6] <= '5' && isDigit(t[7]) && t[8] == ',' && isDigit(t[9]) &&
              isDigit(t[10]) && isDigit(t[11]))) {
            return -1;
        }
        return ((digit(0) * 10 + digit(1)) * 3600 + (digit(3) * 10 + digit(4)) * 60 + digit(6) * 10 + digit(7)) *
                   1000 +
               digit(9) * 100 + digit(10) * 10 + digit(11);
    } else {
        // Checked a word at a time (byte i at bits 8i): separators by value,
        // digits as 0x3N whose low nibble plus 6 (plus 10 for the tens of
        // minutes and seconds, which stop at 5) does not carry out of the nibble.
        uint64_t a;
        uint32_t b;
        std::memcpy(&a, t, 8);      // "HH:MM:SS"
        std::memcpy(&b, t + 8, 4);  // ",mmm"
        const uint64_t da = a & 0x0F0F000F0F000F0FULL;
        const uint32_t db = b & 0x0F0F0F00u;
        if ((a & 0xF0F0FFF0F0FFF0F0ULL) != 0x30303A30303A3030ULL ||
            ((da + 0x060A00060A000606ULL) & 0xF0F0F0F0F0F0F0F0ULL) != 0 ||
            (b & 0xF0F0F0FFu) != 0x3030302Cu || ((db + 0x06060600u) & 0xF0F0F000u) != 0) {
            return -1;
        }
        // Each digit times ten plus the digit after it, in one multiply:
        // hours, minutes and seconds land in bytes 0, 3 and 6 (none passes 99,
        // so no byte carries into the next).
        const uint64_t pairs = da * 10 + (da >> 8);
        const auto byte = [](uint64_t w, int i) { return static_cast<int32_t>((w >> (8 * i)) & 0xFF); };
        const uint32_t millis = db >> 8;  // digits in bytes 0, 1, 2
        return ((byte(pairs, 0) * 60 + byte(pairs, 3)) * 60 + byte(pairs, 6)) * 1000 +
               static_cast<int32_t>(millis & 0xF) * 100 + static_cast<int32_t>((millis >> 8) & 0xF) * 10 +
               static_cast<int32_t>(millis >> 16);
    }
}

/// The time at the start of `s` in the table's form with two or three hour
/// digits ("HH:MM:SS,mmm", or "HHH:MM:SS,mmm" from 100 hours, as
/// AppendTimeStyle0 writes them): its milliseconds, and its length in `len`;
/// -1 when `s` does not start with one.
inline int64_t LeadingTableTimeMs(const char* s, std::size_t size, std::size_t& len) {
    if (size >= 12 && s[2] == ':') {
        len = 12;
        return CanonicalTime12Ms(s);
    }
    if (size >= 13 && s[0] >= '1' && s[0] <= '9') {
        if (const int32_t rest = CanonicalTime12Ms(s + 1); rest >= 0) {
            len = 13;
            return int64_t{s[0] - '0'} * 360000000 + rest;
        }
    }
    return -1;
}

/// Milliseconds of a time in the line table's form with hours of any width,
/// exactly as AppendTimeStyle0 writes them: "HH:MM:SS,mmm" with two hour
/// digits, or three to nine without a leading zero, minutes and seconds below
/// 60. Such a text formats back to itself and reads as TimeToMSecs reads it.
/// -1 for any other text.
int64_t TableTimeMs(std::string_view text);

/// Half-to-even rounding of a double to a whole number, the one rounding rule
/// of every time conversion.
double RoundHalfEven(double value);

}  // namespace lumeval
