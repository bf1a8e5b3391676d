#include "document/editops.h"

#include <algorithm>
#include <utility>

namespace lumeval::doc {

namespace {

constexpr int64_t kInsertedLength = 2000;

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

}  // namespace

std::string JoinTexts(const std::vector<std::string_view>& texts) {
    std::string joined;
    for (std::string_view t : texts) {
        t = TrimSpaces(t);
        if (t.empty()) continue;
        if (!joined.empty()) joined += "\\N";
        joined += t;
    }
    return joined;
}

InsertTimes TimesAfter(int64_t previousEnd, std::optional<int64_t> nextStart) {
    InsertTimes t{previousEnd, previousEnd + kInsertedLength};
    if (nextStart && *nextStart > previousEnd) t.end = std::min(t.end, *nextStart);
    return t;
}

InsertTimes TimesBefore(int64_t nextStart, std::optional<int64_t> previousEnd) {
    InsertTimes t{nextStart - kInsertedLength, nextStart};
    if (previousEnd && *previousEnd < nextStart) t.start = std::max(t.start, *previousEnd);
    t.start = std::max<int64_t>(0, t.start);
    return t;
}

// ---- Typed times ---------------------------------------------------------

namespace {

constexpr int64_t kLargestTypedTime = 999LL * 3600000 + 59 * 60000 + 59 * 1000 + 999;
// Longer than anyone types into a time cell; refusing it up front keeps a
// pasted novel from being scanned digit by digit or quoted back whole.
constexpr std::size_t kLongestTypedTime = 64;
// Field values are saturated here while digits are read, so no width of
// digits can overflow; anything this large is refused as too big anyway.
constexpr int64_t kFieldCeiling = int64_t{1} << 40;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view TrimBlanks(std::string_view text) {
    // The ideographic space a Chinese input method types counts as a blank too.
    constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";
    for (;;) {
        if (!text.empty() && IsBlank(text.front())) {
            text.remove_prefix(1);
        } else if (text.substr(0, 3) == kIdeographicSpace) {
            text.remove_prefix(3);
        } else {
            break;
        }
    }
    for (;;) {
        if (!text.empty() && IsBlank(text.back())) {
            text.remove_suffix(1);
        } else if (text.size() >= 3 && text.substr(text.size() - 3) == kIdeographicSpace) {
            text.remove_suffix(3);
        } else {
            break;
        }
    }
    return text;
}

TypedTime Refused(std::string reason) {
    return TypedTime{std::nullopt, std::move(reason)};
}

TypedTime Unreadable(std::string_view text) {
    return Refused("无法识别的时间：" + std::string(text));
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads a non-empty run of digits, saturating at kFieldCeiling.
std::optional<int64_t> ReadDigits(std::string_view digits) {
    if (digits.empty()) return std::nullopt;
    int64_t value = 0;
    for (char c : digits) {
        if (!IsDigit(c)) return std::nullopt;
        value = std::min(kFieldCeiling, value * 10 + (c - '0'));
    }
    return value;
}

// Milliseconds of a decimal fraction of a second (the digits after the
// point), rounded half to even; 1000 when it rounds up to a whole second.
int64_t FractionMs(std::string_view digits) {
    int64_t ms = 0;
    for (std::size_t i = 0; i < 3; ++i) ms = ms * 10 + (i < digits.size() ? digits[i] - '0' : 0);
    if (digits.size() <= 3) return ms;
    const char next = digits[3];
    const bool moreAfterHalf = digits.find_first_not_of('0', 4) != std::string_view::npos;
    if (next > '5' || (next == '5' && (moreAfterHalf || ms % 2 == 1))) ++ms;
    return ms;
}

}  // namespace

TypedTime ParseTypedTime(std::string_view text) {
    text = TrimBlanks(text);
    if (text.empty()) return Refused("请输入时间");
    if (text.size() > kLongestTypedTime) return Refused("时间太长，无法识别");
    for (char c : text) {
        if (!IsDigit(c) && c != ':' && c != '.' && c != ',') return Unreadable(text);
    }

    // The fraction, if any, belongs to the seconds: the last field.
    std::string_view whole = text;
    std::optional<std::string_view> fraction;
    if (const std::size_t point = text.find_first_of(".,"); point != std::string_view::npos) {
        whole = text.substr(0, point);
        fraction = text.substr(point + 1);
        if (fraction->empty() ||
            fraction->find_first_not_of("0123456789") != std::string_view::npos) {
            return Unreadable(text);
        }
    }

    int64_t fields[3] = {0, 0, 0};
    std::size_t count = 0;
    for (std::size_t from = 0;;) {
        const std::size_t colon = whole.find(':', from);
        const std::string_view field =
            whole.substr(from, colon == std::string_view::npos ? colon : colon - from);
        if (count == 3) return Refused("时间最多三段（时:分:秒）：" + std::string(text));
        const std::optional<int64_t> value = ReadDigits(field);
        if (!value) return Unreadable(text);
        fields[count++] = *value;
        if (colon == std::string_view::npos) break;
        from = colon + 1;
    }
    for (std::size_t i = 1; i < count; ++i) {
        if (fields[i] >= 60) return Refused("分钟和秒必须小于 60");
    }

    // Saturated fields keep this far below overflow: 2^40 * 3600000 < 2^63.
    int64_t ms = 0;
    for (std::size_t i = 0; i < count; ++i) ms = ms * 60 + fields[i] * 1000;
    if (fraction) ms += FractionMs(*fraction);
    if (ms > kLargestTypedTime) return Refused("时间太大，最多 999:59:59.999");
    return TypedTime{ms, {}};
}

// ---- Splitting -----------------------------------------------------------

namespace {

// One code point of a text: where it starts and what it is. A byte that
// does not begin a well-formed UTF-8 sequence is a code point of its own,
// so broken text still splits somewhere sensible and never mid-sequence.
struct CodePoint {
    std::size_t offset;
    char32_t value;  // kBadByte for a stray byte
};
constexpr char32_t kBadByte = 0xFFFFFFFF;

// Length of the well-formed sequence at the start of `s` and its value, or
// 0 when there is none.
std::size_t DecodeOne(std::string_view s, char32_t& value) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = b(0);
    if (lead < 0x80) {
        value = lead;
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (s.size() < length || b(1) < low || b(1) > high) return 0;
    char32_t v = lead & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
        if (i > 1 && (b(i) & 0xC0) != 0x80) return 0;
        v = (v << 6) | (b(i) & 0x3F);
    }
    value = v;
    return length;
}

std::vector<CodePoint> CodePoints(std::string_view text) {
    std::vector<CodePoint> points;
    points.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t value = kBadByte;
        const std::size_t length = DecodeOne(text.substr(i), value);
        points.push_back({i, length ? value : kBadByte});
        i += length ? length : 1;
    }
    return points;
}

std::size_t CountCodePoints(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++count) {
        char32_t value = 0;
        const std::size_t length = DecodeOne(text.substr(i), value);
        i += length ? length : 1;
    }
    return count;
}

bool IsCjk(char32_t c) {
    return (c >= 0x3040 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFF00 && c <= 0xFFEF) || (c >= 0xAC00 && c <= 0xD7AF) ||
           (c >= 0x20000 && c <= 0x2FFFF);
}

bool IsBreakAt(const std::vector<CodePoint>& points, std::size_t i) {
    return i + 1 < points.size() && points[i].value == '\\' && points[i + 1].value == 'N';
}

// Drops spaces and line breaks from the end of `text` (the cut of a first part).
std::string_view TrimCutEnd(std::string_view text) {
    for (;;) {
        if (!text.empty() && text.back() == ' ') {
            text.remove_suffix(1);
        } else if (text.size() >= 2 && text.substr(text.size() - 2) == "\\N") {
            text.remove_suffix(2);
        } else {
            return text;
        }
    }
}

// Drops spaces and line breaks from the start of `text` (the cut of a second part).
std::string_view TrimCutStart(std::string_view text) {
    for (;;) {
        if (!text.empty() && text.front() == ' ') {
            text.remove_prefix(1);
        } else if (text.substr(0, 2) == "\\N") {
            text.remove_prefix(2);
        } else {
            return text;
        }
    }
}

// start + span * part / whole, rounded down, without overflow for any span.
int64_t Proportion(int64_t start, int64_t end, std::size_t part, std::size_t whole) {
    using Wide = unsigned __int128;
    const uint64_t span = static_cast<uint64_t>(end) - static_cast<uint64_t>(start);
    const uint64_t share = static_cast<uint64_t>(Wide{span} * part / whole);
    return static_cast<int64_t>(static_cast<uint64_t>(start) + share);
}

}  // namespace

std::size_t SplitPoint(std::string_view text) {
    const std::vector<CodePoint> points = CodePoints(text);
    const std::size_t n = points.size();

    // Which code points are text rather than spaces or line breaks: a place
    // is inside the text only with some of them on both sides, so neither
    // part of the split comes out empty.
    std::vector<bool> content(n, true);
    for (std::size_t i = 0; i < n; ++i) {
        if (points[i].value == ' ') content[i] = false;
        if (IsBreakAt(points, i)) {
            content[i] = content[i + 1] = false;
            ++i;
        }
    }
    std::size_t firstContent = n, lastContent = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!content[i]) continue;
        firstContent = std::min(firstContent, i);
        lastContent = i;
    }
    if (firstContent == n) return 0;

    // Places are ranked by twice the distance of their centre from the middle
    // (in code points, so every centre is whole), then a line break before a
    // plain boundary (a space never ties with either: its centre is odd),
    // then the earlier one.
    enum Kind { kBreak, kSpace, kBoundary };
    struct Place {
        std::size_t distance;
        Kind kind;
        std::size_t offset;
    };
    std::optional<Place> best;
    const auto consider = [&](std::size_t from, std::size_t to, Kind kind) {
        // The place covers code points [from, to).
        if (from <= firstContent || to > lastContent) return;
        const std::size_t centre = from + to;
        const Place place{centre > n ? centre - n : n - centre, kind, points[from].offset};
        if (!best || place.distance < best->distance ||
            (place.distance == best->distance && place.kind < best->kind)) {
            best = place;
        }
    };
    for (std::size_t i = 0; i < n; ++i) {
        if (IsBreakAt(points, i)) {
            consider(i, i + 2, kBreak);
            ++i;
            continue;
        }
        if (points[i].value == ' ') consider(i, i + 1, kSpace);
        // The boundary before code point i.
        if (i > 0 && (IsCjk(points[i].value) || IsCjk(points[i - 1].value))) {
            consider(i, i, kBoundary);
        }
    }
    return best ? best->offset : 0;
}

SplitParts SplitCue(int64_t start, int64_t end, std::string_view text, std::size_t pos) {
    pos = std::min(pos, text.size());
    const std::vector<CodePoint> points = CodePoints(text);
    // The last code point boundary at or before pos (the end of the text is one).
    std::size_t index = points.size();
    if (pos < text.size()) {
        index = 0;
        while (index + 1 < points.size() && points[index + 1].offset <= pos) ++index;
    }
    // A cursor between the two characters of "\N" cuts before the break.
    if (index > 0 && IsBreakAt(points, index - 1)) --index;
    const std::size_t cut = index < points.size() ? points[index].offset : text.size();

    SplitParts parts;
    parts.first = std::string(TrimCutEnd(text.substr(0, cut)));
    parts.second = std::string(TrimCutStart(text.substr(cut)));
    const std::size_t n1 = CountCodePoints(parts.first);
    const std::size_t n2 = CountCodePoints(parts.second);
    if (end <= start) {
        parts.at = start;
    } else if (n1 + n2 == 0) {
        parts.at = Proportion(start, end, 1, 2);
    } else {
        parts.at = Proportion(start, end, n1, n1 + n2);
    }
    return parts;
}

}  // namespace lumeval::doc
