// Small parsers for the converter's option values.
//
// Header-only and free of CLI11 so the unit tests can use them directly. Each
// returns nullopt for text it does not accept; the caller turns that into a
// usage error.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "engine/timecode.h"

namespace lumeval::cli {

/// A plain decimal number of seconds: optional sign, digits, optional fraction
/// ("-2.5", "10", ".5"). No exponent, hex, "inf" or "nan": a time typed by a
/// person never needs them and a non-finite offset would poison every line.
inline std::optional<double> ParseSeconds(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    bool point = false;
    for (std::size_t k = i; k < text.size(); ++k) {
        const char c = text[k];
        if (c >= '0' && c <= '9') {
            ++digits;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0) return std::nullopt;
    // from_chars takes no leading '+'.
    std::string_view number = text;
    if (number.front() == '+') number.remove_prefix(1);
    double value = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec != std::errc() || end != number.data() + number.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

/// The longest time, in seconds, a subtitle time can hold.
inline constexpr double kMaxTimeSeconds = static_cast<double>(kMaxTimeMs) / 1000;

/// A number of seconds (as ParseSeconds) whose size a subtitle time can hold:
/// a larger one would have to wrap or be cut, so it is refused instead.
inline std::optional<double> ParseTimeSeconds(std::string_view text) {
    const auto value = ParseSeconds(text);
    if (!value || std::fabs(*value) > kMaxTimeSeconds) return std::nullopt;
    return value;
}

/// Why ParseTimeSeconds refused a text; empty when it accepts it.
inline std::string TimeSecondsProblem(std::string_view text) {
    if (!ParseSeconds(text)) return "is not a decimal number";
    if (!ParseTimeSeconds(text)) return "is beyond the longest time a subtitle holds (999999999 hours)";
    return {};
}

/// "START:END" in seconds, START not after END. The split is at the first ':'
/// so "-5:10" reads as -5 to 10.
inline std::optional<std::pair<double, double>> ParseSpan(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto start = ParseTimeSeconds(text.substr(0, colon));
    const auto end = ParseTimeSeconds(text.substr(colon + 1));
    if (!start || !end || *end < *start) return std::nullopt;
    return std::pair{*start, *end};
}

/// A time as a person types it: seconds ("62.5") or a time text
/// ("00:01:02,500", "1:02.5", "01:02:03.25"), at most kMaxTimeSeconds.
inline std::optional<double> ParseTimeText(std::string_view text) {
    if (auto seconds = ParseTimeSeconds(text)) return seconds;
    std::vector<std::string_view> parts;
    std::size_t from = 0;
    for (std::size_t colon = text.find(':'); colon != std::string_view::npos; colon = text.find(':', from)) {
        parts.push_back(text.substr(from, colon - from));
        from = colon + 1;
    }
    parts.push_back(text.substr(from));
    if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
    std::string last(parts.back());
    for (char& c : last)
        if (c == ',') c = '.';
    const auto sec = ParseSeconds(last);
    if (!sec || *sec < 0 || *sec >= 60 || last.front() == '-' || last.front() == '+') return std::nullopt;
    double total = *sec;
    double unit = 60;
    for (std::size_t i = parts.size() - 1; i-- > 0;) {
        const std::string_view p = parts[i];
        if (p.empty() || p.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
        const auto whole = ParseSeconds(p);
        if (!whole || (i + 1 == parts.size() - 1 && parts.size() == 3 && *whole >= 60)) return std::nullopt;
        total += *whole * unit;
        unit *= 60;
    }
    if (total > kMaxTimeSeconds) return std::nullopt;
    return total;
}

/// A retiming t * factor + shift (seconds), as --fps FROM:TO and --sync make.
struct Retime {
    double factor = 1;
    double shift = 0;
};

/// "FROM:TO", two frame rates above 0 and at most 1000: every time is
/// multiplied by FROM / TO. nullopt for anything else.
inline std::optional<Retime> ParseRateChange(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto from = ParseSeconds(text.substr(0, colon));
    const auto to = ParseSeconds(text.substr(colon + 1));
    if (!from || !to || *from <= 0 || *to <= 0 || *from > 1000 || *to > 1000) return std::nullopt;
    return Retime{*from / *to, 0};
}

/// "OLD=NEW", each a time text or seconds.
inline std::optional<std::pair<double, double>> ParseSyncPoint(std::string_view text) {
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    const auto old = ParseTimeText(text.substr(0, eq));
    const auto now = ParseTimeText(text.substr(eq + 1));
    if (!old || !now) return std::nullopt;
    return std::pair{*old, *now};
}

/// The retiming that takes the two OLD times to their NEW ones, every other
/// time moving linearly; or why there is none (the two points at one time,
/// or reversed, which would run the subtitle backwards).
inline std::pair<std::optional<Retime>, std::string> SyncRetime(std::pair<double, double> a,
                                                                std::pair<double, double> b) {
    if (a.first == b.first) return {std::nullopt, "the two --sync points have the same OLD time"};
    if (b.first < a.first) std::swap(a, b);
    if (b.second <= a.second)
        return {std::nullopt, "the two --sync points are reversed or at one NEW time: the later OLD time must get the later NEW time"};
    const double factor = (b.second - a.second) / (b.first - a.first);
    return {Retime{factor, a.second - factor * a.first}, {}};
}

/// Largest colour the subtitle writers take: 0x00BBGGRR, nothing in the top byte.
inline constexpr uint32_t kMaxColour = 0xFFFFFF;

/// A colour in decimal ("255") or hexadecimal with "0x" ("0xFF"), at most
/// kMaxColour.
inline std::optional<uint32_t> ParseColour(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size() || value > kMaxColour) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

/// Colours as the help shows them.
inline std::string FormatColour(uint32_t colour) {
    char buffer[16];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, colour, 16);
    std::string hex(buffer, end);
    for (char& c : hex) {
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    }
    return "0x" + hex;
}

/// A whole number in decimal, returned in canonical form ("007" -> "7",
/// "+3" -> "3", "-0" -> "0"); nullopt for anything else. The option parser
/// would read a leading 0 as octal and "0x" as hex, which nobody typing a
/// width or a code page means.
inline std::optional<std::string> CanonicalDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    const auto first = text.find_first_not_of('0');
    if (first == std::string_view::npos) return std::string("0");
    std::string out = negative ? "-" : "";
    out.append(text.substr(first));
    return out;
}

/// The answer to a choice option given a value it does not know: the names
/// in the order of their numbers, and the numbers' range.
inline std::string ChoiceProblem(std::string_view value, const std::vector<std::string>& names) {
    std::string text = std::string(value) + " is not one of ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += ", ";
        text += names[i];
    }
    text += " (or 0 to " + std::to_string(names.size() - 1) + ")";
    return text;
}

/// Appends an integer in decimal without going through a locale.
inline void AppendInteger(std::string& out, long long value) {
    char buffer[24];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, end);
}

/// One line of event-mode output: start and end in whole milliseconds, the
/// text as the engine gave it ("\N" stays two characters).
inline void AppendEventLine(std::string& out, double startMs, double endMs, std::string_view text) {
    AppendInteger(out, std::llround(startMs));
    out.push_back('\t');
    AppendInteger(out, std::llround(endMs));
    out.push_back('\t');
    out.append(text);
    out.push_back('\n');
}

}  // namespace lumeval::cli
